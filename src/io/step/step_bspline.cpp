#include "io/step/step_bspline.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <set>
#include <utility>

#include "io/step/step_readers.hpp"

using namespace stepvec;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

/// Evaluations of one inversion: six passes of a 9 x 9 grid.
constexpr int64_t kInversionEvaluations = 6 * 81;

// ----- reading -----

/// A number rounded to the nearest integer, halves away from zero, saturating at the 32-bit
/// range so that absurd values fail the checks that follow instead of overflowing.
int32_t roundedInteger(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(std::llround(value));
}

bool readDegree(const StepValue& value, int32_t& out) {
    if (value.kind != StepValueKind::Number) return false;
    int32_t d = roundedInteger(value.number);
    if (d < 1 || d > kMaxBsplineDegree) return false;
    out = d;
    return true;
}

bool readNumbers(const StepValue& value, std::vector<double>& out) {
    if (value.kind != StepValueKind::List) return false;
    out.clear();
    out.reserve(value.items.size());
    for (const StepValue& item : value.items) {
        if (item.kind != StepValueKind::Number) return false;
        out.push_back(item.number);
    }
    return true;
}

bool readIntegers(const StepValue& value, std::vector<int32_t>& out) {
    if (value.kind != StepValueKind::List) return false;
    out.clear();
    out.reserve(value.items.size());
    for (const StepValue& item : value.items) {
        if (item.kind != StepValueKind::Number) return false;
        out.push_back(roundedInteger(item.number));
    }
    return true;
}

bool readPointRows(const StepFile& file, const StepValue& value, std::vector<std::vector<Point3>>& out) {
    if (value.kind != StepValueKind::List) return false;
    int64_t total = 0;
    for (const StepValue& rowValue : value.items) {
        if (rowValue.kind != StepValueKind::List) return false;
        total += static_cast<int64_t>(rowValue.items.size());
    }
    if (total > kMaxControlPoints) return false;
    out.clear();
    out.reserve(value.items.size());
    for (const StepValue& rowValue : value.items) {
        std::vector<Point3> row;
        row.reserve(rowValue.items.size());
        for (const StepValue& item : rowValue.items) {
            Point3 p;
            if (!readCartesianPoint(file, item, p)) return false;
            row.push_back(p);
        }
        if (!out.empty() && row.size() != out.front().size()) return false;
        out.push_back(std::move(row));
    }
    return true;
}

/// A grid of numbers of exactly the control grid's shape; anything else is no weights.
bool readWeightRows(const StepValue& value, const std::vector<std::vector<Point3>>& shape,
                    std::vector<std::vector<double>>& out) {
    if (value.kind != StepValueKind::List || value.items.size() != shape.size()) return false;
    std::vector<std::vector<double>> rows;
    rows.reserve(shape.size());
    for (size_t r = 0; r < shape.size(); ++r) {
        std::vector<double> row;
        if (!readNumbers(value.items[r], row) || row.size() != shape[r].size()) return false;
        rows.push_back(std::move(row));
    }
    out = std::move(rows);
    return true;
}

/// A point of a curve: two coordinates suffice (a point of a parameter plane); a third that
/// is a number becomes z. Coordinates must be finite.
bool readCurvePoint(const StepFile& file, const StepValue& value, Point3& out) {
    const StepEntity* e = findEntity(file, value);
    if (e == nullptr || e->type != "CARTESIAN_POINT" || e->params.size() < 2) return false;
    const StepValue& list = e->params[1];
    if (list.kind != StepValueKind::List || list.items.size() < 2) return false;
    double c[3] = {0.0, 0.0, 0.0};
    for (size_t i = 0; i < 3 && i < list.items.size(); ++i) {
        const StepValue& item = list.items[i];
        if (item.kind != StepValueKind::Number || !std::isfinite(item.number)) {
            if (i == 2) break;
            return false;
        }
        c[i] = item.number;
    }
    out = {c[0], c[1], c[2]};
    return true;
}

const StepEntity* findPart(const StepEntity& entity, const char* type) {
    for (const StepEntity& part : entity.parts) {
        if (part.type == type) return &part;
    }
    return nullptr;
}

// ----- evaluation -----

