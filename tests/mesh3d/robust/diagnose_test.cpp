#include "mesh3d/robust/diagnose.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mesh3d/robust/robust_mesher.hpp"
#include "mesh3d/robust/robust_shapes.hpp"

namespace {

using ::testing::HasSubstr;

Plc fourPoints(std::vector<Facet> facets) {
    Plc plc;
    plc.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    plc.facets = std::move(facets);
    return plc;
}

TEST(RobustDiagnose, CleanSurfacesPass) {
    EXPECT_TRUE(diagnosePlc(shapes::box(0, 0, 0, 1, 1, 1)).ok);
    EXPECT_TRUE(diagnosePlc(shapes::torus(1, 0.3, 12, 6)).ok);
    EXPECT_TRUE(diagnosePlc(shapes::cone(16, 1, 2)).ok);
    EXPECT_TRUE(diagnosePlc(shapes::wedge(5, 1, 0.5)).ok);
}

TEST(RobustDiagnose, IndicesRepeatsAndZeroArea) {
    EXPECT_EQ(diagnosePlc(fourPoints({Facet{{0, 1, 9}}})).error,
              "facet 0 names point 9, but the points are numbered 0 to 3");
    EXPECT_EQ(diagnosePlc(fourPoints({Facet{{0, 2, 1}}, Facet{{-1, 1, 2}}})).error,
              "facet 1 names point -1, but the points are numbered 0 to 3");
    EXPECT_EQ(diagnosePlc(fourPoints({Facet{{0, 1, 1}}})).error, "facet 0 names point 1 twice");
    Plc collinear = fourPoints({Facet{{0, 1, 2}}});
    collinear.points[2] = Point3{2, 0, 0};
    EXPECT_EQ(diagnosePlc(collinear).error,
              "facet 0 has zero area (its corners (0, 0, 0), (1, 0, 0) and (2, 0, 0) lie on one line)");
    Plc badSegment = shapes::box(0, 0, 0, 1, 1, 1);
    badSegment.segments = {Segment{{0, 8}}};
    EXPECT_EQ(diagnosePlc(badSegment).error, "segment 0 names point 8, but the points are numbered 0 to 7");
    badSegment.segments = {Segment{{3, 3}}};
    EXPECT_EQ(diagnosePlc(badSegment).error, "segment 0 has both ends at point 3");
}

TEST(RobustDiagnose, DuplicateOpenAndNonManifold) {
    Plc tet = shapes::cornerTetFacets();
    tet.facets.push_back(Facet{{tet.facets[1].v[2], tet.facets[1].v[0], tet.facets[1].v[1]}});
    EXPECT_EQ(diagnosePlc(tet).error, "facets 1 and 4 are the same triangle");

    Plc open = shapes::box(0, 0, 0, 1, 1, 1);
    open.facets.pop_back();
    EXPECT_THAT(diagnosePlc(open).error, HasSubstr("only: the surface is not closed"));

    // Two boxes touching along the edge x = y = 1: four facets meet there.
    const Plc touching = shapes::voxels({0, 1, 2}, {0, 1, 2}, {0, 1},
                                        [](int i, int j, int) { return (i == 0 && j == 0) || (i == 1 && j == 1); });
    // Facets in the generator's order: the first cell's +x and +y quads give triangles 2
    // and 7, the second cell's -x and -y quads triangles 12 and 17.
    EXPECT_EQ(diagnosePlc(touching).error,
              "the edge from (1, 1, 1) to (1, 1, 0) is shared by 4 facets (2, 7, 12 and 17): the surface is not "
              "manifold there");

    // STL input names the file's triangle numbers.
    std::vector<int64_t> numbers;
    for (size_t i = 0; i < open.facets.size(); ++i) numbers.push_back(static_cast<int64_t>(i) * 2 + 1);
    EXPECT_THAT(diagnosePlc(open, FacetNaming{"triangle", &numbers}).error, HasSubstr("belongs to triangle "));
}

TEST(RobustDiagnose, FirstIntersectingPairWithAPoint) {
    // A box pierced by a smaller one through its top: the top's first triangle (10) meets
    // the small box's first side triangle (12) at (0.25, 0.25, 1), where the top's diagonal
    // crosses the plane x = 0.25 on that triangle's edge.
    const Plc plc = shapes::join(shapes::box(0, 0, 0, 1, 1, 1), shapes::box(0.25, 0.25, 0.5, 0.75, 0.75, 1.5));
    EXPECT_EQ(diagnosePlc(plc).error, "facets 10 and 12 intersect at (0.25, 0.25, 1)");

    // A corner of the cube pushed through the bottom face: the surface folds through itself.
    Plc folded = shapes::box(0, 0, 0, 1, 1, 1);
    for (Point3& p : folded.points) {
        if (p.x == 1 && p.y == 1 && p.z == 1) p = Point3{0.5, 0.5, -0.5};
    }
    EXPECT_THAT(diagnosePlc(folded).error, HasSubstr(" intersect at "));
}

TEST(RobustDiagnose, TrianglePairsSharingCorners) {
    std::vector<Point3> p = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0.5, 0.5, 1}, {0.3, 0.2, 0}, {-1, -1, 0}};
    Point3 where;
    const int64_t base[3] = {0, 1, 2};
    const int64_t hinge[3] = {0, 1, 4};     // shares the edge 0-1, leaves the plane
    const int64_t below[3] = {1, 0, 3};     // shares 0-1, coplanar, other side
    const int64_t folded[3] = {1, 0, 5};    // shares 0-1, coplanar, same side: overlaps
    const int64_t corner[3] = {0, 3, 6};    // shares corner 0 only, outside the corner's angle
    const int64_t inside[3] = {0, 5, 3};    // shares corner 0, its edge 0-5 runs into the base
    EXPECT_FALSE(trianglesIntersect(p, base, hinge, where));
    EXPECT_FALSE(trianglesIntersect(p, base, below, where));
    EXPECT_TRUE(trianglesIntersect(p, base, folded, where));
    EXPECT_FALSE(trianglesIntersect(p, base, corner, where));
    EXPECT_TRUE(trianglesIntersect(p, base, inside, where));
}

