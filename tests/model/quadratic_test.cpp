// Quadratic upgrade: shared mid-side nodes, numbering of new nodes, edge orders of every
// kind, pass-through of everything else, and refusal of models it cannot upgrade.

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/quadratic.hpp"

namespace {

using Ids = std::vector<int32_t>;

Area area(int32_t id, const char* kind, Ids nodes) {
    Area a;
    a.id = id;
    a.kind = kind;
    a.nodes = std::move(nodes);
    a.behavior = "membrane";
    a.thickness = 0.5;
    a.matId = 3;
    a.secId = 4;
    a.drilling = true;
    return a;
}

Solid solid(int32_t id, const char* kind, Ids nodes) {
    Solid s;
    s.id = id;
    s.kind = kind;
    s.nodes = std::move(nodes);
    s.matId = 9;
    return s;
}

const Node& nodeById(const Model& m, int32_t id) {
    for (const Node& n : m.nodes) {
        if (n.id == id) return n;
    }
    static const Node missing{};
    ADD_FAILURE() << "no node " << id;
    return missing;
}

/// The unit cube's corners in HEX8 order with ids 1 to 8.
Model unitHex() {
    Model m;
    const double c[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    for (int i = 0; i < 8; ++i) m.nodes.push_back(Node{i + 1, c[i][0], c[i][1], c[i][2]});
    m.solids.push_back(solid(1, "HEX8", {1, 2, 3, 4, 5, 6, 7, 8}));
    return m;
}

/// The corner pairs behind each mid-side position of the quadratic kinds, written out
/// from the kinds' node orders.
const std::map<std::string, std::vector<std::pair<int, int>>>& quadraticEdges() {
    static const std::map<std::string, std::vector<std::pair<int, int>>> edges = {
        {"TRI6", {{0, 1}, {1, 2}, {2, 0}}},
        {"QUAD8", {{0, 1}, {1, 2}, {2, 3}, {3, 0}}},
        {"TET10", {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}}},
        {"HEX20", {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6}, {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}}},
    };
    return edges;
}

/// Every mid-side node lies exactly at (a + b) * 0.5 of its edge's corners.
void expectExactMidpoints(const Model& m, const std::string& kind, const Ids& nodes) {
    const auto& edges = quadraticEdges().at(kind);
    const size_t corners = nodes.size() - edges.size();
    for (size_t e = 0; e < edges.size(); ++e) {
        const Node& a = nodeById(m, nodes[static_cast<size_t>(edges[e].first)]);
        const Node& b = nodeById(m, nodes[static_cast<size_t>(edges[e].second)]);
        const Node& mid = nodeById(m, nodes[corners + e]);
        EXPECT_EQ(mid.x, (a.x + b.x) * 0.5) << kind << " edge " << e;
        EXPECT_EQ(mid.y, (a.y + b.y) * 0.5) << kind << " edge " << e;
        EXPECT_EQ(mid.z, (a.z + b.z) * 0.5) << kind << " edge " << e;
    }
}

void expectAllMidpointsExact(const Model& m) {
    for (const Area& a : m.areas) expectExactMidpoints(m, a.kind, a.nodes);
    for (const Solid& s : m.solids) expectExactMidpoints(m, s.kind, s.nodes);
}

