#pragma once
// The element kinds of the model file and how each maps onto the cells of the exchange
// formats: cell type codes and node orders, and the boundary faces of the solid kinds.

#include <string>

enum class KindFamily { Line, Area, Solid };

/// One element kind. Node orders are given as "slot k of the format takes our node
/// order[k]", where our node positions are those of the model file's node list.
struct CellKind {
    const char* name;       ///< the model file's kind ("CST", ...); "LINE" for line elements
    KindFamily family;
    int nodeCount;          ///< nodes in the model file's list
    int cornerCount;        ///< corners first, mid-side nodes after them
    bool quadratic;
    int vtkType;            ///< VTK cell type number
    int mshType;            ///< MSH 2.2 element type number
    const int* vtkOrder;    ///< nodeCount entries
    const int* mshOrder;    ///< nodeCount entries
};

/// The kind of a line element (the "elements" array has no kind field).
const CellKind& lineKind();

/// The area or solid kind named `name` (byte for byte), or nullptr.
const CellKind* findAreaKind(const std::string& name);
const CellKind* findSolidKind(const std::string& name);

/// Kinds in the fixed order reports list them: LINE, CST, QUAD, TRI6, QUAD8, TET4, HEX8,
/// TET10, HEX20.
constexpr int kKindCount = 9;
const CellKind& kindAt(int index);
int kindIndex(const CellKind& kind);

/// A boundary loop of an element: node positions walked around a face (an area's own
/// outline, or one face of a solid). Quadratic loops alternate corner, mid-side node,
/// corner, ... so that even positions are corners.
struct FaceLoop {
    int count;          ///< positions used in `nodes`
    int nodes[8];
};

/// The outline of an area kind (one loop) or the faces of a solid kind.
int faceCount(const CellKind& kind);
const FaceLoop& faceAt(const CellKind& kind, int face);
