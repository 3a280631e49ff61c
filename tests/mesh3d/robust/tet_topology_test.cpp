#include "mesh3d/robust/tet_topology.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

using robust::Cell;
using robust::TetTopology;

/// Every live cell positively oriented, every link mutual and across the same three
/// corners, every vertex's cell live and holding it.
void expectConsistent(const TetTopology& t) {
    for (int32_t s = 0; s < static_cast<int32_t>(t.cells.size()); ++s) {
        if (t.alive[s] == 0) continue;
        const Cell& c = t.cells[s];
        EXPECT_GT(orient3d(t.pts[c.v[0]], t.pts[c.v[1]], t.pts[c.v[2]], t.pts[c.v[3]]), 0) << "cell " << s;
        for (int k = 0; k < 4; ++k) {
            const int32_t across = c.n[k];
            if (across < 0) continue;
            ASSERT_NE(t.alive[across >> 2], 0) << "cell " << s << " links a dead cell";
            EXPECT_EQ(t.cells[across >> 2].n[across & 3], s * 4 + k);
            int32_t a, b, cc, x, y, z;
            robust::faceOf(t, s, k, a, b, cc);
            robust::faceOf(t, across >> 2, across & 3, x, y, z);
            EXPECT_EQ((std::set<int32_t>{a, b, cc}), (std::set<int32_t>{x, y, z}));
        }
    }
    for (int32_t v = 0; v < static_cast<int32_t>(t.vertexCell.size()); ++v) {
        const int32_t s = t.vertexCell[v];
        if (s < 0) continue;
        ASSERT_NE(t.alive[s], 0);
        EXPECT_TRUE(robust::cellHas(t.cells[s], v));
    }
}

/// The corners v of a cell of `t`, the first two swapped when that makes it positively
/// oriented.
std::array<int32_t, 4> positive(const TetTopology& t, std::array<int32_t, 4> v) {
    if (orient3d(t.pts[v[0]], t.pts[v[1]], t.pts[v[2]], t.pts[v[3]]) < 0) std::swap(v[0], v[1]);
    return v;
}

/// Each of the n cells in `cells` made positively oriented.
void orientAll(const TetTopology& t, std::array<int32_t, 4>* cells, int n) {
    for (int i = 0; i < n; ++i) cells[i] = positive(t, cells[i]);
}

/// Two cells on the triangle (0, 1, 2) with apexes 3 above and 4 below, each with a
/// neighbour of its own across one outer face (cells 2 and 3), so that outer links are
/// checked too.
TetTopology bipyramid() {
    TetTopology t;
    t.pts = {Point3{0, 0, 0}, Point3{1, 0, 0}, Point3{0, 1, 0}, Point3{0.3, 0.3, 1}, Point3{0.3, 0.3, -1},
             Point3{0.8, -0.5, 0.5}, Point3{0.8, -0.5, -0.5}};
    auto cell = [&](std::array<int32_t, 4> v) { return Cell{positive(t, v), {-1, -1, -1, -1}}; };
    t.cells = {cell({0, 1, 2, 3}), cell({0, 1, 2, 4}), cell({0, 1, 3, 5}), cell({0, 1, 4, 6})};
    t.alive = {1, 1, 1, 1};
    t.inside = {1, 1, 1, 1};
    t.vertexCell = {0, 0, 0, 0, 1, 2, 3};
    t.liveCells = 4;
    // Link every pair of cells sharing three corners.
    for (int32_t s = 0; s < 4; ++s) {
        for (int k = 0; k < 4; ++k) {
            int32_t a, b, c;
            robust::faceOf(t, s, k, a, b, c);
            for (int32_t m = 0; m < 4; ++m) {
                if (m == s) continue;
                for (int j = 0; j < 4; ++j) {
                    int32_t x, y, z;
                    robust::faceOf(t, m, j, x, y, z);
                    if (std::set<int32_t>{a, b, c} == std::set<int32_t>{x, y, z}) t.cells[s].n[k] = m * 4 + j;
                }
            }
        }
    }
    return t;
}

