#include "structured/hex_block.hpp"

#include <utility>

#include "geom/predicates.hpp"

Point3 trilinearPoint(const std::array<Point3, 8>& c, double u, double v, double w) {
    const double weight[8] = {
        (1 - v) * (1 - u) * (1 - w),
        (1 - v) * u * (1 - w),
        u * v * (1 - w),
        (1 - u) * v * (1 - w),
        (1 - v) * (1 - u) * w,
        (1 - v) * u * w,
        u * v * w,
        (1 - u) * v * w,
    };
    // The eight terms added in corner order, starting from corner 0's own term (not from
    // +0.0, which would turn an all-negative-zero sum into +0).
    Point3 p{c[0].x * weight[0], c[0].y * weight[0], c[0].z * weight[0]};
    for (int i = 1; i < 8; ++i) {
        p.x = p.x + c[i].x * weight[i];
        p.y = p.y + c[i].y * weight[i];
        p.z = p.z + c[i].z * weight[i];
    }
    return p;
}

namespace {

/// The split of a cell along its 0-6 diagonal into six tetrahedra (cell corner numbers);
/// each is positively oriented for an undistorted cell.
constexpr int kTestTets[6][4] = {
    {0, 4, 6, 5}, {0, 4, 7, 6}, {0, 1, 6, 2}, {0, 1, 5, 6}, {0, 2, 7, 3}, {0, 2, 6, 7},
};

}  // namespace

bool hexCellIsValid(const std::vector<Point3>& points, const HexCell& cell) {
    for (const auto& t : kTestTets) {
        double o = orient3d(points[cell.v[t[0]]], points[cell.v[t[1]]], points[cell.v[t[2]]],
                            points[cell.v[t[3]]]);
        if (!(o > 0)) return false;  // flat, inverted or not a number
    }
    return true;
}

HexBlockMesh meshHexBlock(const std::array<Point3, 8>& corners, int32_t nx, int32_t ny, int32_t nz) {
    HexBlockMesh mesh;
    if (nx < 1 || ny < 1 || nz < 1) return mesh;
    const int64_t sx = int64_t{nx} + 1, sy = int64_t{ny} + 1, sz = int64_t{nz} + 1;
    // Checked one factor at a time so that the products cannot overflow.
    if (sx * sy > kMaxHexBlockCount || sx * sy * sz > kMaxHexBlockCount) return mesh;

    mesh.points.reserve(static_cast<size_t>(sx * sy * sz));
    for (int32_t k = 0; k <= nz; ++k) {
        for (int32_t j = 0; j <= ny; ++j) {
            for (int32_t i = 0; i <= nx; ++i) {
                mesh.points.push_back(trilinearPoint(corners, static_cast<double>(i) / nx,
                                                     static_cast<double>(j) / ny,
                                                     static_cast<double>(k) / nz));
            }
        }
    }

    auto P = [&](int64_t i, int64_t j, int64_t k) { return i + sx * (j + sy * k); };
    mesh.hexes.reserve(static_cast<size_t>(int64_t{nx} * ny * nz));
    for (int64_t k = 0; k < nz; ++k) {
        for (int64_t j = 0; j < ny; ++j) {
            for (int64_t i = 0; i < nx; ++i) {
                HexCell cell{{P(i, j, k), P(i + 1, j, k), P(i + 1, j + 1, k), P(i, j + 1, k),
                              P(i, j, k + 1), P(i + 1, j, k + 1), P(i + 1, j + 1, k + 1),
                              P(i, j + 1, k + 1)}};
                if (!hexCellIsValid(mesh.points, cell)) return HexBlockMesh{};
                mesh.hexes.push_back(cell);
            }
        }
    }
    mesh.ok = true;
    return mesh;
}

bool meshHexBlockModel(const std::array<Point3, 8>& corners, int32_t nx, int32_t ny, int32_t nz,
                       const SolidNumbering& numbering, Model& out) {
    if (nx < 1 || ny < 1 || nz < 1) return false;
    const int64_t sx = int64_t{nx} + 1, sy = int64_t{ny} + 1, sz = int64_t{nz} + 1;
    if (sx * sy > kMaxHexBlockCount || sx * sy * sz > kMaxHexBlockCount) return false;

    std::vector<Point3> points;
    points.reserve(static_cast<size_t>(sx * sy * sz));
    for (int32_t k = 0; k <= nz; ++k) {
        for (int32_t j = 0; j <= ny; ++j) {
            for (int32_t i = 0; i <= nx; ++i) {
                points.push_back(trilinearPoint(corners, static_cast<double>(i) / nx,
                                                static_cast<double>(j) / ny,
                                                static_cast<double>(k) / nz));
            }
        }
    }

    // Every cell is tested before anything of the model is built; the cells themselves are
    // not stored, only their solids.
    auto cellAt = [&](int64_t i, int64_t j, int64_t k) {
        auto P = [&](int64_t a, int64_t b, int64_t c) { return a + sx * (b + sy * c); };
        return HexCell{{P(i, j, k), P(i + 1, j, k), P(i + 1, j + 1, k), P(i, j + 1, k),
                        P(i, j, k + 1), P(i + 1, j, k + 1), P(i + 1, j + 1, k + 1),
                        P(i, j + 1, k + 1)}};
    };
    for (int64_t k = 0; k < nz; ++k) {
        for (int64_t j = 0; j < ny; ++j) {
            for (int64_t i = 0; i < nx; ++i) {
                if (!hexCellIsValid(points, cellAt(i, j, k))) return false;
            }
        }
    }

    Model model;
    model.nodes.reserve(points.size());
    for (size_t n = 0; n < points.size(); ++n) {
        const Point3& p = points[n];
        model.nodes.push_back(
            Node{static_cast<int32_t>(numbering.firstNodeId + static_cast<int64_t>(n)), p.x, p.y, p.z});
    }
    std::vector<Point3>().swap(points);

    model.solids.resize(static_cast<size_t>(int64_t{nx} * ny * nz));
    int32_t nextId = numbering.firstSolidId;
    size_t s = 0;
    for (int64_t k = 0; k < nz; ++k) {
        for (int64_t j = 0; j < ny; ++j) {
            for (int64_t i = 0; i < nx; ++i) {
                const HexCell cell = cellAt(i, j, k);
                Solid& solid = model.solids[s++];
                solid.id = nextId++;
                solid.kind = "HEX8";
                solid.nodes.resize(8);
                for (int c = 0; c < 8; ++c) {
                    solid.nodes[static_cast<size_t>(c)] = static_cast<int32_t>(numbering.firstNodeId + cell.v[c]);
                }
                solid.matId = numbering.matId;
            }
        }
    }
    out = std::move(model);
    return true;
}

Model hexBlockToModel(const HexBlockMesh& mesh, const SolidNumbering& numbering) {
    if (!mesh.ok) return Model{};
    return buildSolidModel(mesh.points, {}, mesh.hexes, numbering);
}
