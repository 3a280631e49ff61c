#include "io/step/step_conforming.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "io/step/step_charts.hpp"
#include "io/step/step_edges.hpp"
#include "io/step/step_readers.hpp"
#include "io/step/step_surface_quality.hpp"
#include "io/step/step_units.hpp"
#include "mesh2d/quality_refine.hpp"

namespace {

using namespace stepvec;

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;

/// Rounds of re-meshing after edges were split; each round re-meshes the faces whose
/// edges changed.
constexpr int kMaxRounds = 40;

/// Passes that refine a face again for the angles of its triangles on the surface, over
/// all its re-meshing rounds (each pass is one more refinement of the face), and the most
/// points one pass adds.
constexpr int kMaxSurfaceQualityPasses = 24;
constexpr size_t kMaxSurfaceQualityPointsPerPass = 4096;

/// A model edge, or a cut that a face adds to open its surface into a plane domain.
struct EdgeRec {
    int64_t instance = 0;  ///< EDGE_CURVE number; 0 for a cut
    int32_t startNode = -1;
    int32_t endNode = -1;
    CurveGeometry curve;
    double t0 = 0.0, t1 = 1.0;
    // A cut runs straight in the parameters of its face's chart, from p0 (t = 0) to p1.
    int32_t cutFace = -1;
    Point2 p0, p1;
    double length = 0.0;
    std::vector<double> params;
    std::vector<int32_t> nodes;
};

struct EdgeUse {
    int32_t edge = 0;
    bool forward = true;
};

/// One point of a domain loop: its node, its chart parameters, and the edge segment that
/// leaves it along the loop.
struct LoopPoint {
    int32_t node = 0;
    Point2 ab;
    int32_t edge = -1;
    int32_t segment = -1;
    bool vertex = false;
};
using Loop = std::vector<LoopPoint>;

struct Domain {
    SurfaceChart chart;
    std::vector<Loop> loops;
};

struct FaceRec {
    int64_t instance = 0;
    SurfaceChart chart;
    int sense = 1;  ///< +1 when the face normal is the surface's own
    std::vector<std::vector<EdgeUse>> loops;  ///< the bounds as read, seams included
    std::vector<int32_t> loopVertices;        ///< nodes of VERTEX_LOOP bounds
    std::vector<std::vector<EdgeUse>> chains;
    std::vector<int32_t> singular;  ///< vertex nodes of seams that bound nothing else
    std::vector<int32_t> cuts;      ///< cut edges, made on the first build
    int32_t extraNode = -1;         ///< a node the face made itself (cone apex, torus corner)
    int qualityPasses = 0;          ///< surface-angle passes spent, over all rounds
    bool dirty = true;
    std::vector<std::array<int32_t, 3>> triangles;
    /// B-spline faces: the inverted parameters of boundary nodes, kept between builds
    /// (inversion is a search over the surface).
    std::map<int32_t, Point2> inverted;
};

struct Part {
    const StepFile* file = nullptr;
    double angleUnit = 1.0;
    std::vector<Point3> nodes;
    std::vector<EdgeRec> edges;
    std::map<int64_t, int32_t> vertexNode;
    std::map<int64_t, int32_t> edgeIndex;
    std::vector<FaceRec> faces;
    double size = 0.0;
    double tolerance = 0.0;
    int64_t edgePoints = 0;
    int64_t maxEdgePoints = kMaxConformingEdgePoints;
    std::string error;
};

std::string faceName(const FaceRec& face) { return "face #" + std::to_string(face.instance); }

bool addNode(Part& part, const Point3& p, int32_t& index) {
    if (static_cast<int64_t>(part.nodes.size()) >= kMaxConformingNodes) {
        part.error = "the conforming mesh needs more than " + std::to_string(kMaxConformingNodes) +
                     " nodes; choose a larger 'size'";
        return false;
    }
    index = static_cast<int32_t>(part.nodes.size());
    part.nodes.push_back(p);
    return true;
}

// ----- topology -----

bool vertexNodeOf(Part& part, const StepValue& ref, int32_t& node, std::string& why) {
    Point3 p;
    if (ref.kind != StepValueKind::Reference || !readVertexPoint(*part.file, ref, p)) {
        why = "a vertex of one of its edges cannot be read";
        return false;
    }
    auto found = part.vertexNode.find(ref.ref);
    if (found != part.vertexNode.end()) {
        node = found->second;
        return true;
    }
    if (!addNode(part, p, node)) {
        why = part.error;
        return false;
    }
    part.vertexNode[ref.ref] = node;
    return true;
}

/// The parameter range of an edge on its curve, from its start vertex to its end vertex.
bool edgeRange(EdgeRec& e, const Point3& start, const Point3& end, bool sameSense, std::string& why) {
    bool closed = e.startNode == e.endNode || squaredDistance(start, end) < 1e-18;
    switch (e.curve.kind) {
        case CurveKind::Line:
            e.t0 = 0.0;
            e.t1 = 1.0;
            if (closed) {
                why = "one of its LINE edges has coinciding ends";
                return false;
            }
            return true;
        case CurveKind::Circle:
        case CurveKind::Ellipse: {
            double a0 = curveParameterOf(e.curve, start);
            double a1 = curveParameterOf(e.curve, end);
            double d = normalizeAngle(sameSense ? a1 - a0 : a0 - a1);
            if (closed) d = kTwoPi;
            if (!(d > 1e-9)) {
                why = "one of its arcs has no extent";
                return false;
            }
            e.t0 = a0;
            e.t1 = sameSense ? a0 + d : a0 - d;
            return true;
        }
        case CurveKind::Bspline:
            if (closed) {
                e.t0 = sameSense ? e.curve.tMin : e.curve.tMax;
                e.t1 = sameSense ? e.curve.tMax : e.curve.tMin;
            } else {
                e.t0 = curveParameterOf(e.curve, start);
                e.t1 = curveParameterOf(e.curve, end);
            }
            if (e.t0 == e.t1) {
                why = "one of its B-spline edges has no extent";
                return false;
            }
            return true;
    }
    return false;
}

/// The edge of an EDGE_CURVE reference, read once.
bool edgeOf(Part& part, const StepValue& ref, int32_t& index, std::string& why) {
    const StepFile& file = *part.file;
    const StepEntity* e = findEntity(file, ref);
    if (e == nullptr || e->type != "EDGE_CURVE" || e->params.size() < 5) {
        why = "one of its oriented edges does not refer to an EDGE_CURVE";
        return false;
    }
    auto found = part.edgeIndex.find(ref.ref);
    if (found != part.edgeIndex.end()) {
        index = found->second;
        return true;
    }
    EdgeRec rec;
    rec.instance = ref.ref;
    Point3 start, end;
    if (!vertexNodeOf(part, e->params[1], rec.startNode, why) || !vertexNodeOf(part, e->params[2], rec.endNode, why)) {
        return false;
    }
    start = part.nodes[rec.startNode];
    end = part.nodes[rec.endNode];
    std::string curveWhy;
    if (!readEdgeCurve(file, e->params[3], start, end, rec.curve, curveWhy)) {
        why = "edge #" + std::to_string(ref.ref) + ": " + curveWhy;
        return false;
    }
    if (!edgeRange(rec, start, end, stepFlag(*e, 4), curveWhy)) {
        why = "edge #" + std::to_string(ref.ref) + ": " + curveWhy;
        return false;
    }
    // Length by sampling, for the bounding box and the size check.
    Point3 prev = curvePointAt(rec.curve, rec.t0);
    for (int i = 1; i <= 64; ++i) {
        Point3 q = curvePointAt(rec.curve, rec.t0 + (static_cast<double>(i) / 64.0) * (rec.t1 - rec.t0));
        rec.length += length(sub(q, prev));
        prev = q;
    }
    index = static_cast<int32_t>(part.edges.size());
    part.edgeIndex[ref.ref] = index;
    part.edges.push_back(std::move(rec));
    return true;
}

/// Reads a face: its surface, its bounds as edge uses, seams removed, split into closed
/// chains.
bool readFace(Part& part, int64_t instance, const StepEntity& entity, FaceRec& face, std::string& why) {
    const StepFile& file = *part.file;
    face.instance = instance;
    if (entity.params.size() < 3 || entity.params[1].kind != StepValueKind::List) {
        why = "it has no list of bounds";
        return false;
    }
    if (!readSurfaceChart(file, entity.params[2], part.angleUnit, face.chart, why)) return false;
    face.sense = entity.params.size() < 4 || entity.params[3].kind != StepValueKind::Enumeration ||
                         entity.params[3].text == "T"
                     ? 1
                     : -1;
    std::vector<std::vector<EdgeUse>> loops;
    std::vector<int32_t> loopVertices;
    for (const StepValue& item : entity.params[1].items) {
        const StepEntity* bound = findEntity(file, item);
        if (bound == nullptr || (bound->type != "FACE_OUTER_BOUND" && bound->type != "FACE_BOUND") ||
            bound->params.size() < 2) {
            why = "one of its bounds is not a FACE_BOUND";
            return false;
        }
        bool boundSense = bound->params.size() < 3 || bound->params[2].kind != StepValueKind::Enumeration ||
                          bound->params[2].text == "T";
        const StepEntity* loop = findEntity(file, bound->params[1]);
        if (loop != nullptr && loop->type == "VERTEX_LOOP" && loop->params.size() >= 2) {
            int32_t node = 0;
            if (!vertexNodeOf(part, loop->params[1], node, why)) return false;
            loopVertices.push_back(node);
            continue;
        }
        if (loop == nullptr || loop->type != "EDGE_LOOP" || loop->params.size() < 2 ||
            loop->params[1].kind != StepValueKind::List) {
            why = "one of its bounds has no EDGE_LOOP";
            return false;
        }
        std::vector<EdgeUse> uses;
        for (const StepValue& oeRef : loop->params[1].items) {
            const StepEntity* oe = findEntity(file, oeRef);
            if (oe == nullptr || oe->type != "ORIENTED_EDGE" || oe->params.size() < 5) {
                why = "one of its loops holds something other than ORIENTED_EDGEs";
                return false;
            }
            EdgeUse use;
            if (!edgeOf(part, oe->params[3], use.edge, why)) return false;
            use.forward = stepFlag(*oe, 4) == boundSense;
            uses.push_back(use);
        }
        if (!boundSense) std::reverse(uses.begin(), uses.end());
        loops.push_back(std::move(uses));
    }
    face.loops = std::move(loops);
    face.loopVertices = std::move(loopVertices);
    return true;
}

/// Merges vertex nodes closer than `tolerance` (a shell written with a vertex record per
/// edge end) into the first of them, in the edges and the faces' vertex loops.
void mergeCoincidentVertices(Part& part, double tolerance) {
    std::vector<int32_t> vertices;
    for (const auto& entry : part.vertexNode) vertices.push_back(entry.second);
    std::sort(vertices.begin(), vertices.end());
    vertices.erase(std::unique(vertices.begin(), vertices.end()), vertices.end());
    std::vector<int32_t> order = vertices;
    std::sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        return part.nodes[a].x < part.nodes[b].x || (part.nodes[a].x == part.nodes[b].x && a < b);
    });
    std::map<int32_t, int32_t> target;
    auto find = [&](int32_t v) {
        auto it = target.find(v);
        while (it != target.end() && it->second != v) {
            v = it->second;
            it = target.find(v);
        }
        return v;
    };
    for (int32_t v : vertices) target[v] = v;
    double squared = tolerance * tolerance;
    for (size_t i = 0; i < order.size(); ++i) {
        for (size_t j = i + 1; j < order.size(); ++j) {
            const Point3& a = part.nodes[order[i]];
            const Point3& b = part.nodes[order[j]];
            if (b.x - a.x > tolerance) break;
            if (squaredDistance(a, b) > squared) continue;
            int32_t ra = find(order[i]), rb = find(order[j]);
            if (ra != rb) target[std::max(ra, rb)] = std::min(ra, rb);
        }
    }
    for (EdgeRec& e : part.edges) {
        if (e.cutFace >= 0) continue;
        e.startNode = find(e.startNode);
        e.endNode = find(e.endNode);
    }
    for (auto& entry : part.vertexNode) entry.second = find(entry.second);
    for (FaceRec& f : part.faces) {
        for (int32_t& v : f.loopVertices) v = find(v);
    }
}

