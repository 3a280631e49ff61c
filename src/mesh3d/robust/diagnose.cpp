#include "mesh3d/robust/diagnose.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "geom/predicates.hpp"
#include "mesh3d/robust/box_pairs.hpp"

namespace {

int sign(double x) { return (x > 0) - (x < 0); }

/// The axis dropped when a plane with normal n is projected to two dimensions.
int dominantAxis(const Point3& a, const Point3& b, const Point3& c) {
    const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    const double nx = std::fabs(uy * vz - uz * vy);
    const double ny = std::fabs(uz * vx - ux * vz);
    const double nz = std::fabs(ux * vy - uy * vx);
    if (nx >= ny && nx >= nz) return 0;
    return ny >= nz ? 1 : 2;
}

Point2 project(const Point3& p, int axis) {
    if (axis == 0) return Point2{p.y, p.z};
    if (axis == 1) return Point2{p.z, p.x};
    return Point2{p.x, p.y};
}

bool onSegment2(const Point2& a, const Point2& b, const Point2& p) {
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}

/// Closed segments ab and cd in the plane share a point.
bool segmentsMeet2(const Point2& a, const Point2& b, const Point2& c, const Point2& d) {
    const int o1 = sign(orient2d(a, b, c));
    const int o2 = sign(orient2d(a, b, d));
    const int o3 = sign(orient2d(c, d, a));
    const int o4 = sign(orient2d(c, d, b));
    if (o1 * o2 < 0 && o3 * o4 < 0) return true;
    if (o1 == 0 && onSegment2(a, b, c)) return true;
    if (o2 == 0 && onSegment2(a, b, d)) return true;
    if (o3 == 0 && onSegment2(c, d, a)) return true;
    if (o4 == 0 && onSegment2(c, d, b)) return true;
    return false;
}

/// p in the closed triangle abc (not degenerate) of the plane.
bool inTriangle2(const Point2& a, const Point2& b, const Point2& c, const Point2& p) {
    const int o1 = sign(orient2d(a, b, p));
    const int o2 = sign(orient2d(b, c, p));
    const int o3 = sign(orient2d(c, a, p));
    const bool neg = o1 < 0 || o2 < 0 || o3 < 0;
    const bool pos = o1 > 0 || o2 > 0 || o3 > 0;
    return !(neg && pos);
}

/// All three projections collinear: the points lie on one line (exact).
bool collinear3(const Point3& a, const Point3& b, const Point3& c) {
    for (int axis = 0; axis < 3; ++axis) {
        if (orient2d(project(a, axis), project(b, axis), project(c, axis)) != 0) return false;
    }
    return true;
}

Point3 midpointOf(const Point3& a, const Point3& b) {
    return Point3{(a.x + b.x) * 0.5, (a.y + b.y) * 0.5, (a.z + b.z) * 0.5};
}

Point3 lerp(const Point3& p, const Point3& q, double t) {
    return Point3{p.x + (q.x - p.x) * t, p.y + (q.y - p.y) * t, p.z + (q.z - p.z) * t};
}

/// Whether the ray from v through x (coplanar with the triangle v, a, b) starts into the
/// closed corner of the triangle at v.
bool entersCorner(const Point3& v, const Point3& x, const Point3& a, const Point3& b, int axis) {
    const Point2 v2 = project(v, axis), x2 = project(x, axis), a2 = project(a, axis), b2 = project(b, axis);
    const int ref = sign(orient2d(v2, a2, b2));
    const int oa = sign(orient2d(v2, a2, x2));
    const int ob = sign(orient2d(v2, x2, b2));
    if (oa * ref < 0 || ob * ref < 0) return false;
    const double dx = x.x - v.x, dy = x.y - v.y, dz = x.z - v.z;
    if (oa == 0 && dx * (a.x - v.x) + dy * (a.y - v.y) + dz * (a.z - v.z) <= 0) return false;
    if (ob == 0 && dx * (b.x - v.x) + dy * (b.y - v.y) + dz * (b.z - v.z) <= 0) return false;
    return true;
}

/// p on the closed segment ab (exact: collinear in every axis-plane projection, and within
/// the segment's extent on every axis).
bool onClosedSegment(const Point3& a, const Point3& b, const Point3& p) {
    if (!collinear3(a, b, p)) return false;
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y) && std::min(a.z, b.z) <= p.z && p.z <= std::max(a.z, b.z);
}

