// The points of one E57 scan: its compressed vector section walked packet
// by packet through a bounded window, each field's byte stream decoded on
// a core of its own, records assembled into the cloud's arrays as soon as
// every field has delivered them.
#include "core/formats/CloudData.h"
#include "core/formats/E57Paged.h"
#include "core/common/LargeBuffer.h"
#include "core/common/ProgressSink.h"

#include <vtkIntArray.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <thread>

namespace e57 {

namespace {

enum Role {
    kX, kY, kZ, kCartesianState,
    kRange, kAzimuth, kElevation, kSphericalState,
    kIntensity, kIntensityInvalid,
    kRed, kGreen, kBlue, kColourInvalid,
    kRow, kColumn,
    kRoles, kNone = -1
};

const char* const kRoleNames[kRoles] = {
    "cartesianX", "cartesianY", "cartesianZ", "cartesianInvalidState",
    "sphericalRange", "sphericalAzimuth", "sphericalElevation", "sphericalInvalidState",
    "intensity", "isIntensityInvalid",
    "colorRed", "colorGreen", "colorBlue", "isColorInvalid",
    "rowIndex", "columnIndex"};

constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();
constexpr size_t kSlack = 16; // zero bytes after a stream: whole-word loads
constexpr size_t kWindow = size_t(4) << 20;
constexpr uint64_t kStep = 1u << 18;           // records assembled at a time
constexpr size_t kMaximumPending = size_t(48) << 20; // undecoded stream bytes

struct Field {
    enum Kind { Integer, Scaled, Single, Double, Opaque } kind = Opaque;
    int role = kNone;
    int64_t minimum = 0, maximum = 0;
    unsigned width = 0;
    double scale = 1.0, offset = 0.0;
    bool floatRange = false;
    double floatMinimum = 0.0, floatMaximum = 0.0;

    // The stream: bytes not yet decoded, read from bit `bit` on.
    std::unique_ptr<unsigned char[]> bytes; // `used` bytes and kSlack zeros
    size_t used = 0, capacity = 0;
    uint64_t bit = 0;

