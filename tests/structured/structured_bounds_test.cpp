// The size bounds of the structured meshers, each met at its value: the count just past it
// is refused before anything is allocated, and the count at it passes the size check.
// Building a model at the size bounds would take gigabytes, so the accepting side is shown
// by a later check refusing instead (the ids, which are checked after the size).

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "structured/disc.hpp"
#include "structured/hex_block.hpp"
#include "structured/sweep.hpp"

namespace {

const Point3 kOrigin{0, 0, 0};
const Point3 kUp{0, 0, 1};
const int32_t kTopId = std::numeric_limits<int32_t>::max();

StructuredAreaProps numberedFrom(uint32_t firstNode, uint32_t firstArea) {
    StructuredAreaProps props;
    props.firstNodeId = firstNode;
    props.firstAreaId = firstArea;
    return props;
}

TEST(StructuredBounds, DiscDivisionsStopAtTheBound) {
    static_assert(kMaxDiscDivisions == 4000, "the README's Limits table gives 4,000");
    for (int32_t divisions : {kMaxDiscDivisions + 1, 1000000, kTopId}) {
        const StructuredAreaMesh mesh = meshDisc(kOrigin, kUp, 1.0, divisions, numberedFrom(1, 1));
        EXPECT_FALSE(mesh.ok) << divisions;
        EXPECT_EQ(mesh.message, "disc mesh needs divisions <= 4000");
        EXPECT_TRUE(mesh.model.nodes.empty());
    }
    // At the bound the size check passes: (4001)^2 nodes from the top id then fail on ids.
    // (Meshing it outright would build 16 million nodes, gigabytes of model.)
    const StructuredAreaMesh atBound =
        meshDisc(kOrigin, kUp, 1.0, kMaxDiscDivisions, numberedFrom(static_cast<uint32_t>(kTopId), 1));
    EXPECT_FALSE(atBound.ok);
    EXPECT_EQ(atBound.message, "disc mesh ids would exceed 2147483647");
}

TEST(StructuredBounds, AnnulusNodeCountStopsAtTheBound) {
    static_assert(kMaxAnnulusNodes == 16000000, "the README's Limits table gives 16,000,000");
    // 16,000,001 = 109 x 146,789: one node past the bound.
    const StructuredAreaMesh past = meshAnnulus(kOrigin, kUp, 1.0, 2.0, 108, 146789, numberedFrom(1, 1));
    EXPECT_FALSE(past.ok);
    EXPECT_EQ(past.message, "annulus mesh needs (radial + 1) * around <= 16000000");
    EXPECT_TRUE(past.model.nodes.empty());
    // The largest counts of both factors, and a thin annulus just past the bound.
    EXPECT_EQ(meshAnnulus(kOrigin, kUp, 1.0, 2.0, kTopId, kTopId, numberedFrom(1, 1)).message,
              "annulus mesh needs (radial + 1) * around <= 16000000");
    EXPECT_EQ(meshAnnulus(kOrigin, kUp, 1.0, 2.0, 5333333, 3, numberedFrom(1, 1)).message,
              "annulus mesh needs (radial + 1) * around <= 16000000");  // 16,000,002 nodes
    // Exactly 16 x 1,000,000 nodes passes the size check and fails on ids instead.
    const StructuredAreaMesh atBound =
        meshAnnulus(kOrigin, kUp, 1.0, 2.0, 15, 1000000, numberedFrom(static_cast<uint32_t>(kTopId), 1));
    EXPECT_EQ(atBound.message, "annulus mesh ids would exceed 2147483647");
}

TEST(StructuredBounds, IdsEndExactlyAtTheLargest32BitId) {
    // kMaxId: the last node and area ids may be 2147483647 and no more, for discs and annuli.
    StructuredAreaMesh ring = meshAnnulus(kOrigin, kUp, 1.0, 2.0, 1, 3,
                                          numberedFrom(static_cast<uint32_t>(kTopId) - 5,
                                                       static_cast<uint32_t>(kTopId) - 2));
    ASSERT_TRUE(ring.ok) << ring.message;
    EXPECT_EQ(ring.model.nodes.back().id, kTopId);
    EXPECT_EQ(ring.model.areas.back().id, kTopId);
    EXPECT_EQ(ring.model.areas.back().nodes[2], kTopId - 2);  // outer j + 1 wraps to the ring's start
    for (const StructuredAreaProps& p :
         {numberedFrom(static_cast<uint32_t>(kTopId) - 4, 1), numberedFrom(1, static_cast<uint32_t>(kTopId) - 1),
          numberedFrom(std::numeric_limits<uint32_t>::max(), 1)}) {
        const StructuredAreaMesh past = meshAnnulus(kOrigin, kUp, 1.0, 2.0, 1, 3, p);
        EXPECT_FALSE(past.ok);
        EXPECT_EQ(past.message, "annulus mesh ids would exceed 2147483647");
        EXPECT_TRUE(past.model.nodes.empty());
    }
    // Ids beyond the signed range given as the first id are refused, not wrapped.
    const StructuredAreaMesh disc =
        meshDisc(kOrigin, kUp, 1.0, 1, numberedFrom(std::numeric_limits<uint32_t>::max(), 1));
    EXPECT_EQ(disc.message, "disc mesh ids would exceed 2147483647");
}

TEST(StructuredBounds, HexBlockPointCountStopsAtTheBound) {
    static_assert(kMaxHexBlockCount == 16000000, "the README's Limits table gives 16,000,000");
    const std::array<Point3, 8> cube{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                      {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}};
    // 109 x 229 x 641 = 16,000,001 points.
    EXPECT_FALSE(meshHexBlock(cube, 108, 228, 640).ok);
    Model model;
    EXPECT_FALSE(meshHexBlockModel(cube, 108, 228, 640, SolidNumbering{1, 1, 0}, model));
    EXPECT_TRUE(model.nodes.empty());
    // Every factor at the largest count: the products are formed in 64 bits.
    EXPECT_FALSE(meshHexBlockModel(cube, kTopId, kTopId, kTopId, SolidNumbering{1, 1, 0}, model));
    EXPECT_FALSE(meshHexBlock(cube, kTopId, 1, 1).ok);
    // The block at the bound (250 x 256 x 250 points) would hold gigabytes; not built here.
}

TEST(StructuredBounds, SweepLayersAreBoundedBeforeTheFaceIsMeshed) {
    static_assert(kMaxSweepCount == 16000000, "the README's Limits table gives 16,000,000");
    const std::vector<Point3> square{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    SweepParams params;
    // Layer counts whose 3-node estimate passes the bound: (5333333 + 1) x 3 = 16,000,002.
    for (int32_t layers : {5333333, kTopId}) {
        params.layers = layers;
        const SweepMesh sweep = sweepSourceFace(square, {}, 1.0, params);
        EXPECT_FALSE(sweep.ok) << layers;
        EXPECT_TRUE(sweep.points.empty());
    }
    // 5333332 layers pass the estimate (15,999,999 points) and are refused once the square
    // is known to have 4 nodes per layer: 21,333,332 points.
    params.layers = 5333332;
    EXPECT_FALSE(sweepSourceFace(square, {}, 1.0, params).ok);
    // 3,999,999 layers of the square (exactly 16,000,000 points) are within the bound, but
    // building them takes about a gigabyte: not run here.
}

}  // namespace
