#pragma once
// Delaunay tetrahedralization of a point set by Bowyer-Watson insertion into an enclosing
// super-tetrahedron, in input order, with exact orientation and in-sphere tests.
//
// This is the reference core of the volume mesher: quadratic in the number of points and
// rebuilt from scratch by every caller after each change of its point set.

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
