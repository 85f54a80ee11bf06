#pragma once
// Number texts exactly as printf writes them, faster.
#include <cstddef>

// Room for any "%.6f" text of a double (the largest has 309 integer digits).
constexpr std::size_t kFixed6Capacity = 400;

// Writes "%.6f" of `value` (printf's bytes: exact rounding of the binary
// value, ties to even, "-0.000000", "inf", "nan") at `out`; returns the end.
char* FormatFixed6(double value, char* out);
