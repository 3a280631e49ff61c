// The pass loop of meshQualityTets with its state kept between passes.
//
// Every pass does what a pass from scratch does (tetrahedralize all points, split the
// first encroached segment, else split the first missing facet, else refine the first
// poor interior tetrahedron), but finds each answer from state that follows the changes:
// - the tetrahedralization is updated by one insertion (delaunay3d's engine);
// - segments never move and splits append, so the encroached ones wait in a min-heap of
//   positions; a segment becomes encroached only when a point is added, or when it is split;
// - every facet knows how many live cells have it as a face (counted as cells die and are
//   born); the missing ones wait in a min-heap by list position. A split puts two facets
//   where one stood, so a position is an order label: the parent's label extended by 0
//   and 1, compared lexicographically;
// - the ray parity test looks only at the facets whose projection along the ray lies near
//   the point (an index over the plane across the ray); parity depends only on the set of
//   facets that count, and the margins keep every facet that could count;
// - only a poor tetrahedron with a circumcentre can act; each keeps its verdict (centroid
//   inside, first facet whose protective sphere holds the circumcentre, circumcentre
//   inside) and the acting ones wait in a min-heap by creation. A facet split changes
//   verdicts only near the old and new facets (along the ray for the inside tests,
//   within their protective spheres for the other): exactly those are updated.
// Internal checks that the reasoning says cannot fail are still made; a failure counts a
// fallback and recomputes the state in question from scratch.

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>
#include <string>
#include <unordered_map>
#include <vector>

#include "mesh3d/delaunay3d.hpp"
#include "mesh3d/spatial_grid.hpp"
#include "mesh3d/tet_mesher.hpp"
#include "mesh3d/tet_refine.hpp"
#include "mesh3d/vec3.hpp"

namespace {

/// The facet step gives up after this many facet steps without fewer missing facets.
constexpr int32_t kMaxStalledFacetSteps = 64;
constexpr double kEpsilon = 1.1102230246251565e-16;  // 2^-53

enum : uint8_t { kNever = 0, kBoxed = 1, kAlways = 2 };

struct FacetRecord {
    std::array<int64_t, 3> v{};
    int32_t root = 0;   ///< position of the input facet it descends from
    std::string path;   ///< '0' and '1' per split below the input facet
    bool alive = true;
    uint8_t rayMode = kNever;
    double rayLo[2] = {0, 0};
    double rayHi[2] = {0, 0};
    FacetSphere sphere;
    uint8_t sphereMode = kNever;
    double sphereLo[3] = {0, 0, 0};
    double sphereHi[3] = {0, 0, 0};
};

bool labelLess(const FacetRecord& a, const FacetRecord& b) {
    if (a.root != b.root) return a.root < b.root;
    return a.path < b.path;
}

/// The verdict of a live cell. Only cells that are poor (by ratio or volume) and have a
/// circumcentre are `candidate`s; the rest can never act.
struct CellVerdict {
    bool candidate = false;
    bool tooLarge = false;
    bool inside[2] = {false, false};  ///< centroid, circumcentre inside the surface
    bool far[2] = {false, false};     ///< outside the indexed box: always tested in full
    int32_t encroached = -1;          ///< first facet (by label) whose sphere holds the circumcentre
    Point3 at[2];                     ///< centroid, circumcentre
};

bool acts(const CellVerdict& c) {
    return c.candidate && c.inside[0] && (c.encroached < 0 ? c.inside[1] : c.tooLarge);
}

struct TripleState {
    int32_t cells = 0;              ///< live cells with this face
    std::vector<int32_t> facets;    ///< live facets with these corners
};

uint64_t tripleKey(int64_t a, int64_t b, int64_t c) {
    if (a > b) std::swap(a, b);
    if (b > c) std::swap(b, c);
    if (a > b) std::swap(a, b);
    return (static_cast<uint64_t>(a) << 42) | (static_cast<uint64_t>(b) << 21) | static_cast<uint64_t>(c);
}

uint64_t edgeKey(int64_t a, int64_t b) {
    if (a > b) std::swap(a, b);
    return (static_cast<uint64_t>(a) << 32) | static_cast<uint64_t>(b);
}

struct Mesher {
    const TetMeshParams& params;
    TetMesh& result;
    std::vector<Point3>& points;
    double rho = 0;
    int64_t maxPoints = 0;

    std::vector<Segment> segments;
    std::vector<uint8_t> segmentEncroached;
    std::priority_queue<int64_t, std::vector<int64_t>, std::greater<int64_t>> segmentHeap;
    SpatialGrid<3> pointGrid;    ///< the points, for the segments' spheres
    size_t pointsAtGridBuild = 0;
    SpatialGrid<3> segmentGrid;  ///< segment positions by diametral box (old boxes linger)
    std::vector<int32_t> segmentsAlways;

    std::vector<FacetRecord> facets;
    int64_t liveFacets = 0;
    std::unordered_map<uint64_t, TripleState> triples;
    std::unordered_map<uint64_t, std::vector<int32_t>> edgeFacets;
    std::vector<uint8_t> onSurface;  ///< per point: a corner of some facet, now or before
    int64_t missing = 0;
    std::vector<int32_t> missingHeap;

    TetEngine engine;
    size_t engineHeld = 0;  ///< points the engine has seen
    int32_t hint = -1;
    std::vector<CellVerdict> verdict;
    std::priority_queue<int32_t, std::vector<int32_t>, std::greater<int32_t>> actHeap;

