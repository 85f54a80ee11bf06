#pragma once
// The 3D view of a document window: renderer, render window and interactor,
// the orientation axes, the "Pt 1"/"Pt 2" captions, mouse and key dispatch,
// and picking from the depth buffer (or snapped to the models' geometry).
#include "core/measure/Snap.h"
#include "core/model/IDocumentView.h"
#include "gui/common/IModelView.h"

#include <QCursor>
#include <QVTKOpenGLNativeWidget.h>
#include <vtkNew.h>
#include <vtkSmartPointer.h>

#include <array>
#include <optional>
#include <vector>

class CQuarlonDoc;
class IViewTools;
class QPrinter;
class vtkAxesActor;
class vtkCaptionActor2D;
class vtkGenericOpenGLRenderWindow;
class vtkObject;
class vtkOrientationMarkerWidget;
class vtkRenderer;
class vtkTransform;

class CQuarlonView : public QVTKOpenGLNativeWidget, public IDocumentView, public IModelView {
    Q_OBJECT
public:
    explicit CQuarlonView(QWidget* parent = nullptr);
    ~CQuarlonView() override;

    void SetDocument(CQuarlonDoc* document) { m_pDocument = document; }
    CQuarlonDoc* GetDocument() const override { return m_pDocument; }
    void SetTools(IViewTools* tools) { m_pTools = tools; }

    // IDocumentView
    vtkRenderer* GetRenderer() override;
    // Markers and captions: drawn over the models, never picked.
    vtkRenderer* GetOverlayRenderer() override { return m_pOverlayRenderer; }
    void OnModelScaled(CScanPos* model, double factor) override;
    vtkRenderWindow* GetRenderWindow() override;
    void Invalidate() override { update(); }
    void RefreshModelList() override;

    // Projection, first preset view, first render, timer.
    void OnInitialUpdate();
    void Render() override;
    // The models' depth as the last picture drew them (before any overlay),
    // with the camera of that picture.
    void UpdateDepthCache();
    // Window pixel (y downward) to render coordinates; false when no model
    // pixel lies within six pixels. Overlays are never picked. With a snap
    // chosen in the tools (settings key Snap of section Measure) the pick
    // is a point of the models' own geometry; `snapped` (may be none) then
    // names what it took, else "".
    bool PickWorldPoint(int x, int y, double point[3], const char** snapped = nullptr);
    void SetPresetView(int preset);
    // The whole scene in sight, looking the way the camera looks now.
    void FitScene();
    void SetProjectionMode(int mode);
    int GetProjectionMode() const { return m_nProjectionMode; }
    unsigned int GetBackgroundColor() const;
    void SetBackgroundColor(unsigned int colour);
    // Renders at a reduced resolution and stretches the picture onto the page.
    bool PrintTo(QPrinter& printer);

    const double* GetScalePoint1() const { return m_scalePoint1 ? m_scalePoint1->data() : nullptr; }
    const double* GetScalePoint2() const { return m_scalePoint2 ? m_scalePoint2->data() : nullptr; }
    vtkCaptionActor2D* GetCaptionPt1() const { return m_pCaptionPt1; }
    vtkCaptionActor2D* GetCaptionPt2() const { return m_pCaptionPt2; }
    int CurrentCursorIndex() const { return m_nCursor; }
    vtkOrientationMarkerWidget* OrientationMarker() const;

signals:
    // The document added a model: the frame's models list follows.
    void modelListRefreshRequested();

protected:
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    bool HandleButtonPress(QMouseEvent* event);
    void HandleMouseMove(QMouseEvent* event);
    bool ForwardCleared(QMouseEvent* event);
    void MeasurePoint(int x, int y);
    bool SnapWorldPoint(int x, int y, snap::Mode mode, double point[3], const char** snapped);
    void ScalePoint(int which, int x, int y);
    void SetCursorIndex(int index);
    // Every render: models draw their full level at rest and choose their
    // level by time only while the mouse moves the camera.
    void OnRenderStart(vtkObject*, unsigned long, void*);
    void OnInteraction(vtkObject*, unsigned long event, void*);
    void OnModelsDrawn(vtkObject*, unsigned long, void*);
    int DevicePixels(int logical) const;

    CQuarlonDoc* m_pDocument = nullptr;
    IViewTools* m_pTools = nullptr;
    int m_nPrintResolution = 100;
    std::vector<float> m_depthBuffer;
    int m_nDepthWidth = 0, m_nDepthHeight = 0;
    vtkNew<vtkRenderer> m_pRenderer;
    vtkNew<vtkRenderer> m_pOverlayRenderer;
    vtkNew<vtkGenericOpenGLRenderWindow> m_pRenderWindow;
    vtkNew<vtkTransform> m_pWorldToView;
    vtkNew<vtkTransform> m_pViewToWorld;
    int m_nProjectionMode = 1;
    QCursor m_cursors[7];
    int m_nCursor = 0;
    vtkNew<vtkAxesActor> m_pAxesActor;
    vtkSmartPointer<vtkOrientationMarkerWidget> m_pOrientationWidget;
    std::optional<std::array<double, 3>> m_scalePoint1, m_scalePoint2;
    vtkNew<vtkCaptionActor2D> m_pCaptionPt1;
    vtkNew<vtkCaptionActor2D> m_pCaptionPt2;
    int m_nTimer = 0;
    bool m_bInteracting = false;
};
