#include "io/step/mesh_step_op.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "io/step/bspline_scene.hpp"
#include "io/step/mesh_step_rounded_bar.hpp"
#include "job/dispatch.hpp"

namespace {

using namespace stepvec;

JsonValue stringValue(const std::string& text) {
    JsonValue v;
    v.kind = JsonKind::String;
    v.text = text;
    return v;
}

JsonValue numberValue(double number) {
    JsonValue v;
    v.kind = JsonKind::Number;
    v.number = number;
    return v;
}

JobResult runStepJob(const std::vector<JsonMember>& params) {
    JsonValue job;
    job.kind = JsonKind::Object;
    job.members.push_back(JsonMember{"op", stringValue("mesh_step")});
    JsonValue p;
    p.kind = JsonKind::Object;
    p.members = params;
    job.members.push_back(JsonMember{"params", p});
    return dispatchJob(job);
}

JobResult runStep(const std::string& step, std::vector<JsonMember> more = {}) {
    more.insert(more.begin(), JsonMember{"step", stringValue(step)});
    return runStepJob(more);
}

std::string skippedMessage(int n) {
    return "no meshable faces found in STEP file (" + std::to_string(n) +
           " face(s) skipped as unsupported: non-planar surfaces, curved edges, or unsupported curved surfaces)";
}

const char* const kNoneMeshed = "STEP faces found but none could be meshed (degenerate or non-convergent)";

/// The node groups of a model whose faces share no nodes: the connected components of its
/// areas, each as the sorted list of its node ids, in order of their smallest id.
std::vector<std::vector<int32_t>> faceGroups(const Model& m) {
    std::map<int32_t, int32_t> parent;
    for (const Node& n : m.nodes) parent[n.id] = n.id;
    std::function<int32_t(int32_t)> root = [&](int32_t i) { return parent[i] == i ? i : parent[i] = root(parent[i]); };
    for (const Area& a : m.areas) {
        for (int32_t id : a.nodes) parent[root(id)] = root(a.nodes[0]);
    }
    std::map<int32_t, std::vector<int32_t>> groups;
    for (const auto& entry : parent) groups[root(entry.first)].push_back(entry.first);
    std::map<int32_t, std::vector<int32_t>> byFirst;
    for (auto& g : groups) byFirst[g.second.front()] = g.second;
    std::vector<std::vector<int32_t>> out;
    for (auto& g : byFirst) out.push_back(g.second);
    return out;
}

/// Ids 1..n in order for nodes and areas, every area a "CST" membrane on existing nodes.
void expectRunningIds(const Model& m) {
    for (size_t i = 0; i < m.nodes.size(); ++i) ASSERT_EQ(m.nodes[i].id, static_cast<int32_t>(i + 1));
    for (size_t i = 0; i < m.areas.size(); ++i) {
        const Area& a = m.areas[i];
        ASSERT_EQ(a.id, static_cast<int32_t>(i + 1));
        EXPECT_EQ(a.kind, "CST");
        EXPECT_EQ(a.behavior, "membrane");
        EXPECT_EQ(a.thickness, 0.0);
        EXPECT_EQ(a.matId, 0);
        EXPECT_EQ(a.secId, 0);
        EXPECT_FALSE(a.drilling);
        ASSERT_EQ(a.nodes.size(), 3u);
        for (int32_t id : a.nodes) {
            ASSERT_GE(id, 1);
            ASSERT_LE(id, static_cast<int32_t>(m.nodes.size()));
        }
    }
    EXPECT_TRUE(m.solids.empty());
    EXPECT_TRUE(m.elements.empty());
}

Point3 nodePoint(const Model& m, int32_t id) {
    const Node& n = m.nodes[id - 1];
    return {n.x, n.y, n.z};
}

double areaOf(const Model& m, const Area& a) {
    Point3 p = nodePoint(m, a.nodes[0]);
    return 0.5 * length(cross(sub(nodePoint(m, a.nodes[1]), p), sub(nodePoint(m, a.nodes[2]), p)));
}

/// A cube of side 2 as six planar faces with straight edges, plus whatever `extra` adds.
std::string cubeStep(const std::function<void(BsplineScene&)>& extra = nullptr) {
    BsplineScene s;
    auto face = [&](std::vector<Point3> corners) {
        int plane = s.add("PLANE(''," + s.ref(s.placement(corners[0], {0, 0, 1}, {1, 0, 0})) + ")");
        s.face({s.bound(s.polygonLoop(corners))}, plane);
    };
    face({{0, 0, 0}, {0, 2, 0}, {2, 2, 0}, {2, 0, 0}});
    face({{0, 0, 2}, {2, 0, 2}, {2, 2, 2}, {0, 2, 2}});
    face({{0, 0, 0}, {2, 0, 0}, {2, 0, 2}, {0, 0, 2}});
    face({{0, 2, 0}, {0, 2, 2}, {2, 2, 2}, {2, 2, 0}});
    face({{0, 0, 0}, {0, 0, 2}, {0, 2, 2}, {0, 2, 0}});
    face({{2, 0, 0}, {2, 2, 0}, {2, 2, 2}, {2, 0, 2}});
    if (extra) extra(s);
    return s.text();
}

// ----- parameters and messages -----

TEST(MeshStep, ParametersAreReadInOrder) {
    const std::string missing = "missing required string 'params.step'";
    EXPECT_EQ(runStepJob({}).error, missing);
    EXPECT_EQ(runStepJob({JsonMember{"step", numberValue(3)}}).error, missing);
    EXPECT_EQ(runStepJob({JsonMember{"step", JsonValue()}}).error, missing);
    // The text is parsed before any number is read.
    EXPECT_EQ(runStep("ISO-10303-21;\nHEADER;\nENDSEC;\n", {JsonMember{"min_angle_deg", stringValue("x")}}).error,
              "STEP parse failed: no DATA section found (expected a 'DATA;' marker)");
    const std::string ok = cubeStep();
    EXPECT_EQ(runStep(ok, {JsonMember{"cylinder_segments", stringValue("8")}, JsonMember{"min_angle_deg", JsonValue()}})
                  .error,
              "'min_angle_deg' must be a number");
    EXPECT_EQ(runStep(ok, {JsonMember{"cylinder_segments", stringValue("8")},
                           JsonMember{"max_steiner_points", stringValue("many")}})
                  .error,
              "'max_steiner_points' must be a number");
    EXPECT_EQ(runStep(ok, {JsonMember{"cylinder_segments", stringValue("8")}}).error,
              "'cylinder_segments' must be a number");
    JobResult r = runStep(ok, {JsonMember{"min_angle_deg", numberValue(25)},
                               JsonMember{"max_steiner_points", numberValue(100.9)},
                               JsonMember{"cylinder_segments", numberValue(5)}});
    EXPECT_TRUE(r.ok) << r.error;
}

TEST(MeshStep, NothingMeshableReportsTheSummedSkipCount) {
    EXPECT_EQ(runStep("DATA;\nENDSEC;\n").error, skippedMessage(0));

    // Two faces on B-spline surfaces whose u knots expand one short: each is counted by the
    // planar extractor and by the B-spline tessellator.
    BsplineScene s;
    for (int k = 0; k < 2; ++k) {
        double z = k;
        int bad = s.surface(1, 1, {{{0, 0, z}, {0, 1, z}}, {{1, 0, z}, {1, 1, z}}}, {2, 1}, {2, 2}, {0, 1}, {0, 1});
        s.face({s.bound(s.polygonLoop({{0, 0, z}, {1, 0, z}, {1, 1, z}, {0, 1, z}}))}, bad);
    }
    EXPECT_EQ(runStep(s.text()).error, skippedMessage(4));

    // Faces on surfaces no extractor reads count once each.
    BsplineScene r;
    for (int k = 0; k < 3; ++k) {
        int axis = r.add("AXIS1_PLACEMENT(''," + r.ref(r.point({0, 0, 0})) + "," + r.ref(r.direction({0, 0, 1})) + ")");
        int curve = r.line({1, 0, 0}, {0, 0, 1});
        int surface = r.add("SURFACE_OF_REVOLUTION(''," + r.ref(curve) + "," + r.ref(axis) + ")");
        r.face({r.bound(r.polygonLoop({{1, 0, 0}, {0, 1, 0}, {0, 1, 1}}))}, surface);
    }
    EXPECT_EQ(runStep(r.text()).error, skippedMessage(3));
}

// ----- numbering and independent faces -----

TEST(MeshStep, CubeGivesSixIndependentFaceMeshes) {
    JobResult r = runStep(cubeStep());
    ASSERT_TRUE(r.ok) << r.error;
    const Model& m = r.model;
    expectRunningIds(m);
    // Each square converges without a Steiner point: 4 nodes and 2 areas per face.
    EXPECT_EQ(m.nodes.size(), 24u);
    EXPECT_EQ(m.areas.size(), 12u);
    std::vector<std::vector<int32_t>> groups = faceGroups(m);
    ASSERT_EQ(groups.size(), 6u);
    for (size_t g = 0; g < groups.size(); ++g) {
        // Face g holds the nodes 4g + 1 ... 4g + 4 and the areas 2g + 1, 2g + 2.
        EXPECT_EQ(groups[g], (std::vector<int32_t>{int32_t(4 * g + 1), int32_t(4 * g + 2), int32_t(4 * g + 3),
                                                   int32_t(4 * g + 4)}));
        for (int k = 0; k < 2; ++k) {
            for (int32_t id : m.areas[2 * g + k].nodes) EXPECT_TRUE(id > int32_t(4 * g) && id <= int32_t(4 * g + 4));
        }
    }
    // Faces appear in ascending face number: the first is z = 0, the second z = 2.
    for (int32_t id = 1; id <= 4; ++id) EXPECT_EQ(nodePoint(m, id).z, 0.0);
    for (int32_t id = 5; id <= 8; ++id) EXPECT_EQ(nodePoint(m, id).z, 2.0);
    for (const Area& a : m.areas) EXPECT_NEAR(areaOf(m, a), 2.0, 1e-12);
}

TEST(MeshStep, FaceWithATooSharpCornerIsDroppedSilently) {
    auto sliver = [](BsplineScene& s) {
        // A triangle in z = 5 with a corner of about 5.7 degrees at the origin.
        int plane = s.add("PLANE(''," + s.ref(s.placement({0, 0, 5}, {0, 0, 1}, {1, 0, 0})) + ")");
        s.face({s.bound(s.polygonLoop({{0, 0, 5}, {10, 0, 5}, {10, 1, 5}}))}, plane);
    };
    JobResult r = runStep(cubeStep(sliver));
    ASSERT_TRUE(r.ok) << r.error;
    expectRunningIds(r.model);
    EXPECT_EQ(faceGroups(r.model).size(), 6u);
    for (const Node& n : r.model.nodes) EXPECT_NE(n.z, 5.0);

    // With the sliver alone nothing is meshed.
    BsplineScene alone;
    sliver(alone);
    EXPECT_EQ(runStep(alone.text()).error, kNoneMeshed);
    // A smaller minimum angle lets it through.
    JobResult loose = runStep(alone.text(), {JsonMember{"min_angle_deg", numberValue(5)}});
    ASSERT_TRUE(loose.ok) << loose.error;
    for (const Node& n : loose.model.nodes) EXPECT_EQ(n.z, 5.0);
}

TEST(MeshStep, CurvedFacesFollowPlanarOnesAndSegmentCountsClamp) {
    auto scene = [](BsplineScene& s) {
        // A cylinder of radius 1 about the z axis between two full circles, after the cube.
        int frame = s.placement({0, 0, 10}, {0, 0, 1}, {1, 0, 0});
        int surface = s.add("CYLINDRICAL_SURFACE(''," + s.ref(frame) + ",1.)");
        int bottom = s.edgeOn(s.circle(s.placement({0, 0, 10}, {0, 0, 1}, {1, 0, 0}), 1), {1, 0, 10}, {1, 0, 10});
        int top = s.edgeOn(s.circle(s.placement({0, 0, 13}, {0, 0, 1}, {1, 0, 0}), 1), {1, 0, 13}, {1, 0, 13});
        s.face({s.bound(s.loop({bottom})), s.bound(s.loop({top}), false)}, surface);
        s.bilinear({0, 0, 20}, {0, 1, 20}, {1, 0, 20}, {1, 1, 21});  // a free patch
    };
    struct Case {
        double segments;
        size_t ring;   // points per cylinder ring
        size_t patch;  // points of the free patch
    };
    for (const Case& c : {Case{16, 16, 289}, Case{2, 3, 9}, Case{1, 3, 9}, Case{-40, 3, 9}, Case{3.9, 3, 16}}) {
        JobResult r = runStep(cubeStep(scene), {JsonMember{"cylinder_segments", numberValue(c.segments)}});
        ASSERT_TRUE(r.ok) << r.error;
        const Model& m = r.model;
        expectRunningIds(m);
        ASSERT_EQ(m.nodes.size(), 24 + 2 * c.ring + c.patch) << c.segments;
        for (size_t i = 24; i < 24 + 2 * c.ring; ++i) {
            const Node& n = m.nodes[i];
            EXPECT_NEAR(std::sqrt(n.x * n.x + n.y * n.y), 1.0, 1e-15);
        }
        for (size_t i = 24 + 2 * c.ring; i < m.nodes.size(); ++i) EXPECT_GE(m.nodes[i].z, 20.0);
        EXPECT_EQ(m.areas.size(), 12 + 2 * c.ring + 2 * (c.patch == 289 ? 256 : c.patch == 16 ? 9 : 4));
        // Area ids continue from the planar faces; the cylinder's first area uses node 25.
        EXPECT_EQ(m.areas[12].nodes[0], 25);
    }
    // Counts beyond any face's size decline every curved face: the cylinder is counted by
    // the planar extractor and by its own, the free patch by the B-spline tessellator.
    BsplineScene curvedOnly;
    scene(curvedOnly);
    for (double huge : {1e6, 1e12}) {
        EXPECT_EQ(runStep(curvedOnly.text(), {JsonMember{"cylinder_segments", numberValue(huge)}}).error,
                  skippedMessage(3));
    }
}

// ----- a realistic part -----

TEST(MeshStep, RoundedBarMeshesPlanesCylinderAndFilletOnTheirSurfaces) {
    JobResult r = runStep(roundedBarStep());
    ASSERT_TRUE(r.ok) << r.error;
    const Model& m = r.model;
    expectRunningIds(m);

    // Every node lies on one of the five surfaces that can be meshed; the front and back
    // faces (planes with arcs) are not.
    const double tol = 1e-12;
    auto inRange = [](double v, double lo, double hi) { return v >= lo - 1e-12 && v <= hi + 1e-12; };
    std::vector<std::function<bool(const Point3&)>> surfaces = {
        [&](const Point3& p) { return std::fabs(p.z) <= tol && inRange(p.x, 5, 40) && inRange(p.y, 0, 30); },
        [&](const Point3& p) { return std::fabs(p.x - 40) <= tol && inRange(p.z, 0, 6) && inRange(p.y, 0, 30); },
        [&](const Point3& p) { return std::fabs(p.z - 10) <= tol && inRange(p.x, 5, 36) && inRange(p.y, 0, 30); },
        [&](const Point3& p) {
            return std::fabs(std::sqrt((p.x - 5) * (p.x - 5) + (p.z - 5) * (p.z - 5)) - 5) <= 5 * tol &&
                   p.x <= 5 + tol && inRange(p.y, 0, 30);
        },
        [&](const Point3& p) {
            return std::fabs(std::sqrt((p.x - 36) * (p.x - 36) + (p.z - 6) * (p.z - 6)) - 4) <= 4 * tol &&
                   p.x >= 36 - tol && p.z >= 6 - tol && inRange(p.y, 0, 30);
        },
    };
    // Faces come planar first (bottom, right, top by face number), then the cylinder, then
    // the fillet; each is its own group of nodes.
    std::vector<std::vector<int32_t>> groups = faceGroups(m);
    ASSERT_EQ(groups.size(), 5u);
    for (size_t g = 0; g < groups.size(); ++g) {
        for (int32_t id : groups[g]) EXPECT_TRUE(surfaces[g](nodePoint(m, id))) << "face " << g << " node " << id;
    }
    EXPECT_EQ(groups[3].size(), 34u);   // two rings of 17 on the half cylinder
    EXPECT_EQ(groups[4].size(), 289u);  // the whole fillet grid: its boundary runs along the domain's edges
    // The planar faces keep their corners as nodes.
    EXPECT_EQ(nodePoint(m, groups[0][0]).x, 5.0);

    // No degenerate area; the fillet's and cylinder's areas are as large as their grid cells.
    double smallest = std::numeric_limits<double>::infinity();
    for (const Area& a : m.areas) smallest = std::min(smallest, areaOf(m, a));
    EXPECT_GT(smallest, 0.05);
    double total = 0.0;
    for (const Area& a : m.areas) total += areaOf(m, a);
    // Planes 35 x 30, 6 x 30, 31 x 30; a half cylinder (chords) and a quarter (chords).
    double planes = 35 * 30 + 6 * 30 + 31 * 30;
    double halfCylinder = 16 * 5 * 2 * std::sin(3.14159265358979 / 32) * 30;
    EXPECT_GT(total, planes + halfCylinder + 0.99 * (3.14159265358979 / 2 * 4 * 30));
    EXPECT_LT(total, planes + 3.14159265358979 * 5 * 30 + 3.14159265358979 / 2 * 4 * 30);
}

// ----- id guard -----

TEST(MeshStepNumbering, IdsStopAtTheThirtyTwoBitRange) {
    TessellatedFace face;
    face.points = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    face.triangles = {{0, 1, 2}};
    const int64_t largest = std::numeric_limits<int32_t>::max();
    StepNumbering numbering;
    numbering.nextNodeId = largest - 2;
    numbering.nextAreaId = 7;
    Model m;
    ASSERT_TRUE(appendTessellatedFace(face, numbering, m));
    ASSERT_EQ(m.nodes.size(), 3u);
    EXPECT_EQ(m.nodes[2].id, largest);
    EXPECT_EQ(m.areas[0].id, 7);
    EXPECT_EQ(m.areas[0].nodes, (std::vector<int32_t>{int32_t(largest - 2), int32_t(largest - 1), int32_t(largest)}));
    EXPECT_FALSE(appendTessellatedFace(face, numbering, m));
    EXPECT_EQ(m.nodes.size(), 3u);

    StepNumbering areas;
    areas.nextAreaId = largest;
    Model n;
    EXPECT_TRUE(appendTessellatedFace(face, areas, n));
    EXPECT_FALSE(appendTessellatedFace(face, areas, n));
    EXPECT_EQ(n.areas.size(), 1u);

    Model faceModel;
    faceModel.nodes.resize(4);
    StepNumbering planar;
    planar.nextNodeId = largest - 2;
    Model p;
    EXPECT_FALSE(appendFaceModel(faceModel, planar, p));
    EXPECT_TRUE(p.nodes.empty());
    faceModel.nodes.resize(3);
    EXPECT_TRUE(appendFaceModel(faceModel, planar, p));
    EXPECT_EQ(planar.nextNodeId, largest + 1);
}

}  // namespace
