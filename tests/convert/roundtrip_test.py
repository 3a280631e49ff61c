#!/usr/bin/env python3
"""Round trip of quilm_convert's exports through real readers.

For one hand-made element of every kind, and for the model of every example job (meshed
by quilm_mesher_cli, and again upgraded to quadratic elements), the model is converted to
.vtu, .vtk, .msh and .svg, and:
  - meshio reads the .vtu, .vtk and .msh back to the same points (bit for bit), the
    cells expected from the formats' published node orders, and the same cell data
    (element id, material id, section id, thickness; physical and elementary tags in MSH);
  - every mid-side node read back lies at the midpoint of the edge the format assigns to
    that slot, and every solid has a positive volume in the format's orientation;
  - VTK's own XML and legacy readers load the files without a warning, and VTK's cell
    validator finds every cell valid;
  - rsvg-convert renders the .svg to a PNG.
Bad model files (truncated, unknown kind, dangling node id, NaN) must give one "error: "
line, exit status 1 and no output file.

usage: roundtrip_test.py --mesher PATH --convert PATH --examples DIR
Exits 77 (skipped) when this Python lacks meshio.
"""
import argparse
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile

try:
    import meshio
    import numpy as np
except ImportError as exc:
    print(f"SKIPPED: {sys.executable} cannot import meshio ({exc}); install python3-meshio")
    sys.exit(77)

try:
    import vtk
except ImportError:
    vtk = None

# Our node orders, from the model file's definition: the edge whose midpoint each
# mid-side node is, by node position.
OUR_EDGES = {
    "TRI6": [(0, 1), (1, 2), (2, 0)],
    "QUAD8": [(0, 1), (1, 2), (2, 3), (3, 0)],
    "TET10": [(0, 1), (1, 2), (2, 0), (0, 3), (1, 3), (2, 3)],
    "HEX20": [(0, 1), (1, 2), (2, 3), (3, 0), (4, 5), (5, 6), (6, 7), (7, 4), (0, 4), (1, 5), (2, 6), (3, 7)],
}
CORNERS = {"LINE": 2, "CST": 3, "QUAD": 4, "TRI6": 3, "QUAD8": 4, "TET4": 4, "HEX8": 8, "TET10": 4, "HEX20": 8}
MESHIO_TYPE = {"LINE": "line", "CST": "triangle", "QUAD": "quad", "TRI6": "triangle6", "QUAD8": "quad8",
               "TET4": "tetra", "HEX8": "hexahedron", "TET10": "tetra10", "HEX20": "hexahedron20"}
# meshio hands every format's cells over in VTK order. VTK's quadratic cells, from the VTK
# documentation of vtkQuadraticTriangle, vtkQuadraticQuad, vtkQuadraticTetra and
# vtkQuadraticHexahedron: the edge of each mid-side slot.
VTK_EDGES = {
    "triangle6": [(0, 1), (1, 2), (2, 0)],
    "quad8": [(0, 1), (1, 2), (2, 3), (3, 0)],
    "tetra10": [(0, 1), (1, 2), (2, 0), (0, 3), (1, 3), (2, 3)],
    "hexahedron20": [(0, 1), (1, 2), (2, 3), (3, 0), (4, 5), (5, 6), (6, 7), (7, 4), (0, 4), (1, 5), (2, 6), (3, 7)],
}
VTK_CELL_TYPE = {"LINE": 3, "CST": 5, "QUAD": 9, "TRI6": 22, "QUAD8": 23, "TET4": 10, "HEX8": 12, "TET10": 24,
                 "HEX20": 25}

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL: " + what)
    return cond


def expected_vtk_connectivity(kind, nodes):
    """The format's node list for one of our elements, derived from the definitions above:
    corners (tetrahedra turned to the formats' orientation), then for each format edge
    slot our mid-side node of that edge."""
    if kind in ("TET4", "TET10"):
        # Our tetrahedra have (0, 1, 2) counterclockwise seen from outside; the formats want
        # the fourth corner on the normal's side of the first three: exchange corners 1, 2.
        corners = [nodes[0], nodes[2], nodes[1], nodes[3]]
    else:
        corners = list(nodes[:CORNERS[kind]])
    if kind not in OUR_EDGES:
        return corners
    ours = {}
    for k, (a, b) in enumerate(OUR_EDGES[kind]):
        ours[frozenset((nodes[a], nodes[b]))] = nodes[CORNERS[kind] + k]
    return corners + [ours[frozenset((corners[a], corners[b]))] for a, b in VTK_EDGES[MESHIO_TYPE[kind]]]


