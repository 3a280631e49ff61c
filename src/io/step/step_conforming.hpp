#pragma once
// Conforming surface meshes of STEP parts: every model edge is discretized once, every
// face is triangulated in a chart of its surface with quality refinement, and faces that
// share an edge share its nodes, so a closed shell gives a closed triangle surface.

#include <cstdint>
#include <string>

#include "io/step/step_file.hpp"
#include "model/model.hpp"

/// The most nodes a conforming mesh may have, and the most points its edges may take.
constexpr int64_t kMaxConformingNodes = 4000000;
constexpr int64_t kMaxConformingEdgePoints = 2000000;

/// The finest size accepted, as a fraction of the part's bounding-box diagonal.
constexpr double kMinSizeFraction = 1e-4;

/// The finest chord tolerance accepted, as a fraction of the diagonal. Points along one
/// circle cost a face's triangulation the square of their number; at this tolerance a
/// circle as large as the part takes about 5,000 points by its deviation (the size alone
/// may ask for up to about 31,000).
constexpr double kMinChordFraction = 1e-7;

/// The most boundary points one face (one domain of its chart) may have. The planar
/// refinement of a face costs more than the square root of this per point; a circle as
/// large as the part at the finest size takes about 31,000 points, so this leaves room
/// for several such edges, and refuses the degenerate charts that ask for far more.
constexpr int64_t kMaxFaceBoundaryPoints = 250000;

struct ConformingOptions {
    double minAngleDeg = 20.0;
    int32_t maxSteinerPoints = 20000;  ///< per face
    int64_t maxFaceBoundaryPoints = kMaxFaceBoundaryPoints;
    int64_t maxEdgePoints = kMaxConformingEdgePoints;  ///< over all edges
    double size = 0.0;                 ///< target edge length in output units; 0: 1/20 of the diagonal
    double chordTolerance = 0.0;       ///< in output units; 0: size / 20
    double scale = 1.0;                ///< output units per file unit
};

/// Meshes every ADVANCED_FACE of the file into `out` (node and area ids from 1). Fails with
/// a message naming the face (#N) that cannot be meshed, or the reason the part cannot be.
bool meshStepConforming(const StepFile& file, const ConformingOptions& options, Model& out, std::string& error);
