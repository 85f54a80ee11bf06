// How long a snapped pick takes on big models: a cloud of 5,000,000 and
// 20,000,000 points (100 m x 100 m x 20 m), and a mesh of 2,000,000
// triangles, seen whole from above in a 1280 x 1024 view; the depth
// buffer's pick (Off) costs nothing measurable beside these.
//
//   pick_bench [--points 5000000,20000000] [--reps 5]
#include "core/measure/Snap.h"
#include "BenchUtil.h"

#include <vtkCellArray.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

snap::View TopView(double cx, double cy)
{
    // x and y over [0, 100] fill the window; z from 50 downwards.
    snap::View v;
    const double m[16] = {0.02, 0, 0, -1, 0, 0.02, 0, -1, 0, 0, -0.02, 0, 0, 0, 0, 1};
    std::copy(m, m + 16, v.worldToClip);
    v.width = 1280;
    v.height = 1024;
    v.cursor[0] = cx / 100.0 * v.width;
    v.cursor[1] = cy / 100.0 * v.height;
    return v;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Time(const std::vector<snap::Model>& models, snap::Mode mode, int reps, snap::Kind* kind)
{
    std::vector<double> times;
    for (int r = 0; r < reps; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        const snap::Result res = snap::Snap(models, TopView(31.4 + r, 47.7 + r), mode);
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        *kind = res.kind;
    }
    return Median(times);
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<long long> sizes = {5000000, 20000000};
    int reps = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--points" && i + 1 < argc) {
            sizes.clear();
            for (const char* p = argv[++i]; *p;) {
                sizes.push_back(std::atoll(p));
                while (*p && *p != ',')
                    ++p;
                if (*p == ',')
                    ++p;
            }
        } else if (a == "--reps" && i + 1 < argc) {
            reps = std::atoi(argv[++i]);
        }
    }
    const double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (long long n : sizes) {
        vtkSmartPointer<vtkPolyData> cloud = bench::RandomCloud(n);
        cloud->SetVerts(vtkSmartPointer<vtkCellArray>::New()); // drawn without cells, as the viewer keeps clouds
        snap::Model m;
        m.data = cloud;
        std::copy(identity, identity + 16, m.toRender);
        snap::Kind kind;
        const double t = Time({m}, snap::Mode::Points, reps, &kind);
        std::printf("cloud of %lld points, Snap: Points: %.3f s a pick (%s) (target <= 0.2) %s\n", n, t,
                    snap::KindName(kind), t <= 0.2 ? "met" : "MISSED");
    }
    // A mesh of 1001 x 1001 corners, 2,000,000 triangles, over 100 m.
    vtkNew<vtkPoints> points;
    points->SetDataTypeToDouble();
    for (int j = 0; j <= 1000; ++j)
        for (int i = 0; i <= 1000; ++i)
            points->InsertNextPoint(0.1 * i, 0.1 * j, 0.01 * ((i * 7 + j * 3) % 100));
    vtkNew<vtkCellArray> polys;
    for (int j = 0; j < 1000; ++j)
        for (int i = 0; i < 1000; ++i) {
            const vtkIdType a = j * 1001 + i, b = a + 1, c = a + 1001, d = c + 1;
            const vtkIdType t1[3] = {a, b, d}, t2[3] = {a, d, c};
            polys->InsertNextCell(3, t1);
            polys->InsertNextCell(3, t2);
        }
    vtkNew<vtkPolyData> mesh;
    mesh->SetPoints(points);
    mesh->SetPolys(polys);
    snap::Model m;
    m.data = mesh;
    std::copy(identity, identity + 16, m.toRender);
    for (snap::Mode mode : {snap::Mode::Points, snap::Mode::CornersAndEdges}) {
        snap::Kind kind;
        const double t = Time({m}, mode, reps, &kind);
        std::printf("mesh of 2,000,000 triangles, Snap: %s: %.3f s a pick (%s)\n",
                    mode == snap::Mode::Points ? "Points" : "Corners and edges", t, snap::KindName(kind));
    }
    return 0;
}
