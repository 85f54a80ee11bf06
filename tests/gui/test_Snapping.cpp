// Snapped picks driven by real Shift-clicks in the view, held against
// geometry known exactly: a deck one metre above a floor as a cloud (the
// floor showing through the gaps between the deck's points), and a facade
// mesh with two window openings whose widths corner snapping measures.
#include "GuiFixtures.h"

#include "core/common/AppSettings.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CQuarlonApp.h"
#include "gui/view/CQuarlonFrame.h"
#include "gui/view/CQuarlonView.h"
#include "gui/view/IViewTools.h"

#include <QTest>
#include <gtest/gtest.h>

#include <vtkCamera.h>
#include <vtkCellArray.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkXMLPolyDataWriter.h>

#include <array>
#include <cmath>

namespace {

struct Tools : IViewTools {
    std::vector<std::array<double, 3>> points;
    std::vector<std::string> kinds;
    bool IsMeasureVisible() const override { return true; }
    bool IsScaleVisible() const override { return false; }
    void OnMeasurePoint(const double p[3]) override { points.push_back({p[0], p[1], p[2]}); }
    void OnSnappedMeasurePoint(const double p[3], const char* snapped) override
    {
        OnMeasurePoint(p);
        kinds.emplace_back(snapped);
    }
    void OnScalePoint(int, const double[3], double) override {}
    void OnButtonUp() override {}
};

void Write(vtkPolyData* data, const std::string& path)
{
    vtkNew<vtkXMLPolyDataWriter> writer;
    writer->SetInputData(data);
    writer->SetFileName(path.c_str());
    writer->Write();
}

struct SnapViewTest : ::testing::Test {
    TempDir dir;
    CQuarlonApp app;
    CQuarlonFrame* frame = nullptr;
    CQuarlonView* view = nullptr;
    Tools tools;

    void Open(const std::string& name, const char* representation)
    {
        GuiEnvironment::ResetSettings();
        int code = 0;
        ASSERT_TRUE(app.InitInstance({QStringLiteral("quarlon")}, code));
        app.MainFrame()->resize(900, 700);
        WriteText(dir.File(name + ".vtw"), "[PolyData Offset]\nX=500000\nY=4500000\nZ=100\n");
        WriteText(dir.File(name + ".ini"), std::string("[CloudData]\nRepresentation=") + representation + "\n");
        frame = app.OpenDocumentFile(QString::fromStdString(dir.File(name + ".vtp")));
        ASSERT_NE(frame, nullptr);
        view = frame->GetView();
        view->SetTools(&tools);
        Settle();
    }
    void TearDown() override
    {
        if (view)
            view->SetTools(nullptr);
    }
    void Click(const QPoint& at)
    {
        QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, at);
    }
};

// The deck (z = 1, x < 10) every 0.25 m and the floor (z = 0) under all of
// it, shifted by half a step: 20 m x 10 m.
void WriteDeck(const std::string& path)
{
    vtkNew<vtkPolyData> data;
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    for (int j = 0; j < 40; ++j)
        for (int i = 0; i < 80; ++i) {
            if (i < 40)
                points->InsertNextPoint(0.25 * i, 0.25 * j, 1.0);
            points->InsertNextPoint(0.25 * i + 0.125, 0.25 * j + 0.125, 0.0);
        }
    vtkNew<vtkCellArray> verts;
    for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i)
        verts->InsertNextCell(1, &i);
    data->SetPoints(points);
    data->SetVerts(verts);
    Write(data, path);
}

} // namespace

