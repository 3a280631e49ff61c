// Operations this build does not provide yet; the table answers for them here.

#include "job/handlers.hpp"

bool handleMeshQualityArea(const JsonValue&, Model&, std::string& error) { return reportUnavailable("mesh_quality_area", error); }

bool handleMeshPlanarArea(const JsonValue&, Model&, std::string& error) { return reportUnavailable("mesh_planar_area", error); }

bool handleMeshPolygonArea(const JsonValue&, Model&, std::string& error) { return reportUnavailable("mesh_polygon_area", error); }
