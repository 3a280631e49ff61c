// Area meshers on real shapes: orientation seen from the frame normal, covered area,
// empty holes, exact input coordinates, numbering, minimum angle, and input checks.

#include "mesh2d/area_mesher.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "mesh2d/quality_refine.hpp"

namespace {

using Loop3 = std::vector<Point3>;

Point3 sub(const Point3& a, const Point3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Point3 cross(const Point3& a, const Point3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
double norm(const Point3& a) { return std::sqrt(dot(a, a)); }

Point3 nodeAt(const Model& m, int32_t id) {
    const Node& n = m.nodes.at(static_cast<size_t>(id - 1));
    EXPECT_EQ(n.id, id);
    return {n.x, n.y, n.z};
}

/// A fixed rotation about two axes and a shift: a plane in general position.
Point3 tilt(const Point3& p) {
    const double a = 0.3, b = 0.7;
    const double y1 = p.y * std::cos(a) - p.z * std::sin(a), z1 = p.y * std::sin(a) + p.z * std::cos(a);
    const double x2 = p.x * std::cos(b) + z1 * std::sin(b), z2 = -p.x * std::sin(b) + z1 * std::cos(b);
    return {x2 + 10, y1 - 3, z2 + 1.5};
}

Loop3 tilted(const Loop3& loop) {
    Loop3 out;
    for (const Point3& p : loop) out.push_back(tilt(p));
    return out;
}

struct Summary {
    double area = 0;
    double minAngleDeg = 180;
    double maxTriangleArea = 0;
};

/// Checks that every area is a "CST" triangle, counter-clockwise seen from the frame's
/// normal, with the props' fields, and sums what the properties tests need.
Summary inspect(const AreaMesh& mesh) {
    Summary s;
    for (size_t i = 0; i < mesh.model.areas.size(); ++i) {
        const Area& a = mesh.model.areas[i];
        EXPECT_EQ(a.id, static_cast<int32_t>(i + 1));
        EXPECT_EQ(a.kind, "CST");
        EXPECT_EQ(a.behavior, "membrane");
        EXPECT_EQ(a.matId, 0);
        EXPECT_EQ(a.secId, 0);
        EXPECT_EQ(a.thickness, 0.0);
        EXPECT_FALSE(a.drilling);
        if (a.nodes.size() != 3) {
            ADD_FAILURE() << "area " << a.id << " has " << a.nodes.size() << " nodes";
            continue;
        }
        const Point3 p[3] = {nodeAt(mesh.model, a.nodes[0]), nodeAt(mesh.model, a.nodes[1]),
                             nodeAt(mesh.model, a.nodes[2])};
        const Point3 n = cross(sub(p[1], p[0]), sub(p[2], p[0]));
        EXPECT_GT(dot(n, mesh.frame.normal), 0.0) << "area " << a.id;
        const double area = 0.5 * norm(n);
        s.area += area;
        s.maxTriangleArea = std::max(s.maxTriangleArea, area);
        for (int k = 0; k < 3; ++k) {
            const Point3 e1 = sub(p[(k + 1) % 3], p[k]), e2 = sub(p[(k + 2) % 3], p[k]);
            const double c = dot(e1, e2) / (norm(e1) * norm(e2));
            s.minAngleDeg = std::min(s.minAngleDeg, std::acos(std::max(-1.0, std::min(1.0, c))) * 180 / M_PI);
        }
    }
    return s;
}

/// The input points are the first nodes, bit for bit, in input order.
void expectInputNodes(const Model& model, const std::vector<Loop3>& lists) {
    size_t index = 0;
    for (const Loop3& list : lists) {
        for (const Point3& p : list) {
            ASSERT_LT(index, model.nodes.size());
            const Node& n = model.nodes[index++];
            const double have[3] = {n.x, n.y, n.z}, want[3] = {p.x, p.y, p.z};
            EXPECT_EQ(std::memcmp(have, want, sizeof have), 0) << "node " << n.id;
        }
    }
}

/// No area has its centroid inside the given (planar, axis-aligned before tilting) hole,
/// tested in the mesh's own plane frame.
void expectHoleEmpty(const AreaMesh& mesh, const Loop3& hole) {
    const std::vector<Point2> h = projectLoop(mesh.frame, hole);
    for (const Area& a : mesh.model.areas) {
        const Point3 p0 = nodeAt(mesh.model, a.nodes[0]), p1 = nodeAt(mesh.model, a.nodes[1]),
                     p2 = nodeAt(mesh.model, a.nodes[2]);
        const Point3 g{(p0.x + p1.x + p2.x) / 3, (p0.y + p1.y + p2.y) / 3, (p0.z + p1.z + p2.z) / 3};
        EXPECT_FALSE(pointInPolygon(projectToFrame(mesh.frame, g), h)) << "area " << a.id;
    }
}

const Loop3 kL = {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};
const Loop3 kPlate = {{0, 0, 0}, {6, 0, 0}, {6, 3, 0}, {0, 3, 0}};
const Loop3 kSquareHole = {{1, 1, 0}, {1, 2, 0}, {2, 2, 0}, {2, 1, 0}};
const Loop3 kTriangleHole = {{4, 1, 0}, {4.5, 2.2, 0}, {5, 1, 0}};
const double kPlateRegion = 18 - 1 - 0.6;

TEST(MeshPlanarArea, LShapeIsFilledToItsHullAndInteriorPointsFollowTheBoundary) {
    const Loop3 interior = {{0.5, 0.5, 0}, {1.5, 0.4, 0}};
    const AreaMesh m = meshPlanarArea(kL, interior, AreaProps{});
    ASSERT_TRUE(m.ok);
    EXPECT_NEAR(inspect(m).area, 3.5, 1e-14);
    expectInputNodes(m.model, {kL, interior});
    EXPECT_EQ(m.interiorNodeIds, (std::vector<uint32_t>{7, 8}));
    EXPECT_EQ(m.planeDeviation, 0.0);
}

TEST(MeshPlanarArea, TiltedCopyHasTheSameTopologyAndExactNodes) {
    // A quadrilateral with a unique Delaunay triangulation (no four points cocircular).
    const Loop3 quad = {{0, 0, 0}, {3, 0.2, 0}, {2.6, 2, 0}, {0.4, 1.7, 0}};
    const Loop3 interior = {{1.3, 0.9, 0}};
    const AreaMesh flat = meshPlanarArea(quad, interior, AreaProps{});
    const AreaMesh tiltedMesh = meshPlanarArea(tilted(quad), tilted(interior), AreaProps{});
    ASSERT_TRUE(flat.ok);
    ASSERT_TRUE(tiltedMesh.ok);
    ASSERT_EQ(flat.model.areas.size(), tiltedMesh.model.areas.size());
    for (size_t i = 0; i < flat.model.areas.size(); ++i) {
        EXPECT_EQ(flat.model.areas[i].nodes, tiltedMesh.model.areas[i].nodes);
    }
    expectInputNodes(tiltedMesh.model, {tilted(quad), tilted(interior)});
    EXPECT_NEAR(inspect(tiltedMesh).area, inspect(flat).area, 1e-12);
}

TEST(MeshPlanarArea, DegenerateBoundariesFail) {
    EXPECT_FALSE(meshPlanarArea({{0, 0, 0}, {1, 0, 0}}, {}, AreaProps{}).ok);
    EXPECT_FALSE(meshPlanarArea({{0, 0, 0}, {1, 1, 0}, {2, 2, 0}}, {}, AreaProps{}).ok);
    EXPECT_FALSE(meshPlanarArea({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0.2, 0.2, NAN}}, AreaProps{}).ok);
}

TEST(MeshPolygonArea, LShapeIsNotFilledToItsHull) {
    const AreaMesh m = meshPolygonArea(kL, {}, {}, AreaProps{});
    ASSERT_TRUE(m.ok);
    EXPECT_NEAR(inspect(m).area, 3.0, 1e-14);
    expectInputNodes(m.model, {kL});
}

TEST(MeshPolygonArea, SquareWithSquareHoleNumbersHoleCornersAfterTheBoundary) {
    const Loop3 square = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
    const Loop3 hole = {{1, 1, 0}, {3, 1, 0}, {3, 3, 0}, {1, 3, 0}};
    const Loop3 interior = {{0.5, 3.5, 0}};
    const AreaMesh m = meshPolygonArea(square, {hole}, interior, AreaProps{});
    ASSERT_TRUE(m.ok);
    expectInputNodes(m.model, {square, hole, interior});
    EXPECT_EQ(m.interiorNodeIds, (std::vector<uint32_t>{9}));
    EXPECT_NEAR(inspect(m).area, 12.0, 1e-14);
    expectHoleEmpty(m, hole);
}

TEST(MeshPolygonArea, TiltedPlateWithTwoHoles) {
    const Loop3 plate = tilted(kPlate), h1 = tilted(kSquareHole), h2 = tilted(kTriangleHole);
    const AreaMesh m = meshPolygonArea(plate, {h1, h2}, {}, AreaProps{});
    ASSERT_TRUE(m.ok);
    expectInputNodes(m.model, {plate, h1, h2});
    EXPECT_NEAR(inspect(m).area, kPlateRegion, 1e-12);
    expectHoleEmpty(m, h1);
    expectHoleEmpty(m, h2);
    EXPECT_LT(m.planeDeviation, 1e-14);
}

TEST(MeshPolygonArea, SplitPointsLieOnTheBoundaryInThePlane) {
    // The notch tip lies close to the bottom side, which must be split to conform.
    const Loop3 notch = tilted({{0, 0, 0}, {4, 0, 0}, {4, 1, 0}, {2.2, 1, 0}, {2, 0.02, 0}, {1.8, 1, 0}, {0, 1, 0}});
    const AreaMesh m = meshPolygonArea(notch, {}, {tilt({3.9, 0.01, 0})}, AreaProps{});
    ASSERT_TRUE(m.ok);
    ASSERT_GT(m.model.nodes.size(), 8u);
    EXPECT_NEAR(inspect(m).area, 4 - 0.196, 1e-12);
    for (size_t i = 8; i < m.model.nodes.size(); ++i) {
        const Point3 p{m.model.nodes[i].x, m.model.nodes[i].y, m.model.nodes[i].z};
        EXPECT_LT(std::fabs(dot(sub(p, m.frame.origin), m.frame.normal)), 1e-13);
        double nearest = INFINITY;  // distance to the closest boundary side
        for (size_t k = 0; k < notch.size(); ++k) {
            const Point3 a = notch[k], b = notch[(k + 1) % notch.size()];
            const Point3 ab = sub(b, a), ap = sub(p, a);
            const double t = std::max(0.0, std::min(1.0, dot(ap, ab) / dot(ab, ab)));
            nearest = std::min(nearest, norm(sub(ap, {ab.x * t, ab.y * t, ab.z * t})));
        }
        EXPECT_LT(nearest, 1e-13) << "node " << i + 1;
    }
}

TEST(MeshPolygonArea, NonPlanarPointsKeepTheirCoordinatesAndSetTheDeviation) {
    const Loop3 square = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
    const Loop3 interior = {{1, 1, 0.25}};
    const AreaMesh m = meshPolygonArea(square, {}, interior, AreaProps{});
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.planeDeviation, 0.25);
    expectInputNodes(m.model, {square, interior});
}

TEST(MeshPolygonArea, ShortHolesAreRejectedWithTheirIndex) {
    const Loop3 square = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
    const Loop3 hole = {{1, 1, 0}, {2, 1, 0}, {1, 2, 0}};
    AreaMesh m = meshPolygonArea(square, {hole, {{3, 3, 0}, {3.5, 3, 0}}}, {}, AreaProps{});
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.message, "hole 1 has 2 points; a hole loop needs at least 3");
    EXPECT_TRUE(m.model.nodes.empty());
    m = meshPolygonArea(square, {{}}, {}, AreaProps{});
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.message, "hole 0 has 0 points; a hole loop needs at least 3");
}

