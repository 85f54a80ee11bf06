#include "gui/view/CQuarlonView.h"
#include "gui/tools/CSnapChoice.h"

#include "gui/view/IViewTools.h"
#include "gui/common/Icons.h"
#include "core/common/AppSettings.h"
#include "core/measure/MeasureGeometry.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "core/model/SceneBounds.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPrinter>

#include <QMainWindow>
#include <QStatusBar>

#include <vtkActor2D.h>
#include <vtkAxesActor.h>
#include <vtkCamera.h>
#include <vtkCaptionActor2D.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkCommand.h>
#include <vtkInteractorStyleTrackballCamera.h>
#include <vtkLODProp3D.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkObjectFactory.h>
#include <vtkOrientationMarkerWidget.h>
#include <vtkPropCollection.h>
#include <vtkProperty2D.h>
#include <vtkRenderer.h>
#include <vtkTextActor.h>
#include <vtkTextProperty.h>
#include <vtkTransform.h>

#include <cmath>
#include <string>

namespace {

struct PresetRow {
    int preset;
    double offset[3];
    double viewUp[3];
    double roll;
};
const PresetRow kPresets[] = {
    {0, {0, 0, 1}, {0, 0, 1}, 90},    {1, {0, 0, -1}, {0, 0, 1}, -90}, {8, {-1, 0, 0}, {1, 0, 0}, 90},
    {11, {1, 0, 0}, {1, 0, 0}, -90},  {2, {0, -1, 0}, {0, 1, 0}, 0},   {5, {0, 1, 0}, {0, 1, 0}, 0},
    {14, {-1, 1, 1}, {0, 0, 1}, 0},   {17, {1, 1, 1}, {0, 0, 1}, 0},   {20, {-1, -1, 1}, {0, 0, 1}, 0},
    {23, {1, -1, 1}, {0, 0, 1}, 0},
};

// The characters the interactor would act on in ways that do not belong
// in this program (quit, joystick, pick, fly, wireframe toggles, stereo).
bool IsBlockedChar(QChar c)
{
    static const QString kBlocked = QStringLiteral("qQeEjJpPfFsSmMwW3");
    return kBlocked.contains(c);
}

void StyleAxisLabel(vtkCaptionActor2D* caption)
{
    vtkTextProperty* text = caption->GetCaptionTextProperty();
    text->SetFontFamilyToTimes();
    text->ItalicOn();
    text->ShadowOn();
}

void StyleCaption(vtkCaptionActor2D* caption)
{
    caption->GetProperty()->SetColor(1, 0, 1);
    caption->GetCaptionTextProperty()->SetColor(1, 0, 1);
    caption->GetCaptionTextProperty()->SetFontFamilyToArial();
    caption->SetWidth(0.027);
    caption->SetHeight(0.02);
    caption->VisibilityOff();
}

// The library's marker asks for a picture on every mouse move over the view,
// to show or hide its outline; with a large model at rest each of those is a
// full-level frame. This one asks only when the pointer enters or leaves it,
// or drags it.
class vtkQuietMarkerWidget : public vtkOrientationMarkerWidget {
public:
    static vtkQuietMarkerWidget* New();
    vtkTypeMacro(vtkQuietMarkerWidget, vtkOrientationMarkerWidget);

protected:
    void OnMouseMove() override
    {
        // Its outline shows while the pointer is over it, and stays after a
        // drag until the pointer moves again.
        if (!this->Moving && !this->OutlineActor->GetVisibility() && PointerState() == Outside)
            return;
        vtkOrientationMarkerWidget::OnMouseMove();
    }

private:
    int PointerState()
    {
        double vp[4];
        this->Renderer->GetViewport(vp);
        this->Renderer->NormalizedDisplayToDisplay(vp[0], vp[1]);
        this->Renderer->NormalizedDisplayToDisplay(vp[2], vp[3]);
        int corner1[2] = {static_cast<int>(vp[0]), static_cast<int>(vp[1])};
        int corner2[2] = {static_cast<int>(vp[2]), static_cast<int>(vp[3])};
        const int* at = this->Interactor->GetEventPosition();
        return this->ComputeStateBasedOnPosition(at[0], at[1], corner1, corner2);
    }
};
vtkStandardNewMacro(vtkQuietMarkerWidget);

} // namespace

