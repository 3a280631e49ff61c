#include "mesh3d/tet_mesher.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "mesh3d/tet_checks.hpp"
#include "mesh3d/tet_refine.hpp"

namespace {

using tetcheck::checkTetMesh;

std::vector<std::array<int64_t, 3>> facetIndices(const std::vector<Facet>& facets) {
    std::vector<std::array<int64_t, 3>> out;
    for (const Facet& f : facets) out.push_back(f.v);
    return out;
}

/// The corner tetrahedron with a facet through three collinear inner points: that facet
/// can never become a face, and every split of it leaves more missing facets.
Plc tetWithCollinearFacet() {
    Plc plc = tetcheck::cornerTet();
    plc.points.push_back(Point3{0.1, 0.1, 0.1});
    plc.points.push_back(Point3{0.2, 0.2, 0.2});
    plc.points.push_back(Point3{0.3, 0.3, 0.3});
    plc.facets.push_back(Facet{{4, 5, 6}});
    return plc;
}

TEST(SplitBoundaryEdge, ReplacesEveryFacetWithTheEdgeInPlace) {
    std::vector<Point3> points = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {5, 5, 5}, {6, 5, 5}, {5, 6, 5}, {1, -2, 0}};
    std::vector<Facet> facets = {Facet{{0, 1, 2}}, Facet{{3, 4, 5}}, Facet{{1, 0, 6}}, Facet{{2, 0, 1}}};
    const int64_t m = splitBoundaryEdge(points, facets, 0, 1);
    EXPECT_EQ(m, 7);
    ASSERT_EQ(points.size(), 8u);
    EXPECT_EQ(points[7].x, 1.0);
    EXPECT_EQ(points[7].y, 0.0);
    EXPECT_EQ(points[7].z, 0.0);
    // Either direction and any position; the halves run a -> m -> b as the call names them.
    const std::vector<std::array<int64_t, 3>> expected = {{0, 7, 2}, {7, 1, 2}, {3, 4, 5}, {0, 7, 6},
                                                          {7, 1, 6}, {0, 7, 2}, {7, 1, 2}};
    EXPECT_EQ(facetIndices(facets), expected);
}

TEST(LongestFacetEdge, TiesGoToTheEarlierEdge) {
    const std::vector<Point3> p = {{0, 0, 0}, {4, 0, 0}, {0, 3, 0}};
    EXPECT_EQ(longestFacetEdge(p, Facet{{1, 2, 0}}), (std::array<int64_t, 2>{1, 2}));  // ab = 5
    EXPECT_EQ(longestFacetEdge(p, Facet{{0, 1, 2}}), (std::array<int64_t, 2>{1, 2}));  // bc = 5
    EXPECT_EQ(longestFacetEdge(p, Facet{{2, 0, 1}}), (std::array<int64_t, 2>{1, 2}));  // ca = 5
    // Ties: |ab| = |ca| = 5 > |bc| gives a-b; |bc| = |ca| = 5 > |ab| gives b-c.
    const std::vector<Point3> q = {{0, 0, 0}, {3, 4, 0}, {5, 0, 0}};
    EXPECT_EQ(longestFacetEdge(q, Facet{{0, 1, 2}}), (std::array<int64_t, 2>{0, 1}));
    EXPECT_EQ(longestFacetEdge(q, Facet{{1, 2, 0}}), (std::array<int64_t, 2>{2, 0}));
}

TEST(IsInsideSurface, CountsCrossingsWhateverTheWinding) {
    for (bool outward : {true, false}) {
        const Plc c = tetcheck::cube(outward);
        EXPECT_TRUE(isInsideSurface({0.5, 0.5, 0.5}, c.points, c.facets));
        EXPECT_TRUE(isInsideSurface({0.01, 0.99, 0.02}, c.points, c.facets));
        EXPECT_FALSE(isInsideSurface({2, 0.5, 0.5}, c.points, c.facets));
        EXPECT_FALSE(isInsideSurface({0.5, 0.5, -1}, c.points, c.facets));
        // Behind the cube along the ray: the ray crosses it twice.
        EXPECT_FALSE(isInsideSurface({-1, -1, -0.2}, c.points, c.facets));
    }
}

