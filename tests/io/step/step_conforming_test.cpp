// Conforming meshes of whole STEP parts: closure, shared nodes, area against the analytic
// area, outward orientation, nodes on their surfaces, angles, units and messages.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "io/step/conforming_checks.hpp"
#include "io/step/mesh_step_op.hpp"
#include "io/step/step_conforming.hpp"
#include "io/step/step_part_builder.hpp"
#include "job/handlers.hpp"
#include "json/json.hpp"
#include "model/model_writer.hpp"
#include "support/cli_runner.hpp"

namespace {

const double kPi = 3.141592653589793;

struct Meshed {
    bool ok = false;
    std::string error;
    Model model;
};

Meshed meshPart(const std::string& text, double size, double minAngle = 20.0, double scale = 1.0,
                double chordTolerance = 0.0) {
    Meshed r;
    StepFile file = parseStepFile(text);
    EXPECT_TRUE(file.ok) << file.error;
    ConformingOptions options;
    options.size = size;
    options.chordTolerance = chordTolerance;
    options.minAngleDeg = minAngle;
    options.scale = scale;
    r.ok = meshStepConforming(file, options, r.model, r.error);
    return r;
}

/// Closed, consistently oriented, no duplicate nodes, outward.
void expectClosedShell(const Model& m, double size, const MeshFigures& f) {
    EXPECT_GT(m.areas.size(), 0u);
    EXPECT_EQ(f.openEdges, 0);
    EXPECT_EQ(f.overusedEdges, 0);
    EXPECT_EQ(f.misorientedEdges, 0);
    EXPECT_EQ(f.duplicateNodes, 0) << "duplicate distance " << 1e-9 * size;
    EXPECT_GT(f.volume, 0.0);
}

double planeZ(const Point3& p, double z) { return p.z - z; }
double cylinderR(const Point3& p, double cx, double cy, double r) { return std::hypot(p.x - cx, p.y - cy) - r; }

std::string modelText(const Model& m) {
    std::string path = makeScratchDir() + "/model.s3d";
    EXPECT_TRUE(writeModelFile(path, m));
    return readFile(path);
}

}  // namespace

TEST(StepConforming, BoxWithSurfaceCurveEdgesIsClosedAndExact) {
    StepPartBuilder b;
    b.surfaceCurveLines = true;
    b.extrude(rectangleProfile(0, 0, 10, 6), {}, 4);
    Meshed r = meshPart(b.text(), 1.0);
    ASSERT_TRUE(r.ok) << r.error;
    MeshFigures f = meshFigures(r.model, 1e-9);
    expectClosedShell(r.model, 1.0, f);
    EXPECT_NEAR(f.area, 248.0, 1e-9);
    EXPECT_NEAR(f.volume, 240.0, 1e-9);
    EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
    // Every node lies on one of the six planes.
    double off = largestSurfaceDistance(
        r.model, {[](const Point3& p) { return p.x; }, [](const Point3& p) { return p.x - 10; },
                  [](const Point3& p) { return p.y; }, [](const Point3& p) { return p.y - 6; },
                  [](const Point3& p) { return p.z; }, [](const Point3& p) { return p.z - 4; }});
    EXPECT_LT(off, 1e-12);
    // The eight corners appear once each.
    int corners = 0;
    for (const Node& n : r.model.nodes) {
        bool cx = n.x == 0.0 || n.x == 10.0, cy = n.y == 0.0 || n.y == 6.0, cz = n.z == 0.0 || n.z == 4.0;
        if (cx && cy && cz) ++corners;
    }
    EXPECT_EQ(corners, 8);
}

