// The layered chunks of LAZ (compressor 3, item versions 3 and 4; point
// formats 6 to 10): each attribute group is an arithmetic stream of its own,
// and every item keeps four scanner-channel contexts, each with its own
// models and reference point.
#include "core/formats/LazLayered.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace laz {

namespace {

const uint8_t kMap6[16][16] = {
    {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5}, {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3}, {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5}};

// One layer's stream; none where the layer is empty (its field keeps the
// reference's value).
struct Layer {
    ArithmeticDecoder ad;
    bool decoded = false;
};

// The POINT14 record as fields.
struct Record14 {
    int32_t x = 0, y = 0, z = 0;
    uint16_t intensity = 0;
    unsigned r = 0, n = 0, classFlags = 0, channel = 0, scanDir = 0, edge = 0;
    uint8_t classification = 0, userData = 0;
    int16_t scanAngle = 0;
    uint16_t pointSource = 0;
    uint64_t gps = 0;
    bool gpsChanged = false;

    void Read(const uint8_t* p)
    {
        x = static_cast<int32_t>(Get32(p));
        y = static_cast<int32_t>(Get32(p + 4));
        z = static_cast<int32_t>(Get32(p + 8));
        intensity = Get16(p + 12);
        r = p[14] & 15;
        n = p[14] >> 4;
        classFlags = p[15] & 15;
        channel = (p[15] >> 4) & 3;
        scanDir = (p[15] >> 6) & 1;
        edge = p[15] >> 7;
        classification = p[16];
        userData = p[17];
        scanAngle = static_cast<int16_t>(Get16(p + 18));
        pointSource = Get16(p + 20);
        gps = Get64(p + 22);
    }
    void Write(uint8_t* p) const
    {
        Put32(p, static_cast<uint32_t>(x));
        Put32(p + 4, static_cast<uint32_t>(y));
        Put32(p + 8, static_cast<uint32_t>(z));
        Put16(p + 12, intensity);
        p[14] = static_cast<uint8_t>(r | (n << 4));
        p[15] = static_cast<uint8_t>(classFlags | (channel << 4) | (scanDir << 6) | (edge << 7));
        p[16] = classification;
        p[17] = userData;
        Put16(p + 18, static_cast<uint16_t>(scanAngle));
        Put16(p + 20, pointSource);
        Put64(p + 22, gps);
    }
};

std::vector<SymbolModel> Models(size_t count, uint32_t symbols) { return std::vector<SymbolModel>(count, SymbolModel(symbols)); }

// ------------------------------------------------------------ POINT14

struct Point14Context {
    Record14 ref;
    std::vector<SymbolModel> changed = Models(8, 128);
    SymbolModel channel{3};
    std::vector<SymbolModel> numRet = Models(16, 16), retNum = Models(16, 16);
    SymbolModel retNumGpsSame{13};
    IntegerCompressor dx{32, 2}, dy{32, 22}, z{32, 20};
    std::vector<std::unique_ptr<SymbolModel>> classes = std::vector<std::unique_ptr<SymbolModel>>(64);
    std::vector<std::unique_ptr<SymbolModel>> flags = std::vector<std::unique_ptr<SymbolModel>>(64);
    std::vector<std::unique_ptr<SymbolModel>> userData = std::vector<std::unique_ptr<SymbolModel>>(64);
    IntegerCompressor intensity{16, 4}, scanAngle{16, 2}, pointSource{16, 1};
    SymbolModel gpsMulti{515}, gps0Diff{5};
    IntegerCompressor gps{32, 9};
    Median5 medX[12], medY[12];
    int32_t lastZ[8] = {};
    uint16_t lastIntensity[8] = {};
    uint64_t time[4] = {};
    int32_t diff[4] = {};
    int extreme[4] = {};
    unsigned seq = 0, next = 0;

