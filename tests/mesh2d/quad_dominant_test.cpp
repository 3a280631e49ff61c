// Quad-dominant meshing: quad quality, the candidate rules of the pairing, the greedy
// matching and its tie rule, the final cell order, and the area mesher built on the
// quality refiner.

#include "mesh2d/quad_dominant.hpp"

#include <cmath>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

using Cell = std::array<int64_t, 4>;

Triangle tri(int64_t a, int64_t b, int64_t c) { return Triangle{{a, b, c}}; }

const std::vector<Point2> kSquare = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};

TEST(QuadQuality, RectangleRhombusAndFlatCorner) {
    EXPECT_EQ(quadQuality({0, 0}, {3, 0}, {3, 1}, {0, 1}), 1.0);
    // A rhombus with 60 and 120 degree corners deviates 30 degrees everywhere.
    const double h = std::sqrt(3.0) / 2;
    EXPECT_NEAR(quadQuality({0, 0}, {1, 0}, {1.5, h}, {0.5, h}), 2.0 / 3.0, 1e-12);
    // A corner of 180 degrees scores 0, and so does anything worse.
    EXPECT_EQ(quadQuality({0, 0}, {1, 0}, {2, 0}, {1, 1}), 0.0);
    EXPECT_NEAR(cornerAngle({1, 0}, {0, 0}, {0, 2}), 90.0, 1e-12);
    EXPECT_NEAR(cornerAngle({1, 0}, {0, 0}, {-1, 0}), 180.0, 1e-12);
}

TEST(QuadDominate, TwoTrianglesOfASquareBecomeOneQuadFromTheFirstTrianglesOppositeVertex) {
    const std::vector<MeshCell> cells = quadDominate(kSquare, {tri(0, 1, 2), tri(0, 2, 3)}, 0.4);
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_TRUE(cells[0].isQuad);
    // Shared edge 2 -> 0 in the first triangle, whose third vertex is 1.
    EXPECT_EQ(cells[0].v, (Cell{1, 2, 3, 0}));
}

TEST(QuadDominate, QualityAboveOneLeavesTrianglesSortedByTheirIndices) {
    std::vector<Point2> points = kSquare;
    points.push_back({2, 0.5});
    const std::vector<MeshCell> cells = quadDominate(points, {tri(1, 4, 2), tri(0, 1, 2), tri(0, 2, 3)}, 1.0001);
    ASSERT_EQ(cells.size(), 3u);
    for (const MeshCell& c : cells) EXPECT_FALSE(c.isQuad);
    // Ordered by sorted indices; each keeps its own vertex order and -1.
    EXPECT_EQ(cells[0].v, (Cell{0, 1, 2, -1}));
    EXPECT_EQ(cells[1].v, (Cell{0, 2, 3, -1}));
    EXPECT_EQ(cells[2].v, (Cell{1, 4, 2, -1}));
}

TEST(QuadDominate, NonConvexAndDegeneratePairsAreRejectedEvenAtQualityZero) {
    // A dart: the pair across edge 0-2 has a reflex corner at 1.
    const std::vector<Point2> dart = {{0, 0}, {1, 0.2}, {2, 0}, {1, 1}};
    EXPECT_FALSE(quadDominate(dart, {tri(0, 1, 2), tri(0, 2, 3)}, 0.0)[0].isQuad);
    // A pair whose quad has a straight corner at 1 (turn exactly zero).
    const std::vector<Point2> flat = {{0, 0}, {1, 0}, {2, 0}, {1, 1}};
    const std::vector<MeshCell> cells = quadDominate(flat, {tri(0, 3, 1), tri(1, 3, 2)}, 0.0);
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_FALSE(cells[0].isQuad);
    EXPECT_FALSE(cells[1].isQuad);
}

