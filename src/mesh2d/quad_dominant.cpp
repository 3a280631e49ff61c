#include "mesh2d/quad_dominant.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

constexpr double kPi = 3.141592653589793;

/// The z component of (p x q).
double cross(double px, double py, double qx, double qy) { return px * qy - py * qx; }

/// The turn from the edge (from -> at) to the edge (at -> to): (at - from) x (to - at).
double turn(const Point2& from, const Point2& at, const Point2& to) {
    return cross(at.x - from.x, at.y - from.y, to.x - at.x, to.y - at.y);
}

/// Higher quality first; equal qualities by the corner tuple, smaller first.
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

double cornerAngle(const Point2& prev, const Point2& at, const Point2& next) {
    const double ax = prev.x - at.x, ay = prev.y - at.y;
    const double bx = next.x - at.x, by = next.y - at.y;
    const double la = std::sqrt(ax * ax + ay * ay);
    const double lb = std::sqrt(bx * bx + by * by);
    const double cosine = std::max(-1.0, std::min(1.0, (ax * bx + ay * by) / (la * lb)));
    return std::acos(cosine) * 180 / kPi;
}

double quadQuality(const Point2& p0, const Point2& p1, const Point2& p2, const Point2& p3) {
    const double angles[4] = {cornerAngle(p3, p0, p1), cornerAngle(p0, p1, p2), cornerAngle(p1, p2, p3),
                              cornerAngle(p2, p3, p0)};
    double worst = std::fabs(angles[0] - 90);
    for (int i = 1; i < 4; ++i) worst = std::max(worst, std::fabs(angles[i] - 90));
    // A quality that is not a number (from an unrepresentable angle) counts as 0.
    return std::max(0.0, 1 - worst / 90);
}

std::vector<MeshCell> quadDominate(const std::vector<Point2>& points, const std::vector<Triangle>& triangles,
                                   double minQuality) {
    // The uses of every edge, bucketed by the edge's smaller vertex with a counting sort
    // that keeps the order of addition (triangle by triangle, edges (t0, t1), (t1, t2),
    // (t2, t0)); within a bucket, uses of one edge share the larger vertex.
    const size_t useCount = 3 * triangles.size();
    int64_t vertexCount = 0;
    for (const Triangle& t : triangles) {
        for (const int64_t v : t.v) vertexCount = std::max(vertexCount, v + 1);
    }
    auto useOf = [&](size_t u) {
        const std::array<int64_t, 3>& v = triangles[u / 3].v;
        const int64_t ti = static_cast<int64_t>(u / 3);
        switch (u % 3) {
            case 0: return EdgeUse{ti, v[2], v[0], v[1]};
            case 1: return EdgeUse{ti, v[0], v[1], v[2]};
            default: return EdgeUse{ti, v[1], v[2], v[0]};
        }
    };
    std::vector<int64_t> bucketStart(static_cast<size_t>(vertexCount) + 1, 0);
    for (size_t u = 0; u < useCount; ++u) {
        const EdgeUse e = useOf(u);
        bucketStart[static_cast<size_t>(std::min(e.first, e.second)) + 1] += 1;
    }
    for (size_t i = 1; i < bucketStart.size(); ++i) bucketStart[i] += bucketStart[i - 1];
    std::vector<int64_t> fill(bucketStart.begin(), bucketStart.end() - 1);
    std::vector<uint32_t> uses(useCount);
    for (size_t u = 0; u < useCount; ++u) {
        const EdgeUse e = useOf(u);
        uses[static_cast<size_t>(fill[static_cast<size_t>(std::min(e.first, e.second))]++)] = static_cast<uint32_t>(u);
    }

    std::vector<QuadCandidate> candidates;
    candidates.reserve(triangles.size() * 3 / 2 + 1);
    auto consider = [&](const EdgeUse& u0, const EdgeUse& u1) {
        if (u0.first != u1.second || u0.second != u1.first) return;
        const int64_t o0 = u0.opposite, a = u0.first, b = u0.second, o1 = u1.opposite;
        const Point2& P0 = points[o0];
        const Point2& Pa = points[a];
        const Point2& P1 = points[o1];
        const Point2& Pb = points[b];
        // Strictly convex and counter-clockwise: all four turns to the left.
        if (!(turn(Pb, P0, Pa) > 0 && turn(P0, Pa, P1) > 0 && turn(Pa, P1, Pb) > 0 && turn(P1, Pb, P0) > 0)) return;
        const double quality = quadQuality(P0, Pa, P1, Pb);
        if (!(quality >= minQuality)) return;
        candidates.push_back(QuadCandidate{u0.tri, u1.tri, {o0, a, o1, b}, quality});
    };
    std::vector<std::pair<int64_t, uint32_t>> group;
    for (size_t v = 0; v + 1 < bucketStart.size(); ++v) {
        // Uses of the bucket ordered by the larger vertex, then by their order of addition.
        group.clear();
        for (int64_t i = bucketStart[v]; i < bucketStart[v + 1]; ++i) {
            const EdgeUse e = useOf(uses[static_cast<size_t>(i)]);
            group.emplace_back(std::max(e.first, e.second), uses[static_cast<size_t>(i)]);
        }
        std::sort(group.begin(), group.end());
        for (size_t i = 0; i < group.size();) {
            size_t j = i;
            while (j < group.size() && group[j].first == group[i].first) ++j;
            if (j - i == 2) consider(useOf(group[i].second), useOf(group[i + 1].second));
            i = j;
        }
    }
    // No two edges give the same corner tuple, so the order is fixed whatever the order
    // in which candidates were found.
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

AreaMesh meshQuadDominantArea(const std::vector<Point3>& boundary, const std::vector<std::vector<Point3>>& holes,
                              const std::vector<Point3>& interior, const RefineOptions& options,
                              double minQuality, const AreaProps& props) {
    AreaMesh mesh;
    const PlanarInput input = preparePlanarInput(boundary, holes, interior);
    mesh.frame = input.frame;
    if (!input.ok) {
        mesh.message = input.message;
        return mesh;
    }
    const RefinedMesh refined = refineDomain(input.domain, options);
    if (!refined.ok) {
        mesh.message = refined.message;
        return mesh;
    }
    // Nodes, frame, deviation and interior ids as for a triangle mesh; the areas follow.
    finishAreaMesh(input, refined.points, {}, props, mesh);

    const std::vector<MeshCell> cells = quadDominate(refined.points, refined.triangles, minQuality);
    const int64_t firstNode = props.firstNodeId;
    mesh.model.areas.reserve(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        const MeshCell& cell = cells[i];
        Area area;
        area.id = static_cast<int32_t>(static_cast<int64_t>(props.firstAreaId) + static_cast<int64_t>(i));
        const int corners = cell.isQuad ? 4 : 3;
        for (int c = 0; c < corners; ++c) area.nodes.push_back(static_cast<int32_t>(firstNode + cell.v[c]));
        area.kind = cell.isQuad ? "QUAD" : "CST";
        area.behavior = props.behavior;
        area.thickness = props.thickness;
        area.matId = static_cast<int32_t>(props.matId);
        area.secId = static_cast<int32_t>(props.secId);
        area.drilling = props.drilling;
        mesh.model.areas.push_back(std::move(area));
    }
    return mesh;
}