    // The surface index.
    bool indexed = false;
    Point3 boxLo, boxHi;
    double diameter = 0;
    double scale = 0;
    Point3 axisU, axisW;
    SpatialGrid<2> rayGrid;
    std::vector<int32_t> rayAlways;
    SpatialGrid<3> sphereGrid;
    std::vector<int32_t> sphereAlways;
    SpatialGrid<2> verdictGrid2;  ///< items slot * 2 + which, by projected point
    SpatialGrid<3> verdictGrid3;  ///< items slot, by circumcentre
    std::vector<int32_t> farItems;  ///< slot * 2 + which
    int64_t facetsAtIndexBuild = 0;
    int64_t liveCandidates = 0;  ///< live cells that are candidates, for the grids' upkeep
    bool gridsReady = false;

    std::vector<uint32_t> cellStamp;
    uint32_t stampValue = 0;
    std::vector<int32_t> touched;

    Mesher(const TetMeshParams& p, TetMesh& r) : params(p), result(r), points(r.points) {}

    // ---- facets --------------------------------------------------------------------

    Point3 at(int64_t i) const { return points[static_cast<size_t>(i)]; }

    void project(const Point3& p, double* out) const {
        out[0] = p.x * axisU.x + p.y * axisU.y + p.z * axisU.z;
        out[1] = p.x * axisW.x + p.y * axisW.y + p.z * axisW.z;
    }

    bool inBox(const Point3& p) const {
        return p.x >= boxLo.x && p.x <= boxHi.x && p.y >= boxLo.y && p.y <= boxHi.y && p.z >= boxLo.z &&
               p.z <= boxHi.z;
    }

    /// How the facet takes part in ray tests and sphere tests. The ray test's float
    /// arithmetic rejects a point whose projection lies well outside the projected
    /// triangle: the rounding of its barycentric coordinates is bounded by the size of the
    /// facet, the size of the indexed box and the projected area and angles, so every
    /// point beyond the margin below is rejected (with a factor of 1000 to spare).
    void prepareFacet(FacetRecord& f) const {
        const Point3 a = at(f.v[0]);
        const Point3 b = at(f.v[1]);
        const Point3 c = at(f.v[2]);
        const Point3& d = kRayDirection;
        const Point3 e1 = sub3(b, a);
        const Point3 e2 = sub3(c, a);
        const double det = dot3(e1, cross3(d, e2));
        f.rayMode = kNever;
        if (!(std::fabs(det) < 1e-14)) {
            f.rayMode = kAlways;
            if (indexed) {
                const double longest = std::max(length3(e1), std::max(length3(e2), length3(sub3(c, b))));
                double pa[2], pb[2], pc[2];
                project(a, pa);
                project(b, pb);
                project(c, pc);
                const double lab = std::hypot(pb[0] - pa[0], pb[1] - pa[1]);
                const double lbc = std::hypot(pc[0] - pb[0], pc[1] - pb[1]);
                const double lca = std::hypot(pa[0] - pc[0], pa[1] - pc[1]);
                const double area2 = std::fabs(det);
                const double dn = length3(d);
                const double twiceProjected = area2 / dn;
                const double sinMin =
                    std::min(twiceProjected / (lab * lca), std::min(twiceProjected / (lab * lbc), twiceProjected / (lbc * lca)));
                const double shortest = std::min(lab, std::min(lbc, lca));
                if (shortest > 0 && sinMin > 0 && area2 >= 2e4 * kEpsilon * longest * longest) {
                    const double reach = 50 * kEpsilon * (diameter + longest) * longest *
                                         (1 + longest * longest / area2) / (dn * shortest);
                    const double margin = 1000 * reach / (0.5 * sinMin) + 1e-9 * (diameter + scale);
                    if (margin <= diameter) {
                        f.rayMode = kBoxed;
                        f.rayLo[0] = std::min(pa[0], std::min(pb[0], pc[0])) - margin;
                        f.rayLo[1] = std::min(pa[1], std::min(pb[1], pc[1])) - margin;
                        f.rayHi[0] = std::max(pa[0], std::max(pb[0], pc[0])) + margin;
                        f.rayHi[1] = std::max(pa[1], std::max(pb[1], pc[1])) + margin;
                    }
                }
            }
        }
        f.sphere = facetSphere(a, b, c);
        f.sphereMode = kNever;
        if (f.sphere.ok) {
            f.sphereMode = kAlways;
            const double r2 = f.sphere.radius2;
            if (indexed && r2 >= 1e-280 && std::isfinite(r2)) {
                const Point3& m = f.sphere.centre;
                const double reach = std::sqrt(r2) * (1 + 1e-9) +
                                     1e-14 * (std::fabs(m.x) + std::fabs(m.y) + std::fabs(m.z));
                f.sphereMode = kBoxed;
                f.sphereLo[0] = m.x - reach;
                f.sphereLo[1] = m.y - reach;
                f.sphereLo[2] = m.z - reach;
                f.sphereHi[0] = m.x + reach;
                f.sphereHi[1] = m.y + reach;
                f.sphereHi[2] = m.z + reach;
            }
        }
    }

    void indexFacet(int32_t id) {
        const FacetRecord& f = facets[id];
        if (f.rayMode == kBoxed) {
            gridInsertBox(rayGrid, id, f.rayLo, f.rayHi);
        } else if (f.rayMode == kAlways) {
            rayAlways.push_back(id);
        }
        if (f.sphereMode == kBoxed) {
            gridInsertBox(sphereGrid, id, f.sphereLo, f.sphereHi);
        } else if (f.sphereMode == kAlways) {
            sphereAlways.push_back(id);
        }
    }

