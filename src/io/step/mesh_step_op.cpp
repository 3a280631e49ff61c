#include "io/step/mesh_step_op.hpp"

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "io/step/step_analytic.hpp"
#include "io/step/step_bspline.hpp"
#include "io/step/step_conforming.hpp"
#include "io/step/step_planar.hpp"
#include "io/step/step_units.hpp"
#include "job/handlers.hpp"
#include "job/readers.hpp"
#include "mesh2d/quality_refine.hpp"

namespace {

constexpr int64_t kLargestId = std::numeric_limits<int32_t>::max();

/// True when `count` ids from `next` on all stay within the 32-bit range.
bool idsFit(int64_t next, size_t count) {
    return static_cast<uint64_t>(count) <= static_cast<uint64_t>(kLargestId) &&
           next + static_cast<int64_t>(count) - 1 <= kLargestId;
}

const char* const kIdOverflow = "mesh_step failed: the mesh needs more node or area ids than 32-bit ids allow";

/// The curved-face segment count: a number beyond the 32-bit range asks for more segments
/// than any face can hold, so it saturates (and such faces are declined by size) instead of
/// wrapping to a small count.
bool readSegments(const JsonValue& params, int32_t& out, std::string& error) {
    double value = 0.0;
    if (!readNumber(params, "cylinder_segments", 16.0, value, error)) return false;
    out = value >= 2147483648.0 ? std::numeric_limits<int32_t>::max() : truncateToCount(value);
    return true;
}

/// "conforming": a boolean, default false.
bool readConforming(const JsonValue& params, bool& out, std::string& error) {
    const JsonValue* value = findMember(params, "conforming");
    if (value == nullptr) return true;
    if (value->kind != JsonKind::Bool) {
        error = "'conforming' must be true or false";
        return false;
    }
    out = value->boolean;
    return true;
}

/// An optional length: absent gives 0 (the default follows from the part).
bool readPositiveLength(const JsonValue& params, const char* key, double& out, std::string& error) {
    if (findMember(params, key) == nullptr) return true;
    double value = 0.0;
    if (!readNumber(params, key, 0.0, value, error)) return false;
    if (!(value > 0.0) || !std::isfinite(value)) {
        error = std::string("'") + key + "' must be a positive finite number";
        return false;
    }
    out = value;
    return true;
}

/// "length_unit": empty when absent.
bool readLengthUnit(const JsonValue& params, std::string& out, std::string& error) {
    const JsonValue* value = findMember(params, "length_unit");
    if (value == nullptr) return true;
    double metres = 0.0;
    if (value->kind != JsonKind::String || !jobLengthUnitMetres(value->text, metres)) {
        error = "'length_unit' must be \"m\", \"mm\", \"cm\" or \"inch\"";
        return false;
    }
    out = value->text;
    return true;
}

/// Output units per file unit for the asked unit; fails when the file declares none.
bool unitScale(const StepFile& file, const std::string& unit, double& scale, std::string& error) {
    double target = 1.0;
    jobLengthUnitMetres(unit, target);
    double declared = 0.0;
    std::string why;
    switch (readLengthUnitMetres(file, declared, why)) {
        case StepUnitRead::Declared:
            scale = declared / target;
            return true;
        case StepUnitRead::Undeclared:
            error = "'length_unit' \"" + unit + "\" asks for a conversion, but the STEP file declares no length unit";
            return false;
        case StepUnitRead::Invalid:
            error = why;
            return false;
    }
    return false;
}

}  // namespace

bool appendFaceModel(const Model& face, StepNumbering& numbering, Model& out) {
    if (!idsFit(numbering.nextNodeId, face.nodes.size()) || !idsFit(numbering.nextAreaId, face.areas.size())) {
        return false;
    }
    out.nodes.insert(out.nodes.end(), face.nodes.begin(), face.nodes.end());
    out.areas.insert(out.areas.end(), face.areas.begin(), face.areas.end());
    numbering.nextNodeId += static_cast<int64_t>(face.nodes.size());
    numbering.nextAreaId += static_cast<int64_t>(face.areas.size());
    return true;
}

bool appendTessellatedFace(const TessellatedFace& face, StepNumbering& numbering, Model& out) {
    if (!idsFit(numbering.nextNodeId, face.points.size()) || !idsFit(numbering.nextAreaId, face.triangles.size())) {
        return false;
    }
    int64_t base = numbering.nextNodeId;
    for (const Point3& p : face.points) {
        out.nodes.push_back(Node{static_cast<int32_t>(numbering.nextNodeId), p.x, p.y, p.z});
        ++numbering.nextNodeId;
    }
    for (const auto& t : face.triangles) {
        Area area;
        area.id = static_cast<int32_t>(numbering.nextAreaId);
        area.nodes = {static_cast<int32_t>(base + t[0]), static_cast<int32_t>(base + t[1]),
                      static_cast<int32_t>(base + t[2])};
        area.kind = "CST";
        area.behavior = "membrane";
        area.thickness = 0.0;
        area.matId = 0;
        area.secId = 0;
        area.drilling = false;
        out.areas.push_back(std::move(area));
        ++numbering.nextAreaId;
    }
    return true;
}

