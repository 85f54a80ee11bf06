#include "Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace json {

std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
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
    if (!std::isfinite(value))
        return "null";
    char buf[64];
    // Fixed notation reads better for coordinates (500000, not 5e+05).
    const auto result = std::fabs(value) < 1e16 ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                                                : std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

} // namespace json