TEST(UpgradeToQuadratic, TwoTrianglesSharingAnEdgeShareItsMidsideNode) {
    Model m;
    m.nodes = {{1, 0, 0, 0}, {2, 1, 0, 0}, {3, 1, 1, 0}, {4, 0, 1, 0}};
    m.areas = {area(1, "CST", {1, 2, 3}), area(2, "CST", {1, 3, 4})};
    const QuadraticUpgrade up = upgradeToQuadratic(m);
    ASSERT_TRUE(up.ok) << up.message;
    ASSERT_EQ(up.model.nodes.size(), 9u);
    EXPECT_EQ(up.model.areas[0].kind, "TRI6");
    EXPECT_EQ(up.model.areas[0].nodes, (Ids{1, 2, 3, 5, 6, 7}));
    EXPECT_EQ(up.model.areas[1].nodes, (Ids{1, 3, 4, 7, 8, 9}));  // edge 3-1 met first in area 1
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(up.model.nodes[i].id, static_cast<int32_t>(i + 1));
    const Area& a = up.model.areas[1];  // everything but kind and nodes is kept
    EXPECT_EQ(a.id, 2);
    EXPECT_EQ(a.behavior, "membrane");
    EXPECT_EQ(a.thickness, 0.5);
    EXPECT_EQ(a.matId, 3);
    EXPECT_EQ(a.secId, 4);
    EXPECT_TRUE(a.drilling);
    expectAllMidpointsExact(up.model);
}

