// Operations this build does not provide yet; the table answers for them here.

#include "job/handlers.hpp"

bool handleSweepSourceFace(const JsonValue&, Model&, std::string& error) { return reportUnavailable("sweep_source_face", error); }
