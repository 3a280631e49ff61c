// sweep_source_face: a planar face given by its boundary and holes, meshed quad-dominantly
// and swept along its normal into layers of HEX8 and TET4 solids.

#include <vector>

#include "job/handlers.hpp"
#include "job/readers.hpp"
#include "structured/sweep.hpp"

bool handleSweepSourceFace(const JsonValue& params, Model& out, std::string& error) {
    const JsonValue* boundaryValue = findMember(params, "boundary");
    const JsonValue* distanceValue = findMember(params, "distance");
    if (boundaryValue == nullptr || distanceValue == nullptr || distanceValue->kind != JsonKind::Number) {
        error = "missing required 'params.boundary' / numeric 'params.distance'";
        return false;
    }
    std::vector<Point3> boundary;
    std::vector<std::vector<Point3>> holes;
    if (!readPointList(*boundaryValue, boundary, error)) return false;
    const JsonValue* holesValue = findMember(params, "holes");
    if (holesValue != nullptr && !readHoleLoops(*holesValue, holes, error)) return false;

    SweepParams sweepParams;
    if (!readCount(params, "nw", 1, sweepParams.layers, error)) return false;
    if (!readNumber(params, "min_angle_deg", 20.0, sweepParams.options.minAngleDeg, error)) return false;
    if (!readCount(params, "max_steiner_points", 20000, sweepParams.options.maxSteinerPoints, error)) return false;
    // No area limit and no size field for the source face.
    sweepParams.options.maxArea = 0.0;
    sweepParams.options.sizing = nullptr;
    if (!readNumber(params, "min_quality", 0.4, sweepParams.minQuality, error)) return false;

    SweepMesh mesh = sweepSourceFace(boundary, holes, distanceValue->number, sweepParams);
    if (!mesh.ok) {
        error = "sweep_source_face failed (degenerate boundary, non-positive distance/layers, or 2D meshing did not "
                "converge)";
        return false;
    }
    int32_t matId = 0;
    if (!readMaterialId(params, matId, error)) return false;
    out = sweepMeshToModel(mesh, SolidNumbering{1, 1, matId});
    return true;
}
