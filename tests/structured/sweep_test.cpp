// The sweep of a source face: layer points, cell orders, validity of every swept cell and
// the swept volume, the failures and the bound on the sweep's size.

#include "structured/sweep.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "geom/predicates.hpp"
#include "mesh2d/quad_dominant.hpp"
#include "structured/hex_block.hpp"

namespace {

const std::vector<Point3> kUnitSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

SweepParams layers(int32_t count) {
    SweepParams p;
    p.layers = count;
    return p;
}

/// The quad of the unit square's source mesh, as zero-based node indices.
std::array<int64_t, 4> unitSquareQuad() {
    const AreaMesh source = meshQuadDominantArea(kUnitSquare, {}, {}, RefineOptions{}, 0.4, AreaProps{});
    EXPECT_TRUE(source.ok);
    EXPECT_EQ(source.model.areas.size(), 1u);
    std::array<int64_t, 4> q{};
    for (size_t k = 0; k < 4 && !source.model.areas.empty(); ++k) q[k] = source.model.areas[0].nodes.at(k) - 1;
    return q;
}

TEST(Sweep, UnitSquareOneLayerIsOneHexOverTheQuad) {
    const SweepMesh m = sweepSourceFace(kUnitSquare, {}, 1.0, layers(1));
    ASSERT_TRUE(m.ok);
    ASSERT_EQ(m.points.size(), 8u);
    EXPECT_TRUE(m.tets.empty());
    ASSERT_EQ(m.hexes.size(), 1u);
    const std::array<int64_t, 4> q = unitSquareQuad();
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(m.hexes[0].v[k], q[k]);
        EXPECT_EQ(m.hexes[0].v[k + 4], q[k] + 4);
    }
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(m.points[i].x, kUnitSquare[i].x);
        EXPECT_EQ(m.points[i].y, kUnitSquare[i].y);
        EXPECT_EQ(m.points[i].z, 0.0);
        EXPECT_EQ(m.points[i + 4].x, kUnitSquare[i].x);
        EXPECT_EQ(m.points[i + 4].y, kUnitSquare[i].y);
        EXPECT_EQ(m.points[i + 4].z, 1.0);
    }
    EXPECT_TRUE(hexCellIsValid(m.points, m.hexes[0]));
}

TEST(Sweep, UnitSquareThreeLayersAreEquallySpacedWithTheProductFormedFirst) {
    const double distance = 0.7;
    const SweepMesh m = sweepSourceFace(kUnitSquare, {}, distance, layers(3));
    ASSERT_TRUE(m.ok);
    ASSERT_EQ(m.points.size(), 16u);
    ASSERT_EQ(m.hexes.size(), 3u);
    for (int L = 0; L <= 3; ++L) {
        const double s = (L * distance) / 3;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(m.points[L * 4 + i].z, s) << L;
    }
    // The product comes first: (3 * 0.7) / 3 is one unit in the last place below 0.7, which
    // dividing first, 3 * (0.7 / 3), would give.
    EXPECT_NE(m.points[12].z, 3 * (distance / 3));
    EXPECT_NEAR(m.points[12].z, distance, 1e-15);
    for (int L = 1; L < 3; ++L) {
        for (int c = 0; c < 8; ++c) EXPECT_EQ(m.hexes[L].v[c], m.hexes[0].v[c] + 4 * L);
    }
    for (const HexCell& h : m.hexes) EXPECT_TRUE(hexCellIsValid(m.points, h));
}

