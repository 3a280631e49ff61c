// Conforming meshes of faces on B-spline surfaces closed in u: a tube written as a rational
// B-spline cylinder, closed by planar caps, bounded by a seam edge or by its two end loops.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "io/step/conforming_checks.hpp"
#include "io/step/step_conforming.hpp"
#include "io/step/step_part_builder.hpp"
#include "model/model_writer.hpp"
#include "support/cli_runner.hpp"

namespace {

const double kPi = 3.141592653589793;

/// A tube of radius r from z = 0 to z = h about the z axis whose side is one face on a
/// rational quadratic B-spline surface closed in u (u around the axis, counter-clockwise
/// from the surface's seam at angle `seamAngle`; v up). The end circles start at angle
/// `loopAngle`. With `seam`, the side is bounded by one loop with a seam line used both
/// ways (as exporters write a closed face); without, by the two circles as two bounds.
std::string tubeText(double r, double h, double seamAngle, double loopAngle, bool seam, bool tip = false) {
    StepPartBuilder b;
    // The nine control points of a circle: square corners carry the weight sqrt(2)/2.
    const double w = std::sqrt(0.5);
    std::string rows = "(", weights = "(";
    for (int i = 0; i < 9; ++i) {
        double a = seamAngle + i * kPi / 4;
        double k = i % 2 ? std::sqrt(2.0) : 1.0;
        Point3 p{k * r * std::cos(a), k * r * std::sin(a), 0.0};
        int c0 = b.point(p);
        int c1 = b.point(tip ? Point3{0.0, 0.0, h} : Point3{p.x, p.y, h});
        rows += std::string(i ? "," : "") + "(" + b.ref(c0) + "," + b.ref(c1) + ")";
        std::string wi = i % 2 ? StepTextBuilder::num(w) : std::string("1.");
        weights += std::string(i ? "," : "") + "(" + wi + "," + wi + ")";
    }
    rows += ")";
    weights += ")";
    int surface = b.add("(BOUNDED_SURFACE()B_SPLINE_SURFACE(2,1," + rows +
                        ",.CYLINDRICAL_SURF.,.T.,.F.,.F.)B_SPLINE_SURFACE_WITH_KNOTS((3,2,2,2,3),(2,2),"
                        "(0.,0.25,0.5,0.75,1.),(0.,10.),.UNSPECIFIED.)GEOMETRIC_REPRESENTATION_ITEM()"
                        "RATIONAL_B_SPLINE_SURFACE(" +
                        weights + ")REPRESENTATION_ITEM('')SURFACE())");
    Point3 start{r * std::cos(loopAngle), r * std::sin(loopAngle), 0.0};
    Point3 ref{std::cos(loopAngle), std::sin(loopAngle), 0.0};
    int v0 = b.vertex(start);
    int v1 = b.vertex({start.x, start.y, h});
    int c0 = b.edge(v0, v0, b.circle(b.placement({0, 0, 0}, {0, 0, 1}, ref), r), true);
    if (tip) {
        // The top row of control points collapsed to the apex: a cone with a pole.
        int apex = b.vertex({0, 0, h});
        int line = b.lineEdge(v0, apex, start, {0, 0, h});
        b.faceOfEdges({b.oriented(c0, true), b.oriented(line, true), b.oriented(line, false)}, surface, true);
        b.faceOfEdges({b.oriented(c0, false)}, b.plane({0, 0, 0}, {0, 0, 1}, {1, 0, 0}), false);
        return b.text();
    }
    int c1 = b.edge(v1, v1, b.circle(b.placement({0, 0, h}, {0, 0, 1}, ref), r), true);
    if (seam) {
        int line = b.lineEdge(v0, v1, start, {start.x, start.y, h});
        b.faceOfEdges({b.oriented(c0, true), b.oriented(line, true), b.oriented(c1, false), b.oriented(line, false)},
                      surface, true);
    } else {
        int lower = b.bound(b.loop({b.oriented(c0, true)}), true, true);
        int upper = b.bound(b.loop({b.oriented(c1, false)}), false, true);
        b.face({lower, upper}, surface, true);
    }
    b.faceOfEdges({b.oriented(c0, false)}, b.plane({0, 0, 0}, {0, 0, 1}, {1, 0, 0}), false);
    b.faceOfEdges({b.oriented(c1, true)}, b.plane({0, 0, h}, {0, 0, 1}, {1, 0, 0}), true);
    return b.text();
}

struct TubeRun {
    bool ok = false;
    std::string error;
    Model model;
};

TubeRun meshTube(const std::string& text, double size, double minAngle = 20.0) {
    TubeRun r;
    StepFile file = parseStepFile(text);
    EXPECT_TRUE(file.ok) << file.error;
    ConformingOptions options;
    options.size = size;
    options.minAngleDeg = minAngle;
    r.ok = meshStepConforming(file, options, r.model, r.error);
    return r;
}

/// Everything a closed tube mesh must satisfy: closed and outward, no duplicate nodes, each
/// node on a cap or on the cylinder, the area of an inscribed shell, the angle bound.
void expectTube(const TubeRun& r, double radius, double height, double size, double minAngle) {
    ASSERT_TRUE(r.ok) << r.error;
    MeshFigures f = meshFigures(r.model, 1e-9 * size);
    EXPECT_GT(r.model.areas.size(), 0u);
    EXPECT_EQ(f.openEdges, 0);
    EXPECT_EQ(f.overusedEdges, 0);
    EXPECT_EQ(f.misorientedEdges, 0);
    EXPECT_EQ(f.duplicateNodes, 0);
    EXPECT_GT(f.volume, 0.0);
    double off = largestSurfaceDistance(
        r.model, {[](const Point3& p) { return p.z; }, [height](const Point3& p) { return p.z - height; },
                  [radius](const Point3& p) { return std::sqrt(p.x * p.x + p.y * p.y) - radius; }});
    EXPECT_LT(off, 1e-9 * radius);
    // Nodes strictly between the caps are on the side, so on the cylinder.
    int sideNodes = 0;
    for (const Node& n : r.model.nodes) {
        if (n.z > 1e-9 && n.z < height - 1e-9) {
            ++sideNodes;
            EXPECT_NEAR(std::sqrt(n.x * n.x + n.y * n.y), radius, 1e-9 * radius);
        }
    }
    EXPECT_GT(sideNodes, 0);
    double exact = 2 * kPi * radius * radius + 2 * kPi * radius * height;
    double tol = size / 20;
    EXPECT_LT(f.area, exact);
    EXPECT_GT(f.area, exact * (1 - 2 * tol / radius));
    double volume = kPi * radius * radius * height;
    EXPECT_NEAR(f.volume, volume, volume * 2 * tol / radius);
    EXPECT_GE(f.minAngleDeg, minAngle - 1e-6);
}

std::string modelText(const Model& m) {
    std::string path = makeScratchDir() + "/model.s3d";
    EXPECT_TRUE(writeModelFile(path, m));
    return readFile(path);
}

}  // namespace

