#include "core/formats/LazItems.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace laz {

namespace {

// Symbol models made when first used, fresh as the format wants them.
class LazyModels {
public:
    LazyModels(size_t count, uint32_t symbols) : m_models(count), m_symbols(symbols) {}
    SymbolModel& operator[](size_t i)
    {
        if (!m_models[i])
            m_models[i].reset(new SymbolModel(m_symbols));
        return *m_models[i];
    }

private:
    std::vector<std::unique_ptr<SymbolModel>> m_models;
    uint32_t m_symbols;
};

const uint8_t kMap8[8][8] = {
    {15, 14, 13, 12, 11, 10, 9, 8}, {14, 0, 1, 3, 6, 10, 10, 9}, {13, 1, 2, 4, 7, 11, 11, 10},
    {12, 3, 4, 5, 8, 12, 12, 11},   {11, 6, 7, 8, 9, 13, 13, 12}, {10, 10, 11, 12, 13, 14, 14, 13},
    {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15}};

// ------------------------------------------------------------ POINT10

class Point10V1 : public PointwiseItem {
public:
    void Init(const uint8_t* raw) override { std::memcpy(m_last, raw, 20); }
    void Decode(ArithmeticDecoder& ad, uint8_t* out) override
    {
        const int32_t mx = Median3(m_histX), my = Median3(m_histY);
        const int32_t dx = m_dx.Decompress(ad, mx, 0);
        Put32(m_last, Get32(m_last) + static_cast<uint32_t>(dx));
        const unsigned kx = m_dx.K();
        const int32_t dy = m_dy.Decompress(ad, my, std::min(kx, 19u));
        Put32(m_last + 4, Get32(m_last + 4) + static_cast<uint32_t>(dy));
        const unsigned kz = (kx + m_dy.K()) / 2;
        Put32(m_last + 8, static_cast<uint32_t>(m_z.Decompress(ad, static_cast<int32_t>(Get32(m_last + 8)), std::min(kz, 19u))));
        const uint32_t changed = ad.DecodeSymbol(m_changed);
        if (changed & 32)
            Put16(m_last + 12, static_cast<uint32_t>(m_intensity.Decompress(ad, Get16(m_last + 12), 0)));
        if (changed & 16)
            m_last[14] = static_cast<uint8_t>(ad.DecodeSymbol(m_bitByte[m_last[14]]));
        if (changed & 8)
            m_last[15] = static_cast<uint8_t>(ad.DecodeSymbol(m_class[m_last[15]]));
        if (changed & 4)
            m_last[16] = static_cast<uint8_t>(m_scanAngle.Decompress(ad, m_last[16], kz < 3 ? 1 : 0));
        if (changed & 2)
            m_last[17] = static_cast<uint8_t>(ad.DecodeSymbol(m_userData[m_last[17]]));
        if (changed & 1)
            Put16(m_last + 18, static_cast<uint32_t>(m_pointSource.Decompress(ad, Get16(m_last + 18), 0)));
        m_histX[m_index] = dx;
        m_histY[m_index] = dy;
        m_index = (m_index + 1) % 3;
        std::memcpy(out, m_last, 20);
    }

private:
    static int32_t Median3(const int32_t* h)
    {
        return std::max(std::min(h[0], h[1]), std::min(std::max(h[0], h[1]), h[2]));
    }
    uint8_t m_last[20] = {};
    int32_t m_histX[3] = {0, 0, 0}, m_histY[3] = {0, 0, 0};
    int m_index = 0;
    IntegerCompressor m_dx{32, 1}, m_dy{32, 20}, m_z{32, 20}, m_intensity{16, 1}, m_scanAngle{8, 2},
        m_pointSource{16, 1};
    SymbolModel m_changed{64};
    LazyModels m_bitByte{256, 256}, m_class{256, 256}, m_userData{256, 256};
};

class Point10V2 : public PointwiseItem {
public:
    void Init(const uint8_t* raw) override
    {
        std::memcpy(m_last, raw, 20);
        Put16(m_last + 12, 0);
    }
    void Decode(ArithmeticDecoder& ad, uint8_t* out) override
    {
        const uint32_t changed = ad.DecodeSymbol(m_changed);
        unsigned r, n, m, l;
        auto returns = [&] {
            r = m_last[14] & 7;
            n = (m_last[14] >> 3) & 7;
            m = kMap8[n][r];
            l = n > r ? n - r : r - n;
        };
        if (changed != 0) {
            if (changed & 32)
                m_last[14] = static_cast<uint8_t>(ad.DecodeSymbol(m_bitByte[m_last[14]]));
            returns();
            if (changed & 16) {
                const int32_t v = m_intensity.Decompress(ad, m_lastIntensity[m], std::min(m, 3u));
                Put16(m_last + 12, static_cast<uint32_t>(v));
                m_lastIntensity[m] = static_cast<uint16_t>(v);
            } else {
                Put16(m_last + 12, m_lastIntensity[m]);
            }
            if (changed & 8)
                m_last[15] = static_cast<uint8_t>(ad.DecodeSymbol(m_class[m_last[15]]));
            if (changed & 4) {
                const unsigned f = (m_last[14] >> 6) & 1;
                m_last[16] = static_cast<uint8_t>(ad.DecodeSymbol(m_scanAngle[f]) + m_last[16]);
            }
            if (changed & 2)
                m_last[17] = static_cast<uint8_t>(ad.DecodeSymbol(m_userData[m_last[17]]));
            if (changed & 1)
                Put16(m_last + 18, static_cast<uint32_t>(m_pointSource.Decompress(ad, Get16(m_last + 18), 0)));
        } else {
            returns();
        }
        const unsigned single = n == 1 ? 1 : 0;
        const int32_t dx = m_dx.Decompress(ad, m_medX[m].Get(), single);
        Put32(m_last, Get32(m_last) + static_cast<uint32_t>(dx));
        m_medX[m].Add(dx);
        unsigned k = m_dx.K();
        const int32_t dy = m_dy.Decompress(ad, m_medY[m].Get(), single + (k < 20 ? k & ~1u : 20));
        Put32(m_last + 4, Get32(m_last + 4) + static_cast<uint32_t>(dy));
        m_medY[m].Add(dy);
        k = (m_dx.K() + m_dy.K()) / 2;
        const int32_t z = m_z.Decompress(ad, m_lastHeight[l], single + (k < 18 ? k & ~1u : 18));
        Put32(m_last + 8, static_cast<uint32_t>(z));
        m_lastHeight[l] = z;
        std::memcpy(out, m_last, 20);
    }

private:
    uint8_t m_last[20] = {};
    uint16_t m_lastIntensity[16] = {};
    Median5 m_medX[16], m_medY[16];
    int32_t m_lastHeight[8] = {};
    SymbolModel m_changed{64};
    IntegerCompressor m_intensity{16, 4};
    SymbolModel m_scanAngle[2] = {SymbolModel(256), SymbolModel(256)};
    IntegerCompressor m_pointSource{16, 1};
    LazyModels m_bitByte{256, 256}, m_class{256, 256}, m_userData{256, 256};
    IntegerCompressor m_dx{32, 2}, m_dy{32, 22}, m_z{32, 20};
};

// ------------------------------------------------------------ GPSTIME11

class GpsTime11V1 : public PointwiseItem {
public:
    void Init(const uint8_t* raw) override { m_last = Get64(raw); }
    void Decode(ArithmeticDecoder& ad, uint8_t* out) override
    {
        if (m_lastDiff == 0) {
            const uint32_t s = ad.DecodeSymbol(m_0diff);
            if (s == 1) {
                const int32_t d = m_gps.Decompress(ad, 0, 0);
                m_lastDiff = d;
                m_last += static_cast<uint64_t>(static_cast<int64_t>(d));
            } else if (s == 2) {
                m_last = ad.ReadInt64();
            }
        } else {
            const uint32_t s = ad.DecodeSymbol(m_multi);
            if (s < 510) {
                int32_t d;
                if (s == 1) {
                    d = m_gps.Decompress(ad, m_lastDiff, 1);
                    m_lastDiff = d;
                    m_extreme = 0;
                } else if (s == 0) {
                    d = m_gps.Decompress(ad, m_lastDiff / 4, 2);
                    if (++m_extreme > 3) {
                        m_lastDiff = d;
                        m_extreme = 0;
                    }
                } else {
                    const int32_t p = static_cast<int32_t>(s * static_cast<uint32_t>(m_lastDiff));
                    d = m_gps.Decompress(ad, p, s < 10 ? 3 : s < 50 ? 4 : 5);
                    if (s == 509 && ++m_extreme > 3) {
                        m_lastDiff = d;
                        m_extreme = 0;
                    }
                }
                m_last += static_cast<uint64_t>(static_cast<int64_t>(d));
            } else if (s == 510) {
                m_last = ad.ReadInt64();
            }
        }
        Put64(out, m_last);
    }

private:
    uint64_t m_last = 0;
    int32_t m_lastDiff = 0;
    int m_extreme = 0;
    SymbolModel m_multi{512}, m_0diff{3};
    IntegerCompressor m_gps{32, 6};
};

class GpsTime11V2 : public PointwiseItem {
public:
    void Init(const uint8_t* raw) override { m_time[0] = Get64(raw); }
    void Decode(ArithmeticDecoder& ad, uint8_t* out) override
    {
        // A sequence switch decodes the point again with another sequence;
        // a damaged stream could switch forever.
        for (int round = 0; round < 64; ++round) {
            if (m_diff[m_cur] == 0) {
                const uint32_t s = ad.DecodeSymbol(m_0diff);
                if (s == 1) {
                    const int32_t d = m_gps.Decompress(ad, 0, 0);
                    m_diff[m_cur] = d;
                    m_time[m_cur] += static_cast<uint64_t>(static_cast<int64_t>(d));
                    m_extreme[m_cur] = 0;
                } else if (s == 2) {
                    FullCode(ad);
                } else if (s > 2) {
                    m_cur = (m_cur + s - 2) & 3;
                    continue;
                }
            } else {
                const uint32_t s = ad.DecodeSymbol(m_multi);
                if (s == 1) {
                    m_time[m_cur] += static_cast<uint64_t>(static_cast<int64_t>(m_gps.Decompress(ad, m_diff[m_cur], 1)));
                    m_extreme[m_cur] = 0;
                } else if (s < 511) {
                    int32_t d;
                    const uint32_t diff = static_cast<uint32_t>(m_diff[m_cur]);
                    if (s == 0) {
                        d = m_gps.Decompress(ad, 0, 7);
                        Extreme(d);
                    } else if (s < 10) {
                        d = m_gps.Decompress(ad, static_cast<int32_t>(s * diff), 2);
                    } else if (s < 500) {
                        d = m_gps.Decompress(ad, static_cast<int32_t>(s * diff), 3);
                    } else if (s == 500) {
                        d = m_gps.Decompress(ad, static_cast<int32_t>(500u * diff), 4);
                        Extreme(d);
                    } else if (s < 510) {
                        d = m_gps.Decompress(ad, static_cast<int32_t>(static_cast<uint32_t>(500 - static_cast<int32_t>(s)) * diff), 5);
                    } else {
                        d = m_gps.Decompress(ad, static_cast<int32_t>(static_cast<uint32_t>(-10) * diff), 6);
                        Extreme(d);
                    }
                    m_time[m_cur] += static_cast<uint64_t>(static_cast<int64_t>(d));
                } else if (s == 512) {
                    FullCode(ad);
                } else if (s > 512) {
                    m_cur = (m_cur + s - 512) & 3;
                    continue;
                }
            }
            break;
        }
        Put64(out, m_time[m_cur]);
    }

private:
    void FullCode(ArithmeticDecoder& ad)
    {
        m_next = (m_next + 1) & 3;
        const uint32_t hi = static_cast<uint32_t>(m_gps.Decompress(ad, static_cast<int32_t>(m_time[m_cur] >> 32), 8));
        const uint32_t lo = ad.ReadInt();
        m_time[m_next] = (uint64_t(hi) << 32) | lo;
        m_cur = m_next;
        m_diff[m_cur] = 0;
        m_extreme[m_cur] = 0;
    }
    void Extreme(int32_t d)
    {
        if (++m_extreme[m_cur] > 3) {
            m_diff[m_cur] = d;
            m_extreme[m_cur] = 0;
        }
    }
    uint64_t m_time[4] = {};
    int32_t m_diff[4] = {};
    int m_extreme[4] = {};
    unsigned m_cur = 0, m_next = 0;
    SymbolModel m_multi{516}, m_0diff{6};
    IntegerCompressor m_gps{32, 9};
};

// ------------------------------------------------------------ RGB12

class Rgb12V1 : public PointwiseItem {
public:
    void Init(const uint8_t* raw) override { std::memcpy(m_last, raw, 6); }
    void Decode(ArithmeticDecoder& ad, uint8_t* out) override
    {
        const uint32_t used = ad.DecodeSymbol(m_used);
        for (unsigned i = 0; i < 6; ++i)
            if (used & (1u << i))
                m_last[i] = static_cast<uint8_t>(m_rgb.Decompress(ad, m_last[i], i));
        std::memcpy(out, m_last, 6);
    }

private:
    uint8_t m_last[6] = {};
    SymbolModel m_used{64};
    IntegerCompressor m_rgb{8, 6};
};

class Rgb12V2 : public PointwiseItem {
public:
    void Init(const uint8_t* raw) override { std::memcpy(m_last, raw, 6); }
    void Decode(ArithmeticDecoder& ad, uint8_t* out) override
    {
        DecodeRgb12V2(ad, m_used, m_diff, m_last);
        std::memcpy(out, m_last, 6);
    }

private:
    uint8_t m_last[6] = {};
    SymbolModel m_used{128};
    SymbolModel m_diff[6] = {SymbolModel(256), SymbolModel(256), SymbolModel(256),
                             SymbolModel(256), SymbolModel(256), SymbolModel(256)};
};

// ------------------------------------------------------------ BYTE

class ByteV1 : public PointwiseItem {
public:
    explicit ByteV1(unsigned n) : m_last(n), m_ic(8, n) {}
    void Init(const uint8_t* raw) override { std::memcpy(m_last.data(), raw, m_last.size()); }
    void Decode(ArithmeticDecoder& ad, uint8_t* out) override
    {
        for (unsigned i = 0; i < m_last.size(); ++i)
            m_last[i] = static_cast<uint8_t>(m_ic.Decompress(ad, m_last[i], i));
        std::memcpy(out, m_last.data(), m_last.size());
    }

private:
    std::vector<uint8_t> m_last;
    IntegerCompressor m_ic;
};

class ByteV2 : public PointwiseItem {
public:
    explicit ByteV2(unsigned n) : m_last(n), m_models(n, 256) {}
    void Init(const uint8_t* raw) override { std::memcpy(m_last.data(), raw, m_last.size()); }
    void Decode(ArithmeticDecoder& ad, uint8_t* out) override
    {
        for (unsigned i = 0; i < m_last.size(); ++i)
            m_last[i] = static_cast<uint8_t>(m_last[i] + ad.DecodeSymbol(m_models[i]));
        std::memcpy(out, m_last.data(), m_last.size());
    }

private:
    std::vector<uint8_t> m_last;
    LazyModels m_models;
};

// ------------------------------------------------------------ WAVEPACKET13

// Decoded to keep the stream in step; the program keeps no wave packets.
class WavePacket13V1 : public PointwiseItem {
public:
    void Init(const uint8_t* raw) override
    {
        m_offset = Get64(raw + 1);
        m_size = Get32(raw + 9);
        for (int i = 0; i < 4; ++i)
            m_xyz[i] = Get32(raw + 13 + 4 * i);
    }
    void Decode(ArithmeticDecoder& ad, uint8_t* out) override
    {
        out[0] = static_cast<uint8_t>(ad.DecodeSymbol(m_index));
        const uint32_t s = ad.DecodeSymbol(m_offsetModels[m_lastSym]);
        m_lastSym = s;
        uint64_t offset = m_offset;
        if (s == 1) {
            offset = m_offset + m_size;
        } else if (s == 2) {
            m_lastDiff = m_icOffset.Decompress(ad, m_lastDiff, 0);
            offset = m_offset + static_cast<uint64_t>(static_cast<int64_t>(m_lastDiff));
        } else if (s == 3) {
            offset = ad.ReadInt64();
        }
        m_offset = offset;
        m_size = static_cast<uint32_t>(m_icSize.Decompress(ad, static_cast<int32_t>(m_size), 0));
        m_xyz[0] = static_cast<uint32_t>(m_icReturn.Decompress(ad, static_cast<int32_t>(m_xyz[0]), 0));
        for (unsigned i = 1; i < 4; ++i)
            m_xyz[i] = static_cast<uint32_t>(m_icXyz.Decompress(ad, static_cast<int32_t>(m_xyz[i]), i - 1));
        Put64(out + 1, m_offset);
        Put32(out + 9, m_size);
        for (int i = 0; i < 4; ++i)
            Put32(out + 13 + 4 * i, m_xyz[i]);
    }

private:
    uint64_t m_offset = 0;
    uint32_t m_size = 0, m_xyz[4] = {};
    int32_t m_lastDiff = 0;
    uint32_t m_lastSym = 0;
    SymbolModel m_index{256};
    SymbolModel m_offsetModels[4] = {SymbolModel(4), SymbolModel(4), SymbolModel(4), SymbolModel(4)};
    IntegerCompressor m_icOffset{32, 1}, m_icSize{32, 1}, m_icReturn{32, 1}, m_icXyz{32, 3};
};

int Clamp8(int v) { return v <= 0 ? 0 : v >= 255 ? 255 : v; }

} // namespace