/// The de Boor recurrence on the p + 1 gathered points d of span k; the result is d[p].
Point4 deBoorGathered(int32_t p, const std::vector<double>& knots, Point4* d, int64_t k, double t) {
    for (int32_t r = 1; r <= p; ++r) {
        for (int32_t j = p; j >= r; --j) {
            int64_t i = j + k - p;
            double denominator = knots[i + p - r + 1] - knots[i];
            double alpha = denominator > 0.0 ? (t - knots[i]) / denominator : 0.0;
            double beta = 1.0 - alpha;
            d[j] = {beta * d[j - 1].x + alpha * d[j].x, beta * d[j - 1].y + alpha * d[j].y,
                    beta * d[j - 1].z + alpha * d[j].z, beta * d[j - 1].w + alpha * d[j].w};
        }
    }
    return d[p];
}

Point3 dehomogenise(const Point4& h) {
    if (h.w == 0.0) return {0.0, 0.0, 0.0};
    return {h.x / h.w, h.y / h.w, h.z / h.w};
}

/// Interpolation steps of one de Boor run of degree p.
int64_t deBoorCost(int32_t p) { return static_cast<int64_t>(p) * (p + 1) / 2 + 1; }

bool allFinite(const std::vector<double>& values) {
    for (double v : values) {
        if (!std::isfinite(v)) return false;
    }
    return true;
}