    bool missingGreater(int32_t a, int32_t b) const { return labelLess(facets[b], facets[a]); }

    void pushMissing(int32_t id) {
        missingHeap.push_back(id);
        std::push_heap(missingHeap.begin(), missingHeap.end(),
                       [this](int32_t a, int32_t b) { return missingGreater(a, b); });
    }

    int32_t addFacet(const std::array<int64_t, 3>& v, int32_t root, std::string path) {
        const int32_t id = static_cast<int32_t>(facets.size());
        facets.emplace_back();
        FacetRecord& f = facets.back();
        f.v = v;
        f.root = root;
        f.path = std::move(path);
        prepareFacet(f);
        ++liveFacets;
        for (int64_t p : v) onSurface[static_cast<size_t>(p)] = 1;
        TripleState& t = triples[tripleKey(v[0], v[1], v[2])];
        t.facets.push_back(id);
        if (t.cells == 0) {
            ++missing;
            pushMissing(id);
        }
        edgeFacets[edgeKey(v[0], v[1])].push_back(id);
        edgeFacets[edgeKey(v[1], v[2])].push_back(id);
        edgeFacets[edgeKey(v[2], v[0])].push_back(id);
        if (gridsReady) indexFacet(id);
        return id;
    }

    void removeFrom(std::vector<int32_t>& list, int32_t id) {
        const auto it = std::find(list.begin(), list.end(), id);
        if (it != list.end()) list.erase(it);
    }

    void killFacet(int32_t id) {
        FacetRecord& f = facets[id];
        f.alive = false;
        --liveFacets;
        TripleState& t = triples[tripleKey(f.v[0], f.v[1], f.v[2])];
        removeFrom(t.facets, id);
        if (t.cells == 0) --missing;
        removeFrom(edgeFacets[edgeKey(f.v[0], f.v[1])], id);
        removeFrom(edgeFacets[edgeKey(f.v[1], f.v[2])], id);
        removeFrom(edgeFacets[edgeKey(f.v[2], f.v[0])], id);
    }

    // ---- queries -------------------------------------------------------------------

    bool crosses(int32_t id, const Point3& p) const {
        const FacetRecord& f = facets[id];
        return rayCrossesFacet(p, at(f.v[0]), at(f.v[1]), at(f.v[2]));
    }

    bool insideQuery(const Point3& p) const {
        int64_t crossings = 0;
        if (!indexed || !inBox(p)) {
            for (size_t id = 0; id < facets.size(); ++id) {
                if (facets[id].alive && crosses(static_cast<int32_t>(id), p)) ++crossings;
            }
            return crossings % 2 == 1;
        }
        double q[2];
        project(p, q);
        gridForPoint(rayGrid, q, [&](int32_t id) {
            if (facets[id].alive && crosses(id, p)) ++crossings;
        });
        for (int32_t id : rayAlways) {
            if (facets[id].alive && crosses(id, p)) ++crossings;
        }
        return crossings % 2 == 1;
    }

    /// The first facet by label whose protective sphere strictly holds x, or -1.
    int32_t sphereQuery(const Point3& x) const {
        int32_t best = -1;
        auto consider = [&](int32_t id) {
            const FacetRecord& f = facets[id];
            if (!f.alive || !facetSphereHolds(f.sphere, x)) return;
            if (best < 0 || labelLess(f, facets[best])) best = id;
        };
        if (!indexed) {
            for (size_t id = 0; id < facets.size(); ++id) consider(static_cast<int32_t>(id));
            return best;
        }
        const double q[3] = {x.x, x.y, x.z};
        gridForPoint(sphereGrid, q, consider);
        for (int32_t id : sphereAlways) consider(id);
        return best;
    }

    // ---- cells ---------------------------------------------------------------------

    bool liveCandidate(int32_t slot) const {
        return slot >= 0 && static_cast<size_t>(slot) < verdict.size() && engine.alive[slot] &&
               verdict[slot].candidate;
    }

    void registerVerdict(int32_t slot) {
        CellVerdict& c = verdict[slot];
        for (int which = 0; which < 2; ++which) {
            if (c.far[which]) {
                farItems.push_back(slot * 2 + which);
            } else {
                double q[2];
                project(c.at[which], q);
                gridInsertPoint(verdictGrid2, slot * 2 + which, q);
            }
        }
        const double x[3] = {c.at[1].x, c.at[1].y, c.at[1].z};
        gridInsertPoint(verdictGrid3, slot, x);
    }

    void judgeCell(int32_t slot) {
        CellVerdict& c = verdict[slot];
        c = CellVerdict{};
        if (!tetEngineIsReal(engine, slot)) return;
        const auto& v = engine.cell[slot];
        const Point3& p0 = engine.pts[v[0]];
        const Point3& p1 = engine.pts[v[1]];
        const Point3& p2 = engine.pts[v[2]];
        const Point3& p3 = engine.pts[v[3]];
        const TetQuality q = tetQuality(p0, p1, p2, p3);
        const bool tooLarge = params.maxVolume > 0 && q.volume > params.maxVolume;
        if (!(q.radiusEdgeRatio > rho || tooLarge)) return;
        Point3 x;
        if (!tetCircumcentre(p0, p1, p2, p3, x)) return;
        c.candidate = true;
        c.tooLarge = tooLarge;
        c.at[0] = centroid4(p0, p1, p2, p3);
        c.at[1] = x;
        for (int which = 0; which < 2; ++which) {
            c.far[which] = !indexed || !inBox(c.at[which]);
            c.inside[which] = insideQuery(c.at[which]);
        }
        c.encroached = sphereQuery(x);
        registerVerdict(slot);
        ++liveCandidates;
        if (acts(c)) actHeap.push(slot);
    }

