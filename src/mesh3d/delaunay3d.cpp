#include "mesh3d/delaunay3d.hpp"

#include <algorithm>
#include <map>
#include <set>

#include "geom/predicates.hpp"

namespace {

using FaceKey = std::array<int64_t, 3>;

/// The rotation of (a, b, c) that starts with its smallest index; a rotation keeps the
/// orientation, so (a, b, c) and (a, c, b) get different keys.
FaceKey faceKey(int64_t a, int64_t b, int64_t c) {
    if (a < b && a < c) return {a, b, c};
    if (b < c) return {b, c, a};
    return {c, a, b};
}

bool sameCoordinates(const Point3& p, const Point3& q) {
    return p.x == q.x && p.y == q.y && p.z == q.z;
}

/// Fewer than four points, no spanning triple, or every point in the plane of the triple.
bool isDegenerate(const std::vector<Point3>& input) {
    const int64_t n = static_cast<int64_t>(input.size());
    if (n < 4) return true;
    const SpanningTriple triple = findSpanningTriple(input);
    if (!triple.found) return true;
    for (int64_t i = 0; i < n; ++i) {
        if (orient3d(input[triple.i0], input[triple.i1], input[triple.i2], input[i]) != 0) return false;
    }
    return true;
}

void boundingBox(const std::vector<Point3>& input, Point3& lo, Point3& hi) {
    lo = input[0];
    hi = input[0];
    for (const Point3& p : input) {
        if (p.x < lo.x) lo.x = p.x;
        if (p.y < lo.y) lo.y = p.y;
        if (p.z < lo.z) lo.z = p.z;
        if (p.x > hi.x) hi.x = p.x;
        if (p.y > hi.y) hi.y = p.y;
        if (p.z > hi.z) hi.z = p.z;
    }
}

/// Four alternate corners of the cube of half-side 20e about the centre of the box, e
/// being its largest extent (1 when that is not positive).
std::array<Point3, 4> superCorners(const Point3& lo, const Point3& hi) {
    const Point3 c{(lo.x + hi.x) * 0.5, (lo.y + hi.y) * 0.5, (lo.z + hi.z) * 0.5};
    const double dx = hi.x - lo.x;
    const double dy = hi.y - lo.y;
    const double dz = hi.z - lo.z;
    double e = dx;
    if (dy > e) e = dy;
    if (dz > e) e = dz;
    if (!(e > 0)) e = 1.0;
    const double m = 20.0 * e;
    return {Point3{c.x - m, c.y - m, c.z - m}, Point3{c.x + m, c.y + m, c.z - m}, Point3{c.x + m, c.y - m, c.z + m},
            Point3{c.x - m, c.y + m, c.z + m}};
}

bool isRealCell(const std::array<int32_t, 4>& c) { return c[0] >= 4 && c[1] >= 4 && c[2] >= 4 && c[3] >= 4; }

/// Empties the engine but keeps its fallback count and scratch space.
void resetEngine(TetEngine& e) {
    e.pts.clear();
    e.cell.clear();
    e.next.clear();
    e.alive.clear();
    e.vertexCell.clear();
    e.stamp.clear();
    e.stampValue = 0;
    e.liveCells = 0;
    e.realCells = 0;
    e.degenerate = true;
    e.lastCell = -1;
    e.rebuilt = true;
    e.killed.clear();
    e.created.clear();
}

/// Points, bounding box and super corners for the points; false when they are degenerate.
bool startEngine(TetEngine& e, const std::vector<Point3>& points) {
    resetEngine(e);
    if (points.empty()) return false;
    boundingBox(points, e.lo, e.hi);
    const std::array<Point3, 4> corners = superCorners(e.lo, e.hi);
    e.pts.reserve(points.size() + 4);
    e.pts.assign(corners.begin(), corners.end());
    e.pts.insert(e.pts.end(), points.begin(), points.end());
    e.vertexCell.assign(e.pts.size(), -1);
    if (isDegenerate(points)) return false;
    e.degenerate = false;
    return true;
}

int32_t addCell(TetEngine& e, const std::array<int32_t, 4>& v) {
    const int32_t slot = static_cast<int32_t>(e.cell.size());
    e.cell.push_back(v);
    e.next.push_back({-1, -1, -1, -1});
    e.alive.push_back(1);
    ++e.liveCells;
    if (isRealCell(v)) ++e.realCells;
    for (int32_t id : v) e.vertexCell[id] = slot;
    return slot;
}

/// Rebuilds the engine from a complete cell list of the plain insertion (super corners
/// numbered n..n+3), linking neighbours by their shared faces.
void loadScanCells(TetEngine& e, const std::vector<Point3>& points, const std::vector<TetCell>& cells) {
    if (!startEngine(e, points) || cells.empty()) {
        e.degenerate = true;
        return;
    }
    const int64_t n = static_cast<int64_t>(points.size());
    std::map<FaceKey, int32_t> faces;
    for (const TetCell& t : cells) {
        std::array<int32_t, 4> v{};
        for (int k = 0; k < 4; ++k) v[k] = static_cast<int32_t>(t.v[k] < n ? t.v[k] + 4 : t.v[k] - n);
        const int32_t slot = addCell(e, v);
        for (int k = 0; k < 4; ++k) {
            const int* f = kTetFaces[k];
            faces[faceKey(v[f[0]], v[f[1]], v[f[2]])] = slot * 4 + k;
        }
    }
    for (int32_t slot = 0; slot < static_cast<int32_t>(e.cell.size()); ++slot) {
        const auto& v = e.cell[slot];
        for (int k = 0; k < 4; ++k) {
            const int* f = kTetFaces[k];
            const auto found = faces.find(faceKey(v[f[0]], v[f[2]], v[f[1]]));
            if (found != faces.end()) e.next[slot][k] = found->second;
        }
    }
    e.lastCell = static_cast<int32_t>(e.cell.size()) - 1;
}

void fallBackToScan(TetEngine& e, const std::vector<Point3>& points) {
    ++e.fallbacks;
    loadScanCells(e, points, tetrahedralizeByScan(points));
}

int32_t someLiveCell(const TetEngine& e, int32_t hint) {
    const int32_t count = static_cast<int32_t>(e.cell.size());
    if (hint >= 0 && hint < count && e.alive[hint]) return hint;
    if (e.lastCell >= 0 && e.lastCell < count && e.alive[e.lastCell]) return e.lastCell;
    for (int32_t s = count - 1; s >= 0; --s) {
        if (e.alive[s]) return s;
    }
    return -1;
}

uint64_t edgeKeyOf(int32_t a, int32_t b) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(a)) << 32) | static_cast<uint32_t>(b);
}

