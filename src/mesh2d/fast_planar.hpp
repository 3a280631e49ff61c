#pragma once
// The conforming triangulation and the quality refinement run on the incremental engine.
//
// Both keep the state of their loops between steps instead of recomputing it, and give the
// very result of re-triangulating every point after each change:
// - Splitting midpoints lie inside the bounding box, so every conforming pass inserts only
//   its new points into the triangulation of the pass before.
// - Segment positions never move (a split keeps (a, k) in place and appends (k, b)), so the
//   first encroached segment in list order is the smallest position in a min-heap of
//   encroached segments. A segment's state changes only when it is split or a point is
//   added; encroaching points and encroached segments are found through a uniform grid
//   whose cells hold the points and the boxes of the diametral circles, widened by a
//   margin that bounds the rounding of the encroachment test.
// - The first bad triangle in list order is the live, in-domain, bad triangle with the
//   lowest creation number: a min-heap with lazy deletion, fed by the triangles each
//   insertion creates (a triangle's verdict depends on its corners only).
// - The domain test runs on the banded loop index.
// Outside the coordinate range the grid's margins cover (see exactSafeCoordinate), the
// refinement counts a fallback and answers the encroachment questions by scanning.

#include <cstdint>
#include <string>

#include "mesh2d/quality_refine.hpp"
#include "mesh2d/triangulation.hpp"

/// The largest point list a refinement builds: about 8 million triangles, a model of about
/// a gigabyte. A refinement that needs more fails with planarPointLimitMessage().
constexpr int64_t kMaxPlanarPoints = int64_t{1} << 22;

std::string planarPointLimitMessage();

/// conformingTriangulate, adding the engine's fallbacks to `fallbacks`.
ConformingMesh conformingTriangulateCounted(const PlanarDomain& domain, int32_t maxPasses, int64_t& fallbacks);

/// refineRuppert, adding the fallbacks of the engine and the encroachment scans to
/// `fallbacks`.
RefinedMesh refineRuppertCounted(const PlanarDomain& domain, const RefineOptions& options, int64_t& fallbacks);
