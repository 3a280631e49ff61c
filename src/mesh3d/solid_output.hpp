#pragma once
// Turns the raw result of a solid mesher (points and cells indexing them) into a model
// of TET4 and HEX8 solids.

#include <array>
#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "model/model.hpp"

/// Four zero-based point indices, positively oriented.
struct TetCell {
    std::array<int64_t, 4> v{};
};

/// Eight zero-based point indices in HEX8 corner order: bottom face 0-1-2-3
/// counter-clockwise seen from above, top face 4-5-6-7 above them.
struct HexCell {
    std::array<int64_t, 8> v{};
};

struct SolidNumbering {
    int32_t firstNodeId = 1;
    int32_t firstSolidId = 1;
    int32_t matId = 0;
};

/// One node per point (id = firstNodeId + index), then one TET4 per tetrahedron and one
/// HEX8 per hexahedron, all tetrahedra first, ids from firstSolidId.
Model buildSolidModel(const std::vector<Point3>& points, const std::vector<TetCell>& tets,
                      const std::vector<HexCell>& hexes, const SolidNumbering& numbering);