    void nextStamp() {
        if (cellStamp.size() < verdict.size()) cellStamp.resize(verdict.size() + verdict.size() / 2 + 64, 0);
        if (++stampValue == 0) {
            std::fill(cellStamp.begin(), cellStamp.end(), 0u);
            stampValue = 1;
        }
        touched.clear();
    }

    void touch(int32_t slot) {
        if (cellStamp[slot] != stampValue) {
            cellStamp[slot] = stampValue;
            touched.push_back(slot);
        }
    }

    /// Cells with a face (a, b, c) of the facet's corners, counting as in the face set.
    void countFaces(int32_t slot, int32_t delta) {
        const auto& v = engine.cell[slot];
        for (int k = 0; k < 4; ++k) {
            const int* f = kTetFaces[k];
            const int32_t a = v[f[0]];
            const int32_t b = v[f[1]];
            const int32_t c = v[f[2]];
            if (a < 4 || b < 4 || c < 4) continue;
            if (!onSurface[a - 4] || !onSurface[b - 4] || !onSurface[c - 4]) continue;
            const auto found = triples.find(tripleKey(a - 4, b - 4, c - 4));
            if (found == triples.end()) continue;
            TripleState& t = found->second;
            const int32_t before = t.cells;
            t.cells += delta;
            if (before == 0 && t.cells > 0) {
                missing -= static_cast<int64_t>(t.facets.size());
            } else if (before > 0 && t.cells == 0) {
                missing += static_cast<int64_t>(t.facets.size());
                for (int32_t id : t.facets) pushMissing(id);
            }
        }
    }

    // ---- rebuilding state from scratch ----------------------------------------------

    void rebuildGrids() {
        double total = 0;
        int64_t count = 0;
        for (const FacetRecord& f : facets) {
            if (!f.alive) continue;
            const Point3 a = at(f.v[0]);
            const Point3 b = at(f.v[1]);
            const Point3 c = at(f.v[2]);
            total += std::max(length3(sub3(b, a)), std::max(length3(sub3(c, b)), length3(sub3(a, c))));
            ++count;
        }
        double cell = count > 0 ? 0.5 * total / static_cast<double>(count) : diameter;
        if (!(cell > diameter * 1e-6)) cell = diameter * 1e-6;
        if (!(cell > 0) || !std::isfinite(cell)) cell = 1;
        double projectedLo[2];
        project(boxLo, projectedLo);
        // The projection of the box lies within a disc of radius `diameter` about the
        // projection of its low corner.
        const double origin2[2] = {projectedLo[0] - diameter, projectedLo[1] - diameter};
        const double origin3[3] = {boxLo.x, boxLo.y, boxLo.z};
        gridReset(rayGrid, origin2, cell);
        gridReset(sphereGrid, origin3, cell);
        rayAlways.clear();
        sphereAlways.clear();
        for (size_t id = 0; id < facets.size(); ++id) {
            if (facets[id].alive) indexFacet(static_cast<int32_t>(id));
        }
        facetsAtIndexBuild = liveFacets;
        gridsReady = true;
        rebuildVerdictGrids();
    }

    /// The grids of the candidates' points, on the cells of the facet grids; entries of
    /// dead cells are dropped.
    void rebuildVerdictGrids() {
        gridReset(verdictGrid2, rayGrid.origin, 1.0 / rayGrid.inverseCell);
        gridReset(verdictGrid3, sphereGrid.origin, 1.0 / sphereGrid.inverseCell);
        farItems.clear();
        liveCandidates = 0;
        for (size_t slot = 0; slot < verdict.size(); ++slot) {
            if (liveCandidate(static_cast<int32_t>(slot))) {
                registerVerdict(static_cast<int32_t>(slot));
                ++liveCandidates;
            }
        }
    }

    void resyncVerdicts() {
        verdict.assign(engine.cell.size(), CellVerdict{});
        actHeap = {};
        rebuildGrids();
        for (size_t slot = 0; slot < engine.cell.size(); ++slot) {
            if (engine.alive[slot]) judgeCell(static_cast<int32_t>(slot));
        }
    }

    void resyncFaces() {
        for (auto& entry : triples) entry.second.cells = 0;
        for (size_t slot = 0; slot < engine.cell.size(); ++slot) {
            if (engine.alive[slot]) countFaces(static_cast<int32_t>(slot), 1);
        }
        missing = 0;
        missingHeap.clear();
        for (size_t id = 0; id < facets.size(); ++id) {
            const FacetRecord& f = facets[id];
            if (!f.alive) continue;
            if (triples[tripleKey(f.v[0], f.v[1], f.v[2])].cells == 0) {
                ++missing;
                pushMissing(static_cast<int32_t>(id));
            }
        }
    }

