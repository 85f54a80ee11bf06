#pragma once
// The figures of a measure: lengths along the picked points, and the area of
// the polygon they make on the plane fitted through them, on the view plane
// and on the XY plane. Each function computes and returns one result.
#include <vector>

namespace measure {

struct Point3d {
    double x = 0, y = 0, z = 0;
};
struct Point2d {
    double x = 0, y = 0;
};

double Distance(const Point3d& a, const Point3d& b);
// The open polyline through the points; 0 for fewer than two.
double PolylineLength(const std::vector<Point3d>& points);
// The closed polygon: the polyline and back to the first point; 0 for fewer
// than two (two points give twice their distance).
double PolygonPerimeter(const std::vector<Point3d>& points);

// The least-squares plane: the eigenvector of the smallest eigenvalue of
// the points' scatter matrix (vtkMath::Jacobi). False for fewer than three
// points. `rms`, when given, receives the root mean square distance of the
// points from the plane through their centroid.
bool FitPlane(const std::vector<Point3d>& points, double normal[3], double* rms = nullptr);

// |sum x[i] (y[i-1] - y[i+1])| / 2 over the closed polygon; 0 for fewer
// than three vertices.
double PolygonArea(const std::vector<Point2d>& polygon);
// The polygon projected onto the plane through the origin with `normal`,
// in an orthonormal pair of axes of that plane; 0 for a zero normal.
double AreaOnPlane(const std::vector<Point3d>& points, const double normal[3]);
double AreaXY(const std::vector<Point3d>& points);

// Everything the measure dialog shows for its selected points. `viewNormal`
// (the camera's view-plane normal) may be none: the view-plane area is 0.
struct Figures {
    double length = 0, perimeter = 0;
    bool hasPlane = false; // three points or more
    double areaPlane = 0, areaView = 0, areaXY = 0;
    double planeNormal[3] = {0, 0, 1};
    double flatnessRms = 0;
};
Figures Compute(const std::vector<Point3d>& points, const double* viewNormal);

// A coordinate as the points list holds it: "%.3f" text, read back.
double AsListed(double value);

} // namespace measure
