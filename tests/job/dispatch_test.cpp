#include "job/dispatch.hpp"

#include <gtest/gtest.h>

#include "job/readers.hpp"

namespace {

JsonValue parsed(const std::string& text) {
    JsonValue v;
    std::string error;
    EXPECT_TRUE(parseJson(text, v, error)) << error;
    return v;
}

std::string jobError(const std::string& text) {
    JobResult r = dispatchJob(parsed(text));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.model.nodes.empty());
    return r.error;
}

TEST(DispatchJob, DocumentShapeIsCheckedInOrder) {
    EXPECT_EQ(jobError("[]"), "job must be a JSON object");
    EXPECT_EQ(jobError("{}"), "missing required string field 'op'");
    EXPECT_EQ(jobError(R"({"op": 3, "params": []})"), "missing required string field 'op'");
    EXPECT_EQ(jobError(R"({"op": null})"), "missing required string field 'op'");
    EXPECT_EQ(jobError(R"({"op": "no_such_op", "params": []})"), "'params' must be an object");
    EXPECT_EQ(jobError(R"({"op": "Hex_Block", "params": {}})"), "unknown op 'Hex_Block'");
    EXPECT_EQ(jobError(R"({"op": "hex_block", "params": null})"), "'params' must be an object");
    EXPECT_EQ(jobError(R"({"op": "a\"b'"})"), "unknown op 'a\"b''");
}

TEST(DispatchJob, FirstOpMemberWins) {
    EXPECT_EQ(jobError(R"({"op": "nope", "op": "hex_block"})"), "unknown op 'nope'");
}

TEST(DispatchJob, AbsentParamsMeansEveryParameterAbsent) {
    EXPECT_EQ(jobError(R"({"op": "hex_block"})"),
              "'params.corners' must be an array of exactly 8 [x, y, z] points");
}

TEST(DispatchJob, SuccessCarriesTheModel) {
    JobResult r = dispatchJob(parsed(R"({"op": "hex_block", "extra": 1, "params": {"corners":
        [[0,0,0],[1,0,0],[1,1,0],[0,1,0],[0,0,1],[1,0,1],[1,1,1],[0,1,1]]}})"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.error.empty());
    EXPECT_EQ(r.model.nodes.size(), 8u);
    EXPECT_EQ(r.model.solids.size(), 1u);
}

TEST(Readers, NumbersAndCounts) {
    JsonValue params = parsed(R"({"a": 2.9, "b": -0.5, "c": "3", "d": null, "e": 1e12, "f": -1e400})");
    double x = 0;
    std::string error;
    EXPECT_TRUE(readNumber(params, "missing", 4.5, x, error));
    EXPECT_EQ(x, 4.5);
    EXPECT_FALSE(readNumber(params, "c", 0, x, error));
    EXPECT_EQ(error, "'c' must be a number");
    EXPECT_FALSE(readNumber(params, "d", 0, x, error));
    EXPECT_EQ(error, "'d' must be a number");
    int32_t n = 0;
    EXPECT_TRUE(readCount(params, "a", 0, n, error));
    EXPECT_EQ(n, 2);
    EXPECT_TRUE(readCount(params, "b", 7, n, error));
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(readCount(params, "e", 0, n, error));
    EXPECT_EQ(n, INT32_MIN);
    EXPECT_TRUE(readCount(params, "f", 0, n, error));
    EXPECT_EQ(n, INT32_MIN);
    EXPECT_EQ(truncateToCount(2147483647.9), 2147483647);
    EXPECT_EQ(truncateToCount(-2147483648.9), INT32_MIN);
    EXPECT_EQ(truncateToCount(2147483648.0), INT32_MIN);
}

TEST(Readers, MaterialIdsOutsideThe32BitRangeAreRefused) {
    JsonValue params = parsed(R"({"mat_id": 2147483647.9})");
    int32_t id = 0;
    std::string error;
    EXPECT_TRUE(readMaterialId(params, id, error));
    EXPECT_EQ(id, 2147483647);
    EXPECT_TRUE(readMaterialId(parsed(R"({"mat_id": -7.5})"), id, error));
    EXPECT_EQ(id, -7);
    EXPECT_TRUE(readMaterialId(parsed("{}"), id, error));
    EXPECT_EQ(id, 0);
    for (const char* bad : {R"({"mat_id": 3e9})", R"({"mat_id": -2147483649})", R"({"mat_id": 1e400})"}) {
        EXPECT_FALSE(readMaterialId(parsed(bad), id, error)) << bad;
        EXPECT_EQ(error, "'mat_id' must be an integer from -2147483648 to 2147483647");
    }
    EXPECT_FALSE(readMaterialId(parsed(R"({"mat_id": "1"})"), id, error));
    EXPECT_EQ(error, "'mat_id' must be a number");
}

TEST(Readers, PointsListsAndHoleLoops) {
    Point3 p;
    std::string error;
    EXPECT_TRUE(readPoint3(parsed("[1, -2, 3.5]"), p, error));
    EXPECT_EQ(p.y, -2.0);
    EXPECT_EQ(p.z, 3.5);
    EXPECT_FALSE(readPoint3(parsed("[1, 2]"), p, error));
    EXPECT_EQ(error, "expected a [x, y, z] array");
    EXPECT_FALSE(readPoint3(parsed("[1, 2, 3, 4]"), p, error));
    EXPECT_EQ(error, "expected a [x, y, z] array");
    EXPECT_FALSE(readPoint3(parsed(R"([1, "2", 3])"), p, error));
    EXPECT_EQ(error, "expected a numeric coordinate");

    std::vector<Point3> list{{9, 9, 9}};
    EXPECT_TRUE(readPointList(parsed("[]"), list, error));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(readPointList(parsed("{}"), list, error));
    EXPECT_EQ(error, "expected an array of points");
    EXPECT_FALSE(readPointList(parsed("[[0,0,0],[1,0]]"), list, error));
    EXPECT_EQ(error, "expected a [x, y, z] array");

    std::vector<std::vector<Point3>> loops;
    EXPECT_FALSE(readHoleLoops(parsed("{}"), loops, error));
    EXPECT_EQ(error, "expected an array of point loops for 'holes'");
    EXPECT_TRUE(readHoleLoops(parsed("[[]]"), loops, error));
    ASSERT_EQ(loops.size(), 1u);
    EXPECT_TRUE(loops[0].empty());
    EXPECT_FALSE(readHoleLoops(parsed("[[[0,0,true]]]"), loops, error));
    EXPECT_EQ(error, "expected a numeric coordinate");
}

}  // namespace
