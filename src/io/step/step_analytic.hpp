#pragma once
// Faces on cylindrical, conical, spherical and toroidal surfaces. Each tessellator
// recognises a few typical ways such a face is bounded (full circles, circular arcs, straight
// seams and generators) and fills a recognised face with a structured grid of points on the
// exact surface, every grid cell split into two triangles. A full turn is divided into n
// segments (n clamped to at least 3) and a partial turn into a proportional number.

#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "io/step/step_faces.hpp"
#include "io/step/step_file.hpp"
#include "io/step/step_readers.hpp"

/// The largest tessellation of one face, in points; a face whose grid would be larger is
/// declined (counted as skipped) before anything is allocated.
constexpr int64_t kMaxFacePoints = 1000000;

/// The most points one tessellator call produces over all its faces by default; a face that
/// would take the running total beyond the budget is declined.
constexpr int64_t kMaxExtractionPoints = 4000000;

/// What the boundary reader keeps of one edge on a CIRCLE. Radii come from the vertices;
/// the circle's own radius is not read.
struct CircleEdge {
    Point3 start;         ///< the EDGE_CURVE's start vertex
    Point3 end;           ///< the EDGE_CURVE's end vertex
    bool sameSense = false;  ///< the edge runs with the circle's parametrisation
    Frame3 circleFrame;   ///< the CIRCLE's placement
};

/// Start and end closer than 1e-9 (squared distance below 1e-18).
bool isClosedEdge(const CircleEdge& edge);

/// atan2 of the point's y and x components in the frame.
double angleInFrame(const Frame3& frame, const Point3& p);

/// The angle moved into [0, 2pi) by whole turns.
double normalizeAngle(double angle);

/// The signed sweep of an open circular arc, expressed from angle `a` in a frame that may run
/// either way round the circle: its size s comes from the edge's vertices in the circle's own
/// frame and its sense, and the sign is the one that brings a + sweep nearer to `b`. Refuses
/// arcs below 1e-6 rad and arcs within 1e-6 of a full turn.
///
/// For a half turn both signs land on `b`, so nearness cannot tell the two halves apart. When
/// the two distances agree within 1e-9 and `turnAxis` (the axis about which the caller's angle
/// increases) is given and not perpendicular to the circle's axis, the sign is the arc's own
/// sense seen about that axis; otherwise a tie gives +s.
bool arcSweep(const CircleEdge& edge, double a, double b, double& start, double& sweep,
              const Point3* turnAxis = nullptr);

/// The CIRCLE edges of a face's bounds, in the order of bounds and edges. LINE edges are
/// accepted and not recorded; any other curve, or anything unreadable, refuses the face.
bool collectCircleEdges(const StepFile& file, const StepEntity& face, std::vector<CircleEdge>& out);

// Grid builders. Every point lies on the exact surface; counts are the callers' to bound.

/// Two full rings (h0, rho0) and (h1, rho1) about the frame's axis, n points each from angle 0;
/// 2n points and 2n triangles.
TessellatedFace ringBand(const Frame3& frame, double h0, double rho0, double h1, double rho1, int32_t n);

/// Two partial rings from angle a0 over `sweep`, n + 1 points each; 2n triangles.
TessellatedFace arcBand(const Frame3& frame, double a0, double sweep, double h0, double rho0, double h1,
                        double rho1, int32_t n);

/// A cap of the sphere (centre, radius) about the unit pole direction: m rings of n points
/// from latitude phi0 towards the pole, then the pole; n*m + 1 points.
TessellatedFace sphereCap(const Point3& centre, double radius, const Point3& pole, double phi0, int64_t m,
                          int32_t n);

/// m + 1 full rings of n points between latitudes phi0 and phi1 about the frame's axis.
TessellatedFace sphereZone(const Frame3& frame, double radius, double phi0, double phi1, int64_t m, int32_t n);

/// A (mu + 1) x (mv + 1) grid in longitude (theta0 over dTheta) and latitude (phiA over dPhi).
TessellatedFace spherePatch(const Frame3& frame, double radius, double theta0, double dTheta, int64_t mu,
                            double phiA, double dPhi, int64_t mv);

/// The whole torus, n x n points, periodic in both angles.
TessellatedFace torusFull(const Frame3& frame, double majorRadius, double minorRadius, int32_t n);

/// A band of the tube, periodic in u (n points from 0) and from tube angle v0 over dv in m
/// segments.
TessellatedFace torusTubeBand(const Frame3& frame, double majorRadius, double minorRadius, int32_t n, double v0,
                              double dv, int64_t m);

/// A (mu + 1) x (mv + 1) grid in u (u0 over du) and v (v0 over dv).
TessellatedFace torusPatch(const Frame3& frame, double majorRadius, double minorRadius, double u0, double du,
                           int64_t mu, double v0, double dv, int64_t mv);

/// The shared routine of cylinders and cones, for the surface type "CYLINDRICAL_SURFACE" or
/// "CONICAL_SURFACE": a band between two full circles or two arcs, ruled between its rings.
FaceExtraction<TessellatedFace> tessellateRuledFaces(const StepFile& file, const char* surfaceType, int32_t n,
                                                     int64_t pointBudget = kMaxExtractionPoints);

FaceExtraction<TessellatedFace> tessellateCylindricalFaces(const StepFile& file, int32_t n,
                                                           int64_t pointBudget = kMaxExtractionPoints);
FaceExtraction<TessellatedFace> tessellateConicalFaces(const StepFile& file, int32_t n,
                                                       int64_t pointBudget = kMaxExtractionPoints);

/// Caps bounded by one full circle, zones between two full circles, and patches between two
/// parallel arcs.
FaceExtraction<TessellatedFace> tessellateSphericalFaces(const StepFile& file, int32_t n,
                                                         int64_t pointBudget = kMaxExtractionPoints);

/// The whole torus (closed meridians only), tube bands (closed parallels and open meridians)
/// and patches (open parallels and open meridians).
FaceExtraction<TessellatedFace> tessellateToroidalFaces(const StepFile& file, int32_t n,
                                                        int64_t pointBudget = kMaxExtractionPoints);
