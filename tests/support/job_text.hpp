#pragma once
// Runs a job given as JSON text through the dispatcher, as the program would after reading
// it; a test whose own JSON does not parse fails there.

#include <string>

#include <gtest/gtest.h>

#include "job/dispatch.hpp"
#include "json/json.hpp"

inline JobResult dispatchJobText(const std::string& text) {
    JsonValue job;
    std::string error;
    if (!parseJson(text, job, error)) {
        ADD_FAILURE() << "bad test JSON: " << error;
        return JobResult{};
    }
    return dispatchJob(job);
}
