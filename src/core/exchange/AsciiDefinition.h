#pragma once
// The export definition of the configurable text export: which column holds
// what, the operation of each variable, separator and number formats. It
// lives in an INI file between runs.
#include <string>

namespace exchange {

// The variables, in the order of their rows and their INI sections.
enum AsciiVariable { kAsciiX, kAsciiY, kAsciiZ, kAsciiR, kAsciiG, kAsciiB, kAsciiIntensity, kAsciiVariables };
// The items of a column list, in list order; the stored index is the item.
enum AsciiItem {
    kItemId,
    kItemX,
    kItemY,
    kItemZ,
    kItemR,
    kItemG,
    kItemB,
    kItemIntensity,
    kItemEndln,
    kItemBlank,
    kAsciiItems
};
constexpr int kAsciiColumns = 8;
constexpr int kAsciiOperators = 4;     // "*", "/", "+", "-"
constexpr int kAsciiSeparators = 5;    // space, tab, ",", ";", ":"
constexpr int kAsciiDoubleFormats = 8; // 0 to 6 decimals, then "Eng" (seven)
constexpr int kAsciiColorFormats = 2;  // integer, double

extern const char* const kAsciiSections[kAsciiVariables];

struct AsciiDefinition {
    int formula[kAsciiVariables] = {0, 0, 0, 0, 0, 0, 0};
    std::string value[kAsciiVariables] = {"1.0", "1.0", "1.0", "1.0", "1.0", "1.0", "1.0"};
    int separator = 0;
    int doubleFormat = 3;
    int colorFormat = 0;
    // Item of each column; kItemBlank (or -1, no selection) is a blank column.
    int composition[kAsciiColumns] = {1, 2, 3, 4, 5, 6, 7, 8};
};

// Keys missing from the file, and stored indexes outside their lists, take
// the defaults; values are read as text of up to 255 characters.
AsciiDefinition ReadAsciiDefinition(const std::string& file);
// Every key, in one complete file that replaces the old one.
bool WriteAsciiDefinition(const std::string& file, const AsciiDefinition& definition, std::string* why = nullptr);

// The user's definition file: "$XDG_CONFIG_HOME/quarlon/ASCCIExportDefinition.ini".
std::string AsciiDefinitionUserFile();
// The file to read: the user's when it exists, else the one beside the
// program (a site-wide default), else the user's (absent: defaults).
std::string AsciiDefinitionFileToRead();

// Which columns are written: a blank column right of every non-blank one,
// or with only blanks between it and an "Endln" to its right, is left out.
// True for a column that is left out.
void PruneColumns(const int composition[kAsciiColumns], bool pruned[kAsciiColumns]);

} // namespace exchange
