#include "convert/exporters.hpp"

#include <gtest/gtest.h>

namespace {

LoadedModel load(const std::string& text) {
    LoadedModel m;
    std::string error;
    EXPECT_TRUE(readModelText(text, m, error)) << error;
    return m;
}

// Nodes 5, 6, 7 listed out of id order; a line element and a CST.
const char* kAreaModel =
    "{\"nodes\": [{\"id\": 7, \"x\": 0, \"y\": 1, \"z\": 0}, {\"id\": 5, \"x\": 0, \"y\": 0, \"z\": 0},"
    " {\"id\": 6, \"x\": 0.1, \"y\": 0, \"z\": -2.5}],"
    " \"elements\": [{\"id\": 4, \"n1\": 5, \"n2\": 6, \"matId\": 8, \"secId\": 9}],"
    " \"areas\": [{\"id\": 2, \"kind\": \"CST\", \"nodes\": [5, 6, 7], \"behavior\": \"membrane\","
    " \"thickness\": 0.25, \"matId\": 3, \"secId\": 1, \"drilling\": false}], \"solids\": []}";

std::string render(void (*writer)(const LoadedModel&, TextSink&), const LoadedModel& m) {
    TextSink sink;
    writer(m, sink);
    sink.flush();
    return sink.buffer;
}

TEST(Exporters, LegacyVtkOfASmallModel) {
    EXPECT_EQ(render(writeLegacyVtk, load(kAreaModel)),
              "# vtk DataFile Version 4.2\n"
              "finite-element model written by quilm_convert\n"
              "ASCII\n"
              "DATASET UNSTRUCTURED_GRID\n"
              "POINTS 3 double\n"
              "0 1 0\n"
              "0 0 0\n"
              "0.10000000000000001 0 -2.5\n"
              "CELLS 2 7\n"
              "2 1 2\n"
              "3 1 2 0\n"
              "CELL_TYPES 2\n"
              "3\n"
              "5\n"
              "CELL_DATA 2\n"
              "SCALARS elementId int 1\nLOOKUP_TABLE default\n4 2\n"
              "SCALARS matId int 1\nLOOKUP_TABLE default\n8 3\n"
              "SCALARS secId int 1\nLOOKUP_TABLE default\n9 1\n"
              "SCALARS thickness double 1\nLOOKUP_TABLE default\n0 0.25\n"
              "POINT_DATA 3\n"
              "SCALARS nodeId int 1\nLOOKUP_TABLE default\n7 5 6\n");
}

TEST(Exporters, MshOfASmallModel) {
    EXPECT_EQ(render(writeMsh, load(kAreaModel)),
              "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n"
              "$Nodes\n3\n"
              "7 0 1 0\n"
              "5 0 0 0\n"
              "6 0.10000000000000001 0 -2.5\n"
              "$EndNodes\n"
              "$Elements\n2\n"
              "4 1 2 8 9 5 6\n"
              "2 2 2 3 1 5 6 7\n"
              "$EndElements\n");
}

TEST(Exporters, VtuOfASmallModel) {
    std::string vtu = render(writeVtu, load(kAreaModel));
    EXPECT_EQ(vtu,
              "<?xml version=\"1.0\"?>\n"
              "<VTKFile type=\"UnstructuredGrid\" version=\"0.1\" byte_order=\"LittleEndian\">\n"
              "  <UnstructuredGrid>\n"
              "    <Piece NumberOfPoints=\"3\" NumberOfCells=\"2\">\n"
              "      <PointData>\n"
              "        <DataArray type=\"Int32\" Name=\"nodeId\" format=\"ascii\">\n"
              "          7 5 6\n"
              "        </DataArray>\n"
              "      </PointData>\n"
              "      <CellData>\n"
              "        <DataArray type=\"Int32\" Name=\"elementId\" format=\"ascii\">\n"
              "          4 2\n"
              "        </DataArray>\n"
              "        <DataArray type=\"Int32\" Name=\"matId\" format=\"ascii\">\n"
              "          8 3\n"
              "        </DataArray>\n"
              "        <DataArray type=\"Int32\" Name=\"secId\" format=\"ascii\">\n"
              "          9 1\n"
              "        </DataArray>\n"
              "        <DataArray type=\"Float64\" Name=\"thickness\" format=\"ascii\">\n"
              "          0 0.25\n"
              "        </DataArray>\n"
              "      </CellData>\n"
              "      <Points>\n"
              "        <DataArray type=\"Float64\" Name=\"Points\" NumberOfComponents=\"3\" format=\"ascii\">\n"
              "          0 1 0\n"
              "          0 0 0\n"
              "          0.10000000000000001 0 -2.5\n"
              "        </DataArray>\n"
              "      </Points>\n"
              "      <Cells>\n"
              "        <DataArray type=\"Int64\" Name=\"connectivity\" format=\"ascii\">\n"
              "          1 2\n"
              "          1 2 0\n"
              "        </DataArray>\n"
              "        <DataArray type=\"Int64\" Name=\"offsets\" format=\"ascii\">\n"
              "          2 5\n"
              "        </DataArray>\n"
              "        <DataArray type=\"UInt8\" Name=\"types\" format=\"ascii\">\n"
              "          3 5\n"
              "        </DataArray>\n"
              "      </Cells>\n"
              "    </Piece>\n"
              "  </UnstructuredGrid>\n"
              "</VTKFile>\n");
}

// A TET10 with node ids 11..20 (corners 11..14, then edges 0-1, 1-2, 2-0, 0-3, 1-3, 2-3),
// and an area with the same element id, so that MSH has to number elements itself.
const char* kTetModel =
    "{\"nodes\": [{\"id\": 11, \"x\": 0, \"y\": 0, \"z\": 0}, {\"id\": 12, \"x\": 0, \"y\": 1, \"z\": 0},"
    " {\"id\": 13, \"x\": 1, \"y\": 0, \"z\": 0}, {\"id\": 14, \"x\": 0, \"y\": 0, \"z\": 1},"
    " {\"id\": 15, \"x\": 0, \"y\": 0.5, \"z\": 0}, {\"id\": 16, \"x\": 0.5, \"y\": 0.5, \"z\": 0},"
    " {\"id\": 17, \"x\": 0.5, \"y\": 0, \"z\": 0}, {\"id\": 18, \"x\": 0, \"y\": 0, \"z\": 0.5},"
    " {\"id\": 19, \"x\": 0, \"y\": 0.5, \"z\": 0.5}, {\"id\": 20, \"x\": 0.5, \"y\": 0, \"z\": 0.5}],"
    " \"elements\": [], \"areas\": [{\"id\": 1, \"kind\": \"QUAD\", \"nodes\": [11, 13, 12, 14],"
    " \"behavior\": \"membrane\", \"thickness\": 0, \"matId\": 0, \"secId\": 0, \"drilling\": false}],"
    " \"solids\": [{\"id\": 1, \"kind\": \"TET10\", \"nodes\": [11, 12, 13, 14, 15, 16, 17, 18, 19, 20], \"matId\": 6}]}";

TEST(Exporters, QuadraticTetrahedronInEachFormatsOrder) {
    LoadedModel m = load(kTetModel);
    std::string vtk = render(writeLegacyVtk, m);
    // VTK: corners 0, 2, 1, 3 (positive orientation), then edges 0-1, 1-2, 2-0, 0-3, 1-3,
    // 2-3 of those corners: our 2-0, 1-2, 0-1, 0-3, 2-3, 1-3 (ids 17, 16, 15, 18, 20, 19).
    EXPECT_NE(vtk.find("\n10 0 2 1 3 6 5 4 7 9 8\n"), std::string::npos) << vtk;
    std::string msh = render(writeMsh, m);
    // MSH: the same corners, edges 0-1, 1-2, 2-0, 0-3, 2-3, 1-3; numbered 1, 2 because the
    // area and the solid share id 1.
    EXPECT_NE(msh.find("\n1 3 2 0 0 11 13 12 14\n2 11 2 6 0 11 13 12 14 17 16 15 18 19 20\n"), std::string::npos)
        << msh;
}

TEST(Exporters, EmptyModelGivesEmptyGrids) {
    LoadedModel m = load("{\"nodes\": [], \"elements\": [], \"areas\": [], \"solids\": []}");
    EXPECT_EQ(render(writeLegacyVtk, m),
              "# vtk DataFile Version 4.2\nfinite-element model written by quilm_convert\nASCII\n"
              "DATASET UNSTRUCTURED_GRID\nPOINTS 0 double\nCELLS 0 0\nCELL_TYPES 0\n");
    EXPECT_EQ(render(writeMsh, m), "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n$Nodes\n0\n$EndNodes\n$Elements\n0\n$EndElements\n");
    EXPECT_NE(render(writeVtu, m).find("<Piece NumberOfPoints=\"0\" NumberOfCells=\"0\">"), std::string::npos);
}

}  // namespace