TEST(TetTopology, ReplacingCellsKeepsTheLinksOfATwoThreeFlipAndBackAndRefusesAMismatch) {
    TetTopology t = bipyramid();
    expectConsistent(t);
    // Two to three: the edge (3, 4) replaces the face (0, 1, 2).
    std::array<int32_t, 4> three[3] = {{0, 1, 4, 3}, {1, 2, 4, 3}, {2, 0, 4, 3}};
    orientAll(t, three, 3);
    const int32_t old2[2] = {0, 1};
    std::vector<int32_t> made;
    // Two of the three cells leave faces of the region unmatched: refused, nothing changed.
    ASSERT_FALSE(robust::replaceCells(t, old2, 2, three, 2, made));
    EXPECT_TRUE(made.empty());
    EXPECT_EQ(t.liveCells, 4);
    EXPECT_NE(t.alive[0], 0);
    EXPECT_NE(t.alive[1], 0);
    expectConsistent(t);
    ASSERT_TRUE(robust::replaceCells(t, old2, 2, three, 3, made));
    ASSERT_EQ(made.size(), 3u);
    EXPECT_EQ(t.liveCells, 5);
    expectConsistent(t);
    // The outer neighbours now meet the new cells: cell 2 (on face 0, 1, 3) and cell 3.
    for (const int32_t outer : {2, 3}) {
        int links = 0;
        for (int k = 0; k < 4; ++k) {
            const int32_t across = t.cells[outer].n[k];
            if (across >= 0 && std::find(made.begin(), made.end(), across >> 2) != made.end()) ++links;
        }
        EXPECT_EQ(links, 1) << "outer cell " << outer;
    }
    // Three to two: back to the two cells on (0, 1, 2).
    std::array<int32_t, 4> two[2] = {{0, 1, 2, 3}, {0, 1, 2, 4}};
    orientAll(t, two, 2);
    std::vector<int32_t> back;
    ASSERT_TRUE(robust::replaceCells(t, made.data(), 3, two, 2, back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(t.liveCells, 4);
    expectConsistent(t);
    int hull = 0;
    for (int32_t s = 0; s < static_cast<int32_t>(t.cells.size()); ++s) {
        if (t.alive[s] == 0) continue;
        for (int k = 0; k < 4; ++k) hull += t.cells[s].n[k] < 0 ? 1 : 0;
    }
    EXPECT_EQ(hull, 10);  // four cells, six shared face sides: 16 - 6
}

TEST(TetTopology, ACavitySeedOutsideItsSphereFailsUnlessForcedAndThenIsTheWholeCavity) {
    TetTopology t = bipyramid();
    // Far above: outside every cell's circumsphere.
    const Point3 p{0.2, 0.2, 50};
    const int32_t seed = 0;
    auto cross = [](int32_t, int32_t, int32_t) { return true; };
    EXPECT_FALSE(robust::growCavity(t, p, &seed, 1, cross));
    ASSERT_TRUE(robust::growCavity(t, p, &seed, 1, cross, true));
    ASSERT_EQ(t.cavity.size(), 1u);
    EXPECT_EQ(t.cavity[0], 0);
    // Its four faces bound the cavity, the one shared with cell 1 among them.
    EXPECT_EQ(t.boundary.size(), 4u);
    bool sharedListed = false;
    for (const robust::CavityFace& f : t.boundary) sharedListed = sharedListed || (f.outside >= 0 && (f.outside >> 2) == 1);
    EXPECT_TRUE(sharedListed);
}

TEST(TetTopology, SeedsCountTowardsTheCavityCap) {
    TetTopology t = bipyramid();
    // Outside every circumsphere, so the cavity is the forced seeds alone and never grows.
    const Point3 p{0.2, 0.2, 50};
    const int32_t seeds[2] = {0, 1};
    auto cross = [](int32_t, int32_t, int32_t) { return true; };
    EXPECT_FALSE(robust::growCavity(t, p, seeds, 2, cross, true, 1));
    ASSERT_TRUE(robust::growCavity(t, p, seeds, 2, cross, true, 2));
    EXPECT_EQ(t.cavity, (std::vector<int32_t>{0, 1}));
}

// The encroachment scan goes on after a failed split only while the version is the same,
// so a refusal must leave it and every change must move it.
TEST(TetTopology, TheVersionMovesWithEveryChangeToTheCellsAndNotWithARefusal) {
    TetTopology t = bipyramid();
    uint64_t version = t.version;
    auto cross = [](int32_t, int32_t, int32_t) { return true; };
    // A point far above cell 0, its cavity forced to that cell: the cell's faces are not
    // all seen from it, so the commit is refused.
    const int32_t above = robust::topologyAddVertex(t, Point3{0.2, 0.2, 50});
    const int32_t seed = 0;
    ASSERT_TRUE(robust::growCavity(t, t.pts[above], &seed, 1, cross, true));
    EXPECT_FALSE(robust::commitCavity(t, above));
    EXPECT_EQ(t.version, version);
    // A refused replacement.
    std::array<int32_t, 4> three[3] = {{0, 1, 4, 3}, {1, 2, 4, 3}, {2, 0, 4, 3}};
    orientAll(t, three, 3);
    const int32_t old2[2] = {0, 1};
    std::vector<int32_t> made;
    ASSERT_FALSE(robust::replaceCells(t, old2, 2, three, 2, made));
    EXPECT_EQ(t.version, version);
    // A replacement, a point inside cell 2 and a removal each move it.
    ASSERT_TRUE(robust::replaceCells(t, old2, 2, three, 3, made));
    EXPECT_GT(t.version, version);
    version = t.version;
    const Point3 inside{(0.0 + 1 + 0.3 + 0.8) / 4, (0.0 + 0 + 0.3 - 0.5) / 4, (0.0 + 0 + 1 + 0.5) / 4};
    const int32_t centre = robust::topologyAddVertex(t, inside);
    const int32_t cell2 = 2;
    ASSERT_TRUE(robust::growCavity(t, inside, &cell2, 1, cross));
    ASSERT_TRUE(robust::commitCavity(t, centre));
    EXPECT_GT(t.version, version);
    version = t.version;
    std::vector<uint8_t> keep(t.cells.size(), 1);
    keep[t.created.front()] = 0;
    robust::removeCells(t, keep);
    EXPECT_GT(t.version, version);
}

/// The cells of `t` around vertex v, in the order forStar finds them.
std::vector<int32_t> starOf(TetTopology& t, int32_t v) {
    std::vector<int32_t> star;
    robust::forStar(t, v, [&](int32_t s) {
        star.push_back(s);
        return false;
    });
    return star;
}

/// A Delaunay tetrahedralization of `n` points drawn in the unit cube from `seed` (the
/// super-tetrahedron's cells included).
TetTopology randomTopology(uint64_t seed, int n) {
    TetTopology t;
    robust::topologyInit(t, Point3{0, 0, 0}, Point3{1, 1, 1});
    auto draw = [&]() {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(seed >> 11) * (1.0 / 9007199254740992.0);
    };
    int32_t hint = 0;
    for (int i = 0; i < n; ++i) {
        const Point3 p{draw(), draw(), draw()};
        const int32_t vid = robust::topologyAddVertex(t, p);
        const robust::Location loc = robust::locatePoint(t, p, hint, [](int32_t, int32_t, int32_t) { return false; });
        if (loc.cell < 0) continue;
        if (!robust::growCavity(t, p, &loc.cell, 1, [](int32_t, int32_t, int32_t) { return true; })) continue;
        if (robust::commitCavity(t, vid)) hint = t.created.front();
    }
    return t;
}

/// Whole numbers below n drawn from a seed, for the shrink trials.
struct Below {
    uint64_t seed;
    int32_t operator()(int32_t n) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<int32_t>((seed >> 33) % static_cast<uint64_t>(n));
    }
};

/// The cavity left of `cavity` by dropping, round after round, every cell with a face on
/// the cavity's boundary that p does not strictly see; `rounds` counts the rounds that drop
/// cells. Empty when it runs empty.
std::vector<int32_t> plainShrink(const TetTopology& t, std::vector<int32_t> cavity, const Point3& p, int& rounds) {
    rounds = 0;
    for (;;) {
        const std::set<int32_t> in(cavity.begin(), cavity.end());
        std::set<int32_t> gone;
        for (const int32_t s : cavity) {
            for (int k = 0; k < 4; ++k) {
                const int32_t across = t.cells[s].n[k];
                if (across >= 0 && in.count(across >> 2) != 0) continue;
                int32_t a, b, c;
                robust::faceOf(t, s, k, a, b, c);
                if (!(orient3d(t.pts[a], t.pts[b], t.pts[c], p) > 0)) gone.insert(s);
            }
        }
        if (gone.empty()) return cavity;
        ++rounds;
        cavity.erase(std::remove_if(cavity.begin(), cavity.end(), [&](int32_t s) { return gone.count(s) != 0; }),
                     cavity.end());
        if (cavity.empty()) return cavity;
    }
}

// Cavities forced from cells far from their point shrink over many rounds; the shrink
// takes over the faces it listed before, and must leave what a plain shrink leaves.
TEST(TetTopology, AShrinkingCavityEndsAsAPlainShrinkDoes) {
    TetTopology t = randomTopology(7, 300);
    Below below{11};
    auto cross = [](int32_t, int32_t, int32_t) { return true; };
    int manyRounds = 0;
    for (int trial = 0; trial < 300; ++trial) {
        // The star of a vertex and a point beside it: the cells around the vertex that
        // the point does not see go a layer at a time.
        const int32_t centre = 4 + below(300);
        std::vector<int32_t> seeds = starOf(t, centre);
        const Point3 c = t.pts[centre];
        const Point3 p{c.x + 0.02 * (below(11) - 5), c.y + 0.02 * (below(11) - 5), c.z + 0.02 * (below(11) - 5)};
        if (!robust::growCavity(t, p, seeds.data(), static_cast<int>(seeds.size()), cross, true)) continue;
        const std::vector<int32_t> start = t.cavity;
        int rounds = 0;
        const std::vector<int32_t> expected = plainShrink(t, start, p, rounds);
        const bool ok = robust::shrinkCavity(t, p, cross, [](const robust::CavityFace&) { return false; });
        ASSERT_EQ(ok, !expected.empty()) << "trial " << trial;
        if (!ok) continue;
        EXPECT_EQ(t.cavity, expected) << "trial " << trial;
        // The boundary lists every bare face of the cells left once, in their order.
        std::vector<int32_t> owners;
        const std::set<int32_t> in(expected.begin(), expected.end());
        for (const int32_t s : expected) {
            for (int k = 0; k < 4; ++k) {
                const int32_t across = t.cells[s].n[k];
                if (across < 0 || in.count(across >> 2) == 0) owners.push_back(s * 4 + k);
            }
        }
        std::vector<int32_t> listed;
        for (const robust::CavityFace& f : t.boundary) listed.push_back(f.owner);
        EXPECT_EQ(listed, owners) << "trial " << trial;
        manyRounds += rounds >= 3 ? 1 : 0;
    }
    EXPECT_GT(manyRounds, 10);
}

/// The shrink as first written, the reference for the one that tests only the faces each
/// round leaves bare: every round lists the whole boundary afresh, in the order of the
/// cavity's cells and their faces, and tests the faces not seen yet.
template <typename CanCross, typename Skip, typename Blind>
bool shrinkByWholeLists(TetTopology& t, const Point3& p, CanCross&& canCross, Skip&& skip, Blind&& blind) {
    const uint32_t in = t.cavityMark;
    for (int round = 0; round < 64; ++round) {
        bool removed = false;
        for (robust::CavityFace& f : t.boundary) {
            if (f.skip != 0 || f.seen != 0) continue;
            if (!(orient3d(t.pts[f.a], t.pts[f.b], t.pts[f.c], p) > 0) || blind(f)) {
                if (t.mark[f.owner >> 2] == in) t.shrunkAway.push_back(f.owner >> 2);
                t.mark[f.owner >> 2] = 0;
                removed = true;
            } else {
                f.seen = 1;
            }
        }
        if (!removed) return true;
        size_t kept = 0;
        for (int32_t s : t.cavity) {
            if (t.mark[s] == in) t.cavity[kept++] = s;
        }
        t.cavity.resize(kept);
        if (t.cavity.empty()) return false;
        std::vector<robust::CavityFace> before;
        before.swap(t.boundary);
        for (int32_t s : t.cavity) {
            for (int k = 0; k < 4; ++k) {
                const int32_t across = t.cells[s].n[k];
                if (across >= 0 && t.mark[across >> 2] == in) continue;
                const auto old = std::find_if(before.begin(), before.end(),
                                              [&](const robust::CavityFace& f) { return f.owner == s * 4 + k; });
                if (round > 0 && old != before.end()) {
                    t.boundary.push_back(*old);
                    continue;
                }
                int32_t a, b, c;
                robust::faceOf(t, s, k, a, b, c);
                robust::CavityFace f{a, b, c, across, t.inside[s], static_cast<uint8_t>(canCross(a, b, c) ? 0 : 1), 0, 0, s * 4 + k};
                f.skip = skip(f) ? 1 : 0;
                t.boundary.push_back(f);
            }
        }
    }
    return false;
}

// The shrink tests only the faces the cells it takes away leave bare, and orders them as a
// whole list would: the same cavity, the same boundary (every field, in order), the same
// cells taken away in the same order, and the same answer as the reference, with faces the
// growth may not cross, faces the point must not be joined to and hull faces skipped.
TEST(TetTopology, AShrinkTestingOnlyTheFacesLeftBareEndsAsWholeListsDo) {
    TetTopology t = randomTopology(5, 400);
    Below below{17};
    auto growCross = [](int32_t, int32_t, int32_t) { return true; };
    auto cross = [](int32_t a, int32_t b, int32_t c) { return (a + b + c) % 7 != 0; };
    auto skip = [](const robust::CavityFace& f) { return f.outside < 0; };
    auto blind = [](const robust::CavityFace& f) { return (f.a * 3 + f.b + f.c) % 29 == 0; };
    int shrunk = 0, many = 0, failed = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int32_t centre = 4 + below(400);
        std::vector<int32_t> seeds = starOf(t, centre);
        const Point3 c = t.pts[centre];
        const double reach = trial % 2 == 0 ? 0.02 : 0.08;
        const Point3 p{c.x + reach * (below(11) - 5), c.y + reach * (below(11) - 5), c.z + reach * (below(11) - 5)};
        if (!robust::growCavity(t, p, seeds.data(), static_cast<int>(seeds.size()), growCross, true)) continue;
        for (robust::CavityFace& f : t.boundary) f.skip = skip(f) ? 1 : 0;
        TetTopology reference = t;
        const bool ok = robust::shrinkCavity(t, p, cross, skip, blind);
        const bool expected = shrinkByWholeLists(reference, p, cross, skip, blind);
        ASSERT_EQ(ok, expected) << "trial " << trial;
        EXPECT_EQ(t.shrunkAway, reference.shrunkAway) << "trial " << trial;
        shrunk += t.shrunkAway.empty() ? 0 : 1;
        many += t.shrunkAway.size() >= 8 ? 1 : 0;
        if (!ok) {
            ++failed;
            continue;
        }
        EXPECT_EQ(t.cavity, reference.cavity) << "trial " << trial;
        ASSERT_EQ(t.boundary.size(), reference.boundary.size()) << "trial " << trial;
        for (size_t i = 0; i < t.boundary.size(); ++i) {
            const robust::CavityFace &x = t.boundary[i], &y = reference.boundary[i];
            EXPECT_TRUE(x.a == y.a && x.b == y.b && x.c == y.c && x.outside == y.outside && x.inside == y.inside &&
                        x.barrier == y.barrier && x.skip == y.skip && x.seen == y.seen && x.owner == y.owner)
                << "trial " << trial << " face " << i;
        }
    }
    // The trials reach what they are for: cavities that shrink, over many cells, and some
    // that run empty.
    EXPECT_GT(shrunk, 100);
    EXPECT_GT(many, 20);
    EXPECT_GT(failed, 0);
}

