// Conforming meshes of faces on closed B-spline surfaces: a tube written as a rational
// B-spline cylinder closed in u (or in v), closed by planar caps, bounded by a seam edge or
// by its two end loops; a nose cone and a dome whose surfaces end at a pole.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
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
/// With `tip` the top row of control points is the apex (a cone ending at a pole).
/// With `closedInV` the surface's parameters are the other way round (v around the axis,
/// u up, closed in v); its normal u x v then points inward and the side's sense is false.
std::string tubeText(double r, double h, double seamAngle, double loopAngle, bool seam, bool tip = false,
                     bool closedInV = false) {
    StepPartBuilder b;
    // The nine control points of a circle: square corners carry the weight sqrt(2)/2.
    const double w = std::sqrt(0.5);
    std::vector<std::string> bottom, top, weight;
    for (int i = 0; i < 9; ++i) {
        double a = seamAngle + i * kPi / 4;
        double k = i % 2 ? std::sqrt(2.0) : 1.0;
        Point3 p{k * r * std::cos(a), k * r * std::sin(a), 0.0};
        bottom.push_back(b.ref(b.point(p)));
        top.push_back(b.ref(b.point(tip ? Point3{0.0, 0.0, h} : Point3{p.x, p.y, h})));
        weight.push_back(i % 2 ? StepTextBuilder::num(w) : std::string("1."));
    }
    std::string rows = "(", weights = "(";
    if (closedInV) {
        auto list = [](const std::vector<std::string>& items) {
            std::string out = "(";
            for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
            return out + ")";
        };
        rows += list(bottom) + "," + list(top) + ")";
        weights += list(weight) + "," + list(weight) + ")";
    } else {
        for (int i = 0; i < 9; ++i) {
            rows += std::string(i ? "," : "") + "(" + bottom[i] + "," + top[i] + ")";
            weights += std::string(i ? "," : "") + "(" + weight[i] + "," + weight[i] + ")";
        }
        rows += ")";
        weights += ")";
    }
    const std::string around = "(3,2,2,2,3),", aroundKnots = "(0.,0.25,0.5,0.75,1.),";
    std::string header = closedInV ? "B_SPLINE_SURFACE(1,2," + rows + ",.CYLINDRICAL_SURF.,.F.,.T.,.F.)"
                                   : "B_SPLINE_SURFACE(2,1," + rows + ",.CYLINDRICAL_SURF.,.T.,.F.,.F.)";
    std::string knots = closedInV ? "B_SPLINE_SURFACE_WITH_KNOTS((2,2)," + around + "(0.,10.)," + aroundKnots
                                  : "B_SPLINE_SURFACE_WITH_KNOTS(" + around + "(2,2)," + aroundKnots + "(0.,10.),";
    int surface = b.add("(BOUNDED_SURFACE()" + header + knots +
                        ".UNSPECIFIED.)GEOMETRIC_REPRESENTATION_ITEM()"
                        "RATIONAL_B_SPLINE_SURFACE(" +
                        weights + ")REPRESENTATION_ITEM('')SURFACE())");
    const bool sense = !closedInV;
    Point3 start{r * std::cos(loopAngle), r * std::sin(loopAngle), 0.0};
    Point3 ref{std::cos(loopAngle), std::sin(loopAngle), 0.0};
    int v0 = b.vertex(start);
    int v1 = b.vertex({start.x, start.y, h});
    int c0 = b.edge(v0, v0, b.circle(b.placement({0, 0, 0}, {0, 0, 1}, ref), r), true);
    if (tip) {
        // The top row of control points collapsed to the apex: a cone with a pole.
        int apex = b.vertex({0, 0, h});
        if (seam) {
            int line = b.lineEdge(v0, apex, start, {0, 0, h});
            b.faceOfEdges({b.oriented(c0, true), b.oriented(line, true), b.oriented(line, false)}, surface, sense);
        } else {
            b.faceOfEdges({b.oriented(c0, true)}, surface, sense);
        }
        b.faceOfEdges({b.oriented(c0, false)}, b.plane({0, 0, 0}, {0, 0, 1}, {1, 0, 0}), false);
        return b.text();
    }
    int c1 = b.edge(v1, v1, b.circle(b.placement({0, 0, h}, {0, 0, 1}, ref), r), true);
    if (seam) {
        int line = b.lineEdge(v0, v1, start, {start.x, start.y, h});
        b.faceOfEdges({b.oriented(c0, true), b.oriented(line, true), b.oriented(c1, false), b.oriented(line, false)},
                      surface, sense);
    } else {
        int lower = b.bound(b.loop({b.oriented(c0, true)}), true, true);
        int upper = b.bound(b.loop({b.oriented(c1, false)}), false, true);
        b.face({lower, upper}, surface, sense);
    }
    b.faceOfEdges({b.oriented(c0, false)}, b.plane({0, 0, 0}, {0, 0, 1}, {1, 0, 0}), false);
    b.faceOfEdges({b.oriented(c1, true)}, b.plane({0, 0, h}, {0, 0, 1}, {1, 0, 0}), true);
    return b.text();
}

