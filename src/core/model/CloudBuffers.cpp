#include "core/model/CloudBuffers.h"

#include <vtkDataArray.h>
#include <vtk_glew.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace cloudgl {

unsigned GlType(int vtkType)
{
    switch (vtkType) {
    case VTK_FLOAT: return GL_FLOAT;
    case VTK_UNSIGNED_CHAR: return GL_UNSIGNED_BYTE;
    case VTK_SIGNED_CHAR:
    case VTK_CHAR: return GL_BYTE;
    case VTK_SHORT: return GL_SHORT;
    case VTK_UNSIGNED_SHORT: return GL_UNSIGNED_SHORT;
    case VTK_INT: return GL_INT;
    case VTK_UNSIGNED_INT: return GL_UNSIGNED_INT;
    case VTK_DOUBLE: return GL_FLOAT; // converted slice by slice
    default: return 0;
    }
}

namespace {

// Tuples [first, first + count) of `a` as GL takes them: the array's own
// memory, or its doubles as floats in `scratch`; `bytes` their size.
const void* GlValues(vtkDataArray* a, vtkIdType first, vtkIdType count, std::vector<float>& scratch, size_t& bytes)
{
    const vtkIdType components = a->GetNumberOfComponents();
    const size_t values = static_cast<size_t>(count * components);
    if (a->GetDataType() != VTK_DOUBLE) {
        bytes = values * static_cast<size_t>(a->GetDataTypeSize());
        return a->GetVoidPointer(first * components);
    }
    const double* in = static_cast<const double*>(a->GetVoidPointer(first * components));
    scratch.assign(in, in + values);
    bytes = values * sizeof(float);
    return scratch.data();
}

// New storage for every slice: the renderer frees the last one's when it
// is drawn, and never waits for it.
void Fill(GLenum target, GLuint buffer, size_t bytes, const void* data)
{
    glBindBuffer(target, buffer);
    glBufferData(target, static_cast<GLsizeiptr>(bytes), data, GL_STREAM_DRAW);
}

// Calls `f` with the connectivity's values as 32- or 64-bit integers.
template <class F>
void WithIds(vtkDataArray* connectivity, F&& f)
{
    if (connectivity->GetDataTypeSize() == 4)
        f(static_cast<const int32_t*>(connectivity->GetVoidPointer(0)));
    else
        f(static_cast<const long long*>(connectivity->GetVoidPointer(0)));
}

// The tuples of `a` at `ids` (one per corner) into `buffer`; doubles as floats.
template <class Id>
void SendGathered(GLuint buffer, vtkDataArray* a, const Id* ids, size_t n, std::vector<unsigned char>& scratch)
{
    const size_t components = static_cast<size_t>(a->GetNumberOfComponents());
    const bool wide = a->GetDataType() == VTK_DOUBLE;
    const size_t tuple = components * (wide ? sizeof(float) : static_cast<size_t>(a->GetDataTypeSize()));
    scratch.resize(n * tuple);
    unsigned char* out = scratch.data();
    if (wide) {
        const double* in = static_cast<const double*>(a->GetVoidPointer(0));
        float* o = reinterpret_cast<float*>(out);
        for (size_t i = 0; i < n; ++i)
            for (size_t c = 0; c < components; ++c)
                o[i * components + c] = static_cast<float>(in[static_cast<size_t>(ids[i]) * components + c]);
    } else {
        const unsigned char* in = static_cast<const unsigned char*>(a->GetVoidPointer(0));
        for (size_t i = 0; i < n; ++i)
            std::memcpy(out + i * tuple, in + static_cast<size_t>(ids[i]) * tuple, tuple);
    }
    Fill(GL_ARRAY_BUFFER, buffer, scratch.size(), scratch.data());
}

} // namespace

