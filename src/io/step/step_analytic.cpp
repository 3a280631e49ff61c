#include "io/step/step_analytic.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

using namespace stepvec;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kHalfPi = kPi / 2.0;

/// Height of p above the frame's origin along its axis.
double heightInFrame(const Frame3& f, const Point3& p) { return dot(f.zAxis, sub(p, f.origin)); }

/// Distance of p from the frame's axis.
double axisDistance(const Frame3& f, const Point3& p) {
    Point3 d = sub(p, f.origin);
    double h = dot(f.zAxis, d);
    return length(sub(d, scale(h, f.zAxis)));
}

/// Distance between two angles measured the shorter way round the circle.
double angularDistance(double x, double y) {
    double d = normalizeAngle(x - y);
    return std::min(d, kTwoPi - d);
}

/// A segment count from a real estimate: ceil or nearest (halves away from zero), at least 1.
/// Refuses estimates that are not finite or exceed the per-face point budget, so that the
/// conversion to an integer is always defined.
bool segmentCount(double estimate, bool roundUp, int64_t& out) {
    if (!(estimate <= static_cast<double>(kMaxFacePoints))) return false;
    int64_t k = roundUp ? static_cast<int64_t>(std::ceil(estimate)) : std::llround(estimate);
    out = std::max<int64_t>(1, k);
    return true;
}

/// The running point budget of one tessellator call.
struct PointBudget {
    int64_t remaining = 0;
    bool allows(int64_t count) const { return count <= kMaxFacePoints && count <= remaining; }
};

/// Index triangles between two rings of n points starting at base0 and base1.
void ringTriangles(TessellatedFace& out, int64_t base0, int64_t base1, int32_t n) {
    for (int64_t i = 0; i < n; ++i) {
        int64_t j = (i + 1) % n;
        out.triangles.push_back({base0 + i, base0 + j, base1 + j});
        out.triangles.push_back({base0 + i, base1 + j, base1 + i});
    }
}

/// Index triangles of a (mu + 1) x (mv + 1) grid, point i*(mv + 1) + j.
void gridTriangles(TessellatedFace& out, int64_t mu, int64_t mv) {
    for (int64_t i = 0; i < mu; ++i) {
        for (int64_t j = 0; j < mv; ++j) {
            int64_t a = i * (mv + 1) + j;
            int64_t b = (i + 1) * (mv + 1) + j;
            out.triangles.push_back({a, b, b + 1});
            out.triangles.push_back({a, b + 1, a + 1});
        }
    }
}

Point3 ringPoint(const Frame3& f, double h, double rho, double theta) {
    return add(add(add(f.origin, scale(rho * std::cos(theta), f.xAxis)), scale(rho * std::sin(theta), f.yAxis)),
               scale(h, f.zAxis));
}

Point3 spherePoint(const Point3& centre, const Point3& x, const Point3& y, const Point3& z, double radius,
                   double theta, double phi) {
    Point3 around = add(scale(std::cos(theta), x), scale(std::sin(theta), y));
    return add(add(centre, scale(radius * std::cos(phi), around)), scale(radius * std::sin(phi), z));
}

Point3 torusPoint(const Frame3& f, double majorRadius, double minorRadius, double u, double v) {
    Point3 around = add(scale(std::cos(u), f.xAxis), scale(std::sin(u), f.yAxis));
    return add(add(f.origin, scale(majorRadius + minorRadius * std::cos(v), around)),
               scale(minorRadius * std::sin(v), f.zAxis));
}

/// A Number parameter above 1e-12 (and finite).
bool readPositive(const StepEntity& e, size_t pos, double& out) {
    if (pos >= e.params.size()) return false;
    const StepValue& v = e.params[pos];
    if (v.kind != StepValueKind::Number || !std::isfinite(v.number) || !(v.number > 1e-12)) return false;
    out = v.number;
    return true;
}

/// One face of the tessellator's surface type: its surface entity, placement and circles.
struct CurvedFace {
    const StepEntity* face = nullptr;
    const StepEntity* surface = nullptr;
    Frame3 frame;
    std::vector<CircleEdge> edges;
};

