// The program's command line, reading, exit status and output lines, run as a process.

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "cli/job_runner.hpp"

#include "support/cli_runner.hpp"

namespace {

const char* kCubeJob =
    R"({"op": "hex_block", "params": {"corners": [[0,0,0],[1,0,0],[1,1,0],[0,1,0],[0,0,1],[1,0,1],[1,1,1],[0,1,1]],
        "nx": 2, "ny": 2, "nz": 2}})";

TEST(Cli, NoArgumentsPrintsUsage) {
    CliRun r = runCli({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "usage: quilm_mesher_cli <job.json>|- [output.s3d]\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fileExists(r.dir + "/output.s3d"));
}

TEST(Cli, JobFromStdinWritesDefaultOutput) {
    CliRun r = runCli({"-"}, kCubeJob);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "wrote output.s3d: 27 nodes, 0 areas, 8 solids\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fileExists(r.dir + "/output.s3d"));
}

TEST(Cli, JobFileAndOutputPathAsGiven) {
    std::string dir = makeScratchDir();
    writeFile(dir + "/--", kCubeJob);  // "--" is an ordinary file name
    CliRun r = runCli({"--", "./sub.s3d", "ignored"}, "", dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "wrote ./sub.s3d: 27 nodes, 0 areas, 8 solids\n");
    EXPECT_EQ(readFile(dir + "/sub.s3d").substr(0, 14), "{\n  \"nodes\": [");
}

TEST(Cli, UnopenableAndUnreadableJobFiles) {
    CliRun missing = runCli({"-x"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "error: could not open job file '-x'\n");
    std::string dir = makeScratchDir();
    CliRun directory = runCli({dir});
    EXPECT_EQ(directory.status, 1);
    EXPECT_EQ(directory.err, "error: could not read job file '" + dir + "'\n");
}

TEST(Cli, UnreadableStandardInput) {
    // A directory on standard input opens but cannot be read.
    std::string dir = makeScratchDir();
    std::string cmd = "cd '" + dir + "' && '" + QUILM_CLI_PATH + "' - < . > out.txt 2> err.txt";
    int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_EQ(readFile(dir + "/err.txt"), "error: could not read job JSON from stdin\n");
    EXPECT_EQ(readFile(dir + "/out.txt"), "");
    EXPECT_FALSE(fileExists(dir + "/output.s3d"));
}

TEST(Cli, ParseFailuresCarryThePrefixAndOffset) {
    EXPECT_EQ(runCli({"-"}, "").err, "error: invalid JSON: unexpected end of input at offset 0\n");
    EXPECT_EQ(runCli({"-"}, "\xEF\xBB\xBF{}").err, "error: invalid JSON: invalid number at offset 0\n");
    EXPECT_EQ(runCli({"-"}, "{} x").err, "error: invalid JSON: trailing characters after JSON value at offset 3\n");
    CliRun r = runCli({"-"}, "{\r\n\"op\": 1\r\n}");
    EXPECT_EQ(r.err, "error: missing required string field 'op'\n");
    EXPECT_EQ(r.out, "");
}

TEST(Cli, FailingJobLeavesExistingOutputUntouched) {
    std::string dir = makeScratchDir();
    writeFile(dir + "/keep.s3d", "precious");
    CliRun r = runCli({"-", "keep.s3d"}, R"({"op": "hex_block", "params": {"nx": 0}})", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(readFile(dir + "/keep.s3d"), "precious");
}

TEST(Cli, WriteErrorOnASmallModelIsReported) {
    if (!fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    CliRun r = runCli({"-", "/dev/full"}, kCubeJob);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: could not write '/dev/full'\n");
    EXPECT_EQ(r.out, "");
}

/// Names in `dir` other than the test's own files.
std::vector<std::string> folderEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name != "job.json") names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Cli, OutputIsWholeOrUntouchedUnderAFileSizeLimit) {
    std::string dir = makeScratchDir();
    writeFile(dir + "/job.json", kCubeJob);
    writeFile(dir + "/keep.s3d", "precious");
    // A 1 KiB file-size limit: the model (about 3 KiB) cannot be written in full. SIGXFSZ is
    // ignored so that the write fails with an error instead of killing the process.
    std::string cmd = "cd '" + dir + "' && (trap '' XFSZ; ulimit -f 1; '" + QUILM_CLI_PATH +
                      "' job.json keep.s3d) > out.txt 2> err.txt";
    int raw = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_EQ(readFile(dir + "/err.txt"), "error: could not write 'keep.s3d'\n");
    EXPECT_EQ(readFile(dir + "/out.txt"), "");
    EXPECT_EQ(readFile(dir + "/keep.s3d"), "precious");
    EXPECT_EQ(folderEntries(dir), (std::vector<std::string>{"err.txt", "keep.s3d", "out.txt"}));
}

TEST(Cli, SuccessReplacesTheOutputAndLeavesNoTemporaryFile) {
    std::string dir = makeScratchDir();
    writeFile(dir + "/model.s3d", "old");
    CliRun r = runCli({"-", "model.s3d"}, kCubeJob, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile(dir + "/model.s3d").substr(0, 14), "{\n  \"nodes\": [");
    EXPECT_EQ(folderEntries(dir), (std::vector<std::string>{"model.s3d"}));
    struct stat st;
    ASSERT_EQ(stat((dir + "/model.s3d").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0044, 0u) << "a model file must not keep the temporary file's private mode";
}

TEST(Cli, OutputToAPipeIsWrittenDirectly) {
    std::string dir = makeScratchDir();
    writeFile(dir + "/job.json", kCubeJob);
    std::string cmd = "cd '" + dir + "' && '" + QUILM_CLI_PATH + "' job.json /dev/stdout | cat > piped.txt";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string piped = readFile(dir + "/piped.txt");
    EXPECT_EQ(piped.substr(0, 14), "{\n  \"nodes\": [");
    EXPECT_NE(piped.find("}\nwrote /dev/stdout: 27 nodes, 0 areas, 8 solids\n"), std::string::npos);
    // /dev/stdout is a symbolic link: it must still be one afterwards.
    struct stat st;
    ASSERT_EQ(lstat("/dev/stdout", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(Cli, UnwritableOutput) {
    CliRun r = runCli({"-", "no/such/dir/out.s3d"}, kCubeJob);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: could not write 'no/such/dir/out.s3d'\n");
    EXPECT_EQ(r.out, "");
}

TEST(Cli, InfiniteCornerFailsAndNothingIsWritten) {
    CliRun r = runCli({"-"}, R"({"op": "hex_block", "params": {"corners":
        [[0,0,0],[1e400,0,0],[1,1,0],[0,1,0],[0,0,1],[1,0,1],[1,1,1],[0,1,1]]}})");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "error: hex_block failed (degenerate/inverted corners or non-positive division count)\n");
    EXPECT_FALSE(fileExists(r.dir + "/output.s3d"));
}

TEST(JobRunner, NonFiniteRealsAreFound) {
    Model m;
    std::string what;
    EXPECT_FALSE(findNonFinite(m, what));
    m.nodes = {{1, 0, 0, 0}, {2, 0, std::numeric_limits<double>::quiet_NaN(), 0}};
    EXPECT_TRUE(findNonFinite(m, what));
    EXPECT_EQ(what, "node 2 has a non-finite coordinate");
    m.nodes.pop_back();
    Area a;
    a.id = 9;
    a.thickness = -std::numeric_limits<double>::infinity();
    m.areas.push_back(a);
    EXPECT_TRUE(findNonFinite(m, what));
    EXPECT_EQ(what, "area 9 has a non-finite thickness");
}

TEST(Cli, HexBlockParameterMessages) {
    auto err = [](const std::string& params) { return runCli({"-"}, R"({"op": "hex_block", "params": )" + params + "}").err; };
    const std::string cube = R"([[0,0,0],[1,0,0],[1,1,0],[0,1,0],[0,0,1],[1,0,1],[1,1,1],[0,1,1]])";
    const std::string mirrored = R"([[0,0,0],[0,1,0],[1,1,0],[1,0,0],[0,0,1],[0,1,1],[1,1,1],[1,0,1]])";
    const std::string corners = "error: 'params.corners' must be an array of exactly 8 [x, y, z] points\n";
    const std::string failed = "error: hex_block failed (degenerate/inverted corners or non-positive division count)\n";
    EXPECT_EQ(err(R"({"corners": [[0,0,0],[1,0,0],[1,1,0],[0,1,0],[0,0,1],[1,0,1],[1,1,1]]})"), corners);
    EXPECT_EQ(err(R"({"corners": {}})"), corners);
    EXPECT_EQ(err(R"({"corners": [[0,0],[1,0,0],[1,1,0],[0,1,0],[0,0,1],[1,0,1],[1,1,1],[0,1,1]]})"),
              "error: expected a [x, y, z] array\n");
    EXPECT_EQ(err(R"({"corners": [[0,0,"0"],[1,0,0],[1,1,0],[0,1,0],[0,0,1],[1,0,1],[1,1,1],[0,1,1]]})"),
              "error: expected a numeric coordinate\n");
    EXPECT_EQ(err(R"({"corners": )" + cube + R"(, "nx": "3"})"), "error: 'nx' must be a number\n");
    EXPECT_EQ(err(R"({"corners": )" + cube + R"(, "ny": [1]})"), "error: 'ny' must be a number\n");
    EXPECT_EQ(err(R"({"corners": )" + cube + R"(, "nz": true})"), "error: 'nz' must be a number\n");
    EXPECT_EQ(err(R"({"corners": )" + cube + R"(, "nx": 0})"), failed);
    EXPECT_EQ(err(R"({"corners": )" + cube + R"(, "nx": 1e12})"), failed);
    EXPECT_EQ(err(R"({"corners": )" + cube + R"(, "nx": 2000, "ny": 2000, "nz": 2000})"), failed);
    EXPECT_EQ(err(R"({"corners": )" + cube + R"(, "mat_id": "7"})"), "error: 'mat_id' must be a number\n");
    EXPECT_EQ(err(R"({"corners": )" + mirrored + R"(, "mat_id": "7"})"), failed);
    CliRun fractional = runCli({"-"}, R"({"op": "hex_block", "params": {"corners": )" + cube + R"(, "nx": 2.5}})");
    EXPECT_EQ(fractional.out, "wrote output.s3d: 12 nodes, 0 areas, 2 solids\n");
}

TEST(Cli, SameJobTwiceGivesIdenticalFiles) {
    CliRun a = runCli({"-"}, kCubeJob);
    CliRun b = runCli({"-"}, kCubeJob);
    EXPECT_EQ(readFile(a.dir + "/output.s3d"), readFile(b.dir + "/output.s3d"));
}

}  // namespace
