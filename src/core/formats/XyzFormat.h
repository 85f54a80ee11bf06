#pragma once
// Plain-text XYZ point lines: the nine column layouts, how a line is
// classified, and how its values become colours and intensities.
#include <string>

namespace xyz {

// Layout codes 0-8 (see ValuesPerLine); -1 for a line that fits none.
int DetectXyzLineFormat(const char* line, char* separator);
// The separator of a line, or 0.
char DetectSeparator(const char* line);
// The next field from `start` (spaces skipped); false when there is none.
bool NextField(const char* line, int& start, int& end, char separator);

int ValuesPerLine(int code);          // 3, 4, 6 or 7
bool HasColour(int code);             // codes 3-8
bool HasIntensity(int code);          // codes 1, 2, 5-8
bool IntegerColour(int code);         // codes 3, 5, 6
bool IntegerIntensity(int code);      // codes 1, 5, 7
// The scanf format that reads the lines of a layout.
std::string ScanFormat(int code, char separator);

// Value conversions (identical for every reader of the format).
unsigned char ColourFromInteger(int value);    // low byte, as stored unchanged
unsigned char ColourFromReal(double value);    // value * 255 + 0.5, truncated
float IntensityFromInteger(int value);         // value / 255
float IntensityFromReal(double value);

constexpr int kLinePiece = 511; // lines are read in pieces of this many characters
constexpr int kMaxField = 63;   // longest field of the classified line

} // namespace xyz
