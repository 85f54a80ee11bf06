// The 3D view driven as a user drives it: Shift-clicks on known pixels,
// the rotation-centre click, the mouse and key dispatch, settings.
#include "GuiFixtures.h"

#include "gui/app/CMainFrame.h"
#include "gui/app/CQuarlonApp.h"
#include "core/common/AppSettings.h"
#include "core/model/CQuarlonDoc.h"
#include "core/model/CScanPos.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"
#include "gui/view/IViewTools.h"

#include <QStatusBar>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <vtkCallbackCommand.h>
#include <vtkCamera.h>
#include <vtkCaptionActor2D.h>
#include <vtkOrientationMarkerWidget.h>
#include <vtkRenderWindowInteractor.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>

#include <array>
#include <functional>
#include <cmath>

namespace {

struct FakeTools : IViewTools {
    bool measure = true, scale = false;
    std::vector<std::array<double, 3>> points;
    std::vector<std::pair<int, double>> scalePicks;
    int buttonUps = 0;
    bool IsMeasureVisible() const override { return measure; }
    bool IsScaleVisible() const override { return scale; }
    void OnMeasurePoint(const double p[3]) override { points.push_back({p[0], p[1], p[2]}); }
    void OnScalePoint(int which, const double[3], double length) override { scalePicks.emplace_back(which, length); }
    void OnButtonUp() override { ++buttonUps; }
};

double Flat(int, int) { return 2.0; }

// A flat 40 m x 30 m plane at z = 2 with a georeferenced offset, drawn as a
// surface from the top.
struct ViewTest : ::testing::Test {
    TempDir dir;
    CQuarlonApp app;
    CQuarlonFrame* frame = nullptr;
    CQuarlonView* view = nullptr;
    FakeTools tools;

    void SetUp() override
    {
        GuiEnvironment::ResetSettings();
        int code = 0;
        ASSERT_TRUE(app.InitInstance({QStringLiteral("quarlon")}, code));
        app.MainFrame()->resize(900, 700);
        WriteModel(dir.File("plane.vtp"), {41, 31, true, {RgbArray()}, false, &Flat});
        WriteText(dir.File("plane.vtw"), "[PolyData Offset]\nX=500000\nY=4500000\nZ=100\n");
        WriteText(dir.File("plane.ini"), "[CloudData]\nRepresentation=14\n");
        frame = app.OpenDocumentFile(QString::fromStdString(dir.File("plane.vtp")));
        ASSERT_NE(frame, nullptr);
        view = frame->GetView();
        view->SetTools(&tools);
        Settle();
        view->SetPresetView(0);
    }
    void TearDown() override
    {
        if (view)
            view->SetTools(nullptr);
    }
    vtkCamera* Camera() { return view->GetRenderer()->GetActiveCamera(); }
};

} // namespace

TEST_F(ViewTest, ShiftClickPicksDocumentCoordinatesFromTheDepthBuffer)
{
    for (const auto& target : std::vector<std::array<double, 3>>{{10, 10, 2}, {31.5, 7.25, 2}, {20, 25, 2}}) {
        const QPoint pixel = PixelOf(view, target.data());
        tools.points.clear();
        QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, pixel);
        ASSERT_EQ(tools.points.size(), 1u) << target[0] << "," << target[1];
        const auto& p = tools.points[0];
        // Within a pixel's footprint in x and y; z from the depth buffer.
        const double pixelSize = 2.0 * Camera()->GetParallelScale() / view->GetRenderWindow()->GetSize()[1];
        EXPECT_NEAR(p[0], 500000 + target[0], 1.5 * pixelSize);
        EXPECT_NEAR(p[1], 4500000 + target[1], 1.5 * pixelSize);
        EXPECT_NEAR(p[2], 100 + target[2], 0.05);
    }
    // A Shift-click is never forwarded: the camera did not move.
    EXPECT_EQ(tools.buttonUps, 3);
}

