#include "mesh2d/quality_refine.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <queue>
#include <utility>

#include "mesh2d/domain_index.hpp"
#include "mesh2d/tri_engine.hpp"

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

bool pointIsSafe(const Point2& p) { return exactSafeCoordinate(p.x) && exactSafeCoordinate(p.y); }

// ---------------------------------------------------------------------------
// The uniform grid of the refinement: points by cell, and segments by the cells of the box
// around their diametral circle. Coordinates outside the grid clamp to its border cells
// on both sides, which keeps every query conservative.

struct EncroachGrid {
    double x0 = 0, y0 = 0, inv = 1;
    int64_t nx = 1, ny = 1;
    int64_t capacity = 0;               ///< point count beyond which the grid is rebuilt
    std::vector<int32_t> pointHead;     ///< per cell
    std::vector<int32_t> pointNext;     ///< per point
    std::vector<int32_t> segmentHead;   ///< per cell: first entry
    std::vector<int32_t> entrySegment;  ///< per entry: segment position (the segment may
    std::vector<int32_t> entryNext;     ///< have been split since: callers test it anew)
    std::vector<int32_t> wide;          ///< segments whose box spans too many cells
};

constexpr int64_t kWideCells = 256;

int64_t axisCell(double v, double origin, double inv, int64_t count) {
    const double c = (v - origin) * inv;
    if (!(c >= 0)) return 0;
    if (c >= static_cast<double>(count - 1)) return count - 1;
    return static_cast<int64_t>(c);
}

int64_t cellOf(const EncroachGrid& g, const Point2& p) {
    return axisCell(p.y, g.y0, g.inv, g.ny) * g.nx + axisCell(p.x, g.x0, g.inv, g.nx);
}

/// The box of points that can pass the encroachment test of segment ab: the diametral
/// circle widened by a relative margin far above the test's rounding (a few units in the
/// last place of the radius) and an absolute one above the rounding of the midpoint.
struct Box {
    double x0, y0, x1, y1;
};

Box circleBox(const Point2& a, const Point2& b) {
    const double mx = (a.x + b.x) * 0.5, my = (a.y + b.y) * 0.5;
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double r = 0.5 * std::sqrt(dx * dx + dy * dy);
    const double R = r * (1 + 1e-9) + 1e-15 * (std::fabs(a.x) + std::fabs(a.y) + std::fabs(b.x) + std::fabs(b.y));
    return Box{mx - R, my - R, mx + R, my + R};
}

void gridAddPoint(EncroachGrid& g, const Point2& p, int32_t k) {
    if (static_cast<int32_t>(g.pointNext.size()) <= k) g.pointNext.resize(static_cast<size_t>(k) + 1, -1);
    const int64_t c = cellOf(g, p);
    g.pointNext[k] = g.pointHead[c];
    g.pointHead[c] = k;
}

void gridAddSegment(EncroachGrid& g, const std::vector<Point2>& points, const Segment& s, int32_t position) {
    const Box box = circleBox(points[s.v[0]], points[s.v[1]]);
    const int64_t cx0 = axisCell(box.x0, g.x0, g.inv, g.nx), cx1 = axisCell(box.x1, g.x0, g.inv, g.nx);
    const int64_t cy0 = axisCell(box.y0, g.y0, g.inv, g.ny), cy1 = axisCell(box.y1, g.y0, g.inv, g.ny);
    if ((cx1 - cx0 + 1) * (cy1 - cy0 + 1) > kWideCells) {
        g.wide.push_back(position);
        return;
    }
    for (int64_t cy = cy0; cy <= cy1; ++cy) {
        for (int64_t cx = cx0; cx <= cx1; ++cx) {
            const int64_t c = cy * g.nx + cx;
            g.entrySegment.push_back(position);
            g.entryNext.push_back(g.segmentHead[c]);
            g.segmentHead[c] = static_cast<int32_t>(g.entrySegment.size() - 1);
        }
    }
}

