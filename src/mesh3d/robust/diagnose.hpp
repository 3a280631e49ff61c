#pragma once
// Input diagnosis of a piecewise-linear complex before the robust volume engine meshes it:
// indices, degenerate and duplicate facets, edges that do not bound exactly two facets,
// and facets (or segments) that intersect each other. Every finding is one message naming
// the facets or segments involved.

#include <cstdint>
#include <string>
#include <vector>

#include "mesh3d/plc.hpp"

/// The most pairs of facets with overlapping bounding boxes the intersection test examines
/// (a few seconds of work); a surface with more fails the diagnosis with a message saying so.
constexpr int64_t kMaxFacetPairs = 100000000;

struct PlcDiagnosis {
    bool ok = false;
    std::string error;  ///< one line naming the offending facets, segments or points
};

/// How facets are named in messages: "facet 3" (zero-based index into the complex) or, for
/// STL input, "triangle 4" (the file's one-based triangle number, via `facetNumbers`).
struct FacetNaming {
    const char* word = "facet";
    const std::vector<int64_t>* numbers = nullptr;  ///< per facet; absent: the index itself
};

/// Checks, in this order, stopping at the first finding:
/// 1. facet and segment indices within the point list;
/// 2. a facet naming one point twice, a segment with equal ends;
/// 3. a facet of zero area (three collinear points, exact test);
/// 4. two facets on the same three points;
/// 5. an edge used by more than two facets (non-manifold) or by only one (open surface);
/// 6. two facets that intersect other than in their shared corners or shared edge (the
///    first pair in index order, with a point of their intersection);
/// 7. a segment crossing a facet other than at the facet's corners or edges, two segments
///    meeting other than at a shared end, a point used by no facet or segment lying on a
///    facet, or any point lying inside a segment it is not an end of.
PlcDiagnosis diagnosePlc(const Plc& plc, const FacetNaming& naming = FacetNaming());

/// Whether the closed segment pq and the closed triangle abc have a point in common
/// (exact predicates). `where` receives an approximate common point when they do.
bool segmentMeetsTriangle(const Point3& p, const Point3& q, const Point3& a, const Point3& b, const Point3& c,
                          Point3& where);

/// Whether two triangles with corner indices ta and tb into `points` meet in more than the
/// corners they share (and the edge they share, when they share two corners).
bool trianglesIntersect(const std::vector<Point3>& points, const int64_t* ta, const int64_t* tb, Point3& where);