/// True when every edge of the face's bounds is a seam (used twice), so that no chain
/// bounds it: a whole sphere or torus.
bool onlySeams(const FaceRec& face) {
    std::map<int32_t, int> count;
    for (const auto& loop : face.loops) {
        for (const EdgeUse& use : loop) ++count[use.edge];
    }
    for (const auto& entry : count) {
        if (entry.second < 2) return false;
    }
    return true;
}

/// Splits a face's bounds into closed chains, seams removed.
bool chainFace(Part& part, FaceRec& face, std::string& why) {
    const std::vector<std::vector<EdgeUse>>& loops = face.loops;
    const std::vector<int32_t>& loopVertices = face.loopVertices;
    // Seams: edges used twice by this face bound nothing; their vertices that no other
    // edge of the face touches are singular points (a cone's apex).
    std::map<int32_t, int> count;
    for (const auto& loop : loops) {
        for (const EdgeUse& use : loop) ++count[use.edge];
    }
    std::set<int32_t> onChains;
    std::set<int32_t> seamVertices(loopVertices.begin(), loopVertices.end());
    for (const auto& loop : loops) {
        std::vector<EdgeUse> kept;
        for (const EdgeUse& use : loop) {
            const EdgeRec& e = part.edges[use.edge];
            if (count[use.edge] >= 2) {
                seamVertices.insert(e.startNode);
                seamVertices.insert(e.endNode);
                continue;
            }
            onChains.insert(e.startNode);
            onChains.insert(e.endNode);
            kept.push_back(use);
        }
        // Split into closed chains.
        size_t begin = 0;
        while (begin < kept.size()) {
            const EdgeRec& first = part.edges[kept[begin].edge];
            int32_t startNode = kept[begin].forward ? first.startNode : first.endNode;
            size_t k = begin;
            bool closed = false;
            for (; k < kept.size(); ++k) {
                const EdgeRec& e = part.edges[kept[k].edge];
                int32_t from = kept[k].forward ? e.startNode : e.endNode;
                int32_t to = kept[k].forward ? e.endNode : e.startNode;
                if (k > begin) {
                    const EdgeRec& p = part.edges[kept[k - 1].edge];
                    int32_t prevTo = kept[k - 1].forward ? p.endNode : p.startNode;
                    if (prevTo != from) {
                        why = "one of its loops is not connected at edge #" + std::to_string(e.instance);
                        return false;
                    }
                }
                if (to == startNode) {
                    closed = true;
                    break;
                }
            }
            if (!closed) {
                why = "one of its loops does not close";
                return false;
            }
            face.chains.emplace_back(kept.begin() + static_cast<std::ptrdiff_t>(begin),
                                     kept.begin() + static_cast<std::ptrdiff_t>(k + 1));
            begin = k + 1;
        }
    }
    for (int32_t v : seamVertices) {
        if (onChains.count(v) == 0) face.singular.push_back(v);
    }
    return true;
}

// ----- edge discretization -----

Point3 edgePointAt(const Part& part, const EdgeRec& e, double t) {
    if (e.cutFace >= 0) {
        const SurfaceChart& chart = part.faces[e.cutFace].chart;
        return chartSurfacePoint(chart, {e.p0.x + t * (e.p1.x - e.p0.x), e.p0.y + t * (e.p1.y - e.p0.y)});
    }
    return curvePointAt(e.curve, t);
}

