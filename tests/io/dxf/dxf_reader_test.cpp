#include "io/dxf/dxf_reader.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include <gtest/gtest.h>

#include "io/dxf/dxf_test_text.hpp"

namespace {

const char* const kNoLoops = "no closed LWPOLYLINE/CIRCLE entity and no closed chain of LINE/ARC entities found";
constexpr double kPi = 3.14159265358979323846;

DxfBoundary readText(const std::string& text, double arcTolerance = 0.01) {
    DxfImportOptions options;
    options.arcTolerance = arcTolerance;
    return readDxfBoundary(text, options);
}

std::string pairsError(const std::string& text) {
    std::vector<DxfPair> pairs;
    std::string error;
    EXPECT_FALSE(readDxfPairs(text, pairs, error));
    EXPECT_TRUE(pairs.empty());
    return error;
}

std::vector<DxfPair> pairsOf(const std::string& text) {
    std::vector<DxfPair> pairs;
    std::string error;
    EXPECT_TRUE(readDxfPairs(text, pairs, error)) << error;
    return pairs;
}

void expectPoint(const Point3& p, double x, double y, double z) {
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
    EXPECT_EQ(p.z, z);
}

double distanceXY(const Point3& p, double x, double y) { return std::sqrt((p.x - x) * (p.x - x) + (p.y - y) * (p.y - y)); }

/// The chain search written the plain way: every link scans the whole list from the first segment.
std::vector<DxfLoop> chainByFullScan(const std::vector<DxfSegment>& segments, double tolerance) {
    auto match = [&](const Point3& a, const Point3& b) {
        const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
        return dx * dx + dy * dy + dz * dz <= tolerance * tolerance;
    };
    std::vector<bool> used(segments.size(), false);
    std::vector<DxfLoop> loops;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (used[i]) continue;
        used[i] = true;
        DxfLoop chain{segments[i].start};
        chain.insert(chain.end(), segments[i].interior.begin(), segments[i].interior.end());
        chain.push_back(segments[i].end);
        bool closed = false;
        while (!(closed = match(chain.back(), chain.front()))) {
            bool linked = false;
            for (size_t j = 0; j < segments.size() && !linked; ++j) {
                if (used[j]) continue;
                const DxfSegment& s = segments[j];
                if (match(s.start, chain.back())) {
                    chain.insert(chain.end(), s.interior.begin(), s.interior.end());
                    chain.push_back(s.end);
                    linked = true;
                } else if (match(s.end, chain.back())) {
                    chain.insert(chain.end(), s.interior.rbegin(), s.interior.rend());
                    chain.push_back(s.start);
                    linked = true;
                }
                if (linked) used[j] = true;
            }
            if (!linked) break;
        }
        if (closed && chain.size() >= 4) {
            chain.pop_back();
            loops.push_back(chain);
        }
    }
    return loops;
}

TEST(DxfPairs, LineEndsAndTrailingBlankLinesReadTheSame) {
    const std::string base = "0\nSECTION\n 10 \n  1.5\t\n+20\nabc\n";
    const std::vector<DxfPair> pairs = pairsOf(base);
    ASSERT_EQ(pairs.size(), 3u);
    EXPECT_EQ(pairs[0].code, 0);
    EXPECT_EQ(pairs[0].value, "SECTION");
    EXPECT_EQ(pairs[1].code, 10);
    EXPECT_EQ(pairs[1].value, "1.5");
    EXPECT_EQ(pairs[2].code, 20);
    EXPECT_EQ(pairs[2].value, "abc");
    for (const std::string& variant :
         {std::string("0\r\nSECTION\r\n 10 \r\n  1.5\t\r\n+20\r\nabc\r\n"), std::string("0\nSECTION\n 10 \n  1.5\t\n+20\nabc"),
          base + "\n\n  \r\n\t", base + "   "}) {
        const std::vector<DxfPair> other = pairsOf(variant);
        ASSERT_EQ(other.size(), pairs.size()) << variant;
        for (size_t i = 0; i < pairs.size(); ++i) {
            EXPECT_EQ(other[i].code, pairs[i].code);
            EXPECT_EQ(other[i].value, pairs[i].value);
        }
    }
    EXPECT_EQ(trimDxfText(" \t\r\nA B\r\n"), "A B");
    EXPECT_EQ(trimDxfText("\r\n \t"), "");
    EXPECT_TRUE(pairsOf("").empty());
    EXPECT_TRUE(pairsOf("\n \n\r\n").empty());
    // An empty value line inside the file is a value like any other.
    EXPECT_EQ(pairsOf("1\n\n0\nEOF\n")[0].value, "");
}

