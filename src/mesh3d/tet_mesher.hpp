#pragma once
// Quality tetrahedral meshing of a piecewise-linear complex: points, constraint segments
// and triangular facets bounding a closed solid.
//
// The mesher works by repetition: tetrahedralize every current point, find the first
// thing that is wrong (an encroached segment, a missing facet, a poor or too large
// tetrahedron), insert one midpoint or circumcentre, and start again. A Steiner budget
// bounds the insertions and an iteration limit the consecutive boundary-recovery splits;
// when either runs out, a volume test decides whether the mesh reached so far is kept.
// Tetrahedra outside the surface are removed at the end by a ray parity test.
//
// The passes are not recomputed from nothing: the tetrahedralization is updated by one
// insertion, and the encroached segments, the missing facets and the verdict of every
// poor tetrahedron are kept up to date as cells and facets come and go, so each pass
// costs about as much as its one insertion. The result is the same, point for point
// and cell for cell, as recomputing everything in every pass.

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "geom/point.hpp"
#include "mesh3d/plc.hpp"
#include "mesh3d/solid_output.hpp"
#include "model/model.hpp"

/// The most points (input and Steiner points together) a run may hold; a run that needs
/// more stops and reports `pointLimitReached`. The mesher keeps about 1.5 KB per point
/// (cells, their verdicts, indexes), so a run stays within about 2 GB; a face of three
/// point indices packs into 64 bits.
constexpr int64_t kMaxTetMeshPoints = 1000000;
/// The most facets and segments of an input complex.
constexpr int64_t kMaxTetMeshFacets = 1000000;
constexpr int64_t kMaxTetMeshSegments = 1000000;
/// Input coordinates larger than this in magnitude would overflow the exact in-sphere
/// test (a polynomial of degree five in coordinate differences).
constexpr double kMaxTetMeshCoordinate = 1e50;

struct TetMeshParams {
    double radiusEdgeBound = 2.0;     ///< largest circumradius / shortest edge accepted
    int32_t maxSteinerPoints = 20000; ///< most points the mesher may insert
    double maxVolume = 0.0;           ///< largest tetrahedron volume accepted; <= 0: no limit
    /// Most points a run may hold, input and Steiner points together; a run that needs
    /// more stops with `pointLimitReached`. Values above kMaxTetMeshPoints act as it.
    int64_t maxPoints = kMaxTetMeshPoints;
    /// Most consecutive boundary-recovery splits; 0 (the operations' setting) takes
    /// recoveryIterationLimit of the complex.
    int32_t iterationLimit = 0;
};

struct TetMesh {
    bool ok = false;
    /// The input points in their order, then every Steiner point in order of insertion
    /// (also points that no tetrahedron uses).
    std::vector<Point3> points;
    /// The interior tetrahedra, positively oriented, indexing `points`.
    std::vector<TetCell> tets;
    int32_t steinerCount = 0;
    /// Set (with ok false) when the run was stopped because it needed more than
    /// `maxPoints` points, or the input exceeds one of the size limits above.
    bool pointLimitReached = false;
    /// How often an internal check of the incremental state failed and the run took the
    /// plain computation instead (expected to stay 0).
    int64_t fallbacks = 0;
};

/// Checks what the mesher relies on: at most kMaxTetMeshPoints points with finite
/// coordinates no larger than kMaxTetMeshCoordinate, at most kMaxTetMeshFacets facets and
/// kMaxTetMeshSegments segments, and every facet and segment naming distinct points of the
/// list. On failure sets `error` to a message naming the first offending item.
bool checkPlc(const Plc& plc, std::string& error);

/// The quality tetrahedral mesh of the complex. `ok` is false when the complex has no
/// facets, does not pass checkPlc, cannot be tetrahedralized (all points coplanar), its
/// boundary could not be recovered within the limits and the mesh reached by then fails
/// the volume test, no tetrahedron lies inside the surface, or the run needs more than
/// `maxPoints` points.
TetMesh meshQualityTets(const Plc& plc, const TetMeshParams& params);

