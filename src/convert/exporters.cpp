#include "convert/exporters.hpp"

namespace {

/// One cell of the output: the kind, its model node ids (model order), and its data.
struct CellView {
    const CellKind* kind;
    const int32_t* nodes;
    int32_t id;
    int32_t matId;
    int32_t secId;
    double thickness;
};

/// Calls `visit` for every cell in output order.
template <typename Visit>
void forEachCell(const LoadedModel& m, Visit visit) {
    for (const Element& e : m.elements) {
        const int32_t ends[2] = {e.n1, e.n2};
        visit(CellView{&lineKind(), ends, e.id, e.matId, e.secId, 0.0});
    }
    for (const LoadedCell& a : m.areas) visit(CellView{a.kind, m.nodesOf(a), a.id, a.matId, a.secId, a.thickness});
    for (const LoadedCell& s : m.solids) visit(CellView{s.kind, m.nodesOf(s), s.id, s.matId, 0, 0.0});
}

size_t cellCount(const LoadedModel& m) { return m.elements.size() + m.areas.size() + m.solids.size(); }

/// Writes `count` values produced by `value(i)`, sixteen to a line, each line indented.
template <typename Value>
void valueLines(TextSink& out, size_t count, const char* indent, Value value) {
    for (size_t i = 0; i < count; ++i) {
        if (i % 16 == 0) {
            if (i > 0) out.ch('\n');
            out.put(indent, std::char_traits<char>::length(indent));
        } else {
            out.ch(' ');
        }
        value(i);
    }
    if (count > 0) out.ch('\n');
}

/// Cell data of every cell in output order, gathered once.
struct CellData {
    std::vector<int32_t> ids;
    std::vector<int32_t> mats;
    std::vector<int32_t> secs;
    std::vector<double> thickness;
};

CellData gatherCellData(const LoadedModel& m) {
    CellData d;
    size_t n = cellCount(m);
    d.ids.reserve(n);
    d.mats.reserve(n);
    d.secs.reserve(n);
    d.thickness.reserve(n);
    forEachCell(m, [&](const CellView& c) {
        d.ids.push_back(c.id);
        d.mats.push_back(c.matId);
        d.secs.push_back(c.secId);
        d.thickness.push_back(c.thickness);
    });
    return d;
}

template <typename Value>
void vtuIntArray(TextSink& out, const char* type, const char* name, size_t count, Value value) {
    out.lit("        <DataArray type=\"");
    out.put(type, std::char_traits<char>::length(type));
    out.lit("\" Name=\"");
    out.put(name, std::char_traits<char>::length(name));
    out.lit("\" format=\"ascii\">\n");
    valueLines(out, count, "          ", [&](size_t i) { out.integer(value(i)); });
    out.lit("        </DataArray>\n");
}

}  // namespace

void writeVtu(const LoadedModel& m, TextSink& out) {
    const std::vector<Node>& nodes = m.nodes;
    const size_t cells = cellCount(m);
    const CellData data = gatherCellData(m);

    out.lit("<?xml version=\"1.0\"?>\n");
    out.lit("<VTKFile type=\"UnstructuredGrid\" version=\"0.1\" byte_order=\"LittleEndian\">\n");
    out.lit("  <UnstructuredGrid>\n");
    out.lit("    <Piece NumberOfPoints=\"");
    out.integer(static_cast<int64_t>(nodes.size()));
    out.lit("\" NumberOfCells=\"");
    out.integer(static_cast<int64_t>(cells));
    out.lit("\">\n");

    out.lit("      <PointData>\n");
    vtuIntArray(out, "Int32", "nodeId", nodes.size(), [&](size_t i) { return nodes[i].id; });
    out.lit("      </PointData>\n");

    out.lit("      <CellData>\n");
    vtuIntArray(out, "Int32", "elementId", cells, [&](size_t i) { return data.ids[i]; });
    vtuIntArray(out, "Int32", "matId", cells, [&](size_t i) { return data.mats[i]; });
    vtuIntArray(out, "Int32", "secId", cells, [&](size_t i) { return data.secs[i]; });
    out.lit("        <DataArray type=\"Float64\" Name=\"thickness\" format=\"ascii\">\n");
    valueLines(out, cells, "          ", [&](size_t i) { out.real(data.thickness[i]); });
    out.lit("        </DataArray>\n");
    out.lit("      </CellData>\n");

    out.lit("      <Points>\n");
    out.lit("        <DataArray type=\"Float64\" Name=\"Points\" NumberOfComponents=\"3\" format=\"ascii\">\n");
    for (const Node& n : nodes) {
        out.lit("          ");
        out.real(n.x);
        out.ch(' ');
        out.real(n.y);
        out.ch(' ');
        out.real(n.z);
        out.ch('\n');
    }
    out.lit("        </DataArray>\n");
    out.lit("      </Points>\n");

    out.lit("      <Cells>\n");
    out.lit("        <DataArray type=\"Int64\" Name=\"connectivity\" format=\"ascii\">\n");
    forEachCell(m, [&](const CellView& c) {
        out.lit("         ");
        for (int k = 0; k < c.kind->nodeCount; ++k) {
            out.ch(' ');
            out.integer(static_cast<int64_t>(m.nodeAt(c.nodes[c.kind->vtkOrder[k]])));
        }
        out.ch('\n');
    });
    out.lit("        </DataArray>\n");
    std::vector<int64_t> offsets;
    std::vector<int64_t> types;
    offsets.reserve(cells);
    types.reserve(cells);
    forEachCell(m, [&](const CellView& c) {
        offsets.push_back((offsets.empty() ? 0 : offsets.back()) + c.kind->nodeCount);
        types.push_back(c.kind->vtkType);
    });
    vtuIntArray(out, "Int64", "offsets", cells, [&](size_t i) { return offsets[i]; });
    vtuIntArray(out, "UInt8", "types", cells, [&](size_t i) { return types[i]; });
    out.lit("      </Cells>\n");
    out.lit("    </Piece>\n");
    out.lit("  </UnstructuredGrid>\n");
    out.lit("</VTKFile>\n");
}