TEST(DxfPairs, MalformedTextIsReportedWithItsLine) {
    const std::string odd = "malformed DXF: odd number of content lines (expected alternating group-code/value pairs)";
    EXPECT_EQ(pairsError("0\nSECTION\n2\n"), odd);
    EXPECT_EQ(pairsError("0\nSECTION\n2\n\n\n"), odd);
    // A blank line on a code position shifts the pairing.
    EXPECT_EQ(pairsError("0\nSECTION\n\n2\nENTITIES\n0\n"),
              "malformed DXF: expected an integer group code, got '' (line 3)");
    EXPECT_EQ(pairsError("0\nA\n1e3\nB\n"), "malformed DXF: expected an integer group code, got '1e3' (line 3)");
    EXPECT_EQ(pairsError("0\nA\n0\nB\n 10a \r\nC\n"),
              "malformed DXF: expected an integer group code, got '10a' (line 5)");
    EXPECT_EQ(pairsError("-\nA\n"), "malformed DXF: expected an integer group code, got '-' (line 1)");
    // The first bad code ends the reading, whatever follows.
    EXPECT_EQ(pairsError("x\nA\ny\n"), odd);
    EXPECT_EQ(pairsError("x\nA\ny\nB\n"), "malformed DXF: expected an integer group code, got 'x' (line 1)");
    // Codes beyond the 32-bit range are not group codes.
    EXPECT_EQ(pairsError("2147483648\nA\n"),
              "malformed DXF: expected an integer group code, got '2147483648' (line 1)");
    EXPECT_EQ(pairsOf("-2147483648\nA\n2147483647\nB\n-0\nC\n")[0].code, INT32_MIN);
    EXPECT_EQ(pairsOf("2147483647\nB\n")[0].code, INT32_MAX);

    DxfBoundary b = readText("0\nSECTION\n\n2\nENTITIES\n0\n");
    EXPECT_FALSE(b.ok);
    EXPECT_EQ(b.error, "malformed DXF: expected an integer group code, got '' (line 3)");
    EXPECT_EQ(readText("").error, kNoLoops);
    EXPECT_EQ(readText("0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n").error, kNoLoops);
}

TEST(DxfArcs, StepAngleFollowsTheSagitta) {
    EXPECT_NEAR(arcStepAngle(1.0, 0.01), 2.0 * std::acos(0.99), 1e-15);
    EXPECT_NEAR(arcStepAngle(1.0, 0.01), 0.28308, 1e-5);
    EXPECT_NEAR(arcStepAngle(1.0, 0.0), 5.38113, 1e-5);
    EXPECT_EQ(arcStepAngle(1.0, -1.0), arcStepAngle(1.0, 0.0));
    EXPECT_EQ(arcStepAngle(1.0, std::nan("")), arcStepAngle(1.0, 0.0));
    // A tolerance above 1.9 r is capped there.
    EXPECT_EQ(arcStepAngle(2.0, 100.0), arcStepAngle(2.0, 0.0));
    EXPECT_EQ(arcStepAngle(1000.0, 10.0), arcStepAngle(1.0, 0.01));
}

TEST(DxfCircle, PointsRunCounterClockwiseFromPositiveX) {
    DxfBoundary b = readText(DxfText().circle(3.0, 4.0, 1.0).text);
    ASSERT_TRUE(b.ok) << b.error;
    ASSERT_EQ(b.outer.size(), 23u);
    EXPECT_TRUE(b.holes.empty());
    expectPoint(b.outer[0], 4.0, 4.0, 0.0);
    EXPECT_GT(signedAreaXY(b.outer), 0.0);
    for (size_t i = 0; i < b.outer.size(); ++i) {
        EXPECT_NEAR(distanceXY(b.outer[i], 3.0, 4.0), 1.0, 1e-15);
        const double a = 2.0 * kPi * static_cast<double>(i) / 23.0;
        EXPECT_NEAR(b.outer[i].x, 3.0 + std::cos(a), 1e-15);
        EXPECT_NEAR(b.outer[i].y, 4.0 + std::sin(a), 1e-15);
    }
    // Tolerance 0 turns a circle into a triangle.
    DxfBoundary coarse = readText(DxfText().circle(0.0, 0.0, 5.0).text, 0.0);
    ASSERT_TRUE(coarse.ok);
    EXPECT_EQ(coarse.outer.size(), 3u);
    // The centre z is kept.
    DxfBoundary raised = readText("0\nCIRCLE\n10\n1\n20\n2\n30\n-7.5\n40\n2\n");
    ASSERT_TRUE(raised.ok);
    for (const Point3& p : raised.outer) EXPECT_EQ(p.z, -7.5);
    // Without a positive radius there is no loop.
    EXPECT_EQ(readText("0\nCIRCLE\n10\n1\n20\n2\n").error, kNoLoops);
    EXPECT_EQ(readText(DxfText().circle(0.0, 0.0, 0.0).text).error, kNoLoops);
    EXPECT_EQ(readText(DxfText().circle(0.0, 0.0, -2.0).text).error, kNoLoops);
}

