#pragma once
// The sweep of a planar source face: the face is meshed quad-dominantly, then swept along
// its frame's normal through a distance in equal layers. Every quad becomes a column of
// hexahedra, every triangle a column of prisms, each prism cut into three tetrahedra.

#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh2d/quality_refine.hpp"
#include "mesh3d/solid_output.hpp"
#include "model/model.hpp"

/// The largest sweep made: a sweep whose point count or solid count exceeds this is
/// refused before its layers are allocated. A model of this many solids takes about
/// 4 GiB, and more than twice that after a quadratic upgrade.
constexpr int64_t kMaxSweepCount = 16000000;

struct SweepParams {
    int32_t layers = 1;        ///< number of equal layers
    RefineOptions options;     ///< for meshing the source face
    double minQuality = 0.4;   ///< the smallest quality of a quad in the source mesh
};

struct SweepMesh {
    bool ok = false;
    std::vector<Point3> points;  ///< (layers + 1) x n: source node i of layer L at L * n + i
    std::vector<HexCell> hexes;  ///< area by area, layer by layer
    std::vector<TetCell> tets;   ///< area by area, layer by layer, three per prism
};

/// Meshes the face and sweeps it. ok is false for fewer than one layer, a distance that is
/// not a positive finite number, a source face that does not mesh, or a sweep larger than
/// kMaxSweepCount points or solids.
SweepMesh sweepSourceFace(const std::vector<Point3>& boundary, const std::vector<std::vector<Point3>>& holes,
                          double distance, const SweepParams& params);

/// An empty model when the sweep failed; otherwise TET4 and HEX8 solids numbered as given.
Model sweepMeshToModel(const SweepMesh& mesh, const SolidNumbering& numbering);
