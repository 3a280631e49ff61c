#pragma once
// Pairs of overlapping axis-aligned boxes, for the intersection tests of the input
// diagnosis: a sweep along x, and a uniform grid for one large set (a sweep over a fine
// surface meets every box in a slab of the part, a grid only the boxes nearby).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

struct AlignedBox {
    double lo[3];
    double hi[3];
};

/// Whether two boxes overlap (closed: touching counts).
inline bool boxesOverlap(const AlignedBox& a, const AlignedBox& b) {
    for (int i = 0; i < 3; ++i) {
        if (b.lo[i] > a.hi[i] || a.lo[i] > b.hi[i]) return false;
    }
    return true;
}

/// Calls f(i, j) for every pair of boxes that overlap (closed), i from set A, j from set
/// B (the same set when `same`, then i < j), by a sweep along x, until f returns false.
template <typename F>
void sweptBoxPairs(const std::vector<AlignedBox>& a, const std::vector<AlignedBox>& b, bool same, F&& f) {
    struct Item {
        double x;
        int32_t set;
        int32_t index;
    };
    std::vector<Item> items;
    items.reserve(a.size() + (same ? 0 : b.size()));
    for (size_t i = 0; i < a.size(); ++i) items.push_back(Item{a[i].lo[0], 0, static_cast<int32_t>(i)});
    if (!same) {
        for (size_t i = 0; i < b.size(); ++i) items.push_back(Item{b[i].lo[0], 1, static_cast<int32_t>(i)});
    }
    std::sort(items.begin(), items.end(), [](const Item& l, const Item& r) {
        if (l.x != r.x) return l.x < r.x;
        if (l.set != r.set) return l.set < r.set;
        return l.index < r.index;
    });
    auto boxOfItem = [&](const Item& it) -> const AlignedBox& { return it.set == 0 ? a[it.index] : b[it.index]; };
    for (size_t s = 0; s < items.size(); ++s) {
        const AlignedBox& bs = boxOfItem(items[s]);
        for (size_t t = s + 1; t < items.size() && items[t].x <= bs.hi[0]; ++t) {
            if (!same && items[s].set == items[t].set) continue;
            const AlignedBox& bt = boxOfItem(items[t]);
            if (bt.lo[1] > bs.hi[1] || bs.lo[1] > bt.hi[1] || bt.lo[2] > bs.hi[2] || bs.lo[2] > bt.hi[2]) continue;
            bool more = true;
            if (same) {
                more = f(std::min(items[s].index, items[t].index), std::max(items[s].index, items[t].index));
            } else if (items[s].set == 0) {
                more = f(items[s].index, items[t].index);
            } else {
                more = f(items[t].index, items[s].index);
            }
            if (!more) return;
        }
    }
}

/// Calls f(i, j), i < j, once for every pair of boxes of one set that overlap (closed),
/// until f returns false; the pairs come in another order than the sweep's. The boxes go
/// into the cells of a uniform grid (cells twice the median box's largest side, at most
/// about 8 per box) that they cover, and a pair is reported in the first cell both cover:
/// the cell of the larger of their low corners on each axis. Few boxes, boxes all of one
/// point, or boxes that would cover more than 16 cells each on average go to the sweep.
template <typename F>
void gridBoxPairs(const std::vector<AlignedBox>& boxes, F&& f) {
    const size_t n = boxes.size();
    if (n < 256) {
        sweptBoxPairs(boxes, boxes, true, f);
        return;
    }
    double lo[3], hi[3];
    for (int i = 0; i < 3; ++i) {
        lo[i] = boxes[0].lo[i];
        hi[i] = boxes[0].hi[i];
    }
    std::vector<double> sides(n);
    for (size_t k = 0; k < n; ++k) {
        const AlignedBox& b = boxes[k];
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], b.lo[i]);
            hi[i] = std::max(hi[i], b.hi[i]);
        }
        sides[k] = std::max({b.hi[0] - b.lo[0], b.hi[1] - b.lo[1], b.hi[2] - b.lo[2]});
    }
    std::nth_element(sides.begin(), sides.begin() + static_cast<std::ptrdiff_t>(n / 2), sides.end());
    double cell = 2 * sides[n / 2];
    const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
    if (!(extent > 0) || !std::isfinite(extent)) {
        sweptBoxPairs(boxes, boxes, true, f);
        return;
    }
    // At most about 8 cells per box over the whole extent.
    const double most = 8.0 * static_cast<double>(n);
    auto count = [&](double c) {
        double cells = 1;
        for (int i = 0; i < 3; ++i) cells *= std::floor((hi[i] - lo[i]) / c) + 1;
        return cells;
    };
    if (!(cell > 0)) cell = extent / std::cbrt(most);
    while (count(cell) > most) cell *= 2;
    int64_t dims[3];
    for (int i = 0; i < 3; ++i) dims[i] = static_cast<int64_t>(std::floor((hi[i] - lo[i]) / cell)) + 1;
    auto cellOf = [&](int axis, double x) {
        const int64_t c = static_cast<int64_t>(std::floor((x - lo[axis]) / cell));
        return std::min(std::max(c, int64_t{0}), dims[axis] - 1);
    };
    auto flat = [&](int64_t x, int64_t y, int64_t z) { return static_cast<uint64_t>((x * dims[1] + y) * dims[2] + z); };
    // (cell, box) for every cell each box covers.
    std::vector<std::pair<uint64_t, int32_t>> entries;
    entries.reserve(2 * n);
    const size_t limit = 16 * n;
    for (size_t k = 0; k < n; ++k) {
        const AlignedBox& b = boxes[k];
        const int64_t x0 = cellOf(0, b.lo[0]), x1 = cellOf(0, b.hi[0]);
        const int64_t y0 = cellOf(1, b.lo[1]), y1 = cellOf(1, b.hi[1]);
        const int64_t z0 = cellOf(2, b.lo[2]), z1 = cellOf(2, b.hi[2]);
        if (static_cast<double>(entries.size()) + static_cast<double>(x1 - x0 + 1) * static_cast<double>(y1 - y0 + 1) *
                                                      static_cast<double>(z1 - z0 + 1) >
            static_cast<double>(limit)) {
            sweptBoxPairs(boxes, boxes, true, f);
            return;
        }
        for (int64_t x = x0; x <= x1; ++x) {
            for (int64_t y = y0; y <= y1; ++y) {
                for (int64_t z = z0; z <= z1; ++z) entries.push_back({flat(x, y, z), static_cast<int32_t>(k)});
            }
        }
    }
    std::sort(entries.begin(), entries.end());
    for (size_t s = 0; s < entries.size();) {
        size_t e = s;
        while (e < entries.size() && entries[e].first == entries[s].first) ++e;
        const uint64_t here = entries[s].first;
        for (size_t p = s; p < e; ++p) {
            const AlignedBox& a = boxes[static_cast<size_t>(entries[p].second)];
            for (size_t q = p + 1; q < e; ++q) {
                const AlignedBox& b = boxes[static_cast<size_t>(entries[q].second)];
                if (!boxesOverlap(a, b)) continue;
                const uint64_t first = flat(cellOf(0, std::max(a.lo[0], b.lo[0])), cellOf(1, std::max(a.lo[1], b.lo[1])),
                                            cellOf(2, std::max(a.lo[2], b.lo[2])));
                if (first != here) continue;
                if (!f(entries[p].second, entries[q].second)) return;
            }
        }
        s = e;
    }
}
