// refine_quality_tet and mesh_stl_solid handlers: reading order, messages, index checks,
// the material read after meshing, and the limits on what the mesher is given.

#include <string>

#include <gtest/gtest.h>

#include "geom/predicates.hpp"
#include "job/dispatch.hpp"
#include "json/json.hpp"
#include "mesh3d/tet_mesher.hpp"

namespace {

JobResult run(const std::string& text) {
    JsonValue job;
    std::string error;
    if (!parseJson(text, job, error)) {
        ADD_FAILURE() << "bad test JSON: " << error;
        return JobResult{};
    }
    return dispatchJob(job);
}

std::string errorOf(const std::string& text) {
    JobResult r = run(text);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.model.nodes.empty());
    return r.error;
}

const char* const kNotConverged =
    "refine_quality_tet did not converge (degenerate PLC, Steiner budget exhausted, or boundary recovery could "
    "not stabilize for this geometry -- see issue #28)";
const char* const kStlMeshFailed = "mesh_stl_solid failed (the imported boundary could not be recovered for tet meshing)";
const char* const kNotWatertight =
    "STL import failed: the surface is not watertight (open boundary, inconsistent facet winding, or a non-manifold "
    "edge) -- 3D tet meshing needs a closed, consistently oriented solid";

const std::string kCubePoints = R"([[0,0,0],[1,0,0],[1,1,0],[0,1,0],[0,0,1],[1,0,1],[1,1,1],[0,1,1]])";
const std::string kCubeFacets =
    R"([[0,2,1],[0,3,2],[4,5,6],[4,6,7],[0,1,5],[0,5,4],[1,2,6],[1,6,5],[2,3,7],[2,7,6],[3,0,4],[3,4,7]])";

std::string tetJob(const std::string& extra, const std::string& facets = kCubeFacets) {
    return R"({"op": "refine_quality_tet", "params": {"points": )" + kCubePoints + R"(, "facets": )" + facets +
           extra + "}}";
}

std::string stlFacet(const char* a, const char* b, const char* c) {
    return std::string(" facet normal 0 0 0 outer loop vertex ") + a + " vertex " + b + " vertex " + c +
           " endloop endfacet";
}

/// The corner tetrahedron as ASCII STL on one line; `drop` leaves one facet out.
std::string stlTetrahedron(int drop = -1) {
    const char* o = "0 0 0";
    const char* x = "1 0 0";
    const char* y = "0 1 0";
    const char* z = "0 0 1";
    const std::string facets[4] = {stlFacet(o, y, x), stlFacet(o, x, z), stlFacet(x, y, z), stlFacet(o, z, y)};
    std::string s = "solid t";
    for (int i = 0; i < 4; ++i) {
        if (i != drop) s += facets[i];
    }
    return s + " endsolid t";
}

std::string stlJob(const std::string& stl, const std::string& extra = "") {
    return R"({"op": "mesh_stl_solid", "params": {"stl": ")" + stl + "\"" + extra + "}}";
}

double volumeOf(const Model& m) {
    double sum = 0.0;
    for (const Solid& s : m.solids) {
        const Node& a = m.nodes[s.nodes[0] - 1];
        const Node& b = m.nodes[s.nodes[1] - 1];
        const Node& c = m.nodes[s.nodes[2] - 1];
        const Node& d = m.nodes[s.nodes[3] - 1];
        const double o = orient3d({a.x, a.y, a.z}, {b.x, b.y, b.z}, {c.x, c.y, c.z}, {d.x, d.y, d.z});
        EXPECT_GT(o, 0);
        sum += o / 6.0;
    }
    return sum;
}

