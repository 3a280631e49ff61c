#!/usr/bin/env python3
"""Writes the planar bench jobs of the fast planar engine.

  plate:    a 2 x 1 plate with a 64-sided hole of radius 0.3 centred at (1, 0.5), meshed by
            mesh_quality_area (min angle 20) or mesh_quad_dominant_area with a maximum
            area; the Steiner budget is raised so that size, not budget, ends refinement.
  outline:  N boundary points on a five-lobed closed curve r = R (1 + 0.2 sin 5t) with
            integer coordinates, in loop order, for mesh_planar_area. Inserting points in
            the order of a smooth curve makes Bowyer-Watson create a number of triangles
            that grows with the square of N (and the output order depends on all of them),
            so these stay small.
  scattered: N boundary points scattered over a square in the order of a pseudo-random
            sequence (integer coordinates below 100000), for mesh_planar_area.
  sweep:    a unit square whose sides carry K points each, swept into L layers (the
            source face mesh is driven by the boundary spacing alone).

usage: bench/gen_planar_jobs.py plate OP MAX_AREA > job.json
       bench/gen_planar_jobs.py outline N > job.json
       bench/gen_planar_jobs.py scattered N > job.json
       bench/gen_planar_jobs.py sweep K LAYERS > job.json
"""
import json
import math
import sys


def plate(op, max_area):
    hole = []
    for i in range(64):
        a = 2 * math.pi * i / 64
        hole.append([round(1 + 0.3 * math.cos(a), 12), round(0.5 + 0.3 * math.sin(a), 12), 0])
    params = {
        "boundary": [[0, 0, 0], [2, 0, 0], [2, 1, 0], [0, 1, 0]],
        "holes": [hole],
        "min_angle_deg": 20,
        "max_area": max_area,
        "max_steiner_points": 10000000,
    }
    return {"op": op, "params": params}


def outline(n):
    radius = 4e5
    points = []
    seen = set()
    for i in range(n):
        t = 2 * math.pi * i / n
        r = radius * (1 + 0.2 * math.sin(5 * t))
        p = (round(r * math.cos(t)), round(r * math.sin(t)))
        if p in seen:
            continue
        seen.add(p)
        points.append([p[0], p[1], 0])
    return {"op": "mesh_planar_area", "params": {"boundary": points}}


def scattered(n):
    state = 12345
    points = []
    for _ in range(n):
        state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        x = (state >> 20) % 100000
        state = (state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        y = (state >> 20) % 100000
        points.append([x, y, 0])
    return {"op": "mesh_planar_area", "params": {"boundary": points}}


def sweep(k, layers):
    boundary = []
    corners = [(0, 0), (1, 0), (1, 1), (0, 1)]
    for c in range(4):
        (x0, y0), (x1, y1) = corners[c], corners[(c + 1) % 4]
        for i in range(k):
            t = i / k
            boundary.append([x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, 0])
    return {"op": "sweep_source_face", "params": {"boundary": boundary, "distance": 1, "nw": layers,
                                                  "max_steiner_points": 10000000}}


def main():
    kind = sys.argv[1]
    if kind == "plate":
        job = plate(sys.argv[2], float(sys.argv[3]))
    elif kind == "outline":
        job = outline(int(sys.argv[2]))
    elif kind == "scattered":
        job = scattered(int(sys.argv[2]))
    elif kind == "sweep":
        job = sweep(int(sys.argv[2]), int(sys.argv[3]))
    else:
        sys.exit(__doc__)
    sys.stdout.write(json.dumps(job, separators=(",", ":")) + "\n")


if __name__ == "__main__":
    main()
