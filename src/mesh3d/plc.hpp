#pragma once
// The input of the volume mesher: a piecewise-linear complex.

#include <array>
#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh2d/triangulation.hpp"  // Segment: the constraint segment shared with the planar meshers

/// A triangular facet: three zero-based point indices. The corner order is kept through
/// every split but never used for orientation.
struct Facet {
    std::array<int64_t, 3> v{};
};

/// Points, constraint segments and triangular facets that bound a closed solid.
struct Plc {
    std::vector<Point3> points;
    std::vector<Segment> segments;
    std::vector<Facet> facets;
};
