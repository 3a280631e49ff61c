#pragma once
// Closed surfaces of the kinds CAD tessellation produces, written as piecewise-linear
// complexes with outward facets, and an independent checker of tetrahedral meshes of them.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "geom/predicates.hpp"
#include "mesh3d/plc.hpp"
#include "mesh3d/robust/robust_mesher.hpp"
#include "mesh3d/solid_output.hpp"
#include "mesh3d/tet_refine.hpp"

namespace shapes {

/// splitmix64: the same numbers on every platform.
struct Draw {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    int below(int n) { return static_cast<int>(next() % static_cast<uint64_t>(n)); }
};

/// Whether two runs gave the same points (bit for bit) and the same cells, in order.
inline bool sameMesh(const RobustTetMesh& a, const RobustTetMesh& b) {
    if (a.points.size() != b.points.size() || a.tets.size() != b.tets.size()) return false;
    for (size_t i = 0; i < a.points.size(); ++i) {
        if (a.points[i].x != b.points[i].x || a.points[i].y != b.points[i].y || a.points[i].z != b.points[i].z) {
            return false;
        }
    }
    for (size_t i = 0; i < a.tets.size(); ++i) {
        if (a.tets[i].v != b.tets[i].v) return false;
    }
    return true;
}

constexpr double kPi = 3.14159265358979323846;

struct Builder {
    Plc plc;
    std::map<std::array<double, 3>, int64_t> index;
    int64_t point(double x, double y, double z) {
        const std::array<double, 3> key{x, y, z};
        auto it = index.find(key);
        if (it != index.end()) return it->second;
        plc.points.push_back(Point3{x, y, z});
        index.emplace(key, static_cast<int64_t>(plc.points.size() - 1));
        return static_cast<int64_t>(plc.points.size() - 1);
    }
    void tri(int64_t a, int64_t b, int64_t c) { plc.facets.push_back(Facet{{a, b, c}}); }
    /// A planar quad a-b-c-d, counter-clockwise seen from outside, as two triangles.
    void quad(int64_t a, int64_t b, int64_t c, int64_t d) {
        tri(a, b, c);
        tri(a, c, d);
    }
};

/// The solid made of the filled cells of a rectilinear grid with lines xs, ys, zs.
inline Plc voxels(const std::vector<double>& xs, const std::vector<double>& ys, const std::vector<double>& zs,
                  const std::function<bool(int, int, int)>& filled) {
    Builder b;
    const int nx = static_cast<int>(xs.size()) - 1, ny = static_cast<int>(ys.size()) - 1,
              nz = static_cast<int>(zs.size()) - 1;
    auto full = [&](int i, int j, int k) {
        return i >= 0 && j >= 0 && k >= 0 && i < nx && j < ny && k < nz && filled(i, j, k);
    };
    auto P = [&](int i, int j, int k) { return b.point(xs[i], ys[j], zs[k]); };
    for (int k = 0; k < nz; ++k) {
        for (int j = 0; j < ny; ++j) {
            for (int i = 0; i < nx; ++i) {
                if (!full(i, j, k)) continue;
                if (!full(i - 1, j, k)) b.quad(P(i, j, k), P(i, j, k + 1), P(i, j + 1, k + 1), P(i, j + 1, k));
                if (!full(i + 1, j, k)) b.quad(P(i + 1, j, k), P(i + 1, j + 1, k), P(i + 1, j + 1, k + 1), P(i + 1, j, k + 1));
                if (!full(i, j - 1, k)) b.quad(P(i, j, k), P(i + 1, j, k), P(i + 1, j, k + 1), P(i, j, k + 1));
                if (!full(i, j + 1, k)) b.quad(P(i, j + 1, k), P(i, j + 1, k + 1), P(i + 1, j + 1, k + 1), P(i + 1, j + 1, k));
                if (!full(i, j, k - 1)) b.quad(P(i, j, k), P(i, j + 1, k), P(i + 1, j + 1, k), P(i + 1, j, k));
                if (!full(i, j, k + 1)) b.quad(P(i, j, k + 1), P(i + 1, j, k + 1), P(i + 1, j + 1, k + 1), P(i, j + 1, k + 1));
            }
        }
    }
    return b.plc;
}

inline std::vector<double> grid(double lo, double hi, int n) {
    std::vector<double> v;
    for (int i = 0; i <= n; ++i) v.push_back(lo + (hi - lo) * i / n);
    return v;
}

inline Plc box(double x0, double y0, double z0, double x1, double y1, double z1) {
    return voxels({x0, x1}, {y0, y1}, {z0, z1}, [](int, int, int) { return true; });
}

/// A stack of coaxial cylinders (radius r[i] from z[i] to z[i+1]), each a prism over an
/// n-gon, the end caps fans of long thin triangles from the axis, the steps annular rings.
inline Plc steppedShaft(int n, const std::vector<double>& radii, const std::vector<double>& zs) {
    Builder b;
    auto ring = [&](double r, double z, int i) {
        const double t = 2 * kPi * (i % n) / n;
        return b.point(r * std::cos(t), r * std::sin(t), z);
    };
    const size_t m = radii.size();
    const int64_t bottom = b.point(0, 0, zs[0]);
    const int64_t top = b.point(0, 0, zs[m]);
    for (int i = 0; i < n; ++i) {
        b.tri(bottom, ring(radii[0], zs[0], i + 1), ring(radii[0], zs[0], i));
        b.tri(top, ring(radii[m - 1], zs[m], i), ring(radii[m - 1], zs[m], i + 1));
    }
    for (size_t s = 0; s < m; ++s) {
        for (int i = 0; i < n; ++i) {
            b.quad(ring(radii[s], zs[s], i), ring(radii[s], zs[s], i + 1), ring(radii[s], zs[s + 1], i + 1),
                   ring(radii[s], zs[s + 1], i));
        }
        if (s + 1 < m) {
            const double r0 = radii[s], r1 = radii[s + 1], z = zs[s + 1];
            for (int i = 0; i < n; ++i) {
                if (r1 < r0) {  // a shoulder facing +z
                    b.quad(ring(r1, z, i), ring(r0, z, i), ring(r0, z, i + 1), ring(r1, z, i + 1));
                } else {  // facing -z
                    b.quad(ring(r0, z, i), ring(r0, z, i + 1), ring(r1, z, i + 1), ring(r1, z, i));
                }
            }
        }
    }
    return b.plc;
}

/// A box [0, a] x [0, b] x [0, c] with every edge rounded to radius rho, as CAD tessellates
/// it: each quarter arc of an edge in 2m strips of long thin triangles beside the flat
/// faces (each a quad split in two), the corners patches of a sphere. Built on the grid of
/// the box's own faces, each point moved out from the box shrunk by rho.
inline Plc roundedBox(double a, double b, double c, double rho, int m) {
    const double size[3] = {a, b, c};
    std::vector<double> lines[3];
    for (int axis = 0; axis < 3; ++axis) {
        std::vector<double>& g = lines[axis];
        g.push_back(0);
        for (int i = m - 1; i >= 1; --i) g.push_back(rho - rho * std::tan(i * (kPi / 4) / m));
        g.push_back(rho);
        g.push_back(size[axis] - rho);
        for (int i = 1; i <= m - 1; ++i) g.push_back(size[axis] - (rho - rho * std::tan(i * (kPi / 4) / m)));
        g.push_back(size[axis]);
    }
    Builder builder;
    auto vertex = [&](const int (&index)[3]) {
        double q[3], inner[3], out[3], n2 = 0;
        for (int k = 0; k < 3; ++k) {
            q[k] = lines[k][index[k]];
            inner[k] = std::min(std::max(q[k], rho), size[k] - rho);
            out[k] = q[k] - inner[k];
            n2 += out[k] * out[k];
        }
        const double n = std::sqrt(n2);
        return builder.point(inner[0] + rho * out[0] / n, inner[1] + rho * out[1] / n, inner[2] + rho * out[2] / n);
    };
    for (int axis = 0; axis < 3; ++axis) {
        const int u = (axis + 1) % 3, w = (axis + 2) % 3;  // (u, w, axis) right-handed
        for (int side = 0; side < 2; ++side) {
            const int fixed = side == 0 ? 0 : static_cast<int>(lines[axis].size()) - 1;
            for (int i = 0; i + 1 < static_cast<int>(lines[u].size()); ++i) {
                for (int j = 0; j + 1 < static_cast<int>(lines[w].size()); ++j) {
                    int64_t corner[4];
                    const int di[4] = {0, 1, 1, 0}, dj[4] = {0, 0, 1, 1};
                    for (int k = 0; k < 4; ++k) {
                        int index[3];
                        index[axis] = fixed;
                        index[u] = i + di[k];
                        index[w] = j + dj[k];
                        corner[k] = vertex(index);
                    }
                    if (side == 1) {
                        builder.quad(corner[0], corner[1], corner[2], corner[3]);
                    } else {
                        builder.quad(corner[0], corner[3], corner[2], corner[1]);
                    }
                }
            }
        }
    }
    return builder.plc;
}

/// A cone of radius r and height h over an n-gon, base fan from the centre.
inline Plc cone(int n, double r, double h) {
    Builder b;
    const int64_t apex = b.point(0, 0, h);
    const int64_t centre = b.point(0, 0, 0);
    auto at = [&](int i) {
        const double t = 2 * kPi * (i % n) / n;
        return b.point(r * std::cos(t), r * std::sin(t), 0);
    };
    for (int i = 0; i < n; ++i) {
        b.tri(centre, at(i + 1), at(i));
        b.tri(apex, at(i), at(i + 1));
    }
    return b.plc;
}

/// A prism over the triangle (0,0), (L,0), (L cos a, L sin a): an edge of dihedral angle a.
inline Plc wedge(double angleDeg, double length, double depth) {
    Builder b;
    const double a = angleDeg * kPi / 180;
    const double xy[3][2] = {{0, 0}, {length, 0}, {length * std::cos(a), length * std::sin(a)}};
    int64_t lo[3], hi[3];
    for (int i = 0; i < 3; ++i) {
        lo[i] = b.point(xy[i][0], xy[i][1], 0);
        hi[i] = b.point(xy[i][0], xy[i][1], depth);
    }
    b.tri(lo[0], lo[2], lo[1]);
    b.tri(hi[0], hi[1], hi[2]);
    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3;
        b.quad(lo[i], lo[j], hi[j], hi[i]);
    }
    return b.plc;
}

