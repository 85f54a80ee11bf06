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
#include <vtkSTLReader.h>

#include <cstdint>
#include <cstring>
#include <fstream>

namespace foreign {

bool IsForeignExtension(const std::string& e)
{
    return e == ".las" || e == ".laz" || e == ".ply" || e == ".pts" || e == ".obj" || e == ".stl";
}

const char* FormatNames() { return "LAS, PLY, PTS, OBJ, STL"; }

Result Read(const std::string& path, Model& out, IProgressSink* sink, std::string* why)
{
    out = Model();
    const std::string e = qpath::ToLower(qpath::Split(path).extension);
    auto fail = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return Result::Failed;
    };
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
    else if (e == ".obj" || e == ".stl")
        r = ReadMesh(path, out, sink, why);
    else
        return fail("not a format of other programs (" + std::string(FormatNames()) + ")");
    if (r != Result::Ok)
        out = Model();
    return r;
}

Result ReadMesh(const std::string& path, Model& out, IProgressSink* sink, std::string* why)
{
    auto fail = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return Result::Failed;
    };
    const std::string e = qpath::ToLower(qpath::Split(path).extension);
    std::ifstream probe(path, std::ios::binary);
    if (!probe)
        return fail(std::string("cannot read the file: ") + std::strerror(errno));
    vtkSmartPointer<vtkPolyDataAlgorithm> reader;
    if (e == ".stl") {
        // A binary STL declares its triangle count: it must fit the file.
        // VTK's reader takes a file for binary when a byte of its first 256
        // is beyond ASCII; only a file that starts "solid" without such a
        // byte is read as text.
        unsigned char head[256] = {};
        probe.read(reinterpret_cast<char*>(head), sizeof head);
        const size_t got = static_cast<size_t>(probe.gcount());
        probe.clear();
        probe.seekg(0, std::ios::end);
        const double size = static_cast<double>(probe.tellg());
        bool text = got >= 5 && std::memcmp(head, "solid", 5) == 0;
        for (size_t i = 0; i < got && text; ++i)
            text = head[i] <= 127;
        if (!text) {
            if (got < 84)
                return fail("the STL file is cut short");
            uint32_t triangles;
            std::memcpy(&triangles, head + 80, 4);
            if (84.0 + 50.0 * triangles > size)
                return fail("the STL file declares " + std::to_string(triangles) + " triangles but holds fewer");
        }
        auto stl = vtkSmartPointer<vtkSTLReader>::New();
        stl->SetFileName(path.c_str());
        stl->MergingOn();
        reader = stl;
    } else {
        auto obj = vtkSmartPointer<vtkOBJReader>::New();
        obj->SetFileName(path.c_str());
        reader = obj;
    }
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
