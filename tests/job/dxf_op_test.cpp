#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "io/dxf/dxf_reader.hpp"
#include "job/dispatch.hpp"
#include "support/cli_runner.hpp"

namespace {

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

/// A mesh_dxf_area job with the given parameters.
JobResult runDxfJob(const std::vector<JsonMember>& params) {
    JsonValue job;
    job.kind = JsonKind::Object;
    job.members.push_back(JsonMember{"op", stringValue("mesh_dxf_area")});
    JsonValue p;
    p.kind = JsonKind::Object;
    p.members = params;
    job.members.push_back(JsonMember{"params", p});
    return dispatchJob(job);
}

JobResult runDxf(const std::string& dxf) { return runDxfJob({JsonMember{"dxf", stringValue(dxf)}}); }

std::string jobError(const std::vector<JsonMember>& params) {
    JobResult r = runDxfJob(params);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.model.nodes.empty());
    return r.error;
}

const char* const kTriangle = "0\nLWPOLYLINE\n70\n1\n38\n2\n10\n0\n20\n0\n10\n4\n20\n0\n10\n0\n20\n3\n0\nEOF\n";

TEST(MeshDxfArea, ParametersAreCheckedInOrder) {
    const std::string missing = "missing required string 'params.dxf'";
    EXPECT_EQ(jobError({}), missing);
    JsonValue array;
    array.kind = JsonKind::Array;
    EXPECT_EQ(jobError({JsonMember{"dxf", array}}), missing);
    EXPECT_EQ(jobError({JsonMember{"dxf", numberValue(1)}, JsonMember{"arc_tolerance", stringValue("x")}}), missing);
    EXPECT_EQ(jobError({JsonMember{"dxf", stringValue(kTriangle)}, JsonMember{"arc_tolerance", stringValue("fine")}}),
              "'arc_tolerance' must be a number");
    EXPECT_EQ(jobError({JsonMember{"dxf", JsonValue()}}), missing);
}

TEST(MeshDxfArea, FailuresKeepTheirWording) {
    EXPECT_EQ(jobError({JsonMember{"dxf", stringValue("")}}),
              "DXF import failed: no closed LWPOLYLINE/CIRCLE entity and no closed chain of LINE/ARC entities found");
    EXPECT_EQ(jobError({JsonMember{"dxf", stringValue("0\r\nSECTION\r\n1e3\r\nX\r\n")}}),
              "DXF import failed: malformed DXF: expected an integer group code, got '1e3' (line 3)");
    EXPECT_EQ(jobError({JsonMember{"dxf", stringValue("0\nCIRCLE\n40\n1000\n")},
                        JsonMember{"arc_tolerance", numberValue(1e-12)}}),
              std::string("DXF import failed: ") + kDxfTooManyPointsMessage);
    // Collinear corners: read fine, but no plane can be fitted to them.
    EXPECT_EQ(jobError({JsonMember{"dxf", stringValue("0\nLWPOLYLINE\n70\n1\n10\n0\n10\n1\n10\n2\n")}}),
              "mesh_dxf_area failed (imported boundary is degenerate or conforming triangulation did not converge)");
}

TEST(MeshDxfArea, TriangleBecomesOneMembraneArea) {
    JobResult r = runDxf(kTriangle);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.model.nodes.size(), 3u);
    EXPECT_EQ(r.model.nodes[1].id, 2);
    EXPECT_EQ(r.model.nodes[1].x, 4.0);
    EXPECT_EQ(r.model.nodes[2].y, 3.0);
    EXPECT_EQ(r.model.nodes[2].z, 2.0);
    ASSERT_EQ(r.model.areas.size(), 1u);
    const Area& a = r.model.areas[0];
    EXPECT_EQ(a.id, 1);
    EXPECT_EQ(a.kind, "CST");
    EXPECT_EQ(a.behavior, "membrane");
    EXPECT_EQ(a.thickness, 0.0);
    EXPECT_EQ(a.matId, 0);
    EXPECT_EQ(a.secId, 0);
    EXPECT_FALSE(a.drilling);
    EXPECT_TRUE(r.model.solids.empty());
}

