#include "convert/quality.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "convert/text_sink.hpp"
#include "convert/vec.hpp"

using cvec::angleBetween;
using cvec::cross;
using cvec::dot;
using cvec::length;
using cvec::sub;

namespace {

constexpr double kDegrees = 180.0 / 3.14159265358979323846;

const FigureInfo kFigures[kFigureCount] = {
    {QualityFigure::MinAngle, "min-angle", "minAngle", "min angle (deg)", true, 0.0, 60.0},
    {QualityFigure::MaxAngle, "max-angle", "maxAngle", "max angle (deg)", false, 180.0, 60.0},
    // A regular tetrahedron has the smallest ratio, sqrt(6)/4.
    {QualityFigure::RadiusEdge, "radius-edge", "radiusEdgeRatio", "radius-edge ratio", false, 2.5,
     0.61237243569579447},
    // ... and the largest smallest dihedral angle, acos(1/3).
    {QualityFigure::MinDihedral, "min-dihedral", "minDihedral", "min dihedral (deg)", true, 0.0,
     70.528779365509308},
    {QualityFigure::ScaledJacobian, "scaled-jacobian", "scaledJacobian", "scaled Jacobian", true, 0.0, 1.0},
};

bool isTet(const CellKind& k) { return k.family == KindFamily::Solid && k.cornerCount == 4; }
bool isHex(const CellKind& k) { return k.family == KindFamily::Solid && k.cornerCount == 8; }

/// Smallest or largest corner angle of a polygon given by its corners, in degrees.
double polygonAngle(const Point3* p, int n, bool smallest) {
    double result = smallest ? std::numeric_limits<double>::infinity() : 0.0;
    for (int i = 0; i < n; ++i) {
        const Point3& prev = p[(i + n - 1) % n];
        const Point3& next = p[(i + 1) % n];
        double a = angleBetween(sub(prev, p[i]), sub(next, p[i])) * kDegrees;
        result = smallest ? std::min(result, a) : std::max(result, a);
    }
    return result;
}

/// Circumradius over shortest edge; infinite for a flat tetrahedron or a zero edge.
double radiusEdgeRatio(const Point3* p) {
    Point3 a = sub(p[1], p[0]);
    Point3 b = sub(p[2], p[0]);
    Point3 c = sub(p[3], p[0]);
    double denom = 2.0 * dot(a, cross(b, c));
    double shortest = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 4; ++i) {
        for (int j = i + 1; j < 4; ++j) shortest = std::min(shortest, length(sub(p[j], p[i])));
    }
    if (denom == 0.0 || shortest == 0.0) return std::numeric_limits<double>::infinity();
    Point3 num = cvec::add(cvec::add(cvec::scale(cross(b, c), dot(a, a)), cvec::scale(cross(c, a), dot(b, b))),
                           cvec::scale(cross(a, b), dot(c, c)));
    return length(num) / std::fabs(denom) / shortest;
}

/// The smallest of the six dihedral angles, in degrees: at each edge, the angle between
/// the other two corners seen perpendicular to the edge.
double minDihedral(const Point3* p) {
    static const int kEdges[6][4] = {{0, 1, 2, 3}, {0, 2, 1, 3}, {0, 3, 1, 2},
                                     {1, 2, 0, 3}, {1, 3, 0, 2}, {2, 3, 0, 1}};
    double result = std::numeric_limits<double>::infinity();
    for (const auto& e : kEdges) {
        Point3 axis = sub(p[e[1]], p[e[0]]);
        double axis2 = dot(axis, axis);
        if (axis2 == 0.0) return 0.0;
        Point3 u = sub(p[e[2]], p[e[0]]);
        Point3 v = sub(p[e[3]], p[e[0]]);
        u = sub(u, cvec::scale(axis, dot(u, axis) / axis2));
        v = sub(v, cvec::scale(axis, dot(v, axis) / axis2));
        result = std::min(result, angleBetween(u, v) * kDegrees);
    }
    return result;
}

/// For each hexahedron corner, its three edge neighbours in right-handed order.
const int kHexCornerFrames[8][4] = {{0, 1, 3, 4}, {1, 2, 0, 5}, {2, 3, 1, 6}, {3, 0, 2, 7},
                                    {4, 7, 5, 0}, {5, 4, 6, 1}, {6, 5, 7, 2}, {7, 6, 4, 3}};