/// Whether two segments meet other than at an end they share (exact).
bool segmentsCross(const std::vector<Point3>& P, const int64_t* s, const int64_t* t) {
    const bool shared0 = s[0] == t[0] || s[0] == t[1];
    const bool shared1 = s[1] == t[0] || s[1] == t[1];
    if (shared0 && shared1) return true;  // the same segment twice
    if (shared0 || shared1) {
        const int64_t v = shared0 ? s[0] : s[1];
        const int64_t x = shared0 ? s[1] : s[0];
        const int64_t y = (t[0] == v) ? t[1] : t[0];
        // Overlap beyond the shared end: one runs along the other.
        return onClosedSegment(P[v], P[x], P[y]) || onClosedSegment(P[v], P[y], P[x]);
    }
    const Point3 &a = P[s[0]], &b = P[s[1]], &c = P[t[0]], &d = P[t[1]];
    if (orient3d(a, b, c, d) != 0) return false;
    for (int axis = 0; axis < 3; ++axis) {
        if (!segmentsMeet2(project(a, axis), project(b, axis), project(c, axis), project(d, axis))) return false;
    }
    return true;
}

std::string formatPoint(const Point3& p) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "(%.9g, %.9g, %.9g)", p.x, p.y, p.z);
    return buffer;
}

AlignedBox boxOf(const std::vector<Point3>& points, const int64_t* v, int count) {
    AlignedBox b{{points[v[0]].x, points[v[0]].y, points[v[0]].z}, {points[v[0]].x, points[v[0]].y, points[v[0]].z}};
    for (int k = 1; k < count; ++k) {
        const double c[3] = {points[v[k]].x, points[v[k]].y, points[v[k]].z};
        for (int i = 0; i < 3; ++i) {
            b.lo[i] = std::min(b.lo[i], c[i]);
            b.hi[i] = std::max(b.hi[i], c[i]);
        }
    }
    return b;
}

struct Namer {
    const FacetNaming& naming;
    std::string operator()(int64_t facet) const {
        const int64_t n = naming.numbers != nullptr ? (*naming.numbers)[static_cast<size_t>(facet)] : facet;
        return std::string(naming.word) + " " + std::to_string(n);
    }
    std::string plural(int64_t a, int64_t b) const {
        const int64_t na = naming.numbers != nullptr ? (*naming.numbers)[static_cast<size_t>(a)] : a;
        const int64_t nb = naming.numbers != nullptr ? (*naming.numbers)[static_cast<size_t>(b)] : b;
        return std::string(naming.word) + "s " + std::to_string(na) + " and " + std::to_string(nb);
    }
};

PlcDiagnosis failed(std::string message) {
    PlcDiagnosis d;
    d.error = std::move(message);
    return d;
}

}  // namespace

