// Delaunay and conforming triangulation: orientation and emptiness of circumcircles by the
// exact predicates, the documented insertion-order outcomes, and the bounded failures of
// conforming runs that can never converge.

#include "mesh2d/triangulation.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <utility>

#include "geom/predicates.hpp"

namespace {

using Edge = std::pair<int64_t, int64_t>;

std::set<Edge> undirectedEdges(const std::vector<Triangle>& triangles) {
    std::set<Edge> edges;
    for (const Triangle& t : triangles) {
        for (int e = 0; e < 3; ++e) {
            const int64_t p = t.v[e], q = t.v[(e + 1) % 3];
            edges.insert({std::min(p, q), std::max(p, q)});
        }
    }
    return edges;
}

bool usesPoint(const std::vector<Triangle>& triangles, int64_t index) {
    for (const Triangle& t : triangles) {
        if (t.v[0] == index || t.v[1] == index || t.v[2] == index) return true;
    }
    return false;
}

/// Every triangle counter-clockwise and no input point strictly inside any circumcircle.
void expectDelaunay(const std::vector<Point2>& points, const std::vector<Triangle>& triangles) {
    for (const Triangle& t : triangles) {
        const Point2& a = points[t.v[0]];
        const Point2& b = points[t.v[1]];
        const Point2& c = points[t.v[2]];
        EXPECT_GT(orient2d(a, b, c), 0.0);
        for (const Point2& p : points) EXPECT_LE(incircle(a, b, c, p), 0.0);
    }
}

double signedArea(const std::vector<Point2>& points, const Triangle& t) {
    const Point2& a = points[t.v[0]];
    const Point2& b = points[t.v[1]];
    const Point2& c = points[t.v[2]];
    return 0.5 * ((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x));
}

TEST(DelaunayTriangulate, FewerThanThreePointsGiveNothing) {
    EXPECT_TRUE(delaunayTriangulate({}).empty());
    EXPECT_TRUE(delaunayTriangulate({{0, 0}, {1, 0}}).empty());
}

TEST(DelaunayTriangulate, ThreePointsGiveOneCounterClockwiseTriangleInEitherOrder) {
    const std::vector<Point2> ccw = {{0, 0}, {1, 0}, {0, 1}};
    const std::vector<Point2> cw = {{0, 0}, {0, 1}, {1, 0}};
    for (const auto& points : {ccw, cw}) {
        const std::vector<Triangle> t = delaunayTriangulate(points);
        ASSERT_EQ(t.size(), 1u);
        EXPECT_GT(orient2d(points[t[0].v[0]], points[t[0].v[1]], points[t[0].v[2]]), 0.0);
    }
}

TEST(DelaunayTriangulate, SquareCornersGiveTheDiagonalThroughTheFirstPoint) {
    // Cocircular: every later corner lies on, not inside, the circle of the first
    // triangles, so the insertion order decides the diagonal (worked through by hand:
    // the fourth corner ends up joined to the first and the third).
    const std::vector<Point2> square = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const std::vector<Triangle> t = delaunayTriangulate(square);
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].v, (std::array<int64_t, 3>{0, 1, 2}));
    EXPECT_EQ(t[1].v, (std::array<int64_t, 3>{0, 2, 3}));
}

TEST(DelaunayTriangulate, DuplicatePointBelongsToNoTriangle) {
    const std::vector<Point2> points = {{0, 0}, {2, 0}, {1, 2}, {1, 0.5}, {2, 0}};
    const std::vector<Triangle> with = delaunayTriangulate(points);
    const std::vector<Triangle> without = delaunayTriangulate({points.begin(), points.end() - 1});
    EXPECT_FALSE(usesPoint(with, 4));
    ASSERT_EQ(with.size(), without.size());
    for (size_t i = 0; i < with.size(); ++i) EXPECT_EQ(with[i].v, without[i].v);
}

TEST(DelaunayTriangulate, FlatTriangleIsLostToTheSuperVertices) {
    // The circumcircle of three nearly collinear points reaches past a super vertex.
    EXPECT_TRUE(delaunayTriangulate({{0, 0}, {1, 0}, {0.5, 1e-4}}).empty());
    EXPECT_EQ(delaunayTriangulate({{0, 0}, {1, 0}, {0.5, 0.3}}).size(), 1u);
}

TEST(DelaunayTriangulate, GridAndScatteredPointsAreDelaunayAndCoverTheHull) {
    std::vector<Point2> points;
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 5; ++j) points.push_back({i * 0.5, j * 0.5});
    }
    // A deterministic scatter inside the grid.
    uint32_t s = 12345;
    for (int k = 0; k < 40; ++k) {
        s = s * 1103515245u + 12345u;
        const double x = (s >> 8) % 10000 / 10000.0 * 2.5;
        s = s * 1103515245u + 12345u;
        const double y = (s >> 8) % 10000 / 10000.0 * 2.0;
        points.push_back({x, y});
    }
    const std::vector<Triangle> t = delaunayTriangulate(points);
    expectDelaunay(points, t);
    double area = 0;
    for (const Triangle& tri : t) area += signedArea(points, tri);
    EXPECT_NEAR(area, 2.5 * 2.0, 1e-12);
    for (int64_t i = 0; i < static_cast<int64_t>(points.size()); ++i) EXPECT_TRUE(usesPoint(t, i)) << i;
}

