#include "support/cli_runner.hpp"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

}  // namespace

std::string makeScratchDir() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/quilm_test_XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return std::string(buf.data());
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

CliRun runCli(const std::vector<std::string>& args, const std::string& stdinText, const std::string& dir) {
    CliRun run;
    run.dir = dir.empty() ? makeScratchDir() : dir;
    writeFile(run.dir + "/.stdin", stdinText);
    std::string cmd = "cd " + shellQuote(run.dir) + " && " + shellQuote(QUILM_CLI_PATH);
    for (const std::string& a : args) cmd += " " + shellQuote(a);
    cmd += " < .stdin > .stdout 2> .stderr";
    int raw = std::system(cmd.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = readFile(run.dir + "/.stdout");
    run.err = readFile(run.dir + "/.stderr");
    std::remove((run.dir + "/.stdin").c_str());
    std::remove((run.dir + "/.stdout").c_str());
    std::remove((run.dir + "/.stderr").c_str());
    return run;
}