TEST(StepConforming, CylinderWithCapsAndSeam) {
    StepPartBuilder b;
    b.extrude(circleProfile(0, 0, 5, true), {}, 10);
    const double size = 1.0, tol = size / 20;
    Meshed r = meshPart(b.text(), size);
    ASSERT_TRUE(r.ok) << r.error;
    MeshFigures f = meshFigures(r.model, 1e-9 * size);
    expectClosedShell(r.model, size, f);
    double exact = 2 * kPi * 25 + 2 * kPi * 5 * 10;
    // Chords lie inside the circle by at most the tolerance: the inscribed shell's area is
    // smaller, by no more than the tolerance's share of the radius (twice, caps and side).
    EXPECT_LT(f.area, exact);
    EXPECT_GT(f.area, exact * (1 - 2 * tol / 5));
    EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
    double off = largestSurfaceDistance(r.model, {[](const Point3& p) { return planeZ(p, 0); },
                                                  [](const Point3& p) { return planeZ(p, 10); },
                                                  [](const Point3& p) { return cylinderR(p, 0, 0, 5); }});
    EXPECT_LT(off, 1e-12);
    // Every node of the curved side lies on the cylinder, not merely on a chord.
    for (const Node& n : r.model.nodes) {
        if (n.z > 1e-9 && n.z < 10 - 1e-9) {
            EXPECT_NEAR(std::hypot(n.x, n.y), 5.0, 1e-12);
        }
    }
}

TEST(StepConforming, PlateWithRoundAndSlottedHoles) {
    StepPartBuilder b;
    b.extrude(rectangleProfile(0, 0, 40, 20), {circleProfile(10, 10, 4, false), slotHole(22, 32, 10, 3)}, 5);
    const double size = 1.5, tol = size / 20;
    Meshed r = meshPart(b.text(), size);
    ASSERT_TRUE(r.ok) << r.error;
    MeshFigures f = meshFigures(r.model, 1e-9 * size);
    expectClosedShell(r.model, size, f);
    double face = 800 - kPi * 16 - (60 + kPi * 9);
    double walls = 120 * 5 + 2 * kPi * 4 * 5 + (20 + 2 * kPi * 3) * 5;
    double exact = 2 * face + walls;
    // Curved walls and hole outlines move by at most the tolerance along their length.
    double curvedLength = 2 * kPi * 4 + 2 * kPi * 3;
    EXPECT_NEAR(f.area, exact, (2 + 5) * curvedLength * tol);
    EXPECT_NEAR(f.volume, face * 5, 5 * curvedLength * tol);
    EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
    double off = largestSurfaceDistance(
        r.model, {[](const Point3& p) { return p.x; }, [](const Point3& p) { return p.x - 40; },
                  [](const Point3& p) { return p.y; }, [](const Point3& p) { return p.y - 20; },
                  [](const Point3& p) { return p.z; }, [](const Point3& p) { return p.z - 5; },
                  [](const Point3& p) { return cylinderR(p, 10, 10, 4); },
                  [](const Point3& p) { return cylinderR(p, 22, 10, 3); },
                  [](const Point3& p) { return cylinderR(p, 32, 10, 3); },
                  [](const Point3& p) { return p.y - 13; }, [](const Point3& p) { return p.y - 7; }});
    EXPECT_LT(off, 1e-12);
}

TEST(StepConforming, FlangeWithBoltCircle) {
    std::vector<Profile> holes = {circleProfile(0, 0, 10, false)};
    for (int k = 0; k < 6; ++k) {
        double a = k * kPi / 3;
        holes.push_back(circleProfile(20 * std::cos(a), 20 * std::sin(a), 2.5, false));
    }
    StepPartBuilder b;
    b.extrude(circleProfile(0, 0, 30, true), holes, 6);
    const double size = 2.0, tol = size / 20;
    Meshed r = meshPart(b.text(), size);
    ASSERT_TRUE(r.ok) << r.error;
    MeshFigures f = meshFigures(r.model, 1e-9 * size);
    expectClosedShell(r.model, size, f);
    double face = kPi * (900 - 100 - 6 * 6.25);
    double exact = 2 * face + 2 * kPi * (30 + 10 + 6 * 2.5) * 6;
    double curvedLength = 2 * kPi * (30 + 10 + 6 * 2.5);
    EXPECT_NEAR(f.area, exact, (2 + 6) * curvedLength * tol);
    EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
}

