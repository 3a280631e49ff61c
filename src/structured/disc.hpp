#pragma once
// Structured quadrilateral shells in an arbitrary plane: a disc filled by mapping a square
// grid onto the circle, and an annulus of rings between two radii.

#include <cstdint>
#include <string>

#include "geom/point.hpp"
#include "model/model.hpp"

/// Numbering and properties copied into every node and area a structured area mesher
/// builds. Areas are "membrane", not drilling.
struct StructuredAreaProps {
    uint32_t firstNodeId = 1;
    uint32_t firstAreaId = 1;
    uint32_t matId = 0;
    uint32_t secId = 0;
    double thickness = 0.0;
};

struct StructuredAreaMesh {
    bool ok = false;
    std::string message;  ///< why the mesh was refused; empty when ok
    Model model;          ///< nodes and "QUAD" areas only
};

/// The largest disc meshed: (divisions + 1)^2 nodes and divisions^2 areas.
constexpr int32_t kMaxDiscDivisions = 4000;
/// The largest annulus meshed, counted in nodes: (radial + 1) * around.
constexpr int64_t kMaxAnnulusNodes = 16000000;

/// False, leaving v unchanged, when |v| < 1e-12; otherwise divides v by its length.
/// A vector whose length overflows is scaled down by its largest component first.
bool normalize3(Point3& v);

/// The first in-plane axis for the unit normal n: normalise(n x e) with e the x axis when
/// |n.x| < 0.9 and the y axis otherwise. With w = n x u, (u, w, n) is right-handed.
Point3 perpendicularAxis(const Point3& n);

/// A disc of (divisions + 1)^2 nodes, row by row, and divisions^2 quads whose corners run
/// counter-clockwise about the normal.
StructuredAreaMesh meshDisc(const Point3& center, const Point3& normal, double radius,
                            int32_t divisions, const StructuredAreaProps& props);

/// An annulus of radial + 1 rings of `around` nodes, the inner ring first, and
/// radial * around quads (inner j, inner j + 1, outer j + 1, outer j).
StructuredAreaMesh meshAnnulus(const Point3& center, const Point3& normal, double rInner,
                               double rOuter, int32_t radial, int32_t around,
                               const StructuredAreaProps& props);
