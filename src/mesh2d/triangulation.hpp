#pragma once
// Planar triangulation: the Delaunay triangulation of a point list by Bowyer-Watson
// insertion, and the conforming triangulation of a region with holes by splitting missing
// boundary segments at their midpoints.
//
// A triangulation is a flat list of index triples. Points are numbered in domain order:
// the outer loop, then each hole, then the interior points, then the points created by
// splitting, in creation order. The work is done by the incremental engine of
// tri_engine.hpp, which gives the triangles in the order of inserting every point into a
// list of triangles that is scanned in full for each point.

#include <array>
#include <cstdint>
#include <vector>

#include "geom/point.hpp"

/// Three zero-based point indices in counter-clockwise order (by orient2d; a zero
/// orientation is kept as it comes).
struct Triangle {
    std::array<int64_t, 3> v{};
};

/// A constraint segment: two zero-based point indices (first, second).
struct Segment {
    std::array<int64_t, 2> v{};
};

/// A planar region: loops are closed and given open (the last point is not repeated).
struct PlanarDomain {
    std::vector<Point2> outer;
    std::vector<std::vector<Point2>> holes;
    std::vector<Point2> interior;  ///< points that must become vertices, without segments
};

struct ConformingMesh {
    bool ok = false;
    std::vector<Point2> points;        ///< domain order, then the split points
    std::vector<Triangle> triangles;   ///< the triangles inside the region
    int64_t fallbacks = 0;             ///< insertions the engine made by scanning
};

/// The passes every caller gives conformingTriangulate.
constexpr int32_t kConformingPasses = 64;

/// The largest point list the conforming passes and the refinement build: about 8 million
/// triangles, a model of about a gigabyte.
constexpr int64_t kMaxPlanarPoints = int64_t{1} << 22;

/// The key of the directed edge (p, q): (p mod 2^32) * 2^32 + (q mod 2^32).
inline uint64_t edgeKey(int64_t p, int64_t q) {
    return (static_cast<uint64_t>(p) << 32) | (static_cast<uint64_t>(q) & 0xffffffffu);
}

/// The Delaunay triangulation of `points`, inserted in input order into a super triangle
/// whose triangles are dropped at the end. Fewer than 3 points give no triangles; a point
/// equal to an earlier one belongs to no triangle.
std::vector<Triangle> delaunayTriangulate(const std::vector<Point2>& points);

/// delaunayTriangulate, adding to `fallbacks` the insertions the engine made by scanning.
std::vector<Triangle> delaunayTriangulate(const std::vector<Point2>& points, int64_t& fallbacks);

/// Triangulates all points in every pass and splits every boundary segment that is not a
/// triangle edge at its midpoint, until none is missing (ok) or `maxPasses` passes have
/// split something (not ok). The triangles whose centroid lies inside the region are kept.
/// A segment whose end point repeats an earlier point can never become an edge, and a run
/// whose point list outgrows conformingPointLimit() is not converging: both end the run at
/// once with ok false, the outcome the passes would reach. Midpoints lie inside the
/// bounding box, so each pass inserts only its new points into the last triangulation.
ConformingMesh conformingTriangulate(const PlanarDomain& domain, int32_t maxPasses);

/// The largest point list conformingTriangulate builds for `inputCount` domain points:
/// 128 per input point and 4096 more, at most kMaxPlanarPoints.
int64_t conformingPointLimit(int64_t inputCount);

/// Appends a loop of 3 or more points and its closing chain of segments; shorter loops
/// add nothing.
void addLoop(const std::vector<Point2>& loop, std::vector<Point2>& points, std::vector<Segment>& segments);

/// The even-odd crossing test with a ray towards +x. An empty loop contains nothing.
bool pointInPolygon(const Point2& p, const std::vector<Point2>& loop);

/// True when the centroid of a, b, c (the sum times 1/3) lies inside the outer loop and
/// outside every hole.
bool triangleInDomain(const Point2& a, const Point2& b, const Point2& c, const PlanarDomain& domain);