TEST(StepConforming, ConeClosedAtItsApex) {
    StepPartBuilder b;
    b.coneToApex(5, 8);
    const double size = 0.8, tol = size / 20;
    Meshed r = meshPart(b.text(), size);
    ASSERT_TRUE(r.ok) << r.error;
    MeshFigures f = meshFigures(r.model, 1e-9 * size);
    expectClosedShell(r.model, size, f);
    double slant = std::sqrt(25.0 + 64.0);
    double exact = kPi * 25 + kPi * 5 * slant;
    EXPECT_NEAR(f.area, exact, (1 + slant) * 2 * kPi * 5 * tol / 5 * 2);
    EXPECT_NEAR(f.volume, kPi * 25 * 8 / 3, kPi * 25 * 8 / 3 * 4 * tol / 5);
    // One node at the apex; every node on the cone or the base.
    int apex = 0;
    for (const Node& n : r.model.nodes) {
        if (std::fabs(n.z - 8) < 1e-9 && std::hypot(n.x, n.y) < 1e-9) ++apex;
        if (n.z > 1e-12) {
            EXPECT_NEAR(std::hypot(n.x, n.y), 5.0 * (8 - n.z) / 8, 1e-9);
        }
    }
    EXPECT_EQ(apex, 1);
    EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
}

TEST(StepConforming, SphereAsSeamFaceAndAsHemispheres) {
    const double size = 0.8, tol = size / 20;
    for (int variant = 0; variant < 2; ++variant) {
        StepPartBuilder b;
        if (variant == 0) {
            b.seamSphere({1, 2, 3}, 5);
        } else {
            b.twoHemispheres({1, 2, 3}, 5);
        }
        Meshed r = meshPart(b.text(), size);
        ASSERT_TRUE(r.ok) << r.error;
        MeshFigures f = meshFigures(r.model, 1e-9 * size);
        expectClosedShell(r.model, size, f);
        double exact = 4 * kPi * 25;
        EXPECT_LT(f.area, exact);
        EXPECT_GT(f.area, exact * (1 - 2 * tol / 5));
        double off = largestSurfaceDistance(
            r.model, {[](const Point3& p) { return std::sqrt((p.x - 1) * (p.x - 1) + (p.y - 2) * (p.y - 2) + (p.z - 3) * (p.z - 3)) - 5; }});
        EXPECT_LT(off, 1e-12);
        EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
    }
}

TEST(StepConforming, WholeTorusAndFilletedPuck) {
    const double size = 0.8, tol = size / 20;
    {
        StepPartBuilder b;
        b.wholeTorus(8, 2);
        Meshed r = meshPart(b.text(), size);
        ASSERT_TRUE(r.ok) << r.error;
        MeshFigures f = meshFigures(r.model, 1e-9 * size);
        expectClosedShell(r.model, size, f);
        double exact = 4 * kPi * kPi * 8 * 2;
        EXPECT_LT(f.area, exact);
        EXPECT_GT(f.area, exact * (1 - 2 * tol / 2));
        double off = largestSurfaceDistance(r.model, {[](const Point3& p) {
                                                return std::hypot(std::hypot(p.x, p.y) - 8, p.z) - 2;
                                            }});
        EXPECT_LT(off, 1e-12);
        EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
    }
    {
        StepPartBuilder b;
        b.filletedPuck(10, 6, 2);
        Meshed r = meshPart(b.text(), size);
        ASSERT_TRUE(r.ok) << r.error;
        MeshFigures f = meshFigures(r.model, 1e-9 * size);
        expectClosedShell(r.model, size, f);
        // Discs, side and the quarter tube of the fillet (tube angles 0 to 90 degrees).
        double fillet = 2 * kPi * 2 * (8 * kPi / 2 + 2);
        double exact = kPi * 100 + 2 * kPi * 10 * 4 + fillet + kPi * 64;
        EXPECT_LT(f.area, exact);
        EXPECT_GT(f.area, exact * (1 - 2 * tol / 2));
        double off = largestSurfaceDistance(
            r.model, {[](const Point3& p) { return planeZ(p, 0); }, [](const Point3& p) { return planeZ(p, 6); },
                      [](const Point3& p) { return cylinderR(p, 0, 0, 10); },
                      [](const Point3& p) { return std::hypot(std::hypot(p.x, p.y) - 8, p.z - 4) - 2; }});
        EXPECT_LT(off, 1e-12);
        EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
    }
}

