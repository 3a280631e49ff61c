// The STEP importer's bounds met at their values (B-spline degree, control points, expanded
// knots, evaluation work, points per face and per extractor), and hostile reference counts:
// millions of references, instance numbers far beyond the file, very long parameter lists.

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "io/step/bspline_scene.hpp"
#include "io/step/step_analytic.hpp"
#include "io/step/step_bspline.hpp"
#include "io/step/step_planar.hpp"

namespace {

/// A straight curve of `count` control points on the x axis with clamped uniform knots.
std::string straightCurve(int32_t degree, int64_t count) {
    std::string text = "DATA;\n";
    std::string refs = "(";
    for (int64_t i = 0; i < count; ++i) {
        text += "#" + std::to_string(i + 1) + "=CARTESIAN_POINT('',(" + std::to_string(i) + ".,0.,0.));\n";
        refs += (i ? ",#" : "#") + std::to_string(i + 1);
    }
    refs += ")";
    // Knots 0 and 1 of multiplicity degree + 1, and the interior knots once each.
    const int64_t interior = count - degree - 1;
    std::string mults = "(" + std::to_string(degree + 1);
    std::string knots = "(0.";
    for (int64_t k = 1; k <= interior; ++k) {
        mults += ",1";
        knots += "," + std::to_string(static_cast<double>(k) / static_cast<double>(interior + 1));
    }
    mults += "," + std::to_string(degree + 1) + ")";
    knots += ",1.)";
    text += "#" + std::to_string(count + 1) + "=B_SPLINE_CURVE_WITH_KNOTS(''," + std::to_string(degree) + "," + refs +
            ",.UNSPECIFIED.,.F.,.F.," + mults + "," + knots + ",.UNSPECIFIED.);\nENDSEC;\n";
    return text;
}

BsplineRead readLastCurve(const StepFile& file) {
    BsplineCurve curve;
    return readBsplineCurve(file, file.instances.rbegin()->second, curve);
}

TEST(StepBounds, BsplineDegreeStopsAtTheBound) {
    static_assert(kMaxBsplineDegree == 32, "the README's Limits table gives 32");
    const StepFile within = parseStepFile(straightCurve(kMaxBsplineDegree, kMaxBsplineDegree + 1));
    ASSERT_TRUE(within.ok) << within.error;
    EXPECT_EQ(readLastCurve(within), BsplineRead::Read);
    const StepFile beyond = parseStepFile(straightCurve(kMaxBsplineDegree + 1, kMaxBsplineDegree + 2));
    ASSERT_TRUE(beyond.ok) << beyond.error;
    EXPECT_EQ(readLastCurve(beyond), BsplineRead::Invalid);

    // A free surface of degree 32 in u is tessellated; degree 33 is declined.
    for (int32_t degree : {kMaxBsplineDegree, kMaxBsplineDegree + 1}) {
        BsplineScene s;
        std::vector<std::vector<Point3>> rows;
        for (int32_t i = 0; i <= degree; ++i) {
            rows.push_back({{static_cast<double>(i), 0, 0}, {static_cast<double>(i), 1, 0}});
        }
        s.surface(degree, 1, rows, {static_cast<double>(degree + 1), static_cast<double>(degree + 1)}, {2, 2},
                  {0, 1}, {0, 1});
        const FaceExtraction<TessellatedFace> r = tessellateBsplineFaces(parsedScene(s), 4);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.faces.size(), degree == kMaxBsplineDegree ? 1u : 0u) << degree;
        EXPECT_EQ(r.skipped, degree == kMaxBsplineDegree ? 0 : 1) << degree;
    }
    // Degrees far out of range, in the record itself, are refused without evaluation.
    const StepFile huge = parseStepFile(
        "DATA;\n#1=CARTESIAN_POINT('',(0.,0.,0.));#2=CARTESIAN_POINT('',(1.,0.,0.));\n"
        "#3=B_SPLINE_CURVE_WITH_KNOTS('',1.E300,(#1,#2),.U.,.F.,.F.,(2,2),(0.,1.),.U.);\nENDSEC;\n");
    EXPECT_EQ(readLastCurve(huge), BsplineRead::Invalid);
}