TEST(DxfCircle, LargestCircleIsOuterAndTiesGoToTheFirst) {
    for (bool bigFirst : {true, false}) {
        DxfText t;
        if (bigFirst) t.circle(0.0, 0.0, 5.0).circle(1.0, 0.0, 2.0);
        else t.circle(1.0, 0.0, 2.0).circle(0.0, 0.0, 5.0);
        DxfBoundary b = readText(t.text);
        ASSERT_TRUE(b.ok);
        ASSERT_EQ(b.holes.size(), 1u);
        EXPECT_EQ(b.outer[0].x, 5.0);
        EXPECT_EQ(b.holes[0][0].x, 3.0);
    }
    // Equal circles (apart from their height, which takes no part in the area): the first wins.
    DxfBoundary tie = readText("0\nCIRCLE\n30\n1\n40\n5\n0\nCIRCLE\n30\n2\n40\n5\n");
    ASSERT_TRUE(tie.ok);
    EXPECT_EQ(tie.outer[0].z, 1.0);
    ASSERT_EQ(tie.holes.size(), 1u);
    EXPECT_EQ(tie.holes[0][0].z, 2.0);
}

TEST(DxfValues, NumbersAreReadFromTheirLeadingPart) {
    // Radius "2.5e0mm" reads 2.5; a centre x of "abc" keeps its default; "+.5" is 0.5.
    DxfBoundary b = readText("0\nCIRCLE\n10\nabc\n20\n+.5\n40\n2.5e0mm\n", 0.0);
    ASSERT_TRUE(b.ok) << b.error;
    expectPoint(b.outer[0], 2.5, 0.5, 0.0);
    // "1e" has no exponent digits: 1. A repeated group: the last read value wins.
    b = readText("0\nCIRCLE\n40\n7\n40\n1e\n10\n5.\n10\n-\n", 0.0);
    ASSERT_TRUE(b.ok);
    expectPoint(b.outer[0], 6.0, 0.0, 0.0);
    // Numbers beyond the range of a double are not read.
    EXPECT_EQ(readText("0\nCIRCLE\n40\n1e999\n").error, kNoLoops);
    b = readText("0\nCIRCLE\n40\n3\n10\n-1e999\n", 0.0);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.outer[0].x, 3.0);
}

