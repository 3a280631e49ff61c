// Tests of the expansion arithmetic and the exact-sign predicates. Near-degenerate
// cases are checked against independent answers: 128-bit integer arithmetic on
// scaled coordinates, or the geometric answer known from the construction.

#include "geom/predicates.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <utility>

namespace {

using i128 = __int128;

int sgn(double v) { return (v > 0.0) - (v < 0.0); }
int sgn(i128 v) { return (v > 0) - (v < 0); }

// v * 2^shift as an integer; fails the test if that is not an exact integer.
i128 scaled(double v, int shift) {
    const double s = std::ldexp(v, shift);
    EXPECT_EQ(s, std::trunc(s));
    EXPECT_LT(std::fabs(s), 0x1p62);
    return static_cast<i128>(s);
}

int orient2dOracle(const Point2& a, const Point2& b, const Point2& c, int shift) {
    const i128 acx = scaled(a.x, shift) - scaled(c.x, shift), acy = scaled(a.y, shift) - scaled(c.y, shift);
    const i128 bcx = scaled(b.x, shift) - scaled(c.x, shift), bcy = scaled(b.y, shift) - scaled(c.y, shift);
    return sgn(acx * bcy - acy * bcx);
}

double naiveOrient2d(const Point2& a, const Point2& b, const Point2& c) {
    return (a.x - c.x) * (b.y - c.y) - (a.y - c.y) * (b.x - c.x);
}

// Plain double evaluations of the determinants, used only to show that a test
// configuration is beyond them.
double naiveOrient3d(const Point3& a, const Point3& b, const Point3& c, const Point3& d) {
    const double adx = a.x - d.x, ady = a.y - d.y, adz = a.z - d.z;
    const double bdx = b.x - d.x, bdy = b.y - d.y, bdz = b.z - d.z;
    const double cdx = c.x - d.x, cdy = c.y - d.y, cdz = c.z - d.z;
    return (cdx * ady - cdy * adx) * bdz + (bdx * cdy - cdx * bdy) * adz + (adx * bdy - bdx * ady) * cdz;
}

double naiveIncircle(const Point2& a, const Point2& b, const Point2& c, const Point2& d) {
    const double adx = a.x - d.x, ady = a.y - d.y, bdx = b.x - d.x, bdy = b.y - d.y;
    const double cdx = c.x - d.x, cdy = c.y - d.y;
    return (adx * adx + ady * ady) * (bdx * cdy - cdx * bdy) + (bdx * bdx + bdy * bdy) * (cdx * ady - adx * cdy) +
           (cdx * cdx + cdy * cdy) * (adx * bdy - bdx * ady);
}

// A coordinate in [6e5, 1e6) using all 53 bits: a multiple of 2^-33, its ulp there.
double millionScaleCoord(uint64_t& state) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return 600000.0 + static_cast<double>((state >> 24) % 400000) +
           std::ldexp(static_cast<double>((state >> 5) & ((uint64_t{1} << 33) - 1)), -33);
}

// An integer of up to 62 bits as an exact expansion.
Expansion integerExpansion(int64_t n) {
    const int64_t low = n % (int64_t{1} << 20);
    return twoDiffExpansion(static_cast<double>(n - low), -static_cast<double>(low));
}

i128 integerValue(const Expansion& e) {
    i128 sum = 0;
    for (double c : e) sum += static_cast<i128>(c);
    return sum;
}

// Non-zero components (or the lone [0.0]), each one's lowest set bit above the
// highest set bit of the one before it.
bool wellFormed(const Expansion& e) {
    if (e.size() == 1 && e[0] == 0.0) return true;
    for (std::size_t i = 0; i < e.size(); ++i) {
        if (e[i] == 0.0) return false;
        if (i == 0) continue;
        int exp = 0;
        const double m = std::frexp(std::fabs(e[i]), &exp);
        const auto mant = static_cast<uint64_t>(std::ldexp(m, 53));
        const int lowestBit = exp - 53 + __builtin_ctzll(mant);
        if (!(std::fabs(e[i - 1]) < std::ldexp(1.0, lowestBit))) return false;
    }
    return true;
}

}  // namespace