TEST(EnclosedVolume, IgnoresTheWinding) {
    EXPECT_DOUBLE_EQ(enclosedVolume(tetcheck::cube(true).points, tetcheck::cube(true).facets), 1.0);
    EXPECT_DOUBLE_EQ(enclosedVolume(tetcheck::cube(false).points, tetcheck::cube(false).facets), 1.0);
    EXPECT_DOUBLE_EQ(enclosedVolume(tetcheck::cornerTet().points, tetcheck::cornerTet().facets), 1.0 / 6.0);
    EXPECT_DOUBLE_EQ(enclosedVolume(tetcheck::lBlock().points, tetcheck::lBlock().facets), 3.0);
}

TEST(RecoveryIterationLimit, IsTwentyPerItemBetween150And300) {
    EXPECT_EQ(recoveryIterationLimit(0, 1), 150);
    EXPECT_EQ(recoveryIterationLimit(3, 4), 150);
    EXPECT_EQ(recoveryIterationLimit(0, 8), 160);
    EXPECT_EQ(recoveryIterationLimit(2, 12), 280);
    EXPECT_EQ(recoveryIterationLimit(3, 12), 300);
    EXPECT_EQ(recoveryIterationLimit(int64_t{1} << 40, int64_t{1} << 40), 300);
}

TEST(CheckPlc, NamesTheFirstBadItem) {
    std::string error;
    EXPECT_TRUE(checkPlc(tetcheck::cube(), error));

    Plc plc = tetcheck::cube();
    plc.facets[3] = Facet{{4, 8, 7}};
    EXPECT_FALSE(checkPlc(plc, error));
    EXPECT_EQ(error, "facet 3 refers to point 8, outside the 8 points given");
    plc.facets[3] = Facet{{-1, 6, 7}};
    EXPECT_FALSE(checkPlc(plc, error));
    EXPECT_EQ(error, "facet 3 refers to point -1, outside the 8 points given");
    plc.facets[3] = Facet{{4, 6, 4}};
    EXPECT_FALSE(checkPlc(plc, error));
    EXPECT_EQ(error, "facet 3 names point 4 twice");

    plc = tetcheck::cube();
    plc.segments = {Segment{{0, 6}}, Segment{{2, 2}}};
    EXPECT_FALSE(checkPlc(plc, error));
    EXPECT_EQ(error, "segment 1 names point 2 twice");
    plc.segments = {Segment{{0, std::numeric_limits<int64_t>::min()}}};
    EXPECT_FALSE(checkPlc(plc, error));
    EXPECT_EQ(error, "segment 0 refers to point -9223372036854775808, outside the 8 points given");

    plc = tetcheck::cube();
    plc.points[5].y = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(checkPlc(plc, error));
    EXPECT_EQ(error, "point 5 has a coordinate that is not finite or exceeds 1e50 in magnitude");
    plc.points[5].y = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(checkPlc(plc, error));
    plc.points[5].y = -1e51;
    EXPECT_FALSE(checkPlc(plc, error));

    plc = tetcheck::cube();
    plc.facets.resize(kMaxTetMeshFacets + 1, Facet{{0, 1, 2}});
    EXPECT_FALSE(checkPlc(plc, error));
    EXPECT_EQ(error, "too many facets (" + std::to_string(kMaxTetMeshFacets + 1) +
                         "; the tetrahedral mesher handles at most " + std::to_string(kMaxTetMeshFacets) + ")");
    plc = tetcheck::cube();
    plc.segments.resize(kMaxTetMeshSegments + 1, Segment{{0, 1}});
    EXPECT_FALSE(checkPlc(plc, error));
    EXPECT_EQ(error, "too many segments (" + std::to_string(kMaxTetMeshSegments + 1) +
                         "; the tetrahedral mesher handles at most " + std::to_string(kMaxTetMeshSegments) + ")");

    plc = tetcheck::cube();
    plc.points.resize(kMaxTetMeshPoints + 1);
    EXPECT_FALSE(checkPlc(plc, error));
    EXPECT_EQ(error, "too many points (" + std::to_string(kMaxTetMeshPoints + 1) +
                         "; the tetrahedral mesher handles at most " + std::to_string(kMaxTetMeshPoints) + ")");
}

