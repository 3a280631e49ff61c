// quilm_convert: turns a model file into a VTU, legacy VTK, MSH or SVG file, or prints a
// quality report of it.

#include <cstdio>
#include <string>
#include <vector>

#include "convert/convert_cli.hpp"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string out;
    std::string err;
    int status = runConvert(args, out, err);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fwrite(err.data(), 1, err.size(), stderr);
    return status;
}