bool finitePoint(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

/// A curve made ready for evaluation.
struct PreparedCurve {
    int32_t degree = 0;
    std::vector<double> knots;
    std::vector<Point4> points;
    double tMin = 0.0;
    double tMax = 0.0;
};

bool prepareCurve(const BsplineCurve& curve, PreparedCurve& out) {
    int64_t n = static_cast<int64_t>(curve.controlPoints.size());
    if (n < 2 || curve.degree < 1 || curve.degree >= n) return false;
    int64_t expected = curve.degree + 1 + n;
    std::vector<double> knots = expandKnots(curve.knots, curve.multiplicities, expected);
    if (static_cast<int64_t>(knots.size()) != expected || !allFinite(knots)) return false;
    double tMin = knots[curve.degree];
    double tMax = knots[n];
    if (!(tMin < tMax)) return false;
    std::vector<Point4> points;
    points.reserve(curve.controlPoints.size());
    for (size_t i = 0; i < curve.controlPoints.size(); ++i) {
        const Point3& c = curve.controlPoints[i];
        double w = 1.0;
        if (curve.rational) {
            w = curve.weights[i];
            if (!std::isfinite(w) || !(w > 0.0)) return false;
        }
        points.push_back({w * c.x, w * c.y, w * c.z, w});
    }
    out.degree = curve.degree;
    out.knots = std::move(knots);
    out.points = std::move(points);
    out.tMin = tMin;
    out.tMax = tMax;
    return true;
}

Point3 curvePoint(const PreparedCurve& curve, double t) {
    return dehomogenise(deBoor(curve.degree, curve.knots, curve.points, t));
}

// ----- face boundaries -----

/// Appends the inversion of q to the loop, charging its evaluations.
bool appendInverted(const PreparedSurface& surface, const Point3& q, std::vector<Point2>& loop, BsplineWork* work) {
    if (work != nullptr && !work->take(kInversionEvaluations * surface.evaluationCost)) return false;
    loop.push_back(invertSurfacePoint(surface, q));
    return true;
}

/// Points along a CIRCLE edge in the oriented edge's direction, from its oriented start, the
/// oriented end left out; each inverted onto the surface.
bool appendCircleEdge(const StepFile& file, const StepEntity& edge, const StepEntity& circle, bool forward,
                      const PreparedSurface& surface, int32_t n, std::vector<Point2>& loop, BsplineWork* work) {
    if (circle.params.size() < 3) return false;
    CircleEdge c;
    if (!readPlacement(file, circle.params[1], c.circleFrame)) return false;
    const StepValue& radiusValue = circle.params[2];
    if (radiusValue.kind != StepValueKind::Number || !std::isfinite(radiusValue.number) ||
        !(radiusValue.number >= 1e-12)) {
        return false;
    }
    double radius = radiusValue.number;
    if (!readVertexPoint(file, edge.params[1], c.start) || !readVertexPoint(file, edge.params[2], c.end)) return false;
    c.sameSense = stepFlag(edge, 4);

    double start = 0.0;
    double sweep = 0.0;
    int64_t count = 0;
    if (isClosedEdge(c)) {
        start = angleInFrame(c.circleFrame, c.start);
        // The edge runs with the circle when its sense is set; the oriented edge reverses it.
        sweep = c.sameSense == forward ? kTwoPi : -kTwoPi;
        count = n;
    } else {
        // The arc as the EDGE_CURVE runs it; a half turn is decided by the edge's sense about
        // the circle's own axis.
        if (!arcSweep(c, angleInFrame(c.circleFrame, c.start), angleInFrame(c.circleFrame, c.end), start, sweep,
                      &c.circleFrame.zAxis)) {
            return false;
        }
        if (!forward) {
            start = angleInFrame(c.circleFrame, c.end);
            sweep = -sweep;
        }
        count = std::max<int64_t>(2, std::llround(std::fabs(sweep) * n / kTwoPi));
    }
    const Frame3& f = c.circleFrame;
    for (int64_t i = 0; i < count; ++i) {
        double theta = start + static_cast<double>(i) / static_cast<double>(count) * sweep;
        Point3 p = add(add(f.origin, scale(radius * std::cos(theta), f.xAxis)), scale(radius * std::sin(theta), f.yAxis));
        if (!appendInverted(surface, p, loop, work)) return false;
    }
    return true;
}

/// The PCURVE of a surface curve that lies on this face's surface, or else the first one.
const StepEntity* choosePcurve(const StepFile& file, const StepEntity& surfaceCurve, const StepValue& faceSurface) {
    if (surfaceCurve.params.size() < 3) return nullptr;
    const StepValue& associated = surfaceCurve.params[2];
    if (associated.kind != StepValueKind::List || associated.items.empty()) return nullptr;
    const StepEntity* first = nullptr;
    for (const StepValue& item : associated.items) {
        const StepEntity* e = findEntity(file, item);
        if (e == nullptr || e->type != "PCURVE" || e->params.size() < 3) continue;
        const StepValue& basis = e->params[1];
        if (basis.kind == StepValueKind::Reference && faceSurface.kind == StepValueKind::Reference &&
            basis.ref == faceSurface.ref) {
            return e;
        }
        if (first == nullptr) first = e;
    }
    return first;
}

/// An edge on a SURFACE_CURVE, SEAM_CURVE or INTERSECTION_CURVE, through its PCURVE.
bool appendSurfaceCurveEdge(const StepFile& file, const StepEntity& face, const StepEntity& curve,
                            const StepValue& startVertex, const PreparedSurface& surface, int32_t n,
                            std::vector<Point2>& loop, BsplineWork* work) {
    const StepEntity* pcurve = choosePcurve(file, curve, face.params[2]);
    if (pcurve == nullptr) return false;
    const StepEntity* representation = findEntity(file, pcurve->params[2]);
    if (representation == nullptr || representation->params.size() < 2) return false;
    const StepValue& items = representation->params[1];
    if (items.kind != StepValueKind::List || items.items.empty()) return false;
    const StepEntity* planeCurve = findEntity(file, items.items[0]);
    if (planeCurve == nullptr) return false;

    Point3 start;
    if (!readVertexPoint(file, startVertex, start)) return false;
    if (planeCurve->type == "LINE") return appendInverted(surface, start, loop, work);

    BsplineCurve bspline;
    PreparedCurve prepared;
    if (readBsplineCurve(file, *planeCurve, bspline) != BsplineRead::Read || !prepareCurve(bspline, prepared)) {
        return false;
    }
    int64_t count = std::max<int64_t>(n, 2);
    int64_t cost = (count + 2) * deBoorCost(prepared.degree) + 2 * surface.evaluationCost;
    if (work != nullptr && !work->take(cost)) return false;

    // Run from the end whose surface point is nearer to the oriented start vertex.
    Point3 first = curvePoint(prepared, prepared.tMin);
    Point3 last = curvePoint(prepared, prepared.tMax);
    double toFirst = squaredDistance(surfacePoint(surface, first.x, first.y), start);
    double toLast = squaredDistance(surfacePoint(surface, last.x, last.y), start);
    double t0 = prepared.tMin;
    double t1 = prepared.tMax;
    if (toLast < toFirst) std::swap(t0, t1);
    for (int64_t i = 0; i < count; ++i) {
        double t = t0 + static_cast<double>(i) / static_cast<double>(count) * (t1 - t0);
        Point3 c = curvePoint(prepared, t);
        loop.push_back({c.x, c.y});
    }
    return true;
}

// ----- tessellation -----

/// The running point budget of one tessellator call.
struct PointBudget {
    int64_t remaining = 0;
    bool allows(int64_t count) const { return count <= kMaxFacePoints && count <= remaining; }
};

/// The (N + 1)^2 grid over the domain, whole or trimmed by `loops` (null: whole).
bool tessellateSurface(const PreparedSurface& s, int32_t n, const std::vector<std::vector<Point2>>* loops,
                       const PointBudget& budget, BsplineWork& work, TessellatedFace& out) {
    int64_t side = static_cast<int64_t>(n) + 1;
    int64_t count = side * side;
    if (count > kMaxFacePoints) return false;

    std::vector<double> us(static_cast<size_t>(side));
    std::vector<double> vs(static_cast<size_t>(side));
    for (int64_t i = 0; i <= n; ++i) {
        us[i] = s.uMin + static_cast<double>(i) / n * (s.uMax - s.uMin);
        vs[i] = s.vMin + static_cast<double>(i) / n * (s.vMax - s.vMin);
    }

    // The grid triangles in order: cell (i, j) gives (a, b, c) and (a, c, d).
    std::vector<std::array<int64_t, 3>> triangles;
    if (loops == nullptr) triangles.reserve(2 * static_cast<size_t>(n) * static_cast<size_t>(n));
    if (loops != nullptr) {
        int64_t loopPoints = 0;
        for (const auto& loop : *loops) loopPoints += static_cast<int64_t>(loop.size());
        if (!work.take(2 * static_cast<int64_t>(n) * n * loopPoints)) return false;
    }
    for (int64_t i = 0; i < n; ++i) {
        for (int64_t j = 0; j < n; ++j) {
            int64_t a = i * side + j;
            int64_t b = (i + 1) * side + j;
            int64_t c = b + 1;
            int64_t d = a + 1;
            const std::array<int64_t, 3> pair[2] = {{a, b, c}, {a, c, d}};
            for (const auto& t : pair) {
                if (loops != nullptr) {
                    double cu = (us[t[0] / side] + us[t[1] / side] + us[t[2] / side]) / 3.0;
                    double cv = (vs[t[0] % side] + vs[t[1] % side] + vs[t[2] % side]) / 3.0;
                    if (!pointInLoops(*loops, cu, cv)) continue;
                }
                triangles.push_back(t);
            }
        }
    }
    if (triangles.empty()) return false;

    // Points are numbered in order of first use; a whole surface uses them in grid order.
    std::vector<int64_t> number(static_cast<size_t>(count), -1);
    std::vector<int64_t> order;
    order.reserve(loops == nullptr ? static_cast<size_t>(count) : 0);
    if (loops == nullptr) {
        for (int64_t k = 0; k < count; ++k) {
            number[k] = k;
            order.push_back(k);
        }
    } else {
        for (auto& t : triangles) {
            for (int64_t& v : t) {
                if (number[v] < 0) {
                    number[v] = static_cast<int64_t>(order.size());
                    order.push_back(v);
                }
                v = number[v];
            }
        }
    }
    int64_t used = static_cast<int64_t>(order.size());
    if (!budget.allows(used) || !work.take(used * s.evaluationCost)) return false;

    TessellatedFace face;
    face.points.reserve(order.size());
    for (int64_t k : order) {
        Point3 p = surfacePoint(s, us[k / side], vs[k % side]);
        if (!finitePoint(p)) return false;
        face.points.push_back(p);
    }
    face.triangles = std::move(triangles);
    out = std::move(face);
    return true;
}

/// What the faces pass knows of one surface entity, read once however many faces use it.
struct SurfaceEntry {
    BsplineRead status = BsplineRead::NotBspline;
    bool prepared = false;
    PreparedSurface surface;
};

}  // namespace