    bool Decoded() const { return role != kNone && kind != Opaque; }
    unsigned BitsPerValue() const
    {
        switch (kind) {
        case Integer:
        case Scaled: return width;
        case Single: return 32;
        case Double: return 64;
        default: return 8; // strings: at least their length byte
        }
    }
    uint64_t Available() const
    {
        const unsigned w = BitsPerValue();
        if (w == 0)
            return kNoLimit;
        return (uint64_t(used) * 8 - bit) / w;
    }
    void Append(const unsigned char* p, size_t n)
    {
        // Decoded bytes leave the front once they are many, so that the
        // buffer stays near one step's worth.
        if (bit / 8 > used / 2 && bit >= 8 * 65536) {
            const size_t drop = static_cast<size_t>(bit / 8);
            std::memmove(bytes.get(), bytes.get() + drop, used - drop);
            used -= drop;
            bit -= uint64_t(drop) * 8;
        }
        if (used + n + kSlack > capacity) {
            const size_t grown = std::max(2 * capacity, used + n + kSlack);
            std::unique_ptr<unsigned char[]> larger(new unsigned char[grown]);
            if (used > 0)
                std::memcpy(larger.get(), bytes.get(), used);
            bytes = std::move(larger);
            capacity = grown;
        }
        std::memcpy(bytes.get() + used, p, n);
        std::memset(bytes.get() + used + n, 0, kSlack);
        used += n;
    }
    // Values [first, first + count) of those not yet consumed into `out`;
    // the stream itself is left as it is (threads decode parts of a step).
    void DecodeAt(uint64_t first, size_t count, double* out) const
    {
        const unsigned char* b = bytes.get();
        if (kind == Single || kind == Double) {
            const size_t size = kind == Single ? 4 : 8;
            const unsigned char* p = b + bit / 8 + first * size;
            for (size_t k = 0; k < count; ++k, p += size) {
                if (kind == Single) {
                    float f;
                    std::memcpy(&f, p, 4);
                    out[k] = f;
                } else {
                    std::memcpy(out + k, p, 8);
                }
            }
            return;
        }
        const uint64_t mask = width >= 64 ? ~uint64_t(0) : (uint64_t(1) << width) - 1;
        const uint64_t base = static_cast<uint64_t>(minimum);
        uint64_t at = bit + first * width;
        for (size_t k = 0; k < count; ++k) {
            uint64_t u = 0;
            if (width > 0) {
                const size_t byte = static_cast<size_t>(at >> 3);
                const unsigned shift = static_cast<unsigned>(at & 7);
                uint64_t word;
                std::memcpy(&word, b + byte, 8);
                u = word >> shift;
                if (shift + width > 64)
                    u |= uint64_t(b[byte + 8]) << (64 - shift);
                u &= mask;
                at += width;
            }
            const double v = static_cast<double>(static_cast<int64_t>(base + u));
            out[k] = kind == Scaled ? v * scale + offset : v;
        }
    }
    void Consume(uint64_t count) { bit += count * BitsPerValue(); }
};

bool ParseRange(const e57xml::Node& n, Field& f, std::string& why)
{
    long long lo = std::numeric_limits<long long>::min(), hi = std::numeric_limits<long long>::max();
    const std::string* a = n.Attribute("minimum");
    const std::string* b = n.Attribute("maximum");
    if ((a && !e57xml::ParseInteger(*a, lo)) || (b && !e57xml::ParseInteger(*b, hi))) {
        why = "the field <" + n.name + "> has an unreadable range";
        return false;
    }
    if (hi < lo) {
        why = "the field <" + n.name + "> has its maximum below its minimum";
        return false;
    }
    f.minimum = lo;
    f.maximum = hi;
    const uint64_t span = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
    f.width = 0;
    for (uint64_t s = span; s != 0; s >>= 1)
        ++f.width;
    return true;
}

// The prototype's leaves, depth first: one byte stream each.
bool CollectFields(const e57xml::Node& node, bool top, std::vector<Field>& fields, std::string& why)
{
    for (const auto& child : node.children) {
        const std::string& type = child->Type();
        if (type == "Structure" || type == "Vector") {
            if (!CollectFields(*child, false, fields, why))
                return false;
            continue;
        }
        if (fields.size() >= 4096) {
            why = "the scan's prototype has more fields than this reader accepts";
            return false;
        }
        Field f;
        if (type == "Integer" || type == "ScaledInteger") {
            f.kind = type == "Integer" ? Field::Integer : Field::Scaled;
            if (!ParseRange(*child, f, why))
                return false;
            const std::string* s = child->Attribute("scale");
            const std::string* o = child->Attribute("offset");
            if ((s && !e57xml::ParseFloat(*s, f.scale)) || (o && !e57xml::ParseFloat(*o, f.offset)) ||
                !std::isfinite(f.scale) || !std::isfinite(f.offset)) {
                why = "the field <" + child->name + "> has an unreadable scale or offset";
                return false;
            }
        } else if (type == "Float") {
            const std::string* precision = child->Attribute("precision");
            f.kind = precision && *precision == "single" ? Field::Single : Field::Double;
            const std::string* a = child->Attribute("minimum");
            const std::string* b = child->Attribute("maximum");
            f.floatRange = a && b && e57xml::ParseFloat(*a, f.floatMinimum) && e57xml::ParseFloat(*b, f.floatMaximum);
        }
        if (top && !child->IsExtension())
            for (int r = 0; r < kRoles; ++r)
                if (child->name == kRoleNames[r])
                    f.role = r;
        fields.push_back(std::move(f));
    }
    return true;
}

// The range a quantity is mapped to 0..1 through: the limits element, else
// the field's own range; false when neither gives one.
bool LimitsOf(const e57xml::Node* limits, const char* low, const char* high, const Field* field, double range[2])
{
    if (limits) {
        const e57xml::Node* a = limits->Child(low);
        const e57xml::Node* b = limits->Child(high);
        double lo = 0.0, hi = 0.0;
        if (a && b && e57xml::NumericValue(*a, lo) && e57xml::NumericValue(*b, hi) && hi > lo) {
            range[0] = lo;
            range[1] = hi;
            return true;
        }
    }
    if (!field)
        return false;
    double lo = 0.0, hi = 0.0;
    if (field->kind == Field::Integer || field->kind == Field::Scaled) {
        lo = static_cast<double>(field->minimum);
        hi = static_cast<double>(field->maximum);
        if (field->kind == Field::Scaled) {
            lo = lo * field->scale + field->offset;
            hi = hi * field->scale + field->offset;
            if (hi < lo)
                std::swap(lo, hi);
        }
    } else if (field->floatRange) {
        lo = field->floatMinimum;
        hi = field->floatMaximum;
    }
    if (!(hi > lo) || !std::isfinite(hi - lo))
        return false;
    range[0] = lo;
    range[1] = hi;
    return true;
}

// 0 valid, 1 direction only, 2 nothing: the integer part, anything else
// counts as nothing.
int StateOf(double v)
{
    const double t = std::trunc(v);
    return t == 0.0 ? 0 : t == 1.0 ? 1 : 2;
}

struct Output {
    double* points = nullptr;
    unsigned char* rgb = nullptr;
    float* intensity = nullptr;
    int* row = nullptr;
    int* column = nullptr;
    size_t count = 0;
    double intensityLow = std::numeric_limits<double>::infinity();
    double intensityHigh = -std::numeric_limits<double>::infinity();