TEST(RobustDiagnose, SegmentsAndLoosePoints) {
    Plc plc = shapes::box(0, 0, 0, 1, 1, 1);
    plc.points.push_back(Point3{0.5, 0.5, -1});
    plc.points.push_back(Point3{0.5, 0.5, 0.5});
    plc.segments = {Segment{{8, 9}}};  // from below the bottom face into the box
    EXPECT_THAT(diagnosePlc(plc).error, HasSubstr("segment 0 meets facet "));
    EXPECT_THAT(diagnosePlc(plc).error, HasSubstr(" at (0.5, 0.5, 0)"));

    Plc loose = shapes::box(0, 0, 0, 1, 1, 1);
    loose.points.push_back(Point3{0.25, 0.5, 1});
    EXPECT_THAT(diagnosePlc(loose).error, HasSubstr("point 8 lies on facet "));

    Plc crossing = shapes::box(0, 0, 0, 1, 1, 1);
    crossing.points.push_back(Point3{0.2, 0.2, 0.5});
    crossing.points.push_back(Point3{0.8, 0.8, 0.5});
    crossing.points.push_back(Point3{0.2, 0.8, 0.5});
    crossing.points.push_back(Point3{0.8, 0.2, 0.5});
    crossing.segments = {Segment{{8, 9}}, Segment{{10, 11}}};
    EXPECT_EQ(diagnosePlc(crossing).error, "segments 0 and 1 meet other than at a shared end");
    crossing.segments = {Segment{{8, 9}}, Segment{{8, 10}}};
    EXPECT_TRUE(diagnosePlc(crossing).ok);
    crossing.points.push_back(Point3{0.5, 0.5, 0.5});
    EXPECT_EQ(diagnosePlc(crossing).error, "point 12 lies on segment 0");

    Plc edgeSegment = shapes::box(0, 0, 0, 1, 1, 1);
    edgeSegment.segments = {Segment{{0, 1}}};  // a facet edge: fine
    EXPECT_TRUE(diagnosePlc(edgeSegment).ok);
}

TEST(RobustMesherInput, RejectsBeforeMeshing) {
    RobustTetParams params;
    const Plc empty;
    EXPECT_EQ(meshRobustTets(empty, params).error, "the complex has no facets");
    params.radiusEdgeBound = 1.1;
    EXPECT_EQ(meshRobustTets(shapes::box(0, 0, 0, 1, 1, 1), params).error,
              "'radius_edge_bound' must be at least 1.2 for the robust engine");
    params.radiusEdgeBound = 2;
    Plc huge = shapes::box(0, 0, 0, 1, 1, 1);
    huge.points[0].x = 1e300;
    EXPECT_EQ(meshRobustTets(huge, params).error,
              "a point has a coordinate that is not finite or larger than 1e50 in magnitude");
    // The Steiner budget: the cube at a small volume bound needs far more than ten points.
    params.maxSteinerPoints = 10;
    params.maxVolume = 1e-3;
    const RobustTetMesh mesh = meshRobustTets(shapes::box(0, 0, 0, 1, 1, 1), params);
    EXPECT_FALSE(mesh.ok);
    EXPECT_TRUE(mesh.tets.empty());
    EXPECT_EQ(mesh.error,
              "the Steiner budget of 10 points (max_steiner_points) ran out during quality refinement; raise "
              "max_steiner_points, or max_volume or radius_edge_bound");
}

}  // namespace
