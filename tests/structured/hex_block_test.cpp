#include "structured/hex_block.hpp"

#include <cmath>

#include <gtest/gtest.h>

namespace {

using Corners = std::array<Point3, 8>;

const Corners kUnitCube = {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}};

void expectPoint(const Point3& p, double x, double y, double z) {
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
    EXPECT_EQ(p.z, z);
}

TEST(HexBlock, SingleCellPointsInGridOrderAndCellInCornerOrder) {
    HexBlockMesh m = meshHexBlock(kUnitCube, 1, 1, 1);
    ASSERT_TRUE(m.ok);
    ASSERT_EQ(m.points.size(), 8u);
    const double grid[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};
    for (int i = 0; i < 8; ++i) expectPoint(m.points[i], grid[i][0], grid[i][1], grid[i][2]);
    ASSERT_EQ(m.hexes.size(), 1u);
    EXPECT_EQ(m.hexes[0].v, (std::array<int64_t, 8>{0, 1, 3, 2, 4, 5, 7, 6}));
}

TEST(HexBlock, SecondCellAlongXIsTheFirstShiftedByOne) {
    HexBlockMesh m = meshHexBlock(kUnitCube, 2, 1, 1);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.points.size(), 12u);
    ASSERT_EQ(m.hexes.size(), 2u);
    for (int c = 0; c < 8; ++c) EXPECT_EQ(m.hexes[1].v[c], m.hexes[0].v[c] + 1);
    expectPoint(m.points[1], 0.5, 0, 0);
}

TEST(HexBlock, CountsAndIndexFormula) {
    HexBlockMesh m = meshHexBlock(kUnitCube, 3, 4, 5);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.points.size(), 4u * 5u * 6u);
    EXPECT_EQ(m.hexes.size(), 60u);
    // P(i, j, k) = i + (nx+1)(j + (ny+1)k): grid position (2, 3, 4) maps to (2/3, 3/4, 4/5).
    const Point3& p = m.points[2 + 4 * (3 + 5 * 4)];
    EXPECT_DOUBLE_EQ(p.x, 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(p.y, 0.75);
    EXPECT_DOUBLE_EQ(p.z, 0.8);
    // The last layer is mapped at exactly 1.
    expectPoint(m.points.back(), 1, 1, 1);
}

TEST(HexBlock, NonPositiveDivisionsFail) {
    EXPECT_FALSE(meshHexBlock(kUnitCube, 0, 1, 1).ok);
    EXPECT_FALSE(meshHexBlock(kUnitCube, 1, -1, 1).ok);
    EXPECT_FALSE(meshHexBlock(kUnitCube, 1, 1, INT32_MIN).ok);
}

TEST(HexBlock, BlocksTooLargeToHoldAreRefusedBeforeAllocating) {
    HexBlockMesh huge = meshHexBlock(kUnitCube, 2000000000, 2000000000, 2000000000);
    EXPECT_FALSE(huge.ok);
    EXPECT_TRUE(huge.points.empty());
    EXPECT_FALSE(meshHexBlock(kUnitCube, 400, 400, 400).ok);
    EXPECT_FALSE(meshHexBlock(kUnitCube, kMaxHexBlockCount, 1, 1).ok);
}

TEST(HexBlock, MirroredCubeFailsWithEmptyArrays) {
    Corners mirrored = kUnitCube;
    std::swap(mirrored[1], mirrored[3]);
    std::swap(mirrored[5], mirrored[7]);
    HexBlockMesh m = meshHexBlock(mirrored, 2, 2, 2);
    EXPECT_FALSE(m.ok);
    EXPECT_TRUE(m.points.empty());
    EXPECT_TRUE(m.hexes.empty());
}

TEST(HexBlock, DegenerateCornersFail) {
    Corners collapsed = kUnitCube;
    collapsed[1] = collapsed[0];
    EXPECT_FALSE(meshHexBlock(collapsed, 1, 1, 1).ok);
    Corners flat = kUnitCube;
    for (int i = 4; i < 8; ++i) flat[i].z = 0;
    EXPECT_FALSE(meshHexBlock(flat, 1, 1, 1).ok);
}

