// Operations this build does not provide yet; the table answers for them here.

#include "job/handlers.hpp"

bool handleUpgradeToQuadratic(const JsonValue&, Model&, std::string& error) { return reportUnavailable("upgrade_to_quadratic", error); }