// The mesher takes a vertex's star as it was while the vertex's star version stays: every
// change to the cells must move the version of each vertex whose star (or the order the
// walk finds it in) it changes.
TEST(TetTopology, AStarWhoseVersionStaysIsTheSameStar) {
    TetTopology t = randomTopology(5, 150);
    uint64_t seed = 3;
    auto draw = [&]() {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<double>(seed >> 11) * (1.0 / 9007199254740992.0);
    };
    auto cross = [](int32_t, int32_t, int32_t) { return true; };
    int changedStars = 0, keptStars = 0, contractions = 0;
    for (int step = 0; step < 120; ++step) {
        const int32_t n = static_cast<int32_t>(t.pts.size());
        std::vector<std::vector<int32_t>> before(static_cast<size_t>(n));
        for (int32_t v = 0; v < n; ++v) before[v] = starOf(t, v);
        const std::vector<uint64_t> versions = t.starVersion;
        bool changed = false;
        if (step % 3 == 2) {
            // The last vertex inserted contracted into the first neighbour that takes it.
            const int32_t v = n - 1;
            const std::vector<int32_t> star = starOf(t, v);
            std::set<int32_t> neighbours;
            for (const int32_t s : star) {
                for (const int32_t x : t.cells[s].v) {
                    if (x != v) neighbours.insert(x);
                }
            }
            std::vector<int32_t> slots;
            for (const int32_t u : neighbours) {
                if (robust::contractVertex(t, v, u, star, slots)) {
                    changed = true;
                    ++contractions;
                    break;
                }
            }
        } else {
            const Point3 p{draw(), draw(), draw()};
            const int32_t vid = robust::topologyAddVertex(t, p);
            const robust::Location loc = robust::locatePoint(t, p, 0, [](int32_t, int32_t, int32_t) { return false; });
            ASSERT_GE(loc.cell, 0);
            ASSERT_TRUE(robust::growCavity(t, p, &loc.cell, 1, cross));
            changed = robust::commitCavity(t, vid);
        }
        if (!changed) continue;
        ASSERT_EQ(t.starVersion.size(), t.pts.size());
        for (int32_t v = 0; v < n; ++v) {
            if (t.starVersion[v] == versions[v]) {
                EXPECT_EQ(starOf(t, v), before[v]) << "step " << step << " vertex " << v;
                ++keptStars;
            } else {
                EXPECT_EQ(t.starVersion[v], t.version);
                changedStars += starOf(t, v) != before[v] ? 1 : 0;
            }
        }
    }
    EXPECT_GT(contractions, 10);
    EXPECT_GT(changedStars, 500);
    EXPECT_GT(keptStars, 5000);
}

