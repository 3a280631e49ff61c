// The banded domain test against the crossing test of every loop: points on vertices, on
// edges, on the horizontal lines through vertices, and scattered, for loops of many edges,
// loops with long and horizontal edges, short loops and many holes.

#include "mesh2d/domain_index.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr double kPi = 3.141592653589793;

bool inDomainByScan(const PlanarDomain& d, const Point2& p) {
    if (!pointInPolygon(p, d.outer)) return false;
    for (const std::vector<Point2>& hole : d.holes) {
        if (pointInPolygon(p, hole)) return false;
    }
    return true;
}

/// Every vertex, every edge midpoint and third point, points on each vertex's horizontal
/// line, and a lattice over the bounding box.
std::vector<Point2> probes(const PlanarDomain& d) {
    std::vector<const std::vector<Point2>*> loops = {&d.outer};
    for (const auto& h : d.holes) loops.push_back(&h);
    std::vector<Point2> out;
    double minx = 1e300, maxx = -1e300, miny = 1e300, maxy = -1e300;
    for (const auto* loop : loops) {
        for (size_t i = 0; i < loop->size(); ++i) {
            const Point2 a = (*loop)[i], b = (*loop)[(i + 1) % loop->size()];
            out.push_back(a);
            out.push_back({(a.x + b.x) * 0.5, (a.y + b.y) * 0.5});
            out.push_back({a.x + (b.x - a.x) / 3, a.y + (b.y - a.y) / 3});
            for (double dx : {-0.3, -1e-9, 1e-9, 0.3}) out.push_back({a.x + dx, a.y});
            minx = std::min(minx, a.x);
            maxx = std::max(maxx, a.x);
            miny = std::min(miny, a.y);
            maxy = std::max(maxy, a.y);
        }
    }
    for (int i = -2; i <= 42; ++i) {
        for (int j = -2; j <= 42; ++j) out.push_back({minx + (maxx - minx) * i / 40, miny + (maxy - miny) * j / 40});
    }
    return out;
}

void expectSameAnswers(const PlanarDomain& d) {
    const DomainIndex index = buildDomainIndex(d);
    std::vector<int32_t> scratch;
    for (const Point2& p : probes(d)) {
        ASSERT_EQ(domainIndexContains(index, p, scratch), inDomainByScan(d, p)) << p.x << " " << p.y;
    }
}

TEST(DomainIndex, AgreesWithTheCrossingTestOfEveryLoop) {
    PlanarDomain plate;
    plate.outer = {{0, 0}, {2, 0}, {2, 1}, {0, 1}};
    std::vector<Point2> circle;
    for (int i = 0; i < 64; ++i) circle.push_back({1 + 0.3 * std::cos(2 * kPi * i / 64), 0.5 + 0.3 * std::sin(2 * kPi * i / 64)});
    plate.holes.push_back(circle);
    expectSameAnswers(plate);

    // A comb: many edges spanning the whole height, so few bands hold many edges.
    PlanarDomain comb;
    for (int i = 0; i < 200; ++i) {
        comb.outer.push_back({i * 1.0, 0});
        comb.outer.push_back({i + 0.5, 10});
    }
    comb.outer.push_back({200, -1});
    comb.outer.push_back({0, -1});
    expectSameAnswers(comb);

    // Many small holes, a two-point hole and a hole that overlaps itself.
    PlanarDomain holes;
    holes.outer = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    for (int i = 0; i < 9; ++i) {
        for (int j = 0; j < 9; ++j) {
            holes.holes.push_back({{i + 0.5, j + 0.5}, {i + 0.9, j + 0.5}, {i + 0.9, j + 0.9}, {i + 0.5, j + 0.9}});
        }
    }
    holes.holes.push_back({{0.1, 0.1}, {9.9, 9.9}});
    holes.holes.push_back({{1, 1}, {3, 1}, {3, 3}, {1, 3}, {1, 1}, {3, 1}, {3, 3}, {1, 3}});
    expectSameAnswers(holes);
}

TEST(DomainIndex, DegenerateLoops) {
    PlanarDomain flat;
    flat.outer = {{0, 0}, {1, 0}, {2, 0}};  // only horizontal edges: nothing is inside
    expectSameAnswers(flat);
    PlanarDomain empty;
    const DomainIndex index = buildDomainIndex(empty);
    std::vector<int32_t> scratch;
    EXPECT_FALSE(domainIndexContains(index, {0, 0}, scratch));
    PlanarDomain tiny;
    tiny.outer = {{1e6, 1e6}, {1e6 + 1e-9, 1e6}, {1e6, 1e6 + 1e-9}};
    expectSameAnswers(tiny);
    EXPECT_FALSE(domainIndexContains(buildDomainIndex(tiny), {NAN, 1e6}, scratch));
}

}  // namespace