TEST(UpgradeToQuadratic, HexBecomesHex20WithNodesNineToTwenty) {
    const QuadraticUpgrade up = upgradeToQuadratic(unitHex());
    ASSERT_TRUE(up.ok);
    ASSERT_EQ(up.model.nodes.size(), 20u);
    const Solid& s = up.model.solids[0];
    EXPECT_EQ(s.kind, "HEX20");
    EXPECT_EQ(s.matId, 9);
    EXPECT_EQ(s.nodes, (Ids{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
    const Node& n9 = nodeById(up.model, 9);  // midpoint of nodes 1 and 2
    EXPECT_EQ(n9.x, 0.5);
    EXPECT_EQ(n9.y, 0.0);
    EXPECT_EQ(n9.z, 0.0);
    const Node& n17 = nodeById(up.model, 17);  // midpoint of nodes 1 and 5
    EXPECT_EQ(n17.x, 0.0);
    EXPECT_EQ(n17.y, 0.0);
    EXPECT_EQ(n17.z, 0.5);
    expectAllMidpointsExact(up.model);
}

TEST(UpgradeToQuadratic, TetAndQuadFollowTheirEdgeOrders) {
    Model m;
    m.nodes = {{1, 0.1, 0.2, 0.3}, {2, 1.7, -0.3, 0.9}, {3, 0.4, 2.2, 1e-3}, {4, -0.6, 0.8, 3.3}, {5, 7, 7, 7}};
    m.solids = {solid(1, "TET4", {1, 2, 3, 4})};
    m.areas = {area(1, "QUAD", {2, 5, 4, 1})};
    const QuadraticUpgrade up = upgradeToQuadratic(m);
    ASSERT_TRUE(up.ok);
    // Areas first: the quad's edges 2-5, 5-4, 4-1, 1-2 become 6, 7, 8, 9.
    EXPECT_EQ(up.model.areas[0].kind, "QUAD8");
    EXPECT_EQ(up.model.areas[0].nodes, (Ids{2, 5, 4, 1, 6, 7, 8, 9}));
    // Tet edges 1-2 (shared with the quad: 9), 2-3, 3-1, 1-4 (8), 2-4, 3-4.
    EXPECT_EQ(up.model.solids[0].kind, "TET10");
    EXPECT_EQ(up.model.solids[0].nodes, (Ids{1, 2, 3, 4, 9, 10, 11, 8, 12, 13}));
    EXPECT_EQ(up.model.nodes.size(), 13u);
    expectAllMidpointsExact(up.model);
}

TEST(UpgradeToQuadratic, NewIdsStartAboveTheLargestId) {
    Model m;
    m.nodes = {{41, 0, 0, 0}, {7, 1, 0, 0}, {-3, 0, 1, 0}};
    m.areas = {area(1, "CST", {7, 41, -3})};
    QuadraticUpgrade up = upgradeToQuadratic(m);
    ASSERT_TRUE(up.ok);
    EXPECT_EQ(up.model.areas[0].nodes, (Ids{7, 41, -3, 42, 43, 44}));

    m.nodes = {{0, 0, 0, 0}, {-1, 1, 0, 0}, {-2, 0, 1, 0}};  // no id above zero: from 1
    m.areas = {area(1, "CST", {0, -1, -2})};
    up = upgradeToQuadratic(m);
    ASSERT_TRUE(up.ok);
    EXPECT_EQ(up.model.areas[0].nodes, (Ids{0, -1, -2, 1, 2, 3}));
}

TEST(UpgradeToQuadratic, TwoHexesSharingAFaceCreateEachEdgeOnce) {
    Model m = unitHex();
    for (int i = 0; i < 4; ++i) {
        const Node& top = m.nodes[static_cast<size_t>(4 + i)];
        m.nodes.push_back(Node{9 + i, top.x, top.y, 2.0});
    }
    m.solids.push_back(solid(2, "HEX8", {5, 6, 7, 8, 9, 10, 11, 12}));
    m.areas = {area(1, "QUAD", {5, 6, 7, 8})};  // the shared face as a shell
    const QuadraticUpgrade up = upgradeToQuadratic(m);
    ASSERT_TRUE(up.ok);
    EXPECT_EQ(up.model.nodes.size(), 12u + 20u);  // 12 + 12 - 4 edges
    const Ids& face = up.model.areas[0].nodes;
    const Ids& lower = up.model.solids[0].nodes;
    const Ids& upper = up.model.solids[1].nodes;
    for (int e = 0; e < 4; ++e) {
        EXPECT_EQ(lower[static_cast<size_t>(12 + e)], face[static_cast<size_t>(4 + e)]);  // lower top edges
        EXPECT_EQ(upper[static_cast<size_t>(8 + e)], face[static_cast<size_t>(4 + e)]);   // upper bottom edges
    }
    expectAllMidpointsExact(up.model);
}

TEST(UpgradeToQuadratic, LeavesEverythingElseAsItWas) {
    Model m;
    m.nodes = {{1, 0, 0, 0}, {2, 1, 0, 0}, {3, 0, 1, 0}, {4, 0, 0, 1}};
    m.elements = {Element{5, 1, 2, 6, 7}};
    m.areas = {area(1, "TRI6", {1, 2, 3, 1, 2, 3}), area(2, "QUAD", {1, 2, 3}), area(3, "cst", {1, 2, 3}),
               area(4, "CST", {1, 2, 3, 4})};
    m.solids = {solid(1, "HEX8", {1, 2, 3, 4}), solid(2, "TET10", {1, 2, 3, 4}), solid(3, "WEDGE6", {1, 2, 3, 4})};
    const QuadraticUpgrade up = upgradeToQuadratic(m);
    ASSERT_TRUE(up.ok);
    EXPECT_EQ(up.model.nodes.size(), 4u);
    ASSERT_EQ(up.model.elements.size(), 1u);
    EXPECT_EQ(up.model.elements[0].n1, 1);
    EXPECT_EQ(up.model.elements[0].n2, 2);
    EXPECT_EQ(up.model.elements[0].secId, 7);
    for (size_t i = 0; i < m.areas.size(); ++i) {
        EXPECT_EQ(up.model.areas[i].kind, m.areas[i].kind);
        EXPECT_EQ(up.model.areas[i].nodes, m.areas[i].nodes);
    }
    for (size_t i = 0; i < m.solids.size(); ++i) {
        EXPECT_EQ(up.model.solids[i].kind, m.solids[i].kind);
        EXPECT_EQ(up.model.solids[i].nodes, m.solids[i].nodes);
    }

    Model empty;
    empty.nodes = m.nodes;
    const QuadraticUpgrade same = upgradeToQuadratic(empty);
    ASSERT_TRUE(same.ok);
    EXPECT_EQ(same.model.nodes.size(), 4u);
}

TEST(UpgradeToQuadratic, UpgradingTwiceChangesNothingMore) {
    Model m = unitHex();
    m.areas = {area(1, "CST", {1, 2, 6}), area(2, "QUAD", {2, 3, 7, 6})};
    const QuadraticUpgrade once = upgradeToQuadratic(m);
    ASSERT_TRUE(once.ok);
    const QuadraticUpgrade twice = upgradeToQuadratic(once.model);
    ASSERT_TRUE(twice.ok);
    ASSERT_EQ(twice.model.nodes.size(), once.model.nodes.size());
    for (size_t i = 0; i < once.model.nodes.size(); ++i) {
        EXPECT_EQ(twice.model.nodes[i].id, once.model.nodes[i].id);
        EXPECT_EQ(twice.model.nodes[i].x, once.model.nodes[i].x);
    }
    for (size_t i = 0; i < once.model.areas.size(); ++i) EXPECT_EQ(twice.model.areas[i].nodes, once.model.areas[i].nodes);
    EXPECT_EQ(twice.model.solids[0].nodes, once.model.solids[0].nodes);
}

TEST(UpgradeToQuadratic, FirstOfRepeatedIdsGivesThePosition) {
    Model m;
    m.nodes = {{1, 0, 0, 0}, {2, 2, 0, 0}, {2, 8, 8, 8}, {3, 0, 2, 0}};
    m.areas = {area(1, "CST", {1, 2, 3})};
    const QuadraticUpgrade up = upgradeToQuadratic(m);
    ASSERT_TRUE(up.ok);
    EXPECT_EQ(nodeById(up.model, 4).x, 1.0);
    EXPECT_EQ(nodeById(up.model, 4).y, 0.0);
}

TEST(UpgradeToQuadratic, RefusesAnElementNamingAMissingNode) {
    Model m;
    m.nodes = {{1, 0, 0, 0}, {2, 1, 0, 0}, {3, 0, 1, 0}};
    m.areas = {area(1, "CST", {1, 2, 3}), area(6, "QUAD", {1, 2, 3, 99})};
    const QuadraticUpgrade up = upgradeToQuadratic(m);
    EXPECT_FALSE(up.ok);
    EXPECT_EQ(up.message, "area 6 names node 99, which the model does not have");
    EXPECT_TRUE(up.model.nodes.empty());
    EXPECT_TRUE(up.model.areas.empty());

    m.areas.clear();
    m.solids = {solid(4, "TET4", {1, 2, 3, -5})};
    EXPECT_EQ(upgradeToQuadratic(m).message, "solid 4 names node -5, which the model does not have");

    // An element left unchanged needs no positions, so its missing node is carried as is.
    m.solids = {solid(4, "TET10", {1, 2, 3, 50, 51, 52, 53, 54, 55, 56})};
    EXPECT_TRUE(upgradeToQuadratic(m).ok);
}

TEST(UpgradeToQuadratic, RefusesNewIdsBeyondTheThirtyTwoBitRange) {
    const int32_t top = std::numeric_limits<int32_t>::max();
    Model m;
    m.nodes = {{top - 6, 0, 0, 0}, {top - 5, 1, 0, 0}, {top - 3, 0, 1, 0}};
    m.areas = {area(1, "CST", {top - 6, top - 5, top - 3})};
    QuadraticUpgrade up = upgradeToQuadratic(m);  // new ids top - 2, top - 1, top
    ASSERT_TRUE(up.ok);
    EXPECT_EQ(up.model.nodes.back().id, top);

    m.nodes[2].id = top - 2;
    m.areas[0].nodes[2] = top - 2;
    up = upgradeToQuadratic(m);
    EXPECT_FALSE(up.ok);
    EXPECT_EQ(up.message, "new node ids would pass 2147483647");
    EXPECT_TRUE(up.model.nodes.empty());

    m.areas[0].kind = "TRI6";  // nothing to create: the largest id is no obstacle
    m.areas[0].nodes = {top - 6, top - 5, top - 2, top - 6, top - 5, top - 2};
    EXPECT_TRUE(upgradeToQuadratic(m).ok);
}

}  // namespace
