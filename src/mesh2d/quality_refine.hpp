#pragma once
// Quality triangulation of a planar region with holes by Delaunay refinement: encroached
// boundary segments are split at their midpoints and circumcentres of bad triangles are
// inserted, one point at a time, re-triangulating all points after every insertion, until
// every triangle inside the region meets the angle, area and size bounds.

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
};

/// Refines the conforming Delaunay triangulation of the domain. Fails with a message when
/// an input corner is sharper than the minimum angle, and without one when the outer loop
/// has fewer than 3 points or the Steiner budget is exceeded.
RefinedMesh refineRuppert(const PlanarDomain& domain, const RefineOptions& options);

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