void DecodeRgb12V2(ArithmeticDecoder& ad, SymbolModel& used, SymbolModel* diffs, uint8_t* L)
{
    // Bytes: 0 R low, 1 R high, 2 G low, 3 G high, 4 B low, 5 B high.
    uint8_t c[6];
    const uint32_t u = ad.DecodeSymbol(used);
    auto diff = [&](int i) { return ad.DecodeSymbol(diffs[i]); };
    c[0] = u & 1 ? static_cast<uint8_t>(diff(0) + L[0]) : L[0];
    c[1] = u & 2 ? static_cast<uint8_t>(diff(1) + L[1]) : L[1];
    if (u & 64) {
        int d = c[0] - L[0];
        c[2] = u & 4 ? static_cast<uint8_t>(diff(2) + Clamp8(d + L[2])) : L[2];
        c[4] = u & 16 ? static_cast<uint8_t>(diff(4) + Clamp8((d + (c[2] - L[2])) / 2 + L[4])) : L[4];
        d = c[1] - L[1];
        c[3] = u & 8 ? static_cast<uint8_t>(diff(3) + Clamp8(d + L[3])) : L[3];
        c[5] = u & 32 ? static_cast<uint8_t>(diff(5) + Clamp8((d + (c[3] - L[3])) / 2 + L[5])) : L[5];
    } else {
        c[2] = c[4] = c[0];
        c[3] = c[5] = c[1];
    }
    std::memcpy(L, c, 6);
}

