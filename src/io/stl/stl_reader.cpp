#include "io/stl/stl_reader.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>

namespace {

// ---------------------------------------------------------------------------
// Binary STL: an 80-byte header, a little-endian 32-bit facet count, then 50-byte records
// (normal, three corners, attribute bytes).

uint32_t readLe32(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(text[at + i])); };
    return byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
}

double readLeFloat(const std::string& text, size_t at) {
    const uint32_t bits = readLe32(text, at);
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return static_cast<double>(value);
}

// ---------------------------------------------------------------------------
// ASCII STL: tokens separated by white space, read one at a time from a cursor.

struct Token {
    size_t start = 0;
    size_t length = 0;
};

bool isStlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

/// The next token from `pos` on; false at the end of the text.
bool nextToken(const std::string& text, size_t& pos, Token& token) {
    while (pos < text.size() && isStlSpace(text[pos])) ++pos;
    if (pos >= text.size()) return false;
    token.start = pos;
    while (pos < text.size() && !isStlSpace(text[pos])) ++pos;
    token.length = pos - token.start;
    return true;
}

/// Case-insensitive, exact in length; `keyword` is lower case.
bool isKeyword(const std::string& text, const Token& token, const char* keyword) {
    const size_t n = std::strlen(keyword);
    if (token.length != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char c = text[token.start + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != keyword[i]) return false;
    }
    return true;
}

/// strtod on the token: numeric when it consumes at least one character; the rest of the
/// token is ignored.
bool readNumberToken(const std::string& text, const Token& token, double& value) {
    const std::string copy = text.substr(token.start, token.length);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    return end != copy.c_str();
}

bool fail(StlSurface& result, const char* message) {
    result.ok = false;
    result.error = message;
    return false;
}

std::string tooManyFacets(int64_t maxFacets) {
    return "STL file has more than " + std::to_string(maxFacets) + " facets";
}