TEST(AddLoop, AppendsPointsAndClosingSegmentsAfterExistingPoints) {
    std::vector<Point2> points = {{9, 9}};
    std::vector<Segment> segments;
    addLoop({{0, 0}, {1, 0}, {0, 1}}, points, segments);
    ASSERT_EQ(points.size(), 4u);
    ASSERT_EQ(segments.size(), 3u);
    EXPECT_EQ(segments[0].v, (std::array<int64_t, 2>{1, 2}));
    EXPECT_EQ(segments[2].v, (std::array<int64_t, 2>{3, 1}));
    addLoop({{5, 5}, {6, 6}}, points, segments);
    EXPECT_EQ(points.size(), 4u);
    EXPECT_EQ(segments.size(), 3u);
}

TEST(PointInPolygon, EvenOddRule) {
    const std::vector<Point2> l = {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}};
    EXPECT_TRUE(pointInPolygon({0.5, 0.5}, l));
    EXPECT_TRUE(pointInPolygon({0.5, 1.5}, l));
    EXPECT_FALSE(pointInPolygon({1.5, 1.5}, l));
    EXPECT_FALSE(pointInPolygon({3, 0.5}, l));
    EXPECT_FALSE(pointInPolygon({0.5, 0.5}, {}));
    // A self-overlapping loop: the doubly covered part counts as outside.
    const std::vector<Point2> twice = {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}, {2, 0}, {2, 2}, {0, 2}};
    EXPECT_FALSE(pointInPolygon({1, 1}, twice));
}

TEST(TriangleInDomain, TestsTheCentroidAgainstOuterAndHoles) {
    PlanarDomain d;
    d.outer = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    d.holes = {{{1, 1}, {3, 1}, {3, 3}, {1, 3}}};
    EXPECT_TRUE(triangleInDomain({0, 0}, {1, 0}, {0, 1}, d));
    EXPECT_FALSE(triangleInDomain({1, 1}, {3, 1}, {2, 3}, d));   // centroid in the hole
    EXPECT_FALSE(triangleInDomain({4, 0}, {6, 0}, {5, 1}, d));   // outside
    // A two-point hole crosses the ray twice (its edge both ways), so it clips nothing
    // away from its own line.
    d.holes.push_back({{0, 0}, {4, 2}});
    EXPECT_TRUE(triangleInDomain({0, 0}, {1, 0}, {0, 1}, d));
}

TEST(ConformingTriangulate, SquareConvergesInTheFirstPass) {
    PlanarDomain d;
    d.outer = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const ConformingMesh m = conformingTriangulate(d, 64);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.points.size(), 4u);
    EXPECT_EQ(m.triangles.size(), 2u);
    EXPECT_FALSE(conformingTriangulate(d, 0).ok);
    d.outer.pop_back();
    d.outer.pop_back();
    EXPECT_FALSE(conformingTriangulate(d, 64).ok);
}

TEST(ConformingTriangulate, MissingSegmentsAreSplitUntilEveryPieceIsAnEdge) {
    // A narrow notch: the tip lies inside the circles on the long bottom-side segments.
    PlanarDomain d;
    d.outer = {{0, 0}, {4, 0}, {4, 1}, {2.2, 1}, {2, 0.02}, {1.8, 1}, {0, 1}};
    d.interior = {{3.9, 0.01}, {-1, -1}};
    const ConformingMesh m = conformingTriangulate(d, 64);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.fallbacks, 0);
    ASSERT_GT(m.points.size(), 9u);  // some segment was split
    // Every created point is a midpoint lying on the boundary, and the outer loop is
    // covered by triangle edges piece by piece: the kept area equals the polygon's.
    double area = 0;
    for (const Triangle& t : m.triangles) {
        EXPECT_GT(signedArea(m.points, t), 0.0);
        area += signedArea(m.points, t);
    }
    const double polygonArea = 4.0 - 0.5 * 0.4 * 0.98;
    EXPECT_NEAR(area, polygonArea, 1e-12);
    // The interior point outside the region stays a point but is in no kept triangle.
    EXPECT_EQ(m.points[8].x, -1.0);
    EXPECT_FALSE(usesPoint(m.triangles, 8));
    EXPECT_TRUE(usesPoint(m.triangles, 7));
    // Conformity: along every side, the points lying on it follow each other as edges.
    const std::set<Edge> edges = undirectedEdges(m.triangles);
    for (size_t i = 0; i < d.outer.size(); ++i) {
        const Point2 a = d.outer[i], b = d.outer[(i + 1) % d.outer.size()];
        const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
        std::vector<std::pair<double, int64_t>> along;
        for (size_t k = 0; k < m.points.size(); ++k) {
            const double px = m.points[k].x - a.x, py = m.points[k].y - a.y;
            const double t = (px * dx + py * dy) / len2;
            if (std::abs(px * dy - py * dx) <= 1e-12 * len2 && t >= -1e-12 && t <= 1 + 1e-12) {
                along.push_back({t, static_cast<int64_t>(k)});
            }
        }
        std::sort(along.begin(), along.end());
        ASSERT_GE(along.size(), 2u);
        for (size_t k = 0; k + 1 < along.size(); ++k) {
            const int64_t p = along[k].second, q = along[k + 1].second;
            EXPECT_EQ(edges.count({std::min(p, q), std::max(p, q)}), 1u) << "side " << i;
        }
    }
}

