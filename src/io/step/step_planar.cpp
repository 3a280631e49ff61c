#include "io/step/step_planar.hpp"

#include <utility>

#include "io/step/step_readers.hpp"

bool readPlanarLoop(const StepFile& file, const StepEntity& loop, std::vector<Point3>& out) {
    if (loop.params.size() < 2 || loop.params[1].kind != StepValueKind::List) return false;
    std::vector<Point3> points;
    for (const StepValue& item : loop.params[1].items) {
        const StepEntity* oriented = findEntity(file, item);
        if (oriented == nullptr || oriented->type != "ORIENTED_EDGE" || oriented->params.size() < 5) return false;
        const StepEntity* edge = findTyped(file, *oriented, 3, "EDGE_CURVE", 4);
        if (edge == nullptr) return false;
        const StepEntity* curve = findEntity(file, edge->params[3]);
        if (curve == nullptr || curve->type != "LINE") return false;
        // The oriented edge starts at the curve's start vertex when it runs with the curve.
        const StepValue& start = stepFlag(*oriented, 4) ? edge->params[1] : edge->params[2];
        Point3 p;
        if (!readVertexPoint(file, start, p)) return false;
        if (points.empty() || stepvec::squaredDistance(p, points.back()) >= 1e-18) points.push_back(p);
    }
    if (points.size() > 1 && stepvec::squaredDistance(points.back(), points.front()) < 1e-18) points.pop_back();
    if (points.size() < 3) return false;
    out = std::move(points);
    return true;
}

namespace {

/// Reads one planar face; false when any part of it cannot be used.
bool readPlanarFace(const StepFile& file, const StepEntity& face, PlanarFace& out) {
    if (face.params.size() < 3) return false;
    const StepEntity* surface = findEntity(file, face.params[2]);
    if (surface == nullptr || surface->type != "PLANE") return false;
    if (face.params[1].kind != StepValueKind::List) return false;

    bool haveOuter = false;
    for (const StepValue& item : face.params[1].items) {
        const StepEntity* bound = findEntity(file, item);
        if (bound == nullptr || bound->params.size() < 2) return false;
        bool isOuter = bound->type == "FACE_OUTER_BOUND";
        if (!isOuter && bound->type != "FACE_BOUND") return false;
        const StepEntity* loop = findEntity(file, bound->params[1]);
        if (loop == nullptr || loop->type != "EDGE_LOOP") return false;
        std::vector<Point3> polygon;
        if (!readPlanarLoop(file, *loop, polygon)) return false;
        if (isOuter) {
            out.outer = std::move(polygon);
            haveOuter = true;
        } else {
            out.holes.push_back(std::move(polygon));
        }
    }
    // Without an outer bound the first inner bound is taken as the outline.
    if (!haveOuter && !out.holes.empty()) {
        out.outer = std::move(out.holes.front());
        out.holes.erase(out.holes.begin());
    }
    return out.outer.size() >= 3;
}

}  // namespace

FaceExtraction<PlanarFace> extractPlanarFaces(const StepFile& file) {
    FaceExtraction<PlanarFace> result;
    if (!file.ok) {
        result.error = "cannot extract faces from a STEP file that did not parse";
        return result;
    }
    result.ok = true;
    for (const auto& entry : file.instances) {
        const StepEntity& entity = entry.second;
        if (entity.type != "ADVANCED_FACE") continue;
        PlanarFace face;
        if (readPlanarFace(file, entity, face)) {
            result.faces.push_back(std::move(face));
        } else {
            ++result.skipped;
        }
    }
    return result;
}