double scaledJacobian(const Point3* p) {
    double result = std::numeric_limits<double>::infinity();
    for (const auto& f : kHexCornerFrames) {
        Point3 e1 = sub(p[f[1]], p[f[0]]);
        Point3 e2 = sub(p[f[2]], p[f[0]]);
        Point3 e3 = sub(p[f[3]], p[f[0]]);
        double scale = length(e1) * length(e2) * length(e3);
        double value = scale == 0.0 ? 0.0 : dot(e1, cross(e2, e3)) / scale;
        result = std::min(result, value);
    }
    return result;
}

/// Volume of a trilinear hexahedron: its Jacobian is of degree two in each parameter,
/// so 2 x 2 x 2 Gauss points integrate it exactly.
double hexVolume(const Point3* p) {
    static const int kCorner[8][3] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                      {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    const double g[2] = {0.5 - 0.5 / std::sqrt(3.0), 0.5 + 0.5 / std::sqrt(3.0)};
    double volume = 0.0;
    for (double u : g) {
        for (double v : g) {
            for (double w : g) {
                Point3 du, dv, dw;
                for (int i = 0; i < 8; ++i) {
                    double fu = kCorner[i][0] ? u : 1.0 - u;
                    double fv = kCorner[i][1] ? v : 1.0 - v;
                    double fw = kCorner[i][2] ? w : 1.0 - w;
                    double su = kCorner[i][0] ? 1.0 : -1.0;
                    double sv = kCorner[i][1] ? 1.0 : -1.0;
                    double sw = kCorner[i][2] ? 1.0 : -1.0;
                    du = cvec::add(du, cvec::scale(p[i], su * fv * fw));
                    dv = cvec::add(dv, cvec::scale(p[i], fu * sv * fw));
                    dw = cvec::add(dw, cvec::scale(p[i], fu * fv * sw));
                }
                volume += dot(du, cross(dv, dw)) * 0.125;
            }
        }
    }
    return volume;
}

std::string shortNumber(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    return std::string(buf, static_cast<size_t>(res.ptr - buf));
}

std::string jsonNumber(double v) { return std::isfinite(v) ? realText(v) : "null"; }

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 32) {
            static const char* hex = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

std::vector<QualityFigure> figuresOf(const CellKind& kind) {
    std::vector<QualityFigure> out;
    for (const FigureInfo& f : kFigures) {
        if (figureApplies(f.figure, kind)) out.push_back(f.figure);
    }
    return out;
}

}  // namespace

const FigureInfo& figureInfo(QualityFigure figure) { return kFigures[static_cast<int>(figure)]; }

const FigureInfo* findFigure(const std::string& option) {
    for (const FigureInfo& f : kFigures) {
        if (option == f.option) return &f;
    }
    return nullptr;
}

bool figureApplies(QualityFigure figure, const CellKind& kind) {
    switch (figure) {
        case QualityFigure::MinAngle:
        case QualityFigure::MaxAngle: return kind.family == KindFamily::Area;
        case QualityFigure::RadiusEdge:
        case QualityFigure::MinDihedral: return isTet(kind);
        case QualityFigure::ScaledJacobian: return isHex(kind);
    }
    return false;
}

void elementCorners(const LoadedModel& m, const CellKind& kind, const int32_t* nodes, Point3* corners) {
    for (int i = 0; i < kind.cornerCount; ++i) {
        const Node& n = m.nodes[m.nodeAt(nodes[i])];
        corners[i] = Point3{n.x, n.y, n.z};
    }
}

double elementFigure(QualityFigure figure, const CellKind& kind, const Point3* corners) {
    switch (figure) {
        case QualityFigure::MinAngle: return polygonAngle(corners, kind.cornerCount, true);
        case QualityFigure::MaxAngle: return polygonAngle(corners, kind.cornerCount, false);
        case QualityFigure::RadiusEdge: return radiusEdgeRatio(corners);
        case QualityFigure::MinDihedral: return minDihedral(corners);
        case QualityFigure::ScaledJacobian: return scaledJacobian(corners);
    }
    return 0.0;
}

