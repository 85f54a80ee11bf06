#pragma once
// Stored measures: named lists of picked points kept in one text file beside
// the document's file ("site4.mvtp" -> "site4.msr"). The file: a count line,
// then per measure its name, its count of point lines and the point lines
// "Id;x;y;z", every line ended by CR LF.
#include <map>
#include <string>
#include <vector>

namespace measure {

// Name -> point lines, each ended by one line feed. Names are compared
// case-sensitively; the map's order is the file's order.
using MeasureMap = std::map<std::string, std::string>;

struct MeasurePointsData {
    int nId = 0;
    double x = 0, y = 0, z = 0;
};

// The measure file of a document: its folder and base name with ".msr";
// ".msr" alone for a document without a path.
std::string MeasureFilePath(const std::string& documentPath);

// A measure the file holds only in part, or bytes that are no measure
// (`name` empty): what was dropped or guessed, said once.
struct MeasureDamage {
    std::string name;
    std::string why;
};

// Adds the file's measures to `measures` (entries of the same name are
// replaced, others kept). A missing file adds nothing and is no failure.
// Lines are read whole; counts larger than the lines that follow end at the
// end of the file. A measure cut short keeps its whole point lines and is
// named in `damaged`, as are measures the count promises but the file
// lacks and bytes after the last measure. False, with the reason, when the
// file cannot be read.
bool ReadMeasureFile(const std::string& path, MeasureMap& measures, std::string* why = nullptr,
                     std::vector<MeasureDamage>* damaged = nullptr);

// Whether a name can be stored: a line break would split the file.
bool IsStorableName(const std::string& name);

// Writes every measure into a new file beside `path` and renames it over
// the old one only when the whole write succeeded, so a failure leaves the
// stored measures as they were. A name that is not storable fails it
// before anything is written. False, with the reason, on failure.
bool WriteMeasureFile(const std::string& path, const MeasureMap& measures, std::string* why = nullptr);

// The point line of one list row: "Id;x;y;z" from the column texts.
std::string PointLine(const std::string& id, const std::string& x, const std::string& y, const std::string& z);

// Parses a measure's point lines (Id through the integer check, x, y, z
// through the number check) and sorts them by Id. False, with the line that
// failed, when any line does not pass: a damaged measure is refused whole.
bool ParseMeasure(const std::string& text, std::vector<MeasurePointsData>& points, std::string* why = nullptr);

// Number of point lines of a measure's text (its line feeds).
int PointCount(const std::string& text);

} // namespace measure