TEST(DxfLwPolyline, ClosedFlagElevationAndVertexCount) {
    const std::vector<std::vector<double>> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    DxfBoundary b = readText(DxfText().lwpolyline(square, 1, 2.5).text);
    ASSERT_TRUE(b.ok) << b.error;
    ASSERT_EQ(b.outer.size(), 4u);
    EXPECT_TRUE(b.holes.empty());
    expectPoint(b.outer[0], 0, 0, 2.5);
    expectPoint(b.outer[1], 10, 0, 2.5);
    expectPoint(b.outer[2], 10, 10, 2.5);
    expectPoint(b.outer[3], 0, 10, 2.5);
    EXPECT_EQ(signedAreaXY(b.outer), 100.0);

    EXPECT_EQ(readText(DxfText().lwpolyline(square, 0).text).error, kNoLoops);
    EXPECT_EQ(readText(DxfText().lwpolyline(square, 128).text).error, kNoLoops);
    EXPECT_TRUE(readText(DxfText().lwpolyline(square, 129).text).ok);
    EXPECT_TRUE(readText(DxfText().lwpolyline(square, -1).text).ok);
    EXPECT_EQ(readText(DxfText().lwpolyline({{0, 0}, {1, 0}}, 1).text).error, kNoLoops);
    EXPECT_EQ(readText(DxfText().lwpolyline({{0, 0}}, 1).text).error, kNoLoops);
    EXPECT_EQ(readText(DxfText().lwpolyline({{0, 0}, {1, 0}, {0, 1}}, 1).text).outer.size(), 3u);

    // Flags: the leading integer ("1x" is 1, "x1" none); a 20 or 42 before the first 10 is
    // ignored; a 38 without a number resets the elevation to 0; a vertex without 20 has y 0.
    const std::string text =
        "0\nLWPOLYLINE\n20\n99\n42\n1\n38\n4\n38\nnone\n70\n1x\n10\n0\n20\n0\n10\n3\n10\n3\n20\n4\n0\nEOF\n";
    b = readText(text);
    ASSERT_TRUE(b.ok) << b.error;
    ASSERT_EQ(b.outer.size(), 3u);
    expectPoint(b.outer[0], 0, 0, 0);
    expectPoint(b.outer[1], 3, 0, 0);
    expectPoint(b.outer[2], 3, 4, 0);
    EXPECT_EQ(readText("0\nLWPOLYLINE\n70\nx1\n10\n0\n10\n3\n20\n0\n10\n3\n20\n4\n").error, kNoLoops);
    // The last 70 wins.
    EXPECT_EQ(readText("0\nLWPOLYLINE\n70\n1\n70\n0\n10\n0\n10\n3\n10\n3\n20\n4\n").error, kNoLoops);
}

TEST(DxfLwPolyline, BulgesBendTheEdgeOutOrIn) {
    // Bulge 0.5 on the right side of a counter-clockwise square: an arc of 4 atan(0.5) about
    // (6.25, 5) of radius 6.25, through (12.5, 5); bulge -0.5 runs about (13.75, 5) through (7.5, 5).
    for (double bulge : {0.5, -0.5}) {
        const std::vector<std::vector<double>> v = {{0, 0}, {10, 0, bulge}, {10, 10}, {0, 10}};
        DxfBoundary b = readText(DxfText().lwpolyline(v, 1, 1.0).text);
        ASSERT_TRUE(b.ok) << b.error;
        ASSERT_GT(b.outer.size(), 4u);
        const size_t arcPoints = b.outer.size() - 4;
        expectPoint(b.outer[1], 10, 0, 1);
        expectPoint(b.outer[2 + arcPoints], 10, 10, 1);
        const double cx = bulge > 0 ? 6.25 : 13.75;
        double previousY = 0.0;
        for (size_t i = 2; i < 2 + arcPoints; ++i) {
            const Point3& p = b.outer[i];
            EXPECT_NEAR(distanceXY(p, cx, 5.0), 6.25, 1e-12);
            if (bulge > 0) EXPECT_GT(p.x, 10.0);
            else EXPECT_LT(p.x, 10.0);
            EXPECT_GT(p.y, previousY);
            EXPECT_EQ(p.z, 1.0);
            previousY = p.y;
        }
        // Chords within the tolerance: half the chord angle gives a sagitta of at most 0.01,
        // and one chord fewer would not do.
        const double theta = 4.0 * std::atan(0.5);
        const double halfStep = theta / (2.0 * static_cast<double>(arcPoints + 1));
        EXPECT_LE(6.25 * (1.0 - std::cos(halfStep)), 0.01);
        EXPECT_GT(6.25 * (1.0 - std::cos(theta / (2.0 * static_cast<double>(arcPoints)))), 0.01);
        const double squareArea = 100.0;
        const double segmentArea = 0.5 * 6.25 * 6.25 * (theta - std::sin(theta));
        EXPECT_NEAR(signedAreaXY(b.outer), bulge > 0 ? squareArea + segmentArea : squareArea - segmentArea, 0.1);
    }
}

