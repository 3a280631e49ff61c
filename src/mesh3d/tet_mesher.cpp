#include "mesh3d/tet_mesher.hpp"

#include <algorithm>
#include <cmath>

#include "mesh3d/delaunay3d.hpp"
#include "mesh3d/tet_refine.hpp"
#include "mesh3d/vec3.hpp"

namespace {

/// The facet step gives up after this many facet steps without fewer missing facets.
constexpr int32_t kMaxStalledFacetSteps = 64;

/// The fixed direction of the ray parity test, chosen to avoid axis-parallel edges and faces.
constexpr Point3 kRayDirection{0.6123529, 0.7356789, 0.2871234};

bool exceedsSizeLimits(const Plc& plc) {
    return static_cast<int64_t>(plc.points.size()) > kMaxTetMeshPoints ||
           static_cast<int64_t>(plc.facets.size()) > kMaxTetMeshFacets ||
           static_cast<int64_t>(plc.segments.size()) > kMaxTetMeshSegments;
}

/// Whether every index lies in the point list and no index repeats; otherwise a message
/// naming the item ("facet 3 ...").
template <size_t N>
bool checkIndices(const std::array<int64_t, N>& v, const char* what, size_t item, int64_t pointCount,
                  std::string& error) {
    for (size_t i = 0; i < N; ++i) {
        if (v[i] < 0 || v[i] >= pointCount) {
            error = std::string(what) + " " + std::to_string(item) + " refers to point " + std::to_string(v[i]) +
                    ", outside the " + std::to_string(pointCount) + " points given";
            return false;
        }
        for (size_t j = 0; j < i; ++j) {
            if (v[j] == v[i]) {
                error = std::string(what) + " " + std::to_string(item) + " names point " + std::to_string(v[i]) +
                        " twice";
                return false;
            }
        }
    }
    return true;
}

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

/// Every face of every tetrahedron as an ascending triple, sorted for lookup.
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

int32_t recoveryIterationLimit(int64_t segmentCount, int64_t facetCount) {
    const int64_t items = segmentCount + facetCount;
    if (items >= 15) return 300;  // also keeps 20 x items from overflowing
    return static_cast<int32_t>(std::max<int64_t>(150, 20 * items));
}

bool checkPlc(const Plc& plc, std::string& error) {
    const int64_t pointCount = static_cast<int64_t>(plc.points.size());
    if (pointCount > kMaxTetMeshPoints) {
        error = "too many points (" + std::to_string(pointCount) + "; the tetrahedral mesher handles at most " +
                std::to_string(kMaxTetMeshPoints) + ")";
        return false;
    }
    if (static_cast<int64_t>(plc.facets.size()) > kMaxTetMeshFacets) {
        error = "too many facets (" + std::to_string(plc.facets.size()) +
                "; the tetrahedral mesher handles at most " + std::to_string(kMaxTetMeshFacets) + ")";
        return false;
    }
    if (static_cast<int64_t>(plc.segments.size()) > kMaxTetMeshSegments) {
        error = "too many segments (" + std::to_string(plc.segments.size()) +
                "; the tetrahedral mesher handles at most " + std::to_string(kMaxTetMeshSegments) + ")";
        return false;
    }
    for (size_t i = 0; i < plc.points.size(); ++i) {
        const Point3& p = plc.points[i];
        // Written so that NaN fails too.
        if (!(std::fabs(p.x) <= kMaxTetMeshCoordinate && std::fabs(p.y) <= kMaxTetMeshCoordinate &&
              std::fabs(p.z) <= kMaxTetMeshCoordinate)) {
            error = "point " + std::to_string(i) + " has a coordinate that is not finite or exceeds 1e50 in magnitude";
            return false;
        }
    }
    for (size_t i = 0; i < plc.facets.size(); ++i) {
        if (!checkIndices(plc.facets[i].v, "facet", i, pointCount, error)) return false;
    }
    for (size_t i = 0; i < plc.segments.size(); ++i) {
        if (!checkIndices(plc.segments[i].v, "segment", i, pointCount, error)) return false;
    }
    return true;
}

int64_t splitBoundaryEdge(std::vector<Point3>& points, std::vector<Facet>& facets, int64_t a, int64_t b) {
    const int64_t m = static_cast<int64_t>(points.size());
    const Point3 mid = midpoint3(points[a], points[b]);
    points.push_back(mid);

    std::vector<Facet> out;
    out.reserve(facets.size() + 2);
    for (const Facet& f : facets) {
        const bool hasA = f.v[0] == a || f.v[1] == a || f.v[2] == a;
        const bool hasB = f.v[0] == b || f.v[1] == b || f.v[2] == b;
        if (!(hasA && hasB)) {
            out.push_back(f);
            continue;
        }
        int64_t o = f.v[0];
        for (int64_t v : f.v) {
            if (v != a && v != b) o = v;
        }
        out.push_back(Facet{{a, m, o}});
        out.push_back(Facet{{m, b, o}});
    }
    facets.swap(out);
    return m;
}

std::array<int64_t, 2> longestFacetEdge(const std::vector<Point3>& points, const Facet& facet) {
    const int64_t a = facet.v[0];
    const int64_t b = facet.v[1];
    const int64_t c = facet.v[2];
    const double d01 = length3(sub3(points[b], points[a]));
    const double d12 = length3(sub3(points[c], points[b]));
    const double d20 = length3(sub3(points[a], points[c]));
    if (d01 >= d12 && d01 >= d20) return {a, b};
    if (d12 >= d20) return {b, c};
    return {c, a};
}

bool isInsideSurface(const Point3& p, const std::vector<Point3>& points, const std::vector<Facet>& facets) {
    const Point3& d = kRayDirection;
    int64_t crossings = 0;
    for (const Facet& f : facets) {
        const Point3& a = points[f.v[0]];
        const Point3 e1 = sub3(points[f.v[1]], a);
        const Point3 e2 = sub3(points[f.v[2]], a);
        const Point3 h = cross3(d, e2);
        const double det = dot3(e1, h);
        if (std::fabs(det) < 1e-14) continue;  // ray parallel to the facet
        const Point3 s = sub3(p, a);
        const double u = dot3(s, h) / det;
        if (u < 0 || u > 1) continue;
        const Point3 q = cross3(s, e1);
        const double v = dot3(d, q) / det;
        if (v < 0 || u + v > 1) continue;
        const double t = dot3(e2, q) / det;
        if (t > 1e-9) ++crossings;
    }
    return crossings % 2 == 1;
}

double enclosedVolume(const std::vector<Point3>& points, const std::vector<Facet>& facets) {
    double sum = 0.0;
    for (const Facet& f : facets) {
        sum = sum + dot3(points[f.v[0]], cross3(points[f.v[1]], points[f.v[2]]));
    }
    return std::fabs(sum) / 6.0;
}

std::vector<TetCell> interiorTets(const std::vector<Point3>& points, const std::vector<Facet>& facets,
                                  const std::vector<TetCell>& tets) {
    std::vector<TetCell> inside;
    for (const TetCell& t : tets) {
        const Point3 c = centroid4(points[t.v[0]], points[t.v[1]], points[t.v[2]], points[t.v[3]]);
        if (isInsideSurface(c, points, facets)) inside.push_back(t);
    }
    return inside;
}

bool salvageMesh(double enclosed, const std::vector<Point3>& points, const std::vector<Facet>& facets,
                 TetMesh& result) {
    if (!(enclosed > 0) || !std::isfinite(enclosed)) return false;
    const std::vector<TetCell> tets = delaunayTetrahedralize(points);
    if (tets.empty()) return false;
    std::vector<TetCell> inside = interiorTets(points, facets, tets);
    double sum = 0.0;
    for (const TetCell& t : inside) {
        sum = sum + std::fabs(signedTripleProduct(points[t.v[0]], points[t.v[1]], points[t.v[2]], points[t.v[3]])) / 6.0;
    }
    // Written so that a NaN volume fails the test.
    if (!(std::fabs(sum - enclosed) <= enclosed * 1e-6)) return false;
    result.tets = std::move(inside);
    result.ok = true;
    return true;
}

TetMesh meshQualityTets(const Plc& plc, const TetMeshParams& params) {
    TetMesh result;
    result.points = plc.points;
    if (plc.facets.empty()) return result;
    std::string unused;
    if (!checkPlc(plc, unused)) {
        result.pointLimitReached = exceedsSizeLimits(plc);
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

    // After a boundary-recovery split: true when the budget or the iteration limit is used up.
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
        const std::vector<TetCell> tets = delaunayTetrahedralize(points);
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
                salvageMesh(enclosed, points, facets, result);
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
                salvageMesh(enclosed, points, facets, result);
                return result;
            }
            stall = missing >= bestMissing ? stall + 1 : 0;
            bestMissing = std::min(bestMissing, missing);
            const std::array<int64_t, 2> edge = longestFacetEdge(points, facets[firstMissing]);
            splitBoundaryEdge(points, facets, edge[0], edge[1]);
            if (recoveryExhausted()) {
                salvageMesh(enclosed, points, facets, result);
                return result;
            }
            if (overPointLimit()) return result;
            continue;
        }

        // Refinement step; running out of budget here ends the run normally.
        if (result.steinerCount < params.maxSteinerPoints &&
            refinementStep(points, facets, tets, rho, params.maxVolume)) {
            iterations = 0;
            ++result.steinerCount;
            if (overPointLimit()) return result;
            continue;
        }

        // A surface that encloses nothing (a facet list that cancels itself) leaves no
        // interior tetrahedron: that is no mesh of a solid.
        result.tets = interiorTets(points, facets, tets);
        result.ok = !result.tets.empty();
        return result;
    }
}

Model tetMeshToModel(const TetMesh& mesh, const SolidNumbering& numbering) {
    if (!mesh.ok) return Model{};
    return buildSolidModel(mesh.points, mesh.tets, {}, numbering);
}