bool segmentMeetsTriangle(const Point3& p, const Point3& q, const Point3& a, const Point3& b, const Point3& c,
                          Point3& where) {
    const double o1 = orient3d(a, b, c, p);
    const double o2 = orient3d(a, b, c, q);
    if ((o1 > 0 && o2 > 0) || (o1 < 0 && o2 < 0)) return false;
    if (o1 == 0 && o2 == 0) {
        const int axis = dominantAxis(a, b, c);
        const Point2 a2 = project(a, axis), b2 = project(b, axis), c2 = project(c, axis);
        const Point2 p2 = project(p, axis), q2 = project(q, axis);
        if (inTriangle2(a2, b2, c2, p2)) {
            where = p;
            return true;
        }
        if (inTriangle2(a2, b2, c2, q2)) {
            where = q;
            return true;
        }
        const Point3* corners[3] = {&a, &b, &c};
        for (int e = 0; e < 3; ++e) {
            const Point3& u = *corners[e];
            const Point3& w = *corners[(e + 1) % 3];
            if (segmentsMeet2(p2, q2, project(u, axis), project(w, axis))) {
                // The crossing with the edge's line, in plain arithmetic.
                const Point2 u2 = project(u, axis), w2 = project(w, axis);
                const double den = (q2.x - p2.x) * (w2.y - u2.y) - (q2.y - p2.y) * (w2.x - u2.x);
                double t = 0.5;
                if (den != 0) t = ((u2.x - p2.x) * (w2.y - u2.y) - (u2.y - p2.y) * (w2.x - u2.x)) / den;
                where = lerp(p, q, std::min(1.0, std::max(0.0, t)));
                return true;
            }
        }
        return false;
    }
    const int s1 = sign(orient3d(p, q, a, b));
    const int s2 = sign(orient3d(p, q, b, c));
    const int s3 = sign(orient3d(p, q, c, a));
    if ((s1 > 0 || s2 > 0 || s3 > 0) && (s1 < 0 || s2 < 0 || s3 < 0)) return false;
    if (o1 == 0) {
        where = p;
    } else if (o2 == 0) {
        where = q;
    } else {
        where = lerp(p, q, o1 / (o1 - o2));
    }
    return true;
}

