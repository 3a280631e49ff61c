// Floating-point expansion arithmetic (Shewchuk's method) and the exact-sign
// orientation, in-circle and in-sphere predicates built on it.
//
// Every floating-point expression below is written in the grouping it must be
// evaluated in; the build disables contraction into fused multiply-add, and the
// error-free transformations depend on that.

#include "geom/predicates.hpp"

#include <cmath>
#include <cstddef>

namespace {

ExactConstants g_constants;

// ---------------------------------------------------------------------------
// Error-free transformations.

inline void twoSum(double a, double b, double& x, double& y) {
    x = a + b;
    const double bv = x - a;
    const double av = x - bv;
    y = (a - av) + (b - bv);
}

inline void fastTwoSum(double a, double b, double& x, double& y) {
    x = a + b;
    y = b - (x - a);
}

inline void twoDiff(double a, double b, double& x, double& y) {
    x = a - b;
    const double bv = a - x;
    const double av = x + bv;
    y = (a - av) + (bv - b);
}

// Dekker's split into a high half and a low half of at most 26 significant bits each.
inline void split(double a, double& hi, double& lo) {
    const double c = g_constants.splitter * a;
    const double abig = c - a;
    hi = c - abig;
    lo = a - hi;
}

// Exact product a*b = x + y, with b already split into (bhi, blo).
inline void twoProductPresplit(double a, double b, double bhi, double blo, double& x, double& y) {
    x = a * b;
    double ahi = 0.0;
    double alo = 0.0;
    split(a, ahi, alo);
    const double err1 = x - ahi * bhi;
    const double err2 = err1 - alo * bhi;
    const double err3 = err2 - ahi * blo;
    y = alo * blo - err3;
}

}  // namespace

// ---------------------------------------------------------------------------
// Constants.

void exactInit() {
    if (g_constants.initialised) {
        return;
    }
    bool everyOther = true;
    const double half = 0.5;
    double epsilon = 1.0;
    double splitter = 1.0;
    double check = 1.0;
    double lastcheck = 0.0;
    // Halve epsilon until 1 + epsilon rounds to 1 (or stops changing); the
    // splitter doubles on every other step, ending at 2^ceil(p/2).
    do {
        lastcheck = check;
        epsilon = epsilon * half;
        if (everyOther) {
            splitter = splitter * 2.0;
        }
        everyOther = !everyOther;
        check = 1.0 + epsilon;
    } while (check != 1.0 && check != lastcheck);
    splitter = splitter + 1.0;

    g_constants.epsilon = epsilon;
    g_constants.splitter = splitter;
    g_constants.ccwerrboundA = (3.0 + 16.0 * epsilon) * epsilon;
    g_constants.o3derrboundA = (7.0 + 56.0 * epsilon) * epsilon;
    g_constants.iccerrboundA = (10.0 + 96.0 * epsilon) * epsilon;
    g_constants.isperrboundA = (16.0 + 224.0 * epsilon) * epsilon;
    g_constants.initialised = true;
}

const ExactConstants& exactConstants() {
    return g_constants;
}

// ---------------------------------------------------------------------------
// Expansion arithmetic.

Expansion twoDiffExpansion(double a, double b) {
    double x = 0.0;
    double y = 0.0;
    twoDiff(a, b, x, y);
    Expansion h;
    h.reserve(2);
    if (y != 0.0) {
        h.push_back(y);
    }
    if (x != 0.0) {
        h.push_back(x);
    }
    return h;
}