    ~Output()
    {
        std::free(points);
        std::free(rgb);
        std::free(intensity);
        std::free(row);
        std::free(column);
    }
};

class ScanDecoder {
public:
    ScanDecoder(const Scan& scan, std::vector<Field>& fields) : m_scan(scan), m_fields(fields)
    {
        for (int r = 0; r < kRoles; ++r)
            m_role[r] = nullptr;
        for (Field& f : m_fields)
            if (f.Decoded())
                m_role[f.role] = &f;
        const double w = scan.rotation[0], x = scan.rotation[1], y = scan.rotation[2], z = scan.rotation[3];
        const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
                             2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                             2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
        std::copy(r, r + 9, m_rotation);
        m_identity = w == 1.0 && scan.translation[0] == 0.0 && scan.translation[1] == 0.0 && scan.translation[2] == 0.0;
    }

    const Field* Get(int role) const { return m_role[role]; }
    bool Cartesian() const { return m_role[kX] && m_role[kY] && m_role[kZ]; }
    bool Spherical() const { return m_role[kRange] && m_role[kAzimuth] && m_role[kElevation]; }
    bool Colour() const { return m_role[kRed] && m_role[kGreen] && m_role[kBlue]; }
    bool RowColumn() const { return m_role[kRow] && m_role[kColumn]; }

    double colourRange[3][2] = {{0, 255}, {0, 255}, {0, 255}};
    // Intensities go to 0..1 as they are assembled when their range is
    // known beforehand; otherwise they stay raw until the data's own range is.
    bool intensityKnown = false;
    double intensityRange[2] = {0.0, 1.0};