TEST(MeshQualityTets, CubeEitherWindingIsFilledAndConforms) {
    for (bool outward : {true, false}) {
        const Plc c = tetcheck::cube(outward);
        const TetMesh mesh = meshQualityTets(c, TetMeshParams{});
        ASSERT_TRUE(mesh.ok);
        EXPECT_EQ(checkTetMesh(mesh.points, mesh.tets, c.points, c.facets, 1.0), "");
        EXPECT_EQ(mesh.steinerCount, static_cast<int32_t>(mesh.points.size() - 8));
        // Input points keep their place and coordinates.
        for (size_t i = 0; i < 8; ++i) {
            EXPECT_EQ(mesh.points[i].x, c.points[i].x);
            EXPECT_EQ(mesh.points[i].y, c.points[i].y);
            EXPECT_EQ(mesh.points[i].z, c.points[i].z);
        }
        const TetMesh again = meshQualityTets(c, TetMeshParams{});
        EXPECT_TRUE(tetcheck::sameCells(mesh.tets, again.tets));
        EXPECT_EQ(mesh.points.size(), again.points.size());
    }
}

TEST(MeshQualityTets, NonConvexBlockKeepsOnlyInteriorTets) {
    const Plc l = tetcheck::lBlock();
    const TetMesh mesh = meshQualityTets(l, TetMeshParams{});
    ASSERT_TRUE(mesh.ok);
    EXPECT_EQ(checkTetMesh(mesh.points, mesh.tets, l.points, l.facets, 3.0), "");
}

TEST(MeshQualityTets, MaxVolumeRefinesAndStaysConforming) {
    const Plc c = tetcheck::cube();
    TetMeshParams params;
    params.maxVolume = 0.02;
    const TetMesh mesh = meshQualityTets(c, params);
    ASSERT_TRUE(mesh.ok);
    EXPECT_EQ(checkTetMesh(mesh.points, mesh.tets, c.points, c.facets, 1.0), "");
    EXPECT_GT(mesh.tets.size(), 50u);
    // Cells whose circumcentre cannot be used are left as they are, so neither bound is
    // guaranteed in general; for this cube both are met.
    for (const TetCell& t : mesh.tets) {
        const TetQuality q = tetQuality(mesh.points[t.v[0]], mesh.points[t.v[1]], mesh.points[t.v[2]],
                                        mesh.points[t.v[3]]);
        EXPECT_LE(q.volume, 0.02);
        EXPECT_LE(q.radiusEdgeRatio, 2.0);
    }
}

TEST(MeshQualityTets, HugeRatioBoundLeavesTheConformingMesh) {
    // Nothing is bad: the result is the first conforming tetrahedralization.
    const Plc l = tetcheck::lBlock();
    TetMeshParams loose;
    loose.radiusEdgeBound = 1e9;
    TetMeshParams noRefinement;
    noRefinement.maxSteinerPoints = 5;  // exactly the recovery splits this block needs
    const TetMesh a = meshQualityTets(l, loose);
    const TetMesh b = meshQualityTets(l, noRefinement);
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(a.steinerCount, 5);
    EXPECT_TRUE(tetcheck::sameCells(a.tets, b.tets));
}

TEST(MeshQualityTets, ZeroBudget) {
    TetMeshParams params;
    params.maxSteinerPoints = 0;
    // Already conforming: returned unrefined.
    const TetMesh tet = meshQualityTets(tetcheck::cornerTet(), params);
    ASSERT_TRUE(tet.ok);
    EXPECT_EQ(tet.steinerCount, 0);
    EXPECT_EQ(tet.tets.size(), 1u);
    // The cube needs a split: it exceeds the budget and the volume test accepts the mesh
    // of the nine points (the convex hull is the cube).
    const TetMesh cube = meshQualityTets(tetcheck::cube(), params);
    ASSERT_TRUE(cube.ok);
    EXPECT_EQ(cube.steinerCount, 1);
    EXPECT_EQ(cube.points.size(), 9u);
    EXPECT_NEAR(tetcheck::totalVolume(cube.points, cube.tets), 1.0, 1e-12);
    // Every facet twice in opposite windings encloses volume 0: never accepted.
    Plc doubled = tetcheck::cube();
    for (const Facet& f : tetcheck::cube().facets) doubled.facets.push_back(Facet{{f.v[0], f.v[2], f.v[1]}});
    const TetMesh d = meshQualityTets(doubled, params);
    EXPECT_FALSE(d.ok);
    EXPECT_TRUE(d.tets.empty());
    EXPECT_FALSE(d.pointLimitReached);
}