    explicit Point14Context(const Record14& p) : ref(p)
    {
        ref.gpsChanged = false;
        std::fill(std::begin(lastZ), std::end(lastZ), p.z);
        std::fill(std::begin(lastIntensity), std::end(lastIntensity), p.intensity);
        time[0] = p.gps;
    }
    static SymbolModel& Lazy(std::vector<std::unique_ptr<SymbolModel>>& models, size_t i, uint32_t symbols)
    {
        if (!models[i])
            models[i].reset(new SymbolModel(symbols));
        return *models[i];
    }
};

class Point14Layered {
public:
    Point14Layered(unsigned version, const uint8_t* raw, Layer* layers) : m_v4(version == 4), m_layers(layers)
    {
        Record14 first;
        first.Read(raw);
        m_cur = first.channel;
        m_contexts[m_cur].reset(new Point14Context(first));
    }
    // The next point into `out`; `exported` is the context the other items use.
    void Decode(uint8_t* out, unsigned& exported)
    {
        ArithmeticDecoder& xy = m_layers[0].ad;
        Point14Context* c = m_contexts[m_cur].get();
        const unsigned lpr = (c->ref.r == 1 ? 1 : 0) + (c->ref.r >= c->ref.n ? 2 : 0) + (c->ref.gpsChanged ? 4 : 0);
        const uint32_t cv = xy.DecodeSymbol(c->changed[lpr]);
        const bool switched = (cv & 64) != 0;
        if (switched) {
            const unsigned d = xy.DecodeSymbol(c->channel);
            const unsigned ch = (m_cur + d + 1) & 3;
            if (!m_contexts[ch])
                m_contexts[ch].reset(new Point14Context(c->ref));
            m_cur = ch;
            m_contexts[ch]->ref.channel = ch;
        }
        exported = m_v4 ? m_cur : (switched ? m_cur : 0);
        Point14Context& X = *m_contexts[m_cur];
        Record14& Q = X.ref;
        const bool gps = (cv & 16) != 0, psc = (cv & 32) != 0, sac = (cv & 8) != 0;
        const unsigned nPrev = Q.n;
        const unsigned n = cv & 4 ? xy.DecodeSymbol(X.numRet[nPrev]) : nPrev;
        Q.n = n;
        const unsigned rPrev = Q.r;
        unsigned r = rPrev;
        switch (cv & 3) {
        case 1: r = (rPrev + 1) & 15; break;
        case 2: r = (rPrev + 15) & 15; break;
        case 3: r = gps ? xy.DecodeSymbol(X.retNum[rPrev]) : (rPrev + xy.DecodeSymbol(X.retNumGpsSame) + 2) & 15; break;
        default: break;
        }
        Q.r = r;
        const unsigned m = kMap6[n][r];
        const unsigned l = std::min(n > r ? n - r : r - n, 7u);
        const unsigned cpr = (r == 1 ? 2 : 0) + (r >= n ? 1 : 0);
        const unsigned i = 2 * m + (gps ? 1 : 0);
        const unsigned single = n == 1 ? 1 : 0;
        const int32_t dx = X.dx.Decompress(xy, X.medX[i].Get(), single);
        Q.x = static_cast<int32_t>(static_cast<uint32_t>(Q.x) + static_cast<uint32_t>(dx));
        X.medX[i].Add(dx);
        unsigned k = X.dx.K();
        const int32_t dy = X.dy.Decompress(xy, X.medY[i].Get(), single + (k < 20 ? k & ~1u : 20));
        Q.y = static_cast<int32_t>(static_cast<uint32_t>(Q.y) + static_cast<uint32_t>(dy));
        X.medY[i].Add(dy);
        if (m_layers[1].decoded) {
            k = (X.dx.K() + X.dy.K()) / 2;
            Q.z = X.z.Decompress(m_layers[1].ad, X.lastZ[l], single + (k < 18 ? k & ~1u : 18));
            X.lastZ[l] = Q.z;
        }
        if (m_layers[2].decoded) {
            const unsigned cc = 2 * (Q.classification & 31) + (cpr == 3 ? 1 : 0);
            Q.classification = static_cast<uint8_t>(m_layers[2].ad.DecodeSymbol(Point14Context::Lazy(X.classes, cc, 256)));
        }
        if (m_layers[3].decoded) {
            const unsigned f = Q.classFlags + 16 * Q.scanDir + 32 * Q.edge;
            const unsigned g = m_layers[3].ad.DecodeSymbol(Point14Context::Lazy(X.flags, f, 64));
            Q.edge = (g >> 5) & 1;
            Q.scanDir = (g >> 4) & 1;
            Q.classFlags = g & 15;
        }
        if (m_layers[4].decoded) {
            const unsigned j = 2 * cpr + (gps ? 1 : 0);
            Q.intensity = static_cast<uint16_t>(X.intensity.Decompress(m_layers[4].ad, X.lastIntensity[j], cpr));
            X.lastIntensity[j] = Q.intensity;
        }
        if (m_layers[5].decoded && sac)
            Q.scanAngle = static_cast<int16_t>(static_cast<uint16_t>(
                X.scanAngle.Decompress(m_layers[5].ad, static_cast<uint16_t>(Q.scanAngle), gps ? 1 : 0)));
        if (m_layers[6].decoded)
            Q.userData = static_cast<uint8_t>(m_layers[6].ad.DecodeSymbol(Point14Context::Lazy(X.userData, Q.userData / 4, 256)));
        if (m_layers[7].decoded && psc)
            Q.pointSource = static_cast<uint16_t>(X.pointSource.Decompress(m_layers[7].ad, Q.pointSource, 0));
        if (m_layers[8].decoded && gps) {
            Time(X, m_layers[8].ad);
            Q.gps = X.time[X.seq];
        }
        Q.Write(out);
        Q.gpsChanged = gps;
    }

private:
    static void Extreme(Point14Context& X, int32_t d)
    {
        if (++X.extreme[X.seq] > 3) {
            X.diff[X.seq] = d;
            X.extreme[X.seq] = 0;
        }
    }
    static void FullCode(Point14Context& X, ArithmeticDecoder& ad)
    {
        X.next = (X.next + 1) & 3;
        const uint32_t hi = static_cast<uint32_t>(X.gps.Decompress(ad, static_cast<int32_t>(X.time[X.seq] >> 32), 8));
        const uint32_t lo = ad.ReadInt();
        X.time[X.next] = (uint64_t(hi) << 32) | lo;
        X.seq = X.next;
        X.diff[X.seq] = 0;
        X.extreme[X.seq] = 0;
    }
    static void Add(Point14Context& X, int32_t d) { X.time[X.seq] += static_cast<uint64_t>(static_cast<int64_t>(d)); }
    static void Time(Point14Context& X, ArithmeticDecoder& ad)
    {
        // Sequence switches decode again; a damaged stream could switch forever.
        for (int round = 0; round < 64; ++round) {
            if (X.diff[X.seq] == 0) {
                const uint32_t s = ad.DecodeSymbol(X.gps0Diff);
                if (s == 0) {
                    const int32_t d = X.gps.Decompress(ad, 0, 0);
                    X.diff[X.seq] = d;
                    Add(X, d);
                    X.extreme[X.seq] = 0;
                } else if (s == 1) {
                    FullCode(X, ad);
                } else {
                    X.seq = (X.seq + s - 1) & 3;
                    continue;
                }
            } else {
                const uint32_t s = ad.DecodeSymbol(X.gpsMulti);
                const uint32_t diff = static_cast<uint32_t>(X.diff[X.seq]);
                if (s == 1) {
                    Add(X, X.gps.Decompress(ad, X.diff[X.seq], 1));
                    X.extreme[X.seq] = 0;
                } else if (s == 0) {
                    const int32_t d = X.gps.Decompress(ad, 0, 7);
                    Extreme(X, d);
                    Add(X, d);
                } else if (s < 10) {
                    Add(X, X.gps.Decompress(ad, static_cast<int32_t>(s * diff), 2));
                } else if (s < 500) {
                    Add(X, X.gps.Decompress(ad, static_cast<int32_t>(s * diff), 3));
                } else if (s == 500) {
                    const int32_t d = X.gps.Decompress(ad, static_cast<int32_t>(500u * diff), 4);
                    Extreme(X, d);
                    Add(X, d);
                } else if (s < 510) {
                    Add(X, X.gps.Decompress(ad, static_cast<int32_t>(static_cast<uint32_t>(500 - static_cast<int32_t>(s)) * diff), 5));
                } else if (s == 510) {
                    const int32_t d = X.gps.Decompress(ad, static_cast<int32_t>(static_cast<uint32_t>(-10) * diff), 6);
                    Extreme(X, d);
                    Add(X, d);
                } else if (s == 511) {
                    FullCode(X, ad);
                } else {
                    X.seq = (X.seq + s - 511) & 3;
                    continue;
                }
            }
            return;
        }
    }

