// upgrade_to_quadratic: runs a nested job exactly like a top-level one and converts its
// model to quadratic elements.

#include "job/dispatch.hpp"
#include "job/handlers.hpp"
#include "model/quadratic.hpp"

bool handleUpgradeToQuadratic(const JsonValue& params, Model& out, std::string& error) {
    const JsonValue* job = findMember(params, "job");
    if (job == nullptr || job->kind != JsonKind::Object) {
        error = "missing required object 'params.job' (a nested job document)";
        return false;
    }
    // Recursion depth is bounded by the parser's nesting limit: each level of nesting is
    // two levels of objects in the document.
    JobResult nested = dispatchJob(*job);
    if (!nested.ok) {
        error = "nested job failed: " + nested.error;
        return false;
    }
    QuadraticUpgrade upgraded = upgradeToQuadratic(std::move(nested.model));
    if (!upgraded.ok) {
        error = "upgrade_to_quadratic failed: " + upgraded.message;
        return false;
    }
    out = std::move(upgraded.model);
    return true;
}
