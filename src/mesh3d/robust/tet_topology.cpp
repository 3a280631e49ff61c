#include "mesh3d/robust/tet_topology.hpp"

#include <algorithm>
#include <cmath>

namespace robust {

void topologyInit(TetTopology& t, const Point3& lo, const Point3& hi) {
    t = TetTopology();
    const Point3 c{(lo.x + hi.x) * 0.5, (lo.y + hi.y) * 0.5, (lo.z + hi.z) * 0.5};
    double e = std::max(hi.x - lo.x, std::max(hi.y - lo.y, hi.z - lo.z));
    if (!(e > 0)) e = 1;
    const double m = 20 * e;
    t.pts = {Point3{c.x - m, c.y - m, c.z - m}, Point3{c.x + m, c.y + m, c.z - m}, Point3{c.x + m, c.y - m, c.z + m},
             Point3{c.x - m, c.y + m, c.z + m}};
    Cell cell{{0, 1, 2, 3}, {-1, -1, -1, -1}};
    if (orient3d(t.pts[0], t.pts[1], t.pts[2], t.pts[3]) < 0) std::swap(cell.v[1], cell.v[2]);
    t.cells.push_back(cell);
    t.alive.push_back(1);
    t.inside.push_back(0);
    t.vertexCell = {0, 0, 0, 0};
    t.liveCells = 1;
}

int32_t topologyAddVertex(TetTopology& t, const Point3& p) {
    t.pts.push_back(p);
    t.vertexCell.push_back(-1);
    return static_cast<int32_t>(t.pts.size() - 1);
}

bool commitCavity(TetTopology& t, int32_t vid) {
    const Point3& p = t.pts[vid];
    for (const CavityFace& f : t.boundary) {
        if (!(orient3d(t.pts[f.a], t.pts[f.b], t.pts[f.c], p) > 0)) return false;
    }
    // Every boundary edge must be shared by exactly two boundary faces.
    t.edgeRefs.clear();
    for (size_t i = 0; i < t.boundary.size(); ++i) {
        const CavityFace& f = t.boundary[i];
        const int32_t e[3][2] = {{f.b, f.c}, {f.c, f.a}, {f.a, f.b}};
        for (int k = 0; k < 3; ++k) {
            const uint32_t lo = static_cast<uint32_t>(std::min(e[k][0], e[k][1]));
            const uint32_t hi = static_cast<uint32_t>(std::max(e[k][0], e[k][1]));
            t.edgeRefs.push_back({(static_cast<uint64_t>(lo) << 32) | hi, static_cast<int32_t>(i * 4 + k)});
        }
    }
    std::sort(t.edgeRefs.begin(), t.edgeRefs.end());
    for (size_t i = 0; i < t.edgeRefs.size(); i += 2) {
        if (i + 1 >= t.edgeRefs.size() || t.edgeRefs[i].first != t.edgeRefs[i + 1].first) return false;
        if (i + 2 < t.edgeRefs.size() && t.edgeRefs[i + 2].first == t.edgeRefs[i].first) return false;
    }
    // No corner of the cavity may be left inside it.
    {
        const uint32_t onBoundary = nextMark(t);
        if (t.mark.size() < t.pts.size()) t.mark.resize(t.pts.size(), 0);
        // Vertex stamps share the array with cell stamps only for the duration of this check.
        std::vector<uint32_t>& m = t.mark;
        for (const CavityFace& f : t.boundary) {
            m[f.a] = onBoundary;
            m[f.b] = onBoundary;
            m[f.c] = onBoundary;
        }
        for (int32_t s : t.cavity) {
            for (int32_t v : t.cells[s].v) {
                if (m[v] != onBoundary) return false;
            }
        }
    }
    for (int32_t s : t.cavity) {
        t.alive[s] = 0;
        t.freeSlots.push_back(s);
    }
    t.liveCells -= static_cast<int64_t>(t.cavity.size());
    t.created.clear();
    for (const CavityFace& f : t.boundary) {
        int32_t slot;
        if (!t.freeSlots.empty()) {
            slot = t.freeSlots.back();
            t.freeSlots.pop_back();
        } else {
            slot = static_cast<int32_t>(t.cells.size());
            t.cells.push_back(Cell{});
            t.alive.push_back(0);
            t.inside.push_back(0);
        }
        Cell& c = t.cells[slot];
        c.v = {f.a, f.b, f.c, vid};
        c.n = {-1, -1, -1, f.outside};
        if (f.outside >= 0) t.cells[f.outside >> 2].n[f.outside & 3] = slot * 4 + 3;
        t.alive[slot] = 1;
        t.inside[slot] = f.inside;
        t.created.push_back(slot);
        for (int32_t v : c.v) t.vertexCell[v] = slot;
    }
    t.liveCells += static_cast<int64_t>(t.created.size());
    // Link the new cells to each other across the faces through the new vertex: face 0
    // holds the edge (b, c), face 1 (c, a), face 2 (a, b).
    for (size_t i = 0; i < t.edgeRefs.size(); i += 2) {
        const int32_t r0 = t.edgeRefs[i].second;
        const int32_t r1 = t.edgeRefs[i + 1].second;
        const int32_t s0 = t.created[r0 >> 2];
        const int32_t s1 = t.created[r1 >> 2];
        t.cells[s0].n[r0 & 3] = s1 * 4 + (r1 & 3);
        t.cells[s1].n[r1 & 3] = s0 * 4 + (r0 & 3);
    }
    return true;
}

}  // namespace robust