TEST(HexBlock, PartlyDegenerateBlockFailsAsAWhole) {
    // Top face turned by a half turn: the block narrows to a line at mid-height, so the
    // cells there are flat while the cells at the bottom are valid.
    Corners twisted = kUnitCube;
    twisted[4] = {1, 1, 1};
    twisted[5] = {0, 1, 1};
    twisted[6] = {0, 0, 1};
    twisted[7] = {1, 0, 1};
    EXPECT_FALSE(meshHexBlock(twisted, 4, 4, 4).ok);
    EXPECT_TRUE(meshHexBlock(twisted, 4, 4, 4).hexes.empty());
}

TEST(HexBlock, ParallelepipedSucceedsWithPointsOnItsEdges) {
    // Sheared box: u along (2,0,0), v along (1,1,0), w along (0.5,0.25,3).
    const Point3 u{2, 0, 0}, v{1, 1, 0}, w{0.5, 0.25, 3};
    Corners box;
    const int uvw[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    for (int c = 0; c < 8; ++c) {
        box[c] = {uvw[c][0] * u.x + uvw[c][1] * v.x + uvw[c][2] * w.x, uvw[c][0] * u.y + uvw[c][1] * v.y + uvw[c][2] * w.y,
                  uvw[c][0] * u.z + uvw[c][1] * v.z + uvw[c][2] * w.z};
    }
    HexBlockMesh m = meshHexBlock(box, 4, 3, 5);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.hexes.size(), 60u);
    // Along the bottom edge from corner 0 to corner 1 the points are exactly i/4 of the way.
    for (int i = 0; i <= 4; ++i) expectPoint(m.points[i], 2.0 * i / 4, 0, 0);
}

TEST(HexBlock, NegativeZeroSurvivesTheTrilinearSum) {
    // A block in x, y <= 0 whose corners at the origin side are written as -0.
    const Corners c = {{{-1, -1, 0}, {-0.0, -1, 0}, {-0.0, -0.0, 0}, {-1, -0.0, 0},
                        {-1, -1, 1}, {-0.0, -1, 1}, {-0.0, -0.0, 1}, {-1, -0.0, 1}}};
    Point3 p = trilinearPoint(c, 1, 1, 0);
    EXPECT_EQ(p.x, 0.0);
    EXPECT_TRUE(std::signbit(p.x));
    EXPECT_TRUE(std::signbit(p.y));
    EXPECT_FALSE(std::signbit(p.z));
}

TEST(HexBlock, ThinButPositiveCellsAreAccepted) {
    Corners thin = kUnitCube;
    for (int i = 4; i < 8; ++i) thin[i].z = 1e-300;
    EXPECT_TRUE(meshHexBlock(thin, 1, 1, 1).ok);
}

TEST(HexBlock, ModelHasHex8SolidsNumberedFromOne) {
    HexBlockMesh m = meshHexBlock(kUnitCube, 2, 1, 1);
    Model model = hexBlockToModel(m, SolidNumbering{1, 1, 42});
    ASSERT_EQ(model.nodes.size(), 12u);
    EXPECT_EQ(model.nodes[0].id, 1);
    EXPECT_EQ(model.nodes[11].id, 12);
    ASSERT_EQ(model.solids.size(), 2u);
    EXPECT_EQ(model.solids[1].id, 2);
    EXPECT_EQ(model.solids[1].kind, "HEX8");
    EXPECT_EQ(model.solids[1].matId, 42);
    EXPECT_EQ(model.solids[0].nodes, (std::vector<int32_t>{1, 2, 5, 4, 7, 8, 11, 10}));
    EXPECT_TRUE(model.areas.empty());
    EXPECT_TRUE(model.elements.empty());

    m.ok = false;
    Model empty = hexBlockToModel(m, SolidNumbering{1, 1, 0});
    EXPECT_TRUE(empty.nodes.empty());
    EXPECT_TRUE(empty.solids.empty());
}

