#include "mesh3d/tet_mesher.hpp"

#include <algorithm>
#include <cmath>

#include "mesh3d/delaunay3d.hpp"
#include "mesh3d/tet_refine.hpp"
#include "mesh3d/vec3.hpp"

namespace {

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
    int64_t crossings = 0;
    for (const Facet& f : facets) {
        if (rayCrossesFacet(p, points[f.v[0]], points[f.v[1]], points[f.v[2]])) ++crossings;
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

Model tetMeshToModel(const TetMesh& mesh, const SolidNumbering& numbering) {
    if (!mesh.ok) return Model{};
    return buildSolidModel(mesh.points, mesh.tets, {}, numbering);
}