/// Inserts vertex `id` (already in pts). False, with nothing changed, when a check fails.
bool insertVertex(TetEngine& e, int32_t id, int32_t hint) {
    const Point3& p = e.pts[id];
    int32_t c = someLiveCell(e, hint);
    if (c < 0) return false;

    // Visibility walk: leave through a face that has p strictly on its outer side.
    int from = -1;
    const int64_t stepLimit = e.liveCells + 64;
    for (int64_t steps = 0;; ++steps) {
        if (steps > stepLimit) return false;
        const auto& v = e.cell[c];
        int exit = -1;
        for (int k = 0; k < 4; ++k) {
            if (k == from) continue;
            const int* f = kTetFaces[k];
            if (orient3d(e.pts[v[f[0]]], e.pts[v[f[1]]], e.pts[v[f[2]]], p) < 0) {
                exit = k;
                break;
            }
        }
        if (exit < 0) break;
        const int32_t ref = e.next[c][exit];
        if (ref < 0) return false;  // outside the super-tetrahedron
        c = ref >> 2;
        from = ref & 3;
    }

    const auto& holder = e.cell[c];
    if (!(insphere(e.pts[holder[0]], e.pts[holder[1]], e.pts[holder[2]], e.pts[holder[3]], p) > 0)) {
        // Only a repeated point lies in a cell without being inside its circumsphere; it
        // is strictly inside no circumsphere at all and is left out.
        for (int32_t v : holder) {
            if (sameCoordinates(e.pts[v], p)) return true;
        }
        return false;
    }

    // The cavity, over face adjacency.
    if (e.stamp.size() < e.cell.size()) e.stamp.resize(e.cell.size() + e.cell.size() / 2 + 64, 0);
    if (e.stampValue > 0xFFFFFFF0u) {
        std::fill(e.stamp.begin(), e.stamp.end(), 0u);
        e.stampValue = 0;
    }
    e.stampValue += 2;
    const uint32_t in = e.stampValue;
    const uint32_t out = e.stampValue + 1;
    e.cavity.clear();
    e.stack.clear();
    e.cavity.push_back(c);
    e.stack.push_back(c);
    e.stamp[c] = in;
    while (!e.stack.empty()) {
        const int32_t t = e.stack.back();
        e.stack.pop_back();
        for (int k = 0; k < 4; ++k) {
            const int32_t ref = e.next[t][k];
            if (ref < 0) continue;
            const int32_t u = ref >> 2;
            if (e.stamp[u] == in || e.stamp[u] == out) continue;
            const auto& w = e.cell[u];
            if (insphere(e.pts[w[0]], e.pts[w[1]], e.pts[w[2]], e.pts[w[3]], p) > 0) {
                e.stamp[u] = in;
                e.cavity.push_back(u);
                e.stack.push_back(u);
            } else {
                e.stamp[u] = out;
            }
        }
    }
    std::sort(e.cavity.begin(), e.cavity.end());

    // Boundary faces in the order of the cavity cells and their faces; each must be seen
    // from p strictly on its inner side.
    e.boundary.clear();
    for (int32_t t : e.cavity) {
        const auto& v = e.cell[t];
        for (int k = 0; k < 4; ++k) {
            const int32_t ref = e.next[t][k];
            if (ref >= 0 && e.stamp[ref >> 2] == in) continue;
            const int* f = kTetFaces[k];
            const int32_t a = v[f[0]];
            const int32_t b = v[f[1]];
            const int32_t d = v[f[2]];
            if (!(orient3d(e.pts[a], e.pts[b], e.pts[d], p) > 0)) return false;
            e.boundary.push_back(TetEngine::BoundaryFace{a, b, d, ref});
        }
    }

    // The boundary must be a closed sphere holding every corner of the cavity: F = 2V - 4,
    // and every directed edge once, with its reverse.
    if (e.vertexStamp.size() < e.pts.size()) e.vertexStamp.resize(e.pts.size() + e.pts.size() / 2 + 16, 0);
    int64_t cavityCorners = 0;
    for (int32_t t : e.cavity) {
        for (int32_t v : e.cell[t]) {
            if (e.vertexStamp[v] != in) {
                e.vertexStamp[v] = in;
                ++cavityCorners;
            }
        }
    }
    int64_t boundaryCorners = 0;
    for (const auto& bf : e.boundary) {
        for (int32_t v : {bf.a, bf.b, bf.c}) {
            if (e.vertexStamp[v] == in) {
                e.vertexStamp[v] = out;
                ++boundaryCorners;
            }
        }
    }
    const int64_t faceCount = static_cast<int64_t>(e.boundary.size());
    if (boundaryCorners != cavityCorners || faceCount != 2 * boundaryCorners - 4) return false;

    size_t capacity = 16;
    while (capacity < static_cast<size_t>(faceCount) * 6) capacity *= 2;
    const uint64_t emptyKey = ~uint64_t{0};
    e.edgeKey.assign(capacity, emptyKey);
    e.edgeRef.assign(capacity, -1);
    const size_t mask = capacity - 1;
    auto slotOf = [&](uint64_t key) {
        size_t h = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & mask;
        while (e.edgeKey[h] != emptyKey && e.edgeKey[h] != key) h = (h + 1) & mask;
        return h;
    };
    for (int32_t j = 0; j < static_cast<int32_t>(faceCount); ++j) {
        const auto& bf = e.boundary[j];
        const uint64_t keys[3] = {edgeKeyOf(bf.a, bf.b), edgeKeyOf(bf.b, bf.c), edgeKeyOf(bf.c, bf.a)};
        const int faceOf[3] = {2, 0, 1};
        for (int q = 0; q < 3; ++q) {
            const size_t h = slotOf(keys[q]);
            if (e.edgeKey[h] == keys[q]) return false;  // a directed edge twice
            e.edgeKey[h] = keys[q];
            e.edgeRef[h] = j * 4 + faceOf[q];
        }
    }
    for (const auto& bf : e.boundary) {
        const uint64_t reversed[3] = {edgeKeyOf(bf.b, bf.a), edgeKeyOf(bf.c, bf.b), edgeKeyOf(bf.a, bf.c)};
        for (uint64_t key : reversed) {
            if (e.edgeKey[slotOf(key)] != key) return false;
        }
    }

    // Commit: new cells in boundary order, linked to the cells beyond and to each other.
    const int32_t base = static_cast<int32_t>(e.cell.size());
    for (int32_t t : e.cavity) {
        e.alive[t] = 0;
        --e.liveCells;
        if (isRealCell(e.cell[t])) --e.realCells;
        e.killed.push_back(t);
    }
    for (int32_t j = 0; j < static_cast<int32_t>(faceCount); ++j) {
        const auto& bf = e.boundary[j];
        const int32_t slot = addCell(e, {bf.a, bf.b, bf.c, id});
        e.next[slot][3] = bf.outside;
        if (bf.outside >= 0) e.next[bf.outside >> 2][bf.outside & 3] = slot * 4 + 3;
        e.created.push_back(slot);
    }
    for (int32_t j = 0; j < static_cast<int32_t>(faceCount); ++j) {
        const auto& bf = e.boundary[j];
        const int32_t slot = base + j;
        // Face 0 = (b, p, c) holds the edge b-c, face 1 = (a, c, p) c-a, face 2 = (a, p, b) a-b;
        // the neighbour lists the same edge reversed.
        const int32_t r0 = e.edgeRef[slotOf(edgeKeyOf(bf.c, bf.b))];
        const int32_t r1 = e.edgeRef[slotOf(edgeKeyOf(bf.a, bf.c))];
        const int32_t r2 = e.edgeRef[slotOf(edgeKeyOf(bf.b, bf.a))];
        e.next[slot][0] = (base + (r0 >> 2)) * 4 + (r0 & 3);
        e.next[slot][1] = (base + (r1 >> 2)) * 4 + (r1 & 3);
        e.next[slot][2] = (base + (r2 >> 2)) * 4 + (r2 & 3);
    }
    e.lastCell = static_cast<int32_t>(e.cell.size()) - 1;
    return true;
}