bool discretizeEdge(Part& part, int32_t index) {
    EdgeRec& e = part.edges[index];
    std::vector<double> params;
    int64_t budget = part.maxEdgePoints - part.edgePoints;
    bool ok = false;
    if (e.cutFace >= 0) {
        double count = std::ceil(e.length / part.size);
        ok = count <= static_cast<double>(budget);
        if (ok) {
            int64_t n = std::max<int64_t>(1, static_cast<int64_t>(count));
            for (int64_t i = 0; i <= n; ++i) params.push_back(i == n ? 1.0 : static_cast<double>(i) / n);
        }
    } else {
        ok = discretizeCurve(e.curve, e.t0, e.t1, part.size, part.tolerance, budget, params);
    }
    if (!ok) {
        part.error = "the edges need more than " + std::to_string(part.maxEdgePoints) +
                     " points at this 'size' and 'chord_tolerance'";
        return false;
    }
    part.edgePoints += static_cast<int64_t>(params.size());
    std::vector<int32_t> nodes(params.size());
    nodes.front() = e.startNode;
    nodes.back() = e.endNode;
    for (size_t i = 1; i + 1 < params.size(); ++i) {
        if (!addNode(part, edgePointAt(part, part.edges[index], params[i]), nodes[i])) return false;
    }
    EdgeRec& again = part.edges[index];
    again.params = std::move(params);
    again.nodes = std::move(nodes);
    return true;
}

/// Splits segment s of an edge at its parameter midpoint.
bool splitEdgeSegment(Part& part, int32_t index, int32_t s) {
    EdgeRec& e = part.edges[index];
    double t = e.params[s] + 0.5 * (e.params[s + 1] - e.params[s]);
    int32_t node = 0;
    if (++part.edgePoints > part.maxEdgePoints) {
        part.error = "the edges need more than " + std::to_string(part.maxEdgePoints) + " points";
        return false;
    }
    if (!addNode(part, edgePointAt(part, e, t), node)) return false;
    EdgeRec& again = part.edges[index];
    again.params.insert(again.params.begin() + s + 1, t);
    again.nodes.insert(again.nodes.begin() + s + 1, node);
    return true;
}

// ----- domains -----

/// The loop of a chain: every edge's points in the use's direction, each edge's last point
/// left to the next edge.
Loop chainLoop(const Part& part, const std::vector<EdgeUse>& chain) {
    Loop loop;
    for (const EdgeUse& use : chain) {
        const EdgeRec& e = part.edges[use.edge];
        int32_t n = static_cast<int32_t>(e.nodes.size());
        for (int32_t i = 0; i + 1 < n; ++i) {
            LoopPoint p;
            int32_t k = use.forward ? i : n - 1 - i;
            p.node = e.nodes[k];
            p.edge = use.edge;
            p.segment = use.forward ? i : k - 1;
            p.vertex = i == 0;
            loop.push_back(p);
        }
    }
    return loop;
}

/// The angle moved by whole turns to within half a turn of the reference.
double wrapAngle(double a, double reference) {
    if (!std::isfinite(a) || !std::isfinite(reference)) return a;
    double turns = std::floor((a - reference + kPi) / kTwoPi);
    return a - turns * kTwoPi;
}

/// Chart parameters of the loop's points, angles unwrapped along the loop; returns the
/// loop's turns about each periodic parameter.
std::array<int, 2> assignParameters(const Part& part, FaceRec& face, Loop& loop) {
    const SurfaceChart& chart = face.chart;
    std::array<int, 2> turns = {0, 0};
    for (size_t i = 0; i < loop.size(); ++i) {
        Point2 ab;
        if (chart.kind == SurfaceKind::Bspline) {
            auto found = face.inverted.find(loop[i].node);
            if (found == face.inverted.end()) {
                const Point3& p = part.nodes[loop[i].node];
                ab = chartParameters(chart, p);
                // A point that split a boundary segment lies between its neighbours on the
                // loop: searched from their midpoint too, the nearer answer is kept (the
                // global search may settle on another part of a strongly curved surface).
                auto prev = face.inverted.find(loop[(i + loop.size() - 1) % loop.size()].node);
                auto next = face.inverted.find(loop[(i + 1) % loop.size()].node);
                if (prev != face.inverted.end() && next != face.inverted.end()) {
                    // Across the seam of a surface closed in u the neighbours' angles are
                    // taken within half a turn of each other.
                    double nextA = chart.closedU ? wrapAngle(next->second.x, prev->second.x) : next->second.x;
                    Point2 mid{prev->second.x + 0.5 * (nextA - prev->second.x),
                               prev->second.y + 0.5 * (next->second.y - prev->second.y)};
                    Point2 local = chartParametersFrom(chart, p, mid);
                    if (squaredDistance(chartSurfacePoint(chart, local), p) <=
                        squaredDistance(chartSurfacePoint(chart, ab), p)) {
                        ab = local;
                    }
                }
                face.inverted[loop[i].node] = ab;
            } else {
                ab = found->second;
            }
        } else {
            ab = chartParameters(chart, part.nodes[loop[i].node]);
        }
        if (i > 0) {
            if (chart.kind == SurfaceKind::Cone && ab.y < 1e-9 * (1.0 + chart.radius)) ab.x = loop[i - 1].ab.x;
            if (chart.periodicA) ab.x = wrapAngle(ab.x, loop[i - 1].ab.x);
            if (chart.periodicB) ab.y = wrapAngle(ab.y, loop[i - 1].ab.y);
        }
        loop[i].ab = ab;
    }
    if (loop.size() > 1) {
        if (chart.kind == SurfaceKind::Cone && loop[0].ab.y < 1e-9 * (1.0 + chart.radius)) loop[0].ab.x = loop[1].ab.x;
        if (chart.periodicA) {
            double closing = wrapAngle(loop[0].ab.x, loop.back().ab.x);
            turns[0] = static_cast<int>(std::lround((closing - loop[0].ab.x) / kTwoPi));
        }
        if (chart.periodicB) {
            double closing = wrapAngle(loop[0].ab.y, loop.back().ab.y);
            turns[1] = static_cast<int>(std::lround((closing - loop[0].ab.y) / kTwoPi));
        }
    }
    return turns;
}

/// The loop run backwards from the same first point.
Loop reversedLoop(const Loop& loop) {
    Loop out(loop.size());
    size_t n = loop.size();
    for (size_t i = 0; i < n; ++i) {
        out[i] = loop[(n - i) % n];
        // The segment leaving out[i] is the one that leaves the point after it in the loop.
        const LoopPoint& next = loop[(2 * n - i - 1) % n];
        out[i].edge = next.edge;
        out[i].segment = next.segment;
    }
    return out;
}

/// Unwraps the periodic parameters again from the loop's first point on.
void rewrap(Loop& loop, const SurfaceChart& chart) {
    for (size_t i = 1; i < loop.size(); ++i) {
        if (chart.periodicA) loop[i].ab.x = wrapAngle(loop[i].ab.x, loop[i - 1].ab.x);
        if (chart.periodicB) loop[i].ab.y = wrapAngle(loop[i].ab.y, loop[i - 1].ab.y);
    }
}

void shiftLoop(Loop& loop, double da, double db) {
    for (LoopPoint& p : loop) {
        p.ab.x += da;
        p.ab.y += db;
    }
}

double paramArea(const Loop& loop, const SurfaceChart& chart) {
    double area = 0.0;
    for (size_t i = 0; i < loop.size(); ++i) {
        Point2 p = chartPlanePoint(chart, loop[i].ab);
        Point2 q = chartPlanePoint(chart, loop[(i + 1) % loop.size()].ab);
        area += p.x * q.y - q.x * p.y;
    }
    return 0.5 * area;
}

Point2 lerp(const Point2& a, const Point2& b, double t) { return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)}; }

