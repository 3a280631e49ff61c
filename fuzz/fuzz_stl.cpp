// Fuzz target: the STL reader (ASCII and binary), welding and the closure test.
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/stl/stl_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    StlSurface surface = readStl(text, 1e-6);
    if (!surface.ok && surface.error.empty()) __builtin_trap();
    for (const Facet& f : surface.triangles)
        for (int64_t index : f.v)
            if (index < 0 || static_cast<size_t>(index) >= surface.points.size()) __builtin_trap();
    return 0;
}
