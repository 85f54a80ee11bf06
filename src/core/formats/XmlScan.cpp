#include "core/formats/XmlScan.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace xmlscan {
namespace {

// ---------------------------------------------------------------- base64

struct Base64Table {
    signed char value[256];
    // Each character's six bits already in place for its position in a
    // group of four; a bad character sets the top byte.
    uint32_t shifted[4][256];
    Base64Table()
    {
        std::memset(value, -1, sizeof value);
        const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(letters[i])] = static_cast<signed char>(i);
        for (int position = 0; position < 4; ++position)
            for (int c = 0; c < 256; ++c)
                shifted[position][c] =
                    value[c] < 0 ? 0xFF000000u : static_cast<uint32_t>(value[c]) << (18 - 6 * position);
    }
};
const Base64Table kBase64;

// One group of four characters: the number of bytes it holds (1-3), or -1.
inline int DecodeGroup(const char* p, unsigned char out[3])
{
    const int a = kBase64.value[static_cast<unsigned char>(p[0])];
    const int b = kBase64.value[static_cast<unsigned char>(p[1])];
    if (a < 0 || b < 0)
        return -1;
    out[0] = static_cast<unsigned char>(a << 2 | b >> 4);
    if (p[2] == '=')
        return p[3] == '=' ? 1 : -1;
    const int c = kBase64.value[static_cast<unsigned char>(p[2])];
    if (c < 0)
        return -1;
    out[1] = static_cast<unsigned char>((b & 15) << 4 | c >> 2);
    if (p[3] == '=')
        return 2;
    const int d = kBase64.value[static_cast<unsigned char>(p[3])];
    if (d < 0)
        return -1;
    out[2] = static_cast<unsigned char>((c & 3) << 6 | d);
    return 3;
}


} // namespace

bool Stream::Fetch(uint64_t offset, size_t n, unsigned char* dest) const
{
    if (!base64) {
        if (offset > length || n > length - offset)
            return false;
        std::memcpy(dest, begin + offset, n);
        return true;
    }
    const uint64_t group = offset / 3;
    size_t skip = static_cast<size_t>(offset % 3);
    if (group > length / 4)
        return false;
    const char* p = begin + 4 * group;
    const char* const end = begin + length - length % 4;
    size_t written = 0;
    // Whole groups straight into the destination in the middle.
    if (skip == 0) {
        const size_t groups = std::min<size_t>((n - written) / 3, static_cast<size_t>(end - p) / 4);
        const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
        size_t g = 0;
        for (; g < groups; ++g, u += 4) {
            const uint32_t v = kBase64.shifted[0][u[0]] | kBase64.shifted[1][u[1]] | kBase64.shifted[2][u[2]] |
                               kBase64.shifted[3][u[3]];
            if (v & 0xFF000000u)
                break; // padding or damage: the careful path below
            dest[written] = static_cast<unsigned char>(v >> 16);
            dest[written + 1] = static_cast<unsigned char>(v >> 8);
            dest[written + 2] = static_cast<unsigned char>(v);
            written += 3;
        }
        p += 4 * g;
    }
    while (written < n) {
        if (p >= end)
            return false;
        if (skip == 0 && n - written >= 3) {
            const int a = kBase64.value[static_cast<unsigned char>(p[0])];
            const int b = kBase64.value[static_cast<unsigned char>(p[1])];
            const int c = kBase64.value[static_cast<unsigned char>(p[2])];
            const int d = kBase64.value[static_cast<unsigned char>(p[3])];
            if ((a | b | c | d) >= 0) {
                dest[written] = static_cast<unsigned char>(a << 2 | b >> 4);
                dest[written + 1] = static_cast<unsigned char>((b & 15) << 4 | c >> 2);
                dest[written + 2] = static_cast<unsigned char>((c & 3) << 6 | d);
                written += 3;
                p += 4;
                continue;
            }
        }
        unsigned char bytes[3];
        const int got = DecodeGroup(p, bytes);
        if (got < 0)
            return false;
        for (int i = static_cast<int>(skip); i < got && written < n; ++i)
            dest[written++] = bytes[i];
        if (got < 3 && written < n)
            return false; // padding inside the data asked for
        skip = 0;
        p += 4;
    }
    return true;
}