bool outsideBox(const Point3& p, const Point3& lo, const Point3& hi) {
    return p.x < lo.x || p.y < lo.y || p.z < lo.z || p.x > hi.x || p.y > hi.y || p.z > hi.z;
}

}  // namespace

SpanningTriple findSpanningTriple(const std::vector<Point3>& points) {
    SpanningTriple triple;
    const int64_t n = static_cast<int64_t>(points.size());
    if (n < 2) return triple;
    const Point3& p0 = points[0];
    int64_t i1 = 1;
    while (i1 < n && sameCoordinates(points[i1], p0)) ++i1;
    if (i1 == n) return triple;
    const Point3 e{points[i1].x - p0.x, points[i1].y - p0.y, points[i1].z - p0.z};
    for (int64_t i = i1 + 1; i < n; ++i) {
        const Point3 d{points[i].x - p0.x, points[i].y - p0.y, points[i].z - p0.z};
        const double cx = d.y * e.z - d.z * e.y;
        const double cy = d.z * e.x - d.x * e.z;
        const double cz = d.x * e.y - d.y * e.x;
        // NaN compares unequal, so it counts as a non-zero component.
        if (cx != 0.0 || cy != 0.0 || cz != 0.0) {
            triple.found = true;
            triple.i1 = i1;
            triple.i2 = i;
            return triple;
        }
    }
    return triple;
}