namespace {

// The expansion operations write into caller-owned vectors, so that a predicate's many
// intermediate expansions reuse a few buffers instead of allocating each one. Each takes
// the same steps, in the same order, as the operation it stands for: the results are the
// same components.

// h = e + f, or e - f with `negate` (f's components negated as they are read).
void sumInto(const Expansion& e, const Expansion& f, bool negate, Expansion& h) {
    h.clear();
    if (e.empty()) {
        for (const double c : f) {
            h.push_back(negate ? -c : c);
        }
        return;
    }
    if (f.empty()) {
        h.assign(e.begin(), e.end());
        return;
    }
    const std::size_t elen = e.size();
    const std::size_t flen = f.size();
    h.reserve(elen + flen);
    auto fAt = [&](std::size_t i) { return negate ? -f[i] : f[i]; };

    std::size_t ei = 0;
    std::size_t fi = 0;
    // Take the component of smaller magnitude next; on equal magnitudes this
    // picks e's when f's is its negation and f's when they are equal.
    auto takeNext = [&]() -> double {
        const double enow = e[ei];
        const double fnow = fAt(fi);
        if ((fnow > enow) == (fnow > -enow)) {
            ++ei;
            return enow;
        }
        ++fi;
        return fnow;
    };

    double q = takeNext();
    double qnew = 0.0;
    double hh = 0.0;
    if (ei < elen && fi < flen) {
        const double g = takeNext();
        fastTwoSum(g, q, qnew, hh);
        q = qnew;
        if (hh != 0.0) {
            h.push_back(hh);
        }
        while (ei < elen && fi < flen) {
            const double g2 = takeNext();
            twoSum(q, g2, qnew, hh);
            q = qnew;
            if (hh != 0.0) {
                h.push_back(hh);
            }
        }
    }
    while (ei < elen) {
        twoSum(q, e[ei], qnew, hh);
        ++ei;
        q = qnew;
        if (hh != 0.0) {
            h.push_back(hh);
        }
    }
    while (fi < flen) {
        twoSum(q, fAt(fi), qnew, hh);
        ++fi;
        q = qnew;
        if (hh != 0.0) {
            h.push_back(hh);
        }
    }
    if (q != 0.0 || h.empty()) {
        h.push_back(q);
    }
}

// h = e * b.
void scaleInto(const Expansion& e, double b, Expansion& h) {
    h.clear();
    if (e.empty() || b == 0.0) {
        return;
    }
    exactInit();  // the split needs the splitter even when called on its own
    double bhi = 0.0;
    double blo = 0.0;
    split(b, bhi, blo);
    h.reserve(2 * e.size());

    double q = 0.0;
    double hh = 0.0;
    twoProductPresplit(e[0], b, bhi, blo, q, hh);
    if (hh != 0.0) {
        h.push_back(hh);
    }
    for (std::size_t i = 1; i < e.size(); ++i) {
        double p1 = 0.0;
        double p0 = 0.0;
        double s = 0.0;
        twoProductPresplit(e[i], b, bhi, blo, p1, p0);
        twoSum(q, p0, s, hh);
        if (hh != 0.0) {
            h.push_back(hh);
        }
        fastTwoSum(p1, s, q, hh);
        if (hh != 0.0) {
            h.push_back(hh);
        }
    }
    if (q != 0.0 || h.empty()) {
        h.push_back(q);
    }
}

/// Buffers for the products and sums of one predicate.
struct Scratch {
    Expansion part, next, left, right, m0, m1, m2, first;
};

// h = e * f: the sum, term by term, of e scaled by each component of f.
void productInto(const Expansion& e, const Expansion& f, Expansion& h, Scratch& s) {
    h.clear();
    for (const double fi : f) {
        scaleInto(e, fi, s.part);
        if (h.empty()) {
            h.assign(s.part.begin(), s.part.end());
        } else if (!s.part.empty()) {
            sumInto(h, s.part, false, s.next);
            h.swap(s.next);
        }
    }
}

// h = a * b - c * d.
void productsDiffInto(const Expansion& a, const Expansion& b, const Expansion& c, const Expansion& d, Expansion& h,
                      Scratch& s) {
    productInto(a, b, s.left, s);
    productInto(c, d, s.right, s);
    sumInto(s.left, s.right, true, h);
}

// out = the determinant of det3Expansion.
void det3Into(const Expansion& r0, const Expansion& r1, const Expansion& r2, const Expansion& s0,
              const Expansion& s1, const Expansion& s2, const Expansion& t0, const Expansion& t1,
              const Expansion& t2, Expansion& out, Scratch& s) {
    productsDiffInto(s1, t2, s2, t1, s.m0, s);
    productsDiffInto(s0, t2, s2, t0, s.m1, s);
    productsDiffInto(s0, t1, s1, t0, s.m2, s);
    productsDiffInto(r0, s.m0, r1, s.m1, s.first, s);
    productInto(r2, s.m2, s.left, s);
    sumInto(s.first, s.left, false, out);
}

}  // namespace

Expansion expansionSum(const Expansion& e, const Expansion& f) {
    Expansion h;
    sumInto(e, f, false, h);
    return h;
}

Expansion scaleExpansion(const Expansion& e, double b) {
    Expansion h;
    scaleInto(e, b, h);
    return h;
}

