// DXF drawing to boundary loops: pairs, entities, arc discretisation, chaining, outer loop.

#include "io/dxf/dxf_reader.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

const char* const kDxfTooManyPointsMessage =
    "drawing would need more than 100000 boundary points (arc_tolerance too small for its arcs, "
    "or too many entities)";

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

/// ARC end angles below the start angle are lifted by whole turns; an arc still without a
/// positive sweep after this many turns has angles too far apart to mean anything.
constexpr int kMaxSweepTurns = 1000;

bool isDxfSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

/// Length of the longest leading part of `text` that reads as a decimal number: an
/// optional sign, digits with an optional '.', then an optional exponent. 0 when none.
size_t numberPrefixLength(const std::string& text) {
    const size_t n = text.size();
    size_t i = 0;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && isDigit(text[i])) ++i, ++digits;
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && isDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0;
    size_t end = i;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
        size_t k = j;
        while (k < n && isDigit(text[k])) ++k;
        if (k > j) end = k;
    }
    return end;
}

/// The numeric value of a group: false (field unchanged) when the value has no leading
/// number, or one beyond the range of a double, so that every field stays finite.
bool readDxfNumber(const std::string& value, double& out) {
    const size_t length = numberPrefixLength(value);
    if (length == 0) return false;
    const double v = std::strtod(value.substr(0, length).c_str(), nullptr);
    if (!std::isfinite(v)) return false;
    out = v;
    return true;
}

/// The closed bit (value 1) of the leading base-10 integer of a flags value, 0 when there
/// is none. Only the parity of the integer matters, so it is read from its last digit and
/// never overflows.
bool readClosedFlag(const std::string& value) {
    size_t i = 0;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) ++i;
    char last = '0';
    while (i < value.size() && isDigit(value[i])) last = value[i++];
    return ((last - '0') & 1) != 0;
}

/// A whole base-10 group code in the 32-bit range.
bool parseGroupCode(const std::string& code, int32_t& out) {
    size_t i = 0;
    bool negative = false;
    if (i < code.size() && (code[i] == '+' || code[i] == '-')) negative = code[i++] == '-';
    if (i == code.size()) return false;
    int64_t magnitude = 0;
    for (; i < code.size(); ++i) {
        if (!isDigit(code[i])) return false;
        magnitude = magnitude * 10 + (code[i] - '0');
        if (magnitude > 2147483648LL) return false;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) return false;
    out = static_cast<int32_t>(value);
    return true;
}

/// Charges `count` points to the budget; false (and `exceeded`) when they do not fit or
/// the count is not a number.
bool chargePoints(DxfPointBudget& budget, double count) {
    if (!(count <= static_cast<double>(budget.remaining))) {
        budget.exceeded = true;
        return false;
    }
    budget.remaining -= static_cast<int64_t>(count);
    return true;
}

