#include "model/quadratic.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

constexpr int64_t kMaxId = std::numeric_limits<int32_t>::max();

/// Corner pairs of the mid-side nodes of one linear kind, in the order they are appended.
struct EdgeOrder {
    const char* linearKind;
    size_t cornerCount;
    const char* quadraticKind;
    const int (*edges)[2];
    size_t edgeCount;
};

constexpr int kTriEdges[][2] = {{0, 1}, {1, 2}, {2, 0}};
constexpr int kQuadEdges[][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}};
constexpr int kTetEdges[][2] = {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};
constexpr int kHexEdges[][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

constexpr EdgeOrder kAreaOrders[] = {
    {"CST", 3, "TRI6", kTriEdges, 3},
    {"QUAD", 4, "QUAD8", kQuadEdges, 4},
};
constexpr EdgeOrder kSolidOrders[] = {
    {"TET4", 4, "TET10", kTetEdges, 6},
    {"HEX8", 8, "HEX20", kHexEdges, 12},
};

template <size_t N>
const EdgeOrder* findOrder(const EdgeOrder (&orders)[N], const std::string& kind, size_t count) {
    for (const EdgeOrder& order : orders) {
        if (kind == order.linearKind && count == order.cornerCount) return &order;
    }
    return nullptr;
}

/// The shared state of one upgrade: positions of the input nodes by id, the mid-side node
/// of every edge met so far, and the next free id. The position table is built on first
/// use, so a model with nothing to upgrade costs no table.
struct Upgrader {
    std::vector<Node>& nodes;
    size_t inputNodeCount = 0;
    std::unordered_map<int32_t, size_t> positionOf;  ///< node id -> index in `nodes`
    bool positionsBuilt = false;
    std::map<std::pair<int32_t, int32_t>, int32_t> midsideOf;
    int64_t nextId = 1;
    std::string message;

    explicit Upgrader(std::vector<Node>& modelNodes) : nodes(modelNodes), inputNodeCount(modelNodes.size()) {
        int64_t largest = 0;
        for (const Node& n : nodes) largest = std::max<int64_t>(largest, n.id);
        nextId = largest + 1;  // 1 when there are no nodes or every id is below 1
    }

    void buildPositions() {
        positionOf.max_load_factor(1.0f);
        positionOf.reserve(inputNodeCount);
        for (size_t i = 0; i < inputNodeCount; ++i) positionOf.emplace(nodes[i].id, i);  // first wins
        positionsBuilt = true;
    }

    /// The mid-side node of the edge a-b, created at the midpoint when the edge is new;
    /// 0 with `message` set when a corner is missing or the ids are used up.
    int32_t midside(int32_t a, int32_t b, const char* family, int32_t elementId) {
        const std::pair<int32_t, int32_t> key = a < b ? std::make_pair(a, b) : std::make_pair(b, a);
        auto found = midsideOf.find(key);
        if (found != midsideOf.end()) return found->second;
        if (!positionsBuilt) buildPositions();
        auto pa = positionOf.find(a);
        auto pb = positionOf.find(b);
        if (pa == positionOf.end() || pb == positionOf.end()) {
            const int32_t missing = pa == positionOf.end() ? a : b;
            message = std::string(family) + " " + std::to_string(elementId) + " names node " +
                      std::to_string(missing) + ", which the model does not have";
            return 0;
        }
        if (nextId > kMaxId) {
            message = "new node ids would pass " + std::to_string(kMaxId);
            return 0;
        }
        const Node na = nodes[pa->second];
        const Node nb = nodes[pb->second];
        const int32_t id = static_cast<int32_t>(nextId++);
        nodes.push_back(Node{id, (na.x + nb.x) * 0.5, (na.y + nb.y) * 0.5, (na.z + nb.z) * 0.5});
        midsideOf.emplace(key, id);
        return id;
    }

    /// Appends the mid-side nodes of `order` to the node list and renames the kind.
    bool upgrade(const EdgeOrder& order, std::string& kind, std::vector<int32_t>& corners,
                 const char* family, int32_t elementId) {
        corners.reserve(order.cornerCount + order.edgeCount);
        for (size_t e = 0; e < order.edgeCount; ++e) {
            const int32_t id = midside(corners[static_cast<size_t>(order.edges[e][0])],
                                       corners[static_cast<size_t>(order.edges[e][1])], family, elementId);
            if (id == 0) return false;
            corners.push_back(id);
        }
        kind = order.quadraticKind;
        return true;
    }
};

QuadraticUpgrade refuse(std::string message) {
    QuadraticUpgrade result;
    result.message = std::move(message);
    return result;
}

}  // namespace

QuadraticUpgrade upgradeToQuadratic(Model model) {
    Upgrader upgrader(model.nodes);
    for (Area& area : model.areas) {
        const EdgeOrder* order = findOrder(kAreaOrders, area.kind, area.nodes.size());
        if (order != nullptr && !upgrader.upgrade(*order, area.kind, area.nodes, "area", area.id)) {
            return refuse(upgrader.message);
        }
    }
    for (Solid& solid : model.solids) {
        const EdgeOrder* order = findOrder(kSolidOrders, solid.kind, solid.nodes.size());
        if (order != nullptr && !upgrader.upgrade(*order, solid.kind, solid.nodes, "solid", solid.id)) {
            return refuse(upgrader.message);
        }
    }
    QuadraticUpgrade result;
    result.ok = true;
    result.model = std::move(model);
    return result;
}
