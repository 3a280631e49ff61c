// The boundary area operations: a planar region given by boundary points in the job,
// meshed by Delaunay triangulation (mesh_planar_area), conforming triangulation with holes
// (mesh_polygon_area) or quality refinement (mesh_quality_area).

#include <utility>

#include <vector>

#include "job/handlers.hpp"
#include "job/readers.hpp"
#include "mesh2d/area_mesher.hpp"
#include "mesh2d/quality_refine.hpp"

namespace {

/// The properties every boundary-based operation gives its areas.
AreaProps boundaryAreaProps() {
    AreaProps props;
    props.firstNodeId = 1;
    props.firstAreaId = 1;
    props.behavior = "membrane";
    props.thickness = 0.0;
    props.matId = 0;
    props.secId = 0;
    props.drilling = false;
    return props;
}

bool readBoundary(const JsonValue& params, std::vector<Point3>& boundary, std::string& error) {
    const JsonValue* value = findMember(params, "boundary");
    if (value == nullptr) {
        error = "missing required 'params.boundary'";
        return false;
    }
    return readPointList(*value, boundary, error);
}

/// An absent key leaves the list empty.
bool readOptionalPoints(const JsonValue& params, const char* key, std::vector<Point3>& points,
                        std::string& error) {
    const JsonValue* value = findMember(params, key);
    return value == nullptr || readPointList(*value, points, error);
}

bool readOptionalHoles(const JsonValue& params, std::vector<std::vector<Point3>>& holes, std::string& error) {
    const JsonValue* value = findMember(params, "holes");
    return value == nullptr || readHoleLoops(*value, holes, error);
}

}  // namespace

bool handleMeshQualityArea(const JsonValue& params, Model& out, std::string& error) {
    std::vector<Point3> boundary, interior;
    std::vector<std::vector<Point3>> holes;
    if (!readBoundary(params, boundary, error)) return false;
    if (!readOptionalHoles(params, holes, error)) return false;
    if (!readOptionalPoints(params, "interior", interior, error)) return false;

    RefineOptions options;
    SizingField sizing;
    if (!readNumber(params, "min_angle_deg", 20.0, options.minAngleDeg, error)) return false;
    if (!readCount(params, "max_steiner_points", 20000, options.maxSteinerPoints, error)) return false;
    options.maxArea = 0.0;
    if (!readSizing(params, options, sizing, error)) return false;

    AreaMesh mesh = meshQualityArea(boundary, holes, interior, options, boundaryAreaProps());
    if (!mesh.ok) {
        error = !mesh.message.empty()
                    ? mesh.message
                    : "mesh_quality_area did not converge (degenerate boundary or Steiner budget exhausted)";
        return false;
    }
    out = std::move(mesh.model);
    return true;
}

bool handleMeshPlanarArea(const JsonValue& params, Model& out, std::string& error) {
    std::vector<Point3> boundary, interior;
    if (!readBoundary(params, boundary, error)) return false;
    if (!readOptionalPoints(params, "interior", interior, error)) return false;

    AreaMesh mesh = meshPlanarArea(boundary, interior, boundaryAreaProps());
    if (!mesh.ok) {
        error = "mesh_planar_area failed (degenerate or non-planar boundary)";
        return false;
    }
    out = std::move(mesh.model);
    return true;
}

bool handleMeshPolygonArea(const JsonValue& params, Model& out, std::string& error) {
    std::vector<Point3> boundary, interior;
    std::vector<std::vector<Point3>> holes;
    if (!readBoundary(params, boundary, error)) return false;
    if (!readOptionalHoles(params, holes, error)) return false;
    if (!readOptionalPoints(params, "interior", interior, error)) return false;

    AreaMesh mesh = meshPolygonArea(boundary, holes, interior, boundaryAreaProps());
    if (!mesh.ok) {
        // The mesher explains a malformed hole itself; anything else gets the fixed sentence.
        error = !mesh.message.empty()
                    ? mesh.message
                    : "mesh_polygon_area failed (degenerate boundary or conforming triangulation did not converge)";
        return false;
    }
    out = std::move(mesh.model);
    return true;
}