/// Visits the ADVANCED_FACEs on `surfaceType` in ascending number and hands each readable one
/// to `recognise`; every face it declines, or that cannot be read, counts as skipped.
template <typename Recognise>
FaceExtraction<TessellatedFace> tessellateFaces(const StepFile& file, const char* surfaceType, int64_t pointBudget,
                                                Recognise recognise) {
    FaceExtraction<TessellatedFace> result;
    if (!file.ok) {
        result.error = "cannot tessellate faces from a STEP file that did not parse";
        return result;
    }
    result.ok = true;
    PointBudget budget;
    budget.remaining = pointBudget;
    for (const auto& entry : file.instances) {
        const StepEntity& entity = entry.second;
        if (entity.type != "ADVANCED_FACE" || entity.params.size() < 3) continue;
        const StepEntity* surface = findEntity(file, entity.params[2]);
        if (surface == nullptr || surface->type != surfaceType) continue;

        CurvedFace face;
        face.face = &entity;
        face.surface = surface;
        TessellatedFace out;
        bool done = surface->params.size() >= 2 && readPlacement(file, surface->params[1], face.frame) &&
                    collectCircleEdges(file, entity, face.edges) && !face.edges.empty() &&
                    recognise(file, face, budget, out);
        if (done) {
            budget.remaining -= static_cast<int64_t>(out.points.size());
            result.faces.push_back(std::move(out));
        } else {
            ++result.skipped;
        }
    }
    return result;
}

bool recogniseRuled(const CurvedFace& face, int32_t n, const PointBudget& budget, TessellatedFace& out) {
    const Frame3& f = face.frame;
    const std::vector<CircleEdge>& edges = face.edges;
    size_t closed = 0;
    for (const CircleEdge& e : edges) closed += isClosedEdge(e) ? 1 : 0;

    if (closed == edges.size()) {
        struct Ring {
            double h;
            double rho;
        };
        std::vector<Ring> rings;
        for (const CircleEdge& e : edges) {
            Ring r{heightInFrame(f, e.start), axisDistance(f, e.start)};
            if (!std::isfinite(r.h) || !std::isfinite(r.rho)) return false;
            rings.push_back(r);
        }
        std::stable_sort(rings.begin(), rings.end(), [](const Ring& a, const Ring& b) { return a.h < b.h; });
        std::vector<Ring> kept;
        for (const Ring& r : rings) {
            if (kept.empty() || !(std::fabs(r.h - kept.back().h) < 1e-7)) kept.push_back(r);
        }
        if (kept.size() != 2 || !(kept[0].rho > 1e-12) || !(kept[1].rho > 1e-12)) return false;
        if (!budget.allows(2 * static_cast<int64_t>(n))) return false;
        out = ringBand(f, kept[0].h, kept[0].rho, kept[1].h, kept[1].rho, n);
        return true;
    }
    if (closed != 0 || edges.size() != 2) return false;

    // Two arcs. The size of the sweep comes from the first arc in its own frame; the edge's
    // sense gives its direction round the circle, and a circle whose axis points against the
    // surface axis turns the other way in the surface frame.
    const CircleEdge& first = edges[0];
    double startAngle = angleInFrame(first.circleFrame, first.start);
    double endAngle = angleInFrame(first.circleFrame, first.end);
    double s = normalizeAngle(first.sameSense ? endAngle - startAngle : startAngle - endAngle);
    if (!(s >= 1e-6) || std::fabs(s - kTwoPi) < 1e-6) return false;
    double sweep = first.sameSense ? s : -s;
    if (dot(first.circleFrame.zAxis, f.zAxis) < 0.0) sweep = -sweep;
    double a0 = angleInFrame(f, first.start);

    double h[2];
    double rho[2];
    for (int k = 0; k < 2; ++k) {
        const CircleEdge& e = edges[k];
        h[k] = (heightInFrame(f, e.start) + heightInFrame(f, e.end)) / 2.0;
        rho[k] = (axisDistance(f, e.start) + axisDistance(f, e.end)) / 2.0;
    }
    if (!(std::fabs(h[1] - h[0]) >= 1e-7) || !(rho[0] > 1e-12) || !(rho[1] > 1e-12)) return false;
    if (!budget.allows(2 * (static_cast<int64_t>(n) + 1))) return false;
    out = arcBand(f, a0, sweep, h[0], rho[0], h[1], rho[1], n);
    return true;
}