TEST_F(ViewTest, CaptionsAreNeverPicked)
{
    // A scale point's caption sits beside it over the model; a Shift-click
    // on the caption picks the model under it, never the caption.
    tools.measure = false;
    tools.scale = true;
    const double a[3] = {12, 12, 2};
    const QPoint at = PixelOf(view, a);
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, at);
    ASSERT_TRUE(view->GetCaptionPt1()->GetVisibility());
    view->Render();
    Settle();
    const QImage picture = view->grabFramebuffer();
    // The caption's pixels: its magenta, away from the marked point.
    std::vector<QPoint> caption;
    for (int y = std::max(0, at.y() - 80); y < std::min(picture.height(), at.y() + 80); ++y)
        for (int x = std::max(0, at.x() - 80); x < std::min(picture.width(), at.x() + 80); ++x) {
            const QRgb c = picture.pixel(x, y);
            if (qRed(c) > 200 && qBlue(c) > 200 && qGreen(c) < 80 && std::abs(x - at.x()) + std::abs(y - at.y()) > 6)
                caption.emplace_back(x, y);
        }
    ASSERT_GT(caption.size(), 20u) << "the caption is drawn";
    // Where the final picture holds the caption's depth, the pick still
    // finds the plane under it (z = 2 in render coordinates, 102 in the
    // document's).
    const int* size = view->GetRenderWindow()->GetSize();
    std::vector<float> finalDepth(static_cast<size_t>(size[0]) * size[1]);
    view->GetRenderWindow()->GetZbufferData(0, 0, size[0] - 1, size[1] - 1, finalDepth.data());
    size_t overlaid = 0, picked = 0;
    for (size_t i = 0; i < caption.size(); i += 3) {
        const QPoint q = caption[i];
        const QPoint device(q.x() * size[0] / view->width(), q.y() * size[1] / view->height());
        overlaid += finalDepth[static_cast<size_t>(size[1] - 1 - device.y()) * size[0] + device.x()] < 0.05f;
        double p[3];
        if (!view->PickWorldPoint(device.x(), device.y(), p))
            continue;
        ++picked;
        EXPECT_NEAR(p[2], 2.0, 0.05) << "caption pixel " << q.x() << "," << q.y();
    }
    EXPECT_GT(picked, 5u);
    // The test can see the fault: the caption did write its depth.
    EXPECT_GT(overlaid, 0u);
}

TEST_F(ViewTest, SnappedPicksTakeTheModelsOwnGeometry)
{
    const double pixelSize = 2.0 * Camera()->GetParallelScale() / view->GetRenderWindow()->GetSize()[1];
    // Points: the view ray's intersection with the triangles, on the plane
    // exactly (a depth sample is not).
    appsettings::WriteSetting("Measure", "Snap", "1");
    const double target[3] = {10.3, 12.7, 2};
    tools.points.clear();
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, PixelOf(view, target));
    ASSERT_EQ(tools.points.size(), 1u);
    EXPECT_EQ(tools.points[0][2], 102.0);
    EXPECT_NEAR(tools.points[0][0], 500010.3, pixelSize);
    EXPECT_NEAR(tools.points[0][1], 4500012.7, pixelSize);
    // Corners and edges: a click a few pixels from a corner takes the
    // corner itself, to the coordinates' last decimal.
    appsettings::WriteSetting("Measure", "Snap", "2");
    const double corner[3] = {10, 12, 2};
    tools.points.clear();
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, PixelOf(view, corner) + QPoint(3, -2));
    ASSERT_EQ(tools.points.size(), 1u);
    EXPECT_EQ(tools.points[0][0], 500010.0);
    EXPECT_EQ(tools.points[0][1], 4500012.0);
    EXPECT_EQ(tools.points[0][2], 102.0);
    // Nothing of the model near the cursor: nothing is added, and the
    // status line says why.
    const double outside[3] = {-30, 15, 2};
    tools.points.clear();
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, PixelOf(view, outside));
    EXPECT_TRUE(tools.points.empty());
    EXPECT_EQ(app.MainFrame()->statusBar()->currentMessage().toStdString(), "No model point near the cursor");
    appsettings::WriteSetting("Measure", "Snap", "0");
}

TEST_F(ViewTest, RingSearchFindsTheModelWithinSixPixelsOnly)
{
    const double corner[3] = {0, 15, 2}; // middle of the left edge
    const QPoint edge = PixelOf(view, corner);
    double p[3];
    ASSERT_TRUE(view->PickWorldPoint(edge.x() + 2, edge.y(), p));
    EXPECT_TRUE(view->PickWorldPoint(edge.x() - 4, edge.y(), p)) << "background within six pixels";
    EXPECT_NEAR(p[0], 0.0, 0.2);
    EXPECT_FALSE(view->PickWorldPoint(edge.x() - 10, edge.y(), p)) << "too far from the model";
    tools.points.clear();
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, QPoint(edge.x() - 12, edge.y()));
    EXPECT_TRUE(tools.points.empty());
    // Without the measure window a Shift-click picks nothing.
    tools.measure = false;
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, PixelOf(view, corner));
    EXPECT_TRUE(tools.points.empty());
}

