#pragma once
// Reading an STL surface (ASCII or binary), welding its triangle corners into shared
// points, and testing whether the welded surface is closed and consistently oriented.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "geom/point.hpp"
#include "mesh3d/plc.hpp"

/// The most facets read from one STL text. A surface this large is far beyond what the
/// volume mesher can take; the bound keeps a hostile text from exhausting memory.
constexpr int64_t kMaxStlFacets = 500000;

/// Three corners in file order (normals and attribute bytes are not kept).
struct StlRawFacet {
    std::array<Point3, 3> corner;
};

struct StlSurface {
    bool ok = false;               ///< false when the text could not be read
    std::vector<Point3> points;    ///< welded points, in order of first appearance
    std::vector<Facet> triangles;  ///< file order and corner order; collapsed ones left out
    std::vector<int64_t> triangleNumbers;  ///< per kept triangle its one-based number in the file
    bool watertight = false;       ///< every edge used once in each direction
    std::string error;             ///< the reading error when ok is false
};

/// Binary when the text is at least 84 bytes long and exactly 84 + 50 N bytes, N being the
/// little-endian count in bytes 80 to 83; ASCII otherwise. Corners whose coordinates round
/// to the same multiple of `weldTolerance` on every axis become one point.
StlSurface readStl(const std::string& text, double weldTolerance);

/// readStl with another bound on the facet count than kMaxStlFacets: a text with more
/// facets fails with "STL file has more than <maxFacets> facets".
StlSurface readStl(const std::string& text, double weldTolerance, int64_t maxFacets);

/// The welding and closure test shared by both formats.
StlSurface weldAndCheck(const std::vector<StlRawFacet>& facets, double weldTolerance);

/// The weld cell of one coordinate: llround(value / tolerance), or 0 when the quotient is
/// not finite or lies outside the 64-bit range.
int64_t weldCell(double value, double tolerance);

/// Whether the whole text is a binary STL by its length.
bool isBinaryStl(const std::string& text);
