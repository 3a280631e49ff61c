#pragma once
// The incremental tetrahedralization of the robust volume engine: cells with face
// adjacency inside an enclosing super-tetrahedron, point location by a walk with the exact
// orientation test, and Bowyer-Watson insertion whose cavity may be kept from crossing
// chosen faces (the boundary, once it is recovered), so that an insertion never cuts
// through it.
//
// Vertex ids 0..3 are the corners of the super-tetrahedron; the caller's points follow.
// Cells live in slots; a slot freed by an insertion is reused by a later one, so the slot
// order depends only on the sequence of insertions.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "geom/point.hpp"
#include "geom/predicates.hpp"

namespace robust {

/// The faces of a cell, face k opposite corner k, each counter-clockwise seen from
/// outside a positively oriented cell.
constexpr int kFace[4][3] = {{1, 3, 2}, {0, 2, 3}, {0, 3, 1}, {0, 1, 2}};

struct Cell {
    std::array<int32_t, 4> v;
    std::array<int32_t, 4> n;  ///< across face k: neighbour slot * 4 + its face, or -1
};

struct CavityFace {
    int32_t a, b, c;   ///< as listed by the cavity cell (counter-clockwise from outside it)
    int32_t outside;   ///< slot * 4 + face of the cell beyond, or -1
    uint8_t inside;    ///< the inside flag of the cavity cell that owned the face
    uint8_t barrier;   ///< the face was not to be crossed
    uint8_t skip;      ///< set by the caller: a hull face through the new vertex, replaced by the fan from it
    uint8_t seen;      ///< shrinkCavity found the point sees it and may be joined to it
    int32_t owner;     ///< slot * 4 + face of the cavity cell listing it
};

struct TetTopology {
    std::vector<Point3> pts;
    std::vector<Cell> cells;
    std::vector<uint8_t> alive;
    std::vector<uint8_t> inside;  ///< the caller's label of each cell (solid or not)
    std::vector<int32_t> freeSlots;
    std::vector<int32_t> vertexCell;  ///< per vertex a live cell with that corner, or -1
    int64_t liveCells = 0;
    uint64_t version = 0;  ///< counts the changes to the cells (commits and removals)
    /// Per vertex the version at which a cell with that corner, or its vertexCell, last
    /// changed: its star (the cells and the order forStar visits them in) is as it was at
    /// any version since.
    std::vector<uint64_t> starVersion;
    // Scratch of one insertion or search.
    std::vector<uint32_t> mark;
    uint32_t markValue = 0;
    std::vector<int32_t> cavity;
    uint32_t cavityMark = 0;  ///< the stamp of the cells in `cavity`
    std::vector<CavityFace> boundary;
    // shrinkCavity's scratch: the faces of one round, those of all rounds after the first,
    // the cells one round took away, and each cavity cell's place in `cavity` (by slot).
    std::vector<CavityFace> shrinkFaces, shrinkExposed;
    std::vector<int32_t> shrinkGone;
    std::vector<std::pair<int32_t, int32_t>> cavityPlaces;
    /// Barrier faces (slot * 4 + face) that ended up with cavity cells on both sides: the
    /// insertion would remove them.
    std::vector<int32_t> lostBarriers;
    std::vector<int32_t> created;  ///< the live slots made by the last commit and the flips after it
    /// The cells the last cavity lost to shrinkCavity: in conflict with its point but left
    /// as they were.
    std::vector<int32_t> shrunkAway;
    std::vector<int32_t> stack;
    /// commitCavity's table of the edges of the faces that get a cell, open-addressed by
    /// edge: the first two references to each (made cell * 4 + its face through the edge)
    /// and how many there are. `edgeUsed` lists the entries taken, to empty them again.
    struct EdgeUse {
        uint64_t key = 0;
        int32_t first = -1, second = -1;
        int32_t count = 0;
    };
    std::vector<EdgeUse> edgeTable;
    std::vector<uint32_t> edgeUsed;
    /// Per cell of `cavity` (same order, a prefix of it): bit k set when its face k may be
    /// crossed. Recorded by growCavity, extended by expandCavity, dropped by shrinkCavity.
    std::vector<uint8_t> crossable;
};

/// Starts with the super-tetrahedron around the box [lo, hi] (20 times its largest extent).
void topologyInit(TetTopology& t, const Point3& lo, const Point3& hi);

/// Adds a vertex (not yet in any cell) and returns its id.
int32_t topologyAddVertex(TetTopology& t, const Point3& p);

/// Fresh stamps for a search.
inline uint32_t nextMark(TetTopology& t, uint32_t step = 1) {
    if (t.mark.size() < t.cells.size()) t.mark.resize(t.cells.size(), 0);
    if (t.markValue > 0xFFFFFFF0u - step) {
        std::fill(t.mark.begin(), t.mark.end(), 0);
        t.markValue = 0;
    }
    t.markValue += step;
    return t.markValue;
}

inline void faceOf(const TetTopology& t, int32_t slot, int k, int32_t& a, int32_t& b, int32_t& c) {
    const Cell& cell = t.cells[slot];
    a = cell.v[kFace[k][0]];
    b = cell.v[kFace[k][1]];
    c = cell.v[kFace[k][2]];
}

/// Where a walk ended.
struct Location {
    int32_t cell = -1;     ///< the cell holding the point (closed), or -1
    int32_t blocked = -1;  ///< slot * 4 + face of the barrier the walk met, or -1
};

/// Walks from `start` towards p over faces p lies beyond (exact orientation test). A face
/// for which barrier(a, b, c) holds is not crossed: the walk stops and names it. When the
/// walk takes more steps than there are cells, the cells are scanned instead.
template <typename Barrier>
Location locatePoint(TetTopology& t, const Point3& p, int32_t start, Barrier&& barrier) {
    Location loc;
    int32_t cur = start;
    const int64_t limit = static_cast<int64_t>(t.cells.size()) + 16;
    for (int64_t step = 0; step < limit; ++step) {
        int next = -1;
        for (int j = 0; j < 4; ++j) {
            const int k = static_cast<int>((step + j) & 3);
            int32_t a, b, c;
            faceOf(t, cur, k, a, b, c);
            if (orient3d(t.pts[a], t.pts[b], t.pts[c], p) < 0) {
                next = k;
                break;
            }
        }
        if (next < 0) {
            loc.cell = cur;
            return loc;
        }
        int32_t a, b, c;
        faceOf(t, cur, next, a, b, c);
        if (barrier(a, b, c)) {
            loc.blocked = cur * 4 + next;
            return loc;
        }
        const int32_t across = t.cells[cur].n[next];
        if (across < 0) return loc;  // outside the super-tetrahedron
        cur = across >> 2;
    }
    for (int32_t s = 0; s < static_cast<int32_t>(t.cells.size()); ++s) {
        if (t.alive[s] == 0) continue;
        bool holds = true;
        for (int k = 0; k < 4 && holds; ++k) {
            int32_t a, b, c;
            faceOf(t, s, k, a, b, c);
            holds = orient3d(t.pts[a], t.pts[b], t.pts[c], p) >= 0;
        }
        if (holds) {
            loc.cell = s;
            return loc;
        }
    }
    return loc;
}

inline bool inConflict(const TetTopology& t, int32_t slot, const Point3& p) {
    const Cell& c = t.cells[slot];
    return insphere(t.pts[c.v[0]], t.pts[c.v[1]], t.pts[c.v[2]], t.pts[c.v[3]], p) > 0;
}

/// Collects the cavity of p: the cells whose circumsphere strictly holds p, connected to
/// the seeds over faces for which canCross(a, b, c) holds. Fills t.cavity (breadth-first
/// order) and t.boundary. False when a seed is not in conflict with p, unless `forceSeeds`:
/// then the seeds join the cavity whatever the test says (a cell with the edge that p
/// splits: p lies inside every sphere through the edge's ends, but its rounded position can
/// fall just outside the huge sphere of a flat cell). False too when the cavity would
/// hold more than maxCells cells, seeds included.
template <typename CanCross>
bool growCavity(TetTopology& t, const Point3& p, const int32_t* seeds, int seedCount, CanCross&& canCross,
                bool forceSeeds = false, size_t maxCells = SIZE_MAX) {
    const uint32_t in = nextMark(t, 2);
    const uint32_t out = in - 1;
    t.cavityMark = in;
    t.cavity.clear();
    t.boundary.clear();
    t.lostBarriers.clear();
    t.shrunkAway.clear();
    t.crossable.clear();
    for (int i = 0; i < seedCount; ++i) {
        const int32_t s = seeds[i];
        if (t.mark[s] == in) continue;
        if (!forceSeeds && !inConflict(t, s, p)) return false;
        if (t.cavity.size() >= maxCells) return false;
        t.mark[s] = in;
        t.cavity.push_back(s);
    }
    for (size_t i = 0; i < t.cavity.size(); ++i) {
        const int32_t s = t.cavity[i];
        t.crossable.push_back(0);
        for (int k = 0; k < 4; ++k) {
            const int32_t across = t.cells[s].n[k];
            int32_t a, b, c;
            faceOf(t, s, k, a, b, c);
            const bool cross = canCross(a, b, c);
            if (cross) t.crossable[i] = static_cast<uint8_t>(t.crossable[i] | (1u << k));
            uint8_t barrier = 0;
            if (across >= 0) {
                const int32_t m = across >> 2;
                if (t.mark[m] == in) {
                    // Reached before through another face; a barrier between the two is lost.
                    if (!cross) t.lostBarriers.push_back(s * 4 + k);
                    continue;
                }
                barrier = cross ? 0 : 1;
                if (t.mark[m] != out && cross) {
                    if (inConflict(t, m, p)) {
                        if (t.cavity.size() >= maxCells) return false;
                        t.mark[m] = in;
                        t.cavity.push_back(m);
                        continue;
                    }
                    t.mark[m] = out;
                }
            } else {
                barrier = cross ? 0 : 1;
            }
            t.boundary.push_back(CavityFace{a, b, c, across, t.inside[s], barrier, 0, 0, s * 4 + k});
        }
    }
    // A face between two cavity cells may have been listed as boundary when the second
    // cell joined later through another face; drop those.
    size_t kept = 0;
    for (size_t i = 0; i < t.boundary.size(); ++i) {
        const CavityFace& f = t.boundary[i];
        if (f.outside >= 0 && t.mark[f.outside >> 2] == in) {
            if (f.barrier != 0) t.lostBarriers.push_back(f.owner);
            continue;
        }
        t.boundary[kept++] = f;
    }
    t.boundary.resize(kept);
    return true;
}

/// Shrinks the cavity until p sees every boundary face that is not skipped: the cells
/// owning a face p does not strictly see, or one `blind(face)` says p must not be joined
/// to, leave the cavity. `skip(face)` marks the hull faces through p again after each round.
/// False when the cavity runs empty.
template <typename CanCross, typename Skip, typename Blind>
bool shrinkCavity(TetTopology& t, const Point3& p, CanCross&& canCross, Skip&& skip, Blind&& blind) {
    const uint32_t in = t.cavityMark;
    t.crossable.clear();
    // Round by round: the faces not yet tested are tested, and the cells owning one p does
    // not see leave. The first round tests the faces as grown; each later one the faces
    // the cells gone left bare, in the order of their cells in the cavity and of their
    // faces in the cell (the order a list of the whole boundary would test them in).
    std::vector<CavityFace>& faces = t.shrinkFaces;
    std::vector<CavityFace>& exposed = t.shrinkExposed;
    std::vector<int32_t>& gone = t.shrinkGone;
    gone.clear();
    exposed.clear();
    int64_t left = static_cast<int64_t>(t.cavity.size());
    auto test = [&](CavityFace& f) {
        if (f.skip != 0 || f.seen != 0) return;
        if (!(orient3d(t.pts[f.a], t.pts[f.b], t.pts[f.c], p) > 0) || blind(f)) {
            const int32_t s = f.owner >> 2;
            if (t.mark[s] == in) {
                t.shrunkAway.push_back(s);
                gone.push_back(s);
                --left;
            }
            t.mark[s] = 0;
        } else {
            f.seen = 1;
        }
    };
    for (CavityFace& f : t.boundary) test(f);
    if (gone.empty()) return true;
    // Each cell's place in the cavity (slot and place, by slot) orders the faces of the
    // later rounds.
    std::vector<std::pair<int32_t, int32_t>>& places = t.cavityPlaces;
    places.clear();
    for (size_t i = 0; i < t.cavity.size(); ++i) places.push_back({t.cavity[i], static_cast<int32_t>(i)});
    std::sort(places.begin(), places.end());
    auto placeOf = [&](int32_t s) {
        return std::lower_bound(places.begin(), places.end(), std::pair<int32_t, int32_t>{s, -1})->second;
    };
    auto byPlace = [&](const CavityFace& x, const CavityFace& y) {
        const int32_t px = placeOf(x.owner >> 2), py = placeOf(y.owner >> 2);
        return px != py ? px < py : (x.owner & 3) < (y.owner & 3);
    };
    auto fresh = [&](int32_t s, int k) {
        int32_t a, b, c;
        faceOf(t, s, k, a, b, c);
        const int32_t across = t.cells[s].n[k];
        CavityFace f{a, b, c, across, t.inside[s], static_cast<uint8_t>(canCross(a, b, c) ? 0 : 1), 0, 0, s * 4 + k};
        f.skip = skip(f) ? 1 : 0;
        return f;
    };
    for (int round = 1;; ++round) {
        if (left == 0 || round == 64) return false;
        faces.clear();
        for (const int32_t g : gone) {
            for (int k = 0; k < 4; ++k) {
                const int32_t across = t.cells[g].n[k];
                if (across >= 0 && t.mark[across >> 2] == in) faces.push_back(fresh(across >> 2, across & 3));
            }
        }
        std::sort(faces.begin(), faces.end(), byPlace);
        gone.clear();
        for (CavityFace& f : faces) test(f);
        exposed.insert(exposed.end(), faces.begin(), faces.end());
        if (gone.empty()) break;
    }
    // The cells left, in their order, and the faces of theirs on the boundary: those grown
    // (listed afresh, as the faces bare from the start) and those bare since, each seen.
    size_t kept = 0;
    for (const int32_t s : t.cavity) {
        if (t.mark[s] == in) t.cavity[kept++] = s;
    }
    t.cavity.resize(kept);
    faces.clear();
    for (const CavityFace& f : t.boundary) {
        if (t.mark[f.owner >> 2] == in) faces.push_back(fresh(f.owner >> 2, f.owner & 3));
    }
    for (const CavityFace& f : exposed) {
        if (t.mark[f.owner >> 2] == in) faces.push_back(f);
    }
    std::sort(faces.begin(), faces.end(), byPlace);
    for (CavityFace& f : faces) f.seen = f.skip != 0 ? 0 : 1;
    t.boundary.swap(faces);
    return true;
}

template <typename CanCross, typename Skip>
bool shrinkCavity(TetTopology& t, const Point3& p, CanCross&& canCross, Skip&& skip) {
    return shrinkCavity(t, p, canCross, skip, [](const CavityFace&) { return false; });
}

/// Grows the cavity until p sees every boundary face: the cell beyond a face p does not
/// strictly see joins the cavity, when that face may be crossed. False when a face p does
/// not see cannot be crossed (a barrier or the hull), when a cell joining would put a
/// barrier inside the cavity, or after `rounds` rounds. `canCross` must be the test the
/// cavity was grown with: the answers growCavity recorded in t.crossable are reused.
template <typename CanCross>
bool expandCavity(TetTopology& t, const Point3& p, CanCross&& canCross, int rounds) {
    const uint32_t in = t.cavityMark;
    std::vector<uint8_t>& crossable = t.crossable;
    for (int round = 0; round < rounds; ++round) {
        bool added = false;
        for (const CavityFace& f : t.boundary) {
            if (orient3d(t.pts[f.a], t.pts[f.b], t.pts[f.c], p) > 0) continue;
            if (f.outside < 0 || f.barrier != 0) return false;
            const int32_t m = f.outside >> 2;
            if (t.mark[m] == in) continue;
            t.mark[m] = in;
            t.cavity.push_back(m);
            added = true;
        }
        if (!added) return true;
        t.boundary.clear();
        for (size_t i = 0; i < t.cavity.size(); ++i) {
            const int32_t s = t.cavity[i];
            // Whether a face may be crossed depends on its corners only: asked once per
            // cell of the cavity, not once per round.
            if (i >= crossable.size()) {
                uint8_t bits = 0;
                for (int k = 0; k < 4; ++k) {
                    int32_t a, b, c;
                    faceOf(t, s, k, a, b, c);
                    if (canCross(a, b, c)) bits = static_cast<uint8_t>(bits | (1u << k));
                }
                crossable.push_back(bits);
            }
            for (int k = 0; k < 4; ++k) {
                const int32_t across = t.cells[s].n[k];
                const bool cross = (crossable[i] >> k) & 1u;
                if (across >= 0 && t.mark[across >> 2] == in) {
                    if (!cross) return false;
                    continue;
                }
                int32_t a, b, c;
                faceOf(t, s, k, a, b, c);
                t.boundary.push_back(CavityFace{a, b, c, across, t.inside[s], static_cast<uint8_t>(cross ? 0 : 1), 0, 0, s * 4 + k});
            }
        }
    }
    return false;
}

/// Replaces the cavity by the cells joining vertex `vid` to its boundary faces. Faces marked
/// `skip` (hull faces in a plane through the vertex) get no cell: the new cells' faces
/// through the vertex and an edge of theirs become hull faces instead, so a point on the
/// hull splits it. Nothing changes and false is returned when some other boundary face is
/// not strictly visible from the vertex, when the boundary is not a closed surface, or when
/// a corner of a cavity cell would be left out of every new cell.
bool commitCavity(TetTopology& t, int32_t vid);

/// Drops the live cells whose `keep` flag is 0; faces they shared with kept cells become
/// hull faces. Vertices left in no cell get no vertexCell.
void removeCells(TetTopology& t, const std::vector<uint8_t>& keep);

/// Replaces the cells in `old` (live, sharing the inside flag of the first) by the
/// positively oriented cells `made` that fill the same region: the faces of the new cells
/// are linked to the outer neighbours of the old ones and to each other. The new slots are
/// appended to `slots`. Used by flips; the caller checks the geometry. Nothing changes and
/// false is returned when the faces do not match up (every outer face of the old cells once,
/// every other new face with exactly one other) or the old cells have more than 16 outer
/// faces. With `onHull`, an outer face on the hull may go unmatched and a new face that
/// meets nothing is left on the hull (a flip of two faces on the hull).
bool replaceCells(TetTopology& t, const int32_t* old, int oldCount, const std::array<int32_t, 4>* made, int madeCount,
                  std::vector<int32_t>& slots, bool onHull = false);

/// The cells that replace the star of v (`star`: every live cell with corner v) when v is
/// contracted into its neighbour u: each cell of the star without corner u, with u in v's
/// place (so a cell keeps its orientation when u lies on v's side of the opposite face).
/// `from` gets the star cell each one comes from.
void contractedCells(const TetTopology& t, const std::vector<int32_t>& star, int32_t v, int32_t u,
                     std::vector<std::array<int32_t, 4>>& made, std::vector<int32_t>& from);

/// Contracts vertex v into its neighbour u: the cells of `star` (every live cell with corner
/// v) give way to contractedCells, each keeping the inside flag of the cell it comes from.
/// The faces of the new cells are linked to the outer neighbours of the star (across its
/// faces opposite v), to each other, or left on the hull where the face they come from was
/// (a face through v without a neighbour). v is left in no cell. The new slots are appended
/// to `slots`. The caller checks the geometry; nothing changes and false is returned when
/// the faces do not match up.
bool contractVertex(TetTopology& t, int32_t v, int32_t u, const std::vector<int32_t>& star, std::vector<int32_t>& slots);

/// Calls f(slot) for every live cell with corner v (stops early when f returns true);
/// returns the slot for which f returned true, or -1.
template <typename F>
int32_t forStar(TetTopology& t, int32_t v, F&& f) {
    const int32_t start = t.vertexCell[v];
    if (start < 0) return -1;
    const uint32_t seen = nextMark(t);
    t.stack.clear();
    t.stack.push_back(start);
    t.mark[start] = seen;
    while (!t.stack.empty()) {
        const int32_t s = t.stack.back();
        t.stack.pop_back();
        if (f(s)) return s;
        const Cell& c = t.cells[s];
        for (int k = 0; k < 4; ++k) {
            if (c.v[k] == v) continue;
            const int32_t across = c.n[k];
            if (across < 0) continue;
            const int32_t m = across >> 2;
            if (t.mark[m] == seen) continue;
            t.mark[m] = seen;
            t.stack.push_back(m);
        }
    }
    return -1;
}

inline bool cellHas(const Cell& c, int32_t v) { return c.v[0] == v || c.v[1] == v || c.v[2] == v || c.v[3] == v; }

/// A live cell with the edge (u, w), or -1.
inline int32_t findEdgeCell(TetTopology& t, int32_t u, int32_t w) {
    return forStar(t, u, [&](int32_t s) { return cellHas(t.cells[s], w); });
}

/// A live cell with the face (a, b, c) (any order), or -1.
inline int32_t findFaceCell(TetTopology& t, int32_t a, int32_t b, int32_t c) {
    return forStar(t, a, [&](int32_t s) { return cellHas(t.cells[s], b) && cellHas(t.cells[s], c); });
}

}  // namespace robust
