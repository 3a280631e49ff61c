#include "io/step/step_charts.hpp"

#include <algorithm>
#include <cmath>

namespace {

using namespace stepvec;

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

/// w(v) for v in [-pi, pi], continued by whole turns.
double torusW(const SurfaceChart& c, double v) {
    double turns = std::floor((v + kPi) / kTwoPi);
    double local = v - turns * kTwoPi;  // in [-pi, pi)
    double period = c.torusC * kPi;
    return c.torusC * std::atan(c.torusK * std::tan(0.5 * local)) + turns * period;
}

double torusV(const SurfaceChart& c, double w) {
    double period = c.torusC * kPi;
    double turns = std::floor((w + 0.5 * period) / period);
    double local = w - turns * period;
    return 2.0 * std::atan(std::tan(local / c.torusC) / c.torusK) + turns * kTwoPi;
}

/// The table's piecewise linear map from [lo, hi] (continued linearly beyond).
double tableForward(const std::vector<double>& table, double lo, double hi, double t) {
    const int m = static_cast<int>(table.size()) - 1;
    double step = (hi - lo) / m;
    double x = (t - lo) / step;
    int i = x <= 0.0 ? 0 : x >= m - 1 ? m - 1 : static_cast<int>(std::floor(x));
    double f = x - i;
    return table[i] + f * (table[i + 1] - table[i]);
}

/// The inverse of tableForward.
double tableBackward(const std::vector<double>& table, double lo, double hi, double y) {
    const int m = static_cast<int>(table.size()) - 1;
    double step = (hi - lo) / m;
    int i = static_cast<int>(std::upper_bound(table.begin(), table.end(), y) - table.begin()) - 1;
    i = std::max(0, std::min(m - 1, i));
    double f = (y - table[i]) / (table[i + 1] - table[i]);
    return lo + (i + f) * step;
}

/// Whole turns of an unwrapped angle and the angle within [0, 2 pi).
double angleTurns(double a) { return std::floor(a / kTwoPi); }

/// The u of an unwrapped angle of a surface closed in u.
double closedU(const PreparedSurface& b, double a) {
    double local = a - angleTurns(a) * kTwoPi;
    double u = b.uMin + (local / kTwoPi) * (b.uMax - b.uMin);
    return std::min(b.uMax, std::max(b.uMin, u));
}

/// The angle of u in [uMin, uMax] of a surface closed in u.
double closedAngle(const PreparedSurface& b, double u) { return (u - b.uMin) / (b.uMax - b.uMin) * kTwoPi; }

/// The angle moved by whole turns into [-pi, pi).
double principalAngle(double a) { return a - std::floor((a + kPi) / kTwoPi) * kTwoPi; }

/// The surface at chart parameters (x, y) before clamping v: u taken through the angle
/// when the surface is closed in u.
Point3 bsplineAt(const SurfaceChart& c, double x, double y) {
    if (c.closedU) return surfacePoint(c.bspline, closedU(c.bspline, x), y);
    return surfacePoint(c.bspline, x, y);
}

/// True when the u = uMin and u = uMax boundaries of the surface coincide (or, with
/// `alongV`, the v = vMin and v = vMax ones) within a billionth of the surface's extent
/// along u and v.
bool closesIn(const PreparedSurface& b, double su, double sv, bool alongV = false) {
    const int n = 32;
    double tolerance = 1e-9 * std::max(su * (b.uMax - b.uMin), sv * (b.vMax - b.vMin));
    for (int j = 0; j <= n; ++j) {
        if (alongV) {
            double u = b.uMin + (static_cast<double>(j) / n) * (b.uMax - b.uMin);
            if (!(length(sub(surfacePoint(b, u, b.vMax), surfacePoint(b, u, b.vMin))) <= tolerance)) return false;
            continue;
        }
        double v = b.vMin + (static_cast<double>(j) / n) * (b.vMax - b.vMin);
        if (!(length(sub(surfacePoint(b, b.uMax, v), surfacePoint(b, b.uMin, v))) <= tolerance)) return false;
    }
    return true;
}

/// The largest parameter derivatives over a grid of the surface; false when either is not
/// positive and finite.
bool surfaceSpeeds(const PreparedSurface& b, double& su, double& sv) {
    const int n = 16;
    double du = (b.uMax - b.uMin) / n;
    double dv = (b.vMax - b.vMin) / n;
    su = 0.0;
    sv = 0.0;
    for (int i = 0; i <= n; ++i) {
        for (int j = 0; j <= n; ++j) {
            double u = b.uMin + (static_cast<double>(i) / n) * (b.uMax - b.uMin);
            double v = b.vMin + (static_cast<double>(j) / n) * (b.vMax - b.vMin);
            Point3 p = surfacePoint(b, u, v);
            if (i < n) su = std::max(su, length(sub(surfacePoint(b, u + du, v), p)) / du);
            if (j < n) sv = std::max(sv, length(sub(surfacePoint(b, u, v + dv), p)) / dv);
        }
    }
    return su > 0.0 && sv > 0.0 && std::isfinite(su) && std::isfinite(sv);
}

/// The surface with its parameters swapped: rows become columns.
BsplineSurface transposed(const BsplineSurface& s) {
    BsplineSurface t;
    t.uDegree = s.vDegree;
    t.vDegree = s.uDegree;
    t.uMultiplicities = s.vMultiplicities;
    t.vMultiplicities = s.uMultiplicities;
    t.uKnots = s.vKnots;
    t.vKnots = s.uKnots;
    t.rational = s.rational;
    size_t rows = s.controlPoints.size();
    size_t columns = rows == 0 ? 0 : s.controlPoints.front().size();
    t.controlPoints.assign(columns, std::vector<Point3>(rows));
    if (s.rational) t.weights.assign(columns, std::vector<double>(rows, 1.0));
    for (size_t r = 0; r < rows; ++r) {
        for (size_t c = 0; c < columns && c < s.controlPoints[r].size(); ++c) {
            t.controlPoints[c][r] = s.controlPoints[r][c];
            if (s.rational && r < s.weights.size() && c < s.weights[r].size()) t.weights[c][r] = s.weights[r][c];
        }
    }
    return t;
}

/// The u of the polar angle phi (in turns of 2 pi) of a polar chart: the share of the u
/// table's length, as an unwrapped angle parameter.
double polarAngleParameter(const SurfaceChart& c, double phi) {
    double turns = std::floor(phi / kTwoPi);
    double share = (phi - turns * kTwoPi) / kTwoPi;
    double u = tableBackward(c.uTable, c.bspline.uMin, c.bspline.uMax, share * c.uTable.back());
    return closedAngle(c.bspline, u) + turns * kTwoPi;
}

/// The polar angle (before the pole factor) of the angle parameter a.
double polarAngle(const SurfaceChart& c, double a) {
    return angleTurns(a) * kTwoPi +
           tableForward(c.uTable, c.bspline.uMin, c.bspline.uMax, closedU(c.bspline, a)) / c.uTable.back() * kTwoPi;
}

/// The distance in v of v from the pole's end, and back.
double fromPole(const SurfaceChart& c, double v) {
    return c.poleAtMax ? c.bspline.vMax - v : v - c.bspline.vMin;
}
double ofPoleDistance(const SurfaceChart& c, double d) {
    return c.poleAtMax ? c.bspline.vMax - d : c.bspline.vMin + d;
}

/// The length of the polygon through kBsplineChartSamples + 1 points of the row at v.
double rowLength(const PreparedSurface& b, double v) {
    const int m = kBsplineChartSamples;
    double total = 0.0;
    Point3 prev = surfacePoint(b, b.uMin, v);
    for (int j = 1; j <= m; ++j) {
        Point3 q = surfacePoint(b, b.uMin + (static_cast<double>(j) / m) * (b.uMax - b.uMin), v);
        total += length(sub(q, prev));
        prev = q;
    }
    return total;
}

}  // namespace

