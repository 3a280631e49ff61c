#include "mesh2d/domain_index.hpp"

#include <algorithm>
#include <cmath>

namespace {

void addLoopEdges(const std::vector<Point2>& loop, int32_t id, std::vector<DomainIndex::Edge>& edges) {
    const size_t n = loop.size();
    for (size_t i = 0, j = n - 1; i < n; j = i++) edges.push_back(DomainIndex::Edge{loop[i], loop[j], id});
}

int64_t bandOf(const DomainIndex& index, double y) {
    const double c = (y - index.y0) * index.scale;
    if (!(c >= 0)) return 0;
    if (c >= static_cast<double>(index.bands - 1)) return index.bands - 1;
    return static_cast<int64_t>(c);
}

/// The crossing test of one edge, written as pointInPolygon writes it.
bool fires(const DomainIndex::Edge& e, const Point2& p) {
    const Point2& a = e.a;
    const Point2& b = e.b;
    return (a.y > p.y) != (b.y > p.y) && (p.y - a.y) * (b.x - a.x) / (b.y - a.y) + a.x > p.x;
}

}  // namespace

DomainIndex buildDomainIndex(const PlanarDomain& domain) {
    DomainIndex index;
    addLoopEdges(domain.outer, 0, index.edges);
    for (size_t h = 0; h < domain.holes.size(); ++h) {
        addLoopEdges(domain.holes[h], static_cast<int32_t>(h + 1), index.edges);
    }

    // Horizontal edges never fire; edges with a non-finite y are tested for every point.
    std::vector<int32_t> banded;
    double sumHeight = 0;
    bool first = true;
    for (size_t i = 0; i < index.edges.size(); ++i) {
        const DomainIndex::Edge& e = index.edges[i];
        if (!std::isfinite(e.a.y) || !std::isfinite(e.b.y)) {
            index.anyBand.push_back(static_cast<int32_t>(i));
            continue;
        }
        if (e.a.y == e.b.y) continue;
        const double lo = std::min(e.a.y, e.b.y), hi = std::max(e.a.y, e.b.y);
        if (first) {
            index.y0 = lo;
            index.y1 = hi;
            first = false;
        }
        index.y0 = std::min(index.y0, lo);
        index.y1 = std::max(index.y1, hi);
        sumHeight += hi - lo;
        banded.push_back(static_cast<int32_t>(i));
    }
    if (banded.empty()) return index;

    // About three registrations per edge: bands = min(edges, 3 * edges * range / total
    // height of the edges).
    const double count = static_cast<double>(banded.size());
    const double range = index.y1 - index.y0;
    double bands = count;
    if (sumHeight > 0 && std::isfinite(sumHeight) && std::isfinite(range)) {
        bands = std::min(count, std::max(1.0, std::floor(3 * count * (range / sumHeight))));
    }
    bands = std::min(bands, static_cast<double>(1 << 22));
    index.bands = static_cast<int32_t>(bands);
    index.scale = static_cast<double>(index.bands) / range;
    if (!std::isfinite(index.scale) || !(range > 0)) {
        index.bands = 1;
        index.scale = 0;
    }

    index.bandStart.assign(static_cast<size_t>(index.bands) + 1, 0);
    for (const int32_t i : banded) {
        const DomainIndex::Edge& e = index.edges[i];
        const int64_t b0 = bandOf(index, std::min(e.a.y, e.b.y)), b1 = bandOf(index, std::max(e.a.y, e.b.y));
        for (int64_t b = b0; b <= b1; ++b) index.bandStart[b + 1] += 1;
    }
    for (size_t b = 1; b < index.bandStart.size(); ++b) index.bandStart[b] += index.bandStart[b - 1];
    index.bandEdges.resize(static_cast<size_t>(index.bandStart.back()));
    std::vector<int64_t> fill(index.bandStart.begin(), index.bandStart.end() - 1);
    for (const int32_t i : banded) {
        const DomainIndex::Edge& e = index.edges[i];
        const int64_t b0 = bandOf(index, std::min(e.a.y, e.b.y)), b1 = bandOf(index, std::max(e.a.y, e.b.y));
        for (int64_t b = b0; b <= b1; ++b) index.bandEdges[fill[b]++] = i;
    }
    return index;
}

bool domainIndexContains(const DomainIndex& index, const Point2& p, std::vector<int32_t>& scratch) {
    scratch.clear();
    bool outer = false;
    auto test = [&](int32_t i) {
        const DomainIndex::Edge& e = index.edges[i];
        if (!fires(e, p)) return;
        if (e.loop == 0) {
            outer = !outer;
        } else {
            scratch.push_back(e.loop);
        }
    };
    for (const int32_t i : index.anyBand) test(i);
    // A finite edge fires only when lo <= p.y < hi, which puts p.y in the edge's bands.
    if (index.bands > 0 && p.y >= index.y0 && p.y < index.y1) {
        const int64_t b = bandOf(index, p.y);
        for (int64_t k = index.bandStart[b]; k < index.bandStart[b + 1]; ++k) test(index.bandEdges[k]);
    }
    if (!outer) return false;
    if (scratch.empty()) return true;
    std::sort(scratch.begin(), scratch.end());
    for (size_t i = 0; i < scratch.size();) {
        size_t j = i;
        while (j < scratch.size() && scratch[j] == scratch[i]) ++j;
        if ((j - i) % 2 == 1) return false;  // inside this hole
        i = j;
    }
    return true;
}
