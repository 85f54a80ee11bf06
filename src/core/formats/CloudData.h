#pragma once
// Poly data for point clouds read by our own readers: arrays allocated for
// one front-to-back fill (huge pages) and handed to VTK without a copy,
// coordinates kept relative to an offset so that doubles keep millimetres
// of georeferenced sites, and one vertex cell per point.
#include <vtkSmartPointer.h>

#include <cstddef>

class vtkPolyData;

namespace clouddata {

// The raw arrays of a new cloud; colours and intensities only when asked.
struct Arrays {
    double* points = nullptr;         // 3 per point
    unsigned char* rgb = nullptr;     // 3 per point: "RGB"
    float* intensity = nullptr;       // 1 per point: "Intensity"
};

// Poly data of `n` points (no cells yet) whose arrays `out` points into.
// Null when the memory is not there.
vtkSmartPointer<vtkPolyData> NewCloud(size_t n, bool rgb, bool intensity, Arrays& out);

// Poly data that takes over arrays from largebuf/malloc (freed with it,
// also when it fails: null then).
vtkSmartPointer<vtkPolyData> Adopt(size_t n, const Arrays& arrays);

// One vertex cell per point (32-bit ids, as the import writes them). False
// when the memory is not there or the points exceed 32-bit ids.
bool AddVertexCells(vtkPolyData* data);

// The bounding box of `n` points (the origin for none); false when a
// coordinate is not finite.
bool Bounds(const double* points, size_t n, double lo[3], double hi[3]);

// The centre of the bounding box of `n` points; false when a coordinate is
// not finite. Empty clouds have the origin. `whole` rounds it to whole
// units, which an offset file then holds exactly.
bool BoundsCentre(const double* points, size_t n, double centre[3], bool whole = false);

// Moves the points by -offset, in place.
void Subtract(double* points, size_t n, const double offset[3]);

} // namespace clouddata