TEST(SolidOutput, TetrahedraBeforeHexahedraAndUnusedPointsKept) {
    std::vector<Point3> points(10, Point3{1, 2, 3});
    std::vector<TetCell> tets{{{0, 1, 2, 3}}, {{1, 2, 3, 4}}};
    std::vector<HexCell> hexes{{{0, 1, 2, 3, 4, 5, 6, 7}}};
    Model m = buildSolidModel(points, tets, hexes, SolidNumbering{5, 1, 3});
    ASSERT_EQ(m.nodes.size(), 10u);
    EXPECT_EQ(m.nodes[9].id, 14);
    ASSERT_EQ(m.solids.size(), 3u);
    EXPECT_EQ(m.solids[0].kind, "TET4");
    EXPECT_EQ(m.solids[1].kind, "TET4");
    EXPECT_EQ(m.solids[2].kind, "HEX8");
    EXPECT_EQ(m.solids[2].id, 3);
    EXPECT_EQ(m.solids[1].nodes, (std::vector<int32_t>{6, 7, 8, 9}));
}

}  // namespace

// The handler's direct path must give exactly the model of the two-step path, and fail
// where it fails.
TEST(HexBlockModel, DirectPathMatchesMeshThenModel) {
    const std::array<Point3, 8> skewed = {{{0, 0, 0}, {2, 0.1, 0}, {2.2, 1.5, 0.2}, {-0.1, 1, 0},
                                           {0.1, 0, 3}, {2, 0, 3.1}, {2.1, 1.4, 2.9}, {0, 1.1, 3}}};
    const int32_t dims[][3] = {{1, 1, 1}, {3, 4, 5}, {7, 2, 3}};
    for (const auto& d : dims) {
        const SolidNumbering numbering{5, 9, 3};
        Model direct;
        ASSERT_TRUE(meshHexBlockModel(skewed, d[0], d[1], d[2], numbering, direct));
        const Model twoStep = hexBlockToModel(meshHexBlock(skewed, d[0], d[1], d[2]), numbering);
        ASSERT_EQ(direct.nodes.size(), twoStep.nodes.size());
        ASSERT_EQ(direct.solids.size(), twoStep.solids.size());
        for (size_t i = 0; i < direct.nodes.size(); ++i) {
            EXPECT_EQ(direct.nodes[i].id, twoStep.nodes[i].id);
            EXPECT_EQ(direct.nodes[i].x, twoStep.nodes[i].x);
            EXPECT_EQ(direct.nodes[i].y, twoStep.nodes[i].y);
            EXPECT_EQ(direct.nodes[i].z, twoStep.nodes[i].z);
        }
        for (size_t i = 0; i < direct.solids.size(); ++i) {
            EXPECT_EQ(direct.solids[i].id, twoStep.solids[i].id);
            EXPECT_EQ(direct.solids[i].kind, twoStep.solids[i].kind);
            EXPECT_EQ(direct.solids[i].nodes, twoStep.solids[i].nodes);
            EXPECT_EQ(direct.solids[i].matId, twoStep.solids[i].matId);
        }
    }
    std::array<Point3, 8> mirrored = skewed;
    std::swap(mirrored[1], mirrored[3]);
    std::swap(mirrored[5], mirrored[7]);
    Model untouched;
    untouched.nodes.push_back(Node{1, 0, 0, 0});
    EXPECT_FALSE(meshHexBlockModel(mirrored, 2, 2, 2, SolidNumbering{1, 1, 0}, untouched));
    EXPECT_FALSE(meshHexBlockModel(skewed, 0, 2, 2, SolidNumbering{1, 1, 0}, untouched));
    EXPECT_FALSE(meshHexBlockModel(skewed, 400, 400, 400, SolidNumbering{1, 1, 0}, untouched));
    EXPECT_EQ(untouched.nodes.size(), 1u);
}