double triangleArea(const Model& m, const Area& a) {
    const Node& p = m.nodes[static_cast<size_t>(a.nodes[0] - 1)];
    const Node& q = m.nodes[static_cast<size_t>(a.nodes[1] - 1)];
    const Node& s = m.nodes[static_cast<size_t>(a.nodes[2] - 1)];
    return 0.5 * ((q.x - p.x) * (s.y - p.y) - (s.x - p.x) * (q.y - p.y));
}

TEST(MeshDxfArea, PlateDrawingMeshesEndToEnd) {
    // A 200 x 120 plate with filleted corners (lines and arcs), three bolt-hole circles, a
    // fourth bolt hole as a two-bulge polyline and a slot of two arcs and two lines, in the
    // sections, tables and layers of a CAD export with CR LF line ends.
    const std::string dxf = readFile(std::string(QUILM_TEST_DATA_DIR) + "/job/dxf_plate.dxf");
    ASSERT_FALSE(dxf.empty());
    const DxfBoundary boundary = readDxfBoundary(dxf, DxfImportOptions());
    ASSERT_TRUE(boundary.ok) << boundary.error;
    ASSERT_EQ(boundary.holes.size(), 5u);
    EXPECT_EQ(boundary.outer[0].x, 10.0);
    EXPECT_EQ(boundary.outer[0].y, 0.0);
    const double filletLoss = (4.0 - std::acos(-1.0)) * 100.0;
    EXPECT_NEAR(std::fabs(signedAreaXY(boundary.outer)), 200.0 * 120.0 - filletLoss, 0.5);
    EXPECT_NEAR(std::fabs(signedAreaXY(boundary.holes[4])), 40.0 * 16.0 + std::acos(-1.0) * 64.0, 0.5);

    JobResult r = runDxf(dxf);
    ASSERT_TRUE(r.ok) << r.error;
    const Model& m = r.model;
    ASSERT_FALSE(m.areas.empty());
    // Boundary points are the first nodes, with their own coordinates.
    for (size_t i = 0; i < boundary.outer.size(); ++i) {
        EXPECT_EQ(m.nodes[i].x, boundary.outer[i].x);
        EXPECT_EQ(m.nodes[i].y, boundary.outer[i].y);
    }
    // The triangles tile the plate less its holes, and none has its centroid in a hole.
    double expected = std::fabs(signedAreaXY(boundary.outer));
    for (const DxfLoop& hole : boundary.holes) expected -= std::fabs(signedAreaXY(hole));
    double total = 0.0;
    const double holeCentres[4][2] = {{25, 25}, {175, 25}, {175, 95}, {25, 95}};
    for (const Area& a : m.areas) {
        ASSERT_EQ(a.nodes.size(), 3u);
        const double area = triangleArea(m, a);
        EXPECT_GT(area, 0.0);
        total += area;
        double cx = 0.0, cy = 0.0;
        for (int32_t id : a.nodes) {
            cx += m.nodes[static_cast<size_t>(id - 1)].x / 3.0;
            cy += m.nodes[static_cast<size_t>(id - 1)].y / 3.0;
            EXPECT_EQ(m.nodes[static_cast<size_t>(id - 1)].z, 0.0);
        }
        for (const auto& c : holeCentres) EXPECT_GT(std::hypot(cx - c[0], cy - c[1]), 5.98);
        const bool inSlotBody = cx > 80 && cx < 120 && cy > 52.01 && cy < 67.99;
        EXPECT_FALSE(inSlotBody);
        EXPECT_GT(std::hypot(cx - 80, cy - 60), 7.98);
        EXPECT_GT(std::hypot(cx - 120, cy - 60), 7.98);
    }
    EXPECT_NEAR(total, expected, 1e-9 * expected);

    // Same drawing, same model; a coarser arc tolerance gives fewer nodes.
    JobResult again = runDxf(dxf);
    ASSERT_EQ(again.model.nodes.size(), m.nodes.size());
    for (size_t i = 0; i < m.nodes.size(); ++i) {
        EXPECT_EQ(again.model.nodes[i].x, m.nodes[i].x);
        EXPECT_EQ(again.model.nodes[i].y, m.nodes[i].y);
    }
    JobResult coarse = runDxfJob({JsonMember{"dxf", stringValue(dxf)}, JsonMember{"arc_tolerance", numberValue(0.5)}});
    ASSERT_TRUE(coarse.ok) << coarse.error;
    EXPECT_LT(coarse.model.nodes.size(), m.nodes.size());
}

}  // namespace