TEST(StepConforming, BoxWithCylindricalFillets) {
    StepPartBuilder b;
    b.extrude(roundedRectangle(0, 0, 30, 20, 4), {}, 5);
    const double size = 1.0, tol = size / 20;
    Meshed r = meshPart(b.text(), size);
    ASSERT_TRUE(r.ok) << r.error;
    MeshFigures f = meshFigures(r.model, 1e-9 * size);
    expectClosedShell(r.model, size, f);
    double face = 600 - (4 - kPi) * 16;
    double exact = 2 * face + (2 * (22 + 12) + 2 * kPi * 4) * 5;
    EXPECT_NEAR(f.area, exact, 7 * 2 * kPi * 4 * tol);
    EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
}

namespace {

/// A biquadratic patch over a 3 x 3 control net, bounded by the four B-spline curves of
/// its border rows, as one face.
std::string bsplinePatchText(const Point3 (&net)[3][3]) {
    StepPartBuilder b;
    int cp[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) cp[i][j] = b.point(net[i][j]);
    std::string rows = "(";
    for (int i = 0; i < 3; ++i) {
        rows += std::string(i ? "," : "") + "(" + b.ref(cp[i][0]) + "," + b.ref(cp[i][1]) + "," + b.ref(cp[i][2]) + ")";
    }
    rows += ")";
    int surface = b.add("B_SPLINE_SURFACE_WITH_KNOTS('',2,2," + rows +
                        ",.UNSPECIFIED.,.F.,.F.,.F.,(3,3),(3,3),(0.,1.),(0.,1.),.UNSPECIFIED.)");
    auto curve = [&](int a, int m, int c) {
        return b.add("B_SPLINE_CURVE_WITH_KNOTS('',2,(" + b.ref(a) + "," + b.ref(m) + "," + b.ref(c) +
                     "),.UNSPECIFIED.,.F.,.F.,(3,3),(0.,1.),.UNSPECIFIED.)");
    };
    int v00 = b.vertex(net[0][0]), v10 = b.vertex(net[2][0]), v11 = b.vertex(net[2][2]), v01 = b.vertex(net[0][2]);
    int e0 = b.edge(v00, v10, curve(cp[0][0], cp[1][0], cp[2][0]));
    int e1 = b.edge(v10, v11, curve(cp[2][0], cp[2][1], cp[2][2]));
    int e2 = b.edge(v01, v11, curve(cp[0][2], cp[1][2], cp[2][2]));
    int e3 = b.edge(v00, v01, curve(cp[0][0], cp[0][1], cp[0][2]));
    b.faceOfEdges({b.oriented(e0), b.oriented(e1), b.oriented(e2, false), b.oriented(e3, false)}, surface);
    return b.text();
}

double bernstein2(int i, double t) { return i == 0 ? (1 - t) * (1 - t) : i == 1 ? 2 * t * (1 - t) : t * t; }

Point3 patchPoint(const Point3 (&net)[3][3], double u, double v) {
    Point3 p{0, 0, 0};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double w = bernstein2(i, u) * bernstein2(j, v);
            p = {p.x + w * net[i][j].x, p.y + w * net[i][j].y, p.z + w * net[i][j].z};
        }
    return p;
}

/// The smallest angle of the triangles with no corner at one of the patch's four corners
/// (whose angles on the surface the input fixes).
double minAngleAwayFromCorners(const Model& m, const Point3 (&net)[3][3]) {
    const Point3 corners[4] = {net[0][0], net[2][0], net[2][2], net[0][2]};
    double worst = 180.0;
    for (const Area& a : m.areas) {
        bool atCorner = false;
        for (int32_t id : a.nodes) {
            Point3 p = nodePoint(m, id);
            for (const Point3& c : corners) {
                if (std::fabs(p.x - c.x) + std::fabs(p.y - c.y) + std::fabs(p.z - c.z) < 1e-12) atCorner = true;
            }
        }
        if (atCorner) continue;
        Model one;
        one.nodes = m.nodes;
        one.areas = {a};
        worst = std::min(worst, meshFigures(one, 0.0).minAngleDeg);
    }
    return worst;
}

}  // namespace

