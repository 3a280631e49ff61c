#pragma once
// Writes closed STEP parts the way CAD systems export them, for the conforming mesher's
// tests: planar profiles of lines and arcs extruded along z (plates with holes and slots,
// flanges, boxes, cylinders with caps and a seam), cones to an apex, spheres, tori and a
// puck with a toroidal fillet. Every face is oriented outward by its flags, and each
// builder can declare the length unit of its representation context.

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "io/step/step_text_builder.hpp"

struct ProfileSegment {
    bool arc = false;
    Point3 start;        ///< z ignored
    Point3 end;          ///< z ignored; equal to start for a full circle
    Point3 centre;       ///< arcs
    double radius = 0.0;
    bool ccw = true;     ///< arcs: counter-clockwise about +z
};

using Profile = std::vector<ProfileSegment>;

inline ProfileSegment lineSegment(double x0, double y0, double x1, double y1) {
    ProfileSegment s;
    s.start = {x0, y0, 0.0};
    s.end = {x1, y1, 0.0};
    return s;
}

inline ProfileSegment arcSegment(double cx, double cy, double r, double a0, double a1, bool ccw) {
    ProfileSegment s;
    s.arc = true;
    s.centre = {cx, cy, 0.0};
    s.radius = r;
    s.ccw = ccw;
    s.start = {cx + r * std::cos(a0), cy + r * std::sin(a0), 0.0};
    s.end = {cx + r * std::cos(a1), cy + r * std::sin(a1), 0.0};
    return s;
}

/// A full circle, counter-clockwise (an outer profile) or clockwise (a hole).
inline Profile circleProfile(double cx, double cy, double r, bool ccw) {
    ProfileSegment s = arcSegment(cx, cy, r, 0.0, 0.0, ccw);
    s.end = s.start;
    return {s};
}

inline Profile rectangleProfile(double x0, double y0, double x1, double y1) {
    return {lineSegment(x0, y0, x1, y0), lineSegment(x1, y0, x1, y1), lineSegment(x1, y1, x0, y1),
            lineSegment(x0, y1, x0, y0)};
}

/// A slot (two half circles joined by lines) run clockwise, as a hole.
inline Profile slotHole(double x0, double x1, double y, double r) {
    const double pi = 3.141592653589793;
    return {lineSegment(x0, y + r, x1, y + r), arcSegment(x1, y, r, pi / 2, -pi / 2, false),
            lineSegment(x1, y - r, x0, y - r), arcSegment(x0, y, r, -pi / 2, -3 * pi / 2, false)};
}

/// A rectangle with its corners rounded (radius r), counter-clockwise.
inline Profile roundedRectangle(double x0, double y0, double x1, double y1, double r) {
    const double pi = 3.141592653589793;
    return {lineSegment(x0 + r, y0, x1 - r, y0), arcSegment(x1 - r, y0 + r, r, -pi / 2, 0.0, true),
            lineSegment(x1, y0 + r, x1, y1 - r), arcSegment(x1 - r, y1 - r, r, 0.0, pi / 2, true),
            lineSegment(x1 - r, y1, x0 + r, y1), arcSegment(x0 + r, y1 - r, r, pi / 2, pi, true),
            lineSegment(x0, y1 - r, x0, y0 + r), arcSegment(x0 + r, y0 + r, r, pi, 1.5 * pi, true)};
}

struct StepPartBuilder : StepTextBuilder {
    bool surfaceCurveLines = false;  ///< write LINE edges wrapped in SURFACE_CURVEs
    /// Give every edge end a vertex record (and point) of its own, as some exporters do.
    bool duplicateVertices = false;
    double duplicateOffset = 0.0;  ///< copies at an edge's start move by +offset in x, at its end by -offset
    std::map<int, Point3> vertexPoints;

    int vertex(const Point3& p) {
        int id = StepTextBuilder::vertex(p);
        vertexPoints[id] = p;
        return id;
    }
    int edge(int v1, int v2, int curve, bool sameSense = true) {
        if (duplicateVertices) {
            Point3 p1 = vertexPoints[v1], p2 = vertexPoints[v2];
            v1 = StepTextBuilder::vertex({p1.x + duplicateOffset, p1.y, p1.z});
            v2 = StepTextBuilder::vertex({p2.x - duplicateOffset, p2.y, p2.z});
        }
        return StepTextBuilder::edge(v1, v2, curve, sameSense);
    }

