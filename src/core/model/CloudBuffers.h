#pragma once
// Getting a model's arrays into OpenGL buffers for the cloud mapper: kept
// whole (a GPU's own memory), or a slice at a time for each draw call
// (software OpenGL, where a buffer object is a copy in main memory beside
// the model's arrays). Doubles become floats on the way, a slice at a time.
// Needs a current context.
#include <vtkType.h>

#include <functional>
#include <vector>

class vtkDataArray;

namespace cloudgl {

// The GL type of a VTK array's values as the shaders get them (doubles as
// floats); 0 for types the mapper leaves to VTK's.
unsigned GlType(int vtkType);

// A buffer holding one whole model array, filled again only when the
// array is another one or was modified.
struct Kept {
    unsigned buffer = 0;
    vtkDataArray* array = nullptr;
    vtkMTimeType time = 0;

    // The first `tuples` tuples of `a` (vertex attributes).
    void Keep(vtkDataArray* a, vtkIdType tuples);
    // A cell array's connectivity as 32-bit indices.
    void KeepIndices(vtkDataArray* connectivity);
    // Its contents are no model array's any more.
    void Forget()
    {
        array = nullptr;
        time = 0;
    }
};

// A vertex attribute sent a slice at a time: the model's array and the
// buffer it goes through.
struct Streamed {
    vtkDataArray* array;
    unsigned buffer;
};

// Tuples [first, first + count) of `a` into `buffer`, replacing its storage.
void SendSlice(unsigned buffer, vtkDataArray* a, vtkIdType first, vtkIdType count);

// Draws corners [first, first + count) of `connectivity` as `mode`
// (triangles, or their corners as points) from buffers filled for this
// slice alone. Where the corners lie in a narrow range of points (meshes
// are mostly stored so) that range goes with the slice's indices made
// relative to it, through `indexBuffer`; elsewhere every corner's values
// are gathered.
void DrawSlice(unsigned mode, vtkDataArray* connectivity, vtkIdType first, vtkIdType count,
               const std::vector<Streamed>& attributes, unsigned indexBuffer);

// Calls `draw(first, count)` for [0, total) in slices of `slice`. A
// software renderer given a whole model queues its binned scenes ahead of
// its rasterizer threads (hundreds of MB); drained after every slice, its
// threads sit idle while the next one is prepared. So under `software` each
// slice is handed over at once and only the one before it awaited: one
// slice drawn while the next is sent, never more queued.
void DrawInSlices(long long total, long long slice, bool software,
                  const std::function<void(long long first, long long count)>& draw);

} // namespace cloudgl