void setSpherePole(SurfaceChart& chart, const Point3& pole) {
    chart.pole = pole;
    chart.e1 = perpendicularUnit(pole);
    chart.e2 = cross(pole, chart.e1);
}

bool readSurfaceChart(const StepFile& file, const StepValue& surfaceRef, double angleUnit, SurfaceChart& out,
                      std::string& why) {
    const StepEntity* s = findEntity(file, surfaceRef);
    if (s == nullptr) {
        why = "its surface cannot be found";
        return false;
    }
    const std::string& type = s->type;
    auto placement = [&]() {
        if (s->params.size() < 2 || !readPlacement(file, s->params[1], out.frame)) {
            why = "the placement of its " + type + " cannot be read";
            return false;
        }
        return true;
    };
    if (type == "PLANE") {
        out.kind = SurfaceKind::Plane;
        return placement();
    }
    if (type == "CYLINDRICAL_SURFACE") {
        out.kind = SurfaceKind::Cylinder;
        out.periodicA = true;
        if (!placement()) return false;
        if (!stepNumber(*s, 2, out.radius) || !(out.radius > 1e-12)) {
            why = "its CYLINDRICAL_SURFACE has no positive radius";
            return false;
        }
        return true;
    }
    if (type == "CONICAL_SURFACE") {
        out.kind = SurfaceKind::Cone;
        out.periodicA = true;
        out.orientation = -1;
        double angle = 0.0;
        if (!placement()) return false;
        if (!stepNumber(*s, 2, out.radius) || out.radius < 0.0 || !stepNumber(*s, 3, angle)) {
            why = "its CONICAL_SURFACE has no radius or semi-angle";
            return false;
        }
        angle *= angleUnit;
        if (!(angle > 1e-6 && angle < kPi / 2 - 1e-6)) {
            why = "its CONICAL_SURFACE has a semi-angle outside (0, 90) degrees";
            return false;
        }
        out.sinAngle = std::sin(angle);
        out.cosAngle = std::cos(angle);
        out.apex = sub(out.frame.origin, scale(out.radius / std::tan(angle), out.frame.zAxis));
        return true;
    }
    if (type == "SPHERICAL_SURFACE") {
        out.kind = SurfaceKind::Sphere;
        if (!placement()) return false;
        if (!stepNumber(*s, 2, out.radius) || !(out.radius > 1e-12)) {
            why = "its SPHERICAL_SURFACE has no positive radius";
            return false;
        }
        setSpherePole(out, out.frame.zAxis);
        return true;
    }
    if (type == "TOROIDAL_SURFACE") {
        out.kind = SurfaceKind::Torus;
        out.periodicA = true;
        out.periodicB = true;
        if (!placement()) return false;
        if (!stepNumber(*s, 2, out.radius) || !stepNumber(*s, 3, out.minor) || !(out.minor > 1e-12)) {
            why = "its TOROIDAL_SURFACE has no positive radii";
            return false;
        }
        if (!(out.radius > out.minor * (1.0 + 1e-9))) {
            why = "its TOROIDAL_SURFACE has a major radius not above its minor radius";
            return false;
        }
        out.torusK = std::sqrt((out.radius - out.minor) / (out.radius + out.minor));
        out.torusC = 2.0 * out.minor / std::sqrt((out.radius - out.minor) * (out.radius + out.minor));
        out.torusScale = out.radius + out.minor;
        return true;
    }
    BsplineSurface surface;
    BsplineRead read = readBsplineSurface(file, *s, surface);
    if (read == BsplineRead::Read && prepareSurface(surface, out.bspline)) {
        out.kind = SurfaceKind::Bspline;
        // Chart scales: the largest parameter derivatives over a grid of the surface.
        double su = 0.0, sv = 0.0;
        if (!surfaceSpeeds(out.bspline, su, sv)) {
            why = "its B-spline surface is degenerate";
            return false;
        }
        // A surface closed in v only (a tube whose spline runs along u) is read transposed,
        // so that it closes in u; counter-clockwise in (v, u) is clockwise about u x v.
        if (!closesIn(out.bspline, su, sv) && closesIn(out.bspline, su, sv, true)) {
            if (!prepareSurface(transposed(surface), out.bspline) || !surfaceSpeeds(out.bspline, su, sv)) {
                why = "its B-spline surface is degenerate";
                return false;
            }
            out.swappedUV = true;
            out.orientation = -1;
        }
        const PreparedSurface& b = out.bspline;
        const int n = 16;
        out.uScale = su;
        out.vScale = sv;
        // Coordinate tables: over each interval of one parameter, the largest chord speed
        // along it across samples of the other parameter.
        const int m = kBsplineChartSamples;
        out.uTable.assign(m + 1, 0.0);
        out.vTable.assign(m + 1, 0.0);
        for (int i = 0; i < m; ++i) {
            double u0 = b.uMin + (static_cast<double>(i) / m) * (b.uMax - b.uMin);
            double u1 = b.uMin + (static_cast<double>(i + 1) / m) * (b.uMax - b.uMin);
            double v0 = b.vMin + (static_cast<double>(i) / m) * (b.vMax - b.vMin);
            double v1 = b.vMin + (static_cast<double>(i + 1) / m) * (b.vMax - b.vMin);
            double fu = 0.0, fv = 0.0;
            for (int j = 0; j <= n; ++j) {
                double v = b.vMin + (static_cast<double>(j) / n) * (b.vMax - b.vMin);
                double u = b.uMin + (static_cast<double>(j) / n) * (b.uMax - b.uMin);
                fu = std::max(fu, length(sub(surfacePoint(b, u1, v), surfacePoint(b, u0, v))));
                fv = std::max(fv, length(sub(surfacePoint(b, u, v1), surfacePoint(b, u, v0))));
            }
            // A stretch that no sample sees still advances, so the tables stay increasing.
            out.uTable[i + 1] = out.uTable[i] + std::max(fu, 1e-6 * su * (u1 - u0));
            out.vTable[i + 1] = out.vTable[i] + std::max(fv, 1e-6 * sv * (v1 - v0));
        }
        // A surface closed in u (a tube, a revolved spline) is charted like a cylinder.
        if (out.swappedUV || closesIn(b, su, sv)) {
            out.closedU = true;
            out.periodicA = true;
        }
        return true;
    }
    why = read == BsplineRead::NotBspline
              ? "its surface " + (type.empty() ? std::string("(a complex instance)") : type) + " is not supported"
              : std::string("its B-spline surface is invalid");
    return false;
}

