#pragma once
// The records the STEP face extractors return.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "geom/point.hpp"

/// A planar face as polygons in space: open loops (the closing edge is implied), at least
/// three points each, in the order of the file's edges (orientation not normalised).
struct PlanarFace {
    std::vector<Point3> outer;
    std::vector<std::vector<Point3>> holes;
};

/// A curved face as triangles over points on its surface.
struct TessellatedFace {
    std::vector<Point3> points;
    std::vector<std::array<int64_t, 3>> triangles;  ///< zero-based indices into points
};

/// The result of one face extractor. `ok` is false (with `error`) only when the file did not
/// parse; faces the extractor declines are counted in `skipped` and produce nothing.
template <typename Face>
struct FaceExtraction {
    bool ok = false;
    std::string error;
    std::vector<Face> faces;  ///< in ascending face instance number
    int32_t skipped = 0;
};