TEST(SalvageMesh, AcceptsTheInteriorOnlyWhenItFillsTheEnclosedVolume) {
    const Plc c = tetcheck::cube();
    for (double enclosed : {1.0, 1.0 + 5e-7, 1.0 - 5e-7}) {
        TetMesh result;
        EXPECT_TRUE(salvageMesh(enclosed, c.points, c.facets, result)) << enclosed;
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.tets.size(), 6u);
    }
    for (double enclosed : {0.0, -1.0, 2.0, 1.0 + 2e-6, std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN()}) {
        TetMesh result;
        EXPECT_FALSE(salvageMesh(enclosed, c.points, c.facets, result)) << enclosed;
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.tets.empty());
    }
    // Coplanar points cannot be tetrahedralized.
    TetMesh flat;
    EXPECT_FALSE(salvageMesh(1.0, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}, {Facet{{0, 1, 2}}}, flat));
    // The hull of the L-block's corners is larger than the block, but the centroid test
    // drops the cells in the notch: the volume test accepts the rest.
    const Plc l = tetcheck::lBlock();
    TetMesh lResult;
    EXPECT_TRUE(salvageMesh(3.0, l.points, l.facets, lResult));
    EXPECT_NEAR(tetcheck::totalVolume(l.points, lResult.tets), 3.0, 3e-6);
}

TEST(MeshQualityTets, BudgetUsedUpDuringRefinementIsASuccess) {
    TetMeshParams params;
    params.maxVolume = 1e-9;
    params.maxSteinerPoints = 10;
    const Plc c = tetcheck::cube();
    const TetMesh mesh = meshQualityTets(c, params);
    ASSERT_TRUE(mesh.ok);
    EXPECT_EQ(mesh.steinerCount, 10);
    EXPECT_EQ(checkTetMesh(mesh.points, mesh.tets, c.points, c.facets, 1.0), "");
}

TEST(MeshQualityTets, SegmentOnASplitFacetEdgeGetsADuplicateMidpoint) {
    // The face diagonal 0-5 is split as a facet edge first; the segment step then finds the
    // midpoint inside the segment's sphere and appends a second point at the same place.
    Plc c = tetcheck::cube();
    c.segments = {Segment{{0, 5}}};
    const TetMesh mesh = meshQualityTets(c, TetMeshParams{});
    ASSERT_TRUE(mesh.ok);
    ASSERT_GE(mesh.points.size(), 10u);
    EXPECT_EQ(mesh.points[8].x, 0.5);
    EXPECT_EQ(mesh.points[8].y, 0.0);
    EXPECT_EQ(mesh.points[8].z, 0.5);
    EXPECT_TRUE(mesh.points[9].x == 0.5 && mesh.points[9].y == 0.0 && mesh.points[9].z == 0.5);
    for (const TetCell& t : mesh.tets) {
        for (int64_t v : t.v) EXPECT_NE(v, 9);
    }
    EXPECT_EQ(checkTetMesh(mesh.points, mesh.tets, c.points, c.facets, 1.0), "");
}

TEST(MeshQualityTets, FacetStepGivesUpAfter64StalledSteps) {
    // The collinear facet never appears; each split leaves one more missing facet, so the
    // 66th facet step (64 steps after the best count) hands over to the volume test,
    // which accepts the mesh of the corner tetrahedron.
    const Plc plc = tetWithCollinearFacet();
    const TetMesh mesh = meshQualityTets(plc, TetMeshParams{});
    ASSERT_TRUE(mesh.ok);
    EXPECT_EQ(mesh.steinerCount, 65);
    EXPECT_NEAR(tetcheck::totalVolume(mesh.points, mesh.tets), 1.0 / 6.0, 1e-12);
}

