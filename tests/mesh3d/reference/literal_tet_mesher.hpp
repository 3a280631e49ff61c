#pragma once
// The reference volume mesher: after every inserted point it tetrahedralizes all points
// from scratch, scans every point for every segment, rebuilds the face set and runs the
// ray test of every tetrahedron against every facet. Slow, and the definition of what the
// product's mesher must produce byte for byte; the differential tests compare the two.

#include <vector>

#include "mesh3d/plc.hpp"
#include "mesh3d/solid_output.hpp"
#include "mesh3d/tet_mesher.hpp"

namespace reference {

/// One refinement insertion: the first interior tetrahedron of `tets` (in order) that is
/// too poorly shaped or too large and whose circumcentre can be used gets it inserted, or
/// the longest edge of the facet whose protective sphere that circumcentre encroaches split.
bool literalRefinementStep(std::vector<Point3>& points, std::vector<Facet>& facets, const std::vector<TetCell>& tets,
                           double ratioLimitValue, double maxVolume);

/// The tetrahedra of `tets` whose centroid is inside the surface, in their order.
std::vector<TetCell> literalInteriorTets(const std::vector<Point3>& points, const std::vector<Facet>& facets,
                                         const std::vector<TetCell>& tets);

/// The volume test of a run that ran out of budget or iterations.
bool literalSalvageMesh(double enclosed, const std::vector<Point3>& points, const std::vector<Facet>& facets,
                        TetMesh& result);

TetMesh literalMeshQualityTets(const Plc& plc, const TetMeshParams& params);

}  // namespace reference
