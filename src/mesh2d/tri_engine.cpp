#include "mesh2d/tri_engine.hpp"

#include <algorithm>
#include <cmath>

#include "geom/predicates.hpp"

namespace {

/// Creation numbers stay below this; beyond it the live triangles are renumbered.
constexpr uint32_t kOrderLimit = 0x80000000u;

uint64_t directedKey(int32_t u, int32_t w) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(u)) << 32) | static_cast<uint32_t>(w);
}

bool isRealCorners(const std::array<int32_t, 3>& t) { return t[0] >= 3 && t[1] >= 3 && t[2] >= 3; }

double incircleOf(const TriEngine& e, const std::array<int32_t, 3>& t, const Point2& p) {
    return incircle(e.pts[t[0]], e.pts[t[1]], e.pts[t[2]], p);
}

int32_t allocSlot(TriEngine& e) {
    if (!e.freeSlots.empty()) {
        const int32_t s = e.freeSlots.back();
        e.freeSlots.pop_back();
        return s;
    }
    e.slots.push_back(TriSlot{{{-1, -1, -1}}, {{-1, -1, -1}}, kFreeSlot, 0});
    return static_cast<int32_t>(e.slots.size() - 1);
}

void freeSlot(TriEngine& e, int32_t s) {
    if (isRealCorners(e.slots[s].v)) e.realCount -= 1;
    e.liveCount -= 1;
    e.slots[s].order = kFreeSlot;
    e.freeSlots.push_back(s);
}

/// A fresh pair of stamp values (bad, good) for one insertion; stamps restart on wrap.
uint32_t nextStamps(TriEngine& e) {
    if (e.stampValue > 0xfffffff0u) {
        for (TriSlot& t : e.slots) t.stamp = 0;
        std::fill(e.vertexMark.begin(), e.vertexMark.end(), 0u);
        e.stampValue = 0;
    }
    e.stampValue += 2;
    return e.stampValue - 1;
}

int64_t gridIndex(double v, double origin, double inv, int32_t count) {
    const double c = (v - origin) * inv;
    if (!(c >= 0)) return 0;  // also NaN
    if (c >= static_cast<double>(count - 1)) return count - 1;
    return static_cast<int64_t>(c);
}

int64_t startCellOf(const TriEngine& e, const Point2& p) {
    return gridIndex(p.y, e.gridY0, e.gridInv, e.gridNy) * e.gridNx + gridIndex(p.x, e.gridX0, e.gridInv, e.gridNx);
}

/// A grid of about `inserted` / 2 cells over the bounding box, filled with the vertices
/// inserted so far (later ones win a cell); rebuilt finer as the points grow fourfold.
void buildStartGrid(TriEngine& e, int64_t inserted) {
    const int64_t cells = std::min<int64_t>(std::max<int64_t>(1, inserted / 2), int64_t{1} << 22);
    const double w = e.maxx - e.minx, h = e.maxy - e.miny;
    e.gridX0 = 0;
    e.gridY0 = 0;
    e.gridInv = 1;
    e.gridNx = 1;
    e.gridNy = 1;
    if (std::isfinite(w) && std::isfinite(h) && w >= 0 && h >= 0 && (w > 0 || h > 0)) {
        const double s = (w > 0 && h > 0) ? std::sqrt(w * h / static_cast<double>(cells))
                                          : std::max(w, h) / static_cast<double>(cells);
        if (s > 0 && std::isfinite(1 / s)) {
            const double nx = std::floor(w / s) + 1, ny = std::floor(h / s) + 1;
            e.gridNx = static_cast<int32_t>(std::min(nx, static_cast<double>(cells)));
            e.gridNy = static_cast<int32_t>(std::min(ny, static_cast<double>(cells)));
            if (static_cast<int64_t>(e.gridNx) * e.gridNy > 4 * cells) {
                e.gridNy = static_cast<int32_t>(std::max<int64_t>(1, 4 * cells / e.gridNx));
            }
            e.gridX0 = e.minx;
            e.gridY0 = e.miny;
            e.gridInv = 1 / s;
        }
    }
    e.startCell.assign(static_cast<size_t>(e.gridNx) * static_cast<size_t>(e.gridNy), -1);
    e.gridCapacity = 8 * cells;
    e.inserted = 0;
    for (int32_t id = 3; id < static_cast<int32_t>(e.pts.size()); ++id) {
        if (e.vertexTri[id] >= 0) {
            e.startCell[startCellOf(e, e.pts[id])] = id;
            e.inserted += 1;
        }
    }
}

