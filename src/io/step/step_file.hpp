#pragma once
// The clear-text exchange file (ISO 10303-21) as a store of untyped entity instances.
// Only the first DATA section is read; the parser knows no schema, so every instance is a
// type name with a parameter list, and the entity readers interpret what they need.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

/// The kind of one parameter value. "$" (unset) and "*" (derived) are both Omitted.
enum class StepValueKind { Number, String, Enumeration, Reference, List, Omitted, Typed };

/// One parameter value.
struct StepValue {
    StepValueKind kind = StepValueKind::Omitted;
    double number = 0.0;          ///< Number: integers and reals alike
    std::string text;             ///< String (doubled quotes reduced), Enumeration name without
                                  ///< its dots, or the type name of a Typed value
    int64_t ref = 0;              ///< Reference: the instance number after '#'
    std::vector<StepValue> items; ///< List elements, or the parameters of a Typed value
};

/// One entity record. A simple instance has a type and parameters and no parts; a complex
/// instance has an empty type, no parameters and one part per partial record, in file order.
struct StepEntity {
    std::string type;  ///< as written, case kept
    std::vector<StepValue> params;
    std::vector<StepEntity> parts;
};

/// The parse result. On failure `instances` keeps what was stored before the failure, but no
/// reader accepts a file whose `ok` is false.
struct StepFile {
    bool ok = false;
    std::string error;                          ///< empty when ok; ends with " (at offset N)"
                                                ///< except for the missing-DATA message
    std::map<int64_t, StepEntity> instances;    ///< ascending instance number
};

/// The deepest nesting of parameter lists (lists and typed values together) that is parsed;
/// deeper text fails instead of exhausting the stack.
constexpr int kMaxStepNesting = 256;

/// Parses the whole exchange-file text. Later instances with an already used number replace
/// the earlier ones. Stops at the first lexical or syntax error.
StepFile parseStepFile(const std::string& text);
