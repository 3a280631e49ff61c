#pragma once
// Floating-point expansion arithmetic and the exact-sign geometric predicates.
//
// Each predicate evaluates its determinant in plain double arithmetic first and
// returns that value when a static error bound certifies its sign; otherwise it
// evaluates the determinant exactly with expansions. Callers use only the sign.

#include <vector>

#include "geom/point.hpp"

/// An exact sum of non-overlapping doubles, in order of increasing magnitude.
/// The last component is the most significant. Both [] and [0.0] mean zero.
using Expansion = std::vector<double>;

/// The process-wide constants of the exact arithmetic; set once by exactInit().
struct ExactConstants {
    double epsilon = 0.0;       ///< 2^-53, the unit roundoff
    double splitter = 0.0;      ///< 2^27 + 1, for Dekker's split
    double ccwerrboundA = 0.0;  ///< orient2d filter
    double o3derrboundA = 0.0;  ///< orient3d filter
    double iccerrboundA = 0.0;  ///< incircle filter
    double isperrboundA = 0.0;  ///< insphere filter
    bool initialised = false;
};

/// Computes the constants on the first call; later calls return at once.
void exactInit();
/// The constants (exactInit() must have run).
const ExactConstants& exactConstants();

Expansion twoDiffExpansion(double a, double b);
Expansion expansionSum(const Expansion& e, const Expansion& f);
Expansion scaleExpansion(const Expansion& e, double b);
Expansion expansionProduct(const Expansion& e, const Expansion& f);
Expansion negateExpansion(const Expansion& e);
Expansion expansionDiff(const Expansion& e, const Expansion& f);
double expansionEstimate(const Expansion& e);

/// Exact determinant of the 3x3 matrix with rows r, s, t, each entry an expansion:
/// cofactor expansion along the first row, combined as (r0*m0 - r1*m1) + r2*m2.
Expansion det3Expansion(const Expansion& r0, const Expansion& r1, const Expansion& r2,
                        const Expansion& s0, const Expansion& s1, const Expansion& s2,
                        const Expansion& t0, const Expansion& t1, const Expansion& t2);

/// Positive when a, b, c are counter-clockwise, negative when clockwise, 0 when collinear.
double orient2d(const Point2& a, const Point2& b, const Point2& c);
/// For counter-clockwise a, b, c: positive when d is strictly inside their circumcircle,
/// negative when strictly outside, 0 when cocircular.
double incircle(const Point2& a, const Point2& b, const Point2& c, const Point2& d);
double orient2dExact(const Point2& a, const Point2& b, const Point2& c);
double incircleExact(const Point2& a, const Point2& b, const Point2& c, const Point2& d);

/// Determinant of the rows a-d, b-d, c-d: positive when d lies below the plane of
/// a, b, c (the side from which a, b, c appear clockwise), 0 when coplanar.
double orient3d(const Point3& a, const Point3& b, const Point3& c, const Point3& d);
/// Positive when e lies inside the sphere through a, b, c, d, provided orient3d(a, b, c, d) > 0.
double insphere(const Point3& a, const Point3& b, const Point3& c, const Point3& d, const Point3& e);
double orient3dExact(const Point3& a, const Point3& b, const Point3& c, const Point3& d);
double insphereExact(const Point3& a, const Point3& b, const Point3& c, const Point3& d, const Point3& e);