/// A cell and its neighbours, in the order the walk start looks at them.
constexpr int kRing[9][2] = {{0, 0}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {-1, -1}, {1, -1}, {-1, 1}, {1, 1}};

/// A live slot to start the walk towards p from.
int32_t walkStart(const TriEngine& e, const Point2& p, int32_t hint) {
    if (hint >= 0 && hint < static_cast<int32_t>(e.slots.size()) && e.slots[hint].order != kFreeSlot) return hint;
    const int64_t cx = gridIndex(p.x, e.gridX0, e.gridInv, e.gridNx);
    const int64_t cy = gridIndex(p.y, e.gridY0, e.gridInv, e.gridNy);
    for (const auto& d : kRing) {
        const int64_t x = cx + d[0], y = cy + d[1];
        if (x < 0 || y < 0 || x >= e.gridNx || y >= e.gridNy) continue;
        const int32_t v = e.startCell[y * e.gridNx + x];
        if (v >= 0 && e.vertexTri[v] >= 0) return e.vertexTri[v];
    }
    if (e.lastVertex >= 0 && e.vertexTri[e.lastVertex] >= 0) return e.vertexTri[e.lastVertex];
    return -1;
}

constexpr int32_t kWalkOutside = -1;  ///< p lies beyond the super triangle
constexpr int32_t kWalkFailed = -2;   ///< the walk did not end

/// The slot whose closed triangle holds p, by a walk across edges that p lies strictly
/// behind.
int32_t locate(const TriEngine& e, const Point2& p, int32_t hint) {
    int32_t t = walkStart(e, p, hint);
    if (t < 0) return kWalkFailed;
    int32_t from = -1;
    for (int64_t budget = e.liveCount + 16; budget > 0; --budget) {
        const TriSlot& s = e.slots[t];
        int32_t next = -2;
        for (int k = 0; k < 3; ++k) {
            const int32_t n = s.n[k];
            if (n == from && from >= 0) continue;  // p lies in front of the edge crossed last
            if (orient2d(e.pts[s.v[k]], e.pts[s.v[k == 2 ? 0 : k + 1]], p) < 0) {
                next = n;
                break;
            }
        }
        if (next == -2) return t;
        if (next < 0) return kWalkOutside;
        from = t;
        t = next;
    }
    return kWalkFailed;
}

/// Sorts slots by creation number: in place for a few, else by packed integer keys.
void sortByOrder(TriEngine& e, std::vector<int32_t>& slots) {
    if (slots.size() <= 16) {
        for (size_t i = 1; i < slots.size(); ++i) {
            const int32_t s = slots[i];
            const uint32_t o = e.slots[s].order;
            size_t j = i;
            for (; j > 0 && e.slots[slots[j - 1]].order > o; --j) slots[j] = slots[j - 1];
            slots[j] = s;
        }
        return;
    }
    e.keys.clear();
    for (const int32_t s : slots) e.keys.push_back((static_cast<uint64_t>(e.slots[s].order) << 32) | static_cast<uint32_t>(s));
    std::sort(e.keys.begin(), e.keys.end());
    for (size_t i = 0; i < slots.size(); ++i) slots[i] = static_cast<int32_t>(e.keys[i] & 0xffffffffu);
}

/// The index in `boundary` of the edge that starts at vertex u, or -1.
int32_t edgeStartingAt(const TriEngine& e, int32_t u) {
    for (size_t i = 0; i < e.boundary.size(); ++i) {
        if (e.boundary[i].u == u) return static_cast<int32_t>(i);
    }
    return -1;
}