TEST(StepBounds, ControlPointsStopAtTheBound) {
    static_assert(kMaxControlPoints == 1048576, "the README's Limits table gives 2^20");
    // One curve naming the same point 2^20 + 1 times, built in memory (parsing the text
    // would take longer than the check): refused before its points are read.
    StepFile file = parseStepFile(
        "DATA;\n#1=CARTESIAN_POINT('',(0.,0.,0.));\n"
        "#2=B_SPLINE_CURVE_WITH_KNOTS('',1,(#1,#1),.U.,.F.,.F.,(2,1048575,2),(0.,0.5,1.),.U.);\nENDSEC;\n");
    ASSERT_TRUE(file.ok) << file.error;
    std::vector<StepValue>& control = file.instances.at(2).params[2].items;
    control.resize(static_cast<size_t>(kMaxControlPoints) + 1, control.front());
    EXPECT_EQ(readLastCurve(file), BsplineRead::Invalid);
    // (The accepting side, a net of exactly 2^20 points, is as large again; the surface
    // reader's grid of 1024 x 1024 against 1025 x 1024 is checked by the B-spline tests.)
}

TEST(StepBounds, ExpandedKnotsStopOnePastTheBound) {
    static_assert(kMaxExpandedKnots == 4194304, "the README's Limits table gives 2^22");
    const std::vector<double> knots{0.0, 1.0};
    EXPECT_EQ(static_cast<int64_t>(expandKnots(knots, {static_cast<int32_t>(kMaxExpandedKnots) - 1, 1}).size()),
              kMaxExpandedKnots);
    const int32_t top = std::numeric_limits<int32_t>::max();
    // The expansion stops at one entry past the bound, however large the multiplicities.
    const std::vector<double> many = expandKnots(knots, {top, top});
    EXPECT_EQ(static_cast<int64_t>(many.size()), kMaxExpandedKnots + 1);
    EXPECT_EQ(many.back(), 0.0);
}

TEST(StepBounds, WorkAndPointBudgetsAreSpentExactly) {
    static_assert(kMaxBsplineWork == 10000000000LL, "the README's Limits table gives 10^10");
    EXPECT_EQ(BsplineWork().remaining, kMaxBsplineWork);
    BsplineWork work;
    EXPECT_FALSE(work.take(kMaxBsplineWork + 1));
    EXPECT_EQ(work.remaining, kMaxBsplineWork);
    EXPECT_TRUE(work.take(kMaxBsplineWork));
    EXPECT_FALSE(work.take(1));

    // Two free bilinear patches at N = 16: 17 x 17 points and as many evaluations each.
    BsplineScene s;
    s.bilinear({0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0});
    const int patch = s.bilinear({0, 0, 1}, {0, 1, 1}, {1, 0, 1}, {1, 1, 1});
    const StepFile file = parsedScene(s);
    BsplineSurface surface;
    ASSERT_EQ(readBsplineSurface(file, file.instances.at(patch), surface), BsplineRead::Read);
    PreparedSurface prepared;
    ASSERT_TRUE(prepareSurface(surface, prepared));
    const int64_t cost = 289 * prepared.evaluationCost;
    ASSERT_GT(cost, 0);
    EXPECT_EQ(tessellateBsplineFaces(file, 16, kMaxExtractionPoints, 2 * cost).faces.size(), 2u);
    FaceExtraction<TessellatedFace> short1 = tessellateBsplineFaces(file, 16, kMaxExtractionPoints, 2 * cost - 1);
    EXPECT_EQ(short1.faces.size(), 1u);
    EXPECT_EQ(short1.skipped, 1);
    EXPECT_EQ(tessellateBsplineFaces(file, 16, 578).faces.size(), 2u);
    FaceExtraction<TessellatedFace> short2 = tessellateBsplineFaces(file, 16, 577);
    EXPECT_EQ(short2.faces.size(), 1u);
    EXPECT_EQ(short2.skipped, 1);
    // (The default budgets, 4 million points and 10^10 steps, take seconds and hundreds of
    // megabytes to reach; they are not spent here.)
}

/// Full cylinder bands of radius 5 and height 4 about the z axis, `count` of them.
StepFile cylinderBands(int count) {
    BsplineScene s;
    const Point3 z{0, 0, 1}, x{1, 0, 0};
    const int cylinder = s.add("CYLINDRICAL_SURFACE(''," + s.ref(s.placement({0, 0, 0}, z, x)) + ",5.)");
    for (int k = 0; k < count; ++k) {
        const int bottom = s.edgeOn(s.circle(s.placement({0, 0, 0}, z, x), 5), {5, 0, 0}, {5, 0, 0});
        const int top = s.edgeOn(s.circle(s.placement({0, 0, 4}, z, x), 5), {5, 0, 4}, {5, 0, 4});
        s.face({s.bound(s.loop({bottom})), s.bound(s.loop({top}), false)}, cylinder);
    }
    return parsedScene(s);
}

