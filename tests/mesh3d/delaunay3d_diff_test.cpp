// The engine against the reference insertion that tests every cell for every point:
// same cells, same order, no fallback.

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "mesh3d/delaunay3d.hpp"
#include "mesh3d/reference/literal_delaunay3d.hpp"
#include "mesh3d/tet_checks.hpp"

namespace {

struct Rng {
    uint64_t state;
    double next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    }
    int below(int n) { return static_cast<int>(next() * n); }
};

/// Point sets of several kinds, chosen by the seed: scattered, on a grid (cospherical and
/// coplanar groups everywhere), on a sphere, with repeats, and far from the origin.
std::vector<Point3> pointSet(uint64_t seed, int count) {
    Rng r{seed * 2654435761ULL + 17};
    std::vector<Point3> p;
    const int kind = static_cast<int>(seed % 5);
    for (int i = 0; i < count; ++i) {
        if (kind == 0) {
            p.push_back({r.next(), r.next(), r.next()});
        } else if (kind == 1) {
            p.push_back({static_cast<double>(r.below(4)), static_cast<double>(r.below(4)),
                         static_cast<double>(r.below(3))});
        } else if (kind == 2) {
            // Rational points on the unit sphere: many exactly cospherical.
            const double a = r.below(7) - 3, b = r.below(7) - 3;
            const double d = 1 + a * a + b * b;
            p.push_back({2 * a / d, 2 * b / d, (a * a + b * b - 1) / d});
        } else if (kind == 3) {
            if (i > 3 && r.next() < 0.3) {
                p.push_back(p[r.below(i)]);
            } else {
                p.push_back({r.next() * 4, r.next(), r.next() * 0.5});
            }
        } else {
            p.push_back({1e6 + r.below(5) * 0.25, -3e5 + r.next(), 7e4 + r.below(3) * 0.5});
        }
    }
    return p;
}

void expectSame(const std::vector<TetCell>& fast, const std::vector<TetCell>& literal, uint64_t seed) {
    ASSERT_EQ(fast.size(), literal.size()) << "seed " << seed;
    for (size_t i = 0; i < fast.size(); ++i) {
        ASSERT_EQ(fast[i].v, literal[i].v) << "seed " << seed << " cell " << i;
    }
}

TEST(DelaunayDifferential, FromScratchMatchesTheReference) {
    int64_t fallbacks = 0;
    for (uint64_t seed = 0; seed < 150; ++seed) {
        const std::vector<Point3> p = pointSet(seed, 4 + static_cast<int>(seed % 37));
        const std::vector<TetCell> fast = delaunayTetrahedralize(p, fallbacks);
        expectSame(fast, reference::literalDelaunayTetrahedralize(p), seed);
    }
    EXPECT_EQ(fallbacks, 0);
}

TEST(DelaunayDifferential, AppendingMatchesEveryPrefix) {
    // Points appended one at a time, some widening the box (the engine starts again) and
    // some repeated: after each, the engine holds the tetrahedralization of the prefix.
    for (uint64_t seed = 0; seed < 25; ++seed) {
        std::vector<Point3> p = pointSet(seed, 6);
        TetEngine engine;
        tetEngineBuild(engine, p);
        Rng r{seed + 99};
        for (int step = 0; step < 30; ++step) {
            const double spread = step % 9 == 8 ? 3.0 : 1.0;
            if (r.next() < 0.15) {
                p.push_back(p[r.below(static_cast<int>(p.size()))]);
            } else {
                p.push_back({r.next() * spread, r.next() * spread, r.next()});
            }
            tetEngineAppend(engine, p, -1);
            const std::vector<TetCell> literal = reference::literalDelaunayTetrahedralize(p);
            ASSERT_EQ(engine.degenerate, literal.empty() && engine.realCells == 0);
            expectSame(tetEngineCells(engine), literal, seed * 100 + step);
            if (tetEngineWantsCompaction(engine) || step % 10 == 5) {
                std::vector<int32_t> remap;
                tetEngineCompact(engine, remap);
            }
        }
        EXPECT_EQ(engine.fallbacks, 0) << seed;
    }
}

TEST(DelaunayDifferential, FallbackRebuildsFromTheScan) {
    // The scan's complete list, loaded into an engine, continues exactly like the engine.
    const std::vector<Point3> p = pointSet(7, 30);
    const std::vector<TetCell> all = tetrahedralizeByScan(p);
    size_t real = 0;
    for (const TetCell& t : all) {
        if (t.v[0] < 30 && t.v[1] < 30 && t.v[2] < 30 && t.v[3] < 30) ++real;
    }
    EXPECT_EQ(real, reference::literalDelaunayTetrahedralize(p).size());
    EXPECT_TRUE(tetrahedralizeByScan({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}}).empty());
}

TEST(DelaunayDifferential, BrokenLinksFallBackToTheScan) {
    // With every neighbour link cut, the walk toward a point outside the last cell leaves
    // through a face with nothing beyond: the engine counts a fallback and takes the cells
    // of the plain insertion, links and all, and goes on from there.
    std::vector<Point3> p = tetcheck::cube().points;
    p.push_back(Point3{0.5, 0.5, 0.5});
    TetEngine engine;
    tetEngineBuild(engine, p);
    ASSERT_EQ(engine.fallbacks, 0);
    for (auto& links : engine.next) links = {-1, -1, -1, -1};
    p.push_back(Point3{0.9, 0.1, 0.05});
    tetEngineAppend(engine, p, -1);
    EXPECT_EQ(engine.fallbacks, 1);
    EXPECT_TRUE(engine.rebuilt);
    expectSame(tetEngineCells(engine), reference::literalDelaunayTetrahedralize(p), 0);
    p.push_back(Point3{0.2, 0.7, 0.4});
    tetEngineAppend(engine, p, -1);
    EXPECT_EQ(engine.fallbacks, 1);
    expectSame(tetEngineCells(engine), reference::literalDelaunayTetrahedralize(p), 1);
}

}  // namespace