/// Makes (on the first build) or finds the face's cut number k from parameters p0 to p1.
bool cutEdge(Part& part, int32_t faceIndex, size_t k, const Point2& p0, const Point2& p1, int32_t startNode,
             int32_t endNode, int32_t& index) {
    FaceRec& face = part.faces[faceIndex];
    if (k < face.cuts.size()) {
        index = face.cuts[k];
        return true;
    }
    EdgeRec e;
    e.cutFace = faceIndex;
    e.p0 = p0;
    e.p1 = p1;
    e.startNode = startNode;
    e.endNode = endNode;
    Point2 q0 = chartPlanePoint(face.chart, p0);
    Point2 q1 = chartPlanePoint(face.chart, p1);
    double dx = q1.x - q0.x, dy = q1.y - q0.y;
    e.length = std::sqrt(dx * dx + dy * dy);
    index = static_cast<int32_t>(part.edges.size());
    part.edges.push_back(e);
    part.faces[faceIndex].cuts.push_back(index);
    return discretizeEdge(part, index);
}

/// Appends the cut's points from parameter index `from` towards `to` (exclusive), offset
/// by (da, db) in the parameters.
void appendCut(const Part& part, int32_t cut, bool forward, double da, double db, Loop& out) {
    const EdgeRec& e = part.edges[cut];
    int32_t n = static_cast<int32_t>(e.params.size());
    for (int32_t i = 0; i + 1 < n; ++i) {
        int32_t k = forward ? i : n - 1 - i;
        LoopPoint p;
        p.node = e.nodes[k];
        Point2 ab = lerp(e.p0, e.p1, e.params[k]);
        p.ab = {ab.x + da, ab.y + db};
        p.edge = cut;
        p.segment = forward ? i : k - 1;
        p.vertex = i == 0;
        out.push_back(p);
    }
}

/// A band between two loops that wind once around periodic parameter `axis`, opened by a
/// cut from a's first point to the vertex of b nearest to it around the axis.
bool bandDomain(Part& part, int32_t faceIndex, Loop a, Loop b, int axis, int turnsA, int turnsB, Loop& out) {
    const SurfaceChart& chart = part.faces[faceIndex].chart;
    if (turnsA < 0) a = reversedLoop(a);
    if (turnsB > 0) b = reversedLoop(b);
    rewrap(a, chart);
    auto coord = [axis](const Point2& p) { return axis == 0 ? p.x : p.y; };
    double a0 = coord(a[0].ab);
    size_t best = 0;
    double bestGap = 1e300;
    for (size_t i = 0; i < b.size(); ++i) {
        if (!b[i].vertex) continue;
        double gap = std::fabs(wrapAngle(coord(b[i].ab), a0) - a0);
        if (gap < bestGap) {
            bestGap = gap;
            best = i;
        }
    }
    std::rotate(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(best), b.end());
    double shift = wrapAngle(coord(b[0].ab), a0) - coord(b[0].ab);
    rewrap(b, chart);
    shiftLoop(b, axis == 0 ? shift : 0.0, axis == 0 ? 0.0 : shift);
    double pa = axis == 0 ? kTwoPi : 0.0;
    double pb = axis == 0 ? 0.0 : kTwoPi;
    int32_t cut = 0;
    if (!cutEdge(part, faceIndex, 0, a[0].ab, b[0].ab, a[0].node, b[0].node, cut)) return false;
    // The stored cut may come from an earlier build; express a and b against it.
    const EdgeRec& ce = part.edges[cut];
    shiftLoop(a, ce.p0.x - a[0].ab.x, ce.p0.y - a[0].ab.y);
    shiftLoop(b, ce.p1.x - b[0].ab.x, ce.p1.y - b[0].ab.y);
    out.clear();
    out.insert(out.end(), a.begin(), a.end());
    appendCut(part, cut, true, pa, pb, out);
    for (LoopPoint p : b) {
        p.ab.x += pa;
        p.ab.y += pb;
        out.push_back(p);
    }
    appendCut(part, cut, false, 0.0, 0.0, out);
    return true;
}

/// The projection pole of a spherical face: the candidate whose antipode is farthest from
/// the face's boundary among those that leave the face bounded in the chart.
bool chooseSpherePole(const Part& part, FaceRec& face, std::string& why) {
    SurfaceChart& chart = face.chart;
    const Frame3& f = chart.frame;
    Point3 mean{0.0, 0.0, 0.0};
    int64_t count = 0;
    std::vector<Loop> loops;
    for (const auto& chain : face.chains) {
        loops.push_back(chainLoop(part, chain));
        for (const LoopPoint& p : loops.back()) {
            mean = add(mean, sub(part.nodes[p.node], f.origin));
            ++count;
        }
    }
    std::vector<Point3> candidates = {f.zAxis, scale(-1.0, f.zAxis), f.xAxis, scale(-1.0, f.xAxis), f.yAxis,
                                      scale(-1.0, f.yAxis)};
    if (count > 0) {
        mean = scale(1.0 / static_cast<double>(count), mean);
        if (length(mean) > 1e-3 * chart.radius) {
            normalize(mean);
            candidates.push_back(mean);
            candidates.push_back(scale(-1.0, mean));
        }
    }
    double bestScore = -1.0;
    Point3 bestPole = f.zAxis;
    for (const Point3& pole : candidates) {
        setSpherePole(chart, pole);
        double score = 2.0;
        double area = 0.0;
        for (Loop& loop : loops) {
            for (LoopPoint& p : loop) {
                Point3 d = scale(1.0 / chart.radius, sub(part.nodes[p.node], f.origin));
                score = std::min(score, 1.0 + dot(d, pole));
                p.ab = chartParameters(chart, part.nodes[p.node]);
            }
            area += paramArea(loop, chart);
        }
        if (area * chart.orientation * face.sense > 0.0 && score > bestScore + 1e-12) {
            bestScore = score;
            bestPole = pole;
        }
    }
    if (bestScore < 0.05) {
        why = "no projection of its sphere keeps it away from the projection's pole";
        return false;
    }
    setSpherePole(chart, bestPole);
    return true;
}

