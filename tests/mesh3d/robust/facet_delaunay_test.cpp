// The facet triangulation of boundary recovery against the literal insertion it replaces:
// the same triangles in the same order, cocircular and collinear points included (the
// first missing triangle in that order gets the next recovery point).

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "mesh3d/robust/facet_delaunay.hpp"
#include "mesh3d/robust/robust_shapes.hpp"

namespace {

using robust::Tri2;

/// The literal rule: each point tested against every triangle of the list.
std::vector<Tri2> literalPlanarDelaunay(const std::vector<Point2>& pts) {
    const int32_t n = static_cast<int32_t>(pts.size());
    const std::vector<Point2> all = robust::withFarTriangle(pts);
    std::vector<Tri2> tris{Tri2{{n, n + 1, n + 2}}};
    std::vector<Tri2> keep;
    std::vector<std::array<int32_t, 2>> edges;
    for (int32_t i = 0; i < n; ++i) {
        keep.clear();
        edges.clear();
        for (const Tri2& t : tris) {
            if (incircle(all[t.v[0]], all[t.v[1]], all[t.v[2]], all[i]) > 0) {
                for (int k = 0; k < 3; ++k) edges.push_back({t.v[k], t.v[(k + 1) % 3]});
            } else {
                keep.push_back(t);
            }
        }
        if (edges.empty()) continue;
        for (size_t a = 0; a < edges.size(); ++a) {
            bool shared = false;
            for (size_t b = 0; b < edges.size() && !shared; ++b) {
                shared = edges[b][0] == edges[a][1] && edges[b][1] == edges[a][0];
            }
            if (!shared) keep.push_back(Tri2{{edges[a][0], edges[a][1], i}});
        }
        tris.swap(keep);
    }
    std::vector<Tri2> result;
    for (const Tri2& t : tris) {
        if (t.v[0] < n && t.v[1] < n && t.v[2] < n) result.push_back(t);
    }
    return result;
}

using shapes::Draw;

void sameAsLiteral(const std::vector<Point2>& pts, const std::string& what) {
    SCOPED_TRACE(what);
    const std::vector<Tri2> fast = robust::planarDelaunay(pts), literal = literalPlanarDelaunay(pts);
    ASSERT_EQ(fast.size(), literal.size());
    for (size_t t = 0; t < fast.size(); ++t) {
        for (int k = 0; k < 3; ++k) ASSERT_EQ(fast[t].v[k], literal[t].v[k]) << "triangle " << t;
    }
}

/// The points in a drawn order (a facet lists its edge points by id, then its own).
std::vector<Point2> shuffled(std::vector<Point2> pts, Draw& d) {
    for (size_t i = pts.size(); i > 1; --i) std::swap(pts[i - 1], pts[static_cast<size_t>(d.below(static_cast<int>(i)))]);
    return pts;
}

TEST(FacetDelaunay, RandomPointsMatchTheLiteralInsertion) {
    Draw d{7};
    for (int n = 1; n <= 120; ++n) {
        std::vector<Point2> pts;
        for (int i = 0; i < n; ++i) pts.push_back(Point2{d.unit(), d.unit()});
        sameAsLiteral(pts, "random " + std::to_string(n));
    }
    // A triangulation has 2n - 2 - h triangles: the test is not passing on empty lists.
    std::vector<Point2> pts;
    for (int i = 0; i < 300; ++i) pts.push_back(Point2{d.unit(), d.unit()});
    EXPECT_GT(robust::planarDelaunay(pts).size(), 500u);
    sameAsLiteral(pts, "random 300");
}

TEST(FacetDelaunay, CocircularCollinearAndRepeatedPointsMatch) {
    Draw d{11};
    // Grids: every unit square's four corners are cocircular; row by row and drawn orders.
    for (int k = 2; k <= 12; ++k) {
        std::vector<Point2> grid;
        for (int y = 0; y < k; ++y) {
            for (int x = 0; x < k; ++x) grid.push_back(Point2{0.25 * x, 0.5 * y});
        }
        sameAsLiteral(grid, "grid " + std::to_string(k));
        sameAsLiteral(shuffled(grid, d), "shuffled grid " + std::to_string(k));
    }
    // Points on one circle with and without its centre; on one line, then one point off it.
    std::vector<Point2> ring;
    for (int i = 0; i < 24; ++i) ring.push_back(Point2{std::cos(i * 0.25 * 3.141592653589793), std::sin(i * 0.25 * 3.141592653589793)});
    sameAsLiteral(ring, "ring");
    ring.push_back(Point2{0, 0});
    sameAsLiteral(shuffled(ring, d), "ring and centre");
    std::vector<Point2> line;
    for (int i = 0; i < 20; ++i) line.push_back(Point2{0.1 * i, 0.05 * i});
    sameAsLiteral(line, "line");
    line.push_back(Point2{0.3, 0.9});
    sameAsLiteral(shuffled(line, d), "line and a point");
    // Repeated points are skipped.
    std::vector<Point2> twice{{0, 0}, {1, 0}, {0, 1}, {1, 0}, {0.4, 0.4}, {0, 0}, {0.4, 0.4}};
    sameAsLiteral(twice, "repeated");
}

TEST(FacetDelaunay, ThinStripsAwayFromTheOriginMatch) {
    // The points of a long strip 1e-4 wide, at 100 and rounded to single precision, as a
    // thin facet of a part placed away from the origin lists them.
    Draw d{5};
    for (int round = 0; round < 6; ++round) {
        std::vector<Point2> pts;
        for (int i = 0; i < 150; ++i) {
            const double along = d.unit(), across = d.below(3) == 0 ? 1e-4 * d.unit() : (d.below(2) == 0 ? 0.0 : 1e-4);
            volatile float x = static_cast<float>(100 + along), y = static_cast<float>(100 + across);
            pts.push_back(Point2{x, y});
        }
        sameAsLiteral(pts, "strip " + std::to_string(round));
    }
}

}  // namespace
