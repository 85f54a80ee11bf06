#pragma once
// The entropy coding of LAZ: an adaptive binary arithmetic decoder with bit
// and symbol models, and the integer "corrector" coder built on them. Every
// update follows the format exactly: one wrong step corrupts every later
// point of a chunk.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace laz {

class BitModel {
public:
    BitModel() { Reset(); }
    void Reset();
    void Update();

    uint32_t n0, n, p0, cycle, until;
};

class SymbolModel {
public:
    explicit SymbolModel(uint32_t symbols);
    void Reset();
    void Update();

    uint32_t symbols;
    std::vector<uint32_t> count, distribution, table;
    uint32_t total = 0, cycle = 0, until = 0;
    uint32_t tableSize = 0, tableShift = 0;
};

class ArithmeticDecoder {
public:
    // Starts on the bytes [p, end): reads the first four.
    void Init(const uint8_t* p, const uint8_t* end);
    uint32_t DecodeBit(BitModel& m);
    uint32_t DecodeSymbol(SymbolModel& m);
    uint32_t ReadBits(unsigned bits); // 1..32
    uint32_t ReadShort() { return ReadBits(16); }
    uint32_t ReadInt();
    uint64_t ReadInt64();
    // Whether a read went past the end: the stream is damaged.
    bool Overrun() const { return m_overrun; }
    // The next byte a read would take.
    const uint8_t* Position() const { return m_p; }

private:
    uint8_t Byte()
    {
        if (m_p < m_end)
            return *m_p++;
        m_overrun = true;
        return 0;
    }
    void Renormalise()
    {
        do {
            m_value = (m_value << 8) | Byte();
            m_length <<= 8;
        } while (m_length < (1u << 24));
    }

    const uint8_t* m_p = nullptr;
    const uint8_t* m_end = nullptr;
    uint32_t m_value = 0, m_length = 0;
    bool m_overrun = false;
};

// IC(bits, contexts): an integer coded as a corrector to a prediction.
class IntegerCompressor {
public:
    IntegerCompressor(unsigned bits, unsigned contexts);
    int32_t Decompress(ArithmeticDecoder& ad, int32_t prediction, unsigned context);
    unsigned K() const { return m_k; }

private:
    // Models are made fresh when first used: a chunk uses few of them, and
    // a fresh model is what a reset one is.
    SymbolModel& Bits(unsigned context);
    SymbolModel& Corrector(unsigned k);

    unsigned m_bits;
    uint32_t m_corrRange;
    int32_t m_corrMin;
    std::vector<std::unique_ptr<SymbolModel>> m_mBits;
    BitModel m_corr0;
    std::vector<std::unique_ptr<SymbolModel>> m_corr; // index 1..bits
    unsigned m_k = 0;
};

// Little-endian fields of point records.
inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t Get64(const uint8_t* p) { return Get32(p) | uint64_t(Get32(p + 4)) << 32; }
inline void Put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(uint8_t* p, uint64_t v)
{
    Put32(p, static_cast<uint32_t>(v));
    Put32(p + 4, static_cast<uint32_t>(v >> 32));
}

// The streaming "median of five" that predicts X and Y differences: a
// stateful structure of the format, not the exact median.
class Median5 {
public:
    int32_t Get() const { return m_v[2]; }
    void Add(int32_t x);

private:
    int32_t m_v[5] = {0, 0, 0, 0, 0};
    bool m_high = true;
};

} // namespace laz
