#include "core/formats/XyzFormat.h"

#include "core/common/NumberChecks.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace xyz {

char DetectSeparator(const char* line)
{
    const char* p = line;
    while (*p == ' ')
        ++p;
    if (!*p)
        return 0;
    // The first character belongs to the first number and is not examined.
    for (++p; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (std::isalpha(c))
            return 0;
        if (std::isdigit(c) || c == '-' || c == '+' || c == '.')
            continue;
        return *p;
    }
    return 0;
}

bool NextField(const char* line, int& start, int& end, char separator)
{
    const int length = static_cast<int>(std::strlen(line));
    if (start > length)
        return false;
    while (start < length && line[start] == ' ')
        ++start;
    end = start + 1;
    while (end < length && line[end] != separator && line[end] != '\n')
        ++end;
    return start < length && end < length;
}

namespace {

// Field `index` (0-based) of the line, when it exists and fits the buffer.
// `tooLong` tells a field that exists but is longer than kMaxField.
bool Field(const char* line, char separator, int index, std::string& text, bool& tooLong)
{
    int start = 0, end = 0;
    for (int i = 0; i <= index; ++i) {
        if (i > 0)
            start = end + 1;
        if (!NextField(line, start, end, separator))
            return false;
    }
    if (end - start > kMaxField) {
        tooLong = true;
        return false;
    }
    text.assign(line + start, static_cast<size_t>(end - start));
    return true;
}

} // namespace

int DetectXyzLineFormat(const char* line, char* separatorOut)
{
    if (!line)
        return -1;
    const char separator = DetectSeparator(line);
    if (separatorOut)
        *separatorOut = separator;
    if (!separator)
        return -1;
    std::string f[7];
    bool tooLong = false;
    bool present[7];
    for (int i = 0; i < 7; ++i) {
        present[i] = Field(line, separator, i, f[i], tooLong);
        if (tooLong)
            return -1; // a field we would have to cut: not a valid line
    }
    for (int i = 0; i < 3; ++i)
        if (!present[i] || !IsDoubleString(f[i]))
            return -1;
    if (!present[3])
        return 0;
    const bool integer = IsIntegerString(f[3]);
    if (!present[4]) {
        if (integer)
            return 1;
        return IsDoubleString(f[3]) ? 2 : -1;
    }
    auto typed = [integer](const std::string& s) { return integer ? IsIntegerString(s) : IsDoubleString(s); };
    if (!typed(f[4]) || !present[5] || !typed(f[5]))
        return -1;
    if (!present[6])
        return integer ? 3 : 4;
    if (IsIntegerString(f[6]))
        return integer ? 5 : 7;
    if (IsDoubleString(f[6]))
        return integer ? 6 : 8;
    return -1;
}

int ValuesPerLine(int code)
{
    static const int kValues[9] = {3, 4, 4, 6, 6, 7, 7, 7, 7};
    return code >= 0 && code <= 8 ? kValues[code] : 0;
}

bool HasColour(int code) { return code >= 3 && code <= 8; }
bool HasIntensity(int code) { return code == 1 || code == 2 || (code >= 5 && code <= 8); }
bool IntegerColour(int code) { return code == 3 || code == 5 || code == 6; }
bool IntegerIntensity(int code) { return code == 1 || code == 5 || code == 7; }

std::string ScanFormat(int code, char separator)
{
    static const char* const kTemplates[9] = {
        "%%lf%c%%lf%c%%lf\n",
        "%%lf%c%%lf%c%%lf%c%%i\n",
        "%%lf%c%%lf%c%%lf%c%%lf\n",
        "%%lf%c%%lf%c%%lf%c%%i%c%%i%c%%i\n",
        "%%lf%c%%lf%c%%lf%c%%lf%c%%lf%c%%lf\n",
        "%%lf%c%%lf%c%%lf%c%%i%c%%i%c%%i%c%%i\n",
        "%%lf%c%%lf%c%%lf%c%%i%c%%i%c%%i%c%%lf\n",
        "%%lf%c%%lf%c%%lf%c%%lf%c%%lf%c%%lf%c%%i\n",
        "%%lf%c%%lf%c%%lf%c%%lf%c%%lf%c%%lf%c%%lf\n",
    };
    if (code < 0 || code > 8)
        return std::string();
    char format[128];
    const char s = separator;
    std::snprintf(format, sizeof format, kTemplates[code], s, s, s, s, s, s);
    return format;
}

unsigned char ColourFromInteger(int value) { return static_cast<unsigned char>(static_cast<unsigned int>(value) & 0xFF); }

unsigned char ColourFromReal(double value)
{
    // Truncation toward zero, then the low byte; defined for any input.
    const double t = std::trunc(value * 255.0 + 0.5);
    if (!(t == t) || t >= 9.2e18 || t <= -9.2e18)
        return 0;
    return static_cast<unsigned char>(static_cast<unsigned long long>(static_cast<long long>(t)) & 0xFF);
}

float IntensityFromInteger(int value) { return static_cast<float>(value / 255.0); }
float IntensityFromReal(double value) { return static_cast<float>(value); }

} // namespace xyz
