#pragma once
// The JSON value model and the strict parser of job documents.

#include <string>
#include <vector>

enum class JsonKind { Null = 0, Bool = 1, Number = 2, String = 3, Array = 4, Object = 5 };

struct JsonMember;

/// One parsed JSON value. Every field exists at once; only the one belonging to `kind`
/// is meaningful. Objects keep the document's member order and every duplicate key.
struct JsonValue {
    JsonKind kind = JsonKind::Null;
    bool boolean = false;            ///< value of a Bool
    double number = 0.0;             ///< value of a Number (every number is a double)
    std::string text;                ///< decoded bytes of a String
    std::vector<JsonValue> items;    ///< elements of an Array, in document order
    std::vector<JsonMember> members; ///< members of an Object, in document order
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

/// Arrays and objects nested deeper than this are rejected, so that a hostile document
/// cannot exhaust the stack of the recursive parser (or of a nested job).
constexpr int kMaxJsonDepth = 512;

/// Parses the whole text into `out`. On failure returns false and sets `error` to the
/// first fault's message followed by " at offset " and the zero-based byte offset.
bool parseJson(const std::string& text, JsonValue& out, std::string& error);

/// The value of the first member named `key` (compared byte for byte), or nullptr when
/// there is none or `value` is not an object.
const JsonValue* findMember(const JsonValue& value, const std::string& key);
