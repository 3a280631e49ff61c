#include "io/step/step_surface_quality.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <vector>

#include "geom/predicates.hpp"
#include "io/step/step_readers.hpp"

namespace {

using namespace stepvec;

constexpr double kDegreesPerRadian = 180.0 / 3.141592653589793;

/// Sweeps of flipping; each sweep flips at most once per triangle.
constexpr int kMaxFlipSweeps = 256;

double triangleMinAngle(const SurfaceTriangulation& t, int64_t a, int64_t b, int64_t c) {
    return spaceMinAngleDeg(t.surface[static_cast<size_t>(a)], t.surface[static_cast<size_t>(b)],
                            t.surface[static_cast<size_t>(c)]);
}

}  // namespace

double spaceAngleDeg(const Point3& o, const Point3& p, const Point3& q) {
    Point3 u = sub(p, o);
    Point3 v = sub(q, o);
    double lu = length(u);
    double lv = length(v);
    if (!(lu > 1e-300) || !(lv > 1e-300)) return 180.0;
    double cosine = dot(u, v) / (lu * lv);
    cosine = std::max(-1.0, std::min(1.0, cosine));
    return std::acos(cosine) * kDegreesPerRadian;
}

double spaceMinAngleDeg(const Point3& a, const Point3& b, const Point3& c) {
    double la = squaredDistance(b, c), lb = squaredDistance(a, c), lc = squaredDistance(a, b);
    if (!(la > 0.0) || !(lb > 0.0) || !(lc > 0.0)) return 0.0;
    double angle = std::min(spaceAngleDeg(a, b, c), std::min(spaceAngleDeg(b, c, a), spaceAngleDeg(c, a, b)));
    return std::isfinite(angle) ? angle : 0.0;
}

int64_t flipTowardsSurfaceQuality(SurfaceTriangulation& t, int64_t maxFlips) {
    int64_t flips = 0;
    const size_t count = t.triangles.size();
    // Directed edge key -> (triangle, corner index of the edge's first point), sorted by key;
    // where a directed edge repeats, the last triangle holding it answers.
    struct EdgeEntry {
        uint64_t key;
        size_t triangle;
        int corner;
    };
    std::vector<EdgeEntry> edges;
    edges.reserve(3 * count);
    // Each triangle's smallest angle on the surface, computed once per sweep: a triangle
    // that flips is not looked at again within the sweep, and the angle does not depend on
    // which corner comes first.
    std::vector<double> minAngle(count, 0.0);
    std::vector<char> known(count, 0);
    auto cachedMinAngle = [&](size_t i) {
        if (known[i] == 0) {
            const Triangle& tri = t.triangles[i];
            minAngle[i] = triangleMinAngle(t, tri.v[0], tri.v[1], tri.v[2]);
            known[i] = 1;
        }
        return minAngle[i];
    };
    for (int sweep = 0; sweep < kMaxFlipSweeps && flips < maxFlips; ++sweep) {
        edges.clear();
        for (size_t i = 0; i < count; ++i) {
            for (int k = 0; k < 3; ++k) {
                edges.push_back({edgeKey(t.triangles[i].v[k], t.triangles[i].v[(k + 1) % 3]), i, k});
            }
        }
        std::stable_sort(edges.begin(), edges.end(),
                         [](const EdgeEntry& x, const EdgeEntry& y) { return x.key < y.key; });
        std::fill(known.begin(), known.end(), 0);
        std::vector<char> touched(count, 0);
        int64_t before = flips;
        for (size_t i = 0; i < count && flips < maxFlips; ++i) {
            for (int k = 0; k < 3 && touched[i] == 0; ++k) {
                const Triangle& t1 = t.triangles[i];
                int64_t a = t1.v[k], b = t1.v[(k + 1) % 3], c = t1.v[(k + 2) % 3];
                const uint64_t twin = edgeKey(b, a);
                auto past = std::upper_bound(edges.begin(), edges.end(), twin,
                                             [](uint64_t key, const EdgeEntry& e) { return key < e.key; });
                if (past == edges.begin() || std::prev(past)->key != twin) continue;
                const EdgeEntry& other = *std::prev(past);
                size_t j = other.triangle;
                if (j <= i || touched[j] != 0) continue;
                const Triangle& t2 = t.triangles[j];
                int64_t d = t2.v[(other.corner + 2) % 3];
                const Point2& pa = t.chart[static_cast<size_t>(a)];
                const Point2& pb = t.chart[static_cast<size_t>(b)];
                const Point2& pc = t.chart[static_cast<size_t>(c)];
                const Point2& pd = t.chart[static_cast<size_t>(d)];
                if (!(orient2d(pa, pd, pc) > 0.0) || !(orient2d(pd, pb, pc) > 0.0)) continue;
                double old = std::min(cachedMinAngle(i), cachedMinAngle(j));
                double now = std::min(triangleMinAngle(t, a, d, c), triangleMinAngle(t, d, b, c));
                if (!(now > old + 1e-9)) continue;
                t.triangles[i].v = {a, d, c};
                t.triangles[j].v = {d, b, c};
                touched[i] = 1;
                touched[j] = 1;
                ++flips;
            }
        }
        if (flips == before) break;
    }
    return flips;
}

bool chartPointOfSpaceCircumcenter(const SurfaceTriangulation& t, const Triangle& tri, Point2& out,
                                   double& circumradius) {
    const Point3& A = t.surface[static_cast<size_t>(tri.v[0])];
    const Point3& B = t.surface[static_cast<size_t>(tri.v[1])];
    const Point3& C = t.surface[static_cast<size_t>(tri.v[2])];
    Point3 e1 = sub(B, A);
    Point3 e2 = sub(C, A);
    double g11 = dot(e1, e1), g12 = dot(e1, e2), g22 = dot(e2, e2);
    double det = g11 * g22 - g12 * g12;
    if (!(det > 1e-24 * g11 * g22) || !std::isfinite(det)) return false;
    // Centre A + s e1 + r e2 is as far from A as from B and C.
    double s = (0.5 * g11 * g22 - 0.5 * g22 * g12) / det;
    double r = (0.5 * g22 * g11 - 0.5 * g11 * g12) / det;
    Point3 offset = add(scale(s, e1), scale(r, e2));
    circumradius = length(offset);
    const Point2& a = t.chart[static_cast<size_t>(tri.v[0])];
    const Point2& b = t.chart[static_cast<size_t>(tri.v[1])];
    const Point2& c = t.chart[static_cast<size_t>(tri.v[2])];
    out = {a.x + s * (b.x - a.x) + r * (c.x - a.x), a.y + s * (b.y - a.y) + r * (c.y - a.y)};
    return std::isfinite(out.x) && std::isfinite(out.y) && std::isfinite(circumradius);
}