/// Cells joining `apex` to every face of `faces` (each made positively oriented), linked
/// where they share three corners; faces without a partner stay on the hull.
TetTopology fan(const std::vector<Point3>& pts, int32_t apex, const std::vector<std::array<int32_t, 3>>& faces) {
    TetTopology t;
    t.pts = pts;
    t.vertexCell.assign(pts.size(), -1);
    for (const auto& f : faces) {
        const std::array<int32_t, 4> v = positive(t, {f[0], f[1], f[2], apex});
        t.cells.push_back(Cell{v, {-1, -1, -1, -1}});
        t.alive.push_back(1);
        t.inside.push_back(1);
        for (const int32_t x : v) t.vertexCell[x] = static_cast<int32_t>(t.cells.size()) - 1;
    }
    t.liveCells = static_cast<int64_t>(t.cells.size());
    const int32_t n = static_cast<int32_t>(t.cells.size());
    for (int32_t s = 0; s < n; ++s) {
        for (int k = 0; k < 4; ++k) {
            int32_t a, b, c;
            robust::faceOf(t, s, k, a, b, c);
            for (int32_t m = 0; m < n; ++m) {
                for (int j = 0; j < 4 && m != s; ++j) {
                    int32_t x, y, z;
                    robust::faceOf(t, m, j, x, y, z);
                    if (std::set<int32_t>{a, b, c} == std::set<int32_t>{x, y, z}) t.cells[s].n[k] = m * 4 + j;
                }
            }
        }
    }
    return t;
}