CQuarlonView::CQuarlonView(QWidget* parent)
    : QVTKOpenGLNativeWidget(parent)
    , m_pOrientationWidget(vtkSmartPointer<vtkQuietMarkerWidget>::New())
{
    setObjectName(QStringLiteral("CQuarlonView"));
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAcceptDrops(false); // drops go to the main window

    m_pRenderWindow->AddRenderer(m_pRenderer);
    // Markers and captions live in a layer above the models that keeps
    // their depth: the depth buffer is read once the models are drawn, so
    // no overlay can ever be picked.
    m_pRenderWindow->SetNumberOfLayers(2);
    m_pOverlayRenderer->SetLayer(1);
    m_pOverlayRenderer->InteractiveOff();
    m_pOverlayRenderer->PreserveDepthBufferOn();
    m_pOverlayRenderer->SetActiveCamera(m_pRenderer->GetActiveCamera());
    m_pRenderWindow->AddRenderer(m_pOverlayRenderer);
    m_pRenderer->AddObserver(vtkCommand::EndEvent, this, &CQuarlonView::OnModelsDrawn);
    setRenderWindow(m_pRenderWindow);
    // The camera style alone: a style switch would let the "a" key move the
    // models themselves and put them out of their document coordinates.
    vtkNew<vtkInteractorStyleTrackballCamera> style;
    interactor()->SetInteractorStyle(style);
    style->AddObserver(vtkCommand::StartInteractionEvent, this, &CQuarlonView::OnInteraction);
    style->AddObserver(vtkCommand::EndInteractionEvent, this, &CQuarlonView::OnInteraction);
    m_pRenderWindow->AddObserver(vtkCommand::StartEvent, this, &CQuarlonView::OnRenderStart);

    m_nProjectionMode = appsettings::ReadIntSetting("Quarlon", "PerspectiveView", "1");
    for (int i = 0; i < CursorCount; ++i)
        m_cursors[i] = MakeViewCursor(i);

    m_pAxesActor->SetXAxisLabelText("x");
    m_pAxesActor->SetYAxisLabelText("y");
    m_pAxesActor->SetZAxisLabelText("z");
    m_pAxesActor->SetShaftTypeToCylinder();
    m_pAxesActor->SetTotalLength(2.5, 2.5, 2.5);
    m_pAxesActor->SetCylinderRadius(0.5 * m_pAxesActor->GetCylinderRadius());
    m_pAxesActor->SetConeRadius(1.025 * m_pAxesActor->GetConeRadius());
    m_pAxesActor->SetSphereRadius(1.5 * m_pAxesActor->GetSphereRadius());
    StyleAxisLabel(m_pAxesActor->GetXAxisCaptionActor2D());
    StyleAxisLabel(m_pAxesActor->GetYAxisCaptionActor2D());
    StyleAxisLabel(m_pAxesActor->GetZAxisCaptionActor2D());
    m_pOrientationWidget->SetOrientationMarker(m_pAxesActor);
    m_pOrientationWidget->SetInteractor(interactor());
    m_pOrientationWidget->SetOutlineColor(0.93, 0.57, 0.13);
    m_pOrientationWidget->SetViewport(0.0, 0.0, 0.2, 0.2);
    m_pOrientationWidget->SetEnabled(1);
    m_pOrientationWidget->InteractiveOn();

    SetBackgroundColor(static_cast<unsigned int>(appsettings::ReadIntSetting("Color", "Background", "0")));

    StyleCaption(m_pCaptionPt1);
    StyleCaption(m_pCaptionPt2);
    m_pOverlayRenderer->AddActor2D(m_pCaptionPt1);
    m_pOverlayRenderer->AddActor2D(m_pCaptionPt2);
}