void writeLegacyVtk(const LoadedModel& m, TextSink& out) {
    const std::vector<Node>& nodes = m.nodes;
    const size_t cells = cellCount(m);

    out.lit("# vtk DataFile Version 4.2\n");
    out.lit("finite-element model written by quilm_convert\n");
    out.lit("ASCII\n");
    out.lit("DATASET UNSTRUCTURED_GRID\n");
    out.lit("POINTS ");
    out.integer(static_cast<int64_t>(nodes.size()));
    out.lit(" double\n");
    for (const Node& n : nodes) {
        out.real(n.x);
        out.ch(' ');
        out.real(n.y);
        out.ch(' ');
        out.real(n.z);
        out.ch('\n');
    }
    int64_t listSize = 0;
    forEachCell(m, [&](const CellView& c) { listSize += 1 + c.kind->nodeCount; });
    out.lit("CELLS ");
    out.integer(static_cast<int64_t>(cells));
    out.ch(' ');
    out.integer(listSize);
    out.ch('\n');
    forEachCell(m, [&](const CellView& c) {
        out.integer(c.kind->nodeCount);
        for (int k = 0; k < c.kind->nodeCount; ++k) {
            out.ch(' ');
            out.integer(static_cast<int64_t>(m.nodeAt(c.nodes[c.kind->vtkOrder[k]])));
        }
        out.ch('\n');
    });
    out.lit("CELL_TYPES ");
    out.integer(static_cast<int64_t>(cells));
    out.ch('\n');
    forEachCell(m, [&](const CellView& c) {
        out.integer(c.kind->vtkType);
        out.ch('\n');
    });

    if (cells > 0) {
        const CellData data = gatherCellData(m);
        out.lit("CELL_DATA ");
        out.integer(static_cast<int64_t>(cells));
        out.ch('\n');
        const char* names[3] = {"elementId", "matId", "secId"};
        const std::vector<int32_t>* columns[3] = {&data.ids, &data.mats, &data.secs};
        for (int k = 0; k < 3; ++k) {
            out.lit("SCALARS ");
            out.put(names[k], std::char_traits<char>::length(names[k]));
            out.lit(" int 1\nLOOKUP_TABLE default\n");
            valueLines(out, cells, "", [&](size_t i) { out.integer((*columns[k])[i]); });
        }
        out.lit("SCALARS thickness double 1\nLOOKUP_TABLE default\n");
        valueLines(out, cells, "", [&](size_t i) { out.real(data.thickness[i]); });
    }
    if (!nodes.empty()) {
        out.lit("POINT_DATA ");
        out.integer(static_cast<int64_t>(nodes.size()));
        out.ch('\n');
        out.lit("SCALARS nodeId int 1\nLOOKUP_TABLE default\n");
        valueLines(out, nodes.size(), "", [&](size_t i) { out.integer(nodes[i].id); });
    }
}

void writeMsh(const LoadedModel& m, TextSink& out) {
    const std::vector<Node>& nodes = m.nodes;
    const size_t cells = cellCount(m);

    out.lit("$MeshFormat\n2.2 0 8\n$EndMeshFormat\n");
    out.lit("$Nodes\n");
    out.integer(static_cast<int64_t>(nodes.size()));
    out.ch('\n');
    for (const Node& n : nodes) {
        out.integer(n.id);
        out.ch(' ');
        out.real(n.x);
        out.ch(' ');
        out.real(n.y);
        out.ch(' ');
        out.real(n.z);
        out.ch('\n');
    }
    out.lit("$EndNodes\n");
    out.lit("$Elements\n");
    out.integer(static_cast<int64_t>(cells));
    out.ch('\n');
    // Element numbers are the model's element ids when those are unique across the
    // families (as in every model of one family), else 1, 2, ... in output order.
    bool idsUnique = true;
    {
        std::vector<int32_t> ids;
        ids.reserve(cells);
        forEachCell(m, [&](const CellView& c) { ids.push_back(c.id); });
        IdIndex index;
        size_t repeat = 0, earlier = 0;
        idsUnique = buildIdIndex(ids, index, repeat, earlier);
    }
    int64_t number = 0;
    forEachCell(m, [&](const CellView& c) {
        ++number;
        out.integer(idsUnique ? c.id : number);
        out.ch(' ');
        out.integer(c.kind->mshType);
        out.lit(" 2 ");
        out.integer(c.matId);
        out.ch(' ');
        out.integer(c.secId);
        for (int k = 0; k < c.kind->nodeCount; ++k) {
            out.ch(' ');
            out.integer(c.nodes[c.kind->mshOrder[k]]);
        }
        out.ch('\n');
    });
    out.lit("$EndElements\n");
}