/// The sense in which the face's first oriented edge runs round its circle's axis, as seen
/// with the face's outward normal: +1 or -1, 0 when that edge cannot be read.
double capSense(const StepFile& file, const StepEntity& face) {
    const StepValue& bounds = face.params[1];
    if (bounds.items.empty()) return 0.0;
    const StepEntity* bound = findEntity(file, bounds.items[0]);
    if (bound == nullptr || bound->params.size() < 2) return 0.0;
    const StepEntity* loop = findEntity(file, bound->params[1]);
    if (loop == nullptr || loop->params.size() < 2 || loop->params[1].items.empty()) return 0.0;
    const StepEntity* oriented = findEntity(file, loop->params[1].items[0]);
    if (oriented == nullptr || oriented->type != "ORIENTED_EDGE" || oriented->params.size() < 5) return 0.0;
    const StepEntity* edge = findTyped(file, *oriented, 3, "EDGE_CURVE", 5);
    if (edge == nullptr) return 0.0;
    double sigma = stepFlag(*oriented, 4) == stepFlag(*edge, 4) ? 1.0 : -1.0;
    sigma *= stepFlag(*bound, 2) ? 1.0 : -1.0;
    sigma *= stepFlag(face, 3) ? 1.0 : -1.0;
    return sigma;
}

double clampedAsin(double x) { return std::asin(std::max(-1.0, std::min(1.0, x))); }

bool recogniseSphere(const StepFile& file, const CurvedFace& face, int32_t n, const PointBudget& budget,
                     TessellatedFace& out) {
    double radius = 0.0;
    if (!readPositive(*face.surface, 2, radius)) return false;
    const Frame3& f = face.frame;
    const std::vector<CircleEdge>& edges = face.edges;
    double tol = radius * 1e-6;
    auto onSphere = [&](const Point3& p) { return std::fabs(length(sub(p, f.origin)) - radius) < tol; };

    if (edges.size() == 1 && isClosedEdge(edges[0])) {
        const CircleEdge& e = edges[0];
        if (!onSphere(e.start)) return false;
        double sigma = capSense(file, *face.face);
        if (sigma == 0.0) return false;
        Point3 pole = scale(sigma, e.circleFrame.zAxis);
        if (!(length(pole) >= 1e-12)) return false;
        Point3 toCentre = sub(e.circleFrame.origin, f.origin);
        double h = dot(toCentre, pole);
        if (!(length(sub(toCentre, scale(h, pole))) < tol)) return false;
        if (!(radius - std::fabs(h) >= tol)) return false;
        double phi0 = std::asin(h / radius);
        int64_t m = 0;
        if (!segmentCount((kHalfPi - phi0) * n / kTwoPi, true, m)) return false;
        if (!budget.allows(static_cast<int64_t>(n) * m + 1)) return false;
        out = sphereCap(f.origin, radius, pole, phi0, m, n);
        return true;
    }

    if (edges.size() == 2 && isClosedEdge(edges[0]) && isClosedEdge(edges[1])) {
        if (!onSphere(edges[0].start) || !onSphere(edges[1].start)) return false;
        double h0 = heightInFrame(f, edges[0].start);
        double h1 = heightInFrame(f, edges[1].start);
        if (!(std::fabs(h1 - h0) >= tol)) return false;
        double phi0 = clampedAsin(h0 / radius);
        double phi1 = clampedAsin(h1 / radius);
        int64_t m = 0;
        if (!segmentCount(std::fabs(phi1 - phi0) * n / kTwoPi, true, m)) return false;
        if (!budget.allows((m + 1) * static_cast<int64_t>(n))) return false;
        out = sphereZone(f, radius, phi0, phi1, m, n);
        return true;
    }

    // A patch between two parallels; arcs that are not parallels (meridians) are ignored.
    std::vector<const CircleEdge*> parallels;
    for (const CircleEdge& e : edges) {
        if (!onSphere(e.start) || !onSphere(e.end) || isClosedEdge(e)) return false;
        if (std::fabs(heightInFrame(f, e.start) - heightInFrame(f, e.end)) < tol) parallels.push_back(&e);
    }
    if (parallels.size() != 2) return false;
    double hA = heightInFrame(f, parallels[0]->start);
    double hB = heightInFrame(f, parallels[1]->start);
    if (!(std::fabs(hB - hA) >= tol)) return false;
    double theta0 = 0.0;
    double dTheta = 0.0;
    if (!arcSweep(*parallels[0], angleInFrame(f, parallels[0]->start), angleInFrame(f, parallels[0]->end), theta0,
                  dTheta, &f.zAxis)) {
        return false;
    }
    double phiA = clampedAsin(hA / radius);
    double phiB = clampedAsin(hB / radius);
    double dPhi = phiB - phiA;
    int64_t mu = 0;
    int64_t mv = 0;
    if (!segmentCount(std::fabs(dTheta) * n / kTwoPi, true, mu)) return false;
    if (!segmentCount(std::fabs(dPhi) * n / kTwoPi, true, mv)) return false;
    if (!budget.allows((mu + 1) * (mv + 1))) return false;
    out = spherePatch(f, radius, theta0, dTheta, mu, phiA, dPhi, mv);
    return true;
}