/// plc turned by the rotation m in double precision: facets that were coplanar are apart by
/// the rounding of double precision, as in surfaces exported from a model turned in space.
/// The rotation by `angle` (radians) about the axis (ax, ay, az), of any length but zero.
struct Rotation {
    double m[3][3];
};

inline Rotation rotationAbout(double ax, double ay, double az, double angle) {
    const double len = std::sqrt(ax * ax + ay * ay + az * az);
    ax /= len;
    ay /= len;
    az /= len;
    const double co = std::cos(angle), si = std::sin(angle), t = 1 - co;
    return Rotation{{{t * ax * ax + co, t * ax * ay - si * az, t * ax * az + si * ay},
                     {t * ax * ay + si * az, t * ay * ay + co, t * ay * az - si * ax},
                     {t * ax * az - si * ay, t * ay * az + si * ax, t * az * az + co}}};
}

inline Plc turned(Plc plc, const double m[3][3]) {
    for (Point3& p : plc.points) {
        const double x = p.x, y = p.y, z = p.z;
        p = Point3{m[0][0] * x + m[0][1] * y + m[0][2] * z, m[1][0] * x + m[1][1] * y + m[1][2] * z,
                   m[2][0] * x + m[2][1] * y + m[2][2] * z};
    }
    return plc;
}