def model_cells(model):
    """(kind, node ids, element id, matId, secId, thickness) in the exporters' order."""
    out = []
    for e in model["elements"]:
        out.append(("LINE", [e["n1"], e["n2"]], e["id"], e["matId"], e["secId"], 0.0))
    for a in model["areas"]:
        out.append((a["kind"], a["nodes"], a["id"], a["matId"], a["secId"], a["thickness"]))
    for s in model["solids"]:
        out.append((s["kind"], s["nodes"], s["id"], s["matId"], 0, 0.0))
    return out


def flatten_meshio(mesh, name):
    """Cells of a meshio mesh as (type, connectivity list), with a per-cell data column."""
    cells = []
    for block in mesh.cells:
        for row in block.data:
            cells.append((block.type, [int(v) for v in row]))
    data = {}
    for key, blocks in mesh.cell_data.items():
        data[key] = np.concatenate([np.asarray(b).reshape(-1) for b in blocks]) if blocks else np.array([])
    return cells, data


def msh_element_numbers(path):
    """The first column of the $Elements section, read straight from the file."""
    with open(path) as f:
        lines = f.read().split("\n")
    start = lines.index("$Elements")
    count = int(lines[start + 1])
    return [int(line.split()[0]) for line in lines[start + 2:start + 2 + count]]


def expected_msh_numbers(ours):
    ids = [c[2] for c in ours]
    return ids if len(set(ids)) == len(ids) else list(range(1, len(ids) + 1))


def check_geometry(points, cells, label):
    for ctype, conn in cells:
        p = points[conn]
        scale = max(1.0, float(np.abs(p).max()))
        if ctype in VTK_EDGES:
            n = len(conn) - len(VTK_EDGES[ctype])
            for k, (a, b) in enumerate(VTK_EDGES[ctype]):
                mid = (p[a] + p[b]) * 0.5
                if not check(np.abs(p[n + k] - mid).max() <= 1e-12 * scale,
                             f"{label}: {ctype} slot {n + k} is not the midpoint of edge {a}-{b}"):
                    return
        if ctype in ("tetra", "tetra10"):
            vol = np.dot(np.cross(p[1] - p[0], p[2] - p[0]), p[3] - p[0])
            if not check(vol > 0, f"{label}: {ctype} has volume {vol} in the format's orientation"):
                return
        if ctype in ("hexahedron", "hexahedron20"):
            # Right-handed at every corner: edges to its three neighbours.
            frames = [(0, 1, 3, 4), (1, 2, 0, 5), (2, 3, 1, 6), (3, 0, 2, 7),
                      (4, 7, 5, 0), (5, 4, 6, 1), (6, 5, 7, 2), (7, 6, 4, 3)]
            for c, i, j, k in frames:
                det = np.dot(np.cross(p[i] - p[c], p[j] - p[c]), p[k] - p[c])
                if not check(det > 0, f"{label}: {ctype} is inverted at corner {c}"):
                    return


def check_meshio(path, model, fmt, label):
    try:
        mesh = meshio.read(path)
    except Exception as exc:  # noqa: BLE001 - any reader failure is a test failure
        check(False, f"{label}: meshio cannot read the {fmt} file: {exc}")
        return
    nodes = model["nodes"]
    want_points = np.array([[n["x"], n["y"], n["z"]] for n in nodes], dtype=float).reshape(-1, 3)
    check(mesh.points.shape == want_points.shape and np.array_equal(mesh.points, want_points),
          f"{label}: {fmt} points differ from the model's nodes")
    index = {n["id"]: i for i, n in enumerate(nodes)}
    cells, data = flatten_meshio(mesh, label)
    ours = model_cells(model)
    # Geometry first, on its own: it needs nothing but the formats' edge definitions.
    check_geometry(mesh.points, cells, f"{label} ({fmt})")
    if not check(len(cells) == len(ours), f"{label}: {fmt} has {len(cells)} cells, the model {len(ours)}"):
        return
    for k, ((ctype, conn), (kind, ids, *_)) in enumerate(zip(cells, ours)):
        want = [index[i] for i in expected_vtk_connectivity(kind, ids)]
        if not check(ctype == MESHIO_TYPE[kind] and conn == want,
                     f"{label}: {fmt} cell {k} is {ctype} {conn}, expected {MESHIO_TYPE[kind]} {want}"):
            return
    if fmt == "msh":
        names = {"gmsh:physical": 3, "gmsh:geometrical": 4}
        check(msh_element_numbers(path) == expected_msh_numbers(ours),
              f"{label}: msh element numbers {msh_element_numbers(path)[:10]} are not the element ids")
    else:
        names = {"elementId": 2, "matId": 3, "secId": 4, "thickness": 5}
    for name, col in names.items():
        want = np.array([c[col] for c in ours], dtype=float)
        got = data.get(name)
        check(got is not None and np.array_equal(np.asarray(got, dtype=float), want),
              f"{label}: {fmt} cell data {name} is {got}, expected {want}")
    if fmt != "msh" and nodes:
        ids = mesh.point_data.get("nodeId")
        check(ids is not None and list(np.asarray(ids).reshape(-1)) == [n["id"] for n in nodes],
              f"{label}: {fmt} point data nodeId differs")


