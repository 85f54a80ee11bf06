#pragma once
// Small model files and companion files made on the fly for the tests.
#include <cstdint>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// While it lives, this process cannot write files beyond `bytes` (writes
// fail with EFBIG): a failing disk that even root meets.
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long m_soft, m_hard;
    void (*m_handler)(int);
};

// The names in `folder`, sorted.
std::vector<std::string> Names(const std::string& folder);
// Whether a temporary file ("...~") is left in `folder`.
bool HasTemporary(const std::string& folder);

struct ArrayShape {
    std::string name;
    int components = 1;
    enum Type { UChar, Float } type = Float;
    // Value of component c of point i; the default makes a ramp.
    double (*value)(long i, int c) = nullptr;
};

struct ModelShape {
    int nx = 20, ny = 10;       // grid of points (1 m spacing)
    bool triangles = true;      // two per grid cell; otherwise vertex cells
    std::vector<ArrayShape> arrays;
    bool legacy = false;        // legacy .vtk writer instead of XML
    double (*z)(int i, int j) = nullptr; // height of grid point (i, j); a small ripple by default
    double spacing = 1.0;       // grid spacing in x and y
};

// Writes the model; the format follows ModelShape::legacy.
void WriteModel(const std::string& path, const ModelShape& shape);
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);
bool FileExists(const std::string& path);

// Common arrays.
ArrayShape RgbArray(const std::string& name = "RGB");
ArrayShape IntensityArray(const std::string& name = "Intensity", double lo = 10.0, double hi = 200.0);
ArrayShape ConstantArray(const std::string& name, double value);
ArrayShape TextureArray(const std::string& name = "Texture");

// LAS files as the ASPRS layout has them, for any version and point format.
struct LasPoint {
    int32_t x, y, z;
    uint16_t intensity;
    uint16_t r, g, b;
};
struct LasFile {
    int minor = 2;
    int format = 2;
    double scale[3] = {0.001, 0.001, 0.001};
    double offset[3] = {512000.0, 5400000.0, 300.0};
    unsigned extraBytes = 0;
    std::vector<LasPoint> points;
};
std::string LasBytes(const LasFile& file);

// Writes a small JPEG (or other format, by extension) for texture tests.
void WriteImage(const std::string& path, int width = 16, int height = 8);

#include "core/common/ProgressSink.h"

class CScanPos;
class vtkProperty;
class vtkTexture;

// The property and texture of one level of a model's actor.
vtkProperty* Level(CScanPos* model, int levelId);
vtkTexture* LevelTexture(CScanPos* model, int levelId);

// A progress sink that presses Abort as soon as a given stage starts and
// records every stage text it was shown.
class AbortAtStage : public IProgressSink {
public:
    explicit AbortAtStage(std::string stage, std::vector<std::string>* log = nullptr)
        : m_stage(std::move(stage)), m_log(log) {}
    bool SetText(const std::string& text) override
    {
        if (m_log)
            m_log->push_back(text);
        if (text == m_stage)
            m_aborted = true;
        return true;
    }
    void SetFraction(double) override {}
    bool IsAborted() const override { return m_aborted; }

private:
    std::string m_stage;
    std::vector<std::string>* m_log;
    bool m_aborted = false;
};
