#pragma once
// The refinement step of the volume mesher: once the tetrahedralization conforms to the
// boundary, find the first interior tetrahedron that is too poorly shaped or too large
// and insert one point to improve it.

#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh3d/plc.hpp"
#include "mesh3d/solid_output.hpp"

struct TetQuality {
    double volume = 0.0;           ///< unsigned volume
    double radiusEdgeRatio = 0.0;  ///< circumradius / shortest edge; 0 when not defined
};

struct TetSphere {
    bool ok = false;  ///< false for a flat tetrahedron (zero denominator)
    Point3 centre;
    double radius = 0.0;
};

/// The circumsphere of four points; fails when 2 a.(b x c) is exactly 0 for the edge
/// vectors a, b, c from p0.
TetSphere tetCircumsphere(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3);

/// The centre of tetCircumsphere; false (centre untouched) for a flat tetrahedron.
bool tetCircumcentre(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3, Point3& centre);

TetQuality tetQuality(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3);

/// Whether p lies strictly inside the smallest sphere enclosing the triangle (a, b, c):
/// the sphere on the side opposite a right or obtuse angle, else the circumsphere of the
/// triangle centred in its plane.
bool facetSphereContains(const Point3& p, const Point3& a, const Point3& b, const Point3& c);

/// The ratio limit of a run: radius-edge ratios up to (1 + 1e-9) * bound are accepted.
double ratioLimit(double radiusEdgeBound);

/// One refinement insertion. Scans `tets` in order for the first interior tetrahedron
/// (centroid inside the surface) whose radius-edge ratio exceeds `ratioLimitValue` or whose
/// volume exceeds `maxVolume` (when positive) and whose circumcentre x can be used:
/// - x encroaches no facet's protective sphere and is inside the surface: x is appended;
/// - x encroaches a facet and the tetrahedron is too large: that facet's longest edge is
///   split (splitBoundaryEdge).
/// Returns true when it appended a point, false when no tetrahedron needed or allowed one.
bool refinementStep(std::vector<Point3>& points, std::vector<Facet>& facets, const std::vector<TetCell>& tets,
                    double ratioLimitValue, double maxVolume);