/// 20 x (segments + facets), clamped to the range 150 to 300.
int32_t recoveryIterationLimit(int64_t segmentCount, int64_t facetCount);

/// Appends the midpoint of points a and b and returns its index m. Every facet with the
/// edge {a, b} (either direction, any position) is replaced, where it stood, by (a, m, o)
/// followed by (m, b, o), o being its third vertex; other facets keep their place and
/// vertex order. Segments are the caller's business.
int64_t splitBoundaryEdge(std::vector<Point3>& points, std::vector<Facet>& facets, int64_t a, int64_t b);

/// The longest edge of a facet (a, b, c): a-b when |ab| >= |bc| and |ab| >= |ca|,
/// otherwise b-c when |bc| >= |ca|, otherwise c-a.
std::array<int64_t, 2> longestFacetEdge(const std::vector<Point3>& points, const Facet& facet);

/// The fixed direction of the ray parity test, chosen to avoid axis-parallel edges and faces.
constexpr Point3 kRayDirection{0.6123529, 0.7356789, 0.2871234};

/// Whether the ray from p along kRayDirection crosses the triangle (a, b, c): the
/// barycentric bounds are inclusive and the hit must lie more than 1e-9 along the ray; a
/// triangle nearly parallel to the ray (|det| < 1e-14) never counts.
inline bool rayCrossesFacet(const Point3& p, const Point3& a, const Point3& b, const Point3& c) {
    const Point3& d = kRayDirection;
    const Point3 e1{b.x - a.x, b.y - a.y, b.z - a.z};
    const Point3 e2{c.x - a.x, c.y - a.y, c.z - a.z};
    const Point3 h{d.y * e2.z - d.z * e2.y, d.z * e2.x - d.x * e2.z, d.x * e2.y - d.y * e2.x};
    const double det = e1.x * h.x + e1.y * h.y + e1.z * h.z;
    if (std::fabs(det) < 1e-14) return false;
    const Point3 s{p.x - a.x, p.y - a.y, p.z - a.z};
    const double u = (s.x * h.x + s.y * h.y + s.z * h.z) / det;
    if (u < 0 || u > 1) return false;
    const Point3 q{s.y * e1.z - s.z * e1.y, s.z * e1.x - s.x * e1.z, s.x * e1.y - s.y * e1.x};
    const double v = (d.x * q.x + d.y * q.y + d.z * q.z) / det;
    if (v < 0 || u + v > 1) return false;
    const double t = (e2.x * q.x + e2.y * q.y + e2.z * q.z) / det;
    return t > 1e-9;
}

/// Ray parity test: p is inside when a ray from p in a fixed direction crosses an odd
/// number of facets (edges and corners count for every facet they belong to).
bool isInsideSurface(const Point3& p, const std::vector<Point3>& points, const std::vector<Facet>& facets);

/// |sum of a . (b x c)| / 6 over the facets (a, b, c), coordinates as vectors from the origin.
double enclosedVolume(const std::vector<Point3>& points, const std::vector<Facet>& facets);

/// The tetrahedra of `tets` whose centroid is inside the surface, in their order.
std::vector<TetCell> interiorTets(const std::vector<Point3>& points, const std::vector<Facet>& facets,
                                  const std::vector<TetCell>& tets);

/// The fallback when boundary recovery runs out of budget or iterations: tetrahedralizes
/// `points` afresh and, when the interior tetrahedra fill the enclosed volume V to a
/// relative 1e-6, stores them in `result` and sets its `ok`. Returns whether it did.
bool salvageMesh(double enclosed, const std::vector<Point3>& points, const std::vector<Facet>& facets,
                 TetMesh& result);

/// An empty model when the mesh failed; otherwise one node per point and one TET4 per
/// tetrahedron, numbered as given.
Model tetMeshToModel(const TetMesh& mesh, const SolidNumbering& numbering);
