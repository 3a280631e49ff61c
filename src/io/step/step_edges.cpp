#include "io/step/step_edges.hpp"

#include <algorithm>
#include <cmath>

namespace {

using namespace stepvec;

constexpr double kTwoPi = 6.283185307179586;

/// Surface curves nest at most this deep before the reader gives up.
constexpr int kMaxCurveNesting = 4;

bool prepareCurve(const BsplineCurve& curve, CurveGeometry& out) {
    int64_t n = static_cast<int64_t>(curve.controlPoints.size());
    if (n < 2 || curve.degree < 1 || curve.degree >= n) return false;
    int64_t expected = curve.degree + 1 + n;
    std::vector<double> knots = expandKnots(curve.knots, curve.multiplicities, expected);
    if (static_cast<int64_t>(knots.size()) != expected) return false;
    for (double k : knots) {
        if (!std::isfinite(k)) return false;
    }
    out.tMin = knots[curve.degree];
    out.tMax = knots[n];
    if (!(out.tMin < out.tMax)) return false;
    out.points.clear();
    for (size_t i = 0; i < curve.controlPoints.size(); ++i) {
        const Point3& c = curve.controlPoints[i];
        double w = curve.rational ? curve.weights[i] : 1.0;
        if (!std::isfinite(w) || !(w > 0.0)) return false;
        out.points.push_back({w * c.x, w * c.y, w * c.z, w});
    }
    out.kind = CurveKind::Bspline;
    out.degree = curve.degree;
    out.knots = std::move(knots);
    return true;
}

bool readCurve(const StepFile& file, const StepValue& ref, const Point3& start, const Point3& end, int depth,
               CurveGeometry& out, std::string& why) {
    const StepEntity* curve = findEntity(file, ref);
    if (curve == nullptr) {
        why = "its curve cannot be found";
        return false;
    }
    const std::string& type = curve->type;
    if (type == "SURFACE_CURVE" || type == "SEAM_CURVE" || type == "INTERSECTION_CURVE") {
        if (depth >= kMaxCurveNesting || curve->params.size() < 2) {
            why = "its " + type + " cannot be read";
            return false;
        }
        return readCurve(file, curve->params[1], start, end, depth + 1, out, why);
    }
    if (type == "LINE") {
        out.kind = CurveKind::Line;
        out.lineStart = start;
        out.lineEnd = end;
        return true;
    }
    if (type == "CIRCLE" || type == "ELLIPSE") {
        bool circle = type == "CIRCLE";
        if (curve->params.size() < (circle ? 3u : 4u) || !readPlacement(file, curve->params[1], out.frame) ||
            !stepNumber(*curve, 2, out.radius1) || !(out.radius1 > 1e-12) ||
            (!circle && (!stepNumber(*curve, 3, out.radius2) || !(out.radius2 > 1e-12)))) {
            why = "its " + type + " cannot be read";
            return false;
        }
        out.kind = circle ? CurveKind::Circle : CurveKind::Ellipse;
        if (circle) out.radius2 = out.radius1;
        return true;
    }
    BsplineCurve bspline;
    BsplineRead read = readBsplineCurve(file, *curve, bspline);
    if (read == BsplineRead::Read && prepareCurve(bspline, out)) return true;
    if (read != BsplineRead::NotBspline) {
        why = "its B-spline curve is invalid";
    } else {
        why = "its curve " + (type.empty() ? std::string("(a complex instance)") : type) + " is not supported";
    }
    return false;
}

/// Distance from p to the segment ab.
double distanceToSegment(const Point3& p, const Point3& a, const Point3& b) {
    Point3 ab = sub(b, a);
    double len2 = dot(ab, ab);
    double t = len2 > 0.0 ? dot(sub(p, a), ab) / len2 : 0.0;
    t = std::min(1.0, std::max(0.0, t));
    return length(sub(p, add(a, scale(t, ab))));
}

/// Whether the chord over [ta, tb] is short enough and close enough to the curve.
bool chordFits(const CurveGeometry& curve, double ta, double tb, double size, double tolerance) {
    Point3 a = curvePointAt(curve, ta);
    Point3 b = curvePointAt(curve, tb);
    if (length(sub(b, a)) > size) return false;
    for (int k = 1; k <= 3; ++k) {
        double t = ta + (static_cast<double>(k) * 0.25) * (tb - ta);
        if (distanceToSegment(curvePointAt(curve, t), a, b) > tolerance) return false;
    }
    return true;
}

}  // namespace

bool readEdgeCurve(const StepFile& file, const StepValue& curveRef, const Point3& start, const Point3& end,
                   CurveGeometry& out, std::string& why) {
    return readCurve(file, curveRef, start, end, 0, out, why);
}

Point3 curvePointAt(const CurveGeometry& curve, double t) {
    switch (curve.kind) {
        case CurveKind::Line:
            return add(curve.lineStart, scale(t, sub(curve.lineEnd, curve.lineStart)));
        case CurveKind::Circle:
        case CurveKind::Ellipse: {
            const Frame3& f = curve.frame;
            return add(add(f.origin, scale(curve.radius1 * std::cos(t), f.xAxis)),
                       scale(curve.radius2 * std::sin(t), f.yAxis));
        }
        case CurveKind::Bspline: {
            Point4 h = deBoor(curve.degree, curve.knots, curve.points, t);
            if (h.w == 0.0) return {0.0, 0.0, 0.0};
            return {h.x / h.w, h.y / h.w, h.z / h.w};
        }
    }
    return {};
}

