#pragma once
// Conversion of linear elements to quadratic ones: every straight edge of a triangle,
// quadrilateral, tetrahedron or hexahedron gets one mid-side node at its midpoint, shared
// by every area and solid that has that edge.

#include <string>

#include "model/model.hpp"

struct QuadraticUpgrade {
    bool ok = false;
    std::string message;  ///< why the model could not be upgraded; empty when ok
    Model model;          ///< the upgraded model; empty when not ok
};

/// "CST" -> "TRI6", "QUAD" -> "QUAD8", "TET4" -> "TET10", "HEX8" -> "HEX20"; any other
/// kind, or a node count that does not match the kind, is left unchanged, so upgrading an
/// upgraded model changes nothing. New nodes get ids from one above the largest node id,
/// in the order their edges are first met (areas, then solids, each in its edge order).
/// Fails, with an empty model, when an element to upgrade names a node id the model does
/// not have, or when a new node id would pass 2147483647.
/// Takes the model by value: move it in to upgrade without copying.
QuadraticUpgrade upgradeToQuadratic(Model model);
