#include "convert/cell_kinds.hpp"

#include <cmath>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "geom/predicates.hpp"

namespace {

using Edges = std::vector<std::pair<int, int>>;

// Our mid-side orders, as the model file defines them.
Edges ourEdges(const std::string& kind) {
    if (kind == "TRI6") return {{0, 1}, {1, 2}, {2, 0}};
    if (kind == "QUAD8") return {{0, 1}, {1, 2}, {2, 3}, {3, 0}};
    if (kind == "TET10") return {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};
    if (kind == "HEX20") return {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6}, {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
    return {};
}

// The formats' own mid-side slots (edges between the format's corners), from their
// published node-ordering documentation.
Edges vtkEdges(const std::string& kind) { return ourEdges(kind); }

Edges mshEdges(const std::string& kind) {
    if (kind == "TET10") return {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {2, 3}, {1, 3}};
    if (kind == "HEX20") {
        return {{0, 1}, {0, 3}, {0, 4}, {1, 2}, {1, 5}, {2, 3}, {2, 6}, {3, 7}, {4, 5}, {4, 7}, {5, 6}, {6, 7}};
    }
    return ourEdges(kind);
}

/// Corners of a reference element of the kind, skewed so that no two edges have the same
/// midpoint. Tetrahedra in the meshers' orientation (orient3d of the corners positive).
std::vector<Point3> corners(const CellKind& kind) {
    std::vector<Point3> p;
    switch (kind.cornerCount) {
        case 2: p = {{0, 0, 0}, {1, 0, 0}}; break;
        case 3: p = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}; break;
        case 4:
            if (kind.family == KindFamily::Area) {
                p = {{0, 0, 0}, {1, 0, 0}, {1.2, 1, 0}, {0, 0.8, 0}};
            } else {
                p = {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, 1}};
            }
            break;
        default: p = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}; break;
    }
    for (Point3& q : p) q = Point3{q.x + 0.1 * q.y + 0.03 * q.z, q.y + 0.2 * q.z, q.z + 0.05 * q.x};
    return p;
}

std::vector<Point3> element(const CellKind& kind) {
    std::vector<Point3> p = corners(kind);
    for (auto e : ourEdges(kind.name)) {
        const Point3& a = p[static_cast<size_t>(e.first)];
        const Point3& b = p[static_cast<size_t>(e.second)];
        p.push_back(Point3{(a.x + b.x) * 0.5, (a.y + b.y) * 0.5, (a.z + b.z) * 0.5});
    }
    return p;
}

bool samePoint(const Point3& a, const Point3& b) {
    return std::fabs(a.x - b.x) < 1e-14 && std::fabs(a.y - b.y) < 1e-14 && std::fabs(a.z - b.z) < 1e-14;
}

/// The element's nodes in the format's slot order must put each mid-side node at the
/// midpoint of the format's edge for that slot.
void expectFormatOrder(const CellKind& kind, const int* order, const Edges& formatEdges, const char* format) {
    std::vector<Point3> ours = element(kind);
    std::vector<Point3> slots;
    std::set<int> used;
    for (int k = 0; k < kind.nodeCount; ++k) {
        slots.push_back(ours[static_cast<size_t>(order[k])]);
        used.insert(order[k]);
    }
    EXPECT_EQ(used.size(), static_cast<size_t>(kind.nodeCount)) << kind.name << " " << format << " is not a permutation";
    for (size_t k = 0; k < formatEdges.size(); ++k) {
        const Point3& a = slots[static_cast<size_t>(formatEdges[k].first)];
        const Point3& b = slots[static_cast<size_t>(formatEdges[k].second)];
        Point3 mid{(a.x + b.x) * 0.5, (a.y + b.y) * 0.5, (a.z + b.z) * 0.5};
        EXPECT_TRUE(samePoint(slots[static_cast<size_t>(kind.cornerCount) + k], mid))
            << kind.name << " " << format << " slot " << kind.cornerCount + k;
    }
    if (kind.family == KindFamily::Solid) {
        // Both formats want a positive Jacobian: for a tetrahedron, the fourth corner on
        // the side of the first three's normal; for a hexahedron, a right-handed corner 0.
        auto sub = [](const Point3& u, const Point3& v) { return Point3{u.x - v.x, u.y - v.y, u.z - v.z}; };
        Point3 e1 = sub(slots[1], slots[0]);
        Point3 e2 = sub(slots[kind.cornerCount == 4 ? 2 : 3], slots[0]);
        Point3 e3 = sub(slots[kind.cornerCount == 4 ? 3 : 4], slots[0]);
        double det = e1.x * (e2.y * e3.z - e2.z * e3.y) - e1.y * (e2.x * e3.z - e2.z * e3.x) +
                     e1.z * (e2.x * e3.y - e2.y * e3.x);
        EXPECT_GT(det, 0.0) << kind.name << " " << format << " is inverted";
    }
}

TEST(CellKinds, ReferenceTetrahedraHaveTheMeshersOrientation) {
    std::vector<Point3> p = corners(*findSolidKind("TET4"));
    EXPECT_GT(orient3d(p[0], p[1], p[2], p[3]), 0.0);
}

TEST(CellKinds, EveryKindMapsToTheFormatsNodeOrders) {
    for (int i = 0; i < kKindCount; ++i) {
        const CellKind& kind = kindAt(i);
        expectFormatOrder(kind, kind.vtkOrder, vtkEdges(kind.name), "VTK");
        expectFormatOrder(kind, kind.mshOrder, mshEdges(kind.name), "MSH");
    }
}

TEST(CellKinds, SolidFacesCloseUp) {
    // Every edge of a solid belongs to exactly two of its faces, and a quadratic face's
    // mid-side node between two corners is the one of that edge.
    for (const char* name : {"TET4", "HEX8", "TET10", "HEX20"}) {
        const CellKind& kind = *findSolidKind(name);
        std::multiset<std::pair<int, int>> edges;
        int step = kind.quadratic ? 2 : 1;
        for (int f = 0; f < faceCount(kind); ++f) {
            const FaceLoop& loop = faceAt(kind, f);
            for (int i = 0; i < loop.count; i += step) {
                int a = loop.nodes[i], b = loop.nodes[(i + step) % loop.count];
                edges.insert({std::min(a, b), std::max(a, b)});
                if (kind.quadratic) {
                    // The mid-side node between two corners is that edge's own.
                    auto ours = ourEdges(name);
                    int mid = loop.nodes[i + 1] - kind.cornerCount;
                    ASSERT_GE(mid, 0);
                    auto e = ours[static_cast<size_t>(mid)];
                    EXPECT_EQ(std::make_pair(std::min(e.first, e.second), std::max(e.first, e.second)),
                              std::make_pair(std::min(a, b), std::max(a, b)))
                        << name << " face " << f;
                }
            }
        }
        std::set<std::pair<int, int>> distinct(edges.begin(), edges.end());
        EXPECT_EQ(distinct.size(), kind.cornerCount == 4 ? 6u : 12u) << name;
        for (const auto& e : distinct) EXPECT_EQ(edges.count(e), 2u) << name;
    }
}

}  // namespace