namespace {

/// A quick test in plain arithmetic with a generous error margin: true when the triangles
/// are certainly apart except for their shared corners: the corners of one that it does not
/// share lie strictly on one side of the other's plane, or, for triangles in (nearly) one
/// plane, strictly beyond one edge line of the other that the shared corners lie on.
bool certainlyApart(const Point3* A, const int64_t* ta, const Point3* B, const int64_t* tb) {
    double scale = 0;
    for (int i = 0; i < 3; ++i) {
        scale = std::max({scale, std::fabs(A[i].x), std::fabs(A[i].y), std::fabs(A[i].z), std::fabs(B[i].x),
                          std::fabs(B[i].y), std::fabs(B[i].z)});
    }
    auto sub = [](const Point3& a, const Point3& b) { return Point3{a.x - b.x, a.y - b.y, a.z - b.z}; };
    auto cross = [](const Point3& u, const Point3& v) {
        return Point3{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
    };
    auto dot = [](const Point3& u, const Point3& v) { return u.x * v.x + u.y * v.y + u.z * v.z; };
    auto len = [&](const Point3& u) { return std::sqrt(dot(u, u)); };
    for (int pass = 0; pass < 2; ++pass) {
        const Point3* P = pass == 0 ? A : B;
        const Point3* Q = pass == 0 ? B : A;
        const int64_t* tp = pass == 0 ? ta : tb;
        const int64_t* tq = pass == 0 ? tb : ta;
        auto shared = [&](int j) { return tq[j] == tp[0] || tq[j] == tp[1] || tq[j] == tp[2]; };
        const Point3 n = cross(sub(P[1], P[0]), sub(P[2], P[0]));
        const double margin = 1e-9 * len(n) * scale;
        int above = 0, below = 0, others = 0;
        for (int j = 0; j < 3; ++j) {
            if (shared(j)) continue;
            ++others;
            const double side = dot(n, sub(Q[j], P[0]));
            if (side > margin) ++above;
            if (side < -margin) ++below;
        }
        if (others > 0 && (above == others || below == others)) return true;
        // Edge lines of P within its plane.
        for (int e = 0; e < 3; ++e) {
            const Point3& p = P[e];
            const Point3& q = P[(e + 1) % 3];
            const Point3& r = P[(e + 2) % 3];
            const Point3 m = cross(n, sub(q, p));
            const double mLen = len(m);
            const double edgeMargin = 1e-9 * mLen * scale;
            const double inner = dot(m, sub(r, p));
            bool apart = true;
            int counted = 0;
            for (int j = 0; j < 3 && apart; ++j) {
                if (shared(j)) {
                    // A shared corner must be an end of this edge.
                    apart = tq[j] == tp[e] || tq[j] == tp[(e + 1) % 3];
                    continue;
                }
                ++counted;
                const double side = dot(m, sub(Q[j], p));
                apart = inner > 0 ? side < -edgeMargin : side > edgeMargin;
            }
            if (apart && counted > 0) return true;
        }
    }
    return false;
}

}  // namespace

bool trianglesIntersect(const std::vector<Point3>& points, const int64_t* ta, const int64_t* tb, Point3& where) {
    int sharedA[3] = {-1, -1, -1};  // per corner of ta, its position in tb
    int shared = 0;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            if (ta[i] == tb[j]) {
                sharedA[i] = j;
                ++shared;
            }
        }
    }
    const Point3 A[3] = {points[ta[0]], points[ta[1]], points[ta[2]]};
    const Point3 B[3] = {points[tb[0]], points[tb[1]], points[tb[2]]};
    if (shared < 3 && certainlyApart(A, ta, B, tb)) return false;
    if (shared >= 3) {
        where = A[0];
        return true;
    }
    if (shared == 2) {
        int third = 0;
        while (sharedA[third] >= 0) ++third;
        int thirdB = 0;
        while (tb[thirdB] == ta[0] || tb[thirdB] == ta[1] || tb[thirdB] == ta[2]) ++thirdB;
        const Point3& u = A[(third + 1) % 3];
        const Point3& v = A[(third + 2) % 3];
        if (orient3d(u, v, A[third], B[thirdB]) != 0) return false;
        const int axis = dominantAxis(u, v, A[third]);
        const int s1 = sign(orient2d(project(u, axis), project(v, axis), project(A[third], axis)));
        const int s2 = sign(orient2d(project(u, axis), project(v, axis), project(B[thirdB], axis)));
        if (s1 * s2 <= 0) return false;
        where = Point3{(u.x + v.x + A[third].x) / 3, (u.y + v.y + A[third].y) / 3, (u.z + v.z + A[third].z) / 3};
        // A point inside both: near the shared edge's midpoint, towards both third corners.
        where = lerp(midpointOf(u, v), where, 1e-3);
        return true;
    }
    if (shared == 1) {
        int ia = 0;
        while (sharedA[ia] < 0) ++ia;
        const int ib = sharedA[ia];
        const Point3& v = A[ia];
        const Point3& a1 = A[(ia + 1) % 3];
        const Point3& b1 = A[(ia + 2) % 3];
        const Point3& a2 = B[(ib + 1) % 3];
        const Point3& b2 = B[(ib + 2) % 3];
        if (segmentMeetsTriangle(a1, b1, v, a2, b2, where)) return true;
        if (segmentMeetsTriangle(a2, b2, v, a1, b1, where)) return true;
        const Point3* fromA[2] = {&a1, &b1};
        for (const Point3* x : fromA) {
            if (orient3d(v, a2, b2, *x) == 0 && entersCorner(v, *x, a2, b2, dominantAxis(v, a2, b2))) {
                where = lerp(v, *x, 1e-3);
                return true;
            }
        }
        const Point3* fromB[2] = {&a2, &b2};
        for (const Point3* x : fromB) {
            if (orient3d(v, a1, b1, *x) == 0 && entersCorner(v, *x, a1, b1, dominantAxis(v, a1, b1))) {
                where = lerp(v, *x, 1e-3);
                return true;
            }
        }
        return false;
    }
    for (int e = 0; e < 3; ++e) {
        if (segmentMeetsTriangle(A[e], A[(e + 1) % 3], B[0], B[1], B[2], where)) return true;
    }
    for (int e = 0; e < 3; ++e) {
        if (segmentMeetsTriangle(B[e], B[(e + 1) % 3], A[0], A[1], A[2], where)) return true;
    }
    return false;
}