double elementMeasure(const CellKind& kind, const Point3* p) {
    switch (kind.family) {
        case KindFamily::Line: return length(sub(p[1], p[0]));
        case KindFamily::Area:
            if (kind.cornerCount == 3) return 0.5 * length(cross(sub(p[1], p[0]), sub(p[2], p[0])));
            // The vector area of a quadrilateral is half the cross product of its diagonals.
            return 0.5 * length(cross(sub(p[2], p[0]), sub(p[3], p[1])));
        case KindFamily::Solid:
            if (kind.cornerCount == 4) {
                // Positive when the fourth corner lies on the side of (0, 1, 2) from which
                // those three appear clockwise, the meshers' orientation.
                return dot(sub(p[0], p[3]), cross(sub(p[1], p[3]), sub(p[2], p[3]))) / 6.0;
            }
            return hexVolume(p);
    }
    return 0.0;
}

QualityReport buildQualityReport(const LoadedModel& m) {
    QualityReport r;
    r.nodes = m.nodes.size();
    for (const Node& n : m.nodes) {
        if (!r.hasBox) {
            r.boxMin = r.boxMax = Point3{n.x, n.y, n.z};
            r.hasBox = true;
            continue;
        }
        r.boxMin = Point3{std::min(r.boxMin.x, n.x), std::min(r.boxMin.y, n.y), std::min(r.boxMin.z, n.z)};
        r.boxMax = Point3{std::max(r.boxMax.x, n.x), std::max(r.boxMax.y, n.y), std::max(r.boxMax.z, n.z)};
    }

    // Accumulators per kind, in the fixed kind order.
    struct Acc {
        size_t count = 0;
        size_t inverted = 0;
        std::vector<QualityFigure> figures;
        std::vector<double> min, sum, max;
    };
    std::vector<Acc> acc(kKindCount);
    for (int k = 0; k < kKindCount; ++k) {
        acc[k].figures = figuresOf(kindAt(k));
        size_t f = acc[k].figures.size();
        acc[k].min.assign(f, std::numeric_limits<double>::infinity());
        acc[k].sum.assign(f, 0.0);
        acc[k].max.assign(f, -std::numeric_limits<double>::infinity());
    }

    auto visit = [&](const CellKind& kind, const int32_t* nodes) {
        Point3 corners[8];
        elementCorners(m, kind, nodes, corners);
        Acc& a = acc[kindIndex(kind)];
        ++a.count;
        double measure = elementMeasure(kind, corners);
        if (kind.family == KindFamily::Area) r.totalArea += measure;
        if (kind.family == KindFamily::Solid) {
            r.totalVolume += measure;
            if (isTet(kind) && !(measure > 0.0)) ++a.inverted;
        }
        for (size_t f = 0; f < a.figures.size(); ++f) {
            double v = elementFigure(a.figures[f], kind, corners);
            if (a.figures[f] == QualityFigure::ScaledJacobian && !(v > 0.0)) ++a.inverted;
            a.min[f] = std::min(a.min[f], v);
            a.sum[f] += v;
            a.max[f] = std::max(a.max[f], v);
        }
    };
    for (const Element& e : m.elements) {
        const int32_t ends[2] = {e.n1, e.n2};
        visit(lineKind(), ends);
    }
    for (const LoadedCell& a : m.areas) visit(*a.kind, m.nodesOf(a));
    for (const LoadedCell& s : m.solids) visit(*s.kind, m.nodesOf(s));

    for (int k = 0; k < kKindCount; ++k) {
        const Acc& a = acc[k];
        if (a.count == 0) continue;
        KindSummary s;
        s.kind = &kindAt(k);
        s.count = a.count;
        s.inverted = a.inverted;
        for (size_t f = 0; f < a.figures.size(); ++f) {
            s.figures.push_back(FigureSummary{a.figures[f], a.min[f], a.sum[f] / static_cast<double>(a.count), a.max[f]});
        }
        r.kinds.push_back(s);
    }
    return r;
}