    // Decodes `count` records and assembles those with a position into
    // `out`: on every core, each a part of the records, in blocks small
    // enough that their values stay in the cache between decoding and use.
    void Step(size_t count, Output& out)
    {
        Prepare();
        const size_t cores = std::max(1u, std::thread::hardware_concurrency());
        const size_t parts = count < 65536 ? 1 : cores;
        std::vector<size_t> starts(parts + 1, 0);
        auto range = [count, parts](size_t t) { return std::make_pair(count * t / parts, count * (t + 1) / parts); };
        // Where each part's points go: counted first unless every point counts.
        const bool all = !m_role[kCartesianState] && !m_role[kSphericalState];
        Parallel(parts, [&](size_t t) {
            const auto r = range(t);
            if (all || parts == 1) {
                starts[t + 1] = r.second - r.first;
                return;
            }
            Block block;
            size_t placed = 0;
            for (size_t k = r.first; k < r.second; k += kBlock) {
                const size_t n = std::min(kBlock, r.second - k);
                Load(block, k, n, true);
                for (size_t i = 0; i < n; ++i)
                    placed += Placed(block, i) ? 1 : 0;
            }
            starts[t + 1] = placed;
        });
        for (size_t t = 0; t < parts; ++t)
            starts[t + 1] += starts[t];
        std::vector<double> lows(parts, out.intensityLow), highs(parts, out.intensityHigh);
        std::vector<size_t> written(parts, 0);
        Parallel(parts, [&](size_t t) {
            const auto r = range(t);
            Block block;
            size_t at = out.count + starts[t];
            for (size_t k = r.first; k < r.second; k += kBlock) {
                const size_t n = std::min(kBlock, r.second - k);
                Load(block, k, n, false);
                at += Assemble(block, n, at, out, lows[t], highs[t]);
            }
            written[t] = at - (out.count + starts[t]);
        });
        // A part writes its points contiguously from where the count put it:
        // the last part's end is the new count.
        out.count += starts[parts - 1] + written[parts - 1];
        for (size_t t = 0; t < parts; ++t) {
            out.intensityLow = std::min(out.intensityLow, lows[t]);
            out.intensityHigh = std::max(out.intensityHigh, highs[t]);
        }
        for (Field& f : m_fields)
            if (f.Decoded())
                f.Consume(count);
    }

private:
    static constexpr size_t kBlock = 1024;
    struct Block {
        double values[kRoles][kBlock];
    };

    template <class Work>
    static void Parallel(size_t threads, Work work)
    {
        if (threads <= 1) {
            work(0);
            return;
        }
        std::vector<std::thread> pool;
        for (size_t t = 1; t < threads; ++t)
            pool.emplace_back(work, t);
        work(0);
        for (std::thread& th : pool)
            th.join();
    }

    // Values of records [first, first + n) of the step for every role
    // (only the invalid states when `states`).
    void Load(Block& block, size_t first, size_t n, bool states) const
    {
        for (int r = 0; r < kRoles; ++r)
            if (m_role[r] && (!states || r == kCartesianState || r == kSphericalState))
                m_role[r]->DecodeAt(first, n, block.values[r]);
    }

    void Prepare()
    {
        for (int i = 0; i < 3; ++i)
            m_colourFactor[i] = 255.0 / (colourRange[i][1] - colourRange[i][0]);
        m_intensityFactor = intensityKnown ? 1.0 / (intensityRange[1] - intensityRange[0]) : 1.0;
    }

    bool Placed(const Block& b, size_t k) const
    {
        if (Cartesian() && (!m_role[kCartesianState] || StateOf(b.values[kCartesianState][k]) == 0))
            return true;
        return Spherical() && (!m_role[kSphericalState] || StateOf(b.values[kSphericalState][k]) == 0);
    }

