// The plane frame: Newell normal, reference axis rule and the maps between space and plane.

#include "mesh2d/plane_frame.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void expectPoint(const Point3& p, double x, double y, double z) {
    EXPECT_EQ(p.x, x);
    EXPECT_EQ(p.y, y);
    EXPECT_EQ(p.z, z);
}

double dot(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

TEST(FitPlaneFrame, CounterClockwiseSquareInXyUsesTheXAxisAsReference) {
    // Normal (0, 0, 1); its x and y components tie at 0, so the x axis is the reference:
    // u = x-axis cross normal = (0, -1, 0), v = normal cross u = (1, 0, 0).
    PlaneFrame f;
    ASSERT_TRUE(fitPlaneFrame({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, f));
    expectPoint(f.origin, 0.5, 0.5, 0);
    expectPoint(f.normal, 0, 0, 1);
    expectPoint(f.u, 0, -1, 0);
    expectPoint(f.v, 1, 0, 0);
    const Point2 q = projectToFrame(f, {1, 0, 0});
    EXPECT_EQ(q.x, 0.5);
    EXPECT_EQ(q.y, 0.5);
}

TEST(FitPlaneFrame, ReferenceAxisIsTheOneOfTheSmallestNormalComponent) {
    PlaneFrame f;
    // Plane x = 0, normal (1, 0, 0): y and z tie, y is taken; u = y cross n = (0, 0, -1).
    ASSERT_TRUE(fitPlaneFrame({{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}, f));
    expectPoint(f.normal, 1, 0, 0);
    expectPoint(f.u, 0, 0, -1);
    expectPoint(f.v, 0, 1, 0);
    // Vertical plane x = y: the normal has no z component, so z is the reference,
    // u = z cross normal is horizontal and v is vertical.
    ASSERT_TRUE(fitPlaneFrame({{0, 0, 0}, {1, 1, 0}, {1, 1, 1}, {0, 0, 1}}, f));
    EXPECT_EQ(f.normal.z, 0.0);
    EXPECT_EQ(f.u.z, 0.0);
    EXPECT_NEAR(std::fabs(f.v.z), 1.0, 1e-15);
}

TEST(FitPlaneFrame, TiltedLoopGivesAnOrthonormalRightHandedFrame) {
    const std::vector<Point3> loop = {{1, 2, 3}, {4, 2.5, 4}, {3.5, 6, 2}, {0.5, 5, 1.5}};
    PlaneFrame f;
    ASSERT_TRUE(fitPlaneFrame(loop, f));
    EXPECT_NEAR(dot(f.u, f.u), 1.0, 1e-15);
    EXPECT_NEAR(dot(f.v, f.v), 1.0, 1e-15);
    EXPECT_NEAR(dot(f.normal, f.normal), 1.0, 1e-15);
    EXPECT_NEAR(dot(f.u, f.v), 0.0, 1e-15);
    EXPECT_NEAR(dot(f.u, f.normal), 0.0, 1e-15);
    // u x v = normal
    EXPECT_NEAR(f.u.y * f.v.z - f.u.z * f.v.y, f.normal.x, 1e-15);
    EXPECT_NEAR(f.u.z * f.v.x - f.u.x * f.v.z, f.normal.y, 1e-15);
    EXPECT_NEAR(f.u.x * f.v.y - f.u.y * f.v.x, f.normal.z, 1e-15);
    // The loop seen from the normal runs counter-clockwise in the plane: positive area.
    double area = 0;
    for (size_t i = 0; i < loop.size(); ++i) {
        const Point2 a = projectToFrame(f, loop[i]);
        const Point2 b = projectToFrame(f, loop[(i + 1) % loop.size()]);
        area += a.x * b.y - b.x * a.y;
    }
    EXPECT_GT(area, 0.0);
}

TEST(FitPlaneFrame, DegenerateLoopsFail) {
    PlaneFrame f;
    EXPECT_FALSE(fitPlaneFrame({{0, 0, 0}, {1, 1, 1}}, f));
    EXPECT_FALSE(fitPlaneFrame({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, f));
    EXPECT_FALSE(fitPlaneFrame({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, f));
    EXPECT_FALSE(fitPlaneFrame({{0, 0, 0}, {1, 0, 0}, {0, INFINITY, 0}}, f));
}

TEST(PlaneMaps, UnprojectInvertsProjectAndDeviationMeasuresDistance) {
    PlaneFrame f;
    ASSERT_TRUE(fitPlaneFrame({{0, 0, 1}, {2, 0, 2}, {2, 2, 2}, {0, 2, 1}}, f));
    const Point3 p{1.25, 0.75, 1.625};  // on the plane z = 1 + x / 2
    const Point3 back = unprojectFromFrame(f, projectToFrame(f, p));
    EXPECT_NEAR(back.x, p.x, 1e-15);
    EXPECT_NEAR(back.y, p.y, 1e-15);
    EXPECT_NEAR(back.z, p.z, 1e-15);
    EXPECT_EQ(planeDeviationOf(f, {}), 0.0);
    EXPECT_NEAR(planeDeviationOf(f, {p}), 0.0, 1e-15);
    // One unit straight up from the plane is 2 / sqrt(5) away from it.
    EXPECT_NEAR(planeDeviationOf(f, {p, {1.25, 0.75, 2.625}}), 2 / std::sqrt(5.0), 1e-15);
    const std::vector<Point2> loop = projectLoop(f, {p, {0, 0, 1}});
    ASSERT_EQ(loop.size(), 2u);
    EXPECT_EQ(loop[1].x, projectToFrame(f, {0, 0, 1}).x);
}

}  // namespace
