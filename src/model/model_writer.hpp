#pragma once
// The model file (.s3d): one JSON object with "nodes", "elements", "areas" and "solids",
// one record per line, reals with 17 significant digits.

#include <ostream>
#include <string>

#include "model/model.hpp"

/// The text of a real in the model file: printf "%.17g".
std::string formatReal(double value);

/// Writes the model file's text to `out`; false when the stream reports a failure.
bool writeModel(std::ostream& out, const Model& model);

/// Writes the whole model file; false when the path cannot be opened or a write fails.
bool writeModelFile(const std::string& path, const Model& model);
