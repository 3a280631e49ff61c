// upgrade_to_quadratic handler: nested dispatch, error prefixes per level, idempotence of
// double nesting, and the bound on nesting depth from end to end.

#include <string>

#include <gtest/gtest.h>

#include "job/dispatch.hpp"
#include "json/json.hpp"
#include "support/job_text.hpp"
#include "support/cli_runner.hpp"

namespace {

JobResult run(const std::string& text) { return dispatchJobText(text); }

const char* kOneHex =
    R"({"op": "hex_block", "params": {"corners": [[0,0,0],[2,0,0],[2,2,0],[0,2,0],[0,0,2],[2,0,2],[2,2,2],[0,2,2]]}})";

std::string upgradeOf(const std::string& job) {
    return R"({"op": "upgrade_to_quadratic", "params": {"job": )" + job + "}}";
}

void expectSameModel(const Model& a, const Model& b) {
    ASSERT_EQ(a.nodes.size(), b.nodes.size());
    for (size_t i = 0; i < a.nodes.size(); ++i) {
        EXPECT_EQ(a.nodes[i].id, b.nodes[i].id);
        EXPECT_EQ(a.nodes[i].x, b.nodes[i].x);
        EXPECT_EQ(a.nodes[i].y, b.nodes[i].y);
        EXPECT_EQ(a.nodes[i].z, b.nodes[i].z);
    }
    ASSERT_EQ(a.areas.size(), b.areas.size());
    for (size_t i = 0; i < a.areas.size(); ++i) {
        EXPECT_EQ(a.areas[i].kind, b.areas[i].kind);
        EXPECT_EQ(a.areas[i].nodes, b.areas[i].nodes);
    }
    ASSERT_EQ(a.solids.size(), b.solids.size());
    for (size_t i = 0; i < a.solids.size(); ++i) {
        EXPECT_EQ(a.solids[i].kind, b.solids[i].kind);
        EXPECT_EQ(a.solids[i].nodes, b.solids[i].nodes);
    }
}

TEST(UpgradeOp, OneHexBlockCellBecomesOneHex20) {
    JobResult r = run(upgradeOf(kOneHex));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.model.nodes.size(), 20u);
    ASSERT_EQ(r.model.solids.size(), 1u);
    EXPECT_EQ(r.model.solids[0].kind, "HEX20");
    EXPECT_EQ(r.model.solids[0].nodes.size(), 20u);
    EXPECT_EQ(r.model.nodes[8].id, 9);
    EXPECT_EQ(r.model.nodes[8].x, 1.0);  // between (0,0,0) and (2,0,0)
}

TEST(UpgradeOp, DoubleNestingGivesTheSameModelAsSingle) {
    JobResult once = run(upgradeOf(kOneHex));
    JobResult twice = run(upgradeOf(upgradeOf(kOneHex)));
    ASSERT_TRUE(once.ok);
    ASSERT_TRUE(twice.ok) << twice.error;
    expectSameModel(once.model, twice.model);
}

TEST(UpgradeOp, EveryLevelPrefixesTheFailureBelowIt) {
    JobResult r = run(upgradeOf(R"({"op": "no_such_op", "params": {}})"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "nested job failed: unknown op 'no_such_op'");
    r = run(upgradeOf(upgradeOf(R"({"op": "mesh_disc", "params": {"radius": 0}})")));
    EXPECT_EQ(r.error, "nested job failed: nested job failed: mesh_disc failed: disc mesh needs a positive radius");
    r = run(upgradeOf(R"({"op": "hex_block", "params": []})"));
    EXPECT_EQ(r.error, "nested job failed: 'params' must be an object");
    r = run(upgradeOf(R"({"params": {}})"));
    EXPECT_EQ(r.error, "nested job failed: missing required string field 'op'");
    EXPECT_TRUE(r.model.nodes.empty());
}

TEST(UpgradeOp, RequiresAnObjectJob) {
    const std::string message = "missing required object 'params.job' (a nested job document)";
    EXPECT_EQ(run(R"({"op": "upgrade_to_quadratic", "params": {"job": "hex_block"}})").error, message);
    EXPECT_EQ(run(R"({"op": "upgrade_to_quadratic", "params": {"job": [1]}})").error, message);
    EXPECT_EQ(run(R"({"op": "upgrade_to_quadratic", "params": {}})").error, message);
    EXPECT_EQ(run(R"({"op": "upgrade_to_quadratic"})").error, message);
}

TEST(UpgradeOp, NestedJobSeesOnlyItsOwnParams) {
    // The outer radius does not reach the nested disc.
    JobResult r = run(R"({"op": "upgrade_to_quadratic", "params": {"radius": 1, "job": {"op": "mesh_disc"}}})");
    EXPECT_EQ(r.error, "nested job failed: missing required numeric 'params.radius'");
}

TEST(UpgradeOp, DispatchesEveryOperationLikeATopLevelJob) {
    // Whatever an operation answers on its own, nested it answers the same after the prefix.
    for (const char* op : {"mesh_quality_area", "mesh_planar_area", "mesh_polygon_area", "mesh_dxf_area",
                           "mesh_step", "mesh_quad_dominant_area", "refine_quality_tet", "mesh_stl_solid",
                           "hex_block", "sweep_source_face", "upgrade_to_quadratic", "mesh_disc",
                           "mesh_annulus"}) {
        const std::string job = std::string(R"({"op": ")") + op + R"(", "params": {}})";
        JobResult alone = run(job);
        JobResult nested = run(upgradeOf(job));
        ASSERT_FALSE(alone.ok) << op;
        EXPECT_EQ(nested.error, "nested job failed: " + alone.error) << op;
    }
}

/// `levels` upgrade_to_quadratic jobs wrapped around one hex_block cell.
std::string nestedJob(int levels) {
    std::string job = kOneHex;
    for (int i = 0; i < levels; ++i) job = upgradeOf(job);
    return job;
}

TEST(UpgradeOpCli, NestingUpToTheDepthLimitRunsAndBeyondItFailsCleanly) {
    // Each level is two objects deep; the innermost corner arrays are three below the
    // innermost job, so 254 levels reach depth 511 and 255 levels pass the limit of 512.
    static_assert(kMaxJsonDepth == 512, "the level counts below assume this limit");
    CliRun deepest = runCli({"-", "out.s3d"}, nestedJob(254));
    EXPECT_EQ(deepest.status, 0) << deepest.err;
    EXPECT_EQ(deepest.out, "wrote out.s3d: 20 nodes, 0 areas, 1 solids\n");

    CliRun beyond = runCli({"-", "out.s3d"}, nestedJob(255));
    EXPECT_EQ(beyond.status, 1);
    EXPECT_EQ(beyond.out, "");
    EXPECT_EQ(beyond.err.rfind("error: invalid JSON: arrays and objects nested deeper than 512", 0), 0u) << beyond.err;
    EXPECT_FALSE(fileExists(beyond.dir + "/out.s3d"));

    std::string absurd;  // far deeper than any stack would take unguarded
    for (int i = 0; i < 200000; ++i) absurd += R"({"op": "upgrade_to_quadratic", "params": {"job": )";
    CliRun huge = runCli({"-", "out.s3d"}, absurd);
    EXPECT_EQ(huge.status, 1);
    EXPECT_EQ(huge.err.rfind("error: invalid JSON: arrays and objects nested deeper than 512", 0), 0u);
    EXPECT_FALSE(fileExists(huge.dir + "/out.s3d"));
}

}  // namespace