def check_vtk(path, model, label):
    if vtk is None:
        return
    log = vtk.vtkStringOutputWindow()
    vtk.vtkOutputWindow.SetInstance(log)
    reader = vtk.vtkXMLUnstructuredGridReader() if path.endswith(".vtu") else vtk.vtkUnstructuredGridReader()
    reader.SetFileName(path)
    reader.Update()
    grid = reader.GetOutput()
    check(log.GetOutput() == "", f"{label}: VTK reader reported: {log.GetOutput()!r}")
    ours = model_cells(model)
    check(grid.GetNumberOfPoints() == len(model["nodes"]) and grid.GetNumberOfCells() == len(ours),
          f"{label}: VTK read {grid.GetNumberOfPoints()} points and {grid.GetNumberOfCells()} cells")
    types = [grid.GetCellType(i) for i in range(grid.GetNumberOfCells())]
    check(types == [VTK_CELL_TYPE[c[0]] for c in ours], f"{label}: VTK cell types {types}")
    if grid.GetNumberOfCells() > 0:
        validator = vtk.vtkCellValidator()
        validator.SetInputData(grid)
        validator.Update()
        states = validator.GetOutput().GetCellData().GetArray("ValidityState")
        bad = [i for i in range(states.GetNumberOfTuples()) if states.GetValue(i) != 0]
        check(not bad, f"{label}: VTK's cell validator flags cells {bad[:10]} (states "
                       f"{[states.GetValue(i) for i in bad[:10]]})")
    check(log.GetOutput() == "", f"{label}: VTK reported: {log.GetOutput()!r}")


def check_svg(path, label, work):
    png = os.path.join(work, "picture.png")
    proc = subprocess.run(["rsvg-convert", path, "-o", png], capture_output=True, text=True)
    ok = proc.returncode == 0 and os.path.exists(png)
    if ok:
        with open(png, "rb") as f:
            ok = f.read(8) == b"\x89PNG\r\n\x1a\n"
    check(ok, f"{label}: rsvg-convert failed on the SVG: {proc.stderr.strip()}")


def convert(tool, model_path, out_path):
    return subprocess.run([tool, model_path, out_path], capture_output=True, text=True)


def round_trip(tool, model_path, label, work):
    with open(model_path) as f:
        model = json.load(f)
    for fmt in ("vtu", "vtk", "msh", "svg"):
        out = os.path.join(work, "out." + fmt)
        proc = convert(tool, model_path, out)
        if not check(proc.returncode == 0 and proc.stderr == "", f"{label}: converting to {fmt} failed: {proc.stderr}"):
            continue
        if fmt == "svg":
            if shutil.which("rsvg-convert"):
                check_svg(out, label, work)
            continue
        check_meshio(out, model, fmt, label)
        if fmt in ("vtu", "vtk"):
            check_vtk(out, model, label)
    kinds = sorted({c[0] for c in model_cells(model)})
    print(f"ok: {label}: {len(model['nodes'])} nodes, {len(model_cells(model))} cells ({', '.join(kinds)})")


def single_element_models():
    """One element of each kind on a sheared, rotated reference shape with ids that are
    neither consecutive nor in order, and mid-side nodes at the midpoints of our edges."""
    def place(p):
        x, y, z = p
        # A shear and a rotation keep every element valid but off the axes.
        return [0.3 + 1.1 * x + 0.2 * y, -0.7 + 0.1 * x + 0.9 * y + 0.15 * z, 2.0 + 0.05 * x + 0.8 * z]

    shapes = {
        "CST": [(0, 0, 0), (1, 0, 0), (0, 1, 0)],
        "QUAD": [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)],
        # The meshers' orientation: (0, 1, 2) counterclockwise seen from outside, so the
        # fourth corner lies below the plane in which the first three turn left.
        "TET4": [(0, 0, 0), (0, 1, 0), (1, 0, 0), (0, 0, 1)],
        "HEX8": [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)],
    }
    quadratic = {"CST": "TRI6", "QUAD": "QUAD8", "TET4": "TET10", "HEX8": "HEX20"}
    models = {}
    for linear, corners in shapes.items():
        for kind in (linear, quadratic[linear]):
            pts = [place(c) for c in corners]
            for a, b in OUR_EDGES.get(kind, []):
                pts.append([(pts[a][i] + pts[b][i]) * 0.5 for i in range(3)])
            ids = [1000 - 7 * i for i in range(len(pts))]
            nodes = [{"id": ids[i], "x": pts[i][0], "y": pts[i][1], "z": pts[i][2]} for i in range(len(pts))]
            nodes.reverse()
            model = {"nodes": nodes, "elements": [], "areas": [], "solids": []}
            if linear in ("CST", "QUAD"):
                model["areas"].append({"id": 42, "kind": kind, "nodes": ids, "behavior": "membrane",
                                       "thickness": 0.125, "matId": 3, "secId": 5, "drilling": False})
            else:
                model["solids"].append({"id": 42, "kind": kind, "nodes": ids, "matId": 3})
            models[kind] = model
    # Line elements beside an area, so that mixed cell lists are covered too.
    mixed = json.loads(json.dumps(models["CST"]))
    first, second = mixed["nodes"][0]["id"], mixed["nodes"][1]["id"]
    mixed["elements"].append({"id": 7, "n1": first, "n2": second, "matId": 9, "secId": 11})
    models["LINE+CST"] = mixed
    return models


