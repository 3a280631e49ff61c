#include "mesh3d/robust/robust_mesher.hpp"

#include <gtest/gtest.h>

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

}  // namespace
