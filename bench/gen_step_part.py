#!/usr/bin/env python3
"""Writes a mesh_step bench job: a STEP part made of a grid of rounded bars.

Each bar is a profile in its xz plane extruded along y: bottom line, right line, a fillet of
radius 4 up to the top line, and a half-round end of radius 5. Its seven faces:
  bottom, right and top: planes with straight edges (quality-meshed)
  front and back:        planes bounded by arcs (the planar extractor declines them)
  fillet:                a rational B-spline surface, an exact quarter cylinder
  round end:             a half cylinder between two half circles
On every other bar the fillet's arcs are written as SURFACE_CURVEs whose PCURVEs lie on the
front plane and on the fillet, as some exporters write every edge, so both ways of bounding a
B-spline face are exercised. Bar sizes vary with their position, deterministically.

With --conforming the job asks for one conforming surface mesh of the whole part (faces
joined at their edges), with --size and --length-unit when given; without it the job is
what it always was.

usage: bench/gen_step_part.py [--rows R] [--cols C] [--segments N] [--min-angle DEG]
                              [--conforming [--size S] [--length-unit U]] > job.json
"""
import argparse
import json
import math


class Step:
    def __init__(self):
        self.lines = []
        self.next = 1

    def add(self, record):
        n = self.next
        self.next += 1
        self.lines.append("#%d=%s;" % (n, record))
        return n

    @staticmethod
    def num(v):
        text = repr(float(v))
        if "e" in text or "E" in text:
            mantissa, exponent = text.lower().split("e")
            if "." not in mantissa:
                mantissa += "."
            return mantissa + "E" + exponent
        return text[:-1] if text.endswith(".0") else text

    def point(self, p):
        return self.add("CARTESIAN_POINT('',(%s))" % ",".join(self.num(c) for c in p))

    def point2(self, p):
        return self.add("CARTESIAN_POINT('',(%s,%s))" % (self.num(p[0]), self.num(p[1])))

    def direction(self, d):
        return self.add("DIRECTION('',(%s))" % ",".join(self.num(c) for c in d))

    def placement(self, origin, axis, ref):
        return self.add("AXIS2_PLACEMENT_3D('',#%d,#%d,#%d)" % (self.point(origin), axis, ref))

    def text(self):
        header = [
            "ISO-10303-21;",
            "HEADER;",
            "FILE_DESCRIPTION(('grid of rounded bars'),'2;1');",
            "FILE_NAME('bar_grid.stp','2024-06-12T09:30:00',('bench'),(''),'gen_step_part','','');",
            "FILE_SCHEMA(('AUTOMOTIVE_DESIGN { 1 0 10303 214 1 1 1 1 }'));",
            "ENDSEC;",
            "DATA;",
        ]
        return "\n".join(header + self.lines + ["ENDSEC;", "END-ISO-10303-21;"]) + "\n"


