#include "io/step/step_planar.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "io/step/box_with_hole_step.hpp"
#include "io/step/step_readers.hpp"
#include "io/step/step_text_builder.hpp"

namespace {

void expectPoint(const Point3& p, double x, double y, double z) {
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
    EXPECT_EQ(p.z, z);
}

StepFile parseData(const std::string& body) {
    StepFile f = parseStepFile("DATA;\n" + body + "ENDSEC;\n");
    EXPECT_TRUE(f.ok) << f.error;
    return f;
}

StepValue refTo(int64_t id) {
    StepValue v;
    v.kind = StepValueKind::Reference;
    v.ref = id;
    return v;
}

TEST(StepReaders, PointsNeedThreeFiniteNumbers) {
    StepFile f = parseData(
        "#1=CARTESIAN_POINT('',(1.,2.,3.,4.));\n#2=CARTESIAN_POINT('',(1.,2.));\n"
        "#3=CARTESIAN_POINT('',(1.,'2',3.));\n#4=DIRECTION('',(1.,2.,3.));\n#5=CARTESIAN_POINT('');\n"
        "#6=CARTESIAN_POINT('',(1.,1E999,0.));\n#7=VERTEX_POINT('',#1);\n#8=VERTEX_POINT('',#2);\n"
        "#9=(CARTESIAN_POINT('',(1.,2.,3.)));\n");
    Point3 p;
    ASSERT_TRUE(readCartesianPoint(f, refTo(1), p));
    expectPoint(p, 1, 2, 3);
    for (int64_t id : {2, 3, 4, 5, 6, 9, 99}) EXPECT_FALSE(readCartesianPoint(f, refTo(id), p)) << id;
    StepValue notARef;
    notARef.kind = StepValueKind::Number;
    notARef.number = 1;
    EXPECT_FALSE(readCartesianPoint(f, notARef, p));
    EXPECT_EQ(findEntity(f, notARef), nullptr);

    Point3 d;
    ASSERT_TRUE(readDirection(f, refTo(4), d));
    expectPoint(d, 1, 2, 3);  // not normalised
    EXPECT_FALSE(readDirection(f, refTo(1), d));

    Point3 v;
    ASSERT_TRUE(readVertexPoint(f, refTo(7), v));
    expectPoint(v, 1, 2, 3);
    EXPECT_FALSE(readVertexPoint(f, refTo(8), v));
    EXPECT_FALSE(readVertexPoint(f, refTo(1), v));
}

TEST(StepReaders, NormalizeRefusesShortVectorsAndLeavesThemAlone) {
    Point3 v{3, 0, 4};
    ASSERT_TRUE(normalize(v));
    expectPoint(v, 0.6, 0, 0.8);
    Point3 tiny{1e-13, 0, 0};
    EXPECT_FALSE(normalize(tiny));
    expectPoint(tiny, 1e-13, 0, 0);
}

TEST(StepReaders, PlacementAxisFallbacks) {
    StepFile f = parseData(
        "#1=CARTESIAN_POINT('',(1.,2.,3.));\n"
        "#2=AXIS2_PLACEMENT_3D('',#1,$,$);\n"
        "#3=DIRECTION('',(0.,0.,2.));\n#4=DIRECTION('',(1.,0.,1.));\n"
        "#5=AXIS2_PLACEMENT_3D('',#1,#3,#4);\n"
        "#6=DIRECTION('',(0.,0.,-3.));\n#7=AXIS2_PLACEMENT_3D('',#1,#3,#6);\n"
        "#8=DIRECTION('',(2.,0.,0.));\n#9=AXIS2_PLACEMENT_3D('',#1,#8,$);\n"
        "#10=AXIS2_PLACEMENT_3D('',#1,#99,#4);\n"
        "#11=DIRECTION('',(0.,0.,0.));\n#12=AXIS2_PLACEMENT_3D('',#1,#11,$);\n"
        "#13=AXIS2_PLACEMENT_3D('',#99,$,$);\n#14=AXIS2_PLACEMENT_3D('',#1);\n#15=AXIS2_PLACEMENT_3D('');\n"
        "#16=AXIS2_PLACEMENT_3D('',#1,#1,#1);\n");
    Frame3 fr;
    // No axis and no reference direction: x is z x (1, 0, 0), not (1, 0, 0).
    ASSERT_TRUE(readPlacement(f, refTo(2), fr));
    expectPoint(fr.origin, 1, 2, 3);
    expectPoint(fr.zAxis, 0, 0, 1);
    expectPoint(fr.xAxis, 0, 1, 0);
    expectPoint(fr.yAxis, -1, 0, 0);
    // The reference direction loses its component along the axis.
    ASSERT_TRUE(readPlacement(f, refTo(5), fr));
    expectPoint(fr.zAxis, 0, 0, 1);
    expectPoint(fr.xAxis, 1, 0, 0);
    expectPoint(fr.yAxis, 0, 1, 0);
    // A reference direction along the axis falls back.
    ASSERT_TRUE(readPlacement(f, refTo(7), fr));
    expectPoint(fr.xAxis, 0, 1, 0);
    // An axis with |z.x| >= 0.9 is crossed with (0, 1, 0).
    ASSERT_TRUE(readPlacement(f, refTo(9), fr));
    expectPoint(fr.zAxis, 1, 0, 0);
    expectPoint(fr.xAxis, 0, 0, 1);
    expectPoint(fr.yAxis, 0, -1, 0);
    // A broken axis reference (and a wrong-typed one) means the default axis.
    ASSERT_TRUE(readPlacement(f, refTo(10), fr));
    expectPoint(fr.zAxis, 0, 0, 1);
    expectPoint(fr.xAxis, 1, 0, 0);
    ASSERT_TRUE(readPlacement(f, refTo(16), fr));
    expectPoint(fr.zAxis, 0, 0, 1);
    expectPoint(fr.xAxis, 0, 1, 0);
    ASSERT_TRUE(readPlacement(f, refTo(14), fr));
    expectPoint(fr.zAxis, 0, 0, 1);
    // A zero axis, a missing origin or too few parameters refuse the placement.
    EXPECT_FALSE(readPlacement(f, refTo(12), fr));
    EXPECT_FALSE(readPlacement(f, refTo(13), fr));
    EXPECT_FALSE(readPlacement(f, refTo(15), fr));
    EXPECT_FALSE(readPlacement(f, refTo(1), fr));
}

TEST(StepReaders, PlacementIsOrthonormalAndRightHanded) {
    StepFile f = parseData(
        "#1=CARTESIAN_POINT('',(0.,0.,0.));\n#2=DIRECTION('',(0.,3.,4.));\n#3=DIRECTION('',(1.,1.,0.));\n"
        "#4=AXIS2_PLACEMENT_3D('',#1,#2,#3);\n");
    Frame3 fr;
    ASSERT_TRUE(readPlacement(f, refTo(4), fr));
    using namespace stepvec;
    EXPECT_NEAR(fr.zAxis.y, 0.6, 1e-15);
    EXPECT_NEAR(length(fr.xAxis), 1, 1e-15);
    EXPECT_NEAR(length(fr.yAxis), 1, 1e-15);
    EXPECT_NEAR(dot(fr.xAxis, fr.zAxis), 0, 1e-15);
    EXPECT_NEAR(dot(fr.yAxis, fr.zAxis), 0, 1e-15);
    Point3 xy = cross(fr.xAxis, fr.yAxis);
    EXPECT_NEAR(xy.x - fr.zAxis.x, 0, 1e-15);
    EXPECT_NEAR(xy.y - fr.zAxis.y, 0, 1e-15);
    EXPECT_NEAR(xy.z - fr.zAxis.z, 0, 1e-15);
    EXPECT_GT(fr.xAxis.x, 0.7);  // the reference direction keeps its sense
}

TEST(StepPlanarFaces, BoxWithHoleGivesItsFourSideFaces) {
    StepFile f = parseStepFile(boxWithHoleStep());
    ASSERT_TRUE(f.ok) << f.error;
    FaceExtraction<PlanarFace> r = extractPlanarFaces(f);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.error, "");
    // The bottom and top carry the hole circle and the hole is a cylinder: all three skipped.
    EXPECT_EQ(r.skipped, 3);
    ASSERT_EQ(r.faces.size(), 4u);
    const double expected[4][4][3] = {
        {{0, 0, 0}, {40, 0, 0}, {40, 0, 10}, {0, 0, 10}},
        {{40, 0, 0}, {40, 30, 0}, {40, 30, 10}, {40, 0, 10}},
        {{40, 30, 0}, {0, 30, 0}, {0, 30, 10}, {40, 30, 10}},
        {{0, 30, 0}, {0, 0, 0}, {0, 0, 10}, {0, 30, 10}},
    };
    for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(r.faces[k].outer.size(), 4u);
        EXPECT_TRUE(r.faces[k].holes.empty());
        for (int i = 0; i < 4; ++i) {
            expectPoint(r.faces[k].outer[i], expected[k][i][0], expected[k][i][1], expected[k][i][2]);
        }
    }
}

