// Operations this build does not provide yet; the table answers for them here.

#include "job/handlers.hpp"

bool handleMeshDxfArea(const JsonValue&, Model&, std::string& error) { return reportUnavailable("mesh_dxf_area", error); }