TEST(RefineQualityTetOp, MeshesTheCubeWithTheMaterialRead) {
    JobResult r = run(tetJob(R"(, "mat_id": 7.9, "segments": [])"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_GT(r.model.nodes.size(), 8u);
    EXPECT_EQ(r.model.nodes[6].x, 1.0);
    EXPECT_NEAR(volumeOf(r.model), 1.0, 1e-12);
    for (const Solid& s : r.model.solids) {
        EXPECT_EQ(s.kind, "TET4");
        EXPECT_EQ(s.matId, 7);
    }
    EXPECT_TRUE(r.model.areas.empty());
}

TEST(RefineQualityTetOp, ReadingOrderAndMessages) {
    const std::string pointsOnly = R"({"op": "refine_quality_tet", "params": {"points": )" + kCubePoints + "}}";
    EXPECT_EQ(errorOf(pointsOnly), "missing required 'params.points' / 'params.facets'");
    EXPECT_EQ(errorOf(R"({"op": "refine_quality_tet", "params": {"facets": []}})"),
              "missing required 'params.points' / 'params.facets'");
    EXPECT_EQ(errorOf(R"({"op": "refine_quality_tet"})"), "missing required 'params.points' / 'params.facets'");
    // Points are read before facets.
    EXPECT_EQ(errorOf(R"({"op": "refine_quality_tet", "params": {"points": [[0, 0]], "facets": 3}})"),
              "expected a [x, y, z] array");
    EXPECT_EQ(errorOf(R"({"op": "refine_quality_tet", "params": {"points": 1, "facets": []}})"),
              "expected an array of points");
    EXPECT_EQ(errorOf(tetJob("", "{}")), "'params.facets' must be an array of [i, j, k] index triples");
    EXPECT_EQ(errorOf(tetJob("", "[[0, 1]]")), "each facet must be an [i, j, k] index triple");
    EXPECT_EQ(errorOf(tetJob("", "[[0, 1, \"2\"]]")), "each facet must be an [i, j, k] index triple");
    EXPECT_EQ(errorOf(tetJob("", "[[0, 1, 2, 3]]")), "each facet must be an [i, j, k] index triple");
    EXPECT_EQ(errorOf(tetJob(R"(, "segments": {"a": 1})")), "'params.segments' must be an array of [i, j] pairs");
    EXPECT_EQ(errorOf(tetJob(R"(, "segments": [[0, 1, 2]])")), "each segment must be an [i, j] index pair");
    EXPECT_EQ(errorOf(tetJob(R"(, "segments": null)")), "'params.segments' must be an array of [i, j] pairs");
    EXPECT_EQ(errorOf(tetJob(R"(, "radius_edge_bound": "2", "max_volume": "x")")),
              "'radius_edge_bound' must be a number");
    EXPECT_EQ(errorOf(tetJob(R"(, "max_steiner_points": [], "max_volume": "x")")),
              "'max_steiner_points' must be a number");
    EXPECT_EQ(errorOf(tetJob(R"(, "max_volume": null)")), "'max_volume' must be a number");
    // An empty facet list reaches the mesher, which has nothing to recover.
    EXPECT_EQ(errorOf(tetJob("", "[]")), kNotConverged);
}

TEST(RefineQualityTetOp, MaterialIsReadOnlyForAGeometryThatMeshes) {
    EXPECT_EQ(errorOf(tetJob(R"(, "mat_id": "steel")")), "'mat_id' must be a number");
    // All points in one plane: the mesh fails first.
    EXPECT_EQ(errorOf(R"({"op": "refine_quality_tet", "params": {"points": [[0,0,0],[1,0,0],[0,1,0],[1,1,0]],
        "facets": [[0,1,2],[1,3,2]], "mat_id": "steel"}})"),
              kNotConverged);
}

TEST(RefineQualityTetOp, IndicesAreCheckedBeforeMeshing) {
    EXPECT_EQ(errorOf(tetJob("", "[[0, 2, 1], [0, 3, 8]]")), "facet 1 refers to point 8, outside the 8 points given");
    EXPECT_EQ(errorOf(tetJob("", "[[0, 2, -1]]")), "facet 0 refers to point -1, outside the 8 points given");
    EXPECT_EQ(errorOf(tetJob("", "[[0, 2, 1e30]]")),
              "facet 0 refers to point -9223372036854775808, outside the 8 points given");
    EXPECT_EQ(errorOf(tetJob("", "[[5, 2, 5]]")), "facet 0 names point 5 twice");
    EXPECT_EQ(errorOf(tetJob(R"(, "segments": [[1, 1.7]])")), "segment 0 names point 1 twice");
    EXPECT_EQ(errorOf(tetJob(R"(, "segments": [[0, 6], [7, 9]])")),
              "segment 1 refers to point 9, outside the 8 points given");
    // Numbers are truncated toward zero: -0.5 is point 0 and 2.9 is point 2.
    const std::string truncated = kCubeFacets.substr(0, kCubeFacets.size() - 1) + ", [-0.5, 2.9, 1]]";
    JobResult r = run(tetJob("", truncated));
    EXPECT_TRUE(r.ok) << r.error;
    // The check comes after the numbers are read.
    EXPECT_EQ(errorOf(tetJob(R"(, "max_volume": "x")", "[[0, 2, 9]]")), "'max_volume' must be a number");
}

