#pragma once
// The program's two number checks for text typed by users or read from
// companion files. They are deliberately stricter than strtol/strtod:
// no exponents, no inner blanks, a sign only in front.
#include <string>

// Decimal digits with an optional leading "+" or "-"; a lone sign is 0.
// The value saturates at the int limits instead of overflowing.
bool IsIntegerString(const std::string& text, int* value = nullptr);

// Digits and punctuation, at most one ".", a sign only in front; blanks
// around the text are ignored. Texts longer than 1023 characters fail.
bool IsDoubleString(const std::string& text, double* value = nullptr);
