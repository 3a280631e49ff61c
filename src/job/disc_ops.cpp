// Operations this build does not provide yet; the table answers for them here.

#include "job/handlers.hpp"

bool handleMeshDisc(const JsonValue&, Model&, std::string& error) { return reportUnavailable("mesh_disc", error); }

bool handleMeshAnnulus(const JsonValue&, Model&, std::string& error) { return reportUnavailable("mesh_annulus", error); }
