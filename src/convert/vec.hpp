#pragma once
// Small vector helpers for the converter's geometry (quality figures, picture views).

#include <cmath>

#include "geom/point.hpp"

namespace cvec {

inline Point3 sub(const Point3& a, const Point3& b) { return Point3{a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Point3 add(const Point3& a, const Point3& b) { return Point3{a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Point3 scale(const Point3& a, double s) { return Point3{a.x * s, a.y * s, a.z * s}; }
inline double dot(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Point3 cross(const Point3& u, const Point3& v) {
    return Point3{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}
inline double length(const Point3& a) { return std::sqrt(dot(a, a)); }

/// The angle between two vectors in radians, from atan2 so that it stays accurate near
/// 0 and pi; 0 when either vector is zero.
inline double angleBetween(const Point3& a, const Point3& b) {
    return std::atan2(length(cross(a, b)), dot(a, b));
}

}  // namespace cvec
