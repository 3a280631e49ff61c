#!/usr/bin/env python3
"""Writes the mesh_stl_solid benchmark jobs of a closed sphere: an icosahedron subdivided
three times (1,280 triangles, 642 corners) on the unit sphere, as ASCII STL with outward
facets, meshed with a radius-edge bound of 2 and a maximum volume of 1e-3 and 9e-5.

usage: bench/make_sphere_stl.py   (writes bench/jobs/mesh_stl_solid_sphere_1280_*.json)
"""
import json
import math
import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def icosphere(levels):
    t = (1 + math.sqrt(5)) / 2
    points = [(-1, t, 0), (1, t, 0), (-1, -t, 0), (1, -t, 0), (0, -1, t), (0, 1, t),
              (0, -1, -t), (0, 1, -t), (t, 0, -1), (t, 0, 1), (-t, 0, -1), (-t, 0, 1)]
    faces = [(0, 11, 5), (0, 5, 1), (0, 1, 7), (0, 7, 10), (0, 10, 11), (1, 5, 9), (5, 11, 4),
             (11, 10, 2), (10, 7, 6), (7, 1, 8), (3, 9, 4), (3, 4, 2), (3, 2, 6), (3, 6, 8),
             (3, 8, 9), (4, 9, 5), (2, 4, 11), (6, 2, 10), (8, 6, 7), (9, 8, 1)]
    points = [normalize(p) for p in points]
    for _ in range(levels):
        middle = {}

        def mid(a, b):
            key = (min(a, b), max(a, b))
            if key not in middle:
                pa, pb = points[a], points[b]
                points.append(normalize(((pa[0] + pb[0]) / 2, (pa[1] + pb[1]) / 2, (pa[2] + pb[2]) / 2)))
                middle[key] = len(points) - 1
            return middle[key]

        refined = []
        for a, b, c in faces:
            ab, bc, ca = mid(a, b), mid(b, c), mid(c, a)
            refined += [(a, ab, ca), (b, bc, ab), (c, ca, bc), (ab, bc, ca)]
        faces = refined
    return points, faces


def normalize(p):
    n = math.sqrt(p[0] ** 2 + p[1] ** 2 + p[2] ** 2)
    return (p[0] / n, p[1] / n, p[2] / n)


def ascii_stl(points, faces):
    lines = ["solid sphere"]
    for a, b, c in faces:
        lines.append("facet normal 0 0 0")
        lines.append("outer loop")
        for i in (a, b, c):
            lines.append("vertex %.9g %.9g %.9g" % points[i])
        lines.append("endloop")
        lines.append("endfacet")
    lines.append("endsolid sphere")
    return "\n".join(lines) + "\n"


def main():
    points, faces = icosphere(3)
    assert len(faces) == 1280 and len(points) == 642
    stl = ascii_stl(points, faces)
    for label, volume in (("1e-3", 1e-3), ("9e-5", 9e-5)):
        job = {"op": "mesh_stl_solid",
               "params": {"stl": stl, "radius_edge_bound": 2, "max_volume": volume, "max_steiner_points": 1000000}}
        path = os.path.join(ROOT, "bench", "jobs", "mesh_stl_solid_sphere_1280_%s.json" % label)
        with open(path, "w") as f:
            json.dump(job, f)
            f.write("\n")


if __name__ == "__main__":
    main()