TEST(QuadDominate, OnlyEdgesWithExactlyTwoOppositeUsesPair) {
    std::vector<Point2> points = kSquare;
    points.push_back({0.5, -1});
    // A third triangle on edge 0-2 takes the pair away.
    const std::vector<MeshCell> three = quadDominate(points, {tri(0, 1, 2), tri(0, 2, 3), tri(2, 0, 4)}, 0.0);
    for (const MeshCell& c : three) EXPECT_FALSE(c.isQuad);
    // Two triangles running the shared edge in the same direction do not pair either.
    const std::vector<MeshCell> same = quadDominate(kSquare, {tri(0, 1, 2), tri(2, 0, 3)}, 0.0);
    for (const MeshCell& c : same) EXPECT_FALSE(c.isQuad);
    // A lone triangle has only boundary edges.
    const std::vector<MeshCell> lone = quadDominate(kSquare, {tri(0, 1, 2)}, 0.0);
    ASSERT_EQ(lone.size(), 1u);
    EXPECT_EQ(lone[0].v, (Cell{0, 1, 2, -1}));
}

TEST(QuadDominate, BetterQuadWinsTheSharedTriangle) {
    // Triangle 0 can pair with 1 (the unit square, quality 1) or with 2 (a worse quad).
    std::vector<Point2> points = kSquare;
    points.push_back({2, 0.5});
    const std::vector<MeshCell> cells = quadDominate(points, {tri(0, 1, 2), tri(0, 2, 3), tri(1, 4, 2)}, 0.0);
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_FALSE(cells[0].isQuad);
    EXPECT_EQ(cells[0].v, (Cell{1, 4, 2, -1}));
    EXPECT_TRUE(cells[1].isQuad);
    EXPECT_EQ(cells[1].v, (Cell{1, 2, 3, 0}));
}

TEST(QuadDominate, EqualQualitiesAreTakenInCornerTupleOrder) {
    // Mirror-symmetric about x = 1: the middle triangle 0 pairs with 1 into (1, 2, 3, 0) or
    // with 2 into (0, 1, 4, 2); both quads are the same trapezoid mirrored, so their
    // qualities are exactly equal and the smaller tuple wins.
    const std::vector<Point2> points = {{0, 0}, {2, 0}, {1, 1}, {0, 1}, {2, 1}};
    ASSERT_EQ(quadQuality(points[1], points[2], points[3], points[0]),
              quadQuality(points[0], points[1], points[4], points[2]));
    const std::vector<MeshCell> cells = quadDominate(points, {tri(0, 1, 2), tri(0, 2, 3), tri(1, 4, 2)}, 0.4);
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_EQ(cells[0].v, (Cell{0, 2, 3, -1}));
    EXPECT_TRUE(cells[1].isQuad);
    EXPECT_EQ(cells[1].v, (Cell{0, 1, 4, 2}));
}

// ---------------------------------------------------------------------------------------
// meshQuadDominantArea

std::vector<Point3> square3(double side) { return {{0, 0, 0}, {side, 0, 0}, {side, side, 0}, {0, side, 0}}; }

TEST(MeshQuadDominantArea, UnitSquareIsOneQuadStartingAtTheFirstTrianglesOppositeVertex) {
    const RefineOptions options;
    AreaProps props;
    props.firstNodeId = 11;
    props.firstAreaId = 5;
    props.thickness = 0.5;
    props.matId = 3;
    props.secId = 4;
    const AreaMesh quality = meshQualityArea(square3(1), {}, {}, options, props);
    ASSERT_TRUE(quality.ok);
    ASSERT_EQ(quality.model.areas.size(), 2u);
    const AreaMesh mesh = meshQuadDominantArea(square3(1), {}, {}, options, 0.4, props);
    ASSERT_TRUE(mesh.ok);
    ASSERT_EQ(mesh.model.nodes.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(mesh.model.nodes[i].id, int32_t(11 + i));
        EXPECT_EQ(mesh.model.nodes[i].x, square3(1)[i].x);
        EXPECT_EQ(mesh.model.nodes[i].y, square3(1)[i].y);
    }
    ASSERT_EQ(mesh.model.areas.size(), 1u);
    const Area& quad = mesh.model.areas[0];
    EXPECT_EQ(quad.kind, "QUAD");
    EXPECT_EQ(quad.id, 5);
    // Expected from the refined triangles: the first triangle rotated to start at its
    // vertex off the shared edge, with the second triangle's free vertex inserted third.
    const std::vector<int32_t>& t0 = quality.model.areas[0].nodes;
    const std::vector<int32_t>& t1 = quality.model.areas[1].nodes;
    const std::set<int32_t> second(t1.begin(), t1.end());
    size_t k = 0;
    while (k < 3 && second.count(t0[k])) ++k;
    ASSERT_LT(k, 3u);
    int32_t o1 = 0;
    for (int32_t id : t1) {
        if (std::find(t0.begin(), t0.end(), id) == t0.end()) o1 = id;
    }
    EXPECT_EQ(quad.nodes, (std::vector<int32_t>{t0[k], t0[(k + 1) % 3], o1, t0[(k + 2) % 3]}));
    EXPECT_EQ(quad.behavior, "membrane");
    EXPECT_EQ(quad.thickness, 0.5);
    EXPECT_EQ(quad.matId, 3);
    EXPECT_EQ(quad.secId, 4);
}