TEST(ExactConstants, MatchTableBitForBitAndSurviveRepeatedInit) {
    exactInit();
    const ExactConstants* first = &exactConstants();
    for (int i = 0; i < 100; ++i) exactInit();
    const ExactConstants& k = exactConstants();
    EXPECT_EQ(&k, first);
    EXPECT_TRUE(k.initialised);
    EXPECT_EQ(k.epsilon, 0x1p-53);
    EXPECT_EQ(k.epsilon, 1.1102230246251565e-16);
    EXPECT_EQ(k.splitter, 134217729.0);
    EXPECT_EQ(k.ccwerrboundA, 3.3306690738754716e-16);
    EXPECT_EQ(k.o3derrboundA, 7.771561172376103e-16);
    EXPECT_EQ(k.iccerrboundA, 1.1102230246251577e-15);
    EXPECT_EQ(k.isperrboundA, 1.7763568394002532e-15);
}

TEST(ExpansionArithmetic, TwoDiffAndZeroHandling) {
    EXPECT_TRUE(twoDiffExpansion(0.7, 0.7).empty());
    EXPECT_EQ(twoDiffExpansion(5.0, 3.0), Expansion{2.0});
    const Expansion e = twoDiffExpansion(1.0, 0x1p-60);
    EXPECT_EQ(e, (Expansion{-0x1p-60, 1.0}));
    EXPECT_EQ(negateExpansion(e), (Expansion{0x1p-60, -1.0}));

    EXPECT_TRUE(expansionSum({}, {}).empty());
    EXPECT_EQ(expansionSum(e, {}), e);
    EXPECT_EQ(expansionSum({}, e), e);
    EXPECT_TRUE(scaleExpansion(e, 0.0).empty());
    EXPECT_TRUE(scaleExpansion(e, -0.0).empty());
    EXPECT_TRUE(scaleExpansion({}, 3.0).empty());
    EXPECT_TRUE(expansionProduct(e, {}).empty());
    EXPECT_EQ(expansionEstimate({}), 0.0);

    const Expansion cancelled = expansionSum(e, negateExpansion(e));
    EXPECT_EQ(cancelled, Expansion{0.0});
    EXPECT_EQ(expansionEstimate(cancelled), 0.0);
    EXPECT_EQ(expansionDiff(e, e), Expansion{0.0});
    EXPECT_TRUE(std::isnan(expansionEstimate(scaleExpansion(Expansion{1.0}, NAN))));
}

TEST(ExpansionArithmetic, SumsAndProductsAreExactAndWellFormed) {
    uint64_t state = 0x9e3779b97f4a7c15ULL;
    auto next = [&state](int bits) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int64_t>(state) >> (64 - bits);  // signed, |v| <= 2^(bits-1)
    };
    for (int i = 0; i < 500; ++i) {
        const int64_t x = next(62), y = next(62 - i % 40), s = next(31);
        const Expansion ex = integerExpansion(x), ey = integerExpansion(y);
        const Expansion sum = expansionSum(ex, ey), diff = expansionDiff(ex, ey);
        const Expansion prod = expansionProduct(ex, ey), sc = scaleExpansion(ex, static_cast<double>(s));
        EXPECT_EQ(integerValue(ex), i128{x});
        EXPECT_EQ(integerValue(sum), i128{x} + y);
        EXPECT_EQ(integerValue(diff), i128{x} - y);
        EXPECT_EQ(integerValue(prod), i128{x} * y);
        EXPECT_EQ(integerValue(sc), i128{x} * s);
        for (const Expansion* r : {&sum, &diff, &prod, &sc}) {
            ASSERT_TRUE(wellFormed(*r)) << "case " << i;
            EXPECT_EQ(sgn(expansionEstimate(*r)), sgn(integerValue(*r)));
        }
    }
}

TEST(Orient2dPredicate, SignsSwapsAndDecimalCollinearity) {
    EXPECT_EQ(orient2d({0, 0}, {1, 0}, {0, 1}), 1.0);
    EXPECT_EQ(orient2d({1, 0}, {0, 0}, {0, 1}), -1.0);
    EXPECT_EQ(orient2d({0, 0}, {0, 0}, {0, 1}), 0.0);
    EXPECT_EQ(orient2d({0.1, 0.1}, {0.2, 0.2}, {0.3, 0.3}), 0.0);
    EXPECT_EQ(orient2d({0.1, 0.2}, {0.2, 0.4}, {0.3, 0.6}), 0.0);  // y = 2x holds exactly for these doubles
    // On y = x + 0.1 in decimal, but not as doubles.
    const Point2 a{0.1, 0.2}, b{0.2, 0.3}, c{0.3, 0.4};
    const int expected = orient2dOracle(a, b, c, 56);
    ASSERT_NE(expected, 0);
    EXPECT_EQ(sgn(orient2d(a, b, c)), expected);
    EXPECT_EQ(sgn(orient2d(b, a, c)), -expected);
}

