// mesh_disc and mesh_annulus handlers: reading order, defaults, properties and the
// prefixes of the mesher's messages.

#include <string>

#include <gtest/gtest.h>

#include "job/dispatch.hpp"
#include "json/json.hpp"
#include "support/job_text.hpp"

namespace {

JobResult run(const std::string& text) { return dispatchJobText(text); }

std::string errorOf(const std::string& text) {
    JobResult r = run(text);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.model.nodes.empty());
    return r.error;
}

TEST(MeshDiscOp, DefaultsGiveEightDivisionsAboutZInTheXyPlane) {
    JobResult r = run(R"({"op": "mesh_disc", "params": {"radius": 2}})");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.model.nodes.size(), 81u);
    EXPECT_EQ(r.model.areas.size(), 64u);
    EXPECT_TRUE(r.model.solids.empty());
    EXPECT_EQ(r.model.nodes.front().id, 1);
    EXPECT_EQ(r.model.areas.front().id, 1);
    const Node& centre = r.model.nodes[40];
    EXPECT_EQ(centre.x, 0.0);
    EXPECT_EQ(centre.y, 0.0);
    for (const Node& n : r.model.nodes) EXPECT_EQ(n.z, 0.0);
    for (const Area& a : r.model.areas) {
        EXPECT_EQ(a.matId, 0);
        EXPECT_EQ(a.thickness, 0.0);
    }
}

TEST(MeshDiscOp, CopiesMaterialAndThicknessWithSectionZero) {
    JobResult r = run(R"({"op": "mesh_disc", "params": {"center": [1, 2, 3], "normal": [0, 1, 0],
        "radius": 1, "divisions": 2.9, "mat_id": 7, "thickness": 0.25}})");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.model.nodes.size(), 9u);  // 2.9 truncates to 2
    for (const Area& a : r.model.areas) {
        EXPECT_EQ(a.matId, 7);
        EXPECT_EQ(a.secId, 0);
        EXPECT_EQ(a.thickness, 0.25);
        EXPECT_EQ(a.behavior, "membrane");
    }
    for (const Node& n : r.model.nodes) EXPECT_EQ(n.y, 2.0);
}

TEST(MeshDiscOp, ReadsInOrderAndStopsAtTheFirstFault) {
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"center": [1, 2]}})"), "expected a [x, y, z] array");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"normal": [0, "1", 0], "divisions": "x"}})"),
              "expected a numeric coordinate");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"divisions": "x"}})"),
              "missing required numeric 'params.radius'");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"radius": "1"}})"),
              "missing required numeric 'params.radius'");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"radius": null}})"),
              "missing required numeric 'params.radius'");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc"})"), "missing required numeric 'params.radius'");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"radius": 1, "divisions": "3", "mat_id": "x"}})"),
              "'divisions' must be a number");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"radius": 1, "mat_id": [], "thickness": "x"}})"),
              "'mat_id' must be a number");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"radius": -1, "thickness": "x"}})"),
              "'thickness' must be a number");
}

TEST(MeshDiscOp, PrefixesTheMeshersMessage) {
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"radius": 1, "divisions": 0}})"),
              "mesh_disc failed: disc mesh needs divisions >= 1");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"radius": 0}})"),
              "mesh_disc failed: disc mesh needs a positive radius");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"radius": 1, "normal": [0, 0, 0]}})"),
              "mesh_disc failed: disc mesh needs a non-zero normal");
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"radius": 1, "divisions": 1e9}})"),
              "mesh_disc failed: disc mesh needs divisions <= 4000");
    // Beyond the 32-bit range the count is refused as below one.
    EXPECT_EQ(errorOf(R"({"op": "mesh_disc", "params": {"radius": 1, "divisions": 1e12}})"),
              "mesh_disc failed: disc mesh needs divisions >= 1");
}

TEST(MeshAnnulusOp, DefaultsGiveFourRingsOfThirtyTwo) {
    JobResult r = run(R"({"op": "mesh_annulus", "params": {"r_inner": 1, "r_outer": 2}})");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.model.nodes.size(), 160u);
    EXPECT_EQ(r.model.areas.size(), 128u);
    EXPECT_EQ(r.model.areas.back().nodes, (std::vector<int32_t>{128, 97, 129, 160}));
}

TEST(MeshAnnulusOp, ReadsInOrderAndPrefixesTheMeshersMessage) {
    EXPECT_EQ(errorOf(R"({"op": "mesh_annulus", "params": {"r_outer": 2}})"),
              "missing required numeric 'params.r_inner' / 'params.r_outer'");
    EXPECT_EQ(errorOf(R"({"op": "mesh_annulus", "params": {"r_inner": 1, "r_outer": "2"}})"),
              "missing required numeric 'params.r_inner' / 'params.r_outer'");
    EXPECT_EQ(errorOf(R"({"op": "mesh_annulus", "params": {"center": 5}})"), "expected a [x, y, z] array");
    EXPECT_EQ(errorOf(R"({"op": "mesh_annulus", "params": {"r_inner": 1, "r_outer": 2, "radial": true, "around": "x"}})"),
              "'radial' must be a number");
    EXPECT_EQ(errorOf(R"({"op": "mesh_annulus", "params": {"r_inner": 1, "r_outer": 2, "around": "x", "mat_id": "x"}})"),
              "'around' must be a number");
    EXPECT_EQ(errorOf(R"({"op": "mesh_annulus", "params": {"r_inner": 3, "r_outer": 2, "mat_id": "x"}})"),
              "'mat_id' must be a number");
    EXPECT_EQ(errorOf(R"({"op": "mesh_annulus", "params": {"r_inner": 3, "r_outer": 2, "thickness": {}}})"),
              "'thickness' must be a number");
    EXPECT_EQ(errorOf(R"({"op": "mesh_annulus", "params": {"r_inner": 3, "r_outer": 2}})"),
              "mesh_annulus failed: annulus mesh needs 0 <= r_inner < r_outer");
    EXPECT_EQ(errorOf(R"({"op": "mesh_annulus", "params": {"r_inner": 1, "r_outer": 2, "around": 2}})"),
              "mesh_annulus failed: annulus mesh needs radial >= 1 and around >= 3");
    EXPECT_EQ(errorOf(R"({"op": "mesh_annulus", "params": {"r_inner": 1, "r_outer": 2, "radial": 5000, "around": 5000}})"),
              "mesh_annulus failed: annulus mesh needs (radial + 1) * around <= 16000000");
}

}  // namespace
