#pragma once
// Area meshing of a planar region given by points in space: fit a plane frame to the
// boundary, triangulate in the plane, and map back to a model of "CST" areas. Input points
// keep their exact coordinates as nodes; points created in the plane are lifted through
// the frame. Nodes are numbered boundary, hole points hole by hole, interior points, then
// created points.

#include <cstdint>
#include <string>
#include <vector>

#include "geom/point.hpp"
#include "mesh2d/plane_frame.hpp"
#include "mesh2d/triangulation.hpp"
#include "model/model.hpp"

/// The result of every area mesher.
struct AreaMesh {
    bool ok = false;
    std::string message;     ///< empty unless the mesher explains its failure itself
    Model model;             ///< nodes and areas only
    PlaneFrame frame;        ///< the frame fitted to the boundary
    double planeDeviation = 0.0;  ///< largest distance of an input point from the plane
    std::vector<uint32_t> interiorNodeIds;  ///< node ids of the interior points, in input order
};

/// Planar coordinates beyond this magnitude, or a boundary whose planar extent is below
/// kMinPlanarExtent, would overflow or underflow the exact predicates' products.
constexpr double kMaxPlanarCoordinate = 1e50;
constexpr double kMinPlanarExtent = 1e-50;

/// The spatial input of an area mesher brought into its plane frame.
struct PlanarInput {
    bool ok = false;
    std::string message;           ///< set for a hole of fewer than 3 points
    PlaneFrame frame;
    double planeDeviation = 0.0;
    std::vector<Point3> spatial;   ///< boundary, then every hole's points, then interior
    PlanarDomain domain;           ///< the same points projected, in the same order
    size_t interiorStart = 0;      ///< index of the first interior point
};

/// Fits the frame to the boundary and projects every point. Fails (without message) for a
/// degenerate boundary, a non-finite coordinate or coordinates outside the range the
/// predicates handle, and with a message for a hole of fewer than 3
/// points: such a loop bounds nothing and would shift the numbering of every later point.
PlanarInput preparePlanarInput(const std::vector<Point3>& boundary,
                               const std::vector<std::vector<Point3>>& holes,
                               const std::vector<Point3>& interior);

/// The most segment pairs domainLoopsCross compares (a fifth of a second or so).
constexpr int64_t kMaxLoopCrossingPairs = int64_t{1} << 24;

/// True when two segments of the domain's loops (outer and holes, each closed) cross at a
/// point inside both, by exact orientation tests. Segments that only touch do not count.
/// Crossing segments can never both become triangle edges: splitting chases the crossing
/// point down to rounding level and refinement exhausts its budget there. This check only
/// reaches that failure early: loops that would need more than kMaxLoopCrossingPairs
/// comparisons give false, and a crossing among them fails in the bounded passes instead.
bool domainLoopsCross(const PlanarDomain& domain);

/// Nodes for `points` (input points from `spatial`, the others lifted through the frame)
/// and one "CST" area per triangle, numbered from the props' first ids.
Model buildAreaModel(const std::vector<Point3>& spatial, const std::vector<Point2>& points,
                     const PlaneFrame& frame, const std::vector<Triangle>& triangles, const AreaProps& props);

/// Copies frame and deviation into `mesh`, builds its model and interior node ids, sets ok.
void finishAreaMesh(const PlanarInput& input, const std::vector<Point2>& points,
                    const std::vector<Triangle>& triangles, const AreaProps& props, AreaMesh& mesh);

/// The Delaunay triangulation of boundary and interior points in the boundary's plane,
/// without clipping: the result covers their convex hull.
AreaMesh meshPlanarArea(const std::vector<Point3>& boundary, const std::vector<Point3>& interior,
                        const AreaProps& props);

/// The conforming triangulation of the boundary with holes, clipped to the region. Loops
/// that cross each other fail at once: no pass could make both crossing segments edges.
AreaMesh meshPolygonArea(const std::vector<Point3>& boundary, const std::vector<std::vector<Point3>>& holes,
                         const std::vector<Point3>& interior, const AreaProps& props);