Point2 chartParameters(const SurfaceChart& c, const Point3& p) {
    const Frame3& f = c.frame;
    Point3 d = sub(p, f.origin);
    switch (c.kind) {
        case SurfaceKind::Plane:
            return {dot(d, f.xAxis), dot(d, f.yAxis)};
        case SurfaceKind::Cylinder:
            return {std::atan2(dot(d, f.yAxis), dot(d, f.xAxis)), dot(d, f.zAxis)};
        case SurfaceKind::Cone: {
            Point3 fromApex = sub(p, c.apex);
            return {std::atan2(dot(d, f.yAxis), dot(d, f.xAxis)), length(fromApex)};
        }
        case SurfaceKind::Sphere: {
            Point3 u = scale(1.0 / c.radius, d);
            double denominator = 1.0 + dot(u, c.pole);
            if (denominator < 1e-300) denominator = 1e-300;
            double k = 2.0 * c.radius / denominator;
            return {k * dot(u, c.e1), k * dot(u, c.e2)};
        }
        case SurfaceKind::Torus: {
            double x = dot(d, f.xAxis);
            double y = dot(d, f.yAxis);
            double rho = std::sqrt(x * x + y * y);
            return {std::atan2(y, x), std::atan2(dot(d, f.zAxis), rho - c.radius)};
        }
        case SurfaceKind::Bspline: {
            Point2 uv = invertSurfacePoint(c.bspline, p);
            if (!c.closedU) return chartParametersFrom(c, p, uv);
            Point2 ab = chartParametersFrom(c, p, {closedAngle(c.bspline, uv.x), uv.y});
            return {principalAngle(ab.x), ab.y};
        }
    }
    return {};
}

