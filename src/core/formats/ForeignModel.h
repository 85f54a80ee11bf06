#pragma once
// Scan formats of other programs opened as models: LAS, PLY, PTS, OBJ and
// STL. Each reader gives what a model file and its offset file give: poly
// data in coordinates relative to an offset, the offset, and the point
// arrays the colouring knows ("RGB", "Intensity").
#include <vtkSmartPointer.h>

#include <string>
#include <vector>

class IProgressSink;
class vtkPolyData;

namespace foreign {

enum class Result { Ok, Failed, Aborted };

struct Model {
    vtkSmartPointer<vtkPolyData> data;
    double offset[3] = {0.0, 0.0, 0.0};
    // Read, but not whole (a scan cut short): what the user should be told.
    std::string warning;
};

// A scan of a file that holds several (E57, PTX): each becomes a model.
struct ScanEntry {
    std::string name; // the file's name for it, "Scan N" without one
    std::string guid;
    unsigned long long points = 0; // as declared
};

// ".las", ".laz", ".ply", ".pts", ".obj", ".stl", ".e57" or ".ptx" (lower case).
bool IsForeignExtension(const std::string& lowerExtension);
// "LAS, PLY, PTS, OBJ, STL, E57, PTX": for messages and help texts.
const char* FormatNames();
// ".e57" and ".ptx": files of several scans.
bool HoldsScans(const std::string& lowerExtension);

// By the file's extension (any case). `sink` may be none; Abort is
// honoured between chunks. On failure `why` says what is wrong. A file of
// several scans reads here only when it holds one.
Result Read(const std::string& path, Model& out, IProgressSink* sink, std::string* why);

// The scans of an E57 or PTX file (`images`: the E57 images it holds).
Result ListScans(const std::string& path, std::vector<ScanEntry>& scans, std::string* why, size_t* images = nullptr);
// Scan `index` (from 0) of such a file.
Result ReadScan(const std::string& path, size_t index, Model& out, IProgressSink* sink, std::string* why);

// What the readers share: a regular file opened for reading (closed with
// the object), and the failure with its reason.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    // Empty when open, otherwise why not.
    std::string Open(const std::string& path);
    int Fd() const { return m_fd; }
    // The whole file into `bytes`; empty when read, otherwise why not.
    std::string ReadAll(std::string& bytes) const;
    // Exactly `size` bytes from `at`; false when the file ends first or
    // cannot be read.
    bool ReadAt(void* out, size_t size, unsigned long long at) const;
    unsigned long long Size() const { return m_size; }

private:
    int m_fd = -1;
    unsigned long long m_size = 0;
};
Result Failed(std::string* why, const std::string& reason);

// The single readers.
Result ReadLas(const std::string& path, Model& out, IProgressSink* sink, std::string* why);
Result ReadPly(const std::string& path, Model& out, IProgressSink* sink, std::string* why);
Result ReadPts(const std::string& path, Model& out, IProgressSink* sink, std::string* why);
Result ReadStl(const std::string& path, Model& out, IProgressSink* sink, std::string* why);
Result ReadObj(const std::string& path, Model& out, IProgressSink* sink, std::string* why);
Result ReadE57Scan(const std::string& path, size_t index, Model& out, IProgressSink* sink, std::string* why);
Result ListPtxScans(const std::string& path, std::vector<ScanEntry>& scans, std::string* why);
Result ReadPtxScan(const std::string& path, size_t index, Model& out, IProgressSink* sink, std::string* why);

} // namespace foreign
