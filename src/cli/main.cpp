// quilm_mesher_cli: reads one JSON job, meshes, writes the model file and one summary line.

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "cli/job_runner.hpp"
#include "cli/output_file.hpp"

namespace {

void printError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

void printOutput(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printOutput(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
}

/// Reads the stream to its end. Reading no characters at all is a successful read of an
/// empty text; a hard read error (a directory given as the job, an I/O error) leaves the
/// stream in the bad state for the caller to report.
std::string readAll(std::istream& in) {
    std::string text;
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (in.eof()) break;
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printError("usage: quilm_mesher_cli <job.json>|- [output.s3d]\n");
        return 1;
    }
    const std::string jobPath = argv[1];
    const std::string outputPath = argc >= 3 ? argv[2] : "output.s3d";

    std::string jobText;
    if (jobPath == "-") {
        std::ios::sync_with_stdio(false);
        jobText = readAll(std::cin);
        if (std::cin.bad()) {
            printError("error: could not read job JSON from stdin\n");
            return 1;
        }
    } else {
        std::ifstream in(jobPath);
        if (!in) {
            printError("error: could not open job file '%s'\n", jobPath.c_str());
            return 1;
        }
        jobText = readAll(in);
        if (in.bad()) {
            printError("error: could not read job file '%s'\n", jobPath.c_str());
            return 1;
        }
    }

    JobResult result = runJob(jobText);
    if (!result.ok) {
        printError("error: %s\n", result.error.c_str());
        return 1;
    }
    if (!writeModelFileSafely(outputPath, result.model)) {
        printError("error: could not write '%s'\n", outputPath.c_str());
        return 1;
    }
    printOutput("wrote %s: %zu nodes, %zu areas, %zu solids\n", outputPath.c_str(),
                result.model.nodes.size(), result.model.areas.size(), result.model.solids.size());
    return 0;
}
