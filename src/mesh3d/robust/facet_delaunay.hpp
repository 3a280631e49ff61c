#pragma once

// The planar Delaunay triangulation of one facet's points, which boundary recovery compares
// with the faces of the tetrahedralization.

#include <cstdint>
#include <vector>

#include "geom/predicates.hpp"

namespace robust {

struct Tri2 {
    int32_t v[3];
};

/// `pts` followed by the three corners of a triangle far around them (a hundred times
/// their extent from the centre of their box), counter-clockwise: where the insertion
/// starts.
std::vector<Point2> withFarTriangle(const std::vector<Point2>& pts);

/// Bowyer-Watson on `pts` (a facet's points in its plane frame) with exact planar tests,
/// inside a triangle far around them whose three corners are dropped at the end. Points go
/// in in the order given; a point already present is skipped. Returns the triangles as
/// indices into `pts`, counter-clockwise, in the order of a list where each insertion
/// removes the triangles whose circumcircle strictly holds the point (the others keep
/// their order) and appends the new ones, one per edge of the removed triangles that no
/// other removed triangle shares, in the order of those triangles and their edges. Among
/// cocircular points the triangulation, and the order, depend on that rule alone.
std::vector<Tri2> planarDelaunay(const std::vector<Point2>& pts);

}  // namespace robust
