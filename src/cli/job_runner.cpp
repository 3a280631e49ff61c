#include "cli/job_runner.hpp"

#include <cmath>

bool findNonFinite(const Model& model, std::string& what) {
    for (const Node& n : model.nodes) {
        if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z)) {
            what = "node " + std::to_string(n.id) + " has a non-finite coordinate";
            return true;
        }
    }
    for (const Area& a : model.areas) {
        if (!std::isfinite(a.thickness)) {
            what = "area " + std::to_string(a.id) + " has a non-finite thickness";
            return true;
        }
    }
    return false;
}

JobResult runJob(const std::string& jobText) {
    JsonValue job;
    std::string parseError;
    if (!parseJson(jobText, job, parseError)) {
        JobResult failed;
        failed.error = "invalid JSON: " + parseError;
        return failed;
    }
    JobResult result = dispatchJob(job);
    std::string what;
    if (result.ok && findNonFinite(result.model, what)) {
        JobResult failed;
        failed.error = what + " (a number beyond the range of doubles); the model cannot be written";
        return failed;
    }
    return result;
}