Point2 chartParametersFrom(const SurfaceChart& c, const Point3& p, const Point2& start) {
    if (c.kind != SurfaceKind::Bspline) return chartParameters(c, p);
    const PreparedSurface& b = c.bspline;
    // A closed u is an unwrapped angle: never clamped, differenced forward across the seam.
    auto clampU = [&](double u) { return c.closedU ? u : std::min(b.uMax, std::max(b.uMin, u)); };
    auto clampV = [&](double v) { return std::min(b.vMax, std::max(b.vMin, v)); };
    Point2 at{clampU(start.x), clampV(start.y)};
    Point3 s = bsplineAt(c, at.x, at.y);
    double distance = squaredDistance(s, p);
    const double hu = c.closedU ? 1e-7 * kTwoPi : 1e-7 * (b.uMax - b.uMin);
    const double hv = 1e-7 * (b.vMax - b.vMin);
    for (int iteration = 0; iteration < 16 && distance > 0.0; ++iteration) {
        // One-sided differences towards the inside of the domain.
        double du = c.closedU || at.x + hu <= b.uMax ? hu : -hu;
        double dv = at.y + hv <= b.vMax ? hv : -hv;
        Point3 su = scale(1.0 / du, sub(bsplineAt(c, at.x + du, at.y), s));
        Point3 sv = scale(1.0 / dv, sub(bsplineAt(c, at.x, at.y + dv), s));
        Point3 r = sub(p, s);
        double a11 = dot(su, su), a12 = dot(su, sv), a22 = dot(sv, sv);
        double b1 = dot(su, r), b2 = dot(sv, r);
        double det = a11 * a22 - a12 * a12;
        if (!(det > 1e-300) || !std::isfinite(det)) break;
        double stepU = (a22 * b1 - a12 * b2) / det;
        double stepV = (a11 * b2 - a12 * b1) / det;
        bool improved = false;
        for (int halving = 0; halving < 8 && !improved; ++halving) {
            Point2 next{clampU(at.x + stepU), clampV(at.y + stepV)};
            Point3 q = bsplineAt(c, next.x, next.y);
            double d = squaredDistance(q, p);
            if (d < distance) {
                at = next;
                s = q;
                distance = d;
                improved = true;
            }
            stepU *= 0.5;
            stepV *= 0.5;
        }
        if (!improved) break;
    }
    // Parameters a rounding away from the domain's ends are on them (a value like 1e-300
    // would also leave the chart's exact-arithmetic range).
    const double eu = 1e-12 * (b.uMax - b.uMin), ev = 1e-12 * (b.vMax - b.vMin);
    if (!c.closedU && at.x - b.uMin < eu) at.x = b.uMin;
    if (!c.closedU && b.uMax - at.x < eu) at.x = b.uMax;
    if (at.y - b.vMin < ev) at.y = b.vMin;
    if (b.vMax - at.y < ev) at.y = b.vMax;
    return at;
}

