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

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "geom/point.hpp"
#include "mesh3d/plc.hpp"
#include "mesh3d/solid_output.hpp"
#include "model/model.hpp"

/// The most points (input and Steiner points together) the mesher handles. Every inserted
/// point costs a full tetrahedralization, quadratic in the point count, so a run grows
/// roughly with the cube of its points: about a minute at this limit for a refined cube,
/// several minutes for inputs full of cospherical points. A run that needs more stops and
/// reports `pointLimitReached` instead of running for hours.
constexpr int64_t kMaxTetMeshPoints = 1000;
/// The most facets and segments of an input complex (a closed surface through
/// kMaxTetMeshPoints points has fewer than twice as many facets).
constexpr int64_t kMaxTetMeshFacets = 4 * kMaxTetMeshPoints;
constexpr int64_t kMaxTetMeshSegments = 4 * kMaxTetMeshPoints;
/// Input coordinates larger than this in magnitude would overflow the exact in-sphere
/// test (a polynomial of degree five in coordinate differences).
constexpr double kMaxTetMeshCoordinate = 1e50;

struct TetMeshParams {
    double radiusEdgeBound = 2.0;     ///< largest circumradius / shortest edge accepted
    int32_t maxSteinerPoints = 20000; ///< most points the mesher may insert
    double maxVolume = 0.0;           ///< largest tetrahedron volume accepted; <= 0: no limit
    /// Most points a run may hold, input and Steiner points together; a run that needs
    /// more stops with `pointLimitReached`. Never above kMaxTetMeshPoints in practice.
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