CQuarlonView::~CQuarlonView()
{
    if (m_nTimer)
        killTimer(m_nTimer);
    m_pRenderWindow->RemoveObservers(vtkCommand::StartEvent);
    m_pRenderer->RemoveObservers(vtkCommand::EndEvent);
    if (vtkInteractorObserver* style = interactor()->GetInteractorStyle())
        style->RemoveAllObservers();
    m_pOrientationWidget->SetEnabled(0);
    m_pOrientationWidget->SetInteractor(nullptr);
}

vtkRenderer* CQuarlonView::GetRenderer() { return m_pRenderer; }

vtkRenderWindow* CQuarlonView::GetRenderWindow() { return m_pRenderWindow; }

vtkOrientationMarkerWidget* CQuarlonView::OrientationMarker() const { return m_pOrientationWidget; }

void CQuarlonView::OnInteraction(vtkObject*, unsigned long event, void*)
{
    m_bInteracting = event == vtkCommand::StartInteractionEvent;
}

void CQuarlonView::OnModelsDrawn(vtkObject*, unsigned long, void*) { UpdateDepthCache(); }

void CQuarlonView::OnRenderStart(vtkObject*, unsigned long, void*)
{
    // The overlays look through the models' camera, whichever it is now.
    if (m_pOverlayRenderer->GetActiveCamera() != m_pRenderer->GetActiveCamera())
        m_pOverlayRenderer->SetActiveCamera(m_pRenderer->GetActiveCamera());
    // The level-of-detail props judge by the time their last render took,
    // which leaves a large model on its preview after any slow frame; a
    // picture at rest always shows all the data.
    vtkPropCollection* props = m_pRenderer->GetViewProps();
    vtkCollectionSimpleIterator it;
    props->InitTraversal(it);
    while (vtkProp* prop = props->GetNextProp(it)) {
        auto* lod = vtkLODProp3D::SafeDownCast(prop);
        if (!lod)
            continue;
        if (m_bInteracting) {
            lod->AutomaticLODSelectionOn();
        } else {
            lod->AutomaticLODSelectionOff();
            lod->SetSelectedLODID(kFullLevel);
        }
    }
}

void CQuarlonView::RefreshModelList() { emit modelListRefreshRequested(); }

void CQuarlonView::OnInitialUpdate()
{
    SetProjectionMode(m_nProjectionMode);
    SetPresetView(0);
    Render();
    if (!m_nTimer)
        m_nTimer = startTimer(250);
}

void CQuarlonView::Render()
{
    // Before the widget has its GL context nothing can be drawn or read.
    if (!m_pRenderWindow->GetReadyForRendering() || !isVisible())
        return;
    // A still picture: the models' full level, whatever the last drag asked.
    m_pRenderWindow->SetDesiredUpdateRate(interactor()->GetStillUpdateRate());
    m_pRenderWindow->Render();
}

void CQuarlonView::UpdateDepthCache()
{
    int* size = m_pRenderWindow->GetSize();
    const int w = size[0], h = size[1];
    if (w * h != static_cast<int>(m_depthBuffer.size())) {
        m_depthBuffer.clear();
        m_nDepthWidth = m_nDepthHeight = 0;
        if (w * h < 1)
            return;
        m_depthBuffer.resize(static_cast<size_t>(w) * h);
    }
    if (w * h < 1 || !m_pRenderWindow->GetReadyForRendering())
        return;
    m_nDepthWidth = w;
    m_nDepthHeight = h;
    m_pRenderWindow->GetZbufferData(0, 0, w - 1, h - 1, m_depthBuffer.data());

    double aspect[2];
    m_pRenderer->GetAspect(aspect);
    vtkCamera* camera = m_pRenderer->GetActiveCamera();
    m_pWorldToView->SetMatrix(camera->GetCompositeProjectionTransformMatrix(aspect[0] / aspect[1], -1, 1));
    m_pViewToWorld->SetMatrix(m_pWorldToView->GetMatrix());
    m_pViewToWorld->Inverse();
}

