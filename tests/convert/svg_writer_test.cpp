#include "convert/svg_writer.hpp"

#include <cstdio>

#include <gtest/gtest.h>

namespace {

LoadedModel load(const std::string& text) {
    LoadedModel m;
    std::string error;
    EXPECT_TRUE(readModelText(text, m, error)) << error;
    return m;
}

std::string nodesText(const std::vector<Point3>& points) {
    std::string t;
    for (size_t i = 0; i < points.size(); ++i) {
        char buf[160];
        std::snprintf(buf, sizeof buf, "%s{\"id\": %zu, \"x\": %.17g, \"y\": %.17g, \"z\": %.17g}", i ? ", " : "", i + 1,
                      points[i].x, points[i].y, points[i].z);
        t += buf;
    }
    return t;
}

std::string areaText(int id, const char* kind, const std::vector<int>& nodes) {
    std::string t = "{\"id\": " + std::to_string(id) + ", \"kind\": \"" + kind + "\", \"nodes\": [";
    for (size_t i = 0; i < nodes.size(); ++i) t += (i ? ", " : "") + std::to_string(nodes[i]);
    return t + "], \"behavior\": \"membrane\", \"thickness\": 0, \"matId\": 0, \"secId\": 0, \"drilling\": false}";
}

std::string modelText(const std::vector<Point3>& points, const std::string& areas, const std::string& solids) {
    return "{\"nodes\": [" + nodesText(points) + "], \"elements\": [], \"areas\": [" + areas + "], \"solids\": [" +
           solids + "]}";
}

struct Picture {
    std::string svg;
    SvgSummary summary;
};

Picture draw(const LoadedModel& m, SvgOptions options = SvgOptions{}) {
    Picture p;
    TextSink sink;
    std::string error;
    EXPECT_TRUE(writeSvg(m, options, sink, p.summary, error)) << error;
    sink.flush();
    p.svg = sink.buffer;
    return p;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::vector<Point3> boxCorners(double x0, double x1) {
    return {{x0, 0, 0}, {x1, 0, 0}, {x1, 1, 0}, {x0, 1, 0}, {x0, 0, 1}, {x1, 0, 1}, {x1, 1, 1}, {x0, 1, 1}};
}

TEST(SvgWriter, CubeShowsItsThreeFacesTowardTheViewer) {
    LoadedModel m = load(modelText(boxCorners(0, 1), "", "{\"id\": 1, \"kind\": \"HEX8\", \"nodes\": [1, 2, 3, 4, 5, 6, 7, 8], \"matId\": 0}"));
    Picture p = draw(m);
    EXPECT_TRUE(p.summary.isometric);
    EXPECT_EQ(p.summary.facesDrawn, 3u);
    EXPECT_EQ(count(p.svg, "<path "), 3u);
    EXPECT_EQ(p.summary.shading, "scaled Jacobian");
    // Seen from (1, -1, 1) with z up, the corner (0, 1, 1) is the highest point of the
    // picture (at the top margin, y = 20) and only the top face of the visible three has it.
    EXPECT_EQ(count(p.svg, " 20.00"), 1u) << p.svg;
}

TEST(SvgWriter, InnerFacesAreNotDrawn) {
    // Two cubes side by side sharing the face x = 1: 10 boundary faces, of which the top
    // two, the front two and the right one face the viewer.
    std::vector<Point3> pts = boxCorners(0, 1);
    for (const Point3& q : boxCorners(1, 2)) pts.push_back(q);
    std::string solids = "{\"id\": 1, \"kind\": \"HEX8\", \"nodes\": [1, 2, 3, 4, 5, 6, 7, 8], \"matId\": 0}, "
                         "{\"id\": 2, \"kind\": \"HEX8\", \"nodes\": [2, 10, 11, 3, 6, 14, 15, 7], \"matId\": 0}";
    Picture p = draw(load(modelText(pts, "", solids)));
    EXPECT_EQ(p.summary.facesDrawn, 5u);
}

TEST(SvgWriter, MirroredSolidsAreCulledTheSameWay) {
    // Culling looks at the face's side away from the solid's centre, not at the node order,
    // so a hexahedron with its bottom walked clockwise is drawn with the same three faces.
    LoadedModel m = load(modelText(boxCorners(0, 1), "", "{\"id\": 1, \"kind\": \"HEX8\", \"nodes\": [1, 4, 3, 2, 5, 8, 7, 6], \"matId\": 0}"));
    Picture p = draw(m);
    EXPECT_EQ(p.summary.facesDrawn, 3u);
    EXPECT_NE(p.svg.find("worst -1,"), std::string::npos) << "an inverted hexahedron has scaled Jacobian -1";
}

TEST(SvgWriter, FlatAreasAreDrawnInTheirPlaneAndShadedByQuality) {
    // Two triangles in the plane y = 2: an equilateral one and a needle.
    std::vector<Point3> pts = {{0, 2, 0}, {2, 2, 0}, {1, 2, 1.7320508075688772}, {3, 2, 0}, {13, 2, 0}, {8, 2, 0.2}};
    LoadedModel m = load(modelText(pts, areaText(1, "CST", {1, 2, 3}) + ", " + areaText(2, "CST", {4, 5, 6}), ""));
    Picture p = draw(m);
    EXPECT_FALSE(p.summary.isometric);
    EXPECT_EQ(p.summary.shading, "min angle (deg)");
    EXPECT_NE(p.svg.find("fill=\"#006837\""), std::string::npos);  // best class
    EXPECT_NE(p.svg.find("fill=\"#a50026\""), std::string::npos);  // worst class
    // The front view of the plane y = 2 keeps x to the right and z up: node 3 (the apex,
    // z = 1.73) is drawn at the top margin, nodes 1 and 2 at the bottom of the drawing.
    EXPECT_NE(p.svg.find(" 20.00Z"), std::string::npos) << p.svg;
    EXPECT_NE(p.svg.find("worst 2.29"), std::string::npos) << p.svg;
}

TEST(SvgWriter, QuadraticSidesAreCurves) {
    // A TRI6 whose mid-side node of edge 0-1 is pushed out of line.
    std::vector<Point3> pts = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {1, -0.5, 0}, {1, 1, 0}, {0, 1, 0}};
    Picture p = draw(load(modelText(pts, areaText(1, "TRI6", {1, 2, 3, 4, 5, 6}), "")));
    EXPECT_EQ(count(p.svg, "Q"), 3u);
    // Control point of the bent side: 2m - (a + b) / 2 lies twice as far out as m; with
    // the picture's scale of 960 / 2.5 per unit, m is 192 units below the side a-b.
    size_t q = p.svg.find('Q');
    ASSERT_NE(q, std::string::npos);
    double cx = 0, cy = 0;
    ASSERT_EQ(std::sscanf(p.svg.c_str() + q + 1, "%lf %lf", &cx, &cy), 2);
    size_t mPos = p.svg.rfind('M', q);
    double ax = 0, ay = 0;
    ASSERT_EQ(std::sscanf(p.svg.c_str() + mPos + 1, "%lf %lf", &ax, &ay), 2);
    EXPECT_NEAR(cx - ax, 384.0, 0.02);
    EXPECT_NEAR(cy - ay, 384.0, 0.02);
}

TEST(SvgWriter, PlainAndNotApplicableColours) {
    std::vector<Point3> pts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    LoadedModel m = load(modelText(pts, areaText(1, "CST", {1, 2, 3}), ""));
    SvgOptions plain;
    plain.shade = false;
    Picture p = draw(m, plain);
    EXPECT_NE(p.svg.find("fill=\"#b8cde0\""), std::string::npos);
    EXPECT_EQ(p.svg.find("fill=\"#a50026\""), std::string::npos) << "no colour scale in an unshaded picture";
    SvgOptions dihedral;
    dihedral.figureGiven = true;
    dihedral.figure = QualityFigure::MinDihedral;
    Picture g = draw(m, dihedral);
    EXPECT_NE(g.svg.find("<path fill=\"#d0d0d0\""), std::string::npos);
    EXPECT_NE(g.svg.find("no element of this model has this figure; 1 elements without this figure"), std::string::npos);
}

TEST(SvgWriter, AreasOutOfOnePlaneAreDrawnIsometric) {
    std::vector<Point3> pts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    Picture p = draw(load(modelText(pts, areaText(1, "CST", {1, 2, 3}) + ", " + areaText(2, "CST", {1, 2, 4}), "")));
    EXPECT_TRUE(p.summary.isometric);
    EXPECT_EQ(p.summary.facesDrawn, 2u);
}

TEST(SvgWriter, RefusesModelsAboveTheLimit) {
    LoadedModel m;
    m.nodes = {Node{1, 0, 0, 0}, Node{2, 1, 0, 0}, Node{3, 0, 1, 0}};
    size_t repeat = 0, earlier = 0;
    ASSERT_TRUE(buildIdIndex({1, 2, 3}, m.nodeIndex, repeat, earlier));
    m.cellNodes = {1, 2, 3};
    LoadedCell a;
    a.kind = findAreaKind("CST");
    for (size_t i = 0; i <= kSvgElementLimit; ++i) {
        a.id = static_cast<int32_t>(i + 1);
        m.areas.push_back(a);
    }
    TextSink sink;
    SvgSummary summary;
    std::string error;
    EXPECT_FALSE(writeSvg(m, SvgOptions{}, sink, summary, error));
    sink.flush();
    EXPECT_EQ(error, "the SVG picture is limited to 200000 elements and this model has 200001; convert it to .vtu "
                     "and open that in a viewer");
    EXPECT_TRUE(sink.buffer.empty());
    m.areas.pop_back();
    EXPECT_TRUE(writeSvg(m, SvgOptions{}, sink, summary, error));
}

}  // namespace
