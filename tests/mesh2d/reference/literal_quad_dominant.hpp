#pragma once
// The reference quad pairing: the uses of every edge gathered in a hash map, candidates
// sorted by quality and corners, greedy matching. The product's pairing must give the
// same cells in the same order.

#include <vector>

#include "mesh2d/quad_dominant.hpp"

namespace reference {

std::vector<MeshCell> literalQuadDominate(const std::vector<Point2>& points, const std::vector<Triangle>& triangles,
                                          double minQuality);

}  // namespace reference
