#pragma once
// The scale tool's arithmetic: from the current distance of the two
// reference points and the length the user wants, the factor to apply.
#include <string>

namespace measure {

enum class ScaleCheck {
    Ok,
    BadNewLength,   // not a positive number
    SameLength,     // nothing to scale
    NoCurrentLength // fewer than two points, or two coincident ones
};

// Both texts are read as atof reads them (leading number, 0 otherwise).
ScaleCheck CheckScale(const std::string& currentText, const std::string& newText, double* factor);

} // namespace measure