TEST(Sweep, TriangleSourceGivesThreeTetsPerLayerInPrismOrder) {
    const std::vector<Point3> triangle = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const SweepMesh m = sweepSourceFace(triangle, {}, 2.0, layers(2));
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.points.size(), 9u);
    EXPECT_TRUE(m.hexes.empty());
    ASSERT_EQ(m.tets.size(), 6u);
    // Source triangle (0, 1, 2); prism w0..w5 = B+0, B+1, B+2, T+0, T+1, T+2.
    for (int64_t L = 0; L < 2; ++L) {
        const int64_t w0 = 3 * L, w1 = w0 + 1, w2 = w0 + 2, w3 = w0 + 3, w4 = w0 + 4, w5 = w0 + 5;
        EXPECT_EQ(m.tets[3 * L].v, (std::array<int64_t, 4>{w0, w1, w5, w2}));
        EXPECT_EQ(m.tets[3 * L + 1].v, (std::array<int64_t, 4>{w0, w1, w4, w5}));
        EXPECT_EQ(m.tets[3 * L + 2].v, (std::array<int64_t, 4>{w0, w4, w3, w5}));
    }
    for (const TetCell& t : m.tets) {
        EXPECT_GT(orient3d(m.points[t.v[0]], m.points[t.v[1]], m.points[t.v[2]], m.points[t.v[3]]), 0);
    }
}

/// Six times the volume of the tetrahedron, in plain arithmetic (positive like orient3d).
double sixVolume(const Point3& a, const Point3& b, const Point3& c, const Point3& d) {
    const double ax = a.x - d.x, ay = a.y - d.y, az = a.z - d.z;
    const double bx = b.x - d.x, by = b.y - d.y, bz = b.z - d.z;
    const double cx = c.x - d.x, cy = c.y - d.y, cz = c.z - d.z;
    return ax * (by * cz - bz * cy) - ay * (bx * cz - bz * cx) + az * (bx * cy - by * cx);
}

double hexVolume(const std::vector<Point3>& p, const HexCell& h) {
    static const int split[6][4] = {{0, 4, 6, 5}, {0, 4, 7, 6}, {0, 1, 6, 2},
                                    {0, 1, 5, 6}, {0, 2, 7, 3}, {0, 2, 6, 7}};
    double six = 0;
    for (const auto& t : split) six += sixVolume(p[h.v[t[0]]], p[h.v[t[1]]], p[h.v[t[2]]], p[h.v[t[3]]]);
    return six / 6;
}

/// Checks every cell of a sweep and returns the total volume.
double checkedVolume(const SweepMesh& m) {
    double volume = 0;
    for (const HexCell& h : m.hexes) {
        EXPECT_TRUE(hexCellIsValid(m.points, h));
        volume += hexVolume(m.points, h);
    }
    for (const TetCell& t : m.tets) {
        const Point3 &a = m.points[t.v[0]], &b = m.points[t.v[1]], &c = m.points[t.v[2]], &d = m.points[t.v[3]];
        EXPECT_GT(orient3d(a, b, c, d), 0);
        volume += sixVolume(a, b, c, d) / 6;
    }
    return volume;
}

/// A point of a plane through the origin that no coordinate axis is normal to; (s, t) are
/// coordinates along its two (orthogonal, not unit) directions.
Point3 tilted(double s, double t) { return Point3{0.6 * s, t * 0.8, -0.8 * s + 0.36 * t}; }

TEST(Sweep, PlateWithHoleFiveLayersGivesValidCellsFillingAreaTimesDistance) {
    // The plane map (s, t) -> tilted(s, t) scales areas by |(0.6, 0, -0.8) x (0, 0.8, 0.36)|.
    const double cx = 0 * 0.36 - (-0.8) * 0.8, cy = (-0.8) * 0 - 0.6 * 0.36, cz = 0.6 * 0.8 - 0;
    const double scale = std::sqrt(cx * cx + cy * cy + cz * cz);
    const std::vector<Point3> boundary = {tilted(0, 0), tilted(4, 0), tilted(4, 3), tilted(0, 3)};
    const std::vector<std::vector<Point3>> holes = {{tilted(1.5, 1), tilted(1.5, 2), tilted(2.5, 2), tilted(2.5, 1)}};
    for (double minQuality : {0.4, 2.0}) {
        SweepParams params = layers(5);
        params.minQuality = minQuality;
        const double distance = 0.75;
        const SweepMesh m = sweepSourceFace(boundary, holes, distance, params);
        ASSERT_TRUE(m.ok);
        if (minQuality < 1) {
            EXPECT_FALSE(m.hexes.empty());
        } else {
            EXPECT_TRUE(m.hexes.empty());
        }
        EXPECT_EQ(m.tets.size() % 15, 0u);
        EXPECT_EQ(m.hexes.size() % 5, 0u);
        EXPECT_NEAR(checkedVolume(m), 11 * scale * distance, 1e-9);

        // The far face lies at the distance along the unit normal of the face's frame.
        const AreaMesh source = meshQuadDominantArea(boundary, holes, {}, params.options, minQuality, AreaProps{});
        const size_t n = source.model.nodes.size();
        ASSERT_EQ(m.points.size(), 6 * n);
        const Point3 N = source.frame.normal;
        for (size_t i = 0; i < n; ++i) {
            const Point3& b = m.points[i];
            const Point3& top = m.points[5 * n + i];
            EXPECT_EQ(b.x, source.model.nodes[i].x);
            EXPECT_EQ(top.x, b.x + N.x * distance);
            EXPECT_EQ(top.y, b.y + N.y * distance);
            EXPECT_EQ(top.z, b.z + N.z * distance);
        }
    }
}