/// A hemisphere of radius R on z = 0 written as a rational B-spline surface of revolution
/// closed in u (u around the z axis, v up a quarter circle from the equator to the pole,
/// whose row of control points is the one point (0, 0, R)), closed by a planar disc. With
/// `seam`, the dome is bounded by the equator and a meridian arc to the pole used both ways;
/// `reversed` flips the dome's sense flag (a face that no longer matches its loop).
std::string domeText(double R, bool seam, bool reversed = false) {
    StepPartBuilder b;
    const double w = std::sqrt(0.5);
    const double profileRho[3] = {R, R, 0.0}, profileZ[3] = {0.0, R, R}, profileW[3] = {1.0, w, 1.0};
    std::string rows = "(", weights = "(";
    for (int i = 0; i < 9; ++i) {
        double a = i * kPi / 4;
        double k = i % 2 ? std::sqrt(2.0) : 1.0;
        double wi = i % 2 ? w : 1.0;
        rows += std::string(i ? "," : "") + "(";
        weights += std::string(i ? "," : "") + "(";
        for (int j = 0; j < 3; ++j) {
            Point3 p{k * profileRho[j] * std::cos(a), k * profileRho[j] * std::sin(a), profileZ[j]};
            rows += std::string(j ? "," : "") + b.ref(b.point(p));
            weights += std::string(j ? "," : "") + StepTextBuilder::num(wi * profileW[j]);
        }
        rows += ")";
        weights += ")";
    }
    rows += ")";
    weights += ")";
    int surface = b.add("(BOUNDED_SURFACE()B_SPLINE_SURFACE(2,2," + rows +
                        ",.SURF_OF_REVOLUTION.,.T.,.F.,.F.)B_SPLINE_SURFACE_WITH_KNOTS((3,2,2,2,3),(3,3),"
                        "(0.,0.25,0.5,0.75,1.),(0.,1.),.UNSPECIFIED.)GEOMETRIC_REPRESENTATION_ITEM()"
                        "RATIONAL_B_SPLINE_SURFACE(" +
                        weights + ")REPRESENTATION_ITEM('')SURFACE())");
    int v0 = b.vertex({R, 0, 0});
    int c0 = b.edge(v0, v0, b.circle(b.placement({0, 0, 0}, {0, 0, 1}, {1, 0, 0}), R), true);
    if (seam) {
        int pole = b.vertex({0, 0, R});
        // A quarter of the circle in the x z plane, from the x axis up to the pole.
        int meridian = b.edge(v0, pole, b.circle(b.placement({0, 0, 0}, {0, -1, 0}, {1, 0, 0}), R), true);
        b.faceOfEdges({b.oriented(c0, true), b.oriented(meridian, true), b.oriented(meridian, false)}, surface,
                      true);
    } else {
        b.faceOfEdges({b.oriented(c0, true)}, surface, !reversed);
    }
    b.faceOfEdges({b.oriented(c0, false)}, b.plane({0, 0, 0}, {0, 0, 1}, {1, 0, 0}), false);
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

TEST(StepClosedBspline, TubeClosedInVIsChartedWithItsParametersSwapped) {
    // The same tube written the other way round: v runs around the axis, the surface's own
    // normal points inward and the side's sense flag turns it outward.
    const std::string text = tubeText(5, 10, 0.0, 0.0, true, false, true);
    TubeRun r = meshTube(text, 1.0);
    expectTube(r, 5, 10, 1.0, 20.0);
    TubeRun again = meshTube(text, 1.0);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(modelText(r.model), modelText(again.model));
    // Two end loops crossing the surface's seam, a turned seam at 28 degrees.
    expectTube(meshTube(tubeText(5, 10, 0.0, 2 * kPi / 3, false, false, true), 1.0), 5, 10, 1.0, 20.0);
    expectTube(meshTube(tubeText(5, 10, 1.0, 0.0, true, false, true), 0.6, 28.0), 5, 10, 0.6, 28.0);
}

/// A closed part of a cone or dome on a planar disc at z = 0: closed and outward, no
/// duplicate nodes, every node on the disc or on `side` (a signed distance), the area of an
/// inscribed shell within the chordal error, the angle bound everywhere.
void expectPoleShell(const TubeRun& r, const std::function<double(const Point3&)>& side, double radius,
                     double exactArea, double exactVolume, double size, double minAngle) {
    ASSERT_TRUE(r.ok) << r.error;
    MeshFigures f = meshFigures(r.model, 1e-9 * size);
    EXPECT_EQ(f.openEdges, 0);
    EXPECT_EQ(f.overusedEdges, 0);
    EXPECT_EQ(f.misorientedEdges, 0);
    EXPECT_EQ(f.duplicateNodes, 0);
    EXPECT_LT(largestSurfaceDistance(r.model, {[](const Point3& p) { return p.z; }, side}), 1e-9 * radius);
    int above = 0;
    for (const Node& n : r.model.nodes) {
        if (n.z > 1e-9) {
            ++above;
            EXPECT_LT(std::fabs(side({n.x, n.y, n.z})), 1e-9 * radius);
        }
    }
    EXPECT_GT(above, 10);
    double tol = size / 20;
    EXPECT_LT(f.area, exactArea);
    EXPECT_GT(f.area, exactArea * (1 - 2 * tol / radius));
    EXPECT_NEAR(f.volume, exactVolume, exactVolume * 3 * tol / radius);
    EXPECT_GE(f.minAngleDeg, minAngle - 1e-6);
}

TEST(StepClosedBspline, NoseConeEndingAtAPoleIsClosedOnTheSurface) {
    // A cone of radius 5 and height 10 whose B-spline side has its top row at the apex; the
    // face is one loop with a seam line to the apex (and without one, and closed in v).
    const double r = 5, h = 10, slant = std::sqrt(r * r + h * h);
    auto cone = [&](const Point3& p) { return (std::sqrt(p.x * p.x + p.y * p.y) - r * (1 - p.z / h)) * h / slant; };
    const double area = kPi * r * r + kPi * r * slant, volume = kPi * r * r * h / 3;
    const std::string text = tubeText(r, h, 0.0, 0.0, true, true);
    SCOPED_TRACE("seam line, closed in u");
    TubeRun first = meshTube(text, 1.0);
    expectPoleShell(first, cone, r, area, volume, 1.0, 20.0);
    // One node at the apex, shared by the triangles around it.
    int apexNodes = 0;
    for (const Node& n : first.model.nodes) apexNodes += std::fabs(n.z - h) < 1e-9 ? 1 : 0;
    EXPECT_EQ(apexNodes, 1);
    TubeRun again = meshTube(text, 1.0);
    ASSERT_TRUE(again.ok) << again.error;
    EXPECT_EQ(modelText(first.model), modelText(again.model));
    {
        SCOPED_TRACE("no seam line");
        expectPoleShell(meshTube(tubeText(r, h, 0.0, 0.0, false, true), 1.0), cone, r, area, volume, 1.0, 20.0);
    }
    SCOPED_TRACE("closed in v, turned, at 25 degrees");
    expectPoleShell(meshTube(tubeText(r, h, 0.5, 1.0, true, true, true), 0.7, 25.0), cone, r, area, volume, 0.7,
                    25.0);
}

TEST(StepClosedBspline, DomeWithAPoleIsClosedOnTheSphere) {
    // A hemisphere of radius 5: the pole is smooth, so the face is charted as a whole disc
    // about it, with or without a meridian seam.
    const double R = 5;
    auto sphere = [R](const Point3& p) { return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z) - R; };
    const double area = 3 * kPi * R * R, volume = 2 * kPi * R * R * R / 3;
    for (bool seam : {true, false}) {
        SCOPED_TRACE(seam ? "meridian seam" : "no seam");
        const std::string text = domeText(R, seam);
        TubeRun r = meshTube(text, 1.0);
        expectPoleShell(r, sphere, R, area, volume, 1.0, 20.0);
        TubeRun again = meshTube(text, 1.0);
        ASSERT_TRUE(again.ok) << again.error;
        EXPECT_EQ(modelText(r.model), modelText(again.model));
    }
    expectPoleShell(meshTube(domeText(R, true), 0.5, 28.0), sphere, R, area, volume, 0.5, 28.0);
}

