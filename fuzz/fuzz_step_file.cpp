// Fuzz target: the STEP exchange-file parser.
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/step/step_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    StepFile file = parseStepFile(text);
    if (!file.ok && file.error.empty()) __builtin_trap();
    return 0;
}
