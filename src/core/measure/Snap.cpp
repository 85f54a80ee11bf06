#include "core/measure/Snap.h"

#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkIdTypeArray.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>

namespace snap {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// Window depths within this of the drawn depth count as drawn.
constexpr double kVisibleSlack = 2e-4;

struct Projector {
    const View& view;
    double m[16];
    double origin[3], direction[3]; // the ray through the cursor, unit direction

    explicit Projector(const View& v) : view(v)
    {
        std::copy(v.worldToClip, v.worldToClip + 16, m);
        vtkNew<vtkMatrix4x4> inverse;
        inverse->DeepCopy(m);
        inverse->Invert();
        const double nx = 2.0 * v.cursor[0] / v.width - 1.0, ny = 2.0 * v.cursor[1] / v.height - 1.0;
        double a[4] = {nx, ny, -1.0, 1.0}, b[4] = {nx, ny, 1.0, 1.0};
        inverse->MultiplyPoint(a, a);
        inverse->MultiplyPoint(b, b);
        double length = 0.0;
        for (int k = 0; k < 3; ++k) {
            origin[k] = a[k] / a[3];
            direction[k] = b[k] / b[3] - origin[k];
            length += direction[k] * direction[k];
        }
        length = std::sqrt(length);
        for (double& d : direction)
            d /= length > 0 ? length : 1.0;
    }
    // Window position (x, y in pixels, z window depth); false behind the eye.
    bool Project(const double p[3], double out[3]) const
    {
        const double w = m[12] * p[0] + m[13] * p[1] + m[14] * p[2] + m[15];
        if (w <= 0.0)
            return false;
        const double x = (m[0] * p[0] + m[1] * p[1] + m[2] * p[2] + m[3]) / w;
        const double y = (m[4] * p[0] + m[5] * p[1] + m[6] * p[2] + m[7]) / w;
        const double z = (m[8] * p[0] + m[9] * p[1] + m[10] * p[2] + m[11]) / w;
        out[0] = (x + 1.0) * 0.5 * view.width;
        out[1] = (y + 1.0) * 0.5 * view.height;
        out[2] = (z + 1.0) * 0.5;
        return z >= -1.0 && z <= 1.0;
    }
    bool Visible(const double w[3]) const
    {
        if (!view.depth)
            return true;
        const int ix = static_cast<int>(std::floor(w[0])), iy = static_cast<int>(std::floor(w[1]));
        if (ix < 0 || iy < 0 || ix >= view.width || iy >= view.height)
            return false;
        return w[2] <= view.depth[static_cast<size_t>(iy) * view.width + ix] + kVisibleSlack;
    }
    double ScreenDistance(const double w[3]) const { return std::hypot(w[0] - view.cursor[0], w[1] - view.cursor[1]); }
    double Along(const double p[3]) const
    {
        return (p[0] - origin[0]) * direction[0] + (p[1] - origin[1]) * direction[1] + (p[2] - origin[2]) * direction[2];
    }
};

void Apply(const double m[16], const double p[3], double out[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = m[4 * i] * p[0] + m[4 * i + 1] * p[1] + m[4 * i + 2] * p[2] + m[4 * i + 3];
}

struct Candidate {
    double screen = kInf; // pixels from the cursor
    double along = kInf;  // distance along the view ray
    double point[3] = {0, 0, 0};
    Kind kind = Kind::None;

    // Takes `r` (render coordinates) when it shows within `ring` pixels of
    // the cursor, nearer to it than this one, and not hidden.
    void Offer(const Projector& pr, const double r[3], double ring, Kind k)
    {
        double w[3];
        if (!pr.Project(r, w))
            return;
        const double s = pr.ScreenDistance(w);
        if (s > ring || s >= screen || !pr.Visible(w))
            return;
        screen = s;
        along = pr.Along(r);
        std::copy(r, r + 3, point);
        kind = k;
    }
};

template <class Work>
void Parallel(size_t count, Work work)
{
    const size_t threads = count < 200000 ? 1 : std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t)
        pool.emplace_back([&, t] { work(count * t / threads, count * (t + 1) / threads); });
    work(0, count / threads);
    for (std::thread& th : pool)
        th.join();
}

// A mesh's polygons: each one's corner range and its corners' coordinates.
struct Polygons {
    explicit Polygons(vtkPolyData* d)
        : offsets(d->GetPolys()->GetOffsetsArray()), connectivity(d->GetPolys()->GetConnectivityArray()),
          points(d->GetPoints()), count(static_cast<size_t>(d->GetPolys()->GetNumberOfCells()))
    {
    }
    void Range(size_t cell, vtkIdType& first, vtkIdType& last) const
    {
        first = static_cast<vtkIdType>(offsets->GetComponent(static_cast<vtkIdType>(cell), 0));
        last = static_cast<vtkIdType>(offsets->GetComponent(static_cast<vtkIdType>(cell) + 1, 0));
    }
    void Corner(vtkIdType k, double p[3]) const
    {
        points->GetPoint(static_cast<vtkIdType>(connectivity->GetComponent(k, 0)), p);
    }
    vtkDataArray* offsets;
    vtkDataArray* connectivity;
    vtkPoints* points;
    size_t count;
};

bool HasTriangles(vtkPolyData* d) { return d && d->GetNumberOfPolys() > 0; }

// Points of clouds within the ring, visible: the model's array read as it
// is, each point projected by one matrix (model to clip) and dropped as soon
// as it falls outside the ring.
template <class T>
void CloudScan(const T* xyz, size_t n, const Model& model, const Projector& pr, std::vector<Candidate>& out,
               std::mutex& lock)
{
    double m[16];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k)
                sum += pr.m[4 * i + k] * model.toRender[4 * k + j];
            m[4 * i + j] = sum;
        }
    const double halfW = 0.5 * pr.view.width, halfH = 0.5 * pr.view.height;
    const double cx = pr.view.cursor[0], cy = pr.view.cursor[1];
    Parallel(n, [&](size_t from, size_t to) {
        std::vector<Candidate> mine;
        for (size_t i = from; i < to; ++i) {
            const double p[3] = {static_cast<double>(xyz[3 * i]), static_cast<double>(xyz[3 * i + 1]),
                                 static_cast<double>(xyz[3 * i + 2])};
            const double w = m[12] * p[0] + m[13] * p[1] + m[14] * p[2] + m[15];
            if (w <= 0.0)
                continue;
            const double x = ((m[0] * p[0] + m[1] * p[1] + m[2] * p[2] + m[3]) / w + 1.0) * halfW;
            if (std::fabs(x - cx) > kPointRing)
                continue;
            const double y = ((m[4] * p[0] + m[5] * p[1] + m[6] * p[2] + m[7]) / w + 1.0) * halfH;
            if (std::fabs(y - cy) > kPointRing)
                continue;
            double r[3], win[3];
            Apply(model.toRender, p, r);
            if (!pr.Project(r, win))
                continue;
            const double s = pr.ScreenDistance(win);
            if (s > kPointRing || !pr.Visible(win))
                continue;
            Candidate c;
            c.screen = s;
            c.along = pr.Along(r);
            std::copy(r, r + 3, c.point);
            c.kind = Kind::Point;
            mine.push_back(c);
        }
        std::lock_guard<std::mutex> guard(lock);
        out.insert(out.end(), mine.begin(), mine.end());
    });
}

