#include "io/stl/stl_reader.hpp"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

namespace {

struct Tri {
    Point3 a, b, c;
};

std::string asciiStl(const std::vector<Tri>& tris, const std::string& name = "part") {
    std::string s = "solid " + name + "\n";
    auto vertex = [](const Point3& p) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "      vertex %.17g %.17g %.17g\n", p.x, p.y, p.z);
        return std::string(buf);
    };
    for (const Tri& t : tris) {
        s += "  facet normal 0 0 0\n    outer loop\n" + vertex(t.a) + vertex(t.b) + vertex(t.c) +
             "    endloop\n  endfacet\n";
    }
    return s + "endsolid " + name + "\n";
}

void appendLe32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void appendFloat(std::string& s, float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    appendLe32(s, bits);
}

std::string binaryStl(const std::vector<Tri>& tris, const std::string& header = "binary") {
    std::string s = header;
    s.resize(80, ' ');
    appendLe32(s, static_cast<uint32_t>(tris.size()));
    for (const Tri& t : tris) {
        for (int i = 0; i < 3; ++i) appendFloat(s, 0.0f);
        for (const Point3& p : {t.a, t.b, t.c}) {
            appendFloat(s, static_cast<float>(p.x));
            appendFloat(s, static_cast<float>(p.y));
            appendFloat(s, static_cast<float>(p.z));
        }
        s += "\x01\x02";
    }
    return s;
}

/// The corner tetrahedron, outward.
std::vector<Tri> tetrahedron() {
    const Point3 o{0, 0, 0}, x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
    return {{o, y, x}, {o, x, z}, {x, y, z}, {o, z, y}};
}

/// The unit cube as twelve outward triangles.
std::vector<Tri> cube() {
    const Point3 p[8] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    const int f[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                          {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    std::vector<Tri> out;
    for (const auto& t : f) out.push_back({p[t[0]], p[t[1]], p[t[2]]});
    return out;
}

std::vector<std::array<int64_t, 3>> indices(const StlSurface& s) {
    std::vector<std::array<int64_t, 3>> out;
    for (const Facet& f : s.triangles) out.push_back(f.v);
    return out;
}

const char* const kFacet = "facet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0 0 vertex 0 1 0 endloop endfacet ";

TEST(ReadStl, AsciiTetrahedronIsClosed) {
    const StlSurface s = readStl(asciiStl(tetrahedron()), 1e-9);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(s.points.size(), 4u);
    // Points in order of first appearance, corners in file order.
    const std::vector<std::array<int64_t, 3>> expected = {{0, 1, 2}, {0, 2, 3}, {2, 1, 3}, {0, 3, 1}};
    EXPECT_EQ(indices(s), expected);
    EXPECT_EQ(s.points[1].y, 1.0);
    EXPECT_TRUE(s.watertight);
}

TEST(ReadStl, WatertightTestNeedsEveryEdgeOnceEachWay) {
    std::vector<Tri> reversed = tetrahedron();
    std::swap(reversed[2].b, reversed[2].c);
    const StlSurface r = readStl(asciiStl(reversed), 1e-9);
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.watertight);

    std::vector<Tri> open = cube();
    open.erase(open.begin() + 7);
    const StlSurface o = readStl(asciiStl(open), 1e-9);
    ASSERT_TRUE(o.ok);
    EXPECT_FALSE(o.watertight);

    EXPECT_TRUE(readStl(asciiStl(cube()), 1e-9).watertight);

    // A third triangle on an edge: non-manifold.
    std::vector<Tri> fin = cube();
    fin.push_back({{0, 0, 0}, {1, 0, 0}, {0.5, -1, 0.5}});
    fin.push_back({{1, 0, 0}, {0, 0, 0}, {0.5, -1, 0.5}});
    EXPECT_FALSE(readStl(asciiStl(fin), 1e-9).watertight);
}

TEST(ReadStl, WeldingRoundsToCellsWithoutLookingAtNeighbours) {
    const double t = 0.1;
    // 0.049 and 0.051 round to cells 0 and 1: two points although only 0.002 apart.
    std::vector<Tri> tris = {{{0.049, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0.051, 0, 0}, {1, 0.04, 0}, {0, 1, 1}}};
    const StlSurface s = readStl(asciiStl(tris), t);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.points.size(), 5u);  // (1, 0.04, 0) welds to (1, 0, 0)
    EXPECT_EQ(indices(s), (std::vector<std::array<int64_t, 3>>{{0, 1, 2}, {3, 1, 4}}));
    // The first corner of a cell keeps its own coordinates.
    EXPECT_EQ(s.points[1].y, 0.0);
    EXPECT_EQ(weldCell(0.049, t), 0);
    EXPECT_EQ(weldCell(0.051, t), 1);
    EXPECT_EQ(weldCell(-0.05, 0.1), -1);  // halves round away from zero: -0.5 -> -1
    EXPECT_EQ(weldCell(1.0, 0.0), 0);     // infinite quotient
    EXPECT_EQ(weldCell(0.0, 0.0), 0);     // NaN quotient
    EXPECT_EQ(weldCell(1e300, 1e-9), 0);  // beyond the 64-bit range
    EXPECT_EQ(weldCell(-1e18, 0.5), -2000000000000000000);
}