void Kept::Keep(vtkDataArray* a, vtkIdType tuples)
{
    if (array == a && time >= a->GetMTime())
        return;
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    std::vector<float> scratch;
    size_t bytes = 0;
    if (a->GetDataType() != VTK_DOUBLE) {
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(a->GetNumberOfComponents() * tuples * a->GetDataTypeSize()),
                     GlValues(a, 0, tuples, scratch, bytes), GL_STATIC_DRAW);
    } else {
        // Floats for the whole array, converted a slice at a time.
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(a->GetNumberOfComponents() * tuples * sizeof(float)),
                     nullptr, GL_STATIC_DRAW);
        const vtkIdType step = 1 << 16;
        for (vtkIdType first = 0, at = 0; first < tuples; first += step, at += static_cast<vtkIdType>(bytes)) {
            const void* values = GlValues(a, first, std::min(step, tuples - first), scratch, bytes);
            glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(at), static_cast<GLsizeiptr>(bytes), values);
        }
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    array = a;
    time = a->GetMTime();
}

void Kept::KeepIndices(vtkDataArray* connectivity)
{
    if (array == connectivity && time >= connectivity->GetMTime())
        return;
    // Bound to the vertex array that is bound now: it keeps the binding.
    const size_t n = static_cast<size_t>(connectivity->GetNumberOfValues());
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffer);
    if (connectivity->GetDataTypeSize() == 4) {
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(n * 4), connectivity->GetVoidPointer(0),
                     GL_STATIC_DRAW);
    } else {
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(n * 4), nullptr, GL_STATIC_DRAW);
        const auto* in = static_cast<const long long*>(connectivity->GetVoidPointer(0));
        std::vector<GLuint> slice;
        const size_t step = 3 << 16;
        for (size_t at = 0; at < n; at += step) {
            const size_t m = std::min(step, n - at);
            slice.assign(in + at, in + at + m);
            glBufferSubData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLintptr>(at * 4), static_cast<GLsizeiptr>(m * 4),
                            slice.data());
        }
    }
    array = connectivity;
    time = connectivity->GetMTime();
}

void SendSlice(unsigned buffer, vtkDataArray* a, vtkIdType first, vtkIdType count)
{
    thread_local std::vector<float> scratch;
    size_t bytes = 0;
    const void* values = GlValues(a, first, count, scratch, bytes);
    Fill(GL_ARRAY_BUFFER, buffer, bytes, values);
}

void DrawSlice(unsigned mode, vtkDataArray* connectivity, vtkIdType first, vtkIdType count,
               const std::vector<Streamed>& attributes, unsigned indexBuffer)
{
    if (count <= 0)
        return;
    WithIds(connectivity, [&](const auto* all) {
        const auto* ids = all + first;
        const size_t corners = static_cast<size_t>(count);
        auto lo = ids[0], hi = ids[0];
        for (size_t i = 1; i < corners; ++i) {
            lo = std::min(lo, ids[i]);
            hi = std::max(hi, ids[i]);
        }
        const size_t span = static_cast<size_t>(hi - lo) + 1;
        if (span <= 2 * corners) {
            for (const Streamed& s : attributes)
                SendSlice(s.buffer, s.array, static_cast<vtkIdType>(lo), static_cast<vtkIdType>(span));
            thread_local std::vector<GLuint> local;
            local.resize(corners);
            for (size_t i = 0; i < corners; ++i)
                local[i] = static_cast<GLuint>(ids[i] - lo);
            Fill(GL_ELEMENT_ARRAY_BUFFER, indexBuffer, corners * sizeof(GLuint), local.data());
            glDrawElements(mode, static_cast<GLsizei>(corners), GL_UNSIGNED_INT, nullptr);
        } else {
            thread_local std::vector<unsigned char> bytes;
            for (const Streamed& s : attributes)
                SendGathered(s.buffer, s.array, ids, corners, bytes);
            glDrawArrays(mode, 0, static_cast<GLsizei>(corners));
        }
    });
}

void DrawInSlices(long long total, long long slice, bool software,
                  const std::function<void(long long first, long long count)>& draw)
{
    GLsync previous = nullptr; // the fence after the slice before
    for (long long first = 0; first < total; first += slice) {
        const long long count = std::min(slice, total - first);
        draw(first, count);
        if (!software || first + count >= total)
            continue;
        GLsync sent = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        glFlush();
        if (previous) {
            glClientWaitSync(previous, 0, GL_TIMEOUT_IGNORED);
            glDeleteSync(previous);
        }
        previous = sent;
    }
    if (previous)
        glDeleteSync(previous);
}

} // namespace cloudgl