TEST_F(SnapViewTest, CloudPicksAreDeckPointsNeverTheFloorBetweenThem)
{
    WriteDeck(dir.File("deck.vtp"));
    Open("deck", "4");
    view->SetPresetView(0);
    view->Render();
    Settle();
    const int* size = view->GetRenderWindow()->GetSize();
    // Clicks over the deck, between its points: Off takes whatever the pixel
    // holds (the floor through a gap, or a point's footprint); Points takes
    // a deck point, exactly, the nearest to the click on screen.
    int offFloor = 0, offOnPoint = 0, clicks = 0;
    for (int pass = 0; pass < 2; ++pass) {
        appsettings::WriteSetting("Measure", "Snap", pass == 0 ? "0" : "1");
        tools.points.clear();
        tools.kinds.clear();
        std::vector<QPoint> at;
        for (double x = 1.06; x < 9.0; x += 0.93)
            for (double y = 1.11; y < 9.0; y += 1.37) {
                const double world[3] = {x, y, 1.0};
                at.push_back(PixelOf(view, world));
            }
        for (const QPoint& p : at)
            Click(p);
        ASSERT_EQ(tools.points.size(), at.size()) << "pass " << pass;
        clicks = static_cast<int>(at.size());
        for (size_t k = 0; k < at.size(); ++k) {
            const auto& q = tools.points[k];
            const double x = q[0] - 500000, y = q[1] - 4500000, z = q[2] - 100;
            if (pass == 0) {
                offFloor += z < 0.5;
                offOnPoint += std::fabs(x / 0.25 - std::round(x / 0.25)) < 1e-9;
                continue;
            }
            EXPECT_EQ(tools.kinds[k], "point");
            EXPECT_EQ(z, 1.0) << "click " << k << " took the floor";
            EXPECT_EQ(x, 0.25 * std::round(x / 0.25)) << "a point of the deck, exactly";
            EXPECT_EQ(y, 0.25 * std::round(y / 0.25));
            // The nearest deck point to the click on screen.
            const double picked[3] = {x, y, 1.0};
            const QPoint p = PixelOf(view, picked);
            const double d = std::hypot(p.x() - at[k].x(), p.y() - at[k].y());
            for (int di = -1; di <= 1; ++di)
                for (int dj = -1; dj <= 1; ++dj) {
                    const double other[3] = {x + 0.25 * di, y + 0.25 * dj, 1.0};
                    const QPoint o = PixelOf(view, other);
                    EXPECT_LE(d, std::hypot(o.x() - at[k].x(), o.y() - at[k].y()) + 1.5);
                }
        }
    }
    std::printf("deck, whole view (%dx%d): Off took the floor %d of %d times, a deck point exactly %d times\n",
                size[0], size[1], offFloor, clicks, offOnPoint);
    // Zoomed in, the dots far apart: a click near a dot takes it; far from
    // every dot, nothing is added.
    appsettings::WriteSetting("Measure", "Snap", "1");
    vtkCamera* camera = view->GetRenderer()->GetActiveCamera();
    double focal[3], position[3];
    camera->GetFocalPoint(focal);
    camera->GetPosition(position);
    camera->SetFocalPoint(5.0, 5.0, focal[2]);
    camera->SetPosition(5.0 + position[0] - focal[0], 5.0 + position[1] - focal[1], position[2]);
    camera->Zoom(12.0);
    view->GetRenderer()->ResetCameraClippingRange();
    view->Render();
    Settle();
    tools.points.clear();
    const double dot[3] = {5.0, 5.0, 1.0};
    const double near[3] = {5.02, 4.99, 1.0};
    Click(PixelOf(view, near));
    ASSERT_EQ(tools.points.size(), 1u);
    EXPECT_EQ(tools.points[0][0], 500005.0);
    EXPECT_EQ(tools.points[0][1], 4500005.0);
    const QPoint a = PixelOf(view, dot);
    const double next[3] = {5.25, 5.0, 1.0};
    if (PixelOf(view, next).x() - a.x() > 40) { // more than 2 x 16 pixels apart
        tools.points.clear();
        const double between[3] = {5.125, 5.0625, 1.0};
        const double floorDot[3] = {5.125, 5.125, 0.0};
        const QPoint b = PixelOf(view, between), f = PixelOf(view, floorDot);
        if (std::hypot(b.x() - f.x(), b.y() - f.y()) > 16)
            Click(b);
        EXPECT_TRUE(tools.points.empty());
    }
    appsettings::WriteSetting("Measure", "Snap", "0");
}

