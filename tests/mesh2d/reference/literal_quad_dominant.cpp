#include "mesh2d/reference/literal_quad_dominant.hpp"

#include <algorithm>
#include <unordered_map>

namespace reference {

namespace {

struct EdgeUses {
    EdgeUse use[2];
    int64_t count = 0;
};

double cross(double px, double py, double qx, double qy) { return px * qy - py * qx; }

double turn(const Point2& from, const Point2& at, const Point2& to) {
    return cross(at.x - from.x, at.y - from.y, to.x - at.x, to.y - at.y);
}

bool candidateBefore(const QuadCandidate& p, const QuadCandidate& q) {
    if (p.quality != q.quality) return p.quality > q.quality;
    return p.corners < q.corners;
}

std::array<int64_t, 4> sortedKey(const MeshCell& cell) {
    std::array<int64_t, 4> key = cell.v;
    std::sort(key.begin(), key.end());
    return key;
}

}  // namespace

std::vector<MeshCell> literalQuadDominate(const std::vector<Point2>& points, const std::vector<Triangle>& triangles,
                                   double minQuality) {
    std::unordered_map<uint64_t, EdgeUses> edges;
    edges.reserve(triangles.size() * 2 + 1);
    auto addUse = [&](int64_t tri, int64_t opposite, int64_t first, int64_t second) {
        EdgeUses& uses = edges[edgeKey(std::min(first, second), std::max(first, second))];
        if (uses.count < 2) uses.use[uses.count] = EdgeUse{tri, opposite, first, second};
        uses.count += 1;
    };
    for (size_t t = 0; t < triangles.size(); ++t) {
        const std::array<int64_t, 3>& v = triangles[t].v;
        const int64_t ti = static_cast<int64_t>(t);
        addUse(ti, v[2], v[0], v[1]);
        addUse(ti, v[0], v[1], v[2]);
        addUse(ti, v[1], v[2], v[0]);
    }

    // The map is visited in whatever order it keeps; the sort below fixes the order, since
    // no two edges give the same corner tuple.
    std::vector<QuadCandidate> candidates;
    for (const auto& entry : edges) {
        const EdgeUses& uses = entry.second;
        if (uses.count != 2) continue;
        const EdgeUse& u0 = uses.use[0];
        const EdgeUse& u1 = uses.use[1];
        if (u0.first != u1.second || u0.second != u1.first) continue;
        const int64_t o0 = u0.opposite, a = u0.first, b = u0.second, o1 = u1.opposite;
        const Point2& P0 = points[o0];
        const Point2& Pa = points[a];
        const Point2& P1 = points[o1];
        const Point2& Pb = points[b];
        // Strictly convex and counter-clockwise: all four turns to the left.
        if (!(turn(Pb, P0, Pa) > 0 && turn(P0, Pa, P1) > 0 && turn(Pa, P1, Pb) > 0 && turn(P1, Pb, P0) > 0)) {
            continue;
        }
        const double quality = quadQuality(P0, Pa, P1, Pb);
        if (!(quality >= minQuality)) continue;
        candidates.push_back(QuadCandidate{u0.tri, u1.tri, {o0, a, o1, b}, quality});
    }
    std::sort(candidates.begin(), candidates.end(), candidateBefore);

    std::vector<MeshCell> cells;
    cells.reserve(triangles.size());
    std::vector<bool> used(triangles.size(), false);
    for (const QuadCandidate& c : candidates) {
        if (used[c.tri0] || used[c.tri1]) continue;
        used[c.tri0] = true;
        used[c.tri1] = true;
        cells.push_back(MeshCell{true, c.corners});
    }
    for (size_t t = 0; t < triangles.size(); ++t) {
        if (used[t]) continue;
        const std::array<int64_t, 3>& v = triangles[t].v;
        cells.push_back(MeshCell{false, {v[0], v[1], v[2], -1}});
    }

    // Sorted by the ascending vertex indices; a triangle's -1 puts it before every quad.
    std::vector<std::pair<std::array<int64_t, 4>, size_t>> keyed;
    keyed.reserve(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) keyed.emplace_back(sortedKey(cells[i]), i);
    std::sort(keyed.begin(), keyed.end());
    std::vector<MeshCell> sorted;
    sorted.reserve(cells.size());
    for (const auto& k : keyed) sorted.push_back(cells[k.second]);
    return sorted;
}

}  // namespace reference