bool readAsciiFacets(const std::string& text, int64_t maxFacets, std::vector<StlRawFacet>& facets,
                     StlSurface& result) {
    size_t pos = 0;
    Token tok;
    if (!nextToken(text, pos, tok) || !isKeyword(text, tok, "solid")) {
        return fail(result, "malformed ASCII STL: expected the file to start with 'solid'");
    }
    // The solid's name: any number of tokens.
    bool have = false;
    while (nextToken(text, pos, tok)) {
        if (isKeyword(text, tok, "facet") || isKeyword(text, tok, "endsolid")) {
            have = true;
            break;
        }
    }
    while (have) {
        // "endsolid", or any other token, ends the file; what follows is never looked at.
        if (!isKeyword(text, tok, "facet")) break;
        Token t;
        if (!nextToken(text, pos, t) || !isKeyword(text, t, "normal")) {
            return fail(result, "malformed STL: expected 'normal' after 'facet'");
        }
        for (int i = 0; i < 3; ++i) {
            if (!nextToken(text, pos, t)) return fail(result, "malformed STL: truncated facet normal");
        }
        if (!nextToken(text, pos, t) || !isKeyword(text, t, "outer")) {
            return fail(result, "malformed STL: expected 'outer loop'");
        }
        if (!nextToken(text, pos, t) || !isKeyword(text, t, "loop")) {
            return fail(result, "malformed STL: expected 'loop' after 'outer'");
        }
        StlRawFacet facet;
        for (Point3& corner : facet.corner) {
            if (!nextToken(text, pos, t) || !isKeyword(text, t, "vertex")) {
                return fail(result, "malformed STL: expected 'vertex' in facet loop");
            }
            Token coord[3];
            for (Token& c : coord) {
                if (!nextToken(text, pos, c)) return fail(result, "malformed STL: truncated vertex coordinates");
            }
            double xyz[3] = {0.0, 0.0, 0.0};
            for (int i = 0; i < 3; ++i) {
                if (!readNumberToken(text, coord[i], xyz[i])) {
                    return fail(result, "malformed STL: non-numeric vertex coordinate");
                }
            }
            corner = Point3{xyz[0], xyz[1], xyz[2]};
        }
        if (!nextToken(text, pos, t) || !isKeyword(text, t, "endloop")) {
            return fail(result, "malformed STL: expected 'endloop'");
        }
        if (!nextToken(text, pos, t) || !isKeyword(text, t, "endfacet")) {
            return fail(result, "malformed STL: expected 'endfacet'");
        }
        if (static_cast<int64_t>(facets.size()) >= maxFacets) {
            result.error = tooManyFacets(maxFacets);
            return false;
        }
        facets.push_back(facet);
        have = nextToken(text, pos, tok);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Welding.

struct CellKey {
    int64_t x = 0;
    int64_t y = 0;
    int64_t z = 0;
    bool operator==(const CellKey& o) const { return x == o.x && y == o.y && z == o.z; }
};

struct CellKeyHash {
    size_t operator()(const CellKey& k) const {
        // 64-bit wrap-around arithmetic, done unsigned.
        const uint64_t h = (static_cast<uint64_t>(k.x) * 73856093u) ^ (static_cast<uint64_t>(k.y) * 19349663u) ^
                           (static_cast<uint64_t>(k.z) * 83492791u);
        return static_cast<size_t>(h);
    }
};

}  // namespace

bool isBinaryStl(const std::string& text) {
    if (text.size() < 84) return false;
    const uint64_t count = readLe32(text, 80);
    return static_cast<uint64_t>(text.size()) == 84 + 50 * count;
}

int64_t weldCell(double value, double tolerance) {
    const double q = value / tolerance;
    // Every double in [-2^63, 2^63) rounds into the 64-bit range; NaN fails both tests.
    if (!(q >= -9223372036854775808.0 && q < 9223372036854775808.0)) return 0;
    return static_cast<int64_t>(std::llround(q));
}

StlSurface weldAndCheck(const std::vector<StlRawFacet>& facets, double weldTolerance) {
    StlSurface surface;
    if (facets.empty()) {
        surface.error = "STL file has no facets";
        return surface;
    }

    std::unordered_map<CellKey, int64_t, CellKeyHash> cells;  // looked up only, never iterated
    cells.reserve(facets.size() * 3);
    for (const StlRawFacet& f : facets) {
        int64_t index[3] = {0, 0, 0};
        for (int c = 0; c < 3; ++c) {
            const Point3& p = f.corner[c];
            const CellKey key{weldCell(p.x, weldTolerance), weldCell(p.y, weldTolerance), weldCell(p.z, weldTolerance)};
            auto found = cells.find(key);
            if (found != cells.end()) {
                index[c] = found->second;
            } else {
                index[c] = static_cast<int64_t>(surface.points.size());
                surface.points.push_back(p);
                cells.emplace(key, index[c]);
            }
        }
        if (index[0] == index[1] || index[1] == index[2] || index[0] == index[2]) continue;  // collapsed
        surface.triangles.push_back(Facet{{index[0], index[1], index[2]}});
        surface.triangleNumbers.push_back(static_cast<int64_t>(&f - facets.data()) + 1);
    }

    // Every edge must be used exactly once in each direction.
    std::map<std::pair<int64_t, int64_t>, int32_t> edgeCount;
    for (const Facet& t : surface.triangles) {
        for (int e = 0; e < 3; ++e) ++edgeCount[{t.v[e], t.v[(e + 1) % 3]}];
    }
    surface.watertight = true;
    for (const Facet& t : surface.triangles) {
        for (int e = 0; e < 3 && surface.watertight; ++e) {
            const int64_t u = t.v[e];
            const int64_t v = t.v[(e + 1) % 3];
            const auto reverse = edgeCount.find({v, u});
            if (edgeCount.at({u, v}) != 1 || reverse == edgeCount.end() || reverse->second != 1) {
                surface.watertight = false;
            }
        }
        if (!surface.watertight) break;
    }
    surface.ok = true;
    return surface;
}

StlSurface readStl(const std::string& text, double weldTolerance) {
    return readStl(text, weldTolerance, kMaxStlFacets);
}

StlSurface readStl(const std::string& text, double weldTolerance, int64_t maxFacets) {
    StlSurface result;
    std::vector<StlRawFacet> facets;
    if (isBinaryStl(text)) {
        const uint64_t count = readLe32(text, 80);
        if (maxFacets < 0 || count > static_cast<uint64_t>(maxFacets)) {
            result.error = tooManyFacets(maxFacets);
            return result;
        }
        facets.reserve(static_cast<size_t>(count));
        for (uint64_t i = 0; i < count; ++i) {
            const size_t record = static_cast<size_t>(84 + 50 * i);
            StlRawFacet f;
            for (int c = 0; c < 3; ++c) {
                const size_t at = record + 12 + 12 * static_cast<size_t>(c);
                f.corner[c] = Point3{readLeFloat(text, at), readLeFloat(text, at + 4), readLeFloat(text, at + 8)};
            }
            facets.push_back(f);
        }
    } else if (!readAsciiFacets(text, maxFacets, facets, result)) {
        return result;
    }
    return weldAndCheck(facets, weldTolerance);
}
