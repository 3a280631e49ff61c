// Operations this build does not provide yet; the table answers for them here.

#include "job/handlers.hpp"

bool handleMeshStep(const JsonValue&, Model&, std::string& error) { return reportUnavailable("mesh_step", error); }
