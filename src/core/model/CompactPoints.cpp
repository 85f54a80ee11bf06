#include "core/model/CompactPoints.h"

#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkPoints.h>
#include <vtkSmartPointer.h>

#include <cstdlib>
#include <cstring>

namespace compact {

bool FloatsWhereExact(vtkPoints* points)
{
    auto* d = points ? vtkDoubleArray::SafeDownCast(points->GetData()) : nullptr;
    // Another holder of the array would be left pointing at the floats.
    if (!d || d->GetNumberOfComponents() != 3 || d->GetNumberOfValues() == 0 || d->GetReferenceCount() != 1)
        return false;
    const size_t n = static_cast<size_t>(d->GetNumberOfValues());
    double* values = d->GetPointer(0);
    for (size_t i = 0; i < n; ++i)
        if (static_cast<double>(static_cast<float>(values[i])) != values[i])
            return false; // NaNs too: they stay as they are
    // In place, front to back: float i lands in bytes 4i..4i+3, which double
    // i has already been read from (or, for i = 0, is being read into x).
    auto* bytes = reinterpret_cast<unsigned char*>(values);
    for (size_t i = 0; i < n; ++i) {
        double x;
        std::memcpy(&x, bytes + 8 * i, sizeof x);
        const float f = static_cast<float>(x);
        std::memcpy(bytes + 4 * i, &f, sizeof f);
    }
    // The memory changes owner: VTK allocates with malloc and so do our
    // readers of other formats. The upper half goes back to the system.
    vtkSmartPointer<vtkDoubleArray> keep = d; // alive until the points let go of it
    d->SetArray(values, static_cast<vtkIdType>(n), 1);
    void* shrunk = std::realloc(values, n * sizeof(float));
    float* floats = static_cast<float*>(shrunk ? shrunk : values);
    auto f = vtkSmartPointer<vtkFloatArray>::New();
    f->SetNumberOfComponents(3);
    f->SetName(d->GetName());
    f->SetArray(floats, static_cast<vtkIdType>(n), 0, vtkFloatArray::VTK_DATA_ARRAY_FREE);
    points->SetData(f);
    return true;
}

} // namespace compact
