#include "convert/cell_kinds.hpp"

namespace {

// Our node orders (model file):
//   TRI6  corners, then mid-side nodes of edges 0-1, 1-2, 2-0
//   QUAD8 corners, then 0-1, 1-2, 2-3, 3-0
//   TET10 corners, then 0-1, 1-2, 2-0, 0-3, 1-3, 2-3
//   HEX20 corners (bottom 0-3 counterclockwise seen from above, top 4-7 above them), then
//         0-1, 1-2, 2-3, 3-0, 4-5, 5-6, 6-7, 7-4, 0-4, 1-5, 2-6, 3-7
//
// Tetrahedra: the meshers emit corners with a non-negative orient3d, so (t0, t1, t2) is
// counterclockwise seen from outside and t3 lies on the side opposite to the normal of
// (t0, t1, t2). VTK and MSH want t3 on the normal's side, so corners 1 and 2 change
// places and the mid-side nodes follow their edges.
//
// VTK quadratic orders equal ours edge for edge (triangle 0-1, 1-2, 2-0; quad 0-1, 1-2,
// 2-3, 3-0; tetra 0-1, 1-2, 2-0, 0-3, 1-3, 2-3; hexahedron bottom ring, top ring, then
// the vertical edges 0-4, 1-5, 2-6, 3-7).
// MSH tetra10 lists 0-1, 1-2, 2-0, 0-3, 2-3, 1-3; MSH hexahedron20 lists 0-1, 0-3, 0-4,
// 1-2, 1-5, 2-3, 2-6, 3-7, 4-5, 4-7, 5-6, 6-7.

const int kIdentity[20] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};

// Tetra corners 0, 2, 1, 3. VTK edge slots on those corners: (0,1) is our 2-0 -> 6,
// (1,2) our 2-1 -> 5, (2,0) our 1-0 -> 4, (0,3) -> 7, (1,3) our 2-3 -> 9, (2,3) our 1-3 -> 8.
const int kTetVtk[10] = {0, 2, 1, 3, 6, 5, 4, 7, 9, 8};
// MSH slots (0,1) -> 6, (1,2) -> 5, (2,0) -> 4, (0,3) -> 7, (2,3) our 1-3 -> 8, (1,3) our 2-3 -> 9.
const int kTetMsh[10] = {0, 2, 1, 3, 6, 5, 4, 7, 8, 9};

// MSH hexahedron20 slot 8.. : 0-1 -> 8, 0-3 -> 11, 0-4 -> 16, 1-2 -> 9, 1-5 -> 17,
// 2-3 -> 10, 2-6 -> 18, 3-7 -> 19, 4-5 -> 12, 4-7 -> 15, 5-6 -> 13, 6-7 -> 14.
const int kHex20Msh[20] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 11, 16, 9, 17, 10, 18, 19, 12, 15, 13, 14};

const CellKind kKinds[kKindCount] = {
    {"LINE", KindFamily::Line, 2, 2, false, 3, 1, kIdentity, kIdentity},
    {"CST", KindFamily::Area, 3, 3, false, 5, 2, kIdentity, kIdentity},
    {"QUAD", KindFamily::Area, 4, 4, false, 9, 3, kIdentity, kIdentity},
    {"TRI6", KindFamily::Area, 6, 3, true, 22, 9, kIdentity, kIdentity},
    {"QUAD8", KindFamily::Area, 8, 4, true, 23, 16, kIdentity, kIdentity},
    {"TET4", KindFamily::Solid, 4, 4, false, 10, 4, kTetVtk, kTetMsh},
    {"HEX8", KindFamily::Solid, 8, 8, false, 12, 5, kIdentity, kIdentity},
    {"TET10", KindFamily::Solid, 10, 4, true, 24, 11, kTetVtk, kTetMsh},
    {"HEX20", KindFamily::Solid, 20, 8, true, 25, 17, kIdentity, kHex20Msh},
};

const FaceLoop kLineLoop[1] = {{2, {0, 1}}};
const FaceLoop kTriLoop[1] = {{3, {0, 1, 2}}};
const FaceLoop kQuadLoop[1] = {{4, {0, 1, 2, 3}}};
const FaceLoop kTri6Loop[1] = {{6, {0, 3, 1, 4, 2, 5}}};
const FaceLoop kQuad8Loop[1] = {{8, {0, 4, 1, 5, 2, 6, 3, 7}}};
const FaceLoop kTetFaces[4] = {{3, {0, 1, 2}}, {3, {0, 1, 3}}, {3, {1, 2, 3}}, {3, {0, 2, 3}}};
const FaceLoop kHexFaces[6] = {{4, {0, 1, 2, 3}}, {4, {4, 5, 6, 7}}, {4, {0, 1, 5, 4}},
                               {4, {1, 2, 6, 5}}, {4, {2, 3, 7, 6}}, {4, {3, 0, 4, 7}}};
const FaceLoop kTet10Faces[4] = {{6, {0, 4, 1, 5, 2, 6}}, {6, {0, 4, 1, 8, 3, 7}},
                                 {6, {1, 5, 2, 9, 3, 8}}, {6, {0, 6, 2, 9, 3, 7}}};
const FaceLoop kHex20Faces[6] = {{8, {0, 8, 1, 9, 2, 10, 3, 11}},  {8, {4, 12, 5, 13, 6, 14, 7, 15}},
                                 {8, {0, 8, 1, 17, 5, 12, 4, 16}}, {8, {1, 9, 2, 18, 6, 13, 5, 17}},
                                 {8, {2, 10, 3, 19, 7, 14, 6, 18}}, {8, {3, 11, 0, 16, 4, 15, 7, 19}}};

struct FaceTable {
    int count;
    const FaceLoop* faces;
};

const FaceTable kFaceTables[kKindCount] = {
    {1, kLineLoop},  {1, kTriLoop},  {1, kQuadLoop},  {1, kTri6Loop},   {1, kQuad8Loop},
    {4, kTetFaces},  {6, kHexFaces}, {4, kTet10Faces}, {6, kHex20Faces},
};

const CellKind* findInFamily(const std::string& name, KindFamily family) {
    for (const CellKind& k : kKinds) {
        if (k.family == family && name == k.name) return &k;
    }
    return nullptr;
}

}  // namespace

const CellKind& lineKind() { return kKinds[0]; }

const CellKind* findAreaKind(const std::string& name) { return findInFamily(name, KindFamily::Area); }

const CellKind* findSolidKind(const std::string& name) { return findInFamily(name, KindFamily::Solid); }

const CellKind& kindAt(int index) { return kKinds[index]; }

int kindIndex(const CellKind& kind) { return static_cast<int>(&kind - kKinds); }

int faceCount(const CellKind& kind) { return kFaceTables[kindIndex(kind)].count; }

const FaceLoop& faceAt(const CellKind& kind, int face) { return kFaceTables[kindIndex(kind)].faces[face]; }
