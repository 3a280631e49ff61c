// Fuzz target: the DXF reader, with the default and a coarse arc tolerance.
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/dxf/dxf_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    DxfImportOptions options;
    DxfBoundary boundary = readDxfBoundary(text, options);
    if (!boundary.ok && boundary.error.empty()) __builtin_trap();
    if (boundary.ok && boundary.outer.empty()) __builtin_trap();
    return 0;
}
