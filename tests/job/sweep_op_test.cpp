// sweep_source_face handler: the presence test, reading order, the fixed failure sentence
// and mat_id read only after a successful sweep.

#include <string>

#include <gtest/gtest.h>

#include "job/dispatch.hpp"
#include "json/json.hpp"

namespace {

JobResult run(const std::string& params) {
    JsonValue job;
    std::string error;
    const std::string text = R"({"op": "sweep_source_face", "params": )" + params + "}";
    if (!parseJson(text, job, error)) {
        ADD_FAILURE() << "bad test JSON: " << error;
        return JobResult{};
    }
    return dispatchJob(job);
}

std::string errorOf(const std::string& params) {
    JobResult r = run(params);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.model.nodes.empty());
    return r.error;
}

const std::string kSquare = R"("boundary": [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0]])";
const std::string kPresence = "missing required 'params.boundary' / numeric 'params.distance'";
const std::string kSentence =
    "sweep_source_face failed (degenerate boundary, non-positive distance/layers, or 2D meshing did not converge)";

TEST(SweepSourceFaceOp, UnitSquareTwoLayersWithMaterial) {
    JobResult r = run("{" + kSquare + R"(, "distance": 3, "nw": 2.9, "mat_id": 4})");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.model.nodes.size(), 12u);
    EXPECT_EQ(r.model.nodes[0].id, 1);
    EXPECT_EQ(r.model.nodes[11].z, 3.0);
    EXPECT_EQ(r.model.nodes[4].z, 1.5);
    ASSERT_EQ(r.model.solids.size(), 2u);
    for (const Solid& s : r.model.solids) {
        EXPECT_EQ(s.kind, "HEX8");
        EXPECT_EQ(s.matId, 4);
    }
    EXPECT_EQ(r.model.solids[1].id, 2);
    EXPECT_TRUE(r.model.areas.empty());
}

TEST(SweepSourceFaceOp, MinQualityAboveOneGivesTetsAndSizingKeysAreNotRead) {
    JobResult r = run("{" + kSquare + R"(, "distance": 1, "min_quality": 2, "max_area": "x", "target_size": 0.01})");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.model.nodes.size(), 8u);
    ASSERT_EQ(r.model.solids.size(), 6u);
    for (const Solid& s : r.model.solids) EXPECT_EQ(s.kind, "TET4");
}

TEST(SweepSourceFaceOp, PresenceOfBoundaryAndNumericDistanceComesFirst) {
    EXPECT_EQ(errorOf("{}"), kPresence);
    EXPECT_EQ(errorOf("{" + kSquare + "}"), kPresence);
    EXPECT_EQ(errorOf(R"({"distance": 1})"), kPresence);
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "distance": null})"), kPresence);
    // A malformed boundary is found only once both keys are there.
    EXPECT_EQ(errorOf(R"({"boundary": 5, "distance": "1"})"), kPresence);
    EXPECT_EQ(errorOf(R"({"boundary": 5, "distance": 1})"), "expected an array of points");
}

TEST(SweepSourceFaceOp, ParametersAreReadInOrder) {
    const std::string base = "{" + kSquare + R"(, "distance": 1, )";
    EXPECT_EQ(errorOf(base + R"("holes": [[[0, 0]]], "nw": "a"})"), "expected a [x, y, z] array");
    EXPECT_EQ(errorOf(base + R"("nw": "a", "min_angle_deg": "b"})"), "'nw' must be a number");
    EXPECT_EQ(errorOf(base + R"("min_angle_deg": "b", "max_steiner_points": "c"})"),
              "'min_angle_deg' must be a number");
    EXPECT_EQ(errorOf(base + R"("max_steiner_points": "c", "min_quality": "d"})"),
              "'max_steiner_points' must be a number");
    EXPECT_EQ(errorOf(base + R"("min_quality": "d"})"), "'min_quality' must be a number");
}

TEST(SweepSourceFaceOp, MeshFailuresGiveTheSentenceAndMatIdIsReadAfterwards) {
    // Counts beyond 32 bits and infinite distances fail like non-positive ones.
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "distance": 1, "nw": 1e12})"), kSentence);
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "distance": 1e400})"), kSentence);
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "distance": 0, "mat_id": "x"})"), kSentence);
}

}  // namespace