TEST(StepConforming, BsplinePatchBoundedByBsplineCurves) {
    // x and y are linear in (u, v) over [0, 10]^2; z is the tensor-product Bernstein form of
    // the heights, so the patch bulges and its chart does not keep angles.
    const double h[3][3] = {{0, 1, 0}, {1, 3, 1}, {0, 1, 2}};
    Point3 net[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) net[i][j] = {5.0 * i, 5.0 * j, h[i][j]};
    const double size = 0.8;
    Meshed r = meshPart(bsplinePatchText(net), size);
    ASSERT_TRUE(r.ok) << r.error;
    MeshFigures f = meshFigures(r.model, 1e-9 * size);
    EXPECT_EQ(f.overusedEdges, 0);
    EXPECT_EQ(f.misorientedEdges, 0);
    EXPECT_EQ(f.duplicateNodes, 0);
    double worst = 0.0;
    for (const Node& n : r.model.nodes) {
        double u = n.x / 10, v = n.y / 10, z = 0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) z += bernstein2(i, u) * bernstein2(j, v) * h[i][j];
        worst = std::max(worst, std::fabs(z - n.z));
    }
    EXPECT_LT(worst, 1e-9);
    // The normals point up (u x v) and the boundary is the square's outline.
    for (const Area& a : r.model.areas) {
        Point3 p = nodePoint(r.model, a.nodes[0]), q = nodePoint(r.model, a.nodes[1]), s = nodePoint(r.model, a.nodes[2]);
        EXPECT_GT((q.x - p.x) * (s.y - p.y) - (q.y - p.y) * (s.x - p.x), 0.0);
    }
    EXPECT_GT(f.area, 100.0);
    // The corners of this patch are all above 20 degrees on the surface, so the bound holds
    // everywhere.
    EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
    // And at a stricter bound.
    Meshed strict = meshPart(bsplinePatchText(net), size, 28.0);
    ASSERT_TRUE(strict.ok) << strict.error;
    EXPECT_GE(meshFigures(strict.model, 1e-9 * size).minAngleDeg, 28.0 - 1e-6);
}

TEST(StepConforming, StronglyDistortedBsplinePatchMeetsTheAngleOnTheSurface) {
    // Control columns at x = 0, 1, 10 and rows at y = 0, 8, 10: dx/du runs from 2 to 18 and
    // dy/dv from 16 to 4, so the scaled parameters stretch triangles by up to a factor of
    // about 30 between the patch's corners; the middle is lifted and sheared.
    const double xs[3] = {0.0, 1.0, 10.0};
    const double ys[3] = {0.0, 8.0, 10.0};
    Point3 net[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) net[i][j] = {xs[i] + 0.5 * ys[j], ys[j], i == 1 && j == 1 ? 4.0 : 0.5 * i};
    const double size = 0.7;
    std::string text = bsplinePatchText(net);
    Meshed r = meshPart(text, size);
    ASSERT_TRUE(r.ok) << r.error;
    MeshFigures f = meshFigures(r.model, 1e-9 * size);
    EXPECT_EQ(f.overusedEdges, 0);
    EXPECT_EQ(f.misorientedEdges, 0);
    EXPECT_EQ(f.duplicateNodes, 0);
    EXPECT_GE(minAngleAwayFromCorners(r.model, net), 20.0 - 1e-6);
    // Every node on the patch: its (u, v) found by Newton steps on x and y from the centre.
    double worst = 0.0;
    for (const Node& n : r.model.nodes) {
        double u = 0.5, v = 0.5;
        for (int it = 0; it < 60; ++it) {
            const double e = 1e-7;
            Point3 p = patchPoint(net, u, v), pu = patchPoint(net, u + e, v), pv = patchPoint(net, u, v + e);
            double a = (pu.x - p.x) / e, b = (pv.x - p.x) / e, c = (pu.y - p.y) / e, d = (pv.y - p.y) / e;
            double rx = n.x - p.x, ry = n.y - p.y, det = a * d - b * c;
            u = std::min(1.0, std::max(0.0, u + (d * rx - b * ry) / det));
            v = std::min(1.0, std::max(0.0, v + (a * ry - c * rx) / det));
        }
        Point3 p = patchPoint(net, u, v);
        worst = std::max(worst, std::fabs(p.x - n.x) + std::fabs(p.y - n.y) + std::fabs(p.z - n.z));
    }
    EXPECT_LT(worst, 1e-7);
    // The triangles cover the patch: their area is the surface area within a few percent
    // (a fine quadrature of |S_u x S_v|).
    double area = 0.0;
    const int n = 400;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double u = (i + 0.5) / n, v = (j + 0.5) / n, e = 1e-6;
            Point3 p = patchPoint(net, u, v), pu = patchPoint(net, u + e, v), pv = patchPoint(net, u, v + e);
            Point3 su{(pu.x - p.x) / e, (pu.y - p.y) / e, (pu.z - p.z) / e};
            Point3 sv{(pv.x - p.x) / e, (pv.y - p.y) / e, (pv.z - p.z) / e};
            Point3 c{su.y * sv.z - su.z * sv.y, su.z * sv.x - su.x * sv.z, su.x * sv.y - su.y * sv.x};
            area += std::sqrt(c.x * c.x + c.y * c.y + c.z * c.z) / (n * n);
        }
    EXPECT_NEAR(f.area, area, 0.02 * area);
    // Reproducible byte for byte.
    Meshed again = meshPart(text, size);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(modelText(r.model), modelText(again.model));
}

