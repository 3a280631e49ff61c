#include "io/step/step_units.hpp"

#include <cmath>

#include "io/step/step_readers.hpp"

namespace {

/// A conversion-based unit refers to the unit it is based on; deeper chains are refused so
/// that a cycle of references cannot recurse without end.
constexpr int kMaxUnitDepth = 8;

const StepEntity* partOf(const StepEntity& entity, const char* type) {
    if (entity.type == type) return &entity;
    for (const StepEntity& part : entity.parts) {
        if (part.type == type) return &part;
    }
    return nullptr;
}

bool prefixFactor(const StepValue& prefix, double& factor) {
    if (prefix.kind == StepValueKind::Omitted) {
        factor = 1.0;
        return true;
    }
    if (prefix.kind != StepValueKind::Enumeration) return false;
    static const struct {
        const char* name;
        double factor;
    } kPrefixes[] = {{"EXA", 1e18},  {"PETA", 1e15}, {"TERA", 1e12}, {"GIGA", 1e9},   {"MEGA", 1e6},
                     {"KILO", 1e3},  {"HECTO", 1e2}, {"DECA", 1e1},  {"DECI", 1e-1},  {"CENTI", 1e-2},
                     {"MILLI", 1e-3}, {"MICRO", 1e-6}, {"NANO", 1e-9}, {"PICO", 1e-12}, {"FEMTO", 1e-15},
                     {"ATTO", 1e-18}};
    for (const auto& p : kPrefixes) {
        if (prefix.text == p.name) {
            factor = p.factor;
            return true;
        }
    }
    return false;
}

/// The size of a unit entity of the given kind ("LENGTH_UNIT" with SI name "METRE", or
/// "PLANE_ANGLE_UNIT" with "RADIAN") in its SI unit.
bool unitFactor(const StepFile& file, const StepEntity& unit, const char* kind, const char* siName, int depth,
                double& factor) {
    if (depth > kMaxUnitDepth) return false;
    if (const StepEntity* si = partOf(unit, "SI_UNIT")) {
        if (si->params.size() < 2) return false;
        const StepValue& name = si->params[1];
        if (name.kind != StepValueKind::Enumeration || name.text != siName) return false;
        return prefixFactor(si->params[0], factor);
    }
    if (const StepEntity* conversion = partOf(unit, "CONVERSION_BASED_UNIT")) {
        if (conversion->params.size() < 2) return false;
        const StepEntity* measure = findEntity(file, conversion->params[1]);
        if (measure == nullptr) return false;
        // A measure with unit: (value_component, unit_component), simple or as a part.
        const StepEntity* record = measure->parts.empty() ? measure : nullptr;
        for (const StepEntity& part : measure->parts) {
            if (part.type.find("MEASURE_WITH_UNIT") != std::string::npos) record = &part;
        }
        if (record == nullptr || record->params.size() < 2) return false;
        const StepValue& value = record->params[0];
        double amount = 0.0;
        if (value.kind == StepValueKind::Number) {
            amount = value.number;
        } else if (value.kind == StepValueKind::Typed && value.items.size() == 1 &&
                   value.items[0].kind == StepValueKind::Number) {
            amount = value.items[0].number;
        } else {
            return false;
        }
        const StepEntity* base = findEntity(file, record->params[1]);
        double baseFactor = 0.0;
        if (base == nullptr || !unitFactor(file, *base, kind, siName, depth + 1, baseFactor)) return false;
        factor = amount * baseFactor;
        return std::isfinite(factor) && factor > 0.0;
    }
    return false;
}

StepUnitRead readUnit(const StepFile& file, const char* kind, const char* siName, const char* what, double& out,
                      std::string& error) {
    for (const auto& entry : file.instances) {
        const StepEntity* context = partOf(entry.second, "GLOBAL_UNIT_ASSIGNED_CONTEXT");
        if (context == nullptr || context->params.empty()) continue;
        const StepValue& units = context->params[0];
        if (units.kind != StepValueKind::List) continue;
        for (const StepValue& item : units.items) {
            const StepEntity* unit = findEntity(file, item);
            if (unit == nullptr || partOf(*unit, kind) == nullptr) continue;
            double factor = 0.0;
            if (!unitFactor(file, *unit, kind, siName, 0, factor)) {
                error = std::string("the STEP file's ") + what + " unit #" + std::to_string(item.ref) +
                        " cannot be read";
                return StepUnitRead::Invalid;
            }
            out = factor;
            return StepUnitRead::Declared;
        }
    }
    return StepUnitRead::Undeclared;
}

}  // namespace

StepUnitRead readLengthUnitMetres(const StepFile& file, double& metres, std::string& error) {
    return readUnit(file, "LENGTH_UNIT", "METRE", "length", metres, error);
}

StepUnitRead readAngleUnitRadians(const StepFile& file, double& radians, std::string& error) {
    return readUnit(file, "PLANE_ANGLE_UNIT", "RADIAN", "plane angle", radians, error);
}

bool jobLengthUnitMetres(const std::string& name, double& metres) {
    if (name == "m") {
        metres = 1.0;
    } else if (name == "mm") {
        metres = 1e-3;
    } else if (name == "cm") {
        metres = 1e-2;
    } else if (name == "inch") {
        metres = 0.0254;
    } else {
        return false;
    }
    return true;
}
