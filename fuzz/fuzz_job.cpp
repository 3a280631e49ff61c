// Fuzz target: the whole job runner (parse, dispatch, mesh) and the model text in memory.
//
// The refining meshers stop at their Steiner budget (20,000 points by default), which is a
// bounded but long run under the sanitizers: a domain asking for a minimum angle no mesher
// reaches spends the whole budget. So that the fuzzer spends its time on parsing, dispatch
// and the meshers' branches rather than on large meshes, every "params" object gets a
// budget of at most kFuzzBudget points: a larger number is lowered, a missing one is added
// (a member no operation reads is ignored). Everything else in the document is kept.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "cli/job_runner.hpp"
#include "job/dispatch.hpp"
#include "json/json.hpp"
#include "model/model_writer.hpp"

namespace {

constexpr double kFuzzBudget = 1000;

void capBudgets(JsonValue& value) {
    if (value.kind == JsonKind::Array) {
        for (JsonValue& item : value.items) capBudgets(item);
        return;
    }
    if (value.kind != JsonKind::Object) return;
    for (JsonMember& m : value.members) {
        if (m.key == "max_steiner_points" && m.value.kind == JsonKind::Number && m.value.number > kFuzzBudget) {
            m.value.number = kFuzzBudget;
        }
        if (m.key == "params" && m.value.kind == JsonKind::Object &&
            findMember(m.value, "max_steiner_points") == nullptr) {
            JsonMember budget;
            budget.key = "max_steiner_points";
            budget.value.kind = JsonKind::Number;
            budget.value.number = kFuzzBudget;
            m.value.members.push_back(budget);
        }
        capBudgets(m.value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    JsonValue job;
    std::string error;
    if (!parseJson(text, job, error)) {
        JobResult failed = runJob(text);  // the parse failure's own path
        (void)failed;
        return 0;
    }
    capBudgets(job);
    JobResult result = dispatchJob(job);
    std::string what;
    if (result.ok && !findNonFinite(result.model, what)) {
        std::ostringstream out;
        writeModel(out, result.model);
    }
    return 0;
}
