#pragma once
// The configurable text export of one model: one line per point, columns
// composed by the user from the point's number, its coordinates, colour
// channels and intensity, each variable transformed by one operation with a
// constant, joined by a chosen separator. The definition lives in an INI
// file between runs.
#include "core/exchange/MergeExport.h"

#include <string>

class CScanPos;
class IProgressSink;
class vtkPolyData;

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

// The points of a model and the offset that puts them in the frame of its
// offset file (document offset + model offset).
struct AsciiSource {
    vtkPolyData* data = nullptr;
    double offset[3] = {0, 0, 0};
};
// Its full level; data is null when the model has none.
AsciiSource AsciiSourceOf(const CScanPos& model);

// "Division by 0 impossible for X coordinate" and its six siblings.
const char* DivisionByZeroMessage(int variable);

// Writes the file through a temporary name beside `path`, renamed over it
// only when complete. A division by zero in a written column is Refused
// with its message in `why`, before anything is created.
ExportResult WriteAsciiExport(const AsciiSource& source, const AsciiDefinition& definition, const std::string& path,
                              IProgressSink* sink, std::string* why = nullptr);

// The first lines (at most five) as the simulation shows them: intensity
// without the factor 255. False with the division message in `why`.
bool SimulateAsciiExport(const AsciiSource& source, const AsciiDefinition& definition, std::string* text,
                         std::string* why = nullptr);

// The same file built with snprintf column by column and written with
// fputs, as a reference for tests and benchmarks; no temporary file.
bool WriteAsciiExportPlain(const AsciiSource& source, const AsciiDefinition& definition, const std::string& path);

} // namespace exchange