std::unique_ptr<PointwiseItem> MakePointwiseItem(const Item& item, std::string* why)
{
    auto refuse = [&](const char* name) {
        if (why)
            *why = std::string("the LAZ item ") + name + " version " + std::to_string(item.version) +
                   " (size " + std::to_string(item.size) + ") is not one this reader knows";
        return nullptr;
    };
    const bool v1 = item.version == 1, v2 = item.version == 2;
    switch (item.type) {
    case Point10:
        if (item.size != 20 || (!v1 && !v2))
            return refuse("POINT10");
        return v1 ? std::unique_ptr<PointwiseItem>(new Point10V1) : std::unique_ptr<PointwiseItem>(new Point10V2);
    case GpsTime11:
        if (item.size != 8 || (!v1 && !v2))
            return refuse("GPSTIME11");
        return v1 ? std::unique_ptr<PointwiseItem>(new GpsTime11V1) : std::unique_ptr<PointwiseItem>(new GpsTime11V2);
    case Rgb12:
        if (item.size != 6 || (!v1 && !v2))
            return refuse("RGB12");
        return v1 ? std::unique_ptr<PointwiseItem>(new Rgb12V1) : std::unique_ptr<PointwiseItem>(new Rgb12V2);
    case Byte:
        if (item.size == 0 || (!v1 && !v2))
            return refuse("BYTE");
        return v1 ? std::unique_ptr<PointwiseItem>(new ByteV1(item.size)) : std::unique_ptr<PointwiseItem>(new ByteV2(item.size));
    case WavePacket13:
        if (item.size != 29 || !v1)
            return refuse("WAVEPACKET13");
        return std::unique_ptr<PointwiseItem>(new WavePacket13V1);
    default:
        return refuse(item.type == Point14 ? "POINT14" : item.type == Rgb14 ? "RGB14" : item.type == RgbNir14 ? "RGBNIR14"
                                           : item.type == Byte14 ? "BYTE14" : item.type == WavePacket14 ? "WAVEPACKET14"
                                                                                                       : "of an unknown type");
    }
}

} // namespace laz