/// The plane domains of a face (two for a whole sphere, one otherwise).
bool buildDomains(Part& part, int32_t faceIndex, std::vector<Domain>& domains, std::string& why) {
    FaceRec& face = part.faces[faceIndex];
    domains.clear();
    SurfaceChart& chart = face.chart;
    if (face.chains.empty()) {
        if (chart.kind == SurfaceKind::Sphere) {
            // A whole sphere: two hemispheres joined at an equator of the placement.
            if (face.cuts.empty()) {
                EdgeRec eq;
                eq.curve.kind = CurveKind::Circle;
                eq.curve.frame = chart.frame;
                eq.curve.radius1 = chart.radius;
                eq.curve.radius2 = chart.radius;
                eq.t0 = 0.0;
                eq.t1 = kTwoPi;
                if (!addNode(part, curvePointAt(eq.curve, 0.0), eq.startNode)) return false;
                eq.endNode = eq.startNode;
                eq.length = kTwoPi * chart.radius;
                int32_t index = static_cast<int32_t>(part.edges.size());
                part.edges.push_back(eq);
                part.faces[faceIndex].cuts.push_back(index);
                if (!discretizeEdge(part, index)) return false;
            }
            FaceRec& f = part.faces[faceIndex];
            for (int side = 0; side < 2; ++side) {
                Domain d;
                d.chart = f.chart;
                setSpherePole(d.chart, side == 0 ? f.chart.frame.zAxis : scale(-1.0, f.chart.frame.zAxis));
                Loop loop = chainLoop(part, {EdgeUse{f.cuts[0], true}});
                for (LoopPoint& p : loop) p.ab = chartParameters(d.chart, part.nodes[p.node]);
                d.loops.push_back(std::move(loop));
                domains.push_back(std::move(d));
            }
            return true;
        }
        if (chart.kind == SurfaceKind::Torus) {
            // A whole torus: a rectangle of the chart bounded by two cuts, each used twice.
            if (face.extraNode < 0) {
                int32_t node = 0;
                if (!addNode(part, chartSurfacePoint(chart, {0.0, kPi}), node)) return false;
                part.faces[faceIndex].extraNode = node;
            }
            int32_t corner = part.faces[faceIndex].extraNode;
            int32_t along = 0, across = 0;
            if (!cutEdge(part, faceIndex, 0, {0.0, kPi}, {kTwoPi, kPi}, corner, corner, along) ||
                !cutEdge(part, faceIndex, 1, {0.0, kPi}, {0.0, 3.0 * kPi}, corner, corner, across)) {
                return false;
            }
            Domain d;
            d.chart = part.faces[faceIndex].chart;
            Loop loop;
            appendCut(part, along, true, 0.0, 0.0, loop);
            appendCut(part, across, true, kTwoPi, 0.0, loop);
            appendCut(part, along, false, 0.0, kTwoPi, loop);
            appendCut(part, across, false, 0.0, 0.0, loop);
            d.loops.push_back(std::move(loop));
            domains.push_back(std::move(d));
            return true;
        }
        why = "it has no bounds";
        return false;
    }
    if (chart.kind == SurfaceKind::Sphere && !chooseSpherePole(part, face, why)) return false;

    Domain d;
    d.chart = chart;
    std::vector<Loop> closedLoops;
    std::vector<std::pair<Loop, std::array<int, 2>>> wrapping;
    for (const auto& chain : face.chains) {
        Loop loop = chainLoop(part, chain);
        if (loop.size() < 3) {
            why = "one of its loops has fewer than three points";
            return false;
        }
        std::array<int, 2> turns = assignParameters(part, part.faces[faceIndex], loop);
        if (turns[0] == 0 && turns[1] == 0) {
            closedLoops.push_back(std::move(loop));
        } else {
            wrapping.push_back({std::move(loop), turns});
        }
    }
    Loop outer;
    int sense = chart.orientation * face.sense;
    if (wrapping.size() == 2 && std::abs(wrapping[0].second[0]) + std::abs(wrapping[0].second[1]) == 1 &&
        wrapping[0].second[0] != 0 && wrapping[1].second[0] != 0 && wrapping[1].second[1] == 0 &&
        wrapping[0].second[1] == 0) {
        Loop a = wrapping[0].first;
        Loop b = wrapping[1].first;
        int ta = wrapping[0].second[0];
        int tb = wrapping[1].second[0];
        if (chart.periodicB) {
            // Two parallels of a torus bound one of two bands: the one on the left of the
            // loop that runs forward about the axis, seen along the face normal.
            if (ta * sense < 0) {
                std::swap(a, b);
                std::swap(ta, tb);
            }
            double mean = 0.0, meanB = 0.0;
            for (const LoopPoint& p : a) mean += p.ab.y;
            for (const LoopPoint& p : b) meanB += p.ab.y;
            mean /= static_cast<double>(a.size());
            meanB /= static_cast<double>(b.size());
            double shift = std::floor((meanB - mean) / kTwoPi) * kTwoPi;
            shiftLoop(b, 0.0, -shift);
        }
        if (!bandDomain(part, faceIndex, a, b, 0, ta, tb, outer)) return false;
    } else if (wrapping.size() == 2 && wrapping[0].second[0] == 0 && wrapping[1].second[0] == 0 &&
               std::abs(wrapping[0].second[1]) == 1 && std::abs(wrapping[1].second[1]) == 1) {
        // Two meridians of a torus: the band lies on the left of the loop running forward
        // about the tube, which for the tube angle is the side of decreasing axis angle.
        Loop a = wrapping[0].first;
        Loop b = wrapping[1].first;
        int ta = wrapping[0].second[1];
        int tb = wrapping[1].second[1];
        if (ta * sense > 0) {
            std::swap(a, b);
            std::swap(ta, tb);
        }
        double mean = 0.0, meanB = 0.0;
        for (const LoopPoint& p : a) mean += p.ab.x;
        for (const LoopPoint& p : b) meanB += p.ab.x;
        mean /= static_cast<double>(a.size());
        meanB /= static_cast<double>(b.size());
        double shift = std::floor((meanB - mean) / kTwoPi) * kTwoPi;
        shiftLoop(b, -shift, 0.0);
        if (!bandDomain(part, faceIndex, a, b, 1, -ta, -tb, outer)) return false;
    } else if (wrapping.size() == 1 && chart.kind == SurfaceKind::Cone && wrapping[0].second[0] != 0 &&
               std::abs(wrapping[0].second[0]) == 1) {
        // A cone closed at its apex: the loop, then a cut to the apex and back.
        Loop a = wrapping[0].first;
        if (wrapping[0].second[0] < 0) a = reversedLoop(a);
        rewrap(a, chart);
        FaceRec& f = part.faces[faceIndex];
        if (f.extraNode < 0) {
            int32_t apex = -1;
            for (int32_t v : f.singular) {
                if (length(sub(part.nodes[v], chart.apex)) < 1e-6 * (1.0 + a.size() * part.size)) apex = v;
            }
            if (apex < 0 && !addNode(part, chart.apex, apex)) return false;
            part.faces[faceIndex].extraNode = apex;
        }
        int32_t apex = part.faces[faceIndex].extraNode;
        int32_t cut = 0;
        if (!cutEdge(part, faceIndex, 0, a[0].ab, {a[0].ab.x, 0.0}, a[0].node, apex, cut)) return false;
        const EdgeRec& ce = part.edges[cut];
        shiftLoop(a, ce.p0.x - a[0].ab.x, 0.0);
        outer = a;
        appendCut(part, cut, true, kTwoPi, 0.0, outer);
        appendCut(part, cut, false, 0.0, 0.0, outer);
    } else if (wrapping.size() == 1 && chart.closedU && std::abs(wrapping[0].second[0]) == 1 &&
               wrapping[0].second[1] == 0) {
        // One loop around a closed B-spline surface: the face closes at a pole, a row of
        // control points collapsed to one point, on the loop's left (seen along the face
        // normal). The chart is made polar about it once; a pole that is not sharp gives a
        // whole disc, a sharp one a sector opened by a cut to the pole, as a cone's apex.
        Loop a = wrapping[0].first;
        int turns = wrapping[0].second[0];
        FaceRec& f = part.faces[faceIndex];
        if (!f.chart.polar && !setBsplinePole(f.chart, turns * sense > 0, why)) return false;
        d.chart = f.chart;
        if (turns < 0) a = reversedLoop(a);
        rewrap(a, f.chart);
        if (f.chart.poleFactor < 1.0) {
            if (f.extraNode < 0) {
                Point3 pole = bsplinePole(f.chart);
                int32_t node = -1;
                for (int32_t v : f.singular) {
                    if (length(sub(part.nodes[v], pole)) < 1e-6 * (1.0 + a.size() * part.size)) node = v;
                }
                if (node < 0 && !addNode(part, pole, node)) return false;
                part.faces[faceIndex].extraNode = node;
            }
            int32_t pole = part.faces[faceIndex].extraNode;
            double poleV = f.chart.poleAtMax ? f.chart.bspline.vMax : f.chart.bspline.vMin;
            int32_t cut = 0;
            if (!cutEdge(part, faceIndex, 0, a[0].ab, {a[0].ab.x, poleV}, a[0].node, pole, cut)) return false;
            const EdgeRec& ce = part.edges[cut];
            shiftLoop(a, ce.p0.x - a[0].ab.x, 0.0);
            outer = std::move(a);
            appendCut(part, cut, true, kTwoPi, 0.0, outer);
            appendCut(part, cut, false, 0.0, 0.0, outer);
        } else {
            outer = std::move(a);
        }
    } else if (!wrapping.empty()) {
        why = "its bounds wind around its surface in a way that is not supported";
        return false;
    }
    if (!outer.empty()) {
        d.loops.push_back(std::move(outer));
    } else {
        // The largest loop is the outer one; the others are moved by whole turns next to it.
        size_t biggest = 0;
        double biggestArea = -1.0;
        for (size_t i = 0; i < closedLoops.size(); ++i) {
            double area = std::fabs(paramArea(closedLoops[i], chart));
            if (area > biggestArea) {
                biggestArea = area;
                biggest = i;
            }
        }
        std::swap(closedLoops[0], closedLoops[biggest]);
        d.loops.push_back(closedLoops[0]);
    }
    // Holes next to the outer loop.
    const Loop& reference = d.loops[0];
    double refA = 0.0, refB = 0.0;
    for (const LoopPoint& p : reference) {
        refA += p.ab.x;
        refB += p.ab.y;
    }
    refA /= static_cast<double>(reference.size());
    refB /= static_cast<double>(reference.size());
    for (size_t i = d.loops.size() == 1 && outer.empty() ? 1 : 0; i < closedLoops.size(); ++i) {
        if (outer.empty() && i == 0) continue;
        Loop hole = closedLoops[i];
        double ma = 0.0, mb = 0.0;
        for (const LoopPoint& p : hole) {
            ma += p.ab.x;
            mb += p.ab.y;
        }
        ma /= static_cast<double>(hole.size());
        mb /= static_cast<double>(hole.size());
        shiftLoop(hole, chart.periodicA ? wrapAngle(ma, refA) - ma : 0.0, chart.periodicB ? wrapAngle(mb, refB) - mb : 0.0);
        d.loops.push_back(std::move(hole));
    }
    if (chart.kind == SurfaceKind::Cone) {
        double lo = 1e300, hi = -1e300;
        for (const LoopPoint& p : d.loops[0]) {
            lo = std::min(lo, p.ab.x);
            hi = std::max(hi, p.ab.x);
        }
        d.chart.psiCenter = 0.5 * (lo + hi) * chart.sinAngle;
    } else if (d.chart.polar) {
        double lo = 1e300, hi = -1e300;
        for (const LoopPoint& p : d.loops[0]) {
            double psi = chartPolarAngle(d.chart, p.ab);
            lo = std::min(lo, psi);
            hi = std::max(hi, psi);
        }
        d.chart.psiCenter = 0.5 * (lo + hi);
    }
    domains.push_back(std::move(d));
    return true;
}