double curveParameterOf(const CurveGeometry& curve, const Point3& p) {
    switch (curve.kind) {
        case CurveKind::Line: {
            Point3 d = sub(curve.lineEnd, curve.lineStart);
            double len2 = dot(d, d);
            return len2 > 0.0 ? dot(sub(p, curve.lineStart), d) / len2 : 0.0;
        }
        case CurveKind::Circle:
        case CurveKind::Ellipse: {
            Point3 d = sub(p, curve.frame.origin);
            double angle = std::atan2(dot(d, curve.frame.yAxis) / curve.radius2, dot(d, curve.frame.xAxis) / curve.radius1);
            return angle < 0.0 ? angle + kTwoPi : angle;
        }
        case CurveKind::Bspline: {
            // Coarse samples, then a shrinking window around the best one.
            const int samples = 64 + 4 * static_cast<int>(std::min<size_t>(curve.points.size(), 1000));
            double best = curve.tMin;
            double bestD = squaredDistance(curvePointAt(curve, best), p);
            for (int i = 1; i <= samples; ++i) {
                double t = curve.tMin + (static_cast<double>(i) / samples) * (curve.tMax - curve.tMin);
                double d = squaredDistance(curvePointAt(curve, t), p);
                if (d < bestD) {
                    bestD = d;
                    best = t;
                }
            }
            double step = (curve.tMax - curve.tMin) / samples;
            for (int pass = 0; pass < 60 && step > 0.0; ++pass) {
                for (double t : {best - step, best + step}) {
                    if (t < curve.tMin || t > curve.tMax) continue;
                    double d = squaredDistance(curvePointAt(curve, t), p);
                    if (d < bestD) {
                        bestD = d;
                        best = t;
                    }
                }
                step *= 0.5;
            }
            return best;
        }
    }
    return 0.0;
}

bool discretizeCurve(const CurveGeometry& curve, double t0, double t1, double size, double tolerance,
                     int64_t maxPoints, std::vector<double>& params) {
    params.clear();
    double span = t1 - t0;
    int64_t n = 1;
    if (curve.kind == CurveKind::Line) {
        double len = length(sub(curve.lineEnd, curve.lineStart)) * std::fabs(span);
        double count = std::ceil(len / size);
        if (!(count <= static_cast<double>(maxPoints))) return false;
        n = std::max<int64_t>(1, static_cast<int64_t>(count));
    } else if (curve.kind == CurveKind::Circle) {
        double sweep = std::fabs(span);
        double bySize = std::ceil(curve.radius1 * sweep / size);
        double byTolerance = 1.0;
        if (tolerance < curve.radius1) byTolerance = std::ceil(sweep / (2.0 * std::acos(1.0 - tolerance / curve.radius1)));
        double byTurn = std::ceil(sweep / (kTwoPi / 3.0) - 1e-9);
        double count = std::max(std::max(bySize, byTolerance), std::max(byTurn, 1.0));
        if (!(count <= static_cast<double>(maxPoints))) return false;
        n = static_cast<int64_t>(count);
    } else {
        // Uniform in the parameter from an estimate of the length, then bisection of every
        // interval whose chord is too long or too far from the curve.
        const int samples = 256;
        double len = 0.0;
        Point3 prev = curvePointAt(curve, t0);
        for (int i = 1; i <= samples; ++i) {
            Point3 q = curvePointAt(curve, t0 + (static_cast<double>(i) / samples) * span);
            len += length(sub(q, prev));
            prev = q;
        }
        double count = std::ceil(len / size);
        if (curve.kind == CurveKind::Ellipse) count = std::max(count, std::ceil(std::fabs(span) / (kTwoPi / 3.0) - 1e-9));
        if (!(count <= static_cast<double>(maxPoints))) return false;
        n = std::max<int64_t>(1, static_cast<int64_t>(count));
    }
    params.reserve(static_cast<size_t>(n + 1));
    for (int64_t i = 0; i <= n; ++i) {
        params.push_back(i == n ? t1 : t0 + (static_cast<double>(i) / static_cast<double>(n)) * span);
    }
    if (curve.kind == CurveKind::Line || curve.kind == CurveKind::Circle) return true;

    std::vector<double> refined;
    refined.push_back(params[0]);
    std::vector<std::pair<double, int>> stack;
    for (size_t i = 1; i < params.size(); ++i) {
        // Depth-first over [refined.back(), params[i]], left halves first.
        stack.clear();
        stack.push_back({params[i], 0});
        while (!stack.empty()) {
            double ta = refined.back();
            double tb = stack.back().first;
            int depth = stack.back().second;
            if (depth >= 30 || chordFits(curve, ta, tb, size, tolerance)) {
                refined.push_back(tb);
                stack.pop_back();
                if (static_cast<int64_t>(refined.size()) > maxPoints) return false;
            } else {
                stack.back().second = depth + 1;
                stack.push_back({ta + 0.5 * (tb - ta), depth + 1});
            }
        }
    }
    params = std::move(refined);
    return true;
}
