// Operations this build does not provide yet; the table answers for them here.

#include "job/handlers.hpp"

bool handleRefineQualityTet(const JsonValue&, Model&, std::string& error) { return reportUnavailable("refine_quality_tet", error); }

bool handleMeshStlSolid(const JsonValue&, Model&, std::string& error) { return reportUnavailable("mesh_stl_solid", error); }
