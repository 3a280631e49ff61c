#include "mesh3d/delaunay3d.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "geom/predicates.hpp"
#include "mesh3d/tet_checks.hpp"

namespace {

std::vector<Point3> cubeCorners() { return tetcheck::cube().points; }

/// Every cell positively oriented (not negative), indices below n, and no input point
/// strictly inside any cell's circumsphere.
void expectDelaunay(const std::vector<Point3>& p, const std::vector<TetCell>& cells) {
    const int64_t n = static_cast<int64_t>(p.size());
    for (const TetCell& t : cells) {
        for (int64_t v : t.v) {
            ASSERT_GE(v, 0);
            ASSERT_LT(v, n);
        }
        EXPECT_GE(orient3d(p[t.v[0]], p[t.v[1]], p[t.v[2]], p[t.v[3]]), 0);
        for (const Point3& q : p) {
            EXPECT_LE(insphere(p[t.v[0]], p[t.v[1]], p[t.v[2]], p[t.v[3]], q), 0);
        }
    }
}

/// A deterministic scatter of points in the unit cube, plus its eight corners.
std::vector<Point3> scatter(int count) {
    std::vector<Point3> p = cubeCorners();
    uint64_t state = 12345;
    auto next = [&]() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    };
    for (int i = 0; i < count; ++i) {
        const double x = next();
        const double y = next();
        const double z = next();
        p.push_back(Point3{x, y, z});
    }
    return p;
}

TEST(DelaunayTetrahedralize, DegenerateInputGivesNothing) {
    EXPECT_TRUE(delaunayTetrahedralize({}).empty());
    EXPECT_TRUE(delaunayTetrahedralize({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}).empty());
    // Coplanar: four corners of a face, and points on the plane x + y + z = 3.
    EXPECT_TRUE(delaunayTetrahedralize({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}).empty());
    EXPECT_TRUE(delaunayTetrahedralize({{3, 0, 0}, {0, 3, 0}, {0, 0, 3}, {1, 1, 1}, {2, 0.5, 0.5}}).empty());
    // Collinear, and coincident.
    EXPECT_TRUE(delaunayTetrahedralize({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {5, 5, 5}}).empty());
    EXPECT_TRUE(delaunayTetrahedralize({{1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}}).empty());
}

TEST(DelaunayTetrahedralize, FourPointsGiveOnePositiveCellInAnyOrder) {
    std::vector<Point3> base = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    std::vector<int> order = {0, 1, 2, 3};
    int permutations = 0;
    do {
        std::vector<Point3> p;
        for (int i : order) p.push_back(base[i]);
        const std::vector<TetCell> cells = delaunayTetrahedralize(p);
        ASSERT_EQ(cells.size(), 1u);
        EXPECT_GT(orient3d(p[cells[0].v[0]], p[cells[0].v[1]], p[cells[0].v[2]], p[cells[0].v[3]]), 0);
        std::array<int64_t, 4> sorted = cells[0].v;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, (std::array<int64_t, 4>{0, 1, 2, 3}));
        ++permutations;
    } while (std::next_permutation(order.begin(), order.end()));
    EXPECT_EQ(permutations, 24);

    // The vertex order is fixed by the insertion: the last point closes the cell on a face
    // of the super-tetrahedron cells (values from an independent rational implementation).
    EXPECT_EQ(delaunayTetrahedralize(base)[0].v, (std::array<int64_t, 4>{0, 2, 1, 3}));
    EXPECT_EQ(delaunayTetrahedralize({{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 1, 0}})[0].v,
              (std::array<int64_t, 4>{1, 2, 0, 3}));
}

TEST(DelaunayTetrahedralize, RepeatedPointIsUsedOnce) {
    const std::vector<Point3> p = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}};
    const std::vector<TetCell> cells = delaunayTetrahedralize(p);
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(cells[0].v, (std::array<int64_t, 4>{0, 2, 1, 3}));

    // A repeated cube corner: no cell refers to the later copy.
    std::vector<Point3> q = cubeCorners();
    q.insert(q.begin() + 3, q[6]);
    for (const TetCell& t : delaunayTetrahedralize(q)) {
        for (int64_t v : t.v) EXPECT_NE(v, 7);
    }
}