/// Whether the boundary edges form one cycle: every vertex starts exactly one edge and
/// every end is the start of another.
bool boundaryIsOneCycle(TriEngine& e) {
    const size_t b = e.boundary.size();
    if (b <= 32) {
        for (size_t i = 0; i < b; ++i) {
            for (size_t j = i + 1; j < b; ++j) {
                if (e.boundary[i].u == e.boundary[j].u) return false;
            }
        }
        for (const TriEngine::BoundaryEdge& edge : e.boundary) {
            if (edgeStartingAt(e, edge.w) < 0) return false;
        }
        return true;
    }
    // Many edges: mark the starts in the per-vertex arrays.
    const uint32_t mark = e.stampValue;
    for (size_t i = 0; i < b; ++i) {
        const int32_t u = e.boundary[i].u;
        if (e.vertexMark[u] == mark) return false;
        e.vertexMark[u] = mark;
        e.startOf[u] = static_cast<int32_t>(i);
    }
    for (const TriEngine::BoundaryEdge& edge : e.boundary) {
        if (e.vertexMark[edge.w] != mark) return false;
    }
    return true;
}

/// Insertion through the walk and the adjacency. False, with nothing changed, when a
/// check meets what the reasoning rules out.
bool insertByWalk(TriEngine& e, int32_t id, int32_t hint) {
    const Point2 p = e.pts[id];
    const int32_t t0 = locate(e, p, hint);
    if (t0 < 0) return false;
    if (!(incircleOf(e, e.slots[t0].v, p) > 0)) {
        // Only a repeated point lies in a triangle without lying inside its circle.
        for (int k = 0; k < 3; ++k) {
            const Point2& q = e.pts[e.slots[t0].v[k]];
            if (q.x == p.x && q.y == p.y) return true;
        }
        return false;
    }

    const uint32_t bad = nextStamps(e);
    const uint32_t good = bad + 1;
    e.cavity.clear();
    e.stack.clear();
    e.slots[t0].stamp = bad;
    e.cavity.push_back(t0);
    e.stack.push_back(t0);
    while (!e.stack.empty()) {
        const int32_t c = e.stack.back();
        e.stack.pop_back();
        for (int k = 0; k < 3; ++k) {
            const int32_t n = e.slots[c].n[k];
            if (n < 0) continue;
            TriSlot& ns = e.slots[n];
            if (ns.stamp == bad || ns.stamp == good) continue;
            if (incircleOf(e, ns.v, p) > 0) {
                ns.stamp = bad;
                e.cavity.push_back(n);
                e.stack.push_back(n);
            } else {
                ns.stamp = good;
            }
        }
    }
    sortByOrder(e, e.cavity);

    // The boundary in the scan's order; it must be one cycle that sees p strictly on its
    // inner side of every edge.
    e.boundary.clear();
    for (const int32_t c : e.cavity) {
        const TriSlot& cs = e.slots[c];
        for (int k = 0; k < 3; ++k) {
            const int32_t n = cs.n[k];
            if (n >= 0 && e.slots[n].stamp == bad) continue;
            const int32_t u = cs.v[k], w = cs.v[k == 2 ? 0 : k + 1];
            if (!(orient2d(e.pts[u], e.pts[w], p) > 0)) return false;
            int32_t outerEdge = -1;
            if (n >= 0) {
                const TriSlot& os = e.slots[n];
                for (int j = 0; j < 3; ++j) {
                    if (os.v[j] == w && os.v[j == 2 ? 0 : j + 1] == u) outerEdge = j;
                }
                if (outerEdge < 0) return false;
            }
            e.boundary.push_back(TriEngine::BoundaryEdge{u, w, n, outerEdge, -1});
        }
    }
    if (e.boundary.size() != e.cavity.size() + 2 || !boundaryIsOneCycle(e)) return false;

    for (const int32_t c : e.cavity) freeSlot(e, c);
    for (TriEngine::BoundaryEdge& b : e.boundary) {
        const int32_t s = allocSlot(e);
        TriSlot& ts = e.slots[s];
        ts.v = {{b.u, b.w, id}};
        ts.n = {{b.outer, -1, -1}};
        ts.order = e.nextOrder++;
        if (b.outer >= 0) e.slots[b.outer].n[b.outerEdge] = s;
        b.slot = s;
        e.created.push_back(s);
        e.liveCount += 1;
        if (b.u >= 3 && b.w >= 3) e.realCount += 1;
    }
    const bool small = e.boundary.size() <= 32;  // else startOf was filled by the cycle test
    for (const TriEngine::BoundaryEdge& b : e.boundary) {
        const int32_t next = small ? edgeStartingAt(e, b.w) : e.startOf[b.w];
        const int32_t k = e.boundary[next].slot;
        e.slots[b.slot].n[1] = k;
        e.slots[k].n[2] = b.slot;
        e.vertexTri[b.u] = b.slot;
    }
    e.vertexTri[id] = e.boundary.back().slot;
    return true;
}

