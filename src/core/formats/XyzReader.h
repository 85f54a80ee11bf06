#pragma once
// Reads a plain-text XYZ file into arrays, exactly as the format's scanf
// loop would (see XyzFormat.h), but an order of magnitude faster: numbers
// in their plain forms are parsed directly, anything unusual on a line is
// handed to sscanf itself, so both always agree.
#include <cstddef>
#include <string>

class IProgressSink;

namespace xyz {

// The converted points and attributes, in malloc'd buffers whose ownership
// can be handed on (Release*) without copying.
class Cloud {
public:
    Cloud() = default;
    ~Cloud();
    Cloud(const Cloud&) = delete;
    Cloud& operator=(const Cloud&) = delete;

    int Code() const { return m_code; }
    size_t Count() const { return m_count; }
    const double* Points() const { return m_points; }           // 3 per point
    const unsigned char* Colours() const { return m_rgb; }      // 3 per point, or none
    const float* Intensities() const { return m_intensity; }    // 1 per point, or none
    double* MutablePoints() { return m_points; }

    double* ReleasePoints();
    unsigned char* ReleaseColours();
    float* ReleaseIntensities();

    // Used by readers.
    bool Start(int code, size_t expected);
    bool Append(const double values[7]);
    size_t Capacity() const { return m_capacity; }
    // A second reader fills the upper part of the arrays: the values of one
    // line at `index` (below Capacity()), not counted yet...
    void StoreAt(size_t index, const double values[7]);
    // ...and then moves `n` of them from `from` to follow the counted ones.
    void TakeFrom(size_t from, size_t n);
    // Forgets the points read so far (the arrays stay).
    void Restart() { m_count = 0; }

private:
    bool Reserve(size_t points);
    bool Grow();
    int m_code = -1;
    bool m_integerColour = false;
    bool m_integerIntensity = false;
    int m_intensityAt = 3;
    size_t m_count = 0;
    size_t m_capacity = 0;
    double* m_points = nullptr;
    unsigned char* m_rgb = nullptr;
    float* m_intensity = nullptr;
};

enum class ReadResult { Ok, CannotOpen, BadFirstLine, Aborted, OutOfMemory };

struct ReadInfo {
    bool header = false;
    long long estimate = 0;   // estimated number of lines
    char separator = 0;
    std::string format;       // the scanf format of the layout
};

// `sink` may be none. Progress is reported only when the whole percentage
// changes; Abort stops the reading.
ReadResult ReadCloud(const std::string& path, Cloud& cloud, IProgressSink* sink, ReadInfo* info = nullptr);

// Files at least this large are read by two threads, each half of it
// (the second half from the first line end after the middle). For tests.
void SetTwoReaderThreshold(long long bytes);
// How many threads the last successful read of this process used.
int ReadersOfLastRead();

// Scans one line (a C string) with the layout's format as sscanf would:
// the number of values read, the values as doubles (integers converted).
int ScanLine(const char* line, int code, char separator, double values[7]);

// One number at `p` (blanks before it skipped) as strtod reads it in the C
// locale; `p` moves past it. False when there is none before `end`.
bool ReadNumber(const char*& p, const char* end, double& value);

} // namespace xyz