/// Vertices, LINE edges and oriented edges of a closed polygon; returns the oriented edges.
std::vector<int> polygonEdges(StepTextBuilder& b, const std::vector<Point3>& pts) {
    std::vector<int> vertices;
    for (const Point3& p : pts) vertices.push_back(b.vertex(p));
    std::vector<int> oriented;
    for (size_t i = 0; i < pts.size(); ++i) {
        size_t j = (i + 1) % pts.size();
        int line = b.line(pts[i], {1, 0, 0});
        oriented.push_back(b.oriented(b.edge(vertices[i], vertices[j], line)));
    }
    return oriented;
}

int xyPlane(StepTextBuilder& b) { return b.add("PLANE(''," + b.ref(b.placement({0, 0, 0}, {0, 0, 1}, {1, 0, 0})) + ")"); }

const std::vector<Point3> kSquare = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
const std::vector<Point3> kInner = {{1, 1, 0}, {1, 2, 0}, {2, 2, 0}, {2, 1, 0}};
const std::vector<Point3> kInner2 = {{3, 3, 0}, {3, 3.5, 0}, {3.5, 3.5, 0}};

TEST(StepPlanarFaces, OuterAndHoleBoundsAndTheirOrder) {
    StepTextBuilder b;
    int plane = xyPlane(b);
    int outerLoop = b.loop(polygonEdges(b, kSquare));
    int hole1 = b.loop(polygonEdges(b, kInner));
    int hole2 = b.loop(polygonEdges(b, kInner2));
    // Outer bound listed between the holes; holes keep list order.
    b.face({b.bound(hole1, false), b.bound(outerLoop, true), b.bound(hole2, false)}, plane);
    // Only inner bounds: the first becomes the outline.
    b.face({b.bound(hole2, false), b.bound(outerLoop, false), b.bound(hole1, false)}, plane);
    // Two outer bounds: the later one wins.
    b.face({b.bound(hole2, true), b.bound(outerLoop, true)}, plane);
    StepFile f = parseStepFile(b.text());
    ASSERT_TRUE(f.ok) << f.error;
    FaceExtraction<PlanarFace> r = extractPlanarFaces(f);
    EXPECT_EQ(r.skipped, 0);
    ASSERT_EQ(r.faces.size(), 3u);

    EXPECT_EQ(r.faces[0].outer.size(), 4u);
    expectPoint(r.faces[0].outer[2], 4, 4, 0);
    ASSERT_EQ(r.faces[0].holes.size(), 2u);
    expectPoint(r.faces[0].holes[0][1], 1, 2, 0);
    ASSERT_EQ(r.faces[0].holes[1].size(), 3u);

    ASSERT_EQ(r.faces[1].outer.size(), 3u);
    expectPoint(r.faces[1].outer[0], 3, 3, 0);
    ASSERT_EQ(r.faces[1].holes.size(), 2u);
    expectPoint(r.faces[1].holes[0][1], 4, 0, 0);
    expectPoint(r.faces[1].holes[1][1], 1, 2, 0);

    EXPECT_EQ(r.faces[2].outer.size(), 4u);
    EXPECT_TRUE(r.faces[2].holes.empty());
}

