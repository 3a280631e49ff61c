#pragma once
// Small readers of exchange-file geometry shared by the face extractors: entity lookup,
// points, directions, vertices and axis placements. None of them reports a message; each
// refuses (returns false or none) on the first thing that does not match.

#include <cmath>
#include <cstddef>
#include <string>

#include "geom/point.hpp"
#include "io/step/step_file.hpp"

/// A right-handed orthonormal frame.
struct Frame3 {
    Point3 origin;
    Point3 xAxis;
    Point3 yAxis;
    Point3 zAxis;
};

/// Vector arithmetic of the STEP readers, evaluated exactly in the order written.
namespace stepvec {
inline Point3 add(const Point3& a, const Point3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Point3 sub(const Point3& a, const Point3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Point3 scale(double s, const Point3& a) { return {s * a.x, s * a.y, s * a.z}; }
inline double dot(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Point3 cross(const Point3& a, const Point3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(const Point3& a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }
inline double squaredDistance(const Point3& a, const Point3& b) {
    Point3 d = sub(a, b);
    return d.x * d.x + d.y * d.y + d.z * d.z;
}
}  // namespace stepvec

/// The instance a value refers to: none unless the value is a Reference whose number is in
/// the store.
const StepEntity* findEntity(const StepFile& file, const StepValue& value);

/// The entity that parameter `pos` of `entity` refers to, provided it is a simple instance of
/// type `type` with at least `minParams` parameters; none otherwise.
const StepEntity* findTyped(const StepFile& file, const StepEntity& entity, size_t pos, const char* type,
                            size_t minParams);

/// Parameter `pos` as a finite number; false when it is missing, not a number or not finite.
bool stepNumber(const StepEntity& entity, size_t pos, double& out);

/// True only when parameter `pos` exists and is the Enumeration "T".
bool stepFlag(const StepEntity& entity, size_t pos);

/// A CARTESIAN_POINT whose coordinate list starts with three finite numbers (further items
/// are ignored; two coordinates are refused).
bool readCartesianPoint(const StepFile& file, const StepValue& value, Point3& out);

/// A DIRECTION read like a point; not normalised.
bool readDirection(const StepFile& file, const StepValue& value, Point3& out);

/// The point of a VERTEX_POINT.
bool readVertexPoint(const StepFile& file, const StepValue& value, Point3& out);

/// Divides by the length; refuses and leaves the vector unchanged below 1e-12.
bool normalize(Point3& v);

/// The unit vector d x a, a = (1, 0, 0) when |d.x| < 0.9 and (0, 1, 0) otherwise; used when a
/// direction perpendicular to d is needed and none is given. Not normalised if it is shorter
/// than 1e-12 (only for a d that is not a unit vector).
Point3 perpendicularUnit(const Point3& d);

/// An AXIS2_PLACEMENT_3D as a frame. The axis defaults to (0, 0, 1); the x axis is the
/// reference direction made perpendicular to the axis, or perpendicularUnit(axis) when there
/// is none or it is parallel to the axis; y = z x x.
bool readPlacement(const StepFile& file, const StepValue& value, Frame3& out);
