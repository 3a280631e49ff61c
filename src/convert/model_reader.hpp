#pragma once
// A strict reader of the model file (.s3d): the four arrays "nodes", "elements", "areas",
// "solids" with exactly the keys the writer puts in each record. Anything else (other
// keys, unknown kinds, wrong node counts, ids that do not resolve, duplicate ids,
// non-finite numbers, fractional or out-of-range integers) is refused with one message
// naming the record.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "convert/cell_kinds.hpp"
#include "model/model.hpp"  // Node, Element

/// Finds the position of an id in an array of records: a direct table when the ids are
/// dense enough, else a sorted list searched by bisection.
struct IdIndex {
    bool dense = true;
    std::vector<int32_t> table;                       ///< dense: position of id - 1, or -1
    std::vector<std::pair<int32_t, int32_t>> sorted;  ///< sparse: (id, position) by id
};

/// Builds the index of `ids` (all positive). On a repeated id returns false and sets
/// `repeat` to the position of the first record whose id was seen before, and `earlier`
/// to the position of that earlier record.
bool buildIdIndex(const std::vector<int32_t>& ids, IdIndex& out, size_t& repeat, size_t& earlier);

/// The position recorded for `id`, or -1.
int64_t findId(const IdIndex& index, int32_t id);

/// An area or solid of a loaded model. Its node ids lie in the model's shared list
/// `cellNodes`, kind.nodeCount of them from `first`. A solid has no section id or
/// thickness (0 here); the behaviour string of an area is checked but not kept.
struct LoadedCell {
    int32_t id = 0;
    int32_t matId = 0;
    int32_t secId = 0;
    bool drilling = false;
    const CellKind* kind = nullptr;
    double thickness = 0.0;
    size_t first = 0;
};

/// A model read from a file: nodes and line elements as in the model, areas and solids
/// with their kinds resolved and their node ids in one flat list, and the node ids
/// indexed. Every node id of every element is known to exist.
struct LoadedModel {
    std::vector<Node> nodes;
    std::vector<Element> elements;
    std::vector<LoadedCell> areas;
    std::vector<LoadedCell> solids;
    std::vector<int32_t> cellNodes;
    IdIndex nodeIndex;

    const int32_t* nodesOf(const LoadedCell& c) const { return cellNodes.data() + c.first; }

    /// Position in `nodes` of a node id that an element refers to.
    size_t nodeAt(int32_t id) const { return static_cast<size_t>(findId(nodeIndex, id)); }
};

/// Reads the whole model text. On failure returns false and sets `error` to one line
/// (without the "error: " prefix) naming the record, e.g.
/// "areas[3] (id 4): unknown area kind "TRI3" (expected CST, QUAD, TRI6 or QUAD8)".
/// Records in the model writer's own layout are read directly from the text; every
/// other record goes through the JSON parser. `canonicalPath` false sends every record
/// through the parser (the result is the same; tests compare the two).
bool readModelText(const std::string& text, LoadedModel& out, std::string& error, bool canonicalPath = true);

/// The same, reading the text from a stream as it goes (memory grows with the model, not
/// with the file). A read error gives "could not read the file".
bool readModelStream(std::istream& in, LoadedModel& out, std::string& error, bool canonicalPath = true);
