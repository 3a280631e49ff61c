// mesh_quad_dominant_area: a planar region given by boundary points, meshed by quality
// refinement and then merged into a mixed mesh of "QUAD" and "CST" areas.

#include <utility>

#include <vector>

#include "job/handlers.hpp"
#include "job/readers.hpp"
#include "mesh2d/quad_dominant.hpp"
#include "mesh2d/quality_refine.hpp"

bool handleMeshQuadDominantArea(const JsonValue& params, Model& out, std::string& error) {
    std::vector<Point3> boundary;
    std::vector<std::vector<Point3>> holes;
    const JsonValue* boundaryValue = findMember(params, "boundary");
    if (boundaryValue == nullptr) {
        error = "missing required 'params.boundary'";
        return false;
    }
    if (!readPointList(*boundaryValue, boundary, error)) return false;
    const JsonValue* holesValue = findMember(params, "holes");
    if (holesValue != nullptr && !readHoleLoops(*holesValue, holes, error)) return false;

    RefineOptions options;
    SizingField sizing;
    if (!readNumber(params, "min_angle_deg", 20.0, options.minAngleDeg, error)) return false;
    if (!readCount(params, "max_steiner_points", 20000, options.maxSteinerPoints, error)) return false;
    options.maxArea = 0.0;
    if (!readSizing(params, options, sizing, error)) return false;
    double minQuality = 0.4;
    if (!readNumber(params, "min_quality", 0.4, minQuality, error)) return false;

    AreaProps props;
    props.firstNodeId = 1;
    props.firstAreaId = 1;
    props.behavior = "membrane";
    props.thickness = 0.0;
    props.matId = 0;
    props.secId = 0;
    props.drilling = false;

    // "interior" is not read: the mesher gets no interior points.
    AreaMesh mesh = meshQuadDominantArea(boundary, holes, {}, options, minQuality, props);
    if (!mesh.ok) {
        error = !mesh.message.empty() ? mesh.message : "mesh_quad_dominant_area did not converge";
        return false;
    }
    out = std::move(mesh.model);
    return true;
}
