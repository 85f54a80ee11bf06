#pragma once
// Just enough JSON writing for the command-line tool's one-object-per-line output.
#include <string>

namespace json {
std::string Quote(const std::string& text);  // a JSON string literal
std::string Number(double value); // shortest round-trip form; "infinite" or "not a number" as strings
} // namespace json