TEST(DxfLwPolyline, TwoBulgedVerticesMakeACircle) {
    DxfBoundary b = readText(DxfText().lwpolyline({{0, 0, 1}, {10, 0, 1}}, 1).text);
    ASSERT_TRUE(b.ok) << b.error;
    expectPoint(b.outer[0], 0, 0, 0);
    const size_t half = b.outer.size() / 2;
    expectPoint(b.outer[half], 10, 0, 0);
    for (const Point3& p : b.outer) EXPECT_NEAR(distanceXY(p, 5.0, 0.0), 5.0, 1e-12);
    // Each half is a semicircle counter-clockwise: first below the chord, then above.
    EXPECT_LT(b.outer[1].y, 0.0);
    EXPECT_GT(b.outer[half + 1].y, 0.0);
    const size_t perHalf = static_cast<size_t>(std::ceil(kPi / arcStepAngle(5.0, 0.01)));
    EXPECT_EQ(b.outer.size(), 2 * perHalf);
    // One bulged vertex: a half disc closed by the straight edge back.
    b = readText(DxfText().lwpolyline({{0, 0, 1}, {10, 0}}, 1).text);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.outer.size(), perHalf + 1);
    EXPECT_NEAR(signedAreaXY(b.outer), 0.5 * kPi * 25.0, 0.15);
    // Coincident vertices or a vanishing sagitta add no arc points.
    b = readText(DxfText().lwpolyline({{0, 0}, {10, 0, 1e-17}, {10, 10, 1}, {10, 10}}, 1).text);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.outer.size(), 4u);
    // A two-vertex polyline whose bulge adds no point bounds nothing and is skipped.
    EXPECT_EQ(readText(DxfText().lwpolyline({{0, 0, 1e-17}, {10, 0}}, 1).text).error, kNoLoops);
    EXPECT_EQ(readText(DxfText().lwpolyline({{3, 3, 1}, {3, 3, 1}}, 1).text).error, kNoLoops);
}

TEST(DxfChain, RectangleOfLinesInAnyOrderAndDirection) {
    // A(0,0) B(10,0) C(10,5) D(0,5), written B->A, D->C, D->A, B->C.
    DxfText t;
    t.entitiesBegin().line(10, 0, 0, 0).line(0, 5, 10, 5).line(0, 5, 0, 0).line(10, 0, 10, 5).sectionEnd().end();
    DxfBoundary b = readText(t.text);
    ASSERT_TRUE(b.ok) << b.error;
    ASSERT_EQ(b.outer.size(), 4u);
    EXPECT_TRUE(b.holes.empty());
    expectPoint(b.outer[0], 10, 0, 0);
    expectPoint(b.outer[1], 0, 0, 0);
    expectPoint(b.outer[2], 0, 5, 0);
    expectPoint(b.outer[3], 10, 5, 0);

    // Ends within the join tolerance meet; ends 1e-5 apart do not.
    DxfText near;
    near.line(0, 0, 10, 0).line(10 + 4e-7, 0, 10, 10).line(10, 10, 0, 10).line(0, 10, 0, 3e-7);
    EXPECT_TRUE(readText(near.text).ok);
    DxfText far;
    far.line(0, 0, 10, 0).line(10 + 1e-5, 0, 10, 10).line(10, 10 + 1e-5, 0, 10).line(0, 10 + 1e-5, 0, 1e-5);
    EXPECT_EQ(readText(far.text).error, kNoLoops);
}

TEST(DxfChain, OpenChainsUseUpTheirSegments) {
    // A tail leading into a closed rectangle: the chain from the tail runs around the
    // rectangle, cannot get back to the tail's start and is dropped with every piece.
    DxfText lollipop;
    lollipop.line(-5, -5, 0, 0).line(0, 0, 10, 0).line(10, 0, 10, 5).line(10, 5, 0, 5).line(0, 5, 0, 0);
    EXPECT_EQ(readText(lollipop.text).error, kNoLoops);
    // The same tail after the rectangle: the rectangle closes first.
    DxfText late;
    late.line(0, 0, 10, 0).line(10, 0, 10, 5).line(10, 5, 0, 5).line(0, 5, 0, 0).line(-5, -5, 0, 0);
    DxfBoundary b = readText(late.text);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.outer.size(), 4u);
    // Two pieces closing on each other make fewer than four chain points: no loop.
    EXPECT_EQ(readText(DxfText().line(0, 0, 1, 0).line(1, 0, 0, 0).text).error, kNoLoops);
    // A LINE without coordinates is a zero-length piece at the origin, closed on itself.
    EXPECT_EQ(readText("0\nLINE\n8\n0\n").error, kNoLoops);
}