def write_model(path, model):
    # The model file's own layout is JSON; Python's repr of a float reads back exactly.
    with open(path, "w") as f:
        json.dump(model, f)


def bad_models(tool, work, good_text):
    good = json.loads(good_text)
    cases = {}
    cases["truncated"] = good_text[: len(good_text) // 2]
    wrong = json.loads(good_text)
    wrong["solids"][0]["kind"] = "HEX27"
    cases["wrong kind"] = json.dumps(wrong)
    dangling = json.loads(good_text)
    dangling["solids"][0]["nodes"][3] = 999999
    cases["dangling node id"] = json.dumps(dangling)
    cases["NaN coordinate"] = json.dumps(good).replace('"x": 0.5', '"x": NaN', 1)
    for name, text in cases.items():
        case_dir = os.path.join(work, "bad")
        shutil.rmtree(case_dir, ignore_errors=True)
        os.makedirs(case_dir)
        model_path = os.path.join(case_dir, "model.s3d")
        with open(model_path, "w") as f:
            f.write(text)
        for fmt in ("vtu", "vtk", "msh", "svg"):
            out = os.path.join(case_dir, "out." + fmt)
            proc = convert(tool, model_path, out)
            lines = proc.stderr.splitlines()
            check(proc.returncode == 1 and len(lines) == 1 and lines[0].startswith("error: ") and proc.stdout == "",
                  f"bad model ({name}, {fmt}): status {proc.returncode}, stderr {proc.stderr!r}")
            check(sorted(os.listdir(case_dir)) == ["model.s3d"],
                  f"bad model ({name}, {fmt}): files left behind: {os.listdir(case_dir)}")
        print(f"ok: bad model ({name}): {lines[0] if lines else ''}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--mesher", required=True)
    parser.add_argument("--convert", required=True)
    parser.add_argument("--examples", required=True)
    args = parser.parse_args()
    if vtk is None:
        print(f"NOTE: {sys.executable} cannot import vtk; the VTK reader checks are left out")
    if shutil.which("rsvg-convert") is None:
        print("NOTE: rsvg-convert is not installed; the SVG rendering check is left out")

    work = tempfile.mkdtemp(prefix="quilm_convert_rt_")
    try:
        for kind, model in single_element_models().items():
            path = os.path.join(work, "single.s3d")
            write_model(path, model)
            round_trip(args.convert, path, f"single {kind}", work)

        examples = sorted(glob.glob(os.path.join(args.examples, "*.json")))
        check(examples != [], f"no example jobs in {args.examples}")
        demo_text = None
        for job_path in examples:
            name = os.path.splitext(os.path.basename(job_path))[0]
            with open(job_path) as f:
                job = json.load(f)
            jobs = {name: job}
            if job.get("op") != "upgrade_to_quadratic":
                jobs[name + " (quadratic)"] = {"op": "upgrade_to_quadratic", "params": {"job": job}}
            for label, doc in jobs.items():
                job_file = os.path.join(work, "job.json")
                with open(job_file, "w") as f:
                    json.dump(doc, f)
                model_path = os.path.join(work, "model.s3d")
                proc = subprocess.run([args.mesher, job_file, model_path], capture_output=True, text=True)
                if not check(proc.returncode == 0, f"example {label}: the mesher failed: {proc.stderr.strip()}"):
                    continue
                round_trip(args.convert, model_path, f"example {label}", work)
                if name == "hex_block" and label == name:
                    with open(model_path) as f:
                        demo_text = f.read()
        if demo_text is not None:
            bad_models(args.convert, work, demo_text)
        else:
            check(False, "examples/hex_block.json is needed for the bad-model cases")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all round trips passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