int hullFaces(const TetTopology& t) {
    int hull = 0;
    for (int32_t s = 0; s < static_cast<int32_t>(t.cells.size()); ++s) {
        if (t.alive[s] == 0) continue;
        for (int k = 0; k < 4; ++k) hull += t.cells[s].n[k] < 0 ? 1 : 0;
    }
    return hull;
}

TEST(TetTopology, ContractingAVertexLeavesTheConeFromItsNeighbour) {
    // A point inside a triangular bipyramid (triangle 0, 1, 2; apexes 3 and 4), joined to
    // its six faces. Contracted into apex 3, the three cells with corner 3 go and the other
    // three become the cells around the edge (3, 4).
    const std::vector<Point3> pts{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.3, 0.3, 1}, {0.3, 0.3, -1}, {0.3, 0.3, 0.1}};
    TetTopology t = fan(pts, 5, {{0, 1, 3}, {1, 2, 3}, {2, 0, 3}, {0, 1, 4}, {1, 2, 4}, {2, 0, 4}});
    expectConsistent(t);
    EXPECT_EQ(hullFaces(t), 6);
    std::vector<int32_t> made;
    ASSERT_TRUE(robust::contractVertex(t, 5, 3, starOf(t, 5), made));
    ASSERT_EQ(made.size(), 3u);
    EXPECT_EQ(t.liveCells, 3);
    EXPECT_EQ(t.vertexCell[5], -1);
    expectConsistent(t);
    EXPECT_EQ(hullFaces(t), 6);  // the bipyramid's faces, the three new ones meet each other
    for (const int32_t s : made) EXPECT_TRUE(robust::cellHas(t.cells[s], 3) && robust::cellHas(t.cells[s], 4));

    // A point on the hull, inside the triangle (0, 1, 2) under apex 3: contracted into
    // corner 0, the one cell left is (0, 1, 2, 3), and the face it keeps from the point's
    // hull face (5, 1, 2) is on the hull.
    const std::vector<Point3> flat{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0.3, 0.3, 1}, {9, 9, 9}, {0.3, 0.3, 0}};
    TetTopology h = fan(flat, 3, {{5, 0, 1}, {5, 1, 2}, {5, 2, 0}});
    expectConsistent(h);
    made.clear();
    ASSERT_TRUE(robust::contractVertex(h, 5, 0, starOf(h, 5), made));
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ((std::set<int32_t>(h.cells[made[0]].v.begin(), h.cells[made[0]].v.end())), (std::set<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(hullFaces(h), 4);
    expectConsistent(h);

    // Contracted into apex 3, every cell of its star goes and the faces opposite it are
    // met by nothing: refused, nothing changed.
    TetTopology g = fan(flat, 3, {{5, 0, 1}, {5, 1, 2}, {5, 2, 0}});
    made.clear();
    EXPECT_FALSE(robust::contractVertex(g, 5, 3, starOf(g, 5), made));
    EXPECT_TRUE(made.empty());
    EXPECT_EQ(g.liveCells, 3);
    EXPECT_NE(g.vertexCell[5], -1);
    expectConsistent(g);
}

TEST(TetTopology, AFlipOfTwoFacesOnTheHullLeavesTheOtherDiagonalOnIt) {
    // Two cells under apex 4 on the square (0, 1, 2, 3) of the plane z = 0, split along the
    // diagonal (0, 2); flipped to the diagonal (1, 3), the square's two new faces are on the
    // hull and the cells' other faces keep their links.
    const std::vector<Point3> pts{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0.4, 0.6, 1}};
    TetTopology t = fan(pts, 4, {{0, 1, 2}, {0, 2, 3}});
    expectConsistent(t);
    EXPECT_EQ(hullFaces(t), 6);
    std::array<int32_t, 4> made[2] = {{1, 3, 4, 0}, {3, 1, 4, 2}};
    orientAll(t, made, 2);
    const int32_t old[2] = {0, 1};
    std::vector<int32_t> slots;
    // Without leave to change the hull the two faces it loses and gains do not match up.
    EXPECT_FALSE(robust::replaceCells(t, old, 2, made, 2, slots));
    EXPECT_TRUE(slots.empty());
    ASSERT_TRUE(robust::replaceCells(t, old, 2, made, 2, slots, true));
    ASSERT_EQ(slots.size(), 2u);
    expectConsistent(t);
    EXPECT_EQ(hullFaces(t), 6);
    // The faces on z = 0 are now (0, 1, 3) and (1, 2, 3).
    std::set<std::set<int32_t>> base;
    for (const int32_t s : slots) {
        for (int k = 0; k < 4; ++k) {
            if (t.cells[s].n[k] >= 0) continue;
            int32_t a, b, c;
            robust::faceOf(t, s, k, a, b, c);
            if (t.pts[a].z == 0 && t.pts[b].z == 0 && t.pts[c].z == 0) base.insert({a, b, c});
        }
    }
    EXPECT_EQ(base, (std::set<std::set<int32_t>>{{0, 1, 3}, {1, 2, 3}}));
}

}  // namespace
