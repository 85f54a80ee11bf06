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

// What C's atof reads from the start of `text` in the C locale (leading
// blanks, a sign, digits, a fraction, an exponent); 0.0 when nothing there
// is a number. For values that the formats store as free text.
double LeadingDouble(const std::string& text);