bool isFinitePoint(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

bool isFiniteLoop(const DxfLoop& loop) {
    return std::all_of(loop.begin(), loop.end(), isFinitePoint);
}

bool isFiniteSegment(const DxfSegment& s) {
    return isFinitePoint(s.start) && isFinitePoint(s.end) && isFiniteLoop(s.interior);
}

/// Reads the x, y, z groups 10+k, 20+k, 30+k of a point (k = 0 or 1); true when the
/// pair's code was one of them.
bool readPointGroup(const DxfPair& pair, int32_t k, Point3& p) {
    double* field = nullptr;
    if (pair.code == 10 + k) field = &p.x;
    if (pair.code == 20 + k) field = &p.y;
    if (pair.code == 30 + k) field = &p.z;
    if (field == nullptr) return false;
    readDxfNumber(pair.value, *field);
    return true;
}

bool pointsMatch(const Point3& a, const Point3& b, double toleranceSquared) {
    const double dx = a.x - b.x;
    const double dy = a.y - b.y;
    const double dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz <= toleranceSquared;
}

// Chaining looks up free segment ends near a chain's last point in a uniform grid of square
// cells in x and y, 64 join tolerances wide, each point placed by q = coordinate / width +
// 0.5 (so that points on round coordinates sit mid-cell). A matching point differs from
// the query by at most 1/64 of a cell along each axis, plus the rounding of q, which stays
// below 2^-8 while |q| < 2^44; so a match lies in the query's own cell, or in a neighbour
// only where the query is within 1/32 of a cell's edge. Every cell keeps its ends in
// increasing segment order, so the first free match of a cell is its lowest-index one, and
// the lowest over the searched cells is the lowest in the whole list: the result equals a
// search of the whole list from the first segment, without its quadratic cost.

constexpr double kCellsPerTolerance = 1.0 / 64.0;
constexpr double kNearCellEdge = 1.0 / 32.0;
/// Beyond +-2^44 cells, coordinates are clamped to the outermost cell: far-away points
/// merge there, which costs only time.
constexpr double kCellClamp = 17592186044416.0;

struct CellKey {
    int64_t x, y;
    bool operator==(const CellKey& o) const { return x == o.x && y == o.y; }
};

uint64_t mixBits(uint64_t h) {
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBULL;
    return h ^ (h >> 31);
}

uint64_t cellHash(const CellKey& k) { return mixBits(mixBits(static_cast<uint64_t>(k.x)) ^ static_cast<uint64_t>(k.y)); }

/// The ends of one cell: ends[begin, end) of the grid; those before `head` belong to used segments.
struct EndCell {
    CellKey key;
    size_t begin = 0;
    size_t end = 0;
    size_t head = 0;
};

/// Segment ends sorted by cell, then by segment; the cells found through an
/// open-addressing index (slots hold a cell index, or -1 when empty).
struct EndGrid {
    double width = 1.0;
    std::vector<int64_t> ends; ///< segment index * 2 + (0 for its start, 1 for its end)
    std::vector<EndCell> cells;
    std::vector<int64_t> slots;
};

/// The cell of a coordinate along one axis, and the range of cells that may hold a point
/// matching it: [first, last] (first = cell - 1 or last = cell + 1 near an edge).
void axisCells(double value, double width, int64_t& cell, int64_t& first, int64_t& last) {
    const double q = value / width + 0.5;
    if (!(q > -kCellClamp)) {
        cell = first = last = -static_cast<int64_t>(kCellClamp);
        return;
    }
    if (q >= kCellClamp) {
        cell = first = last = static_cast<int64_t>(kCellClamp);
        return;
    }
    const double c = std::floor(q);
    cell = first = last = static_cast<int64_t>(c);
    if (q - c < kNearCellEdge) --first;
    if (q - c > 1.0 - kNearCellEdge) ++last;
}

CellKey cellOf(const Point3& p, double width) {
    CellKey key{0, 0};
    int64_t first = 0, last = 0;
    axisCells(p.x, width, key.x, first, last);
    axisCells(p.y, width, key.y, first, last);
    return key;
}

const Point3& segmentEnd(const std::vector<DxfSegment>& segments, int64_t end) {
    const DxfSegment& s = segments[static_cast<size_t>(end / 2)];
    return (end % 2 == 0) ? s.start : s.end;
}

EndGrid buildEndGrid(const std::vector<DxfSegment>& segments, double width) {
    EndGrid grid;
    grid.width = width;
    struct Placed {
        CellKey key;
        int64_t end;
    };
    std::vector<Placed> placed;
    placed.reserve(segments.size() * 2);
    for (size_t j = 0; j < segments.size(); ++j) {
        const int64_t start = static_cast<int64_t>(j) * 2;
        placed.push_back(Placed{cellOf(segments[j].start, width), start});
        placed.push_back(Placed{cellOf(segments[j].end, width), start + 1});
    }
    std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        if (a.key.x != b.key.x) return a.key.x < b.key.x;
        if (a.key.y != b.key.y) return a.key.y < b.key.y;
        return a.end < b.end;
    });
    grid.ends.reserve(placed.size());
    for (size_t i = 0; i < placed.size(); ++i) {
        if (i == 0 || !(placed[i].key == placed[i - 1].key)) {
            grid.cells.push_back(EndCell{placed[i].key, i, i, i});
        }
        grid.ends.push_back(placed[i].end);
        grid.cells.back().end = i + 1;
    }
    size_t slotCount = 16;
    while (slotCount < grid.cells.size() * 2) slotCount *= 2;
    grid.slots.assign(slotCount, -1);
    for (size_t c = 0; c < grid.cells.size(); ++c) {
        size_t slot = static_cast<size_t>(cellHash(grid.cells[c].key)) & (slotCount - 1);
        while (grid.slots[slot] >= 0) slot = (slot + 1) & (slotCount - 1);
        grid.slots[slot] = static_cast<int64_t>(c);
    }
    return grid;
}

