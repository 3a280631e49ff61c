#pragma once
// Incremental planar Delaunay triangulation with the same triangles, in the same order, as
// Bowyer-Watson insertion that tests every current triangle for every point.
//
// Why the two agree:
// - The scanning insertion keeps the surviving triangles in their order and appends the
//   new ones in the order of the cavity's boundary edges, so its list always equals the
//   live triangles sorted by creation number. The engine numbers triangles as it creates
//   them and sorts by that number when it hands the list out.
// - The triangles whose circumcircle strictly holds the new point form an edge-connected
//   disk around the triangle that holds the point (the triangulation is Delaunay for all
//   points so far, super corners included). The engine finds that triangle by a walk with
//   the exact orientation test and collects the cavity over edge adjacency with the same
//   exact in-circle test the scan uses; new triangles are created for the cavity's
//   boundary edges in the scan's order (cavity triangles by creation number, then their
//   edges (t0, t1), (t1, t2), (t2, t0)). A point equal to an earlier one lies on, never
//   inside, every circumcircle: it adds nothing, as in the scan.
// - The super triangle depends only on the bounding box of the points. Appending points
//   inside the box gives what triangulating the longer list from scratch gives; a point
//   that widens the box makes the engine start again from scratch.
//
// The reasoning needs exact predicates: coordinates that are finite and either zero or of
// magnitude between 2^-200 and 2^200 keep every product of the in-circle test clear of
// underflow and overflow. Where a point falls outside that range, or an internal check
// meets what the reasoning rules out (a walk that does not end or leaves the super
// triangle, a holding triangle whose circle does not hold the point, a cavity that is not
// a disk seen from the point), the engine counts a fallback and from then on inserts by
// scanning every live triangle in creation order, exactly as the plain algorithm does.

#include <array>
#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh2d/triangulation.hpp"

/// One triangle slot: 32 bytes, so that a triangle's corners, neighbours, number and
/// stamp share a cache line.
struct TriSlot {
    std::array<int32_t, 3> v;  ///< corner ids, counter-clockwise
    std::array<int32_t, 3> n;  ///< across edge k = (v[k], v[k+1]): slot, or -1
    uint32_t order;            ///< creation number; kFreeSlot when the slot is free
    uint32_t stamp;            ///< scratch of one insertion
};

constexpr uint32_t kFreeSlot = ~uint32_t{0};

/// Vertex ids inside the engine are point index + 3; ids 0..2 are the super corners.
/// Triangles live in slots that are reused once free; `order` gives the creation number.
struct TriEngine {
    std::vector<Point2> pts;       ///< the super corners, then the points
    std::vector<TriSlot> slots;
    std::vector<int32_t> freeSlots;
    std::vector<int32_t> vertexTri;  ///< per id: a live slot with that corner, or -1
    uint32_t nextOrder = 0;
    int64_t liveCount = 0;
    int64_t realCount = 0;  ///< live triangles without a super corner
    double minx = 0, maxx = 0, miny = 0, maxy = 0;  ///< bounding box of the points
    /// Insertion by scanning: adjacency and vertexTri are no longer kept; scanList holds
    /// the live slots in creation order.
    bool scanMode = false;
    std::vector<int32_t> scanList;
    int64_t fallbacks = 0;  ///< insertions made by scanning, and failed walks
    /// Set by triEngineAppend when the slots were rebuilt or renumbered: per-slot data of
    /// the caller must be recomputed from all live slots.
    bool rebuilt = false;
    std::vector<int32_t> created;  ///< slots created by the last insertion, in creation order

    // Walk starts: a coarse grid remembering the last vertex inserted in each cell.
    std::vector<int32_t> startCell;
    double gridX0 = 0, gridY0 = 0, gridInv = 1;
    int32_t gridNx = 1, gridNy = 1;
    int64_t gridCapacity = 0;  ///< inserted points beyond which the grid is rebuilt finer
    int64_t inserted = 0;      ///< points that are vertices of the triangulation
    int32_t lastVertex = -1;

    // Scratch of one insertion.
    uint32_t stampValue = 0;
    std::vector<int32_t> cavity;
    std::vector<int32_t> stack;
    struct BoundaryEdge {
        int32_t u, w;
        int32_t outer;      ///< slot beyond the edge, or -1
        int32_t outerEdge;  ///< the edge (w, u) in that slot
        int32_t slot;       ///< the new triangle
    };
    std::vector<BoundaryEdge> boundary;
    std::vector<uint32_t> vertexMark;  ///< per id, for cavities with many boundary edges
    std::vector<int32_t> startOf;      ///< per id: the boundary edge starting there
    std::vector<uint64_t> keys;
    std::vector<int32_t> kept;
};

/// Triangulates `points` (3 or more) from scratch.
void triEngineBuild(TriEngine& engine, const std::vector<Point2>& points);

/// Inserts points[k..] for the k points the engine holds, or rebuilds from scratch when
/// one of them widens the bounding box. `hint` is a live slot near the first new point,
/// or -1. `created` lists the slots of the last insertion.
void triEngineAppend(TriEngine& engine, const std::vector<Point2>& points, int32_t hint = -1);

/// The number of points the engine holds.
inline int64_t triEnginePointCount(const TriEngine& engine) {
    return static_cast<int64_t>(engine.pts.size()) - 3;
}

/// Whether the slot holds a live triangle without a super corner.
inline bool triEngineIsReal(const TriEngine& engine, int32_t slot) {
    const TriSlot& t = engine.slots[slot];
    return t.order != kFreeSlot && t.v[0] >= 3 && t.v[1] >= 3 && t.v[2] >= 3;
}

/// Whether some point equals p, found by a walk from `hint` (a live slot or -1): a point
/// that repeats another is never a vertex, but the first of its kind is. Answers by
/// scanning the points (and counts a fallback) where the walk cannot.
bool triEngineHasPointAt(TriEngine& engine, const Point2& p, int32_t hint);

/// Numbers the live triangles 0, 1, ... in their order (the engine does so itself when the
/// numbers run high) and sets `rebuilt`.
void triEngineRenumber(TriEngine& engine);

/// The live slots without a super corner, in creation order.
std::vector<int32_t> triEngineRealSlots(const TriEngine& engine);

/// The live triangles without a super corner, in creation order, as point indices.
std::vector<Triangle> triEngineTriangles(const TriEngine& engine);

/// Whether points a and b are joined by an edge of a live triangle without a super corner.
bool triEngineHasEdge(const TriEngine& engine, int64_t a, int64_t b);

/// True for a coordinate the engine's reasoning covers: finite, and zero or of magnitude
/// between 2^-200 and 2^200.
bool exactSafeCoordinate(double c);
