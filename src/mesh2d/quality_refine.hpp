#pragma once
// Quality triangulation of a planar region with holes by Delaunay refinement: encroached
// boundary segments are split at their midpoints and circumcentres of bad triangles are
// inserted, one point at a time, until every triangle inside the region meets the angle,
// area and size bounds.
//
// Each step sees the Delaunay triangulation of all points so far and takes the first
// encroached segment, else the first bad triangle, in list order. The refinement keeps that
// state between steps instead of recomputing it, with the very same answers:
// - the triangulation grows by one insertion per step (tri_engine.hpp);
// - segment positions never move (a split keeps (a, k) in place and appends (k, b)), so the
//   first encroached segment is the smallest position in a min-heap of encroached
//   segments. A segment's state changes only when it is split or a point is added;
//   encroaching points and encroached segments are found through a uniform grid whose
//   cells hold the points and the boxes of the diametral circles, widened by margins that
//   bound the rounding of the encroachment test;
// - a triangle's verdict depends on its corners only, and each insertion creates
//   triangles numbered above all others, so the bad in-domain triangles found as they are
//   created form a sorted queue whose first live entry is the first bad triangle;
// - the domain test runs on the banded loop index (domain_index.hpp).
// Outside the coordinate range the margins cover (exactSafeCoordinate), the refinement
// answers the encroachment questions by scanning every segment and point, and counts it.

#include <cstdint>
#include <string>
#include <vector>

#include "geom/point.hpp"
#include "mesh2d/area_mesher.hpp"
#include "mesh2d/triangulation.hpp"
#include "model/model.hpp"

/// A local size wish: size + growth * distance from (x, y), in plane coordinates.
struct SizeSource {
    double x = 0.0;
    double y = 0.0;
    double size = 0.0;
    double growth = 0.0;
};

/// The edge length wanted at a point: min(baseSize, min over sources).
struct SizingField {
    double baseSize = 0.0;
    std::vector<SizeSource> sources;
};

struct RefineOptions {
    double minAngleDeg = 20.0;
    int32_t maxSteinerPoints = 20000;  ///< insertions allowed before giving up
    double maxArea = 0.0;              ///< 0: no area bound
    const SizingField* sizing = nullptr;  ///< no size bound when null; owned by the caller
};

struct RefinedMesh {
    bool ok = false;
    std::string message;             ///< the corner message, or empty
    std::vector<Point2> points;      ///< domain order, then Steiner points in insertion order
    std::vector<Triangle> triangles; ///< the triangles inside the region
    int32_t steinerCount = 0;        ///< insertions made
    int64_t fallbacks = 0;           ///< steps and insertions made by scanning
};

/// Outside the range of exact arithmetic (a point with a coordinate of magnitude below
/// 2^-200 but not zero) every refinement step scans the segments against the points, and
/// the engine inserts by scanning. A run there may scan at most this many point-segment
/// pairs in all (some 20 ms): refinement that chases a loop vertex lying on
/// another loop's segment, or loops overlapping along a line, towards zero would otherwise
/// take hours before its Steiner budget ran out.
constexpr int64_t kMaxPlanarScanWork = int64_t{1} << 22;

/// The message of a refinement stopped at kMaxPlanarScanWork.
std::string planarScanWorkMessage();

/// Refines the conforming Delaunay triangulation of the domain. Fails with a message when
/// an input corner is sharper than the minimum angle, and without one when the outer loop
/// has fewer than 3 points, the Steiner budget is exceeded or a circumcentre repeats a
/// point. A run that would grow beyond kMaxPlanarPoints points while its budget lasts
/// fails with planarPointLimitMessage().
RefinedMesh refineRuppert(const PlanarDomain& domain, const RefineOptions& options);

/// The corner check of refineRuppert: true, with the corner message, when an input corner
/// is sharper than the minimum angle.
bool inputCornerTooSharp(const PlanarDomain& domain, const RefineOptions& options, std::string& message);

/// What the meshers run: refineRuppert, except that a domain whose loops cross fails
/// (ok false, no message) as soon as the corner check has passed, where refinement would
/// chase the crossing point until its budget ran out.
RefinedMesh refineDomain(const PlanarDomain& domain, const RefineOptions& options);

/// refineRuppert with another point limit.
RefinedMesh refineRuppertWithinPoints(const PlanarDomain& domain, const RefineOptions& options, int64_t pointLimit);

std::string planarPointLimitMessage(int64_t limit);

/// The quality mesher: the pipeline of meshPolygonArea with refineRuppert as triangulator.
AreaMesh meshQualityArea(const std::vector<Point3>& boundary, const std::vector<std::vector<Point3>>& holes,
                         const std::vector<Point3>& interior, const RefineOptions& options,
                         const AreaProps& props);

/// The smallest angle in degrees (0 to 180) between the two edges at any vertex of the
/// loop, and that vertex's index; vertices with an edge shorter than 1e-12 are skipped.
/// 360 with index 0 when no vertex counts.
double minCornerAngle(const std::vector<Point2>& loop, int64_t& index);

/// Appends the midpoint of segment s; s keeps its first end and the midpoint, and a new
/// segment from the midpoint to s's second end goes to the end of the list.
void splitSegment(std::vector<Point2>& points, std::vector<Segment>& segments, size_t s);

/// The centre of the circle through a, b, c; false when the determinant is exactly zero
/// or the centre is not representable.
bool circumcenter(const Point2& a, const Point2& b, const Point2& c, Point2& out);

double sizeAt(const SizingField& field, const Point2& p);

/// "%f" cut (not rounded) to two decimals: 19.999999 gives "19.99".
std::string formatAngle(double value);