EndCell* findCell(EndGrid& grid, const CellKey& key) {
    const size_t mask = grid.slots.size() - 1;
    for (size_t slot = static_cast<size_t>(cellHash(key)) & mask; grid.slots[slot] >= 0; slot = (slot + 1) & mask) {
        EndCell& cell = grid.cells[static_cast<size_t>(grid.slots[slot])];
        if (cell.key == key) return &cell;
    }
    return nullptr;
}

/// The lowest index of a free segment with an end matching `point`, or -1.
int64_t lowestMatchingFreeSegment(EndGrid& grid, const std::vector<DxfSegment>& segments,
                                  const std::vector<char>& used, const Point3& point, double toleranceSquared) {
    int64_t cx = 0, x0 = 0, x1 = 0, cy = 0, y0 = 0, y1 = 0;
    axisCells(point.x, grid.width, cx, x0, x1);
    axisCells(point.y, grid.width, cy, y0, y1);
    int64_t best = -1;
    for (int64_t x = x0; x <= x1; ++x) {
        for (int64_t y = y0; y <= y1; ++y) {
            EndCell* cell = findCell(grid, CellKey{x, y});
            if (cell == nullptr) continue;
            while (cell->head < cell->end && used[static_cast<size_t>(grid.ends[cell->head] / 2)]) ++cell->head;
            for (size_t k = cell->head; k < cell->end; ++k) {
                const int64_t segment = grid.ends[k] / 2;
                if (best >= 0 && segment >= best) break;
                if (used[static_cast<size_t>(segment)]) continue;
                if (pointsMatch(segmentEnd(segments, grid.ends[k]), point, toleranceSquared)) {
                    best = segment;
                    break;
                }
            }
        }
    }
    return best;
}

}  // namespace

std::string trimDxfText(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isDxfSpace(text[begin])) ++begin;
    while (end > begin && isDxfSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool readDxfPairs(const std::string& text, std::vector<DxfPair>& pairs, std::string& error) {
    pairs.clear();
    // Line k runs from starts[k] up to its line feed (or the end of the text).
    std::vector<size_t> starts;
    std::vector<size_t> ends;
    size_t begin = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            starts.push_back(begin);
            ends.push_back(i);
            begin = i + 1;
        }
    }
    auto blank = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            if (!isDxfSpace(text[i])) return false;
        }
        return true;
    };
    if (!blank(begin, text.size())) {
        starts.push_back(begin);
        ends.push_back(text.size());
    }
    while (!starts.empty() && blank(starts.back(), ends.back())) {
        starts.pop_back();
        ends.pop_back();
    }
    if (starts.size() % 2 != 0) {
        error = "malformed DXF: odd number of content lines (expected alternating group-code/value pairs)";
        return false;
    }
    auto trimmedLine = [&](size_t k) {
        size_t from = starts[k], to = ends[k];
        while (from < to && isDxfSpace(text[from])) ++from;
        while (to > from && isDxfSpace(text[to - 1])) --to;
        return text.substr(from, to - from);
    };
    pairs.reserve(starts.size() / 2);
    for (size_t k = 0; k < starts.size(); k += 2) {
        const std::string code = trimmedLine(k);
        DxfPair pair;
        if (!parseGroupCode(code, pair.code)) {
            pairs.clear();
            error = "malformed DXF: expected an integer group code, got '" + code + "' (line " +
                    std::to_string(k + 1) + ")";
            return false;
        }
        pair.value = trimmedLine(k + 1);
        pairs.push_back(std::move(pair));
    }
    return true;
}

