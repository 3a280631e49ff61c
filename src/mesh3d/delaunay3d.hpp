#pragma once
// Delaunay tetrahedralization of a point set by Bowyer-Watson insertion into an enclosing
// super-tetrahedron, in input order, with exact orientation and in-sphere tests.
//
// The cells come out exactly as a plain insertion that tests every current cell for every
// point would give them: numbered in creation order, the new cells of each insertion
// following the survivors in the order of the cavity cells and their faces F0..F3. The
// engine finds the cell holding a point by a walk with the exact orientation test and
// collects the cavity (the cells whose circumsphere strictly holds the point) over face
// adjacency with the exact in-sphere test; a conflict region is face-connected around the
// cell that holds the point, so the two agree. The super-tetrahedron depends only on the
// bounding box: a point that widens it makes the engine start again from scratch.
//
// Wherever an internal check meets what that reasoning rules out (a walk that does not
// end, a holding cell outside the cavity, a cavity boundary that is not a sphere seen from
// the point), the engine counts a fallback and takes the cells from the plain insertion.

#include <array>
#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh3d/solid_output.hpp"

/// The result of the degeneracy test: two points that differ and a third off their line.
struct SpanningTriple {
    bool found = false;
    int64_t i0 = 0;
    int64_t i1 = 0;
    int64_t i2 = 0;
};

/// i0 = 0; i1 = the first point that differs from point 0 in some coordinate (exact
/// comparison, NaN counts as different); i2 = the first point after i1 whose offset from
/// point 0 has a cross product with (p[i1] - p[0]) that is not exactly zero.
SpanningTriple findSpanningTriple(const std::vector<Point3>& points);

/// (i, j, k, l) when orient3d of the four points is zero or positive, else (i, k, j, l).
TetCell orientTet(int64_t i, int64_t j, int64_t k, int64_t l, const std::vector<Point3>& points);

/// The faces of a cell in their fixed order, each counter-clockwise seen from outside a
/// positively oriented cell (two cells sharing a face list it in opposite orders):
///   F0 = (t1, t3, t2) opposite t0,  F1 = (t0, t2, t3) opposite t1,
///   F2 = (t0, t3, t1) opposite t2,  F3 = (t0, t1, t2) opposite t3.
constexpr int kTetFaces[4][3] = {{1, 3, 2}, {0, 2, 3}, {0, 3, 1}, {0, 1, 2}};

/// The Delaunay tetrahedralization of `points` (indices into the input). Empty when there
/// are fewer than four points or all of them lie in one plane (or on one line, or
/// coincide). A repeated point is inserted once: no cell refers to its later copies.
/// Every cell is positively oriented (orient3d of its corners is not negative).
///
/// Cells come out in insertion order: cells that survive an insertion keep their
/// relative order and the cells it creates follow them, in the order of the cavity cells
/// and their faces F0..F3.
std::vector<TetCell> delaunayTetrahedralize(const std::vector<Point3>& points);

/// delaunayTetrahedralize, adding to `fallbacks` the number of times the engine fell back
/// on the plain insertion (zero unless an internal check failed).
std::vector<TetCell> delaunayTetrahedralize(const std::vector<Point3>& points, int64_t& fallbacks);

/// The plain insertion: every current cell is tested for every point. Quadratic; the
/// engine's fallback. Returns every cell, also those on the super-tetrahedron, whose
/// corners are numbered n..n+3 (n points); empty in the degenerate cases above.
std::vector<TetCell> tetrahedralizeByScan(const std::vector<Point3>& points);

/// The incremental tetrahedralization. Vertex ids inside the engine are point index + 4;
/// ids 0..3 are the corners of the super-tetrahedron. Cells live in slots in creation
/// order; a slot is dead once its cell left the tetrahedralization, until compaction.
struct TetEngine {
    std::vector<Point3> pts;                   ///< the four super corners, then the points
    std::vector<std::array<int32_t, 4>> cell;  ///< corner ids per slot
    std::vector<std::array<int32_t, 4>> next;  ///< across face k: slot * 4 + face there, or -1
    std::vector<uint8_t> alive;
    std::vector<int32_t> vertexCell;  ///< per id: a live cell with that corner, or -1
    int64_t liveCells = 0;
    int64_t realCells = 0;       ///< live cells without a super corner
    bool degenerate = true;      ///< fewer than four points, or all in one plane
    Point3 lo;                   ///< bounding box of the points
    Point3 hi;
    int64_t fallbacks = 0;
    /// Set by tetEngineAppend when the slots were renumbered from scratch (a new bounding
    /// box or a fallback): per-slot data of the caller must be rebuilt.
    bool rebuilt = false;
    /// The slots that the last appended points killed and created, in order.
    std::vector<int32_t> killed;
    std::vector<int32_t> created;
    int32_t lastCell = -1;  ///< where the next walk starts without a hint
    // Scratch of one insertion.
    std::vector<uint32_t> stamp;
    uint32_t stampValue = 0;
    std::vector<int32_t> cavity;
    std::vector<int32_t> stack;
    struct BoundaryFace {
        int32_t a, b, c;
        int32_t outside;  ///< slot * 4 + face of the cell beyond, or -1
    };
    std::vector<BoundaryFace> boundary;
    std::vector<uint64_t> edgeKey;
    std::vector<int32_t> edgeRef;
    std::vector<uint32_t> vertexStamp;
};

/// Tetrahedralizes `points` from scratch.
void tetEngineBuild(TetEngine& engine, const std::vector<Point3>& points);

/// Inserts points[k..] for the k points the engine holds. `hint` is a live slot near the
/// first new point, or -1. Afterwards `killed` and `created` list the slots changed,
/// unless `rebuilt` is set.
void tetEngineAppend(TetEngine& engine, const std::vector<Point3>& points, int32_t hint);

/// The live cells without a super corner, in creation order, as point indices.
std::vector<TetCell> tetEngineCells(const TetEngine& engine);

/// Whether the slot holds a live cell without a super corner.
inline bool tetEngineIsReal(const TetEngine& engine, int32_t slot) {
    const auto& c = engine.cell[slot];
    return engine.alive[slot] != 0 && c[0] >= 4 && c[1] >= 4 && c[2] >= 4 && c[3] >= 4;
}

/// Whether enough slots are dead that compaction pays.
inline bool tetEngineWantsCompaction(const TetEngine& engine) {
    const int64_t dead = static_cast<int64_t>(engine.cell.size()) - engine.liveCells;
    return dead > engine.liveCells + 4096;
}

/// Drops the dead slots, keeping the order of the live ones; remap[old] is the new slot of
/// each live slot and -1 for a dead one.
void tetEngineCompact(TetEngine& engine, std::vector<int32_t>& remap);
