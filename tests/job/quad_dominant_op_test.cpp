// mesh_quad_dominant_area handler: reading order, defaults, ignored keys and which message
// a failure reports.

#include <string>

#include <gtest/gtest.h>

#include "job/dispatch.hpp"
#include "json/json.hpp"

namespace {

JobResult run(const std::string& params) {
    JsonValue job;
    std::string error;
    const std::string text = R"({"op": "mesh_quad_dominant_area", "params": )" + params + "}";
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

size_t countKind(const Model& m, const std::string& kind) {
    size_t n = 0;
    for (const Area& a : m.areas) n += a.kind == kind;
    return n;
}

TEST(MeshQuadDominantAreaOp, UnitSquareWithDefaultsIsOneMembraneQuad) {
    JobResult r = run("{" + kSquare + "}");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.model.nodes.size(), 4u);
    EXPECT_EQ(r.model.nodes[0].id, 1);
    ASSERT_EQ(r.model.areas.size(), 1u);
    const Area& a = r.model.areas[0];
    EXPECT_EQ(a.id, 1);
    EXPECT_EQ(a.kind, "QUAD");
    EXPECT_EQ(a.behavior, "membrane");
    EXPECT_EQ(a.thickness, 0.0);
    EXPECT_EQ(a.matId, 0);
    EXPECT_EQ(a.secId, 0);
    EXPECT_FALSE(a.drilling);
    EXPECT_TRUE(r.model.solids.empty());
}

TEST(MeshQuadDominantAreaOp, MinQualityAndSizingReachTheMesher) {
    JobResult noQuads = run("{" + kSquare + R"(, "min_quality": 1.5})");
    ASSERT_TRUE(noQuads.ok);
    EXPECT_EQ(countKind(noQuads.model, "CST"), 2u);
    EXPECT_EQ(countKind(noQuads.model, "QUAD"), 0u);

    JobResult sized = run("{" + kSquare + R"(, "target_size": 0.3})");
    ASSERT_TRUE(sized.ok);
    EXPECT_GT(sized.model.nodes.size(), 4u);
    JobResult bounded = run("{" + kSquare + R"(, "max_area": 0.05})");
    ASSERT_TRUE(bounded.ok);
    EXPECT_GT(bounded.model.nodes.size(), 4u);

    // A non-positive target size installs no size field.
    JobResult zero = run("{" + kSquare + R"(, "target_size": -1})");
    ASSERT_TRUE(zero.ok);
    EXPECT_EQ(zero.model.areas.size(), 1u);
}

TEST(MeshQuadDominantAreaOp, InteriorIsNotRead) {
    JobResult r = run("{" + kSquare + R"(, "interior": [[0.5, 0.5, 0]]})");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.model.nodes.size(), 4u);
    EXPECT_TRUE(run("{" + kSquare + R"(, "interior": "none"})").ok);
}

TEST(MeshQuadDominantAreaOp, ParametersAreReadInOrder) {
    EXPECT_EQ(errorOf("{}"), "missing required 'params.boundary'");
    EXPECT_EQ(errorOf(R"({"boundary": {}, "holes": 1})"), "expected an array of points");
    EXPECT_EQ(errorOf(R"({"boundary": [[0, 0]]})"), "expected a [x, y, z] array");
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "holes": {}, "min_angle_deg": "a"})"),
              "expected an array of point loops for 'holes'");
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "min_angle_deg": "a", "max_steiner_points": "b"})"),
              "'min_angle_deg' must be a number");
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "max_steiner_points": "b", "max_area": "c"})"),
              "'max_steiner_points' must be a number");
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "max_area": "c", "target_size": "d"})"), "'max_area' must be a number");
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "target_size": "d", "min_quality": "e"})"),
              "'target_size' must be a number");
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "min_quality": null})"), "'min_quality' must be a number");
}

TEST(MeshQuadDominantAreaOp, AnExhaustedBudgetGivesTheSentence) {
    EXPECT_EQ(errorOf("{" + kSquare + R"(, "max_area": 0.001, "max_steiner_points": 5})"),
              "mesh_quad_dominant_area did not converge");
}

}  // namespace