Expansion expansionProduct(const Expansion& e, const Expansion& f) {
    Scratch s;
    Expansion h;
    productInto(e, f, h, s);
    return h;
}

Expansion negateExpansion(const Expansion& e) {
    Expansion h;
    h.reserve(e.size());
    for (const double c : e) {
        h.push_back(-c);
    }
    return h;
}

Expansion expansionDiff(const Expansion& e, const Expansion& f) {
    Expansion h;
    sumInto(e, f, true, h);
    return h;
}

double expansionEstimate(const Expansion& e) {
    return e.empty() ? 0.0 : e.back();
}

Expansion det3Expansion(const Expansion& r0, const Expansion& r1, const Expansion& r2,
                        const Expansion& s0, const Expansion& s1, const Expansion& s2,
                        const Expansion& t0, const Expansion& t1, const Expansion& t2) {
    Scratch s;
    Expansion out;
    det3Into(r0, r1, r2, s0, s1, s2, t0, t1, t2, out, s);
    return out;
}

// ---------------------------------------------------------------------------
// Planar predicates.

double orient2d(const Point2& a, const Point2& b, const Point2& c) {
    exactInit();
    const double detleft = (a.x - c.x) * (b.y - c.y);
    const double detright = (a.y - c.y) * (b.x - c.x);
    const double det = detleft - detright;
    double detsum = 0.0;
    if (detleft > 0.0) {
        if (detright <= 0.0) {
            return det;
        }
        detsum = detleft + detright;
    } else if (detleft < 0.0) {
        if (detright >= 0.0) {
            return det;
        }
        detsum = -detleft - detright;
    } else {
        return det;
    }
    const double errbound = g_constants.ccwerrboundA * detsum;
    if (det >= errbound || -det >= errbound) {
        return det;
    }
    return orient2dExact(a, b, c);
}

double orient2dExact(const Point2& a, const Point2& b, const Point2& c) {
    exactInit();
    const Expansion acx = twoDiffExpansion(a.x, c.x);
    const Expansion acy = twoDiffExpansion(a.y, c.y);
    const Expansion bcx = twoDiffExpansion(b.x, c.x);
    const Expansion bcy = twoDiffExpansion(b.y, c.y);
    const Expansion det = expansionDiff(expansionProduct(acx, bcy), expansionProduct(acy, bcx));
    return expansionEstimate(det);
}

double incircle(const Point2& a, const Point2& b, const Point2& c, const Point2& d) {
    exactInit();
    const double adx = a.x - d.x;
    const double ady = a.y - d.y;
    const double bdx = b.x - d.x;
    const double bdy = b.y - d.y;
    const double cdx = c.x - d.x;
    const double cdy = c.y - d.y;

    const double bdxcdy = bdx * cdy;
    const double cdxbdy = cdx * bdy;
    const double alift = adx * adx + ady * ady;

    const double cdxady = cdx * ady;
    const double adxcdy = adx * cdy;
    const double blift = bdx * bdx + bdy * bdy;

    const double adxbdy = adx * bdy;
    const double bdxady = bdx * ady;
    const double clift = cdx * cdx + cdy * cdy;

    const double det = alift * (bdxcdy - cdxbdy) + blift * (cdxady - adxcdy) + clift * (adxbdy - bdxady);

    const double permanent = (std::fabs(bdxcdy) + std::fabs(cdxbdy)) * alift +
                             (std::fabs(cdxady) + std::fabs(adxcdy)) * blift +
                             (std::fabs(adxbdy) + std::fabs(bdxady)) * clift;
    const double errbound = g_constants.iccerrboundA * permanent;
    if (det > errbound || -det > errbound) {
        return det;
    }
    return incircleExact(a, b, c, d);
}