TEST(Orient2dPredicate, UlpPerturbationsNearLine) {
    const double u = 0x1p-53;  // one ulp just above 0.5
    const Point2 b{12.0, 12.0}, c{24.0, 24.0};
    int naiveWrong = 0;
    for (int i = 0; i < 32; ++i) {
        for (int j = 0; j < 32; ++j) {
            const Point2 a{0.5 + i * u, 0.5 + j * u};
            const int expected = orient2dOracle(a, b, c, 53);
            const double got = orient2d(a, b, c);
            EXPECT_EQ(sgn(got), expected) << i << "," << j;
            EXPECT_EQ(sgn(orient2d(a, c, b)), -expected);
            if (sgn(naiveOrient2d(a, b, c)) != expected) {
                ++naiveWrong;
                EXPECT_EQ(got, orient2dExact(a, b, c));
            }
        }
    }
    EXPECT_GT(naiveWrong, 0);  // the configuration really defeats plain arithmetic
}

TEST(IncirclePredicate, InsideOutsideSwapsAndCocircular) {
    const Point2 a{1, 0}, b{0, 1}, c{-1, 0};
    EXPECT_GT(incircle(a, b, c, {0, 0}), 0.0);
    EXPECT_LT(incircle(a, b, c, {2, 0}), 0.0);
    EXPECT_LT(incircle(b, a, c, {0, 0}), 0.0);
    EXPECT_LT(incircle(a, c, b, {0, 0}), 0.0);
    EXPECT_LT(incircle(c, b, a, {0, 0}), 0.0);
    // Rectangle corners are cocircular, also with decimal coordinates.
    EXPECT_EQ(incircle({0.1, 0.2}, {0.3, 0.2}, {0.3, 0.7}, {0.1, 0.7}), 0.0);
    EXPECT_EQ(incircle({0.1, 0.7}, {0.3, 0.2}, {0.1, 0.2}, {0.3, 0.7}), 0.0);
    EXPECT_EQ(incircle({0, 0}, {4, 0}, {4, 3}, {0, 3}), 0.0);
}

TEST(IncirclePredicate, UlpPerturbedCornerAtMillionScale) {
    uint64_t state = 7;
    int naiveWrong = 0;
    for (int t = 0; t < 20; ++t) {
        // A rectangle with full-width corners, counter-clockwise from (x0, y0).
        double x0 = millionScaleCoord(state), x1 = millionScaleCoord(state);
        double y0 = millionScaleCoord(state), y1 = millionScaleCoord(state);
        if (x0 > x1) std::swap(x0, x1);
        if (y0 > y1) std::swap(y0, y1);
        const Point2 a{x0, y0}, b{x1, y0}, c{x1, y1};
        for (int k = -2; k <= 2; ++k) {
            // The fourth corner moved k ulps towards +x, that is towards the centre.
            const Point2 d{x0 + k * 0x1p-33, y1};
            const int expected = sgn(static_cast<double>(k));
            const double got = incircle(a, b, c, d);
            EXPECT_EQ(sgn(got), expected) << t << "," << k;
            EXPECT_EQ(sgn(incircle(b, a, c, d)), -expected);
            if (sgn(naiveIncircle(a, b, c, d)) != expected) {
                ++naiveWrong;
                EXPECT_EQ(got, incircleExact(a, b, c, d));
            }
        }
    }
    EXPECT_GT(naiveWrong, 0);
}