TEST(MeshPolygonArea, LoopsThatNeverConvergeFailQuickly) {
    const Loop3 square = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
    Loop3 repeated = square;
    repeated.push_back(square[0]);
    const std::vector<Loop3> noHoles;
    for (const AreaMesh& m : {meshPolygonArea(repeated, noHoles, {}, AreaProps{}),
                              meshPolygonArea(square, {{{0, 0, 0}, {1, 2, 0}, {2, 1, 0}}}, {}, AreaProps{}),
                              meshPolygonArea(square, {{{1, 1, 0}, {5, 1, 0}, {3, 3, 0}}}, {}, AreaProps{}),
                              meshPolygonArea(square, {}, {{4.0 / 3.0, 0, 0}}, AreaProps{})}) {
        EXPECT_FALSE(m.ok);
        EXPECT_TRUE(m.message.empty());
    }
}

TEST(MeshPolygonArea, CoordinatesOutsideThePredicatesRangeFail) {
    const Loop3 square = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    auto scaled = [&](double s) {
        Loop3 out;
        for (const Point3& p : square) out.push_back({p.x * s, p.y * s, p.z * s});
        return out;
    };
    EXPECT_TRUE(meshPolygonArea(scaled(1e40), {}, {}, AreaProps{}).ok);
    EXPECT_TRUE(meshPolygonArea(scaled(1e-40), {}, {}, AreaProps{}).ok);
    EXPECT_FALSE(meshPolygonArea(scaled(1e60), {}, {}, AreaProps{}).ok);
    EXPECT_FALSE(meshPolygonArea(scaled(1e-60), {}, {}, AreaProps{}).ok);
    EXPECT_FALSE(meshPolygonArea(square, {}, {{0.5, 0.5, INFINITY}}, AreaProps{}).ok);
}

