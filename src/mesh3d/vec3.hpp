#pragma once
// Plain double vector arithmetic on Point3 for the volume mesher, each operation
// evaluated component by component, left to right, in x, y, z order.

#include <cmath>

#include "geom/point.hpp"

inline Point3 add3(const Point3& a, const Point3& b) { return Point3{a.x + b.x, a.y + b.y, a.z + b.z}; }

inline Point3 sub3(const Point3& a, const Point3& b) { return Point3{a.x - b.x, a.y - b.y, a.z - b.z}; }

inline Point3 scale3(const Point3& a, double s) { return Point3{a.x * s, a.y * s, a.z * s}; }

inline double dot3(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline Point3 cross3(const Point3& u, const Point3& v) {
    return Point3{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}

/// Squared length: the sum of squares in x, y, z order.
inline double norm2(const Point3& a) { return a.x * a.x + a.y * a.y + a.z * a.z; }

inline double length3(const Point3& a) { return std::sqrt(norm2(a)); }

inline Point3 midpoint3(const Point3& a, const Point3& b) {
    return Point3{(a.x + b.x) * 0.5, (a.y + b.y) * 0.5, (a.z + b.z) * 0.5};
}

/// (p0 + p1 + p2 + p3) * 0.25, summed left to right.
inline Point3 centroid4(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3) {
    return scale3(add3(add3(add3(p0, p1), p2), p3), 0.25);
}
