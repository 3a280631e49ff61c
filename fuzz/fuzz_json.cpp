// Fuzz target: the strict JSON parser of job documents.
#include <cstddef>
#include <cstdint>
#include <string>

#include "json/json.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    JsonValue value;
    std::string error;
    if (parseJson(text, value, error)) {
        findMember(value, "op");
    } else if (error.empty()) {
        __builtin_trap();  // a failure must say what is wrong
    }
    return 0;
}
