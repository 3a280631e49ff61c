#include "io/step/step_bspline.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "io/step/bspline_scene.hpp"

namespace {

using namespace stepvec;

constexpr double kPi = 3.14159265358979323846;

Point4 h(double x, double y, double z = 0.0, double w = 1.0) { return {x, y, z, w}; }

PreparedSurface prepared(const StepFile& file, int id) {
    PreparedSurface out;
    BsplineSurface s;
    EXPECT_EQ(readBsplineSurface(file, file.instances.at(id), s), BsplineRead::Read);
    EXPECT_TRUE(prepareSurface(s, out));
    return out;
}

/// A flat patch over [0, 8] x [0, 8] in z = 0 whose parameters are x / 8 and y / 8.
int flatSquare(BsplineScene& s) { return s.bilinear({0, 0, 0}, {0, 8, 0}, {8, 0, 0}, {8, 8, 0}); }

/// The loops of the face `faceId` on `surfaceId`.
std::vector<std::vector<Point2>> loopsOf(const BsplineScene& scene, int faceId, int surfaceId, int n, bool& ok) {
    StepFile file = parsedScene(scene);
    EXPECT_TRUE(file.ok) << file.error;
    PreparedSurface s = prepared(file, surfaceId);
    std::vector<std::vector<Point2>> loops;
    ok = faceParamLoops(file, file.instances.at(faceId), s, n, loops);
    return loops;
}

void expectNear2(const Point2& p, double u, double v, double tol) {
    EXPECT_NEAR(p.x, u, tol);
    EXPECT_NEAR(p.y, v, tol);
}

// ----- knots and de Boor -----

TEST(BsplineKnots, ExpandRepeatsEachKnotAndStopsPastTheLimit) {
    EXPECT_EQ(expandKnots({0, 1, 2}, {3, 1, 2}), (std::vector<double>{0, 0, 0, 1, 2, 2}));
    EXPECT_EQ(expandKnots({0, 1, 2}, {2, 0, -4}), (std::vector<double>{0, 0}));
    // An absurd multiplicity is cut one past the limit, so it can never match a length.
    EXPECT_EQ(expandKnots({0, 1}, {2, 2147483647}, 5).size(), 6u);
    EXPECT_EQ(expandKnots({0, 1}, {2, 3}, 5).size(), 5u);
}

TEST(BsplineDeBoor, SpanSearchAndLinearCurve) {
    std::vector<double> u{0, 0, 1, 3, 4, 4};  // degree 1, four points
    EXPECT_EQ(findKnotSpan(1, u, 4, -1.0), 1);
    EXPECT_EQ(findKnotSpan(1, u, 4, 0.0), 1);
    EXPECT_EQ(findKnotSpan(1, u, 4, 0.5), 1);
    EXPECT_EQ(findKnotSpan(1, u, 4, 1.0), 2);
    EXPECT_EQ(findKnotSpan(1, u, 4, 2.9), 2);
    EXPECT_EQ(findKnotSpan(1, u, 4, 3.0), 3);
    EXPECT_EQ(findKnotSpan(1, u, 4, 4.0), 3);
    EXPECT_EQ(findKnotSpan(1, u, 4, 9.0), 3);
    // A linear curve passes its control points at the knots and runs straight between them.
    std::vector<Point4> p{h(0, 0), h(2, 2), h(6, 2), h(8, 0)};
    Point4 at1 = deBoor(1, u, p, 1.0);
    EXPECT_EQ(at1.x, 2.0);
    EXPECT_EQ(at1.y, 2.0);
    Point4 at2 = deBoor(1, u, p, 2.0);  // halfway between the knots 1 and 3
    EXPECT_EQ(at2.x, 4.0);
    EXPECT_EQ(at2.y, 2.0);
    EXPECT_EQ(deBoor(1, u, p, 4.0).x, 8.0);
    EXPECT_EQ(deBoor(1, u, p, 0.0).x, 0.0);
}

TEST(BsplineDeBoor, CubicBezierMatchesBernsteinForm) {
    std::vector<double> u{0, 0, 0, 0, 1, 1, 1, 1};
    std::vector<Point4> p{h(0, 0), h(1, 2), h(3, 3), h(4, 0)};
    for (double t : {0.0, 0.3, 0.5, 0.77, 1.0}) {
        double s = 1 - t;
        double b[4] = {s * s * s, 3 * t * s * s, 3 * t * t * s, t * t * t};
        double x = b[0] * 0 + b[1] * 1 + b[2] * 3 + b[3] * 4;
        double y = b[0] * 0 + b[1] * 2 + b[2] * 3 + b[3] * 0;
        Point4 q = deBoor(3, u, p, t);
        EXPECT_NEAR(q.x, x, 1e-14) << t;
        EXPECT_NEAR(q.y, y, 1e-14) << t;
        EXPECT_EQ(q.w, 1.0);
    }
}

TEST(BsplineDeBoor, ZeroDenominatorTakesAlphaZero) {
    // At t = 1 two of the denominators are 1 - 1; reading them as alpha 0 gives P1 where a
    // plain division would give NaN.
    std::vector<double> u{0, 0, 1, 1, 1, 2};
    std::vector<Point4> p{h(0, 0), h(5, 7), h(9, 1)};
    Point4 q = deBoor(2, u, p, 1.0);
    EXPECT_EQ(q.x, 5.0);
    EXPECT_EQ(q.y, 7.0);
    EXPECT_EQ(q.w, 1.0);
}

TEST(BsplineDeBoor, RefusesArgumentsThatWouldReadOutsideItsArrays) {
    std::vector<Point4> p{h(1, 1), h(2, 2)};
    EXPECT_EQ(deBoor(2, {0, 0, 0, 1, 1}, p, 0.5).w, 0.0);  // degree not below the count
    EXPECT_EQ(deBoor(1, {0, 0, 1}, p, 0.5).w, 0.0);        // too few knots
    EXPECT_EQ(deBoor(1, {0, 0, 1, 1}, p, 0.5).x, 1.5);
}

// ----- reading surfaces -----

TEST(BsplineRead, SimpleAndRationalComplexForms) {
    BsplineScene s;
    int simple = s.surface(2, 1, {{{0, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {1, 1, 0}}, {{2, 0, 1}, {2, 1, 1}}}, {3, 3},
                           {2, 2}, {0, 1}, {0, 1});
    int rational = s.rationalSurface(1, 1, {{{0, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {1, 1, 0}}}, {2, 2}, {2, 2}, {0, 1},
                                     {0, 1}, {{1, 2}, {3, 4}});
    int badWeights = s.rationalSurface(1, 1, {{{0, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {1, 1, 0}}}, {2, 2}, {2, 2},
                                       {0, 1}, {0, 1}, {{1, 2, 3}, {3, 4}});
    StepFile file = parsedScene(s);
    ASSERT_TRUE(file.ok) << file.error;

    BsplineSurface a;
    ASSERT_EQ(readBsplineSurface(file, file.instances.at(simple), a), BsplineRead::Read);
    EXPECT_EQ(a.uDegree, 2);
    EXPECT_EQ(a.vDegree, 1);
    ASSERT_EQ(a.controlPoints.size(), 3u);
    EXPECT_EQ(a.controlPoints[2][1].z, 1.0);
    EXPECT_EQ(a.uMultiplicities, (std::vector<int32_t>{3, 3}));
    EXPECT_FALSE(a.rational);

    BsplineSurface b;
    ASSERT_EQ(readBsplineSurface(file, file.instances.at(rational), b), BsplineRead::Read);
    EXPECT_TRUE(b.rational);
    EXPECT_EQ(b.weights[1][0], 3.0);

    // Weights of the wrong shape make the surface non-rational without complaint.
    BsplineSurface c;
    ASSERT_EQ(readBsplineSurface(file, file.instances.at(badWeights), c), BsplineRead::Read);
    EXPECT_FALSE(c.rational);
}

TEST(BsplineRead, RecognisesOnlyItsTypesAndRefusesMalformedOnes) {
    BsplineScene s;
    int p0 = s.point({0, 0, 0});
    int p1 = s.point({1, 0, 0});
    int p2 = s.point({0, 1, 0});
    int p3 = s.point({1, 1, 0});
    std::string grid = "((" + s.ref(p0) + "," + s.ref(p1) + "),(" + s.ref(p2) + "," + s.ref(p3) + "))";
    auto simple = [&](const std::string& deg, const std::string& g, const std::string& mults, const std::string& knots) {
        return s.add("B_SPLINE_SURFACE_WITH_KNOTS(''," + deg + "," + g + ",.U.,.F.,.F.,.F.," + mults + "," + knots +
                     ",.U.)");
    };
    int good = simple("1,1", grid, "(2,2),(2,2)", "(0.,1.),(0.,1.)");
    int rounded = simple("1.4,0.5", grid, "(1.5,2.4),(2,2)", "(0.,1.),(0.,1.)");
    int degreeZero = simple("0,1", grid, "(2,2),(2,2)", "(0.,1.),(0.,1.)");
    int hugeDegree = simple("1.E9,1", grid, "(2,2),(2,2)", "(0.,1.),(0.,1.)");
    int ragged = simple("1,1", "((" + s.ref(p0) + "," + s.ref(p1) + "),(" + s.ref(p2) + "))", "(2,2),(2,2)",
                        "(0.,1.),(0.,1.)");
    int notPoint = simple("1,1", "((" + s.ref(p0) + "," + s.ref(p1) + "),(" + s.ref(p2) + ",#9999))", "(2,2),(2,2)",
                          "(0.,1.),(0.,1.)");
    int countMismatch = simple("1,1", grid, "(2,2),(2,2)", "(0.,1.,2.),(0.,1.)");
    int textMult = simple("1,1", grid, "(2,'2'),(2,2)", "(0.,1.),(0.,1.)");
    int shortOne = s.add("B_SPLINE_SURFACE_WITH_KNOTS('',1,1," + grid + ",.U.,.F.,.F.,.F.,(2,2),(2,2),(0.,1.))");
    int plane = s.add("PLANE('',$)");
    int partsWithoutKnots = s.add("(B_SPLINE_SURFACE(1,1," + grid + ",.U.,.F.,.F.,.F.)SURFACE())");
    int simpleRational = s.add("RATIONAL_B_SPLINE_SURFACE('',((1.,1.),(1.,1.)))");
    StepFile file = parsedScene(s);
    ASSERT_TRUE(file.ok) << file.error;

    auto read = [&](int id) {
        BsplineSurface out;
        return readBsplineSurface(file, file.instances.at(id), out);
    };
    EXPECT_EQ(read(good), BsplineRead::Read);
    BsplineSurface r;
    ASSERT_EQ(readBsplineSurface(file, file.instances.at(rounded), r), BsplineRead::Read);
    EXPECT_EQ(r.uDegree, 1);
    EXPECT_EQ(r.vDegree, 1);  // 0.5 rounds away from zero
    EXPECT_EQ(r.uMultiplicities, (std::vector<int32_t>{2, 2}));
    for (int id : {degreeZero, hugeDegree, ragged, notPoint, countMismatch, textMult, shortOne}) {
        EXPECT_EQ(read(id), BsplineRead::Invalid) << id;
    }
    for (int id : {plane, partsWithoutKnots, simpleRational}) EXPECT_EQ(read(id), BsplineRead::NotBspline) << id;
}

// ----- evaluation -----

TEST(BsplineSurfaceEval, BilinearPatchAndPreparationRefusals) {
    BsplineScene s;
    Point3 p00{1, 2, 3}, p01{1, 6, 4}, p10{5, 2, 7}, p11{6, 7, 1};
    int patch = s.bilinear(p00, p01, p10, p11);
    int wrongLength = s.surface(1, 1, {{p00, p01}, {p10, p11}}, {2, 1}, {2, 2}, {0, 1}, {0, 1});
    int emptyDomain = s.surface(1, 1, {{p00, p01}, {p10, p11}}, {2, 2}, {2, 2}, {1, 1}, {0, 1});
    int degreeTooHigh = s.surface(2, 1, {{p00, p01}, {p10, p11}}, {3, 2}, {2, 2}, {0, 1}, {0, 1});
    int oneRow = s.surface(1, 1, {{p00, p01}}, {1, 2}, {2, 2}, {0, 1}, {0, 1});
    int infiniteKnot = s.add("B_SPLINE_SURFACE_WITH_KNOTS('',1,1," + s.grid({{p00, p01}, {p10, p11}}) +
                             ",.U.,.F.,.F.,.F.,(2,2),(2,2),(0.,1.E999),(0.,1.),.U.)");
    int zeroWeight = s.rationalSurface(1, 1, {{p00, p01}, {p10, p11}}, {2, 2}, {2, 2}, {0, 1}, {0, 1}, {{1, 0}, {1, 1}});
    StepFile file = parsedScene(s);
    ASSERT_TRUE(file.ok) << file.error;

    PreparedSurface ps = prepared(file, patch);
    for (double u : {0.0, 0.25, 0.6, 1.0}) {
        for (double v : {0.0, 0.5, 0.9, 1.0}) {
            Point3 q = surfacePoint(ps, u, v);
            double a = (1 - u) * (1 - v), b = (1 - u) * v, c = u * (1 - v), d = u * v;
            EXPECT_NEAR(q.x, a * p00.x + b * p01.x + c * p10.x + d * p11.x, 1e-13);
            EXPECT_NEAR(q.y, a * p00.y + b * p01.y + c * p10.y + d * p11.y, 1e-13);
            EXPECT_NEAR(q.z, a * p00.z + b * p01.z + c * p10.z + d * p11.z, 1e-13);
        }
    }
    for (int id : {wrongLength, emptyDomain, degreeTooHigh, oneRow, infiniteKnot, zeroWeight}) {
        BsplineSurface raw;
        ASSERT_EQ(readBsplineSurface(file, file.instances.at(id), raw), BsplineRead::Read) << id;
        PreparedSurface out;
        EXPECT_FALSE(prepareSurface(raw, out)) << id;
    }
}

TEST(BsplineSurfaceEval, RationalQuarterCylinderIsExactAndEqualWeightsChangeNothing) {
    BsplineScene s;
    const double r = 4.0;
    const double w = std::sqrt(0.5);
    std::vector<std::vector<Point3>> rows{{{r, 0, 0}, {r, 0, 5}}, {{r, r, 0}, {r, r, 5}}, {{0, r, 0}, {0, r, 5}}};
    int circle = s.rationalSurface(2, 1, rows, {3, 3}, {2, 2}, {0, 1}, {0, 1}, {{1, 1}, {w, w}, {1, 1}});
    int plain = s.surface(2, 1, rows, {3, 3}, {2, 2}, {0, 1}, {0, 1});
    int doubled = s.rationalSurface(2, 1, rows, {3, 3}, {2, 2}, {0, 1}, {0, 1}, {{2, 2}, {2, 2}, {2, 2}});
    int tripled = s.rationalSurface(2, 1, rows, {3, 3}, {2, 2}, {0, 1}, {0, 1}, {{3, 3}, {3, 3}, {3, 3}});
    StepFile file = parsedScene(s);
    ASSERT_TRUE(file.ok) << file.error;
    PreparedSurface c = prepared(file, circle);
    PreparedSurface p = prepared(file, plain);
    PreparedSurface d = prepared(file, doubled);
    PreparedSurface t = prepared(file, tripled);
    for (int i = 0; i <= 10; ++i) {
        double u = i / 10.0;
        double v = 1.0 - u * 0.7;
        Point3 q = surfacePoint(c, u, v);
        EXPECT_NEAR(std::sqrt(q.x * q.x + q.y * q.y), r, 1e-13 * r) << u;
        EXPECT_NEAR(q.z, 5 * v, 1e-13);
        Point3 a = surfacePoint(p, u, v);
        Point3 b = surfacePoint(d, u, v);  // weights of 2 scale exactly
        EXPECT_EQ(a.x, b.x);
        EXPECT_EQ(a.y, b.y);
        EXPECT_EQ(a.z, b.z);
        Point3 e = surfacePoint(t, u, v);
        EXPECT_NEAR(a.x, e.x, 1e-14);
        EXPECT_NEAR(a.y, e.y, 1e-14);
        EXPECT_NEAR(a.z, e.z, 1e-14);
    }
    // The midpoint of a rational quarter circle lies at 45 degrees.
    Point3 mid = surfacePoint(c, 0.5, 0.0);
    EXPECT_NEAR(mid.x, r * w, 1e-13);
    EXPECT_NEAR(mid.y, r * w, 1e-13);
}

TEST(BsplineInversion, CornersExactlyAndInteriorPointsCloseBy) {
    BsplineScene s;
    // A curved patch: a saddle over [0, 10] x [0, 20] with a non-uniform u parametrisation.
    int saddle = s.surface(2, 1, {{{0, 0, 0}, {0, 20, 5}}, {{2, 0, 3}, {2, 20, -1}}, {{10, 0, 0}, {10, 20, 2}}},
                           {3, 3}, {2, 2}, {1, 3}, {-1, 1});
    StepFile file = parsedScene(s);
    ASSERT_TRUE(file.ok) << file.error;
    PreparedSurface ps = prepared(file, saddle);
    Point2 corner = invertSurfacePoint(ps, {10, 20, 2});
    EXPECT_EQ(corner.x, 3.0);
    EXPECT_EQ(corner.y, 1.0);
    corner = invertSurfacePoint(ps, {-5, -5, 0});  // off the surface: the nearest corner
    EXPECT_EQ(corner.x, 1.0);
    EXPECT_EQ(corner.y, -1.0);
    for (double u : {1.3, 2.0, 2.71}) {
        for (double v : {-0.6, 0.1, 0.93}) {
            Point3 q = surfacePoint(ps, u, v);
            Point2 back = invertSurfacePoint(ps, q);
            // Six passes leave a grid step of 1/8192 of the domain.
            EXPECT_NEAR(back.x, u, 2.0 / 8192 * 2) << u << " " << v;
            EXPECT_NEAR(back.y, v, 2.0 / 8192 * 2) << u << " " << v;
            EXPECT_LT(length(sub(surfacePoint(ps, back.x, back.y), q)), 0.01);
        }
    }
}

// ----- parameter loops -----

TEST(BsplineLoops, LineEdgesGiveTheInvertedStartVertices) {
    BsplineScene s;
    int surface = flatSquare(s);
    int face = s.face({s.bound(s.polygonLoop({{0, 0, 0}, {8, 0, 0}, {8, 8, 0}, {0, 8, 0}}))}, surface);
    bool ok = false;
    auto loops = loopsOf(s, face, surface, 16, ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(loops.size(), 1u);
    ASSERT_EQ(loops[0].size(), 4u);
    expectNear2(loops[0][0], 0, 0, 0);
    expectNear2(loops[0][1], 1, 0, 0);
    expectNear2(loops[0][2], 1, 1, 0);
    expectNear2(loops[0][3], 0, 1, 0);
}

TEST(BsplineLoops, OrientedEdgeStartsAtTheCurveEndWhenReversed) {
    BsplineScene s;
    int surface = flatSquare(s);
    auto reversed = [&](const Point3& a, const Point3& b) {
        // The edge curve runs b -> a; the oriented edge runs it backwards, from a.
        return s.edgeOn(s.line(b, sub(a, b)), b, a, true, false);
    };
    int face = s.face({s.bound(s.loop({reversed({0, 0, 0}, {8, 0, 0}), reversed({8, 0, 0}, {8, 8, 0}),
                                       reversed({8, 8, 0}, {0, 0, 0})}))},
                      surface);
    bool ok = false;
    auto loops = loopsOf(s, face, surface, 16, ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(loops[0].size(), 3u);
    expectNear2(loops[0][0], 0, 0, 0);
    expectNear2(loops[0][1], 1, 0, 0);
    expectNear2(loops[0][2], 1, 1, 0);
}

TEST(BsplineLoops, FullCircleRunsInTheEdgeDirection) {
    const double tol = 2.5e-4;  // the inversion's grid step on [0, 1]
    for (bool sameSense : {true, false}) {
        for (bool orientation : {true, false}) {
            BsplineScene s;
            int surface = flatSquare(s);
            int placement = s.placement({4, 4, 0}, {0, 0, 1}, {1, 0, 0});
            int hole = s.loop({s.edgeOn(s.circle(placement, 2), {6, 4, 0}, {6, 4, 0}, sameSense, orientation)});
            int face = s.face({s.bound(s.polygonLoop({{0, 0, 0}, {8, 0, 0}, {8, 8, 0}, {0, 8, 0}})),
                               s.bound(hole, false)},
                              surface);
            bool ok = false;
            auto loops = loopsOf(s, face, surface, 16, ok);
            ASSERT_TRUE(ok);
            ASSERT_EQ(loops.size(), 2u);
            ASSERT_EQ(loops[1].size(), 16u);
            double turn = sameSense == orientation ? 1.0 : -1.0;
            for (int i = 0; i < 16; ++i) {
                double theta = turn * 2 * kPi * i / 16;
                expectNear2(loops[1][i], (4 + 2 * std::cos(theta)) / 8, (4 + 2 * std::sin(theta)) / 8, tol);
            }
        }
    }
}

TEST(BsplineLoops, ArcsTakeAProportionalCountAndLeaveOutTheirEnd) {
    const double tol = 2.5e-4;
    struct Case {
        Point3 start, end;
        bool sameSense, orientation;
        int count;
        double from, sweep;  // angles about (4, 4)
    };
    const Case cases[] = {
        {{6, 4, 0}, {4, 6, 0}, true, true, 4, 0, kPi / 2},              // quarter, counter-clockwise
        {{6, 4, 0}, {4, 6, 0}, true, false, 4, kPi / 2, -kPi / 2},      // the same run backwards
        {{6, 4, 0}, {4, 2, 0}, false, true, 4, 0, -kPi / 2},            // against the circle
        {{6, 4, 0}, {2, 4, 0}, true, true, 8, 0, kPi},                  // half turns follow the sense
        {{6, 4, 0}, {2, 4, 0}, false, true, 8, 0, -kPi},
        {{6, 4, 0}, {4 + 2 * std::cos(0.1), 4 + 2 * std::sin(0.1), 0}, true, true, 2, 0, 0.1},  // at least 2
    };
    for (const Case& c : cases) {
        BsplineScene s;
        int surface = flatSquare(s);
        int placement = s.placement({4, 4, 0}, {0, 0, 1}, {1, 0, 0});
        int arc = s.edgeOn(s.circle(placement, 2), c.start, c.end, c.sameSense, c.orientation);
        const Point3& tail = c.orientation ? c.end : c.start;
        const Point3& head = c.orientation ? c.start : c.end;
        int face = s.face({s.bound(s.loop({arc, s.lineEdge(tail, {0, 0, 0}), s.lineEdge({0, 0, 0}, head)}))}, surface);
        bool ok = false;
        auto loops = loopsOf(s, face, surface, 16, ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(loops[0].size(), static_cast<size_t>(c.count + 2)) << c.sweep;
        for (int i = 0; i < c.count; ++i) {
            double theta = c.from + c.sweep * i / c.count;
            expectNear2(loops[0][i], (4 + 2 * std::cos(theta)) / 8, (4 + 2 * std::sin(theta)) / 8, tol);
        }
    }
}

TEST(BsplineLoops, PcurvesOnTheFaceSurfaceAreSampledDirectly) {
    for (bool fromEnd : {false, true}) {
        BsplineScene s;
        int surface = flatSquare(s);
        int other = s.bilinear({0, 0, 1}, {0, 1, 1}, {1, 0, 1}, {1, 1, 1});
        // The edge from (2, 2) to (6, 2) in space; its curve on `surface` is a line in the
        // parameter plane from (0.25, 0.25) to (0.75, 0.25).
        int onOther = s.planeCurve(1, {{0.9, 0.9}, {0.1, 0.1}}, {2, 2}, {0, 1});
        int onFace = s.planeCurve(1, {{0.25, 0.25}, {0.75, 0.25}}, {2, 2}, {0, 1});
        int spaceLine = s.line({2, 2, 0}, {1, 0, 0});
        int rep1 = s.add("DEFINITIONAL_REPRESENTATION(''," + s.refs({onOther}) + ",#999999)");
        int pc1 = s.add("PCURVE(''," + s.ref(other) + "," + s.ref(rep1) + ")");
        int rep2 = s.add("DEFINITIONAL_REPRESENTATION(''," + s.refs({onFace}) + ",#999999)");
        int pc2 = s.add("PCURVE(''," + s.ref(surface) + "," + s.ref(rep2) + ")");
        int curve = s.add("SURFACE_CURVE(''," + s.ref(spaceLine) + "," + s.refs({pc1, pc2}) + ",.PCURVE_S1.)");
        Point3 a{2, 2, 0}, b{6, 2, 0};
        int edge = fromEnd ? s.edgeOn(curve, a, b, true, false) : s.edgeOn(curve, a, b);
        // With the edge reversed, the oriented start is (6, 2): the curve runs from its end.
        const Point3& tail = fromEnd ? a : b;
        const Point3& head = fromEnd ? b : a;
        int face = s.face({s.bound(s.loop({edge, s.lineEdge(tail, {4, 6, 0}), s.lineEdge({4, 6, 0}, head)}))}, surface);
        bool ok = false;
        auto loops = loopsOf(s, face, surface, 4, ok);
        ASSERT_TRUE(ok);
        ASSERT_EQ(loops[0].size(), 6u);
        const double expected[2][4] = {{0.25, 0.375, 0.5, 0.625}, {0.75, 0.625, 0.5, 0.375}};
        for (int i = 0; i < 4; ++i) expectNear2(loops[0][i], expected[fromEnd][i], 0.25, 1e-15);
    }
}

TEST(BsplineLoops, PcurveLinesSeamsAndTheFirstPcurveFallback) {
    BsplineScene s;
    int surface = flatSquare(s);
    int other = s.bilinear({0, 0, 1}, {0, 1, 1}, {1, 0, 1}, {1, 1, 1});
    int planeLine = s.line({0, 0, 0}, {1, 0, 0});  // a line in the parameter plane: not read
    int seam = s.surfaceCurve(s.line({0, 0, 0}, {1, 0, 0}), other, planeLine, "SEAM_CURVE");
    int e1 = s.edgeOn(seam, {0, 0, 0}, {8, 0, 0});
    int e2 = s.lineEdge({8, 0, 0}, {8, 8, 0});
    int e3 = s.edgeOn(s.surfaceCurve(s.line({8, 8, 0}, {-1, 0, 0}), surface, planeLine, "INTERSECTION_CURVE"),
                      {8, 8, 0}, {0, 8, 0});
    int face = s.face({s.bound(s.loop({e1, e2, e3}))}, surface);
    bool ok = false;
    auto loops = loopsOf(s, face, surface, 16, ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(loops[0].size(), 3u);
    expectNear2(loops[0][0], 0, 0, 0);
    expectNear2(loops[0][1], 1, 0, 0);
    expectNear2(loops[0][2], 1, 1, 0);
}

TEST(BsplineLoops, RefusesEdgesItCannotFollowAndDropsShortLoops) {
    auto attempt = [](auto addEdges) {
        BsplineScene s;
        int surface = flatSquare(s);
        std::vector<int> bounds = addEdges(s);
        int face = s.face(bounds, surface);
        bool ok = false;
        auto loops = loopsOf(s, face, surface, 8, ok);
        return std::make_pair(ok, loops.size());
    };
    Point3 a{0, 0, 0}, b{8, 0, 0}, c{8, 8, 0};
    // A bare B-spline curve in space.
    EXPECT_FALSE(attempt([&](BsplineScene& s) {
                     int curve = s.add("B_SPLINE_CURVE_WITH_KNOTS('',1,(" + s.ref(s.point(a)) + "," +
                                       s.ref(s.point(b)) + "),.U.,.F.,.F.,(2,2),(0.,1.),.U.)");
                     return std::vector<int>{
                         s.bound(s.loop({s.edgeOn(curve, a, b), s.lineEdge(b, c), s.lineEdge(c, a)}))};
                 }).first);
    // An ellipse.
    EXPECT_FALSE(attempt([&](BsplineScene& s) {
                     int ellipse = s.add("ELLIPSE(''," + s.ref(s.placement({4, 4, 0}, {0, 0, 1}, {1, 0, 0})) +
                                         ",3.,2.)");
                     return std::vector<int>{
                         s.bound(s.loop({s.edgeOn(ellipse, a, b), s.lineEdge(b, c), s.lineEdge(c, a)}))};
                 }).first);
    // A surface curve without any PCURVE.
    EXPECT_FALSE(attempt([&](BsplineScene& s) {
                     int sc = s.add("SURFACE_CURVE(''," + s.ref(s.line(a, {1, 0, 0})) + ",(" + s.ref(s.point(a)) +
                                    "),.PCURVE_S1.)");
                     return std::vector<int>{s.bound(s.loop({s.edgeOn(sc, a, b), s.lineEdge(b, c), s.lineEdge(c, a)}))};
                 }).first);
    // A circle of zero radius.
    EXPECT_FALSE(attempt([&](BsplineScene& s) {
                     int circle = s.circle(s.placement({4, 4, 0}, {0, 0, 1}, {1, 0, 0}), 0.0);
                     return std::vector<int>{s.bound(s.loop({s.edgeOn(circle, {6, 4, 0}, {6, 4, 0})}))};
                 }).first);
    // A vertex loop is not an edge loop.
    EXPECT_FALSE(attempt([&](BsplineScene& s) {
                     return std::vector<int>{s.bound(s.add("VERTEX_LOOP(''," + s.ref(s.vertex(a)) + ")"))};
                 }).first);
    // A two-point loop is dropped; alone it leaves nothing.
    auto twoPoint = [&](BsplineScene& s) { return s.bound(s.loop({s.lineEdge(a, b), s.lineEdge(b, a)}), false); };
    EXPECT_FALSE(attempt([&](BsplineScene& s) { return std::vector<int>{twoPoint(s)}; }).first);
    auto withOuter = attempt([&](BsplineScene& s) {
        return std::vector<int>{s.bound(s.polygonLoop({a, b, c})), twoPoint(s)};
    });
    EXPECT_TRUE(withOuter.first);
    EXPECT_EQ(withOuter.second, 1u);
}

TEST(BsplineLoops, EvenOddRuleOverAllLoops) {
    std::vector<std::vector<Point2>> loops{{{0, 0}, {4, 0}, {4, 4}, {0, 4}}, {{1, 1}, {1, 3}, {3, 3}, {3, 1}}};
    EXPECT_TRUE(pointInLoops(loops, 0.5, 0.5));
    EXPECT_TRUE(pointInLoops(loops, 3.5, 2.0));
    EXPECT_FALSE(pointInLoops(loops, 2.0, 2.0));  // in the hole
    EXPECT_FALSE(pointInLoops(loops, 5.0, 2.0));
    EXPECT_FALSE(pointInLoops(loops, -1.0, 2.0));
    // A ray through a vertex counts the two edges there once between them.
    std::vector<std::vector<Point2>> diamond{{{0, -1}, {1, 0}, {0, 1}, {-1, 0}}};
    EXPECT_TRUE(pointInLoops(diamond, -0.5, 0.0));
    EXPECT_TRUE(pointInLoops(diamond, 0.0, 0.0));
    EXPECT_FALSE(pointInLoops(diamond, 1.5, 0.0));
    EXPECT_FALSE(pointInLoops({}, 0.0, 0.0));
}

// ----- tessellation -----

/// Indices in range, every point used, and (for trimmed faces) points numbered in order of
/// first use.
void expectValidFace(const TessellatedFace& f, bool firstUseOrder = true) {
    std::vector<bool> used(f.points.size(), false);
    int64_t highest = -1;
    for (const auto& t : f.triangles) {
        for (int64_t v : t) {
            ASSERT_GE(v, 0);
            ASSERT_LT(v, static_cast<int64_t>(f.points.size()));
            // Points are numbered in order of first use.
            if (firstUseOrder) {
                EXPECT_LE(v, highest + 1);
            }
            highest = std::max(highest, v);
            used[v] = true;
        }
    }
    for (bool u : used) EXPECT_TRUE(u);
}

TEST(BsplineTessellation, FreeBilinearPatchIsTessellatedWhole) {
    BsplineScene s;
    // Four corners on the plane z = x + 2y.
    s.bilinear({0, 0, 0}, {0, 3, 6}, {5, 0, 5}, {5, 3, 11});
    FaceExtraction<TessellatedFace> r = tessellateBsplineFaces(parsedScene(s), 16);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.skipped, 0);
    ASSERT_EQ(r.faces.size(), 1u);
    const TessellatedFace& f = r.faces[0];
    EXPECT_EQ(f.points.size(), 289u);
    EXPECT_EQ(f.triangles.size(), 512u);
    expectValidFace(f, false);
    for (const Point3& p : f.points) EXPECT_NEAR(p.z, p.x + 2 * p.y, 1e-13);
    // Sample i * 17 + j is at (i / 16, j / 16).
    EXPECT_NEAR(f.points[17 * 4 + 8].x, 5 * 0.25, 1e-15);
    EXPECT_NEAR(f.points[17 * 4 + 8].y, 3 * 0.5, 1e-15);
    EXPECT_EQ(f.triangles[0], (std::array<int64_t, 3>{0, 17, 18}));
    EXPECT_EQ(f.triangles[1], (std::array<int64_t, 3>{0, 18, 1}));
}

TEST(BsplineTessellation, WrongKnotLengthsAreSkippedOnFacesAndFreeSurfaces) {
    BsplineScene s;
    int bad = s.surface(1, 1, {{{0, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {1, 1, 0}}}, {2, 1}, {2, 2}, {0, 1}, {0, 1});
    s.face({s.bound(s.polygonLoop({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}))}, bad);
    s.surface(1, 1, {{{0, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {1, 1, 0}}}, {2, 2}, {1, 2}, {0, 1}, {0, 1});  // free
    FaceExtraction<TessellatedFace> r = tessellateBsplineFaces(parsedScene(s), 8);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.faces.empty());
    EXPECT_EQ(r.skipped, 2);  // the face once (its surface is not also free), the free surface once
}

TEST(BsplineTessellation, FaceThroughTheCornersKeepsTheWholeGrid) {
    BsplineScene s;
    int surface = s.surface(2, 1, {{{0, 0, 0}, {0, 6, 1}}, {{3, 0, 4}, {3, 6, 4}}, {{6, 0, 0}, {6, 6, 2}}}, {3, 3},
                            {2, 2}, {0, 1}, {0, 1});
    s.face({s.bound(s.polygonLoop({{0, 0, 0}, {6, 0, 0}, {6, 6, 2}, {0, 6, 1}}))}, surface);
    FaceExtraction<TessellatedFace> r = tessellateBsplineFaces(parsedScene(s), 16);
    ASSERT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(r.skipped, 0);
    EXPECT_EQ(r.faces[0].triangles.size(), 512u);
    EXPECT_EQ(r.faces[0].points.size(), 289u);
    expectValidFace(r.faces[0]);
}

TEST(BsplineTessellation, HoleBoundByACircleIsCutOut) {
    BsplineScene s;
    int surface = flatSquare(s);
    int placement = s.placement({4, 4, 0}, {0, 0, 1}, {1, 0, 0});
    int hole = s.loop({s.edgeOn(s.circle(placement, 2.5), {6.5, 4, 0}, {6.5, 4, 0})});
    s.face({s.bound(s.polygonLoop({{0, 0, 0}, {8, 0, 0}, {8, 8, 0}, {0, 8, 0}})), s.bound(hole, false)}, surface);
    int plane = s.add("PLANE('',$)");
    s.face({s.bound(s.polygonLoop({{0, 0, 0}, {8, 0, 0}, {8, 8, 0}}))}, plane);  // not this extractor's
    FaceExtraction<TessellatedFace> r = tessellateBsplineFaces(parsedScene(s), 16);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.skipped, 0);
    ASSERT_EQ(r.faces.size(), 1u);
    const TessellatedFace& f = r.faces[0];
    expectValidFace(f);
    EXPECT_LT(f.triangles.size(), 512u);
    // Every kept triangle's centroid (in the plane, where x and y are 8 u and 8 v) lies outside
    // the 16-gon inscribed in the hole circle, and the band just outside it is kept.
    double inscribed = 2.5 * std::cos(kPi / 16);
    for (const auto& t : f.triangles) {
        Point3 c = scale(1.0 / 3.0, add(add(f.points[t[0]], f.points[t[1]]), f.points[t[2]]));
        EXPECT_GT(std::hypot(c.x - 4, c.y - 4), inscribed - 1e-3);
        EXPECT_EQ(f.points[t[0]].z, 0.0);
    }
    // Every grid triangle whose centroid is clearly outside the circle is kept. The grid's
    // centroids, counted from the cell layout: (i, j), (i + 1, j), (i + 1, j + 1) and
    // (i, j), (i + 1, j + 1), (i, j + 1), with x = 0.5 i and y = 0.5 j.
    auto clearlyOutside = [](double x, double y) { return std::hypot(x - 4, y - 4) > 2.6; };
    size_t expected = 0;
    for (int i = 0; i < 16; ++i) {
        for (int j = 0; j < 16; ++j) {
            double x0 = 0.5 * i, x1 = 0.5 * (i + 1), y0 = 0.5 * j, y1 = 0.5 * (j + 1);
            expected += clearlyOutside((x0 + x1 + x1) / 3, (y0 + y0 + y1) / 3) ? 1 : 0;
            expected += clearlyOutside((x0 + x1 + x0) / 3, (y0 + y1 + y1) / 3) ? 1 : 0;
        }
    }
    size_t kept = 0;
    for (const auto& t : f.triangles) {
        Point3 c = scale(1.0 / 3.0, add(add(f.points[t[0]], f.points[t[1]]), f.points[t[2]]));
        kept += clearlyOutside(c.x, c.y) ? 1 : 0;
    }
    EXPECT_EQ(kept, expected);
    EXPECT_GT(expected, 300u);
}

TEST(BsplineTessellation, FacesSharingASurfaceAndFileThatDidNotParse) {
    BsplineScene s;
    int surface = flatSquare(s);
    s.face({s.bound(s.polygonLoop({{0, 0, 0}, {8, 0, 0}, {8, 8, 0}}))}, surface);
    s.face({s.bound(s.polygonLoop({{0, 0, 0}, {8, 8, 0}, {0, 8, 0}}))}, surface);
    FaceExtraction<TessellatedFace> r = tessellateBsplineFaces(parsedScene(s), 4);
    ASSERT_EQ(r.faces.size(), 2u);
    // Each half keeps the 16 triangles whose centroids lie strictly on its side of the diagonal.
    EXPECT_EQ(r.faces[0].triangles.size(), 16u);
    EXPECT_EQ(r.faces[1].triangles.size(), 16u);
    for (const Point3& p : r.faces[0].points) EXPECT_GE(p.x + 1e-12, p.y);
    for (const Point3& p : r.faces[1].points) EXPECT_LE(p.x, p.y + 1e-12);

    StepFile broken = parseStepFile("DATA;\n#1=B_SPLINE_SURFACE_WITH_KNOTS(");
    FaceExtraction<TessellatedFace> failed = tessellateBsplineFaces(broken, 4);
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.error, "cannot tessellate B-splines from a STEP file that did not parse");
}

// ----- hostile input -----

TEST(BsplineHostile, AbsurdCountsAreRefusedQuickly) {
    BsplineScene s;
    std::vector<std::vector<Point3>> rows{{{0, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {1, 1, 0}}};
    s.surface(1, 1, rows, {2, 1.0e15}, {2, 2}, {0, 1}, {0, 1});        // multiplicity
    s.surface(1, 1, rows, {2, 2.0e9}, {2, 2}, {0, 1}, {0, 1});          // near the 32-bit edge
    s.add("B_SPLINE_SURFACE_WITH_KNOTS('',1,1," + s.grid(rows) +
          ",.U.,.F.,.F.,.F.,(1.E999,2),(2,2),(0.,1.),(0.,1.),.U.)");  // infinite
    s.add("B_SPLINE_SURFACE_WITH_KNOTS('',2147483647,1,((#1,#2),(#3,#4)),.U.,.F.,.F.,.F.,(2,2),(2,2),(0.,1.),(0.,1.),.U.)");
    s.surface(1, 1, rows, {2, 2}, {2, 2}, {1, 0}, {0, 1});              // reversed knots: empty domain
    s.surface(1, 1, {{{0, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {1, 1, 0}}, {{2, 0, 0}, {2, 1, 0}}}, {2, 1, 2}, {2, 2},
              {0, 2, 1}, {0, 1});                                       // unsorted, but a valid length
    s.rationalSurface(1, 1, {{{1e300, 0, 0}, {0, 1, 0}}, {{1, 0, 0}, {1, 1, 0}}}, {2, 2}, {2, 2}, {0, 1}, {0, 1},
                      {{1e10, 1}, {1, 1}});                             // overflows to infinity
    FaceExtraction<TessellatedFace> r = tessellateBsplineFaces(parsedScene(s), 8);
    ASSERT_TRUE(r.ok);
    // Only the unsorted one evaluates; its points are finite.
    EXPECT_EQ(r.skipped, 6);
    ASSERT_EQ(r.faces.size(), 1u);
    for (const Point3& p : r.faces[0].points) EXPECT_TRUE(std::isfinite(p.x));
}

TEST(BsplineHostile, ControlNetsBeyondTheLimitAreInvalid) {
    // 1024 rows of 1024 references would be the largest net; one row more is refused.
    for (int rows : {1025}) {
        std::string row = "(";
        for (int j = 0; j < 1024; ++j) row += j ? ",#1" : "#1";
        row += ")";
        std::string grid = "(";
        for (int i = 0; i < rows; ++i) grid += (i ? "," : "") + row;
        grid += ")";
        std::string text = "DATA;\n#1=CARTESIAN_POINT('',(0.,0.,0.));\n#2=B_SPLINE_SURFACE_WITH_KNOTS('',1,1," + grid +
                           ",.U.,.F.,.F.,.F.,(2,2),(2,2),(0.,1.),(0.,1.),.U.);\nENDSEC;\n";
        StepFile file = parseStepFile(text);
        ASSERT_TRUE(file.ok) << file.error;
        BsplineSurface s;
        EXPECT_EQ(readBsplineSurface(file, file.instances.at(2), s),
                  rows == 1024 ? BsplineRead::Read : BsplineRead::Invalid);
    }
}

TEST(BsplineHostile, GridSizeAndBudgetsDeclineFaces) {
    BsplineScene s;
    s.bilinear({0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {1, 1, 0});
    s.bilinear({0, 0, 1}, {0, 1, 1}, {1, 0, 1}, {1, 1, 1});
    StepFile file = parsedScene(s);
    // A grid of more than a million points is declined before anything is allocated.
    EXPECT_EQ(tessellateBsplineFaces(file, 1000).skipped, 2);
    EXPECT_EQ(tessellateBsplineFaces(file, 2147483647).skipped, 2);
    // 1000 x 1000 points is the largest grid (one patch fits the point budget given).
    EXPECT_EQ(tessellateBsplineFaces(file, 999, 1000000).faces.size(), 1u);
    // The per-call point budget takes the first patch and declines the second.
    FaceExtraction<TessellatedFace> points = tessellateBsplineFaces(file, 16, 300);
    EXPECT_EQ(points.faces.size(), 1u);
    EXPECT_EQ(points.skipped, 1);
    // So does a work budget that covers one grid of 289 evaluations only.
    int64_t cost = prepared(file, 5).evaluationCost;
    FaceExtraction<TessellatedFace> work = tessellateBsplineFaces(file, 16, 4000000, 289 * cost + cost);
    EXPECT_EQ(work.faces.size(), 1u);
    EXPECT_EQ(work.skipped, 1);
}

TEST(BsplineHostile, WorkBudgetBoundsBoundaryInversion) {
    BsplineScene s;
    int surface = flatSquare(s);
    int placement = s.placement({4, 4, 0}, {0, 0, 1}, {1, 0, 0});
    s.face({s.bound(s.loop({s.edgeOn(s.circle(placement, 2), {6, 4, 0}, {6, 4, 0})}))}, surface);
    StepFile file = parsedScene(s);
    PreparedSurface ps = prepared(file, surface);
    std::vector<std::vector<Point2>> loops;
    BsplineWork work;
    work.remaining = 486 * ps.evaluationCost * 10;  // ten inversions of a circle that needs 500
    EXPECT_FALSE(faceParamLoops(file, file.instances.rbegin()->second, ps, 500, loops, &work));
    EXPECT_LT(work.remaining, ps.evaluationCost * 486);
}

}  // namespace