/// x rounded to single precision, as a surface written in single precision stores it. The
/// float goes through a volatile: GCC 12's vectorizer, given the x and y of a point
/// converted side by side, leaves out the rounding of both, and the shape came out in
/// double precision in those coordinates (some points or all, by optimization level).
inline double toSingle(double x) {
    volatile float f = static_cast<float>(x);
    return static_cast<double>(f);
}

/// plc turned by the rotation m, its heights rounded to single precision: facets that were
/// coplanar are not exactly so any more, as in surfaces written in single precision.
inline Plc turnedRounded(Plc plc, const double m[3][3]) {
    for (Point3& p : plc.points) {
        const double x = p.x, y = p.y, z = p.z;
        p = Point3{m[0][0] * x + m[0][1] * y + m[0][2] * z, m[1][0] * x + m[1][1] * y + m[1][2] * z,
                   toSingle(m[2][0] * x + m[2][1] * y + m[2][2] * z)};
    }
    return plc;
}

/// The corner tetrahedron (0,0,0), (1,0,0), (0,1,0), (0,0,1), outward.
inline Plc cornerTetFacets() {
    Plc plc;
    plc.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    plc.facets = {Facet{{0, 2, 1}}, Facet{{0, 1, 3}}, Facet{{1, 2, 3}}, Facet{{0, 3, 2}}};
    return plc;
}

/// The unit cube whose top face holds a tiny square of side 2h at its centre, the ring
/// around it in eight triangles: coplanar neighbouring facets of very different sizes.
inline Plc cubeWithTinyFacet(double h) {
    Builder b;
    const double sq[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    const double tiny[4][2] = {{0.5 - h, 0.5 - h}, {0.5 + h, 0.5 - h}, {0.5 + h, 0.5 + h}, {0.5 - h, 0.5 + h}};
    int64_t lo[4], hi[4], s[4];
    for (int k = 0; k < 4; ++k) {
        lo[k] = b.point(sq[k][0], sq[k][1], 0);
        hi[k] = b.point(sq[k][0], sq[k][1], 1);
        s[k] = b.point(tiny[k][0], tiny[k][1], 1);
    }
    b.quad(lo[0], lo[3], lo[2], lo[1]);
    for (int k = 0; k < 4; ++k) {
        const int j = (k + 1) % 4;
        b.quad(lo[k], lo[j], hi[j], hi[k]);
        b.tri(hi[k], hi[j], s[j]);
        b.tri(hi[k], s[j], s[k]);
    }
    b.quad(s[0], s[1], s[2], s[3]);
    return b.plc;
}

/// A torus with tube radius r around a circle of radius R, n x m quads.
inline Plc torus(double R, double r, int n, int m) {
    Builder b;
    auto at = [&](int i, int j) {
        const double u = 2 * kPi * (i % n) / n, v = 2 * kPi * (j % m) / m;
        return b.point((R + r * std::cos(v)) * std::cos(u), (R + r * std::cos(v)) * std::sin(u), r * std::sin(v));
    };
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < m; ++j) b.quad(at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1));
    }
    return b.plc;
}

