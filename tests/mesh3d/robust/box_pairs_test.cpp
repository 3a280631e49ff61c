// The grid's pairs of overlapping boxes against every pair tested directly: the same set,
// each pair once, smaller index first, on the layouts a surface's triangles make and on
// the ones that send the grid back to the sweep.

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "mesh3d/robust/box_pairs.hpp"
#include "mesh3d/robust/robust_shapes.hpp"

namespace {

using Pairs = std::vector<std::pair<int32_t, int32_t>>;

Pairs everyPair(const std::vector<AlignedBox>& boxes) {
    Pairs out;
    for (size_t i = 0; i < boxes.size(); ++i) {
        for (size_t j = i + 1; j < boxes.size(); ++j) {
            if (boxesOverlap(boxes[i], boxes[j])) out.push_back({static_cast<int32_t>(i), static_cast<int32_t>(j)});
        }
    }
    return out;
}

Pairs gridPairs(const std::vector<AlignedBox>& boxes) {
    Pairs out;
    gridBoxPairs(boxes, [&](int32_t i, int32_t j) {
        out.push_back({i, j});
        return true;
    });
    return out;
}

/// A box from a corner and sides.
AlignedBox boxAt(double x, double y, double z, double dx, double dy, double dz) {
    return AlignedBox{{x, y, z}, {x + dx, y + dy, z + dz}};
}

void expectSamePairs(const std::vector<AlignedBox>& boxes) {
    const Pairs expected = everyPair(boxes);
    Pairs got = gridPairs(boxes);
    for (const auto& p : got) EXPECT_LT(p.first, p.second);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(std::adjacent_find(got.begin(), got.end()), got.end()) << "a pair came twice";
    EXPECT_EQ(got, expected);
}

TEST(BoxPairs, GridFindsEveryOverlappingPairOnce) {
    shapes::Draw d{7};
    // The triangles' boxes of a fine sphere: small boxes on a shell, touching neighbours.
    {
        std::vector<AlignedBox> boxes;
        for (int k = 0; k < 3000; ++k) {
            const double z = 2 * d.unit() - 1, a = 6.283185307179586 * d.unit(), r = std::sqrt(1 - z * z);
            boxes.push_back(boxAt(r * std::cos(a), r * std::sin(a), z, 0.05 * d.unit(), 0.05 * d.unit(), 0.01 * d.unit()));
        }
        SCOPED_TRACE("shell");
        expectSamePairs(boxes);
    }
    // A plate: boxes on a lattice that touch exactly at their sides (closed overlap), some
    // flat, with a few long thin boxes across it (fans of needles) and repeated boxes.
    {
        std::vector<AlignedBox> boxes;
        for (int i = 0; i < 40; ++i) {
            for (int j = 0; j < 40; ++j) boxes.push_back(boxAt(0.25 * i, 0.25 * j, 0, 0.25, 0.25, (i + j) % 3 == 0 ? 0 : 0.1));
        }
        for (int k = 0; k < 20; ++k) boxes.push_back(boxAt(0, 0.5 * k, 0.05, 10, 0.01, 0));
        for (int k = 0; k < 10; ++k) boxes.push_back(boxes[static_cast<size_t>(37 * k)]);
        SCOPED_TRACE("plate");
        expectSamePairs(boxes);
    }
    // Clusters of very different sizes far apart.
    {
        std::vector<AlignedBox> boxes;
        for (int k = 0; k < 1000; ++k) {
            const double s = k % 2 == 0 ? 1e-4 : 10;
            boxes.push_back(boxAt(s * d.unit() + (k % 2) * 1000, s * d.unit(), s * d.unit(), s * 0.1 * d.unit(),
                                  s * 0.1 * d.unit(), s * 0.1 * d.unit()));
        }
        SCOPED_TRACE("clusters");
        expectSamePairs(boxes);
    }
}

TEST(BoxPairs, DegenerateLayoutsGoToTheSweepWithTheSamePairs) {
    // Every box one point: no extent to grid.
    std::vector<AlignedBox> points(300, boxAt(1, 2, 3, 0, 0, 0));
    EXPECT_EQ(gridPairs(points).size(), 300u * 299u / 2);
    // Long boxes that would cover too many cells each, among small ones.
    shapes::Draw d{11};
    std::vector<AlignedBox> boxes;
    for (int k = 0; k < 600; ++k) {
        if (k % 3 == 0) {
            boxes.push_back(boxAt(0, 0, d.unit(), 1, 1, 0.001));
        } else {
            boxes.push_back(boxAt(d.unit(), d.unit(), d.unit(), 0.001, 0.001, 0.001));
        }
    }
    expectSamePairs(boxes);
}

TEST(BoxPairs, GridStopsWhenAsked) {
    std::vector<AlignedBox> boxes;
    for (int k = 0; k < 500; ++k) boxes.push_back(boxAt(0.01 * k, 0, 0, 0.015, 1, 1));
    int calls = 0;
    gridBoxPairs(boxes, [&](int32_t, int32_t) { return ++calls < 10; });
    EXPECT_EQ(calls, 10);
}

}  // namespace
