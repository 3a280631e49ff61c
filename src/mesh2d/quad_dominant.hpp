#pragma once
// Quad-dominant meshing: a quality triangle mesh whose adjacent triangle pairs are merged
// into quadrilaterals. Every interior edge whose two triangles form a strictly convex
// counter-clockwise quadrilateral of sufficient quality is a candidate; candidates are
// taken greedily from best to worst and each triangle joins at most one quad. Triangles
// left over stay triangles.

#include <array>
#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh2d/area_mesher.hpp"
#include "mesh2d/quality_refine.hpp"
#include "mesh2d/triangulation.hpp"
#include "model/model.hpp"

/// One triangle's use of an edge: the edge runs first -> second in the triangle's own
/// counter-clockwise direction, and `opposite` is the triangle's third vertex.
struct EdgeUse {
    int64_t tri = 0;
    int64_t opposite = 0;
    int64_t first = 0;
    int64_t second = 0;
};

/// Two triangles that may merge into the quad `corners` (counter-clockwise).
struct QuadCandidate {
    int64_t tri0 = 0;
    int64_t tri1 = 0;
    std::array<int64_t, 4> corners{};
    double quality = 0.0;
};

/// A cell of the merged mesh; a triangle cell holds -1 in its fourth place.
struct MeshCell {
    bool isQuad = false;
    std::array<int64_t, 4> v{};
};

/// The angle at `at` between the directions to `prev` and `next`, in degrees (0 to 180).
double cornerAngle(const Point2& prev, const Point2& at, const Point2& next);

/// max(0, 1 - (largest deviation of a corner angle from 90 degrees) / 90): 1 for a
/// rectangle, 0 for a quad with a corner of 0 or 180 degrees.
double quadQuality(const Point2& p0, const Point2& p1, const Point2& p2, const Point2& p3);

/// Merges triangle pairs into quads of at least `minQuality`. The cells come out sorted by
/// their ascending vertex indices, so every triangle cell precedes every quad cell. The
/// result depends only on the arguments.
std::vector<MeshCell> quadDominate(const std::vector<Point2>& points, const std::vector<Triangle>& triangles,
                                   double minQuality);

/// The quality mesher's pipeline (frame, projection, refineRuppert, nodes) followed by
/// quadDominate: one "QUAD" area per quad cell and one "CST" area per triangle cell, in
/// cell order. A refiner failure returns ok false with the refiner's message.
AreaMesh meshQuadDominantArea(const std::vector<Point3>& boundary, const std::vector<std::vector<Point3>>& holes,
                              const std::vector<Point3>& interior, const RefineOptions& options,
                              double minQuality, const AreaProps& props);
