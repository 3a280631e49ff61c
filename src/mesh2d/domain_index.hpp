#pragma once
// The domain test of many points against loops of many edges.
//
// The even-odd crossing test toggles once per loop edge whose test fires, so its answer
// depends only on which edges fire. An edge can fire only when the point's y lies in the
// edge's closed y range (one end strictly above the point, the other not). The index
// sorts the edges into horizontal bands and tests only the edges registered in the
// point's band, each with the very arithmetic of pointInPolygon: the answers are the same
// as testing every edge of every loop.

#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "mesh2d/triangulation.hpp"

struct DomainIndex {
    /// One loop edge as the crossing test reads it: `a` the vertex, `b` the one before it.
    struct Edge {
        Point2 a;
        Point2 b;
        int32_t loop = 0;  ///< 0 for the outer loop, h + 1 for hole h
    };
    std::vector<Edge> edges;
    std::vector<int64_t> bandStart;  ///< bands + 1 offsets into bandEdges
    std::vector<int32_t> bandEdges;
    std::vector<int32_t> anyBand;    ///< edges with a non-finite y: tested for every point
    double y0 = 0;                   ///< lowest finite y of a registered edge
    double y1 = 0;                   ///< highest
    double scale = 0;                ///< bands per unit of y
    int32_t bands = 0;
};

/// Indexes the outer loop and every hole of the domain (short loops included, as the
/// crossing test takes them).
DomainIndex buildDomainIndex(const PlanarDomain& domain);

/// pointInPolygon(p, outer) holds and pointInPolygon(p, hole) fails for every hole.
/// `scratch` is working storage.
bool domainIndexContains(const DomainIndex& index, const Point2& p, std::vector<int32_t>& scratch);
