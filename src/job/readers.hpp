#pragma once
// The parameter readers every handler shares, so that a missing or malformed parameter
// is reported in the same words by every operation.

#include <cstdint>
#include <string>
#include <vector>

#include "geom/point.hpp"
#include "json/json.hpp"

/// Absent: stores `fallback`. Present but not a number: "'<key>' must be a number".
bool readNumber(const JsonValue& params, const std::string& key, double fallback, double& out,
                std::string& error);

/// A number truncated toward zero to a 32-bit integer; values outside the 32-bit range
/// (and infinities) become INT32_MIN so that the meshers' range checks reject them.
int32_t truncateToCount(double value);

/// readNumber followed by truncateToCount.
bool readCount(const JsonValue& params, const std::string& key, int32_t fallback, int32_t& out,
               std::string& error);

/// "mat_id" (default 0) truncated toward zero. A material id is written to the model as
/// given, so a value outside the 32-bit range is refused rather than mapped:
/// "'mat_id' must be an integer from -2147483648 to 2147483647".
bool readMaterialId(const JsonValue& params, int32_t& out, std::string& error);

bool readPoint3(const JsonValue& value, Point3& out, std::string& error);
bool readPointList(const JsonValue& value, std::vector<Point3>& out, std::string& error);
bool readHoleLoops(const JsonValue& value, std::vector<std::vector<Point3>>& out, std::string& error);

struct RefineOptions;
struct SizingField;

/// Reads "max_area" (default: the options' current maximum area) into the options and
/// "target_size" (default 0). A positive target size makes `field` a uniform size field of
/// that base size and points the options at it; otherwise the options get no size field.
bool readSizing(const JsonValue& params, RefineOptions& options, SizingField& field, std::string& error);
