#pragma once
// The mesh_step operation: the faces of a STEP solid or shell as one surface mesh of "CST"
// membrane areas. Planar faces are quality-meshed, curved faces tessellated, and every face
// is numbered on from the last; faces share no nodes.

#include <cstdint>
#include <string>

#include "io/step/step_faces.hpp"
#include "io/step/step_file.hpp"
#include "model/model.hpp"

struct StepMeshOptions {
    double minAngleDeg = 20.0;        ///< quality mesher of planar faces
    int32_t maxSteinerPoints = 20000; ///< per planar face
    int32_t segments = 16;            ///< resolution of the curved-face tessellators
};

/// The running ids of one mesh_step job.
struct StepNumbering {
    int64_t nextNodeId = 1;
    int64_t nextAreaId = 1;
    int64_t meshedFaces = 0;
};

/// Appends a face model whose node and area ids already start at the running ids (as an area
/// mesher numbers them) and advances the ids. Refuses, appending nothing, when an id would
/// pass the 32-bit range.
bool appendFaceModel(const Model& face, StepNumbering& numbering, Model& out);

/// Appends a tessellated face as nodes and "CST" membrane areas numbered from the running
/// ids. Refuses, appending nothing, when an id would pass the 32-bit range.
bool appendTessellatedFace(const TessellatedFace& face, StepNumbering& numbering, Model& out);

/// The most nodes one mesh_step job may produce over all its faces (like the other model
/// caps, about 4 GiB of model); each planar face is bounded on its own by the refinement's
/// point limit, so this caps the sum.
constexpr int64_t kMaxStepNodes = 16000000;

/// Runs the six face extractors over a parsed file and meshes what they found into `out`.
/// Fails with the operation's message when no face is found or none can be meshed, and
/// when the faces together would need more than kMaxStepNodes nodes.
bool meshStepFaces(const StepFile& file, const StepMeshOptions& options, Model& out, std::string& error);

/// meshStepFaces with another node budget.
bool meshStepFacesWithin(const StepFile& file, const StepMeshOptions& options, int64_t nodeBudget, Model& out,
                         std::string& error);

/// The message of a job whose faces need more than `budget` nodes.
std::string stepNodeBudgetMessage(int64_t budget);
