#include "mesh2d/triangulation.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "mesh2d/domain_index.hpp"
#include "mesh2d/tri_engine.hpp"

std::vector<Triangle> delaunayTriangulate(const std::vector<Point2>& points) {
    int64_t fallbacks = 0;
    return delaunayTriangulate(points, fallbacks);
}

std::vector<Triangle> delaunayTriangulate(const std::vector<Point2>& points, int64_t& fallbacks) {
    if (points.size() < 3) return {};
    TriEngine engine;
    triEngineBuild(engine, points);
    fallbacks += engine.fallbacks;
    return triEngineTriangles(engine);
}

void addLoop(const std::vector<Point2>& loop, std::vector<Point2>& points, std::vector<Segment>& segments) {
    const int64_t count = static_cast<int64_t>(loop.size());
    if (count < 3) return;
    const int64_t base = static_cast<int64_t>(points.size());
    points.insert(points.end(), loop.begin(), loop.end());
    for (int64_t i = 0; i < count; ++i) {
        segments.push_back(Segment{{base + i, base + (i + 1) % count}});
    }
}

bool pointInPolygon(const Point2& p, const std::vector<Point2>& loop) {
    bool inside = false;
    const size_t n = loop.size();
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const Point2& a = loop[i];
        const Point2& b = loop[j];
        if ((a.y > p.y) != (b.y > p.y) && (p.y - a.y) * (b.x - a.x) / (b.y - a.y) + a.x > p.x) {
            inside = !inside;
        }
    }
    return inside;
}

bool triangleInDomain(const Point2& a, const Point2& b, const Point2& c, const PlanarDomain& domain) {
    const double third = 1.0 / 3.0;
    const Point2 g{(a.x + b.x + c.x) * third, (a.y + b.y + c.y) * third};
    if (!pointInPolygon(g, domain.outer)) return false;
    for (const std::vector<Point2>& hole : domain.holes) {
        if (pointInPolygon(g, hole)) return false;
    }
    return true;
}

int64_t conformingPointLimit(int64_t inputCount) {
    // Splitting resolves each feature of the input with at most a few points per pass; a
    // point list beyond this has stopped converging and would only double pass after pass.
    return std::min<int64_t>(128 * inputCount + 4096, kMaxPlanarPoints);
}

namespace {

/// Coordinates already seen, to recognise a point that repeats one of them: an open
/// addressing table of coordinate pairs. Pairs are equal when both coordinates compare
/// equal, so 0 and -0 are one value.
struct PointSet {
    std::vector<Point2> slots;
    std::vector<uint8_t> used;
    size_t count = 0;
};

uint64_t hashPoint(const Point2& p) {
    uint64_t bx, by;
    std::memcpy(&bx, &p.x, sizeof bx);
    std::memcpy(&by, &p.y, sizeof by);
    uint64_t h = bx * 0x9E3779B97F4A7C15ull;
    h ^= (h >> 29) ^ (by * 0xC2B2AE3D27D4EB4Full);
    return h ^ (h >> 32);
}

void placeInto(PointSet& set, const Point2& p) {
    const size_t mask = set.used.size() - 1;
    size_t h = hashPoint(p) & mask;
    while (set.used[h]) h = (h + 1) & mask;
    set.used[h] = 1;
    set.slots[h] = p;
}

/// Adds p; false when an equal point (or a non-finite one) was there already.
bool addDistinct(PointSet& set, const Point2& p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    const Point2 q{p.x == 0 ? 0.0 : p.x, p.y == 0 ? 0.0 : p.y};
    if (2 * (set.count + 1) > set.used.size()) {
        PointSet bigger;
        const size_t size = std::max<size_t>(64, 2 * set.used.size());
        bigger.slots.resize(size);
        bigger.used.assign(size, 0);
        for (size_t i = 0; i < set.used.size(); ++i) {
            if (set.used[i]) placeInto(bigger, set.slots[i]);
        }
        bigger.count = set.count;
        set = std::move(bigger);
    }
    const size_t mask = set.used.size() - 1;
    for (size_t h = hashPoint(q) & mask; set.used[h]; h = (h + 1) & mask) {
        if (set.slots[h].x == q.x && set.slots[h].y == q.y) return false;
    }
    placeInto(set, q);
    set.count += 1;
    return true;
}

}  // namespace

ConformingMesh conformingTriangulate(const PlanarDomain& domain, int32_t maxPasses) {
    ConformingMesh mesh;
    if (domain.outer.size() < 3) return mesh;

    std::vector<Point2>& points = mesh.points;
    std::vector<Segment> segments;
    addLoop(domain.outer, points, segments);
    for (const std::vector<Point2>& hole : domain.holes) addLoop(hole, points, segments);
    const size_t loopPointCount = points.size();
    points.insert(points.end(), domain.interior.begin(), domain.interior.end());
    if (maxPasses < 1) return mesh;

    // A loop point that repeats an earlier point is never inserted into any triangulation
    // (it lies on, never inside, the circumcircles around its twin), so its segments can
    // never become edges however often they are split: the passes cannot converge.
    PointSet seen;
    for (size_t i = 0; i < points.size(); ++i) {
        if (!addDistinct(seen, points[i]) && i < loopPointCount) return mesh;
    }
    const int64_t pointLimit = conformingPointLimit(static_cast<int64_t>(points.size()));

    TriEngine engine;
    std::vector<Segment> next;
    bool converged = false;
    for (int32_t pass = 1; pass <= maxPasses && !converged; ++pass) {
        if (pass == 1) {
            triEngineBuild(engine, points);
        } else {
            triEngineAppend(engine, points);
        }
        mesh.fallbacks = engine.fallbacks;
        next.clear();
        next.reserve(segments.size());
        bool split = false;
        for (const Segment& s : segments) {
            const int64_t a = s.v[0], b = s.v[1];
            if (triEngineHasEdge(engine, a, b)) {
                next.push_back(s);
                continue;
            }
            const Point2 m{(points[a].x + points[b].x) * 0.5, (points[a].y + points[b].y) * 0.5};
            const int64_t k = static_cast<int64_t>(points.size());
            points.push_back(m);
            next.push_back(Segment{{a, k}});
            next.push_back(Segment{{k, b}});
            split = true;
            // A midpoint repeating an existing point is an end point that no triangle will
            // ever use (see above).
            if (!addDistinct(seen, m) || k >= pointLimit) return mesh;
        }
        segments.swap(next);
        converged = !split;
    }
    if (!converged) return mesh;
    mesh.ok = true;

    // The centroid here is divided by 3 (triangleInDomain multiplies by 1/3).
    const DomainIndex index = buildDomainIndex(domain);
    std::vector<int32_t> scratch;
    const std::vector<int32_t> slots = triEngineRealSlots(engine);
    mesh.triangles.reserve(slots.size());
    for (const int32_t s : slots) {
        const std::array<int32_t, 3>& t = engine.slots[s].v;
        const Point2& a = engine.pts[t[0]];
        const Point2& b = engine.pts[t[1]];
        const Point2& c = engine.pts[t[2]];
        const Point2 g{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3};
        if (domainIndexContains(index, g, scratch)) {
            mesh.triangles.push_back(Triangle{{int64_t{t[0]} - 3, int64_t{t[1]} - 3, int64_t{t[2]} - 3}});
        }
    }
    return mesh;
}
