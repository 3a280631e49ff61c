#include "convert/model_reader.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "model/model_writer.hpp"
#include "support/cli_runner.hpp"

namespace {

/// A small valid model text: two nodes used by a line element, a CST and a TET4.
std::string validText() {
    return "{\n"
           "  \"nodes\": [\n"
           "    {\"id\": 1, \"x\": 0, \"y\": 0, \"z\": 0},\n"
           "    {\"id\": 2, \"x\": 1, \"y\": 0, \"z\": 0},\n"
           "    {\"id\": 3, \"x\": 0, \"y\": 1, \"z\": 0},\n"
           "    {\"id\": 4, \"x\": 0, \"y\": 0, \"z\": -1}\n"
           "  ],\n"
           "  \"elements\": [\n"
           "    {\"id\": 1, \"n1\": 1, \"n2\": 2, \"matId\": 4, \"secId\": 5}\n"
           "  ],\n"
           "  \"areas\": [\n"
           "    {\"id\": 1, \"kind\": \"CST\", \"nodes\": [1, 2, 3], \"behavior\": \"membrane\", \"thickness\": 0.25, "
           "\"matId\": 2, \"secId\": 3, \"drilling\": true}\n"
           "  ],\n"
           "  \"solids\": [\n"
           "    {\"id\": 7, \"kind\": \"TET4\", \"nodes\": [1, 2, 3, 4], \"matId\": 9}\n"
           "  ]\n"
           "}\n";
}

std::string readError(const std::string& text) {
    LoadedModel m;
    std::string error;
    EXPECT_FALSE(readModelText(text, m, error));
    return error;
}

/// The valid text with the first occurrence of `from` replaced by `to`.
std::string edited(const std::string& from, const std::string& to) {
    std::string t = validText();
    size_t at = t.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return t.replace(at, from.size(), to);
}

TEST(ModelReader, ReadsEveryFieldOfEveryRecord) {
    LoadedModel m;
    std::string error;
    ASSERT_TRUE(readModelText(validText(), m, error)) << error;
    ASSERT_EQ(m.nodes.size(), 4u);
    EXPECT_EQ(m.nodes[3].z, -1.0);
    ASSERT_EQ(m.elements.size(), 1u);
    EXPECT_EQ(m.elements[0].n2, 2);
    EXPECT_EQ(m.elements[0].secId, 5);
    ASSERT_EQ(m.areas.size(), 1u);
    const LoadedCell& a = m.areas[0];
    EXPECT_STREQ(a.kind->name, "CST");
    EXPECT_EQ(std::vector<int32_t>(m.nodesOf(a), m.nodesOf(a) + 3), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(a.thickness, 0.25);
    EXPECT_EQ(a.matId, 2);
    EXPECT_EQ(a.secId, 3);
    EXPECT_TRUE(a.drilling);
    ASSERT_EQ(m.solids.size(), 1u);
    EXPECT_EQ(m.solids[0].id, 7);
    EXPECT_EQ(m.solids[0].matId, 9);
    EXPECT_STREQ(m.solids[0].kind->name, "TET4");
    EXPECT_EQ(std::vector<int32_t>(m.nodesOf(m.solids[0]), m.nodesOf(m.solids[0]) + 4),
              (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(m.nodeAt(4), 3u);
}

TEST(ModelReader, ReadsBackWhatTheModelWriterWrites) {
    Model model;
    for (int i = 0; i < 20; ++i) model.nodes.push_back(Node{100 - 3 * i, 0.1 * i, -1e-300 * i, 1e20 / (i + 1)});
    Area quad;
    quad.id = 5;
    quad.kind = "QUAD8";
    quad.nodes = {100, 97, 94, 91, 88, 85, 82, 79};
    quad.behavior = "membrane";
    quad.thickness = 0.1;
    model.areas.push_back(quad);
    Solid hex;
    hex.id = 3;
    hex.kind = "HEX20";
    for (int i = 0; i < 20; ++i) hex.nodes.push_back(100 - 3 * (19 - i));
    model.solids.push_back(hex);
    std::string path = makeScratchDir() + "/m.s3d";
    ASSERT_TRUE(writeModelFile(path, model));

    LoadedModel m;
    std::string error;
    ASSERT_TRUE(readModelText(readFile(path), m, error)) << error;
    ASSERT_EQ(m.nodes.size(), 20u);
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_EQ(m.nodes[i].id, model.nodes[i].id);
        EXPECT_EQ(m.nodes[i].x, model.nodes[i].x);
        EXPECT_EQ(m.nodes[i].y, model.nodes[i].y);
        EXPECT_EQ(m.nodes[i].z, model.nodes[i].z);
    }
    EXPECT_EQ(std::vector<int32_t>(m.nodesOf(m.areas[0]), m.nodesOf(m.areas[0]) + 8), quad.nodes);
    EXPECT_EQ(m.areas[0].thickness, 0.1);
    EXPECT_EQ(std::vector<int32_t>(m.nodesOf(m.solids[0]), m.nodesOf(m.solids[0]) + 20), hex.nodes);
    EXPECT_EQ(m.nodeAt(43), 19u);
}

TEST(ModelReader, EmptyArraysAndKeyOrderAreAccepted) {
    LoadedModel m;
    std::string error;
    EXPECT_TRUE(readModelText("{\"solids\": [], \"areas\":[],\"elements\" :[ ] ,\"nodes\": []}", m, error)) << error;
    EXPECT_TRUE(readModelText(" {\"nodes\": [{\"z\": 3, \"y\": 2, \"x\": 1, \"id\": 5}], \"elements\": [], "
                              "\"areas\": [], \"solids\": []}\r\n",
                              m, error))
        << error;
    EXPECT_EQ(m.nodes[0].z, 3.0);
}

TEST(ModelReader, SparseNodeIdsResolve) {
    std::string t = "{\"nodes\": [{\"id\": 2000000000, \"x\": 0, \"y\": 0, \"z\": 0}, "
                    "{\"id\": 7, \"x\": 1, \"y\": 0, \"z\": 0}], \"elements\": "
                    "[{\"id\": 1, \"n1\": 7, \"n2\": 2000000000, \"matId\": 0, \"secId\": 0}], "
                    "\"areas\": [], \"solids\": []}";
    LoadedModel m;
    std::string error;
    ASSERT_TRUE(readModelText(t, m, error)) << error;
    EXPECT_FALSE(m.nodeIndex.dense);
    EXPECT_EQ(m.nodeAt(2000000000), 0u);
    EXPECT_EQ(m.nodeAt(7), 1u);
    EXPECT_EQ(findId(m.nodeIndex, 8), -1);
}

TEST(ModelReader, RefusesFilesThatAreNotModels) {
    EXPECT_EQ(readError(""), "not a model file: the file is empty");
    EXPECT_EQ(readError("[]"), "not valid JSON: a model file is one object; expected '{' at offset 0 (line 1)");
    EXPECT_EQ(readError("{\"nodes\": [], \"elements\": [], \"areas\": []}"),
              "not a model file: missing key \"solids\"");
    EXPECT_EQ(readError("{\"nodes\": [], \"elements\": [], \"areas\": [], \"solids\": [], \"lines\": []}"),
              "not a model file: unexpected key \"lines\" (a model has \"nodes\", \"elements\", \"areas\" and "
              "\"solids\") at offset 57 (line 1)");
    EXPECT_EQ(readError("{\"nodes\": [], \"nodes\": []}"), "not a model file: duplicate key \"nodes\" at offset 14 (line 1)");
    EXPECT_EQ(readError("{\"nodes\": {}}"), "not a model file: \"nodes\" must be an array at offset 10 (line 1)");
    EXPECT_EQ(readError(validText() + "x"), "not valid JSON: trailing characters after the model object at offset " +
                                                std::to_string(validText().size()) + " (line 18)");
}

TEST(ModelReader, TruncatedFilesAreCutShortWherePossible) {
    std::string t = validText();
    // Cut inside a record: the record's parse names it.
    std::string inRecord = readError(t.substr(0, t.find("\"y\": 0, \"z\": 0},\n    {\"id\": 3")));
    EXPECT_EQ(inRecord.rfind("nodes[1]: not valid JSON: ", 0), 0u) << inRecord;
    // Cut between records.
    std::string between = readError(t.substr(0, t.find("    {\"id\": 3")));
    EXPECT_EQ(between.rfind("not valid JSON: unexpected end of input (the file is cut short)", 0), 0u) << between;
    // Every prefix of the file is refused, never accepted or crashed on.
    for (size_t n = 0; n + 1 < t.size(); ++n) {
        LoadedModel m;
        std::string error;
        EXPECT_FALSE(readModelText(t.substr(0, n), m, error)) << n;
        EXPECT_FALSE(error.empty());
    }
}

TEST(ModelReader, RecordErrorsNameTheRecord) {
    EXPECT_EQ(readError(edited("\"kind\": \"CST\"", "\"kind\": \"TRI3\"")),
              "areas[0] (id 1): unknown area kind \"TRI3\" (expected CST, QUAD, TRI6 or QUAD8)");
    EXPECT_EQ(readError(edited("\"kind\": \"TET4\"", "\"kind\": \"CST\"")),
              "solids[0] (id 7): unknown solid kind \"CST\" (expected TET4, HEX8, TET10 or HEX20)");
    EXPECT_EQ(readError(edited("\"kind\": \"TET4\"", "\"kind\": \"tet4\"")),
              "solids[0] (id 7): unknown solid kind \"tet4\" (expected TET4, HEX8, TET10 or HEX20)");
    EXPECT_EQ(readError(edited("[1, 2, 3, 4]", "[1, 2, 3]")), "solids[0] (id 7): \"nodes\" has 3 entries; a TET4 has 4");
    EXPECT_EQ(readError(edited("[1, 2, 3, 4]", "[1, 2, 3, 99]")), "solids[0] (id 7): node 99 does not exist");
    EXPECT_EQ(readError(edited("\"n2\": 2", "\"n2\": 0")), "elements[0] (id 1): node 0 does not exist");
    EXPECT_EQ(readError(edited("[1, 2, 3]", "[1, 2.5, 3]")),
              "areas[0] (id 1): \"nodes\"[1] must be a 32-bit integer, got 2.5");
    EXPECT_EQ(readError(edited("\"id\": 2,", "\"id\": 1,")), "nodes[1] (id 1): duplicate id (also nodes[0])");
    EXPECT_EQ(readError(edited("\"id\": 3, \"x\"", "\"id\": 0, \"x\"")),
              "nodes[2]: \"id\" must be a positive integer, got 0");
    EXPECT_EQ(readError(edited("\"matId\": 9", "\"matId\": 2147483648")),
              "solids[0] (id 7): \"matId\" must be a 32-bit integer, got 2147483648");
    EXPECT_EQ(readError(edited("\"matId\": 9", "\"matId\": \"9\"")), "solids[0] (id 7): \"matId\" must be an integer, got a string");
    EXPECT_EQ(readError(edited("\"matId\": 9", "\"matId\": 9, \"secId\": 0")), "solids[0] (id 7): unexpected key \"secId\"");
    EXPECT_EQ(readError(edited(", \"matId\": 9", "")), "solids[0] (id 7): missing key \"matId\"");
    EXPECT_EQ(readError(edited("\"drilling\": true", "\"drilling\": 1")),
              "areas[0] (id 1): \"drilling\" must be true or false, got 1");
    EXPECT_EQ(readError(edited("\"thickness\": 0.25", "\"thickness\": null")),
              "areas[0] (id 1): \"thickness\" must be a number, got null");
    EXPECT_EQ(readError(edited("{\"id\": 7, \"kind\": \"TET4\", \"nodes\": [1, 2, 3, 4], \"matId\": 9}", "[7]")),
              "solids[0]: expected an object, got an array");
    EXPECT_EQ(readError(edited("\"x\": 1,", "\"x\": 1, \"x\": 1,")), "nodes[1] (id 2): duplicate key \"x\"");
}

TEST(ModelReader, NonFiniteNumbersAreRefused) {
    EXPECT_EQ(readError(edited("\"x\": 1,", "\"x\": 1e400,")), "nodes[1] (id 2): \"x\" must be a finite number, got inf");
    EXPECT_EQ(readError(edited("\"thickness\": 0.25", "\"thickness\": -1e999")),
              "areas[0] (id 1): \"thickness\" must be a finite number, got -inf");
    // What a printf of NaN or infinity would leave in the file.
    for (const char* bad : {"nan", "-nan", "NaN", "inf", "-inf", "Infinity"}) {
        std::string e = readError(edited("\"y\": 1,", std::string("\"y\": ") + bad + ","));
        EXPECT_EQ(e.rfind("nodes[2]: not valid JSON: a non-finite number (nan or inf) is not allowed at offset ", 0), 0u)
            << bad << ": " << e;
        EXPECT_NE(e.find("(line 5)"), std::string::npos) << e;
    }
}

TEST(ModelReader, SyntaxErrorsInsideARecordGiveAbsoluteOffsets) {
    std::string t = edited("\"y\": 0, \"z\": -1}", "\"y\": 0 \"z\": -1}");
    size_t at = t.find(" \"z\": -1}") + 1;
    EXPECT_EQ(readError(t), "nodes[3]: not valid JSON: expected ',' or '}' at offset " + std::to_string(at) + " (line 6)");
}

TEST(ModelReader, DeepNestingIsRefusedWithoutRecursion) {
    std::string deep = "{\"nodes\": [" + std::string(100000, '[') + "]}";
    std::string e = readError(deep);
    EXPECT_EQ(e.rfind("nodes[0]: not valid JSON: ", 0), 0u) << e;
}

TEST(IdIndex, ReportsTheFirstRepeatInFileOrderForDenseAndSparseIds) {
    IdIndex index;
    size_t repeat = 0, earlier = 0;
    EXPECT_FALSE(buildIdIndex({5, 3, 9, 3, 5}, index, repeat, earlier));
    EXPECT_EQ(repeat, 3u);
    EXPECT_EQ(earlier, 1u);
    EXPECT_FALSE(buildIdIndex({2000000000, 3, 1500000000, 3, 2000000000}, index, repeat, earlier));
    EXPECT_FALSE(index.dense);
    EXPECT_EQ(repeat, 3u);
    EXPECT_EQ(earlier, 1u);
    ASSERT_TRUE(buildIdIndex({2000000000, 3, 1500000000}, index, repeat, earlier));
    EXPECT_EQ(findId(index, 1500000000), 2);
    EXPECT_EQ(findId(index, 4), -1);
}

}  // namespace

namespace {

std::string nodeRecord(int id, const std::string& x, const std::string& y, const std::string& z) {
    return "{\"id\": " + std::to_string(id) + ", \"x\": " + x + ", \"y\": " + y + ", \"z\": " + z + "}";
}

/// Reads `text` both ways (writer's layout read directly, and every record through the
/// parser) and expects the same model.
void expectBothPathsAgree(const std::string& text) {
    LoadedModel fast, slow;
    std::string e1, e2;
    bool ok1 = readModelText(text, fast, e1, true);
    bool ok2 = readModelText(text, slow, e2, false);
    ASSERT_EQ(ok1, ok2) << e1 << " / " << e2;
    ASSERT_EQ(e1, e2);
    if (!ok1) return;
    ASSERT_EQ(fast.nodes.size(), slow.nodes.size());
    for (size_t i = 0; i < fast.nodes.size(); ++i) {
        EXPECT_EQ(fast.nodes[i].id, slow.nodes[i].id);
        // Bit for bit, so that -0 and 0 differ.
        EXPECT_EQ(std::memcmp(&fast.nodes[i].x, &slow.nodes[i].x, sizeof(double)), 0) << i;
        EXPECT_EQ(std::memcmp(&fast.nodes[i].y, &slow.nodes[i].y, sizeof(double)), 0) << i;
        EXPECT_EQ(std::memcmp(&fast.nodes[i].z, &slow.nodes[i].z, sizeof(double)), 0) << i;
    }
    ASSERT_EQ(fast.areas.size(), slow.areas.size());
    for (size_t i = 0; i < fast.areas.size(); ++i) {
        EXPECT_EQ(fast.areas[i].kind, slow.areas[i].kind);
        EXPECT_EQ(fast.areas[i].thickness, slow.areas[i].thickness);
        EXPECT_EQ(fast.areas[i].drilling, slow.areas[i].drilling);
        EXPECT_EQ(fast.areas[i].secId, slow.areas[i].secId);
    }
    ASSERT_EQ(fast.solids.size(), slow.solids.size());
    EXPECT_EQ(fast.cellNodes, slow.cellNodes);
}

TEST(ModelReader, DirectAndParsedReadingsAgreeOnNumbers) {
    // Numbers in every JSON form, the edges of the double range among them.
    std::vector<std::string> reals = {"0", "-0", "1", "-1.5", "0.10000000000000001", "1e-05", "1E+20", "2.5e-300",
                                      "4.9406564584124654e-324", "2.2250738585072011e-308", "1.7976931348623157e+308",
                                      "123456789012345678901234567890", "0.000000000000000000000000000001",
                                      "1e400", "-1e400", "1e-400", "01", "1.", ".5", "+1", "0x10", "1e", "--1"};
    uint64_t bits = 0x2545F4914F6CDD1Dull;
    for (int i = 0; i < 300; ++i) {
        bits ^= bits << 13;
        bits ^= bits >> 7;
        bits ^= bits << 17;
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (std::isfinite(d)) reals.push_back(formatReal(d));
    }
    for (const std::string& r : reals) {
        std::string text = "{\"nodes\": [" + nodeRecord(1, r, "0", r) + "], \"elements\": [], \"areas\": [], \"solids\": []}";
        expectBothPathsAgree(text);
    }
    for (const char* id : {"1", "2147483647", "2147483648", "0", "-1", "1.0", "1e0", "01", "-0"}) {
        expectBothPathsAgree("{\"nodes\": [{\"id\": " + std::string(id) +
                             ", \"x\": 0, \"y\": 0, \"z\": 0}], \"elements\": [], \"areas\": [], \"solids\": []}");
    }
}

TEST(ModelReader, DirectAndParsedReadingsAgreeOnRecords) {
    const std::string area = "{\"id\": 1, \"kind\": \"CST\", \"nodes\": [1, 2, 3], \"behavior\": \"membrane\", "
                             "\"thickness\": 0.5, \"matId\": -3, \"secId\": 4, \"drilling\": true}";
    std::vector<std::string> variants = {
        area,
        // Same content, other layouts: every one of these goes through the parser.
        "{\"id\":1,\"kind\":\"CST\",\"nodes\":[1,2,3],\"behavior\":\"membrane\",\"thickness\":0.5,\"matId\":-3,"
        "\"secId\":4,\"drilling\":true}",
        "{\"kind\": \"CST\", \"id\": 1, \"nodes\": [1, 2, 3], \"behavior\": \"membrane\", \"thickness\": 0.5, "
        "\"matId\": -3, \"secId\": 4, \"drilling\": true}",
        "{\"id\": 1, \"kind\": \"C\\u0053T\", \"nodes\": [1, 2, 3], \"behavior\": \"mem\\\"brane\", \"thickness\": 0.5, "
        "\"matId\": -3, \"secId\": 4, \"drilling\": true}",
        "{\"id\": 1, \"kind\": \"CST\", \"nodes\": [1, 2, 3], \"behavior\": \"membrane\", \"thickness\": 0.5, "
        "\"matId\": -3, \"secId\": 4, \"drilling\": true, \"drilling\": false}",
        "{\"id\": 1, \"kind\": \"CST\", \"nodes\": [1, 2, 3, 4], \"behavior\": \"membrane\", \"thickness\": 0.5, "
        "\"matId\": -3, \"secId\": 4, \"drilling\": true}",
        "{\"id\": 1, \"kind\": \"CST\", \"nodes\": [1, 2, 3], \"behavior\": \"membrane\", \"thickness\": 0.5, "
        "\"matId\": -3, \"secId\": 4, \"drilling\": truex}",
    };
    const std::string nodes = nodeRecord(1, "0", "0", "0") + ", " + nodeRecord(2, "1", "0", "0") + ", " +
                              nodeRecord(3, "0", "1", "0") + ", " + nodeRecord(4, "0", "0", "1");
    for (const std::string& v : variants) {
        expectBothPathsAgree("{\"nodes\": [" + nodes + "], \"elements\": [], \"areas\": [" + v + "], \"solids\": []}");
    }
}

TEST(ModelReader, LongFilesAreReadThroughTheWindow) {
    // About 3 MB: past the read window several times, with records in other layouts
    // spread through it and one record longer than a window chunk.
    std::string text = "{\"nodes\": [\n";
    const int count = 40000;
    for (int i = 1; i <= count; ++i) {
        if (i > 1) text += ",\n";
        if (i % 997 == 0) {
            text += "{\"z\": " + std::to_string(i) + ",\"y\":0, \"x\" :  1e0, \"id\": " + std::to_string(i) + "}";
        } else if (i == 20000) {
            text += "{\"id\": 20000," + std::string(1500000, ' ') + "\"x\": 1, \"y\": 0, \"z\": 20000}";
        } else {
            text += nodeRecord(i, "1", "0", std::to_string(i));
        }
    }
    text += "\n], \"elements\": [], \"areas\": [], \"solids\": [\n";
    for (int i = 1; i <= 3000; ++i) {
        if (i > 1) text += ",\n";
        text += "{\"id\": " + std::to_string(i) + ", \"kind\": \"TET4\", \"nodes\": [" + std::to_string(i) + ", " +
                std::to_string(i + 1) + ", " + std::to_string(i + 2) + ", " + std::to_string(i + 3) + "], \"matId\": 1}";
    }
    text += "\n]}\n";
    ASSERT_GT(text.size(), 3000000u);
    LoadedModel m;
    std::string error;
    ASSERT_TRUE(readModelText(text, m, error)) << error;
    ASSERT_EQ(m.nodes.size(), static_cast<size_t>(count));
    for (int i = 1; i <= count; ++i) {
        ASSERT_EQ(m.nodes[static_cast<size_t>(i - 1)].id, i);
        ASSERT_EQ(m.nodes[static_cast<size_t>(i - 1)].z, static_cast<double>(i));
    }
    EXPECT_EQ(m.solids.size(), 3000u);
    EXPECT_EQ(m.nodesOf(m.solids[2999])[3], 3003);
    expectBothPathsAgree(text);

    // A fault near the end is reported at its place in the whole file.
    std::string bad = text;
    size_t at = bad.rfind("\"matId\": 1}");
    bad.replace(at, 11, "\"matId\": 1]");
    size_t line = static_cast<size_t>(std::count(bad.begin(), bad.begin() + static_cast<std::ptrdiff_t>(at), '\n')) + 1;
    EXPECT_EQ(readError(bad), "solids[2999]: not valid JSON: expected ',' or '}' at offset " + std::to_string(at + 10) +
                                  " (line " + std::to_string(line) + ")");
    bad = text;
    at = bad.rfind("\"id\": 39000,");
    bad.replace(at, 12, "\"id\": 39000.5,");
    EXPECT_EQ(readError(bad), "nodes[38999]: \"id\" must be a 32-bit integer, got 39000.5");
}

}  // namespace