    void compact() {
        std::vector<int32_t> remap;
        tetEngineCompact(engine, remap);
        std::vector<CellVerdict> moved(engine.cell.size());
        for (size_t slot = 0; slot < remap.size() && slot < verdict.size(); ++slot) {
            if (remap[slot] >= 0) moved[remap[slot]] = verdict[slot];
        }
        verdict.swap(moved);
        std::fill(cellStamp.begin(), cellStamp.end(), 0u);
        actHeap = {};
        for (size_t slot = 0; slot < verdict.size(); ++slot) {
            if (liveCandidate(static_cast<int32_t>(slot)) && acts(verdict[slot])) {
                actHeap.push(static_cast<int32_t>(slot));
            }
        }
        hint = -1;
        rebuildGrids();
    }

    /// Brings the engine up to the current points and follows its changes. False when
    /// the tetrahedralization is empty.
    bool syncEngine() {
        if (engineHeld < points.size()) {
            tetEngineAppend(engine, points, hint);
            engineHeld = points.size();
            hint = -1;
            if (engine.rebuilt) {
                resyncVerdicts();
                resyncFaces();
            } else {
                verdict.resize(engine.cell.size());
                for (int32_t slot : engine.killed) {
                    countFaces(slot, -1);
                    if (verdict[slot].candidate) --liveCandidates;
                }
                for (int32_t slot : engine.created) {
                    countFaces(slot, 1);
                    judgeCell(slot);
                }
            }
            if (tetEngineWantsCompaction(engine)) {
                compact();
            } else if (verdictGrid3.entryItem.size() > static_cast<size_t>(4 * liveCandidates) + 4096) {
                rebuildVerdictGrids();
            }
        }
        result.fallbacks = engine.fallbacks + mesherFallbacks;
        return !engine.degenerate && engine.realCells > 0;
    }

    int64_t mesherFallbacks = 0;

    // ---- splits --------------------------------------------------------------------

    /// Updates the verdicts after the facets `gone` were replaced by `born`.
    void updateVerdicts(const std::vector<int32_t>& gone, const std::vector<int32_t>& born) {
        nextStamp();
        auto toggle = [&](int32_t item, int32_t id) {
            const int32_t slot = item >> 1;
            const int which = item & 1;
            if (!liveCandidate(slot)) return;
            CellVerdict& c = verdict[slot];
            if (crosses(id, c.at[which])) {
                c.inside[which] = !c.inside[which];
                touch(slot);
            }
        };
        for (const std::vector<int32_t>* list : {&gone, &born}) {
            for (int32_t id : *list) {
                const FacetRecord& f = facets[id];
                if (f.rayMode == kNever) continue;
                if (f.rayMode == kAlways) {
                    for (size_t slot = 0; slot < verdict.size(); ++slot) {
                        toggle(static_cast<int32_t>(slot * 2), id);
                        toggle(static_cast<int32_t>(slot * 2 + 1), id);
                    }
                    continue;
                }
                gridForBox(verdictGrid2, f.rayLo, f.rayHi, [&](int32_t item) {
                    if (liveCandidate(item >> 1) && !verdict[item >> 1].far[item & 1]) toggle(item, id);
                });
                for (int32_t item : farItems) {
                    if (liveCandidate(item >> 1) && verdict[item >> 1].far[item & 1]) toggle(item, id);
                }
            }
        }
        auto recheck = [&](int32_t slot) {
            if (!liveCandidate(slot)) return;
            CellVerdict& c = verdict[slot];
            if (c.encroached >= 0 && !facets[c.encroached].alive) {
                c.encroached = sphereQuery(c.at[1]);
            } else {
                for (int32_t id : born) {
                    const FacetRecord& f = facets[id];
                    if (facetSphereHolds(f.sphere, c.at[1]) &&
                        (c.encroached < 0 || labelLess(f, facets[c.encroached]))) {
                        c.encroached = id;
                    }
                }
            }
            touch(slot);
        };
        // Every cell whose circumcentre lies in an old or new sphere, once.
        std::vector<int32_t> sphereCells;
        bool everything = false;
        for (const std::vector<int32_t>* list : {&gone, &born}) {
            for (int32_t id : *list) {
                const FacetRecord& f = facets[id];
                if (f.sphereMode == kAlways) everything = true;
                if (f.sphereMode != kBoxed) continue;
                gridForBox(verdictGrid3, f.sphereLo, f.sphereHi, [&](int32_t slot) {
                    if (liveCandidate(slot)) sphereCells.push_back(slot);
                });
            }
        }
        if (everything) {
            sphereCells.clear();
            for (size_t slot = 0; slot < verdict.size(); ++slot) {
                if (liveCandidate(static_cast<int32_t>(slot))) sphereCells.push_back(static_cast<int32_t>(slot));
            }
        }
        std::sort(sphereCells.begin(), sphereCells.end());
        sphereCells.erase(std::unique(sphereCells.begin(), sphereCells.end()), sphereCells.end());
        for (int32_t slot : sphereCells) recheck(slot);
        for (int32_t slot : touched) {
            if (liveCandidate(slot) && acts(verdict[slot])) actHeap.push(slot);
        }
    }

