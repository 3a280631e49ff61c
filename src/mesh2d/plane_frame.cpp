#include "mesh2d/plane_frame.hpp"

#include <cmath>

namespace {

double dot(const Point3& a, const Point3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Point3 cross(const Point3& a, const Point3& b) {
    return Point3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double length(const Point3& a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }

Point3 divided(const Point3& a, double d) { return Point3{a.x / d, a.y / d, a.z / d}; }

Point3 minus(const Point3& a, const Point3& b) { return Point3{a.x - b.x, a.y - b.y, a.z - b.z}; }

}  // namespace

bool fitPlaneFrame(const std::vector<Point3>& loop, PlaneFrame& frame) {
    const size_t n = loop.size();
    if (n < 3) return false;
    Point3 N{0.0, 0.0, 0.0};
    Point3 sum{0.0, 0.0, 0.0};
    for (size_t i = 0; i < n; ++i) {
        const Point3& p = loop[i];
        const Point3& q = loop[(i + 1) % n];
        N.x += (p.y - q.y) * (p.z + q.z);
        N.y += (p.z - q.z) * (p.x + q.x);
        N.z += (p.x - q.x) * (p.y + q.y);
        sum.x += p.x;
        sum.y += p.y;
        sum.z += p.z;
    }
    const double count = static_cast<double>(n);
    const Point3 origin{sum.x / count, sum.y / count, sum.z / count};

    const double nlen = length(N);
    if (nlen == 0 || !std::isfinite(nlen)) return false;
    const Point3 normal = divided(N, nlen);

    // The reference axis is the one of the normal's smallest component (ties to x, then y).
    const double ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
    Point3 axis{0.0, 0.0, 1.0};
    if (ay >= ax && az >= ax) {
        axis = Point3{1.0, 0.0, 0.0};
    } else if (az >= ay) {
        axis = Point3{0.0, 1.0, 0.0};
    }
    Point3 u = cross(axis, normal);
    const double ulen = length(u);
    if (ulen == 0 || !std::isfinite(ulen)) return false;
    u = divided(u, ulen);
    frame.origin = origin;
    frame.u = u;
    frame.v = cross(normal, u);
    frame.normal = normal;
    return true;
}

Point2 projectToFrame(const PlaneFrame& frame, const Point3& p) {
    const Point3 d = minus(p, frame.origin);
    return Point2{dot(frame.u, d), dot(frame.v, d)};
}

Point3 unprojectFromFrame(const PlaneFrame& frame, const Point2& q) {
    const PlaneFrame& f = frame;
    return Point3{f.origin.x + q.x * f.u.x + q.y * f.v.x, f.origin.y + q.x * f.u.y + q.y * f.v.y,
                  f.origin.z + q.x * f.u.z + q.y * f.v.z};
}

double planeDeviationOf(const PlaneFrame& frame, const std::vector<Point3>& points) {
    double deviation = 0.0;
    for (const Point3& p : points) {
        const double d = std::fabs(dot(frame.normal, minus(p, frame.origin)));
        if (d > deviation) deviation = d;
    }
    return deviation;
}

std::vector<Point2> projectLoop(const PlaneFrame& frame, const std::vector<Point3>& loop) {
    std::vector<Point2> out;
    out.reserve(loop.size());
    for (const Point3& p : loop) out.push_back(projectToFrame(frame, p));
    return out;
}
