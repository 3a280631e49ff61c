#include "mesh3d/robust/robust_mesher.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "mesh3d/robust/robust_shapes.hpp"

namespace {

RobustTetMesh run(const Plc& plc, double maxVolume, double bound = 2.0, int32_t budget = 200000) {
    RobustTetParams params;
    params.maxVolume = maxVolume;
    params.radiusEdgeBound = bound;
    params.maxSteinerPoints = budget;
    return meshRobustTets(plc, params);
}

TEST(RobustMesher, UnitCube) {
    const Plc plc = shapes::box(0, 0, 0, 1, 1, 1);
    const RobustTetMesh mesh = run(plc, 0.01);
    ASSERT_TRUE(mesh.ok) << mesh.error;
    const shapes::CheckResult c = shapes::check(plc, mesh.points, mesh.tets, 0.01, 2.0);
    EXPECT_EQ(c.failure, "");
    EXPECT_EQ(c.overVolume, 0);
    EXPECT_EQ(c.overRatio, 0);
}

TEST(RobustMesher, PointsOnAFacetLieOnItsPlane) {
    // A cell's circumcentre far beyond a boundary face puts a point where the segment from
    // the cell to it meets the face; computed in space, that point lay 7e-9 off the plane of
    // this cone's side, the boundary faces around it bent off the facet.
    const Plc plc = shapes::cone(11, 0.50473419084248117, 0.31489068958251515);
    const double maxVolume = 7.2852951053549458e-05;
    const RobustTetMesh mesh = run(plc, maxVolume);
    ASSERT_TRUE(mesh.ok) << mesh.error;
    const shapes::CheckResult c = shapes::check(plc, mesh.points, mesh.tets, maxVolume, 2.0);
    EXPECT_EQ(c.failure, "");
    EXPECT_LT(c.offPlane, 1e-13);
}

TEST(RobustMesher, SegmentInsideTheSolidBecomesEdges) {
    Plc plc = shapes::box(0, 0, 0, 1, 1, 1);
    plc.points.push_back(Point3{0.2, 0.3, 0.25});
    plc.points.push_back(Point3{0.8, 0.7, 0.6});
    plc.segments = {Segment{{8, 9}}};
    const RobustTetMesh mesh = run(plc, 0.005);
    ASSERT_TRUE(mesh.ok) << mesh.error;
    EXPECT_EQ(shapes::check(plc, mesh.points, mesh.tets, 0.005, 2.0).failure, "");
    // The edges of the mesh on the segment's line cover it from end to end.
    const Point3 a = plc.points[8], b = plc.points[9];
    const double length = std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y) + (b.z - a.z) * (b.z - a.z));
    auto onSegment = [&](int64_t i) {
        const Point3& p = mesh.points[i];
        const double da = std::sqrt((p.x - a.x) * (p.x - a.x) + (p.y - a.y) * (p.y - a.y) + (p.z - a.z) * (p.z - a.z));
        const double db = std::sqrt((p.x - b.x) * (p.x - b.x) + (p.y - b.y) * (p.y - b.y) + (p.z - b.z) * (p.z - b.z));
        return std::fabs(da + db - length) <= 1e-12 * length;
    };
    std::set<std::pair<int64_t, int64_t>> edges;
    for (const TetCell& t : mesh.tets) {
        for (int i = 0; i < 4; ++i) {
            for (int j = i + 1; j < 4; ++j) {
                if (onSegment(t.v[i]) && onSegment(t.v[j])) edges.insert({std::min(t.v[i], t.v[j]), std::max(t.v[i], t.v[j])});
            }
        }
    }
    double covered = 0;
    for (const auto& e : edges) {
        const Point3& p = mesh.points[e.first];
        const Point3& q = mesh.points[e.second];
        covered += std::sqrt((p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) + (p.z - q.z) * (p.z - q.z));
    }
    EXPECT_NEAR(covered, length, 1e-12 * length);
}

TEST(RobustMesher, InconsistentlyWoundClosedSurfaceIsMeshed) {
    Plc plc = shapes::box(0, 0, 0, 1, 1, 1);
    std::swap(plc.facets[3].v[1], plc.facets[3].v[2]);
    std::swap(plc.facets[8].v[1], plc.facets[8].v[2]);
    const RobustTetMesh mesh = run(plc, 0.01);
    ASSERT_TRUE(mesh.ok) << mesh.error;
    double volume = 0;
    for (const TetCell& t : mesh.tets) {
        volume += shapes::tetVolume(mesh.points[t.v[0]], mesh.points[t.v[1]], mesh.points[t.v[2]], mesh.points[t.v[3]]);
    }
    EXPECT_NEAR(volume, 1.0, 1e-12);
}

}  // namespace
