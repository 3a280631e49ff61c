#include "mesh2d/area_mesher.hpp"

#include <algorithm>
#include <cmath>

#include "geom/predicates.hpp"

namespace {

bool allFinite(const std::vector<Point3>& points) {
    for (const Point3& p : points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return false;
    }
    return true;
}

/// The largest coordinate magnitude of the points (NaN-safe: a NaN makes it infinite).
double largestMagnitude(const std::vector<Point2>& points) {
    double largest = 0.0;
    for (const Point2& p : points) {
        for (double c : {p.x, p.y}) {
            if (!(std::fabs(c) <= largest)) largest = std::isnan(c) ? INFINITY : std::fabs(c);
        }
    }
    return largest;
}

/// One loop segment with its end point indices and bounding box.
struct LoopSegment {
    Point2 a, b;
    int64_t ia = 0, ib = 0;
    double minx = 0, maxx = 0, miny = 0, maxy = 0;
};

void collectLoopSegments(const std::vector<Point2>& loop, int64_t& base, std::vector<LoopSegment>& out) {
    const int64_t n = static_cast<int64_t>(loop.size());
    if (n < 3) return;
    for (int64_t i = 0; i < n; ++i) {
        LoopSegment s;
        s.a = loop[i];
        s.b = loop[(i + 1) % n];
        s.ia = base + i;
        s.ib = base + (i + 1) % n;
        s.minx = std::min(s.a.x, s.b.x);
        s.maxx = std::max(s.a.x, s.b.x);
        s.miny = std::min(s.a.y, s.b.y);
        s.maxy = std::max(s.a.y, s.b.y);
        out.push_back(s);
    }
    base += n;
}

bool oppositeSides(double o1, double o2) { return (o1 > 0 && o2 < 0) || (o1 < 0 && o2 > 0); }

bool crossProperly(const LoopSegment& s, const LoopSegment& t) {
    return oppositeSides(orient2d(s.a, s.b, t.a), orient2d(s.a, s.b, t.b)) &&
           oppositeSides(orient2d(t.a, t.b, s.a), orient2d(t.a, t.b, s.b));
}

}  // namespace

bool domainLoopsCross(const PlanarDomain& domain) {
    std::vector<LoopSegment> segments;
    int64_t base = 0;
    collectLoopSegments(domain.outer, base, segments);
    for (const std::vector<Point2>& hole : domain.holes) collectLoopSegments(hole, base, segments);

    // Sweep along x: only segments whose x ranges overlap are compared.
    std::vector<size_t> order(segments.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t i, size_t j) {
        return segments[i].minx < segments[j].minx || (segments[i].minx == segments[j].minx && i < j);
    });
    // Loops whose segments all overlap in x (a comb, a zigzag) make the sweep quadratic;
    // past kMaxLoopCrossingPairs the search stops and the triangulation meets any crossing.
    int64_t pairs = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const LoopSegment& s = segments[order[i]];
        for (size_t j = i + 1; j < order.size() && segments[order[j]].minx <= s.maxx; ++j) {
            if (++pairs > kMaxLoopCrossingPairs) return false;
            const LoopSegment& t = segments[order[j]];
            if (t.maxy < s.miny || t.miny > s.maxy) continue;
            if (s.ia == t.ia || s.ia == t.ib || s.ib == t.ia || s.ib == t.ib) continue;
            if (crossProperly(s, t)) return true;
        }
    }
    return false;
}