bool recogniseTorus(const CurvedFace& face, int32_t n, const PointBudget& budget, TessellatedFace& out) {
    double majorRadius = 0.0;
    double minorRadius = 0.0;
    if (!readPositive(*face.surface, 2, majorRadius) || !readPositive(*face.surface, 3, minorRadius)) return false;
    const Frame3& f = face.frame;
    const std::vector<CircleEdge>& edges = face.edges;
    double tol = majorRadius * 1e-6 + 1e-9;

    struct Kind {
        bool parallel;
        bool meridian;
        bool closed;
    };
    std::vector<Kind> kinds;
    for (const CircleEdge& e : edges) {
        double rho = axisDistance(f, e.circleFrame.origin);
        kinds.push_back({rho < tol, std::fabs(rho - majorRadius) < tol, isClosedEdge(e)});
    }
    auto tubeAngle = [&](const Point3& p) {
        return std::atan2(heightInFrame(f, p), axisDistance(f, p) - majorRadius);
    };

    bool allClosedMeridians = true;
    for (size_t k = 0; k < edges.size(); ++k) {
        if (!(kinds[k].meridian && kinds[k].closed) ||
            !(squaredDistance(edges[k].circleFrame.origin, edges[0].circleFrame.origin) < 1e-18)) {
            allClosedMeridians = false;
        }
    }
    if (allClosedMeridians) {
        if (!budget.allows(static_cast<int64_t>(n) * n)) return false;
        out = torusFull(f, majorRadius, minorRadius, n);
        return true;
    }

    const CircleEdge* openMeridian = nullptr;
    const CircleEdge* openParallel = nullptr;
    bool bandShape = true;   // closed parallels and open meridians
    bool patchShape = true;  // open parallels and open meridians
    for (size_t k = 0; k < edges.size(); ++k) {
        const Kind& kind = kinds[k];
        bool isOpenMeridian = kind.meridian && !kind.closed;
        bool isOpenParallel = kind.parallel && !kind.closed;
        if (isOpenMeridian && openMeridian == nullptr) openMeridian = &edges[k];
        if (isOpenParallel && openParallel == nullptr) openParallel = &edges[k];
        if (!((kind.parallel && kind.closed) || isOpenMeridian)) bandShape = false;
        if (!(isOpenParallel || isOpenMeridian)) patchShape = false;
    }
    if (openMeridian == nullptr) return false;
    double v0 = 0.0;
    double dv = 0.0;
    // The tube angle turns from the outward radial direction towards the axis, that is about
    // radial x axis at the meridian's centre.
    Point3 centre = sub(openMeridian->circleFrame.origin, f.origin);
    Point3 radial = sub(centre, scale(dot(f.zAxis, centre), f.zAxis));
    normalize(radial);
    Point3 tubeTurn = cross(radial, f.zAxis);
    if (!arcSweep(*openMeridian, tubeAngle(openMeridian->start), tubeAngle(openMeridian->end), v0, dv, &tubeTurn)) {
        return false;
    }
    int64_t mv = 0;
    if (!segmentCount(std::fabs(dv) * n / kTwoPi, false, mv)) return false;

    if (bandShape) {
        if (!budget.allows(static_cast<int64_t>(n) * (mv + 1))) return false;
        out = torusTubeBand(f, majorRadius, minorRadius, n, v0, dv, mv);
        return true;
    }
    if (!patchShape || openParallel == nullptr) return false;
    double u0 = 0.0;
    double du = 0.0;
    if (!arcSweep(*openParallel, angleInFrame(f, openParallel->start), angleInFrame(f, openParallel->end), u0, du,
                  &f.zAxis)) {
        return false;
    }
    int64_t mu = 0;
    if (!segmentCount(std::fabs(du) * n / kTwoPi, false, mu)) return false;
    if (!budget.allows((mu + 1) * (mv + 1))) return false;
    out = torusPatch(f, majorRadius, minorRadius, u0, du, mu, v0, dv, mv);
    return true;
}

}  // namespace

