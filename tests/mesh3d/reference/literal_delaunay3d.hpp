#pragma once
// The reference tetrahedralization: Bowyer-Watson insertion that tests every current cell
// with the in-sphere predicate for every point, quadratic in the point count. The product's
// engine must give exactly the same cells in the same order; the differential tests
// compare the two.

#include <vector>

#include "geom/point.hpp"
#include "mesh3d/solid_output.hpp"

namespace reference {

std::vector<TetCell> literalDelaunayTetrahedralize(const std::vector<Point3>& points);

}  // namespace reference