TEST(DxfChain, ArcsCloseAloneOnlyAsFullCircles) {
    for (double endDeg : {360.0, 0.0}) {
        DxfBoundary b = readText(DxfText().arc(0, 0, 2, 0, endDeg).text);
        ASSERT_TRUE(b.ok) << endDeg;
        EXPECT_EQ(b.outer.size(), static_cast<size_t>(std::ceil(2 * kPi / arcStepAngle(2, 0.01))));
        expectPoint(b.outer[0], 2, 0, 0);
    }
    DxfBoundary b = readText(DxfText().arc(0, 0, 2, 90, 90).text);
    ASSERT_TRUE(b.ok);
    EXPECT_NEAR(b.outer[0].x, 0.0, 1e-15);
    EXPECT_EQ(b.outer[0].y, 2.0);
    EXPECT_EQ(readText(DxfText().arc(0, 0, 2, 0, 90).text).error, kNoLoops);
    // At tolerance 0 a full-circle arc is one interior point between its ends: too short.
    EXPECT_EQ(readText(DxfText().arc(0, 0, 2, 0, 360).text, 0.0).error, kNoLoops);
    // Arcs without a radius are refused.
    EXPECT_EQ(readText("0\nARC\n50\n0\n51\n0\n").error, kNoLoops);
    // End angles far below the start: refused in bounded time rather than lifted forever.
    EXPECT_EQ(readText(DxfText().arc(0, 0, 2, 0, -1e300).text).error, kNoLoops);
    // One turn is added to an end angle below the start: 270 -> 90 runs through 0.
    DxfSegment s;
    size_t cursor = 1;
    DxfPointBudget budget;
    std::vector<DxfPair> pairs = pairsOf(DxfText().arc(0, 0, 1, 270, 90).text);
    ASSERT_TRUE(readArc(pairs, cursor, DxfImportOptions(), budget, s));
    EXPECT_EQ(cursor, pairs.size());
    EXPECT_NEAR(s.start.y, -1.0, 1e-15);
    EXPECT_NEAR(s.end.y, 1.0, 1e-15);
    for (const Point3& p : s.interior) EXPECT_GT(p.x, 0.0);
}

TEST(DxfChain, SlotOfArcsAndLinesWalkedClockwise) {
    // Top line first, left to right: the chain runs clockwise, so both arcs are walked
    // backwards, end to start.
    DxfText t;
    t.line(0, 5, 20, 5).line(0, -5, 20, -5).arc(0, 0, 5, 90, 270).arc(20, 0, 5, 270, 90);
    DxfBoundary b = readText(t.text);
    ASSERT_TRUE(b.ok);
    EXPECT_TRUE(b.holes.empty());
    expectPoint(b.outer[0], 0, 5, 0);
    expectPoint(b.outer[1], 20, 5, 0);
    const double chord = 2.0 * 5.0 * std::sin(arcStepAngle(5.0, 0.01) / 2.0);
    for (size_t i = 0; i < b.outer.size(); ++i) {
        const Point3& p = b.outer[i];
        const Point3& q = b.outer[(i + 1) % b.outer.size()];
        const double length = distanceXY(p, q.x, q.y);
        EXPECT_TRUE(length <= chord + 1e-9 || std::fabs(length - 20.0) < 1e-9) << i;
    }
    EXPECT_NEAR(signedAreaXY(b.outer), -(200.0 + kPi * 25.0), 0.3);
}

TEST(DxfChain, GridSearchMatchesAFullScan) {
    // Pieces between the points of a 4 x 4 lattice, some ends nudged within or beyond the
    // join tolerance, some with interior points: the chains must be exactly those of a
    // search through the whole list.
    uint64_t state = 12345;
    auto next = [&]() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(state >> 33);
    };
    // Offsets that put lattice points on, or just beside, the edges of the search cells.
    const double offsets[] = {0.0, 32e-6, 32e-6 - 3e-7, 1000.0 + 32e-6, -5e5 + 32e-6};
    const double nudges[] = {0.0, 0.0, 4e-7, -4e-7, 9e-7, -9e-7, 1.1e-6, -3e-6};
    for (int trial = 0; trial < 60; ++trial) {
        const double offset = offsets[trial % 5];
        std::vector<DxfSegment> segments;
        const int count = 5 + static_cast<int>(next() % 120);
        for (int i = 0; i < count; ++i) {
            auto lattice = [&]() {
                Point3 p{offset + static_cast<double>(next() % 4), offset + static_cast<double>(next() % 4), 0.0};
                p.x += nudges[next() % 8];
                p.y += nudges[next() % 8];
                if (next() % 8 == 0) p.z += nudges[next() % 8];
                return p;
            };
            DxfSegment s;
            s.start = lattice();
            s.end = lattice();
            const uint32_t inner = next() % 3;
            for (uint32_t k = 0; k < inner; ++k) s.interior.push_back(Point3{100.0 + i, static_cast<double>(k), 1.0});
            segments.push_back(s);
        }
        const std::vector<DxfLoop> fast = chainSegments(segments, 1e-6);
        const std::vector<DxfLoop> slow = chainByFullScan(segments, 1e-6);
        ASSERT_EQ(fast.size(), slow.size()) << trial;
        for (size_t i = 0; i < fast.size(); ++i) {
            ASSERT_EQ(fast[i].size(), slow[i].size());
            for (size_t k = 0; k < fast[i].size(); ++k) {
                expectPoint(fast[i][k], slow[i][k].x, slow[i][k].y, slow[i][k].z);
            }
        }
    }
}

