// End-to-end runs of the built quilm_convert program.

#include <dirent.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include "json/json.hpp"
#include "support/cli_runner.hpp"

namespace {

struct ConvertRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ConvertRun convert(const std::string& dir, const std::vector<std::string>& args, const std::string& stdinText = "") {
    writeFile(dir + "/.stdin", stdinText);
    std::string cmd = "cd " + quoted(dir) + " && " + quoted(QUILM_CONVERT_PATH);
    for (const std::string& a : args) cmd += " " + quoted(a);
    cmd += " < .stdin > .stdout 2> .stderr";
    int raw = std::system(cmd.c_str());
    ConvertRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile(dir + "/.stdout");
    r.err = readFile(dir + "/.stderr");
    std::remove((dir + "/.stdin").c_str());
    std::remove((dir + "/.stdout").c_str());
    std::remove((dir + "/.stderr").c_str());
    return r;
}

std::vector<std::string> listDir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

/// A scratch directory holding the demo model (the example hex block) as model.s3d.
std::string demoDir() {
    CliRun mesh = runCli({std::string(QUILM_EXAMPLES_DIR) + "/hex_block.json", "model.s3d"});
    EXPECT_EQ(mesh.status, 0) << mesh.err;
    return mesh.dir;
}

TEST(ConvertCli, WritesEachFormatWithASummaryLine) {
    std::string dir = demoDir();
    for (const char* name : {"out.vtu", "out.vtk", "out.msh"}) {
        ConvertRun r = convert(dir, {"model.s3d", name});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, std::string("wrote ") + name + ": 30 nodes, 8 cells\n");
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(readFile(dir + "/out.vtk").rfind("# vtk DataFile Version 4.2\n", 0), 0u);
    EXPECT_EQ(readFile(dir + "/out.msh").rfind("$MeshFormat\n2.2 0 8\n", 0), 0u);
    ConvertRun svg = convert(dir, {"model.s3d", "OUT.SVG"});
    EXPECT_EQ(svg.status, 0) << svg.err;
    EXPECT_EQ(svg.out, "wrote OUT.SVG: 14 faces of 8 elements, isometric view, shading scaled Jacobian\n");
    EXPECT_EQ(listDir(dir), (std::vector<std::string>{"OUT.SVG", "model.s3d", "out.msh", "out.vtk", "out.vtu"}));
}

TEST(ConvertCli, OutputBytesAreReproducible) {
    std::string dir = demoDir();
    for (const char* name : {"a.vtu", "b.vtu", "a.svg", "b.svg"}) ASSERT_EQ(convert(dir, {"model.s3d", name}).status, 0);
    EXPECT_EQ(readFile(dir + "/a.vtu"), readFile(dir + "/b.vtu"));
    EXPECT_EQ(readFile(dir + "/a.svg"), readFile(dir + "/b.svg"));
}

TEST(ConvertCli, FormatOptionOverridesTheExtension) {
    std::string dir = demoDir();
    ConvertRun r = convert(dir, {"--format", "msh", "model.s3d", "mesh.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFile(dir + "/mesh.txt").rfind("$MeshFormat", 0), 0u);
    ConvertRun eq = convert(dir, {"model.s3d", "--format=vtk", "grid.out"});
    EXPECT_EQ(eq.status, 0) << eq.err;
    EXPECT_EQ(readFile(dir + "/grid.out").rfind("# vtk", 0), 0u);
}

TEST(ConvertCli, UsageAndOptionErrors) {
    std::string dir = demoDir();
    ConvertRun none = convert(dir, {});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err.rfind("usage: quilm_convert ", 0), 0u);
    ConvertRun help = convert(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: quilm_convert ", 0), 0u);
    auto expectError = [&](const std::vector<std::string>& args, const std::string& message) {
        ConvertRun r = convert(dir, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "error: " + message + "\n");
        EXPECT_EQ(r.out, "");
    };
    expectError({"model.s3d", "out.stl"},
                "cannot tell the format of 'out.stl' from its extension; use .vtu, .vtk, .msh or .svg, or --format");
    expectError({"--format", "obj", "model.s3d", "out.vtu"}, "unknown format 'obj' (expected vtu, vtk, msh or svg)");
    expectError({"--shade", "ugly", "model.s3d", "out.svg"},
                "unknown figure 'ugly' for --shade (expected min-angle, max-angle, radius-edge, min-dihedral, "
                "scaled-jacobian or none)");
    expectError({"--shade", "min-angle", "model.s3d", "out.vtu"}, "--shade applies to SVG pictures only");
    expectError({"--json", "model.s3d", "out.vtu"}, "--json goes with --stats");
    expectError({"--stats", "--format", "vtu", "model.s3d"}, "--stats prints a report; it takes no --format or --shade");
    expectError({"--verbose", "model.s3d", "out.vtu"}, "unknown option '--verbose'");
    expectError({"--format", "vtu", "model.s3d", "model.s3d"}, "the output 'model.s3d' would replace the model file");
    expectError({"missing.s3d", "out.vtu"}, "could not open model file 'missing.s3d'");
    expectError({"model.s3d", "no/such/dir/out.vtu"}, "could not write 'no/such/dir/out.vtu'");
    EXPECT_EQ(listDir(dir), (std::vector<std::string>{"model.s3d"}));
}

TEST(ConvertCli, BadModelsLeaveNoOutputAndKeepAnOldOne) {
    std::string dir = demoDir();
    std::string good = readFile(dir + "/model.s3d");
    writeFile(dir + "/old.vtu", "previous result\n");
    struct Case {
        const char* name;
        std::string text;
        const char* message;
    };
    std::string truncated = good.substr(0, good.size() / 2);
    std::string wrongKind = good;
    wrongKind.replace(wrongKind.find("HEX8"), 4, "HEX9");
    std::string dangling = good;
    dangling.replace(dangling.find("[1, 2, 7, 6,"), 12, "[1, 2, 7, 60,");
    std::string nan = good;
    nan.replace(nan.find("\"x\": 0.5"), 8, "\"x\": nan");
    const Case cases[] = {
        {"truncated", truncated, "error: bad.s3d: nodes[23]: not valid JSON: "},
        {"wrong kind", wrongKind, "error: bad.s3d: solids[0] (id 1): unknown solid kind \"HEX9\""},
        {"dangling", dangling, "error: bad.s3d: solids[0] (id 1): node 60 does not exist\n"},
        {"nan", nan, "error: bad.s3d: nodes[1]: not valid JSON: a non-finite number (nan or inf) is not allowed"},
    };
    for (const Case& c : cases) {
        writeFile(dir + "/bad.s3d", c.text);
        for (const char* out : {"old.vtu", "new.msh", "new.svg"}) {
            ConvertRun r = convert(dir, {"bad.s3d", out});
            EXPECT_EQ(r.status, 1) << c.name;
            EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << c.name << ": " << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            EXPECT_EQ(r.out, "");
        }
        EXPECT_EQ(listDir(dir), (std::vector<std::string>{"bad.s3d", "model.s3d", "old.vtu"})) << c.name;
        EXPECT_EQ(readFile(dir + "/old.vtu"), "previous result\n");
    }
}

TEST(ConvertCli, StatsTableAndJson) {
    std::string dir = demoDir();
    ConvertRun table = convert(dir, {"--stats", "model.s3d"});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("HEX8      8         0  scaled Jacobian    1     1    1\n"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("total volume  1\n"), std::string::npos) << table.out;
    ConvertRun json = convert(dir, {"--stats", "--json", "-"}, readFile(dir + "/model.s3d"));
    EXPECT_EQ(json.status, 0) << json.err;
    JsonValue v;
    std::string error;
    ASSERT_TRUE(parseJson(json.out, v, error)) << error;
    EXPECT_EQ(findMember(v, "model")->text, "<stdin>");
    EXPECT_NEAR(findMember(v, "totalVolume")->number, 1.0, 1e-15);
    EXPECT_EQ(findMember(v, "kinds")->items.size(), 1u);
}

TEST(ConvertCli, RefusedPictureCreatesNoFile) {
    // Three nodes and 200001 triangles on them: above the picture's limit.
    std::string text = "{\"nodes\": [{\"id\": 1, \"x\": 0, \"y\": 0, \"z\": 0}, {\"id\": 2, \"x\": 1, \"y\": 0, \"z\": 0},"
                       " {\"id\": 3, \"x\": 0, \"y\": 1, \"z\": 0}], \"elements\": [], \"areas\": [";
    for (int i = 1; i <= 200001; ++i) {
        text += (i > 1 ? ",\n" : "\n") + std::string("{\"id\": ") + std::to_string(i) +
                ", \"kind\": \"CST\", \"nodes\": [1, 2, 3], \"behavior\": \"membrane\", \"thickness\": 0, "
                "\"matId\": 0, \"secId\": 0, \"drilling\": false}";
    }
    text += "], \"solids\": []}";
    std::string dir = makeScratchDir();
    writeFile(dir + "/big.s3d", text);
    ConvertRun r = convert(dir, {"big.s3d", "big.svg"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: the SVG picture is limited to 200000 elements and this model has 200001; convert it to "
                     ".vtu and open that in a viewer\n");
    EXPECT_EQ(listDir(dir), (std::vector<std::string>{"big.s3d"}));
    ConvertRun vtu = convert(dir, {"big.s3d", "big.vtu"});
    EXPECT_EQ(vtu.status, 0) << vtu.err;
}

}  // namespace