    /// splitBoundaryEdge on the kept state: appends the midpoint of a and b and replaces
    /// every facet with the edge {a, b} by (a, m, o) and (m, b, o) at its place.
    int64_t splitEdge(int64_t a, int64_t b) {
        const int64_t m = static_cast<int64_t>(points.size());
        points.push_back(midpoint3(points[a], points[b]));
        onSurface.push_back(0);
        std::vector<int32_t> gone = edgeFacets[edgeKey(a, b)];
        std::sort(gone.begin(), gone.end());
        std::vector<int32_t> born;
        for (int32_t id : gone) {
            const std::array<int64_t, 3> v = facets[id].v;
            int64_t o = v[0];
            for (int64_t w : v) {
                if (w != a && w != b) o = w;
            }
            killFacet(id);
            const int32_t root = facets[id].root;
            const std::string path = facets[id].path;
            born.push_back(addFacet({a, m, o}, root, path + '0'));
            born.push_back(addFacet({m, b, o}, root, path + '1'));
        }
        updateVerdicts(gone, born);
        if (liveFacets >= facetsAtIndexBuild + facetsAtIndexBuild / 4 + 64) rebuildGrids();
        pointAdded(m);
        hint = engine.vertexCell.size() > static_cast<size_t>(a + 4) ? engine.vertexCell[a + 4] : -1;
        return m;
    }

    // ---- segments ------------------------------------------------------------------

    bool encroaches(int64_t v, const Segment& s) const {
        const int64_t a = s.v[0];
        const int64_t b = s.v[1];
        if (v == a || v == b) return false;
        return dot3(sub3(points[v], points[a]), sub3(points[v], points[b])) < 0;
    }

    /// The box around the diametral sphere of a segment outside which the float test
    /// (p - a).(p - b) < 0 cannot hold: its rounding is far below the relative margin.
    /// False when the sphere is too small (or the scale too extreme) for that argument.
    bool segmentBox(const Segment& seg, double* lo, double* hi) const {
        const Point3& a = points[seg.v[0]];
        const Point3& b = points[seg.v[1]];
        const Point3 m = midpoint3(a, b);
        const double r = 0.5 * length3(sub3(b, a));
        if (!indexed || !(r * r >= 1e-200) || !std::isfinite(r)) return false;
        const double reach =
            r * (1 + 1e-6) + 1e-12 * (std::fabs(m.x) + std::fabs(m.y) + std::fabs(m.z) + r);
        lo[0] = m.x - reach;
        lo[1] = m.y - reach;
        lo[2] = m.z - reach;
        hi[0] = m.x + reach;
        hi[1] = m.y + reach;
        hi[2] = m.z + reach;
        return true;
    }

    void rebuildPointGrid() {
        const double origin[3] = {boxLo.x, boxLo.y, boxLo.z};
        const double extent = std::max(boxHi.x - boxLo.x, std::max(boxHi.y - boxLo.y, boxHi.z - boxLo.z));
        gridReset(pointGrid, origin, extent / std::cbrt(static_cast<double>(points.size()) + 1));
        for (size_t v = 0; v < points.size(); ++v) {
            const double p[3] = {points[v].x, points[v].y, points[v].z};
            gridInsertPoint(pointGrid, static_cast<int32_t>(v), p);
        }
        pointsAtGridBuild = points.size();
    }

    void indexSegment(size_t s) {
        double lo[3], hi[3];
        if (segmentBox(segments[s], lo, hi)) {
            gridInsertBox(segmentGrid, static_cast<int32_t>(s), lo, hi);
        } else {
            segmentsAlways.push_back(static_cast<int32_t>(s));
        }
    }

    /// Whether some point lies strictly inside the diametral sphere of segment s.
    void markSegment(size_t s) {
        segmentEncroached[s] = 0;
        indexSegment(s);
        bool found = false;
        double lo[3], hi[3];
        if (segmentBox(segments[s], lo, hi)) {
            gridForBox(pointGrid, lo, hi, [&](int32_t v) {
                if (!found && encroaches(v, segments[s])) found = true;
            });
        } else {
            for (size_t v = 0; v < points.size() && !found; ++v) found = encroaches(static_cast<int64_t>(v), segments[s]);
        }
        if (found) {
            segmentEncroached[s] = 1;
            segmentHeap.push(static_cast<int64_t>(s));
        }
    }

    void pointAdded(int64_t v) {
        if (segments.empty()) return;
        if (points.size() >= 2 * pointsAtGridBuild) {
            rebuildPointGrid();
        } else {
            const double p[3] = {points[v].x, points[v].y, points[v].z};
            gridInsertPoint(pointGrid, static_cast<int32_t>(v), p);
        }
        auto test = [&](int32_t s) {
            if (!segmentEncroached[s] && encroaches(v, segments[s])) {
                segmentEncroached[s] = 1;
                segmentHeap.push(static_cast<int64_t>(s));
            }
        };
        const double p[3] = {points[v].x, points[v].y, points[v].z};
        gridForPoint(segmentGrid, p, test);
        for (int32_t s : segmentsAlways) test(s);
        // Split segments leave their old boxes behind: start afresh now and then.
        if (segmentGrid.entryItem.size() > 8 * segments.size() + 1024) {
            const double origin[3] = {boxLo.x, boxLo.y, boxLo.z};
            gridReset(segmentGrid, origin, 1.0 / pointGrid.inverseCell);
            segmentsAlways.clear();
            for (size_t s = 0; s < segments.size(); ++s) indexSegment(s);
        }
    }

    // ---- the end -------------------------------------------------------------------

    std::vector<TetCell> interior(double* volume) const {
        std::vector<TetCell> inside;
        double sum = 0.0;
        for (size_t slot = 0; slot < engine.cell.size(); ++slot) {
            if (!tetEngineIsReal(engine, static_cast<int32_t>(slot))) continue;
            const auto& v = engine.cell[slot];
            const TetCell t{{v[0] - 4, v[1] - 4, v[2] - 4, v[3] - 4}};
            const Point3& p0 = points[t.v[0]];
            const Point3& p1 = points[t.v[1]];
            const Point3& p2 = points[t.v[2]];
            const Point3& p3 = points[t.v[3]];
            if (!insideQuery(centroid4(p0, p1, p2, p3))) continue;
            inside.push_back(t);
            if (volume != nullptr) {
                sum = sum + std::fabs(dot3(sub3(p1, p0), cross3(sub3(p2, p0), sub3(p3, p0)))) / 6.0;
            }
        }
        if (volume != nullptr) *volume = sum;
        return inside;
    }

