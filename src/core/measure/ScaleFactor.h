#pragma once
// The scale tool's arithmetic: from the current distance of the two
// reference points and the length the user wants, the factor to apply.
#include <string>

class CScanPos;

namespace measure {

enum class ScaleCheck {
    Ok,
    BadNewLength,   // not a positive number
    SameLength,     // nothing to scale
    NoCurrentLength // fewer than two points, or two coincident ones
};

// Both texts are read as atof reads them (leading number, 0 otherwise).
ScaleCheck CheckScale(const std::string& currentText, const std::string& newText, double* factor);

// Scales the model's points uniformly by `factor` about the origin of its
// own coordinates (its offset), on both levels, by a transform filter placed
// after what each level draws now: a second call scales again. The file on
// disk is not touched. False when the model lacks a level.
bool ScaleModel(CScanPos* model, double factor);

} // namespace measure