TEST_F(SnapViewTest, CornerSnappingMeasuresWindowWidthsExactly)
{
    // A facade 10 m wide and 6 m high in the x-z plane, triangles every
    // 0.3 m, with window openings of 1.2 x 1.5 m and 0.9 x 1.5 m.
    vtkNew<vtkPolyData> facade;
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    const int nx = 34, nz = 21; // corners: 0 .. 9.9 m, 0 .. 6 m
    for (int k = 0; k < nz; ++k)
        for (int i = 0; i < nx; ++i)
            points->InsertNextPoint(0.3 * i, 0.0, 0.3 * k);
    auto window = [](int i, int k) {
        return (i >= 4 && i < 8 && k >= 5 && k < 10) || (i >= 20 && i < 23 && k >= 5 && k < 10);
    };
    vtkNew<vtkCellArray> polys;
    for (int k = 0; k + 1 < nz; ++k)
        for (int i = 0; i + 1 < nx; ++i) {
            if (window(i, k))
                continue;
            const vtkIdType a = k * nx + i, b = a + 1, c = a + nx, d = c + 1;
            const vtkIdType t1[3] = {a, b, d}, t2[3] = {a, d, c};
            polys->InsertNextCell(3, t1);
            polys->InsertNextCell(3, t2);
        }
    facade->SetPoints(points);
    facade->SetPolys(polys);
    Write(facade, dir.File("facade.vtp"));
    Open("facade", "14");
    vtkCamera* camera = view->GetRenderer()->GetActiveCamera();
    camera->SetFocalPoint(5, 0, 3);
    camera->SetPosition(5, -40, 3);
    camera->SetViewUp(0, 0, 1);
    view->GetRenderer()->ResetCamera();
    view->Render();
    Settle();

    appsettings::WriteSetting("Measure", "Snap", "2");
    // Clicks a few pixels inside each window's lower corners.
    const double corners[4][3] = {{1.2, 0, 1.5}, {2.4, 0, 1.5}, {6.0, 0, 1.5}, {6.9, 0, 1.5}};
    const QPoint nudge[4] = {QPoint(4, -3), QPoint(-4, -3), QPoint(4, -3), QPoint(-4, -3)};
    tools.points.clear();
    for (int c = 0; c < 4; ++c)
        Click(PixelOf(view, corners[c]) + nudge[c]);
    ASSERT_EQ(tools.points.size(), 4u);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(tools.kinds[static_cast<size_t>(c)], "vertex") << c;
        // The corners' own coordinates, as the model holds them.
        EXPECT_EQ(tools.points[static_cast<size_t>(c)][0], 500000.0 + 0.3 * std::round(corners[c][0] / 0.3)) << c;
        EXPECT_EQ(tools.points[static_cast<size_t>(c)][2], 100.0 + 0.3 * 5) << c;
    }
    EXPECT_NEAR(tools.points[1][0] - tools.points[0][0], 1.2, 1e-9);
    EXPECT_NEAR(tools.points[3][0] - tools.points[2][0], 0.9, 1e-9);
    // Off: the depth buffer's pick, a pixel's footprint away from the corner.
    appsettings::WriteSetting("Measure", "Snap", "0");
    tools.points.clear();
    for (int c = 0; c < 2; ++c)
        Click(PixelOf(view, corners[c]) + nudge[c]);
    ASSERT_EQ(tools.points.size(), 2u);
    const double offWidth = tools.points[1][0] - tools.points[0][0];
    std::printf("facade, front view: window width 1.2 m measured %.4f m with Off, exactly with corner snapping\n",
                offWidth);
    EXPECT_GT(std::fabs(offWidth - 1.2), 1e-6) << "the test sees the difference snapping makes";
}

