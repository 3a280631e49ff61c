#pragma once
// Writes small exchange files for the tests: entities numbered from 1 in the order they are
// added, wrapped in a header and a DATA section.

#include <cstdio>
#include <string>
#include <vector>

#include "geom/point.hpp"

struct StepTextBuilder {
    std::string body;
    int next = 1;

    static std::string ref(int id) { return "#" + std::to_string(id); }

    static std::string num(double v) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        return buf;
    }

    static std::string refs(const std::vector<int>& ids) {
        std::string s = "(";
        for (size_t i = 0; i < ids.size(); ++i) s += (i ? "," : "") + ref(ids[i]);
        return s + ")";
    }

    static const char* flag(bool b) { return b ? ".T." : ".F."; }

    int add(const std::string& record) {
        int id = next++;
        body += ref(id) + "=" + record + ";\n";
        return id;
    }

    int point(const Point3& p) {
        return add("CARTESIAN_POINT('',(" + num(p.x) + "," + num(p.y) + "," + num(p.z) + "))");
    }
    int direction(const Point3& d) {
        return add("DIRECTION('',(" + num(d.x) + "," + num(d.y) + "," + num(d.z) + "))");
    }
    int placement(const Point3& origin, const Point3& axis, const Point3& refDir) {
        int o = point(origin);
        int z = direction(axis);
        int x = direction(refDir);
        return add("AXIS2_PLACEMENT_3D(''," + ref(o) + "," + ref(z) + "," + ref(x) + ")");
    }
    int vertex(const Point3& p) { return add("VERTEX_POINT(''," + ref(point(p)) + ")"); }
    int line(const Point3& p, const Point3& d) {
        int vec = add("VECTOR(''," + ref(direction(d)) + ",1.)");
        return add("LINE(''," + ref(point(p)) + "," + ref(vec) + ")");
    }
    int circle(int placementId, double radius) {
        return add("CIRCLE(''," + ref(placementId) + "," + num(radius) + ")");
    }
    int edge(int v1, int v2, int curve, bool sameSense = true) {
        return add("EDGE_CURVE(''," + ref(v1) + "," + ref(v2) + "," + ref(curve) + "," + flag(sameSense) + ")");
    }
    int oriented(int edgeId, bool orientation = true) {
        return add("ORIENTED_EDGE('',*,*," + ref(edgeId) + "," + flag(orientation) + ")");
    }
    int loop(const std::vector<int>& orientedEdges) { return add("EDGE_LOOP(''," + refs(orientedEdges) + ")"); }
    int bound(int loopId, bool outer = true, bool orientation = true) {
        return add(std::string(outer ? "FACE_OUTER_BOUND" : "FACE_BOUND") + "(''," + ref(loopId) + "," +
                   flag(orientation) + ")");
    }
    int face(const std::vector<int>& bounds, int surface, bool sameSense = true) {
        return add("ADVANCED_FACE(''," + refs(bounds) + "," + ref(surface) + "," + flag(sameSense) + ")");
    }

    /// A face with one bound whose loop runs along the given oriented edges.
    int faceOfEdges(const std::vector<int>& orientedEdges, int surface, bool sameSense = true) {
        return face({bound(loop(orientedEdges))}, surface, sameSense);
    }

    std::string text() const {
        return "ISO-10303-21;\nHEADER;\nFILE_DESCRIPTION(('test part'),'2;1');\n"
               "FILE_NAME('part.stp','2024-01-01T00:00:00',(''),(''),'','','');\n"
               "FILE_SCHEMA(('AUTOMOTIVE_DESIGN'));\nENDSEC;\nDATA;\n" +
               body + "ENDSEC;\nEND-ISO-10303-21;\n";
    }
};