TEST(ReadStl, CollapsedFacetsAreDropped) {
    std::vector<Tri> tris = tetrahedron();
    tris.insert(tris.begin() + 1, Tri{{0, 0, 0}, {1e-12, 0, 0}, {0, 1, 0}});
    const StlSurface s = readStl(asciiStl(tris), 1e-9);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.triangles.size(), 4u);
    EXPECT_TRUE(s.watertight);

    // Tolerance 0: every corner goes to cell (0, 0, 0), every facet collapses, and the
    // empty surface counts as closed.
    const StlSurface zero = readStl(asciiStl(cube()), 0.0);
    ASSERT_TRUE(zero.ok);
    EXPECT_EQ(zero.points.size(), 1u);
    EXPECT_TRUE(zero.triangles.empty());
    EXPECT_TRUE(zero.watertight);
}

TEST(ReadStl, AsciiKeywordsAndNames) {
    std::string upper = asciiStl(tetrahedron());
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    EXPECT_TRUE(readStl(upper, 1e-9).watertight);
    EXPECT_TRUE(readStl("SoLiD " + std::string(kFacet) + "EndSolid", 1e-9).ok);
    // A name of several tokens; tabs, carriage returns and form feeds separate tokens.
    EXPECT_TRUE(readStl("solid my\tlittle\r\npart\f" + std::string(kFacet), 1e-9).ok);
    // No name, no endsolid: read to the end.
    const StlSurface bare = readStl("solid " + std::string(kFacet), 1e-9);
    ASSERT_TRUE(bare.ok);
    EXPECT_EQ(bare.triangles.size(), 1u);
    // Whatever follows endsolid (or any other token in place of "facet") is never read.
    const StlSurface tail = readStl("solid x " + std::string(kFacet) + "endsolid x facet normal garbage", 1e-9);
    ASSERT_TRUE(tail.ok);
    EXPECT_EQ(tail.triangles.size(), 1u);
    const StlSurface other = readStl("solid x " + std::string(kFacet) + "color 1 2 3 " + kFacet, 1e-9);
    ASSERT_TRUE(other.ok);
    EXPECT_EQ(other.triangles.size(), 1u);
}

TEST(ReadStl, AsciiMessages) {
    const std::string f = kFacet;
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"", "malformed ASCII STL: expected the file to start with 'solid'"},
        {"   \n", "malformed ASCII STL: expected the file to start with 'solid'"},
        {"solidworks " + f, "malformed ASCII STL: expected the file to start with 'solid'"},
        {"facet normal", "malformed ASCII STL: expected the file to start with 'solid'"},
        {"solid", "STL file has no facets"},
        {"solid name endsolid name", "STL file has no facets"},
        {"solid a b c", "STL file has no facets"},
        {"solid x facet", "malformed STL: expected 'normal' after 'facet'"},
        {"solid x facet norma 0 0 1", "malformed STL: expected 'normal' after 'facet'"},
        {"solid x facet normal 0 0", "malformed STL: truncated facet normal"},
        {"solid x facet normal a b c outer", "malformed STL: expected 'loop' after 'outer'"},
        {"solid x facet normal 0 0 1 inner loop", "malformed STL: expected 'outer loop'"},
        {"solid x facet normal 0 0 1", "malformed STL: expected 'outer loop'"},
        {"solid x facet normal 0 0 1 outer loops", "malformed STL: expected 'loop' after 'outer'"},
        {"solid x facet normal 0 0 1 outer loop", "malformed STL: expected 'vertex' in facet loop"},
        {"solid x facet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0", "malformed STL: truncated vertex coordinates"},
        {"solid x facet normal 0 0 1 outer loop vertex 0 0 0 vertex a 0", "malformed STL: truncated vertex coordinates"},
        {"solid x facet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 x 0",
         "malformed STL: non-numeric vertex coordinate"},
        {"solid x facet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0 0 vertex 0 1 0",
         "malformed STL: expected 'endloop'"},
        {"solid x facet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0 0 vertex 0 1 0 vertex 1 1 1",
         "malformed STL: expected 'endloop'"},
        {"solid x facet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0 0 vertex 0 1 0 endloop",
         "malformed STL: expected 'endfacet'"},
        {"solid x facet normal 0 0 1 outer loop vertex 0 0 0 vertex 1 0 0 vertex 0 1 0 endloop endsolid",
         "malformed STL: expected 'endfacet'"},
        {"solid x " + f + "facet normal 0 0 1 outer loop vertex 0 0 0 endloop", "malformed STL: expected 'vertex' in facet loop"},
    };
    for (const auto& c : cases) {
        const StlSurface s = readStl(c.text, 1e-9);
        EXPECT_FALSE(s.ok) << c.text;
        EXPECT_EQ(s.error, c.error) << c.text;
        EXPECT_TRUE(s.points.empty());
        EXPECT_TRUE(s.triangles.empty());
    }
}