TEST(StepConforming, TwistedBsplinePatchThatCannotBeMetFailsNamingTheFace) {
    // Rows sheared across each other and the middle lifted high: the chart cannot keep the
    // surface's angles, and the face fails with its name in bounded time.
    const double xs[3] = {0.0, 1.0, 10.0};
    const double ys[3] = {0.0, 8.0, 10.0};
    Point3 net[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            net[i][j] = {xs[i] * (1 + 0.4 * j), ys[j] + 3.0 * i * (2 - j), i == 1 && j == 1 ? 7.0 : (i == 2 && j == 2 ? 5.0 : 0.0)};
    Meshed r = meshPart(bsplinePatchText(net), 0.7);
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.error.rfind("face #", 0), 0u) << r.error;
    EXPECT_NE(r.error.find(" cannot be meshed: "), std::string::npos) << r.error;
    EXPECT_TRUE(r.model.nodes.empty());
}

TEST(StepConforming, SameResultTwiceByteForByte) {
    StepPartBuilder b;
    b.filletedPuck(10, 6, 2);
    Meshed first = meshPart(b.text(), 0.9);
    Meshed second = meshPart(b.text(), 0.9);
    ASSERT_TRUE(first.ok && second.ok);
    EXPECT_EQ(modelText(first.model), modelText(second.model));
}

TEST(StepConforming, InchPartInMillimetresScalesTheSameMesh) {
    StepPartBuilder b;
    b.declareUnits("inch");
    b.extrude(rectangleProfile(0, 0, 4, 2), {circleProfile(1, 1, 0.4, false)}, 0.5);
    Meshed inch = meshPart(b.text(), 0.2, 20.0, 1.0);
    Meshed mm = meshPart(b.text(), 0.2 * 25.4, 20.0, 25.4);
    ASSERT_TRUE(inch.ok && mm.ok) << inch.error << mm.error;
    ASSERT_EQ(inch.model.nodes.size(), mm.model.nodes.size());
    for (size_t i = 0; i < inch.model.nodes.size(); ++i) {
        EXPECT_EQ(mm.model.nodes[i].x, inch.model.nodes[i].x * 25.4);
        EXPECT_EQ(mm.model.nodes[i].z, inch.model.nodes[i].z * 25.4);
    }
    MeshFigures f = meshFigures(mm.model, 1e-9);
    expectClosedShell(mm.model, 0.2 * 25.4, f);
}

