// Golden end-to-end cases: every directory under tests/e2e/cases holds one job.
//
//   job.json      the job, run as `quilm_mesher_cli job.json out.s3d`
//   expected.out  standard output expected (absent: must be empty)
//   expected.err  standard error expected (absent: must be empty; present: exit status 1)
//   expected.s3d  the model file expected byte for byte (absent: no file may be written)
//
// The expected files were checked by hand against the rules of each operation; a case is
// never regenerated blindly.

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/cli_runner.hpp"

namespace {

std::vector<std::string> caseNames() {
    std::vector<std::string> names;
    std::string root = std::string(QUILM_TEST_DATA_DIR) + "/e2e/cases";
    if (DIR* d = opendir(root.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != ".." && fileExists(root + "/" + name + "/job.json")) names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class GoldenCase : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenCase, MatchesExpectedOutput) {
    const std::string caseDir = std::string(QUILM_TEST_DATA_DIR) + "/e2e/cases/" + GetParam();
    CliRun run = runCli({caseDir + "/job.json", "out.s3d"});
    const std::string expectedErr = fileExists(caseDir + "/expected.err") ? readFile(caseDir + "/expected.err") : "";
    const std::string expectedOut = fileExists(caseDir + "/expected.out") ? readFile(caseDir + "/expected.out") : "";
    EXPECT_EQ(run.err, expectedErr);
    EXPECT_EQ(run.out, expectedOut);
    EXPECT_EQ(run.status, expectedErr.empty() ? 0 : 1);
    const bool wantModel = fileExists(caseDir + "/expected.s3d");
    ASSERT_EQ(fileExists(run.dir + "/out.s3d"), wantModel);
    if (wantModel) {
        EXPECT_EQ(readFile(run.dir + "/out.s3d"), readFile(caseDir + "/expected.s3d"));
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, GoldenCase, ::testing::ValuesIn(caseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace_if(name.begin(), name.end(), [](char c) { return !isalnum(static_cast<unsigned char>(c)); }, '_');
                             return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(GoldenCase);

}  // namespace
