// Fuzz target: conforming surface meshing of STEP parts (edges discretized once, faces charted
// and refined, shared nodes), at the default size and a small per-face Steiner budget so that
// the fuzzer spends its time on the readers, charts and joins rather than on large meshes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/step/step_conforming.hpp"
#include "io/step/step_file.hpp"
#include "model/model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    StepFile file = parseStepFile(text);
    if (!file.ok) return 0;
    ConformingOptions options;
    options.maxSteinerPoints = 100;
    options.maxFaceBoundaryPoints = 4000;
    options.maxEdgePoints = 20000;
    Model model;
    std::string error;
    const bool ok = meshStepConforming(file, options, model, error);
    if (!ok && error.empty()) __builtin_trap();
    if (ok) {
        // Every area names existing nodes.
        const int64_t nodes = static_cast<int64_t>(model.nodes.size());
        for (const Area& a : model.areas)
            for (int32_t id : a.nodes)
                if (id < 1 || id > nodes) __builtin_trap();
    }
    return 0;
}