TEST_F(ViewTest, ScalePointsGetCaptionsAndALengthOnceBothExist)
{
    tools.measure = false;
    tools.scale = true;
    const double a[3] = {10, 10, 2}, b[3] = {30, 10, 2};
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, PixelOf(view, a));
    ASSERT_EQ(tools.scalePicks.size(), 1u);
    EXPECT_LT(tools.scalePicks[0].second, 0) << "no length with one point";
    EXPECT_TRUE(view->GetCaptionPt1()->GetVisibility());
    EXPECT_STREQ(view->GetCaptionPt1()->GetCaption(), "Pt 1");
    const double* first = view->GetScalePoint1();
    QTest::mouseClick(view, Qt::RightButton, Qt::ShiftModifier, PixelOf(view, b));
    ASSERT_EQ(tools.scalePicks.size(), 2u);
    EXPECT_NEAR(tools.scalePicks[1].second, 20.0, 0.2);
    EXPECT_TRUE(view->GetCaptionPt2()->GetVisibility());
    // Picking point 1 again overwrites it in place.
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, PixelOf(view, b));
    EXPECT_EQ(view->GetScalePoint1(), first);
    EXPECT_NEAR(tools.scalePicks[2].second, 0.0, 0.2);
    // With both windows visible, Shift-left feeds the measure window only.
    tools.measure = true;
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, PixelOf(view, a));
    EXPECT_EQ(tools.points.size(), 1u);
    EXPECT_EQ(tools.scalePicks.size(), 3u);
}

TEST_F(ViewTest, CtrlShiftClickMovesTheRotationCentreKeepingDirectionAndDistance)
{
    double focal[3], position[3];
    Camera()->GetFocalPoint(focal);
    Camera()->GetPosition(position);
    const double target[3] = {8, 22, 2};
    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier | Qt::ControlModifier, PixelOf(view, target));
    double newFocal[3], newPosition[3];
    Camera()->GetFocalPoint(newFocal);
    Camera()->GetPosition(newPosition);
    EXPECT_NEAR(newFocal[0], 8, 0.2);
    EXPECT_NEAR(newFocal[1], 22, 0.2);
    EXPECT_NEAR(newFocal[2], 2, 0.05);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(newPosition[i] - newFocal[i], position[i] - focal[i], 1e-9);
    EXPECT_TRUE(tools.points.empty()) << "a found rotation centre is not a measure point";
}

TEST_F(ViewTest, WheelDoesNotZoomAndOnlyAllowedCharactersReachTheInteractor)
{
    double scale = Camera()->GetParallelScale();
    double position[3];
    Camera()->GetPosition(position);
    const QPoint centre(view->width() / 2, view->height() / 2);
    QWheelEvent wheel(centre, view->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(view, &wheel);
    EXPECT_EQ(Camera()->GetParallelScale(), scale);

    int chars = 0;
    vtkNew<vtkCallbackCommand> counter;
    counter->SetClientData(&chars);
    counter->SetCallback([](vtkObject*, unsigned long, void* data, void*) { ++*static_cast<int*>(data); });
    view->interactor()->AddObserver(vtkCommand::CharEvent, counter);
    for (char c : std::string("qQeEjJpPfFsSmMwW3"))
        QTest::keyClick(view, c);
    EXPECT_EQ(chars, 0);
    // "r" is forwarded and resets the camera.
    Camera()->Zoom(3.0);
    const double zoomed = Camera()->GetParallelScale();
    QTest::keyClick(view, 'r');
    EXPECT_EQ(chars, 1);
    EXPECT_GT(Camera()->GetParallelScale(), zoomed * 1.5);
}

TEST_F(ViewTest, DragsTurnPanAndZoomWithTheirCursors)
{
    const QPoint c(view->width() / 2, view->height() / 2);
    double before[3], after[3];
    Camera()->GetPosition(before);
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, c);
    QMouseEvent move(QEvent::MouseMove, c + QPoint(40, 25), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &move);
    EXPECT_EQ(view->CurrentCursorIndex(), 2);
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, c + QPoint(40, 25));
    Camera()->GetPosition(after);
    EXPECT_GT(std::fabs(after[0] - before[0]) + std::fabs(after[1] - before[1]), 1e-3) << "left drag turns";

    QMouseEvent shiftCtrl(QEvent::MouseMove, c, Qt::NoButton, Qt::NoButton, Qt::ShiftModifier | Qt::ControlModifier);
    QCoreApplication::sendEvent(view, &shiftCtrl);
    EXPECT_EQ(view->CurrentCursorIndex(), 5);
    QMouseEvent shift(QEvent::MouseMove, c, Qt::NoButton, Qt::NoButton, Qt::ShiftModifier);
    QCoreApplication::sendEvent(view, &shift);
    EXPECT_EQ(view->CurrentCursorIndex(), 6) << "measure window visible: picking cursor";
    QMouseEvent plain(QEvent::MouseMove, c, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &plain);
    EXPECT_EQ(view->CurrentCursorIndex(), 0);

    const double scale = Camera()->GetParallelScale();
    QTest::mousePress(view, Qt::RightButton, Qt::NoModifier, c);
    QMouseEvent zoom(QEvent::MouseMove, c + QPoint(0, -60), Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &zoom);
    EXPECT_EQ(view->CurrentCursorIndex(), 4);
    QTest::mouseRelease(view, Qt::RightButton, Qt::NoModifier, c + QPoint(0, -60));
    EXPECT_NE(Camera()->GetParallelScale(), scale) << "right drag zooms";
}