TEST(DxfChain, ManyPiecesChainInLinearTime) {
    // A polygon of 100000 pieces written in a scrambled order: closes into one loop quickly.
    const int n = 100000;
    std::vector<DxfSegment> segments(n);
    for (int k = 0; k < n; ++k) {
        const int i = static_cast<int>((static_cast<int64_t>(k) * 7919) % n);
        const double a0 = 2.0 * kPi * i / n, a1 = 2.0 * kPi * ((i + 1) % n) / n;
        segments[k].start = Point3{100.0 * std::cos(a0), 100.0 * std::sin(a0), 0.0};
        segments[k].end = Point3{100.0 * std::cos(a1), 100.0 * std::sin(a1), 0.0};
        if (k % 2 == 1) std::swap(segments[k].start, segments[k].end);
    }
    const std::vector<DxfLoop> loops = chainSegments(segments, 1e-6);
    ASSERT_EQ(loops.size(), 1u);
    EXPECT_EQ(loops[0].size(), static_cast<size_t>(n));
}

TEST(DxfBoundaryScan, EntitiesCountWhereverTheyStand) {
    // A circle in a block definition counts; lower-case names, POLYLINE and others do not.
    DxfText t;
    t.group(0, "SECTION").group(2, "BLOCKS").group(0, "BLOCK").group(2, "HOLE");
    t.circle(0, 0, 1).group(0, "ENDBLK").sectionEnd();
    t.entitiesBegin().group(0, "circle").number(40, 50).group(0, "POLYLINE").group(70, "1");
    t.group(0, "VERTEX").number(10, 0).group(0, "SEQEND").group(0, "INSERT").group(2, "HOLE");
    t.circle(0, 0, 10).sectionEnd().end();
    DxfBoundary b = readText(t.text);
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_EQ(b.outer[0].x, 10.0);
    ASSERT_EQ(b.holes.size(), 1u);
    EXPECT_EQ(b.holes[0][0].x, 1.0);
}

TEST(DxfBoundaryScan, PolylineAndCircleLoopsComeBeforeChains) {
    // Order found: the circle, the hole polyline, then the chained outline (largest, outer)
    // and the chained small triangle.
    DxfText t;
    t.line(0, 0, 100, 0).line(100, 0, 100, 50).line(50, 60, 51, 60).line(100, 50, 0, 50).line(0, 50, 0, 0);
    t.circle(20, 20, 5).line(51, 60, 50, 61).line(50, 61, 50, 60);
    t.lwpolyline({{60, 10}, {70, 10}, {70, 20}, {60, 20}}, 1);
    DxfBoundary b = readText(t.text);
    ASSERT_TRUE(b.ok);
    ASSERT_EQ(b.outer.size(), 4u);
    expectPoint(b.outer[0], 0, 0, 0);
    ASSERT_EQ(b.holes.size(), 3u);
    EXPECT_EQ(b.holes[0][0].x, 25.0);
    expectPoint(b.holes[1][0], 60, 10, 0);
    expectPoint(b.holes[2][0], 50, 60, 0);
    // A clockwise outer loop wins by its absolute area.
    DxfBoundary cw = readText(DxfText().circle(0, 0, 1).lwpolyline({{0, 0}, {0, 9}, {9, 9}, {9, 0}}, 1).text);
    ASSERT_TRUE(cw.ok);
    EXPECT_EQ(cw.outer.size(), 4u);
    EXPECT_LT(signedAreaXY(cw.outer), 0.0);
}

