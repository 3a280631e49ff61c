// robust_shapes: meshes a range of the drawn shapes with the robust engine and prints, per
// shape, a hash of the mesh, its cells, the cells above the radius-edge bound away from small
// input angles (by the tests' independent measure), above ratios of 50 and 1,000, and the
// time; a failure prints its message. The last line sums them. Two builds give the same
// meshes when their lines agree but for the times.
//
//   robust_shapes FIRST LAST axes|turned|rounded|placed|strip [AT]
//
// "placed" turns each shape and puts it at (AT, AT, AT) (default 10) in single precision.
// "strip" meshes a block with a strip 1.5e-4 wide across four faces, turned about the axis
// drawn from each seed and put at (AT, AT, AT) (default 100) in single precision.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mesh3d/robust/generated_shapes.hpp"
#include "mesh3d/robust/robust_mesher.hpp"
#include "mesh3d/robust/robust_shapes.hpp"
#include "mesh3d/tet_refine.hpp"

namespace {

/// FNV-1a over the bits of every coordinate and the corners of every cell, in order.
uint64_t meshHash(const RobustTetMesh& m) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&](uint64_t x) { h = (h ^ x) * 1099511628211ull; };
    for (const Point3& p : m.points) {
        for (const double c : {p.x, p.y, p.z}) {
            uint64_t bits = 0;
            std::memcpy(&bits, &c, sizeof bits);
            mix(bits);
        }
    }
    for (const TetCell& t : m.tets) {
        for (const int64_t v : t.v) mix(static_cast<uint64_t>(v));
    }
    return h;
}

int usage() {
    std::fprintf(stderr, "usage: robust_shapes FIRST LAST axes|turned|rounded|placed|strip [AT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) return usage();
    char* end = nullptr;
    const unsigned long long first = std::strtoull(argv[1], &end, 10);
    if (*end != '\0') return usage();
    const unsigned long long last = std::strtoull(argv[2], &end, 10);
    if (*end != '\0' || last < first) return usage();
    const std::string pose = argv[3];
    if (pose != "axes" && pose != "turned" && pose != "rounded" && pose != "placed" && pose != "strip") return usage();
    double at = pose == "strip" ? 100 : 10;
    if (argc == 5) {
        at = std::strtod(argv[4], &end);
        if (*end != '\0' || (pose != "placed" && pose != "strip")) return usage();
    }
    int64_t meshed = 0, failed = 0, cells = 0, away = 0, over50 = 0, over1000 = 0, checksFailed = 0;
    double seconds = 0;
    for (unsigned long long seed = first; seed <= last; ++seed) {
        const shapes::Shape s = pose == "axes"     ? shapes::shapeFor(seed)
                                : pose == "placed" ? shapes::placedShapeFor(seed, at)
                                : pose == "strip"  ? shapes::stripBlockFor(seed, 1.5e-4, at)
                                                   : shapes::turnedShapeFor(seed, pose == "rounded");
        RobustTetParams params;
        params.maxVolume = s.maxVolume;
        const auto t0 = std::chrono::steady_clock::now();
        const RobustTetMesh m = meshRobustTets(s.plc, params);
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        seconds += t;
        if (!m.ok) {
            ++failed;
            std::printf("%llu %s failed: %s %.2f\n", seed, s.kind.c_str(), m.error.c_str(), t);
            continue;
        }
        ++meshed;
        const int64_t a =
            shapes::overRatioAwayFromSmallAngles(s.plc, m.points, m.tets, params.radiusEdgeBound);
        int64_t q50 = 0, q1000 = 0;
        for (const TetCell& c : m.tets) {
            const double q = tetQuality(m.points[c.v[0]], m.points[c.v[1]], m.points[c.v[2]], m.points[c.v[3]]).radiusEdgeRatio;
            q50 += q > 50 ? 1 : 0;
            q1000 += q > 1000 ? 1 : 0;
        }
        const shapes::CheckResult check = shapes::check(s.plc, m.points, m.tets, s.maxVolume, params.radiusEdgeBound);
        checksFailed += check.failure.empty() ? 0 : 1;
        cells += static_cast<int64_t>(m.tets.size());
        away += a;
        over50 += q50;
        over1000 += q1000;
        std::printf("%llu %s %016llx cells %zu away %lld over50 %lld over1000 %lld check %s %.2f\n", seed, s.kind.c_str(),
                    static_cast<unsigned long long>(meshHash(m)), m.tets.size(), static_cast<long long>(a),
                    static_cast<long long>(q50), static_cast<long long>(q1000),
                    check.failure.empty() ? "ok" : check.failure.c_str(), t);
    }
    std::printf("total meshed %lld failed %lld cells %lld away %lld over50 %lld over1000 %lld checks_failed %lld %.1f s\n",
                static_cast<long long>(meshed), static_cast<long long>(failed), static_cast<long long>(cells),
                static_cast<long long>(away), static_cast<long long>(over50), static_cast<long long>(over1000),
                static_cast<long long>(checksFailed), seconds);
    return 0;
}
