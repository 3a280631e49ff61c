#include "structured/sweep.hpp"

#include <cmath>

#include "mesh2d/area_mesher.hpp"
#include "mesh2d/quad_dominant.hpp"

namespace {

/// The properties the source face is meshed with; its areas are not part of the result.
AreaProps sourceFaceProps() {
    AreaProps props;
    props.firstNodeId = 1;
    props.firstAreaId = 1;
    props.behavior = "membrane";
    props.thickness = 0.0;
    props.matId = 0;
    props.secId = 0;
    props.drilling = false;
    return props;
}

}  // namespace

SweepMesh sweepSourceFace(const std::vector<Point3>& boundary, const std::vector<std::vector<Point3>>& holes,
                          double distance, const SweepParams& params) {
    SweepMesh sweep;
    const int64_t layers = params.layers;
    // An infinite distance would put every layer at infinity and layer 0 at NaN.
    if (layers < 1 || !(distance > 0) || !std::isfinite(distance)) return sweep;
    // Every source mesh has at least 3 nodes: a layer count that cannot fit fails before
    // the face is meshed.
    if ((layers + 1) * 3 > kMaxSweepCount) return sweep;

    const AreaMesh source =
        meshQuadDominantArea(boundary, holes, {}, params.options, params.minQuality, sourceFaceProps());
    if (!source.ok) return sweep;

    const std::vector<Node>& nodes = source.model.nodes;
    const int64_t n = static_cast<int64_t>(nodes.size());
    int64_t quads = 0, triangles = 0;
    for (const Area& area : source.model.areas) (area.kind == "QUAD" ? quads : triangles) += 1;
    // The layer count is below kMaxSweepCount and the source counts below 2^36 (the node
    // ids are 32-bit), so these products cannot overflow.
    if ((layers + 1) * n > kMaxSweepCount || layers * (quads + 3 * triangles) > kMaxSweepCount) return sweep;

    const Point3 normal = source.frame.normal;
    sweep.points.reserve(static_cast<size_t>((layers + 1) * n));
    for (int64_t L = 0; L <= layers; ++L) {
        const double s = (static_cast<double>(L) * distance) / static_cast<double>(layers);
        for (const Node& b : nodes) {
            sweep.points.push_back(Point3{b.x + normal.x * s, b.y + normal.y * s, b.z + normal.z * s});
        }
    }

    sweep.hexes.reserve(static_cast<size_t>(layers * quads));
    sweep.tets.reserve(static_cast<size_t>(layers * 3 * triangles));
    for (const Area& area : source.model.areas) {
        const bool quad = area.kind == "QUAD";
        int64_t c[4] = {0, 0, 0, 0};
        for (size_t k = 0; k < area.nodes.size() && k < 4; ++k) c[k] = int64_t{area.nodes[k]} - 1;
        for (int64_t L = 0; L < layers; ++L) {
            const int64_t B = L * n, T = (L + 1) * n;
            if (quad) {
                sweep.hexes.push_back(HexCell{{B + c[0], B + c[1], B + c[2], B + c[3], T + c[0], T + c[1],
                                               T + c[2], T + c[3]}});
            } else {
                const int64_t w0 = B + c[0], w1 = B + c[1], w2 = B + c[2];
                const int64_t w3 = T + c[0], w4 = T + c[1], w5 = T + c[2];
                sweep.tets.push_back(TetCell{{w0, w1, w5, w2}});
                sweep.tets.push_back(TetCell{{w0, w1, w4, w5}});
                sweep.tets.push_back(TetCell{{w0, w4, w3, w5}});
            }
        }
    }
    sweep.ok = true;
    return sweep;
}

Model sweepMeshToModel(const SweepMesh& mesh, const SolidNumbering& numbering) {
    if (!mesh.ok) return Model{};
    return buildSolidModel(mesh.points, mesh.tets, mesh.hexes, numbering);
}