TEST(ConformingTriangulate, HoleTrianglesAreRemovedAndShortHolesIgnored) {
    PlanarDomain d;
    d.outer = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    d.holes = {{{1, 1}, {1, 3}, {3, 3}, {3, 1}}, {{0.5, 0.5}, {3.5, 3.5}}};
    const ConformingMesh m = conformingTriangulate(d, 64);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.points.size(), 8u);  // the two-point hole adds nothing
    double area = 0;
    for (const Triangle& t : m.triangles) {
        area += signedArea(m.points, t);
        const Point2 g{(m.points[t.v[0]].x + m.points[t.v[1]].x + m.points[t.v[2]].x) / 3,
                       (m.points[t.v[0]].y + m.points[t.v[1]].y + m.points[t.v[2]].y) / 3};
        EXPECT_FALSE(g.x > 1 && g.x < 3 && g.y > 1 && g.y < 3);
    }
    EXPECT_DOUBLE_EQ(area, 12.0);
}

TEST(ConformingTriangulate, RepeatedLoopPointFailsAtOnce) {
    // The closing segment from the repeated point to the first has zero length and the
    // repeated point never enters a triangulation: without the early stop every pass
    // would double the pieces of that segment.
    PlanarDomain d;
    d.outer = {{0, 0}, {4, 0}, {4, 4}, {0, 4}, {0, 0}};
    const ConformingMesh m = conformingTriangulate(d, 64);
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.points.size(), 5u);  // no pass was run

    // A hole sharing a corner with the outer loop: its copy of the corner is dead too.
    PlanarDomain shared;
    shared.outer = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    shared.holes = {{{0, 0}, {1, 2}, {2, 1}}};
    EXPECT_FALSE(conformingTriangulate(shared, 64).ok);
}

TEST(ConformingTriangulate, SegmentThroughAPointFailsWithinBoundedGrowth) {
    // An interior point exactly on a side: the piece holding it is never a Delaunay edge.
    // Pieces shrink towards the point until a midpoint lands on it (or on an end point),
    // which is a repeated point that no triangle can use.
    PlanarDomain d;
    d.outer = {{0, 0}, {4, 0}, {4, 4}, {0, 4}};
    d.interior = {{4.0 / 3.0, 0}};
    const ConformingMesh m = conformingTriangulate(d, 64);
    EXPECT_FALSE(m.ok);
    EXPECT_LT(static_cast<int64_t>(m.points.size()), 5 + 2 * 64);
    d.interior = {{2, 0}};  // exactly the first midpoint
    EXPECT_FALSE(conformingTriangulate(d, 64).ok);
}

TEST(ConformingTriangulate, RunawaySplittingStopsAtThePointLimit) {
    // At this scale the in-circle products underflow to zero, no point is ever inserted,
    // every segment is missing in every pass and the pieces double pass after pass. The
    // coordinates lie outside the range the engine's reasoning covers: it inserts by
    // scanning, as the plain algorithm does, and counts that.
    PlanarDomain d;
    d.outer = {{0, 0}, {1e-100, 0}, {1e-100, 1e-100}, {0, 1e-100}};
    const ConformingMesh m = conformingTriangulate(d, 64);
    EXPECT_FALSE(m.ok);
    EXPECT_GT(m.fallbacks, 0);
    EXPECT_EQ(conformingPointLimit(4), 128 * 4 + 4096);
    EXPECT_GE(static_cast<int64_t>(m.points.size()), conformingPointLimit(4));
    EXPECT_LE(static_cast<int64_t>(m.points.size()), conformingPointLimit(4) + 1);
    // The limit never exceeds the planar point limit.
    EXPECT_EQ(conformingPointLimit(1000000), kMaxPlanarPoints);
}

}  // namespace