/// The plain insertion: every live triangle in creation order is tested, the cavity's
/// boundary is found by the reversed-edge test and new triangles follow the survivors.
void insertByScan(TriEngine& e, int32_t id) {
    const Point2 p = e.pts[id];
    e.fallbacks += 1;
    e.cavity.clear();
    e.kept.clear();
    for (const int32_t s : e.scanList) {
        if (incircleOf(e, e.slots[s].v, p) > 0) {
            e.cavity.push_back(s);
        } else {
            e.kept.push_back(s);
        }
    }
    if (e.cavity.empty()) return;
    e.keys.clear();
    for (const int32_t s : e.cavity) {
        const std::array<int32_t, 3>& v = e.slots[s].v;
        for (int k = 0; k < 3; ++k) e.keys.push_back(directedKey(v[k], v[(k + 1) % 3]));
    }
    std::sort(e.keys.begin(), e.keys.end());
    e.boundary.clear();
    for (const int32_t s : e.cavity) {
        const std::array<int32_t, 3>& v = e.slots[s].v;
        for (int k = 0; k < 3; ++k) {
            const int32_t u = v[k], w = v[(k + 1) % 3];
            if (std::binary_search(e.keys.begin(), e.keys.end(), directedKey(w, u))) continue;
            e.boundary.push_back(TriEngine::BoundaryEdge{u, w, -1, -1, -1});
        }
    }
    for (const int32_t s : e.cavity) freeSlot(e, s);
    for (const TriEngine::BoundaryEdge& b : e.boundary) {
        const int32_t s = allocSlot(e);
        TriSlot& ts = e.slots[s];
        if (orient2d(e.pts[b.u], e.pts[b.w], p) >= 0) {
            ts.v = {{b.u, b.w, id}};
        } else {
            ts.v = {{b.u, id, b.w}};
        }
        ts.n = {{-1, -1, -1}};
        ts.order = e.nextOrder++;
        e.liveCount += 1;
        if (isRealCorners(ts.v)) e.realCount += 1;
        e.kept.push_back(s);
        e.created.push_back(s);
    }
    e.scanList.swap(e.kept);
}

/// Live slots sorted by creation number (a radix sort on the numbers).
std::vector<int32_t> liveSlotsInOrder(const TriEngine& e, bool realOnly) {
    std::vector<uint64_t> items;
    items.reserve(static_cast<size_t>(realOnly ? e.realCount : e.liveCount));
    for (int32_t s = 0; s < static_cast<int32_t>(e.slots.size()); ++s) {
        const TriSlot& t = e.slots[s];
        if (t.order == kFreeSlot) continue;
        if (realOnly && !isRealCorners(t.v)) continue;
        items.push_back((static_cast<uint64_t>(t.order) << 32) | static_cast<uint32_t>(s));
    }
    std::vector<uint64_t> scratch(items.size());
    std::vector<size_t> count(2049);
    for (int shift = 32; shift < 64 && (static_cast<uint64_t>(e.nextOrder) >> (shift - 32)) != 0; shift += 11) {
        std::fill(count.begin(), count.end(), 0);
        for (const uint64_t it : items) count[((it >> shift) & 0x7ff) + 1] += 1;
        for (size_t i = 1; i < count.size(); ++i) count[i] += count[i - 1];
        for (const uint64_t it : items) scratch[count[(it >> shift) & 0x7ff]++] = it;
        items.swap(scratch);
    }
    std::vector<int32_t> slots;
    slots.reserve(items.size());
    for (const uint64_t it : items) slots.push_back(static_cast<int32_t>(it & 0xffffffffu));
    return slots;
}