void CloudCandidates(const Model& model, const Projector& pr, std::vector<Candidate>& out, std::mutex& lock)
{
    vtkPoints* points = model.data->GetPoints();
    const size_t n = points ? static_cast<size_t>(points->GetNumberOfPoints()) : 0;
    if (n == 0)
        return;
    vtkDataArray* a = points->GetData();
    if (a->GetDataType() == VTK_DOUBLE)
        CloudScan(static_cast<const double*>(a->GetVoidPointer(0)), n, model, pr, out, lock);
    else if (a->GetDataType() == VTK_FLOAT)
        CloudScan(static_cast<const float*>(a->GetVoidPointer(0)), n, model, pr, out, lock);
    else {
        std::vector<double> copy(3 * n);
        for (size_t i = 0; i < n; ++i)
            points->GetPoint(static_cast<vtkIdType>(i), &copy[3 * i]);
        CloudScan(copy.data(), n, model, pr, out, lock);
    }
}

// The ring grows until it holds enough points to tell a surface from what
// shows through its gaps (or reaches its largest size); of its points,
// those of the front-most surface (no deeper than the local spacing behind
// the nearest), the nearest to the cursor on screen.
Candidate FrontNearest(std::vector<Candidate>& all)
{
    constexpr size_t kEnough = 8;
    for (double ring = 2.0; ring <= kPointRing; ring *= 2.0) {
        std::vector<Candidate> in;
        for (const Candidate& c : all)
            if (c.screen <= ring)
                in.push_back(c);
        if (in.empty() || (in.size() < kEnough && ring < kPointRing))
            continue;
        std::sort(in.begin(), in.end(), [](const Candidate& a, const Candidate& b) { return a.screen < b.screen; });
        if (in.size() > 64)
            in.resize(64);
        double front = kInf;
        for (const Candidate& c : in)
            front = std::min(front, c.along);
        // Local spacing: the median distance of a candidate to its nearest neighbour.
        std::vector<double> gaps;
        for (size_t i = 0; i < in.size(); ++i) {
            double best = kInf;
            for (size_t j = 0; j < in.size(); ++j) {
                if (i == j)
                    continue;
                const double d = std::hypot(in[i].point[0] - in[j].point[0], in[i].point[1] - in[j].point[1],
                                            in[i].point[2] - in[j].point[2]);
                best = std::min(best, d);
            }
            if (std::isfinite(best))
                gaps.push_back(best);
        }
        double spacing = 0.0;
        if (!gaps.empty()) {
            std::nth_element(gaps.begin(), gaps.begin() + static_cast<long>(gaps.size() / 2), gaps.end());
            spacing = gaps[gaps.size() / 2];
        }
        const double tolerance = std::max(1.5 * spacing, 1e-9 * std::max(1.0, std::fabs(front)));
        for (const Candidate& c : in) // nearest first
            if (c.along <= front + tolerance)
                return c;
    }
    return Candidate();
}

