// Fuzz target: the STEP face extractors (planar, ruled, spherical, toroidal, B-spline) over a
// parsed file. The point and work budgets are lowered from the product's so that one input
// stays within the per-input time limit; the bounds themselves are what is exercised.
#include <cstddef>
#include <cstdint>
#include <string>

#include "io/step/step_analytic.hpp"
#include "io/step/step_bspline.hpp"
#include "io/step/step_file.hpp"
#include "io/step/step_planar.hpp"

namespace {

void checkTessellated(const FaceExtraction<TessellatedFace>& result) {
    for (const TessellatedFace& face : result.faces)
        for (const auto& tri : face.triangles)
            for (int64_t index : tri)
                if (index < 0 || static_cast<size_t>(index) >= face.points.size()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    StepFile file = parseStepFile(text);
    if (!file.ok) return 0;
    const int32_t n = 8;
    const int64_t points = 20000;
    FaceExtraction<PlanarFace> planar = extractPlanarFaces(file);
    for (const PlanarFace& face : planar.faces)
        if (face.outer.size() < 3) __builtin_trap();
    checkTessellated(tessellateCylindricalFaces(file, n, points));
    checkTessellated(tessellateConicalFaces(file, n, points));
    checkTessellated(tessellateSphericalFaces(file, n, points));
    checkTessellated(tessellateToroidalFaces(file, n, points));
    checkTessellated(tessellateBsplineFaces(file, n, points, 2000000));
    return 0;
}