TEST(StepConforming, UnsupportedFaceIsNamed) {
    StepPartBuilder b;
    int v = b.vertex({1, 0, 0});
    int c = b.edge(v, v, b.circleAt({0, 0, 0}, 1));
    int profile = b.add("LINE(''," + b.ref(b.point({1, 0, 0})) + "," + b.ref(b.add("VECTOR(''," + b.ref(b.direction({0, 0, 1})) + ",1.)")) + ")");
    int revolved = b.add("SURFACE_OF_REVOLUTION(''," + b.ref(profile) + "," + b.ref(b.add("AXIS1_PLACEMENT(''," +
                         b.ref(b.point({0, 0, 0})) + "," + b.ref(b.direction({0, 0, 1})) + ")")) + ")");
    int face = b.faceOfEdges({b.oriented(c)}, revolved);
    Meshed r = meshPart(b.text(), 0.5);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "face #" + std::to_string(face) +
                           " cannot be meshed: its surface SURFACE_OF_REVOLUTION is not supported");
}

TEST(StepConforming, TinySizeIsRefusedBeforeMeshing) {
    StepPartBuilder b;
    b.extrude(rectangleProfile(0, 0, 10, 6), {}, 4);
    Meshed r = meshPart(b.text(), 1e-4);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.rfind("'size' must be at least 1/10000 of the part's bounding-box diagonal", 0), 0u) << r.error;
}

TEST(StepConforming, TinyChordToleranceIsRefusedBeforeMeshing) {
    // A plate with a round hole of radius 1: a chord tolerance of 1e-10 would put some
    // 220,000 points on the hole's circle. Just above the floor (about 2,000 points) it meshes.
    StepPartBuilder b;
    const double diagonal = std::sqrt(10.0 * 10.0 + 6.0 * 6.0 + 4.0 * 4.0);
    b.extrude(rectangleProfile(0, 0, 10, 6), {circleProfile(5, 3, 1, false)}, 4);
    Meshed r = meshPart(b.text(), 2.0, 20.0, 1.0, 1e-10);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.rfind("'chord_tolerance' must be at least 1/10000000 of the part's bounding-box diagonal", 0), 0u)
        << r.error;
    Meshed fine = meshPart(b.text(), 2.0, 20.0, 1.0, diagonal * 1.01e-7);
    EXPECT_TRUE(fine.ok) << fine.error;
}

TEST(StepConforming, FaceBoundaryPointsAreBounded) {
    // A plate with a round hole: at size 0.2 the top and bottom faces have about 190
    // boundary points each (160 around the plate, 32 around the hole). With a bound of 100
    // per face the job fails naming a face and the count; the default bound meshes it.
    StepPartBuilder b;
    b.extrude(rectangleProfile(0, 0, 10, 6), {circleProfile(5, 3, 1, false)}, 4);
    StepFile file = parseStepFile(b.text());
    ASSERT_TRUE(file.ok) << file.error;
    ConformingOptions options;
    options.size = 0.2;
    options.maxFaceBoundaryPoints = 100;
    Model model;
    std::string error;
    EXPECT_FALSE(meshStepConforming(file, options, model, error));
    EXPECT_EQ(error.rfind("face #", 0), 0u) << error;
    EXPECT_NE(error.find("cannot be meshed: its boundary needs "), std::string::npos) << error;
    EXPECT_NE(error.find(" points, more than 100 (raise 'size' or 'chord_tolerance')"), std::string::npos) << error;
    options.maxFaceBoundaryPoints = kMaxFaceBoundaryPoints;
    Model whole;
    EXPECT_TRUE(meshStepConforming(file, options, whole, error)) << error;
    // The edge point bound, lowered the same way: about 350 points over all edges.
    options.maxEdgePoints = 200;
    Model cut;
    EXPECT_FALSE(meshStepConforming(file, options, cut, error));
    EXPECT_EQ(error, "the edges need more than 200 points at this 'size' and 'chord_tolerance'");
}