// The mesh's nearest triangle hit by the view ray, in double precision on
// the model's own coordinates.
void SurfaceHit(const Model& model, const Projector& pr, Candidate& best, std::mutex& lock)
{
    vtkPolyData* d = model.data;
    vtkNew<vtkMatrix4x4> toModel;
    toModel->DeepCopy(model.toRender);
    toModel->Invert();
    double o[3], e[3], dir[3];
    const double end[3] = {pr.origin[0] + pr.direction[0], pr.origin[1] + pr.direction[1], pr.origin[2] + pr.direction[2]};
    Apply(&toModel->Element[0][0], pr.origin, o);
    Apply(&toModel->Element[0][0], end, e);
    for (int k = 0; k < 3; ++k)
        dir[k] = e[k] - o[k];
    const Polygons polygons(d);
    Parallel(polygons.count, [&](size_t from, size_t to) {
        double bestT = kInf;
        double hit[3] = {0, 0, 0};
        double a[3], b[3], c[3];
        for (size_t cell = from; cell < to; ++cell) {
            vtkIdType first, last;
            polygons.Range(cell, first, last);
            if (last - first < 3)
                continue;
            polygons.Corner(first, a);
            // A fan: polygons of more corners as triangles.
            for (vtkIdType k = first + 1; k + 1 < last; ++k) {
                polygons.Corner(k, b);
                polygons.Corner(k + 1, c);
                // Moeller-Trumbore.
                const double e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
                const double e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
                const double pv[3] = {dir[1] * e2[2] - dir[2] * e2[1], dir[2] * e2[0] - dir[0] * e2[2],
                                      dir[0] * e2[1] - dir[1] * e2[0]};
                const double det = e1[0] * pv[0] + e1[1] * pv[1] + e1[2] * pv[2];
                if (det == 0.0)
                    continue;
                const double inv = 1.0 / det;
                const double tv[3] = {o[0] - a[0], o[1] - a[1], o[2] - a[2]};
                const double u = (tv[0] * pv[0] + tv[1] * pv[1] + tv[2] * pv[2]) * inv;
                if (u < 0.0 || u > 1.0)
                    continue;
                const double qv[3] = {tv[1] * e1[2] - tv[2] * e1[1], tv[2] * e1[0] - tv[0] * e1[2],
                                      tv[0] * e1[1] - tv[1] * e1[0]};
                const double v = (dir[0] * qv[0] + dir[1] * qv[1] + dir[2] * qv[2]) * inv;
                if (v < 0.0 || u + v > 1.0)
                    continue;
                const double t = (e2[0] * qv[0] + e2[1] * qv[1] + e2[2] * qv[2]) * inv;
                if (t > 0.0 && t < bestT) {
                    bestT = t;
                    for (int j = 0; j < 3; ++j)
                        hit[j] = a[j] + u * e1[j] + v * e2[j];
                }
            }
        }
        if (!std::isfinite(bestT))
            return;
        double r[3];
        Apply(model.toRender, hit, r);
        const double along = pr.Along(r);
        std::lock_guard<std::mutex> guard(lock);
        if (along < best.along) {
            best.along = along;
            best.screen = 0.0;
            std::copy(r, r + 3, best.point);
            best.kind = Kind::Surface;
        }
    });
}