void enterScanMode(TriEngine& e) {
    e.scanList = liveSlotsInOrder(e, false);
    e.scanMode = true;
}

}  // namespace

void triEngineRenumber(TriEngine& e) {
    const std::vector<int32_t> inOrder = e.scanMode ? e.scanList : liveSlotsInOrder(e, false);
    uint32_t next = 0;
    for (const int32_t s : inOrder) e.slots[s].order = next++;
    e.nextOrder = next;
    e.rebuilt = true;
}

namespace {

void insertVertex(TriEngine& e, int32_t id, int32_t hint) {
    e.created.clear();
    if (e.nextOrder >= kOrderLimit) triEngineRenumber(e);
    if (!e.scanMode) {
        const Point2& p = e.pts[id];
        if (exactSafeCoordinate(p.x) && exactSafeCoordinate(p.y) && insertByWalk(e, id, hint)) {
            if (!e.created.empty()) {
                e.lastVertex = id;
                e.startCell[startCellOf(e, p)] = id;
                e.inserted += 1;
                if (e.inserted > e.gridCapacity) buildStartGrid(e, e.inserted);
            }
            return;
        }
        enterScanMode(e);
    }
    insertByScan(e, id);
}

/// The bounding box of points[from..) folded into the engine's box with the comparisons of
/// the scan (the first point of the list starts it); true when it changed.
bool foldBox(TriEngine& e, const std::vector<Point2>& points, size_t from) {
    bool changed = false;
    for (size_t i = from; i < points.size(); ++i) {
        const Point2& p = points[i];
        if (i == 0) {
            e.minx = e.maxx = p.x;
            e.miny = e.maxy = p.y;
            changed = true;
            continue;
        }
        if (p.x < e.minx) {
            e.minx = p.x;
            changed = true;
        }
        if (p.x > e.maxx) {
            e.maxx = p.x;
            changed = true;
        }
        if (p.y < e.miny) {
            e.miny = p.y;
            changed = true;
        }
        if (p.y > e.maxy) {
            e.maxy = p.y;
            changed = true;
        }
    }
    return changed;
}

}  // namespace

bool exactSafeCoordinate(double c) {
    const double a = std::fabs(c);
    return c == 0 || (a >= 0x1p-200 && a <= 0x1p200);
}

void triEngineBuild(TriEngine& e, const std::vector<Point2>& points) {
    const int32_t n = static_cast<int32_t>(points.size());
    foldBox(e, points, 0);
    double size = std::max(e.maxx - e.minx, e.maxy - e.miny);
    if (size <= 0) size = 1.0;
    const Point2 c{(e.minx + e.maxx) * 0.5, (e.miny + e.maxy) * 0.5};

    e.pts.clear();
    e.pts.reserve(static_cast<size_t>(n) + 3);
    e.pts.push_back(Point2{c.x - 20 * size, c.y - 20 * size});
    e.pts.push_back(Point2{c.x + 20 * size, c.y - 20 * size});
    e.pts.push_back(Point2{c.x, c.y + 20 * size});
    e.pts.insert(e.pts.end(), points.begin(), points.end());

    e.slots.clear();
    e.slots.reserve(2 * static_cast<size_t>(n) + 8);
    e.freeSlots.clear();
    e.vertexTri.assign(e.pts.size(), -1);
    e.vertexMark.assign(e.pts.size(), 0);
    e.startOf.assign(e.pts.size(), -1);
    e.stampValue = 0;
    e.nextOrder = 0;
    e.liveCount = 0;
    e.realCount = 0;
    e.scanMode = false;
    e.scanList.clear();
    e.rebuilt = true;

    const int32_t s = allocSlot(e);
    if (orient2d(e.pts[0], e.pts[1], e.pts[2]) >= 0) {
        e.slots[s].v = {{0, 1, 2}};
    } else {
        e.slots[s].v = {{0, 2, 1}};
    }
    e.slots[s].order = e.nextOrder++;
    e.liveCount = 1;
    e.vertexTri[0] = e.vertexTri[1] = e.vertexTri[2] = s;
    e.lastVertex = 0;
    buildStartGrid(e, 0);

    for (int k = 0; k < 3; ++k) {
        if (!exactSafeCoordinate(e.pts[k].x) || !exactSafeCoordinate(e.pts[k].y)) {
            enterScanMode(e);
            break;
        }
    }
    for (int32_t i = 0; i < n; ++i) insertVertex(e, i + 3, -1);
}

