#include "E57Writer.h"

#include "core/formats/E57Reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace e57write {

namespace {

struct Stream {
    unsigned width = 0; // 0: 8-byte doubles
    std::vector<uint8_t> bytes;
    unsigned __int128 acc = 0;
    unsigned bits = 0;

    void Put(uint64_t v)
    {
        acc |= static_cast<unsigned __int128>(v) << bits;
        bits += width;
        while (bits >= 8) {
            bytes.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    void PutDouble(double d)
    {
        uint8_t b[8];
        std::memcpy(b, &d, 8);
        bytes.insert(bytes.end(), b, b + 8);
    }
    void Flush()
    {
        if (bits > 0)
            bytes.push_back(static_cast<uint8_t>(acc));
        acc = 0;
        bits = 0;
    }
};

struct FieldSpec {
    std::string xml;
    int64_t minimum = 0;
    unsigned width = 0; // 0: double
};

unsigned WidthOf(int64_t lo, int64_t hi)
{
    unsigned w = 0;
    for (uint64_t s = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo); s; s >>= 1)
        ++w;
    return w;
}

std::string Num(double v)
{
    char b[40];
    std::snprintf(b, sizeof b, "%.17g", v);
    return b;
}

void Put64(std::vector<uint8_t>& out, size_t at, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// One scan's compressed vector section at logical offset `start`.
// `start` indexes `out`; the offsets written are `shift` bytes further on.
std::string Section(const ScanData& s, uint64_t start, uint64_t shift, std::vector<uint8_t>& out, std::string& prototype)
{
    const size_t n = s.coordinates.size() / 3;
    const char* names[3] = {"cartesianX", "cartesianY", "cartesianZ"};
    const char* sphericalNames[3] = {"sphericalRange", "sphericalAzimuth", "sphericalElevation"};
    std::vector<FieldSpec> fields;
    // Each field's values as raw unsigned offsets (or doubles' bits).
    std::vector<std::vector<uint64_t>> raw;
    for (int k = 0; k < 3; ++k) {
        FieldSpec f;
        const char* name = s.spherical ? sphericalNames[k] : names[k];
        std::vector<uint64_t> values(n);
        if (s.scale > 0.0 && !(s.spherical && k > 0)) {
            int64_t lo = INT64_MAX, hi = INT64_MIN;
            std::vector<int64_t> r(n);
            for (size_t i = 0; i < n; ++i) {
                r[i] = std::llround(s.coordinates[3 * i + k] / s.scale);
                lo = std::min(lo, r[i]);
                hi = std::max(hi, r[i]);
            }
            if (n == 0)
                lo = hi = 0;
            f.minimum = lo;
            f.width = std::max(1u, WidthOf(lo, hi));
            for (size_t i = 0; i < n; ++i)
                values[i] = static_cast<uint64_t>(r[i] - lo);
            f.xml = "<" + std::string(name) + " type=\"ScaledInteger\" minimum=\"" + std::to_string(lo) + "\" maximum=\"" +
                    std::to_string(lo + (int64_t(1) << f.width) - 1) + "\" scale=\"" + Num(s.scale) + "\" offset=\"0\"/>";
        } else {
            for (size_t i = 0; i < n; ++i)
                std::memcpy(&values[i], &s.coordinates[3 * i + k], 8);
            f.xml = "<" + std::string(name) + " type=\"Float\" precision=\"double\"/>";
        }
        fields.push_back(f);
        raw.push_back(std::move(values));
    }
    auto integerField = [&](const char* name, int64_t lo, int64_t hi, auto get) {
        FieldSpec f;
        f.minimum = lo;
        f.width = WidthOf(lo, hi);
        f.xml = "<" + std::string(name) + " type=\"Integer\" minimum=\"" + std::to_string(lo) + "\" maximum=\"" +
                std::to_string(hi) + "\"/>";
        std::vector<uint64_t> values(n);
        for (size_t i = 0; i < n; ++i)
            values[i] = static_cast<uint64_t>(get(i) - lo);
        fields.push_back(f);
        raw.push_back(std::move(values));
    };
    if (!s.invalidState.empty())
        integerField(s.spherical ? "sphericalInvalidState" : "cartesianInvalidState", 0, 2,
                     [&](size_t i) { return int64_t(s.invalidState[i]); });
    if (!s.intensity.empty())
        integerField("intensity", 0, 2047, [&](size_t i) { return int64_t(s.intensity[i]); });
    const char* colours[3] = {"colorRed", "colorGreen", "colorBlue"};
    for (int c = 0; c < 3 && !s.rgb.empty(); ++c)
        integerField(colours[c], 0, 255, [&](size_t i) { return int64_t(s.rgb[3 * i + c]); });
    if (!s.row.empty()) {
        const int32_t rows = *std::max_element(s.row.begin(), s.row.end());
        const int32_t columns = *std::max_element(s.column.begin(), s.column.end());
        integerField("rowIndex", 0, std::max(rows, 1), [&](size_t i) { return int64_t(s.row[i]); });
        integerField("columnIndex", 0, std::max(columns, 1), [&](size_t i) { return int64_t(s.column[i]); });
    }
    prototype.clear();
    for (const FieldSpec& f : fields)
        prototype += f.xml;

    // Packets of whole bytes per stream: records in multiples of 8.
    const size_t count = fields.size();
    unsigned bitsPerRecord = 0;
    for (const FieldSpec& f : fields)
        bitsPerRecord += f.width ? f.width : 64;
    size_t perPacket = ((65536 - 16 - 2 * count) * 8 / bitsPerRecord) / 8 * 8;
    if (perPacket == 0)
        return "too many fields for a packet";
    out.resize(start + 32, 0);
    out[start] = 1;
    Put64(out, start + 16, e57::PhysicalOffset(start + shift + 32));
    for (size_t first = 0; first < n; first += perPacket) {
        const size_t last = std::min(n, first + perPacket);
        std::vector<Stream> streams(count);
        for (size_t f = 0; f < count; ++f) {
            streams[f].width = fields[f].width;
            for (size_t i = first; i < last; ++i) {
                if (fields[f].width)
                    streams[f].Put(raw[f][i]);
                else
                    streams[f].bytes.insert(streams[f].bytes.end(), reinterpret_cast<const uint8_t*>(&raw[f][i]),
                                            reinterpret_cast<const uint8_t*>(&raw[f][i]) + 8);
            }
            streams[f].Flush();
        }
        size_t length = 6 + 2 * count;
        for (const Stream& st : streams)
            length += st.bytes.size();
        const size_t padded = (length + 3) / 4 * 4;
        const size_t at = out.size();
        out.resize(at + padded, 0);
        out[at] = 1;
        out[at + 2] = static_cast<uint8_t>((padded - 1) & 0xFF);
        out[at + 3] = static_cast<uint8_t>((padded - 1) >> 8);
        out[at + 4] = static_cast<uint8_t>(count & 0xFF);
        out[at + 5] = static_cast<uint8_t>(count >> 8);
        size_t q = at + 6 + 2 * count;
        for (size_t f = 0; f < count; ++f) {
            out[at + 6 + 2 * f] = static_cast<uint8_t>(streams[f].bytes.size() & 0xFF);
            out[at + 7 + 2 * f] = static_cast<uint8_t>(streams[f].bytes.size() >> 8);
            std::memcpy(out.data() + q, streams[f].bytes.data(), streams[f].bytes.size());
            q += streams[f].bytes.size();
        }
    }
    Put64(out, start + 8, out.size() - start);
    return std::string();
}

} // namespace

std::string Write(const std::string& path, const std::vector<ScanData>& scans, uint64_t gapPages)
{
    // With a gap, page 0 holds the header alone; the pages of the gap are a
    // hole in the file that no reader needs to touch.
    std::vector<uint8_t> logical(gapPages ? 1020 : 48, 0);
    const uint64_t shift = gapPages * 1020;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<e57Root type=\"Structure\" xmlns=\"http://www.astm.org/COMMIT/E57/2010-e57-v1.0\">"
                      "<formatName type=\"String\"><![CDATA[ASTM E57 3D Imaging Data File]]></formatName>"
                      "<guid type=\"String\"><![CDATA[{quarlon-bench-file}]]></guid>"
                      "<versionMajor type=\"Integer\">1</versionMajor><versionMinor type=\"Integer\"/>"
                      "<data3D type=\"Vector\" allowHeterogeneousChildren=\"1\">";
    for (const ScanData& s : scans) {
        while (logical.size() % 4)
            logical.push_back(0);
        const uint64_t start = logical.size();
        std::string prototype;
        const std::string problem = Section(s, start, shift, logical, prototype);
        if (!problem.empty())
            return problem;
        xml += "<vectorChild type=\"Structure\">";
        xml += "<guid type=\"String\"><![CDATA[" + s.guid + "]]></guid>";
        xml += "<name type=\"String\"><![CDATA[" + s.name + "]]></name>";
        xml += "<pose type=\"Structure\"><rotation type=\"Structure\">";
        const char* q[4] = {"w", "x", "y", "z"};
        for (int k = 0; k < 4; ++k)
            xml += "<" + std::string(q[k]) + " type=\"Float\">" + Num(s.rotation[k]) + "</" + q[k] + ">";
        xml += "</rotation><translation type=\"Structure\">";
        for (int k = 0; k < 3; ++k)
            xml += "<" + std::string(q[k + 1]) + " type=\"Float\">" + Num(s.translation[k]) + "</" + q[k + 1] + ">";
        xml += "</translation></pose>";
        if (!s.intensity.empty())
            xml += "<intensityLimits type=\"Structure\"><intensityMinimum type=\"Integer\"/>"
                   "<intensityMaximum type=\"Integer\">2047</intensityMaximum></intensityLimits>";
        xml += "<points type=\"CompressedVector\" fileOffset=\"" + std::to_string(e57::PhysicalOffset(start + shift)) +
               "\" recordCount=\"" + std::to_string(s.declaredRecords ? s.declaredRecords : s.coordinates.size() / 3) + "\">";
        xml += "<prototype type=\"Structure\">" + prototype + "</prototype><codecs type=\"Vector\"/></points>";
        xml += "</vectorChild>";
    }
    xml += "</data3D><images2D type=\"Vector\" allowHeterogeneousChildren=\"1\"/></e57Root>\n";
    while (logical.size() % 4)
        logical.push_back(0);
    const uint64_t xmlAt = logical.size();
    logical.insert(logical.end(), xml.begin(), xml.end());
    const uint64_t pages = (logical.size() + 1019) / 1020;
    logical.resize(pages * 1020, 0);
    std::memcpy(logical.data(), "ASTM-E57", 8);
    logical[8] = 1;
    Put64(logical, 16, (pages + gapPages) * 1024);
    Put64(logical, 24, e57::PhysicalOffset(xmlAt + shift));
    Put64(logical, 32, xml.size());
    Put64(logical, 40, 1024);

    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return "cannot create " + path;
    bool ok = true;
    for (uint64_t p = 0; p < pages && ok; ++p) {
        const uint8_t* payload = logical.data() + p * 1020;
        const uint32_t crc = e57::Crc32c(payload, 1020);
        const uint8_t stored[4] = {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)};
        ok = std::fwrite(payload, 1, 1020, f) == 1020 && std::fwrite(stored, 1, 4, f) == 4;
        if (p == 0 && gapPages)
            ok = ok && fseeko(f, static_cast<off_t>(gapPages * 1024), SEEK_CUR) == 0;
    }
    ok = std::fclose(f) == 0 && ok;
    return ok ? std::string() : "cannot write " + path;
}

} // namespace e57write
