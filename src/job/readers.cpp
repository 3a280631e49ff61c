#include "job/readers.hpp"

#include <limits>

#include "mesh2d/quality_refine.hpp"

bool readNumber(const JsonValue& params, const std::string& key, double fallback, double& out,
                std::string& error) {
    const JsonValue* value = findMember(params, key);
    if (value == nullptr) {
        out = fallback;
        return true;
    }
    if (value->kind != JsonKind::Number) {
        error = "'" + key + "' must be a number";
        return false;
    }
    out = value->number;
    return true;
}

int32_t truncateToCount(double value) {
    // Every double strictly between these bounds truncates into the 32-bit range.
    if (!(value > -2147483649.0 && value < 2147483648.0)) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

bool readCount(const JsonValue& params, const std::string& key, int32_t fallback, int32_t& out,
               std::string& error) {
    double value = 0.0;
    if (!readNumber(params, key, fallback, value, error)) return false;
    out = truncateToCount(value);
    return true;
}

bool readMaterialId(const JsonValue& params, int32_t& out, std::string& error) {
    double value = 0.0;
    if (!readNumber(params, "mat_id", 0.0, value, error)) return false;
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        error = "'mat_id' must be an integer from -2147483648 to 2147483647";
        return false;
    }
    out = static_cast<int32_t>(value);
    return true;
}

namespace {

/// The three numbers of a [x, y, z] array; `value` is known to be a 3-item array.
bool readCoordinates(const JsonValue& value, Point3& out, std::string& error) {
    for (const JsonValue& item : value.items) {
        if (item.kind != JsonKind::Number) {
            error = "expected a numeric coordinate";
            return false;
        }
    }
    out = Point3{value.items[0].number, value.items[1].number, value.items[2].number};
    return true;
}

bool isTriple(const JsonValue& value) {
    return value.kind == JsonKind::Array && value.items.size() == 3;
}

}  // namespace

bool readPoint3(const JsonValue& value, Point3& out, std::string& error) {
    if (!isTriple(value)) {
        error = "expected a [x, y, z] array";
        return false;
    }
    return readCoordinates(value, out, error);
}

bool readPointList(const JsonValue& value, std::vector<Point3>& out, std::string& error) {
    if (value.kind != JsonKind::Array) {
        error = "expected an array of points";
        return false;
    }
    out.clear();
    out.reserve(value.items.size());
    for (const JsonValue& item : value.items) {
        Point3 p;
        if (!readPoint3(item, p, error)) return false;
        out.push_back(p);
    }
    return true;
}

bool readHoleLoops(const JsonValue& value, std::vector<std::vector<Point3>>& out, std::string& error) {
    if (value.kind != JsonKind::Array) {
        error = "expected an array of point loops for 'holes'";
        return false;
    }
    out.clear();
    for (const JsonValue& item : value.items) {
        std::vector<Point3> loop;
        if (!readPointList(item, loop, error)) return false;
        out.push_back(std::move(loop));
    }
    return true;
}

bool readSizing(const JsonValue& params, RefineOptions& options, SizingField& field, std::string& error) {
    if (!readNumber(params, "max_area", options.maxArea, options.maxArea, error)) return false;
    double targetSize = 0.0;
    if (!readNumber(params, "target_size", 0.0, targetSize, error)) return false;
    if (targetSize > 0) {
        field = SizingField{targetSize, {}};
        options.sizing = &field;
    } else {
        options.sizing = nullptr;
    }
    return true;
}
