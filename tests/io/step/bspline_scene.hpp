#pragma once
// Writes B-spline surfaces, curves and the faces on them for the tests, on top of the
// exchange-file text builder.

#include <string>
#include <vector>

#include "geom/point.hpp"
#include "io/step/step_file.hpp"
#include "io/step/step_readers.hpp"
#include "io/step/step_text_builder.hpp"

struct BsplineScene : StepTextBuilder {
    static std::string numbers(const std::vector<double>& values) {
        std::string s = "(";
        for (size_t i = 0; i < values.size(); ++i) s += (i ? "," : "") + num(values[i]);
        return s + ")";
    }

    /// The control grid as rows of point references.
    std::string grid(const std::vector<std::vector<Point3>>& rows) {
        std::string s = "(";
        for (size_t r = 0; r < rows.size(); ++r) {
            std::vector<int> ids;
            for (const Point3& p : rows[r]) ids.push_back(point(p));
            s += (r ? "," : "") + refs(ids);
        }
        return s + ")";
    }

    /// A simple B_SPLINE_SURFACE_WITH_KNOTS.
    int surface(int uDegree, int vDegree, const std::vector<std::vector<Point3>>& rows,
                const std::vector<double>& uMults, const std::vector<double>& vMults,
                const std::vector<double>& uKnots, const std::vector<double>& vKnots) {
        std::string g = grid(rows);
        return add("B_SPLINE_SURFACE_WITH_KNOTS(''," + std::to_string(uDegree) + "," + std::to_string(vDegree) + "," +
                   g + ",.UNSPECIFIED.,.F.,.F.,.F.," + numbers(uMults) + "," + numbers(vMults) + "," +
                   numbers(uKnots) + "," + numbers(vKnots) + ",.UNSPECIFIED.)");
    }

    /// The complex (rational) form, parts in the order exporters write them.
    int rationalSurface(int uDegree, int vDegree, const std::vector<std::vector<Point3>>& rows,
                        const std::vector<double>& uMults, const std::vector<double>& vMults,
                        const std::vector<double>& uKnots, const std::vector<double>& vKnots,
                        const std::vector<std::vector<double>>& weights) {
        std::string g = grid(rows);
        std::string w = "(";
        for (size_t r = 0; r < weights.size(); ++r) w += (r ? "," : "") + numbers(weights[r]);
        w += ")";
        return add("(BOUNDED_SURFACE()B_SPLINE_SURFACE(" + std::to_string(uDegree) + "," + std::to_string(vDegree) +
                   "," + g + ",.UNSPECIFIED.,.F.,.F.,.F.)B_SPLINE_SURFACE_WITH_KNOTS(" + numbers(uMults) + "," +
                   numbers(vMults) + "," + numbers(uKnots) + "," + numbers(vKnots) +
                   ",.UNSPECIFIED.)GEOMETRIC_REPRESENTATION_ITEM()RATIONAL_B_SPLINE_SURFACE(" + w +
                   ")REPRESENTATION_ITEM('')SURFACE())");
    }

    /// A bilinear patch: rows (p00, p01) and (p10, p11), domain [0, 1] x [0, 1].
    int bilinear(const Point3& p00, const Point3& p01, const Point3& p10, const Point3& p11) {
        return surface(1, 1, {{p00, p01}, {p10, p11}}, {2, 2}, {2, 2}, {0, 1}, {0, 1});
    }

    /// A B-spline curve in a parameter plane: control points with two coordinates.
    int planeCurve(int degree, const std::vector<Point2>& points, const std::vector<double>& mults,
                   const std::vector<double>& knots) {
        std::vector<int> ids;
        for (const Point2& p : points) ids.push_back(add("CARTESIAN_POINT('',(" + num(p.x) + "," + num(p.y) + "))"));
        return add("B_SPLINE_CURVE_WITH_KNOTS(''," + std::to_string(degree) + "," + refs(ids) +
                   ",.UNSPECIFIED.,.F.,.F.," + numbers(mults) + "," + numbers(knots) + ",.UNSPECIFIED.)");
    }

    /// A SURFACE_CURVE whose PCURVE on `surfaceId` has `planeCurveId` as its curve.
    int surfaceCurve(int spaceCurve, int surfaceId, int planeCurveId, const std::string& type = "SURFACE_CURVE") {
        int rep = add("DEFINITIONAL_REPRESENTATION(''," + refs({planeCurveId}) + ",#999999)");
        int pcurve = add("PCURVE(''," + ref(surfaceId) + "," + ref(rep) + ")");
        return add(type + "(''," + ref(spaceCurve) + "," + refs({pcurve}) + ",.PCURVE_S1.)");
    }

    /// An oriented edge between two new vertices on `curve`.
    int edgeOn(int curve, const Point3& a, const Point3& b, bool sameSense = true, bool orientation = true) {
        int va = vertex(a);
        int vb = stepvec::squaredDistance(a, b) < 1e-18 ? va : vertex(b);
        return oriented(edge(va, vb, curve, sameSense), orientation);
    }

    /// A straight oriented edge from a to b.
    int lineEdge(const Point3& a, const Point3& b) { return edgeOn(line(a, stepvec::sub(b, a)), a, b); }

    /// A loop of straight edges through the points, closed back to the first.
    int polygonLoop(const std::vector<Point3>& points) {
        std::vector<int> edges;
        for (size_t i = 0; i < points.size(); ++i) edges.push_back(lineEdge(points[i], points[(i + 1) % points.size()]));
        return loop(edges);
    }
};

inline StepFile parsedScene(const StepTextBuilder& scene) { return parseStepFile(scene.text()); }
