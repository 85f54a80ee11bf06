#pragma once
// The configurable text export of one model: one line per point, columns
// composed by the user from the point's number, its coordinates, colour
// channels and intensity, each variable transformed by one operation with a
// constant, joined by a chosen separator.
#include "core/exchange/AsciiDefinition.h"
#include "core/exchange/MergeExport.h"

#include <string>
#include <vector>

class CScanPos;
class IProgressSink;
class vtkPolyData;

namespace exchange {

// The points of a model and the offset that puts them in the frame of its
// offset file (document offset + model offset).
struct AsciiSource {
    vtkPolyData* data = nullptr;
    double offset[3] = {0, 0, 0};
    std::vector<std::string> files; // what it was read from: never an output
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

// The first lines (at most five) as the simulation shows them: the same
// lines the file gets. False with the division message in `why`.
bool SimulateAsciiExport(const AsciiSource& source, const AsciiDefinition& definition, std::string* text,
                         std::string* why = nullptr);

// The same file built with snprintf column by column and written with
// fputs, as a reference for tests and benchmarks; no temporary file.
bool WriteAsciiExportPlain(const AsciiSource& source, const AsciiDefinition& definition, const std::string& path);

} // namespace exchange
