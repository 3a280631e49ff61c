// Declared units of an exchange file, and the discretization of edge curves.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "io/step/step_edges.hpp"
#include "io/step/step_part_builder.hpp"
#include "io/step/step_units.hpp"

namespace {

double declaredLength(const std::string& unit, StepUnitRead& how) {
    StepPartBuilder b;
    b.declareUnits(unit);
    b.point({0, 0, 0});
    StepFile file = parseStepFile(b.text());
    double metres = 0.0;
    std::string error;
    how = readLengthUnitMetres(file, metres, error);
    return metres;
}

double distanceToSegment(const Point3& p, const Point3& a, const Point3& b) {
    using namespace stepvec;
    Point3 ab = sub(b, a);
    double t = std::max(0.0, std::min(1.0, dot(sub(p, a), ab) / dot(ab, ab)));
    return length(sub(p, add(a, scale(t, ab))));
}

/// The largest chord and the largest deviation of the curve from its chords (sampled).
void chordFigures(const CurveGeometry& c, const std::vector<double>& t, double& longest, double& deviation) {
    longest = deviation = 0.0;
    for (size_t i = 0; i + 1 < t.size(); ++i) {
        Point3 a = curvePointAt(c, t[i]), b = curvePointAt(c, t[i + 1]);
        longest = std::max(longest, stepvec::length(stepvec::sub(b, a)));
        for (int k = 1; k < 32; ++k) {
            double s = t[i] + (k / 32.0) * (t[i + 1] - t[i]);
            deviation = std::max(deviation, distanceToSegment(curvePointAt(c, s), a, b));
        }
    }
}

}  // namespace

TEST(StepUnits, LengthUnitsOfTheContext) {
    StepUnitRead how;
    EXPECT_DOUBLE_EQ(declaredLength("mm", how), 1e-3);
    EXPECT_EQ(how, StepUnitRead::Declared);
    EXPECT_DOUBLE_EQ(declaredLength("m", how), 1.0);
    EXPECT_EQ(how, StepUnitRead::Declared);
    EXPECT_DOUBLE_EQ(declaredLength("inch", how), 0.0254);
    EXPECT_EQ(how, StepUnitRead::Declared);
    declaredLength("", how);
    EXPECT_EQ(how, StepUnitRead::Undeclared);
}

TEST(StepUnits, DegreeAngleUnitAndUnreadableUnits) {
    StepFile degrees = parseStepFile(
        "DATA;#1=(NAMED_UNIT(*)PLANE_ANGLE_UNIT()SI_UNIT($,.RADIAN.));"
        "#2=PLANE_ANGLE_MEASURE_WITH_UNIT(PLANE_ANGLE_MEASURE(0.0174532925199433),#1);"
        "#3=(CONVERSION_BASED_UNIT('DEGREE',#2)NAMED_UNIT(*)PLANE_ANGLE_UNIT());"
        "#4=(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT(.FURLONG.,.METRE.));"
        "#5=(GEOMETRIC_REPRESENTATION_CONTEXT(3)GLOBAL_UNIT_ASSIGNED_CONTEXT((#4,#3))REPRESENTATION_CONTEXT('',''));"
        "ENDSEC;");
    ASSERT_TRUE(degrees.ok);
    double radians = 0.0, metres = 0.0;
    std::string error;
    EXPECT_EQ(readAngleUnitRadians(degrees, radians, error), StepUnitRead::Declared);
    EXPECT_DOUBLE_EQ(radians, 0.0174532925199433);
    EXPECT_EQ(readLengthUnitMetres(degrees, metres, error), StepUnitRead::Invalid);
    EXPECT_EQ(error, "the STEP file's length unit #4 cannot be read");
    // A conversion-based unit that refers to itself ends instead of recursing.
    StepFile cycle = parseStepFile(
        "DATA;#1=LENGTH_MEASURE_WITH_UNIT(LENGTH_MEASURE(2.),#2);"
        "#2=(CONVERSION_BASED_UNIT('X',#1)LENGTH_UNIT()NAMED_UNIT(*));"
        "#3=(GLOBAL_UNIT_ASSIGNED_CONTEXT((#2))REPRESENTATION_CONTEXT('',''));ENDSEC;");
    EXPECT_EQ(readLengthUnitMetres(cycle, metres, error), StepUnitRead::Invalid);
}