TetCell orientTet(int64_t i, int64_t j, int64_t k, int64_t l, const std::vector<Point3>& points) {
    if (orient3d(points[i], points[j], points[k], points[l]) < 0) return TetCell{{i, k, j, l}};
    return TetCell{{i, j, k, l}};
}

std::vector<TetCell> tetrahedralizeByScan(const std::vector<Point3>& input) {
    const int64_t n = static_cast<int64_t>(input.size());
    if (isDegenerate(input)) return {};
    Point3 lo;
    Point3 hi;
    boundingBox(input, lo, hi);
    const std::array<Point3, 4> corners = superCorners(lo, hi);
    std::vector<Point3> p;
    p.reserve(input.size() + 4);
    p.assign(input.begin(), input.end());
    p.insert(p.end(), corners.begin(), corners.end());

    std::vector<TetCell> cells{orientTet(n, n + 1, n + 2, n + 3, p)};
    std::vector<TetCell> cavity;
    std::vector<TetCell> rest;
    std::set<FaceKey> cavityFaces;
    for (int64_t i = 0; i < n; ++i) {
        const Point3& q = p[i];
        cavity.clear();
        rest.clear();
        for (const TetCell& t : cells) {
            // Strict: a cell whose circumsphere passes through q stays.
            if (insphere(p[t.v[0]], p[t.v[1]], p[t.v[2]], p[t.v[3]], q) > 0) {
                cavity.push_back(t);
            } else {
                rest.push_back(t);
            }
        }
        if (cavity.empty()) continue;  // a repeated point: left out

        cavityFaces.clear();
        for (const TetCell& t : cavity) {
            for (const auto& f : kTetFaces) cavityFaces.insert(faceKey(t.v[f[0]], t.v[f[1]], t.v[f[2]]));
        }
        cells.swap(rest);
        for (const TetCell& t : cavity) {
            for (const auto& f : kTetFaces) {
                const int64_t a = t.v[f[0]];
                const int64_t b = t.v[f[1]];
                const int64_t d = t.v[f[2]];
                // The reversed face belongs to another cavity cell: an inner face.
                if (cavityFaces.count(faceKey(a, d, b)) != 0) continue;
                if (orient3d(p[a], p[b], p[d], q) < 0) {
                    cells.push_back(TetCell{{a, d, b, i}});
                } else {
                    cells.push_back(TetCell{{a, b, d, i}});
                }
            }
        }
    }
    return cells;
}

