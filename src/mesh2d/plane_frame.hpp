#pragma once
// The plane frame of a planar region given in space: Newell's normal of the boundary loop,
// two in-plane axes, and the maps between space and the plane.

#include <vector>

#include "geom/point.hpp"

/// u, v and normal are unit vectors, mutually orthogonal, with v = normal x u.
struct PlaneFrame {
    Point3 origin;  ///< the average of the loop's points
    Point3 u;
    Point3 v;
    Point3 normal;
};

/// Fits the frame to a loop of 3 or more points; false when the loop's Newell normal or
/// the in-plane axis has zero length (collinear or coincident points) or is not finite.
bool fitPlaneFrame(const std::vector<Point3>& loop, PlaneFrame& frame);

/// (u . (p - origin), v . (p - origin)).
Point2 projectToFrame(const PlaneFrame& frame, const Point3& p);

/// origin + q.x * u + q.y * v.
Point3 unprojectFromFrame(const PlaneFrame& frame, const Point2& q);

/// The largest distance of any of the points from the frame's plane; 0 for none.
double planeDeviationOf(const PlaneFrame& frame, const std::vector<Point3>& points);

std::vector<Point2> projectLoop(const PlaneFrame& frame, const std::vector<Point3>& loop);
