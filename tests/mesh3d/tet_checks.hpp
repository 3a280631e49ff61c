#pragma once
// Test support for the volume mesher: small complexes and an independent checker of
// tetrahedral meshes (orientation, conformity, volume, boundary coverage).

#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "geom/predicates.hpp"
#include "mesh3d/plc.hpp"
#include "mesh3d/solid_output.hpp"

namespace tetcheck {

/// The unit cube [0,1]^3 as twelve triangles, outward (or all reversed).
inline Plc cube(bool outward = true, double side = 1.0) {
    Plc plc;
    const double s = side;
    plc.points = {{0, 0, 0}, {s, 0, 0}, {s, s, 0}, {0, s, 0}, {0, 0, s}, {s, 0, s}, {s, s, s}, {0, s, s}};
    const int f[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                          {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    for (const auto& t : f) {
        plc.facets.push_back(outward ? Facet{{t[0], t[1], t[2]}} : Facet{{t[0], t[2], t[1]}});
    }
    return plc;
}

/// The corner tetrahedron (0,0,0), (1,0,0), (0,1,0), (0,0,1), outward.
inline Plc cornerTet() {
    Plc plc;
    plc.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    plc.facets = {Facet{{0, 2, 1}}, Facet{{0, 1, 3}}, Facet{{1, 2, 3}}, Facet{{0, 3, 2}}};
    return plc;
}

/// An L-shaped block: the L (0,0) (2,0) (2,1) (1,1) (1,2) (0,2) extruded from z = 0 to 1
/// (volume 3, one reflex edge).
inline Plc lBlock() {
    Plc plc;
    const double base[6][2] = {{0, 0}, {2, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 2}};
    for (int k = 0; k < 2; ++k) {
        for (const auto& b : base) plc.points.push_back(Point3{b[0], b[1], static_cast<double>(k)});
    }
    const int fan[4][3] = {{3, 0, 1}, {3, 1, 2}, {3, 5, 0}, {3, 4, 5}};  // counter-clockwise from above
    for (const auto& t : fan) {
        plc.facets.push_back(Facet{{t[0], t[2], t[1]}});              // bottom, facing -z
        plc.facets.push_back(Facet{{t[0] + 6, t[1] + 6, t[2] + 6}});  // top, facing +z
    }
    for (int i = 0; i < 6; ++i) {
        const int j = (i + 1) % 6;
        plc.facets.push_back(Facet{{i, j, j + 6}});
        plc.facets.push_back(Facet{{i, j + 6, i + 6}});
    }
    return plc;
}

/// Six times the signed volume with the sign of orient3d (positive for a valid cell).
inline double orientation(const std::vector<Point3>& p, const TetCell& t) {
    return orient3d(p[t.v[0]], p[t.v[1]], p[t.v[2]], p[t.v[3]]);
}

inline double volume(const std::vector<Point3>& p, const TetCell& t) {
    const Point3& a = p[t.v[0]];
    const Point3& b = p[t.v[1]];
    const Point3& c = p[t.v[2]];
    const Point3& d = p[t.v[3]];
    const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    const double wx = d.x - a.x, wy = d.y - a.y, wz = d.z - a.z;
    return std::fabs(ux * (vy * wz - vz * wy) - uy * (vx * wz - vz * wx) + uz * (vx * wy - vy * wx)) / 6.0;
}

inline double totalVolume(const std::vector<Point3>& p, const std::vector<TetCell>& tets) {
    double sum = 0.0;
    for (const TetCell& t : tets) sum += volume(p, t);
    return sum;
}

inline double triangleArea(const Point3& a, const Point3& b, const Point3& c) {
    const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    return 0.5 * std::sqrt(nx * nx + ny * ny + nz * nz);
}

/// Whether q (coplanar with the triangle) lies in the closed triangle, to a tolerance.
inline bool inTriangle(const Point3& q, const Point3& a, const Point3& b, const Point3& c) {
    const double whole = triangleArea(a, b, c);
    const double parts = triangleArea(q, b, c) + triangleArea(a, q, c) + triangleArea(a, b, q);
    return std::fabs(parts - whole) <= 1e-9 * (whole + 1.0);
}

/// Checks a tetrahedral mesh of the solid bounded by `facets` (the input facets):
/// - every index lies in the point list, every cell is positively oriented (exact test);
/// - no oriented face is used twice (cells do not overlap across a face);
/// - the faces used once (the mesh boundary) each lie in the plane of an input facet and
///   inside it, and their areas add up to the area of the input facets;
/// - the volumes add up to `expectedVolume` (relative 1e-9).
/// Returns an empty string when all hold, otherwise the first failure.
inline std::string checkTetMesh(const std::vector<Point3>& p, const std::vector<TetCell>& tets,
                                const std::vector<Point3>& inputPoints, const std::vector<Facet>& facets,
                                double expectedVolume) {
    if (tets.empty()) return "no tetrahedra";
    const int64_t n = static_cast<int64_t>(p.size());
    std::map<std::array<int64_t, 3>, int> directed;
    const int faces[4][3] = {{1, 3, 2}, {0, 2, 3}, {0, 3, 1}, {0, 1, 2}};
    for (const TetCell& t : tets) {
        for (int64_t v : t.v) {
            if (v < 0 || v >= n) return "index out of range";
        }
        if (!(orientation(p, t) > 0)) return "cell not positively oriented";
        for (const auto& f : faces) {
            std::array<int64_t, 3> k{t.v[f[0]], t.v[f[1]], t.v[f[2]]};
            // Rotate so the smallest index comes first (keeps the orientation).
            while (!(k[0] < k[1] && k[0] < k[2])) k = {k[1], k[2], k[0]};
            if (++directed[k] > 1) return "an oriented face is used twice";
        }
    }
    double boundaryArea = 0.0;
    for (const auto& entry : directed) {
        const auto& k = entry.first;
        std::array<int64_t, 3> rev{k[0], k[2], k[1]};
        if (directed.count(rev) != 0) continue;
        const Point3& a = p[k[0]];
        const Point3& b = p[k[1]];
        const Point3& c = p[k[2]];
        const Point3 centre{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3};
        bool onFacet = false;
        for (const Facet& f : facets) {
            const Point3& fa = inputPoints[f.v[0]];
            const Point3& fb = inputPoints[f.v[1]];
            const Point3& fc = inputPoints[f.v[2]];
            if (orient3d(fa, fb, fc, a) == 0 && orient3d(fa, fb, fc, b) == 0 && orient3d(fa, fb, fc, c) == 0 &&
                inTriangle(centre, fa, fb, fc)) {
                onFacet = true;
                break;
            }
        }
        if (!onFacet) return "a boundary face lies on no input facet";
        boundaryArea += triangleArea(a, b, c);
    }
    double facetArea = 0.0;
    for (const Facet& f : facets) {
        facetArea += triangleArea(inputPoints[f.v[0]], inputPoints[f.v[1]], inputPoints[f.v[2]]);
    }
    if (std::fabs(boundaryArea - facetArea) > 1e-9 * facetArea) {
        return "boundary area " + std::to_string(boundaryArea) + " differs from facet area " + std::to_string(facetArea);
    }
    const double vol = totalVolume(p, tets);
    if (std::fabs(vol - expectedVolume) > 1e-9 * expectedVolume) {
        return "volume " + std::to_string(vol) + " differs from " + std::to_string(expectedVolume);
    }
    return "";
}

inline bool sameCells(const std::vector<TetCell>& a, const std::vector<TetCell>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].v != b[i].v) return false;
    }
    return true;
}

}  // namespace tetcheck