TEST(DomainLoopsCross, OnlyProperCrossingsCount) {
    PlanarDomain d;
    d.outer = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    EXPECT_FALSE(domainLoopsCross(d));
    d.holes = {{{1, 1}, {3, 1}, {2, 3}}};
    EXPECT_FALSE(domainLoopsCross(d));
    d.holes = {{{0, 0}, {1, 2}, {2, 1}}};  // shares a corner with the outer loop
    EXPECT_FALSE(domainLoopsCross(d));
    d.holes = {{{2, 0}, {3, 1}, {1, 1}}};  // touches the bottom side
    EXPECT_FALSE(domainLoopsCross(d));
    d.holes = {{{1, 1}, {5, 1}, {3, 3}}};  // pokes through the right side
    EXPECT_TRUE(domainLoopsCross(d));
    d.holes = {{{1, 1}, {3, 1}, {3, 3}, {1, 3}}, {{2, 0.5}, {3.5, 2}, {2, 3.5}, {0.5, 2}}};
    EXPECT_TRUE(domainLoopsCross(d));
    PlanarDomain bowtie;
    bowtie.outer = {{0, 0}, {4, 0}, {0, 3}, {4, 3.3}};
    EXPECT_TRUE(domainLoopsCross(bowtie));
}

TEST(MeshQualityArea, TiltedPlateWithTwoHolesReachesTheBounds) {
    const Loop3 plate = tilted(kPlate), h1 = tilted(kSquareHole), h2 = tilted(kTriangleHole);
    RefineOptions options;
    options.minAngleDeg = 28;
    options.maxArea = 0.3;
    const AreaMesh m = meshQualityArea(plate, {h1, h2}, {}, options, AreaProps{});
    ASSERT_TRUE(m.ok) << m.message;
    expectInputNodes(m.model, {plate, h1, h2});
    const Summary s = inspect(m);
    EXPECT_NEAR(s.area, kPlateRegion, 1e-12);
    EXPECT_GE(s.minAngleDeg, 28 - 1e-6);
    EXPECT_LE(s.maxTriangleArea, 0.3 + 1e-12);
    expectHoleEmpty(m, h1);
    expectHoleEmpty(m, h2);
    for (const Node& n : m.model.nodes) {
        EXPECT_LT(std::fabs(dot(sub({n.x, n.y, n.z}, m.frame.origin), m.frame.normal)), 1e-13);
    }
}

