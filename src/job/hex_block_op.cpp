// hex_block: a structured block of HEX8 solids from eight corners and division counts.

#include <array>

#include "job/handlers.hpp"
#include "job/readers.hpp"
#include "structured/hex_block.hpp"

bool handleHexBlock(const JsonValue& params, Model& out, std::string& error) {
    const JsonValue* cornersValue = findMember(params, "corners");
    if (cornersValue == nullptr || cornersValue->kind != JsonKind::Array ||
        cornersValue->items.size() != 8) {
        error = "'params.corners' must be an array of exactly 8 [x, y, z] points";
        return false;
    }
    std::array<Point3, 8> corners;
    for (size_t i = 0; i < 8; ++i) {
        if (!readPoint3(cornersValue->items[i], corners[i], error)) return false;
    }
    int32_t nx = 1, ny = 1, nz = 1;
    if (!readCount(params, "nx", 1, nx, error)) return false;
    if (!readCount(params, "ny", 1, ny, error)) return false;
    if (!readCount(params, "nz", 1, nz, error)) return false;

    // "mat_id" is read after the mesh has succeeded, so a failed mesh reports its own
    // message first; the numbering is settled before the model is built.
    int32_t matId = 0;
    const bool meshable = meshHexBlockModel(corners, nx, ny, nz, SolidNumbering{1, 1, 0}, out);
    if (!meshable) {
        error = "hex_block failed (degenerate/inverted corners or non-positive division count)";
        return false;
    }
    if (!readMaterialId(params, matId, error)) {
        out = Model{};
        return false;
    }
    for (Solid& solid : out.solids) solid.matId = matId;
    return true;
}
