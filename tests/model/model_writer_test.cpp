#include "model/model_writer.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "support/cli_runner.hpp"

namespace {

std::string written(const Model& model) {
    std::string path = makeScratchDir() + "/m.s3d";
    EXPECT_TRUE(writeModelFile(path, model));
    return readFile(path);
}

TEST(FormatReal, SeventeenSignificantDigitsInGeneralForm) {
    EXPECT_EQ(formatReal(0.0), "0");
    EXPECT_EQ(formatReal(-0.0), "-0");
    EXPECT_EQ(formatReal(1.5), "1.5");
    EXPECT_EQ(formatReal(0.1), "0.10000000000000001");
    EXPECT_EQ(formatReal(100.0), "100");
    EXPECT_EQ(formatReal(1e-5), "1.0000000000000001e-05");
    EXPECT_EQ(formatReal(1e20), "1e+20");
    EXPECT_EQ(formatReal(1e16), "10000000000000000");
    EXPECT_EQ(formatReal(1e17), "1e+17");
    EXPECT_EQ(formatReal(-2.5e-300), "-2.5e-300");
    EXPECT_EQ(formatReal(1.0 / 3.0), "0.33333333333333331");
}

TEST(FormatReal, AgreesWithPrintfAcrossMagnitudes) {
    // A deterministic sweep of bit patterns: normal, subnormal, huge, negative, integral.
    uint64_t bits = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 200000; ++i) {
        bits ^= bits << 13;
        bits ^= bits >> 7;
        bits ^= bits << 17;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        for (double v : {value, std::round(value), static_cast<double>(static_cast<int32_t>(bits)) / 1024.0}) {
            char expected[64];
            std::snprintf(expected, sizeof expected, "%.17g", v);
            ASSERT_EQ(formatReal(v), expected);
        }
    }
}

TEST(ModelWriter, EmptyModelIsSixLines) {
    EXPECT_EQ(written(Model{}),
              "{\n  \"nodes\": [],\n  \"elements\": [],\n  \"areas\": [],\n  \"solids\": []\n}\n");
}

TEST(ModelWriter, OneTriangleIsTheTwelveLineFile) {
    Model m;
    m.nodes = {{1, 0, 0, 0}, {2, 1, 0, 0}, {3, 0, 1, 0}};
    Area a;
    a.id = 1;
    a.nodes = {1, 2, 3};
    a.kind = "CST";
    a.behavior = "membrane";
    m.areas.push_back(a);
    EXPECT_EQ(written(m),
              "{\n"
              "  \"nodes\": [\n"
              "    {\"id\": 1, \"x\": 0, \"y\": 0, \"z\": 0},\n"
              "    {\"id\": 2, \"x\": 1, \"y\": 0, \"z\": 0},\n"
              "    {\"id\": 3, \"x\": 0, \"y\": 1, \"z\": 0}\n"
              "  ],\n"
              "  \"elements\": [],\n"
              "  \"areas\": [\n"
              "    {\"id\": 1, \"kind\": \"CST\", \"nodes\": [1, 2, 3], \"behavior\": \"membrane\", \"thickness\": 0, "
              "\"matId\": 0, \"secId\": 0, \"drilling\": false}\n"
              "  ],\n"
              "  \"solids\": []\n"
              "}\n");
}

TEST(ModelWriter, EveryRecordKindAndField) {
    Model m;
    m.nodes = {{-7, 0.1, 0.2, 0.3}};
    m.elements = {{4, -7, 2, -1, 9}, {5, 1, 2, 0, 0}};
    Area a;
    a.id = 2;
    a.nodes = {1, 2, 3, 4};
    a.kind = "QUAD";
    a.behavior = "membrane";
    a.thickness = 0.25;
    a.matId = 3;
    a.secId = 4;
    a.drilling = true;
    m.areas.push_back(a);
    Solid s;
    s.id = 2147483647;
    s.kind = "TET4";
    s.nodes = {1, 2, 3, -2147483647 - 1};
    s.matId = 5;
    m.solids.push_back(s);
    EXPECT_EQ(written(m),
              "{\n"
              "  \"nodes\": [\n"
              "    {\"id\": -7, \"x\": 0.10000000000000001, \"y\": 0.20000000000000001, \"z\": 0.29999999999999999}\n"
              "  ],\n"
              "  \"elements\": [\n"
              "    {\"id\": 4, \"n1\": -7, \"n2\": 2, \"matId\": -1, \"secId\": 9},\n"
              "    {\"id\": 5, \"n1\": 1, \"n2\": 2, \"matId\": 0, \"secId\": 0}\n"
              "  ],\n"
              "  \"areas\": [\n"
              "    {\"id\": 2, \"kind\": \"QUAD\", \"nodes\": [1, 2, 3, 4], \"behavior\": \"membrane\", \"thickness\": 0.25, "
              "\"matId\": 3, \"secId\": 4, \"drilling\": true}\n"
              "  ],\n"
              "  \"solids\": [\n"
              "    {\"id\": 2147483647, \"kind\": \"TET4\", \"nodes\": [1, 2, 3, -2147483648], \"matId\": 5}\n"
              "  ]\n"
              "}\n");
}

TEST(ModelWriter, UnopenablePathFailsAndCreatesNothing) {
    std::string dir = makeScratchDir();
    EXPECT_FALSE(writeModelFile(dir + "/missing/m.s3d", Model{}));
    EXPECT_FALSE(fileExists(dir + "/missing"));
}

TEST(ModelWriter, FullDeviceReportsFailure) {
    if (!fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    Model m;
    m.nodes.resize(100000, Node{1, 0.5, 0.5, 0.5});
    EXPECT_FALSE(writeModelFile("/dev/full", m));
}

}  // namespace
