#include "convert/quality.hpp"

#include <cmath>

#include <gtest/gtest.h>

#include "json/json.hpp"

namespace {

const CellKind& area(const char* name) { return *findAreaKind(name); }
const CellKind& solid(const char* name) { return *findSolidKind(name); }

TEST(Quality, TriangleAngles) {
    const double s3 = std::sqrt(3.0);
    Point3 equilateral[3] = {{0, 0, 0}, {2, 0, 0}, {1, s3, 0}};
    EXPECT_NEAR(elementFigure(QualityFigure::MinAngle, area("CST"), equilateral), 60.0, 1e-12);
    EXPECT_NEAR(elementFigure(QualityFigure::MaxAngle, area("CST"), equilateral), 60.0, 1e-12);
    // A right triangle with legs 1 and sqrt(3), turned and tilted: 30, 60, 90 degrees.
    const double r2 = std::sqrt(0.5);
    Point3 right[3] = {{0, 0, 0}, {r2, r2, 0}, {-s3 * r2, s3 * r2, 0}};
    for (Point3& p : right) p = Point3{p.x, p.y * 0.6, p.y * 0.8};
    EXPECT_NEAR(elementFigure(QualityFigure::MinAngle, area("TRI6"), right), 30.0, 1e-12);
    EXPECT_NEAR(elementFigure(QualityFigure::MaxAngle, area("TRI6"), right), 90.0, 1e-12);
    EXPECT_NEAR(elementMeasure(area("CST"), right), 0.5 * s3, 1e-15);
    // Collapsed: a zero edge gives a zero angle, not NaN.
    Point3 flat[3] = {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
    EXPECT_EQ(elementFigure(QualityFigure::MinAngle, area("CST"), flat), 0.0);
    EXPECT_EQ(elementMeasure(area("CST"), flat), 0.0);
}

TEST(Quality, QuadrilateralAnglesAndArea) {
    Point3 square[4] = {{0, 0, 1}, {2, 0, 1}, {2, 2, 1}, {0, 2, 1}};
    EXPECT_NEAR(elementFigure(QualityFigure::MinAngle, area("QUAD"), square), 90.0, 1e-12);
    EXPECT_NEAR(elementMeasure(area("QUAD8"), square), 4.0, 1e-12);
    // A rhombus with a 45 degree corner.
    const double h = std::sqrt(0.5);
    Point3 rhombus[4] = {{0, 0, 0}, {1, 0, 0}, {1 + h, h, 0}, {h, h, 0}};
    EXPECT_NEAR(elementFigure(QualityFigure::MinAngle, area("QUAD"), rhombus), 45.0, 1e-12);
    EXPECT_NEAR(elementFigure(QualityFigure::MaxAngle, area("QUAD"), rhombus), 135.0, 1e-12);
    EXPECT_NEAR(elementMeasure(area("QUAD"), rhombus), h, 1e-15);
}

TEST(Quality, RegularTetrahedron) {
    // Alternate corners of a cube, ordered so that orient3d is positive.
    Point3 t[4] = {{1, 1, 1}, {1, -1, -1}, {-1, 1, -1}, {-1, -1, 1}};
    EXPECT_NEAR(elementFigure(QualityFigure::RadiusEdge, solid("TET4"), t), std::sqrt(6.0) / 4.0, 1e-15);
    EXPECT_NEAR(elementFigure(QualityFigure::MinDihedral, solid("TET10"), t), std::acos(1.0 / 3.0) * 180.0 / M_PI, 1e-12);
    // Cube volume 8 less four corner tetrahedra of 4/3 each.
    double v = elementMeasure(solid("TET4"), t);
    EXPECT_NEAR(std::fabs(v), 8.0 / 3.0, 1e-14);
    EXPECT_GT(v, 0.0) << "orient3d-positive corners must give a positive volume";
    Point3 mirrored[4] = {t[0], t[2], t[1], t[3]};
    EXPECT_LT(elementMeasure(solid("TET4"), mirrored), 0.0);
}

TEST(Quality, SliverAndFlatTetrahedra) {
    // A sliver: four nearly coplanar points around a square. Good radius-edge ratio,
    // dihedral angle near zero.
    Point3 sliver[4] = {{0, 0, 0}, {1, 1, 0}, {1, 0, 0.01}, {0, 1, 0.01}};
    EXPECT_LT(elementFigure(QualityFigure::RadiusEdge, solid("TET4"), sliver), 1.0);
    EXPECT_LT(elementFigure(QualityFigure::MinDihedral, solid("TET4"), sliver), 2.0);
    Point3 flat[4] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    EXPECT_TRUE(std::isinf(elementFigure(QualityFigure::RadiusEdge, solid("TET4"), flat)));
    EXPECT_EQ(elementFigure(QualityFigure::MinDihedral, solid("TET4"), flat), 0.0);
}

TEST(Quality, HexahedronJacobianAndVolume) {
    Point3 cube[8] = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {0, 0, 2}, {2, 0, 2}, {2, 2, 2}, {0, 2, 2}};
    EXPECT_NEAR(elementFigure(QualityFigure::ScaledJacobian, solid("HEX8"), cube), 1.0, 1e-15);
    EXPECT_NEAR(elementMeasure(solid("HEX8"), cube), 8.0, 1e-13);
    // Sheared by 45 degrees in x over z: scaled Jacobian sin(45), volume unchanged.
    Point3 sheared[8];
    for (int i = 0; i < 8; ++i) sheared[i] = Point3{cube[i].x + cube[i].z, cube[i].y, cube[i].z};
    EXPECT_NEAR(elementFigure(QualityFigure::ScaledJacobian, solid("HEX20"), sheared), std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(elementMeasure(solid("HEX8"), sheared), 8.0, 1e-13);
    // A trapezoidal prism (top face shrunk): the exact trilinear volume is a frustum's.
    Point3 frustum[8] = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {0.5, 0.5, 1}, {1.5, 0.5, 1}, {1.5, 1.5, 1}, {0.5, 1.5, 1}};
    EXPECT_NEAR(elementMeasure(solid("HEX8"), frustum), (4.0 + 1.0 + 2.0) / 3.0, 1e-13);
    // Bottom and top exchanged: inverted.
    Point3 inverted[8] = {cube[4], cube[5], cube[6], cube[7], cube[0], cube[1], cube[2], cube[3]};
    EXPECT_NEAR(elementFigure(QualityFigure::ScaledJacobian, solid("HEX8"), inverted), -1.0, 1e-15);
    EXPECT_LT(elementMeasure(solid("HEX8"), inverted), 0.0);
}

LoadedModel load(const std::string& text) {
    LoadedModel m;
    std::string error;
    EXPECT_TRUE(readModelText(text, m, error)) << error;
    return m;
}

// A unit square of two CSTs, and an inverted TET4 beside it (node 12 only widens the box).
const char* kMixed =
    "{\"nodes\": [{\"id\": 1, \"x\": 0, \"y\": 0, \"z\": 0}, {\"id\": 2, \"x\": 1, \"y\": 0, \"z\": 0},"
    " {\"id\": 3, \"x\": 1, \"y\": 1, \"z\": 0}, {\"id\": 4, \"x\": 0, \"y\": 1, \"z\": 0},"
    " {\"id\": 5, \"x\": 3, \"y\": 0, \"z\": 0}, {\"id\": 6, \"x\": 4, \"y\": 0, \"z\": 0},"
    " {\"id\": 7, \"x\": 4, \"y\": 1, \"z\": 0}, {\"id\": 8, \"x\": 3, \"y\": 1, \"z\": 0},"
    " {\"id\": 9, \"x\": 3, \"y\": 0, \"z\": 1}, {\"id\": 10, \"x\": 4, \"y\": 0, \"z\": 1},"
    " {\"id\": 11, \"x\": 4, \"y\": 1, \"z\": 1}, {\"id\": 12, \"x\": 3, \"y\": 1, \"z\": -2}],"
    " \"elements\": [],"
    " \"areas\": [{\"id\": 1, \"kind\": \"CST\", \"nodes\": [1, 2, 3], \"behavior\": \"membrane\", \"thickness\": 0,"
    " \"matId\": 0, \"secId\": 0, \"drilling\": false}, {\"id\": 2, \"kind\": \"CST\", \"nodes\": [1, 3, 4],"
    " \"behavior\": \"membrane\", \"thickness\": 0, \"matId\": 0, \"secId\": 0, \"drilling\": false}],"
    " \"solids\": [{\"id\": 1, \"kind\": \"TET4\", \"nodes\": [5, 6, 8, 9], \"matId\": 0}]}";

TEST(QualityReport, CountsBoxAreaVolumeAndFigures) {
    QualityReport r = buildQualityReport(load(kMixed));
    EXPECT_EQ(r.nodes, 12u);
    ASSERT_TRUE(r.hasBox);
    EXPECT_EQ(r.boxMin.z, -2.0);
    EXPECT_EQ(r.boxMax.x, 4.0);
    EXPECT_NEAR(r.totalArea, 1.0, 1e-15);
    // (5, 6, 8) turn left seen from above and 9 lies above: the wrong side, inverted.
    EXPECT_NEAR(r.totalVolume, -1.0 / 6.0, 1e-15);
    ASSERT_EQ(r.kinds.size(), 2u);
    EXPECT_STREQ(r.kinds[0].kind->name, "CST");
    EXPECT_EQ(r.kinds[0].count, 2u);
    ASSERT_EQ(r.kinds[0].figures.size(), 2u);
    EXPECT_NEAR(r.kinds[0].figures[0].min, 45.0, 1e-12);
    EXPECT_NEAR(r.kinds[0].figures[1].max, 90.0, 1e-12);
    EXPECT_STREQ(r.kinds[1].kind->name, "TET4");
    EXPECT_EQ(r.kinds[1].inverted, 1u);
}

TEST(QualityReport, JsonParsesAndCarriesTheFigures) {
    std::string text = formatReportJson(buildQualityReport(load(kMixed)), "a \"quoted\"\\name");
    JsonValue v;
    std::string error;
    ASSERT_TRUE(parseJson(text, v, error)) << error << "\n" << text;
    EXPECT_EQ(findMember(v, "model")->text, "a \"quoted\"\\name");
    EXPECT_EQ(findMember(v, "nodes")->number, 12.0);
    EXPECT_EQ(findMember(*findMember(v, "boundingBox"), "min")->items[2].number, -2.0);
    const JsonValue& kinds = *findMember(v, "kinds");
    ASSERT_EQ(kinds.items.size(), 2u);
    EXPECT_EQ(findMember(kinds.items[1], "inverted")->number, 1.0);
    EXPECT_EQ(findMember(kinds.items[0], "inverted"), nullptr);
    const JsonValue* minAngle = findMember(*findMember(kinds.items[0], "figures"), "minAngle");
    ASSERT_NE(minAngle, nullptr);
    EXPECT_NEAR(findMember(*minAngle, "mean")->number, 45.0, 1e-12);
}

TEST(QualityReport, TableIsAligned) {
    std::string table = formatReportTable(buildQualityReport(load(kMixed)), "m.s3d");
    EXPECT_NE(table.find("model         m.s3d\n"), std::string::npos) << table;
    EXPECT_NE(table.find("bounding box  (0, 0, -2) to (4, 1, 1)\n"), std::string::npos) << table;
    // Every row of the figure table puts the figure column at the same place.
    size_t header = table.find("kind  ");
    ASSERT_NE(header, std::string::npos) << table;
    size_t figureColumn = table.find("figure", header) - header;
    for (const char* title : {"min angle (deg)", "max angle (deg)", "radius-edge ratio", "min dihedral (deg)"}) {
        size_t at = table.find(title);
        ASSERT_NE(at, std::string::npos) << title;
        size_t lineStart = table.rfind('\n', at) + 1;
        EXPECT_EQ(at - lineStart, figureColumn) << title << "\n" << table;
    }
}

TEST(QualityReport, EmptyModel) {
    QualityReport r = buildQualityReport(load("{\"nodes\": [], \"elements\": [], \"areas\": [], \"solids\": []}"));
    EXPECT_FALSE(r.hasBox);
    std::string json = formatReportJson(r, "e");
    JsonValue v;
    std::string error;
    ASSERT_TRUE(parseJson(json, v, error)) << json;
    EXPECT_EQ(findMember(v, "boundingBox")->kind, JsonKind::Null);
    EXPECT_NE(formatReportTable(r, "e").find("no elements"), std::string::npos);
}

}  // namespace
