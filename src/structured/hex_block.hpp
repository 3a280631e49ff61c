#pragma once
// A structured block of nx x ny x nz hexahedra filling a hexahedron given by its eight
// corners, by trilinear mapping of a regular grid of the unit cube.

#include <array>
#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh3d/solid_output.hpp"
#include "model/model.hpp"

/// The largest block meshed: grids whose point or cell count exceeds this are refused
/// before anything is allocated. At this size the model takes about 4 GiB, and about
/// 9 GiB after a quadratic upgrade.
constexpr int64_t kMaxHexBlockCount = 16000000;

struct HexBlockMesh {
    bool ok = false;
    std::vector<Point3> points;  ///< (nx+1)(ny+1)(nz+1) grid points, i fastest, k slowest
    std::vector<HexCell> hexes;  ///< nx*ny*nz cells, i fastest, k slowest
};

/// The point of parameters (u, v, w) of the unit cube mapped onto the eight corners.
Point3 trilinearPoint(const std::array<Point3, 8>& corners, double u, double v, double w);

/// The six-tetrahedron test of a cell: its corners split along the 0-6 diagonal into six
/// tetrahedra, each of which must have a positive orient3d. False for a flat or inverted
/// cell.
bool hexCellIsValid(const std::vector<Point3>& points, const HexCell& cell);

/// Meshes the block; ok is false for a division count below 1, a block too large to hold,
/// or any cell with a flat or inverted tetrahedron in its six-tetrahedron split.
HexBlockMesh meshHexBlock(const std::array<Point3, 8>& corners, int32_t nx, int32_t ny, int32_t nz);

/// The block meshed straight into a model, as hexBlockToModel(meshHexBlock(...)) gives it,
/// without holding the cell list; false (and `out` untouched) where meshHexBlock fails.
bool meshHexBlockModel(const std::array<Point3, 8>& corners, int32_t nx, int32_t ny, int32_t nz,
                       const SolidNumbering& numbering, Model& out);

/// An empty model when the mesh failed; otherwise HEX8 solids numbered as given.
Model hexBlockToModel(const HexBlockMesh& mesh, const SolidNumbering& numbering);
