#include "mesh2d/triangulation.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <unordered_set>
#include <utility>

#include "geom/predicates.hpp"

namespace {

/// Keys sorted for membership tests; a cavity rarely has more than a dozen edges.
bool containsKey(const std::vector<uint64_t>& sortedKeys, uint64_t key) {
    return std::binary_search(sortedKeys.begin(), sortedKeys.end(), key);
}

}  // namespace

std::vector<Triangle> delaunayTriangulate(const std::vector<Point2>& input) {
    std::vector<Triangle> result;
    if (input.size() < 3) return result;
    const int64_t n = static_cast<int64_t>(input.size());
    std::vector<Point2> P(input);

    double minx = P[0].x, maxx = P[0].x, miny = P[0].y, maxy = P[0].y;
    for (const Point2& p : P) {
        if (p.x < minx) minx = p.x;
        if (p.x > maxx) maxx = p.x;
        if (p.y < miny) miny = p.y;
        if (p.y > maxy) maxy = p.y;
    }
    double size = std::max(maxx - minx, maxy - miny);
    if (size <= 0) size = 1.0;
    const Point2 c{(minx + maxx) * 0.5, (miny + maxy) * 0.5};

    // The super triangle: big enough that its corners lie far outside every circumcircle
    // of well-shaped triangles of the input.
    P.push_back(Point2{c.x - 20 * size, c.y - 20 * size});
    P.push_back(Point2{c.x + 20 * size, c.y - 20 * size});
    P.push_back(Point2{c.x, c.y + 20 * size});

    std::vector<Triangle> triangles;
    if (orient2d(P[n], P[n + 1], P[n + 2]) >= 0) {
        triangles.push_back(Triangle{{n, n + 1, n + 2}});
    } else {
        triangles.push_back(Triangle{{n, n + 2, n + 1}});
    }

    std::vector<Triangle> bad;
    std::vector<uint64_t> cavityKeys;
    for (int64_t i = 0; i < n; ++i) {
        const Point2 p = P[i];
        // Bad triangles (p strictly inside the circumcircle) leave the list; the kept ones
        // close up in place, keeping their order.
        bad.clear();
        size_t kept = 0;
        for (size_t t = 0; t < triangles.size(); ++t) {
            const Triangle& tri = triangles[t];
            if (incircle(P[tri.v[0]], P[tri.v[1]], P[tri.v[2]], p) > 0) {
                bad.push_back(tri);
            } else {
                triangles[kept++] = tri;
            }
        }
        triangles.resize(kept);
        if (bad.empty()) continue;

        cavityKeys.clear();
        for (const Triangle& tri : bad) {
            for (int e = 0; e < 3; ++e) cavityKeys.push_back(edgeKey(tri.v[e], tri.v[(e + 1) % 3]));
        }
        std::sort(cavityKeys.begin(), cavityKeys.end());

        // An edge of the cavity whose reverse is not also a cavity edge is on its boundary
        // and is joined to p.
        for (const Triangle& tri : bad) {
            for (int e = 0; e < 3; ++e) {
                const int64_t u = tri.v[e], v = tri.v[(e + 1) % 3];
                if (containsKey(cavityKeys, edgeKey(v, u))) continue;
                if (orient2d(P[u], P[v], p) >= 0) {
                    triangles.push_back(Triangle{{u, v, i}});
                } else {
                    triangles.push_back(Triangle{{u, i, v}});
                }
            }
        }
    }

    for (const Triangle& tri : triangles) {
        if (tri.v[0] < n && tri.v[1] < n && tri.v[2] < n) result.push_back(tri);
    }
    return result;
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
    return 128 * inputCount + 4096;
}

namespace {

/// Coordinates of the points made so far, to recognise a point that repeats one of them.
using PointSet = std::set<std::pair<double, double>>;

/// Adds p; false when an equal point (or a non-finite one) was there already.
bool addDistinct(PointSet& seen, const Point2& p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    return seen.insert(std::make_pair(p.x, p.y)).second;
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

    std::vector<Triangle> triangles;
    std::unordered_set<uint64_t> edges;
    for (int32_t pass = 1; pass <= maxPasses; ++pass) {
        triangles = delaunayTriangulate(points);
        edges.clear();
        for (const Triangle& t : triangles) {
            for (int e = 0; e < 3; ++e) {
                const int64_t p = t.v[e], q = t.v[(e + 1) % 3];
                edges.insert(edgeKey(std::min(p, q), std::max(p, q)));
            }
        }
        std::vector<Segment> next;
        next.reserve(segments.size());
        bool split = false;
        for (const Segment& s : segments) {
            const int64_t a = s.v[0], b = s.v[1];
            if (edges.count(edgeKey(std::min(a, b), std::max(a, b))) != 0) {
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
        if (!split) {
            mesh.ok = true;
            break;
        }
    }
    if (!mesh.ok) return mesh;

    for (const Triangle& t : triangles) {
        const Point2& a = points[t.v[0]];
        const Point2& b = points[t.v[1]];
        const Point2& c = points[t.v[2]];
        const Point2 g{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3};
        if (!pointInPolygon(g, domain.outer)) continue;
        bool inHole = false;
        for (const std::vector<Point2>& hole : domain.holes) {
            if (pointInPolygon(g, hole)) {
                inHole = true;
                break;
            }
        }
        if (!inHole) mesh.triangles.push_back(t);
    }
    return mesh;
}
