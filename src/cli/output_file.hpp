#pragma once
// Writing the model file so that it is whole or untouched.

#include <string>

#include "model/model.hpp"

/// Writes the model to `path`. A regular file (or a path that does not exist yet) is
/// written to a temporary file in the same folder and renamed over `path` only when every
/// write and the close succeeded; on failure the temporary file is removed and an existing
/// file at `path` is left exactly as it was. Anything else (a symbolic link such as
/// /dev/stdout, a pipe, a device) is written directly. Returns false on any failure.
bool writeModelFileSafely(const std::string& path, const Model& model);