void triEngineAppend(TriEngine& e, const std::vector<Point2>& points, int32_t hint) {
    e.rebuilt = false;
    const size_t held = static_cast<size_t>(triEnginePointCount(e));
    if (held >= points.size()) return;
    if (foldBox(e, points, held)) {
        triEngineBuild(e, points);
        return;
    }
    e.pts.insert(e.pts.end(), points.begin() + static_cast<std::ptrdiff_t>(held), points.end());
    e.vertexTri.resize(e.pts.size(), -1);
    e.vertexMark.resize(e.pts.size(), 0);
    e.startOf.resize(e.pts.size(), -1);
    for (size_t i = held; i < points.size(); ++i) {
        insertVertex(e, static_cast<int32_t>(i + 3), i == held ? hint : -1);
    }
}

std::vector<int32_t> triEngineRealSlots(const TriEngine& e) {
    if (!e.scanMode) return liveSlotsInOrder(e, true);
    std::vector<int32_t> slots;
    slots.reserve(static_cast<size_t>(e.realCount));
    for (const int32_t s : e.scanList) {
        if (isRealCorners(e.slots[s].v)) slots.push_back(s);
    }
    return slots;
}

std::vector<Triangle> triEngineTriangles(const TriEngine& e) {
    const std::vector<int32_t> slots = triEngineRealSlots(e);
    std::vector<Triangle> out;
    out.reserve(slots.size());
    for (const int32_t s : slots) {
        const std::array<int32_t, 3>& t = e.slots[s].v;
        out.push_back(Triangle{{int64_t{t[0]} - 3, int64_t{t[1]} - 3, int64_t{t[2]} - 3}});
    }
    return out;
}

bool triEngineHasEdge(const TriEngine& e, int64_t a, int64_t b) {
    const int64_t A = a + 3, B = b + 3;
    if (A == B) return false;
    auto holds = [&](int32_t s) {
        const std::array<int32_t, 3>& t = e.slots[s].v;
        const bool hasA = t[0] == A || t[1] == A || t[2] == A;
        const bool hasB = t[0] == B || t[1] == B || t[2] == B;
        return hasA && hasB && isRealCorners(t);
    };
    if (e.scanMode) {
        for (const int32_t s : e.scanList) {
            if (holds(s)) return true;
        }
        return false;
    }
    if (A < 3 || A >= static_cast<int64_t>(e.vertexTri.size())) return false;
    const int32_t t0 = e.vertexTri[A];
    if (t0 < 0) return false;
    // Around A one way; if the fan is open (A on the super triangle's rim), the other way.
    for (int side = 0; side < 2; ++side) {
        int32_t t = t0;
        for (int64_t guard = e.liveCount + 2; guard > 0; --guard) {
            if (holds(t)) return true;
            const std::array<int32_t, 3>& v = e.slots[t].v;
            const int i = v[0] == A ? 0 : (v[1] == A ? 1 : 2);
            t = e.slots[t].n[side == 0 ? (i + 2) % 3 : i];
            if (t < 0 || t == t0) break;
        }
        if (t == t0) return false;
    }
    return false;
}

bool triEngineHasPointAt(TriEngine& e, const Point2& p, int32_t hint) {
    if (!e.scanMode && exactSafeCoordinate(p.x) && exactSafeCoordinate(p.y)) {
        const int32_t t = locate(e, p, hint);
        if (t == kWalkOutside) return false;  // every point lies inside the super triangle
        if (t >= 0) {
            for (const int32_t v : e.slots[t].v) {
                if (v >= 3 && e.pts[v].x == p.x && e.pts[v].y == p.y) return true;
            }
            return false;
        }
    }
    e.fallbacks += 1;
    for (size_t i = 3; i < e.pts.size(); ++i) {
        if (e.pts[i].x == p.x && e.pts[i].y == p.y) return true;
    }
    return false;
}