TEST(MeshQualityArea, LShapeWithInteriorPointAndSizeField) {
    RefineOptions options;
    SizingField field{0.4, {}};
    options.sizing = &field;
    const Loop3 interior = {{0.5, 1.5, 0}};
    const AreaMesh m = meshQualityArea(kL, {}, interior, options, AreaProps{});
    ASSERT_TRUE(m.ok) << m.message;
    expectInputNodes(m.model, {kL, interior});
    EXPECT_EQ(m.interiorNodeIds, (std::vector<uint32_t>{7}));
    const Summary s = inspect(m);
    EXPECT_NEAR(s.area, 3.0, 1e-14);
    EXPECT_GE(s.minAngleDeg, 20 - 1e-6);
    // Every edge is at most the target size (the bound applies to the longest edge).
    for (const Area& a : m.model.areas) {
        for (int k = 0; k < 3; ++k) {
            EXPECT_LE(norm(sub(nodeAt(m.model, a.nodes[k]), nodeAt(m.model, a.nodes[(k + 1) % 3]))), 0.4 + 1e-12);
        }
    }
}

TEST(MeshQualityArea, PropsNumberNodesAndAreas) {
    AreaProps props;
    props.firstNodeId = 101;
    props.firstAreaId = 7;
    props.thickness = 0.25;
    props.matId = 3;
    props.secId = 4;
    props.drilling = true;
    const AreaMesh m = meshQualityArea({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {}, {{0.5, 0.5, 0}},
                                       RefineOptions{}, props);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.model.nodes.front().id, 101);
    EXPECT_EQ(m.interiorNodeIds, (std::vector<uint32_t>{105}));
    ASSERT_FALSE(m.model.areas.empty());
    const Area& a = m.model.areas.front();
    EXPECT_EQ(a.id, 7);
    EXPECT_EQ(a.thickness, 0.25);
    EXPECT_EQ(a.matId, 3);
    EXPECT_EQ(a.secId, 4);
    EXPECT_TRUE(a.drilling);
    for (int32_t id : a.nodes) EXPECT_GE(id, 101);
}

}  // namespace
