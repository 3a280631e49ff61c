#include "mesh3d/robust/facet_delaunay.hpp"

#include <algorithm>
#include <cmath>

namespace robust {

namespace {

/// A triangle of the list, with the triangle across each edge (v[k], v[k+1]), -1 on the
/// far triangle's hull.
struct ListTri {
    int32_t v[3];
    int32_t across[3];
    bool alive;
};

/// The side of t whose edge runs from a to b, or -1.
int sideOf(const ListTri& t, int32_t a, int32_t b) {
    for (int k = 0; k < 3; ++k) {
        if (t.v[k] == a && t.v[(k + 1) % 3] == b) return k;
    }
    return -1;
}

}  // namespace

std::vector<Point2> withFarTriangle(const std::vector<Point2>& pts) {
    if (pts.empty()) return {};
    double lox = pts[0].x, hix = pts[0].x, loy = pts[0].y, hiy = pts[0].y;
    for (const Point2& p : pts) {
        lox = std::min(lox, p.x);
        hix = std::max(hix, p.x);
        loy = std::min(loy, p.y);
        hiy = std::max(hiy, p.y);
    }
    double e = std::max(hix - lox, hiy - loy);
    if (!(e > 0)) e = 1;
    const double cx = (lox + hix) * 0.5, cy = (loy + hiy) * 0.5;
    std::vector<Point2> all = pts;
    all.push_back(Point2{cx - 100 * e, cy - 100 * e});
    all.push_back(Point2{cx + 100 * e, cy - 100 * e});
    all.push_back(Point2{cx, cy + 100 * e});
    return all;
}

std::vector<Tri2> planarDelaunay(const std::vector<Point2>& pts) {
    const int32_t n = static_cast<int32_t>(pts.size());
    if (n == 0) return {};
    const std::vector<Point2> all = withFarTriangle(pts);

    // The list: removed triangles stay in place, dead, and new ones are appended, so the
    // living ones are in the order of the list the rule describes.
    std::vector<ListTri> tris{ListTri{{n, n + 1, n + 2}, {-1, -1, -1}, true}};
    std::vector<uint32_t> stamp(1, 0);  // per triangle: 2 * round in the cavity, 2 * round + 1 tested outside
    std::vector<int32_t> cavity, stack;
    struct Side {
        int32_t a, b, outer, made;
    };
    std::vector<Side> sides;
    // Per point inserted, a living triangle at it; the points in the order they went in.
    std::vector<int32_t> cornerOf(all.size(), -1);
    std::vector<int32_t> placed;
    cornerOf[n] = cornerOf[n + 1] = cornerOf[n + 2] = 0;
    // Per point, the new triangle whose side of the cavity starts (ends) there, during one
    // insertion.
    std::vector<int32_t> startsAt(all.size(), -1), endsAt(all.size(), -1);
    for (int32_t i = 0; i < n; ++i) {
        const Point2& p = all[i];
        const uint32_t in = 2u * static_cast<uint32_t>(i) + 2u, out = in + 1u;
        auto conflict = [&](int32_t t) {
            return incircle(all[tris[t].v[0]], all[tris[t].v[1]], all[tris[t].v[2]], p) > 0;
        };
        // The triangle holding p, by a walk from the point nearest it among the last one
        // placed and about the square root of their number spread over the others (a long
        // strip's points along its edges come in the order they were made, not along it),
        // or from the far triangle; in a Delaunay triangulation the walk cannot cycle, but
        // a long one falls back to a scan.
        int32_t at = 0;
        if (!placed.empty()) {
            const size_t count = placed.size();
            const size_t step = std::max<size_t>(1, count / (1 + static_cast<size_t>(std::sqrt(static_cast<double>(count)))));
            int32_t nearest = placed.back();
            double best = (all[nearest].x - p.x) * (all[nearest].x - p.x) + (all[nearest].y - p.y) * (all[nearest].y - p.y);
            for (size_t k = 0; k < count; k += step) {
                const Point2& q = all[placed[k]];
                const double d2 = (q.x - p.x) * (q.x - p.x) + (q.y - p.y) * (q.y - p.y);
                if (d2 < best) {
                    best = d2;
                    nearest = placed[k];
                }
            }
            at = cornerOf[nearest];
        }
        for (size_t steps = 0;; ++steps) {
            if (steps > tris.size()) {
                at = -1;
                break;
            }
            const ListTri& t = tris[at];
            int next = -1;
            for (int k = 0; k < 3 && next < 0; ++k) {
                if (orient2d(all[t.v[k]], all[t.v[(k + 1) % 3]], p) < 0) next = k;
            }
            if (next < 0 || t.across[next] < 0) break;
            at = t.across[next];
        }
        if (at < 0 || !conflict(at)) {
            // p is a corner of the triangle it lies in (a repeated point: no circumcircle
            // holds it), or the walk failed: the first triangle in conflict, if any.
            at = -1;
            for (int32_t t = 0; t < static_cast<int32_t>(tris.size()) && at < 0; ++t) {
                if (tris[t].alive && conflict(t)) at = t;
            }
            if (at < 0) continue;
        }
        // The cavity: the triangles whose circumcircle strictly holds p, connected to the
        // one that holds it.
        cavity.clear();
        stack.assign(1, at);
        stamp[at] = in;
        while (!stack.empty()) {
            const int32_t t = stack.back();
            stack.pop_back();
            cavity.push_back(t);
            for (const int32_t u : tris[t].across) {
                if (u < 0 || stamp[u] == in || stamp[u] == out) continue;
                if (conflict(u)) {
                    stamp[u] = in;
                    stack.push_back(u);
                } else {
                    stamp[u] = out;
                }
            }
        }
        std::sort(cavity.begin(), cavity.end());
        // One new triangle per side of the cavity, in the order of its triangles and edges.
        sides.clear();
        for (const int32_t t : cavity) {
            for (int k = 0; k < 3; ++k) {
                const int32_t u = tris[t].across[k];
                if (u >= 0 && stamp[u] == in) continue;
                sides.push_back(Side{tris[t].v[k], tris[t].v[(k + 1) % 3], u, static_cast<int32_t>(tris.size())});
                tris.push_back(ListTri{{tris[t].v[k], tris[t].v[(k + 1) % 3], i}, {u, -1, -1}, true});
                stamp.push_back(0);
            }
        }
        for (const int32_t t : cavity) tris[t].alive = false;
        placed.push_back(i);
        cornerOf[i] = sides.front().made;
        for (const Side& s : sides) {
            startsAt[s.a] = s.made;
            endsAt[s.b] = s.made;
        }
        for (const Side& s : sides) {
            if (s.outer >= 0) tris[s.outer].across[sideOf(tris[s.outer], s.b, s.a)] = s.made;
            // (a, b, i): across (b, i) the new triangle starting at b, across (i, a) the one
            // ending at a.
            tris[s.made].across[1] = startsAt[s.b];
            tris[s.made].across[2] = endsAt[s.a];
            cornerOf[s.a] = s.made;
        }
        for (const Side& s : sides) startsAt[s.a] = endsAt[s.b] = -1;
    }
    std::vector<Tri2> result;
    for (const ListTri& t : tris) {
        if (t.alive && t.v[0] < n && t.v[1] < n && t.v[2] < n) result.push_back(Tri2{{t.v[0], t.v[1], t.v[2]}});
    }
    return result;
}

}  // namespace robust
