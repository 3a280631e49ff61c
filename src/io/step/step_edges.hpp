#pragma once
// Model edges of a boundary representation as curves in space, and their discretization
// into points no farther apart than a size and within a chordal tolerance of the curve.
// An edge's curve is a LINE, CIRCLE, ELLIPSE or (rational) B-spline curve, possibly
// wrapped in a SURFACE_CURVE, SEAM_CURVE or INTERSECTION_CURVE.

#include <cstdint>
#include <string>
#include <vector>

#include "geom/point.hpp"
#include "io/step/step_bspline.hpp"
#include "io/step/step_file.hpp"
#include "io/step/step_readers.hpp"

enum class CurveKind { Line, Circle, Ellipse, Bspline };

/// A curve ready for evaluation. Lines run from `lineStart` to `lineEnd` over t in [0, 1];
/// circles and ellipses are parametrised by the angle in their frame; B-splines by their
/// own parameter over [tMin, tMax].
struct CurveGeometry {
    CurveKind kind = CurveKind::Line;
    Point3 lineStart;
    Point3 lineEnd;
    Frame3 frame;
    double radius1 = 0.0;  ///< circle radius, or the ellipse's semi-axis along x
    double radius2 = 0.0;  ///< the ellipse's semi-axis along y
    int32_t degree = 0;
    std::vector<double> knots;
    std::vector<Point4> points;
    double tMin = 0.0;
    double tMax = 0.0;
};

/// Reads the curve an EDGE_CURVE lies on. Lines take the edge's vertices as their ends.
/// False, with a reason in `why`, for any other curve or unreadable data.
bool readEdgeCurve(const StepFile& file, const StepValue& curveRef, const Point3& start, const Point3& end,
                   CurveGeometry& out, std::string& why);

Point3 curvePointAt(const CurveGeometry& curve, double t);

/// The parameter of the curve point nearest to p (angles in [0, 2pi) for circles and
/// ellipses; a search over the parameter range for B-splines).
double curveParameterOf(const CurveGeometry& curve, const Point3& p);

/// The parameters from t0 to t1 (both included) of a discretization whose chords are no
/// longer than `size` and deviate from the curve by at most `tolerance`; no chord spans
/// more than a third of a turn. Fails when more than `maxPoints` points would be needed.
bool discretizeCurve(const CurveGeometry& curve, double t0, double t1, double size, double tolerance,
                     int64_t maxPoints, std::vector<double>& params);