    bool m_v4;
    Layer* m_layers;
    std::unique_ptr<Point14Context> m_contexts[4];
    unsigned m_cur = 0;
};

// ------------------------------------------------------------ the others

// RGB14, RGBNIR14 and BYTE14: four contexts of models and references, the
// reference chosen as the format's versions 3 and 4 choose it.
template <class Context>
class Referenced {
public:
    Referenced(unsigned version, unsigned channel, const uint8_t* raw, size_t size) : m_v4(version == 4), m_size(size)
    {
        m_cur = channel;
        m_contexts[m_cur].reset(new Context(raw, size));
    }
    // The context whose models decode this point and the one whose
    // reference it reads and updates.
    std::pair<Context*, Context*> Select(unsigned c)
    {
        unsigned l = m_cur;
        if (c != m_cur) {
            m_cur = c;
            if (!m_contexts[c]) {
                m_contexts[c].reset(new Context(m_contexts[l]->ref.data(), m_size));
                l = c;
            }
        }
        if (m_v4)
            l = c;
        return {m_contexts[m_cur].get(), m_contexts[l].get()};
    }

private:
    bool m_v4;
    size_t m_size;
    std::unique_ptr<Context> m_contexts[4];
    unsigned m_cur = 0;
};

struct RgbContext {
    std::vector<uint8_t> ref;
    SymbolModel used{128};
    std::vector<SymbolModel> diff = Models(6, 256);
    SymbolModel nirUsed{4};
    std::vector<SymbolModel> nirDiff = Models(2, 256);
    RgbContext(const uint8_t* raw, size_t size) : ref(raw, raw + size) {}
};

class RgbLayered {
public:
    RgbLayered(const Item& item, unsigned channel, const uint8_t* raw, Layer* layers)
        : m_nir(item.type == RgbNir14), m_refs(item.version, channel, raw, item.size), m_layers(layers)
    {
    }
    void Decode(uint8_t* out, unsigned c)
    {
        auto chosen = m_refs.Select(c);
        RgbContext& models = *chosen.first;
        uint8_t* L = chosen.second->ref.data();
        if (m_layers[0].decoded)
            DecodeRgb12V2(m_layers[0].ad, models.used, models.diff.data(), L);
        if (m_nir && m_layers[1].decoded) {
            ArithmeticDecoder& ad = m_layers[1].ad;
            const uint32_t u = ad.DecodeSymbol(models.nirUsed);
            if (u & 1)
                L[6] = static_cast<uint8_t>(ad.DecodeSymbol(models.nirDiff[0]) + L[6]);
            if (u & 2)
                L[7] = static_cast<uint8_t>(ad.DecodeSymbol(models.nirDiff[1]) + L[7]);
        }
        std::memcpy(out, L, m_nir ? 8 : 6);
    }

private:
    bool m_nir;
    Referenced<RgbContext> m_refs;
    Layer* m_layers;
};

struct ByteContext {
    std::vector<uint8_t> ref;
    std::vector<SymbolModel> models;
    ByteContext(const uint8_t* raw, size_t size) : ref(raw, raw + size), models(Models(size, 256)) {}
};

class BytesLayered {
public:
    BytesLayered(const Item& item, unsigned channel, const uint8_t* raw, Layer* layers)
        : m_refs(item.version, channel, raw, item.size), m_layers(layers), m_size(item.size)
    {
    }
    void Decode(uint8_t* out, unsigned c)
    {
        auto chosen = m_refs.Select(c);
        uint8_t* L = chosen.second->ref.data();
        for (size_t i = 0; i < m_size; ++i)
            if (m_layers[i].decoded)
                L[i] = static_cast<uint8_t>(L[i] + m_layers[i].ad.DecodeSymbol(chosen.first->models[i]));
        std::memcpy(out, L, m_size);
    }

private:
    Referenced<ByteContext> m_refs;
    Layer* m_layers;
    size_t m_size;
};

unsigned LayersOf(const Item& item)
{
    switch (item.type) {
    case Point14: return 9;
    case RgbNir14: return 2;
    case Byte14: return item.size;
    default: return 1; // RGB14, WAVEPACKET14
    }
}

} // namespace