Stream Stream::After(uint64_t bytes) const
{
    Stream s = *this;
    const uint64_t used = base64 ? (bytes + 2) / 3 * 4 : bytes;
    const size_t skip = static_cast<size_t>(std::min<uint64_t>(used, length));
    s.begin += skip;
    s.length -= skip;
    return s;
}

// ---------------------------------------------------------------- XML

namespace {

std::string DecodeEntities(const char* p, const char* end)
{
    std::string s;
    s.reserve(static_cast<size_t>(end - p));
    while (p < end) {
        if (*p != '&') {
            s += *p++;
            continue;
        }
        const char* semi = static_cast<const char*>(std::memchr(p, ';', static_cast<size_t>(end - p)));
        if (!semi) {
            s += *p++;
            continue;
        }
        const std::string entity(p + 1, semi);
        if (entity == "amp") s += '&';
        else if (entity == "lt") s += '<';
        else if (entity == "gt") s += '>';
        else if (entity == "quot") s += '"';
        else if (entity == "apos") s += '\'';
        else if (entity.size() > 1 && entity[0] == '#') {
            const long code = entity[1] == 'x' ? std::strtol(entity.c_str() + 2, nullptr, 16)
                                               : std::strtol(entity.c_str() + 1, nullptr, 10);
            if (code > 0 && code < 128)
                s += static_cast<char>(code);
            else
                s.append(p, semi + 1);
        } else
            s.append(p, semi + 1);
        p = semi + 1;
    }
    return s;
}


} // namespace

// The next tag at or after `p`; false at the end or on malformed XML.
bool NextTag(const char*& p, const char* end, Tag& tag, std::string* why)
{
    for (;;) {
        p = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(end - p)));
        if (!p)
            return false;
        if (end - p >= 4 && std::memcmp(p, "<!--", 4) == 0) {
            const char* close = std::search(p + 4, end, "-->", "-->" + 3);
            if (close == end)
                return *why = "an XML comment is not closed", false;
            p = close + 3;
            continue;
        }
        if (end - p >= 2 && (p[1] == '?' || p[1] == '!')) {
            const char* close = static_cast<const char*>(std::memchr(p, '>', static_cast<size_t>(end - p)));
            if (!close)
                return *why = "the XML is cut off", false;
            p = close + 1;
            continue;
        }
        break;
    }
    tag = Tag();
    const char* q = p + 1;
    if (q < end && *q == '/')
        tag.closing = true, ++q;
    const char* nameStart = q;
    while (q < end && !IsSpace(*q) && *q != '>' && *q != '/')
        ++q;
    tag.name.assign(nameStart, q);
    for (;;) {
        while (q < end && IsSpace(*q))
            ++q;
        if (q >= end)
            return *why = "the XML is cut off", false;
        if (*q == '>') {
            tag.after = q + 1;
            break;
        }
        if (*q == '/' && q + 1 < end && q[1] == '>') {
            tag.selfClosing = true;
            tag.after = q + 2;
            break;
        }
        const char* keyStart = q;
        while (q < end && *q != '=' && !IsSpace(*q) && *q != '>')
            ++q;
        std::string key(keyStart, q);
        while (q < end && IsSpace(*q))
            ++q;
        if (q >= end || *q != '=')
            return *why = "malformed XML attribute \"" + key.substr(0, 40) + "\"", false;
        ++q;
        while (q < end && IsSpace(*q))
            ++q;
        if (q >= end || (*q != '"' && *q != '\''))
            return *why = "malformed XML attribute \"" + key.substr(0, 40) + "\"", false;
        const char quote = *q++;
        const char* valueEnd = static_cast<const char*>(std::memchr(q, quote, static_cast<size_t>(end - q)));
        if (!valueEnd)
            return *why = "the XML is cut off", false;
        tag.attributes[key] = DecodeEntities(q, valueEnd);
        q = valueEnd + 1;
    }
    p = tag.after;
    return true;
}

bool ParseCount(const std::string* text, uint64_t& value)
{
    value = 0;
    if (!text)
        return true;
    const char* p = text->c_str();
    while (IsSpace(*p))
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(p, &end, 10);
    while (IsSpace(*end))
        ++end;
    if (errno || *end)
        return false;
    value = v;
    return true;
}

} // namespace xmlscan