std::string formatReportTable(const QualityReport& r, const std::string& modelName) {
    std::string out;
    auto line = [&](const char* label, const std::string& value) {
        std::string l = label;
        l.resize(14, ' ');
        out += l + value + "\n";
    };
    auto point = [](const Point3& p) {
        return "(" + shortNumber(p.x) + ", " + shortNumber(p.y) + ", " + shortNumber(p.z) + ")";
    };
    line("model", modelName);
    line("nodes", std::to_string(r.nodes));
    line("bounding box", r.hasBox ? point(r.boxMin) + " to " + point(r.boxMax) : "none (no nodes)");
    line("total area", shortNumber(r.totalArea));
    line("total volume", shortNumber(r.totalVolume));
    if (r.kinds.empty()) {
        out += "no elements\n";
        return out;
    }

    // Rows of cells; columns 0 and 3 are text (left-aligned), the rest numbers.
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"kind", "count", "inverted", "figure", "min", "mean", "max"});
    for (const KindSummary& k : r.kinds) {
        std::string inverted = k.kind->family == KindFamily::Solid ? std::to_string(k.inverted) : "-";
        if (k.figures.empty()) {
            rows.push_back({k.kind->name, std::to_string(k.count), inverted, "-", "-", "-", "-"});
            continue;
        }
        for (size_t f = 0; f < k.figures.size(); ++f) {
            const FigureSummary& s = k.figures[f];
            bool first = f == 0;
            rows.push_back({first ? k.kind->name : "", first ? std::to_string(k.count) : "", first ? inverted : "",
                            figureInfo(s.figure).title, shortNumber(s.min), shortNumber(s.mean), shortNumber(s.max)});
        }
    }
    std::vector<size_t> width(7, 0);
    for (const auto& row : rows) {
        for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    }
    out += "\n";
    for (const auto& row : rows) {
        std::string l;
        for (size_t c = 0; c < row.size(); ++c) {
            if (c > 0) l += "  ";
            std::string pad(width[c] - row[c].size(), ' ');
            bool text = c == 0 || c == 3;
            l += text ? row[c] + pad : pad + row[c];
        }
        while (!l.empty() && l.back() == ' ') l.pop_back();
        out += l + "\n";
    }
    out += "angles in degrees; quadratic kinds are measured on their corner nodes\n";
    return out;
}

std::string formatReportJson(const QualityReport& r, const std::string& modelName) {
    auto point = [](const Point3& p) {
        return "[" + jsonNumber(p.x) + ", " + jsonNumber(p.y) + ", " + jsonNumber(p.z) + "]";
    };
    std::string out = "{\n";
    out += "  \"model\": " + jsonString(modelName) + ",\n";
    out += "  \"nodes\": " + std::to_string(r.nodes) + ",\n";
    if (r.hasBox) {
        out += "  \"boundingBox\": {\"min\": " + point(r.boxMin) + ", \"max\": " + point(r.boxMax) + "},\n";
    } else {
        out += "  \"boundingBox\": null,\n";
    }
    out += "  \"totalArea\": " + jsonNumber(r.totalArea) + ",\n";
    out += "  \"totalVolume\": " + jsonNumber(r.totalVolume) + ",\n";
    out += "  \"kinds\": [";
    for (size_t i = 0; i < r.kinds.size(); ++i) {
        const KindSummary& k = r.kinds[i];
        out += i == 0 ? "\n" : ",\n";
        out += "    {\"kind\": \"" + std::string(k.kind->name) + "\", \"count\": " + std::to_string(k.count);
        if (k.kind->family == KindFamily::Solid) out += ", \"inverted\": " + std::to_string(k.inverted);
        out += ", \"figures\": {";
        for (size_t f = 0; f < k.figures.size(); ++f) {
            const FigureSummary& s = k.figures[f];
            if (f > 0) out += ", ";
            out += "\"" + std::string(figureInfo(s.figure).jsonName) + "\": {\"min\": " + jsonNumber(s.min) +
                   ", \"mean\": " + jsonNumber(s.mean) + ", \"max\": " + jsonNumber(s.max) + "}";
        }
        out += "}}";
    }
    out += r.kinds.empty() ? "]\n" : "\n  ]\n";
    out += "}\n";
    return out;
}
