#include "core/exchange/Base64Stream.h"

#include <vtkObjectFactory.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <ostream>

vtkStandardNewMacro(vtkFastBase64OutputStream);

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two characters per 12 bits: two lookups per group of three bytes.
struct PairTable {
    std::array<char, 2 * 4096> pairs{};
    PairTable()
    {
        for (int i = 0; i < 4096; ++i) {
            pairs[2 * i] = kAlphabet[i >> 6];
            pairs[2 * i + 1] = kAlphabet[i & 63];
        }
    }
};
const PairTable kTable;

inline void Group(const unsigned char* in, char* out)
{
    const unsigned v = (unsigned(in[0]) << 16) | (unsigned(in[1]) << 8) | in[2];
    std::memcpy(out, &kTable.pairs[2 * (v >> 12)], 2);
    std::memcpy(out + 2, &kTable.pairs[2 * (v & 4095)], 2);
}

// Whole groups only; returns the characters written.
size_t Groups(const unsigned char* in, size_t groups, char* out)
{
    for (size_t g = 0; g < groups; ++g)
        Group(in + 3 * g, out + 4 * g);
    return 4 * groups;
}

// The padded end of one or two bytes, as VTK writes it.
size_t Ending(const unsigned char* in, size_t size, char* out)
{
    out[0] = kAlphabet[in[0] >> 2];
    if (size == 1) {
        out[1] = kAlphabet[(in[0] & 3) << 4];
        out[2] = '=';
    } else {
        out[1] = kAlphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
        out[2] = kAlphabet[(in[1] & 15) << 2];
    }
    out[3] = '=';
    return 4;
}

} // namespace

namespace base64 {

size_t Encode(const unsigned char* in, size_t size, char* out)
{
    const size_t whole = size / 3;
    size_t n = Groups(in, whole, out);
    if (size % 3)
        n += Ending(in + 3 * whole, size % 3, out + n);
    return n;
}

} // namespace base64

int vtkFastBase64OutputStream::StartWriting()
{
    if (!this->vtkOutputStream::StartWriting())
        return 0;
    m_carried = 0;
    return 1;
}

int vtkFastBase64OutputStream::Write(void const* data, size_t length)
{
    if (length == 0)
        return 1; // empty arrays come with no data pointer at all
    const unsigned char* in = static_cast<const unsigned char*>(data);
    // Chunks of whole groups through a buffer of a few pages.
    constexpr size_t kGroups = 16384;
    char out[4 * kGroups];
    size_t used = 0;
    bool ok = true;
    auto flush = [&] {
        if (used && !this->Stream->write(out, static_cast<std::streamsize>(used)))
            ok = false;
        used = 0;
    };
    if (m_carried && m_carried + length >= 3) {
        unsigned char group[3];
        std::memcpy(group, m_carry, m_carried);
        const size_t take = 3 - m_carried;
        std::memcpy(group + m_carried, in, take);
        Group(group, out);
        used = 4;
        in += take;
        length -= take;
        m_carried = 0;
    }
    if (m_carried) { // still fewer than three bytes in all
        std::memcpy(m_carry + m_carried, in, length);
        m_carried += static_cast<unsigned>(length);
        return 1;
    }
    size_t groups = length / 3;
    while (groups) {
        const size_t now = std::min(groups, kGroups - used / 4);
        used += Groups(in, now, out + used);
        in += 3 * now;
        groups -= now;
        if (used == 4 * kGroups)
            flush();
    }
    flush();
    m_carried = static_cast<unsigned>(length % 3);
    std::memcpy(m_carry, in, m_carried);
    return ok ? 1 : 0;
}

int vtkFastBase64OutputStream::EndWriting()
{
    int ok = 1;
    if (m_carried) {
        char out[4];
        Ending(m_carry, m_carried, out);
        ok = this->Stream->write(out, 4) ? 1 : 0;
    }
    m_carried = 0;
    return ok;
}