BsplineRead readBsplineSurface(const StepFile& file, const StepEntity& entity, BsplineSurface& out) {
    const StepValue* uDegree = nullptr;
    const StepValue* vDegree = nullptr;
    const StepValue* control = nullptr;
    const StepValue* uMults = nullptr;
    const StepValue* vMults = nullptr;
    const StepValue* uKnots = nullptr;
    const StepValue* vKnots = nullptr;
    const StepValue* weights = nullptr;
    if (entity.parts.empty()) {
        if (entity.type != "B_SPLINE_SURFACE_WITH_KNOTS") return BsplineRead::NotBspline;
        const std::vector<StepValue>& p = entity.params;
        if (p.size() < 12) return BsplineRead::Invalid;
        uDegree = &p[1];
        vDegree = &p[2];
        control = &p[3];
        uMults = &p[8];
        vMults = &p[9];
        uKnots = &p[10];
        vKnots = &p[11];
    } else {
        const StepEntity* surface = findPart(entity, "B_SPLINE_SURFACE");
        const StepEntity* knots = findPart(entity, "B_SPLINE_SURFACE_WITH_KNOTS");
        if (surface == nullptr || knots == nullptr) return BsplineRead::NotBspline;
        if (surface->params.size() < 3 || knots->params.size() < 4) return BsplineRead::Invalid;
        uDegree = &surface->params[0];
        vDegree = &surface->params[1];
        control = &surface->params[2];
        uMults = &knots->params[0];
        vMults = &knots->params[1];
        uKnots = &knots->params[2];
        vKnots = &knots->params[3];
        const StepEntity* rational = findPart(entity, "RATIONAL_B_SPLINE_SURFACE");
        if (rational != nullptr && !rational->params.empty()) weights = &rational->params[0];
    }

    BsplineSurface s;
    if (!readDegree(*uDegree, s.uDegree) || !readDegree(*vDegree, s.vDegree)) return BsplineRead::Invalid;
    if (!readPointRows(file, *control, s.controlPoints)) return BsplineRead::Invalid;
    if (!readIntegers(*uMults, s.uMultiplicities) || !readIntegers(*vMults, s.vMultiplicities) ||
        !readNumbers(*uKnots, s.uKnots) || !readNumbers(*vKnots, s.vKnots)) {
        return BsplineRead::Invalid;
    }
    if (s.uKnots.size() != s.uMultiplicities.size() || s.vKnots.size() != s.vMultiplicities.size()) {
        return BsplineRead::Invalid;
    }
    if (weights != nullptr && readWeightRows(*weights, s.controlPoints, s.weights)) s.rational = true;
    out = std::move(s);
    return BsplineRead::Read;
}