TEST(MeshQualityTets, IterationLimitCountsConsecutiveRecoverySplits) {
    TetMeshParams params;
    params.iterationLimit = 10;
    const TetMesh stalled = meshQualityTets(tetWithCollinearFacet(), params);
    ASSERT_TRUE(stalled.ok);
    EXPECT_EQ(stalled.steinerCount, 11);

    // The refined corner tetrahedron needs 5 recovery splits, each right after a
    // refinement insertion, which resets the count: a limit of 1 changes nothing.
    TetMeshParams refine;
    refine.maxVolume = 0.01;
    const TetMesh reference = meshQualityTets(tetcheck::cornerTet(), refine);
    refine.iterationLimit = 1;
    const TetMesh one = meshQualityTets(tetcheck::cornerTet(), refine);
    EXPECT_TRUE(one.ok);
    EXPECT_EQ(one.steinerCount, 22);
    EXPECT_EQ(one.points.size(), reference.points.size());
    EXPECT_TRUE(tetcheck::sameCells(one.tets, reference.tets));
    // The cube starts with 3 recovery splits in a row: a limit of 2 stops at the third.
    TetMeshParams cube;
    cube.iterationLimit = 2;
    EXPECT_EQ(meshQualityTets(tetcheck::cube(), cube).steinerCount, 3);
}

TEST(MeshQualityTets, DegenerateComplexesFail) {
    // No facets.
    Plc none = tetcheck::cube();
    none.facets.clear();
    EXPECT_FALSE(meshQualityTets(none, TetMeshParams{}).ok);
    // All points in one plane.
    Plc flat;
    flat.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    flat.facets = {Facet{{0, 1, 2}}, Facet{{1, 3, 2}}};
    EXPECT_FALSE(meshQualityTets(flat, TetMeshParams{}).ok);
    // Every facet twice in opposite windings: the facets conform but enclose nothing.
    Plc doubled = tetcheck::cube();
    for (const Facet& f : tetcheck::cube().facets) doubled.facets.push_back(Facet{{f.v[0], f.v[2], f.v[1]}});
    const TetMesh d = meshQualityTets(doubled, TetMeshParams{});
    EXPECT_FALSE(d.ok);
    EXPECT_TRUE(d.tets.empty());
    // Indices outside the point list are refused before anything reads them.
    Plc bad = tetcheck::cube();
    bad.facets[0] = Facet{{0, 1, 99}};
    const TetMesh b = meshQualityTets(bad, TetMeshParams{});
    EXPECT_FALSE(b.ok);
    EXPECT_FALSE(b.pointLimitReached);
}

TEST(MeshQualityTets, StopsAtThePointLimit) {
    TetMeshParams params;
    params.maxVolume = 1e-9;
    params.maxPoints = 30;
    const TetMesh mesh = meshQualityTets(tetcheck::cube(), params);
    EXPECT_FALSE(mesh.ok);
    EXPECT_TRUE(mesh.pointLimitReached);
    EXPECT_EQ(mesh.points.size(), 31u);
    EXPECT_TRUE(mesh.tets.empty());

    params.maxPoints = 7;  // fewer than the input
    const TetMesh small = meshQualityTets(tetcheck::cube(), params);
    EXPECT_FALSE(small.ok);
    EXPECT_TRUE(small.pointLimitReached);
}

TEST(TetMeshToModel, NumbersNodesAndSolidsFromOne) {
    TetMesh mesh;
    mesh.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {9, 9, 9}};
    mesh.tets = {TetCell{{0, 2, 1, 3}}};
    EXPECT_TRUE(tetMeshToModel(mesh, SolidNumbering{1, 1, 4}).nodes.empty());
    mesh.ok = true;
    const Model model = tetMeshToModel(mesh, SolidNumbering{1, 1, 4});
    ASSERT_EQ(model.nodes.size(), 5u);  // also the point no cell uses
    EXPECT_EQ(model.nodes[4].id, 5);
    ASSERT_EQ(model.solids.size(), 1u);
    EXPECT_EQ(model.solids[0].kind, "TET4");
    EXPECT_EQ(model.solids[0].nodes, (std::vector<int32_t>{1, 3, 2, 4}));
    EXPECT_EQ(model.solids[0].matId, 4);
}

}  // namespace
