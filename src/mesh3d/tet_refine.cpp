#include "mesh3d/tet_refine.hpp"

#include <cmath>

#include "mesh3d/vec3.hpp"

bool tetCircumcentre(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3, Point3& centre) {
    const TetSphere sphere = tetCircumsphere(p0, p1, p2, p3);
    if (sphere.ok) centre = sphere.centre;
    return sphere.ok;
}

TetQuality tetQuality(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3) {
    TetQuality q;
    q.volume = unsignedTetVolume(p0, p1, p2, p3);
    // The root of the least squared edge: the correctly rounded root is monotone, so that is
    // the least of the six edge lengths, for one root instead of six.
    const double edges2[6] = {norm2(sub3(p1, p0)), norm2(sub3(p2, p0)), norm2(sub3(p3, p0)),
                              norm2(sub3(p2, p1)), norm2(sub3(p3, p1)), norm2(sub3(p3, p2))};
    double least2 = edges2[0];
    for (const double e2 : edges2) {
        if (e2 < least2) least2 = e2;
    }
    const double shortest = std::sqrt(least2);
    if (shortest > 0) {
        const TetSphere sphere = tetCircumsphere(p0, p1, p2, p3);
        if (sphere.ok && sphere.radius > 0) q.radiusEdgeRatio = sphere.radius / shortest;
    }
    return q;
}

FacetSphere facetSphere(const Point3& a, const Point3& b, const Point3& c) {
    FacetSphere s;
    const double lab = norm2(sub3(b, a));
    const double lbc = norm2(sub3(c, b));
    const double lca = norm2(sub3(a, c));
    if (lbc >= lca + lab) {  // right or obtuse angle at a
        s.centre = midpoint3(b, c);
        s.radius2 = lbc / 4.0;
    } else if (lca >= lbc + lab) {
        s.centre = midpoint3(c, a);
        s.radius2 = lca / 4.0;
    } else if (lab >= lca + lbc) {
        s.centre = midpoint3(a, b);
        s.radius2 = lab / 4.0;
    } else {
        const Point3 u = sub3(b, a);
        const Point3 w = sub3(c, a);
        const Point3 n = cross3(u, w);
        const double den = 2.0 * norm2(n);
        if (den == 0.0) return s;
        const Point3 sum = add3(scale3(cross3(w, n), norm2(u)), scale3(cross3(n, u), norm2(w)));
        const Point3 offset{sum.x / den, sum.y / den, sum.z / den};
        s.centre = add3(a, offset);
        s.radius2 = norm2(offset);
    }
    s.ok = true;
    return s;
}

bool facetSphereContains(const Point3& p, const Point3& a, const Point3& b, const Point3& c) {
    return facetSphereHolds(facetSphere(a, b, c), p);
}

double ratioLimit(double radiusEdgeBound) { return (1.0 + 1e-9) * radiusEdgeBound; }