TEST(StepUnits, JobUnitNames) {
    double m = 0.0;
    EXPECT_TRUE(jobLengthUnitMetres("inch", m));
    EXPECT_DOUBLE_EQ(m, 0.0254);
    EXPECT_TRUE(jobLengthUnitMetres("cm", m));
    EXPECT_DOUBLE_EQ(m, 0.01);
    EXPECT_FALSE(jobLengthUnitMetres("ft", m));
    EXPECT_FALSE(jobLengthUnitMetres("MM", m));
}

TEST(StepEdges, CircleArcsMeetSizeAndTolerance) {
    CurveGeometry c;
    c.kind = CurveKind::Circle;
    c.frame = {{1, 2, 3}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    c.radius1 = c.radius2 = 10.0;
    std::vector<double> t;
    // Size-bound: 2 pi 10 / 2 -> 32 chords.
    ASSERT_TRUE(discretizeCurve(c, 0.0, 6.283185307179586, 2.0, 1.0, 1000, t));
    EXPECT_EQ(t.size(), 33u);
    double longest, deviation;
    chordFigures(c, t, longest, deviation);
    EXPECT_LE(longest, 2.0);
    // Tolerance-bound: a tight tolerance needs more chords than the size does.
    ASSERT_TRUE(discretizeCurve(c, 1.0, -1.0, 100.0, 0.01, 1000, t));
    chordFigures(c, t, longest, deviation);
    EXPECT_LE(deviation, 0.01 + 1e-12);
    EXPECT_EQ(t.front(), 1.0);
    EXPECT_EQ(t.back(), -1.0);
    // Large size and tolerance: still at least three chords for a full turn.
    ASSERT_TRUE(discretizeCurve(c, 0.0, 6.283185307179586, 1e9, 1e9, 1000, t));
    EXPECT_EQ(t.size(), 4u);
    // A point budget too small fails instead of allocating.
    EXPECT_FALSE(discretizeCurve(c, 0.0, 6.283185307179586, 1e-3, 1.0, 1000, t));
}

TEST(StepEdges, EllipseAndRationalSplineWithinTolerance) {
    CurveGeometry e;
    e.kind = CurveKind::Ellipse;
    e.frame = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    e.radius1 = 20.0;
    e.radius2 = 2.0;
    std::vector<double> t;
    ASSERT_TRUE(discretizeCurve(e, 0.0, 6.283185307179586, 3.0, 0.05, 100000, t));
    double longest, deviation;
    chordFigures(e, t, longest, deviation);
    EXPECT_LE(longest, 3.0);
    EXPECT_LE(deviation, 0.05);

    // A quarter circle of radius 5 as a rational quadratic spline, read from a file.
    StepFile file = parseStepFile(
        "DATA;#1=CARTESIAN_POINT('',(5.,0.,0.));#2=CARTESIAN_POINT('',(5.,5.,0.));#3=CARTESIAN_POINT('',(0.,5.,0.));"
        "#4=(BOUNDED_CURVE()B_SPLINE_CURVE(2,(#1,#2,#3),.CIRCULAR_ARC.,.F.,.F.)"
        "B_SPLINE_CURVE_WITH_KNOTS((3,3),(0.,1.),.UNSPECIFIED.)CURVE()GEOMETRIC_REPRESENTATION_ITEM()"
        "RATIONAL_B_SPLINE_CURVE((1.,0.7071067811865476,1.))REPRESENTATION_ITEM(''));"
        "#5=SURFACE_CURVE('',#4,(),.CURVE_3D.);ENDSEC;");
    ASSERT_TRUE(file.ok) << file.error;
    StepValue ref;
    ref.kind = StepValueKind::Reference;
    ref.ref = 5;
    CurveGeometry s;
    std::string why;
    ASSERT_TRUE(readEdgeCurve(file, ref, {5, 0, 0}, {0, 5, 0}, s, why)) << why;
    EXPECT_EQ(s.kind, CurveKind::Bspline);
    ASSERT_TRUE(discretizeCurve(s, s.tMin, s.tMax, 1.0, 0.01, 100000, t));
    chordFigures(s, t, longest, deviation);
    EXPECT_LE(longest, 1.0);
    EXPECT_LE(deviation, 0.01);
    for (double u : t) EXPECT_NEAR(stepvec::length(curvePointAt(s, u)), 5.0, 1e-12);
    EXPECT_NEAR(curveParameterOf(s, {0, 5, 0}), 1.0, 1e-9);

    ref.ref = 1;
    EXPECT_FALSE(readEdgeCurve(file, ref, {5, 0, 0}, {0, 5, 0}, s, why));
    EXPECT_EQ(why, "its curve CARTESIAN_POINT is not supported");
}
