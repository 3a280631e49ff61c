// refine_quality_tet and mesh_stl_solid: quality tetrahedral meshes of a piecewise-linear
// complex given in the job, or of the solid bounded by an STL surface.

#include <cstdint>
#include <limits>

#include "io/stl/stl_reader.hpp"
#include "job/handlers.hpp"
#include "job/readers.hpp"
#include "mesh3d/robust/robust_mesher.hpp"
#include "mesh3d/tet_mesher.hpp"

namespace {

/// A JSON number truncated toward zero to a point index; values outside the 64-bit range
/// become INT64_MIN, which the complex check rejects.
int64_t truncateToIndex(double value) {
    if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0)) {
        return std::numeric_limits<int64_t>::min();
    }
    return static_cast<int64_t>(value);
}

/// An array of exactly N numbers, truncated to indices.
template <size_t N>
bool readIndexTuple(const JsonValue& value, std::array<int64_t, N>& out) {
    if (value.kind != JsonKind::Array || value.items.size() != N) return false;
    for (size_t i = 0; i < N; ++i) {
        if (value.items[i].kind != JsonKind::Number) return false;
        out[i] = truncateToIndex(value.items[i].number);
    }
    return true;
}

/// "radius_edge_bound", "max_steiner_points" and "max_volume", in that order.
bool readTetMeshParams(const JsonValue& params, TetMeshParams& out, std::string& error) {
    const TetMeshParams defaults;
    if (!readNumber(params, "radius_edge_bound", defaults.radiusEdgeBound, out.radiusEdgeBound, error)) return false;
    if (!readCount(params, "max_steiner_points", defaults.maxSteinerPoints, out.maxSteinerPoints, error)) return false;
    return readNumber(params, "max_volume", defaults.maxVolume, out.maxVolume, error);
}

/// "engine": "classic" (the default) or "robust".
bool readEngine(const JsonValue& params, bool& robust, std::string& error) {
    robust = false;
    const JsonValue* value = findMember(params, "engine");
    if (value == nullptr) return true;
    if (value->kind == JsonKind::String && (value->text == "classic" || value->text == "robust")) {
        robust = value->text == "robust";
        return true;
    }
    error = "'engine' must be \"classic\" or \"robust\"";
    return false;
}

/// Whether the job asks for the robust engine (looked at before the keys are read in order,
/// so that its input diagnosis can speak for a surface the closure test rejects).
bool asksForRobust(const JsonValue& params) {
    const JsonValue* value = findMember(params, "engine");
    return value != nullptr && value->kind == JsonKind::String && value->text == "robust";
}

RobustTetParams robustParams(const TetMeshParams& p) {
    RobustTetParams r;
    r.radiusEdgeBound = p.radiusEdgeBound;
    r.maxSteinerPoints = p.maxSteinerPoints;
    r.maxVolume = p.maxVolume;
    return r;
}

/// Runs the robust engine and makes its mesh the job's model (mat_id read after meshing).
bool runRobust(const Plc& plc, const TetMeshParams& meshParams, const FacetNaming& naming, const char* op,
               const JsonValue& params, Model& out, std::string& error) {
    RobustTetMesh robust = meshRobustTets(plc, robustParams(meshParams), naming);
    if (!robust.ok) {
        error = std::string(op) + " failed: " + robust.error;
        return false;
    }
    int32_t matId = 0;
    if (!readCount(params, "mat_id", 0, matId, error)) return false;
    TetMesh mesh;
    mesh.ok = true;
    mesh.points = std::move(robust.points);
    mesh.tets = std::move(robust.tets);
    mesh.steinerCount = robust.steinerCount;
    out = tetMeshToModel(mesh, SolidNumbering{1, 1, matId});
    return true;
}

std::string pointLimitMessage(const char* op) {
    return std::string(op) + " stopped: the mesh needs more than " + std::to_string(kMaxTetMeshPoints) +
           " points, the most the tetrahedral mesher handles (lower max_steiner_points, or raise max_volume "
           "or radius_edge_bound)";
}

}  // namespace

