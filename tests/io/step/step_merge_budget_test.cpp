// Shells written with a vertex record per edge end still close (coinciding vertices are
// merged), the surface-angle helpers, and the node budget of the default mesh_step.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "io/step/box_with_hole_step.hpp"
#include "io/step/conforming_checks.hpp"
#include "io/step/mesh_step_op.hpp"
#include "io/step/step_conforming.hpp"
#include "io/step/step_part_builder.hpp"
#include "io/step/step_surface_quality.hpp"
#include "model/model_writer.hpp"
#include "support/cli_runner.hpp"

namespace {

bool meshConforming(const std::string& text, double size, Model& out, std::string& error) {
    StepFile file = parseStepFile(text);
    EXPECT_TRUE(file.ok) << file.error;
    ConformingOptions options;
    options.size = size;
    return meshStepConforming(file, options, out, error);
}

std::string modelText(const Model& m) {
    std::string path = makeScratchDir() + "/model.s3d";
    EXPECT_TRUE(writeModelFile(path, m));
    return readFile(path);
}

void expectClosed(const Model& m, double size) {
    MeshFigures f = meshFigures(m, 1e-9 * size);
    EXPECT_GT(m.areas.size(), 0u);
    EXPECT_EQ(f.openEdges, 0);
    EXPECT_EQ(f.overusedEdges, 0);
    EXPECT_EQ(f.misorientedEdges, 0);
    EXPECT_EQ(f.duplicateNodes, 0);
    EXPECT_GT(f.volume, 0.0);
}

}  // namespace

TEST(StepConformingMerge, DuplicatedVertexRecordsGiveTheSameClosedMesh) {
    // A plate with a round hole (a full-circle edge whose two ends are separate records),
    // once with shared vertex records and once with a record per edge end.
    for (bool surfaceCurves : {false, true}) {
        StepPartBuilder shared, duplicated;
        shared.surfaceCurveLines = duplicated.surfaceCurveLines = surfaceCurves;
        duplicated.duplicateVertices = true;
        shared.extrude(rectangleProfile(0, 0, 20, 12), {circleProfile(10, 6, 3, false)}, 2);
        duplicated.extrude(rectangleProfile(0, 0, 20, 12), {circleProfile(10, 6, 3, false)}, 2);
        ASSERT_NE(shared.text(), duplicated.text());
        Model a, b;
        std::string error;
        ASSERT_TRUE(meshConforming(shared.text(), 1.5, a, error)) << error;
        ASSERT_TRUE(meshConforming(duplicated.text(), 1.5, b, error)) << error;
        expectClosed(b, 1.5);
        // The mesh depends on positions only, so it is the same byte for byte.
        EXPECT_EQ(modelText(a), modelText(b));
    }
}

TEST(StepConformingMerge, VerticesWithinTheToleranceMergeAndFartherOnesDoNot) {
    // Every edge end its own record, the start moved by +offset in x and the end by
    // -offset: records of one corner lie 2 * offset apart. At 1e-10 (below 1e-9 of the
    // size) they merge and the box closes; at 1e-4 the loops do not connect and the face is
    // named.
    auto box = [](double offset) {
        StepPartBuilder b;
        b.duplicateVertices = true;
        b.duplicateOffset = offset;
        b.extrude(rectangleProfile(0, 0, 10, 6), {}, 4);
        return b.text();
    };
    Model m;
    std::string error;
    ASSERT_TRUE(meshConforming(box(1e-10), 1.0, m, error)) << error;
    expectClosed(m, 1.0);
    EXPECT_EQ(meshFigures(m, 1e-6).duplicateNodes, 0);
    Model far;
    EXPECT_FALSE(meshConforming(box(1e-4), 1.0, far, error));
    EXPECT_EQ(error.rfind("face #", 0), 0u) << error;
    EXPECT_NE(error.find("cannot be meshed: one of its loops"), std::string::npos) << error;
}

