#pragma once
// Checks of conforming surface meshes: closure, duplicate nodes, area, enclosed volume,
// angles and a part's node-on-surface distance.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "geom/point.hpp"
#include "model/model.hpp"

struct MeshFigures {
    int64_t openEdges = 0;         ///< edges in one triangle only
    int64_t overusedEdges = 0;     ///< edges in three or more triangles
    int64_t misorientedEdges = 0;  ///< edges used twice in the same direction
    int64_t duplicateNodes = 0;    ///< node pairs closer than the duplicate distance
    double area = 0.0;
    double volume = 0.0;           ///< enclosed volume (positive when outward)
    double minAngleDeg = 180.0;
};

inline Point3 nodePoint(const Model& m, int32_t id) {
    const Node& n = m.nodes[static_cast<size_t>(id - 1)];
    return {n.x, n.y, n.z};
}

inline MeshFigures meshFigures(const Model& m, double duplicateDistance) {
    MeshFigures f;
    std::map<std::pair<int32_t, int32_t>, std::array<int, 2>> uses;  // (lo, hi) -> forward, backward
    for (const Area& a : m.areas) {
        Point3 p[3];
        for (int k = 0; k < 3; ++k) p[k] = nodePoint(m, a.nodes[k]);
        for (int k = 0; k < 3; ++k) {
            int32_t u = a.nodes[k], v = a.nodes[(k + 1) % 3];
            auto& c = uses[{std::min(u, v), std::max(u, v)}];
            ++c[u < v ? 0 : 1];
        }
        Point3 e1{p[1].x - p[0].x, p[1].y - p[0].y, p[1].z - p[0].z};
        Point3 e2{p[2].x - p[0].x, p[2].y - p[0].y, p[2].z - p[0].z};
        Point3 c{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
        f.area += 0.5 * std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z);
        f.volume += (p[0].x * (p[1].y * p[2].z - p[1].z * p[2].y) - p[0].y * (p[1].x * p[2].z - p[1].z * p[2].x) +
                     p[0].z * (p[1].x * p[2].y - p[1].y * p[2].x)) /
                    6.0;
        for (int k = 0; k < 3; ++k) {
            const Point3& o = p[k];
            const Point3& q = p[(k + 1) % 3];
            const Point3& r = p[(k + 2) % 3];
            Point3 a1{q.x - o.x, q.y - o.y, q.z - o.z}, a2{r.x - o.x, r.y - o.y, r.z - o.z};
            double l1 = std::sqrt(a1.x * a1.x + a1.y * a1.y + a1.z * a1.z);
            double l2 = std::sqrt(a2.x * a2.x + a2.y * a2.y + a2.z * a2.z);
            double cosine = (a1.x * a2.x + a1.y * a2.y + a1.z * a2.z) / (l1 * l2);
            f.minAngleDeg = std::min(f.minAngleDeg, std::acos(std::max(-1.0, std::min(1.0, cosine))) * 180.0 / M_PI);
        }
    }
    for (const auto& entry : uses) {
        int total = entry.second[0] + entry.second[1];
        if (total == 1) ++f.openEdges;
        if (total > 2) ++f.overusedEdges;
        if (total == 2 && entry.second[0] != 1) ++f.misorientedEdges;
    }
    std::vector<size_t> order(m.nodes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return m.nodes[a].x < m.nodes[b].x; });
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t j = i + 1; j < order.size(); ++j) {
            const Node& a = m.nodes[order[i]];
            const Node& b = m.nodes[order[j]];
            if (b.x - a.x > duplicateDistance) break;
            double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
            if (std::sqrt(dx * dx + dy * dy + dz * dz) <= duplicateDistance) ++f.duplicateNodes;
        }
    }
    return f;
}

/// The largest distance of a node from the nearest of the given surfaces (signed distance
/// functions, evaluated as absolute values).
inline double largestSurfaceDistance(const Model& m, const std::vector<std::function<double(const Point3&)>>& surfaces) {
    double worst = 0.0;
    for (const Node& n : m.nodes) {
        double best = 1e300;
        for (const auto& s : surfaces) best = std::min(best, std::fabs(s({n.x, n.y, n.z})));
        worst = std::max(worst, best);
    }
    return worst;
}
