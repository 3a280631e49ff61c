#pragma once
// Checks a job document's shape, finds its operation in the table and runs the handler.

#include <string>

#include "json/json.hpp"
#include "model/model.hpp"

/// The outcome of one job: the model when ok, otherwise the complete error message
/// (without the "error: " prefix).
struct JobResult {
    bool ok = false;
    Model model;
    std::string error;
};

/// Runs the job document `job`. Re-entrant: a nested job goes through here again.
JobResult dispatchJob(const JsonValue& job);
