#pragma once
// A hashed uniform grid over points or boxes in two or three dimensions, used to find the
// few facets near a query point and the few tetrahedra near a facet. Items are integer ids;
// the grid never removes them (callers skip ids that went stale and rebuild the grid when
// too many have). Coordinates outside the grid's range are clamped to its border cells on
// both sides, so a query may see more items than it needs but never fewer.

#include <cmath>
#include <cstdint>
#include <vector>

template <int D>
struct SpatialGrid {
    double origin[D] = {};
    double inverseCell = 1.0;
    std::vector<uint64_t> keys;  ///< open addressing; kEmpty marks a free slot
    std::vector<int32_t> heads;  ///< first entry of the cell, -1 none
    size_t used = 0;
    std::vector<int32_t> entryItem;
    std::vector<int32_t> entryNext;
    std::vector<int32_t> big;  ///< items whose box spans too many cells: seen by every query
    std::vector<int32_t> all;  ///< every point item once, for box queries over many cells
    static constexpr uint64_t kEmpty = ~uint64_t{0};
    static constexpr int64_t kRange = int64_t{1} << 20;
    static constexpr int64_t kMaxCellsPerItem = 64;
};

template <int D>
void gridReset(SpatialGrid<D>& g, const double* origin, double cellSize) {
    for (int i = 0; i < D; ++i) g.origin[i] = origin[i];
    g.inverseCell = (cellSize > 0 && std::isfinite(cellSize)) ? 1.0 / cellSize : 1.0;
    g.keys.assign(64, SpatialGrid<D>::kEmpty);
    g.heads.assign(64, -1);
    g.used = 0;
    g.entryItem.clear();
    g.entryNext.clear();
    g.big.clear();
    g.all.clear();
}

template <int D>
int64_t gridCoord(const SpatialGrid<D>& g, double x, int axis) {
    const double c = std::floor((x - g.origin[axis]) * g.inverseCell);
    if (!(c >= 0)) return 0;  // also NaN
    if (c >= static_cast<double>(SpatialGrid<D>::kRange - 1)) return SpatialGrid<D>::kRange - 1;
    return static_cast<int64_t>(c);
}

template <int D>
uint64_t gridKey(const int64_t* c) {
    uint64_t key = 0;
    for (int i = 0; i < D; ++i) key = (key << 20) | static_cast<uint64_t>(c[i]);
    return key;
}

template <int D>
size_t gridSlot(const SpatialGrid<D>& g, uint64_t key) {
    const size_t mask = g.keys.size() - 1;
    size_t h = static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> 17) & mask;
    while (g.keys[h] != SpatialGrid<D>::kEmpty && g.keys[h] != key) h = (h + 1) & mask;
    return h;
}

template <int D>
void gridAddToCell(SpatialGrid<D>& g, uint64_t key, int32_t item) {
    if ((g.used + 1) * 2 > g.keys.size()) {
        std::vector<uint64_t> oldKeys;
        std::vector<int32_t> oldHeads;
        oldKeys.swap(g.keys);
        oldHeads.swap(g.heads);
        g.keys.assign(oldKeys.size() * 2, SpatialGrid<D>::kEmpty);
        g.heads.assign(oldKeys.size() * 2, -1);
        for (size_t i = 0; i < oldKeys.size(); ++i) {
            if (oldKeys[i] == SpatialGrid<D>::kEmpty) continue;
            const size_t h = gridSlot(g, oldKeys[i]);
            g.keys[h] = oldKeys[i];
            g.heads[h] = oldHeads[i];
        }
    }
    const size_t h = gridSlot(g, key);
    if (g.keys[h] == SpatialGrid<D>::kEmpty) {
        g.keys[h] = key;
        ++g.used;
    }
    g.entryItem.push_back(item);
    g.entryNext.push_back(g.heads[h]);
    g.heads[h] = static_cast<int32_t>(g.entryItem.size() - 1);
}

template <int D>
void gridInsertPoint(SpatialGrid<D>& g, int32_t item, const double* p) {
    int64_t c[D];
    for (int i = 0; i < D; ++i) c[i] = gridCoord(g, p[i], i);
    gridAddToCell(g, gridKey<D>(c), item);
    g.all.push_back(item);
}

template <int D>
void gridInsertBox(SpatialGrid<D>& g, int32_t item, const double* lo, const double* hi) {
    int64_t a[D];
    int64_t b[D];
    int64_t cells = 1;
    for (int i = 0; i < D; ++i) {
        a[i] = gridCoord(g, lo[i], i);
        b[i] = gridCoord(g, hi[i], i);
        if (b[i] < a[i]) b[i] = a[i];
        cells *= b[i] - a[i] + 1;
        if (cells > SpatialGrid<D>::kMaxCellsPerItem) break;
    }
    if (cells > SpatialGrid<D>::kMaxCellsPerItem) {
        g.big.push_back(item);
        return;
    }
    int64_t c[D];
    for (int i = 0; i < D; ++i) c[i] = a[i];
    for (;;) {
        gridAddToCell(g, gridKey<D>(c), item);
        int i = 0;
        while (i < D && c[i] == b[i]) {
            c[i] = a[i];
            ++i;
        }
        if (i == D) break;
        ++c[i];
    }
}

/// Calls f(item) for the items of the cell holding p and for the big items.
template <int D, typename F>
void gridForPoint(const SpatialGrid<D>& g, const double* p, F&& f) {
    int64_t c[D];
    for (int i = 0; i < D; ++i) c[i] = gridCoord(g, p[i], i);
    const size_t h = gridSlot(g, gridKey<D>(c));
    if (g.keys[h] != SpatialGrid<D>::kEmpty) {
        for (int32_t e = g.heads[h]; e >= 0; e = g.entryNext[e]) f(g.entryItem[e]);
    }
    for (int32_t item : g.big) f(item);
}

/// Calls f(item) once for every point item whose cell meets the box (a superset of the
/// point items inside it).
template <int D, typename F>
void gridForBox(const SpatialGrid<D>& g, const double* lo, const double* hi, F&& f) {
    int64_t a[D];
    int64_t b[D];
    double cells = 1;
    for (int i = 0; i < D; ++i) {
        a[i] = gridCoord(g, lo[i], i);
        b[i] = gridCoord(g, hi[i], i);
        if (b[i] < a[i]) b[i] = a[i];
        cells *= static_cast<double>(b[i] - a[i] + 1);
    }
    if (cells > static_cast<double>(g.used) + 16) {
        for (int32_t item : g.all) f(item);
        return;
    }
    int64_t c[D];
    for (int i = 0; i < D; ++i) c[i] = a[i];
    for (;;) {
        const size_t h = gridSlot(g, gridKey<D>(c));
        if (g.keys[h] != SpatialGrid<D>::kEmpty) {
            for (int32_t e = g.heads[h]; e >= 0; e = g.entryNext[e]) f(g.entryItem[e]);
        }
        int i = 0;
        while (i < D && c[i] == b[i]) {
            c[i] = a[i];
            ++i;
        }
        if (i == D) break;
        ++c[i];
    }
}