bool isClosedEdge(const CircleEdge& edge) { return squaredDistance(edge.start, edge.end) < 1e-18; }

double angleInFrame(const Frame3& frame, const Point3& p) {
    Point3 d = sub(p, frame.origin);
    return std::atan2(dot(frame.yAxis, d), dot(frame.xAxis, d));
}

double normalizeAngle(double angle) {
    if (!std::isfinite(angle)) return angle;
    // Angles here are differences of two atan2 results; a far larger one is reduced first so
    // that the loops below stay short.
    if (std::fabs(angle) > 16.0 * kTwoPi) angle = std::fmod(angle, kTwoPi);
    while (angle < 0.0) angle += kTwoPi;
    while (angle >= kTwoPi) angle -= kTwoPi;
    return angle;
}

bool arcSweep(const CircleEdge& edge, double a, double b, double& start, double& sweep, const Point3* turnAxis) {
    double startAngle = angleInFrame(edge.circleFrame, edge.start);
    double endAngle = angleInFrame(edge.circleFrame, edge.end);
    double s = normalizeAngle(edge.sameSense ? endAngle - startAngle : startAngle - endAngle);
    if (!(s >= 1e-6) || std::fabs(s - kTwoPi) < 1e-6) return false;
    start = a;
    double plus = angularDistance(a + s, b);
    double minus = angularDistance(a - s, b);
    sweep = minus < plus ? -s : s;
    if (turnAxis != nullptr && std::fabs(minus - plus) <= 1e-9) {
        // A half turn: the arc runs with its circle when sameSense is set, and the circle turns
        // with the caller's angle when their axes agree.
        double alignment = dot(edge.circleFrame.zAxis, *turnAxis);
        if (std::fabs(alignment) >= 1e-6) sweep = (edge.sameSense == (alignment > 0.0)) ? s : -s;
    }
    return true;
}

bool collectCircleEdges(const StepFile& file, const StepEntity& face, std::vector<CircleEdge>& out) {
    if (face.params.size() < 2 || face.params[1].kind != StepValueKind::List) return false;
    std::vector<CircleEdge> edges;
    for (const StepValue& item : face.params[1].items) {
        const StepEntity* bound = findEntity(file, item);
        if (bound == nullptr || bound->params.size() < 2) return false;
        if (bound->type != "FACE_OUTER_BOUND" && bound->type != "FACE_BOUND") return false;
        const StepEntity* loop = findTyped(file, *bound, 1, "EDGE_LOOP", 2);
        if (loop == nullptr || loop->params[1].kind != StepValueKind::List) return false;
        for (const StepValue& edgeRef : loop->params[1].items) {
            const StepEntity* oriented = findEntity(file, edgeRef);
            if (oriented == nullptr || oriented->type != "ORIENTED_EDGE" || oriented->params.size() < 5) return false;
            const StepEntity* edge = findTyped(file, *oriented, 3, "EDGE_CURVE", 5);
            if (edge == nullptr) return false;
            const StepEntity* curve = findEntity(file, edge->params[3]);
            if (curve == nullptr) return false;
            if (curve->type == "LINE") continue;
            if (curve->type != "CIRCLE" || curve->params.size() < 2) return false;
            CircleEdge c;
            if (!readVertexPoint(file, edge->params[1], c.start) || !readVertexPoint(file, edge->params[2], c.end)) {
                return false;
            }
            c.sameSense = stepFlag(*edge, 4);
            if (!readPlacement(file, curve->params[1], c.circleFrame)) return false;
            edges.push_back(c);
        }
    }
    out = std::move(edges);
    return true;
}

TessellatedFace ringBand(const Frame3& frame, double h0, double rho0, double h1, double rho1, int32_t n) {
    TessellatedFace out;
    out.points.reserve(2 * static_cast<size_t>(n));
    for (int ring = 0; ring < 2; ++ring) {
        double h = ring == 0 ? h0 : h1;
        double rho = ring == 0 ? rho0 : rho1;
        for (int32_t i = 0; i < n; ++i) out.points.push_back(ringPoint(frame, h, rho, kTwoPi * i / n));
    }
    out.triangles.reserve(2 * static_cast<size_t>(n));
    ringTriangles(out, 0, n, n);
    return out;
}

