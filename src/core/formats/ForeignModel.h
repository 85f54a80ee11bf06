#pragma once
// Scan formats of other programs opened as models: LAS, PLY, PTS, OBJ and
// STL. Each reader gives what a model file and its offset file give: poly
// data in coordinates relative to an offset, the offset, and the point
// arrays the colouring knows ("RGB", "Intensity").
#include <vtkSmartPointer.h>

#include <string>

class IProgressSink;
class vtkPolyData;

namespace foreign {

enum class Result { Ok, Failed, Aborted };

struct Model {
    vtkSmartPointer<vtkPolyData> data;
    double offset[3] = {0.0, 0.0, 0.0};
};

// ".las", ".laz", ".ply", ".pts", ".obj" or ".stl" (lower case).
bool IsForeignExtension(const std::string& lowerExtension);
// "LAS, PLY, PTS, OBJ, STL": for messages and help texts.
const char* FormatNames();

// By the file's extension (any case). `sink` may be none; Abort is
// honoured between chunks. On failure `why` says what is wrong.
Result Read(const std::string& path, Model& out, IProgressSink* sink, std::string* why);

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

} // namespace foreign