/// About one cell per point over the points' bounding box.
void gridBuild(EncroachGrid& g, const std::vector<Point2>& points, const std::vector<Segment>& segments) {
    double minx = points[0].x, maxx = minx, miny = points[0].y, maxy = miny;
    for (const Point2& p : points) {
        minx = std::min(minx, p.x);
        maxx = std::max(maxx, p.x);
        miny = std::min(miny, p.y);
        maxy = std::max(maxy, p.y);
    }
    const int64_t cells = std::min<int64_t>(std::max<int64_t>(64, static_cast<int64_t>(points.size())), int64_t{1} << 24);
    const double w = maxx - minx, h = maxy - miny;
    double s = (w > 0 && h > 0) ? std::sqrt(w * h / static_cast<double>(cells)) : std::max(w, h) / static_cast<double>(cells);
    if (!(s > 0) || !std::isfinite(1 / s)) s = 1;
    g.x0 = minx;
    g.y0 = miny;
    g.inv = 1 / s;
    g.nx = std::min<int64_t>(cells, static_cast<int64_t>(std::floor(w / s)) + 1);
    g.ny = std::min<int64_t>(cells, static_cast<int64_t>(std::floor(h / s)) + 1);
    if (g.nx * g.ny > 4 * cells) g.ny = std::max<int64_t>(1, 4 * cells / g.nx);
    g.capacity = 4 * cells;
    g.pointHead.assign(static_cast<size_t>(g.nx * g.ny), -1);
    g.pointNext.assign(points.size(), -1);
    g.segmentHead.assign(static_cast<size_t>(g.nx * g.ny), -1);
    g.entrySegment.clear();
    g.entryNext.clear();
    g.wide.clear();
    for (size_t k = 0; k < points.size(); ++k) gridAddPoint(g, points[k], static_cast<int32_t>(k));
    for (size_t s2 = 0; s2 < segments.size(); ++s2) gridAddSegment(g, points, segments[s2], static_cast<int32_t>(s2));
}

/// Whether some point other than its ends lies strictly inside the diametral circle of s.
bool segmentIsEncroached(const EncroachGrid& g, const std::vector<Point2>& points, const Segment& s) {
    const int64_t a = s.v[0], b = s.v[1];
    const Point2& pa = points[a];
    const Point2& pb = points[b];
    const Box box = circleBox(pa, pb);
    const int64_t cx0 = axisCell(box.x0, g.x0, g.inv, g.nx), cx1 = axisCell(box.x1, g.x0, g.inv, g.nx);
    const int64_t cy0 = axisCell(box.y0, g.y0, g.inv, g.ny), cy1 = axisCell(box.y1, g.y0, g.inv, g.ny);
    if ((cx1 - cx0 + 1) * (cy1 - cy0 + 1) > static_cast<int64_t>(points.size())) {
        for (int64_t j = 0; j < static_cast<int64_t>(points.size()); ++j) {
            if (j != a && j != b && encroaches(points[j], pa, pb)) return true;
        }
        return false;
    }
    for (int64_t cy = cy0; cy <= cy1; ++cy) {
        for (int64_t cx = cx0; cx <= cx1; ++cx) {
            for (int32_t j = g.pointHead[cy * g.nx + cx]; j >= 0; j = g.pointNext[j]) {
                if (j != a && j != b && encroaches(points[j], pa, pb)) return true;
            }
        }
    }
    return false;
}

/// Calls f(position) for every segment whose box may hold p (stale entries included).
template <typename F>
void forSegmentsNear(const EncroachGrid& g, const Point2& p, F f) {
    for (const int32_t s : g.wide) f(s);
    for (int32_t e = g.segmentHead[cellOf(g, p)]; e >= 0; e = g.entryNext[e]) f(g.entrySegment[e]);
}

// ---------------------------------------------------------------------------
// The refinement's state between steps.

