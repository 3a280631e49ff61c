// mesh_disc and mesh_annulus: structured quadrilateral discs and annuli about any normal.

#include "job/handlers.hpp"
#include "job/readers.hpp"
#include "structured/disc.hpp"

namespace {

/// An optional point: absent keeps `out` as it is.
bool readOptionalPoint(const JsonValue& params, const char* key, Point3& out, std::string& error) {
    const JsonValue* value = findMember(params, key);
    return value == nullptr || readPoint3(*value, out, error);
}

/// A required number looked up directly: false when absent or not a number.
bool findNumber(const JsonValue& params, const char* key, double& out) {
    const JsonValue* value = findMember(params, key);
    if (value == nullptr || value->kind != JsonKind::Number) return false;
    out = value->number;
    return true;
}

StructuredAreaProps structuredProps(int32_t matId, double thickness) {
    StructuredAreaProps props;
    props.firstNodeId = 1;
    props.firstAreaId = 1;
    props.matId = static_cast<uint32_t>(matId);
    props.secId = 0;
    props.thickness = thickness;
    return props;
}

}  // namespace

bool handleMeshDisc(const JsonValue& params, Model& out, std::string& error) {
    Point3 center{0.0, 0.0, 0.0};
    Point3 normal{0.0, 0.0, 1.0};
    if (!readOptionalPoint(params, "center", center, error)) return false;
    if (!readOptionalPoint(params, "normal", normal, error)) return false;
    double radius = 0.0;
    if (!findNumber(params, "radius", radius)) {
        error = "missing required numeric 'params.radius'";
        return false;
    }
    int32_t divisions = 8, matId = 0;
    double thickness = 0.0;
    if (!readCount(params, "divisions", 8, divisions, error)) return false;
    if (!readMaterialId(params, matId, error)) return false;
    if (!readNumber(params, "thickness", 0.0, thickness, error)) return false;

    StructuredAreaMesh mesh = meshDisc(center, normal, radius, divisions, structuredProps(matId, thickness));
    if (!mesh.ok) {
        error = "mesh_disc failed: " + mesh.message;
        return false;
    }
    out = std::move(mesh.model);
    return true;
}

bool handleMeshAnnulus(const JsonValue& params, Model& out, std::string& error) {
    Point3 center{0.0, 0.0, 0.0};
    Point3 normal{0.0, 0.0, 1.0};
    if (!readOptionalPoint(params, "center", center, error)) return false;
    if (!readOptionalPoint(params, "normal", normal, error)) return false;
    double rInner = 0.0, rOuter = 0.0;
    if (!findNumber(params, "r_inner", rInner) || !findNumber(params, "r_outer", rOuter)) {
        error = "missing required numeric 'params.r_inner' / 'params.r_outer'";
        return false;
    }
    int32_t radial = 4, around = 32, matId = 0;
    double thickness = 0.0;
    if (!readCount(params, "radial", 4, radial, error)) return false;
    if (!readCount(params, "around", 32, around, error)) return false;
    if (!readMaterialId(params, matId, error)) return false;
    if (!readNumber(params, "thickness", 0.0, thickness, error)) return false;

    StructuredAreaMesh mesh = meshAnnulus(center, normal, rInner, rOuter, radial, around,
                                          structuredProps(matId, thickness));
    if (!mesh.ok) {
        error = "mesh_annulus failed: " + mesh.message;
        return false;
    }
    out = std::move(mesh.model);
    return true;
}
