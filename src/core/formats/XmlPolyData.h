#pragma once
// Our model files (VTK's XML poly data, .vtp) read on every core: the file
// is mapped, its XML is scanned once, and every block of every array is
// decoded (base64) and inflated by a worker straight into the array the
// model keeps. Layouts this reader does not take (ASCII data, other
// compressors, several pieces, field data, string or bit arrays, big-endian
// files) are reported as Unsupported, for VTK's own reader to read.
#include <functional>
#include <string>

class vtkPolyData;

namespace xmlpoly {

enum class Outcome { Read, Unsupported, Failed, Aborted };

struct Options {
    unsigned threads = 0; // 0: every core
    // Called on the calling thread with the fraction done; false aborts.
    std::function<bool(double)> progress;
    // A cloud whose vertex cells are one per point, in order, is read
    // without them (they are checked, not kept): `*implicitVertices` says
    // so. Other cells are read as they are.
    bool dropOneVertexPerPoint = false;
    bool* implicitVertices = nullptr;
};

// Reads `path` into `out` (cleared first). On Failed, `why` says what is
// wrong; on Unsupported, what the reader does not take.
Outcome Read(const std::string& path, vtkPolyData* out, std::string* why, const Options& options = {});

} // namespace xmlpoly
