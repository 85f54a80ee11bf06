#include "core/model/SceneBounds.h"

#include "core/model/CScanPos.h"

#include <vtkLODProp3D.h>
#include <vtkAbstractMapper3D.h>
#include <vtkMath.h>
#include <vtkMatrix4x4.h>
#include <vtkProp3D.h>
#include <vtkPropCollection.h>
#include <vtkCamera.h>
#include <vtkRenderer.h>

#include <algorithm>

namespace {

void Grow(double out[6], bool& any, const double b[6], vtkMatrix4x4* matrix)
{
    for (int corner = 0; corner < 8; ++corner) {
        double p[4] = {b[(corner & 1) ? 1 : 0], b[(corner & 2) ? 3 : 2], b[(corner & 4) ? 5 : 4], 1.0};
        if (matrix)
            matrix->MultiplyPoint(p, p);
        for (int i = 0; i < 3; ++i) {
            const double v = p[3] != 0.0 ? p[i] / p[3] : p[i];
            if (!any) {
                out[2 * i] = out[2 * i + 1] = v;
            } else {
                out[2 * i] = std::min(out[2 * i], v);
                out[2 * i + 1] = std::max(out[2 * i + 1], v);
            }
        }
        any = true;
    }
}

} // namespace

bool ComputeSceneBounds(vtkRenderer* renderer, double bounds[6])
{
    if (!renderer)
        return false;
    double out[6] = {0, 0, 0, 0, 0, 0};
    bool any = false;
    vtkPropCollection* props = renderer->GetViewProps();
    vtkCollectionSimpleIterator it;
    props->InitTraversal(it);
    while (vtkProp* prop = props->GetNextProp(it)) {
        if (!prop->GetVisibility() || !prop->GetUseBounds())
            continue;
        if (auto* lod = vtkLODProp3D::SafeDownCast(prop)) {
            vtkAbstractMapper3D* mapper = lod->GetLODMapper(kFullLevel);
            const double* b = mapper ? mapper->GetBounds() : nullptr;
            if (b && vtkMath::AreBoundsInitialized(b))
                Grow(out, any, b, lod->GetMatrix());
            continue;
        }
        const double* b = prop->GetBounds();
        if (b && vtkMath::AreBoundsInitialized(b))
            Grow(out, any, b, nullptr);
    }
    if (!any)
        return false;
    std::copy(out, out + 6, bounds);
    return true;
}

void SetTopView(vtkRenderer* renderer)
{
    if (!renderer)
        return;
    double bounds[6] = {-1, 1, -1, 1, -1, 1};
    double m[3] = {0, 0, 0};
    if (ComputeSceneBounds(renderer, bounds))
        for (int i = 0; i < 3; ++i)
            m[i] = 0.5 * (bounds[2 * i] + bounds[2 * i + 1]);
    vtkCamera* camera = renderer->GetActiveCamera();
    camera->SetPosition(m[0], m[1], m[2] + 1);
    camera->SetFocalPoint(m);
    camera->SetViewUp(0, 0, 1);
    renderer->ResetCamera(bounds);
    camera->Roll(90);
    renderer->ResetCamera(bounds);
}
