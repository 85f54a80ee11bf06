// Wavefront OBJ meshes. Our own reader: VTK's refuses lines longer than
// 256 KiB even when they are comments, and wraps face indexes beyond 32
// bits around to small ones, so a damaged face became a wrong one.
#include "core/formats/CloudData.h"
#include "core/formats/ForeignModel.h"
#include "core/formats/XyzReader.h"
#include "core/common/ProgressSink.h"

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkUnsignedCharArray.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace foreign {

namespace {

// Lines of the file one at a time, from a fixed buffer: a line the reader
// needs must fit it; any other line is passed over whatever its length.
class Lines {
public:
    explicit Lines(int fd) : m_fd(fd), m_data(new char[kSize]) {}
    // The next line (without its end) in [begin, end); false at the end of
    // the file. `skip(first)` says from its first character whether the
    // line is not needed: such a line is passed over without being held.
    template <typename Skip> bool Next(const char*& begin, const char*& end, Skip&& skip)
    {
        for (;;) {
            ++m_line;
            if (!Fill())
                return false;
            const char first = m_data[m_pos];
            if (skip(first)) {
                if (!SkipLine())
                    return false;
                continue;
            }
            for (;;) {
                char* nl = static_cast<char*>(std::memchr(m_data.get() + m_pos, '\n', m_end - m_pos));
                if (nl) {
                    begin = m_data.get() + m_pos;
                    end = nl;
                    m_pos = static_cast<size_t>(nl - m_data.get()) + 1;
                    return true;
                }
                if (m_eof) { // the last line has no line end
                    begin = m_data.get() + m_pos;
                    end = m_data.get() + m_end;
                    m_pos = m_end;
                    return true;
                }
                if (m_pos == 0 && m_end == kSize) {
                    m_tooLong = true;
                    return false;
                }
                if (!Read())
                    return false;
            }
        }
    }
    long long LineNumber() const { return m_line; }
    bool TooLong() const { return m_tooLong; }
    const std::string& Error() const { return m_error; }
    unsigned long long Consumed() const { return m_consumed; }

private:
    // At least one byte ready; false at the end or on an error.
    bool Fill()
    {
        while (m_pos >= m_end) {
            if (m_eof)
                return false;
            if (!Read())
                return false;
        }
        return true;
    }
    bool SkipLine()
    {
        for (;;) {
            char* nl = static_cast<char*>(std::memchr(m_data.get() + m_pos, '\n', m_end - m_pos));
            if (nl) {
                m_pos = static_cast<size_t>(nl - m_data.get()) + 1;
                return true;
            }
            m_pos = m_end;
            if (m_eof)
                return true;
            if (!Read())
                return m_error.empty();
        }
    }
    // Moves what is left to the front and reads more behind it.
    bool Read()
    {
        if (m_pos > 0) {
            std::memmove(m_data.get(), m_data.get() + m_pos, m_end - m_pos);
            m_end -= m_pos;
            m_pos = 0;
        }
        for (;;) {
            const ssize_t n = ::read(m_fd, m_data.get() + m_end, kSize - m_end);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                m_error = std::string("cannot read the file: ") + std::strerror(errno);
                return false;
            }
            if (n == 0)
                m_eof = true;
            m_end += static_cast<size_t>(n);
            m_consumed += static_cast<unsigned long long>(n);
            return true;
        }
    }

    static constexpr size_t kSize = 4u << 20;
    int m_fd;
    std::unique_ptr<char[]> m_data;
    size_t m_pos = 0, m_end = 0;
    bool m_eof = false, m_tooLong = false;
    long long m_line = 0;
    unsigned long long m_consumed = 0;
    std::string m_error;
};

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// One index of a face corner: 1-based, or negative counting back from the
// last element read. 0 when absent (an empty field of "1//3").
enum class Index { Ok, Absent, Bad };
Index ReadIndex(const char*& p, const char* end, long long count, long long& out)
{
    if (p >= end || *p == '/' || Blank(*p)) {
        out = -1;
        return Index::Absent;
    }
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    if (p >= end || *p < '0' || *p > '9')
        return Index::Bad;
    unsigned long long v = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (v > (ULLONG_MAX - 9) / 10)
            return Index::Bad;
        v = v * 10 + static_cast<unsigned>(*p - '0');
    }
    if (v == 0 || v > static_cast<unsigned long long>(count))
        return Index::Bad;
    out = negative ? count - static_cast<long long>(v) : static_cast<long long>(v) - 1;
    return Index::Ok;
}

struct Mesh {
    std::vector<double> v;       // x y z
    std::vector<float> colour;   // r g b in [0, 1], when the vertices carry them
    std::vector<float> vt, vn;   // u v, nx ny nz
    bool coloured = true;
    std::vector<vtkIdType> polyIds, polyOffsets{0}, lineIds, lineOffsets{0}, vertIds, vertOffsets{0};
    // Per point: the texture and normal indexes it carries; points whose
    // corners differ are repeated.
    std::vector<std::pair<long long, long long>> attribute;
    std::map<std::tuple<long long, long long, long long>, vtkIdType> repeated;
    std::vector<long long> source; // the vertex each repeated point copies
};

