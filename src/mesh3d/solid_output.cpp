#include "mesh3d/solid_output.hpp"

namespace {

template <size_t N>
Solid makeSolid(int32_t id, const char* kind, const std::array<int64_t, N>& corners,
                const SolidNumbering& numbering) {
    Solid solid;
    solid.id = id;
    solid.kind = kind;
    solid.nodes.reserve(N);
    for (int64_t index : corners) {
        solid.nodes.push_back(static_cast<int32_t>(numbering.firstNodeId + index));
    }
    solid.matId = numbering.matId;
    return solid;
}

}  // namespace

Model buildSolidModel(const std::vector<Point3>& points, const std::vector<TetCell>& tets,
                      const std::vector<HexCell>& hexes, const SolidNumbering& numbering) {
    Model model;
    model.nodes.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const Point3& p = points[i];
        model.nodes.push_back(Node{static_cast<int32_t>(numbering.firstNodeId + static_cast<int64_t>(i)),
                                   p.x, p.y, p.z});
    }
    model.solids.reserve(tets.size() + hexes.size());
    int32_t nextId = numbering.firstSolidId;
    for (const TetCell& t : tets) model.solids.push_back(makeSolid(nextId++, "TET4", t.v, numbering));
    for (const HexCell& h : hexes) model.solids.push_back(makeSolid(nextId++, "HEX8", h.v, numbering));
    return model;
}