double incircleExact(const Point2& a, const Point2& b, const Point2& c, const Point2& d) {
    exactInit();
    const Expansion adx = twoDiffExpansion(a.x, d.x);
    const Expansion ady = twoDiffExpansion(a.y, d.y);
    const Expansion bdx = twoDiffExpansion(b.x, d.x);
    const Expansion bdy = twoDiffExpansion(b.y, d.y);
    const Expansion cdx = twoDiffExpansion(c.x, d.x);
    const Expansion cdy = twoDiffExpansion(c.y, d.y);

    const Expansion alift = expansionSum(expansionProduct(adx, adx), expansionProduct(ady, ady));
    const Expansion blift = expansionSum(expansionProduct(bdx, bdx), expansionProduct(bdy, bdy));
    const Expansion clift = expansionSum(expansionProduct(cdx, cdx), expansionProduct(cdy, cdy));

    const Expansion bc = expansionDiff(expansionProduct(bdx, cdy), expansionProduct(cdx, bdy));
    const Expansion ca = expansionDiff(expansionProduct(cdx, ady), expansionProduct(adx, cdy));
    const Expansion ab = expansionDiff(expansionProduct(adx, bdy), expansionProduct(bdx, ady));

    const Expansion det = expansionSum(
        expansionSum(expansionProduct(alift, bc), expansionProduct(blift, ca)),
        expansionProduct(clift, ab));
    return expansionEstimate(det);
}

// ---------------------------------------------------------------------------
// Spatial predicates.

double orient3d(const Point3& a, const Point3& b, const Point3& c, const Point3& d) {
    exactInit();
    const double adx = a.x - d.x;
    const double bdx = b.x - d.x;
    const double cdx = c.x - d.x;
    const double ady = a.y - d.y;
    const double bdy = b.y - d.y;
    const double cdy = c.y - d.y;
    const double adz = a.z - d.z;
    const double bdz = b.z - d.z;
    const double cdz = c.z - d.z;

    const double cdxady = cdx * ady;
    const double cdyadx = cdy * adx;
    const double bdxcdy = bdx * cdy;
    const double cdxbdy = cdx * bdy;
    const double adxbdy = adx * bdy;
    const double bdxady = bdx * ady;

    const double det = (cdxady - cdyadx) * bdz + (bdxcdy - cdxbdy) * adz + (adxbdy - bdxady) * cdz;

    const double permanent = (std::fabs(cdyadx) + std::fabs(cdxady)) * std::fabs(bdz) +
                             (std::fabs(cdxbdy) + std::fabs(bdxcdy)) * std::fabs(adz) +
                             (std::fabs(bdxady) + std::fabs(adxbdy)) * std::fabs(cdz);
    const double bound = g_constants.o3derrboundA * permanent;
    if (det > bound || -det > bound) {
        return det;
    }
    return orient3dExact(a, b, c, d);
}

double orient3dExact(const Point3& a, const Point3& b, const Point3& c, const Point3& d) {
    exactInit();
    const Expansion adx = twoDiffExpansion(a.x, d.x);
    const Expansion ady = twoDiffExpansion(a.y, d.y);
    const Expansion adz = twoDiffExpansion(a.z, d.z);
    const Expansion bdx = twoDiffExpansion(b.x, d.x);
    const Expansion bdy = twoDiffExpansion(b.y, d.y);
    const Expansion bdz = twoDiffExpansion(b.z, d.z);
    const Expansion cdx = twoDiffExpansion(c.x, d.x);
    const Expansion cdy = twoDiffExpansion(c.y, d.y);
    const Expansion cdz = twoDiffExpansion(c.z, d.z);
    return expansionEstimate(det3Expansion(adx, ady, adz, bdx, bdy, bdz, cdx, cdy, cdz));
}