TEST(Sweep, BadLayersOrDistanceFailBeforeMeshing) {
    // A collinear boundary would fail too, but only after meshing; these fail first and
    // leave every array empty.
    for (double distance : {0.0, -1.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
        const SweepMesh m = sweepSourceFace(kUnitSquare, {}, distance, layers(1));
        EXPECT_FALSE(m.ok) << distance;
        EXPECT_TRUE(m.points.empty());
    }
    for (int32_t count : {0, -3, std::numeric_limits<int32_t>::min()}) {
        EXPECT_FALSE(sweepSourceFace(kUnitSquare, {}, 1.0, layers(count)).ok) << count;
    }
    EXPECT_FALSE(sweepSourceFace({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {}, 1.0, layers(1)).ok);
}

TEST(Sweep, SweepsTooLargeToHoldAreRefusedQuickly) {
    const SweepMesh huge = sweepSourceFace(kUnitSquare, {}, 1.0, layers(std::numeric_limits<int32_t>::max()));
    EXPECT_FALSE(huge.ok);
    EXPECT_TRUE(huge.points.empty());
    // Passes the 3-node estimate (15000003 points), fails on the unit square's 4 nodes
    // per layer (20000004 points).
    static_assert(kMaxSweepCount == 16000000, "the layer counts below assume this bound");
    const SweepMesh wide = sweepSourceFace(kUnitSquare, {}, 1.0, layers(5000000));
    EXPECT_FALSE(wide.ok);
    EXPECT_TRUE(wide.points.empty());
    // A sizeable sweep within the bound still runs: 4 * 250000 points, 249999 hexahedra.
    EXPECT_TRUE(sweepSourceFace(kUnitSquare, {}, 1.0, layers(249999)).ok);
}

TEST(Sweep, ModelHasTetsBeforeHexesAndIsEmptyForAFailedSweep) {
    // A house-shaped face: a quad below, a triangle for the roof.
    SweepMesh m = sweepSourceFace({{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 2, 0}, {0, 1, 0}}, {}, 1.0, layers(2));
    ASSERT_TRUE(m.ok);
    ASSERT_FALSE(m.tets.empty());
    ASSERT_FALSE(m.hexes.empty());
    EXPECT_NEAR(checkedVolume(m), 3.0, 1e-12);
    const Model model = sweepMeshToModel(m, SolidNumbering{1, 1, 9});
    ASSERT_EQ(model.solids.size(), m.tets.size() + m.hexes.size());
    EXPECT_EQ(model.solids[m.tets.size() - 1].kind, "TET4");
    EXPECT_EQ(model.solids[m.tets.size()].kind, "HEX8");
    EXPECT_EQ(model.solids[0].matId, 9);
    m.ok = false;
    const Model empty = sweepMeshToModel(m, SolidNumbering{1, 1, 9});
    EXPECT_TRUE(empty.nodes.empty());
    EXPECT_TRUE(empty.solids.empty());
}

}  // namespace
