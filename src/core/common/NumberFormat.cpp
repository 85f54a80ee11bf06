#include "core/common/NumberFormat.h"

#include <charconv>
#include <cmath>

namespace {

constexpr unsigned long long kPowers[] = {1ull,         10ull,         100ull,         1000ull,
                                          10000ull,     100000ull,     1000000ull,     10000000ull,
                                          100000000ull, 1000000000ull};

// While the scaled value stays below 10^15 its product in extended
// precision is within 1e-4 of the exact one, so its rounding is the exact
// rounding unless it lies near a tie; those, large values, nan and inf take
// the exact path.
char* Fast(double v, int decimals, char* out)
{
    const unsigned long long scale = kPowers[decimals];
    const long double product = static_cast<long double>(std::fabs(v)) * static_cast<long double>(scale);
    if (!(product < 1e15L))
        return nullptr;
    const long double whole = std::floor(product);
    const long double fraction = product - whole;
    if (std::fabs(fraction - 0.5L) < 1e-3L)
        return nullptr;
    const unsigned long long units = static_cast<unsigned long long>(whole) + (fraction > 0.5L ? 1 : 0);
    char* p = out;
    if (std::signbit(v))
        *p++ = '-'; // printf keeps the sign of values that round to zero
    p = std::to_chars(p, p + 24, units / scale).ptr;
    if (decimals == 0)
        return p;
    *p++ = '.';
    unsigned long long rest = units % scale;
    for (unsigned long long d = scale / 10; d > 0; d /= 10) {
        *p++ = static_cast<char>('0' + rest / d);
        rest %= d;
    }
    return p;
}

} // namespace

char* FormatFixed(double value, int decimals, char* out)
{
    decimals = decimals < 0 ? 0 : decimals > 9 ? 9 : decimals;
    if (char* end = Fast(value, decimals, out))
        return end;
    return std::to_chars(out, out + kFixedCapacity, value, std::chars_format::fixed, decimals).ptr;
}