Point3 chartSurfacePoint(const SurfaceChart& c, const Point2& ab) {
    const Frame3& f = c.frame;
    switch (c.kind) {
        case SurfaceKind::Plane:
            return add(add(f.origin, scale(ab.x, f.xAxis)), scale(ab.y, f.yAxis));
        case SurfaceKind::Cylinder:
            return add(add(add(f.origin, scale(c.radius * std::cos(ab.x), f.xAxis)),
                           scale(c.radius * std::sin(ab.x), f.yAxis)),
                       scale(ab.y, f.zAxis));
        case SurfaceKind::Cone: {
            double rho = ab.y * c.sinAngle;
            return add(add(add(c.apex, scale(ab.y * c.cosAngle, f.zAxis)), scale(rho * std::cos(ab.x), f.xAxis)),
                       scale(rho * std::sin(ab.x), f.yAxis));
        }
        case SurfaceKind::Sphere: {
            double k = (ab.x * ab.x + ab.y * ab.y) / (4.0 * c.radius * c.radius);
            Point3 u = add(add(scale(1.0 - k, c.pole), scale(ab.x / c.radius, c.e1)), scale(ab.y / c.radius, c.e2));
            u = scale(1.0 / (1.0 + k), u);
            return add(f.origin, scale(c.radius, u));
        }
        case SurfaceKind::Torus: {
            double ring = c.radius + c.minor * std::cos(ab.y);
            return add(add(add(f.origin, scale(ring * std::cos(ab.x), f.xAxis)), scale(ring * std::sin(ab.x), f.yAxis)),
                       scale(c.minor * std::sin(ab.y), f.zAxis));
        }
        case SurfaceKind::Bspline: {
            const PreparedSurface& b = c.bspline;
            double u = c.closedU ? closedU(b, ab.x) : std::min(b.uMax, std::max(b.uMin, ab.x));
            double v = std::min(b.vMax, std::max(b.vMin, ab.y));
            return surfacePoint(b, u, v);
        }
    }
    return {};
}