std::string stepNodeBudgetMessage(int64_t budget) {
    return "mesh_step failed: the faces need more than " + std::to_string(budget) +
           " nodes; lower 'max_steiner_points' or 'cylinder_segments'";
}

bool meshStepFaces(const StepFile& file, const StepMeshOptions& options, Model& out, std::string& error) {
    return meshStepFacesWithin(file, options, kMaxStepNodes, out, error);
}

bool meshStepFacesWithin(const StepFile& file, const StepMeshOptions& options, int64_t nodeBudget, Model& out,
                         std::string& error) {
    // Checked before each face is appended: the model never holds more than the budget.
    auto withinBudget = [&](size_t faceNodes) {
        if (static_cast<int64_t>(out.nodes.size()) + static_cast<int64_t>(faceNodes) <= nodeBudget) return true;
        error = stepNodeBudgetMessage(nodeBudget);
        return false;
    };
    FaceExtraction<PlanarFace> planar = extractPlanarFaces(file);
    std::vector<FaceExtraction<TessellatedFace>> curved;
    curved.push_back(tessellateCylindricalFaces(file, options.segments));
    curved.push_back(tessellateConicalFaces(file, options.segments));
    curved.push_back(tessellateSphericalFaces(file, options.segments));
    curved.push_back(tessellateToroidalFaces(file, options.segments));
    curved.push_back(tessellateBsplineFaces(file, options.segments));

    bool anyFace = !planar.faces.empty();
    int64_t skipped = planar.skipped;
    for (const auto& extraction : curved) {
        anyFace = anyFace || !extraction.faces.empty();
        skipped += extraction.skipped;
    }
    if (!anyFace) {
        error = "no meshable faces found in STEP file (" + std::to_string(skipped) +
                " face(s) skipped as unsupported: non-planar surfaces, curved edges, or unsupported curved surfaces)";
        return false;
    }

    StepNumbering numbering;
    RefineOptions refine;
    refine.minAngleDeg = options.minAngleDeg;
    refine.maxSteinerPoints = options.maxSteinerPoints;
    refine.maxArea = 0.0;
    refine.sizing = nullptr;
    for (const PlanarFace& face : planar.faces) {
        // Ids at or beyond the 32-bit range cannot start a face; the check below refuses it.
        AreaProps props;
        props.firstNodeId = static_cast<uint32_t>(numbering.nextNodeId);
        props.firstAreaId = static_cast<uint32_t>(numbering.nextAreaId);
        props.behavior = "membrane";
        props.thickness = 0.0;
        props.matId = 0;
        props.secId = 0;
        props.drilling = false;
        AreaMesh mesh = meshQualityArea(face.outer, face.holes, {}, refine, props);
        if (!mesh.ok) continue;  // a face the quality mesher cannot mesh is dropped
        if (!withinBudget(mesh.model.nodes.size())) return false;
        if (!appendFaceModel(mesh.model, numbering, out)) {
            error = kIdOverflow;
            return false;
        }
        ++numbering.meshedFaces;
    }
    for (const auto& extraction : curved) {
        for (const TessellatedFace& face : extraction.faces) {
            if (!withinBudget(face.points.size())) return false;
            if (!appendTessellatedFace(face, numbering, out)) {
                error = kIdOverflow;
                return false;
            }
            ++numbering.meshedFaces;
        }
    }
    if (numbering.meshedFaces == 0) {
        error = "STEP faces found but none could be meshed (degenerate or non-convergent)";
        return false;
    }
    return true;
}

bool handleMeshStep(const JsonValue& params, Model& out, std::string& error) {
    const JsonValue* step = findMember(params, "step");
    if (step == nullptr || step->kind != JsonKind::String) {
        error = "missing required string 'params.step'";
        return false;
    }
    StepFile file = parseStepFile(step->text);
    if (!file.ok) {
        error = "STEP parse failed: " + file.error;
        return false;
    }
    StepMeshOptions options;
    if (!readNumber(params, "min_angle_deg", 20.0, options.minAngleDeg, error)) return false;
    if (!readCount(params, "max_steiner_points", 20000, options.maxSteinerPoints, error)) return false;
    if (!readSegments(params, options.segments, error)) return false;
    bool conforming = false;
    ConformingOptions conformingOptions;
    std::string unit;
    if (!readConforming(params, conforming, error)) return false;
    if (!readPositiveLength(params, "size", conformingOptions.size, error)) return false;
    if (!readPositiveLength(params, "chord_tolerance", conformingOptions.chordTolerance, error)) return false;
    if (!readLengthUnit(params, unit, error)) return false;
    double scale = 1.0;
    if (!unit.empty() && !unitScale(file, unit, scale, error)) return false;
    if (conforming) {
        conformingOptions.minAngleDeg = options.minAngleDeg;
        conformingOptions.maxSteinerPoints = options.maxSteinerPoints;
        conformingOptions.scale = scale;
        return meshStepConforming(file, conformingOptions, out, error);
    }
    if (!meshStepFaces(file, options, out, error)) return false;
    if (scale != 1.0) {
        for (Node& node : out.nodes) {
            node.x *= scale;
            node.y *= scale;
            node.z *= scale;
        }
    }
    return true;
}
