#pragma once
// Triangle quality judged on the surface: a face is triangulated in a chart plane, but a
// chart that does not preserve angles (a B-spline's scaled parameters) turns good chart
// triangles into poor surface triangles. These helpers measure the mapped triangles, flip
// chart edges towards better surface triangles, and find the chart point whose surface
// image is a poor triangle's circumcentre.

#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh2d/triangulation.hpp"

/// A triangulation of a chart domain with the surface points of its vertices; triangles
/// are counter-clockwise in the chart.
struct SurfaceTriangulation {
    std::vector<Point2> chart;
    std::vector<Point3> surface;
    std::vector<Triangle> triangles;
};

/// The smallest angle in degrees of the space triangle a, b, c (0 for a degenerate one).
double spaceMinAngleDeg(const Point3& a, const Point3& b, const Point3& c);

/// The angle in degrees at o between o->p and o->q (180 when either side is shorter than
/// 1e-300).
double spaceAngleDeg(const Point3& o, const Point3& p, const Point3& q);

/// Flips edges shared by two triangles while the flip raises the smaller of the two
/// triangles' smallest surface angles and leaves both new triangles strictly
/// counter-clockwise in the chart. Each flip raises the sorted list of all angles, so the
/// flips end; `maxFlips` bounds them anyway. Sweeps run in triangle order. Returns the
/// flips made.
int64_t flipTowardsSurfaceQuality(SurfaceTriangulation& t, int64_t maxFlips);

/// The chart point with the same affine coordinates in the chart triangle as the space
/// circumcentre has in the space triangle; false when the space triangle is degenerate.
/// `circumradius` gets the space circumradius.
bool chartPointOfSpaceCircumcenter(const SurfaceTriangulation& t, const Triangle& tri, Point2& out,
                                   double& circumradius);