BsplineRead readBsplineCurve(const StepFile& file, const StepEntity& entity, BsplineCurve& out) {
    const StepValue* degree = nullptr;
    const StepValue* control = nullptr;
    const StepValue* mults = nullptr;
    const StepValue* knots = nullptr;
    const StepValue* weights = nullptr;
    if (entity.parts.empty()) {
        if (entity.type != "B_SPLINE_CURVE_WITH_KNOTS") return BsplineRead::NotBspline;
        const std::vector<StepValue>& p = entity.params;
        if (p.size() < 8) return BsplineRead::Invalid;
        degree = &p[1];
        control = &p[2];
        mults = &p[6];
        knots = &p[7];
    } else {
        const StepEntity* curve = findPart(entity, "B_SPLINE_CURVE");
        const StepEntity* withKnots = findPart(entity, "B_SPLINE_CURVE_WITH_KNOTS");
        if (curve == nullptr || withKnots == nullptr) return BsplineRead::NotBspline;
        if (curve->params.size() < 2 || withKnots->params.size() < 2) return BsplineRead::Invalid;
        degree = &curve->params[0];
        control = &curve->params[1];
        mults = &withKnots->params[0];
        knots = &withKnots->params[1];
        const StepEntity* rational = findPart(entity, "RATIONAL_B_SPLINE_CURVE");
        if (rational != nullptr && !rational->params.empty()) weights = &rational->params[0];
    }

    BsplineCurve c;
    if (!readDegree(*degree, c.degree)) return BsplineRead::Invalid;
    if (control->kind != StepValueKind::List || static_cast<int64_t>(control->items.size()) > kMaxControlPoints) {
        return BsplineRead::Invalid;
    }
    c.controlPoints.reserve(control->items.size());
    for (const StepValue& item : control->items) {
        Point3 p;
        if (!readCurvePoint(file, item, p)) return BsplineRead::Invalid;
        c.controlPoints.push_back(p);
    }
    if (!readIntegers(*mults, c.multiplicities) || !readNumbers(*knots, c.knots) ||
        c.knots.size() != c.multiplicities.size()) {
        return BsplineRead::Invalid;
    }
    if (weights != nullptr && readNumbers(*weights, c.weights) && c.weights.size() == c.controlPoints.size()) {
        c.rational = true;
    } else {
        c.weights.clear();
    }
    out = std::move(c);
    return BsplineRead::Read;
}