TEST(StepClosedBspline, TubeWithSeamEdgeIsClosedOnTheSurfaceAndRepeatable) {
    const std::string text = tubeText(5, 10, 0.0, 0.0, true);
    TubeRun r = meshTube(text, 1.0);
    expectTube(r, 5, 10, 1.0, 20.0);
    // The seam line bounds nothing: none of its interior points became nodes off the mesh,
    // and the model is the same byte for byte on a second run.
    TubeRun again = meshTube(text, 1.0);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(modelText(r.model), modelText(again.model));
}

TEST(StepClosedBspline, TubeBoundedByTwoLoopsCrossingTheSurfaceSeam) {
    // The end circles start a third of a turn away from the surface's own seam, so both
    // loops cross u = uMin inside an edge.
    expectTube(meshTube(tubeText(5, 10, 0.0, 2 * kPi / 3, false), 1.0), 5, 10, 1.0, 20.0);
    // The surface's seam turned instead, with a seam edge, a finer size and a stricter angle.
    expectTube(meshTube(tubeText(5, 10, 1.0, 0.0, true), 0.6, 28.0), 5, 10, 0.6, 28.0);
}

TEST(StepClosedBspline, SlenderTubeMeetsTheSizeAlongItsLength) {
    // Long against its girth: the side's chart stretches u by the circumference, so the
    // triangles are as long as they are wide on the surface.
    TubeRun r = meshTube(tubeText(1, 20, 0.0, 0.0, true), 0.5);
    expectTube(r, 1, 20, 0.5, 20.0);
    double longest = 0.0;
    for (const Area& a : r.model.areas) {
        for (int k = 0; k < 3; ++k) {
            Point3 p = nodePoint(r.model, a.nodes[k]), q = nodePoint(r.model, a.nodes[(k + 1) % 3]);
            longest = std::max(longest, std::sqrt((p.x - q.x) * (p.x - q.x) + (p.y - q.y) * (p.y - q.y) +
                                                  (p.z - q.z) * (p.z - q.z)));
        }
    }
    EXPECT_LE(longest, 0.5 * (1 + 1e-9));
}

TEST(StepClosedBspline, ClosedSurfaceWithAPoleFailsNamingTheFace) {
    // A face that reaches a degenerate row of control points is not meshed: the job fails
    // at once with the face's instance number rather than producing a broken shell.
    TubeRun r = meshTube(tubeText(5, 10, 0.0, 0.0, true, true), 1.0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.find("face #"), 0u) << r.error;
    EXPECT_NE(r.error.find("cannot be meshed: it closes at a pole of its B-spline surface"), std::string::npos)
        << r.error;
}
