#pragma once
// Planar faces bounded by straight edges, read along the boundary topology
// ADVANCED_FACE -> FACE_OUTER_BOUND / FACE_BOUND -> EDGE_LOOP -> ORIENTED_EDGE -> EDGE_CURVE
// -> VERTEX_POINT -> CARTESIAN_POINT.

#include <vector>

#include "geom/point.hpp"
#include "io/step/step_faces.hpp"
#include "io/step/step_file.hpp"

/// The vertices of an EDGE_LOOP whose edges all lie on LINEs, each oriented edge
/// contributing its start vertex. Consecutive points closer than 1e-9 collapse, and a last
/// point equal to the first is dropped. Refuses any other edge and loops of fewer than three
/// points.
bool readPlanarLoop(const StepFile& file, const StepEntity& loop, std::vector<Point3>& out);

/// Every ADVANCED_FACE on a PLANE whose bounds are all straight-edged loops, as an outer
/// polygon and holes. Every other ADVANCED_FACE (curved faces included) counts in `skipped`.
FaceExtraction<PlanarFace> extractPlanarFaces(const StepFile& file);