/// An icosahedron subdivided `levels` times, on the sphere of radius 1.
inline Plc icosphere(int levels) {
    const double t = (1 + std::sqrt(5.0)) / 2;
    std::vector<std::array<double, 3>> p = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
                                            {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
    std::vector<std::array<int64_t, 3>> f = {{0, 11, 5}, {0, 5, 1},  {0, 1, 7},   {0, 7, 10}, {0, 10, 11},
                                             {1, 5, 9},  {5, 11, 4}, {11, 10, 2}, {10, 7, 6}, {7, 1, 8},
                                             {3, 9, 4},  {3, 4, 2},  {3, 2, 6},   {3, 6, 8},  {3, 8, 9},
                                             {4, 9, 5},  {2, 4, 11}, {6, 2, 10},  {8, 6, 7},  {9, 8, 1}};
    auto norm = [](std::array<double, 3> q) {
        const double l = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
        return std::array<double, 3>{q[0] / l, q[1] / l, q[2] / l};
    };
    for (auto& q : p) q = norm(q);
    for (int level = 0; level < levels; ++level) {
        std::map<std::pair<int64_t, int64_t>, int64_t> mid;
        auto middle = [&](int64_t a, int64_t c) {
            const auto key = std::make_pair(std::min(a, c), std::max(a, c));
            auto it = mid.find(key);
            if (it != mid.end()) return it->second;
            p.push_back(norm({(p[a][0] + p[c][0]) / 2, (p[a][1] + p[c][1]) / 2, (p[a][2] + p[c][2]) / 2}));
            mid.emplace(key, static_cast<int64_t>(p.size() - 1));
            return static_cast<int64_t>(p.size() - 1);
        };
        std::vector<std::array<int64_t, 3>> g;
        for (const auto& q : f) {
            const int64_t ab = middle(q[0], q[1]), bc = middle(q[1], q[2]), ca = middle(q[2], q[0]);
            g.push_back({q[0], ab, ca});
            g.push_back({q[1], bc, ab});
            g.push_back({q[2], ca, bc});
            g.push_back({ab, bc, ca});
        }
        f.swap(g);
    }
    Plc plc;
    for (const auto& q : p) plc.points.push_back(Point3{q[0], q[1], q[2]});
    for (const auto& q : f) plc.facets.push_back(Facet{{q[0], q[1], q[2]}});
    return plc;
}

/// Two complexes as one (points and facets of the second renumbered, and reversed when
/// `inward`: the second then bounds a void inside the first).
inline Plc join(const Plc& a, const Plc& b, bool inward = false) {
    Plc out = a;
    const int64_t offset = static_cast<int64_t>(a.points.size());
    out.points.insert(out.points.end(), b.points.begin(), b.points.end());
    for (const Facet& f : b.facets) {
        if (inward) {
            out.facets.push_back(Facet{{f.v[0] + offset, f.v[2] + offset, f.v[1] + offset}});
        } else {
            out.facets.push_back(Facet{{f.v[0] + offset, f.v[1] + offset, f.v[2] + offset}});
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// The checker.

inline double triArea(const Point3& a, const Point3& b, const Point3& c) {
    const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    return 0.5 * std::sqrt(nx * nx + ny * ny + nz * nz);
}

inline double tetVolume(const Point3& a, const Point3& b, const Point3& c, const Point3& d) {
    const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
    const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
    const double wx = d.x - a.x, wy = d.y - a.y, wz = d.z - a.z;
    return std::fabs(ux * (vy * wz - vz * wy) - uy * (vx * wz - vz * wx) + uz * (vx * wy - vy * wx)) / 6.0;
}

/// |sum of (a - o) . ((b - o) x (c - o))| / 6 over the facets. About the origin it loses
/// the digits a part far from it needs (about 1e-7 of the volume for a part of unit size at
/// 1000), so the checks take o on the part.
inline double enclosed(const Plc& plc, const Point3& o = Point3{0, 0, 0}) {
    double sum = 0;
    for (const Facet& f : plc.facets) {
        const Point3& pa = plc.points[f.v[0]];
        const Point3& pb = plc.points[f.v[1]];
        const Point3& pc = plc.points[f.v[2]];
        const Point3 a{pa.x - o.x, pa.y - o.y, pa.z - o.z};
        const Point3 b{pb.x - o.x, pb.y - o.y, pb.z - o.z};
        const Point3 c{pc.x - o.x, pc.y - o.y, pc.z - o.z};
        sum += a.x * (b.y * c.z - b.z * c.y) - a.y * (b.x * c.z - b.z * c.x) + a.z * (b.x * c.y - b.y * c.x);
    }
    return std::fabs(sum) / 6.0;
}

struct CheckResult {
    std::string failure;  ///< empty when every check passed
    int64_t overVolume = 0;
    int64_t overRatio = 0;
    /// The largest distance of a boundary face's corner from the plane of the facet holding
    /// the face, over the largest coordinate magnitude of the input.
    double offPlane = 0;
};

/// Checks a mesh of the solid bounded by plc's facets:
/// - indices in range, every cell positively oriented (exact test);
/// - no oriented face used twice;
/// - every face used once (the mesh boundary) lies on one input facet (within a relative
///   1e-9 of its plane, its centroid inside it), and per facet their areas add up to the
///   facet's area (relative 1e-9);
/// - the volumes add up to the enclosed volume (relative 1e-9);
/// and counts the cells above maxVolume and above the radius-edge bound.
inline CheckResult check(const Plc& plc, const std::vector<Point3>& p, const std::vector<TetCell>& tets,
                         double maxVolume, double bound) {
    CheckResult r;
    if (tets.empty()) {
        r.failure = "no tetrahedra";
        return r;
    }
    double scale = 0;
    for (const Point3& q : plc.points) scale = std::max({scale, std::fabs(q.x), std::fabs(q.y), std::fabs(q.z)});
    const int64_t n = static_cast<int64_t>(p.size());
    std::map<std::array<int64_t, 3>, int> directed;
    const int faces[4][3] = {{1, 3, 2}, {0, 2, 3}, {0, 3, 1}, {0, 1, 2}};
    double volume = 0;
    for (const TetCell& t : tets) {
        for (int64_t v : t.v) {
            if (v < 0 || v >= n) {
                r.failure = "index out of range";
                return r;
            }
        }
        const Point3 &a = p[t.v[0]], &b = p[t.v[1]], &c = p[t.v[2]], &d = p[t.v[3]];
        if (!(orient3d(a, b, c, d) > 0)) {
            r.failure = "a cell is not positively oriented";
            return r;
        }
        const double vol = tetVolume(a, b, c, d);
        volume += vol;
        if (maxVolume > 0 && vol > maxVolume) ++r.overVolume;
        // The system's own measure (plain double arithmetic; a cell too flat for it counts).
        const double ratio = tetQuality(a, b, c, d).radiusEdgeRatio;
        if (ratio == 0 || ratio > bound * (1 + 1e-9)) ++r.overRatio;
        for (const auto& f : faces) {
            std::array<int64_t, 3> k{t.v[f[0]], t.v[f[1]], t.v[f[2]]};
            while (!(k[0] < k[1] && k[0] < k[2])) k = {k[1], k[2], k[0]};
            if (++directed[k] > 1) {
                r.failure = "an oriented face is used twice";
                return r;
            }
        }
    }
    std::vector<double> area(plc.facets.size(), 0.0);
    for (const auto& entry : directed) {
        const auto& k = entry.first;
        if (directed.count({k[0], k[2], k[1]}) != 0) continue;
        const Point3 &a = p[k[0]], &b = p[k[1]], &c = p[k[2]];
        const Point3 centre{(a.x + b.x + c.x) / 3, (a.y + b.y + c.y) / 3, (a.z + b.z + c.z) / 3};
        // The facet holding the centroid; of several within the tolerance (a sliver at the
        // border of coplanar facets, one of them tiny), the one it lies least outside.
        int64_t found = -1;
        double foundExcess = 0, foundOff = 0;
        for (size_t f = 0; f < plc.facets.size(); ++f) {
            const Point3& fa = plc.points[plc.facets[f].v[0]];
            const Point3& fb = plc.points[plc.facets[f].v[1]];
            const Point3& fc = plc.points[plc.facets[f].v[2]];
            const double ux = fb.x - fa.x, uy = fb.y - fa.y, uz = fb.z - fa.z;
            const double vx = fc.x - fa.x, vy = fc.y - fa.y, vz = fc.z - fa.z;
            double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
            const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
            nx /= len;
            ny /= len;
            nz /= len;
            const Point3* q[3] = {&a, &b, &c};
            bool onPlane = true;
            double off = 0;
            for (const Point3* x : q) {
                const double dist = (x->x - fa.x) * nx + (x->y - fa.y) * ny + (x->z - fa.z) * nz;
                if (std::fabs(dist) > 1e-9 * scale) onPlane = false;
                off = std::max(off, std::fabs(dist) / scale);
            }
            if (!onPlane) continue;
            const double whole = triArea(fa, fb, fc);
            const double parts = triArea(centre, fb, fc) + triArea(fa, centre, fc) + triArea(fa, fb, centre);
            const double excess = std::fabs(parts - whole);
            if (excess <= 1e-9 * whole && (found < 0 || excess < foundExcess)) {
                found = static_cast<int64_t>(f);
                foundExcess = excess;
                foundOff = off;
            }
        }
        if (found < 0) {
            r.failure = "a boundary face lies on no input facet";
            return r;
        }
        area[found] += triArea(a, b, c);
        r.offPlane = std::max(r.offPlane, foundOff);
    }
    for (size_t f = 0; f < plc.facets.size(); ++f) {
        const double whole =
            triArea(plc.points[plc.facets[f].v[0]], plc.points[plc.facets[f].v[1]], plc.points[plc.facets[f].v[2]]);
        if (std::fabs(area[f] - whole) > 1e-9 * whole) {
            r.failure = "the boundary faces on facet " + std::to_string(f) + " cover " + std::to_string(area[f]) +
                        " of its " + std::to_string(whole);
            return r;
        }
    }
    const double expected = enclosed(plc, plc.points.empty() ? Point3{0, 0, 0} : plc.points[0]);
    if (std::fabs(volume - expected) > 1e-9 * expected) {
        r.failure = "volume " + std::to_string(volume) + " differs from the enclosed " + std::to_string(expected);
    }
    return r;
}

// ---------------------------------------------------------------------------------------
// Cells next to small input angles, found from the geometry alone.

/// Where a mesh point lies on the input: an input point, on input edges (facet edges),
/// inside input facets; found by plain tolerance tests against the complex.
struct PointPlace {
    int64_t corner = -1;
    std::vector<std::array<int64_t, 2>> edges;  ///< input edges (ends sorted) holding the point
    std::vector<int64_t> facets;                ///< facets holding the point (their edges too)
};

inline double dist2(const Point3& a, const Point3& b) {
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

/// Whether a cell's volume is of rounding size: a corner lies within 1e-10 of the longest
/// edge from the plane of the other three, or no circumsphere can be computed for it.
inline bool roundingFlat(const Point3& a, const Point3& b, const Point3& c, const Point3& d) {
    if (tetQuality(a, b, c, d).radiusEdgeRatio == 0) return true;
    const Point3* p[4] = {&a, &b, &c, &d};
    double longest2 = 0;
    for (int i = 0; i < 4; ++i) {
        for (int j = i + 1; j < 4; ++j) longest2 = std::max(longest2, dist2(*p[i], *p[j]));
    }
    for (int k = 0; k < 4; ++k) {
        const Point3& o = *p[(k + 1) % 4];
        const Point3& u = *p[(k + 2) % 4];
        const Point3& w = *p[(k + 3) % 4];
        const double ux = u.x - o.x, uy = u.y - o.y, uz = u.z - o.z;
        const double wx = w.x - o.x, wy = w.y - o.y, wz = w.z - o.z;
        const double nx = uy * wz - uz * wy, ny = uz * wx - ux * wz, nz = ux * wy - uy * wx;
        const double n = std::sqrt(nx * nx + ny * ny + nz * nz);
        const Point3& q = *p[k];
        const double h = n > 0 ? std::fabs((q.x - o.x) * nx + (q.y - o.y) * ny + (q.z - o.z) * nz) / n : 0.0;
        if (h * h <= 1e-20 * longest2) return true;
    }
    return false;
}

/// The cells of a mesh whose volume is of rounding size.
inline int64_t roundingFlatCells(const std::vector<Point3>& p, const std::vector<TetCell>& tets) {
    int64_t flat = 0;
    for (const TetCell& t : tets) {
        if (roundingFlat(p[t.v[0]], p[t.v[1]], p[t.v[2]], p[t.v[3]])) ++flat;
    }
    return flat;
}

inline PointPlace placeOf(const Plc& plc, const Point3& q, double scale) {
    PointPlace pl;
    const double tol = 1e-9 * scale;
    for (size_t i = 0; i < plc.points.size(); ++i) {
        if (dist2(plc.points[i], q) <= tol * tol) pl.corner = static_cast<int64_t>(i);
    }
    for (size_t f = 0; f < plc.facets.size(); ++f) {
        const Point3& a = plc.points[plc.facets[f].v[0]];
        const Point3& b = plc.points[plc.facets[f].v[1]];
        const Point3& c = plc.points[plc.facets[f].v[2]];
        const double whole = triArea(a, b, c);
        const double parts = triArea(q, b, c) + triArea(a, q, c) + triArea(a, b, q);
        // In the facet's plane and inside it (closed).
        const double ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
        const double vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
        const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
        const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
        const double off = ((q.x - a.x) * nx + (q.y - a.y) * ny + (q.z - a.z) * nz) / len;
        if (std::fabs(off) > tol || std::fabs(parts - whole) > 1e-9 * whole) continue;
        pl.facets.push_back(static_cast<int64_t>(f));
        for (int k = 0; k < 3; ++k) {
            const int64_t i = plc.facets[f].v[k], j = plc.facets[f].v[(k + 1) % 3];
            const Point3& p = plc.points[i];
            const Point3& r = plc.points[j];
            // On the edge: distance to its line within the tolerance, between its ends.
            const double ex = r.x - p.x, ey = r.y - p.y, ez = r.z - p.z;
            const double l2 = ex * ex + ey * ey + ez * ez;
            const double t = ((q.x - p.x) * ex + (q.y - p.y) * ey + (q.z - p.z) * ez) / l2;
            const Point3 foot{p.x + t * ex, p.y + t * ey, p.z + t * ez};
            if (t < -1e-12 || t > 1 + 1e-12 || dist2(foot, q) > tol * tol) continue;
            const std::array<int64_t, 2> e{std::min(i, j), std::max(i, j)};
            bool known = false;
            for (const auto& x : pl.edges) known = known || x == e;
            if (!known) pl.edges.push_back(e);
        }
    }
    return pl;
}

inline bool narrowAngle(double x0, double y0, double z0, double x1, double y1, double z1, double limitDeg) {
    const double l0 = std::sqrt(x0 * x0 + y0 * y0 + z0 * z0), l1 = std::sqrt(x1 * x1 + y1 * y1 + z1 * z1);
    if (!(l0 > 0 && l1 > 0)) return false;
    const double c = (x0 * x1 + y0 * y1 + z0 * z1) / (l0 * l1);
    return c > std::cos(limitDeg * kPi / 180);
}

/// Whether some facet at input point o has a corner below limitDeg there.
inline bool sharpCorner(const Plc& plc, int64_t o, double limitDeg) {
    const Point3& c = plc.points[o];
    for (const Facet& f : plc.facets) {
        for (int k = 0; k < 3; ++k) {
            if (f.v[k] != o) continue;
            const Point3& x = plc.points[f.v[(k + 1) % 3]];
            const Point3& y = plc.points[f.v[(k + 2) % 3]];
            if (narrowAngle(x.x - c.x, x.y - c.y, x.z - c.z, y.x - c.x, y.y - c.y, y.z - c.z, limitDeg)) return true;
        }
    }
    return false;
}

/// The angle between the offsets of pu and pw from the line through a and b is below limitDeg.
inline bool narrowAround(const Point3& a, const Point3& b, const Point3& pu, const Point3& pw, double limitDeg) {
    const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
    const double l2 = dx * dx + dy * dy + dz * dz;
    auto offset = [&](const Point3& q, double* o) {
        const double t = ((q.x - a.x) * dx + (q.y - a.y) * dy + (q.z - a.z) * dz) / l2;
        o[0] = q.x - a.x - t * dx;
        o[1] = q.y - a.y - t * dy;
        o[2] = q.z - a.z - t * dz;
    };
    double ou[3], ow[3];
    offset(pu, ou);
    offset(pw, ow);
    return narrowAngle(ou[0], ou[1], ou[2], ow[0], ow[1], ow[2], limitDeg);
}

/// Whether the points u and w (placed by placeOf) lie on different input features meeting
/// at an angle below limitDeg where they are: around an input edge both reach (the angle
/// between their offsets from its line), on two facets meeting at an input edge (the same
/// angle: points on the two sides of a sharp edge), or at an input point both features
/// reach (the angle they subtend there); and an input point with a facet corner below the
/// angle and a point on a facet there. Two points of one edge, or a point inside a facet and
/// another point of it, are never separated; points on two edges of a thin facet are, at its
/// corner.
inline bool smallAngleApart(const Plc& plc, const Point3& pu, const PointPlace& u, const Point3& pw,
                            const PointPlace& w, double limitDeg) {
    if (u.facets.empty() || w.facets.empty()) return false;  // a point inside the solid
    // An input point where a facet has a corner below the angle, and a point on a facet at
    // that input point: every neighbourhood of the corner holds points the angle separates.
    for (int side = 0; side < 2; ++side) {
        const PointPlace& a = side == 0 ? u : w;
        const PointPlace& b = side == 0 ? w : u;
        if (a.corner < 0 || !sharpCorner(plc, a.corner, limitDeg)) continue;
        for (int64_t g : b.facets) {
            for (int64_t x : plc.facets[g].v) {
                if (x == a.corner) return true;
            }
        }
    }
    if (u.corner >= 0 || w.corner >= 0) return false;  // otherwise measured at a corner only between two others
    // A point inside a facet and another point of the same facet: no input angle between,
    // unless the facet has a corner below the limit (all of it lies in that corner's wedge).
    if (u.edges.empty() || w.edges.empty()) {
        for (int64_t f : u.facets) {
            for (int64_t g : w.facets) {
                if (f != g) continue;
                const Point3* c[3] = {&plc.points[plc.facets[f].v[0]], &plc.points[plc.facets[f].v[1]],
                                      &plc.points[plc.facets[f].v[2]]};
                for (int k = 0; k < 3; ++k) {
                    const Point3& o = *c[k];
                    const Point3& x = *c[(k + 1) % 3];
                    const Point3& y = *c[(k + 2) % 3];
                    if (narrowAngle(x.x - o.x, x.y - o.y, x.z - o.z, y.x - o.x, y.y - o.y, y.z - o.z, limitDeg)) {
                        return true;
                    }
                }
                return false;
            }
        }
    }
    // Two points of one input edge: apart only when the edge is a side of a facet corner
    // below the limit (the corner's other side runs beside it).
    for (const auto& e : u.edges) {
        for (const auto& x : w.edges) {
            if (e != x) continue;
            for (const Facet& f : plc.facets) {
                for (int k = 0; k < 3; ++k) {
                    const int64_t i = f.v[k], j = f.v[(k + 1) % 3], o = f.v[(k + 2) % 3];
                    if (std::min(i, j) != e[0] || std::max(i, j) != e[1]) continue;
                    for (const int64_t end : {i, j}) {
                        const Point3& c = plc.points[end];
                        const Point3& a = plc.points[end == i ? j : i];
                        const Point3& b = plc.points[o];
                        if (narrowAngle(a.x - c.x, a.y - c.y, a.z - c.z, b.x - c.x, b.y - c.y, b.z - c.z, limitDeg)) {
                            return true;
                        }
                    }
                }
            }
            return false;
        }
    }
    // The input edges of a point's feature: the edges it lies on, or, inside a facet, the
    // facet's edges. An edge of both points' features: the angle around its line.
    auto edgesOfFacets = [&](const PointPlace& pl) {
        std::vector<std::array<int64_t, 2>> es = pl.edges;
        if (!es.empty()) return es;
        for (int64_t f : pl.facets) {
            for (int k = 0; k < 3; ++k) {
                const int64_t i = plc.facets[f].v[k], j = plc.facets[f].v[(k + 1) % 3];
                es.push_back({std::min(i, j), std::max(i, j)});
            }
        }
        return es;
    };
    const std::vector<std::array<int64_t, 2>> eu = edgesOfFacets(u), ew = edgesOfFacets(w);
    for (const auto& e : eu) {
        for (const auto& x : ew) {
            if (e != x) continue;
            return narrowAround(plc.points[e[0]], plc.points[e[1]], pu, pw, limitDeg);
        }
    }
    // A corner of both points' features: the angle they subtend there.
    for (const auto& e : eu) {
        for (const auto& x : ew) {
            for (int64_t c0 : e) {
                if (c0 != x[0] && c0 != x[1]) continue;
                const Point3& v = plc.points[c0];
                if (narrowAngle(pu.x - v.x, pu.y - v.y, pu.z - v.z, pw.x - v.x, pw.y - v.y, pw.z - v.z, limitDeg)) {
                    return true;
                }
            }
        }
    }
    // Points on two facets that share an input edge (a point on an edge lies on its facets
    // too): the angle around that edge.
    for (int64_t f : u.facets) {
        for (int64_t g : w.facets) {
            if (f == g) continue;
            int64_t common[3];
            int n = 0;
            for (int64_t a : plc.facets[f].v) {
                for (int64_t b : plc.facets[g].v) {
                    if (a == b) common[n++] = a;
                }
            }
            if (n == 2 && narrowAround(plc.points[common[0]], plc.points[common[1]], pu, pw, limitDeg)) return true;
        }
    }
    return false;
}

/// The cells above the radius-edge bound whose shortest edge is not between two points
/// at a small input angle (smallAngleApart with 30 degrees): cells the bound holds for.
inline int64_t overRatioAwayFromSmallAngles(const Plc& plc, const std::vector<Point3>& p,
                                            const std::vector<TetCell>& tets, double bound) {
    double scale = 0;
    for (const Point3& q : plc.points) scale = std::max({scale, std::fabs(q.x), std::fabs(q.y), std::fabs(q.z)});
    std::map<int64_t, PointPlace> places;
    auto place = [&](int64_t i) -> const PointPlace& {
        auto it = places.find(i);
        if (it == places.end()) it = places.emplace(i, placeOf(plc, p[i], scale)).first;
        return it->second;
    };
    const double forcedDeg = std::asin(1 / (2 * bound)) * (180 / kPi);
    int64_t count = 0;
    for (const TetCell& t : tets) {
        const double ratio = tetQuality(p[t.v[0]], p[t.v[1]], p[t.v[2]], p[t.v[3]]).radiusEdgeRatio;
        if (!(ratio == 0 || ratio > bound * (1 + 1e-9))) continue;
        const int pairs[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
        int best = 0;
        for (int k = 1; k < 6; ++k) {
            if (dist2(p[t.v[pairs[k][0]]], p[t.v[pairs[k][1]]]) < dist2(p[t.v[pairs[best][0]]], p[t.v[pairs[best][1]]])) best = k;
        }
        const int64_t u = t.v[pairs[best][0]], w = t.v[pairs[best][1]];
        if (smallAngleApart(plc, p[u], place(u), p[w], place(w), 30.0)) continue;
        // A face on a facet with a corner there whose angle a has 1 / (2 sin a) above the
        // bound: the face's angle at that corner is at most a, so its circumradius is more
        // than the bound times its shortest side, and the cell's more than the bound times
        // its shortest edge, wherever the points lie.
        bool onBadFace = false;
        for (int k = 0; k < 4 && !onBadFace; ++k) {
            const int64_t x[3] = {t.v[(k + 1) % 4], t.v[(k + 2) % 4], t.v[(k + 3) % 4]};
            for (int64_t f : place(x[0]).facets) {
                if (onBadFace) break;
                const auto& f1 = place(x[1]).facets;
                const auto& f2 = place(x[2]).facets;
                if (std::find(f1.begin(), f1.end(), f) == f1.end() || std::find(f2.begin(), f2.end(), f) == f2.end()) continue;
                for (int c = 0; c < 3 && !onBadFace; ++c) {
                    const int64_t o = plc.facets[f].v[c];
                    if (place(x[0]).corner != o && place(x[1]).corner != o && place(x[2]).corner != o) continue;
                    const Point3& q = plc.points[o];
                    const Point3& y = plc.points[plc.facets[f].v[(c + 1) % 3]];
                    const Point3& z = plc.points[plc.facets[f].v[(c + 2) % 3]];
                    onBadFace = narrowAngle(y.x - q.x, y.y - q.y, y.z - q.z, z.x - q.x, z.y - q.y, z.z - q.z, forcedDeg);
                }
            }
        }
        if (!onBadFace) ++count;
    }
    return count;
}

}  // namespace shapes