TEST(StepSurfaceQuality, AnglesAndCircumcentreOfASpaceTriangle) {
    EXPECT_NEAR(spaceAngleDeg({0, 0, 0}, {1, 0, 0}, {0, 0, 2}), 90.0, 1e-12);
    EXPECT_NEAR(spaceMinAngleDeg({0, 0, 0}, {1, 0, 0}, {0.5, 0, std::sqrt(0.75)}), 60.0, 1e-9);
    EXPECT_EQ(spaceMinAngleDeg({0, 0, 0}, {0, 0, 0}, {1, 0, 0}), 0.0);
    // The chart triangle is the unit right triangle; its space image is stretched along x
    // by 3 and lifted. The space circumcentre of a right triangle is its hypotenuse's
    // midpoint, which has chart coordinates (0.5, 0.5) whatever the stretch.
    SurfaceTriangulation t;
    t.chart = {{0, 0}, {1, 0}, {0, 1}};
    t.surface = {{0, 0, 1}, {3, 0, 1}, {0, 1, 1}};
    Triangle tri;
    tri.v = {0, 1, 2};
    Point2 q;
    double radius = 0.0;
    ASSERT_TRUE(chartPointOfSpaceCircumcenter(t, tri, q, radius));
    EXPECT_NEAR(q.x, 0.5, 1e-12);
    EXPECT_NEAR(q.y, 0.5, 1e-12);
    EXPECT_NEAR(radius, 0.5 * std::sqrt(10.0), 1e-12);
    // An obtuse space triangle, the image of the chart triangle under x = 2u + v, y = 0.2v:
    // the chart point maps to the point equidistant from the three corners.
    t.surface = {{0, 0, 0}, {2, 0, 0}, {1, 0.2, 0}};
    ASSERT_TRUE(chartPointOfSpaceCircumcenter(t, tri, q, radius));
    Point3 c{2 * q.x + 1 * q.y, 0.2 * q.y, 0};  // the affine map of the chart onto the triangle
    for (const Point3& p : t.surface) {
        EXPECT_NEAR(std::sqrt((c.x - p.x) * (c.x - p.x) + (c.y - p.y) * (c.y - p.y)), radius, 1e-9);
    }
    t.surface = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
    EXPECT_FALSE(chartPointOfSpaceCircumcenter(t, tri, q, radius));
}

TEST(StepSurfaceQuality, FlipsTowardsBetterSpaceTrianglesOnlyWhereTheChartAllows) {
    // A chart square split along 1-3 whose space image is a flat rhombus with 1-3 its long
    // diagonal: slivers of 16.7 degrees, against 33.4 degrees across 0-2.
    SurfaceTriangulation t;
    t.chart = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    t.surface = {{0, -0.3, 0}, {1, 0, 0}, {0, 0.3, 0}, {-1, 0, 0}};
    Triangle a, b;
    a.v = {0, 1, 3};
    b.v = {1, 2, 3};
    t.triangles = {a, b};
    EXPECT_EQ(flipTowardsSurfaceQuality(t, 100), 1);
    for (const Triangle& tri : t.triangles) {
        bool has0 = tri.v[0] == 0 || tri.v[1] == 0 || tri.v[2] == 0;
        bool has2 = tri.v[0] == 2 || tri.v[1] == 2 || tri.v[2] == 2;
        EXPECT_TRUE(has0 && has2);
        EXPECT_NEAR(spaceMinAngleDeg(t.surface[tri.v[0]], t.surface[tri.v[1]], t.surface[tri.v[2]]),
                    2.0 * std::atan(0.3) * 180.0 / 3.141592653589793, 1e-9);
        // Still counter-clockwise in the chart.
        const Point2 &p = t.chart[tri.v[0]], &q = t.chart[tri.v[1]], &r = t.chart[tri.v[2]];
        EXPECT_GT((q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x), 0.0);
    }
    EXPECT_EQ(flipTowardsSurfaceQuality(t, 100), 0);
    // The same surface over a chart quad that is reflex at 3: the flip would fold the chart.
    t.chart = {{0, 0}, {1, 0}, {1, 1}, {0.3, 0.25}};
    t.triangles = {a, b};
    EXPECT_EQ(flipTowardsSurfaceQuality(t, 100), 0);
    // The bound on flips holds.
    t.chart = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    EXPECT_EQ(flipTowardsSurfaceQuality(t, 0), 0);
}

TEST(MeshStepNodeBudget, FacesBeyondTheBudgetFailAndBelowItChangeNothing) {
    StepFile file = parseStepFile(boxWithHoleStep());
    ASSERT_TRUE(file.ok) << file.error;
    StepMeshOptions options;
    Model full;
    std::string error;
    ASSERT_TRUE(meshStepFaces(file, options, full, error)) << error;
    const int64_t nodes = static_cast<int64_t>(full.nodes.size());
    ASSERT_GT(nodes, 20);
    // Exactly the nodes needed: the same model.
    Model exact;
    ASSERT_TRUE(meshStepFacesWithin(file, options, nodes, exact, error)) << error;
    EXPECT_EQ(modelText(exact), modelText(full));
    // One fewer: refused, holding no more than the budget.
    Model over;
    EXPECT_FALSE(meshStepFacesWithin(file, options, nodes - 1, over, error));
    EXPECT_EQ(error, stepNodeBudgetMessage(nodes - 1));
    EXPECT_NE(error.find("more than " + std::to_string(nodes - 1) + " nodes"), std::string::npos);
    EXPECT_LE(static_cast<int64_t>(over.nodes.size()), nodes - 1);
    EXPECT_EQ(kMaxStepNodes, 16000000);
}