TEST(Orient3dPredicate, UnitCubeSwapsRepeatsAndCoplanar) {
    const Point3 a{0, 0, 0}, b{0, 0, 1}, c{1, 1, 1}, d{1, 0, 1};
    EXPECT_EQ(orient3d(a, b, c, d), 1.0);
    EXPECT_EQ(orient3d(b, a, c, d), -1.0);
    EXPECT_EQ(orient3d(a, c, b, d), -1.0);
    EXPECT_EQ(orient3d(c, b, a, d), -1.0);
    EXPECT_EQ(orient3d(a, b, a, d), 0.0);
    EXPECT_EQ(orient3d(a, b, c, b), 0.0);
    // Coplanar points give exactly zero.
    EXPECT_EQ(orient3d({0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}), 0.0);
    EXPECT_EQ(orient3d({3, 0, 0}, {0, 3, 0}, {0, 0, 3}, {1, 1, 1}), 0.0);
    EXPECT_EQ(orient3d({0.1, 0.2, 0.7}, {0.3, 0.2, 0.7}, {0.3, 0.9, 0.7}, {0.1, 0.9, 0.7}), 0.0);
    // 3 * 0.1 exceeds 0.3 as doubles, so this point lies just above x + y + z = 0.3.
    EXPECT_LT(orient3d({0.3, 0, 0}, {0, 0.3, 0}, {0, 0, 0.3}, {0.1, 0.1, 0.1}), 0.0);
}

TEST(Orient3dPredicate, UlpOffPlaneAtMillionScale) {
    uint64_t state = 12345;
    int naiveWrong = 0;
    for (int t = 0; t < 20; ++t) {
        // Four full-width points on the plane z = x; d is then moved k ulps along z.
        Point3 p[4];
        for (Point3& q : p) {
            q.x = millionScaleCoord(state);
            q.y = millionScaleCoord(state);
            q.z = q.x;
        }
        const i128 ux = scaled(p[1].x, 33) - scaled(p[0].x, 33), uy = scaled(p[1].y, 33) - scaled(p[0].y, 33);
        const i128 vx = scaled(p[2].x, 33) - scaled(p[0].x, 33), vy = scaled(p[2].y, 33) - scaled(p[0].y, 33);
        const int normalZ = sgn(ux * vy - uy * vx);  // of (b - a) x (c - a)
        ASSERT_NE(normalZ, 0);
        for (int k = -2; k <= 2; ++k) {
            const Point3 d{p[3].x, p[3].y, p[3].z + k * 0x1p-33};
            // Above the plane, seen from where a, b, c turn counter-clockwise, is negative.
            const int expected = -sgn(static_cast<double>(k)) * normalZ;
            const double got = orient3d(p[0], p[1], p[2], d);
            EXPECT_EQ(sgn(got), expected) << t << "," << k;
            EXPECT_EQ(sgn(orient3d(p[1], p[0], p[2], d)), -expected);
            if (sgn(naiveOrient3d(p[0], p[1], p[2], d)) != expected) {
                ++naiveWrong;
                EXPECT_EQ(got, orient3dExact(p[0], p[1], p[2], d));
            }
        }
    }
    EXPECT_GT(naiveWrong, 0);  // the configurations really defeat plain arithmetic
}

TEST(InspherePredicate, RegularTetrahedronCentre) {
    const Point3 a{1, 1, 1}, b{1, -1, -1}, c{-1, 1, -1}, d{-1, -1, 1}, centre{0, 0, 0};
    ASSERT_EQ(orient3d(a, b, c, d), 16.0);
    EXPECT_GT(insphere(a, b, c, d, centre), 0.0);
    EXPECT_LT(insphere(b, a, c, d, centre), 0.0);
    EXPECT_LT(insphere(a, b, c, d, {3, 0, 0}), 0.0);
    EXPECT_EQ(insphere(a, b, c, d, {-1, 1, 1}), 0.0);  // another cube corner: on the sphere
}

TEST(InspherePredicate, BoxCornersAreCospherical) {
    const double xs[2] = {0.1, 0.7}, ys[2] = {0.2, 1e6}, zs[2] = {-0.3, 1.0 / 3.0};
    Point3 corner[8];
    for (int i = 0; i < 8; ++i) corner[i] = {xs[i & 1], ys[(i >> 1) & 1], zs[i >> 2]};
    for (int mask = 0; mask < 256; ++mask) {  // every choice of five corners, in index order
        if (__builtin_popcount(mask) != 5) continue;
        Point3 p[5];
        for (int i = 0, n = 0; i < 8; ++i)
            if (mask & (1 << i)) p[n++] = corner[i];
        EXPECT_EQ(insphere(p[0], p[1], p[2], p[3], p[4]), 0.0) << "mask " << mask;
    }
}

