#pragma once
// The robust volume engine: a conforming Delaunay tetrahedralization of a closed
// piecewise-linear complex, the solid found by topology, and quality refinement.
//
// 1. The input is diagnosed (diagnose.hpp); any finding ends the run with its message.
// 2. The input points are inserted, in a spatial order, into an incremental Delaunay
//    tetrahedralization (tet_topology.hpp).
// 3. Boundary recovery adds points on the boundary only: a subsegment (a piece of a facet
//    edge or segment) missing from the edges is split, at its midpoint or, next to an
//    input corner, at a power-of-two distance from it (concentric shells, so small angles
//    between segments do not cascade); a facet piece (a triangle of the facet's own planar
//    Delaunay triangulation of its points) missing from the faces gets its circumcentre,
//    unless that point lies in the diametral sphere of a subsegment of the facet or
//    outside the facet, in which case the subsegment is split instead. This repeats until
//    every subsegment is an edge and every facet piece a face.
// 4. The solid is found by topology: starting from the cells at the super-tetrahedron,
//    cells are reached over faces, crossing a boundary face changes from outside to inside
//    and back; no ray is cast.
// 5. Quality refinement inserts circumcentres of cells larger than the volume bound or
//    worse than the radius-edge bound. From now on no insertion may cut a boundary face:
//    cavities stop at them. A circumcentre that lies beyond a boundary face, or inside the
//    diametral sphere of a subsegment or the equatorial sphere of a boundary face of its
//    cavity, splits that subsegment or boundary face instead. A point on a facet or on a
//    subsegment takes into its cavity the cells on every piece of its facets whose
//    circumcircle holds it (the facet's planar cavity). After each insertion the boundary
//    pieces near the new vertex that it encroaches are split, subsegments first: where a
//    cell nearby is to be refined, or where the cell on a boundary face conflicts with the
//    vertex (the mesh is not constrained Delaunay there until the face is split). A
//    cavity that is not star-shaped from a circumcentre grows across the faces it does not
//    see (never across the boundary) until it is, or the cell is left.
//    Flat cells: during refinement, a point on the boundary is not joined to a cavity face,
//    and a flip is not made, when the cell would have four vertices on facets of one plane
//    (facets joined over coplanar edges) or a volume of rounding size (a corner within
//    1e-10 of the longest edge from the plane of the others: symmetric points, as on a
//    cone's sides, are often exactly coplanar). Rounding would give such a cell a sliver
//    of volume and a huge circumsphere. A facet point on (within 1e-9 of) an edge of its
//    facet splits the subsegment there instead. A cell of rounding-size volume already in
//    the mesh (four input points on one circle of a torus) counts as bad whatever its
//    ratio; those left after refinement are removed by a flip with a neighbour that makes
//    no flat cell.
//    Small input angles: a cell that is bad only by its radius-edge ratio is left alone
//    when its shortest edge joins two boundary points at a small input angle (below 30
//    degrees): on two features around an input edge whose facets meet at such an angle
//    (measured between the points' offsets from the edge), or subtending such an angle at
//    an input corner both features reach; two points of a facet with a corner below the
//    angle (the whole facet lies in that corner's wedge); or two points of one input edge
//    that is a side of such a facet corner. Those cells are counted in `protectedCells`,
//    and the same pairs never split each other's boundary pieces for encroachment.
//    Thin features: a point added for a cell bad only by its shape (its circumcentre, or
//    the subsegment or boundary face split it causes) is refused when it would be joined
//    to a vertex by an edge shorter than the cell's shortest edge; the cell is then left
//    and counted in `rejected`. So shape refinement never shortens the shortest edge and
//    cannot cascade at strips, thin triangles or close parallel facets. Cells above the
//    volume bound are always split.
//    Input corners: except while a cell above the volume bound is split, no point comes
//    closer to an input corner it is joined to than 2^-12 of the smaller of the corner's
//    shortest input edge and its distance to the nearest facet it is not a corner of. The
//    repairs of encroachment would otherwise run into the centre of a fan whose spokes meet
//    at 30 to 60 degrees, one shell of spoke splits after another.
//    Last, Steiner points at cells still above the bound that it does not excuse are
//    contracted into a neighbour on their own feature (or else an edge of the cell's
//    boundary faces is flipped on its facet) when that leaves fewer such cells, in turn
//    with a polish of the points' places; contracted points leave the output.
// Every inserted point counts against the Steiner budget; running out ends the run with a
// message naming the budget.

#include <cstdint>
#include <string>
#include <vector>

#include "geom/point.hpp"
#include "mesh3d/plc.hpp"
#include "mesh3d/robust/diagnose.hpp"
#include "mesh3d/solid_output.hpp"

/// The most points (input and Steiner) a run of the robust engine may hold; about 1 KB
/// each at most, so a run stays within about 2 GB.
constexpr int64_t kMaxRobustPoints = 2000000;

struct RobustTetParams {
    double radiusEdgeBound = 2.0;      ///< at least kMinRobustRadiusEdgeBound
    int32_t maxSteinerPoints = 20000;  ///< points the engine may add, for recovery and refinement
    double maxVolume = 0.0;            ///< <= 0: no volume bound
};

/// The smallest radius-edge bound the engine accepts.
constexpr double kMinRobustRadiusEdgeBound = 1.2;

struct RobustTetMesh {
    bool ok = false;
    std::string error;            ///< when not ok: one line saying what is wrong
    std::vector<Point3> points;   ///< the input points, then the Steiner points in order
    std::vector<TetCell> tets;    ///< the cells of the solid, positively oriented
    int32_t steinerCount = 0;
    int64_t recoveryPoints = 0;   ///< Steiner points added by boundary recovery
    int64_t boundaryPoints = 0;   ///< Steiner points on the boundary (recovery and refinement)
    int64_t protectedCells = 0;   ///< bad cells left alone at small input angles
    int64_t rejected = 0;         ///< insertions given up (the cell stays as it is)
};

/// Diagnoses the complex and, when it is clean, meshes the solid it bounds.
RobustTetMesh meshRobustTets(const Plc& plc, const RobustTetParams& params,
                             const FacetNaming& naming = FacetNaming());