unsigned LayerCount(const Layout& layout)
{
    unsigned n = 0;
    for (const Item& item : layout.items)
        n += LayersOf(item);
    return n;
}

std::string CheckLayeredItem(const Item& item)
{
    const bool known = item.version >= 2 && item.version <= 4;
    const bool ok = known && ((item.type == Point14 && item.size == 30) || (item.type == Rgb14 && item.size == 6) ||
                              (item.type == RgbNir14 && item.size == 8) || (item.type == WavePacket14 && item.size == 29) ||
                              (item.type == Byte14 && item.size > 0));
    if (ok)
        return std::string();
    return "the LAZ item of type " + std::to_string(item.type) + " version " + std::to_string(item.version) + " (size " +
           std::to_string(item.size) + ") is not one the layered compressor knows";
}

std::string DecodeLayeredChunk(const Layout& layout, const uint8_t* bytes, size_t size, uint64_t points, uint8_t* out,
                               size_t* consumed)
{
    const size_t record = layout.recordLength;
    if (layout.items.empty() || layout.items[0].type != Point14)
        return "the layered compressor needs POINT14 first";
    const unsigned layerCount = LayerCount(layout);
    const size_t head = record + 4 + 4 * size_t(layerCount);
    if (size < head)
        return "its bytes run out before its layers are listed";
    std::memcpy(out, bytes, record);
    std::vector<Layer> layers(layerCount);
    std::vector<uint64_t> sizes(layerCount);
    uint64_t total = head;
    for (unsigned i = 0; i < layerCount; ++i) {
        sizes[i] = Get32(bytes + record + 4 + 4 * size_t(i));
        total += sizes[i];
    }
    if (total > size)
        return "its layers take " + std::to_string(total) + " bytes of its " + std::to_string(size);
    if (consumed)
        *consumed = static_cast<size_t>(total);
    if (points <= 1)
        return std::string();
    const uint8_t* p = bytes + head;
    for (unsigned i = 0; i < layerCount; ++i) {
        layers[i].decoded = sizes[i] > 0;
        if (layers[i].decoded)
            layers[i].ad.Init(p, p + sizes[i]);
        p += sizes[i];
    }
    if (!layers[0].decoded)
        return "its first layer (returns and X, Y) is empty";

    // The items, each on its layers.
    const unsigned channel = (bytes[15] >> 4) & 3;
    std::unique_ptr<Point14Layered> point;
    std::vector<std::unique_ptr<RgbLayered>> rgbs;
    std::vector<std::unique_ptr<BytesLayered>> extras;
    struct Slot {
        int kind; // 0 point, 1 rgb, 2 bytes, 3 wave packet (kept as the first point's)
        size_t index, at, size;
    };
    std::vector<Slot> slots;
    size_t at = 0;
    unsigned layer = 0;
    for (const Item& item : layout.items) {
        Item v = item;
        if (v.version == 2)
            v.version = 3;
        Layer* own = layers.data() + layer;
        if (item.type == Point14) {
            point.reset(new Point14Layered(v.version, bytes + at, own));
            slots.push_back({0, 0, at, item.size});
        } else if (item.type == Rgb14 || item.type == RgbNir14) {
            rgbs.emplace_back(new RgbLayered(v, channel, bytes + at, own));
            slots.push_back({1, rgbs.size() - 1, at, item.size});
        } else if (item.type == Byte14) {
            extras.emplace_back(new BytesLayered(v, channel, bytes + at, own));
            slots.push_back({2, extras.size() - 1, at, item.size});
        } else {
            slots.push_back({3, 0, at, item.size});
        }
        at += item.size;
        layer += LayersOf(item);
    }
    for (uint64_t i = 1; i < points; ++i) {
        uint8_t* r = out + i * record;
        unsigned context = 0;
        for (const Slot& s : slots) {
            switch (s.kind) {
            case 0: point->Decode(r + s.at, context); break;
            case 1: rgbs[s.index]->Decode(r + s.at, context); break;
            case 2: extras[s.index]->Decode(r + s.at, context); break;
            default: std::memcpy(r + s.at, bytes + s.at, s.size); break;
            }
        }
        // Overruns stick: looked at now and then, and at the end.
        if ((i & 1023) == 0 || i + 1 == points)
            for (const Layer& l : layers)
                if (l.decoded && l.ad.Overrun())
                    return "a layer's bytes run out before its points do (by point " + std::to_string(i + 1) + " of " +
                           std::to_string(points) + ")";
    }
    return std::string();
}

} // namespace laz