TEST(DxfBudget, DiscretisationIsBoundedBeforeAllocation) {
    EXPECT_EQ(readText(DxfText().circle(0, 0, 1e6).text, 1e-9).error, kDxfTooManyPointsMessage);
    EXPECT_EQ(readText(DxfText().circle(0, 0, 1).text, 1e-300).error, kDxfTooManyPointsMessage);
    EXPECT_EQ(readText(DxfText().arc(0, 0, 1, 0, 1e15).text).error, kDxfTooManyPointsMessage);
    EXPECT_EQ(readText(DxfText().lwpolyline({{0, 0, 1}, {1e6, 0, 1}}, 1).text, 1e-12).error,
              kDxfTooManyPointsMessage);
    // Many ordinary circles add up.
    DxfText many;
    for (int i = 0; i < 50; ++i) many.circle(0, 0, 1000.0 + i);
    EXPECT_EQ(readText(many.text, 1e-6).error, kDxfTooManyPointsMessage);
    EXPECT_TRUE(readText(many.text, 1e-2).ok);
    // One circle of about 87000 points is accepted.
    DxfBoundary fine = readText(DxfText().circle(0, 0, 1000).text, 6.5e-7);
    ASSERT_TRUE(fine.ok) << fine.error;
    EXPECT_GT(fine.outer.size(), 80000u);

    // The budget is charged exactly: a 23-point circle fits 23 and not 22.
    const std::vector<DxfPair> pairs = pairsOf(DxfText().circle(0, 0, 1).text);
    DxfPointBudget room{23, false};
    size_t cursor = 1;
    EXPECT_EQ(readCircle(pairs, cursor, DxfImportOptions(), room).size(), 23u);
    EXPECT_FALSE(room.exceeded);
    EXPECT_EQ(room.remaining, 0);
    DxfPointBudget tight{22, false};
    cursor = 1;
    EXPECT_TRUE(readCircle(pairs, cursor, DxfImportOptions(), tight).empty());
    EXPECT_TRUE(tight.exceeded);
    const std::vector<DxfPair> linePairs = pairsOf(DxfText().line(0, 0, 1, 1).text);
    DxfPointBudget one{1, false};
    cursor = 1;
    readLine(linePairs, cursor, one);
    EXPECT_TRUE(one.exceeded);
}

TEST(DxfBoundaryScan, CoordinatesOutOfRangeAreSkipped) {
    // Centre and radius near the largest double: the circle's points overflow and the loop
    // is unusable; the finite circle beside it is still read.
    DxfText t;
    t.circle(1e308, 0, 1e308).circle(0, 0, 1);
    DxfBoundary b = readText(t.text, 0.0);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(b.outer[0].x, 1.0);
    EXPECT_TRUE(b.holes.empty());
    EXPECT_EQ(readText(DxfText().arc(1e308, 0, 1e308, 0, 360).text, 0.0).error, kNoLoops);
}

}  // namespace

namespace {

std::string plateDrawing() {
    std::FILE* f = std::fopen((std::string(QUILM_TEST_DATA_DIR) + "/job/dxf_plate.dxf").c_str(), "rb");
    std::string text;
    if (f == nullptr) return text;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

void expectCleanResult(const DxfBoundary& b) {
    if (b.ok) {
        EXPECT_GE(b.outer.size(), 3u);
        EXPECT_TRUE(b.error.empty());
    } else {
        EXPECT_TRUE(b.outer.empty());
        EXPECT_TRUE(b.holes.empty());
        EXPECT_FALSE(b.error.empty());
    }
}

TEST(DxfBoundaryScan, TruncatedAndCorruptedDrawingsFailCleanly) {
    const std::string plate = plateDrawing();
    ASSERT_FALSE(plate.empty());
    EXPECT_TRUE(readText(plate).ok);
    for (size_t length = 0; length < plate.size(); length += 3) expectCleanResult(readText(plate.substr(0, length)));
    const char replacements[] = {'\n', '-', 'e', '9', ' ', '0', '\0'};
    for (size_t at = 0; at < plate.size(); at += 5) {
        std::string corrupted = plate;
        corrupted[at] = replacements[at % sizeof replacements];
        expectCleanResult(readText(corrupted));
    }
}

}  // namespace