    void salvage(double enclosed) {
        if (!(enclosed > 0) || !std::isfinite(enclosed)) return;
        if (!syncEngine()) return;
        double sum = 0.0;
        std::vector<TetCell> inside = interior(&sum);
        if (!(std::fabs(sum - enclosed) <= enclosed * 1e-6)) return;
        result.tets = std::move(inside);
        result.ok = true;
    }

    bool hasFace(const std::array<int64_t, 3>& v) {
        const int32_t a = static_cast<int32_t>(v[0] + 4);
        const int32_t b = static_cast<int32_t>(v[1] + 4);
        const int32_t c = static_cast<int32_t>(v[2] + 4);
        const int32_t start = engine.vertexCell[a];
        if (start < 0 || !engine.alive[start]) return false;
        nextStamp();
        std::vector<int32_t> stack{start};
        touch(start);
        while (!stack.empty()) {
            const int32_t t = stack.back();
            stack.pop_back();
            const auto& w = engine.cell[t];
            const bool hasB = w[0] == b || w[1] == b || w[2] == b || w[3] == b;
            const bool hasC = w[0] == c || w[1] == c || w[2] == c || w[3] == c;
            if (hasB && hasC) return true;
            for (int k = 0; k < 4; ++k) {
                if (w[k] == a) continue;  // the face opposite a does not hold a
                const int32_t ref = engine.next[t][k];
                if (ref < 0) continue;
                const int32_t u = ref >> 2;
                if (static_cast<size_t>(u) >= cellStamp.size()) cellStamp.resize(u + 64, 0);
                if (cellStamp[u] != stampValue) {
                    cellStamp[u] = stampValue;
                    stack.push_back(u);
                }
            }
        }
        return false;
    }

    /// The first missing facet by label, -1 when none; checked against the cells.
    int32_t firstMissing() {
        auto greater = [this](int32_t a, int32_t b) { return missingGreater(a, b); };
        while (!missingHeap.empty()) {
            const int32_t id = missingHeap.front();
            const FacetRecord& f = facets[id];
            if (f.alive && triples[tripleKey(f.v[0], f.v[1], f.v[2])].cells == 0) return id;
            std::pop_heap(missingHeap.begin(), missingHeap.end(), greater);
            missingHeap.pop_back();
        }
        return -1;
    }

    int32_t firstActing() {
        while (!actHeap.empty()) {
            const int32_t slot = actHeap.top();
            if (liveCandidate(slot) && acts(verdict[slot])) return slot;
            actHeap.pop();
        }
        return -1;
    }

