#include "mesh3d/robust/tet_topology.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

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
    t.starVersion = {0, 0, 0, 0};
    t.liveCells = 1;
}

int32_t topologyAddVertex(TetTopology& t, const Point3& p) {
    t.pts.push_back(p);
    t.vertexCell.push_back(-1);
    t.starVersion.resize(t.pts.size(), t.version);
    return static_cast<int32_t>(t.pts.size() - 1);
}

namespace {

/// A slot for a new cell: the last one freed, or a new one at the end.
int32_t takeSlot(TetTopology& t) {
    if (!t.freeSlots.empty()) {
        const int32_t slot = t.freeSlots.back();
        t.freeSlots.pop_back();
        return slot;
    }
    t.cells.push_back(Cell{});
    t.alive.push_back(0);
    t.inside.push_back(0);
    return static_cast<int32_t>(t.cells.size()) - 1;
}

/// Where face k of new cell i leads (links[i * 4 + k]): to a face of another new cell
/// (`toNew`, target = cell * 4 + face), or beyond the cells replaced (target = slot * 4 + face
/// of the cell there, or -1 for the hull).
struct FaceLink {
    bool toNew = false;
    int32_t target = -1;
};

/// Frees the `old` slots and puts the `made` cells (inside flags `inside`) in their place,
/// linked as `links` says; the new slots are appended to `slots`.
void commitCells(TetTopology& t, const int32_t* old, size_t oldCount, const std::array<int32_t, 4>* made,
                 const uint8_t* inside, size_t madeCount, const FaceLink* links, std::vector<int32_t>& slots) {
    ++t.version;
    if (t.starVersion.size() < t.pts.size()) t.starVersion.resize(t.pts.size(), 0);
    for (size_t i = 0; i < oldCount; ++i) {
        t.alive[old[i]] = 0;
        t.freeSlots.push_back(old[i]);
        for (const int32_t v : t.cells[old[i]].v) t.starVersion[v] = t.version;
    }
    t.liveCells -= static_cast<int64_t>(oldCount);
    const size_t first = slots.size();
    for (size_t i = 0; i < madeCount; ++i) {
        const int32_t slot = takeSlot(t);
        t.cells[slot].v = made[i];
        t.alive[slot] = 1;
        t.inside[slot] = inside[i];
        slots.push_back(slot);
        for (const int32_t v : made[i]) {
            t.vertexCell[v] = slot;
            t.starVersion[v] = t.version;
        }
    }
    t.liveCells += static_cast<int64_t>(madeCount);
    for (size_t i = 0; i < madeCount; ++i) {
        const int32_t s = slots[first + i];
        for (int k = 0; k < 4; ++k) {
            const FaceLink& l = links[i * 4 + k];
            if (l.toNew) {
                t.cells[s].n[k] = slots[first + static_cast<size_t>(l.target >> 2)] * 4 + (l.target & 3);
            } else {
                t.cells[s].n[k] = l.target;
                if (l.target >= 0) t.cells[l.target >> 2].n[l.target & 3] = s * 4 + k;
            }
        }
    }
}

}  // namespace

