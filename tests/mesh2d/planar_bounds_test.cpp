// The coordinate range of the planar meshers met at its value: planar coordinates up to
// 1e50 in magnitude are meshed, anything beyond is refused before triangulating.

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "mesh2d/area_mesher.hpp"
#include "mesh2d/quality_refine.hpp"

namespace {

/// A square of half side h about the origin in the xy plane, counter-clockwise.
std::vector<Point3> square(double h) { return {{-h, -h, 0}, {h, -h, 0}, {h, h, 0}, {-h, h, 0}}; }

double largestPlanar(const PlanarInput& input) {
    double largest = 0.0;
    auto scan = [&largest](const std::vector<Point2>& loop) {
        for (const Point2& p : loop) largest = std::fmax(largest, std::fmax(std::fabs(p.x), std::fabs(p.y)));
    };
    scan(input.domain.outer);
    for (const std::vector<Point2>& hole : input.domain.holes) scan(hole);
    scan(input.domain.interior);
    return largest;
}

AreaProps props() {
    AreaProps p;
    p.firstNodeId = 1;
    p.firstAreaId = 1;
    return p;
}

TEST(PlanarBounds, CoordinatesUpToTheBoundAreTakenAndBeyondRefused) {
    static_assert(kMaxPlanarCoordinate == 1e50, "the README's Limits table gives 1e50");
    const double past = std::nextafter(kMaxPlanarCoordinate, INFINITY);
    // The centroid is the origin and the axes are unit axes, so the corners project to
    // exactly +-h.
    const PlanarInput atBound = preparePlanarInput(square(kMaxPlanarCoordinate), {}, {});
    ASSERT_TRUE(atBound.ok);
    EXPECT_EQ(largestPlanar(atBound), kMaxPlanarCoordinate);
    EXPECT_FALSE(preparePlanarInput(square(past), {}, {}).ok);

    // Holes and interior points count as well as the boundary.
    const std::vector<Point3> inner = square(0.5 * kMaxPlanarCoordinate);
    EXPECT_TRUE(preparePlanarInput(square(0.5 * kMaxPlanarCoordinate), {inner}, {{0, kMaxPlanarCoordinate, 0}}).ok);
    EXPECT_FALSE(preparePlanarInput(square(0.5 * kMaxPlanarCoordinate), {inner}, {{0, past, 0}}).ok);
    EXPECT_FALSE(preparePlanarInput(square(0.5 * kMaxPlanarCoordinate), {{{-past, 0, 0}, {0, -1, 0}, {0, 1, 0}}},
                                    {})
                     .ok);
    // The range is about the boundary's centroid: a square far out is taken by its size.
    std::vector<Point3> far = square(1e49);
    for (Point3& p : far) p = Point3{p.x + 1e60, p.y - 1e60, 1e60};
    EXPECT_TRUE(preparePlanarInput(far, {}, {}).ok);
}

TEST(PlanarBounds, MeshersWorkAtTheBoundAndFailCleanlyPastIt) {
    const double h = kMaxPlanarCoordinate;
    const double past = std::nextafter(h, INFINITY);
    // The exact predicates still decide at the bound: the Delaunay mesh of the square and
    // its centre is four triangles, and the corners keep their coordinates.
    const AreaMesh planar = meshPlanarArea(square(h), {{0, 0, 0}}, props());
    ASSERT_TRUE(planar.ok);
    EXPECT_EQ(planar.model.areas.size(), 4u);
    EXPECT_EQ(planar.model.nodes[2].x, h);
    EXPECT_EQ(planar.model.nodes[2].y, h);
    EXPECT_FALSE(meshPlanarArea(square(past), {{0, 0, 0}}, props()).ok);

    const AreaMesh polygon = meshPolygonArea(square(h), {square(0.25 * h)}, {}, props());
    ASSERT_TRUE(polygon.ok);
    EXPECT_EQ(polygon.model.areas.size(), 8u);
    const AreaMesh refused = meshPolygonArea(square(past), {square(0.25 * h)}, {}, props());
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.model.nodes.empty());

    RefineOptions options;
    options.minAngleDeg = 20.0;
    options.maxSteinerPoints = 1000;
    options.maxArea = 0.0;
    options.sizing = nullptr;
    const AreaMesh quality = meshQualityArea(square(h), {}, {}, options, props());
    ASSERT_TRUE(quality.ok) << quality.message;
    EXPECT_GE(quality.model.areas.size(), 2u);
    for (const Node& n : quality.model.nodes) {
        EXPECT_LE(std::fabs(n.x), h);
        EXPECT_LE(std::fabs(n.y), h);
    }
    EXPECT_FALSE(meshQualityArea(square(past), {}, {}, options, props()).ok);
}

TEST(PlanarBounds, BoundaryExtentBelowTheSmallestIsRefused) {
    static_assert(kMinPlanarExtent == 1e-50, "the products of the predicates underflow below this");
    EXPECT_TRUE(preparePlanarInput(square(kMinPlanarExtent), {}, {}).ok);
    EXPECT_FALSE(preparePlanarInput(square(std::nextafter(kMinPlanarExtent, 0.0)), {}, {}).ok);
}

}  // namespace

namespace {

/// A comb: a zigzag of `teeth` points between x = 0 and x = 1 going up, closed by a long
/// edge at x = 2. Every zigzag segment overlaps every other in x.
PlanarDomain comb(int teeth) {
    PlanarDomain d;
    for (int i = 0; i < teeth; ++i) d.outer.push_back(Point2{(i % 2) ? 1.0 : 0.0, static_cast<double>(i)});
    d.outer.push_back(Point2{2.0, static_cast<double>(teeth)});
    d.outer.push_back(Point2{2.0, -1.0});
    return d;
}

/// A bowtie loop to the right of the comb: its two diagonals cross, and they are compared last.
std::vector<Point2> bowtie() { return {{5, 0}, {6, 1}, {6, 0}, {5, 1}}; }

TEST(PlanarBounds, CrossingSearchStopsAfterItsPairBudget) {
    static_assert(kMaxLoopCrossingPairs == 16777216, "the README's Limits table gives 2^24");
    // 2,000 teeth take about 2 million comparisons: the bowtie is found.
    PlanarDomain small = comb(2000);
    EXPECT_FALSE(domainLoopsCross(small));
    small.holes.push_back(bowtie());
    EXPECT_TRUE(domainLoopsCross(small));

    // 100,000 teeth would take 5 * 10^9 comparisons: the search gives up at the budget
    // instead of running for a minute, and finds nothing.
    PlanarDomain large = comb(100000);
    large.holes.push_back(bowtie());
    EXPECT_FALSE(domainLoopsCross(large));
}

TEST(PlanarBounds, CrossingLoopsBeyondTheSearchStillFailInTheConformingPasses) {
    // The same large comb with the bowtie as a hole, in space: the conforming passes cannot
    // make both diagonals edges and end without a mesh, as the early check would have.
    std::vector<Point3> boundary;
    for (const Point2& p : comb(10000).outer) boundary.push_back(Point3{p.x, p.y, 0});
    std::vector<Point3> hole;
    for (const Point2& p : bowtie()) hole.push_back(Point3{p.x, p.y, 0});
    const AreaMesh crossing = meshPolygonArea(boundary, {hole}, {}, props());
    EXPECT_FALSE(crossing.ok);
    EXPECT_TRUE(crossing.model.nodes.empty());
    const AreaMesh plain = meshPolygonArea(boundary, {}, {}, props());
    EXPECT_TRUE(plain.ok);
}

}  // namespace