TEST_F(SnapViewTest, TiltedPlaneCloudAndStepMeshPicksAreExact)
{
    // A georeferenced tilted plane as a cloud (z = 0.5 x + 0.25 y, every
    // 0.5 m) and, beside it, a 1 m step as a mesh (z = 1 for y < 5, else 0,
    // with its riser), both 20 m wide.
    vtkNew<vtkPolyData> cloud;
    vtkNew<vtkPoints> cp;
    cp->SetDataTypeToDouble();
    vtkNew<vtkCellArray> verts;
    for (int j = 0; j <= 20; ++j)
        for (int i = 0; i <= 40; ++i) {
            const vtkIdType id = cp->InsertNextPoint(0.5 * i, 0.5 * j, 0.25 * i + 0.125 * j);
            verts->InsertNextCell(1, &id);
        }
    cloud->SetPoints(cp);
    cloud->SetVerts(verts);
    Write(cloud, dir.File("tilted.vtp"));
    vtkNew<vtkPolyData> step;
    vtkNew<vtkPoints> sp;
    sp->SetDataTypeToDouble();
    vtkNew<vtkCellArray> polys;
    auto quad = [&](const double a[3], const double b[3], const double c[3], const double d[3]) {
        const vtkIdType ia = sp->InsertNextPoint(a), ib = sp->InsertNextPoint(b), ic = sp->InsertNextPoint(c),
                        id = sp->InsertNextPoint(d);
        const vtkIdType t1[3] = {ia, ib, ic}, t2[3] = {ia, ic, id};
        polys->InsertNextCell(3, t1);
        polys->InsertNextCell(3, t2);
    };
    const double u0[3] = {0, 20, 1}, u1[3] = {20, 20, 1}, u2[3] = {20, 25, 1}, u3[3] = {0, 25, 1};
    const double r0[3] = {0, 25, 1}, r1[3] = {20, 25, 1}, r2[3] = {20, 25, 0}, r3[3] = {0, 25, 0};
    const double l0[3] = {0, 25, 0}, l1[3] = {20, 25, 0}, l2[3] = {20, 30, 0}, l3[3] = {0, 30, 0};
    quad(u0, u1, u2, u3);
    quad(r0, r1, r2, r3);
    quad(l0, l1, l2, l3);
    step->SetPoints(sp);
    step->SetPolys(polys);
    Write(step, dir.File("step.vtp"));
    WriteText(dir.File("step.vtw"), "[PolyData Offset]\nX=500000\nY=4500000\nZ=100\n");
    WriteText(dir.File("step.ini"), "[CloudData]\nRepresentation=14\n");
    Open("tilted", "4");
    ASSERT_TRUE(frame->OpenInsideFile(QString::fromStdString(dir.File("step.vtp"))));
    for (const double zoom : {1.0, 4.0}) {
        view->SetPresetView(0);
        vtkCamera* camera = view->GetRenderer()->GetActiveCamera();
        camera->Elevation(-35.0);
        view->GetRenderer()->ResetCamera();
        if (zoom > 1.0) {
            // Zoomed in where the cloud meets the step's edge in sight.
            double focal[3], position[3];
            camera->GetFocalPoint(focal);
            camera->GetPosition(position);
            const double to[3] = {10.0, 9.0, 3.0};
            camera->SetFocalPoint(to);
            camera->SetPosition(to[0] + position[0] - focal[0], to[1] + position[1] - focal[1],
                                to[2] + position[2] - focal[2]);
        }
        camera->Zoom(zoom);
        view->GetRenderer()->ResetCameraClippingRange();
        view->Render();
        Settle();
        appsettings::WriteSetting("Measure", "Snap", "1");
        tools.points.clear();
        tools.kinds.clear();
        // On the cloud, near its points (a few centimetres off): actual
        // points, on the plane.
        std::vector<QPoint> cloudClicks;
        for (double x = 6.05; x < 14.0; x += 2.5)
            for (double y = 1.45; y < 9.5; y += 3.0) {
                const double w[3] = {x, y, 0.5 * x + 0.25 * y};
                const QPoint p = PixelOf(view, w);
                if (view->rect().adjusted(20, 20, -20, -20).contains(p)) // in sight at this zoom
                    cloudClicks.push_back(p);
            }
        ASSERT_GE(cloudClicks.size(), 2u) << "zoom " << zoom;
        for (const QPoint& p : cloudClicks)
            Click(p);
        ASSERT_EQ(tools.points.size(), cloudClicks.size()) << "zoom " << zoom;
        for (const auto& q : tools.points) {
            const double x = q[0] - 500000, y = q[1] - 4500000, z = q[2] - 100;
            EXPECT_EQ(x, 0.5 * std::round(2 * x));
            EXPECT_EQ(y, 0.5 * std::round(2 * y));
            EXPECT_EQ(z, 0.5 * x + 0.25 * y) << "an actual point of the plane";
        }
        // On the step's upper level near its edge: the surface, exactly.
        tools.points.clear();
        for (double x = 4.0; x < 17.0; x += 3.1) {
            const double w[3] = {x, 24.6, 1.0};
            const QPoint p = PixelOf(view, w);
            if (view->rect().adjusted(20, 20, -20, -20).contains(p))
                Click(p);
        }
        for (const auto& q : tools.points) {
            EXPECT_EQ(q[2], 101.0) << "the upper level, not the riser or the lower level";
            EXPECT_LT(q[1], 4500025.0 + 1e-9);
        }
    }
    appsettings::WriteSetting("Measure", "Snap", "0");
}
