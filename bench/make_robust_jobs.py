#!/usr/bin/env python3
"""Writes the benchmark jobs of the robust volume engine ("engine": "robust"): the unit
cube as twelve triangles (refine_quality_tet) and a closed sphere of 5,120 triangles (an
icosahedron subdivided four times, as ASCII STL for mesh_stl_solid), each at two maximum
volumes giving about 10^5 and 10^6 tetrahedra, radius-edge bound 2.

usage: bench/make_robust_jobs.py   (writes bench/jobs/robust_*.json)
"""
import json
import os

from make_sphere_stl import ROOT, ascii_stl, icosphere

CUBE_POINTS = [[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0], [0, 0, 1], [1, 0, 1], [1, 1, 1], [0, 1, 1]]
CUBE_FACETS = [[0, 2, 1], [0, 3, 2], [4, 5, 6], [4, 6, 7], [0, 1, 5], [0, 5, 4],
               [1, 2, 6], [1, 6, 5], [2, 3, 7], [2, 7, 6], [3, 0, 4], [3, 4, 7]]


def write(name, job):
    with open(os.path.join(ROOT, "bench", "jobs", name + ".json"), "w") as f:
        json.dump(job, f)
        f.write("\n")


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


if __name__ == "__main__":
    main()