    void run(const Plc& plc);
};

void Mesher::run(const Plc& plc) {
    maxPoints = std::min<int64_t>(params.maxPoints, kMaxTetMeshPoints);
    rho = ratioLimit(params.radiusEdgeBound);
    segments = plc.segments;
    segmentEncroached.assign(segments.size(), 0);
    onSurface.assign(points.size(), 0);

    // The indexed box: the input facets' corners (later corners are midpoints inside it),
    // widened by half its extent so that most query points fall inside.
    boxLo = boxHi = at(plc.facets[0].v[0]);
    for (const Facet& f : plc.facets) {
        for (int64_t i : f.v) {
            const Point3 p = at(i);
            boxLo = Point3{std::min(boxLo.x, p.x), std::min(boxLo.y, p.y), std::min(boxLo.z, p.z)};
            boxHi = Point3{std::max(boxHi.x, p.x), std::max(boxHi.y, p.y), std::max(boxHi.z, p.z)};
        }
    }
    const double extent = std::max(boxHi.x - boxLo.x, std::max(boxHi.y - boxLo.y, boxHi.z - boxLo.z));
    const double pad = extent > 0 ? 0.5 * extent : 1.0;
    boxLo = Point3{boxLo.x - pad, boxLo.y - pad, boxLo.z - pad};
    boxHi = Point3{boxHi.x + pad, boxHi.y + pad, boxHi.z + pad};
    diameter = length3(sub3(boxHi, boxLo));
    scale = std::max(std::max(std::fabs(boxLo.x), std::fabs(boxHi.x)),
                     std::max(std::max(std::fabs(boxLo.y), std::fabs(boxHi.y)),
                              std::max(std::fabs(boxLo.z), std::fabs(boxHi.z))));
    // Far outside this range the float tests lose their relative accuracy (underflow,
    // overflow): every query then looks at every facet.
    indexed = diameter > 1e-100 && diameter < 1e100 && scale < 1e100;
    const double dn = length3(kRayDirection);
    const Point3 d{kRayDirection.x / dn, kRayDirection.y / dn, kRayDirection.z / dn};
    const Point3 u = cross3(d, Point3{0, 0, 1});
    const double un = length3(u);
    axisU = Point3{u.x / un, u.y / un, u.z / un};
    axisW = cross3(d, axisU);

    facets.reserve(plc.facets.size() * 2);
    for (size_t i = 0; i < plc.facets.size(); ++i) addFacet(plc.facets[i].v, static_cast<int32_t>(i), "");

    const int64_t limit = params.iterationLimit > 0
                              ? params.iterationLimit
                              : recoveryIterationLimit(static_cast<int64_t>(segments.size()),
                                                       static_cast<int64_t>(plc.facets.size()));
    const double enclosed = enclosedVolume(plc.points, plc.facets);
    int64_t bestMissing = static_cast<int64_t>(plc.facets.size()) + 1;
    int32_t stall = 0;
    int64_t iterations = 0;

    tetEngineBuild(engine, points);
    engineHeld = points.size();
    result.fallbacks = engine.fallbacks;
    if (engine.degenerate || engine.realCells == 0) return;
    resyncVerdicts();
    resyncFaces();
    if (!segments.empty()) {
        rebuildPointGrid();
        const double origin[3] = {boxLo.x, boxLo.y, boxLo.z};
        gridReset(segmentGrid, origin, 1.0 / pointGrid.inverseCell);
    }
    for (size_t s = 0; s < segments.size(); ++s) markSegment(s);

    auto recoveryExhausted = [&]() {
        ++result.steinerCount;
        ++iterations;
        return result.steinerCount > params.maxSteinerPoints || iterations > limit;
    };
    auto overPointLimit = [&]() {
        if (static_cast<int64_t>(points.size()) <= maxPoints) return false;
        result.pointLimitReached = true;
        return true;
    };

    for (;;) {
        if (!syncEngine()) return;

        // Segment step: split the first segment whose diametral sphere holds a point.
        while (!segmentHeap.empty() && !segmentEncroached[segmentHeap.top()]) segmentHeap.pop();
        if (!segmentHeap.empty()) {
            const size_t s = static_cast<size_t>(segmentHeap.top());
            segmentHeap.pop();
            const int64_t a = segments[s].v[0];
            const int64_t b = segments[s].v[1];
            const int64_t m = splitEdge(a, b);
            segments[s] = Segment{{a, m}};
            segments.push_back(Segment{{m, b}});
            segmentEncroached.push_back(0);
            markSegment(s);
            markSegment(segments.size() - 1);
            if (recoveryExhausted()) {
                salvage(enclosed);
                return;
            }
            if (overPointLimit()) return;
            continue;
        }

        // Facet step: every facet must be a face of the tetrahedralization.
        int32_t first = -1;
        if (missing > 0) {
            first = firstMissing();
            if (first < 0 || hasFace(facets[first].v)) {
                ++mesherFallbacks;  // the counts disagree with the cells: count afresh
                resyncFaces();
                first = missing > 0 ? firstMissing() : -1;
            }
        }
        if (missing > 0 && first >= 0) {
            if (missing >= bestMissing && stall + 1 > kMaxStalledFacetSteps) {
                salvage(enclosed);
                return;
            }
            stall = missing >= bestMissing ? stall + 1 : 0;
            bestMissing = std::min(bestMissing, missing);
            const std::array<int64_t, 2> edge = longestFacetEdge(points, Facet{facets[first].v});
            splitEdge(edge[0], edge[1]);
            if (recoveryExhausted()) {
                salvage(enclosed);
                return;
            }
            if (overPointLimit()) return;
            continue;
        }

        // Refinement step; running out of budget here ends the run normally.
        if (result.steinerCount < params.maxSteinerPoints) {
            int32_t slot = firstActing();
            if (slot >= 0) {
                // The kept verdict must agree with a fresh one.
                const CellVerdict& c = verdict[slot];
                if (insideQuery(c.at[0]) != c.inside[0] || insideQuery(c.at[1]) != c.inside[1] ||
                    sphereQuery(c.at[1]) != c.encroached) {
                    ++mesherFallbacks;
                    resyncVerdicts();
                    slot = firstActing();
                }
            }
            if (slot >= 0) {
                const CellVerdict c = verdict[slot];
                if (c.encroached < 0) {
                    points.push_back(c.at[1]);
                    onSurface.push_back(0);
                    pointAdded(static_cast<int64_t>(points.size()) - 1);
                    hint = slot;
                } else {
                    const std::array<int64_t, 2> edge = longestFacetEdge(points, Facet{facets[c.encroached].v});
                    splitEdge(edge[0], edge[1]);
                }
                iterations = 0;
                ++result.steinerCount;
                if (overPointLimit()) return;
                continue;
            }
        }

        // A surface that encloses nothing (a facet list that cancels itself) leaves no
        // interior tetrahedron: that is no mesh of a solid.
        result.tets = interior(nullptr);
        result.ok = !result.tets.empty();
        return;
    }
}

}  // namespace

TetMesh meshQualityTets(const Plc& plc, const TetMeshParams& params) {
    TetMesh result;
    result.points = plc.points;
    if (plc.facets.empty()) return result;
    std::string unused;
    if (!checkPlc(plc, unused)) {
        result.pointLimitReached = static_cast<int64_t>(plc.points.size()) > kMaxTetMeshPoints ||
                                   static_cast<int64_t>(plc.facets.size()) > kMaxTetMeshFacets ||
                                   static_cast<int64_t>(plc.segments.size()) > kMaxTetMeshSegments;
        return result;
    }
    if (static_cast<int64_t>(plc.points.size()) > params.maxPoints) {
        result.pointLimitReached = true;
        return result;
    }
    Mesher mesher(params, result);
    mesher.run(plc);
    result.fallbacks = mesher.engine.fallbacks + mesher.mesherFallbacks;
    return result;
}