TessellatedFace arcBand(const Frame3& frame, double a0, double sweep, double h0, double rho0, double h1,
                        double rho1, int32_t n) {
    TessellatedFace out;
    out.points.reserve(2 * (static_cast<size_t>(n) + 1));
    for (int ring = 0; ring < 2; ++ring) {
        double h = ring == 0 ? h0 : h1;
        double rho = ring == 0 ? rho0 : rho1;
        for (int32_t i = 0; i <= n; ++i) {
            out.points.push_back(ringPoint(frame, h, rho, a0 + static_cast<double>(i) / n * sweep));
        }
    }
    out.triangles.reserve(2 * static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        out.triangles.push_back({i, i + 1, i + n + 2});
        out.triangles.push_back({i, i + n + 2, i + n + 1});
    }
    return out;
}

TessellatedFace sphereCap(const Point3& centre, double radius, const Point3& pole, double phi0, int64_t m,
                          int32_t n) {
    Point3 x = perpendicularUnit(pole);
    Point3 y = cross(pole, x);
    TessellatedFace out;
    out.points.reserve(static_cast<size_t>(n) * static_cast<size_t>(m) + 1);
    for (int64_t k = 0; k < m; ++k) {
        double phi = phi0 + static_cast<double>(k) / static_cast<double>(m) * (kHalfPi - phi0);
        for (int32_t i = 0; i < n; ++i) {
            out.points.push_back(spherePoint(centre, x, y, pole, radius, kTwoPi * i / n, phi));
        }
    }
    out.points.push_back(add(centre, scale(radius, pole)));
    out.triangles.reserve(2 * static_cast<size_t>(n) * static_cast<size_t>(m));
    for (int64_t k = 0; k + 1 < m; ++k) ringTriangles(out, k * n, (k + 1) * n, n);
    int64_t last = (m - 1) * n;
    int64_t apex = m * n;
    for (int64_t i = 0; i < n; ++i) out.triangles.push_back({last + i, last + (i + 1) % n, apex});
    return out;
}

TessellatedFace sphereZone(const Frame3& frame, double radius, double phi0, double phi1, int64_t m, int32_t n) {
    TessellatedFace out;
    out.points.reserve((static_cast<size_t>(m) + 1) * static_cast<size_t>(n));
    for (int64_t j = 0; j <= m; ++j) {
        double phi = phi0 + static_cast<double>(j) / static_cast<double>(m) * (phi1 - phi0);
        for (int32_t i = 0; i < n; ++i) {
            out.points.push_back(
                spherePoint(frame.origin, frame.xAxis, frame.yAxis, frame.zAxis, radius, kTwoPi * i / n, phi));
        }
    }
    out.triangles.reserve(2 * static_cast<size_t>(n) * static_cast<size_t>(m));
    for (int64_t j = 0; j < m; ++j) ringTriangles(out, j * n, (j + 1) * n, n);
    return out;
}

TessellatedFace spherePatch(const Frame3& frame, double radius, double theta0, double dTheta, int64_t mu,
                            double phiA, double dPhi, int64_t mv) {
    TessellatedFace out;
    out.points.reserve((static_cast<size_t>(mu) + 1) * (static_cast<size_t>(mv) + 1));
    for (int64_t i = 0; i <= mu; ++i) {
        double theta = theta0 + static_cast<double>(i) / static_cast<double>(mu) * dTheta;
        for (int64_t j = 0; j <= mv; ++j) {
            double phi = phiA + static_cast<double>(j) / static_cast<double>(mv) * dPhi;
            out.points.push_back(
                spherePoint(frame.origin, frame.xAxis, frame.yAxis, frame.zAxis, radius, theta, phi));
        }
    }
    out.triangles.reserve(2 * static_cast<size_t>(mu) * static_cast<size_t>(mv));
    gridTriangles(out, mu, mv);
    return out;
}