// ----- meshing -----

struct DomainResult {
    bool ok = false;
    std::string why;
    std::vector<std::pair<int32_t, int32_t>> splits;  ///< (edge, segment) to split
    std::vector<std::array<int32_t, 3>> triangles;
};

/// The smallest space angle at the domain's loop points between their neighbours along
/// the loop; points whose node the domain uses more than once (cut ends, seams) and
/// points between two copies of one node (a cone's apex) are left out.
double minSpaceCornerAngle(const Part& part, const Domain& d) {
    std::map<int32_t, int> uses;
    for (const Loop& loop : d.loops) {
        for (const LoopPoint& p : loop) ++uses[p.node];
    }
    double smallest = 360.0;
    for (const Loop& loop : d.loops) {
        size_t n = loop.size();
        for (size_t i = 0; i < n; ++i) {
            const LoopPoint& prev = loop[(i + n - 1) % n];
            const LoopPoint& next = loop[(i + 1) % n];
            if (uses[loop[i].node] > 1 || prev.node == next.node) continue;
            smallest = std::min(smallest, spaceAngleDeg(part.nodes[loop[i].node], part.nodes[prev.node],
                                                        part.nodes[next.node]));
        }
    }
    return smallest;
}

/// The chart triangulation of a domain, refined until its triangles meet the angle bound
/// on the surface too. The chart refinement meets the bound in the chart; the triangles
/// that fall short on the surface are first flipped towards better surface triangles,
/// then the chart points whose images are their space circumcentres are added and the
/// domain is refined again; `passes` counts these passes for the face, up to
/// kMaxSurfaceQualityPasses. A circumcentre
/// that would land outside the domain, or within a boundary segment's diametral sphere,
/// splits that boundary segment instead (and so its model edge).
DomainResult meshDomain(Part& part, const Domain& d, const ConformingOptions& options, int& passes) {
    DomainResult result;
    PlanarDomain planar;
    std::vector<const LoopPoint*> boundary;
    std::vector<size_t> loopStart;
    double minAngle = 360.0;
    for (size_t k = 0; k < d.loops.size(); ++k) {
        std::vector<Point2> loop;
        loopStart.push_back(boundary.size());
        for (const LoopPoint& p : d.loops[k]) {
            loop.push_back(chartPlanePoint(d.chart, p.ab));
            boundary.push_back(&p);
        }
        int64_t at = 0;
        minAngle = std::min(minAngle, minCornerAngle(loop, at));
        if (k == 0) {
            planar.outer = std::move(loop);
        } else {
            planar.holes.push_back(std::move(loop));
        }
    }
    loopStart.push_back(boundary.size());
    if (static_cast<int64_t>(boundary.size()) > options.maxFaceBoundaryPoints) {
        result.why = "its boundary needs " + std::to_string(boundary.size()) + " points, more than " +
                     std::to_string(options.maxFaceBoundaryPoints) + " (raise 'size' or 'chord_tolerance')";
        return result;
    }
    RefineOptions refine;
    refine.minAngleDeg = options.minAngleDeg;
    // The fan about a sharp pole has three triangles or more (see spansPole below): the
    // pole counts as a corner of a third of its sector.
    const bool sector = d.chart.polar && d.chart.poleFactor < 1.0;
    if (sector) minAngle = std::min(minAngle, 120.0 * d.chart.poleFactor);
    // A corner of the face sharper than the bound cannot be improved: refine the face to
    // half that corner's angle instead.
    if (options.minAngleDeg - 1e-6 > minAngle) {
        if (minAngle < 2.0) {
            result.why = "it has a corner of " + formatAngle(minAngle) + " deg";
            return result;
        }
        refine.minAngleDeg = 0.5 * minAngle;
    }
    // The same rule for the corners as they are on the surface.
    double surfaceBound = refine.minAngleDeg;
    double spaceCorner = minSpaceCornerAngle(part, d);
    if (options.minAngleDeg - 1e-6 > spaceCorner) surfaceBound = std::min(surfaceBound, 0.5 * spaceCorner);
    if (sector) {
        // On the surface the pole is a corner of the angle a third of a turn makes there.
        double k = d.chart.poleFactor;
        double third = std::acos(1.0 - 1.5 * k * k) * (180.0 / kPi);
        if (options.minAngleDeg - 1e-6 > third) surfaceBound = std::min(surfaceBound, 0.5 * third);
    }
    refine.maxSteinerPoints = options.maxSteinerPoints;
    SizingField sizing;
    sizing.baseSize = part.size;
    refine.sizing = &sizing;

    // The boundary segment from loop point i to the next one, by boundary index.
    auto segmentEnd = [&](size_t i) {
        size_t k = static_cast<size_t>(std::upper_bound(loopStart.begin(), loopStart.end(), i) - loopStart.begin()) - 1;
        return i + 1 < loopStart[k + 1] ? i + 1 : loopStart[k];
    };
    std::vector<Point2> added;
    if (sector) {
        // A sector about a sharp pole starts with a fan of three: two points between the
        // cut's sides at the distance of their points next to the pole.
        const std::vector<Point2>& outer = planar.outer;
        for (size_t i = 0; i < outer.size(); ++i) {
            if (outer[i].x != 0.0 || outer[i].y != 0.0) continue;
            const Point2& before = outer[(i + outer.size() - 1) % outer.size()];
            const Point2& after = outer[(i + 1) % outer.size()];
            double r0 = std::sqrt(after.x * after.x + after.y * after.y);
            double lo = std::atan2(after.y, after.x), hi = std::atan2(before.y, before.x);
            lo -= std::floor((lo - d.chart.psiCenter + kPi) / kTwoPi) * kTwoPi;
            hi -= std::floor((hi - d.chart.psiCenter + kPi) / kTwoPi) * kTwoPi;
            for (int j = 1; j <= 2; ++j) {
                double psi = lo + (static_cast<double>(j) / 3.0) * (hi - lo);
                added.push_back({r0 * std::cos(psi), r0 * std::sin(psi)});
            }
            break;
        }
    }
    for (;;) {
        planar.interior = added;
        RefinedMesh mesh = refineRuppert(planar, refine);
        if (!mesh.ok) {
            result.why = mesh.message.empty() ? "quality refinement did not converge within 'max_steiner_points'"
                                              : mesh.message;
            return result;
        }
        // Every boundary segment must be an edge of the mesh; a split one is split in the model.
        std::set<std::pair<int64_t, int64_t>> edges;
        for (const Triangle& t : mesh.triangles) {
            for (int k = 0; k < 3; ++k) {
                int64_t a = t.v[k], b = t.v[(k + 1) % 3];
                edges.insert({std::min(a, b), std::max(a, b)});
            }
        }
        for (size_t i = 0; i < boundary.size(); ++i) {
            int64_t a = static_cast<int64_t>(i), b = static_cast<int64_t>(segmentEnd(i));
            if (edges.count({std::min(a, b), std::max(a, b)}) == 0) {
                result.splits.push_back({boundary[i]->edge, boundary[i]->segment});
            }
        }
        if (!result.splits.empty()) return result;

        SurfaceTriangulation st;
        st.chart = mesh.points;
        st.surface.resize(mesh.points.size());
        for (size_t i = 0; i < mesh.points.size(); ++i) {
            st.surface[i] = i < boundary.size() ? part.nodes[boundary[i]->node]
                                                : chartSurfacePoint(d.chart, chartParametersOfPlane(d.chart, mesh.points[i]));
        }
        st.triangles = std::move(mesh.triangles);
        // In a sector unrolled about a B-spline pole the two sides of the cut are one line
        // on the surface: two triangles at the pole spanning half a turn of the surface
        // each would be one triangle there, so a triangle at the pole spanning five twelfths
        // of a turn or more is split like a poor one. poleSpan gives the plane angles of a
        // triangle's corners off the pole and the farthest one's distance; false when no
        // corner is at the pole.
        auto poleSpan = [&](const Triangle& t, double& lo, double& hi, double& far) {
            lo = 1e300;
            hi = -1e300;
            far = 0.0;
            bool atPole = false;
            for (int k = 0; k < 3; ++k) {
                const Point2& q = st.chart[static_cast<size_t>(t.v[k])];
                if (q.x == 0.0 && q.y == 0.0) {
                    atPole = true;
                    continue;
                }
                double psi = std::atan2(q.y, q.x);
                psi -= std::floor((psi - d.chart.psiCenter + kPi) / kTwoPi) * kTwoPi;
                lo = std::min(lo, psi);
                hi = std::max(hi, psi);
                far = std::max(far, std::sqrt(q.x * q.x + q.y * q.y));
            }
            return atPole;
        };
        auto spansPole = [&](const Triangle& t) {
            double lo = 0.0, hi = 0.0, far = 0.0;
            return poleSpan(t, lo, hi, far) && hi - lo > (5.0 / 6.0) * kPi * d.chart.poleFactor;
        };
        auto isBad = [&](const Triangle& t) {
            return spaceMinAngleDeg(st.surface[static_cast<size_t>(t.v[0])], st.surface[static_cast<size_t>(t.v[1])],
                                    st.surface[static_cast<size_t>(t.v[2])]) < surfaceBound ||
                   (sector && spansPole(t));
        };
        bool anyBad = std::any_of(st.triangles.begin(), st.triangles.end(), isBad);
        if (anyBad) {
            flipTowardsSurfaceQuality(st, 64 * static_cast<int64_t>(st.triangles.size()) + 64);
            anyBad = std::any_of(st.triangles.begin(), st.triangles.end(), isBad);
        }
        if (!anyBad) {
            std::vector<int32_t> nodeOf(st.chart.size(), -1);
            for (size_t i = 0; i < boundary.size(); ++i) nodeOf[i] = boundary[i]->node;
            for (const Triangle& t : st.triangles) {
                std::array<int32_t, 3> tri{};
                for (int k = 0; k < 3; ++k) {
                    size_t p = static_cast<size_t>(t.v[k]);
                    if (nodeOf[p] < 0 && !addNode(part, st.surface[p], nodeOf[p])) {
                        result.why = part.error;
                        return result;
                    }
                    tri[k] = nodeOf[p];
                }
                result.triangles.push_back(tri);
            }
            result.ok = true;
            return result;
        }
        double worst = 180.0;
        for (const Triangle& t : st.triangles) {
            worst = std::min(worst, spaceMinAngleDeg(st.surface[static_cast<size_t>(t.v[0])],
                                                     st.surface[static_cast<size_t>(t.v[1])],
                                                     st.surface[static_cast<size_t>(t.v[2])]));
        }
        std::string shortfall = "its triangles on the surface do not reach " + formatAngle(surfaceBound) +
                                " deg (the smallest is " + formatAngle(worst) + " deg)";
        if (++passes > kMaxSurfaceQualityPasses) {
            result.why = shortfall + " after " + std::to_string(kMaxSurfaceQualityPasses) + " passes";
            return result;
        }
        if (static_cast<int64_t>(added.size()) >= static_cast<int64_t>(options.maxSteinerPoints)) {
            result.why = shortfall + " within 'max_steiner_points'";
            return result;
        }
        // New points: the circumcentres of the poor triangles, or splits of the boundary.
        std::set<std::pair<int32_t, int32_t>> splits;
        std::vector<std::pair<Point3, double>> chosen;  // surface point, the radius it claims
        size_t before = added.size();
        auto splitBoundary = [&](size_t i) { splits.insert({boundary[i]->edge, boundary[i]->segment}); };
        for (const Triangle& t : st.triangles) {
            if (!isBad(t)) continue;
            if (chosen.size() >= kMaxSurfaceQualityPointsPerPass) break;
            Point2 q;
            double radius = 0.0;
            if (sector && spansPole(t)) {
                // A wide triangle at the pole is split on the bisector of its corner there,
                // as far out as its farther corner, which keeps the point outside both
                // sides' diametral circles; the pole's fan gains a triangle.
                double lo = 0.0, hi = 0.0, far = 0.0;
                poleSpan(t, lo, hi, far);
                double psi = lo + 0.5 * (hi - lo);
                q = {far * std::cos(psi), far * std::sin(psi)};
                if (pointInPolygon(q, planar.outer)) {
                    Point3 qs = chartSurfacePoint(d.chart, chartParametersOfPlane(d.chart, q));
                    chosen.push_back({qs, 0.5 * far});
                    added.push_back(q);
                    continue;
                }
            }
            bool inside = chartPointOfSpaceCircumcenter(st, t, q, radius) && pointInPolygon(q, planar.outer);
            for (size_t h = 0; inside && h < planar.holes.size(); ++h) inside = !pointInPolygon(q, planar.holes[h]);
            Point3 qs;
            if (inside) {
                qs = chartSurfacePoint(d.chart, chartParametersOfPlane(d.chart, q));
                // A point inside a boundary segment's diametral sphere splits the segment.
                bool encroaches = false;
                for (size_t i = 0; i < boundary.size(); ++i) {
                    const Point3& p0 = st.surface[i];
                    const Point3& p1 = st.surface[segmentEnd(i)];
                    if (dot(sub(qs, p0), sub(qs, p1)) < 0.0) {
                        splitBoundary(i);
                        encroaches = true;
                    }
                }
                if (encroaches) continue;
            } else {
                // Outside the domain: the triangle's longest side on the surface is split
                // instead, in the model when it is a boundary segment.
                int longest = 0;
                double longestLength = -1.0;
                for (int k = 0; k < 3; ++k) {
                    double l = squaredDistance(st.surface[static_cast<size_t>(t.v[k])],
                                               st.surface[static_cast<size_t>(t.v[(k + 1) % 3])]);
                    if (l > longestLength) {
                        longestLength = l;
                        longest = k;
                    }
                }
                size_t a = static_cast<size_t>(t.v[longest]), b = static_cast<size_t>(t.v[(longest + 1) % 3]);
                if (a < boundary.size() && b < boundary.size() && (segmentEnd(a) == b || segmentEnd(b) == a)) {
                    splitBoundary(segmentEnd(a) == b ? a : b);
                    continue;
                }
                q = {st.chart[a].x + 0.5 * (st.chart[b].x - st.chart[a].x),
                     st.chart[a].y + 0.5 * (st.chart[b].y - st.chart[a].y)};
                qs = chartSurfacePoint(d.chart, chartParametersOfPlane(d.chart, q));
                radius = 0.5 * std::sqrt(longestLength);
            }
            // Points of one pass keep apart, so that they do not make poor triangles of
            // their own.
            bool crowded = false;
            for (const auto& c : chosen) {
                double gap = 0.5 * std::min(radius, c.second);
                if (squaredDistance(qs, c.first) < gap * gap) crowded = true;
            }
            if (crowded) continue;
            chosen.push_back({qs, radius});
            added.push_back(q);
        }
        if (!splits.empty()) {
            result.splits.assign(splits.begin(), splits.end());
            return result;
        }
        if (added.size() == before) {
            result.why = shortfall + " and no point improves them";
            return result;
        }
    }
}