bool handleRefineQualityTet(const JsonValue& params, Model& out, std::string& error) {
    const JsonValue* pointsValue = findMember(params, "points");
    const JsonValue* facetsValue = findMember(params, "facets");
    if (pointsValue == nullptr || facetsValue == nullptr) {
        error = "missing required 'params.points' / 'params.facets'";
        return false;
    }
    Plc plc;
    if (!readPointList(*pointsValue, plc.points, error)) return false;
    if (facetsValue->kind != JsonKind::Array) {
        error = "'params.facets' must be an array of [i, j, k] index triples";
        return false;
    }
    plc.facets.reserve(facetsValue->items.size());
    for (const JsonValue& item : facetsValue->items) {
        Facet f;
        if (!readIndexTuple(item, f.v)) {
            error = "each facet must be an [i, j, k] index triple";
            return false;
        }
        plc.facets.push_back(f);
    }
    if (const JsonValue* segmentsValue = findMember(params, "segments")) {
        if (segmentsValue->kind != JsonKind::Array) {
            error = "'params.segments' must be an array of [i, j] pairs";
            return false;
        }
        plc.segments.reserve(segmentsValue->items.size());
        for (const JsonValue& item : segmentsValue->items) {
            Segment s;
            if (!readIndexTuple(item, s.v)) {
                error = "each segment must be an [i, j] index pair";
                return false;
            }
            plc.segments.push_back(s);
        }
    }
    TetMeshParams meshParams;
    if (!readTetMeshParams(params, meshParams, error)) return false;
    bool robust = false;
    if (!readEngine(params, robust, error)) return false;
    if (robust) return runRobust(plc, meshParams, FacetNaming(), "refine_quality_tet", params, out, error);

    // Indices, coordinates and sizes are checked before the mesher relies on them.
    if (!checkPlc(plc, error)) return false;
    const TetMesh mesh = meshQualityTets(plc, meshParams);
    if (!mesh.ok) {
        error = mesh.pointLimitReached
                    ? pointLimitMessage("refine_quality_tet")
                    : "refine_quality_tet did not converge (degenerate PLC, Steiner budget exhausted, or boundary "
                      "recovery could not stabilize for this geometry -- see issue #28)";
        return false;
    }
    int32_t matId = 0;
    if (!readCount(params, "mat_id", 0, matId, error)) return false;
    out = tetMeshToModel(mesh, SolidNumbering{1, 1, matId});
    return true;
}

bool handleMeshStlSolid(const JsonValue& params, Model& out, std::string& error) {
    const JsonValue* stlValue = findMember(params, "stl");
    if (stlValue == nullptr || stlValue->kind != JsonKind::String) {
        error = "missing required string 'params.stl'";
        return false;
    }
    double weldTolerance = 1e-9;
    if (!readNumber(params, "weld_tolerance", 1e-9, weldTolerance, error)) return false;

    StlSurface surface = readStl(stlValue->text, weldTolerance);
    if (!surface.ok) {
        error = "STL import failed: " + surface.error;
        return false;
    }
    const bool robustWanted = asksForRobust(params);
    if (!surface.watertight && robustWanted) {
        // The robust engine's diagnosis says where the surface is open, not manifold or
        // self-intersecting; a closed surface that is only wound inconsistently is meshed.
        Plc probe;
        probe.points = surface.points;
        probe.facets = surface.triangles;
        const PlcDiagnosis diagnosis = diagnosePlc(probe, FacetNaming{"triangle", &surface.triangleNumbers});
        if (!diagnosis.ok) {
            error = "STL import failed: " + diagnosis.error;
            return false;
        }
    } else if (!surface.watertight) {
        error = "STL import failed: the surface is not watertight (open boundary, inconsistent facet winding, or a "
                "non-manifold edge) -- 3D tet meshing needs a closed, consistently oriented solid";
        return false;
    }
    Plc plc;
    plc.points = std::move(surface.points);
    plc.facets = std::move(surface.triangles);

    TetMeshParams meshParams;
    if (!readTetMeshParams(params, meshParams, error)) return false;
    bool robust = false;
    if (!readEngine(params, robust, error)) return false;
    if (robust) {
        const std::vector<int64_t> numbers = surface.triangleNumbers;
        return runRobust(plc, meshParams, FacetNaming{"triangle", &numbers}, "mesh_stl_solid", params, out, error);
    }
    if (!surface.watertight) {
        // Only the robust engine takes a closed surface that is wound inconsistently.
        error = "STL import failed: the surface is not watertight (open boundary, inconsistent facet winding, or a "
                "non-manifold edge) -- 3D tet meshing needs a closed, consistently oriented solid";
        return false;
    }

    // Welded surfaces always index their points correctly; sizes and coordinates remain.
    std::string limitError;
    if (!checkPlc(plc, limitError)) {
        error = "mesh_stl_solid failed: " + limitError;
        return false;
    }
    const TetMesh mesh = meshQualityTets(plc, meshParams);
    if (!mesh.ok) {
        error = mesh.pointLimitReached
                    ? pointLimitMessage("mesh_stl_solid")
                    : "mesh_stl_solid failed (the imported boundary could not be recovered for tet meshing)";
        return false;
    }
    int32_t matId = 0;
    if (!readCount(params, "mat_id", 0, matId, error)) return false;
    out = tetMeshToModel(mesh, SolidNumbering{1, 1, matId});
    return true;
}
