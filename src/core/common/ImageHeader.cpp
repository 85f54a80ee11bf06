#include "core/common/ImageHeader.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <vector>

namespace image {

namespace {

using Bytes = std::vector<unsigned char>;

uint32_t Be(const unsigned char* p, int n)
{
    uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

uint32_t Le(const unsigned char* p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

bool Png(const Bytes& b, Header& h)
{
    // Signature, then the IHDR chunk: width, height, bit depth, colour type.
    if (b.size() < 26 || std::string(b.begin() + 12, b.begin() + 16) != "IHDR")
        return false;
    h.width = Be(&b[16], 4);
    h.height = Be(&b[20], 4);
    h.bytesPerSample = b[24] > 8 ? 2 : 1;
    switch (b[25]) {
    case 0: h.channels = 1; break;
    case 2: case 3: h.channels = 3; break; // a palette decodes to RGB
    case 4: h.channels = 2; break;
    case 6: h.channels = 4; break;
    default: return false;
    }
    return true;
}

bool Jpeg(std::ifstream& in, Header& h)
{
    // Walk the marker segments to the first start-of-frame.
    in.seekg(2);
    for (int guard = 0; guard < 10000; ++guard) {
        int c = in.get();
        while (c == 0xFF)
            c = in.get();
        if (c == EOF)
            return false;
        const int marker = c;
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length
        unsigned char len[2];
        if (!in.read(reinterpret_cast<char*>(len), 2))
            return false;
        const uint32_t length = Be(len, 2);
        if (length < 2)
            return false;
        const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            unsigned char f[6];
            if (length < 8 || !in.read(reinterpret_cast<char*>(f), 6))
                return false;
            h.bytesPerSample = f[0] > 8 ? 2 : 1;
            h.height = Be(&f[1], 2);
            h.width = Be(&f[3], 2);
            h.channels = f[5];
            return h.channels > 0;
        }
        in.seekg(static_cast<std::streamoff>(length - 2), std::ios::cur);
        if (!in)
            return false;
    }
    return false;
}

bool Bmp(const Bytes& b, Header& h)
{
    if (b.size() < 26)
        return false;
    const uint32_t info = Le(&b[14], 4);
    if (info == 12) { // OS/2 header: 16-bit sizes
        h.width = Le(&b[18], 2);
        h.height = Le(&b[20], 2);
    } else {
        h.width = static_cast<int32_t>(Le(&b[18], 4));
        const int32_t height = static_cast<int32_t>(Le(&b[22], 4));
        h.height = height < 0 ? -static_cast<int64_t>(height) : height; // top-down rows
    }
    h.channels = 3;
    return h.width >= 0;
}

bool Pnm(std::ifstream& in, Header& h, char kind)
{
    in.seekg(2);
    auto number = [&in](int64_t& v) {
        int c = in.get();
        while (c != EOF && (std::isspace(c) || c == '#')) {
            if (c == '#')
                while (c != EOF && c != '\n')
                    c = in.get();
            c = in.get();
        }
        if (c == EOF || !std::isdigit(c))
            return false;
        v = 0;
        for (int digits = 0; c != EOF && std::isdigit(c); c = in.get()) {
            if (++digits > 12)
                return false;
            v = v * 10 + (c - '0');
        }
        return true;
    };
    if (!number(h.width) || !number(h.height))
        return false;
    h.channels = kind == '3' || kind == '6' ? 3 : 1;
    int64_t maxval = 1;
    if (kind != '1' && kind != '4' && !number(maxval))
        return false;
    h.bytesPerSample = maxval > 255 ? 2 : 1;
    return true;
}

bool Tiff(std::ifstream& in, const Bytes& b, Header& h)
{
    if (b.size() < 8)
        return false;
    const bool big = b[0] == 'M';
    auto rd = [big](const unsigned char* p, int n) { return big ? Be(p, n) : Le(p, n); };
    in.seekg(rd(&b[4], 4));
    unsigned char countBytes[2];
    if (!in.read(reinterpret_cast<char*>(countBytes), 2))
        return false;
    const uint32_t entries = rd(countBytes, 2);
    h.channels = 1;
    int bits = 8;
    for (uint32_t i = 0; i < entries; ++i) {
        unsigned char e[12];
        if (!in.read(reinterpret_cast<char*>(e), 12))
            return false;
        const uint32_t tag = rd(e, 2), type = rd(e + 2, 2);
        const uint32_t value = type == 3 ? rd(e + 8, 2) : rd(e + 8, 4);
        if (tag == 256) h.width = value;
        else if (tag == 257) h.height = value;
        else if (tag == 277) h.channels = static_cast<int>(value);
        else if (tag == 258 && rd(e + 4, 4) == 1) bits = static_cast<int>(value);
    }
    h.bytesPerSample = bits > 8 ? (bits + 7) / 8 : 1;
    return h.width > 0 && h.height > 0 && h.channels > 0 && h.channels <= 64;
}

} // namespace

bool ReadHeader(const std::string& path, Header& h, std::string* why)
{
    auto fail = [why](const char* reason) {
        if (why)
            *why = reason;
        return false;
    };
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail("cannot be opened");
    Bytes b(64, 0);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    b.resize(static_cast<size_t>(in.gcount()));
    in.clear();
    h = Header();
    bool ok = false;
    if (b.size() >= 8 && b[0] == 0x89 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G')
        ok = Png(b, h);
    else if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8)
        ok = Jpeg(in, h);
    else if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M')
        ok = Bmp(b, h);
    else if (b.size() >= 4 && ((b[0] == 'I' && b[1] == 'I' && b[2] == 42 && b[3] == 0) ||
                               (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 42)))
        ok = Tiff(in, b, h);
    else if (b.size() >= 2 && b[0] == 'P' && b[1] >= '1' && b[1] <= '6')
        ok = Pnm(in, h, static_cast<char>(b[1]));
    else
        return fail("is no JPEG, PNG, TIFF, BMP or PNM image");
    return ok ? true : fail("has a damaged header");
}

std::string CheckDecodable(const std::string& path)
{
    Header h;
    std::string why;
    if (!ReadHeader(path, h, &why))
        return "the image " + why;
    if (h.width <= 0 || h.height <= 0)
        return "the image has no pixels";
    if (h.width > kMaxSide || h.height > kMaxSide || h.DecodedBytes() > kMaxDecodedBytes) {
        char text[160];
        std::snprintf(text, sizeof text, "the image is too large (%lld x %lld pixels)",
                      static_cast<long long>(h.width), static_cast<long long>(h.height));
        return text;
    }
    return std::string();
}

} // namespace image
