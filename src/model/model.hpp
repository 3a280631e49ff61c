#pragma once
// The finite-element model one job produces: nodes and three element families that
// refer to nodes by id. Plain data; the writer prints it, the quadratic upgrade maps it.

#include <cstdint>
#include <string>
#include <vector>

struct Node {
    int32_t id = 0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

/// A two-node line element. No operation creates them; they are carried and written.
struct Element {
    int32_t id = 0;
    int32_t n1 = 0;
    int32_t n2 = 0;
    int32_t matId = 0;
    int32_t secId = 0;
};

/// An area (shell) element: corners in order around the element, then mid-side nodes.
struct Area {
    int32_t id = 0;
    std::vector<int32_t> nodes;
    std::string kind;      ///< "CST", "QUAD", "TRI6" or "QUAD8"
    std::string behavior;  ///< "membrane" from every operation
    double thickness = 0.0;
    int32_t matId = 0;
    int32_t secId = 0;
    bool drilling = false;
};

/// A solid (volume) element with its nodes in the kind's node order.
struct Solid {
    int32_t id = 0;
    std::string kind;  ///< "TET4", "HEX8", "TET10" or "HEX20"
    std::vector<int32_t> nodes;
    int32_t matId = 0;
};

struct Model {
    std::vector<Node> nodes;
    std::vector<Element> elements;
    std::vector<Area> areas;
    std::vector<Solid> solids;
};

/// What an operation handler gives an area mesher so that it can build finished areas.
struct AreaProps {
    uint32_t firstNodeId = 1;
    uint32_t firstAreaId = 1;
    std::string behavior = "membrane";
    double thickness = 0.0;
    uint32_t matId = 0;
    uint32_t secId = 0;
    bool drilling = false;
};
