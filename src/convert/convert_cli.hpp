#pragma once
// The quilm_convert command line: a model file to a viewer format, or a quality report.
//
//   quilm_convert [--format vtu|vtk|msh|svg] [--shade FIGURE|none] MODEL.s3d OUTPUT
//   quilm_convert --stats [--json] MODEL.s3d
//
// MODEL may be "-" for standard input. The output is written under a temporary name and
// renamed into place, so a failed run leaves no output file and never a partial one.

#include <string>
#include <vector>

/// Runs one command (`args` excludes the program name). Standard output and standard
/// error text are returned in `out` and `err`; the result is the exit status (0 or 1).
int runConvert(const std::vector<std::string>& args, std::string& out, std::string& err);
