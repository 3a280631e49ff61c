#include "convert/svg_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "convert/vec.hpp"

using cvec::cross;
using cvec::dot;
using cvec::length;
using cvec::sub;

namespace {

// Ten classes from worst to best (a red-yellow-green scale), grey where the figure does
// not apply, and one plain colour for unshaded pictures.
const char* const kBinColours[10] = {"#a50026", "#d73027", "#f46d43", "#fdae61", "#fee08b",
                                     "#d9ef8b", "#a6d96a", "#66bd63", "#1a9850", "#006837"};
const char* const kGrey = "#d0d0d0";
const char* const kPlain = "#b8cde0";
constexpr int kGreyBin = 10;
constexpr int kPlainBin = 11;

const char* binColour(int bin) {
    if (bin == kGreyBin) return kGrey;
    if (bin == kPlainBin) return kPlain;
    return kBinColours[bin];
}

/// The colour of a class lit by `light` in [-1, 1] (0 keeps it): blended toward white
/// by up to 35% for positive light, toward black for negative, as "#rrggbb".
std::string litColour(int bin, double light) {
    const char* hex = binColour(bin);
    std::string out = "#";
    static const char* digits = "0123456789abcdef";
    for (int c = 0; c < 3; ++c) {
        auto nibble = [](char h) { return h <= '9' ? h - '0' : h - 'a' + 10; };
        int value = nibble(hex[1 + 2 * c]) * 16 + nibble(hex[2 + 2 * c]);
        double target = light >= 0.0 ? 255.0 : 0.0;
        int lit = static_cast<int>(std::lround(value + (target - value) * 0.35 * std::fabs(light)));
        lit = std::min(255, std::max(0, lit));
        out += digits[lit >> 4];
        out += digits[lit & 15];
    }
    return out;
}

/// Brightness of a face with normal `n` in the isometric view: lit from above, front
/// and a little from the right, so that the three visible sides of a box differ.
double faceLight(const Point3& n) {
    static const Point3 kLight = {0.4 / 1.2845232578665129, -0.7 / 1.2845232578665129, 1.0 / 1.2845232578665129};
    double len = length(n);
    if (len == 0.0) return 0.0;
    return 2.0 * (std::fabs(dot(n, kLight)) / len - 0.5);
}

/// The ends of a figure's colour scale for this model: the figure's own, except that
/// angles of a model whose areas are all quadrilaterals are judged against 90 degrees.
struct Scale {
    double worst;
    double best;
};

Scale scaleFor(const FigureInfo& f, const LoadedModel& m) {
    Scale s{f.worst, f.best};
    if (f.figure != QualityFigure::MinAngle && f.figure != QualityFigure::MaxAngle) return s;
    bool allQuads = !m.areas.empty();
    for (const LoadedCell& a : m.areas) allQuads = allQuads && a.kind->cornerCount == 4;
    if (allQuads) s.best = 90.0;
    return s;
}

int binOf(const Scale& f, double value) {
    double t = (value - f.worst) / (f.best - f.worst);
    if (!(t > 0.0)) return 0;  // also NaN
    if (t >= 1.0) return 9;
    return std::min(9, static_cast<int>(t * 10.0));
}

/// A viewing frame: screen right, screen up, and the direction toward the viewer.
struct View {
    Point3 right;
    Point3 up;
    Point3 toward;
};

Point3 normalized(const Point3& v) {
    double len = length(v);
    return len == 0.0 ? v : cvec::scale(v, 1.0 / len);
}

View isometricView() {
    Point3 toward = normalized(Point3{1.0, -1.0, 1.0});
    Point3 right = normalized(cross(Point3{0.0, 0.0, 1.0}, toward));
    return View{right, cross(toward, right), toward};
}

/// Eigenvector of the smallest eigenvalue of a symmetric 3 x 3 matrix (cyclic Jacobi).
Point3 smallestEigenvector(double a[3][3]) {
    double v[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int sweep = 0; sweep < 64; ++sweep) {
        double off = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
        if (off == 0.0) break;
        for (int p = 0; p < 2; ++p) {
            for (int q = p + 1; q < 3; ++q) {
                if (a[p][q] == 0.0) continue;
                double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                double t = (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                double c = 1.0 / std::sqrt(t * t + 1.0);
                double s = t * c;
                for (int k = 0; k < 3; ++k) {
                    double akp = a[k][p];
                    double akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {
                    double apk = a[p][k];
                    double aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                for (int k = 0; k < 3; ++k) {
                    double vkp = v[k][p];
                    double vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq;
                    v[k][q] = s * vkp + c * vkq;
                }
            }
        }
    }
    int best = 0;
    for (int k = 1; k < 3; ++k) {
        if (a[k][k] < a[best][best]) best = k;
    }
    return Point3{v[0][best], v[1][best], v[2][best]};
}

/// The best-fit plane of the nodes flagged in `used`, as a view looking at it from the
/// side of its normal; false when the nodes do not lie in one plane.
bool planarView(const std::vector<Node>& nodes, const std::vector<char>& used, View& view) {
    Point3 c{0.0, 0.0, 0.0};
    Point3 lo{0, 0, 0}, hi{0, 0, 0};
    size_t count = 0;
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (!used[i]) continue;
        const Node& n = nodes[i];
        Point3 p{n.x, n.y, n.z};
        if (count == 0) lo = hi = p;
        lo = Point3{std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = Point3{std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        c = cvec::add(c, p);
        ++count;
    }
    if (count == 0) return false;
    c = cvec::scale(c, 1.0 / static_cast<double>(count));
    double cov[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (!used[i]) continue;
        const Node& n = nodes[i];
        double d[3] = {n.x - c.x, n.y - c.y, n.z - c.z};
        for (int r = 0; r < 3; ++r) {
            for (int k = 0; k < 3; ++k) cov[r][k] += d[r] * d[k];
        }
    }
    Point3 normal = normalized(smallestEigenvector(cov));
    double diagonal = length(sub(hi, lo));
    for (size_t i = 0; i < nodes.size(); ++i) {
        if (!used[i]) continue;
        const Node& n = nodes[i];
        if (std::fabs(dot(sub(Point3{n.x, n.y, n.z}, c), normal)) > 1e-6 * diagonal) return false;
    }
    // Look from +z, -y or +x according to the normal's largest component, so that the
    // coordinate planes get their usual top, front and right views.
    double ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
    Point3 axis;
    if (az >= ax && az >= ay) {
        if (normal.z < 0.0) normal = cvec::scale(normal, -1.0);
        axis = Point3{1.0, 0.0, 0.0};
    } else if (ay >= ax) {
        if (normal.y > 0.0) normal = cvec::scale(normal, -1.0);
        axis = Point3{1.0, 0.0, 0.0};
    } else {
        if (normal.x < 0.0) normal = cvec::scale(normal, -1.0);
        axis = Point3{0.0, 1.0, 0.0};
    }
    Point3 right = normalized(sub(axis, cvec::scale(normal, dot(axis, normal))));
    view = View{right, cross(normal, right), normal};
    return true;
}

/// One polygon to draw: an area's outline or a solid's boundary face.
struct DrawFace {
    const CellKind* kind;
    const FaceLoop* loop;
    const int32_t* nodes;   ///< the element's node ids
    int bin;
    double depth;
    double light;           ///< 0 in flat views; -1 (darkest) to 1 (brightest) in the isometric one
};

struct Screen {
    std::vector<double> x;
    std::vector<double> y;
    std::vector<double> depth;
};

Point3 nodePoint(const LoadedModel& m, int32_t id) {
    const Node& n = m.nodes[m.nodeAt(id)];
    return Point3{n.x, n.y, n.z};
}

/// The boundary faces of the solids: faces whose corner set belongs to one solid only.
/// Each comes with the solid's position.
std::vector<std::pair<size_t, int>> boundaryFaces(const LoadedModel& m) {
    struct Entry {
        std::array<int32_t, 4> key;
        size_t solid;
        int face;
    };
    std::vector<Entry> entries;
    for (size_t s = 0; s < m.solids.size(); ++s) {
        const CellKind& kind = *m.solids[s].kind;
        for (int f = 0; f < faceCount(kind); ++f) {
            const FaceLoop& loop = faceAt(kind, f);
            int step = kind.quadratic ? 2 : 1;
            Entry e{{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}, s, f};
            int k = 0;
            for (int i = 0; i < loop.count; i += step) e.key[static_cast<size_t>(k++)] = m.nodesOf(m.solids[s])[loop.nodes[i]];
            std::sort(e.key.begin(), e.key.end());
            entries.push_back(e);
        }
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.key != b.key) return a.key < b.key;
        if (a.solid != b.solid) return a.solid < b.solid;
        return a.face < b.face;
    });
    std::vector<std::pair<size_t, int>> out;
    for (size_t i = 0; i < entries.size();) {
        size_t j = i + 1;
        while (j < entries.size() && entries[j].key == entries[i].key) ++j;
        if (j == i + 1) out.emplace_back(entries[i].solid, entries[i].face);
        i = j;
    }
    // Back into solid order, so that equal depths keep a fixed order.
    std::sort(out.begin(), out.end());
    return out;
}

/// The outward normal of a solid's face: the loop's vector area, turned away from the
/// solid's centroid (so it does not depend on the solid's node orientation).
Point3 outwardNormal(const LoadedModel& m, const CellKind& kind, const int32_t* nodes, const FaceLoop& loop) {
    int step = kind.quadratic ? 2 : 1;
    Point3 normal{0.0, 0.0, 0.0};
    Point3 faceCentre{0.0, 0.0, 0.0};
    int corners = 0;
    for (int i = 0; i < loop.count; i += step) {
        Point3 a = nodePoint(m, nodes[loop.nodes[i]]);
        Point3 b = nodePoint(m, nodes[loop.nodes[(i + step) % loop.count]]);
        normal = cvec::add(normal, cross(a, b));
        faceCentre = cvec::add(faceCentre, a);
        ++corners;
    }
    faceCentre = cvec::scale(faceCentre, 1.0 / corners);
    Point3 centre{0.0, 0.0, 0.0};
    for (int i = 0; i < kind.cornerCount; ++i) centre = cvec::add(centre, nodePoint(m, nodes[i]));
    centre = cvec::scale(centre, 1.0 / kind.cornerCount);
    if (dot(normal, sub(faceCentre, centre)) < 0.0) normal = cvec::scale(normal, -1.0);
    return normal;
}

void point(TextSink& out, const Screen& s, size_t i) {
    out.fixed(s.x[i], 2);
    out.ch(' ');
    out.fixed(s.y[i], 2);
}

/// Appends the loop as one closed subpath; quadratic sides become quadratic Bezier curves
/// through their mid-side node (control point 2m - (a + b) / 2).
void loopPath(TextSink& out, const LoadedModel& m, const Screen& s, const DrawFace& f) {
    const FaceLoop& loop = *f.loop;
    auto at = [&](int i) { return m.nodeAt(f.nodes[loop.nodes[i % loop.count]]); };
    out.ch('M');
    point(out, s, at(0));
    if (!f.kind->quadratic) {
        for (int i = 1; i < loop.count; ++i) {
            out.ch('L');
            point(out, s, at(i));
        }
    } else {
        for (int i = 0; i < loop.count; i += 2) {
            size_t a = at(i), mid = at(i + 1), b = at(i + 2);
            out.ch('Q');
            out.fixed(2.0 * s.x[mid] - (s.x[a] + s.x[b]) * 0.5, 2);
            out.ch(' ');
            out.fixed(2.0 * s.y[mid] - (s.y[a] + s.y[b]) * 0.5, 2);
            out.ch(' ');
            point(out, s, b);
        }
    }
    out.ch('Z');
}

void text(TextSink& out, double x, double y, const char* anchor, const std::string& content) {
    out.lit("<text x=\"");
    out.fixed(x, 1);
    out.lit("\" y=\"");
    out.fixed(y, 1);
    out.lit("\" text-anchor=\"");
    out.put(anchor, std::char_traits<char>::length(anchor));
    out.lit("\">");
    out.str(content);
    out.lit("</text>\n");
}

std::string legendNumber(double v) {
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char buf[40];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 4);
    return std::string(buf, static_cast<size_t>(res.ptr - buf));
}

}  // namespace

QualityFigure defaultFigure(const LoadedModel& m) {
    if (!m.areas.empty()) return QualityFigure::MinAngle;
    for (const LoadedCell& s : m.solids) {
        if (figureApplies(QualityFigure::MinDihedral, *s.kind)) return QualityFigure::MinDihedral;
    }
    return QualityFigure::ScaledJacobian;
}

bool writeSvg(const LoadedModel& m, const SvgOptions& options, TextSink& out, SvgSummary& summary,
              std::string& error) {
    const size_t elements = m.elements.size() + m.areas.size() + m.solids.size();
    if (elements > kSvgElementLimit) {
        error = "the SVG picture is limited to " + std::to_string(kSvgElementLimit) + " elements and this model has " +
                std::to_string(elements) + "; convert it to .vtu and open that in a viewer";
        return false;
    }
    const FigureInfo& figure = figureInfo(options.figureGiven ? options.figure : defaultFigure(m));
    const Scale range = scaleFor(figure, m);
    summary = SvgSummary{};
    summary.shading = options.shade ? figure.title : "none";

    // The view: in the plane of the areas when there are no solids and the areas (with
    // any line elements) are flat, else isometric.
    std::vector<char> used(m.nodes.size(), 0);
    for (const Element& e : m.elements) {
        used[m.nodeAt(e.n1)] = 1;
        used[m.nodeAt(e.n2)] = 1;
    }
    for (int32_t id : m.cellNodes) used[m.nodeAt(id)] = 1;
    View view;
    bool isometric = !m.solids.empty() || !planarView(m.nodes, used, view);
    if (isometric) view = isometricView();
    summary.isometric = isometric;

    Screen screen;
    screen.x.assign(m.nodes.size(), 0.0);
    screen.y.assign(m.nodes.size(), 0.0);
    screen.depth.assign(m.nodes.size(), 0.0);
    for (size_t i = 0; i < m.nodes.size(); ++i) {
        Point3 p{m.nodes[i].x, m.nodes[i].y, m.nodes[i].z};
        screen.x[i] = dot(p, view.right);
        screen.y[i] = -dot(p, view.up);
        screen.depth[i] = dot(p, view.toward);
    }

    // Faces to draw, with their colour class and depth.
    size_t shaded = 0;
    double worstValue = 0.0, bestValue = 0.0, sum = 0.0;
    auto classify = [&](const CellKind& kind, const int32_t* nodes) {
        if (!options.shade) return kPlainBin;
        if (!figureApplies(figure.figure, kind)) return kGreyBin;
        Point3 corners[8];
        elementCorners(m, kind, nodes, corners);
        double v = elementFigure(figure.figure, kind, corners);
        bool worse = figure.higherIsBetter ? v < worstValue : v > worstValue;
        bool better = figure.higherIsBetter ? v > bestValue : v < bestValue;
        if (shaded == 0 || worse) worstValue = v;
        if (shaded == 0 || better) bestValue = v;
        sum += v;
        ++shaded;
        return binOf(range, v);
    };
    auto faceDepth = [&](const int32_t* nodes, const FaceLoop& loop) {
        double d = 0.0;
        for (int i = 0; i < loop.count; ++i) d += screen.depth[m.nodeAt(nodes[loop.nodes[i]])];
        return d / loop.count;
    };
    std::vector<int> areaBin(m.areas.size());
    for (size_t i = 0; i < m.areas.size(); ++i) areaBin[i] = classify(*m.areas[i].kind, m.nodesOf(m.areas[i]));
    std::vector<int> solidBin(m.solids.size());
    for (size_t i = 0; i < m.solids.size(); ++i) solidBin[i] = classify(*m.solids[i].kind, m.nodesOf(m.solids[i]));

    std::vector<DrawFace> faces;
    for (size_t i = 0; i < m.areas.size(); ++i) {
        const CellKind& kind = *m.areas[i].kind;
        const int32_t* nodes = m.nodesOf(m.areas[i]);
        const FaceLoop& loop = faceAt(kind, 0);
        double light = 0.0;
        if (isometric) {
            // Areas are seen from either side: the vector area's direction does not matter.
            Point3 normal{0.0, 0.0, 0.0};
            int step = kind.quadratic ? 2 : 1;
            for (int k = 0; k < loop.count; k += step) {
                normal = cvec::add(normal, cross(nodePoint(m, nodes[loop.nodes[k]]),
                                                 nodePoint(m, nodes[loop.nodes[(k + step) % loop.count]])));
            }
            light = faceLight(normal);
        }
        faces.push_back(DrawFace{&kind, &loop, nodes, areaBin[i], faceDepth(nodes, loop), light});
    }
    if (!m.solids.empty()) {
        for (const auto& bf : boundaryFaces(m)) {
            const CellKind& kind = *m.solids[bf.first].kind;
            const int32_t* nodes = m.nodesOf(m.solids[bf.first]);
            const FaceLoop& loop = faceAt(kind, bf.second);
            Point3 normal = outwardNormal(m, kind, nodes, loop);
            if (dot(normal, view.toward) <= 0.0) continue;
            faces.push_back(
                DrawFace{&kind, &loop, nodes, solidBin[bf.first], faceDepth(nodes, loop), faceLight(normal)});
        }
    }
    // Far faces first; equal depths keep their order (areas, then solids in file order).
    if (isometric) {
        std::stable_sort(faces.begin(), faces.end(),
                         [](const DrawFace& a, const DrawFace& b) { return a.depth < b.depth; });
    }
    summary.facesDrawn = faces.size();

    // Fit the drawn nodes into a canvas whose longer side is 960 units plus margins.
    bool any = false;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (size_t i = 0; i < m.nodes.size(); ++i) {
        if (!used[i]) continue;
        if (!any) {
            minX = maxX = screen.x[i];
            minY = maxY = screen.y[i];
            any = true;
        }
        minX = std::min(minX, screen.x[i]);
        maxX = std::max(maxX, screen.x[i]);
        minY = std::min(minY, screen.y[i]);
        maxY = std::max(maxY, screen.y[i]);
    }
    const double margin = 20.0;
    const double legendHeight = 72.0;
    double extent = std::max(maxX - minX, maxY - minY);
    double scale = extent > 0.0 ? 960.0 / extent : 1.0;
    double drawWidth = (maxX - minX) * scale + 2 * margin;
    double drawHeight = (maxY - minY) * scale + 2 * margin;
    double width = std::max(drawWidth, 480.0);
    double height = drawHeight + legendHeight;
    double offsetX = margin + (width - drawWidth) * 0.5;
    for (size_t i = 0; i < m.nodes.size(); ++i) {
        screen.x[i] = offsetX + (screen.x[i] - minX) * scale;
        screen.y[i] = margin + (screen.y[i] - minY) * scale;
    }

    // Strokes scale with the drawn elements: about a sixteenth of a mean edge, at most one
    // unit, so that dense meshes stay coloured rather than black.
    double edgeSum = 0.0;
    size_t edgeCount = 0;
    for (const DrawFace& f : faces) {
        int step = f.kind->quadratic ? 2 : 1;
        for (int i = 0; i < f.loop->count; i += step) {
            size_t a = m.nodeAt(f.nodes[f.loop->nodes[i]]);
            size_t b = m.nodeAt(f.nodes[f.loop->nodes[(i + step) % f.loop->count]]);
            edgeSum += std::sqrt((screen.x[b] - screen.x[a]) * (screen.x[b] - screen.x[a]) +
                                 (screen.y[b] - screen.y[a]) * (screen.y[b] - screen.y[a]));
            ++edgeCount;
        }
    }
    double stroke = edgeCount > 0 ? std::clamp(edgeSum / static_cast<double>(edgeCount) / 16.0, 0.02, 1.0) : 1.0;

    out.lit("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    out.lit("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"");
    out.fixed(width, 0);
    out.lit("\" height=\"");
    out.fixed(height, 0);
    out.lit("\" viewBox=\"0 0 ");
    out.fixed(width, 0);
    out.ch(' ');
    out.fixed(height, 0);
    out.lit("\">\n");
    out.lit("<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n");
    out.lit("<g stroke=\"#1e1e1e\" stroke-width=\"");
    out.fixed(stroke, 3);
    out.lit("\" stroke-linejoin=\"round\">\n");
    if (!isometric) {
        // Flat faces do not overlap: one path per colour, in colour order.
        for (int bin = 0; bin <= kPlainBin; ++bin) {
            bool open = false;
            for (const DrawFace& f : faces) {
                if (f.bin != bin) continue;
                if (!open) {
                    out.lit("<path fill=\"");
                    out.put(binColour(bin), 7);
                    out.lit("\" d=\"");
                    open = true;
                }
                loopPath(out, m, screen, f);
            }
            if (open) out.lit("\"/>\n");
        }
    } else {
        for (const DrawFace& f : faces) {
            out.lit("<path fill=\"");
            out.str(litColour(f.bin, f.light));
            out.lit("\" d=\"");
            loopPath(out, m, screen, f);
            out.lit("\"/>\n");
        }
    }
    if (!m.elements.empty()) {
        out.lit("<path fill=\"none\" d=\"");
        for (const Element& e : m.elements) {
            out.ch('M');
            point(out, screen, m.nodeAt(e.n1));
            out.ch('L');
            point(out, screen, m.nodeAt(e.n2));
        }
        out.lit("\"/>\n");
    }
    out.lit("</g>\n");

    // Legend: the figure, its colour classes with the scale's ends, and what the model has.
    double y0 = drawHeight;
    out.lit("<g font-family=\"sans-serif\" font-size=\"11\" fill=\"#1e1e1e\">\n");
    std::string viewName = isometric ? "isometric view" : "view normal to the plane of the areas";
    if (!options.shade) {
        text(out, margin, y0 + 14, "start", std::to_string(elements) + " elements, " + viewName);
    } else {
        text(out, margin, y0 + 14, "start", std::string(figure.title) + ", " + viewName);
        for (int b = 0; b < 10; ++b) {
            out.lit("<rect x=\"");
            out.fixed(margin + b * 24.0, 1);
            out.lit("\" y=\"");
            out.fixed(y0 + 20, 1);
            out.lit("\" width=\"24\" height=\"12\" fill=\"");
            out.put(kBinColours[b], 7);
            out.lit("\"/>\n");
        }
        text(out, margin, y0 + 44, "start", legendNumber(range.worst));
        text(out, margin + 120.0, y0 + 44, "middle", legendNumber((range.worst + range.best) * 0.5));
        text(out, margin + 240.0, y0 + 44, "end", legendNumber(range.best));
        std::string line;
        if (shaded > 0) {
            line = "worst " + legendNumber(worstValue) + ", mean " +
                   legendNumber(sum / static_cast<double>(shaded)) + ", best " + legendNumber(bestValue) + " over " +
                   std::to_string(shaded) + " elements";
        } else {
            line = "no element of this model has this figure";
        }
        if (shaded < elements) line += "; " + std::to_string(elements - shaded) + " elements without this figure";
        text(out, margin, y0 + 60, "start", line);
    }
    out.lit("</g>\n");
    out.lit("</svg>\n");
    return true;
}