    // The block's `count` records with a position into `out` from `at` on;
    // how many.
    size_t Assemble(const Block& b, size_t count, size_t at, Output& out, double& low, double& high) const
    {
        const bool cartesian = Cartesian(), spherical = Spherical();
        const size_t first = at;
        auto Value = [&b](int role, size_t k) { return b.values[role][k]; };
        for (size_t k = 0; k < count; ++k) {
            double p[3];
            if (cartesian && (!m_role[kCartesianState] || StateOf(Value(kCartesianState, k)) == 0)) {
                p[0] = Value(kX, k);
                p[1] = Value(kY, k);
                p[2] = Value(kZ, k);
            } else if (spherical && (!m_role[kSphericalState] || StateOf(Value(kSphericalState, k)) == 0)) {
                const double r = Value(kRange, k), a = Value(kAzimuth, k), e = Value(kElevation, k);
                p[0] = r * std::cos(e) * std::cos(a);
                p[1] = r * std::cos(e) * std::sin(a);
                p[2] = r * std::sin(e);
            } else {
                continue;
            }
            double* q = out.points + 3 * at;
            if (m_identity) {
                q[0] = p[0];
                q[1] = p[1];
                q[2] = p[2];
            } else {
                for (int i = 0; i < 3; ++i)
                    q[i] = m_rotation[3 * i] * p[0] + m_rotation[3 * i + 1] * p[1] + m_rotation[3 * i + 2] * p[2] +
                           m_scan.translation[i];
            }
            if (out.intensity) {
                const bool invalid = m_role[kIntensityInvalid] && StateOf(Value(kIntensityInvalid, k)) != 0;
                const double v = Value(kIntensity, k);
                if (invalid || !std::isfinite(v)) {
                    out.intensity[at] = intensityKnown ? 0.0f : std::numeric_limits<float>::quiet_NaN();
                } else if (intensityKnown) {
                    const double lo = intensityRange[0], hi = intensityRange[1];
                    out.intensity[at] = static_cast<float>((std::min(std::max(v, lo), hi) - lo) * m_intensityFactor);
                } else {
                    out.intensity[at] = static_cast<float>(v);
                    low = std::min(low, v);
                    high = std::max(high, v);
                }
            }
            if (out.rgb) {
                unsigned char* c = out.rgb + 3 * at;
                const bool invalid = m_role[kColourInvalid] && StateOf(Value(kColourInvalid, k)) != 0;
                for (int i = 0; i < 3; ++i) {
                    const double v = Value(kRed + i, k), lo = colourRange[i][0], hi = colourRange[i][1];
                    const double n = invalid || !std::isfinite(v) ? 0.0 : (std::min(std::max(v, lo), hi) - lo) * m_colourFactor[i];
                    c[i] = static_cast<unsigned char>(n + 0.5);
                }
            }
            if (out.row) {
                const double r = Value(kRow, k), c = Value(kColumn, k);
                out.row[at] = std::fabs(r) < 2e9 ? static_cast<int>(r) : -1;
                out.column[at] = std::fabs(c) < 2e9 ? static_cast<int>(c) : -1;
            }
            ++at;
        }
        return at - first;
    }

    double m_colourFactor[3] = {1.0, 1.0, 1.0};
    double m_intensityFactor = 1.0;
    const Scan& m_scan;
    std::vector<Field>& m_fields;
    Field* m_role[kRoles];
    double m_rotation[9];
    bool m_identity = true;
};

template <class T>
T* Take(uint64_t n)
{
    return static_cast<T*>(largebuf::Allocate(static_cast<size_t>(std::max<uint64_t>(n, 1)) * sizeof(T)));
}

} // namespace

} // namespace e57

