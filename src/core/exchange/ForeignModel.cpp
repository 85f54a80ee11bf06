#include "core/exchange/ForeignModel.h"

#include "core/exchange/CloudData.h"
#include "core/common/Paths.h"
#include "core/model/ProgressSink.h"
#include "core/model/VtkErrorCatcher.h"
#include "core/model/vtkListener.h"

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkNew.h>
#include <vtkOBJReader.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace foreign {

InputFile::~InputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string InputFile::Open(const std::string& path)
{
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return std::string("cannot read the file: ") + std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    m_size = static_cast<unsigned long long>(st.st_size);
    return std::string();
}

Result Failed(std::string* why, const std::string& reason)
{
    if (why)
        *why = reason;
    return Result::Failed;
}

bool IsForeignExtension(const std::string& e)
{
    return e == ".las" || e == ".laz" || e == ".ply" || e == ".pts" || e == ".obj" || e == ".stl";
}

const char* FormatNames() { return "LAS, PLY, PTS, OBJ, STL"; }

Result Read(const std::string& path, Model& out, IProgressSink* sink, std::string* why)
{
    out = Model();
    const std::string e = qpath::ToLower(qpath::Split(path).extension);
    auto fail = [why](const std::string& reason) { return Failed(why, reason); };
    Result r;
    if (e == ".las")
        r = ReadLas(path, out, sink, why);
    else if (e == ".laz") {
        // Some tools name plain LAS files .laz; the header decides.
        r = ReadLas(path, out, sink, why);
        if (r == Result::Failed && why && why->rfind("not a LAS file", 0) == 0)
            *why = "not a LAS or LAZ file";
    } else if (e == ".ply")
        r = ReadPly(path, out, sink, why);
    else if (e == ".pts")
        r = ReadPts(path, out, sink, why);
    else if (e == ".stl")
        r = ReadStl(path, out, sink, why);
    else if (e == ".obj")
        r = ReadObj(path, out, sink, why);
    else
        return fail("not a format of other programs (" + std::string(FormatNames()) + ")");
    if (r != Result::Ok)
        out = Model();
    return r;
}

Result ReadObj(const std::string& path, Model& out, IProgressSink* sink, std::string* why)
{
    auto fail = [why](const std::string& reason) { return Failed(why, reason); };
    std::ifstream probe(path, std::ios::binary);
    if (!probe)
        return fail(std::string("cannot read the file: ") + std::strerror(errno));
    auto reader = vtkSmartPointer<vtkOBJReader>::New();
    reader->SetFileName(path.c_str());
    vtkNew<vtkListener> listener;
    CSilentProgress silent;
    listener->SetSink(sink ? sink : &silent);
    std::string error;
    const StageResult stage = RunStage(listener, reader, sink ? "Reading Data..." : "", &error);
    listener->SetSink(nullptr);
    if (stage == StageResult::Aborted)
        return Result::Aborted;
    vtkPolyData* read = reader->GetOutput();
    if (stage == StageResult::Failed || !read)
        return fail(error.empty() ? std::string("unreadable mesh") : error);
    if (read->GetNumberOfPoints() == 0)
        return fail("the file holds no points");

    // Doubles relative to the bounding box's centre, as for point clouds.
    auto data = vtkSmartPointer<vtkPolyData>::New();
    data->ShallowCopy(read);
    const vtkIdType n = read->GetNumberOfPoints();
    vtkNew<vtkDoubleArray> coords;
    coords->SetNumberOfComponents(3);
    coords->SetNumberOfTuples(n);
    double* p = coords->GetPointer(0);
    for (vtkIdType i = 0; i < n; ++i)
        read->GetPoint(i, p + 3 * i);
    double centre[3];
    if (!clouddata::BoundsCentre(p, static_cast<size_t>(n), centre, true))
        return fail("the coordinates are not finite numbers");
    clouddata::Subtract(p, static_cast<size_t>(n), centre);
    vtkNew<vtkPoints> points;
    points->SetData(coords);
    data->SetPoints(points);
    // Cells beyond the points would be drawn from memory past the arrays.
    for (vtkCellArray* cells : {data->GetVerts(), data->GetLines(), data->GetPolys(), data->GetStrips()}) {
        if (!cells || cells->GetNumberOfConnectivityIds() == 0)
            continue;
        double range[2];
        cells->GetConnectivityArray()->GetRange(range, 0);
        if (range[0] < 0 || range[1] >= static_cast<double>(n))
            return fail("faces refer to points that do not exist");
    }
    if (data->GetNumberOfCells() == 0 && !clouddata::AddVertexCells(data))
        return fail("not enough memory for the vertex cells");
    for (int k = 0; k < 3; ++k)
        out.offset[k] = centre[k];
    out.data = data;
    return Result::Ok;
}

} // namespace foreign
