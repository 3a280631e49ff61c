// Fuzz target: the robust volume engine on small complexes (diagnosis, recovery, the
// solid by topology, refinement and the passes for the cells left).
//
// The first byte chooses how the rest is read. In the free form, points on a coarse
// integer grid (many coplanar and collinear quadruples, touching and crossing facets) and
// facets as index triples. In the box form, the twelve triangles of a box whose eight
// corners the bytes move about: every complex is closed and manifold by construction, so
// most inputs reach the meshing, with flat, folded, self-intersecting and nearly degenerate
// shapes among them. A small Steiner budget keeps each run short.
// A run that succeeds must give cells whose indices are in range and that are positively
// oriented; a run that fails must say why.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "geom/predicates.hpp"
#include "mesh3d/plc.hpp"
#include "mesh3d/robust/robust_mesher.hpp"

namespace {

constexpr int32_t kFuzzSteinerBudget = 60;

/// The bytes read one at a time; zero past the end.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t next() { return at < size ? data[at++] : 0; }
};

/// A coordinate: a step of a quarter on a grid of 0..7, moved by a small offset when `fine`.
double coordinate(Reader& in, bool fine) {
    double x = (in.next() % 32) * 0.25;
    if (fine) x += (static_cast<int>(in.next()) - 128) * 1e-7;
    return x;
}

void freeForm(Reader& in, bool fine, Plc& plc) {
    const int points = 4 + in.next() % 13;
    const int facets = 4 + in.next() % 21;
    for (int i = 0; i < points; ++i) {
        const double x = coordinate(in, fine), y = coordinate(in, fine), z = coordinate(in, fine);
        plc.points.push_back(Point3{x, y, z});
    }
    for (int i = 0; i < facets; ++i) {
        Facet f;
        for (int64_t& v : f.v) v = in.next() % points;
        plc.facets.push_back(f);
    }
    const int segments = in.next() % 4;
    for (int i = 0; i < segments; ++i) {
        Segment s;
        s.v[0] = in.next() % points;
        s.v[1] = in.next() % points;
        plc.segments.push_back(s);
    }
}

void boxForm(Reader& in, bool fine, Plc& plc) {
    static const int kCorner[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                      {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    static const int kTriangles[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                                          {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    const double size = 1 + in.next() % 8;
    for (const auto& c : kCorner) {
        Point3 p{c[0] * size, c[1] * size, c[2] * size};
        // Most corners stay; the others move by quarters (and, when fine, a little more).
        if (in.next() % 4 == 0) {
            p.x += coordinate(in, fine) - 4;
            p.y += coordinate(in, fine) - 4;
            p.z += coordinate(in, fine) - 4;
        }
        plc.points.push_back(p);
    }
    for (const auto& t : kTriangles) plc.facets.push_back(Facet{{t[0], t[1], t[2]}});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    const uint8_t mode = in.next();
    const bool fine = (mode & 2) != 0;
    Plc plc;
    if ((mode & 1) != 0) {
        boxForm(in, fine, plc);
    } else {
        freeForm(in, fine, plc);
    }
    RobustTetParams params;
    params.radiusEdgeBound = kMinRobustRadiusEdgeBound + (mode >> 5) * 0.25;
    params.maxSteinerPoints = kFuzzSteinerBudget;
    if ((mode & 4) != 0) params.maxVolume = 0.5 + (mode & 24);
    const RobustTetMesh mesh = meshRobustTets(plc, params);
    if (!mesh.ok) {
        if (mesh.error.empty()) __builtin_trap();
        return 0;
    }
    for (const TetCell& t : mesh.tets) {
        for (const int64_t v : t.v) {
            if (v < 0 || static_cast<size_t>(v) >= mesh.points.size()) __builtin_trap();
        }
        const Point3 &a = mesh.points[t.v[0]], &b = mesh.points[t.v[1]], &c = mesh.points[t.v[2]],
                     &d = mesh.points[t.v[3]];
        if (!(orient3d(a, b, c, d) > 0)) __builtin_trap();
    }
    return 0;
}
