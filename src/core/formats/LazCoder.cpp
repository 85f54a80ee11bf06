#include "core/formats/LazCoder.h"

#include <algorithm>

namespace laz {

void BitModel::Reset()
{
    n0 = 1;
    n = 2;
    p0 = 4096;
    cycle = 4;
    until = 4;
}

void BitModel::Update()
{
    n += cycle;
    if (n > 8192) {
        n = (n + 1) >> 1;
        n0 = (n0 + 1) >> 1;
        if (n0 == n)
            ++n;
    }
    const uint32_t scale = 0x80000000u / n;
    p0 = (n0 * scale) >> 18;
    cycle = std::min<uint32_t>((5 * cycle) >> 2, 64);
    until = cycle;
}

SymbolModel::SymbolModel(uint32_t n) : symbols(n), count(n), distribution(n)
{
    if (n > 16) {
        unsigned bits = 3;
        while (n > (1u << (bits + 2)))
            ++bits;
        tableSize = 1u << bits;
        tableShift = 15 - bits;
        table.resize(tableSize + 2);
    }
    Reset();
}

void SymbolModel::Reset()
{
    std::fill(count.begin(), count.end(), 1u);
    total = 0;
    cycle = symbols;
    Update();
    cycle = (symbols + 6) >> 1;
    until = cycle;
}

void SymbolModel::Update()
{
    total += cycle;
    if (total > 32768) {
        total = 0;
        for (uint32_t& c : count) {
            c = (c + 1) >> 1;
            total += c;
        }
    }
    const uint32_t scale = 0x80000000u / total;
    uint32_t sum = 0;
    for (uint32_t k = 0; k < symbols; ++k) {
        distribution[k] = (scale * sum) >> 16;
        sum += count[k];
    }
    if (symbols > 16) {
        uint32_t s = 0;
        for (uint32_t k = 0; k < symbols; ++k) {
            const uint32_t w = distribution[k] >> tableShift;
            while (s < w)
                table[++s] = k - 1;
        }
        table[0] = 0;
        while (s <= tableSize)
            table[++s] = symbols - 1;
    }
    cycle = std::min<uint32_t>((5 * cycle) >> 2, (symbols + 6) * 8);
    until = cycle;
}

void ArithmeticDecoder::Init(const uint8_t* p, const uint8_t* end)
{
    m_p = p;
    m_end = end;
    m_overrun = false;
    m_length = 0xFFFFFFFFu;
    m_value = 0;
    for (int i = 0; i < 4; ++i)
        m_value = (m_value << 8) | Byte();
}

uint32_t ArithmeticDecoder::DecodeBit(BitModel& m)
{
    const uint32_t x = m.p0 * (m_length >> 13);
    uint32_t bit;
    if (m_value < x) {
        bit = 0;
        m_length = x;
        ++m.n0;
    } else {
        bit = 1;
        m_value -= x;
        m_length -= x;
    }
    if (m_length < (1u << 24))
        Renormalise();
    if (--m.until == 0)
        m.Update();
    return bit;
}

uint32_t ArithmeticDecoder::DecodeSymbol(SymbolModel& m)
{
    const uint32_t l = m_length >> 15;
    uint32_t s, x, y;
    if (m.symbols <= 16) {
        // The symbol is the number of thresholds at or below the value: a
        // count without branches instead of a bisection that mispredicts.
        const uint32_t* d = m.distribution.data();
        const uint32_t v = m_value;
        uint32_t count = 0;
        for (uint32_t k = 1; k < m.symbols; ++k)
            count += l * d[k] <= v ? 1u : 0u;
        s = count;
        x = l * d[s];
        y = s + 1 < m.symbols ? l * d[s + 1] : m_length;
    } else {
        // Damaged streams can leave the value beyond the interval: the
        // search stays inside the model whatever it holds.
        const uint32_t dv = l ? m_value / l : 0;
        const uint32_t t = std::min(dv >> m.tableShift, m.tableSize);
        uint32_t lo = m.table[t];
        const uint32_t hi = std::min(m.table[t + 1] + 1, m.symbols);
        // The table's bracket is short: count its thresholds at or below.
        const uint32_t* d = m.distribution.data();
        uint32_t count = 0;
        for (uint32_t k = lo + 1; k < hi; ++k)
            count += d[k] <= dv ? 1u : 0u;
        s = lo + count;
        x = m.distribution[s] * l;
        y = s + 1 < m.symbols ? m.distribution[s + 1] * l : m_length;
    }
    m_value -= x;
    m_length = y - x;
    if (m_length < (1u << 24))
        Renormalise();
    ++m.count[s];
    if (--m.until == 0)
        m.Update();
    return s;
}

uint32_t ArithmeticDecoder::ReadBits(unsigned bits)
{
    if (bits > 19) {
        const uint32_t lo = ReadBits(16);
        const uint32_t hi = ReadBits(bits - 16);
        return (hi << 16) | lo;
    }
    m_length >>= bits;
    const uint32_t s = m_length ? m_value / m_length : 0;
    m_value -= s * m_length;
    if (m_length < (1u << 24))
        Renormalise();
    return s;
}

uint32_t ArithmeticDecoder::ReadInt()
{
    const uint32_t lo = ReadShort();
    const uint32_t hi = ReadShort();
    return (hi << 16) | lo;
}

uint64_t ArithmeticDecoder::ReadInt64()
{
    const uint64_t lo = ReadInt();
    const uint64_t hi = ReadInt();
    return (hi << 32) | lo;
}

IntegerCompressor::IntegerCompressor(unsigned bits, unsigned contexts) : m_bits(bits)
{
    if (bits > 0 && bits < 32) {
        m_corrRange = 1u << bits;
        m_corrMin = -static_cast<int32_t>(1u << (bits - 1));
    } else {
        m_bits = 32;
        m_corrRange = 0;
        m_corrMin = INT32_MIN;
    }
    m_mBits.resize(contexts);
    m_corr.resize(m_bits + 1);
}

SymbolModel& IntegerCompressor::Bits(unsigned context)
{
    std::unique_ptr<SymbolModel>& m = m_mBits[context];
    if (!m)
        m.reset(new SymbolModel(m_bits + 1));
    return *m;
}

SymbolModel& IntegerCompressor::Corrector(unsigned k)
{
    std::unique_ptr<SymbolModel>& m = m_corr[k];
    if (!m)
        m.reset(new SymbolModel(1u << std::min(k, 8u)));
    return *m;
}

int32_t IntegerCompressor::Decompress(ArithmeticDecoder& ad, int32_t prediction, unsigned context)
{
    const unsigned k = ad.DecodeSymbol(Bits(context));
    m_k = k;
    int32_t c;
    if (k == 0) {
        c = static_cast<int32_t>(ad.DecodeBit(m_corr0));
    } else if (k < 32) {
        uint32_t v;
        if (k <= 8) {
            v = ad.DecodeSymbol(Corrector(k));
        } else {
            const unsigned k1 = k - 8;
            const uint32_t hi = ad.DecodeSymbol(Corrector(k));
            const uint32_t lo = ad.ReadBits(k1);
            v = (hi << k1) | lo;
        }
        // The interval mapping undone, in 64 bits for k = 31.
        const int64_t half = int64_t(1) << (k - 1);
        int64_t wide = static_cast<int64_t>(v);
        wide = wide >= half ? wide + 1 : wide - ((int64_t(1) << k) - 1);
        c = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(wide)));
    } else {
        c = m_corrMin;
    }
    uint32_t real = static_cast<uint32_t>(prediction) + static_cast<uint32_t>(c);
    if (m_corrRange != 0) {
        const int32_t r = static_cast<int32_t>(real);
        if (r < 0)
            real += m_corrRange;
        else if (real >= m_corrRange)
            real -= m_corrRange;
    }
    return static_cast<int32_t>(real);
}

void Median5::Add(int32_t x)
{
    int32_t* v = m_v;
    if (m_high) {
        if (x < v[2]) {
            v[4] = v[3];
            v[3] = v[2];
            if (x < v[0]) {
                v[2] = v[1];
                v[1] = v[0];
                v[0] = x;
            } else if (x < v[1]) {
                v[2] = v[1];
                v[1] = x;
            } else {
                v[2] = x;
            }
        } else {
            if (x < v[3]) {
                v[4] = v[3];
                v[3] = x;
            } else {
                v[4] = x;
            }
            m_high = false;
        }
    } else {
        if (v[2] < x) {
            v[0] = v[1];
            v[1] = v[2];
            if (v[4] < x) {
                v[2] = v[3];
                v[3] = v[4];
                v[4] = x;
            } else if (v[3] < x) {
                v[2] = v[3];
                v[3] = x;
            } else {
                v[2] = x;
            }
        } else {
            if (v[1] < x) {
                v[0] = v[1];
                v[1] = x;
            } else {
                v[0] = x;
            }
            m_high = true;
        }
    }
}

} // namespace laz
