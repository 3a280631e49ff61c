#pragma once
// The reference planar algorithms: Bowyer-Watson insertion that tests every current
// triangle for every point, the conforming passes that triangulate every point from
// scratch, and the refinement that re-triangulates and rescans every segment and vertex
// after each insertion. Quadratic or worse; the product's engine must give exactly the
// same points, triangles, order, messages and counts. The differential tests compare them.

#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh2d/quality_refine.hpp"
#include "mesh2d/triangulation.hpp"

namespace reference {

std::vector<Triangle> literalDelaunayTriangulate(const std::vector<Point2>& points);

ConformingMesh literalConformingTriangulate(const PlanarDomain& domain, int32_t maxPasses);

RefinedMesh literalRefineRuppert(const PlanarDomain& domain, const RefineOptions& options);

}  // namespace reference
