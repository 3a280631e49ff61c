#pragma once
// Charts of the surfaces a face can lie on: maps between the surface, its parameters and a
// plane in which the face is triangulated. The plane of a chart is an isometry of the
// surface for planes, cylinders and (unrolled) cones, conformal for spheres (stereographic)
// and tori, and for B-spline surfaces a monotone stretching of each parameter by the
// surface's speed along it; its scale is never below
// the surface's, so a length in the chart bounds the length on the surface.
//
// Parameters (a, b): plane (x, y) in the placement; cylinder (angle, height); cone (angle,
// distance from the apex along the generator); sphere (stereographic plane coordinates);
// torus (angle about the axis, angle about the tube); B-spline (u, v), or (angle of u, v)
// when the surface closes on itself in u. A B-spline surface closed in v only is read with
// its parameters swapped, so that it too closes in its first one. The angle parameters are
// periodic with period 2 pi and may be unwrapped beyond one turn.

#include <string>
#include <vector>

#include "geom/point.hpp"
#include "io/step/step_bspline.hpp"
#include "io/step/step_file.hpp"
#include "io/step/step_readers.hpp"

/// Intervals of the B-spline chart's coordinate tables.
constexpr int kBsplineChartSamples = 64;

enum class SurfaceKind { Plane, Cylinder, Cone, Sphere, Torus, Bspline };

struct SurfaceChart {
    SurfaceKind kind = SurfaceKind::Plane;
    Frame3 frame;
    double radius = 0.0;      ///< cylinder, sphere; torus major radius; cone radius at the origin
    double minor = 0.0;       ///< torus minor radius
    double sinAngle = 0.0;    ///< cone: sine and cosine of the semi-angle
    double cosAngle = 1.0;
    double psiCenter = 0.0;   ///< cone: the unrolled angle the face's sector is centred on
    Point3 apex;              ///< cone
    // Sphere: projection from -pole onto the tangent plane at pole, axes e1, e2.
    Point3 pole, e1, e2;
    // Torus: the conformal tube coordinate w(v) and its scale.
    double torusK = 0.0;      ///< sqrt((R - r) / (R + r))
    double torusC = 0.0;      ///< 2 r / sqrt(R^2 - r^2)
    double torusScale = 1.0;  ///< chart units per unit of (u, w)
    PreparedSurface bspline;
    double uScale = 1.0, vScale = 1.0;  ///< B-spline chart scales (largest speeds)
    /// B-spline chart coordinates at kBsplineChartSamples + 1 evenly spaced u (and v)
    /// values: the running integral of the largest speed across the other parameter, so
    /// the chart follows a non-uniform parametrisation; linear in between.
    std::vector<double> uTable, vTable;
    bool periodicA = false;   ///< the first parameter is an angle
    /// A B-spline surface closed in u: its first chart parameter is the angle
    /// 2 pi (u - uMin) / (uMax - uMin), periodic like a cylinder's.
    bool closedU = false;
    /// A B-spline surface closed in v only, read transposed: the chart's u is the file's v
    /// and the other way round (the orientation is -1 for it).
    bool swappedUV = false;
    /// A face of a closed B-spline surface that ends at a pole (a row of control points
    /// collapsed to one point): the plane is polar about the pole, the radius a conformal
    /// distance from it (rhoTable over the distance in v from the pole's end), the angle the
    /// u table's share of a turn times poleFactor (below one the face is unrolled into a
    /// sector, as a cone is). Set by setBsplinePole.
    bool polar = false;
    bool poleAtMax = false;   ///< the pole is the v = vMax row (else v = vMin)
    double poleFactor = 1.0;
    std::vector<double> rhoTable;
    bool periodicB = false;   ///< the second parameter is an angle (torus)
    /// +1 when counter-clockwise in the chart is counter-clockwise about the surface's own
    /// normal (outward for cylinders, cones, spheres and tori; u x v for B-splines), else -1.
    int orientation = 1;
};

/// Reads the surface of a face. `angleUnit` is the file's plane-angle unit in radians (for
/// the cone's semi-angle). False with a reason for an unsupported or unreadable surface.
bool readSurfaceChart(const StepFile& file, const StepValue& surfaceRef, double angleUnit, SurfaceChart& out,
                      std::string& why);

/// Parameters of a point on (or near) the surface; angles in (-pi, pi].
Point2 chartParameters(const SurfaceChart& chart, const Point3& p);

/// Parameters of a point on (or near) the surface, searched from `start`: for B-spline
/// surfaces Gauss-Newton steps on the distance from `start` (clamped to the domain, each
/// step kept only when it brings the surface point nearer); chartParameters otherwise.
Point2 chartParametersFrom(const SurfaceChart& chart, const Point3& p, const Point2& start);

/// The surface point of parameters (a, b).
Point3 chartSurfacePoint(const SurfaceChart& chart, const Point2& ab);

/// The chart plane point of parameters (a, b), and back.
Point2 chartPlanePoint(const SurfaceChart& chart, const Point2& ab);
Point2 chartParametersOfPlane(const SurfaceChart& chart, const Point2& q);

/// Makes a B-spline chart closed in u polar about its v = vMax (atMax) or v = vMin row,
/// which must be collapsed to one point. False with a reason when it is not, or when the
/// surface between cannot be charted so.
bool setBsplinePole(SurfaceChart& chart, bool atMax, std::string& why);

/// The pole of a polar B-spline chart.
Point3 bsplinePole(const SurfaceChart& chart);

/// The plane angle about the pole of parameters (a, b) of a polar B-spline chart.
double chartPolarAngle(const SurfaceChart& chart, const Point2& ab);

/// Sets a sphere chart's projection: from -pole onto the plane tangent at pole.
void setSpherePole(SurfaceChart& chart, const Point3& pole);
