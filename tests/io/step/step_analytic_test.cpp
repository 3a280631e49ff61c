#include "io/step/step_analytic.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "io/step/box_with_hole_step.hpp"
#include "io/step/step_planar.hpp"
#include "io/step/step_text_builder.hpp"

namespace {

using namespace stepvec;

constexpr double kPi = 3.14159265358979323846;

/// Builds faces on analytic surfaces edge by edge.
struct Scene : StepTextBuilder {
    int surface(const std::string& type, const Point3& origin, const Point3& axis, const Point3& refDir,
                const std::string& radii) {
        return add(type + "(''," + ref(placement(origin, axis, refDir)) + radii + ")");
    }
    /// An edge on a circle of the given placement; a closed edge uses one vertex.
    int circleEdge(int circlePlacement, const Point3& start, const Point3& end, bool sameSense = true) {
        int c = circle(circlePlacement, 1.0);
        int v0 = vertex(start);
        int v1 = squaredDistance(start, end) < 1e-18 ? v0 : vertex(end);
        return oriented(edge(v0, v1, c, sameSense));
    }
    int lineEdge(const Point3& a, const Point3& b) {
        return oriented(edge(vertex(a), vertex(b), line(a, sub(b, a))));
    }
};

StepFile parsed(const Scene& s) {
    StepFile f = parseStepFile(s.text());
    EXPECT_TRUE(f.ok) << f.error;
    return f;
}

double axisDistanceOf(const Frame3& f, const Point3& p) {
    Point3 d = sub(p, f.origin);
    return length(sub(d, scale(dot(f.zAxis, d), f.zAxis)));
}

double heightOf(const Frame3& f, const Point3& p) { return dot(f.zAxis, sub(p, f.origin)); }

/// A frame whose axis is tilted and whose origin is away from zero.
Frame3 tiltedFrame() {
    Frame3 f;
    f.origin = {3, -2, 7};
    f.zAxis = {1.0 / 3.0, 2.0 / 3.0, 2.0 / 3.0};
    f.xAxis = perpendicularUnit(f.zAxis);
    f.yAxis = cross(f.zAxis, f.xAxis);
    return f;
}

void expectValidTriangles(const TessellatedFace& t) {
    for (const auto& tri : t.triangles) {
        for (int64_t v : tri) {
            ASSERT_GE(v, 0);
            ASSERT_LT(v, static_cast<int64_t>(t.points.size()));
        }
        EXPECT_TRUE(tri[0] != tri[1] && tri[1] != tri[2] && tri[0] != tri[2]);
    }
}

// ----- angles -----

TEST(StepAngles, NormalizeAngleIntoOneTurn) {
    EXPECT_EQ(normalizeAngle(0.0), 0.0);
    EXPECT_EQ(normalizeAngle(2 * kPi), 0.0);
    EXPECT_EQ(normalizeAngle(-0.5), 2 * kPi - 0.5);
    EXPECT_EQ(normalizeAngle(7.0), 7.0 - 2 * kPi);
    EXPECT_EQ(normalizeAngle(-4 * kPi - 1.0), -4 * kPi - 1.0 + 2 * kPi + 2 * kPi + 2 * kPi);
    double huge = normalizeAngle(1e300);
    EXPECT_GE(huge, 0.0);
    EXPECT_LT(huge, 2 * kPi);
    EXPECT_TRUE(std::isnan(normalizeAngle(NAN)));
}

CircleEdge unitArc(double fromAngle, double toAngle, bool sameSense) {
    CircleEdge e;
    e.circleFrame = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    e.start = {std::cos(fromAngle), std::sin(fromAngle), 0};
    e.end = {std::cos(toAngle), std::sin(toAngle), 0};
    e.sameSense = sameSense;
    return e;
}

TEST(StepAngles, ArcSweepSizeSignAndRefusals) {
    double start = 0;
    double sweep = 0;
    // A quarter with the circle, seen from a frame turning the same way and the other way.
    ASSERT_TRUE(arcSweep(unitArc(0, kPi / 2, true), 1.0, 1.0 + kPi / 2, start, sweep));
    EXPECT_EQ(start, 1.0);
    EXPECT_NEAR(sweep, kPi / 2, 1e-15);
    ASSERT_TRUE(arcSweep(unitArc(0, kPi / 2, true), 1.0, 1.0 - kPi / 2, start, sweep));
    EXPECT_NEAR(sweep, -kPi / 2, 1e-15);
    // Against the circle, the arc is the three-quarter turn from start back to end.
    ASSERT_TRUE(arcSweep(unitArc(0, kPi / 2, false), 0.0, -3 * kPi / 2, start, sweep));
    EXPECT_NEAR(sweep, -3 * kPi / 2, 1e-15);
    // A half turn is a tie: +s without an axis.
    ASSERT_TRUE(arcSweep(unitArc(0, kPi, false), 0.0, kPi, start, sweep));
    EXPECT_NEAR(sweep, kPi, 1e-15);
    // With the caller's axis the arc's own sense decides the half.
    Point3 up{0, 0, 1};
    Point3 down{0, 0, -1};
    ASSERT_TRUE(arcSweep(unitArc(0, kPi, false), 0.0, kPi, start, sweep, &up));
    EXPECT_NEAR(sweep, -kPi, 1e-15);
    ASSERT_TRUE(arcSweep(unitArc(0, kPi, false), 0.0, kPi, start, sweep, &down));
    EXPECT_NEAR(sweep, kPi, 1e-15);
    ASSERT_TRUE(arcSweep(unitArc(0, kPi, true), 0.0, kPi, start, sweep, &up));
    EXPECT_NEAR(sweep, kPi, 1e-15);
    // The axis plays no part away from a tie.
    ASSERT_TRUE(arcSweep(unitArc(0, kPi / 2, true), 0.0, kPi / 2, start, sweep, &down));
    EXPECT_NEAR(sweep, kPi / 2, 1e-15);
    // Arcs too short, closed, or within 1e-6 of a full turn are refused.
    EXPECT_FALSE(arcSweep(unitArc(0, 5e-7, true), 0, 0, start, sweep));
    EXPECT_FALSE(arcSweep(unitArc(0, 0, true), 0, 0, start, sweep));
    EXPECT_FALSE(arcSweep(unitArc(0, 5e-7, false), 0, 0, start, sweep));
    EXPECT_TRUE(arcSweep(unitArc(0, 2e-6, true), 0, 0, start, sweep));
}

// ----- cylinders and cones -----

TEST(StepCylinder, BoxWithHoleTessellatesTheHole) {
    StepFile f = parseStepFile(boxWithHoleStep());
    ASSERT_TRUE(f.ok) << f.error;
    FaceExtraction<TessellatedFace> r = tessellateCylindricalFaces(f, 16);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.skipped, 0);
    ASSERT_EQ(r.faces.size(), 1u);
    const TessellatedFace& t = r.faces[0];
    ASSERT_EQ(t.points.size(), 32u);
    ASSERT_EQ(t.triangles.size(), 32u);
    // Rings at heights 0 and 10 starting at angle 0 of the surface frame (x = (1, 0, 0)).
    EXPECT_EQ(t.points[0].x, 25.0);
    EXPECT_EQ(t.points[0].y, 15.0);
    EXPECT_EQ(t.points[0].z, 0.0);
    EXPECT_EQ(t.points[16].x, 25.0);
    EXPECT_EQ(t.points[16].y, 15.0);
    EXPECT_EQ(t.points[16].z, 10.0);
    Frame3 axis{{20, 15, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (size_t i = 0; i < t.points.size(); ++i) {
        EXPECT_NEAR(axisDistanceOf(axis, t.points[i]), 5.0, 1e-12) << i;
        EXPECT_EQ(t.points[i].z, i < 16 ? 0.0 : 10.0) << i;
    }
    // (i, i+1, n+i+1) and (i, n+i+1, n+i), wrapping at the seam.
    EXPECT_EQ(t.triangles[0], (std::array<int64_t, 3>{0, 1, 17}));
    EXPECT_EQ(t.triangles[1], (std::array<int64_t, 3>{0, 17, 16}));
    EXPECT_EQ(t.triangles[30], (std::array<int64_t, 3>{15, 0, 16}));
    EXPECT_EQ(t.triangles[31], (std::array<int64_t, 3>{15, 16, 31}));
    // The other analytic tessellators find nothing of theirs in this file.
    for (const auto& other : {tessellateConicalFaces(f, 16), tessellateSphericalFaces(f, 16),
                              tessellateToroidalFaces(f, 16)}) {
        EXPECT_TRUE(other.ok);
        EXPECT_TRUE(other.faces.empty());
        EXPECT_EQ(other.skipped, 0);
    }
}

TEST(StepCylinder, SeamLinesAndCircleOrderDoNotChangeTheBand) {
    Point3 o{1, 2, 3};
    Point3 z{0, 0, 1};
    Point3 x{1, 0, 0};
    Point3 bottom{6, 2, 3};
    Point3 top{6, 2, 13};
    Scene a;
    int cylA = a.surface("CYLINDRICAL_SURFACE", o, z, x, ",5.");
    // Two loops, top circle first.
    a.face({a.bound(a.loop({a.circleEdge(a.placement({1, 2, 13}, z, x), top, top)})),
            a.bound(a.loop({a.circleEdge(a.placement(o, z, x), bottom, bottom, false)}), false)},
           cylA);
    Scene b;
    int cylB = b.surface("CYLINDRICAL_SURFACE", o, z, x, ",5.");
    b.faceOfEdges({b.circleEdge(b.placement(o, z, x), bottom, bottom), b.lineEdge(bottom, top),
                   b.circleEdge(b.placement({1, 2, 13}, z, x), top, top, false), b.lineEdge(top, bottom)},
                  cylB);
    FaceExtraction<TessellatedFace> ra = tessellateCylindricalFaces(parsed(a), 16);
    FaceExtraction<TessellatedFace> rb = tessellateCylindricalFaces(parsed(b), 16);
    ASSERT_EQ(ra.faces.size(), 1u);
    ASSERT_EQ(rb.faces.size(), 1u);
    ASSERT_EQ(ra.faces[0].points.size(), 32u);
    EXPECT_EQ(ra.faces[0].points[0].z, 3.0);  // ascending heights: the bottom ring first
    for (size_t i = 0; i < 32; ++i) {
        EXPECT_EQ(ra.faces[0].points[i].x, rb.faces[0].points[i].x);
        EXPECT_EQ(ra.faces[0].points[i].y, rb.faces[0].points[i].y);
        EXPECT_EQ(ra.faces[0].points[i].z, rb.faces[0].points[i].z);
    }
    EXPECT_EQ(ra.faces[0].triangles, rb.faces[0].triangles);
}

/// A half cylinder of radius 5 about z between heights 0 and 4, bounded by two half-circle
/// arcs and two generator lines. `lower` is the first arc as (start, end, sameSense, circle
/// axis); the upper arc and the lines close the loop.
FaceExtraction<TessellatedFace> halfCylinder(const Point3& start, const Point3& end, bool sameSense,
                                             const Point3& circleAxis, int32_t n) {
    Scene s;
    Point3 z{0, 0, 1};
    Point3 x{1, 0, 0};
    int cyl = s.surface("CYLINDRICAL_SURFACE", {0, 0, 0}, z, x, ",5.");
    Point3 startTop{start.x, start.y, 4};
    Point3 endTop{end.x, end.y, 4};
    s.faceOfEdges({s.circleEdge(s.placement({0, 0, 0}, circleAxis, x), start, end, sameSense),
                   s.lineEdge(end, endTop),
                   s.circleEdge(s.placement({0, 0, 4}, z, x), endTop, startTop, !sameSense),
                   s.lineEdge(startTop, start)},
                  cyl);
    return tessellateCylindricalFaces(parsed(s), n);
}

TEST(StepCylinder, HalfCylinderBetweenTwoArcs) {
    FaceExtraction<TessellatedFace> r = halfCylinder({5, 0, 0}, {-5, 0, 0}, true, {0, 0, 1}, 16);
    ASSERT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(r.skipped, 0);
    const TessellatedFace& t = r.faces[0];
    ASSERT_EQ(t.points.size(), 34u);
    ASSERT_EQ(t.triangles.size(), 32u);
    EXPECT_EQ(t.triangles[0], (std::array<int64_t, 3>{0, 1, 18}));
    EXPECT_EQ(t.triangles[1], (std::array<int64_t, 3>{0, 18, 17}));
    EXPECT_EQ(t.points[0].x, 5.0);
    EXPECT_NEAR(t.points[16].x, -5.0, 1e-14);
    EXPECT_NEAR(t.points[8].y, 5.0, 1e-14);
    Frame3 axis{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (size_t i = 0; i < t.points.size(); ++i) {
        EXPECT_NEAR(axisDistanceOf(axis, t.points[i]), 5.0, 1e-12);
        EXPECT_GE(t.points[i].y, -1e-12) << i;
        EXPECT_EQ(t.points[i].z, i < 17 ? 0.0 : 4.0);
    }
    expectValidTriangles(t);
}

TEST(StepCylinder, ArcDirectionFollowsEdgeSenseAndCircleAxis) {
    // Runs against its circle from angle pi back to 0: through +y, the same half as above.
    FaceExtraction<TessellatedFace> against = halfCylinder({-5, 0, 0}, {5, 0, 0}, false, {0, 0, 1}, 8);
    ASSERT_EQ(against.faces.size(), 1u);
    for (const Point3& p : against.faces[0].points) EXPECT_GE(p.y, -1e-12);
    EXPECT_NEAR(against.faces[0].points[4].y, 5.0, 1e-14);
    // A circle whose axis points down turns from +x through -y.
    FaceExtraction<TessellatedFace> flipped = halfCylinder({5, 0, 0}, {-5, 0, 0}, true, {0, 0, -1}, 8);
    ASSERT_EQ(flipped.faces.size(), 1u);
    for (const Point3& p : flipped.faces[0].points) EXPECT_LE(p.y, 1e-12);
    // A quarter arc ends where its edge ends.
    FaceExtraction<TessellatedFace> quarter = halfCylinder({0, 5, 0}, {5, 0, 0}, false, {0, 0, 1}, 8);
    ASSERT_EQ(quarter.faces.size(), 1u);
    const std::vector<Point3>& q = quarter.faces[0].points;
    EXPECT_NEAR(q[0].y, 5.0, 1e-14);
    EXPECT_NEAR(q[8].x, 5.0, 1e-14);
    for (const Point3& p : q) {
        EXPECT_GE(p.x, -1e-12);
        EXPECT_GE(p.y, -1e-12);
    }
}

TEST(StepCone, FrustumRingsTakeTheirRadiiFromTheVertices) {
    Scene s;
    Point3 z{0, 0, 1};
    Point3 x{1, 0, 0};
    int cone = s.surface("CONICAL_SURFACE", {0, 0, 0}, z, x, ",5.,0.4636476");
    s.faceOfEdges({s.circleEdge(s.placement({0, 0, 0}, z, x), {5, 0, 0}, {5, 0, 0}), s.lineEdge({5, 0, 0}, {2, 0, 6}),
                   s.circleEdge(s.placement({0, 0, 6}, z, x), {2, 0, 6}, {2, 0, 6}), s.lineEdge({2, 0, 6}, {5, 0, 0})},
                  cone);
    // A cone ending in its apex has one circle only.
    s.faceOfEdges({s.circleEdge(s.placement({0, 0, 0}, z, x), {5, 0, 0}, {5, 0, 0}), s.lineEdge({5, 0, 0}, {0, 0, 10}),
                   s.lineEdge({0, 0, 10}, {5, 0, 0})},
                  cone);
    StepFile f = parsed(s);
    FaceExtraction<TessellatedFace> r = tessellateConicalFaces(f, 12);
    EXPECT_EQ(r.skipped, 1);
    ASSERT_EQ(r.faces.size(), 1u);
    const TessellatedFace& t = r.faces[0];
    ASSERT_EQ(t.points.size(), 24u);
    Frame3 axis{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (size_t i = 0; i < 24; ++i) {
        EXPECT_NEAR(axisDistanceOf(axis, t.points[i]), i < 12 ? 5.0 : 2.0, 1e-12);
        EXPECT_EQ(t.points[i].z, i < 12 ? 0.0 : 6.0);
    }
    // Cones are not cylinders.
    EXPECT_TRUE(tessellateCylindricalFaces(f, 12).faces.empty());
    EXPECT_EQ(tessellateCylindricalFaces(f, 12).skipped, 0);
}

TEST(StepCylinder, UnrecognisedBoundsAreSkipped) {
    Scene s;
    Point3 z{0, 0, 1};
    Point3 x{1, 0, 0};
    int cyl = s.surface("CYLINDRICAL_SURFACE", {0, 0, 0}, z, x, ",5.");
    int p0 = s.placement({0, 0, 0}, z, x);
    int pNear = s.placement({0, 0, 5e-8}, z, x);
    int p4 = s.placement({0, 0, 4}, z, x);
    int p9 = s.placement({0, 0, 9}, z, x);
    Point3 a{5, 0, 0};
    Point3 b{-5, 0, 0};
    auto at = [](Point3 p, double h) { return Point3{p.x, p.y, h}; };
    // Two full circles at heights closer than 1e-7.
    s.faceOfEdges({s.circleEdge(p0, a, a), s.circleEdge(pNear, at(a, 5e-8), at(a, 5e-8))}, cyl);
    // Three full circles at distinct heights.
    s.faceOfEdges({s.circleEdge(p0, a, a), s.circleEdge(p4, at(a, 4), at(a, 4)), s.circleEdge(p9, at(a, 9), at(a, 9))},
                  cyl);
    // A full circle with an arc.
    s.faceOfEdges({s.circleEdge(p0, a, a), s.circleEdge(p4, at(a, 4), at(b, 4))}, cyl);
    // Three arcs; two arcs at one height.
    s.faceOfEdges({s.circleEdge(p0, a, b), s.circleEdge(p4, at(b, 4), at(a, 4)), s.circleEdge(p9, at(a, 9), at(b, 9))},
                  cyl);
    s.faceOfEdges({s.circleEdge(p0, a, b), s.circleEdge(p0, b, a)}, cyl);
    // A ring on the axis, no circles at all, and an empty bound list.
    s.faceOfEdges({s.circleEdge(p0, {0, 0, 0}, {0, 0, 0}), s.circleEdge(p4, at(a, 4), at(a, 4))}, cyl);
    s.faceOfEdges({s.lineEdge(a, at(a, 4)), s.lineEdge(at(a, 4), a)}, cyl);
    s.face({}, cyl);
    // A circle edge with an ellipse, and a surface whose placement is broken.
    int ellipse = s.add("ELLIPSE(''," + s.ref(p0) + ",5.,3.)");
    s.faceOfEdges({s.circleEdge(p0, a, a), s.oriented(s.edge(s.vertex(at(a, 4)), s.vertex(at(b, 4)), ellipse))}, cyl);
    int broken = s.add("CYLINDRICAL_SURFACE('',#99999,5.)");
    s.faceOfEdges({s.circleEdge(p0, a, a), s.circleEdge(p4, at(a, 4), at(a, 4))}, broken);
    // One good face at the end still comes through.
    s.faceOfEdges({s.circleEdge(p0, a, a), s.circleEdge(p4, at(a, 4), at(a, 4))}, cyl);
    FaceExtraction<TessellatedFace> r = tessellateCylindricalFaces(parsed(s), 16);
    EXPECT_EQ(r.skipped, 10);
    EXPECT_EQ(r.faces.size(), 1u);
}

TEST(StepCylinder, SegmentCountIsClampedToThree) {
    Scene s;
    Point3 z{0, 0, 1};
    Point3 x{1, 0, 0};
    int cyl = s.surface("CYLINDRICAL_SURFACE", {0, 0, 0}, z, x, ",5.");
    s.faceOfEdges({s.circleEdge(s.placement({0, 0, 0}, z, x), {5, 0, 0}, {5, 0, 0}),
                   s.circleEdge(s.placement({0, 0, 4}, z, x), {5, 0, 4}, {5, 0, 4})},
                  cyl);
    StepFile f = parsed(s);
    for (int32_t n : {0, 2, -7, INT32_MIN}) {
        FaceExtraction<TessellatedFace> r = tessellateCylindricalFaces(f, n);
        ASSERT_EQ(r.faces.size(), 1u) << n;
        EXPECT_EQ(r.faces[0].points.size(), 6u);
        EXPECT_EQ(r.faces[0].triangles.size(), 6u);
    }
}

TEST(StepCylinder, OversizedGridsAreDeclinedBeforeAllocating) {
    Scene s;
    Point3 z{0, 0, 1};
    Point3 x{1, 0, 0};
    int cyl = s.surface("CYLINDRICAL_SURFACE", {0, 0, 0}, z, x, ",5.");
    for (int k = 0; k < 3; ++k) {
        s.faceOfEdges({s.circleEdge(s.placement({0, 0, 0}, z, x), {5, 0, 0}, {5, 0, 0}),
                       s.circleEdge(s.placement({0, 0, 4}, z, x), {5, 0, 4}, {5, 0, 4})},
                      cyl);
    }
    StepFile f = parsed(s);
    FaceExtraction<TessellatedFace> huge = tessellateCylindricalFaces(f, INT32_MAX);
    EXPECT_TRUE(huge.ok);
    EXPECT_TRUE(huge.faces.empty());
    EXPECT_EQ(huge.skipped, 3);
    // 2n points per face: n = 500000 is the largest band of one face.
    EXPECT_EQ(tessellateCylindricalFaces(f, 500001).skipped, 3);
    FaceExtraction<TessellatedFace> largest = tessellateCylindricalFaces(f, 500000, 1000000);
    ASSERT_EQ(largest.faces.size(), 1u);
    EXPECT_EQ(largest.faces[0].points.size(), 1000000u);
    EXPECT_EQ(largest.skipped, 2);
    // The running budget of one call: two bands of 32 points fit in 70, the third does not.
    FaceExtraction<TessellatedFace> budget = tessellateCylindricalFaces(f, 16, 70);
    EXPECT_EQ(budget.faces.size(), 2u);
    EXPECT_EQ(budget.skipped, 1);
}

TEST(StepCylinder, ReferenceCyclesAreSkipped) {
    StepFile f = parseStepFile(
        "DATA;\n"
        "#1=CARTESIAN_POINT('',(0.,0.,0.));#2=AXIS2_PLACEMENT_3D('',#1,$,$);\n"
        "#3=CYLINDRICAL_SURFACE('',#2,1.);\n"
        "#4=ADVANCED_FACE('',(#5),#3,.T.);#5=FACE_BOUND('',#6,.T.);#6=EDGE_LOOP('',(#7));\n"
        "#7=ORIENTED_EDGE('',*,*,#8,.T.);#8=EDGE_CURVE('',#8,#8,#9,.T.);#9=CIRCLE('',#9,1.);\n"
        "#10=ADVANCED_FACE('',(#10),#3,.T.);\n"
        "#11=CYLINDRICAL_SURFACE('',#11,1.);#12=ADVANCED_FACE('',(#5),#11,.T.);\n"
        "ENDSEC;");
    ASSERT_TRUE(f.ok) << f.error;
    FaceExtraction<TessellatedFace> r = tessellateCylindricalFaces(f, 16);
    EXPECT_TRUE(r.faces.empty());
    EXPECT_EQ(r.skipped, 3);
}

TEST(StepCurved, TessellatorsRefuseAFileThatDidNotParse) {
    StepFile f = parseStepFile("no data here");
    for (const auto& r : {tessellateCylindricalFaces(f, 16), tessellateConicalFaces(f, 16),
                          tessellateSphericalFaces(f, 16), tessellateToroidalFaces(f, 16)}) {
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "cannot tessellate faces from a STEP file that did not parse");
        EXPECT_TRUE(r.faces.empty());
    }
}

// ----- spheres -----

/// A sphere of radius 5 about the origin with one face bounded by the given edges.
struct SphereScene : Scene {
    int sphere = 0;
    SphereScene() { sphere = surface("SPHERICAL_SURFACE", {0, 0, 0}, {0, 0, 1}, {1, 0, 0}, ",5."); }
    int parallel(double h) { return placement({0, 0, h}, {0, 0, 1}, {1, 0, 0}); }
};

void expectOnSphere(const TessellatedFace& t, const Point3& centre, double radius) {
    for (size_t i = 0; i < t.points.size(); ++i) {
        EXPECT_NEAR(length(sub(t.points[i], centre)), radius, 1e-12 * radius) << i;
    }
    expectValidTriangles(t);
}

TEST(StepSphere, HemisphereCapUpToThePole) {
    SphereScene s;
    s.faceOfEdges({s.circleEdge(s.parallel(0), {5, 0, 0}, {5, 0, 0})}, s.sphere);
    FaceExtraction<TessellatedFace> r = tessellateSphericalFaces(parsed(s), 16);
    EXPECT_EQ(r.skipped, 0);
    ASSERT_EQ(r.faces.size(), 1u);
    const TessellatedFace& t = r.faces[0];
    // M = ceil(n/4) = 4 rings below the pole: n*M + 1 points, 2n(M-1) + n triangles.
    ASSERT_EQ(t.points.size(), 65u);
    ASSERT_EQ(t.triangles.size(), 112u);
    EXPECT_EQ(t.points[64].x, 0.0);
    EXPECT_EQ(t.points[64].y, 0.0);
    EXPECT_EQ(t.points[64].z, 5.0);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(t.points[i].z, 0.0);   // the first ring is the boundary
    EXPECT_NEAR(t.points[16].z, 5 * std::sin(kPi / 8), 1e-14);    // the second at 22.5 degrees
    for (const Point3& p : t.points) EXPECT_GE(p.z, 0.0);
    expectOnSphere(t, {0, 0, 0}, 5);
    EXPECT_EQ(t.triangles[111], (std::array<int64_t, 3>{63, 48, 64}));
}

TEST(StepSphere, CapPoleFollowsEdgeBoundAndFaceSenses) {
    // Each sense that disagrees flips the pole; two flips cancel.
    struct Case {
        bool edgeSame, orientation, boundSense, faceSense;
        double poleZ;
    };
    for (const Case& c : {Case{true, true, true, true, 5}, Case{true, true, true, false, -5},
                          Case{false, true, true, true, -5}, Case{true, false, true, true, -5},
                          Case{true, true, false, true, -5}, Case{true, true, false, false, 5},
                          Case{false, false, true, true, 5}}) {
        SphereScene s;
        int circle = s.circle(s.parallel(0), 5);
        int v = s.vertex({5, 0, 0});
        int loop = s.loop({s.oriented(s.edge(v, v, circle, c.edgeSame), c.orientation)});
        s.face({s.bound(loop, true, c.boundSense)}, s.sphere, c.faceSense);
        FaceExtraction<TessellatedFace> r = tessellateSphericalFaces(parsed(s), 8);
        ASSERT_EQ(r.faces.size(), 1u);
        EXPECT_EQ(r.faces[0].points.back().z, c.poleZ);
    }
}

TEST(StepSphere, SmallCapAndItsRefusals) {
    SphereScene s;
    // A cap above the circle at height 3 (radius 4): phi0 = asin(0.6), M = 3 for n = 16.
    s.faceOfEdges({s.circleEdge(s.parallel(3), {4, 0, 3}, {4, 0, 3})}, s.sphere);
    // A centre off the axis through the sphere's centre.
    s.faceOfEdges({s.circleEdge(s.placement({1, 0, 3}, {0, 0, 1}, {1, 0, 0}), {4, 0, 3}, {4, 0, 3})}, s.sphere);
    // A vertex off the sphere.
    s.faceOfEdges({s.circleEdge(s.parallel(3), {4.1, 0, 3}, {4.1, 0, 3})}, s.sphere);
    // A circle at the pole itself.
    s.faceOfEdges({s.circleEdge(s.parallel(5), {0, 0, 5}, {0, 0, 5})}, s.sphere);
    // A sphere without a usable radius.
    int noRadius = s.surface("SPHERICAL_SURFACE", {0, 0, 0}, {0, 0, 1}, {1, 0, 0}, ",-5.");
    s.faceOfEdges({s.circleEdge(s.parallel(3), {4, 0, 3}, {4, 0, 3})}, noRadius);
    FaceExtraction<TessellatedFace> r = tessellateSphericalFaces(parsed(s), 16);
    EXPECT_EQ(r.skipped, 4);
    ASSERT_EQ(r.faces.size(), 1u);
    const TessellatedFace& t = r.faces[0];
    ASSERT_EQ(t.points.size(), 49u);
    EXPECT_EQ(t.triangles.size(), 2u * 16u * 2u + 16u);
    EXPECT_NEAR(t.points[0].z, 3.0, 1e-14);
    // The cap's own frame starts its rings on perpendicularUnit((0, 0, 1)) = (0, 1, 0).
    EXPECT_NEAR(t.points[0].y, 4.0, 1e-14);
    EXPECT_EQ(t.points[0].x, 0.0);
    expectOnSphere(t, {0, 0, 0}, 5);
}

TEST(StepSphere, ZoneBetweenTwoCircles) {
    SphereScene s;
    s.face({s.bound(s.loop({s.circleEdge(s.parallel(3), {4, 0, 3}, {4, 0, 3})})),
            s.bound(s.loop({s.circleEdge(s.parallel(-3), {4, 0, -3}, {4, 0, -3}, false)}), false)},
           s.sphere);
    // Both circles at one height.
    s.face({s.bound(s.loop({s.circleEdge(s.parallel(3), {4, 0, 3}, {4, 0, 3})})),
            s.bound(s.loop({s.circleEdge(s.parallel(3), {0, 4, 3}, {0, 4, 3})}))},
           s.sphere);
    FaceExtraction<TessellatedFace> r = tessellateSphericalFaces(parsed(s), 16);
    EXPECT_EQ(r.skipped, 1);
    ASSERT_EQ(r.faces.size(), 1u);
    const TessellatedFace& t = r.faces[0];
    // |phi1 - phi0| = 2 asin(0.6) = 1.287: M = ceil(3.28) = 4, five rings of 16.
    ASSERT_EQ(t.points.size(), 80u);
    ASSERT_EQ(t.triangles.size(), 128u);
    // From the first circle's latitude to the second's.
    EXPECT_NEAR(t.points[0].z, 3.0, 1e-14);
    EXPECT_NEAR(t.points[79].z, -3.0, 1e-14);
    EXPECT_NEAR(t.points[32].z, 0.0, 1e-14);
    expectOnSphere(t, {0, 0, 0}, 5);
}

/// A spherical patch over a quarter turn between the equator and the parallel at height 3,
/// closed by two meridian arcs.
FaceExtraction<TessellatedFace> quarterPatch(bool equatorReversed) {
    SphereScene s;
    Point3 e0{5, 0, 0};
    Point3 e1{0, 5, 0};
    Point3 t0{4, 0, 3};
    Point3 t1{0, 4, 3};
    int equator = equatorReversed ? s.circleEdge(s.parallel(0), e1, e0, false) : s.circleEdge(s.parallel(0), e0, e1);
    int meridianY = s.circleEdge(s.placement({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), e1, t1);
    int top = s.circleEdge(s.parallel(3), t1, t0, false);
    int meridianX = s.circleEdge(s.placement({0, 0, 0}, {0, -1, 0}, {1, 0, 0}), t0, e0, false);
    s.faceOfEdges({equator, meridianY, top, meridianX}, s.sphere);
    return tessellateSphericalFaces(parsed(s), 16);
}

TEST(StepSphere, PatchBetweenTwoParallels) {
    for (bool reversed : {false, true}) {
        FaceExtraction<TessellatedFace> r = quarterPatch(reversed);
        EXPECT_EQ(r.skipped, 0);
        ASSERT_EQ(r.faces.size(), 1u);
        const TessellatedFace& t = r.faces[0];
        // mu = ceil((pi/2) 16 / 2pi) = 4, mv = ceil(asin(0.6) 16 / 2pi) = 2.
        ASSERT_EQ(t.points.size(), 15u);
        ASSERT_EQ(t.triangles.size(), 16u);
        EXPECT_EQ(t.triangles[0], (std::array<int64_t, 3>{0, 3, 4}));
        EXPECT_EQ(t.triangles[1], (std::array<int64_t, 3>{0, 4, 1}));
        for (const Point3& p : t.points) {
            EXPECT_GE(p.x, -1e-12);
            EXPECT_GE(p.y, -1e-12);
            EXPECT_GE(p.z, -1e-12);
            EXPECT_LE(p.z, 3.0 + 1e-12);
        }
        // Point i*(mv+1) + j: j = 0 on the equator, j = mv on the upper parallel.
        EXPECT_NEAR(t.points[2].z, 3.0, 1e-14);
        EXPECT_NEAR(t.points[12].z, 0.0, 1e-14);
        expectOnSphere(t, {0, 0, 0}, 5);
    }
}

TEST(StepSphere, PatchNeedsTwoOpenParallels) {
    SphereScene s;
    Point3 e0{5, 0, 0};
    Point3 e1{0, 5, 0};
    Point3 t1{0, 4, 3};
    // One parallel and a meridian.
    s.faceOfEdges({s.circleEdge(s.parallel(0), e0, e1), s.circleEdge(s.placement({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), e1, t1)},
                  s.sphere);
    // An open parallel with a closed circle.
    s.faceOfEdges({s.circleEdge(s.parallel(0), e0, e1), s.circleEdge(s.parallel(3), {4, 0, 3}, {4, 0, 3})}, s.sphere);
    // An arc with a vertex off the sphere.
    s.faceOfEdges({s.circleEdge(s.parallel(0), e0, e1), s.circleEdge(s.parallel(3), {4, 0, 3}, {0, 4.5, 3})},
                  s.sphere);
    FaceExtraction<TessellatedFace> r = tessellateSphericalFaces(parsed(s), 16);
    EXPECT_EQ(r.skipped, 3);
    EXPECT_TRUE(r.faces.empty());
}

// ----- tori -----

/// A torus of major radius 10 and minor radius 2 about the z axis through the origin.
struct TorusScene : Scene {
    int torus = 0;
    TorusScene() { torus = surface("TOROIDAL_SURFACE", {0, 0, 0}, {0, 0, 1}, {1, 0, 0}, ",10.,2."); }
    /// The meridian circle at u = 0: angle 0 outward, pi/2 at the top.
    int meridianAtX() { return placement({10, 0, 0}, {0, -1, 0}, {1, 0, 0}); }
    int parallel(double h) { return placement({0, 0, h}, {0, 0, 1}, {1, 0, 0}); }
};

void expectOnTorus(const TessellatedFace& t, const Frame3& f, double major, double minor) {
    for (size_t i = 0; i < t.points.size(); ++i) {
        double rho = axisDistanceOf(f, t.points[i]);
        double h = heightOf(f, t.points[i]);
        EXPECT_NEAR(std::sqrt((rho - major) * (rho - major) + h * h), minor, 1e-12 * major) << i;
    }
    expectValidTriangles(t);
}

const Frame3 kWorld{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

TEST(StepTorus, WholeTorusFromOneClosedMeridian) {
    TorusScene s;
    int seam = s.circleEdge(s.meridianAtX(), {12, 0, 0}, {12, 0, 0});
    s.face({s.bound(s.loop({seam, s.add("ORIENTED_EDGE('',*,*," + s.ref(s.next - 2) + ",.F.)")}))}, s.torus);
    FaceExtraction<TessellatedFace> r = tessellateToroidalFaces(parsed(s), 16);
    EXPECT_EQ(r.skipped, 0);
    ASSERT_EQ(r.faces.size(), 1u);
    const TessellatedFace& t = r.faces[0];
    ASSERT_EQ(t.points.size(), 256u);
    ASSERT_EQ(t.triangles.size(), 512u);
    EXPECT_EQ(t.points[0].x, 12.0);
    EXPECT_EQ(t.points[0].z, 0.0);
    EXPECT_NEAR(t.points[4].x, 10.0, 1e-14);  // j = 4: v = pi/2, the top of the tube
    EXPECT_NEAR(t.points[4].z, 2.0, 1e-14);
    EXPECT_NEAR(t.points[64].y, 12.0, 1e-14);  // i = 4: u = pi/2
    EXPECT_EQ(t.triangles[1], (std::array<int64_t, 3>{0, 17, 1}));
    EXPECT_EQ(t.triangles[510], (std::array<int64_t, 3>{255, 15, 0}));
    EXPECT_EQ(t.triangles[511], (std::array<int64_t, 3>{255, 0, 240}));
    expectOnTorus(t, kWorld, 10, 2);
}

TEST(StepTorus, TubeBandBetweenClosedParallels) {
    for (bool outer : {true, false}) {
        TorusScene s;
        Point3 bottom{10, 0, -2};
        Point3 top{10, 0, 2};
        s.faceOfEdges({s.circleEdge(s.parallel(-2), bottom, bottom), s.circleEdge(s.meridianAtX(), bottom, top, outer),
                       s.circleEdge(s.parallel(2), top, top, false), s.lineEdge(top, top)},
                      s.torus);
        FaceExtraction<TessellatedFace> r = tessellateToroidalFaces(parsed(s), 16);
        EXPECT_EQ(r.skipped, 0);
        ASSERT_EQ(r.faces.size(), 1u);
        const TessellatedFace& t = r.faces[0];
        // A half turn of the tube: m = 8; n (m + 1) points, 2nm triangles.
        ASSERT_EQ(t.points.size(), 144u);
        ASSERT_EQ(t.triangles.size(), 256u);
        EXPECT_NEAR(t.points[0].z, -2.0, 1e-14);
        EXPECT_NEAR(t.points[8].z, 2.0, 1e-14);
        // The half the meridian edge runs through: the outer one with the circle, the inner
        // one against it.
        EXPECT_NEAR(t.points[4].x, outer ? 12.0 : 8.0, 1e-14);
        for (const Point3& p : t.points) {
            double rho = axisDistanceOf(kWorld, p);
            if (outer) {
                EXPECT_GE(rho, 10.0 - 1e-12);
            } else {
                EXPECT_LE(rho, 10.0 + 1e-12);
            }
        }
        expectOnTorus(t, kWorld, 10, 2);
    }
}

TEST(StepTorus, PatchBetweenOpenParallelsAndMeridians) {
    TorusScene s;
    Point3 a{12, 0, 0};
    Point3 b{0, 12, 0};
    Point3 c{0, 10, 2};
    Point3 d{10, 0, 2};
    s.faceOfEdges({s.circleEdge(s.parallel(0), a, b), s.circleEdge(s.placement({0, 10, 0}, {1, 0, 0}, {0, 1, 0}), b, c),
                   s.circleEdge(s.parallel(2), c, d, false), s.circleEdge(s.meridianAtX(), d, a, false)},
                  s.torus);
    FaceExtraction<TessellatedFace> r = tessellateToroidalFaces(parsed(s), 16);
    EXPECT_EQ(r.skipped, 0);
    ASSERT_EQ(r.faces.size(), 1u);
    const TessellatedFace& t = r.faces[0];
    // mu = mv = nearest(4) = 4.
    ASSERT_EQ(t.points.size(), 25u);
    ASSERT_EQ(t.triangles.size(), 32u);
    EXPECT_EQ(t.points[0].x, 12.0);
    EXPECT_NEAR(t.points[4].z, 2.0, 1e-14);   // (0, mv): the top of the tube at u = 0
    EXPECT_NEAR(t.points[20].y, 12.0, 1e-14);  // (mu, 0): the outer equator at u = pi/2
    for (const Point3& p : t.points) {
        EXPECT_GE(p.x, -1e-12);
        EXPECT_GE(p.y, -1e-12);
        EXPECT_GE(p.z, -1e-12);
        EXPECT_GE(axisDistanceOf(kWorld, p), 10.0 - 1e-12);
    }
    expectOnTorus(t, kWorld, 10, 2);
}

TEST(StepTorus, UnrecognisedBoundsAreSkipped) {
    TorusScene s;
    Point3 a{12, 0, 0};
    // A circle whose centre is neither on the axis nor on the tube's centre circle.
    s.faceOfEdges({s.circleEdge(s.placement({5, 0, 0}, {0, -1, 0}, {1, 0, 0}), {7, 0, 0}, {7, 0, 0})}, s.torus);
    // Two closed meridians at different places.
    s.faceOfEdges({s.circleEdge(s.meridianAtX(), a, a),
                   s.circleEdge(s.placement({0, 10, 0}, {1, 0, 0}, {0, 1, 0}), {0, 12, 0}, {0, 12, 0})},
                  s.torus);
    // Closed parallels only.
    s.faceOfEdges({s.circleEdge(s.parallel(2), {10, 0, 2}, {10, 0, 2}), s.circleEdge(s.parallel(-2), {10, 0, -2}, {10, 0, -2})},
                  s.torus);
    // An open parallel with a closed parallel.
    s.faceOfEdges({s.circleEdge(s.parallel(0), a, {0, 12, 0}), s.circleEdge(s.parallel(2), {10, 0, 2}, {10, 0, 2})},
                  s.torus);
    // A torus without its minor radius.
    int thin = s.surface("TOROIDAL_SURFACE", {0, 0, 0}, {0, 0, 1}, {1, 0, 0}, ",10.");
    s.faceOfEdges({s.circleEdge(s.meridianAtX(), a, a)}, thin);
    FaceExtraction<TessellatedFace> r = tessellateToroidalFaces(parsed(s), 16);
    EXPECT_EQ(r.skipped, 5);
    EXPECT_TRUE(r.faces.empty());
}

TEST(StepTorus, WholeTorusGridIsBounded) {
    TorusScene s;
    s.faceOfEdges({s.circleEdge(s.meridianAtX(), {12, 0, 0}, {12, 0, 0})}, s.torus);
    StepFile f = parsed(s);
    // n x n points: 1001^2 exceeds the per-face limit of 10^6 points.
    FaceExtraction<TessellatedFace> r = tessellateToroidalFaces(f, 1001);
    EXPECT_TRUE(r.faces.empty());
    EXPECT_EQ(r.skipped, 1);
    EXPECT_EQ(tessellateToroidalFaces(f, 1000, 999999).skipped, 1);
}

// ----- grid builders on tilted frames -----

TEST(StepGrids, EveryPointLiesOnItsSurface) {
    const Frame3 f = tiltedFrame();
    for (const TessellatedFace& t : {ringBand(f, -1.5, 2.0, 4.0, 2.0, 7), arcBand(f, 0.3, -2.0, 1.0, 2.0, 3.0, 2.0, 9)}) {
        for (const Point3& p : t.points) EXPECT_NEAR(axisDistanceOf(f, p), 2.0, 1e-13);
        expectValidTriangles(t);
    }
    // A cone ring band: radius linear in height.
    TessellatedFace cone = ringBand(f, 0.0, 3.0, 2.0, 1.0, 10);
    for (const Point3& p : cone.points) EXPECT_NEAR(axisDistanceOf(f, p), 3.0 - heightOf(f, p), 1e-13);

    const double radius = 7.5;
    TessellatedFace cap = sphereCap(f.origin, radius, f.zAxis, -0.4, 5, 11);
    EXPECT_EQ(cap.points.size(), 56u);
    EXPECT_EQ(cap.triangles.size(), 2u * 11u * 4u + 11u);
    expectOnSphere(cap, f.origin, radius);
    EXPECT_NEAR(heightOf(f, cap.points[0]), radius * std::sin(-0.4), 1e-13);
    expectOnSphere(sphereZone(f, radius, 0.9, -1.2, 6, 13), f.origin, radius);
    TessellatedFace patch = spherePatch(f, radius, 2.0, -1.5, 5, -0.3, 1.1, 3);
    EXPECT_EQ(patch.points.size(), 24u);
    EXPECT_EQ(patch.triangles.size(), 30u);
    expectOnSphere(patch, f.origin, radius);

    expectOnTorus(torusFull(f, 6.0, 1.5, 9), f, 6.0, 1.5);
    TessellatedFace band = torusTubeBand(f, 6.0, 1.5, 9, 2.5, -1.0, 4);
    EXPECT_EQ(band.points.size(), 45u);
    EXPECT_EQ(band.triangles.size(), 72u);
    expectOnTorus(band, f, 6.0, 1.5);
    expectOnTorus(torusPatch(f, 6.0, 1.5, -1.0, 2.0, 6, 0.5, 3.0, 7), f, 6.0, 1.5);
}

}  // namespace

namespace {

// Every single-byte corruption of a real file either parses or fails with a message, and the
// extractors agree with the parser; run under the sanitizers this also checks memory safety.
TEST(StepCorruption, FlippedBytesNeverBreakTheReaders) {
    const std::string original = boxWithHoleStep();
    size_t parsedCount = 0;
    const char replacements[] = {'(', '#', '\'', '9', ';', '.'};
    for (size_t i = 0; i < original.size(); ++i) {
        for (size_t k = i % 3; k < 6; k += 3) {
            std::string text = original;
            if (text[i] == replacements[k]) continue;
            text[i] = replacements[k];
            StepFile f = parseStepFile(text);
            EXPECT_EQ(f.ok, f.error.empty());
            if (!f.ok) continue;
            ++parsedCount;
            FaceExtraction<PlanarFace> planar = extractPlanarFaces(f);
            FaceExtraction<TessellatedFace> cylinders = tessellateCylindricalFaces(f, 16);
            ASSERT_TRUE(planar.ok && cylinders.ok);
            // Seven faces at most, each either taken or counted.
            EXPECT_LE(planar.faces.size() + static_cast<size_t>(planar.skipped), 7u);
            for (const TessellatedFace& t : cylinders.faces) expectValidTriangles(t);
        }
    }
    EXPECT_GT(parsedCount, 0u);
}

}  // namespace
