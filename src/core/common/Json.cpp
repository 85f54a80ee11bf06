#include "core/common/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace json {

namespace {

// Length of the well-formed UTF-8 sequence at `p`, or 0.
size_t Utf8Length(const unsigned char* p, size_t left)
{
    const unsigned char c = p[0];
    size_t n = 0;
    unsigned int lowest = 0;
    if (c >= 0xC2 && c <= 0xDF) n = 2, lowest = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, lowest = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, lowest = 0x10000;
    else return 0;
    if (left < n)
        return 0;
    unsigned int code = c & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

std::string Quote(const std::string& text)
{
    // File names are bytes; a byte that is no part of valid UTF-8 is
    // written as the character of that code (U+0080 to U+00FF), so the output stays JSON.
    std::string out = "\"";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = bytes[i];
        if (c >= 0x80) {
            const size_t n = Utf8Length(bytes + i, text.size() - i);
            if (n == 0) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out.append(text, i, n);
                i += n - 1;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Number(double value)
{
    // What is not a finite number says so in words; readers take strings.
    if (std::isnan(value))
        return "\"not a number\"";
    if (std::isinf(value))
        return value > 0 ? "\"infinite\"" : "\"-infinite\"";
    char buf[64];
    // Fixed notation reads better for coordinates (500000, not 5e+05).
    const auto result = std::fabs(value) < 1e16 ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                                                : std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

} // namespace json