// A mesh's visible corners within the vertex ring, and points of its
// triangles' edges within the edge ring: the nearest of each on screen.
void CornerAndEdge(const Model& model, const Projector& pr, Candidate& corner, Candidate& edge, std::mutex& lock)
{
    vtkPolyData* d = model.data;
    vtkPoints* points = d->GetPoints();
    Parallel(static_cast<size_t>(points->GetNumberOfPoints()), [&](size_t from, size_t to) {
        Candidate mine;
        double p[3], r[3];
        for (size_t i = from; i < to; ++i) {
            points->GetPoint(static_cast<vtkIdType>(i), p);
            Apply(model.toRender, p, r);
            mine.Offer(pr, r, kVertexRing, Kind::Vertex);
        }
        std::lock_guard<std::mutex> guard(lock);
        if (mine.screen < corner.screen)
            corner = mine;
    });
    const Polygons polygons(d);
    Parallel(polygons.count, [&](size_t from, size_t to) {
        Candidate mine;
        double a[3], b[3], ra[3], rb[3];
        for (size_t cell = from; cell < to; ++cell) {
            vtkIdType first, last;
            polygons.Range(cell, first, last);
            for (vtkIdType k = first; k < last; ++k) {
                polygons.Corner(k, a);
                polygons.Corner(k + 1 < last ? k + 1 : first, b);
                Apply(model.toRender, a, ra);
                Apply(model.toRender, b, rb);
                // The point of the segment nearest the view ray.
                const double u[3] = {rb[0] - ra[0], rb[1] - ra[1], rb[2] - ra[2]};
                const double* v = pr.direction;
                const double wv[3] = {ra[0] - pr.origin[0], ra[1] - pr.origin[1], ra[2] - pr.origin[2]};
                const double aa = u[0] * u[0] + u[1] * u[1] + u[2] * u[2];
                const double bb = u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
                const double dd = u[0] * wv[0] + u[1] * wv[1] + u[2] * wv[2];
                const double ee = v[0] * wv[0] + v[1] * wv[1] + v[2] * wv[2];
                const double den = aa - bb * bb; // |v| = 1
                if (aa <= 0.0)
                    continue;
                double s = den > 1e-300 ? (bb * ee - dd) / den : 0.0;
                s = std::min(1.0, std::max(0.0, s));
                const double q[3] = {ra[0] + s * u[0], ra[1] + s * u[1], ra[2] + s * u[2]};
                mine.Offer(pr, q, kEdgeRing, Kind::Edge);
            }
        }
        std::lock_guard<std::mutex> guard(lock);
        if (mine.screen < edge.screen)
            edge = mine;
    });
}

} // namespace

const char* KindName(Kind kind)
{
    switch (kind) {
    case Kind::Depth: return "depth";
    case Kind::Point: return "point";
    case Kind::Vertex: return "vertex";
    case Kind::Edge: return "edge";
    case Kind::Surface: return "surface";
    default: return "";
    }
}

Result Snap(const std::vector<Model>& models, const View& view, Mode mode)
{
    Result result;
    if (mode == Mode::Off || view.width < 1 || view.height < 1)
        return result;
    const Projector pr(view);
    std::mutex lock;
    std::vector<Candidate> cloud;
    Candidate surface, corner, edge;
    for (const Model& m : models) {
        if (!m.data || !m.data->GetPoints())
            continue;
        if (HasTriangles(m.data)) {
            SurfaceHit(m, pr, surface, lock);
            if (mode == Mode::CornersAndEdges)
                CornerAndEdge(m, pr, corner, edge, lock);
        } else {
            CloudCandidates(m, pr, cloud, lock);
        }
    }
    // Corners first, then edges, then the surface or the cloud's point,
    // whichever is nearer the eye.
    // (Corners and edges are visible ones: the depth buffer said so.)
    Candidate chosen = corner.kind != Kind::None ? corner : edge;
    if (chosen.kind == Kind::None) {
        const Candidate point = FrontNearest(cloud);
        if (point.kind != Kind::None && (surface.kind == Kind::None || point.along <= surface.along))
            chosen = point;
        else
            chosen = surface;
    }
    result.kind = chosen.kind;
    std::copy(chosen.point, chosen.point + 3, result.point);
    return result;
}

} // namespace snap
