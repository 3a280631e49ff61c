#!/usr/bin/env python3
"""Independent check of a tetrahedral model file against the job that produced it.

Used to verify the expected.s3d of the refine_quality_tet_* and mesh_stl_solid_* golden
cases before they were frozen:

    check_tet_mesh.py job.json expected.s3d

It checks, with exact rational arithmetic where it matters:
  - node ids run 1..n and the job's points keep their exact coordinates as the first nodes;
  - every solid is a TET4 with the job's mat_id and is positively oriented
    (det[a-d; b-d; c-d] > 0, the orientation test of the mesher);
  - no oriented face is used twice, and the faces used once (the boundary) lie in the plane
    of an input facet and inside it, with the same total area;
  - the volumes add up to the volume enclosed by the input facets.
Exit status 0 when all hold; otherwise the first failure is printed.
"""
import json
import math
import sys
from fractions import Fraction


def stl_facets(text):
    """The points and triangles of a small well-formed ASCII STL, corners with equal
    coordinates merged (enough for the golden cases, whose corners are far apart)."""
    tokens = text.split()
    points, tris, index = [], [], {}
    corners = []
    for j, tok in enumerate(tokens):
        if tok.lower() == "vertex":
            corners.append(tuple(float(t) for t in tokens[j + 1:j + 4]))
    for k in range(0, len(corners), 3):
        tri = []
        for c in corners[k:k + 3]:
            if c not in index:
                index[c] = len(points)
                points.append(c)
            tri.append(index[c])
        if len(set(tri)) == 3:
            tris.append(tri)
    return points, tris


def orient(a, b, c, d):
    ad = [Fraction(a[i]) - Fraction(d[i]) for i in range(3)]
    bd = [Fraction(b[i]) - Fraction(d[i]) for i in range(3)]
    cd = [Fraction(c[i]) - Fraction(d[i]) for i in range(3)]
    return (ad[0] * (bd[1] * cd[2] - bd[2] * cd[1]) - ad[1] * (bd[0] * cd[2] - bd[2] * cd[0])
            + ad[2] * (bd[0] * cd[1] - bd[1] * cd[0]))


def area(a, b, c):
    u = [b[i] - a[i] for i in range(3)]
    v = [c[i] - a[i] for i in range(3)]
    n = (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])
    return 0.5 * math.sqrt(n[0] ** 2 + n[1] ** 2 + n[2] ** 2)


def main():
    job = json.load(open(sys.argv[1]))
    model = json.load(open(sys.argv[2]))
    params = job["params"]
    if job["op"] == "mesh_stl_solid":
        points, facets = stl_facets(params["stl"])
    else:
        points = [tuple(float(x) for x in p) for p in params["points"]]
        facets = [[int(x) for x in f] for f in params["facets"]]
    mat = int(params.get("mat_id", 0))

    nodes = model["nodes"]
    for i, n in enumerate(nodes):
        if n["id"] != i + 1:
            return "node ids are not 1..n"
    xyz = [(n["x"], n["y"], n["z"]) for n in nodes]
    for i, p in enumerate(points):
        if xyz[i] != p:
            return "input point %d moved" % i

    faces = {}
    total = Fraction(0)
    for s in model["solids"]:
        if s["kind"] != "TET4" or s["matId"] != mat or len(s["nodes"]) != 4:
            return "solid %d: wrong kind, material or node count" % s["id"]
        t = [v - 1 for v in s["nodes"]]
        o = orient(*[xyz[v] for v in t])
        if o <= 0:
            return "solid %d is not positively oriented" % s["id"]
        total += o / 6
        for f in ((1, 3, 2), (0, 2, 3), (0, 3, 1), (0, 1, 2)):
            k = [t[f[0]], t[f[1]], t[f[2]]]
            while not (k[0] < k[1] and k[0] < k[2]):
                k = [k[1], k[2], k[0]]
            k = tuple(k)
            faces[k] = faces.get(k, 0) + 1
            if faces[k] > 1:
                return "oriented face %s used twice" % (k,)

    boundary_area = 0.0
    for k in faces:
        if (k[0], k[2], k[1]) in faces:
            continue
        a, b, c = [xyz[v] for v in k]
        ctr = tuple((a[i] + b[i] + c[i]) / 3 for i in range(3))
        found = False
        for f in facets:
            fa, fb, fc = [points[v] for v in f]
            if orient(fa, fb, fc, a) == 0 and orient(fa, fb, fc, b) == 0 and orient(fa, fb, fc, c) == 0:
                whole = area(fa, fb, fc)
                parts = area(ctr, fb, fc) + area(fa, ctr, fc) + area(fa, fb, ctr)
                if abs(parts - whole) <= 1e-9 * (whole + 1):
                    found = True
                    break
        if not found:
            return "boundary face %s lies on no input facet" % (k,)
        boundary_area += area(a, b, c)
    facet_area = sum(area(*[points[v] for v in f]) for f in facets)
    if abs(boundary_area - facet_area) > 1e-9 * facet_area:
        return "boundary area %r differs from facet area %r" % (boundary_area, facet_area)

    enclosed = Fraction(0)
    for f in facets:
        enclosed += orient((0.0, 0.0, 0.0), *[points[v] for v in f])
    enclosed = abs(enclosed) / 6
    if abs(total - enclosed) > Fraction(1, 10 ** 9) * enclosed:
        return "volume %s differs from the enclosed %s" % (float(total), float(enclosed))
    print("ok: %d nodes, %d solids, volume %s" % (len(nodes), len(model["solids"]), float(total)))
    return None


if __name__ == "__main__":
    failure = main()
    if failure:
        print("FAIL: " + failure)
        sys.exit(1)