TEST(RefineQualityTetOp, RefusesNonFiniteInput) {
    // The size limits (kMaxTetMeshPoints and the facet and segment counts) are checked by
    // the same checkPlc, whose tests cover their messages.
    EXPECT_EQ(errorOf(R"({"op": "refine_quality_tet", "params": {"points": [[0,0,0],[1,0,0],[0,1,0],[0,0,1e400]],
        "facets": [[0,2,1],[0,1,3],[1,2,3],[0,3,2]]}})"),
              "point 3 has a coordinate that is not finite or exceeds 1e50 in magnitude");
}

TEST(MeshStlSolidOp, MeshesAClosedSurface) {
    JobResult r = run(stlJob(stlTetrahedron(), R"(, "mat_id": 3, "max_volume": 0.05)"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_GT(r.model.solids.size(), 1u);
    EXPECT_NEAR(volumeOf(r.model), 1.0 / 6.0, 1e-12);
    EXPECT_EQ(r.model.solids[0].matId, 3);
    // The welded points come first, in order of appearance.
    EXPECT_EQ(r.model.nodes[1].y, 1.0);
}

TEST(MeshStlSolidOp, ReadingOrderAndMessages) {
    EXPECT_EQ(errorOf(R"({"op": "mesh_stl_solid", "params": {"stl": 5}})"), "missing required string 'params.stl'");
    EXPECT_EQ(errorOf(R"({"op": "mesh_stl_solid"})"), "missing required string 'params.stl'");
    EXPECT_EQ(errorOf(stlJob("solid x", R"(, "weld_tolerance": "1")")), "'weld_tolerance' must be a number");
    EXPECT_EQ(errorOf(stlJob("solid x facet normal 0 0 1")), "STL import failed: malformed STL: expected 'outer loop'");
    EXPECT_EQ(errorOf(stlJob("cube")),
              "STL import failed: malformed ASCII STL: expected the file to start with 'solid'");
    EXPECT_EQ(errorOf(stlJob("solid x endsolid x")), "STL import failed: STL file has no facets");
    // An open surface is refused before any meshing parameter is read.
    EXPECT_EQ(errorOf(stlJob(stlTetrahedron(2), R"(, "radius_edge_bound": "x")")), kNotWatertight);
    EXPECT_EQ(errorOf(stlJob(stlTetrahedron(), R"(, "radius_edge_bound": "x")")),
              "'radius_edge_bound' must be a number");
    EXPECT_EQ(errorOf(stlJob(stlTetrahedron(), R"(, "max_steiner_points": "x")")),
              "'max_steiner_points' must be a number");
    EXPECT_EQ(errorOf(stlJob(stlTetrahedron(), R"(, "max_volume": "x")")), "'max_volume' must be a number");
    EXPECT_EQ(errorOf(stlJob(stlTetrahedron(), R"(, "mat_id": "x")")), "'mat_id' must be a number");
    // Weld tolerance 0 collapses every facet: the empty surface is closed but has nothing
    // to mesh.
    EXPECT_EQ(errorOf(stlJob(stlTetrahedron(), R"(, "weld_tolerance": 0, "mat_id": "x")")), kStlMeshFailed);
    // A vertex at infinity is read, and refused before meshing.
    const std::string infinite = "solid t" + stlFacet("1 1 1", "1 2 1", "inf 1 1") +
                                 stlFacet("1 1 1", "inf 1 1", "1 1 2") + stlFacet("inf 1 1", "1 2 1", "1 1 2") +
                                 stlFacet("1 1 1", "1 1 2", "1 2 1");
    EXPECT_EQ(errorOf(stlJob(infinite)),
              "mesh_stl_solid failed: point 2 has a coordinate that is not finite or exceeds 1e50 in magnitude");
}

}  // namespace
