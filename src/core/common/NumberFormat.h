#pragma once
// Number texts exactly as printf writes them, faster.
#include <cstddef>

// Room for any "%.Nf" text of a double with N <= 9 (the largest has 309
// integer digits).
constexpr std::size_t kFixedCapacity = 400;
constexpr std::size_t kFixed6Capacity = kFixedCapacity;

// Writes "%.Nf" of `value` with N = `decimals` (0 to 9) at `out`: printf's
// bytes, exact rounding of the binary value, ties to even, "-0.000", "inf",
// "nan". Returns the end.
char* FormatFixed(double value, int decimals, char* out);

inline char* FormatFixed6(double value, char* out) { return FormatFixed(value, 6, out); }
