#pragma once
// The operation handlers. Each reads its parameters in a fixed order, calls one mesher and
// on success makes the mesher's result the output model; on failure it sets `error` to
// the complete message and returns false.

#include <string>

#include "json/json.hpp"
#include "model/model.hpp"

using OperationHandler = bool (*)(const JsonValue& params, Model& out, std::string& error);

bool handleMeshQualityArea(const JsonValue& params, Model& out, std::string& error);
bool handleMeshPlanarArea(const JsonValue& params, Model& out, std::string& error);
bool handleMeshPolygonArea(const JsonValue& params, Model& out, std::string& error);
bool handleMeshDxfArea(const JsonValue& params, Model& out, std::string& error);
bool handleMeshStep(const JsonValue& params, Model& out, std::string& error);
bool handleMeshQuadDominantArea(const JsonValue& params, Model& out, std::string& error);
bool handleRefineQualityTet(const JsonValue& params, Model& out, std::string& error);
bool handleMeshStlSolid(const JsonValue& params, Model& out, std::string& error);
bool handleHexBlock(const JsonValue& params, Model& out, std::string& error);
bool handleSweepSourceFace(const JsonValue& params, Model& out, std::string& error);
bool handleUpgradeToQuadratic(const JsonValue& params, Model& out, std::string& error);
bool handleMeshDisc(const JsonValue& params, Model& out, std::string& error);
bool handleMeshAnnulus(const JsonValue& params, Model& out, std::string& error);

/// The answer of an operation that this build does not provide yet.
inline bool reportUnavailable(const char* op, std::string& error) {
    error = std::string("operation '") + op + "' is not available in this build";
    return false;
}
