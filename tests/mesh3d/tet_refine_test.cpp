#include "mesh3d/tet_refine.hpp"

#include <cmath>
#include <map>

#include <gtest/gtest.h>

#include "mesh3d/delaunay3d.hpp"
#include "mesh3d/tet_checks.hpp"
#include "mesh3d/tet_mesher.hpp"
#include "mesh3d/reference/literal_tet_mesher.hpp"

namespace {

using reference::literalRefinementStep;

/// The unit cube with every face cut into k x k squares of two triangles each, so that
/// the protective spheres of the facets stay close to the faces.
Plc gridCube(int k) {
    Plc plc;
    std::map<std::array<int, 3>, int64_t> index;
    auto point = [&](int i, int j, int l) {
        const std::array<int, 3> key{i, j, l};
        auto found = index.find(key);
        if (found != index.end()) return found->second;
        const int64_t id = static_cast<int64_t>(plc.points.size());
        plc.points.push_back(Point3{static_cast<double>(i) / k, static_cast<double>(j) / k, static_cast<double>(l) / k});
        index[key] = id;
        return id;
    };
    // For each axis, the faces at 0 and at k; (u, v) run over the other two axes.
    for (int axis = 0; axis < 3; ++axis) {
        for (int side = 0; side <= k; side += k) {
            for (int u = 0; u < k; ++u) {
                for (int v = 0; v < k; ++v) {
                    auto at = [&](int du, int dv) {
                        int c[3];
                        c[axis] = side;
                        c[(axis + 1) % 3] = u + du;
                        c[(axis + 2) % 3] = v + dv;
                        return point(c[0], c[1], c[2]);
                    };
                    plc.facets.push_back(Facet{{at(0, 0), at(1, 0), at(1, 1)}});
                    plc.facets.push_back(Facet{{at(0, 0), at(1, 1), at(0, 1)}});
                }
            }
        }
    }
    return plc;
}

/// Appends a corner-shaped cell of edge `e` at `origin` and returns it.
TetCell addCornerCell(std::vector<Point3>& points, Point3 origin, double e) {
    const int64_t base = static_cast<int64_t>(points.size());
    points.push_back(origin);
    points.push_back(Point3{origin.x + e, origin.y, origin.z});
    points.push_back(Point3{origin.x, origin.y + e, origin.z});
    points.push_back(Point3{origin.x, origin.y, origin.z + e});
    return TetCell{{base, base + 2, base + 1, base + 3}};
}

TEST(TetCircumsphere, CornerTetAndFlatCells) {
    const TetSphere s = tetCircumsphere({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.centre.x, 0.5);
    EXPECT_EQ(s.centre.y, 0.5);
    EXPECT_EQ(s.centre.z, 0.5);
    EXPECT_EQ(s.radius, std::sqrt(0.75));
    EXPECT_FALSE(tetCircumsphere({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}).ok);
    Point3 centre{7, 7, 7};
    EXPECT_FALSE(tetCircumcentre({0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 0, 1}, centre));
    EXPECT_EQ(centre.x, 7.0);

    // A general cell: the centre is equidistant from the corners.
    const Point3 p[4] = {{0.1, 0.2, 0.3}, {1.7, 0.4, -0.2}, {0.3, 1.9, 0.5}, {0.6, 0.1, 2.2}};
    const TetSphere g = tetCircumsphere(p[0], p[1], p[2], p[3]);
    ASSERT_TRUE(g.ok);
    for (const Point3& q : p) {
        const double d = std::sqrt((q.x - g.centre.x) * (q.x - g.centre.x) + (q.y - g.centre.y) * (q.y - g.centre.y) +
                                   (q.z - g.centre.z) * (q.z - g.centre.z));
        EXPECT_NEAR(d, g.radius, 1e-12);
    }
}

TEST(TetQuality, VolumeAndRadiusEdgeRatio) {
    const TetQuality q = tetQuality({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1});
    EXPECT_DOUBLE_EQ(q.volume, 1.0 / 6.0);
    EXPECT_EQ(q.radiusEdgeRatio, std::sqrt(0.75));  // shortest edge 1
    // The corners in the other orientation give the same unsigned values.
    const TetQuality r = tetQuality({0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1});
    EXPECT_EQ(r.volume, q.volume);
    // Flat, or with a repeated corner: no ratio, never refined for shape.
    const TetQuality flat = tetQuality({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0});
    EXPECT_EQ(flat.volume, 0.0);
    EXPECT_EQ(flat.radiusEdgeRatio, 0.0);
    EXPECT_EQ(tetQuality({0, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}).radiusEdgeRatio, 0.0);
    // A sliver: the circumradius is much larger than the shortest edge.
    EXPECT_GT(tetQuality({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.5, 0.5, 0.001}).radiusEdgeRatio, 100.0);
}

TEST(FacetSphereContains, UsesTheSmallestEnclosingSphere) {
    // Right angle at a: the sphere on the hypotenuse bc, centre (1, 1, 0), r^2 = 2.
    const Point3 a{0, 0, 0}, b{2, 0, 0}, c{0, 2, 0};
    EXPECT_TRUE(facetSphereContains({1, 1, 1.4}, a, b, c));
    EXPECT_FALSE(facetSphereContains({1, 1, 1.5}, a, b, c));
    EXPECT_FALSE(facetSphereContains({2, 2, 0}, a, b, c));  // exactly on the sphere
    EXPECT_FALSE(facetSphereContains(a, a, b, c));
    EXPECT_FALSE(facetSphereContains({2, 2, 0}, b, c, a));  // any corner order
    // Obtuse at c: the sphere on ab, centre (2, 0, 0), r^2 = 4.
    EXPECT_TRUE(facetSphereContains({2, 0, 1.9}, {0, 0, 0}, {4, 0, 0}, {1, 1, 0}));
    EXPECT_FALSE(facetSphereContains({2, 0, 2}, {0, 0, 0}, {4, 0, 0}, {1, 1, 0}));
    // Acute: the circumcircle's sphere, centre (1, 0.75, 0), r^2 = 1.5625.
    EXPECT_TRUE(facetSphereContains({1, 0.75, 1.24}, {0, 0, 0}, {2, 0, 0}, {1, 2, 0}));
    EXPECT_FALSE(facetSphereContains({1, 0.75, 1.25}, {0, 0, 0}, {2, 0, 0}, {1, 2, 0}));
    // Collinear corners: the sphere on the longest side.
    EXPECT_TRUE(facetSphereContains({1, 0.9, 0}, {0, 0, 0}, {1, 0, 0}, {2, 0, 0}));
}

TEST(RefinementStep, InsertsTheCircumcentreOfALargeInteriorCell) {
    Plc plc = gridCube(4);
    std::vector<Point3> points = plc.points;
    const std::vector<TetCell> tets = {addCornerCell(points, {0.375, 0.375, 0.375}, 0.25)};
    const size_t before = points.size();
    // Volume 0.25^3 / 6 = 0.0026: not too large at 0.003, too large at 0.002.
    EXPECT_FALSE(literalRefinementStep(points, plc.facets, tets, ratioLimit(2.0), 0.003));
    EXPECT_EQ(points.size(), before);
    EXPECT_TRUE(literalRefinementStep(points, plc.facets, tets, ratioLimit(2.0), 0.002));
    ASSERT_EQ(points.size(), before + 1);
    EXPECT_EQ(points.back().x, 0.5);
    EXPECT_EQ(points.back().y, 0.5);
    EXPECT_EQ(points.back().z, 0.5);
    EXPECT_EQ(plc.facets.size(), 192u);
}

TEST(RefinementStep, RatioLimitAllowsOnePartInABillion) {
    const double ratio = std::sqrt(0.75);  // of every corner-shaped cell
    EXPECT_EQ(ratioLimit(2.0), (1.0 + 1e-9) * 2.0);
    // The bound itself and a ratio above it by 5e-10 are accepted; 2e-9 above is bad.
    const double bounds[3] = {ratio, ratio / (1.0 + 5e-10), ratio / (1.0 + 2e-9)};
    const bool inserts[3] = {false, false, true};
    for (int i = 0; i < 3; ++i) {
        Plc plc = gridCube(4);
        std::vector<Point3> points = plc.points;
        const std::vector<TetCell> tets = {addCornerCell(points, {0.375, 0.375, 0.375}, 0.25)};
        EXPECT_EQ(literalRefinementStep(points, plc.facets, tets, ratioLimit(bounds[i]), 0.0), inserts[i]) << i;
    }
}

TEST(RefinementStep, SkipsCellsWhoseCircumcentreCannotBeUsed) {
    // A sliver inside the cube: bad by shape, its circumcentre far below the cube.
    Plc plc = gridCube(4);
    std::vector<Point3> points = plc.points;
    const int64_t base = static_cast<int64_t>(points.size());
    points.push_back(Point3{0.5, 0.5, 0.5});
    points.push_back(Point3{0.6, 0.5, 0.5});
    points.push_back(Point3{0.5, 0.6, 0.5});
    points.push_back(Point3{0.58, 0.58, 0.5001});
    const std::vector<TetCell> sliver = {TetCell{{base, base + 1, base + 2, base + 3}}};
    Point3 x;
    ASSERT_TRUE(tetCircumcentre(points[base], points[base + 1], points[base + 2], points[base + 3], x));
    ASSERT_LT(x.z, -1.0);
    EXPECT_FALSE(literalRefinementStep(points, plc.facets, sliver, ratioLimit(2.0), 0.0));
    EXPECT_EQ(points.size(), static_cast<size_t>(base + 4));

    // The corner tetrahedron alone: its circumcentre (0.5, 0.5, 0.5) encroaches the facets.
    // Bad only by shape: skipped.
    Plc tet = tetcheck::cornerTet();
    std::vector<Point3> p = tet.points;
    const std::vector<TetCell> cells = delaunayTetrahedralize(p);
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_FALSE(literalRefinementStep(p, tet.facets, cells, ratioLimit(0.5), 0.0));
    EXPECT_EQ(p.size(), 4u);
    // Too large: the first encroached facet, (0, 2, 1), has its longest edge 2-1 split.
    EXPECT_TRUE(literalRefinementStep(p, tet.facets, cells, ratioLimit(2.0), 0.1));
    ASSERT_EQ(p.size(), 5u);
    EXPECT_EQ(p[4].x, 0.5);
    EXPECT_EQ(p[4].y, 0.5);
    EXPECT_EQ(p[4].z, 0.0);
    std::vector<std::array<int64_t, 3>> facets;
    for (const Facet& f : tet.facets) facets.push_back(f.v);
    const std::vector<std::array<int64_t, 3>> expected = {{2, 4, 0}, {4, 1, 0}, {0, 1, 3},
                                                          {2, 4, 3}, {4, 1, 3}, {0, 3, 2}};
    EXPECT_EQ(facets, expected);
}

TEST(RefinementStep, IgnoresCellsOutsideTheSurface) {
    Plc plc = gridCube(4);
    std::vector<Point3> points = plc.points;
    const std::vector<TetCell> outside = {addCornerCell(points, {2.0, 2.0, 2.0}, 0.25)};
    EXPECT_FALSE(literalRefinementStep(points, plc.facets, outside, ratioLimit(0.1), 1e-6));
}

}  // namespace