Point2 chartPlanePoint(const SurfaceChart& c, const Point2& ab) {
    switch (c.kind) {
        case SurfaceKind::Plane:
        case SurfaceKind::Sphere:
            return ab;
        case SurfaceKind::Cylinder:
            return {c.radius * ab.x, ab.y};
        case SurfaceKind::Cone: {
            double psi = ab.x * c.sinAngle;
            return {ab.y * std::cos(psi), ab.y * std::sin(psi)};
        }
        case SurfaceKind::Torus:
            return {c.torusScale * ab.x, c.torusScale * torusW(c, ab.y)};
        case SurfaceKind::Bspline:
            if (c.polar) {
                double rho = tableForward(c.rhoTable, 0.0, c.bspline.vMax - c.bspline.vMin, fromPole(c, ab.y));
                double psi = c.poleFactor * polarAngle(c, ab.x);
                return {rho * std::cos(psi), rho * std::sin(psi)};
            }
            if (c.closedU) {
                // Whole turns of the angle advance by the table's full length.
                return {angleTurns(ab.x) * c.uTable.back() +
                            tableForward(c.uTable, c.bspline.uMin, c.bspline.uMax, closedU(c.bspline, ab.x)),
                        tableForward(c.vTable, c.bspline.vMin, c.bspline.vMax, ab.y)};
            }
            return {tableForward(c.uTable, c.bspline.uMin, c.bspline.uMax, ab.x),
                    tableForward(c.vTable, c.bspline.vMin, c.bspline.vMax, ab.y)};
    }
    return ab;
}

Point2 chartParametersOfPlane(const SurfaceChart& c, const Point2& q) {
    switch (c.kind) {
        case SurfaceKind::Plane:
        case SurfaceKind::Sphere:
            return q;
        case SurfaceKind::Cylinder:
            return {q.x / c.radius, q.y};
        case SurfaceKind::Cone:
            // The unrolled face is a sector of less than one turn of the plane around
            // psiCenter, so the plane angle is taken within half a turn of it.
        {
            double psi = std::atan2(q.y, q.x);
            if (std::isfinite(c.psiCenter)) psi -= std::floor((psi - c.psiCenter + kPi) / kTwoPi) * kTwoPi;
            return {psi / c.sinAngle, std::sqrt(q.x * q.x + q.y * q.y)};
        }
        case SurfaceKind::Torus:
            return {q.x / c.torusScale, torusV(c, q.y / c.torusScale)};
        case SurfaceKind::Bspline:
            if (c.polar) {
                // A sector of less than one turn is taken within half a turn of its centre.
                double psi = std::atan2(q.y, q.x);
                if (std::isfinite(c.psiCenter)) psi -= std::floor((psi - c.psiCenter + kPi) / kTwoPi) * kTwoPi;
                double rho = std::sqrt(q.x * q.x + q.y * q.y);
                double d = tableBackward(c.rhoTable, 0.0, c.bspline.vMax - c.bspline.vMin, rho);
                double v = std::min(c.bspline.vMax, std::max(c.bspline.vMin, ofPoleDistance(c, d)));
                return {polarAngleParameter(c, psi / c.poleFactor), v};
            }
            if (c.closedU) {
                double period = c.uTable.back();
                double turns = std::floor(q.x / period);
                double u = tableBackward(c.uTable, c.bspline.uMin, c.bspline.uMax, q.x - turns * period);
                return {closedAngle(c.bspline, u) + turns * kTwoPi,
                        tableBackward(c.vTable, c.bspline.vMin, c.bspline.vMax, q.y)};
            }
            return {tableBackward(c.uTable, c.bspline.uMin, c.bspline.uMax, q.x),
                    tableBackward(c.vTable, c.bspline.vMin, c.bspline.vMax, q.y)};
    }
    return q;
}

