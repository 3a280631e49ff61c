#include "job/dispatch.hpp"

#include "job/handlers.hpp"

namespace {

struct OperationEntry {
    const char* op;
    OperationHandler handler;
};

const OperationEntry kOperations[] = {
    {"mesh_quality_area", handleMeshQualityArea},
    {"mesh_planar_area", handleMeshPlanarArea},
    {"mesh_polygon_area", handleMeshPolygonArea},
    {"mesh_dxf_area", handleMeshDxfArea},
    {"mesh_step", handleMeshStep},
    {"mesh_quad_dominant_area", handleMeshQuadDominantArea},
    {"refine_quality_tet", handleRefineQualityTet},
    {"mesh_stl_solid", handleMeshStlSolid},
    {"hex_block", handleHexBlock},
    {"sweep_source_face", handleSweepSourceFace},
    {"upgrade_to_quadratic", handleUpgradeToQuadratic},
    {"mesh_disc", handleMeshDisc},
    {"mesh_annulus", handleMeshAnnulus},
};

}  // namespace

JobResult dispatchJob(const JsonValue& job) {
    JobResult result;
    if (job.kind != JsonKind::Object) {
        result.error = "job must be a JSON object";
        return result;
    }
    const JsonValue* op = findMember(job, "op");
    if (op == nullptr || op->kind != JsonKind::String) {
        result.error = "missing required string field 'op'";
        return result;
    }
    const JsonValue noParams;  // a Null value: every lookup in it finds nothing
    const JsonValue* params = findMember(job, "params");
    if (params != nullptr && params->kind != JsonKind::Object) {
        result.error = "'params' must be an object";
        return result;
    }
    if (params == nullptr) params = &noParams;

    for (const OperationEntry& entry : kOperations) {
        if (op->text != entry.op) continue;
        Model model;
        if (entry.handler(*params, model, result.error)) {
            result.ok = true;
            result.model = std::move(model);
            result.error.clear();
        }
        return result;
    }
    result.error = "unknown op '" + op->text + "'";
    return result;
}
