// Snapped picks on geometry known exactly: a tilted plane as mesh (the ray's
// intersection, its corners and edges) and a step as cloud (actual points
// of the front level only), seen from above in a 500 x 500 pixel view of
// 10 x 10 units (50 pixels a unit).
#include "core/measure/Snap.h"

#include <vtkCellArray.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <gtest/gtest.h>

#include <cmath>

namespace {

double PlaneZ(double x, double y) { return 0.5 * x + 0.25 * y + 1.0; }

// Corners every unit over [0, 10]^2 on the plane, two triangles a square.
vtkSmartPointer<vtkPolyData> TiltedMesh()
{
    auto data = vtkSmartPointer<vtkPolyData>::New();
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    for (int j = 0; j <= 10; ++j)
        for (int i = 0; i <= 10; ++i)
            points->InsertNextPoint(i, j, PlaneZ(i, j));
    vtkNew<vtkCellArray> polys;
    for (int j = 0; j < 10; ++j)
        for (int i = 0; i < 10; ++i) {
            const vtkIdType a = j * 11 + i, b = a + 1, c = a + 11, d = c + 1;
            const vtkIdType t1[3] = {a, b, d}, t2[3] = {a, d, c};
            polys->InsertNextCell(3, t1);
            polys->InsertNextCell(3, t2);
        }
    data->SetPoints(points);
    data->SetPolys(polys);
    return data;
}

// A step: the upper level (z = 0) on x < 5 every 0.2 units, the lower one
// (z = -2.2) over the whole square every 0.2 units, shifted by 0.1.
vtkSmartPointer<vtkPolyData> StepCloud()
{
    auto data = vtkSmartPointer<vtkPolyData>::New();
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    for (int j = 0; j < 50; ++j)
        for (int i = 0; i < 50; ++i) {
            if (i < 25)
                points->InsertNextPoint(0.2 * i, 0.2 * j, 0.0);
            points->InsertNextPoint(0.2 * i + 0.1, 0.2 * j + 0.1, -2.2);
        }
    data->SetPoints(points);
    return data;
}

snap::View TopView(double x, double y)
{
    snap::View v;
    const double m[16] = {0.2, 0, 0, -1, 0, 0.2, 0, -1, 0, 0, -0.02, 0, 0, 0, 0, 1};
    std::copy(m, m + 16, v.worldToClip);
    v.width = v.height = 500;
    v.cursor[0] = x * 50.0;
    v.cursor[1] = y * 50.0;
    return v;
}

snap::Model Of(vtkPolyData* data, double dz = 0.0)
{
    snap::Model m;
    m.data = data;
    const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, dz, 0, 0, 0, 1};
    std::copy(identity, identity + 16, m.toRender);
    return m;
}

} // namespace

TEST(Snap, MeshPicksAreTheRaysIntersectionTheCornersAndTheEdges)
{
    vtkSmartPointer<vtkPolyData> mesh = TiltedMesh();
    const std::vector<snap::Model> models = {Of(mesh, 20.0)};
    // Points: the exact intersection, on the plane to the last bits.
    for (const auto& xy : {std::make_pair(3.3, 4.7), std::make_pair(7.77, 1.01), std::make_pair(0.5, 9.5)}) {
        const snap::Result r = snap::Snap(models, TopView(xy.first, xy.second), snap::Mode::Points);
        ASSERT_EQ(r.kind, snap::Kind::Surface);
        EXPECT_NEAR(r.point[0], xy.first, 1e-12);
        EXPECT_NEAR(r.point[1], xy.second, 1e-12);
        EXPECT_NEAR(r.point[2], 20.0 + PlaneZ(xy.first, xy.second), 1e-9);
    }
    // Corners and edges: a corner within 12 pixels is taken exactly...
    snap::Result r = snap::Snap(models, TopView(3.15, 4.1), snap::Mode::CornersAndEdges);
    ASSERT_EQ(r.kind, snap::Kind::Vertex);
    EXPECT_EQ(r.point[0], 3.0);
    EXPECT_EQ(r.point[1], 4.0);
    EXPECT_EQ(r.point[2], 20.0 + PlaneZ(3, 4));
    // ...else a point of an edge within 8 pixels (x = 3 at y = 4.5)...
    r = snap::Snap(models, TopView(3.1, 4.5), snap::Mode::CornersAndEdges);
    ASSERT_EQ(r.kind, snap::Kind::Edge);
    EXPECT_NEAR(r.point[0], 3.0, 1e-12);
    EXPECT_NEAR(r.point[1], 4.5, 1e-9);
    EXPECT_NEAR(r.point[2], 20.0 + PlaneZ(3.0, 4.5), 1e-9);
    // ...else the surface.
    r = snap::Snap(models, TopView(3.3, 4.75), snap::Mode::CornersAndEdges);
    EXPECT_EQ(r.kind, snap::Kind::Surface);
    // Off picks nothing here: the depth buffer's pick is the view's.
    EXPECT_EQ(snap::Snap(models, TopView(3.3, 4.7), snap::Mode::Off).kind, snap::Kind::None);
}

TEST(Snap, CloudPicksAreFrontPointsNearestTheCursor)
{
    vtkSmartPointer<vtkPolyData> cloud = StepCloud();
    const std::vector<snap::Model> models = {Of(cloud)};
    // Between the upper points, where lower points are nearer on screen:
    // an upper point, one of the cloud's own.
    for (const auto& xy : {std::make_pair(2.13, 3.08), std::make_pair(4.69, 0.31), std::make_pair(1.0, 1.0)}) {
        const snap::Result r = snap::Snap(models, TopView(xy.first, xy.second), snap::Mode::Points);
        ASSERT_EQ(r.kind, snap::Kind::Point);
        EXPECT_EQ(r.point[2], 0.0) << xy.first << "," << xy.second;
        EXPECT_NEAR(std::remainder(r.point[0], 0.2), 0.0, 1e-12);
        EXPECT_NEAR(std::remainder(r.point[1], 0.2), 0.0, 1e-12);
        // The nearest upper point on screen.
        EXPECT_NEAR(r.point[0], std::round(xy.first / 0.2) * 0.2, 1e-9);
        EXPECT_NEAR(r.point[1], std::round(xy.second / 0.2) * 0.2, 1e-9);
    }
    // Where only the lower level is, its points are taken.
    snap::Result r = snap::Snap(models, TopView(7.0, 7.0), snap::Mode::Points);
    ASSERT_EQ(r.kind, snap::Kind::Point);
    EXPECT_EQ(r.point[2], -2.2);
    // Nothing within 16 pixels: nothing.
    snap::View far = TopView(5.0, 5.0);
    far.cursor[0] = 600;
    EXPECT_EQ(snap::Snap(models, far, snap::Mode::Points).kind, snap::Kind::None);
    // Corners and edges on a cloud act as Points.
    EXPECT_EQ(snap::Snap(models, TopView(2.13, 3.08), snap::Mode::CornersAndEdges).kind, snap::Kind::Point);
}