TEST(StepClosedBspline, OneLoopAroundASurfaceEndWithoutAPoleFailsNamingTheFace) {
    // The dome's sense flag reversed: its loop now puts the face below the equator, towards
    // the surface's v = vMin end, which is a circle and not a pole.
    TubeRun r = meshTube(domeText(5, false, true), 1.0);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.find("face #"), 0u) << r.error;
    EXPECT_NE(r.error.find("cannot be meshed: it winds once around its closed B-spline surface, whose end on the "
                           "face's side (v = min) is not a pole"),
              std::string::npos)
        << r.error;
}


TEST(StepClosedBspline, ConeSectorsAtManySizesFoldNoTriangleAtThePole) {
    // The two sides of the cut to the apex are one line on the surface: at every size the
    // triangles around the apex must stay distinct (a fan of two half turns would be one
    // triangle twice). A slender cone (a sector of a fifth of a turn) too: its apex is a
    // corner that a fan of three triangles splits into angles of 23.5 degrees in the chart
    // and 19.6 on the surface, so a bound above those is halved there, as at a sharp corner.
    for (double r : {5.0, 2.0}) {
        const double h = 10, slant = std::sqrt(r * r + h * h);
        const double k = r / slant;
        const double third = std::acos(1.0 - 1.5 * k * k) * 180.0 / kPi;
        auto cone = [&](const Point3& p) { return (std::sqrt(p.x * p.x + p.y * p.y) - r * (1 - p.z / h)) * h / slant; };
        const double area = kPi * r * r + kPi * r * slant, volume = kPi * r * r * h / 3;
        for (bool closedInV : {false, true}) {
            for (double size : {1.0, 0.7, 0.45}) {
                for (double angle : {20.0, 25.0}) {
                    SCOPED_TRACE("r " + std::to_string(r) + (closedInV ? ", closed in v" : ", closed in u") + ", size " +
                                 std::to_string(size) + ", angle " + std::to_string(angle));
                    double bound = angle;
                    if (angle > 120.0 * k) bound = std::min(bound, 60.0 * k);
                    if (angle > third) bound = std::min(bound, 0.5 * third);
                    expectPoleShell(meshTube(tubeText(r, h, 0.5, 1.0, true, true, closedInV), size, angle), cone, r,
                                    area, volume, size, bound);
                }
            }
        }
    }
}
