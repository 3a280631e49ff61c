#include "structured/disc.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int64_t kMaxId = std::numeric_limits<int32_t>::max();

Point3 cross(const Point3& a, const Point3& b) {
    return Point3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

double length(const Point3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

/// center + s*u + t*w, evaluated left to right per component.
Point3 planePoint(const Point3& center, double s, const Point3& u, double t, const Point3& w) {
    return Point3{center.x + s * u.x + t * w.x, center.y + s * u.y + t * w.y,
                  center.z + s * u.z + t * w.z};
}

/// Both axes of the plane through the origin perpendicular to the unit normal n.
void planeAxes(const Point3& n, Point3& u, Point3& w) {
    u = perpendicularAxis(n);
    w = cross(n, u);
}

/// Ids `first` .. first + count - 1 must stay within the 32-bit id range.
bool idsFit(uint32_t first, int64_t count) {
    return int64_t{first} + count - 1 <= kMaxId;
}

void appendNode(Model& model, int64_t id, const Point3& p) {
    model.nodes.push_back(Node{static_cast<int32_t>(id), p.x, p.y, p.z});
}

void appendQuad(Model& model, int64_t id, int64_t n0, int64_t n1, int64_t n2, int64_t n3,
                const StructuredAreaProps& props) {
    Area area;
    area.id = static_cast<int32_t>(id);
    area.nodes = {static_cast<int32_t>(n0), static_cast<int32_t>(n1), static_cast<int32_t>(n2),
                  static_cast<int32_t>(n3)};
    area.kind = "QUAD";
    area.behavior = "membrane";
    area.thickness = props.thickness;
    area.matId = static_cast<int32_t>(props.matId);
    area.secId = static_cast<int32_t>(props.secId);
    area.drilling = false;
    model.areas.push_back(std::move(area));
}

StructuredAreaMesh refuse(const char* message) {
    StructuredAreaMesh mesh;
    mesh.message = message;
    return mesh;
}

}  // namespace

bool normalize3(Point3& v) {
    double len = length(v);
    if (len < 1e-12) return false;
    Point3 scaled = v;
    if (std::isinf(len) && std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)) {
        // The squares overflowed: bring the largest component to 1 so the length is finite.
        const double big = std::max(std::max(std::fabs(v.x), std::fabs(v.y)), std::fabs(v.z));
        scaled = Point3{v.x / big, v.y / big, v.z / big};
        len = length(scaled);
    }
    v = Point3{scaled.x / len, scaled.y / len, scaled.z / len};
    return true;
}

Point3 perpendicularAxis(const Point3& n) {
    const Point3 e = std::fabs(n.x) < 0.9 ? Point3{1.0, 0.0, 0.0} : Point3{0.0, 1.0, 0.0};
    Point3 u = cross(n, e);
    normalize3(u);  // |n x e| >= sqrt(1 - 0.81) for a unit n, never near zero
    return u;
}

StructuredAreaMesh meshDisc(const Point3& center, const Point3& normal, double radius,
                            int32_t divisions, const StructuredAreaProps& props) {
    if (divisions < 1) return refuse("disc mesh needs divisions >= 1");
    if (!(radius > 0)) return refuse("disc mesh needs a positive radius");
    Point3 n = normal;
    if (!normalize3(n)) return refuse("disc mesh needs a non-zero normal");
    if (divisions > kMaxDiscDivisions) return refuse("disc mesh needs divisions <= 4000");
    const int64_t side = int64_t{divisions} + 1;
    if (!idsFit(props.firstNodeId, side * side) ||
        !idsFit(props.firstAreaId, int64_t{divisions} * divisions)) {
        return refuse("disc mesh ids would exceed 2147483647");
    }

    Point3 u, w;
    planeAxes(n, u, w);
    StructuredAreaMesh mesh;
    mesh.model.nodes.reserve(static_cast<size_t>(side * side));
    mesh.model.areas.reserve(static_cast<size_t>(int64_t{divisions} * divisions));

    const double d = divisions;
    const double R = radius;
    int64_t id = props.firstNodeId;
    for (int32_t r = 0; r <= divisions; ++r) {
        const double sy = 2.0 * r / d - 1.0;
        for (int32_t c = 0; c <= divisions; ++c) {
            const double sx = 2.0 * c / d - 1.0;
            // Elliptical grid mapping of the square [-1, 1]^2 onto the unit disc.
            const double a = R * sx * std::sqrt(std::max(1.0 - sy * sy / 2.0, 0.0));
            const double b = R * sy * std::sqrt(std::max(1.0 - sx * sx / 2.0, 0.0));
            appendNode(mesh.model, id++, planePoint(center, a, u, b, w));
        }
    }

    int64_t areaId = props.firstAreaId;
    for (int64_t r = 0; r < divisions; ++r) {
        for (int64_t c = 0; c < divisions; ++c) {
            const int64_t lo = int64_t{props.firstNodeId} + r * side + c;
            const int64_t hi = lo + side;
            appendQuad(mesh.model, areaId++, lo, lo + 1, hi + 1, hi, props);
        }
    }
    mesh.ok = true;
    return mesh;
}

StructuredAreaMesh meshAnnulus(const Point3& center, const Point3& normal, double rInner,
                               double rOuter, int32_t radial, int32_t around,
                               const StructuredAreaProps& props) {
    if (radial < 1 || around < 3) return refuse("annulus mesh needs radial >= 1 and around >= 3");
    if (rOuter <= rInner || rInner < 0) return refuse("annulus mesh needs 0 <= r_inner < r_outer");
    Point3 n = normal;
    if (!normalize3(n)) return refuse("annulus mesh needs a non-zero normal");
    const int64_t rings = int64_t{radial} + 1;
    // Compared by division so that the product cannot overflow.
    if (rings > kMaxAnnulusNodes / around) {
        return refuse("annulus mesh needs (radial + 1) * around <= 16000000");
    }
    if (!idsFit(props.firstNodeId, rings * around) ||
        !idsFit(props.firstAreaId, int64_t{radial} * around)) {
        return refuse("annulus mesh ids would exceed 2147483647");
    }

    Point3 u, w;
    planeAxes(n, u, w);
    StructuredAreaMesh mesh;
    mesh.model.nodes.reserve(static_cast<size_t>(rings * around));
    mesh.model.areas.reserve(static_cast<size_t>(int64_t{radial} * around));

    // The angles are the same on every ring.
    std::vector<double> cosines(static_cast<size_t>(around)), sines(static_cast<size_t>(around));
    for (int32_t j = 0; j < around; ++j) {
        const double theta = 2.0 * kPi * j / around;
        cosines[static_cast<size_t>(j)] = std::cos(theta);
        sines[static_cast<size_t>(j)] = std::sin(theta);
    }
    int64_t id = props.firstNodeId;
    for (int32_t k = 0; k <= radial; ++k) {
        const double rho = (rOuter - rInner) * k / radial + rInner;
        for (int32_t j = 0; j < around; ++j) {
            const size_t i = static_cast<size_t>(j);
            appendNode(mesh.model, id++, planePoint(center, rho * cosines[i], u, rho * sines[i], w));
        }
    }

    const int64_t first = props.firstNodeId;
    int64_t areaId = props.firstAreaId;
    for (int64_t k = 0; k < radial; ++k) {
        for (int64_t j = 0; j < around; ++j) {
            const int64_t jn = (j + 1) % around;
            appendQuad(mesh.model, areaId++, first + k * around + j, first + k * around + jn,
                       first + (k + 1) * around + jn, first + (k + 1) * around + j, props);
        }
    }
    mesh.ok = true;
    return mesh;
}