bool CQuarlonView::SnapWorldPoint(int x, int y, snap::Mode mode, double point[3], const char** snapped)
{
    snap::View view;
    const vtkMatrix4x4* m = m_pWorldToView->GetMatrix();
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            view.worldToClip[4 * i + j] = m->GetElement(i, j);
    view.width = m_nDepthWidth;
    view.height = m_nDepthHeight;
    view.cursor[0] = x + 0.5;
    view.cursor[1] = m_nDepthHeight - y - 0.5;
    view.depth = m_depthBuffer.data();
    std::vector<snap::Model> models;
    if (m_pDocument) {
        CQuarlonDoc::Position pos = m_pDocument->GetFirstModelPosition();
        while (pos) {
            CScanPos* model = m_pDocument->GetNextModel(pos);
            if (!model || !model->IsVisible() || !model->GetPolyData() || !model->GetActor())
                continue;
            snap::Model s;
            s.data = model->GetPolyData();
            vtkMatrix4x4* toRender = model->GetActor()->GetMatrix();
            for (int i = 0; i < 4; ++i)
                for (int j = 0; j < 4; ++j)
                    s.toRender[4 * i + j] = toRender->GetElement(i, j);
            models.push_back(s);
        }
    }
    const snap::Result r = snap::Snap(models, view, mode);
    if (r.kind == snap::Kind::None) {
        if (auto* main = qobject_cast<QMainWindow*>(window()))
            main->statusBar()->showMessage(QStringLiteral("No model point near the cursor"), 5000);
        return false;
    }
    for (int k = 0; k < 3; ++k)
        point[k] = r.point[k];
    if (snapped)
        *snapped = snap::KindName(r.kind);
    return true;
}

bool CQuarlonView::PickWorldPoint(int x, int y, double point[3], const char** snapped)
{
    // The depth of the last picture's models; a picture first where the
    // window has none of its size yet.
    const int* window = m_pRenderWindow->GetSize();
    if (m_depthBuffer.empty() || m_nDepthWidth != window[0] || m_nDepthHeight != window[1])
        Render();
    if (m_depthBuffer.empty() || m_nDepthWidth < 1)
        return false;
    if (snapped)
        *snapped = "";
    const int mode = CSnapChoice::Stored();
    if (mode != 0)
        return SnapWorldPoint(x, y, static_cast<snap::Mode>(mode), point, snapped);
    const int w = m_nDepthWidth, h = m_nDepthHeight;
    const long size = static_cast<long>(m_depthBuffer.size());
    const int r = h - y - 1;
    auto depthAt = [&](int px, int pr, float& d) {
        if (px < 0 || px >= w || pr < 0 || pr >= h)
            return false;
        const long i = static_cast<long>(w) * pr + px;
        if (i >= size)
            return false;
        d = m_depthBuffer[static_cast<size_t>(i)];
        return d != 1.0f;
    };
    int hitX = -1, hitR = -1;
    float d = 1.0f;
    if (depthAt(x, r, d)) {
        hitX = x;
        hitR = r;
    } else {
        for (int k = 1; k <= 6 && hitX < 0; ++k)
            for (int dy = -k; dy <= k && hitX < 0; ++dy)
                for (int dx = -k; dx <= k; ++dx)
                    if (depthAt(x + dx, r + dy, d)) {
                        hitX = x + dx;
                        hitR = r + dy;
                        break;
                    }
    }
    if (hitX < 0)
        return false;
    double v[4] = {(hitX + 0.5) / (w * 0.5) - 1.0, (hitR + 0.5) / (h * 0.5) - 1.0, 2.0 * d - 1.0, 1.0};
    m_pViewToWorld->GetMatrix()->MultiplyPoint(v, v);
    if (v[3] == 0.0)
        return false;
    for (int i = 0; i < 3; ++i)
        point[i] = v[i] / v[3];
    return true;
}