TessellatedFace torusFull(const Frame3& frame, double majorRadius, double minorRadius, int32_t n) {
    TessellatedFace out;
    out.points.reserve(static_cast<size_t>(n) * static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        for (int32_t j = 0; j < n; ++j) {
            out.points.push_back(torusPoint(frame, majorRadius, minorRadius, kTwoPi * i / n, kTwoPi * j / n));
        }
    }
    out.triangles.reserve(2 * static_cast<size_t>(n) * static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        int64_t i1 = (i + 1) % n;
        for (int64_t j = 0; j < n; ++j) {
            int64_t j1 = (j + 1) % n;
            out.triangles.push_back({i * n + j, i1 * n + j, i1 * n + j1});
            out.triangles.push_back({i * n + j, i1 * n + j1, i * n + j1});
        }
    }
    return out;
}

TessellatedFace torusTubeBand(const Frame3& frame, double majorRadius, double minorRadius, int32_t n, double v0,
                              double dv, int64_t m) {
    TessellatedFace out;
    out.points.reserve(static_cast<size_t>(n) * (static_cast<size_t>(m) + 1));
    for (int32_t i = 0; i < n; ++i) {
        double u = kTwoPi * i / n;
        for (int64_t j = 0; j <= m; ++j) {
            double v = v0 + static_cast<double>(j) / static_cast<double>(m) * dv;
            out.points.push_back(torusPoint(frame, majorRadius, minorRadius, u, v));
        }
    }
    out.triangles.reserve(2 * static_cast<size_t>(n) * static_cast<size_t>(m));
    for (int64_t i = 0; i < n; ++i) {
        int64_t i1 = (i + 1) % n;
        for (int64_t j = 0; j < m; ++j) {
            int64_t a = i * (m + 1) + j;
            int64_t b = i1 * (m + 1) + j;
            out.triangles.push_back({a, b, b + 1});
            out.triangles.push_back({a, b + 1, a + 1});
        }
    }
    return out;
}

TessellatedFace torusPatch(const Frame3& frame, double majorRadius, double minorRadius, double u0, double du,
                           int64_t mu, double v0, double dv, int64_t mv) {
    TessellatedFace out;
    out.points.reserve((static_cast<size_t>(mu) + 1) * (static_cast<size_t>(mv) + 1));
    for (int64_t i = 0; i <= mu; ++i) {
        double u = u0 + static_cast<double>(i) / static_cast<double>(mu) * du;
        for (int64_t j = 0; j <= mv; ++j) {
            double v = v0 + static_cast<double>(j) / static_cast<double>(mv) * dv;
            out.points.push_back(torusPoint(frame, majorRadius, minorRadius, u, v));
        }
    }
    out.triangles.reserve(2 * static_cast<size_t>(mu) * static_cast<size_t>(mv));
    gridTriangles(out, mu, mv);
    return out;
}

FaceExtraction<TessellatedFace> tessellateRuledFaces(const StepFile& file, const char* surfaceType, int32_t n,
                                                     int64_t pointBudget) {
    int32_t segments = std::max<int32_t>(3, n);
    return tessellateFaces(file, surfaceType, pointBudget,
                           [segments](const StepFile&, const CurvedFace& face, const PointBudget& budget,
                                      TessellatedFace& out) { return recogniseRuled(face, segments, budget, out); });
}

FaceExtraction<TessellatedFace> tessellateCylindricalFaces(const StepFile& file, int32_t n, int64_t pointBudget) {
    return tessellateRuledFaces(file, "CYLINDRICAL_SURFACE", n, pointBudget);
}

FaceExtraction<TessellatedFace> tessellateConicalFaces(const StepFile& file, int32_t n, int64_t pointBudget) {
    return tessellateRuledFaces(file, "CONICAL_SURFACE", n, pointBudget);
}

FaceExtraction<TessellatedFace> tessellateSphericalFaces(const StepFile& file, int32_t n, int64_t pointBudget) {
    int32_t segments = std::max<int32_t>(3, n);
    return tessellateFaces(file, "SPHERICAL_SURFACE", pointBudget,
                           [segments](const StepFile& f, const CurvedFace& face, const PointBudget& budget,
                                      TessellatedFace& out) { return recogniseSphere(f, face, segments, budget, out); });
}

FaceExtraction<TessellatedFace> tessellateToroidalFaces(const StepFile& file, int32_t n, int64_t pointBudget) {
    int32_t segments = std::max<int32_t>(3, n);
    return tessellateFaces(file, "TOROIDAL_SURFACE", pointBudget,
                           [segments](const StepFile&, const CurvedFace& face, const PointBudget& budget,
                                      TessellatedFace& out) { return recogniseTorus(face, segments, budget, out); });
}