TEST(DelaunayTetrahedralize, CosphericalCubeCornersFollowInsertionOrder) {
    const std::vector<Point3> p = cubeCorners();
    const std::vector<TetCell> cells = delaunayTetrahedralize(p);
    // Reference result of an independent implementation with rational arithmetic.
    const std::vector<std::array<int64_t, 4>> expected = {{0, 2, 1, 4}, {0, 3, 2, 4}, {1, 4, 2, 5},
                                                          {2, 4, 3, 6}, {2, 5, 4, 6}, {3, 6, 4, 7}};
    ASSERT_EQ(cells.size(), expected.size());
    for (size_t i = 0; i < cells.size(); ++i) EXPECT_EQ(cells[i].v, expected[i]);
    EXPECT_NEAR(tetcheck::totalVolume(p, cells), 1.0, 1e-15);
    expectDelaunay(p, cells);
    EXPECT_TRUE(tetcheck::sameCells(cells, delaunayTetrahedralize(p)));
}

TEST(DelaunayTetrahedralize, ScatteredPointsGiveEmptySpheres) {
    const std::vector<Point3> p = scatter(60);
    const std::vector<TetCell> cells = delaunayTetrahedralize(p);
    ASSERT_FALSE(cells.empty());
    expectDelaunay(p, cells);
    // The hull is the unit cube, but a few thin cells along its faces had a corner of the
    // finite super-tetrahedron in their place and are dropped with it. Count and volume
    // agree with an independent rational implementation.
    EXPECT_EQ(cells.size(), 353u);
    EXPECT_NEAR(tetcheck::totalVolume(p, cells), 0.9964181509023652, 1e-12);
    EXPECT_TRUE(tetcheck::sameCells(cells, delaunayTetrahedralize(p)));
}

TEST(DelaunayTetrahedralize, ScaleDoesNotChangeExactDecisions) {
    // Scaling by a power of two is exact, so every predicate gives the same sign.
    const std::vector<Point3> p = scatter(30);
    const std::vector<TetCell> reference = delaunayTetrahedralize(p);
    for (double s : {std::ldexp(1.0, -30), std::ldexp(1.0, 30)}) {
        std::vector<Point3> q;
        for (const Point3& a : p) q.push_back(Point3{a.x * s, a.y * s, a.z * s});
        EXPECT_TRUE(tetcheck::sameCells(reference, delaunayTetrahedralize(q))) << s;
    }
}

TEST(FindSpanningTriple, SkipsRepeatsAndCollinearPoints) {
    SpanningTriple t = findSpanningTriple({{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 0, 0}, {1, 1, 0}});
    ASSERT_TRUE(t.found);
    EXPECT_EQ(t.i0, 0);
    EXPECT_EQ(t.i1, 2);
    EXPECT_EQ(t.i2, 5);
    EXPECT_FALSE(findSpanningTriple({{0, 0, 0}}).found);
    EXPECT_FALSE(findSpanningTriple({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}).found);
    // NaN counts as different and as a non-zero cross product component.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    t = findSpanningTriple({{0, 0, 0}, {nan, 0, 0}, {1, 0, 0}});
    ASSERT_TRUE(t.found);
    EXPECT_EQ(t.i1, 1);
    EXPECT_EQ(t.i2, 2);
}

TEST(OrientTet, SwapsTheMiddleCornersOfANegativeCell) {
    const std::vector<Point3> p = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    EXPECT_EQ(orientTet(0, 2, 1, 3, p).v, (std::array<int64_t, 4>{0, 2, 1, 3}));
    EXPECT_EQ(orientTet(0, 1, 2, 3, p).v, (std::array<int64_t, 4>{0, 2, 1, 3}));
    // A flat cell is kept as given.
    const std::vector<Point3> flat = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    EXPECT_EQ(orientTet(0, 1, 2, 3, flat).v, (std::array<int64_t, 4>{0, 1, 2, 3}));
}

}  // namespace