struct Refinement {
    const RefineOptions& options;
    double bound = 0;
    int64_t pointLimit = 0;
    std::vector<Point2>& points;
    std::vector<Segment> segments;
    TriEngine engine;
    DomainIndex index;
    std::vector<int32_t> scratch;
    /// Every point so far within the range the grid's margins cover.
    bool exact = true;
    int64_t scans = 0;  ///< encroachment questions answered by scanning
    int64_t scanWork = 0;  ///< point-segment pairs charged to the steps made by scanning
    EncroachGrid grid;
    std::vector<uint8_t> encroached;  ///< per segment position
    std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>> encroachedHeap;
    /// Bad in-domain triangles as (creation number, slot). They are found in creation
    /// order (each insertion creates triangles numbered above all others), so the queue
    /// is sorted and its first live entry is the first bad triangle in list order.
    using BadEntry = std::pair<uint32_t, int32_t>;
    std::vector<BadEntry> badQueue;
    size_t badHead = 0;

    Refinement(const RefineOptions& o, std::vector<Point2>& p) : options(o), points(p) {}
};

bool inDomain(Refinement& r, const Point2& a, const Point2& b, const Point2& c) {
    const double third = 1.0 / 3.0;
    const Point2 g{(a.x + b.x + c.x) * third, (a.y + b.y + c.y) * third};
    return domainIndexContains(r.index, g, r.scratch);
}

void considerTriangle(Refinement& r, int32_t slot) {
    if (!triEngineIsReal(r.engine, slot)) return;
    const std::array<int32_t, 3>& t = r.engine.slots[slot].v;
    const Point2& a = r.engine.pts[t[0]];
    const Point2& b = r.engine.pts[t[1]];
    const Point2& c = r.engine.pts[t[2]];
    Point2 centre;
    if (isBadTriangle(a, b, c, r.bound, r.options, centre) && inDomain(r, a, b, c)) {
        r.badQueue.push_back(Refinement::BadEntry{r.engine.slots[slot].order, slot});
    }
}

void considerAllTriangles(Refinement& r) {
    r.badQueue.clear();
    r.badHead = 0;
    for (const int32_t s : triEngineRealSlots(r.engine)) considerTriangle(r, s);
}

/// The live bad in-domain triangle created first, or -1.
int32_t firstBadTriangle(Refinement& r) {
    while (r.badHead < r.badQueue.size()) {
        const Refinement::BadEntry& front = r.badQueue[r.badHead];
        if (r.engine.slots[front.second].order == front.first) {
            if (r.badHead > 4096 && 2 * r.badHead > r.badQueue.size()) {
                r.badQueue.erase(r.badQueue.begin(), r.badQueue.begin() + static_cast<std::ptrdiff_t>(r.badHead));
                r.badHead = 0;
            }
            return r.badQueue[r.badHead].second;
        }
        r.badHead += 1;
    }
    return -1;
}

void markEncroached(Refinement& r, int64_t s) {
    if (r.encroached[s]) return;
    r.encroached[s] = 1;
    r.encroachedHeap.push(s);
}

void setSegmentState(Refinement& r, int64_t s) {
    r.encroached[s] = 0;
    if (segmentIsEncroached(r.grid, r.points, r.segments[s])) markEncroached(r, s);
}

/// The first segment in list order with a point strictly inside its diametral circle.
int64_t firstVertexEncroached(Refinement& r) {
    if (!r.exact) {
        r.scans += 1;
        return firstVertexEncroachedSegment(r.points, r.segments);
    }
    while (!r.encroachedHeap.empty()) {
        const int64_t s = r.encroachedHeap.top();
        if (r.encroached[s]) return s;
        r.encroachedHeap.pop();
    }
    return -1;
}

/// The first segment in list order whose diametral circle holds p strictly inside.
int64_t firstSegmentEncroached(Refinement& r, const Point2& p) {
    if (!r.exact) {
        r.scans += 1;
        return firstSegmentEncroachedBy(p, r.points, r.segments);
    }
    int64_t best = -1;
    forSegmentsNear(r.grid, p, [&](int64_t s) {
        if (best >= 0 && s >= best) return;
        if (encroaches(p, r.points[r.segments[s].v[0]], r.points[r.segments[s].v[1]])) best = s;
    });
    return best;
}