TEST(ViewSettings, BackgroundAndProjectionPersistAcrossARestart)
{
    GuiEnvironment::ResetSettings();
    TempDir dir;
    WriteModel(dir.File("m.vtp"), {5, 5, true, {}});
    // A fresh application with the model open; `check` looks at its view.
    auto restart = [&dir](const std::function<void(CQuarlonView*)>& check) {
        CQuarlonApp app;
        int code = 0;
        ASSERT_TRUE(app.InitInstance({QStringLiteral("quarlon")}, code));
        CQuarlonFrame* frame = app.OpenDocumentFile(QString::fromStdString(dir.File("m.vtp")));
        ASSERT_NE(frame, nullptr);
        check(frame->GetView());
    }; // closing the application writes the projection
    auto parallel = [](CQuarlonView* v) { return v->GetRenderer()->GetActiveCamera()->GetParallelProjection() != 0; };

    restart([&](CQuarlonView* v) {
        EXPECT_TRUE(parallel(v)) << "no stored setting: parallel";
        v->SetBackgroundColor(0x00FF8000);
        v->SetProjectionMode(0);
    });
    EXPECT_EQ(appsettings::ReadSetting("Color", "Background", ""), std::to_string(0x00FF8000));
    EXPECT_EQ(appsettings::ReadSetting("Quarlon", "PerspectiveView", ""), "0");
    restart([&](CQuarlonView* v) {
        EXPECT_EQ(v->GetBackgroundColor(), 0x00FF8000u);
        EXPECT_EQ(v->GetProjectionMode(), 0);
        EXPECT_FALSE(parallel(v));
    });
    // Odd stored texts count as 0.
    appsettings::WriteSetting("Color", "Background", "-");
    appsettings::WriteSetting("Quarlon", "PerspectiveView", "parallel");
    restart([](CQuarlonView* v) {
        EXPECT_EQ(v->GetBackgroundColor(), 0u);
        EXPECT_EQ(v->GetProjectionMode(), 0);
    });
}

// A large model at rest takes a full-level frame to draw: the pointer
// passing over the view must not ask for one, except to show or hide the
// outline of the orientation marker it enters or leaves, which the user can
// still drag.
TEST_F(ViewTest, HoveringRedrawsOnlyWhenTheMarkerOutlineChanges)
{
    Settle();
    RenderCounter renders(view);
    const auto hover = [this](QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view, &move);
    };
    // Whether the marker's orange outline is in the picture.
    const auto outlined = [this] {
        const QImage img = view->grabFramebuffer();
        int orange = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb p = img.pixel(x, y);
                // (0.93, 0.57, 0.13), however bright it is drawn
                const double r = qRed(p);
                orange += r > 100 && std::abs(qGreen(p) / r - 0.61) < 0.06 && qBlue(p) / r < 0.2;
            }
        return orange > 20;
    };
    const int w = view->width(), h = view->height();
    for (int i = 0; i < 20; ++i)
        hover(QPoint(w / 2 + 7 * i, h / 3 + 5 * i));
    EXPECT_EQ(renders.Take(), 0) << "moves over the models";

    const QPoint marker(w / 10, h - h / 10); // the lower-left fifth
    hover(marker);
    EXPECT_GE(renders.Take(), 1) << "entering the marker shows its outline";
    EXPECT_TRUE(outlined());
    hover(QPoint(w / 2, h / 2));
    EXPECT_GE(renders.Take(), 1) << "leaving it hides the outline";
    EXPECT_FALSE(outlined());
    renders.Take();
    hover(QPoint(w / 2 + 30, h / 2 + 10));
    EXPECT_EQ(renders.Take(), 0);

    // Dragged by its middle, the marker moves.
    double before[4], after[4];
    view->OrientationMarker()->GetViewport(before);
    hover(marker);
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, marker);
    QMouseEvent drag(QEvent::MouseMove, marker + QPoint(60, -40), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &drag);
    QMouseEvent release(QEvent::MouseButtonRelease, marker + QPoint(60, -40), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(view, &release);
    view->OrientationMarker()->GetViewport(after);
    EXPECT_GT(after[0], before[0] + 0.01);
    EXPECT_GT(after[1], before[1] + 0.01);
}