void tetEngineBuild(TetEngine& e, const std::vector<Point3>& points) {
    if (!startEngine(e, points)) return;
    const int32_t first = (orient3d(e.pts[0], e.pts[1], e.pts[2], e.pts[3]) < 0) ? addCell(e, {0, 2, 1, 3})
                                                                                   : addCell(e, {0, 1, 2, 3});
    e.lastCell = first;
    const int32_t count = static_cast<int32_t>(e.pts.size());
    for (int32_t id = 4; id < count; ++id) {
        if (!insertVertex(e, id, -1)) {
            fallBackToScan(e, points);
            break;
        }
    }
    e.killed.clear();
    e.created.clear();
    e.rebuilt = true;
}

void tetEngineAppend(TetEngine& e, const std::vector<Point3>& points, int32_t hint) {
    e.rebuilt = false;
    e.killed.clear();
    e.created.clear();
    const size_t held = e.pts.size() >= 4 ? e.pts.size() - 4 : 0;
    if (e.degenerate || held == 0) {
        tetEngineBuild(e, points);
        return;
    }
    for (size_t i = held; i < points.size(); ++i) {
        if (outsideBox(points[i], e.lo, e.hi)) {
            // A wider box moves the super-tetrahedron: start again.
            tetEngineBuild(e, points);
            return;
        }
        e.pts.push_back(points[i]);
        e.vertexCell.push_back(-1);
        if (!insertVertex(e, static_cast<int32_t>(i + 4), i == held ? hint : -1)) {
            fallBackToScan(e, points);
            return;
        }
    }
}

std::vector<TetCell> tetEngineCells(const TetEngine& e) {
    std::vector<TetCell> out;
    out.reserve(static_cast<size_t>(e.realCells));
    for (size_t s = 0; s < e.cell.size(); ++s) {
        if (!e.alive[s]) continue;
        const auto& v = e.cell[s];
        if (!isRealCell(v)) continue;
        out.push_back(TetCell{{v[0] - 4, v[1] - 4, v[2] - 4, v[3] - 4}});
    }
    return out;
}

void tetEngineCompact(TetEngine& e, std::vector<int32_t>& remap) {
    const int32_t count = static_cast<int32_t>(e.cell.size());
    remap.assign(count, -1);
    int32_t kept = 0;
    for (int32_t s = 0; s < count; ++s) {
        if (e.alive[s]) remap[s] = kept++;
    }
    for (int32_t s = 0; s < count; ++s) {
        const int32_t to = remap[s];
        if (to < 0) continue;
        e.cell[to] = e.cell[s];
        std::array<int32_t, 4> n = e.next[s];
        for (int32_t& ref : n) {
            if (ref >= 0) ref = remap[ref >> 2] * 4 + (ref & 3);
        }
        e.next[to] = n;
        e.alive[to] = 1;
    }
    e.cell.resize(kept);
    e.next.resize(kept);
    e.alive.resize(kept);
    e.cell.shrink_to_fit();
    e.next.shrink_to_fit();
    e.alive.shrink_to_fit();
    for (int32_t& c : e.vertexCell) {
        if (c >= 0) c = remap[c];
    }
    e.lastCell = e.lastCell >= 0 ? remap[e.lastCell] : -1;
    std::fill(e.stamp.begin(), e.stamp.end(), 0u);
    e.stampValue = 0;
}

std::vector<TetCell> delaunayTetrahedralize(const std::vector<Point3>& points, int64_t& fallbacks) {
    TetEngine engine;
    tetEngineBuild(engine, points);
    fallbacks += engine.fallbacks;
    if (engine.degenerate) return {};
    return tetEngineCells(engine);
}

std::vector<TetCell> delaunayTetrahedralize(const std::vector<Point3>& points) {
    int64_t fallbacks = 0;
    return delaunayTetrahedralize(points, fallbacks);
}
