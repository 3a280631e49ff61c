// mesh_dxf_area: the region outlined in a DXF drawing, meshed like mesh_polygon_area.

#include <utility>

#include "io/dxf/dxf_reader.hpp"
#include "job/handlers.hpp"
#include "job/readers.hpp"
#include "mesh2d/area_mesher.hpp"

bool handleMeshDxfArea(const JsonValue& params, Model& out, std::string& error) {
    const JsonValue* dxf = findMember(params, "dxf");
    if (dxf == nullptr || dxf->kind != JsonKind::String) {
        error = "missing required string 'params.dxf'";
        return false;
    }
    DxfImportOptions options;
    options.arcTolerance = 0.01;
    options.joinTolerance = 1e-6;
    if (!readNumber(params, "arc_tolerance", 0.01, options.arcTolerance, error)) return false;

    const DxfBoundary boundary = readDxfBoundary(dxf->text, options);
    if (!boundary.ok) {
        error = "DXF import failed: " + boundary.error;
        return false;
    }
    AreaProps props;
    props.firstNodeId = 1;
    props.firstAreaId = 1;
    props.behavior = "membrane";
    AreaMesh mesh = meshPolygonArea(boundary.outer, boundary.holes, {}, props);
    if (!mesh.ok) {
        error = "mesh_dxf_area failed (imported boundary is degenerate or conforming triangulation did not converge)";
        return false;
    }
    out = std::move(mesh.model);
    return true;
}
