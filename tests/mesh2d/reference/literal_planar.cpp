#include "mesh2d/reference/literal_planar.hpp"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>

#include "geom/predicates.hpp"

namespace reference {

namespace {

constexpr double kPi = 3.141592653589793;

bool containsKey(const std::vector<uint64_t>& sortedKeys, uint64_t key) {
    return std::binary_search(sortedKeys.begin(), sortedKeys.end(), key);
}

using PointSet = std::set<std::pair<double, double>>;

bool addDistinct(PointSet& seen, const Point2& p) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return false;
    return seen.insert(std::make_pair(p.x, p.y)).second;
}

double distance(const Point2& p, const Point2& q) {
    const double dx = p.x - q.x, dy = p.y - q.y;
    return std::sqrt(dx * dx + dy * dy);
}

bool encroaches(const Point2& p, const Point2& a, const Point2& b) {
    const double bx = p.x - b.x, by = p.y - b.y;
    const double ax = p.x - a.x, ay = p.y - a.y;
    return bx * ax + by * ay < 0;
}

bool samePoint(const Point2& p, const Point2& q) { return p.x == q.x && p.y == q.y; }

int64_t firstVertexEncroachedSegment(const std::vector<Point2>& points, const std::vector<Segment>& segments) {
    const int64_t n = static_cast<int64_t>(points.size());
    for (size_t s = 0; s < segments.size(); ++s) {
        const int64_t a = segments[s].v[0], b = segments[s].v[1];
        for (int64_t j = 0; j < n; ++j) {
            if (j != a && j != b && encroaches(points[j], points[a], points[b])) return static_cast<int64_t>(s);
        }
    }
    return -1;
}

int64_t firstSegmentEncroachedBy(const Point2& p, const std::vector<Point2>& points,
                                 const std::vector<Segment>& segments) {
    for (size_t s = 0; s < segments.size(); ++s) {
        if (encroaches(p, points[segments[s].v[0]], points[segments[s].v[1]])) return static_cast<int64_t>(s);
    }
    return -1;
}

bool isBadTriangle(const Point2& a, const Point2& b, const Point2& c, double radiusEdgeBound,
                   const RefineOptions& options, Point2& centre) {
    if (!circumcenter(a, b, c, centre)) return false;
    const double d01 = distance(b, a), d12 = distance(c, b), d20 = distance(a, c);
    const double shortest = std::min(d01, std::min(d12, d20));
    if (shortest <= 0) return false;
    if (distance(centre, a) / shortest > radiusEdgeBound) return true;
    if (options.maxArea > 0) {
        const double ux = b.x - a.x, uy = b.y - a.y, vx = c.x - a.x, vy = c.y - a.y;
        if (std::fabs(ux * vy - uy * vx) * 0.5 > options.maxArea) return true;
    }
    if (options.sizing != nullptr) {
        const double longest = std::max(d01, std::max(d12, d20));
        const double third = 1.0 / 3.0;
        const Point2 g{(a.x + b.x + c.x) * third, (a.y + b.y + c.y) * third};
        if (longest > sizeAt(*options.sizing, g)) return true;
    }
    return false;
}

}  // namespace

std::vector<Triangle> literalDelaunayTriangulate(const std::vector<Point2>& input) {
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

ConformingMesh literalConformingTriangulate(const PlanarDomain& domain, int32_t maxPasses) {
    ConformingMesh mesh;
    if (domain.outer.size() < 3) return mesh;

    std::vector<Point2>& points = mesh.points;
    std::vector<Segment> segments;
    addLoop(domain.outer, points, segments);
    for (const std::vector<Point2>& hole : domain.holes) addLoop(hole, points, segments);
    const size_t loopPointCount = points.size();
    points.insert(points.end(), domain.interior.begin(), domain.interior.end());
    if (maxPasses < 1) return mesh;

    PointSet seen;
    for (size_t i = 0; i < points.size(); ++i) {
        if (!addDistinct(seen, points[i]) && i < loopPointCount) return mesh;
    }
    const int64_t pointLimit = conformingPointLimit(static_cast<int64_t>(points.size()));

    std::vector<Triangle> triangles;
    std::unordered_set<uint64_t> edges;
    for (int32_t pass = 1; pass <= maxPasses; ++pass) {
        triangles = literalDelaunayTriangulate(points);
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

RefinedMesh literalRefineRuppert(const PlanarDomain& domain, const RefineOptions& options) {
    RefinedMesh mesh;
    if (domain.outer.size() < 3) return mesh;

    int64_t vertex = 0;
    double sharpest = minCornerAngle(domain.outer, vertex);
    std::string where = "boundary vertex " + std::to_string(vertex);
    for (size_t h = 0; h < domain.holes.size(); ++h) {
        int64_t holeVertex = 0;
        const double angle = minCornerAngle(domain.holes[h], holeVertex);
        if (angle < sharpest) {
            sharpest = angle;
            where = "hole " + std::to_string(h) + " vertex " + std::to_string(holeVertex);
        }
    }
    if (options.minAngleDeg - 1e-6 > sharpest) {
        mesh.message = "input corner angle " + formatAngle(sharpest) + " deg at " + where +
                       " is below min_angle_deg " + formatAngle(options.minAngleDeg) +
                       "; Ruppert cannot refine an angle fixed by the input geometry (reduce min_angle_deg or fix the corner)";
        return mesh;
    }

    std::vector<Point2>& points = mesh.points;
    std::vector<Segment> segments;
    addLoop(domain.outer, points, segments);
    for (const std::vector<Point2>& hole : domain.holes) addLoop(hole, points, segments);
    points.insert(points.end(), domain.interior.begin(), domain.interior.end());

    const double bound = (1 + 1e-9) * (1 / (2 * std::sin(options.minAngleDeg * kPi / 180)));

    for (;;) {
        const int64_t encroached = firstVertexEncroachedSegment(points, segments);
        if (encroached >= 0) {
            splitSegment(points, segments, static_cast<size_t>(encroached));
        } else {
            const std::vector<Triangle> triangles = literalDelaunayTriangulate(points);
            if (triangles.empty()) {
                mesh.ok = true;
                return mesh;
            }
            bool found = false;
            Point2 centre;
            for (const Triangle& t : triangles) {
                const Point2& a = points[t.v[0]];
                const Point2& b = points[t.v[1]];
                const Point2& c = points[t.v[2]];
                if (!triangleInDomain(a, b, c, domain)) continue;
                if (isBadTriangle(a, b, c, bound, options, centre)) {
                    found = true;
                    break;
                }
            }
            if (!found) {
                for (const Triangle& t : triangles) {
                    if (triangleInDomain(points[t.v[0]], points[t.v[1]], points[t.v[2]], domain)) {
                        mesh.triangles.push_back(t);
                    }
                }
                mesh.ok = true;
                return mesh;
            }
            const int64_t hit = firstSegmentEncroachedBy(centre, points, segments);
            if (hit >= 0) {
                splitSegment(points, segments, static_cast<size_t>(hit));
            } else {
                for (const Point2& p : points) {
                    if (samePoint(p, centre)) return mesh;
                }
                points.push_back(centre);
            }
        }
        mesh.steinerCount += 1;
        if (mesh.steinerCount > options.maxSteinerPoints) return mesh;
    }
}

}  // namespace reference
