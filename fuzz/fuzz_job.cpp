// Fuzz target: the whole job runner (parse, dispatch, mesh) and the model text in memory.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "cli/job_runner.hpp"
#include "model/model_writer.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    JobResult result = runJob(text);
    (void)result;
    return 0;
}
