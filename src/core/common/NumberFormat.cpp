#include "core/common/NumberFormat.h"

#include <charconv>
#include <cmath>

namespace {

// Below 10^9 the product with 10^6 in extended precision is within 1e-4 of
// the exact one, so its rounding is the exact rounding unless it lies near
// a tie; those, and anything large, nan or inf, take the exact path.
char* Fast(double v, char* out)
{
    const double magnitude = std::fabs(v);
    if (!(magnitude < 1e9))
        return nullptr;
    const long double product = static_cast<long double>(magnitude) * 1000000.0L;
    const long double whole = std::floor(product);
    const long double fraction = product - whole;
    if (std::fabs(fraction - 0.5L) < 1e-3L)
        return nullptr;
    const unsigned long long units = static_cast<unsigned long long>(whole) + (fraction > 0.5L ? 1 : 0);
    char* p = out;
    if (std::signbit(v))
        *p++ = '-'; // printf keeps the sign of values that round to zero
    p = std::to_chars(p, p + 24, units / 1000000).ptr;
    *p++ = '.';
    unsigned long long rest = units % 1000000;
    for (unsigned long long d = 100000; d > 0; d /= 10) {
        *p++ = static_cast<char>('0' + rest / d);
        rest %= d;
    }
    return p;
}

} // namespace

char* FormatFixed6(double value, char* out)
{
    if (char* end = Fast(value, out))
        return end;
    return std::to_chars(out, out + kFixed6Capacity, value, std::chars_format::fixed, 6).ptr;
}