    /// Declares the length unit: "mm", "m", "inch" (conversion based) or "" (none).
    void declareUnits(const std::string& unit) {
        std::string length;
        if (unit == "mm") {
            length = ref(add("(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT(.MILLI.,.METRE.))"));
        } else if (unit == "m") {
            length = ref(add("(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT($,.METRE.))"));
        } else if (unit == "inch") {
            int mm = add("(LENGTH_UNIT()NAMED_UNIT(*)SI_UNIT(.MILLI.,.METRE.))");
            int measure = add("LENGTH_MEASURE_WITH_UNIT(LENGTH_MEASURE(25.4)," + ref(mm) + ")");
            int dims = add("DIMENSIONAL_EXPONENTS(1.,0.,0.,0.,0.,0.,0.)");
            length = ref(add("(CONVERSION_BASED_UNIT('INCH'," + ref(measure) + ")LENGTH_UNIT()NAMED_UNIT(" +
                             ref(dims) + "))"));
        } else {
            return;
        }
        int radian = add("(NAMED_UNIT(*)PLANE_ANGLE_UNIT()SI_UNIT($,.RADIAN.))");
        int steradian = add("(NAMED_UNIT(*)SI_UNIT($,.STERADIAN.)SOLID_ANGLE_UNIT())");
        add("(GEOMETRIC_REPRESENTATION_CONTEXT(3)GLOBAL_UNIT_ASSIGNED_CONTEXT((" + length + "," + ref(radian) + "," +
            ref(steradian) + "))REPRESENTATION_CONTEXT('',''))");
    }

    int plane(const Point3& origin, const Point3& axis, const Point3& refDir) {
        return add("PLANE(''," + ref(placement(origin, axis, refDir)) + ")");
    }
    int lineEdge(int v0, int v1, const Point3& p0, const Point3& p1) {
        Point3 d{p1.x - p0.x, p1.y - p0.y, p1.z - p0.z};
        int l = line(p0, d);
        if (surfaceCurveLines) l = add("SURFACE_CURVE(''," + ref(l) + ",(),.CURVE_3D.)");
        return edge(v0, v1, l, true);
    }
    int circleAt(const Point3& centre, double r) {
        return circle(placement(centre, {0, 0, 1}, {1, 0, 0}), r);
    }

    /// Extrudes an outer profile (counter-clockwise) with holes (clockwise) from z = 0 to
    /// z = height into a closed shell; returns the number of faces.
    int extrude(const Profile& outer, const std::vector<Profile>& holes, double height) {
        std::vector<const Profile*> loops = {&outer};
        for (const Profile& h : holes) loops.push_back(&h);
        std::vector<int> bottomBounds, topBounds;
        int faces = 0;
        for (const Profile* profile : loops) {
            size_t n = profile->size();
            std::vector<int> vb(n), vt(n), eb(n), et(n), ev(n);
            for (size_t i = 0; i < n; ++i) {
                Point3 p = (*profile)[i].start;
                vb[i] = vertex({p.x, p.y, 0.0});
                vt[i] = vertex({p.x, p.y, height});
                ev[i] = lineEdge(vb[i], vt[i], {p.x, p.y, 0.0}, {p.x, p.y, height});
            }
            for (size_t i = 0; i < n; ++i) {
                const ProfileSegment& s = (*profile)[i];
                size_t j = (i + 1) % n;
                for (int level = 0; level < 2; ++level) {
                    double z = level == 0 ? 0.0 : height;
                    const std::vector<int>& v = level == 0 ? vb : vt;
                    int e;
                    if (s.arc) {
                        e = edge(v[i], v[j], circleAt({s.centre.x, s.centre.y, z}, s.radius), s.ccw);
                    } else {
                        e = lineEdge(v[i], v[j], {s.start.x, s.start.y, z}, {s.end.x, s.end.y, z});
                    }
                    (level == 0 ? eb : et)[i] = e;
                }
            }
            for (size_t i = 0; i < n; ++i) {
                const ProfileSegment& s = (*profile)[i];
                size_t j = (i + 1) % n;
                int surface;
                bool sense = true;
                if (s.arc) {
                    surface = add("CYLINDRICAL_SURFACE(''," + ref(placement(s.centre, {0, 0, 1}, {1, 0, 0})) + "," +
                                  num(s.radius) + ")");
                    sense = s.ccw;
                } else {
                    Point3 d{s.end.x - s.start.x, s.end.y - s.start.y, 0.0};
                    double len = std::sqrt(d.x * d.x + d.y * d.y);
                    d = {d.x / len, d.y / len, 0.0};
                    surface = plane(s.start, {d.y, -d.x, 0.0}, d);
                }
                faceOfEdges({oriented(eb[i], true), oriented(ev[j], true), oriented(et[i], false),
                             oriented(ev[i], false)},
                            surface, sense);
                ++faces;
            }
            bool isOuter = profile == &outer;
            std::vector<int> bottomUses, topUses;
            for (size_t i = 0; i < n; ++i) {
                bottomUses.push_back(oriented(eb[i], true));
                topUses.push_back(oriented(et[i], true));
            }
            bottomBounds.push_back(bound(loop(bottomUses), isOuter, false));
            topBounds.push_back(bound(loop(topUses), isOuter, true));
        }
        face(bottomBounds, plane({0, 0, 0}, {0, 0, 1}, {1, 0, 0}), false);
        face(topBounds, plane({0, 0, height}, {0, 0, 1}, {1, 0, 0}), true);
        return faces + 2;
    }