PlanarInput preparePlanarInput(const std::vector<Point3>& boundary,
                               const std::vector<std::vector<Point3>>& holes,
                               const std::vector<Point3>& interior) {
    PlanarInput input;
    if (!fitPlaneFrame(boundary, input.frame)) return input;
    for (size_t h = 0; h < holes.size(); ++h) {
        if (holes[h].size() < 3) {
            input.message = "hole " + std::to_string(h) + " has " + std::to_string(holes[h].size()) +
                            " points; a hole loop needs at least 3";
            return input;
        }
    }

    input.spatial = boundary;
    for (const std::vector<Point3>& hole : holes) input.spatial.insert(input.spatial.end(), hole.begin(), hole.end());
    input.interiorStart = input.spatial.size();
    input.spatial.insert(input.spatial.end(), interior.begin(), interior.end());
    if (!allFinite(input.spatial)) return input;
    input.planeDeviation = planeDeviationOf(input.frame, input.spatial);

    input.domain.outer = projectLoop(input.frame, boundary);
    for (const std::vector<Point3>& hole : holes) input.domain.holes.push_back(projectLoop(input.frame, hole));
    input.domain.interior = projectLoop(input.frame, interior);

    double largest = largestMagnitude(input.domain.outer);
    const double extent = largest;
    for (const std::vector<Point2>& hole : input.domain.holes) largest = std::fmax(largest, largestMagnitude(hole));
    largest = std::fmax(largest, largestMagnitude(input.domain.interior));
    if (!(largest <= kMaxPlanarCoordinate) || !(extent >= kMinPlanarExtent)) return input;
    input.ok = true;
    return input;
}

Model buildAreaModel(const std::vector<Point3>& spatial, const std::vector<Point2>& points,
                     const PlaneFrame& frame, const std::vector<Triangle>& triangles, const AreaProps& props) {
    Model model;
    const int64_t firstNode = props.firstNodeId;
    model.nodes.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const Point3 p = i < spatial.size() ? spatial[i] : unprojectFromFrame(frame, points[i]);
        model.nodes.push_back(Node{static_cast<int32_t>(firstNode + static_cast<int64_t>(i)), p.x, p.y, p.z});
    }
    model.areas.reserve(triangles.size());
    for (size_t t = 0; t < triangles.size(); ++t) {
        Area area;
        area.id = static_cast<int32_t>(static_cast<int64_t>(props.firstAreaId) + static_cast<int64_t>(t));
        for (int64_t index : triangles[t].v) area.nodes.push_back(static_cast<int32_t>(firstNode + index));
        area.kind = "CST";
        area.behavior = props.behavior;
        area.thickness = props.thickness;
        area.matId = static_cast<int32_t>(props.matId);
        area.secId = static_cast<int32_t>(props.secId);
        area.drilling = props.drilling;
        model.areas.push_back(std::move(area));
    }
    return model;
}

void finishAreaMesh(const PlanarInput& input, const std::vector<Point2>& points,
                    const std::vector<Triangle>& triangles, const AreaProps& props, AreaMesh& mesh) {
    mesh.frame = input.frame;
    mesh.planeDeviation = input.planeDeviation;
    mesh.model = buildAreaModel(input.spatial, points, input.frame, triangles, props);
    mesh.interiorNodeIds.clear();
    for (size_t i = input.interiorStart; i < input.spatial.size(); ++i) {
        mesh.interiorNodeIds.push_back(static_cast<uint32_t>(props.firstNodeId + i));
    }
    mesh.ok = true;
}

AreaMesh meshPlanarArea(const std::vector<Point3>& boundary, const std::vector<Point3>& interior,
                        const AreaProps& props) {
    AreaMesh mesh;
    PlanarInput input = preparePlanarInput(boundary, {}, interior);
    mesh.frame = input.frame;
    if (!input.ok) return mesh;
    std::vector<Point2> points = input.domain.outer;
    points.insert(points.end(), input.domain.interior.begin(), input.domain.interior.end());
    const std::vector<Triangle> triangles = delaunayTriangulate(points);
    finishAreaMesh(input, points, triangles, props, mesh);
    return mesh;
}

AreaMesh meshPolygonArea(const std::vector<Point3>& boundary, const std::vector<std::vector<Point3>>& holes,
                         const std::vector<Point3>& interior, const AreaProps& props) {
    AreaMesh mesh;
    PlanarInput input = preparePlanarInput(boundary, holes, interior);
    mesh.frame = input.frame;
    if (!input.ok) {
        mesh.message = input.message;
        return mesh;
    }
    if (domainLoopsCross(input.domain)) return mesh;
    const ConformingMesh conforming = conformingTriangulate(input.domain, kConformingPasses);
    if (!conforming.ok) return mesh;
    finishAreaMesh(input, conforming.points, conforming.triangles, props, mesh);
    return mesh;
}