double arcStepAngle(double radius, double tolerance) {
    const double sagitta = tolerance > 0.0 ? std::min(tolerance, 1.9 * radius) : 1.9 * radius;
    double c = 1.0 - sagitta / radius;
    if (c < -1.0) c = -1.0;
    if (c > 1.0) c = 1.0;
    return 2.0 * std::acos(c);
}

std::vector<Point3> bulgeArcPoints(const Point3& p1, const Point3& p2, double bulge, double z, double tolerance,
                                   DxfPointBudget& budget) {
    std::vector<Point3> points;
    const double dx = p2.x - p1.x;
    const double dy = p2.y - p1.y;
    const double d = std::sqrt(dx * dx + dy * dy);
    if (d < 1e-15 || std::fabs(bulge * d / 2.0) < 1e-15) return points;
    const double theta = 4.0 * std::atan(bulge);
    // The centre lies on the chord's bisector, h to the left of p1 -> p2 (right when h < 0).
    const double h = (d / 2.0) * (1.0 - bulge * bulge) / (2.0 * bulge);
    const double cx = (p1.x + p2.x) / 2.0 + h * (-dy / d);
    const double cy = (p1.y + p2.y) / 2.0 + h * (dx / d);
    const double rx = p1.x - cx;
    const double ry = p1.y - cy;
    const double radius = std::sqrt(rx * rx + ry * ry);
    // A bulge so flat that its centre is out of range is a straight edge.
    if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(radius)) return points;
    const double a0 = std::atan2(ry, rx);
    const double want = std::ceil(std::fabs(theta) / arcStepAngle(radius, tolerance));
    if (!chargePoints(budget, (want < 1.0 ? 1.0 : want) - 1.0)) return points;
    const int64_t n = std::max<int64_t>(1, static_cast<int64_t>(want));
    points.reserve(static_cast<size_t>(n - 1));
    for (int64_t i = 1; i < n; ++i) {
        const double a = a0 + (static_cast<double>(i) / static_cast<double>(n)) * theta;
        points.push_back(Point3{cx + radius * std::cos(a), cy + radius * std::sin(a), z});
    }
    return points;
}

DxfLoop readLwPolyline(const std::vector<DxfPair>& pairs, size_t& cursor, const DxfImportOptions& options,
                       DxfPointBudget& budget) {
    struct Vertex {
        double x = 0.0, y = 0.0, bulge = 0.0;
    };
    std::vector<Vertex> vertices;
    double elevation = 0.0;
    bool closed = false;
    for (; cursor < pairs.size() && pairs[cursor].code != 0; ++cursor) {
        const DxfPair& pair = pairs[cursor];
        double v = 0.0;
        switch (pair.code) {
            case 10:
                if (readDxfNumber(pair.value, v)) vertices.push_back(Vertex{v, 0.0, 0.0});
                break;
            case 20:
                if (!vertices.empty() && readDxfNumber(pair.value, v)) vertices.back().y = v;
                break;
            case 42:
                if (!vertices.empty() && readDxfNumber(pair.value, v)) vertices.back().bulge = v;
                break;
            case 38:  // taken even without a number: the elevation is then 0
                readDxfNumber(pair.value, v);
                elevation = v;
                break;
            case 70:
                closed = readClosedFlag(pair.value);
                break;
            default:
                break;
        }
    }
    DxfLoop loop;
    if (!closed) return loop;
    const size_t n = vertices.size();
    if (n < 2) return loop;
    if (n == 2 && vertices[0].bulge == 0.0 && vertices[1].bulge == 0.0) return loop;
    if (!chargePoints(budget, static_cast<double>(n))) return loop;
    loop.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const Vertex& a = vertices[i];
        const Point3 p{a.x, a.y, elevation};
        loop.push_back(p);
        if (a.bulge != 0.0) {
            const Vertex& b = vertices[(i + 1) % n];
            const std::vector<Point3> arc =
                bulgeArcPoints(p, Point3{b.x, b.y, elevation}, a.bulge, elevation, options.arcTolerance, budget);
            if (budget.exceeded) return DxfLoop();
            loop.insert(loop.end(), arc.begin(), arc.end());
        }
    }
    return loop;
}

