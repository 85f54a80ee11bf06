// PTS text clouds: a line with the number of points, then one point per
// line, "X Y Z", "X Y Z I", "X Y Z R G B" or "X Y Z I R G B" (intensity
// from -2048 to 2047, colours 0 to 255). Several scans may follow one
// another, each after its own count line.
#include "core/formats/CloudData.h"
#include "core/formats/ForeignModel.h"
#include "core/formats/XyzReader.h"
#include "core/common/LargeBuffer.h"
#include "core/common/ProgressSink.h"

#include <vtkPolyData.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace foreign {

namespace {

// Arrays that grow as lines arrive; handed to the poly data at the end.
class Growing {
public:
    ~Growing()
    {
        std::free(m_a.points);
        std::free(m_a.rgb);
        std::free(m_a.intensity);
    }
    bool Start(bool rgb, bool intensity, size_t reserve)
    {
        m_rgb = rgb;
        m_intensity = intensity;
        return Resize(std::max<size_t>(1024, reserve));
    }
    bool Add(const double* v, int values)
    {
        if (m_count == m_capacity && !Resize(m_capacity + m_capacity / 2))
            return false;
        double* p = m_a.points + 3 * m_count;
        p[0] = v[0], p[1] = v[1], p[2] = v[2];
        if (m_intensity)
            m_a.intensity[m_count] = static_cast<float>(v[3]);
        if (m_rgb) {
            const double* c = v + (values == 7 ? 4 : 3);
            unsigned char* out = m_a.rgb + 3 * m_count;
            for (int k = 0; k < 3; ++k) // whatever is written, 0..255
                out[k] = static_cast<unsigned char>(c[k] >= 255.0 ? 255 : c[k] > 0.0 ? static_cast<int>(c[k]) : 0);
        }
        ++m_count;
        return true;
    }
    size_t Count() const { return m_count; }
    double* Points() { return m_a.points; }
    // The arrays leave with the poly data.
    vtkSmartPointer<vtkPolyData> Release()
    {
        const clouddata::Arrays a = m_a;
        m_a = clouddata::Arrays();
        return clouddata::Adopt(m_count, a);
    }

private:
    bool Resize(size_t capacity)
    {
        auto grow = [](auto*& p, size_t count) {
            void* q = largebuf::Reallocate(p, count * sizeof(*p));
            if (!q)
                return false;
            p = static_cast<std::remove_reference_t<decltype(p)>>(q);
            return true;
        };
        if (!grow(m_a.points, 3 * capacity) || (m_rgb && !grow(m_a.rgb, 3 * capacity)) ||
            (m_intensity && !grow(m_a.intensity, capacity)))
            return false;
        m_capacity = capacity;
        return true;
    }
    clouddata::Arrays m_a;
    bool m_rgb = false, m_intensity = false;
    size_t m_count = 0, m_capacity = 0;
};

// Numbers of one line; at most 8 are looked at. -1 when something else
// than a number is on it.
int LineNumbers(const char* p, const char* end, double v[8])
{
    int n = 0;
    while (true) {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == ','))
            ++p;
        if (p >= end)
            return n;
        if (n == 8)
            return -1;
        double value;
        if (!xyz::ReadNumber(p, end, value))
            return -1;
        if (p < end && !(*p == ' ' || *p == '\t' || *p == '\r' || *p == ','))
            return -1;
        v[n++] = value;
    }
}

bool IsCount(const double* v, int n) { return n == 1 && v[0] >= 0 && v[0] == std::floor(v[0]); }

} // namespace

Result ReadPts(const std::string& path, Model& out, IProgressSink* sink, std::string* why)
{
    auto fail = [why](const std::string& reason) { return Failed(why, reason); };
    InputFile file;
    const std::string unreadable = file.Open(path);
    if (!unreadable.empty())
        return fail(unreadable);
    const double size = static_cast<double>(file.Size());

    constexpr size_t kBlock = size_t(8) << 20;
    constexpr size_t kLongestLine = size_t(64) << 10;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kBlock]);
    if (!buffer)
        return fail("not enough memory");
    size_t fill = 0;
    bool eof = false;
    double consumed = 0;
    long long lineNo = 0;
    int layout = 0; // values per point, from the first point line
    Growing cloud;
    while (!eof || fill > 0) {
        if (!eof && fill < kBlock) {
            const ssize_t n = ::read(file.Fd(), buffer.get() + fill, kBlock - fill);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return fail(std::string("cannot read the file: ") + std::strerror(errno));
            if (n == 0)
                eof = true;
            fill += static_cast<size_t>(n);
        }
        const char* p = buffer.get();
        const char* end = p + fill;
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            if (!nl && !eof)
                break; // the rest of this line comes with the next read
            const char* lineEnd = nl ? nl : end;
            ++lineNo;
            double v[8];
            const int n = LineNumbers(p, lineEnd, v);
            p = nl ? nl + 1 : end;
            if (n == 0)
                continue;
            if (n < 0)
                return fail("line " + std::to_string(lineNo) + " is not a line of numbers");
            if (IsCount(v, n))
                continue; // a scan's point count: the arrays grow as the points come

            if (layout == 0) {
                if (n != 3 && n != 4 && n != 6 && n != 7)
                    return fail("line " + std::to_string(lineNo) + ": a point has 3, 4, 6 or 7 numbers, not " +
                                std::to_string(n));
                layout = n;
                if (!cloud.Start(n == 6 || n == 7, n == 4 || n == 7, static_cast<size_t>(size / 24.0)))
                    return fail("not enough memory");
            } else if (n != layout) {
                return fail("line " + std::to_string(lineNo) + " has " + std::to_string(n) + " numbers where the points have " +
                            std::to_string(layout));
            }
            if (!cloud.Add(v, n))
                return fail("not enough memory for " + std::to_string(cloud.Count()) + " points");
        }
        const size_t used = static_cast<size_t>(p - buffer.get());
        if (fill - used > kLongestLine)
            return fail("line " + std::to_string(lineNo + 1) + " is too long");
        consumed += static_cast<double>(used);
        std::memmove(buffer.get(), p, fill - used);
        fill -= used;
        if (eof && fill == 0)
            break;
        if (ProgressCheckpoint(sink, consumed, size))
            return Result::Aborted;
    }
    if (cloud.Count() == 0)
        return fail("the file holds no points");
    double centre[3];
    if (!clouddata::BoundsCentre(cloud.Points(), cloud.Count(), centre, true))
        return fail("the coordinates are not finite numbers");
    clouddata::Subtract(cloud.Points(), cloud.Count(), centre);
    const size_t n = cloud.Count();
    vtkSmartPointer<vtkPolyData> data = cloud.Release();
    if (!data || !clouddata::AddVertexCells(data))
        return fail("not enough memory for " + std::to_string(n) + " points");
    for (int k = 0; k < 3; ++k)
        out.offset[k] = centre[k];
    out.data = data;
    return Result::Ok;
}

} // namespace foreign
