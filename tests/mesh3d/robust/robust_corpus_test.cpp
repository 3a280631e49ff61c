// A corpus of closed surfaces of the kinds CAD tessellation produces, each meshed by the
// robust engine and checked independently; the same input twice gives the same mesh.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "geom/predicates.hpp"
#include "mesh3d/robust/robust_mesher.hpp"
#include "mesh3d/robust/robust_shapes.hpp"

namespace {

struct Case {
    std::string name;
    Plc plc;
    double maxVolume;
    double bound;
    bool sharp;  ///< has input angles below 30 degrees (also thin facets): shape bound only away from them
};

bool letterPixel(const char* const* rows, int w, int h, int i, int j) {
    if (i < 0 || j < 0 || i >= w || j >= h) return false;
    return rows[h - 1 - j][i] == '#';
}

std::vector<Case> corpus() {
    using namespace shapes;
    std::vector<Case> c;
    c.push_back({"cube", box(0, 0, 0, 1, 1, 1), 0.005, 2.0, false});
    c.push_back({"cube_tight_bound", box(0, 0, 0, 1, 1, 1), 0, 1.2, false});
    c.push_back({"offset_box", box(-3, 2, 5, -1.5, 2.5, 7), 0.05, 2.0, true});
    c.push_back({"plate_1_to_100", box(0, 0, 0, 1, 1, 0.01), 0, 2.0, true});
    c.push_back({"plate_1_to_100_sized", box(0, 0, 0, 1, 0.2, 0.01), 2e-5, 2.0, true});
    // Boxes with through holes.
    c.push_back({"box_one_hole", voxels(grid(0, 3, 3), grid(0, 3, 3), grid(0, 1, 1),
                                        [](int i, int j, int) { return !(i == 1 && j == 1); }),
                 0.05, 2.0, false});
    c.push_back({"box_two_holes", voxels(grid(0, 5, 5), grid(0, 3, 3), grid(0, 1, 1),
                                         [](int i, int j, int) { return !(j == 1 && (i == 1 || i == 3)); }),
                 0, 2.0, false});
    c.push_back({"box_cross_holes", voxels(grid(0, 3, 3), grid(0, 3, 3), grid(0, 3, 3),
                                           [](int i, int j, int k) {
                                               return !((i == 1 && j == 1) || (j == 1 && k == 1));
                                           }),
                 0.1, 2.0, false});
    // Coplanar neighbouring facets of very different sizes (ratios up to 10^4).
    c.push_back({"tiny_facet_1e4", cubeWithTinyFacet(0.5e-4), 0, 2.0, true});
    c.push_back({"tiny_facet_1e3_sized", cubeWithTinyFacet(0.5e-3), 0.01, 2.0, true});
    c.push_back({"graded_steps", voxels({0, 0.01, 0.1, 1}, {0, 1}, {0, 0.5, 1}, [](int, int, int) { return true; }),
                 0, 2.0, true});
    c.push_back({"small_box_on_block", voxels({0, 0.45, 0.5, 1}, {0, 0.45, 0.5, 1}, {0, 1, 1.05},
                                              [](int i, int j, int k) { return k == 0 || (i == 1 && j == 1); }),
                 0, 2.0, true});
    // Embossed and engraved lettering on a block.
    {
        static const char* const rows[5] = {"###.#.#.###", "#...#.#..#.", "##..###..#.", "#...#.#..#.", "###.#.#..#."};
        const int w = 11, h = 5;
        std::vector<double> xs = grid(-1, 12, 13), ys = grid(-1, 6, 7);
        c.push_back({"embossed_letters", voxels(xs, ys, {0, 2, 2.3}, [&](int i, int j, int k) {
                         return k == 0 || letterPixel(rows, w, h, i - 1, j - 1);
                     }),
                     0, 2.0, true});
        c.push_back({"engraved_letters", voxels(xs, ys, {0, 2, 2.3}, [&](int i, int j, int k) {
                         return k == 0 || !letterPixel(rows, w, h, i - 1, j - 1);
                     }),
                     0, 2.0, true});
    }
    c.push_back({"l_bracket", voxels(grid(0, 3, 3), grid(0, 1, 1), grid(0, 3, 3),
                                     [](int i, int, int k) { return i == 0 || k == 0; }),
                 0.05, 2.0, false});
    c.push_back({"stairs", voxels(grid(0, 4, 4), grid(0, 1, 1), grid(0, 4, 4),
                                  [](int i, int, int k) { return k <= 3 - i; }),
                 0, 2.0, false});
    c.push_back({"vertex_touching_boxes", voxels(grid(0, 2, 2), grid(0, 2, 2), grid(0, 2, 2),
                                                 [](int i, int j, int k) { return (i + j + k) % 3 == 0 && i == j && j == k; }),
                 0, 2.0, false});
    // Cylinders and cones as fans of long thin triangles; stepped shafts.
    c.push_back({"cylinder_16", steppedShaft(16, {1}, {0, 2}), 0, 2.0, true});
    c.push_back({"cylinder_48", steppedShaft(48, {1}, {0, 0.5}), 0, 2.0, true});
    c.push_back({"cone_24", cone(24, 1, 2), 0, 2.0, true});
    // Its refinement points at equal heights and angles are coplanar four at a time.
    c.push_back({"cone_64", cone(64, 1, 2), 0, 2.0, true});
    // A hexagonal cone split by a volume bound: a facet point once landed 2e-9 from a
    // vertex on the base's rim, and the ever shorter edges after it never ended.
    c.push_back({"hex_cone_sized", cone(6, 1, 1), 0.001, 2.0, true});
    c.push_back({"stepped_shaft", steppedShaft(20, {1, 0.6, 0.3}, {0, 1, 2.5, 3}), 0, 2.0, true});
    // A slender pin: each side a 1:100 rectangle split into two triangles with 0.56-degree
    // corners.
    c.push_back({"slender_rod", steppedShaft(32, {0.1}, {0, 2}), 0, 2.0, true});
    c.push_back({"stepped_collar", steppedShaft(20, {0.5, 1, 0.5}, {0, 1, 1.2, 2}), 0.05, 2.0, true});
    // Sharp edges down to five degrees.
    c.push_back({"wedge_30", wedge(30, 1, 0.5), 0, 2.0, true});
    c.push_back({"wedge_10", wedge(10, 1, 0.5), 0, 2.0, true});
    c.push_back({"wedge_5", wedge(5, 1, 0.5), 0, 2.0, true});
    c.push_back({"wedge_5_sized", wedge(5, 1, 0.5), 0.002, 2.0, true});
    c.push_back({"needle_cone", cone(12, 0.05, 1), 0, 2.0, true});
    // Curved closed surfaces.
    // Its outer quads are split into triangles with 25-degree corners.
    c.push_back({"torus", torus(1, 0.3, 16, 8), 0, 2.0, true});
    c.push_back({"sphere_80", icosphere(1), 0, 2.0, false});
    c.push_back({"sphere_320", icosphere(2), 0.01, 2.0, false});
    // Two separate bodies in one job.
    c.push_back({"two_boxes", join(box(0, 0, 0, 1, 1, 1), box(2, 0, 0, 3, 1, 0.5)), 0, 2.0, false});
    c.push_back({"box_in_box_void", join(box(0, 0, 0, 3, 3, 3), box(1, 1, 1, 2, 2, 2), true), 0.5, 2.0, false});
    return c;
}

/// The cases that take more than a few thousand points; they run in the long test, which
/// the sanitizer run may leave out.
bool heavy(const std::string& name) {
    return name == "plate_1_to_100" || name == "tiny_facet_1e4" || name == "tiny_facet_1e3_sized" ||
           name == "cylinder_48" || name == "stepped_shaft";
}

/// The surface as a part file stores it: turned about a slanted axis, scaled to a part some
/// tens of millimetres across, placed on a build plate away from the origin and written in
/// single precision, so that facets meant to be coplanar fold by the rounding.
Case placedOnPlate(Case k) {
    constexpr double kScale = 40;
    k.plc = shapes::turned(k.plc, shapes::rotationAbout(0.3, -0.5, 0.8, 0.7).m);
    for (Point3& p : k.plc.points) {
        p = Point3{shapes::toSingle(p.x * kScale + 120), shapes::toSingle(p.y * kScale + 72),
                   shapes::toSingle(p.z * kScale + 12)};
    }
    k.maxVolume = k.maxVolume * (kScale * kScale * kScale);
    return k;
}

void checkCases(bool heavyOnes, bool onPlate = false) {
    std::vector<Case> cases = corpus();
    ASSERT_GE(cases.size(), 30u);
    if (onPlate) {
        for (Case& k : cases) k = placedOnPlate(k);
    }
    for (const Case& k : cases) {
        if (heavy(k.name) != heavyOnes) continue;
        // ROBUST_CORPUS_ONLY=name runs one surface (while studying it).
        if (const char* only = std::getenv("ROBUST_CORPUS_ONLY")) {
            if (k.name != only) continue;
        }
        SCOPED_TRACE(k.name);
        RobustTetParams params;
        params.maxVolume = k.maxVolume;
        params.radiusEdgeBound = k.bound;
        params.maxSteinerPoints = 100000;
        const RobustTetMesh mesh = meshRobustTets(k.plc, params);
        ASSERT_TRUE(mesh.ok) << mesh.error;
        const shapes::CheckResult c = shapes::check(k.plc, mesh.points, mesh.tets, k.maxVolume, k.bound);
        EXPECT_EQ(c.failure, "");
        EXPECT_EQ(c.overVolume, 0);
        // Boundary points lie on their facets' planes to rounding (the check above allows
        // 1e-9, for the coverage of each facet).
        EXPECT_LT(c.offPlane, 1e-12);
        // Cells above the radius-edge bound are left only at small input angles
        // (protected) or where no point could be placed for them (rejected).
        if (!k.sharp) {
            EXPECT_EQ(mesh.protectedCells, 0);
        }
        EXPECT_LE(c.overRatio, mesh.protectedCells + mesh.rejected);
        // Where the bound is reached, it holds in every cell whose shortest edge does not
        // join two points at a small input angle (found from the geometry, not the engine's
        // tally).
        const int64_t away = shapes::overRatioAwayFromSmallAngles(k.plc, mesh.points, mesh.tets, k.bound);
        EXPECT_EQ(away, 0);
        // No cell is flat (four corners on one plane, given a sliver of volume by
        // rounding), small angles or not.
        EXPECT_EQ(shapes::roundingFlatCells(mesh.points, mesh.tets), 0);
        // The same input again: the same points and cells.
        const RobustTetMesh again = meshRobustTets(k.plc, params);
        ASSERT_TRUE(again.ok);
        EXPECT_TRUE(shapes::sameMesh(again, mesh));
        if (std::getenv("ROBUST_CORPUS_VERBOSE") == nullptr) continue;
        std::printf("%-24s %7zu points %8zu tets, recovery %lld, protected %lld, rejected %lld, over ratio %lld (%lld away from small angles), off planes %.2g\n",
                    k.name.c_str(), mesh.points.size(), mesh.tets.size(), static_cast<long long>(mesh.recoveryPoints),
                    static_cast<long long>(mesh.protectedCells), static_cast<long long>(mesh.rejected),
                    static_cast<long long>(c.overRatio), static_cast<long long>(away), c.offPlane);
    }
}

TEST(RobustCorpus, EveryCleanSurfaceMeshesAndChecks) { checkCases(false); }

/// Pairs of facets sharing an edge whose four corners lie exactly in one plane.
int coplanarNeighbours(const Plc& plc) {
    int count = 0;
    for (size_t f = 0; f < plc.facets.size(); ++f) {
        for (size_t g = f + 1; g < plc.facets.size(); ++g) {
            int shared = 0, apex = -1;
            for (const int64_t v : plc.facets[g].v) {
                const auto& fv = plc.facets[f].v;
                if (std::find(fv.begin(), fv.end(), v) != fv.end()) {
                    ++shared;
                } else {
                    apex = static_cast<int>(v);
                }
            }
            if (shared != 2) continue;
            const auto& fv = plc.facets[f].v;
            count += orient3d(plc.points[fv[0]], plc.points[fv[1]], plc.points[fv[2]], plc.points[apex]) == 0;
        }
    }
    return count;
}

// The same surfaces as part files bring them, in single precision on a build plate: the
// same checks hold, though the two triangles of a flat face no longer lie in one plane.
TEST(RobustCorpus, EveryCleanSurfaceOnABuildPlateMeshesAndChecks) {
    const Case cube = corpus()[0];
    ASSERT_EQ(cube.name, "cube");
    EXPECT_EQ(coplanarNeighbours(cube.plc), 6);
    EXPECT_LT(coplanarNeighbours(placedOnPlate(cube).plc), 6);
    checkCases(false, true);
}

TEST(RobustCorpus, SmallAngleTestSeparatesOnlyNarrowFeatures) {
    const double scale = 1;
    // The 5-degree edge of a wedge along z at the origin: a point on each of its facets.
    const Plc wedge = shapes::wedge(5, 1, 0.5);
    const double c5 = std::cos(5 * shapes::kPi / 180), s5 = std::sin(5 * shapes::kPi / 180);
    const Point3 u{0.3, 0, 0.3}, w{0.3 * c5, 0.3 * s5, 0.2};
    const shapes::PointPlace pu = shapes::placeOf(wedge, u, scale), pw = shapes::placeOf(wedge, w, scale);
    ASSERT_EQ(pu.facets.size(), 1u);
    ASSERT_EQ(pw.facets.size(), 1u);
    EXPECT_TRUE(shapes::smallAngleApart(wedge, u, pu, w, pw, 30));
    EXPECT_FALSE(shapes::smallAngleApart(wedge, u, pu, w, pw, 4));
    // Two points of a facet whose corners are all wide, and a point inside the solid, are
    // never apart; all points of a facet with a sharp corner are (the wedge's side facets
    // are 1 x 0.5 rectangles split into triangles with 26.6-degree corners).
    const Point3 u2{0.35, 0, 0.4};
    const shapes::PointPlace pu2 = shapes::placeOf(wedge, u2, scale);
    EXPECT_TRUE(shapes::smallAngleApart(wedge, u, pu, u2, pu2, 30));
    EXPECT_FALSE(shapes::smallAngleApart(wedge, u, pu, u2, pu2, 20));
    const Point3 inner{0.5, 0.02, 0.25};
    EXPECT_TRUE(shapes::placeOf(wedge, inner, scale).facets.empty());
    EXPECT_FALSE(shapes::smallAngleApart(wedge, u, pu, inner, shapes::placeOf(wedge, inner, scale), 30));
    // Points on the two long edges of a thin facet are apart at its sharp corner.
    const Plc cone = shapes::cone(24, 1, 2);
    const double c15 = std::cos(15 * shapes::kPi / 180), s15 = std::sin(15 * shapes::kPi / 180);
    const Point3 e0{0.5, 0, 0}, e1{0.5 * c15, 0.5 * s15, 0};
    const shapes::PointPlace pe0 = shapes::placeOf(cone, e0, scale), pe1 = shapes::placeOf(cone, e1, scale);
    ASSERT_EQ(pe0.edges.size(), 1u);
    ASSERT_EQ(pe1.edges.size(), 1u);
    EXPECT_TRUE(shapes::smallAngleApart(cone, e0, pe0, e1, pe1, 30));
    EXPECT_FALSE(shapes::smallAngleApart(cone, e0, pe0, e1, pe1, 10));
    // Points on the diagonals of the wedge's two faces at its 5-degree edge: on two facets
    // that meet at that edge, 5 degrees apart around it.
    const Point3 d0{0.4 * c5, 0.4 * s5, 0.3}, d1{0.4, 0, 0.2};
    const shapes::PointPlace pd0 = shapes::placeOf(wedge, d0, scale), pd1 = shapes::placeOf(wedge, d1, scale);
    ASSERT_EQ(pd0.edges.size(), 1u);
    ASSERT_EQ(pd1.edges.size(), 1u);
    EXPECT_TRUE(shapes::smallAngleApart(wedge, d0, pd0, d1, pd1, 30));
    EXPECT_FALSE(shapes::smallAngleApart(wedge, d0, pd0, d1, pd1, 4));
    // The cone's apex, where its facets have 6.7-degree corners, and a point on a facet there.
    const Point3 apex{0, 0, 2}, side{(1 + c15) / 3, s15 / 3, 2.0 / 3};
    const shapes::PointPlace papex = shapes::placeOf(cone, apex, scale), pside = shapes::placeOf(cone, side, scale);
    ASSERT_GE(papex.corner, 0);
    ASSERT_EQ(pside.facets.size(), 1u);
    EXPECT_TRUE(shapes::smallAngleApart(cone, apex, papex, side, pside, 30));
    EXPECT_TRUE(shapes::smallAngleApart(cone, side, pside, apex, papex, 30));
    EXPECT_FALSE(shapes::smallAngleApart(cone, apex, papex, side, pside, 5));
    // Faces of a cube meet at right angles and its facets' corners are 45 and 90 degrees:
    // never apart, not at a corner either.
    const Plc cube = shapes::box(0, 0, 0, 1, 1, 1);
    const Point3 a{0.5, 0, 0.3}, b{0, 0.5, 0.3}, o{0, 0, 0};
    const shapes::PointPlace pa = shapes::placeOf(cube, a, scale), po = shapes::placeOf(cube, o, scale);
    EXPECT_FALSE(shapes::smallAngleApart(cube, a, pa, b, shapes::placeOf(cube, b, scale), 30));
    ASSERT_GE(po.corner, 0);
    EXPECT_FALSE(shapes::smallAngleApart(cube, o, po, a, pa, 30));
}

TEST(RobustCorpusLong, EveryCleanSurfaceMeshesAndChecks) { checkCases(true); }

TEST(RobustCorpusLong, EveryCleanSurfaceOnABuildPlateMeshesAndChecks) { checkCases(true, true); }

}  // namespace