def add_bar(s, dirs, ox, oy, length, depth, pcurves):
    """One rounded bar with its left end at x = ox, front at y = oy. Returns its faces."""
    X, Y, Z, NZ, NY = dirs["x"], dirs["y"], dirs["z"], dirs["-z"], dirs["-y"]
    r_end, r_fillet, height, shoulder = 5.0, 4.0, 10.0, 6.0
    xa, xb = ox + r_end, ox + length
    xd = xb - r_fillet
    profile = {"A": (xa, 0.0), "B": (xb, 0.0), "C": (xb, shoulder), "D": (xd, height), "E": (xa, height)}
    pts, verts = {}, {}
    for side, y in (("0", oy), ("1", oy + depth)):
        for name, (x, z) in profile.items():
            pts[name + side] = s.point((x, y, z))
            verts[name + side] = s.add("VERTEX_POINT('',#%d)" % pts[name + side])
    vx = s.add("VECTOR('',#%d,1.)" % X)
    vy = s.add("VECTOR('',#%d,1.)" % Y)
    vz = s.add("VECTOR('',#%d,1.)" % Z)

    def line(start, vector):
        return s.add("LINE('',#%d,#%d)" % (pts[start], vector))

    def edge(a, b, curve, same=True):
        return s.add("EDGE_CURVE('',#%d,#%d,#%d,%s)" % (verts[a], verts[b], curve, ".T." if same else ".F."))

    def circle(centre, radius):
        return s.add("CIRCLE('',#%d,%s)" % (s.placement(centre, NY, X), s.num(radius)))

    # The fillet surface first: the pcurves of its arcs refer to it.
    rows = [[(xb, oy, shoulder), (xb, oy + depth, shoulder)],
            [(xb, oy, height), (xb, oy + depth, height)],
            [(xd, oy, height), (xd, oy + depth, height)]]
    grid = "(" + ",".join("(" + ",".join("#%d" % s.point(p) for p in row) + ")" for row in rows) + ")"
    w = s.num(math.sqrt(0.5))
    fillet_surface = s.add(
        "(BOUNDED_SURFACE()B_SPLINE_SURFACE(2,1,%s,.UNSPECIFIED.,.F.,.F.,.F.)"
        "B_SPLINE_SURFACE_WITH_KNOTS((3,3),(2,2),(0.,1.),(0.,%s),.UNSPECIFIED.)GEOMETRIC_REPRESENTATION_ITEM()"
        "RATIONAL_B_SPLINE_SURFACE(((1.,1.),(%s,%s),(1.,1.)))REPRESENTATION_ITEM('')SURFACE())"
        % (grid, s.num(depth), w, w))
    front_plane = s.add("PLANE('',#%d)" % s.placement((xa, oy, 0.0), NY, X))
    back_plane = s.add("PLANE('',#%d)" % s.placement((xa, oy + depth, 0.0), Y, X))

    def plane_line(p, q):
        """A degree 1 B-spline from p to q in a parameter plane."""
        return s.add("B_SPLINE_CURVE_WITH_KNOTS('',1,(#%d,#%d),.UNSPECIFIED.,.F.,.F.,(2,2),(0.,1.),.UNSPECIFIED.)"
                     % (s.point2(p), s.point2(q)))

    def fillet_arc(side, plane):
        centre = (xd, oy if side == "0" else oy + depth, shoulder)
        arc = circle(centre, r_fillet)
        if not pcurves:
            return arc
        v = 0.0 if side == "0" else depth
        # The front plane's frame has its y axis along +z, the back plane's along -z.
        up = 1.0 if side == "0" else -1.0
        on_plane = plane_line((xb - xa, up * shoulder), (xd - xa, up * height))
        on_fillet = plane_line((0.0, v), (1.0, v))
        reps = [s.add("DEFINITIONAL_REPRESENTATION('',(#%d),#%d)" % (c, dirs["context"])) for c in (on_plane, on_fillet)]
        pcs = [s.add("PCURVE('',#%d,#%d)" % (surface, rep)) for surface, rep in ((plane, reps[0]), (fillet_surface, reps[1]))]
        return s.add("SURFACE_CURVE('',#%d,(#%d,#%d),.PCURVE_S1.)" % (arc, pcs[0], pcs[1]))

    e = {}
    for side in ("0", "1"):
        e["AB" + side] = edge("A" + side, "B" + side, line("A" + side, vx))
        e["BC" + side] = edge("B" + side, "C" + side, line("B" + side, vz))
        e["CD" + side] = edge("C" + side, "D" + side, fillet_arc(side, front_plane if side == "0" else back_plane))
        e["DE" + side] = edge("D" + side, "E" + side, line("E" + side, vx), False)
        e["EA" + side] = edge("E" + side, "A" + side,
                              circle((xa, oy if side == "0" else oy + depth, r_end), r_end))
    for name in "ABCDE":
        e[name] = edge(name + "0", name + "1", line(name + "0", vy))

    def face(edges, surface, same=True):
        oriented = [s.add("ORIENTED_EDGE('',*,*,#%d,%s)" % (e[k], ".T." if fwd else ".F.")) for k, fwd in edges]
        loop = s.add("EDGE_LOOP('',(%s))" % ",".join("#%d" % o for o in oriented))
        bound = s.add("FACE_OUTER_BOUND('',#%d,.T.)" % loop)
        return s.add("ADVANCED_FACE('',(#%d),#%d,%s)" % (bound, surface, ".T." if same else ".F."))

    def plane(origin, axis, ref):
        return s.add("PLANE('',#%d)" % s.placement(origin, axis, ref))

    faces = [
        face([("A", True), ("AB1", True), ("B", False), ("AB0", False)], plane((xa, oy, 0.0), NZ, X)),
        face([("B", True), ("BC1", True), ("C", False), ("BC0", False)], plane((xb, oy, 0.0), X, Y)),
        face([("D", True), ("DE1", True), ("E", False), ("DE0", False)], plane((xd, oy, height), Z, X)),
        face([("AB0", True), ("BC0", True), ("CD0", True), ("DE0", True), ("EA0", True)], front_plane),
        face([("EA1", False), ("DE1", False), ("CD1", False), ("BC1", False), ("AB1", False)], back_plane),
        face([("C", True), ("CD1", True), ("D", False), ("CD0", False)], fillet_surface, False),
    ]
    cylinder = s.add("CYLINDRICAL_SURFACE('',#%d,%s)" % (s.placement((xa, oy, r_end), Y, X), s.num(r_end)))
    faces.append(face([("E", True), ("EA1", True), ("A", False), ("EA0", False)], cylinder))
    return faces


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=8)
    parser.add_argument("--cols", type=int, default=8)
    parser.add_argument("--segments", type=int, default=16)
    parser.add_argument("--min-angle", type=float, default=20.0)
    parser.add_argument("--conforming", action="store_true")
    parser.add_argument("--size", type=float)
    parser.add_argument("--length-unit")
    args = parser.parse_args()

    s = Step()
    dirs = {}
    for name, d in (("x", (1, 0, 0)), ("y", (0, 1, 0)), ("z", (0, 0, 1)), ("-y", (0, -1, 0)), ("-z", (0, 0, -1))):
        dirs[name] = s.direction(d)
    dirs["context"] = s.add("GEOMETRIC_REPRESENTATION_CONTEXT(2)")
    faces = []
    for i in range(args.rows):
        for j in range(args.cols):
            length = 30.0 + 5.0 * ((i + 2 * j) % 3)
            depth = 20.0 + 4.0 * ((2 * i + j) % 4)
            faces += add_bar(s, dirs, 60.0 * j, 50.0 * i, length, depth, (i + j) % 2 == 1)
    shell = s.add("CLOSED_SHELL('',(%s))" % ",".join("#%d" % f for f in faces))
    s.add("MANIFOLD_SOLID_BREP('bar_grid',#%d)" % shell)
    job = {"op": "mesh_step",
           "params": {"step": s.text(), "min_angle_deg": args.min_angle, "cylinder_segments": args.segments}}
    if args.conforming:
        job["params"]["conforming"] = True
        if args.size is not None:
            job["params"]["size"] = args.size
        if args.length_unit is not None:
            job["params"]["length_unit"] = args.length_unit
    print(json.dumps(job, indent=1))


if __name__ == "__main__":
    main()
