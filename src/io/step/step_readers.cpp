#include "io/step/step_readers.hpp"

#include <cmath>

using namespace stepvec;

const StepEntity* findEntity(const StepFile& file, const StepValue& value) {
    if (value.kind != StepValueKind::Reference) return nullptr;
    auto it = file.instances.find(value.ref);
    return it == file.instances.end() ? nullptr : &it->second;
}

const StepEntity* findTyped(const StepFile& file, const StepEntity& entity, size_t pos, const char* type,
                            size_t minParams) {
    if (pos >= entity.params.size()) return nullptr;
    const StepEntity* target = findEntity(file, entity.params[pos]);
    if (target == nullptr || target->type != type || target->params.size() < minParams) return nullptr;
    return target;
}

bool stepNumber(const StepEntity& entity, size_t pos, double& out) {
    if (entity.params.size() <= pos || entity.params[pos].kind != StepValueKind::Number) return false;
    out = entity.params[pos].number;
    return std::isfinite(out);
}

bool stepFlag(const StepEntity& entity, size_t pos) {
    if (pos >= entity.params.size()) return false;
    const StepValue& v = entity.params[pos];
    return v.kind == StepValueKind::Enumeration && v.text == "T";
}

namespace {

/// Position 1 of an entity of the given type as three finite numbers. Coordinates that
/// overflowed to infinity in the file are refused: they could only produce NaN geometry.
bool readTriple(const StepFile& file, const StepValue& value, const char* type, Point3& out) {
    const StepEntity* e = findEntity(file, value);
    if (e == nullptr || e->type != type || e->params.size() < 2) return false;
    const StepValue& list = e->params[1];
    if (list.kind != StepValueKind::List || list.items.size() < 3) return false;
    double c[3];
    for (int i = 0; i < 3; ++i) {
        const StepValue& item = list.items[i];
        if (item.kind != StepValueKind::Number || !std::isfinite(item.number)) return false;
        c[i] = item.number;
    }
    out = {c[0], c[1], c[2]};
    return true;
}

}  // namespace

bool readCartesianPoint(const StepFile& file, const StepValue& value, Point3& out) {
    return readTriple(file, value, "CARTESIAN_POINT", out);
}

bool readDirection(const StepFile& file, const StepValue& value, Point3& out) {
    return readTriple(file, value, "DIRECTION", out);
}

bool readVertexPoint(const StepFile& file, const StepValue& value, Point3& out) {
    const StepEntity* e = findEntity(file, value);
    if (e == nullptr || e->type != "VERTEX_POINT" || e->params.size() < 2) return false;
    return readCartesianPoint(file, e->params[1], out);
}

bool normalize(Point3& v) {
    double len = length(v);
    // A NaN length (from an overflowed product) is refused like a short one.
    if (!(len >= 1e-12)) return false;
    v = {v.x / len, v.y / len, v.z / len};
    return true;
}

Point3 perpendicularUnit(const Point3& d) {
    Point3 a = std::fabs(d.x) < 0.9 ? Point3{1.0, 0.0, 0.0} : Point3{0.0, 1.0, 0.0};
    Point3 p = cross(d, a);
    normalize(p);
    return p;
}

bool readPlacement(const StepFile& file, const StepValue& value, Frame3& out) {
    const StepEntity* e = findEntity(file, value);
    if (e == nullptr || e->type != "AXIS2_PLACEMENT_3D" || e->params.size() < 2) return false;
    Frame3 f;
    if (!readCartesianPoint(file, e->params[1], f.origin)) return false;

    Point3 z{0.0, 0.0, 1.0};
    if (e->params.size() > 2 && e->params[2].kind == StepValueKind::Reference) {
        Point3 axis;
        if (readDirection(file, e->params[2], axis)) z = axis;
    }
    if (!normalize(z)) return false;

    bool haveX = false;
    Point3 x;
    if (e->params.size() > 3 && e->params[3].kind == StepValueKind::Reference) {
        Point3 d;
        if (readDirection(file, e->params[3], d)) {
            double along = dot(d, z);
            x = sub(d, scale(along, z));
            haveX = normalize(x);
        }
    }
    if (!haveX) x = perpendicularUnit(z);

    f.zAxis = z;
    f.xAxis = x;
    f.yAxis = cross(z, x);
    out = f;
    return true;
}