TEST(InspherePredicate, UlpPerturbedCornerAtMillionScale) {
    const double lo = 600000.0, hi = 1000000.0;
    const Point3 a{hi, lo, lo}, b{lo, lo, lo}, c{lo, hi, lo}, d{lo, lo, hi};
    ASSERT_GT(orient3d(a, b, c, d), 0.0);
    for (int k = -3; k <= 3; ++k) {
        // The corner (hi, hi, hi) moved along +x goes away from the box centre.
        const Point3 e{hi - k * 0x1p-33, hi, hi};
        const double got = insphere(a, b, c, d, e);
        EXPECT_EQ(sgn(got), sgn(static_cast<double>(k))) << k;
        EXPECT_EQ(got, insphereExact(a, b, c, d, e));
        EXPECT_EQ(sgn(insphere(b, a, c, d, e)), -sgn(static_cast<double>(k)));
    }
}

TEST(InspherePredicate, ExactPathIsTheComposedExpansions) {
    // The exact in-sphere test reuses a few buffers for its many intermediate expansions.
    // Composed from the separate operations instead, each intermediate in a vector of its
    // own, the determinant must come out component for component the same: the value the
    // predicate returns is its most significant component. Points rounded onto a sphere, as
    // tessellations of curved faces are: about the origin, where the differences carry
    // rounding tails, and about a million, where they are exact.
    auto composed = [](const Point3& a, const Point3& b, const Point3& c, const Point3& d, const Point3& e) {
        const Point3* p[4] = {&a, &b, &c, &d};
        Expansion x[4], y[4], z[4], lift[4];
        for (int i = 0; i < 4; ++i) {
            x[i] = twoDiffExpansion(p[i]->x, e.x);
            y[i] = twoDiffExpansion(p[i]->y, e.y);
            z[i] = twoDiffExpansion(p[i]->z, e.z);
            lift[i] = expansionSum(expansionSum(expansionProduct(x[i], x[i]), expansionProduct(y[i], y[i])),
                                   expansionProduct(z[i], z[i]));
        }
        auto det3 = [&](int i, int j, int k) {
            const Expansion m0 = expansionDiff(expansionProduct(y[j], z[k]), expansionProduct(z[j], y[k]));
            const Expansion m1 = expansionDiff(expansionProduct(x[j], z[k]), expansionProduct(z[j], x[k]));
            const Expansion m2 = expansionDiff(expansionProduct(x[j], y[k]), expansionProduct(y[j], x[k]));
            const Expansion whole = expansionSum(expansionDiff(expansionProduct(x[i], m0), expansionProduct(y[i], m1)),
                                                 expansionProduct(z[i], m2));
            EXPECT_EQ(whole, det3Expansion(x[i], y[i], z[i], x[j], y[j], z[j], x[k], y[k], z[k]));
            return whole;
        };
        const Expansion abc = det3(0, 1, 2), bcd = det3(1, 2, 3), cda = det3(2, 3, 0), dab = det3(3, 0, 1);
        const Expansion left = expansionDiff(expansionProduct(lift[3], abc), expansionProduct(lift[2], dab));
        const Expansion right = expansionDiff(expansionProduct(lift[1], cda), expansionProduct(lift[0], bcd));
        return expansionEstimate(expansionSum(left, right));
    };
    auto onSphere = [](double theta, double phi, double scale, double shift) {
        const double x = std::cos(theta) * std::sin(phi), y = std::sin(theta) * std::sin(phi), z = std::cos(phi);
        const double len = std::sqrt(x * x + y * y + z * z);
        return Point3{shift + scale * (x / len), shift + scale * (y / len), shift + scale * (z / len)};
    };
    int degenerate = 0;
    for (int k = 0; k < 60; ++k) {
        const double shift = k % 2 == 0 ? 0.0 : 1e6;
        const double scale = k % 3 == 0 ? 1.0 : 0.37;
        Point3 p[5];
        for (int i = 0; i < 5; ++i) p[i] = onSphere(0.7 * i + 0.1 * k, 0.3 + 0.5 * i + 0.013 * k, scale, shift);
        if (orient3d(p[0], p[1], p[2], p[3]) < 0) std::swap(p[0], p[1]);
        const double exact = insphereExact(p[0], p[1], p[2], p[3], p[4]);
        EXPECT_EQ(exact, composed(p[0], p[1], p[2], p[3], p[4])) << k;
        if (insphere(p[0], p[1], p[2], p[3], p[4]) == exact) ++degenerate;
    }
    // About half are beyond the plain filter (31 of the 60): the exact path is what ran.
    EXPECT_GE(degenerate, 25);
}