TEST(StepPlanarFaces, OrientationPicksTheVertexAndRepeatsCollapse) {
    StepFile f = parseData(
        "#1=CARTESIAN_POINT('',(0.,0.,0.));#2=CARTESIAN_POINT('',(1.,0.,0.));\n"
        "#3=CARTESIAN_POINT('',(1.,1.,0.));#4=CARTESIAN_POINT('',(1.,1.,5.E-10));\n"
        "#11=VERTEX_POINT('',#1);#12=VERTEX_POINT('',#2);#13=VERTEX_POINT('',#3);#14=VERTEX_POINT('',#4);\n"
        "#20=LINE('',#1,$);\n"
        "#21=EDGE_CURVE('',#12,#11,#20,.T.);#22=EDGE_CURVE('',#13,#12,#20,.T.);\n"
        "#23=EDGE_CURVE('',#11,#13,#20,.T.);#24=EDGE_CURVE('',#14,#11,#20,.T.);\n"
        // Start points: #31 (0,0,0) by .F.; #32 (1,0,0) by $ (read as .F.); #33 (1,1,5e-10) by
        // .T.; #34 (0,0,0); #35 (1,0,0); #36 (1,1,0) by .F.
        "#31=ORIENTED_EDGE('',*,*,#21,.F.);#32=ORIENTED_EDGE('',*,*,#22,$);\n"
        "#33=ORIENTED_EDGE('',*,*,#24,.T.);#34=ORIENTED_EDGE('',*,*,#23,.T.);\n"
        "#35=ORIENTED_EDGE('',*,*,#21,.T.);#36=ORIENTED_EDGE('',*,*,#23,.F.);\n"
        "#40=EDGE_LOOP('',(#31,#32,#36,#33,#34));\n"
        "#41=EDGE_LOOP('',(#31,#31,#32,#36));\n"
        "#42=EDGE_LOOP('',(#31,#32,#36,#35));\n"
        "#43=EDGE_LOOP('',(#31,#32,#31));\n"
        "#44=EDGE_LOOP('',(#31,#31,#31));\n"
        "#45=EDGE_LOOP('',#31);\n"
        "#46=EDGE_LOOP('',(#31,#32,#36,#20));\n");
    // (1,1,5e-10) lies within 1e-9 of (1,1,0) and collapses; the closing (0,0,0) is dropped.
    std::vector<Point3> loop;
    ASSERT_TRUE(readPlanarLoop(f, f.instances.at(40), loop));
    ASSERT_EQ(loop.size(), 3u);
    expectPoint(loop[0], 0, 0, 0);
    expectPoint(loop[1], 1, 0, 0);
    expectPoint(loop[2], 1, 1, 0);
    // The same vertex twice in a row counts once.
    std::vector<Point3> twice;
    ASSERT_TRUE(readPlanarLoop(f, f.instances.at(41), twice));
    EXPECT_EQ(twice.size(), 3u);
    // Only neighbours collapse: a vertex met again later stays.
    std::vector<Point3> revisit;
    ASSERT_TRUE(readPlanarLoop(f, f.instances.at(42), revisit));
    ASSERT_EQ(revisit.size(), 4u);
    expectPoint(revisit[3], 1, 0, 0);
    std::vector<Point3> refused{{7, 7, 7}};
    EXPECT_FALSE(readPlanarLoop(f, f.instances.at(43), refused));
    EXPECT_FALSE(readPlanarLoop(f, f.instances.at(44), refused));
    EXPECT_FALSE(readPlanarLoop(f, f.instances.at(45), refused));
    EXPECT_FALSE(readPlanarLoop(f, f.instances.at(46), refused));
    ASSERT_EQ(refused.size(), 1u);  // a refused loop leaves the output alone
}