namespace foreign {

Result ReadE57Scan(const std::string& path, size_t index, Model& out, IProgressSink* sink, std::string* why)
{
    using namespace e57;
    auto fail = [why](const std::string& reason) { return Failed(why, reason); };
    PagedFile file;
    std::string problem = file.Open(path);
    if (!problem.empty())
        return fail(problem);
    std::unique_ptr<e57xml::Node> root;
    problem = ParseXml(file, root);
    if (!problem.empty())
        return fail(problem);
    const std::vector<const e57xml::Node*> nodes = ScanNodes(*root);
    if (index >= nodes.size())
        return fail(nodes.empty() ? "the file holds no scans" : "the file has no scan " + std::to_string(index + 1));
    const e57xml::Node& node = *nodes[index];
    const Scan scan = DescribeScan(node, index);
    const e57xml::Node* points = node.Child("points");
    if (!points || points->Type() != "CompressedVector")
        return fail("the scan has no points");
    if (scan.records == 0)
        return fail("the scan holds no points");
    const e57xml::Node* prototype = points->Child("prototype");
    std::vector<Field> fields;
    if (!prototype || !CollectFields(*prototype, true, fields, problem))
        return fail(problem.empty() ? "the scan's points have no prototype" : problem);
    ScanDecoder decoder(scan, fields);
    if (!decoder.Cartesian() && !decoder.Spherical())
        return fail("the scan's points have neither cartesian nor spherical coordinates");

    // The section and what its size can hold.
    const std::string* at = points->Attribute("fileOffset");
    long long offset = 0;
    if (!at || !e57xml::ParseInteger(*at, offset) || offset < 0 || offset % 1024 >= 1020)
        return fail("the scan's points have no valid section offset");
    const uint64_t start = LogicalOffset(static_cast<uint64_t>(offset));
    unsigned char head[32];
    problem = file.ReadLogical(start, sizeof head, head);
    if (!problem.empty())
        return fail(problem);
    const uint64_t sectionLength = Le64(head + 8);
    if (head[0] != 1 || sectionLength < 32 || sectionLength > file.LogicalSize() - start)
        return fail("the section of the scan's points is damaged (its header at byte " + std::to_string(offset) + ")");
    const uint64_t end = start + sectionLength;
    const uint64_t dataAt = Le64(head + 16);
    if (dataAt % 1024 >= 1020 || LogicalOffset(dataAt) < start + 32 || LogicalOffset(dataAt) >= end)
        return fail("the section of the scan's points names its data outside itself");
    uint64_t bitsPerRecord = 0;
    for (const Field& f : fields)
        bitsPerRecord += f.BitsPerValue();
    uint64_t records = scan.records;
    if (bitsPerRecord > 0)
        records = std::min(records, (sectionLength * 8) / bitsPerRecord + 1);
    else if (records > (uint64_t(1) << 26))
        return fail("the scan declares " + std::to_string(records) + " points that hold no data");
    if (records > static_cast<uint64_t>(VTK_ID_MAX / 3))
        return fail("the scan declares more points than this program can hold");

    // Colour and intensity ranges, and the arrays.
    const e57xml::Node* colourLimits = node.Child("colorLimits");
    const char* const lows[3] = {"colorRedMinimum", "colorGreenMinimum", "colorBlueMinimum"};
    const char* const highs[3] = {"colorRedMaximum", "colorGreenMaximum", "colorBlueMaximum"};
    for (int i = 0; decoder.Colour() && i < 3; ++i) {
        const Field* f = decoder.Get(kRed + i);
        if (!LimitsOf(colourLimits, lows[i], highs[i], f, decoder.colourRange[i])) {
            decoder.colourRange[i][0] = 0.0;
            decoder.colourRange[i][1] = f->kind == Field::Single || f->kind == Field::Double ? 1.0 : 255.0;
        }
    }
    decoder.intensityKnown = decoder.Get(kIntensity) && LimitsOf(node.Child("intensityLimits"), "intensityMinimum",
                                                                   "intensityMaximum", decoder.Get(kIntensity),
                                                                   decoder.intensityRange);
    Output o;
    o.points = Take<double>(3 * records);
    bool memory = o.points != nullptr;
    if (decoder.Colour())
        memory = memory && (o.rgb = Take<unsigned char>(3 * records)) != nullptr;
    if (decoder.Get(kIntensity))
        memory = memory && (o.intensity = Take<float>(records)) != nullptr;
    if (decoder.RowColumn()) {
        memory = memory && (o.row = Take<int>(records)) != nullptr;
        memory = memory && (o.column = Take<int>(records)) != nullptr;
    }
    if (!memory)
        return fail("not enough memory for " + std::to_string(records) + " points");

    // The packets, through a window; records assembled once every field has them.
    std::vector<unsigned char> window;
    uint64_t windowStart = 0, windowLength = 0;
    uint64_t pos = LogicalOffset(dataAt), done = 0;
    const size_t streams = fields.size();
    std::string truncated;
    auto ready = [&] {
        uint64_t n = records - done;
        for (const Field& f : fields)
            if (f.Decoded())
                n = std::min(n, f.Available());
        return n;
    };
    auto assemble = [&](uint64_t atLeast) {
        for (uint64_t n = ready(); n >= atLeast && n > 0; n = ready()) {
            const uint64_t step = std::min(n, kStep);
            decoder.Step(static_cast<size_t>(step), o);
            done += step;
            if (ProgressCheckpoint(sink, static_cast<double>(done), static_cast<double>(records)))
                return false;
        }
        return true;
    };
    while (done < records && pos < end) {
        if (pos + 4 > windowStart + windowLength || pos < windowStart) {
            windowStart = pos;
            windowLength = std::min<uint64_t>(kWindow, end - pos);
            window.resize(static_cast<size_t>(windowLength));
            problem = file.ReadLogical(windowStart, window.size(), window.data());
            if (!problem.empty())
                return fail(problem);
        }
        const unsigned char* p = window.data() + (pos - windowStart);
        const unsigned type = p[0];
        const uint64_t length = uint64_t(Le16(p + 2)) + 1;
        if (length < 4 || pos + length > end) {
            truncated = "a packet runs past the end of its section";
            break;
        }
        if (pos + length > windowStart + windowLength) {
            windowLength = 0; // read again from this packet on
            continue;
        }
        if (type == 1) {
            const size_t count = Le16(p + 4);
            if (count != streams) {
                truncated = "a packet holds " + std::to_string(count) + " byte streams where the scan has " +
                            std::to_string(streams) + " fields";
                break;
            }
            uint64_t total = 6 + 2 * uint64_t(count);
            for (size_t i = 0; i < count && total <= length; ++i)
                total += Le16(p + 6 + 2 * i);
            if (total > length) {
                truncated = "a packet's byte streams are longer than the packet";
                break;
            }
            const unsigned char* data = p + 6 + 2 * count;
            size_t pending = 0;
            for (size_t i = 0; i < count; ++i) {
                const size_t n = Le16(p + 6 + 2 * i);
                if (fields[i].Decoded() && n > 0)
                    fields[i].Append(data, n);
                pending += fields[i].used;
                data += n;
            }
            if (pending > kMaximumPending)
                return fail("the fields of the scan's points are out of step (a field's data runs far ahead of another's)");
        } else if (type != 0 && type != 2) {
            truncated = "a packet of unknown type " + std::to_string(type);
            break;
        }
        pos += length;
        if (!assemble(kStep))
            return Result::Aborted;
    }
    if (!assemble(1))
        return Result::Aborted;
    if (done < scan.records) {
        if (truncated.empty())
            truncated = "the section ends";
        out.warning = truncated + " after " + std::to_string(done) + " of the " + std::to_string(scan.records) +
                      " points the scan declares; the complete ones are kept";
    }
    if (o.count == 0)
        return fail(done == 0 ? "no point of the scan could be read: " + truncated
                              : "no point of the scan has a valid position");

    // Intensities without limits go to 0..1 through the values' own range.
    if (o.intensity && !decoder.intensityKnown) {
        const double lo = o.intensityLow, width = o.intensityHigh - o.intensityLow;
        for (size_t i = 0; i < o.count; ++i) {
            const double v = o.intensity[i];
            o.intensity[i] = std::isnan(v) ? 0.0f
                             : width > 0.0 ? static_cast<float>((std::min(std::max(v, lo), lo + width) - lo) / width)
                                           : 1.0f;
        }
    }
    double centre[3];
    if (!clouddata::BoundsCentre(o.points, o.count, centre, true))
        return fail("the coordinates are not finite numbers");
    clouddata::Subtract(o.points, o.count, centre);
    clouddata::Arrays arrays;
    arrays.points = o.points;
    arrays.rgb = o.rgb;
    arrays.intensity = o.intensity;
    o.points = nullptr;
    o.rgb = nullptr;
    o.intensity = nullptr;
    vtkSmartPointer<vtkPolyData> data = clouddata::Adopt(o.count, arrays);
    if (!data)
        return fail("not enough memory for " + std::to_string(o.count) + " points");
    if (o.row) {
        const char* names[2] = {"Row", "Column"};
        int* arraysOf[2] = {o.row, o.column};
        o.row = o.column = nullptr;
        for (int i = 0; i < 2; ++i) {
            vtkNew<vtkIntArray> a;
            a->SetName(names[i]);
            a->SetArray(arraysOf[i], static_cast<vtkIdType>(o.count), 0, vtkIntArray::VTK_DATA_ARRAY_FREE);
            data->GetPointData()->AddArray(a);
        }
    }
    if (!clouddata::AddVertexCells(data))
        return fail("not enough memory for the vertex cells");
    for (int k = 0; k < 3; ++k)
        out.offset[k] = centre[k];
    out.data = data;
    return Result::Ok;
}

} // namespace foreign