double insphere(const Point3& a, const Point3& b, const Point3& c, const Point3& d, const Point3& e) {
    exactInit();
    const double aex = a.x - e.x;
    const double bex = b.x - e.x;
    const double cex = c.x - e.x;
    const double dex = d.x - e.x;
    const double aey = a.y - e.y;
    const double bey = b.y - e.y;
    const double cey = c.y - e.y;
    const double dey = d.y - e.y;
    const double aez = a.z - e.z;
    const double bez = b.z - e.z;
    const double cez = c.z - e.z;
    const double dez = d.z - e.z;

    const double aexbey = aex * bey;
    const double bexaey = bex * aey;
    const double ab = aexbey - bexaey;
    const double bexcey = bex * cey;
    const double cexbey = cex * bey;
    const double bc = bexcey - cexbey;
    const double cexdey = cex * dey;
    const double dexcey = dex * cey;
    const double cd = cexdey - dexcey;
    const double dexaey = dex * aey;
    const double aexdey = aex * dey;
    const double da = dexaey - aexdey;
    const double aexcey = aex * cey;
    const double cexaey = cex * aey;
    const double ac = aexcey - cexaey;
    const double bexdey = bex * dey;
    const double dexbey = dex * bey;
    const double bd = bexdey - dexbey;

    const double abc = aez * bc - bez * ac + cez * ab;
    const double bcd = bez * cd - cez * bd + dez * bc;
    const double cda = cez * da + dez * ac + aez * cd;
    const double dab = dez * ab + aez * bd + bez * da;

    const double alift = aex * aex + aey * aey + aez * aez;
    const double blift = bex * bex + bey * bey + bez * bez;
    const double clift = cex * cex + cey * cey + cez * cez;
    const double dlift = dex * dex + dey * dey + dez * dez;

    const double det = (dlift * abc - clift * dab) + (blift * cda - alift * bcd);

    const double aezabs = std::fabs(aez);
    const double bezabs = std::fabs(bez);
    const double cezabs = std::fabs(cez);
    const double dezabs = std::fabs(dez);
    const double permanent =
        ((std::fabs(cexdey) + std::fabs(dexcey)) * bezabs + (std::fabs(dexbey) + std::fabs(bexdey)) * cezabs +
         (std::fabs(bexcey) + std::fabs(cexbey)) * dezabs) * alift +
        ((std::fabs(dexaey) + std::fabs(aexdey)) * cezabs + (std::fabs(aexcey) + std::fabs(cexaey)) * dezabs +
         (std::fabs(cexdey) + std::fabs(dexcey)) * aezabs) * blift +
        ((std::fabs(aexbey) + std::fabs(bexaey)) * dezabs + (std::fabs(bexdey) + std::fabs(dexbey)) * aezabs +
         (std::fabs(dexaey) + std::fabs(aexdey)) * bezabs) * clift +
        ((std::fabs(bexcey) + std::fabs(cexbey)) * aezabs + (std::fabs(cexaey) + std::fabs(aexcey)) * bezabs +
         (std::fabs(aexbey) + std::fabs(bexaey)) * cezabs) * dlift;
    const double bound = g_constants.isperrboundA * permanent;
    if (det > bound || -det > bound) {
        return det;
    }
    return insphereExact(a, b, c, d, e);
}

double insphereExact(const Point3& a, const Point3& b, const Point3& c, const Point3& d, const Point3& e) {
    exactInit();
    const Expansion aex = twoDiffExpansion(a.x, e.x);
    const Expansion aey = twoDiffExpansion(a.y, e.y);
    const Expansion aez = twoDiffExpansion(a.z, e.z);
    const Expansion bex = twoDiffExpansion(b.x, e.x);
    const Expansion bey = twoDiffExpansion(b.y, e.y);
    const Expansion bez = twoDiffExpansion(b.z, e.z);
    const Expansion cex = twoDiffExpansion(c.x, e.x);
    const Expansion cey = twoDiffExpansion(c.y, e.y);
    const Expansion cez = twoDiffExpansion(c.z, e.z);
    const Expansion dex = twoDiffExpansion(d.x, e.x);
    const Expansion dey = twoDiffExpansion(d.y, e.y);
    const Expansion dez = twoDiffExpansion(d.z, e.z);

    Scratch s;
    Expansion xx, yy;
    auto lift = [&](const Expansion& x, const Expansion& y, const Expansion& z, Expansion& out) {
        productInto(x, x, xx, s);
        productInto(y, y, yy, s);
        sumInto(xx, yy, false, s.first);
        productInto(z, z, xx, s);
        sumInto(s.first, xx, false, out);
    };
    Expansion alift, blift, clift, dlift;
    lift(aex, aey, aez, alift);
    lift(bex, bey, bez, blift);
    lift(cex, cey, cez, clift);
    lift(dex, dey, dez, dlift);

    // The minor named xyz is the determinant with rows x-e, y-e, z-e.
    Expansion abc, bcd, cda, dab;
    det3Into(aex, aey, aez, bex, bey, bez, cex, cey, cez, abc, s);
    det3Into(bex, bey, bez, cex, cey, cez, dex, dey, dez, bcd, s);
    det3Into(cex, cey, cez, dex, dey, dez, aex, aey, aez, cda, s);
    det3Into(dex, dey, dez, aex, aey, aez, bex, bey, bez, dab, s);

    Expansion left, right;
    productsDiffInto(dlift, abc, clift, dab, left, s);
    productsDiffInto(blift, cda, alift, bcd, right, s);
    sumInto(left, right, false, xx);
    return expansionEstimate(xx);
}
