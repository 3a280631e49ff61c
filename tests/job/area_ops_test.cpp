// The boundary area operations: reading order, defaults, ignored keys and which message a
// failure reports.

#include <string>

#include <gtest/gtest.h>

#include "job/dispatch.hpp"
#include "job/readers.hpp"
#include "json/json.hpp"
#include "mesh2d/quality_refine.hpp"
#include "support/cli_runner.hpp"

namespace {

JobResult run(const std::string& op, const std::string& params) {
    JsonValue job;
    std::string error;
    const std::string text = R"({"op": ")" + op + R"(", "params": )" + params + "}";
    if (!parseJson(text, job, error)) {
        ADD_FAILURE() << "bad test JSON: " << error;
        return JobResult{};
    }
    return dispatchJob(job);
}

std::string errorOf(const std::string& op, const std::string& params) {
    const JobResult r = run(op, params);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.model.nodes.empty());
    return r.error;
}

const std::string kSquare = R"("boundary": [[0, 0, 0], [4, 0, 0], [4, 4, 0], [0, 4, 0]])";
const std::string kHole = R"("holes": [[[1, 1, 0], [3, 1, 0], [3, 3, 0], [1, 3, 0]]])";

TEST(BoundaryAreaOps, BoundaryIsRequiredAndReadFirst) {
    for (const char* op : {"mesh_polygon_area", "mesh_planar_area", "mesh_quality_area"}) {
        EXPECT_EQ(errorOf(op, R"({"holes": 3, "interior": 3, "min_angle_deg": "x"})"),
                  "missing required 'params.boundary'");
        EXPECT_EQ(errorOf(op, R"({"boundary": {}})"), "expected an array of points");
        EXPECT_EQ(errorOf(op, R"({"boundary": [[0, 0]]})"), "expected a [x, y, z] array");
        EXPECT_EQ(errorOf(op, R"({"boundary": [[0, "0", 0]]})"), "expected a numeric coordinate");
        EXPECT_EQ(errorOf(op, R"({"boundary": null})"), "expected an array of points");
    }
}

TEST(BoundaryAreaOps, HolesComeBeforeInterior) {
    for (const char* op : {"mesh_polygon_area", "mesh_quality_area"}) {
        EXPECT_EQ(errorOf(op, "{" + kSquare + R"(, "holes": {}, "interior": 1})"),
                  "expected an array of point loops for 'holes'");
        EXPECT_EQ(errorOf(op, "{" + kSquare + R"(, "holes": [[[1, 1]]]})"), "expected a [x, y, z] array");
        EXPECT_EQ(errorOf(op, "{" + kSquare + R"(, "holes": [], "interior": {}})"), "expected an array of points");
    }
}

TEST(BoundaryAreaOps, PlanarAreaReadsNoHoles) {
    const JobResult r = run("mesh_planar_area", "{" + kSquare + R"(, "holes": 42})");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.model.nodes.size(), 4u);
    EXPECT_EQ(r.model.areas.size(), 2u);
    EXPECT_EQ(errorOf("mesh_planar_area", "{" + kSquare + R"(, "interior": [1]})"), "expected a [x, y, z] array");
}

TEST(BoundaryAreaOps, AbsentOrEmptyHolesMeshTheBoundaryAlone) {
    const JobResult absent = run("mesh_polygon_area", "{" + kSquare + "}");
    const JobResult empty = run("mesh_polygon_area", "{" + kSquare + R"(, "holes": []})");
    ASSERT_TRUE(absent.ok);
    ASSERT_TRUE(empty.ok);
    EXPECT_EQ(absent.model.areas.size(), 2u);
    EXPECT_EQ(empty.model.areas.size(), 2u);
    const JobResult holed = run("mesh_polygon_area", "{" + kSquare + ", " + kHole + "}");
    ASSERT_TRUE(holed.ok);
    EXPECT_EQ(holed.model.nodes.size(), 8u);
    for (const Area& a : holed.model.areas) {
        EXPECT_EQ(a.kind, "CST");
        EXPECT_EQ(a.behavior, "membrane");
        EXPECT_EQ(a.matId, 0);
        EXPECT_EQ(a.secId, 0);
        EXPECT_EQ(a.thickness, 0.0);
    }
    EXPECT_EQ(holed.model.nodes.front().id, 1);
    EXPECT_EQ(holed.model.areas.front().id, 1);
    EXPECT_TRUE(holed.model.solids.empty());
}

TEST(BoundaryAreaOps, MesherFailuresGiveTheFixedSentences) {
    const std::string line = R"({"boundary": [[0, 0, 0], [1, 1, 1], [2, 2, 2]]})";
    EXPECT_EQ(errorOf("mesh_planar_area", line), "mesh_planar_area failed (degenerate or non-planar boundary)");
    EXPECT_EQ(errorOf("mesh_polygon_area", line),
              "mesh_polygon_area failed (degenerate boundary or conforming triangulation did not converge)");
    EXPECT_EQ(errorOf("mesh_quality_area", line),
              "mesh_quality_area did not converge (degenerate boundary or Steiner budget exhausted)");
    // A loop that repeats its first point never conforms.
    EXPECT_EQ(errorOf("mesh_polygon_area", R"({"boundary": [[0, 0, 0], [4, 0, 0], [4, 4, 0], [0, 4, 0], [0, 0, 0]]})"),
              "mesh_polygon_area failed (degenerate boundary or conforming triangulation did not converge)");
}

TEST(BoundaryAreaOps, ShortHoleIsNamed) {
    const std::string params = "{" + kSquare + R"(, "holes": [[[1, 1, 0], [2, 1, 0], [1, 2, 0]], [[3, 3, 0]]]})";
    EXPECT_EQ(errorOf("mesh_polygon_area", params), "hole 1 has 1 points; a hole loop needs at least 3");
    EXPECT_EQ(errorOf("mesh_quality_area", params), "hole 1 has 1 points; a hole loop needs at least 3");
}