TEST(MeshQuadDominantArea, QualityAboveOneGivesTheRefinedTrianglesAsCst) {
    const std::vector<Point3> boundary = {{0, 0, 0}, {3, 0, 0}, {3, 1, 0}, {1.5, 2.5, 0}, {0, 1, 0}};
    RefineOptions options;
    options.maxArea = 0.2;
    const AreaMesh quality = meshQualityArea(boundary, {}, {}, options, AreaProps{});
    const AreaMesh mesh = meshQuadDominantArea(boundary, {}, {}, options, 1.5, AreaProps{});
    ASSERT_TRUE(quality.ok);
    ASSERT_TRUE(mesh.ok);
    ASSERT_EQ(mesh.model.areas.size(), quality.model.areas.size());
    std::multiset<std::vector<int32_t>> expected, got;
    for (const Area& a : quality.model.areas) expected.insert(a.nodes);
    for (size_t i = 0; i < mesh.model.areas.size(); ++i) {
        EXPECT_EQ(mesh.model.areas[i].kind, "CST");
        EXPECT_EQ(mesh.model.areas[i].id, int32_t(i + 1));
        got.insert(mesh.model.areas[i].nodes);
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(mesh.model.nodes.size(), quality.model.nodes.size());
}

double polygonArea(const std::vector<Point2>& p) {
    double twice = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const Point2& a = p[i];
        const Point2& b = p[(i + 1) % p.size()];
        twice += a.x * b.y - b.x * a.y;
    }
    return twice / 2;
}

TEST(MeshQuadDominantArea, PlateWithHoleIsCoveredByConvexQuadsAndTriangles) {
    // A tilted plate: the plane x + z = 0 walked counter-clockwise about (1, 0, 1)/sqrt(2).
    auto at = [](double s, double t) { return Point3{-s, t, s}; };
    const std::vector<Point3> boundary = {at(0, 0), at(0, 3), at(4, 3), at(4, 0)};
    const std::vector<std::vector<Point3>> holes = {{at(1.5, 1), at(2.5, 1), at(2.5, 2), at(1.5, 2)}};
    RefineOptions options;
    SizingField sizing{0.4, {}};
    options.sizing = &sizing;
    const AreaMesh mesh = meshQuadDominantArea(boundary, holes, {}, options, 0.4, AreaProps{});
    ASSERT_TRUE(mesh.ok);
    EXPECT_GT(std::fabs(mesh.frame.normal.x), 0.7);

    size_t quads = 0;
    bool seenQuad = false;
    double total = 0;
    for (const Area& a : mesh.model.areas) {
        std::vector<Point2> corners;
        for (int32_t id : a.nodes) {
            const Node& n = mesh.model.nodes[id - 1];
            corners.push_back(projectToFrame(mesh.frame, Point3{n.x, n.y, n.z}));
        }
        const double area = polygonArea(corners);
        EXPECT_GT(area, 0);
        total += area;
        if (a.kind == "QUAD") {
            seenQuad = true;
            ++quads;
            ASSERT_EQ(corners.size(), 4u);
            for (size_t i = 0; i < 4; ++i) {
                const Point2& p = corners[i];
                const Point2& q = corners[(i + 1) % 4];
                const Point2& r = corners[(i + 2) % 4];
                EXPECT_GT((q.x - p.x) * (r.y - q.y) - (q.y - p.y) * (r.x - q.x), 0);
            }
            EXPECT_GE(quadQuality(corners[0], corners[1], corners[2], corners[3]), 0.4);
        } else {
            EXPECT_EQ(a.kind, "CST");
            EXPECT_FALSE(seenQuad) << "a triangle after a quad";
        }
    }
    EXPECT_GT(quads, mesh.model.areas.size() / 2);
    // The map stretches s by sqrt(2): the plate's 11 units become 11 sqrt(2).
    EXPECT_NEAR(total, 11.0 * std::sqrt(2.0), 1e-9);
}

