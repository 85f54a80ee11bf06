#pragma once
// Draws a point cloud, or a textured triangle mesh: every point of its
// input, without vertex cells. The
// coordinates and the colour source (RGB bytes, or one scalar per point and
// the lookup table in the shader) go to the GPU straight from the model's
// arrays, in slices, and nothing is kept on the CPU side: VTK's own mapper
// keeps an RGBA copy, a packed vertex buffer and an index buffer besides
// the driver's copies. Under software OpenGL, where buffer objects are
// copies in main memory, the arrays are sent a slice at a time in every
// frame and not kept, and no more than one slice is drawn while the next is
// sent, so its queued work stays bounded; a real GPU keeps them in its own
// memory.
// Textured meshes (opaque surfaces under a headlight, coloured by their
// texture alone) are drawn the same way, in slices of triangles. What it
// does not draw itself (translucency, other colourings, lines, several
// lights) is drawn by VTK's mapper with the same settings.
#include <vtkPolyDataMapper.h>
#include <vtkSmartPointer.h>

class vtkCloudMapper : public vtkPolyDataMapper {
public:
    static vtkCloudMapper* New();
    vtkTypeMacro(vtkCloudMapper, vtkPolyDataMapper);

    void RenderPiece(vtkRenderer* ren, vtkActor* actor) override;
    void ReleaseGraphicsResources(vtkWindow* window) override;

    // Points per draw call under software OpenGL, a quarter as many
    // triangles (tests use small ones).
    void SetSliceSize(long long points) { m_slice = points > 0 ? points : 1; }
    // Whether the model's arrays go to the renderer a slice at a time in
    // every frame (1), are kept in buffers (0), or the first where the
    // buffers would be copies in main memory: under software OpenGL (-1).
    void SetStreaming(int mode) { m_streaming = mode; }
    // Whether the last render was drawn by VTK's mapper instead.
    bool LastDrawnByVtk() const { return m_drawnByVtk; }

protected:
    vtkCloudMapper();
    ~vtkCloudMapper() override;

private:
    vtkCloudMapper(const vtkCloudMapper&) = delete;
    void operator=(const vtkCloudMapper&) = delete;

    bool Streams() const;
    // Textured triangles, as decided for this render.
    void RenderMesh(vtkRenderer* ren, vtkActor* actor, const void* plan);

    struct Gpu;
    Gpu* m_gpu;
    vtkSmartPointer<vtkPolyDataMapper> m_vtk; // for what this one does not draw
    vtkMTimeType m_vtkCopied = 0;
    long long m_slice = 1 << 15;
    int m_streaming = -1;
    bool m_drawnByVtk = false;
};