/// Brings the engine, the bad triangles and the grid up to date with the last point (k),
/// the segments at positions `changed` having been created or split.
void afterPointAdded(Refinement& r, int32_t hint, std::initializer_list<int64_t> changed) {
    const int64_t k = static_cast<int64_t>(r.points.size()) - 1;
    triEngineAppend(r.engine, r.points, hint);
    if (r.engine.rebuilt) {
        considerAllTriangles(r);
    } else {
        for (const int32_t s : r.engine.created) considerTriangle(r, s);
    }
    if (r.exact && !pointIsSafe(r.points[k])) r.exact = false;
    if (!r.exact) return;

    if (static_cast<int64_t>(r.points.size()) > r.grid.capacity) {
        gridBuild(r.grid, r.points, r.segments);
    } else {
        gridAddPoint(r.grid, r.points[k], static_cast<int32_t>(k));
        for (const int64_t s : changed) gridAddSegment(r.grid, r.points, r.segments[s], static_cast<int32_t>(s));
    }
    r.encroached.resize(r.segments.size(), 0);
    for (const int64_t s : changed) setSegmentState(r, s);
    const Point2 p = r.points[k];
    forSegmentsNear(r.grid, p, [&](int64_t s) {
        if (r.encroached[s]) return;
        const int64_t a = r.segments[s].v[0], b = r.segments[s].v[1];
        if (k != a && k != b && encroaches(p, r.points[a], r.points[b])) markEncroached(r, s);
    });
}

void splitSegmentAt(Refinement& r, int64_t s) {
    const int64_t a = r.segments[s].v[0];
    const int32_t hint = r.engine.scanMode ? -1 : r.engine.vertexTri[a + 3];
    splitSegment(r.points, r.segments, static_cast<size_t>(s));
    afterPointAdded(r, hint, {s, static_cast<int64_t>(r.segments.size()) - 1});
}

