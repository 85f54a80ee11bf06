#include "core/measure/MeasureGeometry.h"

#include <vtkMath.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace measure {

double Distance(const Point3d& a, const Point3d& b)
{
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    const double d = std::sqrt(dx * dx + dy * dy + dz * dz);
    // Squares of differences beyond 1e154 overflow where the distance
    // itself does not.
    return std::isinf(d) ? std::hypot(dx, dy, dz) : d;
}

double PolylineLength(const std::vector<Point3d>& points)
{
    double length = 0;
    for (size_t i = 1; i < points.size(); ++i)
        length += Distance(points[i - 1], points[i]);
    return length;
}

double PolygonPerimeter(const std::vector<Point3d>& points)
{
    if (points.size() < 2)
        return 0;
    return PolylineLength(points) + Distance(points.front(), points.back());
}

bool FitPlane(const std::vector<Point3d>& points, double normal[3], double* rms)
{
    const size_t n = points.size();
    if (n < 3)
        return false;
    double m[3] = {0, 0, 0};
    for (const Point3d& p : points)
        m[0] += p.x, m[1] += p.y, m[2] += p.z;
    for (double& c : m)
        c /= static_cast<double>(n);
    double a0[3] = {0, 0, 0}, a1[3] = {0, 0, 0}, a2[3] = {0, 0, 0};
    for (const Point3d& p : points) {
        const double d[3] = {m[0] - p.x, m[1] - p.y, m[2] - p.z};
        a0[0] += d[0] * d[0], a0[1] += d[0] * d[1], a0[2] += d[0] * d[2];
        a1[1] += d[1] * d[1], a1[2] += d[1] * d[2];
        a2[2] += d[2] * d[2];
    }
    a1[0] = a0[1], a2[0] = a0[2], a2[1] = a1[2];
    double* a[3] = {a0, a1, a2};
    double w[3], v0[3], v1[3], v2[3];
    double* v[3] = {v0, v1, v2};
    vtkMath::Jacobi(a, w, v);
    normal[0] = v[0][2], normal[1] = v[1][2], normal[2] = v[2][2];
    if (rms) {
        double sum = 0;
        for (const Point3d& p : points) {
            const double d = (p.x - m[0]) * normal[0] + (p.y - m[1]) * normal[1] + (p.z - m[2]) * normal[2];
            sum += d * d;
        }
        *rms = std::sqrt(sum / static_cast<double>(n));
    }
    return true;
}

double PolygonArea(const std::vector<Point2d>& polygon)
{
    const size_t n = polygon.size();
    if (n < 3)
        return 0;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const Point2d& prev = polygon[(i + n - 1) % n];
        const Point2d& next = polygon[(i + 1) % n];
        sum += polygon[i].x * (prev.y - next.y);
    }
    return std::fabs(sum) / 2.0;
}

double AreaOnPlane(const std::vector<Point3d>& points, const double normal[3])
{
    double k[3] = {normal[0], normal[1], normal[2]};
    if (vtkMath::Normalize(k) == 0.0)
        return 0;
    // First axis: the x axis projected onto the plane; when the normal is
    // (nearly) the x axis itself, the y axis instead. Any orthonormal pair
    // of the plane gives the same area.
    double u[3] = {1, 0, 0};
    if (std::fabs(k[0]) > 0.9)
        u[0] = 0, u[1] = 1;
    const double along = vtkMath::Dot(u, k);
    for (int i = 0; i < 3; ++i)
        u[i] -= along * k[i];
    vtkMath::Normalize(u);
    double v[3];
    vtkMath::Cross(k, u, v);
    std::vector<Point2d> polygon;
    polygon.reserve(points.size());
    for (const Point3d& p : points) {
        const double q[3] = {p.x, p.y, p.z};
        // The projection onto the plane adds a multiple of k, which is
        // orthogonal to both axes; the coordinates are the plain dot products.
        polygon.push_back({vtkMath::Dot(q, u), vtkMath::Dot(q, v)});
    }
    return PolygonArea(polygon);
}

double AreaXY(const std::vector<Point3d>& points)
{
    std::vector<Point2d> polygon;
    polygon.reserve(points.size());
    for (const Point3d& p : points)
        polygon.push_back({p.x, p.y});
    return PolygonArea(polygon);
}

Figures Compute(const std::vector<Point3d>& given, const double* viewNormal)
{
    // Squares and products of coordinates far from 1 overflow (1e200 apart
    // gave an infinite length). The figures are computed on the points
    // scaled by a power of two, which is exact, and scaled back: the same
    // results bit for bit wherever the plain computation did not overflow.
    double largest = 0;
    for (const Point3d& p : given)
        largest = std::max({largest, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
    int e = 0;
    if (largest > 0 && std::isfinite(largest))
        std::frexp(largest, &e);
    std::vector<Point3d> points;
    points.reserve(given.size());
    for (const Point3d& p : given)
        points.push_back({std::ldexp(p.x, -e), std::ldexp(p.y, -e), std::ldexp(p.z, -e)});
    Figures f;
    f.length = std::ldexp(PolylineLength(points), e);
    f.perimeter = std::ldexp(PolygonPerimeter(points), e);
    f.hasPlane = FitPlane(points, f.planeNormal, &f.flatnessRms);
    if (!f.hasPlane)
        return f;
    f.flatnessRms = std::ldexp(f.flatnessRms, e);
    f.areaPlane = std::ldexp(AreaOnPlane(points, f.planeNormal), 2 * e);
    f.areaView = viewNormal ? std::ldexp(AreaOnPlane(points, viewNormal), 2 * e) : 0.0;
    f.areaXY = std::ldexp(AreaXY(points), 2 * e);
    return f;
}

double AsListed(double value)
{
    char text[512];
    std::snprintf(text, sizeof text, "%.3f", value);
    return std::atof(text);
}

} // namespace measure
