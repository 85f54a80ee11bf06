// STL meshes, binary and ASCII. Our own reader: VTK's takes some text-like
// files for binary and then allocates whatever triangle count bytes 80 to
// 83 happen to spell, gigabytes from a hundred-byte file.
#include "core/formats/CloudData.h"
#include "core/formats/ForeignModel.h"
#include "core/formats/XyzReader.h"
#include "core/common/ProgressSink.h"

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkIdTypeArray.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unordered_map>
#include <vector>

namespace foreign {

namespace {

// Corners shared by triangles become one point, as VTK's reader merges them.
class Corners {
public:
    vtkIdType Add(const double p[3])
    {
        std::array<uint64_t, 3> key;
        for (int k = 0; k < 3; ++k) {
            const double v = p[k] == 0.0 ? 0.0 : p[k]; // -0 and 0 are one corner
            std::memcpy(&key[k], &v, sizeof v);
        }
        const auto found = m_ids.emplace(key, static_cast<vtkIdType>(m_points.size() / 3));
        if (found.second)
            m_points.insert(m_points.end(), p, p + 3);
        return found.first->second;
    }
    std::vector<double>& Points() { return m_points; }

private:
    struct Hash {
        size_t operator()(const std::array<uint64_t, 3>& k) const
        {
            return std::hash<uint64_t>()(k[0] * 0x9E3779B97F4A7C15ull ^ (k[1] + 0x632BE59BD9B4E019ull) * 31 ^ k[2]);
        }
    };
    std::unordered_map<std::array<uint64_t, 3>, vtkIdType, Hash> m_ids;
    std::vector<double> m_points;
};

float LittleFloat(const unsigned char* p)
{
    const uint32_t bits = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                          (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Every "vertex X Y Z" line of the text, three to a triangle. Only a line
// that starts with the keyword counts: names ("solid vertex_colors") are
// free text.
std::string ReadText(const std::string& text, Corners& corners, std::vector<vtkIdType>& ids)
{
    const char* p = text.data();
    const char* end = p + text.size();
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; };
    // The first line is "solid NAME".
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    p = nl ? nl + 1 : end;
    while (p < end) {
        while (p < end && blank(*p))
            ++p;
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        if (!lineEnd)
            lineEnd = end;
        if (lineEnd - p > 6 && std::memcmp(p, "vertex", 6) == 0 && blank(p[6])) {
            const char* q = p + 6;
            double v[3];
            for (double& c : v)
                if (!xyz::ReadNumber(q, lineEnd, c))
                    return "an STL vertex without three numbers";
            ids.push_back(corners.Add(v));
        }
        p = lineEnd < end ? lineEnd + 1 : end;
    }
    if (ids.empty() || ids.size() % 3 != 0)
        return ids.empty() ? "the STL file holds no triangles" : "the STL file's vertices do not make whole triangles";
    return std::string();
}

} // namespace

Result ReadStl(const std::string& path, Model& out, IProgressSink* sink, std::string* why)
{
    auto fail = [why](const std::string& reason) { return Failed(why, reason); };
    InputFile file;
    std::string problem = file.Open(path);
    std::string bytes;
    if (problem.empty())
        problem = file.ReadAll(bytes);
    if (!problem.empty())
        return fail(problem);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t size = bytes.size();
    uint32_t triangles = 0;
    if (size >= 84)
        triangles = static_cast<uint32_t>(b[80]) | (static_cast<uint32_t>(b[81]) << 8) |
                    (static_cast<uint32_t>(b[82]) << 16) | (static_cast<uint32_t>(b[83]) << 24);
    const double binarySize = 84.0 + 50.0 * triangles;
    // Binary when the count fits the size exactly; text when it starts as
    // text does; otherwise binary with trailing bytes, if the count fits.
    const bool text = !(size >= 84 && binarySize == static_cast<double>(size)) && bytes.compare(0, 5, "solid") == 0;
    if (!text && (size < 84 || binarySize > static_cast<double>(size)))
        return fail(size < 84 ? std::string("the STL file is cut short")
                              : "the STL file declares " + std::to_string(triangles) + " triangles but holds fewer");
    Corners corners;
    std::vector<vtkIdType> ids;
    if (text) {
        const std::string problem = ReadText(bytes, corners, ids);
        if (!problem.empty())
            return fail(problem);
    } else {
        if (triangles == 0)
            return fail("the STL file holds no triangles");
        ids.reserve(size_t(3) * triangles);
        for (uint32_t t = 0; t < triangles; ++t) {
            const unsigned char* r = b + 84 + size_t(50) * t + 12; // after the normal
            for (int c = 0; c < 3; ++c) {
                const double v[3] = {LittleFloat(r + 12 * c), LittleFloat(r + 12 * c + 4), LittleFloat(r + 12 * c + 8)};
                ids.push_back(corners.Add(v));
            }
            if ((t & 65535) == 65535 && ProgressCheckpoint(sink, t, triangles))
                return Result::Aborted;
        }
    }
    std::vector<double>& points = corners.Points();
    const size_t n = points.size() / 3;
    double centre[3];
    if (!clouddata::BoundsCentre(points.data(), n, centre, true))
        return fail("the coordinates are not finite numbers");
    clouddata::Subtract(points.data(), n, centre);

    auto data = vtkSmartPointer<vtkPolyData>::New();
    vtkNew<vtkDoubleArray> coords;
    coords->SetNumberOfComponents(3);
    coords->SetNumberOfTuples(static_cast<vtkIdType>(n));
    std::copy(points.begin(), points.end(), coords->GetPointer(0));
    vtkNew<vtkPoints> pts;
    pts->SetData(coords);
    data->SetPoints(pts);
    vtkNew<vtkIdTypeArray> offsets, connectivity;
    offsets->SetNumberOfValues(static_cast<vtkIdType>(ids.size() / 3 + 1));
    for (vtkIdType i = 0; i < offsets->GetNumberOfValues(); ++i)
        offsets->SetValue(i, 3 * i);
    connectivity->SetNumberOfValues(static_cast<vtkIdType>(ids.size()));
    std::copy(ids.begin(), ids.end(), connectivity->GetPointer(0));
    vtkNew<vtkCellArray> polys;
    polys->SetData(offsets, connectivity);
    data->SetPolys(polys);
    for (int k = 0; k < 3; ++k)
        out.offset[k] = centre[k];
    out.data = data;
    return Result::Ok;
}

} // namespace foreign