std::vector<double> expandKnots(const std::vector<double>& knots, const std::vector<int32_t>& multiplicities,
                                int64_t limit) {
    std::vector<double> out;
    size_t count = std::min(knots.size(), multiplicities.size());
    for (size_t i = 0; i < count; ++i) {
        int64_t m = multiplicities[i];
        if (m <= 0) continue;
        int64_t room = limit + 1 - static_cast<int64_t>(out.size());
        out.insert(out.end(), static_cast<size_t>(std::min(m, room)), knots[i]);
        if (static_cast<int64_t>(out.size()) > limit) break;
    }
    return out;
}

int64_t findKnotSpan(int32_t p, const std::vector<double>& knots, int64_t n, double t) {
    if (t >= knots[n]) return n - 1;
    if (t <= knots[p]) return p;
    int64_t lo = p;
    int64_t hi = n;
    while (hi - lo > 1) {
        int64_t mid = lo + (hi - lo) / 2;
        if (t < knots[mid]) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return lo;
}

Point4 deBoor(int32_t degree, const std::vector<double>& knots, const std::vector<Point4>& points, double t) {
    int64_t n = static_cast<int64_t>(points.size());
    // Outside these conditions the recurrence would read outside its arrays.
    if (degree < 1 || degree > kMaxBsplineDegree || degree >= n ||
        static_cast<int64_t>(knots.size()) < n + degree + 1) {
        return Point4{};
    }
    int64_t k = findKnotSpan(degree, knots, n, t);
    Point4 d[kMaxBsplineDegree + 1];
    for (int32_t j = 0; j <= degree; ++j) d[j] = points[j + k - degree];
    return deBoorGathered(degree, knots, d, k, t);
}

bool prepareSurface(const BsplineSurface& surface, PreparedSurface& out) {
    int64_t rows = static_cast<int64_t>(surface.controlPoints.size());
    if (rows < 2) return false;
    int64_t columns = static_cast<int64_t>(surface.controlPoints.front().size());
    if (columns < 2) return false;
    for (const auto& row : surface.controlPoints) {
        if (static_cast<int64_t>(row.size()) != columns) return false;
    }
    int32_t pu = surface.uDegree;
    int32_t pv = surface.vDegree;
    if (pu < 1 || pv < 1 || pu > kMaxBsplineDegree || pv > kMaxBsplineDegree) return false;
    if (pu >= rows || pv >= columns) return false;

    int64_t uLength = pu + 1 + rows;
    int64_t vLength = pv + 1 + columns;
    std::vector<double> u = expandKnots(surface.uKnots, surface.uMultiplicities, uLength);
    std::vector<double> v = expandKnots(surface.vKnots, surface.vMultiplicities, vLength);
    if (static_cast<int64_t>(u.size()) != uLength || static_cast<int64_t>(v.size()) != vLength) return false;
    if (!allFinite(u) || !allFinite(v)) return false;
    double uMin = u[pu];
    double uMax = u[rows];
    double vMin = v[pv];
    double vMax = v[columns];
    if (!(uMin < uMax) || !(vMin < vMax)) return false;
    // A domain so wide that its extent overflows cannot be sampled.
    if (!std::isfinite(uMax - uMin) || !std::isfinite(vMax - vMin)) return false;

    if (surface.rational) {
        if (static_cast<int64_t>(surface.weights.size()) != rows) return false;
        for (const auto& row : surface.weights) {
            if (static_cast<int64_t>(row.size()) != columns) return false;
            for (double w : row) {
                if (!std::isfinite(w) || !(w > 0.0)) return false;
            }
        }
    }
    std::vector<std::vector<Point4>> homogeneous;
    homogeneous.reserve(static_cast<size_t>(rows));
    for (int64_t r = 0; r < rows; ++r) {
        std::vector<Point4> row;
        row.reserve(static_cast<size_t>(columns));
        for (int64_t c = 0; c < columns; ++c) {
            const Point3& p = surface.controlPoints[r][c];
            double w = surface.rational ? surface.weights[r][c] : 1.0;
            row.push_back({w * p.x, w * p.y, w * p.z, w});
        }
        homogeneous.push_back(std::move(row));
    }

    out.uDegree = pu;
    out.vDegree = pv;
    out.u = std::move(u);
    out.v = std::move(v);
    out.rows = std::move(homogeneous);
    out.uMin = uMin;
    out.uMax = uMax;
    out.vMin = vMin;
    out.vMax = vMax;
    out.evaluationCost = (pu + 1) * deBoorCost(pv) + deBoorCost(pu);
    return true;
}

Point3 surfacePoint(const PreparedSurface& s, double u, double v) {
    int64_t rows = static_cast<int64_t>(s.rows.size());
    int64_t k = findKnotSpan(s.uDegree, s.u, rows, u);
    Point4 d[kMaxBsplineDegree + 1];
    for (int32_t j = 0; j <= s.uDegree; ++j) d[j] = deBoor(s.vDegree, s.v, s.rows[j + k - s.uDegree], v);
    return dehomogenise(deBoorGathered(s.uDegree, s.u, d, k, u));
}

Point2 invertSurfacePoint(const PreparedSurface& s, const Point3& q) {
    double uLo = s.uMin;
    double uHi = s.uMax;
    double vLo = s.vMin;
    double vHi = s.vMax;
    Point2 best{(uLo + uHi) / 2.0, (vLo + vHi) / 2.0};
    for (int pass = 0; pass < 6; ++pass) {
        double bestDistance = std::numeric_limits<double>::infinity();
        for (int i = 0; i <= 8; ++i) {
            double u = uLo + i / 8.0 * (uHi - uLo);
            for (int j = 0; j <= 8; ++j) {
                double v = vLo + j / 8.0 * (vHi - vLo);
                double distance = squaredDistance(surfacePoint(s, u, v), q);
                if (distance < bestDistance) {
                    bestDistance = distance;
                    best = {u, v};
                }
            }
        }
        double du = (uHi - uLo) / 8.0;
        double dv = (vHi - vLo) / 8.0;
        uLo = std::max(s.uMin, best.x - du);
        uHi = std::min(s.uMax, best.x + du);
        vLo = std::max(s.vMin, best.y - dv);
        vHi = std::min(s.vMax, best.y + dv);
    }
    return best;
}

bool faceParamLoops(const StepFile& file, const StepEntity& face, const PreparedSurface& surface, int32_t n,
                    std::vector<std::vector<Point2>>& loops, BsplineWork* work) {
    n = std::max<int32_t>(2, n);
    // Every sample count below is at most n; beyond the largest face grid nothing could be kept.
    if (n > kMaxFacePoints) return false;
    if (face.params.size() < 3 || face.params[1].kind != StepValueKind::List) return false;
    std::vector<std::vector<Point2>> result;
    for (const StepValue& item : face.params[1].items) {
        const StepEntity* bound = findEntity(file, item);
        if (bound == nullptr || bound->params.size() < 2) return false;
        if (bound->type != "FACE_OUTER_BOUND" && bound->type != "FACE_BOUND") return false;
        const StepEntity* loopEntity = findTyped(file, *bound, 1, "EDGE_LOOP", 2);
        if (loopEntity == nullptr || loopEntity->params[1].kind != StepValueKind::List) return false;
        std::vector<Point2> loop;
        for (const StepValue& edgeRef : loopEntity->params[1].items) {
            const StepEntity* oriented = findEntity(file, edgeRef);
            if (oriented == nullptr || oriented->type != "ORIENTED_EDGE" || oriented->params.size() < 5) return false;
            const StepEntity* edge = findTyped(file, *oriented, 3, "EDGE_CURVE", 4);
            if (edge == nullptr) return false;
            const StepEntity* curve = findEntity(file, edge->params[3]);
            if (curve == nullptr) return false;
            bool forward = stepFlag(*oriented, 4);
            const StepValue& startVertex = forward ? edge->params[1] : edge->params[2];
            bool ok = false;
            if (curve->type == "LINE") {
                Point3 start;
                ok = readVertexPoint(file, startVertex, start) && appendInverted(surface, start, loop, work);
            } else if (curve->type == "CIRCLE") {
                ok = appendCircleEdge(file, *edge, *curve, forward, surface, n, loop, work);
            } else if (curve->type == "SURFACE_CURVE" || curve->type == "SEAM_CURVE" ||
                       curve->type == "INTERSECTION_CURVE") {
                ok = appendSurfaceCurveEdge(file, face, *curve, startVertex, surface, n, loop, work);
            }
            if (!ok) return false;
        }
        if (loop.size() >= 3) result.push_back(std::move(loop));
    }
    if (result.empty()) return false;
    loops = std::move(result);
    return true;
}

bool pointInLoops(const std::vector<std::vector<Point2>>& loops, double u, double v) {
    bool inside = false;
    for (const auto& loop : loops) {
        size_t n = loop.size();
        for (size_t i = 0; i < n; ++i) {
            const Point2& a = loop[(i + n - 1) % n];
            const Point2& b = loop[i];
            if ((a.y > v) == (b.y > v)) continue;
            double crossing = a.x + (v - a.y) / (b.y - a.y) * (b.x - a.x);
            if (crossing > u) inside = !inside;
        }
    }
    return inside;
}

FaceExtraction<TessellatedFace> tessellateBsplineFaces(const StepFile& file, int32_t n, int64_t pointBudget,
                                                       int64_t workBudget) {
    FaceExtraction<TessellatedFace> result;
    if (!file.ok) {
        result.error = "cannot tessellate B-splines from a STEP file that did not parse";
        return result;
    }
    result.ok = true;
    int32_t segments = std::max<int32_t>(2, n);
    PointBudget budget;
    budget.remaining = pointBudget;
    BsplineWork work;
    work.remaining = workBudget;

    auto faceSurface = [](const StepEntity& e) {
        return e.parts.empty() && e.type == "ADVANCED_FACE" && e.params.size() >= 3 &&
               e.params[2].kind == StepValueKind::Reference;
    };
    std::set<int64_t> used;
    for (const auto& entry : file.instances) {
        if (faceSurface(entry.second)) used.insert(entry.second.params[2].ref);
    }

    auto accept = [&](TessellatedFace& face) {
        budget.remaining -= static_cast<int64_t>(face.points.size());
        result.faces.push_back(std::move(face));
    };

    // Faces, each surface read once however many faces it carries.
    std::map<int64_t, SurfaceEntry> surfaces;
    for (const auto& entry : file.instances) {
        const StepEntity& face = entry.second;
        if (!faceSurface(face)) continue;
        const StepEntity* surfaceEntity = findEntity(file, face.params[2]);
        if (surfaceEntity == nullptr) continue;
        auto found = surfaces.find(face.params[2].ref);
        if (found == surfaces.end()) {
            SurfaceEntry fresh;
            BsplineSurface surface;
            fresh.status = readBsplineSurface(file, *surfaceEntity, surface);
            if (fresh.status == BsplineRead::Read) fresh.prepared = prepareSurface(surface, fresh.surface);
            found = surfaces.emplace(face.params[2].ref, std::move(fresh)).first;
        }
        const SurfaceEntry& s = found->second;
        if (s.status == BsplineRead::NotBspline) continue;
        std::vector<std::vector<Point2>> loops;
        TessellatedFace out;
        // Nothing larger than the grid can be kept, so a face whose grid is too large is
        // declined before its boundary is inverted.
        int64_t side = static_cast<int64_t>(segments) + 1;
        if (s.status == BsplineRead::Read && s.prepared && side * side <= kMaxFacePoints &&
            faceParamLoops(file, face, s.surface, segments, loops, &work) &&
            tessellateSurface(s.surface, segments, &loops, budget, work, out)) {
            accept(out);
        } else {
            ++result.skipped;
        }
    }

    // Surfaces no face uses, whole.
    for (const auto& entry : file.instances) {
        if (used.count(entry.first) != 0) continue;
        BsplineSurface surface;
        BsplineRead status = readBsplineSurface(file, entry.second, surface);
        if (status == BsplineRead::NotBspline) continue;
        PreparedSurface prepared;
        TessellatedFace out;
        if (status == BsplineRead::Read && prepareSurface(surface, prepared) &&
            tessellateSurface(prepared, segments, nullptr, budget, work, out)) {
            accept(out);
        } else {
            ++result.skipped;
        }
    }
    return result;
}
