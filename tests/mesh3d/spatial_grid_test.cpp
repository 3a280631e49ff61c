#include "mesh3d/spatial_grid.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Rng {
    uint64_t state;
    double next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;
    }
};

TEST(SpatialGrid, BoxQueriesSeeEveryPointInsideAlsoBeyondTheRange) {
    // Cells of 0.1 from the origin; points spread over [-50, 50] reach far beyond the
    // 2^20 cells on the low side and are clamped there, as are NaN and infinities.
    SpatialGrid<3> g;
    const double origin[3] = {0, 0, 0};
    gridReset(g, origin, 0.1);
    std::vector<std::array<double, 3>> points;
    Rng r{7};
    for (int i = 0; i < 2000; ++i) {
        const double s = i % 10 == 0 ? 100.0 : 1.0;
        points.push_back({(r.next() - 0.5) * s, (r.next() - 0.5) * s, (r.next() - 0.5) * s});
    }
    const double inf = std::numeric_limits<double>::infinity();
    points.push_back({inf, -inf, 0.3});
    points.push_back({std::numeric_limits<double>::quiet_NaN(), 0.2, 0.2});
    for (size_t i = 0; i < points.size(); ++i) gridInsertPoint(g, static_cast<int32_t>(i), points[i].data());

    for (int q = 0; q < 300; ++q) {
        const double c[3] = {(r.next() - 0.5) * 3, (r.next() - 0.5) * 3, (r.next() - 0.5) * 3};
        const double h = q % 7 == 0 ? 60.0 : 0.05 + r.next() * 0.5;
        const double lo[3] = {c[0] - h, c[1] - h, c[2] - h};
        const double hi[3] = {c[0] + h, c[1] + h, c[2] + h};
        std::vector<int32_t> seen;
        gridForBox(g, lo, hi, [&](int32_t item) { seen.push_back(item); });
        std::sort(seen.begin(), seen.end());
        ASSERT_TRUE(std::adjacent_find(seen.begin(), seen.end()) == seen.end()) << "an item twice";
        for (size_t i = 0; i < points.size(); ++i) {
            const auto& p = points[i];
            const bool inside = p[0] >= lo[0] && p[0] <= hi[0] && p[1] >= lo[1] && p[1] <= hi[1] && p[2] >= lo[2] &&
                                p[2] <= hi[2];
            if (inside) {
                ASSERT_TRUE(std::binary_search(seen.begin(), seen.end(), static_cast<int32_t>(i))) << q;
            }
        }
    }
}

TEST(SpatialGrid, PointQueriesSeeEveryBoxHoldingThePoint) {
    SpatialGrid<2> g;
    const double origin[2] = {-1, -1};
    gridReset(g, origin, 0.05);
    std::vector<std::array<double, 4>> boxes;  // lo x, lo y, hi x, hi y
    Rng r{11};
    for (int i = 0; i < 500; ++i) {
        const double x = r.next() * 2 - 1, y = r.next() * 2 - 1;
        const double w = i % 50 == 0 ? 3.0 : r.next() * 0.2;  // a few span too many cells
        boxes.push_back({x, y, x + w, y + w * 0.5});
        const double lo[2] = {x, y};
        const double hi[2] = {x + w, y + w * 0.5};
        gridInsertBox(g, i, lo, hi);
    }
    EXPECT_FALSE(g.big.empty());
    for (int q = 0; q < 2000; ++q) {
        const double p[2] = {r.next() * 2.4 - 1.2, r.next() * 2.4 - 1.2};
        std::vector<int32_t> seen;
        gridForPoint(g, p, [&](int32_t item) { seen.push_back(item); });
        std::sort(seen.begin(), seen.end());
        for (size_t i = 0; i < boxes.size(); ++i) {
            const auto& b = boxes[i];
            if (p[0] >= b[0] && p[0] <= b[2] && p[1] >= b[1] && p[1] <= b[3]) {
                ASSERT_TRUE(std::binary_search(seen.begin(), seen.end(), static_cast<int32_t>(i))) << q;
            }
        }
        // Only nearby boxes: far fewer than all of them.
        EXPECT_LT(seen.size(), 60u);
    }
}

}  // namespace