TEST(ReadStl, NumericTokensReadAsFarAsTheConversionGoes) {
    auto firstX = [](const std::string& token) {
        const std::string text =
            "solid x facet normal 0 0 1 outer loop vertex " + token + " 0 0 vertex 5 0 0 vertex 0 5 0 endloop endfacet";
        const StlSurface s = readStl(text, 1e-9);
        EXPECT_TRUE(s.ok) << token << ": " << s.error;
        return s.ok ? s.points[0].x : -12345.0;
    };
    EXPECT_EQ(firstX("1.5abc"), 1.5);
    EXPECT_EQ(firstX("+2e1"), 20.0);
    EXPECT_EQ(firstX("-.25"), -0.25);
    EXPECT_EQ(firstX("1e"), 1.0);
    EXPECT_EQ(firstX("0x1p3"), 8.0);
    EXPECT_EQ(firstX("3,75"), 3.0);
    EXPECT_TRUE(std::isinf(firstX("inf")));
    EXPECT_TRUE(std::isinf(firstX("-Infinity")));
    EXPECT_TRUE(std::isnan(firstX("nan")));
    for (const char* bad : {"x1", "-", ".", "e5", "+-1", "--1"}) {
        const std::string text =
            std::string("solid x facet normal 0 0 1 outer loop vertex ") + bad + " 0 0 vertex 5 0 0 vertex 0 5 0 endloop endfacet";
        EXPECT_EQ(readStl(text, 1e-9).error, "malformed STL: non-numeric vertex coordinate") << bad;
    }
}

TEST(ReadStl, BinaryIsChosenByLengthAlone) {
    const StlSurface s = readStl(binaryStl(tetrahedron()), 1e-9);
    ASSERT_TRUE(s.ok) << s.error;
    EXPECT_EQ(s.points.size(), 4u);
    EXPECT_EQ(s.triangles.size(), 4u);
    EXPECT_TRUE(s.watertight);

    // A header beginning with "solid" does not make it ASCII.
    const std::string solidHeader = binaryStl(cube(), "solid cube");
    EXPECT_TRUE(isBinaryStl(solidHeader));
    EXPECT_TRUE(readStl(solidHeader, 1e-9).watertight);

    // Corners are single-precision floats widened to double.
    const StlSurface f = readStl(binaryStl({{{0.1, 0, 0}, {1, 0, 0}, {0, 1, 0}}}), 1e-9);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.points[0].x, static_cast<double>(0.1f));

    // One byte more or less than 84 + 50 N: treated as ASCII.
    std::string longer = binaryStl(tetrahedron()) + " ";
    EXPECT_FALSE(isBinaryStl(longer));
    EXPECT_EQ(readStl(longer, 1e-9).error, "malformed ASCII STL: expected the file to start with 'solid'");
    std::string shorter = binaryStl(tetrahedron());
    shorter.pop_back();
    EXPECT_EQ(readStl(shorter, 1e-9).error, "malformed ASCII STL: expected the file to start with 'solid'");

    // An empty binary file: 84 bytes, count 0.
    EXPECT_EQ(readStl(binaryStl({}), 1e-9).error, "STL file has no facets");
}

TEST(ReadStl, FacetCountIsBounded) {
    const std::string ascii = asciiStl(cube());
    EXPECT_TRUE(readStl(ascii, 1e-9, 12).ok);
    EXPECT_EQ(readStl(ascii, 1e-9, 11).error, "STL file has more than 11 facets");
    const std::string binary = binaryStl(cube());
    EXPECT_TRUE(readStl(binary, 1e-9, 12).ok);
    EXPECT_EQ(readStl(binary, 1e-9, 11).error, "STL file has more than 11 facets");
    EXPECT_EQ(kMaxStlFacets, 500000);
}

TEST(ReadStl, EveryPrefixAndCorruptionEndsCleanly) {
    // Truncated texts: either an error, or (cut right after an "endfacet") a partial read.
    const std::string ascii = asciiStl(cube());
    for (size_t n = 0; n < ascii.size(); ++n) {
        const StlSurface s = readStl(ascii.substr(0, n), 1e-9);
        if (s.ok) {
            EXPECT_LE(s.triangles.size(), 12u);
        } else {
            EXPECT_FALSE(s.error.empty());
        }
    }
    const std::string binary = binaryStl(cube());
    for (size_t n = 0; n < binary.size(); n += 7) {
        const StlSurface s = readStl(binary.substr(0, n), 1e-9);
        EXPECT_FALSE(s.ok);  // never 84 + 50 N bytes with the count of the cube
    }
    // Bytes flipped one at a time, NUL bytes included.
    for (size_t i = 0; i < ascii.size(); i += 3) {
        std::string bad = ascii;
        bad[i] = (i % 2 == 0) ? '\0' : '#';
        const StlSurface s = readStl(bad, 1e-9);
        EXPECT_TRUE(s.ok || !s.error.empty());
    }
    // A binary count that promises more records than the text holds is ASCII by length.
    std::string lying = binaryStl(cube());
    lying[80] = static_cast<char>(0xff);
    lying[83] = static_cast<char>(0x7f);
    EXPECT_EQ(readStl(lying, 1e-9).error, "malformed ASCII STL: expected the file to start with 'solid'");
}

}  // namespace