TEST(StepPlanarFaces, UnusableFacesAreCountedAndSkipped) {
    StepTextBuilder b;
    int plane = xyPlane(b);
    int cylinder = b.add("CYLINDRICAL_SURFACE(''," + b.ref(b.placement({0, 0, 0}, {0, 0, 1}, {1, 0, 0})) + ",1.)");
    int good = b.loop(polygonEdges(b, kSquare));

    // A loop with a CIRCLE edge.
    int v0 = b.vertex({1, 0, 0});
    int v1 = b.vertex({-1, 0, 0});
    int circle = b.circle(b.placement({0, 0, 0}, {0, 0, 1}, {1, 0, 0}), 1);
    int arc = b.oriented(b.edge(v0, v1, circle));
    int back = b.oriented(b.edge(v1, v0, b.line({-1, 0, 0}, {1, 0, 0})));
    int curved = b.loop({arc, back, b.oriented(b.edge(v0, v1, b.line({1, 0, 0}, {1, 0, 0})))});
    // A loop through a point with only two coordinates.
    int flat = b.add("VERTEX_POINT(''," + b.ref(b.add("CARTESIAN_POINT('',(2.,9.))")) + ")");
    int va = b.vertex({0, 9, 0});
    int vb = b.vertex({1, 9, 0});
    int l = b.line({0, 0, 0}, {1, 0, 0});
    int twoCoords = b.loop({b.oriented(b.edge(va, vb, l)), b.oriented(b.edge(vb, flat, l)),
                            b.oriented(b.edge(flat, va, l))});

    int first = b.next;
    b.face({b.bound(good)}, cylinder);                       // curved surface
    b.face({b.bound(curved)}, plane);                        // circle edge
    b.face({b.bound(twoCoords)}, plane);                     // 2-D point
    b.face({}, plane);                                       // no bounds
    b.add("ADVANCED_FACE(''," + b.ref(b.bound(good)) + "," + b.ref(plane) + ",.T.)");  // bounds not a list
    b.face({b.bound(good)}, 9999);                            // dangling surface
    b.face({b.bound(good), b.bound(curved, false)}, plane);  // one bad bound spoils the face
    b.face({b.bound(good), b.bound(9999, false)}, plane);
    b.add("ADVANCED_FACE('',(" + b.ref(b.bound(good)) + "))");  // too few parameters
    b.face({b.add("FACE_BOUND('')")}, plane);                    // bound without loop
    b.face({b.bound(b.add("EDGE_LOOP('',())"))}, plane);         // empty loop
    b.face({good}, plane);                                       // loop where a bound belongs
    // A complex instance is never an ADVANCED_FACE: neither taken nor counted.
    b.add("(ADVANCED_FACE(''," + b.refs({b.bound(good)}) + "," + b.ref(plane) + ",.T.)FACE())");
    b.face({b.bound(good)}, plane);  // the one usable face
    ASSERT_GT(b.next, first);
    StepFile f = parseStepFile(b.text());
    ASSERT_TRUE(f.ok) << f.error;
    FaceExtraction<PlanarFace> r = extractPlanarFaces(f);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.skipped, 12);
    ASSERT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(r.faces[0].outer.size(), 4u);
}

