#pragma once
// Builds DXF drawings for tests: group-code/value lines, one entity at a time.

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

struct DxfText {
    std::string text;

    DxfText& group(int code, const std::string& value) {
        text += std::to_string(code) + "\n" + value + "\n";
        return *this;
    }
    DxfText& number(int code, double value) {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%.17g", value);
        return group(code, buffer);
    }
    DxfText& line(double x1, double y1, double x2, double y2, const std::string& layer = "0") {
        group(0, "LINE").group(8, layer);
        return number(10, x1).number(20, y1).number(30, 0.0).number(11, x2).number(21, y2).number(31, 0.0);
    }
    DxfText& arc(double cx, double cy, double r, double startDeg, double endDeg, const std::string& layer = "0") {
        group(0, "ARC").group(8, layer).number(10, cx).number(20, cy).number(30, 0.0).number(40, r);
        return number(50, startDeg).number(51, endDeg);
    }
    DxfText& circle(double cx, double cy, double r, const std::string& layer = "0") {
        return group(0, "CIRCLE").group(8, layer).number(10, cx).number(20, cy).number(30, 0.0).number(40, r);
    }
    /// Vertices as (x, y, bulge).
    DxfText& lwpolyline(const std::vector<std::vector<double>>& vertices, int flags, double elevation = 0.0) {
        group(0, "LWPOLYLINE").group(8, "0").number(90, static_cast<double>(vertices.size()));
        group(70, std::to_string(flags)).number(38, elevation);
        for (const std::vector<double>& v : vertices) {
            number(10, v[0]).number(20, v[1]);
            if (v.size() > 2) number(42, v[2]);
        }
        return *this;
    }
    DxfText& entitiesBegin() { return group(0, "SECTION").group(2, "ENTITIES"); }
    DxfText& sectionEnd() { return group(0, "ENDSEC"); }
    DxfText& end() { return group(0, "EOF"); }
};
