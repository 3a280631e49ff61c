// Fuzz target: the whole job runner (parse, dispatch, mesh) and the model text in memory.
//
// The refining meshers stop at their Steiner budget (20,000 points by default), which is a
// bounded but long run under the sanitizers: a domain asking for a minimum angle no mesher
// reaches spends the whole budget. So that the fuzzer spends its time on parsing, dispatch
// and the meshers' branches rather than on large meshes, every "params" object gets a
// budget of at most kFuzzBudget points (kFuzzVolumeBudget for the volume mesher): a larger number is lowered, a missing one is added
// (a member no operation reads is ignored). Everything else in the document is kept.
// Likewise a DXF drawing whose outline has more than kFuzzDxfPoints points is not meshed:
// points along one circle cost the triangulation the square of their number, a one-line
// CIRCLE with a small arc tolerance reaches the reader's bound, and an outline that cannot
// be made conforming runs its passes up to 128 points per input point before it fails
// (2,000 points: 0.44 s, over a second under the sanitizers); the reader itself is fuzzed
// by its own target.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "cli/job_runner.hpp"
#include "io/dxf/dxf_reader.hpp"
#include "job/dispatch.hpp"
#include "json/json.hpp"
#include "model/model_writer.hpp"

namespace {

constexpr double kFuzzBudget = 300;
constexpr double kFuzzVolumeBudget = 40;
constexpr size_t kFuzzDxfPoints = 500;

/// True when some mesh_dxf_area job in the document would mesh a large outline.
bool largeDrawing(const JsonValue& value) {
    if (value.kind == JsonKind::Array) {
        for (const JsonValue& item : value.items) {
            if (largeDrawing(item)) return true;
        }
        return false;
    }
    if (value.kind != JsonKind::Object) return false;
    const JsonValue* op = findMember(value, "op");
    const JsonValue* params = findMember(value, "params");
    if (op != nullptr && op->kind == JsonKind::String && op->text == "mesh_dxf_area" && params != nullptr) {
        const JsonValue* dxf = findMember(*params, "dxf");
        const JsonValue* tolerance = findMember(*params, "arc_tolerance");
        if (dxf != nullptr && dxf->kind == JsonKind::String) {
            DxfImportOptions options;
            if (tolerance != nullptr && tolerance->kind == JsonKind::Number) options.arcTolerance = tolerance->number;
            const DxfBoundary boundary = readDxfBoundary(dxf->text, options);
            size_t points = boundary.outer.size();
            for (const DxfLoop& hole : boundary.holes) points += hole.size();
            if (points > kFuzzDxfPoints) return true;
        }
    }
    for (const JsonMember& m : value.members) {
        if (largeDrawing(m.value)) return true;
    }
    return false;
}

/// The budget given to the params of a job running `op`: the volume mesher's exact
/// arithmetic runs some 30 times slower under the sanitizers (a hundred points of a
/// far-flung complex took a second), so its jobs get less.
double budgetFor(const JsonValue* op) {
    if (op != nullptr && op->kind == JsonKind::String &&
        (op->text == "refine_quality_tet" || op->text == "mesh_stl_solid")) {
        return kFuzzVolumeBudget;
    }
    return kFuzzBudget;
}

void capBudgets(JsonValue& value, double budget) {
    if (value.kind == JsonKind::Array) {
        for (JsonValue& item : value.items) capBudgets(item, budget);
        return;
    }
    if (value.kind != JsonKind::Object) return;
    const double own = budgetFor(findMember(value, "op"));
    for (JsonMember& m : value.members) {
        if (m.key == "max_steiner_points" && m.value.kind == JsonKind::Number && m.value.number > budget) {
            m.value.number = budget;
        }
        if (m.key == "params" && m.value.kind == JsonKind::Object) {
            if (findMember(m.value, "max_steiner_points") == nullptr) {
                JsonMember added;
                added.key = "max_steiner_points";
                added.value.kind = JsonKind::Number;
                added.value.number = own;
                m.value.members.push_back(added);
            }
            capBudgets(m.value, own);
        } else {
            capBudgets(m.value, budget);
        }
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
    if (largeDrawing(job)) return 0;
    capBudgets(job, kFuzzBudget);
    JobResult result = dispatchJob(job);
    std::string what;
    if (result.ok && !findNonFinite(result.model, what)) {
        std::ostringstream out;
        writeModel(out, result.model);
    }
    return 0;
}