bool meshFace(Part& part, int32_t faceIndex, const ConformingOptions& options, std::set<int32_t>& splitEdges,
              std::string& why) {
    std::vector<Domain> domains;
    if (!buildDomains(part, faceIndex, domains, why)) return false;
    std::vector<std::array<int32_t, 3>> triangles;
    std::vector<std::pair<int32_t, int32_t>> splits;
    for (const Domain& d : domains) {
        DomainResult r = meshDomain(part, d, options, part.faces[faceIndex].qualityPasses);
        if (!r.ok && r.splits.empty()) {
            why = r.why;
            return false;
        }
        splits.insert(splits.end(), r.splits.begin(), r.splits.end());
        triangles.insert(triangles.end(), r.triangles.begin(), r.triangles.end());
    }
    FaceRec& face = part.faces[faceIndex];
    if (!splits.empty()) {
        std::sort(splits.begin(), splits.end());
        splits.erase(std::unique(splits.begin(), splits.end()), splits.end());
        // Split from the back so that earlier segment numbers stay valid.
        for (auto it = splits.rbegin(); it != splits.rend(); ++it) {
            if (!splitEdgeSegment(part, it->first, it->second)) {
                why = part.error;
                return false;
            }
            splitEdges.insert(it->first);
        }
        face.triangles.clear();
        return true;
    }
    // Counter-clockwise in the chart is counter-clockwise about the face normal when the
    // chart's orientation and the face's sense agree.
    if (face.chart.orientation * face.sense < 0) {
        for (auto& t : triangles) std::swap(t[1], t[2]);
    }
    face.triangles = std::move(triangles);
    face.dirty = false;
    return true;
}

}  // namespace

