#pragma once
// Exchange formats for viewers and other finite-element tools. Every element becomes the
// format's own cell with the format's node order; cells are listed line elements first,
// then areas, then solids, each in file order. The element id, material id, section id
// and thickness travel with each cell (a solid has no section id or thickness and a
// line element no thickness: they are written as 0). Reals are written with 17
// significant digits, so coordinates read back exactly.

#include "convert/model_reader.hpp"
#include "convert/text_sink.hpp"

/// VTK XML unstructured grid (.vtu), ASCII data arrays. Point data "nodeId"; cell data
/// "elementId", "matId", "secId", "thickness".
void writeVtu(const LoadedModel& m, TextSink& out);

/// Legacy VTK (.vtk), ASCII, the same grid and data as the .vtu.
void writeLegacyVtk(const LoadedModel& m, TextSink& out);

/// MSH 2.2 ASCII (.msh). Node numbers are the model's node ids; element numbers are the
/// model's element ids (or 1, 2, ... in the order above when ids repeat across the
/// families); each element has two tags, the material id as physical tag and the section
/// id as elementary tag. The thickness is not carried: element data sections would make
/// models with more than one cell kind unreadable to common MSH readers.
void writeMsh(const LoadedModel& m, TextSink& out);
