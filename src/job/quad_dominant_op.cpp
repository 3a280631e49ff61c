// Operations this build does not provide yet; the table answers for them here.

#include "job/handlers.hpp"

bool handleMeshQuadDominantArea(const JsonValue&, Model&, std::string& error) { return reportUnavailable("mesh_quad_dominant_area", error); }