DxfLoop readCircle(const std::vector<DxfPair>& pairs, size_t& cursor, const DxfImportOptions& options,
                   DxfPointBudget& budget) {
    Point3 centre;
    double radius = -1.0;
    for (; cursor < pairs.size() && pairs[cursor].code != 0; ++cursor) {
        const DxfPair& pair = pairs[cursor];
        if (readPointGroup(pair, 0, centre)) continue;
        if (pair.code == 40) readDxfNumber(pair.value, radius);
    }
    DxfLoop loop;
    if (!(radius > 0.0)) return loop;
    const double want = std::ceil(kTwoPi / arcStepAngle(radius, options.arcTolerance));
    if (!chargePoints(budget, want < 3.0 ? 3.0 : want)) return loop;
    const int64_t n = std::max<int64_t>(3, static_cast<int64_t>(want));
    loop.reserve(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        const double a = kTwoPi * static_cast<double>(i) / static_cast<double>(n);
        loop.push_back(Point3{centre.x + radius * std::cos(a), centre.y + radius * std::sin(a), centre.z});
    }
    return loop;
}

DxfSegment readLine(const std::vector<DxfPair>& pairs, size_t& cursor, DxfPointBudget& budget) {
    DxfSegment segment;
    for (; cursor < pairs.size() && pairs[cursor].code != 0; ++cursor) {
        if (!readPointGroup(pairs[cursor], 0, segment.start)) readPointGroup(pairs[cursor], 1, segment.end);
    }
    chargePoints(budget, 2.0);
    return segment;
}

bool readArc(const std::vector<DxfPair>& pairs, size_t& cursor, const DxfImportOptions& options,
             DxfPointBudget& budget, DxfSegment& segment) {
    Point3 centre;
    double radius = -1.0;
    double startDeg = 0.0;
    double endDeg = 0.0;
    for (; cursor < pairs.size() && pairs[cursor].code != 0; ++cursor) {
        const DxfPair& pair = pairs[cursor];
        if (readPointGroup(pair, 0, centre)) continue;
        if (pair.code == 40) readDxfNumber(pair.value, radius);
        if (pair.code == 50) readDxfNumber(pair.value, startDeg);
        if (pair.code == 51) readDxfNumber(pair.value, endDeg);
    }
    if (!(radius > 0.0)) return false;
    const double a0 = startDeg * (kPi / 180.0);
    double sweep = (endDeg - startDeg) * (kPi / 180.0);
    // Counter-clockwise from the start angle: lift the sweep by whole turns until positive.
    for (int turns = 0; sweep <= 0.0; ++turns) {
        if (turns == kMaxSweepTurns) return false;
        sweep += kTwoPi;
    }
    if (!std::isfinite(a0) || !std::isfinite(sweep)) return false;
    const double want = std::ceil(sweep / arcStepAngle(radius, options.arcTolerance));
    if (!chargePoints(budget, (want < 1.0 ? 1.0 : want) + 1.0)) return false;
    const int64_t n = std::max<int64_t>(1, static_cast<int64_t>(want));
    segment = DxfSegment();
    segment.start = Point3{centre.x + radius * std::cos(a0), centre.y + radius * std::sin(a0), centre.z};
    segment.end = Point3{centre.x + radius * std::cos(a0 + sweep), centre.y + radius * std::sin(a0 + sweep), centre.z};
    segment.interior.reserve(static_cast<size_t>(n - 1));
    for (int64_t i = 1; i < n; ++i) {
        const double a = a0 + (static_cast<double>(i) / static_cast<double>(n)) * sweep;
        segment.interior.push_back(Point3{centre.x + radius * std::cos(a), centre.y + radius * std::sin(a), centre.z});
    }
    return true;
}

