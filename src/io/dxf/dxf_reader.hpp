#pragma once
// Reading an ASCII DXF drawing (alternating group-code and value lines) into one outer
// boundary loop and its hole loops. LWPOLYLINE, CIRCLE, LINE and ARC entities count
// wherever they stand in the file; circles, arcs and polyline bulges become straight
// edges within a sagitta tolerance, and loose LINE/ARC pieces are chained end to end.
// The loop of largest area in x and y is the outer boundary, every other loop a hole.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "geom/point.hpp"

/// The most points (loop vertices, arc and circle points, line ends) one drawing may
/// produce. A tiny arc tolerance on a large radius asks for arbitrarily many points;
/// drawings that would exceed this are refused before the points are allocated. The
/// triangulation's work grows with the square of the number of points along one circle
/// (each new point lies on the circumcircle of every triangle before it), so the bound
/// also keeps the meshing of a drawing at the bound to seconds: a single circle of 100,000
/// points takes about 3 s, one of a million would take minutes.
constexpr int64_t kMaxDxfPoints = 100000;

/// Drawings whose arcs would need more points than kMaxDxfPoints fail with this text.
extern const char* const kDxfTooManyPointsMessage;

struct DxfImportOptions {
    double arcTolerance = 0.01;  ///< largest sagitta of an arc's chords; <= 0 selects the coarsest
    double joinTolerance = 1e-6; ///< distance within which piece ends are the same point
};

/// One group of the file.
struct DxfPair {
    int32_t code = 0;  ///< the group code
    std::string value; ///< the value line, trimmed of spaces, tabs, CR and LF at both ends
};

/// A LINE or ARC piece awaiting chaining.
struct DxfSegment {
    Point3 start;
    Point3 end;
    std::vector<Point3> interior; ///< points strictly between start and end, in order; empty for a LINE
};

/// An open loop: the edge from the last point back to the first is implied.
using DxfLoop = std::vector<Point3>;

/// The result of reading a drawing. On failure `outer` and `holes` are empty.
struct DxfBoundary {
    bool ok = false;
    DxfLoop outer;
    std::vector<DxfLoop> holes; ///< every loop but the outer one, in the order they were found
    std::string error;          ///< empty on success; no prefix
};

/// Points still allowed to the drawing being read; `exceeded` is set by the first request
/// that does not fit, and nothing is generated for it.
struct DxfPointBudget {
    int64_t remaining = kMaxDxfPoints;
    bool exceeded = false;
};

/// Reads the whole drawing. The only entry used by the operation handler.
DxfBoundary readDxfBoundary(const std::string& text, const DxfImportOptions& options);

/// Strips spaces, tabs, carriage returns and line feeds from both ends.
std::string trimDxfText(const std::string& text);

/// Splits the text into group-code/value pairs. On failure returns false with `error` set
/// and `pairs` cleared.
bool readDxfPairs(const std::string& text, std::vector<DxfPair>& pairs, std::string& error);

/// Entity readers: each starts at `cursor` (the pair after the entity's 0 group) and leaves
/// it on the next pair with code 0, or at the end. Generated points are charged to `budget`.
DxfLoop readLwPolyline(const std::vector<DxfPair>& pairs, size_t& cursor, const DxfImportOptions& options,
                       DxfPointBudget& budget);
DxfLoop readCircle(const std::vector<DxfPair>& pairs, size_t& cursor, const DxfImportOptions& options,
                   DxfPointBudget& budget);
DxfSegment readLine(const std::vector<DxfPair>& pairs, size_t& cursor, DxfPointBudget& budget);
/// False when the arc is unusable (radius not positive, or angles that give no sweep).
bool readArc(const std::vector<DxfPair>& pairs, size_t& cursor, const DxfImportOptions& options,
             DxfPointBudget& budget, DxfSegment& segment);

/// The angle subtended by one chord of an arc of radius r whose sagitta stays within t.
double arcStepAngle(double radius, double tolerance);

/// The points strictly inside the bulge arc from p1 to p2 (b: tangent of a quarter of the
/// included angle, positive counter-clockwise), at height z.
std::vector<Point3> bulgeArcPoints(const Point3& p1, const Point3& p2, double bulge, double z, double tolerance,
                                   DxfPointBudget& budget);

/// Joins the segments end to end into closed loops; chains that do not close are dropped
/// together with their segments. Loops come in the order of the segments that start them.
std::vector<DxfLoop> chainSegments(const std::vector<DxfSegment>& segments, double joinTolerance);

/// Shoelace area of the loop in x and y (positive counter-clockwise).
double signedAreaXY(const DxfLoop& loop);
