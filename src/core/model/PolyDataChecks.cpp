#include "core/model/PolyDataChecks.h"

#include <vtkAbstractArray.h>
#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>

#include <filesystem>

namespace polycheck {

std::string CheckConsistency(vtkPolyData* data, const std::string& file)
{
    std::error_code ec;
    const uintmax_t fileSize = std::filesystem::file_size(file, ec);
    // No zlib stream expands more than about 1032 times.
    const double limit = ec ? 1e18 : static_cast<double>(fileSize) * 1100.0 + 1024.0;
    const vtkIdType points = data->GetNumberOfPoints();
    if (static_cast<double>(points) * 3.0 > limit || static_cast<double>(data->GetNumberOfCells()) > limit)
        return "the file declares more data than it holds";
    for (vtkCellArray* cells : {data->GetVerts(), data->GetLines(), data->GetPolys(), data->GetStrips()}) {
        if (!cells || cells->GetNumberOfConnectivityIds() == 0)
            continue;
        vtkDataArray* ids = cells->GetConnectivityArray();
        double range[2];
        ids->GetRange(range, 0);
        if (range[0] < 0 || range[1] >= static_cast<double>(points))
            return "cells refer to points that do not exist";
    }
    vtkPointData* pd = data->GetPointData();
    for (int i = 0; i < pd->GetNumberOfArrays(); ++i) {
        vtkAbstractArray* a = pd->GetAbstractArray(i);
        if (a && a->GetNumberOfTuples() < points)
            return std::string("point array \"") + (a->GetName() ? a->GetName() : "") + "\" is shorter than the points";
    }
    return std::string();
}

bool HasOneVertexPerPoint(vtkPolyData* data)
{
    vtkCellArray* verts = data->GetVerts();
    const vtkIdType n = data->GetNumberOfPoints();
    if (!verts || n == 0 || verts->GetNumberOfCells() != n || verts->GetNumberOfConnectivityIds() != n)
        return false;
    auto identity = [](const auto* ids, vtkIdType count) {
        for (vtkIdType i = 0; i < count; ++i)
            if (ids[i] != i)
                return false;
        return true;
    };
    vtkDataArray* c = verts->GetConnectivityArray();
    vtkDataArray* o = verts->GetOffsetsArray();
    if (verts->IsStorage64Bit())
        return identity(static_cast<const vtkTypeInt64*>(c->GetVoidPointer(0)), n) &&
               identity(static_cast<const vtkTypeInt64*>(o->GetVoidPointer(0)), n + 1);
    return identity(static_cast<const vtkTypeInt32*>(c->GetVoidPointer(0)), n) &&
           identity(static_cast<const vtkTypeInt32*>(o->GetVoidPointer(0)), n + 1);
}

} // namespace polycheck