/// The insertion loop: one split or one circumcentre per step until nothing is encroached
/// and nothing is bad (ok), the budget is exceeded or a centre repeats a point.
void runRefinement(Refinement& r, RefinedMesh& mesh) {
    const RefineOptions& options = r.options;
    for (;;) {
        if (!r.exact) {
            r.scanWork += static_cast<int64_t>(r.points.size()) * static_cast<int64_t>(r.segments.size() + 1);
            if (r.scanWork > kMaxPlanarScanWork) {
                mesh.message = planarScanWorkMessage();
                return;
            }
        }
        // The point limit applies only where the step would add a point and the budget
        // would let the run go on.
        const bool atLimit = static_cast<int64_t>(r.points.size()) >= r.pointLimit &&
                             int64_t{options.maxSteinerPoints} - mesh.steinerCount >= 1;
        const int64_t encroached = firstVertexEncroached(r);
        if (encroached >= 0) {
            if (atLimit) {
                mesh.message = planarPointLimitMessage(r.pointLimit);
                return;
            }
            splitSegmentAt(r, encroached);
        } else {
            if (r.engine.realCount == 0) {
                mesh.ok = true;
                return;
            }
            const int32_t bad = firstBadTriangle(r);
            if (bad < 0) {
                const std::vector<int32_t> slots = triEngineRealSlots(r.engine);
                mesh.triangles.reserve(slots.size());
                for (const int32_t s : slots) {
                    const std::array<int32_t, 3>& t = r.engine.slots[s].v;
                    if (inDomain(r, r.engine.pts[t[0]], r.engine.pts[t[1]], r.engine.pts[t[2]])) {
                        mesh.triangles.push_back(Triangle{{int64_t{t[0]} - 3, int64_t{t[1]} - 3, int64_t{t[2]} - 3}});
                    }
                }
                mesh.ok = true;
                return;
            }
            const std::array<int32_t, 3>& t = r.engine.slots[bad].v;
            Point2 centre;
            isBadTriangle(r.engine.pts[t[0]], r.engine.pts[t[1]], r.engine.pts[t[2]], r.bound, options, centre);
            const int64_t hit = firstSegmentEncroached(r, centre);
            if (hit >= 0) {
                if (atLimit) {
                    mesh.message = planarPointLimitMessage(r.pointLimit);
                    return;
                }
                splitSegmentAt(r, hit);
            } else {
                // A centre that rounds onto an existing point changes no triangle and no
                // segment, so every later step would find and append it again until the
                // budget runs out.
                if (triEngineHasPointAt(r.engine, centre, bad)) return;
                if (atLimit) {
                    mesh.message = planarPointLimitMessage(r.pointLimit);
                    return;
                }
                r.points.push_back(centre);
                afterPointAdded(r, bad, {});
            }
        }
        mesh.steinerCount += 1;
        if (mesh.steinerCount > options.maxSteinerPoints) return;
    }
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

std::string planarScanWorkMessage() {
    return "refinement stopped: it reached points nearer zero than 2^-200, outside exact arithmetic, and ran past "
           "its limit of 2^22 scanned pairs there (a loop vertex on another loop's segment, or loops overlapping "
           "along a line, make refinement chase a point; fix the boundary)";
}

std::string planarPointLimitMessage(int64_t limit) {
    return "refinement stopped at its limit of " + std::to_string(limit) +
           " points: the mesh asked for is too fine for the region (raise max_area or target_size)";
}

bool inputCornerTooSharp(const PlanarDomain& domain, const RefineOptions& options, std::string& message) {
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
    if (!(options.minAngleDeg - 1e-6 > sharpest)) return false;
    message = "input corner angle " + formatAngle(sharpest) + " deg at " + where + " is below min_angle_deg " +
              formatAngle(options.minAngleDeg) +
              "; Ruppert cannot refine an angle fixed by the input geometry (reduce min_angle_deg or fix the corner)";
    return true;
}

RefinedMesh refineDomain(const PlanarDomain& domain, const RefineOptions& options) {
    RefinedMesh mesh;
    if (domain.outer.size() < 3) return mesh;
    if (inputCornerTooSharp(domain, options, mesh.message)) return mesh;
    // Crossing loops: refinement would chase the crossing point until the budget runs out.
    if (domainLoopsCross(domain)) return mesh;
    return refineRuppert(domain, options);
}

RefinedMesh refineRuppert(const PlanarDomain& domain, const RefineOptions& options) {
    return refineRuppertWithinPoints(domain, options, kMaxPlanarPoints);
}

RefinedMesh refineRuppertWithinPoints(const PlanarDomain& domain, const RefineOptions& options, int64_t pointLimit) {
    RefinedMesh mesh;
    if (domain.outer.size() < 3) return mesh;

    // No refinement can improve an angle that the input itself fixes.
    if (inputCornerTooSharp(domain, options, mesh.message)) return mesh;

    Refinement r(options, mesh.points);
    addLoop(domain.outer, r.points, r.segments);
    for (const std::vector<Point2>& hole : domain.holes) addLoop(hole, r.points, r.segments);
    r.points.insert(r.points.end(), domain.interior.begin(), domain.interior.end());

    // The circumradius-to-shortest-edge ratio that corresponds to the minimum angle.
    r.pointLimit = pointLimit;
    r.bound = (1 + 1e-9) * (1 / (2 * std::sin(options.minAngleDeg * kPi / 180)));
    r.index = buildDomainIndex(domain);
    triEngineBuild(r.engine, r.points);
    considerAllTriangles(r);
    for (const Point2& p : r.points) {
        if (!pointIsSafe(p)) r.exact = false;
    }
    if (r.exact) {
        gridBuild(r.grid, r.points, r.segments);
        r.encroached.assign(r.segments.size(), 0);
        for (size_t s = 0; s < r.segments.size(); ++s) setSegmentState(r, static_cast<int64_t>(s));
    }

    runRefinement(r, mesh);
    mesh.fallbacks = r.engine.fallbacks + r.scans;
    return mesh;
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
    const RefinedMesh refined = refineDomain(input.domain, options);
    if (!refined.ok) {
        mesh.message = refined.message;
        return mesh;
    }
    finishAreaMesh(input, refined.points, refined.triangles, props, mesh);
    return mesh;
}