vtkIdType PointFor(Mesh& m, long long v, long long t, long long n)
{
    const std::pair<long long, long long> want(t, n);
    std::pair<long long, long long>& has = m.attribute[static_cast<size_t>(v)];
    if (has == want || want == std::make_pair(-1LL, -1LL))
        return static_cast<vtkIdType>(v);
    if (has == std::make_pair(-1LL, -1LL)) {
        has = want;
        return static_cast<vtkIdType>(v);
    }
    const auto key = std::make_tuple(v, t, n);
    const auto found = m.repeated.find(key);
    if (found != m.repeated.end())
        return found->second;
    const vtkIdType id = static_cast<vtkIdType>(m.attribute.size());
    m.attribute.push_back(want);
    m.source.push_back(v);
    m.repeated.emplace(key, id);
    return id;
}

} // namespace

Result ReadObj(const std::string& path, Model& out, IProgressSink* sink, std::string* why)
{
    InputFile file;
    const std::string problem = file.Open(path);
    if (!problem.empty())
        return Failed(why, problem);
    Lines lines(file.Fd());
    Mesh m;
    const char* begin = nullptr;
    const char* end = nullptr;
    // Only vertices ("v", "vt", "vn"), faces, lines and points are read.
    auto skip = [](char c) { return c != 'v' && c != 'f' && c != 'l' && c != 'p' && !Blank(c); };
    auto at = [&](const std::string& what) {
        return Failed(why, "line " + std::to_string(lines.LineNumber()) + ": " + what);
    };
    while (lines.Next(begin, end, skip)) {
        if ((lines.LineNumber() & 65535) == 0 &&
            ProgressCheckpoint(sink, static_cast<double>(lines.Consumed()), static_cast<double>(file.Size()) + 1))
            return Result::Aborted;
        const char* p = begin;
        while (p < end && Blank(*p))
            ++p;
        const char* word = p;
        while (p < end && !Blank(*p))
            ++p;
        const std::string key(word, static_cast<size_t>(p - word));
        if (key == "v") {
            double xyz[3];
            for (double& c : xyz)
                if (!xyz::ReadNumber(p, end, c))
                    return at("a vertex without three numbers");
            m.v.insert(m.v.end(), xyz, xyz + 3);
            m.attribute.emplace_back(-1, -1);
            double rgb[3];
            const bool hasColour = xyz::ReadNumber(p, end, rgb[0]) && xyz::ReadNumber(p, end, rgb[1]) &&
                                   xyz::ReadNumber(p, end, rgb[2]);
            m.coloured = m.coloured && hasColour;
            if (m.coloured)
                for (double c : rgb)
                    m.colour.push_back(static_cast<float>(c));
        } else if (key == "vt") {
            double uv[2] = {0, 0};
            if (!xyz::ReadNumber(p, end, uv[0]))
                return at("a texture coordinate without a number");
            xyz::ReadNumber(p, end, uv[1]);
            m.vt.push_back(static_cast<float>(uv[0]));
            m.vt.push_back(static_cast<float>(uv[1]));
        } else if (key == "vn") {
            double n[3];
            for (double& c : n)
                if (!xyz::ReadNumber(p, end, c))
                    return at("a normal without three numbers");
            for (double c : n)
                m.vn.push_back(static_cast<float>(c));
        } else if (key == "f" || key == "l" || key == "p") {
            std::vector<vtkIdType>& ids = key == "f" ? m.polyIds : key == "l" ? m.lineIds : m.vertIds;
            std::vector<vtkIdType>& offsets = key == "f" ? m.polyOffsets : key == "l" ? m.lineOffsets : m.vertOffsets;
            const size_t first = ids.size();
            const long long vertices = static_cast<long long>(m.v.size() / 3);
            for (;;) {
                while (p < end && Blank(*p))
                    ++p;
                if (p >= end)
                    break;
                long long v = -1, t = -1, n = -1;
                if (ReadIndex(p, end, vertices, v) != Index::Ok)
                    return at("a corner refers to a vertex that does not exist (the file has " +
                              std::to_string(vertices) + " so far)");
                if (p < end && *p == '/') {
                    ++p;
                    if (ReadIndex(p, end, static_cast<long long>(m.vt.size() / 2), t) == Index::Bad)
                        return at("a corner refers to a texture coordinate that does not exist");
                    if (p < end && *p == '/') {
                        ++p;
                        if (ReadIndex(p, end, static_cast<long long>(m.vn.size() / 3), n) == Index::Bad)
                            return at("a corner refers to a normal that does not exist");
                    }
                }
                if (p < end && !Blank(*p))
                    return at("a corner that is not an index");
                ids.push_back(PointFor(m, v, t, n));
            }
            const size_t corners = ids.size() - first;
            if (corners < (key == "f" ? 3u : 1u)) {
                ids.resize(first); // a degenerate face draws nothing
                continue;
            }
            offsets.push_back(static_cast<vtkIdType>(ids.size()));
        }
    }
    if (lines.TooLong())
        return at("a vertex or face line longer than 4 MiB");
    if (!lines.Error().empty())
        return Failed(why, lines.Error());
    const size_t n = m.attribute.size();
    if (m.v.empty())
        return Failed(why, "the file holds no points");

    // Repeated points copy their vertex; all are relative to the box centre.
    vtkNew<vtkDoubleArray> coords;
    coords->SetNumberOfComponents(3);
    coords->SetNumberOfTuples(static_cast<vtkIdType>(n));
    double* xyz = coords->GetPointer(0);
    std::memcpy(xyz, m.v.data(), m.v.size() * sizeof(double));
    const size_t own = m.v.size() / 3;
    for (size_t i = own; i < n; ++i)
        std::memcpy(xyz + 3 * i, m.v.data() + 3 * m.source[i - own], 3 * sizeof(double));
    double centre[3];
    if (!clouddata::BoundsCentre(xyz, n, centre, true))
        return Failed(why, "the coordinates are not finite numbers");
    clouddata::Subtract(xyz, n, centre);

    auto data = vtkSmartPointer<vtkPolyData>::New();
    vtkNew<vtkPoints> points;
    points->SetData(coords);
    data->SetPoints(points);
    auto vertexOf = [&](size_t i) { return i < own ? i : static_cast<size_t>(m.source[i - own]); };
    if (m.coloured && !m.colour.empty()) {
        // Colours of 0..1 as the other formats' 0..255.
        bool unit = true;
        for (float c : m.colour)
            unit = unit && c <= 1.0f;
        vtkNew<vtkUnsignedCharArray> rgb;
        rgb->SetName("RGB");
        rgb->SetNumberOfComponents(3);
        rgb->SetNumberOfTuples(static_cast<vtkIdType>(n));
        for (size_t i = 0; i < n; ++i)
            for (int c = 0; c < 3; ++c) {
                const float v = m.colour[3 * vertexOf(i) + c] * (unit ? 255.0f : 1.0f);
                rgb->SetValue(static_cast<vtkIdType>(3 * i + c),
                              static_cast<unsigned char>(v <= 0 || std::isnan(v) ? 0 : v >= 255 ? 255 : std::lround(v)));
            }
        data->GetPointData()->AddArray(rgb);
    }
    bool textured = false, normals = false;
    for (const auto& a : m.attribute)
        textured = textured || a.first >= 0, normals = normals || a.second >= 0;
    // Per point the values of its texture or normal index; 0 without one.
    auto perPoint = [&](const char* name, int components, const std::vector<float>& values, bool texture) {
        auto a = vtkSmartPointer<vtkFloatArray>::New();
        a->SetName(name);
        a->SetNumberOfComponents(components);
        a->SetNumberOfTuples(static_cast<vtkIdType>(n));
        for (size_t i = 0; i < n; ++i) {
            const long long k = texture ? m.attribute[i].first : m.attribute[i].second;
            for (int c = 0; c < components; ++c)
                a->SetValue(static_cast<vtkIdType>(components * i + c), k >= 0 ? values[components * k + c] : 0.0f);
        }
        return a;
    };
    if (textured)
        data->GetPointData()->SetTCoords(perPoint("TCoords", 2, m.vt, true));
    if (normals)
        data->GetPointData()->SetNormals(perPoint("Normals", 3, m.vn, false));
    auto cells = [](const std::vector<vtkIdType>& offsets, const std::vector<vtkIdType>& ids) {
        vtkNew<vtkIdTypeArray> o, c;
        o->SetNumberOfValues(static_cast<vtkIdType>(offsets.size()));
        std::copy(offsets.begin(), offsets.end(), o->GetPointer(0));
        c->SetNumberOfValues(static_cast<vtkIdType>(ids.size()));
        std::copy(ids.begin(), ids.end(), c->GetPointer(0));
        vtkNew<vtkCellArray> a;
        a->SetData(o, c);
        return vtkSmartPointer<vtkCellArray>(a.Get());
    };
    if (m.polyOffsets.size() > 1)
        data->SetPolys(cells(m.polyOffsets, m.polyIds));
    if (m.lineOffsets.size() > 1)
        data->SetLines(cells(m.lineOffsets, m.lineIds));
    if (m.vertOffsets.size() > 1)
        data->SetVerts(cells(m.vertOffsets, m.vertIds));
    if (data->GetNumberOfCells() == 0 && !clouddata::AddVertexCells(data))
        return Failed(why, "not enough memory for the vertex cells");
    for (int k = 0; k < 3; ++k)
        out.offset[k] = centre[k];
    out.data = data;
    return Result::Ok;
}

} // namespace foreign
