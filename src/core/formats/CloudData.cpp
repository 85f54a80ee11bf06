#include "core/formats/CloudData.h"

#include "core/common/LargeBuffer.h"

#include <vtkCellArray.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkTypeInt32Array.h>
#include <vtkUnsignedCharArray.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace clouddata {

namespace {

template <class T>
T* Take(size_t count)
{
    return static_cast<T*>(largebuf::Allocate(std::max<size_t>(1, count) * sizeof(T)));
}

} // namespace

vtkSmartPointer<vtkPolyData> NewCloud(size_t n, bool rgb, bool intensity, Arrays& out)
{
    out = Arrays();
    if (n > static_cast<size_t>(VTK_ID_MAX / 3))
        return nullptr;
    Arrays a;
    a.points = Take<double>(3 * n);
    a.rgb = rgb ? Take<unsigned char>(3 * n) : nullptr;
    a.intensity = intensity ? Take<float>(n) : nullptr;
    if (!a.points || (rgb && !a.rgb) || (intensity && !a.intensity)) {
        std::free(a.points);
        std::free(a.rgb);
        std::free(a.intensity);
        return nullptr;
    }
    vtkSmartPointer<vtkPolyData> poly = Adopt(n, a);
    if (poly)
        out = a;
    return poly;
}

vtkSmartPointer<vtkPolyData> Adopt(size_t n, const Arrays& a)
{
    if (!a.points || n > static_cast<size_t>(VTK_ID_MAX / 3)) {
        std::free(a.points);
        std::free(a.rgb);
        std::free(a.intensity);
        return nullptr;
    }
    const vtkIdType count = static_cast<vtkIdType>(n);
    auto poly = vtkSmartPointer<vtkPolyData>::New();
    vtkNew<vtkDoubleArray> coords;
    coords->SetNumberOfComponents(3);
    coords->SetArray(a.points, count * 3, 0, vtkDoubleArray::VTK_DATA_ARRAY_FREE);
    vtkNew<vtkPoints> pts;
    pts->SetData(coords);
    poly->SetPoints(pts);
    if (a.rgb) {
        vtkNew<vtkUnsignedCharArray> rgb;
        rgb->SetName("RGB");
        rgb->SetNumberOfComponents(3);
        rgb->SetArray(a.rgb, count * 3, 0, vtkUnsignedCharArray::VTK_DATA_ARRAY_FREE);
        poly->GetPointData()->SetScalars(rgb);
    }
    if (a.intensity) {
        vtkNew<vtkFloatArray> intensity;
        intensity->SetName("Intensity");
        intensity->SetArray(a.intensity, count, 0, vtkFloatArray::VTK_DATA_ARRAY_FREE);
        if (a.rgb)
            poly->GetPointData()->AddArray(intensity);
        else
            poly->GetPointData()->SetScalars(intensity);
    }
    return poly;
}

bool AddVertexCells(vtkPolyData* data)
{
    const vtkIdType n = data->GetNumberOfPoints();
    if (n >= INT_MAX)
        return false;
    int* off = Take<int>(static_cast<size_t>(n) + 1);
    int* conn = Take<int>(static_cast<size_t>(n));
    if (!off || !conn) {
        std::free(off);
        std::free(conn);
        return false;
    }
    for (vtkIdType i = 0; i < n; ++i) {
        off[i] = static_cast<int>(i);
        conn[i] = static_cast<int>(i);
    }
    off[n] = static_cast<int>(n);
    vtkNew<vtkTypeInt32Array> offsets, connectivity;
    offsets->SetArray(off, n + 1, 0, vtkTypeInt32Array::VTK_DATA_ARRAY_FREE);
    connectivity->SetArray(conn, n, 0, vtkTypeInt32Array::VTK_DATA_ARRAY_FREE);
    vtkNew<vtkCellArray> verts;
    verts->SetData(offsets, connectivity);
    data->SetVerts(verts);
    return true;
}

bool Bounds(const double* p, size_t n, double lo[3], double hi[3])
{
    bool finite = true;
    for (int k = 0; k < 3; ++k)
        lo[k] = hi[k] = n > 0 ? p[k] : 0.0;
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            const double v = p[3 * i + k];
            finite = finite && std::isfinite(v);
            lo[k] = std::min(lo[k], v);
            hi[k] = std::max(hi[k], v);
        }
    return finite;
}

bool BoundsCentre(const double* p, size_t n, double centre[3], bool whole)
{
    double lo[3], hi[3];
    const bool finite = Bounds(p, n, lo, hi);
    for (int k = 0; k < 3; ++k) {
        centre[k] = (lo[k] + hi[k]) / 2.0;
        if (whole)
            centre[k] = std::round(centre[k]);
    }
    return finite && std::isfinite(centre[0]) && std::isfinite(centre[1]) && std::isfinite(centre[2]);
}

void Subtract(double* p, size_t n, const double offset[3])
{
    for (size_t i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k)
            p[3 * i + k] = p[3 * i + k] - offset[k];
}

} // namespace clouddata