void CQuarlonView::SetPresetView(int preset)
{
    const PresetRow* row = nullptr;
    for (const PresetRow& p : kPresets)
        if (p.preset == preset)
            row = &p;
    if (!row)
        return;
    double bounds[6] = {-1, 1, -1, 1, -1, 1};
    const bool any = ComputeSceneBounds(m_pRenderer, bounds);
    double m[3] = {0, 0, 0};
    if (any)
        for (int i = 0; i < 3; ++i)
            m[i] = 0.5 * (bounds[2 * i] + bounds[2 * i + 1]);
    vtkCamera* camera = m_pRenderer->GetActiveCamera();
    camera->SetPosition(m[0] + row->offset[0], m[1] + row->offset[1], m[2] + row->offset[2]);
    camera->SetFocalPoint(m);
    camera->SetViewUp(row->viewUp);
    m_pRenderer->ResetCamera(bounds);
    camera->Roll(row->roll);
    m_pRenderer->ResetCamera(bounds);
    Render();
}

void CQuarlonView::FitScene()
{
    double bounds[6];
    if (!ComputeSceneBounds(m_pRenderer, bounds))
        return;
    m_pRenderer->ResetCamera(bounds);
    Render();
}

void CQuarlonView::SetProjectionMode(int mode)
{
    m_nProjectionMode = mode;
    if (mode == 0)
        m_pRenderer->GetActiveCamera()->ParallelProjectionOff();
    else if (mode == 1)
        m_pRenderer->GetActiveCamera()->ParallelProjectionOn();
    Render();
}

unsigned int CQuarlonView::GetBackgroundColor() const
{
    if (!m_pRenderer)
        return 0;
    double c[3];
    m_pRenderer->GetBackground(c);
    auto byte = [](double v) { return static_cast<unsigned int>(std::max(0.0, std::min(255.0, v * 255.0))); };
    return byte(c[0]) | (byte(c[1]) << 8) | (byte(c[2]) << 16);
}