bool commitCavity(TetTopology& t, int32_t vid) {
    const Point3& p = t.pts[vid];
    for (const CavityFace& f : t.boundary) {
        if (f.skip != 0) continue;
        if (!(orient3d(t.pts[f.a], t.pts[f.b], t.pts[f.c], p) > 0)) return false;
    }
    // Every edge of a face that gets a cell is shared with one other such face, or lies
    // on a skipped face (the new face through it is a hull face).
    auto key = [](int32_t u, int32_t w) {
        const uint32_t lo = static_cast<uint32_t>(std::min(u, w));
        const uint32_t hi = static_cast<uint32_t>(std::max(u, w));
        return (static_cast<uint64_t>(lo) << 32) | hi;
    };
    for (const uint32_t i : t.edgeUsed) t.edgeTable[i] = TetTopology::EdgeUse{};
    t.edgeUsed.clear();
    size_t faces = 0;
    for (const CavityFace& f : t.boundary) faces += f.skip == 0 ? 1 : 0;
    int bits = 6;
    while ((size_t{1} << bits) < 6 * faces) ++bits;
    // The first 2^bits entries, at most half of them taken (a large cavity once does not
    // spread the small ones after it over all of the table). A table grown for a huge
    // cavity (on a surface of 327,680 triangles one had that many faces: 50 MB of table)
    // is given back at the next cavity much smaller.
    if (t.edgeTable.size() > (size_t{1} << 16) && t.edgeTable.size() > (size_t{16} << bits)) {
        std::vector<TetTopology::EdgeUse>().swap(t.edgeTable);
    }
    if (t.edgeTable.size() < (size_t{1} << bits)) t.edgeTable.resize(size_t{1} << bits);
    const uint64_t mask = (uint64_t{1} << bits) - 1;
    auto use = [&](uint64_t e, int32_t ref) {
        uint64_t i = (e * 0x9E3779B97F4A7C15ull) >> (64 - bits);
        while (t.edgeTable[i].count != 0 && t.edgeTable[i].key != e) i = (i + 1) & mask;
        TetTopology::EdgeUse& u = t.edgeTable[i];
        if (u.count == 0) {
            u.key = e;
            u.first = ref;
            t.edgeUsed.push_back(static_cast<uint32_t>(i));
        } else if (u.count == 1) {
            u.second = ref;
        }
        ++u.count;
    };
    std::vector<uint64_t> skippedEdges;
    std::vector<std::pair<uint64_t, int32_t>> skippedFaceOf;  // edge -> skipped face
    int32_t made = 0;
    for (size_t i = 0; i < t.boundary.size(); ++i) {
        const CavityFace& f = t.boundary[i];
        if (f.skip != 0) {
            skippedEdges.push_back(key(f.b, f.c));
            skippedEdges.push_back(key(f.c, f.a));
            skippedEdges.push_back(key(f.a, f.b));
            for (int k = 0; k < 3; ++k) skippedFaceOf.push_back({skippedEdges[skippedEdges.size() - 3 + k], static_cast<int32_t>(i)});
            continue;
        }
        use(key(f.b, f.c), made * 4 + 0);
        use(key(f.c, f.a), made * 4 + 1);
        use(key(f.a, f.b), made * 4 + 2);
        ++made;
    }
    std::sort(skippedEdges.begin(), skippedEdges.end());
    for (const uint32_t i : t.edgeUsed) {
        const TetTopology::EdgeUse& entry = t.edgeTable[i];
        if (entry.count > 2) return false;
        if (entry.count == 1) {
            if (!std::binary_search(skippedEdges.begin(), skippedEdges.end(), entry.key)) return false;
            // The hull face (edge, p) that replaces the skipped face on this edge must lie on
            // the same side of the edge as that face: p inside the region it splits.
            const uint64_t e = entry.key;
            const int32_t u = static_cast<int32_t>(e >> 32), w = static_cast<int32_t>(e & 0xffffffffu);
            for (const auto& sf : skippedFaceOf) {
                if (sf.first != e) continue;
                const CavityFace& f = t.boundary[sf.second];
                const int32_t third = (f.a != u && f.a != w) ? f.a : ((f.b != u && f.b != w) ? f.b : f.c);
                const Point3& pu = t.pts[u];
                const Point3 d{t.pts[w].x - pu.x, t.pts[w].y - pu.y, t.pts[w].z - pu.z};
                const Point3 x{t.pts[third].x - pu.x, t.pts[third].y - pu.y, t.pts[third].z - pu.z};
                const Point3 y{p.x - pu.x, p.y - pu.y, p.z - pu.z};
                const Point3 n1{d.y * x.z - d.z * x.y, d.z * x.x - d.x * x.z, d.x * x.y - d.y * x.x};
                const Point3 n2{d.y * y.z - d.z * y.y, d.z * y.x - d.x * y.z, d.x * y.y - d.y * y.x};
                if (!(n1.x * n2.x + n1.y * n2.y + n1.z * n2.z > 0)) return false;
            }
        }
    }
    // No corner of the cavity may be left inside it.
    {
        const uint32_t onBoundary = nextMark(t);
        if (t.mark.size() < t.pts.size()) t.mark.resize(t.pts.size(), 0);
        std::vector<uint32_t>& m = t.mark;
        for (const CavityFace& f : t.boundary) {
            if (f.skip != 0) continue;
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
    ++t.version;
    if (t.starVersion.size() < t.pts.size()) t.starVersion.resize(t.pts.size(), 0);
    for (int32_t s : t.cavity) {
        t.alive[s] = 0;
        t.freeSlots.push_back(s);
        for (const int32_t v : t.cells[s].v) t.starVersion[v] = t.version;
    }
    t.liveCells -= static_cast<int64_t>(t.cavity.size());
    t.created.clear();
    for (const CavityFace& f : t.boundary) {
        if (f.skip != 0) continue;
        const int32_t slot = takeSlot(t);
        Cell& c = t.cells[slot];
        c.v = {f.a, f.b, f.c, vid};
        c.n = {-1, -1, -1, f.outside};
        if (f.outside >= 0) t.cells[f.outside >> 2].n[f.outside & 3] = slot * 4 + 3;
        t.alive[slot] = 1;
        t.inside[slot] = f.inside;
        t.created.push_back(slot);
        for (int32_t v : c.v) {
            t.vertexCell[v] = slot;
            t.starVersion[v] = t.version;
        }
    }
    t.liveCells += static_cast<int64_t>(t.created.size());
    // Link the new cells to each other across the faces through the new vertex: face 0
    // holds the edge (b, c), face 1 (c, a), face 2 (a, b). Unpaired ones stay hull faces.
    for (const uint32_t i : t.edgeUsed) {
        const TetTopology::EdgeUse& entry = t.edgeTable[i];
        if (entry.count != 2) continue;
        const int32_t r0 = entry.first;
        const int32_t r1 = entry.second;
        const int32_t s0 = t.created[r0 >> 2];
        const int32_t s1 = t.created[r1 >> 2];
        t.cells[s0].n[r0 & 3] = s1 * 4 + (r1 & 3);
        t.cells[s1].n[r1 & 3] = s0 * 4 + (r0 & 3);
    }
    return true;
}

void removeCells(TetTopology& t, const std::vector<uint8_t>& keep) {
    ++t.version;
    for (int32_t s = 0; s < static_cast<int32_t>(t.cells.size()); ++s) {
        if (t.alive[s] == 0 || keep[s] != 0) continue;
        for (int k = 0; k < 4; ++k) {
            const int32_t across = t.cells[s].n[k];
            if (across >= 0 && keep[across >> 2] != 0) t.cells[across >> 2].n[across & 3] = -1;
        }
    }
    for (int32_t s = 0; s < static_cast<int32_t>(t.cells.size()); ++s) {
        if (t.alive[s] == 0 || keep[s] != 0) continue;
        t.alive[s] = 0;
        t.freeSlots.push_back(s);
        --t.liveCells;
    }
    std::fill(t.vertexCell.begin(), t.vertexCell.end(), -1);
    t.starVersion.assign(t.pts.size(), t.version);
    for (int32_t s = 0; s < static_cast<int32_t>(t.cells.size()); ++s) {
        if (t.alive[s] == 0) continue;
        for (int32_t v : t.cells[s].v) t.vertexCell[v] = s;
    }
}

bool replaceCells(TetTopology& t, const int32_t* old, int oldCount, const std::array<int32_t, 4>* made, int madeCount,
                  std::vector<int32_t>& slots, bool onHull) {
    constexpr int kMaxOuter = 16;
    struct Outer {
        std::array<int32_t, 3> key;
        int32_t across;
        int uses;
    };
    auto sorted = [](int32_t a, int32_t b, int32_t c) {
        std::array<int32_t, 3> k{a, b, c};
        std::sort(k.begin(), k.end());
        return k;
    };
    auto isOld = [&](int32_t s) {
        for (int i = 0; i < oldCount; ++i) {
            if (old[i] == s) return true;
        }
        return false;
    };
    Outer outer[kMaxOuter];
    int outerCount = 0;
    for (int i = 0; i < oldCount; ++i) {
        for (int k = 0; k < 4; ++k) {
            const int32_t across = t.cells[old[i]].n[k];
            if (across >= 0 && isOld(across >> 2)) continue;
            if (outerCount == kMaxOuter) return false;
            int32_t a, b, c;
            faceOf(t, old[i], k, a, b, c);
            outer[outerCount++] = Outer{sorted(a, b, c), across, 0};
        }
    }
    // Match every face of the new cells before anything changes: (cell * 4 + face) of the
    // outer face or the other new face it meets.
    std::vector<int32_t> match(static_cast<size_t>(madeCount) * 4, -1);
    std::vector<uint8_t> toOuter(static_cast<size_t>(madeCount) * 4, 0);
    auto faceKey = [&](int i, int k) {
        const std::array<int32_t, 4>& v = made[i];
        return sorted(v[kFace[k][0]], v[kFace[k][1]], v[kFace[k][2]]);
    };
    for (int i = 0; i < madeCount; ++i) {
        for (int k = 0; k < 4; ++k) {
            const std::array<int32_t, 3> key = faceKey(i, k);
            int found = 0;
            for (int o = 0; o < outerCount; ++o) {
                if (outer[o].key != key) continue;
                ++found;
                ++outer[o].uses;
                match[i * 4 + k] = o;
                toOuter[i * 4 + k] = 1;
            }
            for (int j = 0; j < madeCount; ++j) {
                if (j == i) continue;
                for (int kk = 0; kk < 4; ++kk) {
                    if (faceKey(j, kk) != key) continue;
                    ++found;
                    match[i * 4 + k] = j * 4 + kk;
                }
            }
            if (found == 0 && onHull) continue;  // a new hull face (match stays -1)
            if (found != 1) return false;
        }
    }
    for (int o = 0; o < outerCount; ++o) {
        if (outer[o].uses == 0 && onHull && outer[o].across < 0) continue;
        if (outer[o].uses != 1) return false;
    }
    std::vector<FaceLink> links(static_cast<size_t>(madeCount) * 4);
    for (size_t f = 0; f < links.size(); ++f) {
        const int32_t m = match[f];
        if (m >= 0) links[f] = toOuter[f] != 0 ? FaceLink{false, outer[m].across} : FaceLink{true, m};
    }
    const std::vector<uint8_t> inside(static_cast<size_t>(madeCount), t.inside[old[0]]);
    commitCells(t, old, static_cast<size_t>(oldCount), made, inside.data(), static_cast<size_t>(madeCount), links.data(), slots);
    return true;
}

void contractedCells(const TetTopology& t, const std::vector<int32_t>& star, int32_t v, int32_t u,
                     std::vector<std::array<int32_t, 4>>& made, std::vector<int32_t>& from) {
    made.clear();
    from.clear();
    for (const int32_t s : star) {
        if (cellHas(t.cells[s], u)) continue;
        std::array<int32_t, 4> c = t.cells[s].v;
        for (int32_t& x : c) {
            if (x == v) x = u;
        }
        made.push_back(c);
        from.push_back(s);
    }
}

bool contractVertex(TetTopology& t, int32_t v, int32_t u, const std::vector<int32_t>& star, std::vector<int32_t>& slots) {
    using Key = std::array<int32_t, 3>;
    auto sorted = [](int32_t a, int32_t b, int32_t c) {
        Key k{a, b, c};
        std::sort(k.begin(), k.end());
        return k;
    };
    std::vector<std::array<int32_t, 4>> made;
    std::vector<int32_t> from;
    contractedCells(t, star, v, u, made, from);
    // The star's faces opposite v, with the cell beyond; and its faces through v on the hull,
    // as they become with u in v's place.
    std::vector<std::pair<Key, int32_t>> outer;
    std::vector<Key> hull;
    for (const int32_t s : star) {
        const Cell& c = t.cells[s];
        for (int k = 0; k < 4; ++k) {
            int32_t a, b, x;
            faceOf(t, s, k, a, b, x);
            if (c.v[k] == v) {
                outer.push_back({sorted(a, b, x), c.n[k]});
            } else if (c.n[k] < 0 && !cellHas(c, u)) {
                hull.push_back(sorted(a == v ? u : a, b == v ? u : b, x == v ? u : x));
            }
        }
    }
    std::sort(outer.begin(), outer.end());
    std::sort(hull.begin(), hull.end());
    // Each face of a new cell meets exactly one other new face, one outer face or one hull
    // face; each outer face is met exactly once.
    std::vector<std::pair<Key, int32_t>> faces;  // key, new cell * 4 + face
    for (size_t i = 0; i < made.size(); ++i) {
        for (int k = 0; k < 4; ++k) {
            faces.push_back({sorted(made[i][kFace[k][0]], made[i][kFace[k][1]], made[i][kFace[k][2]]),
                             static_cast<int32_t>(i) * 4 + k});
        }
    }
    std::sort(faces.begin(), faces.end());
    std::vector<uint8_t> outerUsed(outer.size(), 0);
    std::vector<FaceLink> links(made.size() * 4);
    for (size_t i = 0; i < faces.size();) {
        size_t j = i;
        while (j < faces.size() && faces[j].first == faces[i].first) ++j;
        const Key& key = faces[i].first;
        const auto o = std::lower_bound(outer.begin(), outer.end(), std::make_pair(key, std::numeric_limits<int32_t>::min()));
        const bool isOuter = o != outer.end() && o->first == key;
        const bool isHull = std::binary_search(hull.begin(), hull.end(), key);
        if (j - i == 2 && !isOuter && !isHull) {
            links[faces[i].second] = FaceLink{true, faces[i + 1].second};
            links[faces[i + 1].second] = FaceLink{true, faces[i].second};
        } else if (j - i == 1 && isOuter != isHull) {
            if (isOuter) {
                const size_t oi = static_cast<size_t>(o - outer.begin());
                if (outerUsed[oi] != 0) return false;
                outerUsed[oi] = 1;
                links[faces[i].second] = FaceLink{false, o->second};
            }  // else a hull face: the default link
        } else {
            return false;
        }
        i = j;
    }
    for (const uint8_t used : outerUsed) {
        if (used == 0) return false;
    }
    std::vector<uint8_t> inside(made.size());
    for (size_t i = 0; i < made.size(); ++i) inside[i] = t.inside[from[i]];
    commitCells(t, star.data(), star.size(), made.data(), inside.data(), made.size(), links.data(), slots);
    t.vertexCell[v] = -1;
    return true;
}

}  // namespace robust