TEST(MeshQuadDominantArea, FailuresCarryTheRefinerMessageOrNone) {
    const std::vector<Point3> sharp = {{0, 0, 0}, {10, 0, 0}, {0, 1, 0}};
    const AreaMesh corner = meshQuadDominantArea(sharp, {}, {}, RefineOptions{}, 0.4, AreaProps{});
    EXPECT_FALSE(corner.ok);
    EXPECT_EQ(corner.message.rfind("input corner angle 5.71 deg at boundary vertex 1", 0), 0u) << corner.message;
    EXPECT_TRUE(corner.model.areas.empty());

    const AreaMesh collinear =
        meshQuadDominantArea({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}, {}, {}, RefineOptions{}, 0.4, AreaProps{});
    EXPECT_FALSE(collinear.ok);
    EXPECT_TRUE(collinear.message.empty());

    RefineOptions tight;
    tight.maxArea = 0.001;
    tight.maxSteinerPoints = 3;
    const AreaMesh budget = meshQuadDominantArea(square3(1), {}, {}, tight, 0.4, AreaProps{});
    EXPECT_FALSE(budget.ok);
    EXPECT_TRUE(budget.message.empty());
}

}  // namespace

// A hole that pokes through the boundary: both refining meshers fail at once (no
// message) instead of chasing the crossing point through a large budget, but a sharp
// input corner is still reported first, as the refiner's own check would.
TEST(MeshQuadDominantArea, CrossingLoopsFailAtOnceAfterTheCornerCheck) {
    const std::vector<Point3> plate = {{4, 0, 0}, {8, 0, 0}, {4, 3, 0}, {0, 3, 0}};
    const std::vector<std::vector<Point3>> poking = {{{2.5, 1, 0}, {1.5, 2, 0}, {2.5, 2, 0}}};
    RefineOptions options;
    options.maxSteinerPoints = 2000000000;
    const AreaMesh quad = meshQuadDominantArea(plate, poking, {}, options, 0.4, AreaProps{});
    EXPECT_FALSE(quad.ok);
    EXPECT_EQ(quad.message, "");
    const AreaMesh tri = meshQualityArea(plate, poking, {}, options, AreaProps{});
    EXPECT_FALSE(tri.ok);
    EXPECT_EQ(tri.message, "");

    const std::vector<Point3> sliver = {{0, 0, 0}, {10, 0, 0}, {10, 1, 0}};
    const std::vector<std::vector<Point3>> through = {{{8, 0.5, 0}, {9, -1, 0}, {9.5, 0.5, 0}}};
    const std::string corner =
        "input corner angle 5.71 deg at boundary vertex 0 is below min_angle_deg 20.00; Ruppert cannot refine "
        "an angle fixed by the input geometry (reduce min_angle_deg or fix the corner)";
    EXPECT_EQ(meshQuadDominantArea(sliver, through, {}, options, 0.4, AreaProps{}).message, corner);
    EXPECT_EQ(meshQualityArea(sliver, through, {}, options, AreaProps{}).message, corner);
}