void CQuarlonView::SetBackgroundColor(unsigned int colour)
{
    m_pRenderer->SetBackground((colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                               ((colour >> 16) & 0xFF) / 255.0);
    appsettings::WriteSetting("Color", "Background", std::to_string(static_cast<int>(colour)));
    update();
}

bool CQuarlonView::PrintTo(QPrinter& printer)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int W = m_pRenderWindow->GetSize()[0], H = m_pRenderWindow->GetSize()[1];
    const int horz = printer.width(), vert = printer.height();
    const int lx = printer.logicalDpiX(), ly = printer.logicalDpiY();
    // Printers below 100 dpi would give no reduction at all: print 1:1.
    const int s = std::max(1, lx / m_nPrintResolution);
    bool ok = false;
    if (W > 0 && H > 0 && horz > 0 && vert > 0) {
        int outW, outH;
        if (static_cast<double>(W) * vert / ly < static_cast<double>(H) * horz / lx) {
            outH = vert;
            outW = static_cast<int>(vert * (static_cast<double>(W) / H) * (static_cast<double>(lx) / ly));
        } else {
            outW = horz;
            outH = static_cast<int>(horz * (static_cast<double>(H) / W) * (static_cast<double>(ly) / lx));
        }
        QImage picture = grabFramebuffer();
        if (!picture.isNull() && outW / s > 0 && outH / s > 0) {
            picture = picture.scaled(outW / s, outH / s, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            QPainter painter;
            if (painter.begin(&printer)) {
                painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
                painter.drawImage(QRect(0, 0, outW, outH), picture);
                ok = painter.end();
            }
        }
    }
    QApplication::restoreOverrideCursor();
    Render();
    return ok;
}

int CQuarlonView::DevicePixels(int logical) const
{
    return static_cast<int>(std::lround(logical * devicePixelRatioF()));
}

void CQuarlonView::SetCursorIndex(int index)
{
    if (index == m_nCursor)
        return;
    m_nCursor = index;
    setCursor(m_cursors[index]);
}

bool CQuarlonView::ForwardCleared(QMouseEvent* e)
{
    QMouseEvent cleared(e->type(), e->localPos(), e->windowPos(), e->screenPos(), e->button(), e->buttons(),
                        Qt::NoModifier);
    return QVTKOpenGLNativeWidget::event(&cleared);
}

void CQuarlonView::HandleMouseMove(QMouseEvent* e)
{
    const Qt::KeyboardModifiers mods = e->modifiers();
    const bool shift = mods & Qt::ShiftModifier, ctrl = mods & Qt::ControlModifier;
    const bool picking = m_pTools && (m_pTools->IsMeasureVisible() || m_pTools->IsScaleVisible());
    const Qt::MouseButtons b = e->buttons();
    if (shift && ctrl) {
        SetCursorIndex(CursorCentre);
        ForwardCleared(e);
        return;
    }
    if (shift && picking) {
        SetCursorIndex(CursorPick);
        ForwardCleared(e);
        return;
    }
    if (ctrl)
        SetCursorIndex((b & Qt::LeftButton) ? CursorSpin : CursorArrow);
    else if (b & Qt::LeftButton)
        SetCursorIndex(CursorRotate);
    else if (b & Qt::MiddleButton)
        SetCursorIndex(CursorPan);
    else if (b & Qt::RightButton)
        SetCursorIndex(CursorZoom);
    else
        SetCursorIndex(CursorArrow);
    QVTKOpenGLNativeWidget::event(e);
}

bool CQuarlonView::HandleButtonPress(QMouseEvent* e)
{
    const bool shift = e->modifiers() & Qt::ShiftModifier, ctrl = e->modifiers() & Qt::ControlModifier;
    const int x = DevicePixels(e->pos().x()), y = DevicePixels(e->pos().y());
    if (e->button() == Qt::LeftButton) {
        if (shift && ctrl) {
            double p[3];
            if (PickWorldPoint(x, y, p)) {
                vtkCamera* camera = m_pRenderer->GetActiveCamera();
                double focal[3], position[3];
                camera->GetFocalPoint(focal);
                camera->GetPosition(position);
                camera->SetFocalPoint(p);
                camera->SetPosition(p[0] - focal[0] + position[0], p[1] - focal[1] + position[1],
                                    p[2] - focal[2] + position[2]);
                Render();
                return true;
            }
        }
        if (shift) {
            if (m_pTools && m_pTools->IsMeasureVisible())
                MeasurePoint(x, y);
            else if (m_pTools && m_pTools->IsScaleVisible())
                ScalePoint(1, x, y);
            return true;
        }
        return false;
    }
    if (e->button() == Qt::RightButton) {
        if (shift) {
            if (m_pTools && m_pTools->IsScaleVisible())
                ScalePoint(2, x, y);
            return true;
        }
        return false;
    }
    return false; // middle and others: forwarded
}

void CQuarlonView::MeasurePoint(int x, int y)
{
    double p[3];
    const char* snapped = "";
    if (!PickWorldPoint(x, y, p, &snapped) || !m_pDocument)
        return;
    double offset[3];
    m_pDocument->GetOffset(offset);
    const double doc[3] = {p[0] + offset[0], p[1] + offset[1], p[2] + offset[2]};
    m_pTools->OnSnappedMeasurePoint(doc, snapped);
}

void CQuarlonView::OnModelScaled(CScanPos* model, double factor)
{
    vtkLODProp3D* prop = model ? model->GetActor() : nullptr;
    if (!prop || !m_pDocument)
        return;
    // A picked point is the prop's matrix applied to a point of the data;
    // the data grew by `factor`, so the point is M (factor M^-1 p).
    vtkNew<vtkMatrix4x4> inverse;
    vtkMatrix4x4::Invert(prop->GetMatrix(), inverse);
    double offset[3];
    m_pDocument->GetOffset(offset);
    double lengthPoints[2][3];
    int known = 0;
    for (int which = 1; which <= 2; ++which) {
        auto& slot = which == 1 ? m_scalePoint1 : m_scalePoint2;
        if (!slot)
            continue;
        double world[4] = {(*slot)[0] - offset[0], (*slot)[1] - offset[1], (*slot)[2] - offset[2], 1.0}, local[4],
               moved[4];
        inverse->MultiplyPoint(world, local);
        for (int c = 0; c < 3; ++c)
            local[c] *= factor;
        prop->GetMatrix()->MultiplyPoint(local, moved);
        (which == 1 ? m_pCaptionPt1 : m_pCaptionPt2)->SetAttachmentPoint(moved);
        slot = std::array<double, 3>{moved[0] + offset[0], moved[1] + offset[1], moved[2] + offset[2]};
        for (int c = 0; c < 3; ++c)
            lengthPoints[known][c] = (*slot)[c];
        ++known;
    }
    for (int which = 1; which <= 2; ++which) {
        const auto& slot = which == 1 ? m_scalePoint1 : m_scalePoint2;
        if (!slot)
            continue;
        const double length = known == 2 ? measure::Distance({lengthPoints[0][0], lengthPoints[0][1], lengthPoints[0][2]},
                                                             {lengthPoints[1][0], lengthPoints[1][1], lengthPoints[1][2]})
                                         : -1.0;
        m_pTools->OnScalePoint(which, slot->data(), which == 2 ? length : -1.0);
    }
    Render();
}

void CQuarlonView::ScalePoint(int which, int x, int y)
{
    double p[3];
    if (!PickWorldPoint(x, y, p) || !m_pDocument)
        return;
    double offset[3];
    m_pDocument->GetOffset(offset);
    const std::array<double, 3> doc = {p[0] + offset[0], p[1] + offset[1], p[2] + offset[2]};
    auto& slot = which == 1 ? m_scalePoint1 : m_scalePoint2;
    slot = doc;
    vtkCaptionActor2D* caption = which == 1 ? m_pCaptionPt1 : m_pCaptionPt2;
    caption->SetAttachmentPoint(p);
    caption->SetCaption(which == 1 ? "Pt 1" : "Pt 2");
    caption->VisibilityOn();
    Render();
    double length = -1.0;
    if (m_scalePoint1 && m_scalePoint2) {
        const auto& a = *m_scalePoint1;
        const auto& b = *m_scalePoint2;
        length = measure::Distance({a[0], a[1], a[2]}, {b[0], b[1], b[2]});
    }
    m_pTools->OnScalePoint(which, doc.data(), length);
    update();
}

bool CQuarlonView::event(QEvent* e)
{
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (HandleButtonPress(static_cast<QMouseEvent*>(e)))
            return true;
        break;
    case QEvent::MouseButtonRelease: {
        const bool result = QVTKOpenGLNativeWidget::event(e);
        if (m_pTools && m_pTools->IsMeasureVisible())
            m_pTools->OnButtonUp();
        return result;
    }
    case QEvent::MouseMove:
        HandleMouseMove(static_cast<QMouseEvent*>(e));
        return true;
    case QEvent::Wheel:
        e->accept(); // the wheel does not zoom
        return true;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(e);
        const QString text = key->text();
        if (text.size() == 1 && text[0].isPrint() && !IsBlockedChar(text[0]))
            return QVTKOpenGLNativeWidget::event(e);
        return QOpenGLWidget::event(e);
    }
    case QEvent::KeyRelease:
        return QOpenGLWidget::event(e);
    default:
        break;
    }
    return QVTKOpenGLNativeWidget::event(e);
}

void CQuarlonView::timerEvent(QTimerEvent* e)
{
    if (e->timerId() != m_nTimer) {
        QVTKOpenGLNativeWidget::timerEvent(e);
        return;
    }
    // Keep the view the size of its frame when nothing lays it out.
    if (QWidget* parent = parentWidget(); parent && !parent->layout() && size() != parent->contentsRect().size())
        setGeometry(parent->contentsRect());
}
