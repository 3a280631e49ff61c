// The DXF reader's bounds met at their values: the boundary point budget of a drawing and
// the whole turns an ARC's end angle is lifted by.

#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

#include "io/dxf/dxf_reader.hpp"
#include "io/dxf/dxf_test_text.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

DxfBoundary readWith(const std::string& text, double arcTolerance) {
    DxfImportOptions options;
    options.arcTolerance = arcTolerance;
    return readDxfBoundary(text, options);
}

std::vector<DxfPair> pairsOf(const std::string& text) {
    std::vector<DxfPair> pairs;
    std::string error;
    EXPECT_TRUE(readDxfPairs(text, pairs, error)) << error;
    return pairs;
}

/// A closed polyline of `count` straight vertices on a circle of radius 0.5 about the origin.
DxfText& polygon(DxfText& text, int64_t count) {
    std::vector<std::vector<double>> vertices;
    for (int64_t i = 0; i < count; ++i) {
        const double a = 2.0 * kPi * static_cast<double>(i) / static_cast<double>(count);
        vertices.push_back({0.5 * std::cos(a), 0.5 * std::sin(a)});
    }
    return text.lwpolyline(vertices, 1);
}

TEST(DxfBounds, DrawingPointsStopExactlyAtTheBound) {
    static_assert(kMaxDxfPoints == 100000, "the README's Limits table gives 100,000");
    // A circle of radius 1 cut into a little under 100,000 chords, one per step angle,
    // and a polygon hole filling the budget to the point.
    const double tolerance = 5e-10;
    const int64_t circlePoints = static_cast<int64_t>(std::ceil(2.0 * kPi / arcStepAngle(1.0, tolerance)));
    ASSERT_GT(circlePoints, 90000);
    ASSERT_LT(circlePoints, kMaxDxfPoints - 3);

    DxfText full;
    full.circle(0, 0, 1);
    polygon(full, kMaxDxfPoints - circlePoints);
    const DxfBoundary atBound = readWith(full.text, tolerance);
    ASSERT_TRUE(atBound.ok) << atBound.error;
    EXPECT_EQ(static_cast<int64_t>(atBound.outer.size()), circlePoints);
    ASSERT_EQ(atBound.holes.size(), 1u);
    EXPECT_EQ(static_cast<int64_t>(atBound.outer.size() + atBound.holes[0].size()), kMaxDxfPoints);

    // One point more: the polygon comes first, so the circle is refused before its points.
    DxfText over;
    polygon(over, kMaxDxfPoints - circlePoints + 1);
    over.circle(0, 0, 1);
    const DxfBoundary past = readWith(over.text, tolerance);
    EXPECT_FALSE(past.ok);
    EXPECT_EQ(past.error, kDxfTooManyPointsMessage);
    EXPECT_TRUE(past.outer.empty());
    EXPECT_TRUE(past.holes.empty());
}

TEST(DxfBounds, HugeStepCountsAreRefusedBeforeTheirPoints) {
    // Circle, arc and bulge each asking for some 10^15 chords or more; a line past the
    // budget's end; none of them is generated.
    EXPECT_EQ(readWith(DxfText().circle(0, 0, 1e300).text, 1e-300).error, kDxfTooManyPointsMessage);
    EXPECT_EQ(readWith(DxfText().arc(0, 0, 1, 0, 1e300).text, 0.01).error, kDxfTooManyPointsMessage);
    EXPECT_EQ(readWith(DxfText().lwpolyline({{0, 0, 1}, {1e100, 0, 1}}, 1).text, 1e-200).error,
              kDxfTooManyPointsMessage);
    const std::vector<DxfPair> bulge = pairsOf(DxfText().lwpolyline({{0, 0, 1}, {1, 0, 1}}, 1).text);
    DxfPointBudget budget;
    size_t cursor = 1;
    EXPECT_TRUE(readLwPolyline(bulge, cursor, DxfImportOptions{1e-300, 1e-6}, budget).empty());
    EXPECT_TRUE(budget.exceeded);
}

TEST(DxfBounds, ArcEndAnglesAreLiftedByAtMostAThousandTurns) {
    // kMaxSweepTurns: an end angle 359,999 degrees below the start takes 1,000 turns to give
    // a sweep of one degree; 360,001 degrees below would need a 1,001st and the arc is unusable.
    DxfPointBudget budget;
    DxfSegment segment;
    const std::vector<DxfPair> within = pairsOf(DxfText().arc(0, 0, 1, 10, 10 - 359999).text);
    size_t cursor = 1;
    ASSERT_TRUE(readArc(within, cursor, DxfImportOptions(), budget, segment));
    EXPECT_NEAR(segment.start.x, std::cos(10 * kPi / 180), 1e-12);
    EXPECT_NEAR(segment.end.x, std::cos(11 * kPi / 180), 1e-8);
    EXPECT_NEAR(segment.end.y, std::sin(11 * kPi / 180), 1e-8);

    for (double end : {10.0 - 360001.0, -1e300}) {
        const std::vector<DxfPair> beyond = pairsOf(DxfText().arc(0, 0, 1, 10, end).text);
        cursor = 1;
        const int64_t before = budget.remaining;
        EXPECT_FALSE(readArc(beyond, cursor, DxfImportOptions(), budget, segment)) << end;
        EXPECT_EQ(budget.remaining, before);  // nothing was charged for it
        EXPECT_EQ(cursor, beyond.size());
    }
    // Such an arc is skipped: alone it leaves the drawing without a loop.
    EXPECT_FALSE(readWith(DxfText().arc(0, 0, 1, 10, -1e300).text, 0.01).ok);
}

}  // namespace
