// The readers of other programs' scan formats on arbitrary bytes: the first
// byte picks the format (LAS, PLY, PTS, STL, OBJ), the rest is the file. A
// model that reads must be whole: finite offset, cells that name existing
// points, point arrays as long as the points.
#include "FuzzFile.h"
#include "core/formats/ForeignModel.h"

#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const char* const kExtensions[] = {".las", ".ply", ".pts", ".stl", ".obj", ".laz"};
    const char* extension = kExtensions[data[0] % 6];
    const std::string path = FuzzFilePath(extension);
    if (!WriteFuzzFile(path, data + 1, size - 1))
        return 0;
    foreign::Model model;
    std::string why;
    const foreign::Result r = foreign::Read(path, model, nullptr, &why);
    std::remove(path.c_str());
    if (r != foreign::Result::Ok) {
        if (model.data || why.empty())
            std::abort(); // a failure has a reason and leaves nothing
        return 0;
    }
    vtkPolyData* poly = model.data;
    if (!poly || poly->GetNumberOfPoints() <= 0)
        std::abort();
    for (double o : model.offset)
        if (!std::isfinite(o))
            std::abort();
    const vtkIdType n = poly->GetNumberOfPoints();
    for (vtkCellArray* cells : {poly->GetVerts(), poly->GetLines(), poly->GetPolys(), poly->GetStrips()}) {
        if (!cells || cells->GetNumberOfConnectivityIds() == 0)
            continue;
        double range[2];
        cells->GetConnectivityArray()->GetRange(range, 0);
        if (range[0] < 0 || range[1] >= static_cast<double>(n))
            std::abort();
    }
    vtkPointData* pd = poly->GetPointData();
    for (int i = 0; i < pd->GetNumberOfArrays(); ++i)
        if (pd->GetArray(i) && pd->GetArray(i)->GetNumberOfTuples() < n)
            std::abort();
    return 0;
}
