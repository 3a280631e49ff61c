#!/usr/bin/env python3
"""Writes the benchmark jobs of the robust volume engine ("engine": "robust"): the unit
cube as twelve triangles (refine_quality_tet) and a closed sphere of 5,120 triangles (an
icosahedron subdivided four times, as ASCII STL for mesh_stl_solid), each at two maximum
volumes giving about 10^5 and 10^6 tetrahedra, radius-edge bound 2.

Also a shaft standing on a collar 0.01 thick, tessellated as CAD exports do: the collar's
top a ring of quadrilaterals split into needles, its bottom and the shaft's top fans from
the axis, at a maximum volume of a 100,000th of the part's. A thin layer between needles
and spokes right below them is where the refinement works hardest per cell.

usage: bench/make_robust_jobs.py   (writes bench/jobs/robust_*.json)
"""
import json
import math
import os

from make_sphere_stl import ROOT, ascii_stl, icosphere

CUBE_POINTS = [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0], [0, 0, 1], [1, 0, 1], [1, 1, 1], [0, 1, 1]]
CUBE_FACETS = [[0, 2, 1], [0, 3, 2], [4, 5, 6], [4, 6, 7], [0, 1, 5], [0, 5, 4],
               [1, 2, 6], [1, 6, 5], [2, 3, 7], [2, 7, 6], [3, 0, 4], [3, 4, 7]]


def write(name, job):
    with open(os.path.join(ROOT, "bench", "jobs", name + ".json"), "w") as f:
        json.dump(job, f)
        f.write("\n")


def stepped_shaft(sides, radii, zs):
    """Points and outward-oriented facets of a stack of coaxial prisms over one polygon
    (radius radii[i] from zs[i] to zs[i + 1]): the end caps fans from the axis, the steps
    rings of quadrilaterals split into two triangles each, long and thin where a step is
    wide. Points are numbered as first met, the corners of each triangle or quadrilateral
    taken last to first."""
    points, index, facets = [], {}, []

    def point(x, y, z):
        key = (x, y, z)
        if key not in index:
            index[key] = len(points)
            points.append([x, y, z])
        return index[key]

    def ring(r, z, i):
        t = 2 * math.pi * (i % sides) / sides
        return point(r * math.cos(t), r * math.sin(t), z)

    def tri(*corners):  # corners as (radius, z, i) or a point index
        ids = [c if isinstance(c, int) else ring(*c) for c in reversed(corners)]
        facets.append(ids[::-1])

    def quad(a, b, c, d):
        ids = [ring(*x) for x in (d, c, b, a)][::-1]
        facets.append([ids[0], ids[1], ids[2]])
        facets.append([ids[0], ids[2], ids[3]])

    m = len(radii)
    bottom = point(0.0, 0.0, zs[0])
    top = point(0.0, 0.0, zs[m])
    for i in range(sides):
        tri(bottom, (radii[0], zs[0], i + 1), (radii[0], zs[0], i))
        tri(top, (radii[m - 1], zs[m], i), (radii[m - 1], zs[m], i + 1))
    for s in range(m):
        for i in range(sides):
            quad((radii[s], zs[s], i), (radii[s], zs[s], i + 1), (radii[s], zs[s + 1], i + 1), (radii[s], zs[s + 1], i))
        if s + 1 < m:
            r0, r1, z = radii[s], radii[s + 1], zs[s + 1]
            for i in range(sides):
                if r1 < r0:  # a shoulder facing +z
                    quad((r1, z, i), (r0, z, i), (r0, z, i + 1), (r1, z, i + 1))
                else:
                    quad((r0, z, i), (r0, z, i + 1), (r1, z, i + 1), (r1, z, i))
    return points, facets


def enclosed_volume(points, facets):
    total = 0.0
    for a, b, c in facets:
        p, q, r = points[a], points[b], points[c]
        total += (p[0] * (q[1] * r[2] - q[2] * r[1]) - p[1] * (q[0] * r[2] - q[2] * r[0]) +
                  p[2] * (q[0] * r[1] - q[1] * r[0])) / 6
    return total


def main():
    for label, volume in (("1e5", 1.8e-5), ("1e6", 1.8e-6)):
        write("robust_cube_%s" % label,
              {"op": "refine_quality_tet",
               "params": {"points": CUBE_POINTS, "facets": CUBE_FACETS, "radius_edge_bound": 2,
                          "max_volume": volume, "max_steiner_points": 2000000, "engine": "robust"}})
    points, faces = icosphere(4)
    assert len(faces) == 5120
    stl = ascii_stl(points, faces)
    for label, volume in (("1e5", 7.5e-5), ("1e6", 7.5e-6)):
        write("robust_sphere_5120_%s" % label,
              {"op": "mesh_stl_solid",
               "params": {"stl": stl, "radius_edge_bound": 2, "max_volume": volume,
                          "max_steiner_points": 2000000, "engine": "robust"}})

    # A 36-sided shaft of radius 0.094 and length 1.35 on a collar of radius 0.9, 0.01 thick.
    points, facets = stepped_shaft(36, [0.90255154196182752, 0.093591695134351602], [0.0, 0.01, 0.01 + 1.3478078933920332])
    write("robust_collar_shaft_2e5",
          {"op": "refine_quality_tet",
           "params": {"points": points, "facets": facets, "radius_edge_bound": 2,
                      "max_volume": enclosed_volume(points, facets) / 1e5, "max_steiner_points": 2000000,
                      "engine": "robust"}})

if __name__ == "__main__":
    main()