TEST(StepPlanarFaces, ReferenceCyclesEndInSkippedFaces) {
    // Entities that refer to themselves or to each other in a ring, where a face expects a
    // chain: each step checks the type it needs, so the walk stops at once.
    StepFile f = parseData(
        "#1=ADVANCED_FACE('',(#2),#1,.T.);\n"
        "#2=FACE_OUTER_BOUND('',#2,.T.);\n"
        "#3=PLANE('',#3);\n"
        "#4=ADVANCED_FACE('',(#5),#3,.T.);\n"
        "#5=FACE_OUTER_BOUND('',#6,.T.);\n"
        "#6=EDGE_LOOP('',(#6,#7));\n"
        "#7=ORIENTED_EDGE('',*,*,#7,.T.);\n"
        "#8=ADVANCED_FACE('',(#9),#3,.T.);\n"
        "#9=FACE_OUTER_BOUND('',#10,.T.);\n"
        "#10=EDGE_LOOP('',(#7,#11));\n"
        "#11=ORIENTED_EDGE('',*,*,#12,.T.);\n"
        "#12=EDGE_CURVE('',#12,#12,#11,.T.);\n"
        "#13=ADVANCED_FACE('',(#13),#3,.T.);\n");
    FaceExtraction<PlanarFace> r = extractPlanarFaces(f);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.skipped, 4);
    EXPECT_TRUE(r.faces.empty());
}

TEST(StepPlanarFaces, RefusesAFileThatDidNotParse) {
    StepFile f = parseStepFile("DATA;#1=A(;");
    ASSERT_FALSE(f.ok);
    FaceExtraction<PlanarFace> r = extractPlanarFaces(f);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "cannot extract faces from a STEP file that did not parse");
    EXPECT_TRUE(r.faces.empty());
    EXPECT_EQ(r.skipped, 0);
}

}  // namespace
