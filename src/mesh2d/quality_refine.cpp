#include "mesh2d/quality_refine.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kPi = 3.141592653589793;

double distance(const Point2& p, const Point2& q) {
    const double dx = p.x - q.x, dy = p.y - q.y;
    return std::sqrt(dx * dx + dy * dy);
}

/// True when p lies strictly inside the circle with diameter ab.
bool encroaches(const Point2& p, const Point2& a, const Point2& b) {
    const double bx = p.x - b.x, by = p.y - b.y;
    const double ax = p.x - a.x, ay = p.y - a.y;
    return bx * ax + by * ay < 0;
}

bool samePoint(const Point2& p, const Point2& q) { return p.x == q.x && p.y == q.y; }

Point2 midpoint(const Point2& a, const Point2& b) { return Point2{(a.x + b.x) * 0.5, (a.y + b.y) * 0.5}; }

/// The first segment, in list order, with a point strictly inside its diametral circle
/// (the segment's own end points excepted); -1 when none is encroached.
int64_t firstVertexEncroachedSegment(const std::vector<Point2>& points, const std::vector<Segment>& segments) {
    const int64_t n = static_cast<int64_t>(points.size());
    for (size_t s = 0; s < segments.size(); ++s) {
        const int64_t a = segments[s].v[0], b = segments[s].v[1];
        const Point2& pa = points[a];
        const Point2& pb = points[b];
        for (int64_t j = 0; j < n; ++j) {
            if (j != a && j != b && encroaches(points[j], pa, pb)) return static_cast<int64_t>(s);
        }
    }
    return -1;
}

/// The first segment whose diametral circle holds p strictly inside; -1 for none.
int64_t firstSegmentEncroachedBy(const Point2& p, const std::vector<Point2>& points,
                                 const std::vector<Segment>& segments) {
    for (size_t s = 0; s < segments.size(); ++s) {
        if (encroaches(p, points[segments[s].v[0]], points[segments[s].v[1]])) return static_cast<int64_t>(s);
    }
    return -1;
}

/// Tests one triangle against the bounds; fills its circumcentre when it is bad.
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

double minCornerAngle(const std::vector<Point2>& loop, int64_t& index) {
    index = 0;
    double smallest = 360;
    const size_t n = loop.size();
    for (size_t i = 0; i < n; ++i) {
        const Point2& p = loop[i];
        const Point2& prev = loop[(i + n - 1) % n];
        const Point2& next = loop[(i + 1) % n];
        const Point2 a{prev.x - p.x, prev.y - p.y};
        const Point2 b{next.x - p.x, next.y - p.y};
        const double la = std::sqrt(a.x * a.x + a.y * a.y);
        const double lb = std::sqrt(b.x * b.x + b.y * b.y);
        if (la < 1e-12 || lb < 1e-12) continue;
        const double cosine = std::max(-1.0, std::min(1.0, (a.x * b.x + a.y * b.y) / (la * lb)));
        const double angle = std::acos(cosine) * 180 / kPi;
        if (angle < smallest) {
            smallest = angle;
            index = static_cast<int64_t>(i);
        }
    }
    return smallest;
}

std::string formatAngle(double value) {
    const int length = std::snprintf(nullptr, 0, "%f", value);
    if (length <= 0) return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(&text[0], text.size(), "%f", value);
    text.resize(static_cast<size_t>(length));
    const size_t dot = text.find('.');
    if (dot != std::string::npos && text.size() - dot - 1 > 2) text.resize(dot + 3);
    return text;
}

bool circumcenter(const Point2& a, const Point2& b, const Point2& c, Point2& out) {
    const double D = 2 * ((c.y - a.y) * b.x + (b.y - c.y) * a.x + (a.y - b.y) * c.x);
    if (D == 0) return false;
    const double la = a.x * a.x + a.y * a.y;
    const double lb = b.x * b.x + b.y * b.y;
    const double lc = c.x * c.x + c.y * c.y;
    const Point2 centre{((c.y - a.y) * lb + (b.y - c.y) * la + (a.y - b.y) * lc) / D,
                        ((a.x - c.x) * lb + (c.x - b.x) * la + (b.x - a.x) * lc) / D};
    // A centre beyond the double range would poison every later triangulation.
    if (!std::isfinite(centre.x) || !std::isfinite(centre.y)) return false;
    out = centre;
    return true;
}

double sizeAt(const SizingField& field, const Point2& p) {
    double size = field.baseSize;
    for (const SizeSource& source : field.sources) {
        const double wanted = source.size + source.growth * distance(p, Point2{source.x, source.y});
        if (wanted < size) size = wanted;
    }
    return size;
}

void splitSegment(std::vector<Point2>& points, std::vector<Segment>& segments, size_t s) {
    const int64_t a = segments[s].v[0], b = segments[s].v[1];
    const int64_t k = static_cast<int64_t>(points.size());
    points.push_back(midpoint(points[a], points[b]));
    segments[s] = Segment{{a, k}};
    segments.push_back(Segment{{k, b}});
}

RefinedMesh refineRuppert(const PlanarDomain& domain, const RefineOptions& options) {
    RefinedMesh mesh;
    if (domain.outer.size() < 3) return mesh;

    // No refinement can improve an angle that the input itself fixes.
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

    // The circumradius-to-shortest-edge ratio that corresponds to the minimum angle.
    const double bound = (1 + 1e-9) * (1 / (2 * std::sin(options.minAngleDeg * kPi / 180)));

    for (;;) {
        // Encroachment by vertices comes first. It is checked before triangulating since a
        // split leaves that triangulation unused.
        const int64_t encroached = firstVertexEncroachedSegment(points, segments);
        if (encroached >= 0) {
            splitSegment(points, segments, static_cast<size_t>(encroached));
        } else {
            const std::vector<Triangle> triangles = delaunayTriangulate(points);
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
                // A centre that rounds onto an existing point changes no triangle and no
                // segment, so every later step would find and append it again until the
                // budget runs out.
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

AreaMesh meshQualityArea(const std::vector<Point3>& boundary, const std::vector<std::vector<Point3>>& holes,
                         const std::vector<Point3>& interior, const RefineOptions& options,
                         const AreaProps& props) {
    AreaMesh mesh;
    PlanarInput input = preparePlanarInput(boundary, holes, interior);
    mesh.frame = input.frame;
    if (!input.ok) {
        mesh.message = input.message;
        return mesh;
    }
    // Crossing loops: refinement would chase the crossing point until the budget runs out.
    if (domainLoopsCross(input.domain)) return mesh;
    const RefinedMesh refined = refineRuppert(input.domain, options);
    if (!refined.ok) {
        mesh.message = refined.message;
        return mesh;
    }
    finishAreaMesh(input, refined.points, refined.triangles, props, mesh);
    return mesh;
}