std::vector<DxfLoop> chainSegments(const std::vector<DxfSegment>& segments, double joinTolerance) {
    std::vector<DxfLoop> loops;
    const double toleranceSquared = joinTolerance * joinTolerance;
    // Without a positive tolerance only equal points match, and equal points share a cell.
    EndGrid grid = buildEndGrid(segments, joinTolerance > 0.0 ? joinTolerance / kCellsPerTolerance : 1.0);
    std::vector<char> used(segments.size(), 0);
    for (size_t first = 0; first < segments.size(); ++first) {
        if (used[first]) continue;
        used[first] = 1;
        const DxfSegment& s = segments[first];
        DxfLoop chain;
        chain.push_back(s.start);
        chain.insert(chain.end(), s.interior.begin(), s.interior.end());
        chain.push_back(s.end);
        bool closed = false;
        while (true) {
            const Point3 last = chain.back();
            if (pointsMatch(last, chain.front(), toleranceSquared)) {
                closed = true;
                break;
            }
            const int64_t j = lowestMatchingFreeSegment(grid, segments, used, last, toleranceSquared);
            if (j < 0) break;
            const DxfSegment& next = segments[static_cast<size_t>(j)];
            if (pointsMatch(next.start, last, toleranceSquared)) {
                chain.insert(chain.end(), next.interior.begin(), next.interior.end());
                chain.push_back(next.end);
            } else {
                chain.insert(chain.end(), next.interior.rbegin(), next.interior.rend());
                chain.push_back(next.start);
            }
            used[static_cast<size_t>(j)] = 1;
        }
        if (!closed || chain.size() < 4) continue;
        chain.pop_back();
        loops.push_back(std::move(chain));
    }
    return loops;
}

double signedAreaXY(const DxfLoop& loop) {
    double sum = 0.0;
    const size_t n = loop.size();
    for (size_t i = 0; i < n; ++i) {
        const Point3& a = loop[i];
        const Point3& b = loop[(i + 1) % n];
        sum += a.x * b.y - b.x * a.y;
    }
    return sum / 2.0;
}

DxfBoundary readDxfBoundary(const std::string& text, const DxfImportOptions& options) {
    DxfBoundary result;
    std::vector<DxfPair> pairs;
    if (!readDxfPairs(text, pairs, result.error)) return result;

    DxfPointBudget budget;
    std::vector<DxfLoop> loops;
    std::vector<DxfSegment> segments;
    size_t cursor = 0;
    while (cursor < pairs.size()) {
        if (pairs[cursor].code != 0) {
            ++cursor;
            continue;
        }
        const std::string& name = pairs[cursor].value;
        ++cursor;
        if (name == "LWPOLYLINE" || name == "CIRCLE") {
            DxfLoop loop = name == "LWPOLYLINE" ? readLwPolyline(pairs, cursor, options, budget)
                                                : readCircle(pairs, cursor, options, budget);
            // Geometry pushed beyond the range of a double is unusable and skipped, and so is
            // a two-vertex polyline whose bulges are too flat to add a point: it bounds nothing.
            if (loop.size() >= 3 && isFiniteLoop(loop)) loops.push_back(std::move(loop));
        } else if (name == "LINE") {
            segments.push_back(readLine(pairs, cursor, budget));
        } else if (name == "ARC") {
            DxfSegment segment;
            if (readArc(pairs, cursor, options, budget, segment) && isFiniteSegment(segment)) {
                segments.push_back(std::move(segment));
            }
        }
        if (budget.exceeded) {
            result.error = kDxfTooManyPointsMessage;
            return result;
        }
    }

    std::vector<DxfLoop> chained = chainSegments(segments, options.joinTolerance);
    for (DxfLoop& loop : chained) loops.push_back(std::move(loop));
    if (loops.empty()) {
        result.error = "no closed LWPOLYLINE/CIRCLE entity and no closed chain of LINE/ARC entities found";
        return result;
    }

    size_t outer = 0;
    double largest = std::fabs(signedAreaXY(loops[0]));
    for (size_t i = 1; i < loops.size(); ++i) {
        const double area = std::fabs(signedAreaXY(loops[i]));
        if (area > largest) {
            largest = area;
            outer = i;
        }
    }
    result.outer = std::move(loops[outer]);
    for (size_t i = 0; i < loops.size(); ++i) {
        if (i != outer) result.holes.push_back(std::move(loops[i]));
    }
    result.ok = true;
    return result;
}
