#pragma once
// Runs the built quilm_mesher_cli in a scratch directory and captures what it does.

#include <string>
#include <vector>

struct CliRun {
    int status = -1;     ///< exit status
    std::string out;     ///< standard output
    std::string err;     ///< standard error
    std::string dir;     ///< the scratch directory the program ran in (its current directory)
};

/// A fresh, empty scratch directory under the system's temporary directory.
std::string makeScratchDir();

/// Runs the program with `args` in `dir` (a fresh scratch directory when empty), feeding
/// `stdinText` on standard input.
CliRun runCli(const std::vector<std::string>& args, const std::string& stdinText = "",
              const std::string& dir = "");

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
bool fileExists(const std::string& path);
