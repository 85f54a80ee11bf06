#include "core/common/NumberChecks.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <locale.h>

namespace {

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Printable ASCII that is neither a letter, a digit nor a space.
bool IsPunctuation(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && !std::isalnum(u);
}

int SaturatingDecimal(const char* p)
{
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = (*p++ == '-');
    long long v = 0;
    for (; IsAsciiDigit(*p); ++p) {
        v = v * 10 + (*p - '0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-v);
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

} // namespace

bool IsIntegerString(const std::string& text, int* value)
{
    if (text.empty())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsAsciiDigit(c))
            continue;
        if ((c == '+' || c == '-') && i == 0)
            continue;
        return false;
    }
    if (value)
        *value = SaturatingDecimal(text.c_str());
    return true;
}

bool IsDoubleString(const std::string& text, double* value)
{
    if (text.empty() || text.size() > 1023)
        return false;
    size_t end = text.find_last_not_of(' ');
    if (end == std::string::npos)
        return false;
    const size_t begin = text.find_first_not_of(' ');
    const std::string t = text.substr(begin, end - begin + 1);
    int dots = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (IsAsciiDigit(c))
            continue;
        if (!IsPunctuation(c))
            return false;
        if (c == '.' && ++dots > 1)
            return false;
        if ((c == '+' || c == '-') && i != 0)
            return false;
    }
    if (value) {
        // The C locale's decimal point, whatever locale the GUI toolkit set.
        static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", nullptr);
        *value = strtod_l(t.c_str(), nullptr, cLocale);
    }
    return true;
}

double LeadingDouble(const std::string& text)
{
    static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    return strtod_l(text.c_str(), nullptr, cLocale);
}