TEST(StepConforming, BrokenLoopsAreNamedNotMeshed) {
    // Two faces of a square whose second loop misses its closing edge, and a degenerate line.
    StepPartBuilder b;
    int v0 = b.vertex({0, 0, 0}), v1 = b.vertex({1, 0, 0}), v2 = b.vertex({1, 1, 0});
    int e0 = b.lineEdge(v0, v1, {0, 0, 0}, {1, 0, 0});
    int e1 = b.lineEdge(v1, v2, {1, 0, 0}, {1, 1, 0});
    int plane = b.plane({0, 0, 0}, {0, 0, 1}, {1, 0, 0});
    int open = b.faceOfEdges({b.oriented(e0), b.oriented(e1)}, plane);
    Meshed r = meshPart(b.text(), 0.2);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "face #" + std::to_string(open) + " cannot be meshed: one of its loops does not close");

    StepPartBuilder c;
    int w = c.vertex({0, 0, 0});
    int degenerate = c.lineEdge(w, w, {0, 0, 0}, {0, 0, 0});
    int f = c.faceOfEdges({c.oriented(degenerate)}, c.plane({0, 0, 0}, {0, 0, 1}, {1, 0, 0}));
    r = meshPart(c.text(), 0.2);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "face #" + std::to_string(f) + " cannot be meshed: edge #" + std::to_string(degenerate) +
                           ": one of its LINE edges has coinciding ends");
}

TEST(StepConforming, SphereOfTwoLunesBoundedByMeridians) {
    // Two faces between the meridians at angles 0 and 180 degrees, meeting at the poles.
    StepPartBuilder b;
    const double r = 4.0;
    int south = b.vertex({0, 0, -r}), north = b.vertex({0, 0, r});
    int m0 = b.edge(south, north, b.circle(b.placement({0, 0, 0}, {0, -1, 0}, {1, 0, 0}), r));
    int m1 = b.edge(south, north, b.circle(b.placement({0, 0, 0}, {0, 1, 0}, {-1, 0, 0}), r));
    int surface = b.add("SPHERICAL_SURFACE(''," + b.ref(b.placement({0, 0, 0}, {0, 0, 1}, {1, 0, 0})) + "," + b.num(r) + ")");
    b.faceOfEdges({b.oriented(m1), b.oriented(m0, false)}, surface);
    b.faceOfEdges({b.oriented(m0), b.oriented(m1, false)}, surface);
    const double size = 0.6, tol = size / 20;
    Meshed res = meshPart(b.text(), size);
    ASSERT_TRUE(res.ok) << res.error;
    MeshFigures f = meshFigures(res.model, 1e-9 * size);
    expectClosedShell(res.model, size, f);
    double exact = 4 * kPi * r * r;
    EXPECT_LT(f.area, exact);
    EXPECT_GT(f.area, exact * (1 - 2 * tol / r));
    EXPECT_LT(largestSurfaceDistance(res.model, {[r](const Point3& p) { return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z) - r; }}),
              1e-12);
    // The lunes' corners at the poles are right angles: every angle meets the bound.
    EXPECT_GE(f.minAngleDeg, 20.0 - 1e-6);
}

TEST(StepConforming, LengthUnitAloneScalesTheDefaultOutput) {
    StepPartBuilder b;
    b.declareUnits("mm");
    b.extrude(rectangleProfile(0, 0, 10, 6), {}, 4);
    JsonValue params;
    params.kind = JsonKind::Object;
    JsonValue text;
    text.kind = JsonKind::String;
    text.text = b.text();
    params.members.push_back({"step", text});
    Model plain, metres;
    std::string error;
    ASSERT_TRUE(handleMeshStep(params, plain, error)) << error;
    JsonValue unit;
    unit.kind = JsonKind::String;
    unit.text = "m";
    params.members.push_back({"length_unit", unit});
    ASSERT_TRUE(handleMeshStep(params, metres, error)) << error;
    ASSERT_EQ(plain.nodes.size(), metres.nodes.size());
    ASSERT_EQ(plain.areas.size(), metres.areas.size());
    for (size_t i = 0; i < plain.nodes.size(); ++i) {
        EXPECT_EQ(metres.nodes[i].x, plain.nodes[i].x * 1e-3);
        EXPECT_EQ(metres.nodes[i].y, plain.nodes[i].y * 1e-3);
    }
}