TEST(StepBounds, FaceAndExtractorPointsStopAtTheBound) {
    static_assert(kMaxFacePoints == 1000000, "the README's Limits table gives 1,000,000");
    static_assert(kMaxExtractionPoints == 4000000, "the README's Limits table gives 4,000,000");
    const StepFile file = cylinderBands(3);
    // A band is two rings of n points: n = 500,001 passes the face bound by two points.
    FaceExtraction<TessellatedFace> past = tessellateCylindricalFaces(file, 500001);
    EXPECT_TRUE(past.faces.empty());
    EXPECT_EQ(past.skipped, 3);
    EXPECT_TRUE(tessellateCylindricalFaces(file, std::numeric_limits<int32_t>::max()).faces.empty());
    // The running total: two bands of 32 points fit a budget of 64 exactly, not of 63.
    EXPECT_EQ(tessellateCylindricalFaces(file, 16, 64).faces.size(), 2u);
    FaceExtraction<TessellatedFace> tight = tessellateCylindricalFaces(file, 16, 63);
    EXPECT_EQ(tight.faces.size(), 1u);
    EXPECT_EQ(tight.skipped, 2);
    // (A band of exactly 1,000,000 points is built by the cylinder tests.)
}

TEST(StepBounds, MillionsOfReferencesAndFarInstanceNumbersStayCheap) {
    // An edge loop naming 200,000 instances the file does not have, one naming an instance
    // number near the 64-bit limit, and a point with 200,000 coordinates (the cost is
    // linear in the text; larger lists only take longer to parse).
    std::string loop = "(";
    loop.reserve(16 * 200000);
    for (int64_t i = 0; i < 200000; ++i) loop += (i ? ",#" : "#") + std::to_string(1000000000000LL + i);
    loop += ")";
    std::string longPoint = "(1.,2.,3.";
    for (int i = 0; i < 200000; ++i) longPoint += ",0.";
    longPoint += ")";
    const std::string text =
        "DATA;\n#1=PLANE('',#2);\n#2=AXIS2_PLACEMENT_3D('',#3,$,$);\n#3=CARTESIAN_POINT(''," + longPoint +
        ");\n#4=EDGE_LOOP(''," + loop +
        ");\n#5=FACE_OUTER_BOUND('',#4,.T.);\n#6=ADVANCED_FACE('',(#5),#1,.T.);\n"
        "#7=FACE_OUTER_BOUND('',#9223372036854775807,.T.);\n#8=ADVANCED_FACE('',(#7),#1,.T.);\n"
        "#9223372036854775807=EDGE_LOOP('',(#9223372036854775806));\nENDSEC;\n";
    const StepFile file = parseStepFile(text);
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_EQ(file.instances.size(), 9u);
    EXPECT_EQ(file.instances.at(4).params[1].items.size(), 200000u);
    StepValue pointRef;
    pointRef.kind = StepValueKind::Reference;
    pointRef.ref = 3;
    Point3 p;
    ASSERT_TRUE(readCartesianPoint(file, pointRef, p));
    EXPECT_EQ(p.x, 1.0);
    EXPECT_EQ(p.z, 3.0);
    const FaceExtraction<PlanarFace> planar = extractPlanarFaces(file);
    ASSERT_TRUE(planar.ok);
    EXPECT_TRUE(planar.faces.empty());
    EXPECT_EQ(planar.skipped, 2);
    for (const FaceExtraction<TessellatedFace>& r :
         {tessellateCylindricalFaces(file, 16), tessellateSphericalFaces(file, 16), tessellateBsplineFaces(file, 16)}) {
        EXPECT_TRUE(r.ok);
        EXPECT_TRUE(r.faces.empty());
    }

    // One digit more than 64 bits hold is refused by the parser, in a definition or a reference.
    EXPECT_FALSE(parseStepFile("DATA;\n#9223372036854775808=PLANE('',$);\nENDSEC;\n").ok);
    const StepFile tooFar = parseStepFile("DATA;\n#1=EDGE_LOOP('',(#99999999999999999999));\nENDSEC;\n");
    EXPECT_FALSE(tooFar.ok);
    EXPECT_NE(tooFar.error.find("instance number too large"), std::string::npos) << tooFar.error;
}

}  // namespace
