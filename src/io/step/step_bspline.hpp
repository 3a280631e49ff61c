#pragma once
// Faces on (possibly rational) B-spline surfaces, and B-spline surfaces that no face uses.
// A surface is evaluated on a regular grid of its parameter domain; for a face, the face's
// boundary is mapped into parameter space and only the grid triangles whose parameter-space
// centroid lies inside it are kept. Evaluation is de Boor's algorithm on homogeneous control
// points, so rational and non-rational surfaces and curves share one code path.

#include <cstdint>
#include <vector>

#include "geom/point.hpp"
#include "io/step/step_analytic.hpp"
#include "io/step/step_faces.hpp"
#include "io/step/step_file.hpp"

/// The highest degree read; a higher one makes the surface or curve invalid. Real models
/// stay far below it, and it keeps one evaluation cheap.
constexpr int32_t kMaxBsplineDegree = 32;

/// The most control points of one surface or curve; a larger net makes it invalid. Real
/// surfaces stay far below it; it bounds what one entity can make the tessellator hold.
constexpr int64_t kMaxControlPoints = 1 << 20;

/// The longest expanded knot vector read; longer ones are refused before they are built.
constexpr int64_t kMaxExpandedKnots = 1 << 22;

/// The evaluation work one tessellator call may spend, in units of one homogeneous
/// interpolation step of de Boor's algorithm (some twenty seconds of evaluation; a model of
/// ten thousand bicubic faces needs far less). Faces met after it is spent are declined.
constexpr int64_t kMaxBsplineWork = 10000000000LL;

/// A homogeneous point (w x, w y, w z, w).
struct Point4 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double w = 0.0;
};

struct BsplineSurface {
    int32_t uDegree = 0;
    int32_t vDegree = 0;
    std::vector<std::vector<Point3>> controlPoints;  ///< rows (u) of columns (v)
    std::vector<int32_t> uMultiplicities;
    std::vector<int32_t> vMultiplicities;
    std::vector<double> uKnots;
    std::vector<double> vKnots;
    bool rational = false;
    std::vector<std::vector<double>> weights;  ///< the control grid's shape; used when rational
};

/// A B-spline curve; in a parameter plane its points are (u, v) in x and y.
struct BsplineCurve {
    int32_t degree = 0;
    std::vector<Point3> controlPoints;
    std::vector<int32_t> multiplicities;
    std::vector<double> knots;
    bool rational = false;
    std::vector<double> weights;
};

enum class BsplineRead { NotBspline, Invalid, Read };

/// A simple B_SPLINE_SURFACE_WITH_KNOTS, or a complex instance with B_SPLINE_SURFACE and
/// B_SPLINE_SURFACE_WITH_KNOTS parts (and optionally RATIONAL_B_SPLINE_SURFACE). Weights that
/// are not a grid of numbers of the control grid's shape leave the surface non-rational.
BsplineRead readBsplineSurface(const StepFile& file, const StepEntity& entity, BsplineSurface& out);

/// A simple B_SPLINE_CURVE_WITH_KNOTS, or a complex instance with B_SPLINE_CURVE and
/// B_SPLINE_CURVE_WITH_KNOTS parts (and optionally RATIONAL_B_SPLINE_CURVE). Control points
/// may have two coordinates (z is then 0), as curves in a parameter plane do.
BsplineRead readBsplineCurve(const StepFile& file, const StepEntity& entity, BsplineCurve& out);

/// Each knot repeated as often as its multiplicity (zero or less: not at all). Expansion
/// stops once the vector would pass `limit` entries, so the result then has limit + 1 entries.
std::vector<double> expandKnots(const std::vector<double>& knots, const std::vector<int32_t>& multiplicities,
                                int64_t limit = kMaxExpandedKnots);

/// The knot span of t: n - 1 when t >= U[n], p when t <= U[p], otherwise k in [p, n) with
/// U[k] <= t < U[k + 1] by bisection. Needs 1 <= p < n and U of at least n + p + 1 entries.
int64_t findKnotSpan(int32_t p, const std::vector<double>& knots, int64_t n, double t);

/// de Boor's algorithm on the n = points.size() homogeneous control points. Needs
/// 1 <= degree < n and n + degree + 1 knots.
Point4 deBoor(int32_t degree, const std::vector<double>& knots, const std::vector<Point4>& points, double t);

/// A surface made ready for evaluation: expanded knots and homogeneous control rows.
struct PreparedSurface {
    int32_t uDegree = 0;
    int32_t vDegree = 0;
    std::vector<double> u;  ///< expanded u knots
    std::vector<double> v;  ///< expanded v knots
    std::vector<std::vector<Point4>> rows;
    double uMin = 0.0, uMax = 0.0, vMin = 0.0, vMax = 0.0;
    int64_t evaluationCost = 0;  ///< work units of one surfacePoint
};

/// Refuses grids of fewer than two rows or columns, wrong expanded knot lengths, degrees not
/// below the control counts, empty or non-finite parameter domains, non-finite knots, and
/// (when rational) weights that are zero, negative or not finite.
bool prepareSurface(const BsplineSurface& surface, PreparedSurface& out);

/// The surface at (u, v): de Boor in v over the control rows, then in u over the row
/// results, then x, y, z divided by w (a zero w gives the origin). Only the rows that the u
/// span reaches are evaluated; the others cannot enter the result.
Point3 surfacePoint(const PreparedSurface& surface, double u, double v);

/// The evaluation work a caller may still spend, in the units of `evaluationCost`.
struct BsplineWork {
    int64_t remaining = kMaxBsplineWork;
    bool take(int64_t units) {
        if (units > remaining) return false;
        remaining -= units;
        return true;
    }
};

/// The (u, v) whose surface point is nearest to q by a coarse-to-fine search: six passes of a
/// 9 x 9 grid over a window that starts as the whole domain and shrinks to the best sample
/// plus or minus an eighth of its extent, clamped to the domain. No Newton step.
Point2 invertSurfacePoint(const PreparedSurface& surface, const Point3& q);

/// The face's bounds as loops in the surface's parameter space. LINE edges contribute their
/// inverted oriented start vertex, CIRCLE edges inverted points along the circle, and edges
/// on surface curves the points of their PCURVE (a LINE there as above, a B-spline curve in
/// the parameter plane sampled directly). Refuses any other edge; loops of fewer than three
/// points are dropped and at least one must remain. `work`, when given, is charged for every
/// evaluation and a refusal follows once it runs out.
bool faceParamLoops(const StepFile& file, const StepEntity& face, const PreparedSurface& surface, int32_t n,
                    std::vector<std::vector<Point2>>& loops, BsplineWork* work = nullptr);

/// Even-odd rule over all loops together, with a ray towards larger u.
bool pointInLoops(const std::vector<std::vector<Point2>>& loops, double u, double v);

/// Faces on B-spline surfaces, then B-spline surfaces that no ADVANCED_FACE uses (whole).
/// N = max(2, n). Faces on other surfaces are left alone; every B-spline face or free surface
/// that cannot be read or tessellated counts in `skipped`, and so does one that would pass the
/// per-face or per-call point budget (those of the analytic tessellators) or the work budget.
FaceExtraction<TessellatedFace> tessellateBsplineFaces(const StepFile& file, int32_t n,
                                                       int64_t pointBudget = kMaxExtractionPoints,
                                                       int64_t workBudget = kMaxBsplineWork);
