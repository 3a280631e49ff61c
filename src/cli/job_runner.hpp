#pragma once
// From job text to result: parse, dispatch, and refuse a result that cannot be written.

#include <string>

#include "job/dispatch.hpp"
#include "model/model.hpp"

/// Parses the job text and dispatches it. A parse failure gives "invalid JSON: " and the
/// parser's message. A model holding a non-finite real (from a job number beyond the
/// double range) fails too, since it could not be written as JSON.
JobResult runJob(const std::string& jobText);

/// Names the first node or area holding a non-finite real in `what`; false when none does.
bool findNonFinite(const Model& model, std::string& what);
