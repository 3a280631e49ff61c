#include "mesh3d/reference/literal_delaunay3d.hpp"

#include <array>
#include <set>

#include "geom/predicates.hpp"
#include "mesh3d/delaunay3d.hpp"

namespace reference {

namespace {

using FaceKey = std::array<int64_t, 3>;

/// The rotation of (a, b, c) that starts with its smallest index; a rotation keeps the
/// orientation, so (a, b, c) and (a, c, b) get different keys.
FaceKey faceKey(int64_t a, int64_t b, int64_t c) {
    if (a < b && a < c) return {a, b, c};
    if (b < c) return {b, c, a};
    return {c, a, b};
}

}  // namespace

std::vector<TetCell> literalDelaunayTetrahedralize(const std::vector<Point3>& input) {
    const int64_t n = static_cast<int64_t>(input.size());
    if (n < 4) return {};

    // Degeneracy test only: the triple and the fourth point do not seed the insertion.
    const SpanningTriple triple = findSpanningTriple(input);
    if (!triple.found) return {};
    bool solid = false;
    for (int64_t i = 0; i < n && !solid; ++i) {
        solid = orient3d(input[triple.i0], input[triple.i1], input[triple.i2], input[i]) != 0;
    }
    if (!solid) return {};

    // Super-tetrahedron: four alternate corners of the cube of half-side 20e about the
    // centre of the bounding box.
    Point3 lo = input[0];
    Point3 hi = input[0];
    for (const Point3& p : input) {
        if (p.x < lo.x) lo.x = p.x;
        if (p.y < lo.y) lo.y = p.y;
        if (p.z < lo.z) lo.z = p.z;
        if (p.x > hi.x) hi.x = p.x;
        if (p.y > hi.y) hi.y = p.y;
        if (p.z > hi.z) hi.z = p.z;
    }
    const Point3 c{(lo.x + hi.x) * 0.5, (lo.y + hi.y) * 0.5, (lo.z + hi.z) * 0.5};
    const double dx = hi.x - lo.x;
    const double dy = hi.y - lo.y;
    const double dz = hi.z - lo.z;
    double e = dx;
    if (dy > e) e = dy;
    if (dz > e) e = dz;
    if (!(e > 0)) e = 1.0;
    const double m = 20.0 * e;

    std::vector<Point3> p;
    p.reserve(input.size() + 4);
    p.assign(input.begin(), input.end());
    p.push_back(Point3{c.x - m, c.y - m, c.z - m});
    p.push_back(Point3{c.x + m, c.y + m, c.z - m});
    p.push_back(Point3{c.x + m, c.y - m, c.z + m});
    p.push_back(Point3{c.x - m, c.y + m, c.z + m});

    std::vector<TetCell> cells{orientTet(n, n + 1, n + 2, n + 3, p)};
    std::vector<TetCell> cavity;
    std::vector<TetCell> rest;
    std::set<FaceKey> cavityFaces;
    for (int64_t i = 0; i < n; ++i) {
        const Point3& q = p[i];
        cavity.clear();
        rest.clear();
        for (const TetCell& t : cells) {
            // Strict: a cell whose circumsphere passes through q stays.
            if (insphere(p[t.v[0]], p[t.v[1]], p[t.v[2]], p[t.v[3]], q) > 0) {
                cavity.push_back(t);
            } else {
                rest.push_back(t);
            }
        }
        if (cavity.empty()) continue;  // a repeated point: left out

        cavityFaces.clear();
        for (const TetCell& t : cavity) {
            for (const auto& f : kTetFaces) cavityFaces.insert(faceKey(t.v[f[0]], t.v[f[1]], t.v[f[2]]));
        }
        cells.swap(rest);
        for (const TetCell& t : cavity) {
            for (const auto& f : kTetFaces) {
                const int64_t a = t.v[f[0]];
                const int64_t b = t.v[f[1]];
                const int64_t d = t.v[f[2]];
                // The reversed face belongs to another cavity cell: an inner face.
                if (cavityFaces.count(faceKey(a, d, b)) != 0) continue;
                if (orient3d(p[a], p[b], p[d], q) < 0) {
                    cells.push_back(TetCell{{a, d, b, i}});
                } else {
                    cells.push_back(TetCell{{a, b, d, i}});
                }
            }
        }
    }

    std::vector<TetCell> out;
    out.reserve(cells.size());
    for (const TetCell& t : cells) {
        if (t.v[0] < n && t.v[1] < n && t.v[2] < n && t.v[3] < n) out.push_back(t);
    }
    return out;
}

}  // namespace reference
