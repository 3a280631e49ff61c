// Structured discs and annuli: counts, positions, plane axes, quad orientation and the
// order of the parameter checks.

#include <cmath>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "structured/disc.hpp"

namespace {

Point3 sub(const Point3& a, const Point3& b) { return Point3{a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Point3 crossOf(const Point3& a, const Point3& b) {
    return Point3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double norm(const Point3& a) { return std::sqrt(dot(a, a)); }
Point3 unit(const Point3& a) {
    const double l = norm(a);
    return Point3{a.x / l, a.y / l, a.z / l};
}

Point3 position(const Model& m, int32_t id) {
    for (const Node& n : m.nodes) {
        if (n.id == id) return Point3{n.x, n.y, n.z};
    }
    ADD_FAILURE() << "no node " << id;
    return Point3{};
}

/// Twice the signed area of a quad projected on the unit normal n (Newell sum).
double signedArea(const Model& m, const Area& a, const Point3& n) {
    Point3 sum{0, 0, 0};
    for (size_t i = 0; i < a.nodes.size(); ++i) {
        const Point3 p = position(m, a.nodes[i]);
        const Point3 q = position(m, a.nodes[(i + 1) % a.nodes.size()]);
        const Point3 c = crossOf(p, q);
        sum = Point3{sum.x + c.x, sum.y + c.y, sum.z + c.z};
    }
    return dot(sum, n);
}

StructuredAreaProps props() { return StructuredAreaProps{1, 1, 0, 0, 0.0}; }

/// Ids consecutive from 1 for nodes and areas; every area a membrane QUAD.
void expectNumbering(const Model& m) {
    for (size_t i = 0; i < m.nodes.size(); ++i) EXPECT_EQ(m.nodes[i].id, static_cast<int32_t>(i + 1));
    for (size_t i = 0; i < m.areas.size(); ++i) {
        EXPECT_EQ(m.areas[i].id, static_cast<int32_t>(i + 1));
        EXPECT_EQ(m.areas[i].kind, "QUAD");
        EXPECT_EQ(m.areas[i].behavior, "membrane");
        EXPECT_EQ(m.areas[i].nodes.size(), 4u);
        EXPECT_FALSE(m.areas[i].drilling);
    }
    EXPECT_TRUE(m.solids.empty());
    EXPECT_TRUE(m.elements.empty());
}

TEST(PlaneAxes, NormaliseRefusesTinyVectorsAndRescuesHugeOnes) {
    Point3 tiny{1e-13, 0, 0};
    EXPECT_FALSE(normalize3(tiny));
    EXPECT_EQ(tiny.x, 1e-13);  // left unchanged

    Point3 v{0, 0, 2};
    ASSERT_TRUE(normalize3(v));
    EXPECT_EQ(v.x, 0.0);
    EXPECT_EQ(v.z, 1.0);

    Point3 huge{1e200, 0, -1e200};  // squares overflow
    ASSERT_TRUE(normalize3(huge));
    EXPECT_NEAR(huge.x, std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(huge.z, -std::sqrt(0.5), 1e-15);
}

TEST(PlaneAxes, AxesAreRightHandedOnBothBranches) {
    // |n.x| < 0.9 takes the x axis, otherwise the y axis.
    for (Point3 n : {Point3{0, 0, 1}, Point3{1, -2, 0.5}, Point3{-1, 0.1, 0.2}, Point3{0.9, 0.3, 0.3},
                     Point3{1, 0, 0}}) {
        ASSERT_TRUE(normalize3(n));
        const Point3 u = perpendicularAxis(n);
        const Point3 w = crossOf(n, u);
        EXPECT_NEAR(norm(u), 1.0, 1e-15);
        EXPECT_NEAR(dot(u, n), 0.0, 1e-15);
        const Point3 uw = crossOf(u, w);  // equals n for a right-handed (u, w, n)
        EXPECT_NEAR(uw.x, n.x, 1e-15);
        EXPECT_NEAR(uw.y, n.y, 1e-15);
        EXPECT_NEAR(uw.z, n.z, 1e-15);
    }
    const Point3 ux = perpendicularAxis(Point3{1, 0, 0});  // y branch: x cross y
    EXPECT_EQ(ux.x, 0.0);
    EXPECT_EQ(ux.y, 0.0);
    EXPECT_EQ(ux.z, 1.0);
}

TEST(MeshDisc, OneDivisionIsOneQuadOnTheSquareCornerImages) {
    const StructuredAreaMesh mesh = meshDisc(Point3{0, 0, 0}, Point3{0, 0, 1}, 2.0, 1, props());
    ASSERT_TRUE(mesh.ok);
    ASSERT_EQ(mesh.model.nodes.size(), 4u);
    ASSERT_EQ(mesh.model.areas.size(), 1u);
    expectNumbering(mesh.model);
    EXPECT_EQ(mesh.model.areas[0].nodes, (std::vector<int32_t>{1, 2, 4, 3}));
    // u = (0, 1, 0), w = (-1, 0, 0): the square corner (sx, sy) lands at R/sqrt(2) (sx u + sy w).
    const double h = 2.0 * std::sqrt(0.5);
    const double expected[4][2] = {{h, -h}, {h, h}, {-h, -h}, {-h, h}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(mesh.model.nodes[i].x, expected[i][0]);
        EXPECT_DOUBLE_EQ(mesh.model.nodes[i].y, expected[i][1]);
        EXPECT_EQ(mesh.model.nodes[i].z, 0.0);
    }
}

TEST(MeshDisc, TwoDivisionsPutNodeFiveAtTheCentreAndTheRestOnTheCircle) {
    const Point3 c{1, 2, 3};
    const StructuredAreaMesh mesh = meshDisc(c, Point3{0, 0, 2}, 1.5, 2, props());
    ASSERT_TRUE(mesh.ok);
    ASSERT_EQ(mesh.model.nodes.size(), 9u);
    ASSERT_EQ(mesh.model.areas.size(), 4u);
    expectNumbering(mesh.model);
    const Node& centre = mesh.model.nodes[4];
    EXPECT_EQ(centre.id, 5);
    EXPECT_EQ(centre.x, 1.0);
    EXPECT_EQ(centre.y, 2.0);
    EXPECT_EQ(centre.z, 3.0);
    for (const Node& n : mesh.model.nodes) {
        EXPECT_EQ(n.z, 3.0);  // the plane through the centre parallel to xy
        EXPECT_NEAR(norm(sub(Point3{n.x, n.y, n.z}, c)), n.id == 5 ? 0.0 : 1.5, 1e-15);
    }
    // Node 2 is row 0, column 1: sx = 0, sy = -1, so it lies at c - R w = c + (R, 0, 0);
    // node 4 is row 1, column 0: c - R u = c - (0, R, 0).
    EXPECT_EQ(mesh.model.nodes[1].x, 2.5);
    EXPECT_EQ(mesh.model.nodes[1].y, 2.0);
    EXPECT_EQ(mesh.model.nodes[3].x, 1.0);
    EXPECT_EQ(mesh.model.nodes[3].y, 0.5);
    EXPECT_EQ(mesh.model.areas[3].nodes, (std::vector<int32_t>{5, 6, 9, 8}));
}

TEST(MeshDisc, QuadsRunCounterClockwiseAboutAnyNormalInItsPlane) {
    const Point3 c{-3, 0.5, 7};
    for (const Point3& normal : {Point3{1, -2, 0.5}, Point3{-1, 0.1, 0.2}, Point3{0, 0, -4}}) {
        const StructuredAreaMesh mesh = meshDisc(c, normal, 2.0, 7, props());
        ASSERT_TRUE(mesh.ok);
        EXPECT_EQ(mesh.model.nodes.size(), 64u);
        EXPECT_EQ(mesh.model.areas.size(), 49u);
        const Point3 n = unit(normal);
        double total = 0;
        for (const Node& node : mesh.model.nodes) {
            const Point3 d = sub(Point3{node.x, node.y, node.z}, c);
            EXPECT_NEAR(dot(d, n), 0.0, 1e-14);
            EXPECT_LE(norm(d), 2.0 + 1e-14);
        }
        for (const Area& a : mesh.model.areas) {
            const double s = signedArea(mesh.model, a, n);
            EXPECT_GT(s, 0.0) << "area " << a.id;
            total += s;
        }
        // The quads tile the disc: their areas sum to pi R^2 less the chord segments.
        EXPECT_GT(total / 2, 0.9 * 3.14159 * 4);
        EXPECT_LT(total / 2, 3.14159265 * 4);
    }
}

TEST(MeshDisc, CopiesPropsAndNumbersFromTheFirstIds) {
    const StructuredAreaProps p{100, 20, 7, 3, 0.25};
    const StructuredAreaMesh mesh = meshDisc(Point3{0, 0, 0}, Point3{0, 0, 1}, 1.0, 2, p);
    ASSERT_TRUE(mesh.ok);
    EXPECT_EQ(mesh.model.nodes.front().id, 100);
    EXPECT_EQ(mesh.model.nodes.back().id, 108);
    EXPECT_EQ(mesh.model.areas.front().id, 20);
    EXPECT_EQ(mesh.model.areas.back().id, 23);
    EXPECT_EQ(mesh.model.areas.front().nodes, (std::vector<int32_t>{100, 101, 104, 103}));
    for (const Area& a : mesh.model.areas) {
        EXPECT_EQ(a.matId, 7);
        EXPECT_EQ(a.secId, 3);
        EXPECT_EQ(a.thickness, 0.25);
    }
}

TEST(MeshDisc, ChecksRunInOrderAndLeaveTheModelEmpty) {
    const Point3 c{0, 0, 0}, n{0, 0, 1}, zero{0, 0, 0};
    struct Case {
        double radius;
        int32_t divisions;
        Point3 normal;
        const char* message;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {-1.0, 0, zero, "disc mesh needs divisions >= 1"},
        {1.0, std::numeric_limits<int32_t>::min(), n, "disc mesh needs divisions >= 1"},
        {0.0, 1, zero, "disc mesh needs a positive radius"},
        {nan, 3, n, "disc mesh needs a positive radius"},
        {1.0, 3, Point3{0, 1e-13, 0}, "disc mesh needs a non-zero normal"},
        {1.0, 4001, n, "disc mesh needs divisions <= 4000"},
        {1.0, std::numeric_limits<int32_t>::max(), n, "disc mesh needs divisions <= 4000"},
    };
    for (const Case& k : cases) {
        const StructuredAreaMesh mesh = meshDisc(c, k.normal, k.radius, k.divisions, props());
        EXPECT_FALSE(mesh.ok);
        EXPECT_EQ(mesh.message, k.message);
        EXPECT_TRUE(mesh.model.nodes.empty());
        EXPECT_TRUE(mesh.model.areas.empty());
    }
}

TEST(MeshDisc, RefusesIdsBeyondTheThirtyTwoBitRange) {
    const uint32_t last = std::numeric_limits<int32_t>::max();
    StructuredAreaProps p = props();
    p.firstNodeId = last - 3;  // 4 nodes end exactly at the largest id
    StructuredAreaMesh mesh = meshDisc(Point3{0, 0, 0}, Point3{0, 0, 1}, 1.0, 1, p);
    ASSERT_TRUE(mesh.ok);
    EXPECT_EQ(mesh.model.nodes.back().id, std::numeric_limits<int32_t>::max());
    p.firstNodeId = last - 2;
    mesh = meshDisc(Point3{0, 0, 0}, Point3{0, 0, 1}, 1.0, 1, p);
    EXPECT_FALSE(mesh.ok);
    EXPECT_EQ(mesh.message, "disc mesh ids would exceed 2147483647");
    p = props();
    p.firstAreaId = last;  // one area fits
    EXPECT_TRUE(meshDisc(Point3{0, 0, 0}, Point3{0, 0, 1}, 1.0, 1, p).ok);
    EXPECT_FALSE(meshDisc(Point3{0, 0, 0}, Point3{0, 0, 1}, 1.0, 2, p).ok);
}

TEST(MeshDisc, HugeNormalStillGivesThePlaneAcrossIt) {
    const StructuredAreaMesh mesh = meshDisc(Point3{5, 0, 0}, Point3{1e200, 0, 0}, 1.0, 2, props());
    ASSERT_TRUE(mesh.ok);
    for (const Node& n : mesh.model.nodes) {
        EXPECT_EQ(n.x, 5.0);
        EXPECT_NEAR(std::sqrt(n.y * n.y + n.z * n.z), n.id == 5 ? 0.0 : 1.0, 1e-15);
    }
}

TEST(MeshAnnulus, ThreeAroundOneRadialGivesSixNodesAndThreeQuadsClosingTheRing) {
    const Point3 c{1, 1, 1};
    const StructuredAreaMesh mesh = meshAnnulus(c, Point3{0, 0, 1}, 1.0, 2.0, 1, 3, props());
    ASSERT_TRUE(mesh.ok);
    ASSERT_EQ(mesh.model.nodes.size(), 6u);
    ASSERT_EQ(mesh.model.areas.size(), 3u);
    expectNumbering(mesh.model);
    EXPECT_EQ(mesh.model.areas[0].nodes, (std::vector<int32_t>{1, 2, 5, 4}));
    EXPECT_EQ(mesh.model.areas[1].nodes, (std::vector<int32_t>{2, 3, 6, 5}));
    EXPECT_EQ(mesh.model.areas[2].nodes, (std::vector<int32_t>{3, 1, 4, 6}));
    // Node j of a ring sits at angle 2 pi j / 3 from u = (0, 1, 0) towards w = (-1, 0, 0).
    EXPECT_EQ(mesh.model.nodes[0].x, 1.0);
    EXPECT_EQ(mesh.model.nodes[0].y, 2.0);
    EXPECT_EQ(mesh.model.nodes[3].y, 3.0);
    for (size_t i = 0; i < 6; ++i) {
        const Node& n = mesh.model.nodes[i];
        const double rho = i < 3 ? 1.0 : 2.0;
        const double theta = 2 * M_PI * static_cast<double>(i % 3) / 3;
        EXPECT_NEAR(n.x, 1.0 - rho * std::sin(theta), 1e-14);
        EXPECT_NEAR(n.y, 1.0 + rho * std::cos(theta), 1e-14);
        EXPECT_EQ(n.z, 1.0);
    }
}

TEST(MeshAnnulus, RingsRunFromTheInnerRadiusAndQuadsTurnClockwise) {
    const Point3 c{0, -2, 4};
    const Point3 normal{0.3, 0.4, -1};
    const StructuredAreaMesh mesh = meshAnnulus(c, normal, 0.5, 3.0, 5, 12, props());
    ASSERT_TRUE(mesh.ok);
    ASSERT_EQ(mesh.model.nodes.size(), 72u);
    ASSERT_EQ(mesh.model.areas.size(), 60u);
    const Point3 n = unit(normal);
    for (size_t i = 0; i < mesh.model.nodes.size(); ++i) {
        const Node& node = mesh.model.nodes[i];
        const Point3 d = sub(Point3{node.x, node.y, node.z}, c);
        EXPECT_NEAR(norm(d), 0.5 + 0.5 * static_cast<double>(i / 12), 1e-14);
        EXPECT_NEAR(dot(d, n), 0.0, 1e-14);
    }
    for (const Area& a : mesh.model.areas) EXPECT_LT(signedArea(mesh.model, a, n), 0.0) << a.id;
}

TEST(MeshAnnulus, ZeroInnerRadiusPutsTheFirstRingAtTheCentre) {
    const Point3 c{2, 3, 4};
    const StructuredAreaMesh mesh = meshAnnulus(c, Point3{1, 1, 1}, 0.0, 1.0, 2, 5, props());
    ASSERT_TRUE(mesh.ok);
    ASSERT_EQ(mesh.model.nodes.size(), 15u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(mesh.model.nodes[i].x, 2.0);
        EXPECT_EQ(mesh.model.nodes[i].y, 3.0);
        EXPECT_EQ(mesh.model.nodes[i].z, 4.0);
    }
}

TEST(MeshAnnulus, ChecksRunInOrderAndLeaveTheModelEmpty) {
    const Point3 n{0, 0, 1}, zero{0, 0, 0};
    struct Case {
        double rInner, rOuter;
        int32_t radial, around;
        Point3 normal;
        const char* message;
    };
    const Case cases[] = {
        {2, 1, 0, 8, zero, "annulus mesh needs radial >= 1 and around >= 3"},
        {2, 1, 1, 2, zero, "annulus mesh needs radial >= 1 and around >= 3"},
        {1, 1, 1, 3, zero, "annulus mesh needs 0 <= r_inner < r_outer"},
        {-0.5, 1, 1, 3, zero, "annulus mesh needs 0 <= r_inner < r_outer"},
        {0, 1, 1, 3, zero, "annulus mesh needs a non-zero normal"},
        {0, 1, 10000, 10000, n, "annulus mesh needs (radial + 1) * around <= 16000000"},
        {0, 1, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(), n,
         "annulus mesh needs (radial + 1) * around <= 16000000"},
        {0, 1, 1, 8000001, n, "annulus mesh needs (radial + 1) * around <= 16000000"},
    };
    for (const Case& k : cases) {
        const StructuredAreaMesh mesh =
            meshAnnulus(Point3{0, 0, 0}, k.normal, k.rInner, k.rOuter, k.radial, k.around, props());
        EXPECT_FALSE(mesh.ok);
        EXPECT_EQ(mesh.message, k.message);
        EXPECT_TRUE(mesh.model.nodes.empty());
        EXPECT_TRUE(mesh.model.areas.empty());
    }
    // Exactly at the limit by count (checked without building it) is not refused by it:
    // 1 radial and 8000000 around is 16000000 nodes.
    StructuredAreaProps p = props();
    p.firstNodeId = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
    const StructuredAreaMesh atLimit = meshAnnulus(Point3{0, 0, 0}, n, 0, 1, 1, 8000000, p);
    EXPECT_EQ(atLimit.message, "annulus mesh ids would exceed 2147483647");
}

}  // namespace
