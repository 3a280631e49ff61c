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

/// True when the u = uMin and u = uMax boundaries of the surface coincide within a
/// billionth of the surface's extent along u and v.
bool closesInU(const PreparedSurface& b, double su, double sv) {
    const int n = 32;
    double tolerance = 1e-9 * std::max(su * (b.uMax - b.uMin), sv * (b.vMax - b.vMin));
    for (int j = 0; j <= n; ++j) {
        double v = b.vMin + (static_cast<double>(j) / n) * (b.vMax - b.vMin);
        if (!(length(sub(surfacePoint(b, b.uMax, v), surfacePoint(b, b.uMin, v))) <= tolerance)) return false;
    }
    return true;
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
        const PreparedSurface& b = out.bspline;
        const int n = 16;
        double du = (b.uMax - b.uMin) / n;
        double dv = (b.vMax - b.vMin) / n;
        double su = 0.0, sv = 0.0;
        for (int i = 0; i <= n; ++i) {
            for (int j = 0; j <= n; ++j) {
                double u = b.uMin + (static_cast<double>(i) / n) * (b.uMax - b.uMin);
                double v = b.vMin + (static_cast<double>(j) / n) * (b.vMax - b.vMin);
                Point3 p = surfacePoint(b, u, v);
                if (i < n) su = std::max(su, length(sub(surfacePoint(b, u + du, v), p)) / du);
                if (j < n) sv = std::max(sv, length(sub(surfacePoint(b, u, v + dv), p)) / dv);
            }
        }
        if (!(su > 0.0) || !(sv > 0.0) || !std::isfinite(su) || !std::isfinite(sv)) {
            why = "its B-spline surface is degenerate";
            return false;
        }
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
        if (closesInU(b, su, sv)) {
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
