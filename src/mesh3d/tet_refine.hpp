#pragma once
// The measures of the volume mesher's refinement: tetrahedron quality and circumsphere,
// and the protective sphere of a boundary facet. Once the tetrahedralization conforms to
// the boundary, the mesher finds the first interior tetrahedron that is too poorly shaped
// or too large and inserts its circumcentre, or splits the facet whose protective sphere
// that circumcentre encroaches.

#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh3d/plc.hpp"
#include "mesh3d/solid_output.hpp"
#include "mesh3d/vec3.hpp"

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
/// vectors a, b, c from p0. (Inline: the volume engines ask for it millions of times.)
inline TetSphere tetCircumsphere(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3) {
    TetSphere sphere;
    const Point3 a = sub3(p1, p0);
    const Point3 b = sub3(p2, p0);
    const Point3 c = sub3(p3, p0);
    const Point3 bxc = cross3(b, c);
    const double den = 2.0 * dot3(a, bxc);
    if (den == 0.0) return sphere;
    const Point3 sum = add3(add3(scale3(cross3(a, b), norm2(c)), scale3(cross3(c, a), norm2(b))),
                            scale3(bxc, norm2(a)));
    const Point3 offset = scale3(sum, 1.0 / den);
    sphere.ok = true;
    sphere.centre = add3(p0, offset);
    sphere.radius = length3(offset);
    return sphere;
}

/// The centre of tetCircumsphere; false (centre untouched) for a flat tetrahedron.
bool tetCircumcentre(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3, Point3& centre);

TetQuality tetQuality(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3);

/// The unsigned volume of tetQuality alone, |a.(b x c)| / 6 for the edge vectors from p0.
inline double unsignedTetVolume(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3) {
    return std::fabs(dot3(sub3(p1, p0), cross3(sub3(p2, p0), sub3(p3, p0)))) / 6.0;
}

/// The smallest sphere enclosing the triangle (a, b, c): the sphere on the side opposite a
/// right or obtuse angle, else the circumsphere of the triangle centred in its plane; not
/// ok for a triangle whose corners are collinear without a right or obtuse angle.
struct FacetSphere {
    bool ok = false;
    Point3 centre;
    double radius2 = 0.0;
};

FacetSphere facetSphere(const Point3& a, const Point3& b, const Point3& c);

/// Whether p lies strictly inside the sphere (never for a sphere that is not ok).
inline bool facetSphereHolds(const FacetSphere& s, const Point3& p) {
    if (!s.ok) return false;
    const double dx = p.x - s.centre.x;
    const double dy = p.y - s.centre.y;
    const double dz = p.z - s.centre.z;
    return s.radius2 > dx * dx + dy * dy + dz * dz;
}

/// Whether p lies strictly inside the smallest sphere enclosing the triangle (a, b, c):
/// the sphere on the side opposite a right or obtuse angle, else the circumsphere of the
/// triangle centred in its plane.
bool facetSphereContains(const Point3& p, const Point3& a, const Point3& b, const Point3& c);

/// The ratio limit of a run: radius-edge ratios up to (1 + 1e-9) * bound are accepted.
double ratioLimit(double radiusEdgeBound);