bool meshStepConforming(const StepFile& file, const ConformingOptions& options, Model& out, std::string& error) {
    if (!file.ok) {
        error = "cannot mesh faces from a STEP file that did not parse";
        return false;
    }
    Part part;
    part.file = &file;
    double angleUnit = 1.0;
    std::string unitError;
    if (readAngleUnitRadians(file, angleUnit, unitError) == StepUnitRead::Invalid) {
        error = unitError;
        return false;
    }
    part.angleUnit = angleUnit;

    for (const auto& entry : file.instances) {
        if (entry.second.type != "ADVANCED_FACE") continue;
        FaceRec face;
        std::string why;
        if (!readFace(part, entry.first, entry.second, face, why)) {
            error = "face #" + std::to_string(entry.first) + " cannot be meshed: " + why;
            return false;
        }
        part.faces.push_back(std::move(face));
    }
    if (part.faces.empty()) {
        error = "no faces found in STEP file (no ADVANCED_FACE)";
        return false;
    }

    // The bounding box of the edges (sampled) and of faces without edges.
    Point3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    auto grow = [&](const Point3& p) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    };
    for (const EdgeRec& e : part.edges) {
        for (int i = 0; i <= 16; ++i) grow(curvePointAt(e.curve, e.t0 + (static_cast<double>(i) / 16.0) * (e.t1 - e.t0)));
    }
    for (const FaceRec& f : part.faces) {
        if (!onlySeams(f)) continue;
        double r = f.chart.radius + f.chart.minor;
        grow(sub(f.chart.frame.origin, {r, r, r}));
        grow(add(f.chart.frame.origin, {r, r, r}));
    }
    double diagonal = length(sub(hi, lo)) * options.scale;
    if (!(diagonal > 0.0) || !std::isfinite(diagonal)) {
        error = "the STEP part has no extent";
        return false;
    }
    double size = options.size > 0.0 ? options.size : diagonal / 20.0;
    double tolerance = options.chordTolerance > 0.0 ? options.chordTolerance : size / 20.0;
    if (size < diagonal * kMinSizeFraction) {
        error = "'size' must be at least 1/10000 of the part's bounding-box diagonal (" + formatAngle(diagonal) + ")";
        return false;
    }
    if (tolerance < diagonal * kMinChordFraction) {
        error = "'chord_tolerance' must be at least 1/10000000 of the part's bounding-box diagonal (" +
                formatAngle(diagonal) + ")";
        return false;
    }
    part.maxEdgePoints = options.maxEdgePoints;
    part.size = size / options.scale;
    part.tolerance = tolerance / options.scale;

    // Vertex records at one position are one vertex; then the bounds become chains.
    mergeCoincidentVertices(part, 1e-9 * part.size);
    for (FaceRec& face : part.faces) {
        std::string why;
        if (!chainFace(part, face, why)) {
            error = faceName(face) + " cannot be meshed: " + why;
            return false;
        }
    }

    for (int32_t i = 0; i < static_cast<int32_t>(part.edges.size()); ++i) {
        if (!discretizeEdge(part, i)) {
            error = part.error;
            return false;
        }
    }

    int round = 0;
    for (;; ++round) {
        bool anyDirty = false;
        for (int32_t f = 0; f < static_cast<int32_t>(part.faces.size()); ++f) {
            if (!part.faces[f].dirty) continue;
            anyDirty = true;
            std::set<int32_t> split;
            std::string why;
            if (!meshFace(part, f, options, split, why)) {
                error = faceName(part.faces[f]) + " cannot be meshed: " + why;
                return false;
            }
            if (split.empty()) continue;
            for (FaceRec& other : part.faces) {
                for (const auto& chain : other.chains) {
                    for (const EdgeUse& use : chain) {
                        if (split.count(use.edge) != 0) other.dirty = true;
                    }
                }
                for (int32_t c : other.cuts) {
                    if (split.count(c) != 0) other.dirty = true;
                }
            }
        }
        if (!anyDirty) break;
        if (round >= kMaxRounds) {
            for (const FaceRec& f : part.faces) {
                if (f.dirty) {
                    error = faceName(f) + " cannot be meshed: its edges were still being split after " +
                            std::to_string(kMaxRounds) + " rounds";
                    return false;
                }
            }
        }
    }

    // Nodes numbered in order of first use, faces in instance order.
    std::vector<int32_t> id(part.nodes.size(), 0);
    int32_t nextId = 1;
    int32_t nextArea = 1;
    for (const FaceRec& f : part.faces) {
        for (const auto& t : f.triangles) {
            Area area;
            area.id = nextArea++;
            for (int32_t n : t) {
                if (id[n] == 0) {
                    id[n] = nextId++;
                    const Point3& p = part.nodes[n];
                    out.nodes.push_back(Node{id[n], p.x * options.scale, p.y * options.scale, p.z * options.scale});
                }
                area.nodes.push_back(id[n]);
            }
            area.kind = "CST";
            area.behavior = "membrane";
            out.areas.push_back(std::move(area));
        }
    }
    return true;
}
