#include "mesh3d/reference/literal_tet_mesher.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "mesh3d/delaunay3d.hpp"
#include "mesh3d/reference/literal_delaunay3d.hpp"
#include "mesh3d/tet_refine.hpp"
#include "mesh3d/vec3.hpp"

namespace reference {

namespace {

constexpr int32_t kMaxStalledFacetSteps = 64;

double signedTripleProduct(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3) {
    return dot3(sub3(p1, p0), cross3(sub3(p2, p0), sub3(p3, p0)));
}

struct FaceTriple {
    std::array<int64_t, 3> v{};
    bool operator<(const FaceTriple& o) const { return v < o.v; }
};

FaceTriple ascending(int64_t a, int64_t b, int64_t c) {
    FaceTriple t{{a, b, c}};
    std::sort(t.v.begin(), t.v.end());
    return t;
}

std::vector<FaceTriple> tetFaceSet(const std::vector<TetCell>& tets) {
    std::vector<FaceTriple> faces;
    faces.reserve(tets.size() * 4);
    for (const TetCell& t : tets) {
        for (const auto& f : kTetFaces) faces.push_back(ascending(t.v[f[0]], t.v[f[1]], t.v[f[2]]));
    }
    std::sort(faces.begin(), faces.end());
    return faces;
}

}  // namespace

bool literalRefinementStep(std::vector<Point3>& points, std::vector<Facet>& facets, const std::vector<TetCell>& tets,
                           double ratioLimitValue, double maxVolume) {
    for (const TetCell& t : tets) {
        const Point3& p0 = points[t.v[0]];
        const Point3& p1 = points[t.v[1]];
        const Point3& p2 = points[t.v[2]];
        const Point3& p3 = points[t.v[3]];
        if (!isInsideSurface(centroid4(p0, p1, p2, p3), points, facets)) continue;

        const TetQuality q = tetQuality(p0, p1, p2, p3);
        const bool tooLarge = maxVolume > 0 && q.volume > maxVolume;
        if (!(q.radiusEdgeRatio > ratioLimitValue || tooLarge)) continue;

        Point3 x;
        if (!tetCircumcentre(p0, p1, p2, p3, x)) continue;

        const Facet* encroached = nullptr;
        for (const Facet& f : facets) {
            if (facetSphereContains(x, points[f.v[0]], points[f.v[1]], points[f.v[2]])) {
                encroached = &f;
                break;
            }
        }
        if (encroached == nullptr) {
            if (isInsideSurface(x, points, facets)) {
                points.push_back(x);
                return true;
            }
            continue;
        }
        if (tooLarge) {
            const std::array<int64_t, 2> edge = longestFacetEdge(points, *encroached);
            splitBoundaryEdge(points, facets, edge[0], edge[1]);
            return true;
        }
    }
    return false;
}

std::vector<TetCell> literalInteriorTets(const std::vector<Point3>& points, const std::vector<Facet>& facets,
                                         const std::vector<TetCell>& tets) {
    std::vector<TetCell> inside;
    for (const TetCell& t : tets) {
        const Point3 c = centroid4(points[t.v[0]], points[t.v[1]], points[t.v[2]], points[t.v[3]]);
        if (isInsideSurface(c, points, facets)) inside.push_back(t);
    }
    return inside;
}

bool literalSalvageMesh(double enclosed, const std::vector<Point3>& points, const std::vector<Facet>& facets,
                        TetMesh& result) {
    if (!(enclosed > 0) || !std::isfinite(enclosed)) return false;
    const std::vector<TetCell> tets = literalDelaunayTetrahedralize(points);
    if (tets.empty()) return false;
    std::vector<TetCell> inside = literalInteriorTets(points, facets, tets);
    double sum = 0.0;
    for (const TetCell& t : inside) {
        sum = sum + std::fabs(signedTripleProduct(points[t.v[0]], points[t.v[1]], points[t.v[2]], points[t.v[3]])) / 6.0;
    }
    if (!(std::fabs(sum - enclosed) <= enclosed * 1e-6)) return false;
    result.tets = std::move(inside);
    result.ok = true;
    return true;
}

TetMesh literalMeshQualityTets(const Plc& plc, const TetMeshParams& params) {
    TetMesh result;
    result.points = plc.points;
    if (plc.facets.empty()) return result;
    std::string unused;
    if (!checkPlc(plc, unused)) {
        result.pointLimitReached = static_cast<int64_t>(plc.points.size()) > kMaxTetMeshPoints ||
                                   static_cast<int64_t>(plc.facets.size()) > kMaxTetMeshFacets ||
                                   static_cast<int64_t>(plc.segments.size()) > kMaxTetMeshSegments;
        return result;
    }
    if (static_cast<int64_t>(plc.points.size()) > params.maxPoints) {
        result.pointLimitReached = true;
        return result;
    }

    std::vector<Point3>& points = result.points;
    std::vector<Segment> segments = plc.segments;
    std::vector<Facet> facets = plc.facets;
    const int64_t limit = params.iterationLimit > 0
                              ? params.iterationLimit
                              : recoveryIterationLimit(static_cast<int64_t>(segments.size()),
                                                       static_cast<int64_t>(facets.size()));
    const double enclosed = enclosedVolume(plc.points, plc.facets);
    const double rho = ratioLimit(params.radiusEdgeBound);
    int64_t bestMissing = static_cast<int64_t>(facets.size()) + 1;
    int32_t stall = 0;
    int64_t iterations = 0;

    auto recoveryExhausted = [&]() {
        ++result.steinerCount;
        ++iterations;
        return result.steinerCount > params.maxSteinerPoints || iterations > limit;
    };
    auto overPointLimit = [&]() {
        if (static_cast<int64_t>(points.size()) <= params.maxPoints) return false;
        result.pointLimitReached = true;
        return true;
    };

    for (;;) {
        const std::vector<TetCell> tets = literalDelaunayTetrahedralize(points);
        if (tets.empty()) return result;

        // Segment step: split the first segment whose diametral sphere holds a point.
        bool split = false;
        for (size_t s = 0; s < segments.size() && !split; ++s) {
            const int64_t a = segments[s].v[0];
            const int64_t b = segments[s].v[1];
            for (int64_t v = 0; v < static_cast<int64_t>(points.size()); ++v) {
                if (v == a || v == b) continue;
                if (dot3(sub3(points[v], points[a]), sub3(points[v], points[b])) < 0) {
                    const int64_t m = splitBoundaryEdge(points, facets, a, b);
                    segments[s] = Segment{{a, m}};
                    segments.push_back(Segment{{m, b}});
                    split = true;
                    break;
                }
            }
        }
        if (split) {
            if (recoveryExhausted()) {
                literalSalvageMesh(enclosed, points, facets, result);
                return result;
            }
            if (overPointLimit()) return result;
            continue;
        }

        // Facet step: every facet must be a face of the tetrahedralization.
        const std::vector<FaceTriple> faces = tetFaceSet(tets);
        int64_t missing = 0;
        size_t firstMissing = 0;
        for (size_t i = 0; i < facets.size(); ++i) {
            const Facet& f = facets[i];
            if (!std::binary_search(faces.begin(), faces.end(), ascending(f.v[0], f.v[1], f.v[2]))) {
                if (missing == 0) firstMissing = i;
                ++missing;
            }
        }
        if (missing > 0) {
            if (missing >= bestMissing && stall + 1 > kMaxStalledFacetSteps) {
                literalSalvageMesh(enclosed, points, facets, result);
                return result;
            }
            stall = missing >= bestMissing ? stall + 1 : 0;
            bestMissing = std::min(bestMissing, missing);
            const std::array<int64_t, 2> edge = longestFacetEdge(points, facets[firstMissing]);
            splitBoundaryEdge(points, facets, edge[0], edge[1]);
            if (recoveryExhausted()) {
                literalSalvageMesh(enclosed, points, facets, result);
                return result;
            }
            if (overPointLimit()) return result;
            continue;
        }

        // Refinement step; running out of budget here ends the run normally.
        if (result.steinerCount < params.maxSteinerPoints &&
            literalRefinementStep(points, facets, tets, rho, params.maxVolume)) {
            iterations = 0;
            ++result.steinerCount;
            if (overPointLimit()) return result;
            continue;
        }

        result.tets = literalInteriorTets(points, facets, tets);
        result.ok = !result.tets.empty();
        return result;
    }
}

}  // namespace reference