Point3 bsplinePole(const SurfaceChart& c) {
    return surfacePoint(c.bspline, c.bspline.uMin, c.poleAtMax ? c.bspline.vMax : c.bspline.vMin);
}

double chartPolarAngle(const SurfaceChart& c, const Point2& ab) { return c.poleFactor * polarAngle(c, ab.x); }

bool setBsplinePole(SurfaceChart& c, bool atMax, std::string& why) {
    const PreparedSurface& b = c.bspline;
    if (c.kind != SurfaceKind::Bspline || !c.closedU) {
        why = "its surface has no pole";
        return false;
    }
    c.poleAtMax = atMax;
    // The row must be one point, within a billionth of the surface's extent.
    const int m = kBsplineChartSamples;
    const double range = b.vMax - b.vMin;
    double extent = std::max(c.uScale * (b.uMax - b.uMin), c.vScale * range);
    double poleV = atMax ? b.vMax : b.vMin;
    Point3 pole = bsplinePole(c);
    for (int j = 1; j <= 32; ++j) {
        Point3 q = surfacePoint(b, b.uMin + (static_cast<double>(j) / 32) * (b.uMax - b.uMin), poleV);
        if (!(length(sub(q, pole)) <= 1e-9 * extent)) {
            why = "it winds once around its closed B-spline surface, whose end on the face's side (v = " +
                  std::string(atMax ? "max" : "min") + ") is not a pole";
            return false;
        }
    }
    // Distances from the pole along v (the v table from the pole's end), and the radius of
    // the row at each table point and between them (its polygon's length over 2 pi).
    std::vector<double> s(m + 1), r(m + 1), rMid(m, 0.0);
    for (int i = 0; i <= m; ++i) {
        s[i] = atMax ? c.vTable[m] - c.vTable[m - i] : c.vTable[i];
        double d = (static_cast<double>(i) / m) * range;
        r[i] = i == 0 ? 0.0 : rowLength(b, ofPoleDistance(c, d)) / kTwoPi;
        if (i < m) rMid[i] = rowLength(b, ofPoleDistance(c, (static_cast<double>(2 * i + 1) / (2 * m)) * range)) / kTwoPi;
    }
    // The pole factor: the surface's girth near the pole against a full turn at that
    // distance (the sine of a cone's semi-angle; one for a smooth dome). Near one the face
    // is charted as a whole disc.
    double factor = r[1] / s[1];
    if (!(factor > 0.05) || !std::isfinite(factor)) {
        why = "its B-spline surface is too sharp at its pole";
        return false;
    }
    if (factor > 0.98) factor = 1.0;
    // Conformal radius: d(log rho) = factor ds / r, started as rho = s next to the pole,
    // where the surface is a cone of that factor.
    std::vector<double> rho(m + 1, 0.0);
    rho[1] = s[1];
    for (int i = 1; i < m; ++i) {
        double grow = rMid[i] > 0.0 ? std::exp(factor * (s[i + 1] - s[i]) / rMid[i]) : 0.0;
        rho[i + 1] = std::max(rho[i] * grow, rho[i] * (1.0 + 1e-12));
        if (!std::isfinite(rho[i + 1]) || !(rMid[i] > 0.0) || rho[i + 1] > 1e6 * s[m]) {
            why = "its B-spline surface cannot be charted about its pole (it narrows again)";
            return false;
        }
    }
    // The chart's scale (rho factor / r across, about rho' along) is kept at one or more,
    // so a length in the chart bounds the length on the surface.
    double smallest = 1.0;
    for (int i = 1; i <= m; ++i) {
        if (r[i] > 0.0) smallest = std::min(smallest, rho[i] * factor / r[i]);
    }
    if (smallest < 1.0) {
        for (double& x : rho) x = x / smallest;
    }
    c.poleFactor = factor;
    c.rhoTable = std::move(rho);
    c.polar = true;
    c.psiCenter = 0.0;
    // Counter-clockwise in (angle, v) keeps its sense in the polar plane when v grows
    // towards the pole, and reverses it otherwise.
    if (!atMax) c.orientation = -c.orientation;
    return true;
}
