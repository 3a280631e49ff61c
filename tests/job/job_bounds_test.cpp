// Jobs asking for huge counts through the shared readers: each is refused with its
// operation's message, quickly and before anything of that size is allocated.

#include <string>

#include <gtest/gtest.h>

#include "job/dispatch.hpp"
#include "job/readers.hpp"
#include "json/json.hpp"
#include "support/job_text.hpp"

namespace {

JobResult run(const std::string& text) { return dispatchJobText(text); }

const char* const kCube =
    R"("corners": [[0,0,0],[1,0,0],[1,1,0],[0,1,0],[0,0,1],[1,0,1],[1,1,1],[0,1,1]])";

TEST(JobBounds, LargestCountsAreRefusedByEveryStructuredOperation) {
    const char* const hexFailed = "hex_block failed (degenerate/inverted corners or non-positive division count)";
    const char* const sweepFailed =
        "sweep_source_face failed (degenerate boundary, non-positive distance/layers, or 2D meshing did not converge)";
    // 2^31 - 1 is the largest count a reader passes on; 2^31 and beyond arrive as INT32_MIN.
    struct Case {
        const char* count;
        bool largest;  ///< read as 2^31 - 1; otherwise as INT32_MIN
    };
    for (const Case& c : {Case{"2147483647", true}, Case{"2147483647.9", true}, Case{"2147483648", false},
                          Case{"1e300", false}, Case{"-2147483649", false}}) {
        const std::string n(c.count);
        for (const char* axis : {"nx", "ny", "nz"}) {
            const JobResult hex = run(std::string(R"({"op": "hex_block", "params": {)") + kCube + ", \"" + axis +
                                      "\": " + n + "}}");
            EXPECT_FALSE(hex.ok) << axis << " " << n;
            EXPECT_EQ(hex.error, hexFailed);
            EXPECT_TRUE(hex.model.nodes.empty());
        }
        const JobResult disc = run(R"({"op": "mesh_disc", "params": {"radius": 1, "divisions": )" + n + "}}");
        EXPECT_FALSE(disc.ok);
        EXPECT_EQ(disc.error, c.largest ? "mesh_disc failed: disc mesh needs divisions <= 4000"
                                        : "mesh_disc failed: disc mesh needs divisions >= 1")
            << n;
        const JobResult ring = run(R"({"op": "mesh_annulus", "params": {"r_inner": 1, "r_outer": 2, "around": )" + n +
                                   "}}");
        EXPECT_FALSE(ring.ok);
        EXPECT_TRUE(ring.model.nodes.empty());
        const JobResult sweep = run(
            R"({"op": "sweep_source_face", "params": {"boundary": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "distance": 1, "nw": )" +
            n + "}}");
        EXPECT_EQ(sweep.error, sweepFailed) << n;
        EXPECT_TRUE(sweep.model.nodes.empty());
    }
}

TEST(JobBounds, DiscDivisionsAtTheBoundPassTheReaderUnchanged) {
    int32_t divisions = 0;
    std::string error;
    JsonValue params;
    ASSERT_TRUE(parseJson(R"({"divisions": 4000.99})", params, error));
    ASSERT_TRUE(readCount(params, "divisions", 8, divisions, error));
    EXPECT_EQ(divisions, 4000);  // truncated, so 4000.99 is at the bound, not past it
    EXPECT_EQ(run(R"({"op": "mesh_disc", "params": {"radius": 1, "divisions": 4001}})").error,
              "mesh_disc failed: disc mesh needs divisions <= 4000");
    // 4000 divisions itself would build 16 million nodes (gigabytes): not run here; the
    // structured bounds tests show it passes the size check.
}

TEST(JobBounds, SweepLayersAreRefusedBeforeTheLayersExist) {
    // 5,333,333 layers fail the three-node estimate at once; 5,333,332 pass it and fail
    // when the square's four nodes a layer are known (21 million points).
    for (const char* layers : {"5333333", "5333332", "16000000"}) {
        const JobResult r = run(
            std::string(R"({"op": "sweep_source_face", "params": {"boundary": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], )") +
            R"("distance": 1, "nw": )" + layers + "}}");
        EXPECT_FALSE(r.ok) << layers;
        EXPECT_TRUE(r.model.solids.empty());
    }
    // Within the bound a sweep still runs.
    const JobResult ok = run(
        R"({"op": "sweep_source_face", "params": {"boundary": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "distance": 1, "nw": 1000}})");
    ASSERT_TRUE(ok.ok) << ok.error;
    EXPECT_EQ(ok.model.solids.size(), 1000u);
    EXPECT_EQ(ok.model.nodes.size(), 4u * 1001u);
}

TEST(JobBounds, AHugePointListCostsOnlyItsOwnSize) {
    // 100,000 interior points, all on one spot inside a unit square: the reader holds them
    // (linear in the job), and the Delaunay mesher gives only the first a triangle.
    std::string interior = "[";
    interior.reserve(100000 * 14);
    for (int i = 0; i < 100000; ++i) interior += i ? ",[0.5,0.5,0]" : "[0.5,0.5,0]";
    interior += "]";
    const std::string job =
        R"({"op": "mesh_planar_area", "params": {"boundary": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "interior": )" +
        interior + "}}";
    const JobResult r = run(job);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.model.nodes.size(), 100004u);  // input points keep their nodes
    EXPECT_EQ(r.model.areas.size(), 4u);
}

}  // namespace