TEST(ReadSizing, InstallsAUniformFieldOnlyForAPositiveTargetSize) {
    JsonValue params;
    std::string error;
    ASSERT_TRUE(parseJson(R"({"target_size": 0.75})", params, error));
    RefineOptions options;
    options.maxArea = 2.5;
    SizingField field{9, {{1, 1, 1, 1}}};
    ASSERT_TRUE(readSizing(params, options, field, error));
    EXPECT_EQ(options.maxArea, 2.5);  // absent: the options' own value stays
    ASSERT_EQ(options.sizing, &field);
    EXPECT_EQ(field.baseSize, 0.75);
    EXPECT_TRUE(field.sources.empty());

    ASSERT_TRUE(parseJson(R"({"max_area": 0.5, "target_size": 0})", params, error));
    ASSERT_TRUE(readSizing(params, options, field, error));
    EXPECT_EQ(options.maxArea, 0.5);
    EXPECT_EQ(options.sizing, nullptr);

    ASSERT_TRUE(parseJson(R"({"max_area": true})", params, error));
    EXPECT_FALSE(readSizing(params, options, field, error));
    EXPECT_EQ(error, "'max_area' must be a number");
}

TEST(MeshQualityAreaOp, NumbersAreReadInOrderAfterThePoints) {
    const std::string q = "mesh_quality_area";
    EXPECT_EQ(errorOf(q, "{" + kSquare + R"(, "interior": 1, "min_angle_deg": "20"})"), "expected an array of points");
    EXPECT_EQ(errorOf(q, "{" + kSquare + R"(, "min_angle_deg": "20", "max_steiner_points": "x"})"),
              "'min_angle_deg' must be a number");
    EXPECT_EQ(errorOf(q, "{" + kSquare + R"(, "max_steiner_points": null, "max_area": "x"})"),
              "'max_steiner_points' must be a number");
    EXPECT_EQ(errorOf(q, "{" + kSquare + R"(, "max_area": [], "target_size": "x"})"), "'max_area' must be a number");
    EXPECT_EQ(errorOf(q, "{" + kSquare + R"(, "target_size": "1"})"), "'target_size' must be a number");
}

TEST(MeshQualityAreaOp, CornerMessageReplacesTheSentence) {
    EXPECT_EQ(errorOf("mesh_quality_area", R"({"boundary": [[0, 0, 0], [10, 0, 0], [0, 1, 0]]})"),
              "input corner angle 5.71 deg at boundary vertex 1 is below min_angle_deg 20.00; Ruppert cannot refine "
              "an angle fixed by the input geometry (reduce min_angle_deg or fix the corner)");
    // Lowering the bound lets the same triangle through.
    const JobResult r = run("mesh_quality_area", R"({"boundary": [[0, 0, 0], [10, 0, 0], [0, 1, 0]], "min_angle_deg": 5})");
    EXPECT_TRUE(r.ok) << r.error;
}

TEST(MeshQualityAreaOp, TargetSizeOfZeroOrBelowIsNoSizeField) {
    const JobResult absent = run("mesh_quality_area", "{" + kSquare + "}");
    ASSERT_TRUE(absent.ok);
    for (const char* t : {"0", "-2"}) {
        const JobResult r = run("mesh_quality_area", "{" + kSquare + R"(, "target_size": )" + t + "}");
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.model.nodes.size(), absent.model.nodes.size());
        EXPECT_EQ(r.model.areas.size(), absent.model.areas.size());
    }
    const JobResult sized = run("mesh_quality_area", "{" + kSquare + R"(, "target_size": 1.5})");
    ASSERT_TRUE(sized.ok);
    EXPECT_GT(sized.model.nodes.size(), absent.model.nodes.size());
}

TEST(MeshQualityAreaOp, SteinerBudgetIsTruncated) {
    const std::string base = "{" + kSquare + R"(, "max_area": 0.5)";
    const JobResult full = run("mesh_quality_area", base + "}");
    ASSERT_TRUE(full.ok);
    const int needed = static_cast<int>(full.model.nodes.size()) - 4;  // one node per insertion
    ASSERT_GT(needed, 1);
    // needed - 0.1 truncates to needed - 1: one short.
    EXPECT_EQ(errorOf("mesh_quality_area", base + R"(, "max_steiner_points": )" + std::to_string(needed - 1) + ".9}"),
              "mesh_quality_area did not converge (degenerate boundary or Steiner budget exhausted)");
    const JobResult enough = run("mesh_quality_area", base + R"(, "max_steiner_points": )" + std::to_string(needed) + ".9}");
    ASSERT_TRUE(enough.ok);
    EXPECT_EQ(enough.model.areas.size(), full.model.areas.size());
}

TEST(MeshQualityAreaOp, SameJobTwiceWritesTheSameBytes) {
    const std::string job = R"({"op": "mesh_quality_area", "params": {"boundary": [[0, 0, 1], [3, 0, 2], [3, 2, 2], [0, 2, 1]],
        "holes": [[[1, 0.5, 1.3333333333333333], [1, 1.5, 1.3333333333333333], [2, 1, 1.6666666666666667]]],
        "min_angle_deg": 25, "max_area": 0.1}})";
    const CliRun first = runCli({"-", "out.s3d"}, job);
    const CliRun second = runCli({"-", "out.s3d"}, job);
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(first.out, second.out);
    const std::string a = readFile(first.dir + "/out.s3d");
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(a, readFile(second.dir + "/out.s3d"));
}

}  // namespace