    /// A cone standing on a disc of radius r at z = 0 with its apex at (0, 0, h), the side
    /// closed by a seam line to the apex.
    void coneToApex(double r, double h) {
        int v0 = vertex({r, 0, 0});
        int apex = vertex({0, 0, h});
        int c = edge(v0, v0, circleAt({0, 0, 0}, r), true);
        int seam = lineEdge(v0, apex, {r, 0, 0}, {0, 0, h});
        int conical = add("CONICAL_SURFACE(''," + ref(placement({0, 0, 0}, {0, 0, -1}, {1, 0, 0})) + "," + num(r) +
                          "," + num(std::atan(r / h)) + ")");
        faceOfEdges({oriented(c, true), oriented(seam, true), oriented(seam, false)}, conical, true);
        faceOfEdges({oriented(c, false)}, plane({0, 0, 0}, {0, 0, -1}, {1, 0, 0}), true);
    }

    /// A whole sphere as one face whose only bound is a seam meridian used both ways.
    void seamSphere(const Point3& c, double r) {
        int south = vertex({c.x, c.y, c.z - r});
        int north = vertex({c.x, c.y, c.z + r});
        int meridian = circle(placement(c, {0, -1, 0}, {1, 0, 0}), r);
        int seam = edge(south, north, meridian, true);
        int surface = add("SPHERICAL_SURFACE(''," + ref(placement(c, {0, 0, 1}, {1, 0, 0})) + "," + num(r) + ")");
        faceOfEdges({oriented(seam, true), oriented(seam, false)}, surface, true);
    }

    /// A sphere as two hemispheres joined at the equator.
    void twoHemispheres(const Point3& c, double r) {
        int v = vertex({c.x + r, c.y, c.z});
        int equator = edge(v, v, circleAt(c, r), true);
        int north = add("SPHERICAL_SURFACE(''," + ref(placement(c, {0, 0, 1}, {1, 0, 0})) + "," + num(r) + ")");
        int south = add("SPHERICAL_SURFACE(''," + ref(placement(c, {0, 0, -1}, {1, 0, 0})) + "," + num(r) + ")");
        faceOfEdges({oriented(equator, true)}, north, true);
        faceOfEdges({oriented(equator, false)}, south, true);
    }

    /// A whole torus about z: one face bounded by a parallel and a meridian, both seams.
    void wholeTorus(double major, double minor) {
        int v = vertex({major + minor, 0, 0});
        int parallel = edge(v, v, circleAt({0, 0, 0}, major + minor), true);
        int meridian = edge(v, v, circle(placement({major, 0, 0}, {0, -1, 0}, {1, 0, 0}), minor), true);
        int surface = add("TOROIDAL_SURFACE(''," + ref(placement({0, 0, 0}, {0, 0, 1}, {1, 0, 0})) + "," + num(major) +
                          "," + num(minor) + ")");
        faceOfEdges({oriented(parallel, true), oriented(meridian, true), oriented(parallel, false),
                     oriented(meridian, false)},
                    surface, true);
    }

    /// A puck of radius r and height h whose top edge is rounded with radius f: a bottom
    /// disc, a cylindrical side, a toroidal fillet and a top disc.
    void filletedPuck(double r, double h, double f) {
        const double zs = h - f;
        int v0 = vertex({r, 0, 0});
        int v1 = vertex({r, 0, zs});
        int v2 = vertex({r - f, 0, h});
        int c0 = edge(v0, v0, circleAt({0, 0, 0}, r), true);
        int c1 = edge(v1, v1, circleAt({0, 0, zs}, r), true);
        int c2 = edge(v2, v2, circleAt({0, 0, h}, r - f), true);
        int sideSeam = lineEdge(v0, v1, {r, 0, 0}, {r, 0, zs});
        int filletSeam = edge(v1, v2, circle(placement({r - f, 0, zs}, {0, -1, 0}, {1, 0, 0}), f), true);
        int cylinder = add("CYLINDRICAL_SURFACE(''," + ref(placement({0, 0, 0}, {0, 0, 1}, {1, 0, 0})) + "," + num(r) + ")");
        int torus = add("TOROIDAL_SURFACE(''," + ref(placement({0, 0, zs}, {0, 0, 1}, {1, 0, 0})) + "," + num(r - f) + "," +
                        num(f) + ")");
        faceOfEdges({oriented(c0, false)}, plane({0, 0, 0}, {0, 0, 1}, {1, 0, 0}), false);
        faceOfEdges({oriented(c0, true), oriented(sideSeam, true), oriented(c1, false), oriented(sideSeam, false)},
                    cylinder, true);
        faceOfEdges({oriented(c1, true), oriented(filletSeam, true), oriented(c2, false), oriented(filletSeam, false)},
                    torus, true);
        faceOfEdges({oriented(c2, true)}, plane({0, 0, h}, {0, 0, 1}, {1, 0, 0}), true);
    }
};