PlcDiagnosis diagnosePlc(const Plc& plc, const FacetNaming& naming) {
    const Namer name{naming};
    const int64_t n = static_cast<int64_t>(plc.points.size());
    const std::vector<Point3>& P = plc.points;
    const int64_t facetCount = static_cast<int64_t>(plc.facets.size());
    const int64_t segmentCount = static_cast<int64_t>(plc.segments.size());

    // 1. Indices.
    for (int64_t f = 0; f < facetCount; ++f) {
        for (int64_t v : plc.facets[f].v) {
            if (v < 0 || v >= n) {
                return failed(name(f) + " names point " + std::to_string(v) + ", but the points are numbered 0 to " +
                              std::to_string(n - 1));
            }
        }
    }
    for (int64_t s = 0; s < segmentCount; ++s) {
        for (int64_t v : plc.segments[s].v) {
            if (v < 0 || v >= n) {
                return failed("segment " + std::to_string(s) + " names point " + std::to_string(v) +
                              ", but the points are numbered 0 to " + std::to_string(n - 1));
            }
        }
    }
    // 2. Repeated corners.
    for (int64_t f = 0; f < facetCount; ++f) {
        const auto& v = plc.facets[f].v;
        if (v[0] == v[1] || v[1] == v[2] || v[0] == v[2]) {
            const int64_t twice = (v[0] == v[1] || v[0] == v[2]) ? v[0] : v[1];
            return failed(name(f) + " names point " + std::to_string(twice) + " twice");
        }
    }
    for (int64_t s = 0; s < segmentCount; ++s) {
        if (plc.segments[s].v[0] == plc.segments[s].v[1]) {
            return failed("segment " + std::to_string(s) + " has both ends at point " +
                          std::to_string(plc.segments[s].v[0]));
        }
    }
    // 3. Zero area.
    for (int64_t f = 0; f < facetCount; ++f) {
        const auto& v = plc.facets[f].v;
        if (collinear3(P[v[0]], P[v[1]], P[v[2]])) {
            return failed(name(f) + " has zero area (its corners " + formatPoint(P[v[0]]) + ", " + formatPoint(P[v[1]]) +
                          " and " + formatPoint(P[v[2]]) + " lie on one line)");
        }
    }
    for (int64_t s = 0; s < segmentCount; ++s) {
        const Point3& a = P[plc.segments[s].v[0]];
        const Point3& b = P[plc.segments[s].v[1]];
        if (a.x == b.x && a.y == b.y && a.z == b.z) {
            return failed("segment " + std::to_string(s) + " has zero length");
        }
    }
    // 4. Duplicate facets.
    {
        std::vector<std::pair<std::array<int64_t, 3>, int64_t>> sorted;
        sorted.reserve(plc.facets.size());
        for (int64_t f = 0; f < facetCount; ++f) {
            std::array<int64_t, 3> k = plc.facets[f].v;
            std::sort(k.begin(), k.end());
            sorted.push_back({k, f});
        }
        std::sort(sorted.begin(), sorted.end());
        int64_t bestA = -1, bestB = -1;
        for (size_t i = 1; i < sorted.size(); ++i) {
            if (sorted[i].first == sorted[i - 1].first) {
                const int64_t a = sorted[i - 1].second, b = sorted[i].second;
                if (bestA < 0 || a < bestA || (a == bestA && b < bestB)) {
                    bestA = a;
                    bestB = b;
                }
            }
        }
        if (bestA >= 0) return failed(name.plural(bestA, bestB) + " are the same triangle");
    }
    // 5. Every edge bounds exactly two facets.
    {
        struct EdgeUse {
            int64_t a, b, facet;
        };
        std::vector<EdgeUse> uses;
        uses.reserve(plc.facets.size() * 3);
        for (int64_t f = 0; f < facetCount; ++f) {
            const auto& v = plc.facets[f].v;
            for (int e = 0; e < 3; ++e) {
                const int64_t a = v[e], b = v[(e + 1) % 3];
                uses.push_back(EdgeUse{std::min(a, b), std::max(a, b), f});
            }
        }
        std::sort(uses.begin(), uses.end(), [](const EdgeUse& l, const EdgeUse& r) {
            if (l.a != r.a) return l.a < r.a;
            if (l.b != r.b) return l.b < r.b;
            return l.facet < r.facet;
        });
        size_t bestStart = uses.size(), bestEnd = 0;
        for (size_t i = 0; i < uses.size();) {
            size_t j = i;
            while (j < uses.size() && uses[j].a == uses[i].a && uses[j].b == uses[i].b) ++j;
            if (j - i != 2 && (bestStart == uses.size() || uses[i].facet < uses[bestStart].facet)) {
                bestStart = i;
                bestEnd = j;
            }
            i = j;
        }
        if (bestStart < uses.size()) {
            const std::string edge = "the edge from " + formatPoint(P[uses[bestStart].a]) + " to " +
                                     formatPoint(P[uses[bestStart].b]);
            if (bestEnd - bestStart == 1) {
                return failed(edge + " belongs to " + name(uses[bestStart].facet) +
                              " only: the surface is not closed");
            }
            std::string list;
            for (size_t k = bestStart; k < bestEnd; ++k) {
                const int64_t f = uses[k].facet;
                const int64_t number = naming.numbers != nullptr ? (*naming.numbers)[static_cast<size_t>(f)] : f;
                list += (k == bestStart ? "" : (k + 1 == bestEnd ? " and " : ", ")) + std::to_string(number);
            }
            return failed(edge + " is shared by " + std::to_string(bestEnd - bestStart) + " " + naming.word + "s (" +
                          list + "): the surface is not manifold there");
        }
    }
    // 6. Intersecting facets: the first pair in index order.
    std::vector<AlignedBox> facetBoxes;
    facetBoxes.reserve(plc.facets.size());
    for (const Facet& f : plc.facets) facetBoxes.push_back(boxOf(P, f.v.data(), 3));
    {
        int64_t bestA = -1, bestB = -1;
        Point3 bestWhere;
        int64_t pairs = 0;
        bool tooMany = false;
        // The pairs in the grid's order: the first intersecting pair and whether there are
        // too many pairs do not depend on the order.
        gridBoxPairs(facetBoxes, [&](int32_t i, int32_t j) {
            if (++pairs > kMaxFacetPairs) {
                tooMany = true;
                return false;
            }
            if (bestA >= 0 && (i > bestA || (i == bestA && j > bestB))) return true;
            Point3 where;
            if (trianglesIntersect(P, plc.facets[i].v.data(), plc.facets[j].v.data(), where)) {
                bestA = i;
                bestB = j;
                bestWhere = where;
            }
            return true;
        });
        if (tooMany) {
            return failed("more than " + std::to_string(kMaxFacetPairs) +
                          " pairs of facets lie close together, more than the intersection test takes");
        }
        if (bestA >= 0) return failed(name.plural(bestA, bestB) + " intersect at " + formatPoint(bestWhere));
    }
    int64_t work = 0;  // pairs examined by the checks below
    // 7. Segments through facets, and points lying on facets or segments they do not belong to.
    if (segmentCount > 0) {
        std::vector<AlignedBox> segmentBoxes;
        for (const Segment& s : plc.segments) segmentBoxes.push_back(boxOf(P, s.v.data(), 2));
        int64_t bestS = -1, bestF = -1;
        Point3 bestWhere;
        sweptBoxPairs(segmentBoxes, facetBoxes, false, [&](int32_t s, int32_t f) {
            if (++work > kMaxFacetPairs) return false;
            if (bestS >= 0 && (s > bestS || (s == bestS && f > bestF))) return true;
            const auto& sv = plc.segments[s].v;
            const auto& fv = plc.facets[f].v;
            int shared = 0;
            int sharedEnd = -1;
            for (int e = 0; e < 2; ++e) {
                for (int k = 0; k < 3; ++k) {
                    if (sv[e] == fv[k]) {
                        ++shared;
                        sharedEnd = e;
                    }
                }
            }
            if (shared == 2) return true;  // a facet edge
            Point3 where;
            bool meets = false;
            if (shared == 1) {
                const int64_t v = sv[sharedEnd];
                const int64_t x = sv[1 - sharedEnd];
                int k = 0;
                while (fv[k] != v) ++k;
                const Point3& a = P[fv[(k + 1) % 3]];
                const Point3& b = P[fv[(k + 2) % 3]];
                if (orient3d(P[v], a, b, P[x]) == 0 &&
                    entersCorner(P[v], P[x], a, b, dominantAxis(P[v], a, b))) {
                    meets = true;
                    where = lerp(P[v], P[x], 1e-3);
                }
            } else {
                meets = segmentMeetsTriangle(P[sv[0]], P[sv[1]], P[fv[0]], P[fv[1]], P[fv[2]], where);
            }
            if (meets) {
                bestS = s;
                bestF = f;
                bestWhere = where;
            }
            return true;
        });
        if (bestS >= 0) {
            return failed("segment " + std::to_string(bestS) + " meets " + name(bestF) + " at " +
                          formatPoint(bestWhere));
        }
        // Segments crossing or overlapping each other.
        int64_t bestA = -1, bestB = -1;
        sweptBoxPairs(segmentBoxes, segmentBoxes, true, [&](int32_t i, int32_t j) {
            if (++work > kMaxFacetPairs) return false;
            if (bestA >= 0 && (i > bestA || (i == bestA && j > bestB))) return true;
            if (segmentsCross(P, plc.segments[i].v.data(), plc.segments[j].v.data())) {
                bestA = i;
                bestB = j;
            }
            return true;
        });
        if (bestA >= 0) {
            return failed("segments " + std::to_string(bestA) + " and " + std::to_string(bestB) +
                          " meet other than at a shared end");
        }
    }
    {
        std::vector<uint8_t> used(static_cast<size_t>(n), 0);
        for (const Facet& f : plc.facets) {
            for (int64_t v : f.v) used[v] = 1;
        }
        for (const Segment& s : plc.segments) {
            for (int64_t v : s.v) used[v] = 1;
        }
        std::vector<AlignedBox> pointBoxes;
        std::vector<int64_t> pointIndex;
        for (int64_t i = 0; i < n; ++i) {
            if (used[i] != 0) continue;
            pointIndex.push_back(i);
            pointBoxes.push_back(boxOf(P, &i, 1));
        }
        if (!pointIndex.empty()) {
            int64_t bestP = -1, bestF = -1;
            sweptBoxPairs(pointBoxes, facetBoxes, false, [&](int32_t pi, int32_t f) {
                if (++work > kMaxFacetPairs) return false;
                const int64_t p = pointIndex[pi];
                if (bestP >= 0 && (p > bestP || (p == bestP && f > bestF))) return true;
                Point3 where;
                if (segmentMeetsTriangle(P[p], P[p], P[plc.facets[f].v[0]], P[plc.facets[f].v[1]],
                                         P[plc.facets[f].v[2]], where)) {
                    bestP = p;
                    bestF = f;
                }
                return true;
            });
            if (bestP >= 0) return failed("point " + std::to_string(bestP) + " lies on " + name(bestF));
        }
    }
    // Points lying inside a segment they are not an end of.
    if (segmentCount > 0) {
        std::vector<AlignedBox> pointBoxes;
        for (int64_t i = 0; i < n; ++i) pointBoxes.push_back(boxOf(P, &i, 1));
        std::vector<AlignedBox> segmentBoxes;
        for (const Segment& sg : plc.segments) segmentBoxes.push_back(boxOf(P, sg.v.data(), 2));
        int64_t bestP = -1, bestS = -1;
        sweptBoxPairs(pointBoxes, segmentBoxes, false, [&](int32_t i, int32_t sg) {
            if (++work > kMaxFacetPairs) return false;
            if (bestP >= 0 && (i > bestP || (i == bestP && sg > bestS))) return true;
            const auto& v = plc.segments[sg].v;
            if (i == v[0] || i == v[1]) return true;
            if (onClosedSegment(P[v[0]], P[v[1]], P[i])) {
                bestP = i;
                bestS = sg;
            }
            return true;
        });
        if (bestP >= 0) return failed("point " + std::to_string(bestP) + " lies on segment " + std::to_string(bestS));
    }
    if (work > kMaxFacetPairs) {
        return failed("more than " + std::to_string(kMaxFacetPairs) +
                      " pairs of segments, facets and points lie close together, more than the checks take");
    }
    PlcDiagnosis ok;
    ok.ok = true;
    return ok;
}
