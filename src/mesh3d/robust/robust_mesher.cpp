#include "mesh3d/robust/robust_mesher.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <set>

#include "geom/predicates.hpp"
#include "mesh3d/robust/facet_delaunay.hpp"
#include "mesh3d/robust/tet_topology.hpp"
#include "mesh3d/tet_refine.hpp"
#include "mesh3d/vec3.hpp"

namespace {

using robust::CavityFace;
using robust::TetTopology;

/// Input angles below this (degrees) protect the cells at them from shape refinement.
constexpr double kSmallAngleDeg = 30.0;

/// How close, as a fraction of the distance from a vertex to the nearest corner of a
/// boundary piece it encroaches, the point that splits the piece may come to the vertices
/// of its cavity.
constexpr double kSettleSplitReach = 1e-4;

/// A free vertex's encroachment of a boundary piece is not settled by splitting a subsegment
/// (the piece's split point encroaches it) shorter than this fraction of the vertex's
/// distance to it. Next to the long needles of a turned part's sides, a free point 0.013
/// inside encroached the needles' huge equatorial spheres, and each split of a needle's
/// side left a needle as long beside it: the sides were split down to 4e-6 near one point,
/// 46,000 such splits for a handful of points, and 8 % of the mesh had a ratio above 1,000.
/// Generated shapes never settle a free point with a split below 0.003 of that distance.
constexpr double kFreeRedirectReach = 3e-3;

/// Nor, below this fraction of that distance, by splitting a subsegment away from the
/// piece's corners that the piece's circumcentre does not encroach. Such a circumcentre
/// lies far beyond the subsegment, past a nearly flat piece: in a needle 2 degrees wide the
/// pieces near the tip were fans from one corner to many points of the other side, and
/// each split of a short subsegment of the first side under a fan left the fan's next
/// piece, as flat, for the same free point, 500 to 1,000 times for each of a few points.
constexpr double kFreeAwayReach = 0.1;

/// The same for a vertex on the boundary, whose encroachment such splits settle more often
/// (it lies next to the pieces, across a thin wall or a small angle): on a disc 0.01 thick
/// under a fan of spokes 7.5 degrees apart, points of the top face's edges split the spokes
/// below them down to 2e-6 at up to 0.004 of their distance. At a tenth of the distance
/// the rule left 12 cells above the bound that it does not excuse on a turned and rounded
/// shape; at a hundredth it changes one generated shape of 1,600, for the better.
constexpr double kBoundaryAwayReach = 0.01;

/// How close, as a fraction of a shape-bad cell's shortest edge, the split point of a
/// subsegment its circumcentre encroaches may come to the vertices of its cavity.
constexpr double kSubsegmentSplitReach = 0.6;

/// How close refinement may come to an input corner, squared, as a fraction of the corner's
/// own scale squared (2^-12 of it: see belowCornerFloor). Fans of 9 to 11 spokes on a flat
/// face (corners of 33 to 40 degrees, not protected as small) otherwise drew refinement into
/// their centre without end: on 1,000 generated shapes, six cones and shafts ran down to
/// edges of 10^-8 and kept 10 cells above the bound there; with the floor none has cells
/// below a millionth of the part, they keep 2, and no other shape's counts change.
constexpr double kCornerFloor2 = 1.0 / (4096.0 * 4096.0);

/// A point for a cell left above the bound that changes no count of such cells goes in when
/// the worst ratio of its cavity drops below this fraction of the worst before.
constexpr double kPlateauDrop = 0.9;

/// The most cells a point tried for a cell left above the bound may replace. Near thin
/// layers a point's cavity can reach thousands of flat-ish cells with huge circumspheres;
/// growing those took most of the time on such shapes (8 of 11 s on one), and no point
/// with a cavity above this size was kept on any shape we measured.
constexpr size_t kCellsLeftCavityCap = 1024;

/// Local refinement around a cell left above the bound: the ball refined has this many
/// times the cell's longest edge for radius (measured with the first try alone: 1.5 left
/// 206 cells on the random shapes we measure, 3 left 204, 2 left 200)...
constexpr double kLocalRadius = 2.0;
/// ...and may add this many points (100 left 201 of 800 random shapes against 200 with
/// 300; later, on 1,600 random shapes, 300 points without the floor below left 301 cells,
/// and with it 1,000 left 281, 3,000 left 259 and 10,000 left 259 as well at a fifth more
/// time: next to a thin slab or a row of strip facets the neighbourhood needs points at the
/// feature's scale, several times as many as it has cells)...
constexpr int64_t kLocalPoints = 3000;
/// ...and keeps its points this far apart, times the shortest edge of the cell it is for.
/// Without a floor the try without the protection at small input angles cascades into the
/// corner it no longer protects and runs to the cap (up to 60 s on a shape meshed in 0.5
/// s). With 0.03 or 0.1 a slab 0.03 thick kept 28 or 22 cells (3 with 0.01); 0.005 left
/// 260 cells in all.
constexpr double kLocalFloor = 0.01;
/// ...and tries at most this many points (refineCell calls, whether a point goes in or
/// not). On 1,600 random shapes at the default bound the attempts kept made at most 3,731
/// tries; the 12 that made more (up to 13,042) ran out of their points and were undone, as
/// they are when stopped here. At a bound of 1.2 a shaft on a disc 0.01 thick made 79,679
/// tries for its 3,000 points next to facets cut into needles, 18 of its 18.5 s, and was
/// undone.
constexpr int64_t kLocalTries = 3 * kLocalPoints;
/// ...and stops sooner when its tries go round refusals: after the first kLocalTryStart
/// tries, at most kLocalTriesPerPoint per point it has placed. Next to a disc 0.01 thick
/// whose faces are fans of needles, an attempt made its 9,000 tries for 100 to 260 points
/// (2 to 9 s each, undone in the end); the attempts kept on 1,600 random shapes made at
/// most 2.5 tries per point, and every mesh of those, of 400 more and of 200 at a bound of
/// 1.2 is the same with this.
constexpr int64_t kLocalTryStart = 300;
constexpr int64_t kLocalTriesPerPoint = 3;
/// ...and its points' cavities are at most this many cells. Its tries that are undone spend
/// most of their time growing cavities of hundreds of flat-ish cells next to thin layers: a
/// shaft meshed in 0.45 s with at most 300 points took 5.6 s with 3,000 and the cap of the
/// points for the cells left (1,024), and 2.8 s with this one, none of its tries kept. On 2,000 random
/// shapes every mesh has the same number of cells, and of cells above the bound, with
/// either cap; with 64 the thin slab keeps its 28 cells.
constexpr size_t kLocalCavityCap = 256;

/// Rounds of refinement around the cells left: a second round mends a cell left by a kept
/// attempt of the first on a few generated shapes (3 of 1,600 when the rounds came).
constexpr int kLocalRounds = 4;

/// Attempts of refinement around the cells left in one run, over every round and pass. Each
/// attempt is bounded, but their number is the number of cells left: a voxel solid with thin
/// layers placed at (10, 10, 10) in single precision left 450 cells after refinement, each
/// attempt there took 0.1 to 7 s, and the passes would have run for hours. The most any of
/// 2,900 generated shapes made is 72.
constexpr int kMaxLocalAttempts = 128;
/// The most splits of one input edge that opening a crease under one cell makes.
constexpr int kMaxCreaseSplits = 64;

/// The last polish of the Steiner points at cells above the bound (polishSteinerPoints):
/// rounds of moves and flips, and per point the steps of its search. Six rounds instead of
/// three took 1,600 generated shapes 18 % longer for 0.1 % fewer cells above the bound; two
/// rounds of 12 steps left 0.3 % more and one more cell the bound does not excuse.
constexpr int kPolishRounds = 3;
constexpr int kPolishSteps = 20;

/// Rounds of contractions and polish after the first of each (a contraction after the polish
/// took 5 more cells the bound does not excuse away on 1,600 generated shapes; later rounds
/// only lower a few cells above the bound).
constexpr int kContractionRounds = 4;

/// Passes of the work on the cells left after the first settling (the refinement around
/// them, the points for slivers, the contractions and polish), the second only when a cell
/// the bound does not excuse is left. The contractions reshape the neighbourhood of such a
/// cell, and a ball refined around it then is judged in new surroundings: over 2,900
/// generated shapes the cells left went from 16 to 8 with the second pass (fewer slivers
/// too); a third took none more away.
constexpr int kLeftPasses = 2;

/// Slivers by any measure. The refinement around a cell left is kept only when it leaves no
/// more cells above this ratio than before (without this test the cells left fell further,
/// 200 to 169, but such slivers grew by 157 over 800 shapes), and a point for a cell left
/// goes in only when it makes no more of them than it replaces (cavityImproves).
constexpr double kSliverRatio = 50.0;

/// Rounds of points for the slivers left after the refinement around the cells left
/// (addPointsForSlivers); four rounds took 7 % more slivers away for a sixth more time.
constexpr int kSliverRounds = 2;

/// Facets meant to lie in one plane often do not quite: a surface turned out of the axes
/// leaves the triangles of one flat face apart by the rounding of double precision (sines
/// of 1e-16 to 1e-13 between their normals), one written in single precision by 1e-8 to
/// 1e-7 and more on small triangles. Two facets sharing an edge count as one plane:
/// - for splitting an encroached piece of a coplanar neighbour first, when the sine is at
///   most kNearlyCoplanarSine (double rounding; at 1e-8, shapes rounded to single
///   precision kept 3.6 times the cells above the bound);
/// - for telling flat cells, when it is at most kFoldedCoplanarSine: a cell with its corners
///   on such facets is flat, or a cap over a fold of rounding size, whose circumsphere is
///   as large as the fold is flat, and flips and cavities keep it out. 1e-6 covers single
///   precision near the origin and lies far below any angle a tessellation means (a
///   sphere of 10^5 triangles bends 1e-2 per edge); 1e-5 left more cells above the bound.
///   A part away from the origin is rounded coarser against its size: there the sine may
///   also reach the tilt single-precision rounding can give each facet about the shared
///   edge (kFoldRoundingUnits times the unit roundoff of single precision, 2^-24, times
///   the input's largest coordinate, over the facet's height above the edge, summed over
///   the two), when no fold of the face so joined exceeds kFoldedRoundingSine, or when one
///   of its facets is large enough that rounding tilts it by at most kLargeFacetTiltSine
///   (the reach over its least height): such a facet fixes the face's plane, and strips
///   beside it, a thin layer's sides on a large face, fold against it by rounding alone, a
///   percent and more when 2e-4 wide at (10, 10, 10). Counted as folds, they kept cells
///   lying flat along the face by the ten thousand. A face of thin facets only (the narrow
///   side of a thin plate, folded by up to 3e-3) is not so joined: joined, such faces kept
///   more cells above the bound. The cap on a face's folds was 1e-4 at first; the sides of
///   a rod 0.02 across at (100, 100, 100), quads folded along their diagonals by 2 to
///   5e-4, then kept cells along the rod above the bound, with refinement down to 1e-4 on
///   a part meshed at 0.016 near the origin. The large facet's tilt was 1e-4 as well; a
///   voxel solid's side whose largest facet rounding tilts by 1.02e-4, with a strip beside
///   it folded by 2.5 degrees, kept 86 such cells.
constexpr double kNearlyCoplanarSine = 1e-10;
constexpr double kFoldedCoplanarSine = 1e-6;
constexpr double kFoldRoundingUnits = 4.0;
constexpr double kFoldedRoundingSine = 1e-3;
constexpr double kLargeFacetTiltSine = 2e-4;

/// A flat cell under a face folded by rounding may give way to a flat cell on that face up
/// to this many times worse by its ratio (flatWith). Both are flat sheets whose ratios
/// only the rounding sets, and the passes after refinement take such cells away. Held to
/// no worse (a factor of 1), the faces of a cavity on such a face were refused one after
/// another until nothing was left: at (100, 100, 100) most splits refinement asked for on
/// voxel solids with thin layers failed so, and the cells around them stayed above the
/// bound. Factors of 10 and 30 gave the same counts; 4 left more.
constexpr double kFlatJoinSlack = 10.0;

/// The height of a regular tetrahedron over its edge length, the square root of 2/3.
constexpr double kRegularHeight = 0.81649658092772603;

enum : uint8_t { kFree = 0, kCorner = 1, kOnEdge = 2, kOnFacet = 3 };

/// A facet edge or segment of the input, with the points along it.
struct InputEdge {
    int32_t a = 0, b = 0;        ///< vertex ids of its ends, a < b
    std::vector<int32_t> chain;  ///< vertex ids from a to b
    int32_t facetBegin = 0, facetEnd = 0;  ///< its facets in Run::edgeFacets
    double dihedralDeg = 180.0;
    /// A facet of the edge has a corner below the small angle at one of its ends: the edge
    /// is a side of that corner.
    bool sharpSide = false;
};

struct FacetInfo {
    int32_t corner[3];
    int32_t edge[3];  ///< edge[k] joins corner k and corner k+1
    std::vector<int32_t> interior;
    Point3 origin, u, v;  ///< plane frame
    double cornerDeg[3] = {180.0, 180.0, 180.0};  ///< its angle at each corner
    double minCornerDeg = 180.0;  ///< its smallest corner angle
    /// Its plane: the smallest facet id of the facets reached from it over edges whose two
    /// facets are coplanar (exact test).
    int32_t plane = 0;
    /// The same over edges whose two facets are coplanar or nearly so (kNearlyCoplanarSine),
    /// and over those whose fold is of single-precision rounding (kFoldedCoplanarSine).
    int32_t nearPlane = 0;
    int32_t foldedPlane = 0;
};

struct Span {
    const int32_t* begin = nullptr;
    const int32_t* end = nullptr;
};

struct FacetRange {
    int32_t begin = 0, end = 0;
};

/// The cells around vertices, each star in the order forStar visits it, for as long as the
/// cells do not change (TetTopology::version): the walk over a facet's pieces asks for the
/// same stars again and again (a piece at an input corner for that corner's whole star),
/// and so do the tries of one split after another that fail and leave the cells as they
/// were (next to the hub of a fan of needles, a star of thousands of cells each time). A
/// star asked for often is indexed by the cells' other corners.
struct StarLists {
    struct Star {
        std::vector<int32_t> slots;
        std::vector<std::pair<int32_t, int32_t>> byCorner;  ///< (other corner, place in slots), sorted
        int asked = 0;
    };
    std::map<int32_t, Star> stars;
    uint64_t version = 0;  ///< the topology's version the stars were listed at
};

/// A vertex smoothSteinerPoints left where it was: the cells' version and the count of
/// moves then, and whether with the compass search.
struct StayMark {
    uint64_t version = 0;
    uint64_t moves = 0;
    bool search = false;
    bool valid = false;
};

struct Run {
    TetTopology t;
    RobustTetParams params;
    /// Facet corners below this angle (degrees) leave every face at them, and every cell on
    /// such a face, above the ratio bound: asin(1 / (2 bound)) (excusedCorners).
    double forcedCornerDeg = 0;
    std::vector<uint8_t> kind;     ///< per vertex id
    std::vector<int32_t> feature;  ///< edge or facet id per vertex id
    std::vector<int32_t> prevV, nextV;  ///< per point on an input edge: its neighbours along it
    std::vector<InputEdge> edges;
    std::vector<int32_t> edgeFacets;
    std::vector<std::array<int32_t, 3>> cornerPairs;  ///< (a, b, edge) sorted, for corner-to-corner edges
    std::vector<int32_t> cornerFacetStart, cornerFacets;
    std::vector<int32_t> cornerEdgeStart, cornerEdges;
    /// The facets of every vertex in one place (facetsOf, asked for every face a cavity
    /// meets): each corner's list, then each input edge's, then each facet alone; a
    /// vertex's own range in it is kept beside its kind.
    std::vector<int32_t> facetLists;
    std::vector<FacetRange> facetRange;  ///< per vertex id: its facets in facetLists
    std::vector<double> cornerAngleDeg;
    std::vector<FacetInfo> facets;
    bool freeSegments = false;
    int32_t inputCount = 0;
    RobustTetMesh* out = nullptr;
    bool stopped = false;  ///< budget or point limit reached; out->error says which
    /// While a cell bad only by its shape is refined: its shortest edge, squared. No point
    /// added for it may come closer than that to a vertex it is joined to (0: no limit).
    double shapeMinEdge2 = 0;
    /// No point is added closer than this (squared) to a vertex it is joined to: 1e-9 of
    /// the input's extent, below which rounding decides where points lie (a circumcentre
    /// that close to a vertex starts a cascade of ever shorter edges).
    double minSpacing2 = 0;
    const char* phase = "boundary recovery";
    /// During refinement: the vertices added since their encroachment was last settled.
    std::vector<int32_t> fresh;
    /// Per entry of `fresh`: the cells its cavity lost to the star-shape rule (candidates
    /// for the boundary faces it encroaches beyond its star).
    std::vector<std::vector<int32_t>> freshShrunk;
    bool trackFresh = false;
    /// Boundary faces whose circumcentre lies outside their facet and which outlived the
    /// split of the subsegment the segment to it leaves the facet by: not split again that way.
    std::set<std::array<int32_t, 3>> stuckPieces;
    /// A piece of a coplanar facet is being split before a subsegment or facet point
    /// (splitCoplanarPieceFirst): the splits it makes do not look for such pieces again.
    bool inCoplanarSplit = false;
    /// Set while refinement puts the circumcentre of a cell bad by its shape from the second
    /// look on: the cells on the way from the cell to it join its cavity.
    bool wayIntoCavity = false;
    /// Set while points are added for the cells left after refinement: a point goes in
    /// only when its cavity's cells come out better (cavityImproves), and a boundary point
    /// causes no other split.
    bool onlyIfImproving = false;
    /// Set with `onlyIfImproving` while points are added for slivers (addPointsForSlivers):
    /// a point also makes no more cells above kSliverRatio than it replaces.
    bool noMoreSlivers = false;
    /// The most cells a cavity may have (kCellsLeftCavityCap while points are added for the
    /// cells left).
    size_t cavityCap = SIZE_MAX;
    /// Set while the neighbourhood of a cell left is refined (refineAroundCellsLeft): only
    /// cells with their centroid in this ball are refined for their shape (cells above
    /// max_volume everywhere), without the shortest-edge rule.
    bool local = false;
    /// Set with `local` for the second try: points on one facet, or on one side, of a facet
    /// corner below the small angle do not protect each other.
    bool localLoose = false;
    Point3 localCentre{0, 0, 0};
    double localRadius2 = 0;
    /// With `local`: the points tried (refineCell) so far; refinement stops at kLocalTries,
    /// or past kLocalTryStart at kLocalTriesPerPoint per point placed since localStart.
    int64_t localTries = 0;
    /// With `local`: the Steiner count when the local refinement began.
    int64_t localStart = 0;
    /// With `local`: no point comes closer to a vertex of its cavity than this (squared).
    double localFloor2 = 0;
    /// Set from quality refinement on, except while a cell above the volume bound is split:
    /// no point comes closer to an input corner it is joined to than the corner's floor
    /// (belowCornerFloor).
    bool cornerFloor = false;
    /// Per input point, squared, found when first needed (-1 before): its shortest input
    /// edge, and its distance to the nearest facet it is not a corner of.
    std::vector<double> cornerEdge2, cornerReach2;
    /// Steiner points contracted into a neighbour after refinement (in no cell, left out of
    /// the output).
    std::vector<int32_t> contracted;
    /// The stars listed since the cells last changed (currentStars).
    StarLists stars;
    /// Per vertex what smoothSteinerPoints found when it last left the vertex where it was
    /// (stayHolds): the same star gives the same answer, so it is not tried again.
    std::vector<StayMark> stays;
    /// Per vertex the count of moves (`moves`) when a point of its star last moved.
    std::vector<uint64_t> movedNear;
    uint64_t moves = 0;  ///< the points smoothSteinerPoints has moved
    int localAttempts = 0;  ///< the refinements around cells left made so far (kMaxLocalAttempts)
    /// Counts the changes to the cells that the topology's version does not: a point moved
    /// (or tried somewhere and put back), a cell taken out of the solid.
    uint64_t reshaped = 0;
    /// The cells of the solid above a ratio, as cellsAboveBound listed them last.
    struct CellsAbove {
        bool listed = false;
        uint64_t version = 0, reshaped = 0;
        double above = 0;
        std::vector<std::pair<int32_t, double>> cells;  ///< slot and ratio, in slot order
    };
    mutable CellsAbove cellsAbove;
};

/// The run's star lists, emptied first when the cells changed since they were listed.
StarLists& currentStars(Run& r) {
    if (r.stars.version != r.t.version) {
        r.stars.stars.clear();
        r.stars.version = r.t.version;
    }
    return r.stars;
}

Span facetsOf(const Run& r, int32_t v) {
    const FacetRange range = r.facetRange[static_cast<size_t>(v)];
    const int32_t* lists = r.facetLists.data();
    return Span{lists + range.begin, lists + range.end};
}

/// The range in Run::facetLists of a vertex of this kind on this feature.
FacetRange facetRangeOf(const Run& r, uint8_t kind, int32_t feature) {
    const int32_t corners = static_cast<int32_t>(r.cornerFacets.size());
    const int32_t edges = static_cast<int32_t>(r.edgeFacets.size());
    switch (kind) {
        case kCorner: {
            const int32_t i = feature - 4;
            return FacetRange{r.cornerFacetStart[i], r.cornerFacetStart[i + 1]};
        }
        case kOnEdge: {
            const InputEdge& e = r.edges[feature];
            return FacetRange{corners + e.facetBegin, corners + e.facetEnd};
        }
        case kOnFacet:
            return FacetRange{corners + edges + feature, corners + edges + feature + 1};
        default:
            return FacetRange{};
    }
}

bool onFacet(const Run& r, int32_t v, int32_t f) {
    if (r.kind[v] == kOnFacet) return r.feature[v] == f;
    const Span s = facetsOf(r, v);
    return std::binary_search(s.begin, s.end, f);
}

/// Whether all three vertices lie on one input edge: a face with such corners is a sliver
/// along the edge (its corners are collinear up to rounding), not a piece of a facet.
bool onOneEdge(const Run& r, int32_t a, int32_t b, int32_t c) {
    const int32_t ids[3] = {a, b, c};
    int32_t e = -1;
    for (const int32_t v : ids) {
        if (r.kind[v] == kOnEdge) e = r.feature[v];
    }
    if (e < 0) return false;  // an edge has two corners, so one of three lies inside it
    const InputEdge& edge = r.edges[e];
    for (const int32_t v : ids) {
        const bool on = r.kind[v] == kOnEdge ? r.feature[v] == e : (v == edge.a || v == edge.b);
        if (!on) return false;
    }
    return true;
}

/// The facet holding all three vertices, or -1: a face with such corners lies in the
/// (convex) facet, so it is a piece of the boundary, unless they lie on one edge of it.
/// Two facets of a clean complex meet at most in an edge, so the facet is unique: a vertex
/// inside a facet names it, otherwise the vertex with the fewest facets is searched from.
/// (Asked for every face a cavity meets, so the cheap answers come first.)
int32_t commonFacet(const Run& r, int32_t a, int32_t b, int32_t c) {
    const int32_t ids[3] = {a, b, c};
    int32_t inFacet = -1;
    for (const int32_t v : ids) {
        if (r.kind[v] == kFree) return -1;
        if (r.kind[v] != kOnFacet) continue;
        if (inFacet >= 0 && r.feature[v] != inFacet) return -1;
        inFacet = r.feature[v];
    }
    if (inFacet >= 0) {
        // A vertex inside a facet lies on no input edge, so the three are not on one.
        for (const int32_t v : ids) {
            if (r.kind[v] != kOnFacet && !onFacet(r, v, inFacet)) return -1;
        }
        return inFacet;
    }
    const Span spans[3] = {facetsOf(r, a), facetsOf(r, b), facetsOf(r, c)};
    int first = 0;
    for (int k = 1; k < 3; ++k) {
        if (spans[k].end - spans[k].begin < spans[first].end - spans[first].begin) first = k;
    }
    const int32_t u = ids[(first + 1) % 3], w = ids[(first + 2) % 3];
    for (const int32_t* f = spans[first].begin; f != spans[first].end; ++f) {
        if (onFacet(r, u, *f) && onFacet(r, w, *f)) return onOneEdge(r, a, b, c) ? -1 : *f;
    }
    return -1;
}

bool isBarrier(const Run& r, int32_t a, int32_t b, int32_t c) { return commonFacet(r, a, b, c) >= 0; }

/// Facet f's plane: exact (FacetInfo::plane) or to a fold of rounding size (foldedPlane).
int32_t planeOf(const Run& r, int32_t f, bool folded) {
    return folded ? r.facets[f].foldedPlane : r.facets[f].plane;
}

bool onPlane(const Run& r, int32_t v, int32_t plane, bool folded) {
    const Span s = facetsOf(r, v);
    for (const int32_t* f = s.begin; f != s.end; ++f) {
        if (planeOf(r, *f, folded) == plane) return true;
    }
    return false;
}

/// Whether d lies within 1e-10 of the longest edge from the plane of a, b, c, or a, b, c
/// are collinear: a cell of the four would have a volume of rounding size (points placed
/// symmetrically, as on the sides of a cone, are often exactly coplanar).
bool nearlyFlat(const Point3& a, const Point3& b, const Point3& c, const Point3& d) {
    const double twiceArea = length3(cross3(sub3(b, a), sub3(c, a)));
    if (!(twiceArea > 0)) return true;
    const double h = std::fabs(orient3d(a, b, c, d)) / twiceArea;
    const double longest2 = std::max({norm2(sub3(b, a)), norm2(sub3(c, a)), norm2(sub3(c, b)), norm2(sub3(d, a)),
                                      norm2(sub3(d, b)), norm2(sub3(d, c))});
    return h * h <= 1e-20 * longest2;
}

/// A cell's quality and the square of its longest edge, which flatShape needs too.
struct CellShape {
    TetQuality q;
    double longest2 = 0;
};

CellShape cellShape(const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3) {
    CellShape s;
    s.q = tetQuality(p0, p1, p2, p3);
    s.longest2 = std::max({norm2(sub3(p1, p0)), norm2(sub3(p2, p0)), norm2(sub3(p3, p0)), norm2(sub3(p2, p1)),
                           norm2(sub3(p3, p1)), norm2(sub3(p3, p2))});
    return s;
}

/// Whether a cell with corners p0..p3 and shape s is flat: no circumsphere could be
/// computed for it, or its volume is of rounding size, any corner within 1e-10 of the
/// longest edge from the plane of the other three (its circumsphere, if any, is then made
/// by rounding and may pass the ratio test; four points near one circle make a cell whose
/// ratio looks good while one corner lies far closer to the opposite face than the others).
bool flatShape(const CellShape& s, const Point3& p0, const Point3& p1, const Point3& p2, const Point3& p3) {
    if (s.q.radiusEdgeRatio == 0) return true;
    // Every corner lies 3V over the area of the opposite face from it, and a face whose
    // sides are at most the longest edge L has an area at most sqrt(3)/4 L^2: a cell with
    // V above 3e-11 L^3 has no corner within 2e-10 L of a face (the volume is computed in
    // floating point, far closer than that factor of 2 at that size), and most cells are
    // settled without the four tests below.
    if (s.q.volume > 3e-11 * s.longest2 * std::sqrt(s.longest2)) return false;
    return nearlyFlat(p0, p1, p2, p3) || nearlyFlat(p1, p2, p3, p0) || nearlyFlat(p2, p3, p0, p1) ||
           nearlyFlat(p3, p0, p1, p2);
}

/// Whether the four vertices lie on facets of one plane (exact, or `folded`).
bool onOnePlane(const Run& r, int32_t a, int32_t b, int32_t c, int32_t d, bool folded) {
    if (r.kind[a] == kFree || r.kind[b] == kFree || r.kind[c] == kFree || r.kind[d] == kFree) return false;
    const Span s = facetsOf(r, a);
    for (const int32_t* f = s.begin; f != s.end; ++f) {
        const int32_t plane = planeOf(r, *f, folded);
        bool seen = false;
        for (const int32_t* g = s.begin; g != f && !seen; ++g) seen = planeOf(r, *g, folded) == plane;
        if (seen) continue;
        if (onPlane(r, b, plane, folded) && onPlane(r, c, plane, folded) && onPlane(r, d, plane, folded)) return true;
    }
    return false;
}

/// Whether the four vertices lie on facets of one plane, to a fold of rounding size. A cell
/// with such corners is flat: only rounding (of points on the facets' edges, a diagonal of
/// a flat face split in two most often, or of the input's own coordinates) can give it a
/// volume, and its circumsphere is then huge.
bool flatCell(const Run& r, int32_t a, int32_t b, int32_t c, int32_t d) { return onOnePlane(r, a, b, c, d, true); }

double cellRatio(const Run& r, const std::array<int32_t, 4>& v);

/// Whether joining vertex vid to the cavity face cf would make a flat cell: a volume of
/// rounding size, or the rule of flatCell, unless the cavity cell whose face cf is lies on
/// that plane too and the cell made is at most kFlatJoinSlack times worse by its ratio.
/// Such cells lie under a face folded by rounding (a strip between large facets, its
/// corners moved by single precision); refused, the cells on their faces kept every point
/// off the cavities that hold them, and the split of a subsegment among them failed for
/// good (its cavity shrank to nothing), leaving the cells around it above the bound.
bool flatWith(const Run& r, const CavityFace& cf, int32_t vid) {
    if (nearlyFlat(r.t.pts[cf.a], r.t.pts[cf.b], r.t.pts[cf.c], r.t.pts[vid])) return true;
    if (!flatCell(r, cf.a, cf.b, cf.c, vid)) return false;
    const std::array<int32_t, 4>& v = r.t.cells[cf.owner >> 2].v;
    if (!flatCell(r, v[0], v[1], v[2], v[3])) return true;
    const double made = cellRatio(r, {cf.a, cf.b, cf.c, vid});
    return std::isinf(made) || made > kFlatJoinSlack * cellRatio(r, v);
}

/// The input edge whose chain has u and w next to each other, or -1.
int32_t subsegmentEdge(const Run& r, int32_t u, int32_t w) {
    if (r.kind[u] == kOnEdge) return (r.nextV[u] == w || r.prevV[u] == w) ? r.feature[u] : -1;
    if (r.kind[w] == kOnEdge) return (r.nextV[w] == u || r.prevV[w] == u) ? r.feature[w] : -1;
    if (r.kind[u] == kCorner && r.kind[w] == kCorner) {
        // The input edge joining two corners: from the shorter of their lists of edges (a
        // corner has a few; this look-up runs for every edge near every new vertex, and the
        // search of all corner pairs cost a tenth of a run on a finely tessellated sphere),
        // or, where both have many (fan centres), by that search.
        const int32_t i = u - 4, j = w - 4;
        const int32_t du = r.cornerEdgeStart[i + 1] - r.cornerEdgeStart[i];
        const int32_t dw = r.cornerEdgeStart[j + 1] - r.cornerEdgeStart[j];
        if (std::min(du, dw) <= 16) {
            const int32_t c = du <= dw ? i : j, other = du <= dw ? w : u;
            for (int32_t k = r.cornerEdgeStart[c]; k < r.cornerEdgeStart[c + 1]; ++k) {
                const InputEdge& e = r.edges[r.cornerEdges[k]];
                if (e.a == other || e.b == other) return e.chain.size() == 2 ? r.cornerEdges[k] : -1;
            }
            return -1;
        }
        const std::array<int32_t, 3> key{std::min(u, w), std::max(u, w), -1};
        auto it = std::lower_bound(r.cornerPairs.begin(), r.cornerPairs.end(), key);
        if (it == r.cornerPairs.end() || (*it)[0] != key[0] || (*it)[1] != key[1]) return -1;
        return r.edges[(*it)[2]].chain.size() == 2 ? (*it)[2] : -1;
    }
    return -1;
}

/// The position in the edge's chain of the subsegment (u, w), or -1.
int32_t chainPosition(const InputEdge& e, int32_t u, int32_t w) {
    for (size_t i = 0; i + 1 < e.chain.size(); ++i) {
        if ((e.chain[i] == u && e.chain[i + 1] == w) || (e.chain[i] == w && e.chain[i + 1] == u)) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

/// The point of facet fi's plane nearest q, through the plane's frame: a point computed
/// from others in three dimensions (an intersection with a face far from the points that
/// define it) can lie measurably off the plane; this one lies on it to rounding.
Point3 ontoFacetPlane(const FacetInfo& fi, const Point3& q) {
    const Point3 d = sub3(q, fi.origin);
    return add3(add3(fi.origin, scale3(fi.u, dot3(d, fi.u))), scale3(fi.v, dot3(d, fi.v)));
}

/// q moved along facet fi's normal onto its plane: the point of ontoFacetPlane up to
/// rounding, but a point the plane already holds exactly (as on a facet along the axes)
/// keeps its bits.
Point3 dropOntoFacetPlane(const FacetInfo& fi, const Point3& q) {
    const Point3 n = cross3(fi.u, fi.v);
    return sub3(q, scale3(n, dot3(sub3(q, fi.origin), n)));
}

Point3 triangleCircumcentre(const Point3& a, const Point3& b, const Point3& c, double& radius2) {
    const Point3 u = sub3(b, a);
    const Point3 w = sub3(c, a);
    const Point3 n = cross3(u, w);
    const double den = 2 * norm2(n);
    if (den == 0) {
        radius2 = 0;
        return a;
    }
    const Point3 offset = scale3(add3(scale3(cross3(w, n), norm2(u)), scale3(cross3(n, u), norm2(w))), 1.0 / den);
    radius2 = norm2(offset);
    return add3(a, offset);
}

bool inDiametralBall(const Point3& p, const Point3& a, const Point3& b) { return dot3(sub3(p, a), sub3(p, b)) < 0; }

/// Whether p lies strictly inside the equatorial sphere of the triangle (a, b, c): the
/// sphere through its corners centred on its circumcircle's centre.
bool inEquatorialBall(const Run& r, const Point3& p, int32_t a, int32_t b, int32_t c) {
    double radius2 = 0;
    const Point3 centre = triangleCircumcentre(r.t.pts[a], r.t.pts[b], r.t.pts[c], radius2);
    return radius2 > 0 && norm2(sub3(p, centre)) < radius2;
}

bool budgetLeft(Run& r) {
    if (r.stopped) return false;
    if (r.out->steinerCount >= r.params.maxSteinerPoints) {
        r.out->error = "the Steiner budget of " + std::to_string(r.params.maxSteinerPoints) +
                       " points (max_steiner_points) ran out during " + r.phase +
                       "; raise max_steiner_points, or max_volume or radius_edge_bound";
        r.stopped = true;
        return false;
    }
    if (static_cast<int64_t>(r.t.pts.size()) - 4 >= kMaxRobustPoints) {
        r.out->error = "the mesh needs more than " + std::to_string(kMaxRobustPoints) +
                       " points, the most the robust engine handles (raise max_volume or radius_edge_bound)";
        r.stopped = true;
        return false;
    }
    return true;
}

int32_t addVertex(Run& r, const Point3& p, uint8_t kind, int32_t feature) {
    r.kind.push_back(kind);
    r.feature.push_back(feature);
    r.facetRange.push_back(facetRangeOf(r, kind, feature));
    r.prevV.push_back(-1);
    r.nextV.push_back(-1);
    r.stays.emplace_back();
    r.movedNear.push_back(0);
    return robust::topologyAddVertex(r.t, p);
}

/// The first side of the boundary piece (sides ab, bc, ca) that is a subsegment whose
/// diametral ball holds p strictly inside: its edge id (ends in u, w), or -1.
int32_t encroachedPieceSide(const Run& r, const std::array<int32_t, 3>& piece, const Point3& p, int32_t& u,
                            int32_t& w) {
    for (int k = 0; k < 3; ++k) {
        const int32_t a = piece[k], b = piece[(k + 1) % 3];
        const int32_t edgeId = subsegmentEdge(r, a, b);
        if (edgeId >= 0 && inDiametralBall(p, r.t.pts[a], r.t.pts[b])) {
            u = a;
            w = b;
            return edgeId;
        }
    }
    return -1;
}

/// The first subsegment, over the barrier faces of the current cavity's boundary in order
/// and their edges ab, bc, ca, whose diametral ball holds p strictly inside: its edge id
/// (ends in u, w), or -1.
int32_t encroachedBarrierSubsegment(const Run& r, const Point3& p, int32_t& u, int32_t& w) {
    for (const CavityFace& cf : r.t.boundary) {
        if (cf.barrier == 0) continue;
        const int32_t edgeId = encroachedPieceSide(r, {cf.a, cf.b, cf.c}, p, u, w);
        if (edgeId >= 0) return edgeId;
    }
    return -1;
}

void dropVertex(Run& r) {
    r.kind.pop_back();
    r.feature.pop_back();
    r.facetRange.pop_back();
    r.prevV.pop_back();
    r.nextV.pop_back();
    r.t.pts.pop_back();
    r.t.vertexCell.pop_back();
    r.t.starVersion.resize(r.t.pts.size());
    r.stays.pop_back();
    r.movedNear.pop_back();
}

/// The squared distance from p to the triangle (a, b, c): to the nearest of its points.
double pointTriangleDistance2(const Point3& p, const Point3& a, const Point3& b, const Point3& c) {
    const Point3 ab = sub3(b, a), ac = sub3(c, a), ap = sub3(p, a);
    const double d1 = dot3(ab, ap), d2 = dot3(ac, ap);
    if (d1 <= 0 && d2 <= 0) return norm2(ap);
    const Point3 bp = sub3(p, b);
    const double d3 = dot3(ab, bp), d4 = dot3(ac, bp);
    if (d3 >= 0 && d4 <= d3) return norm2(bp);
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return norm2(sub3(p, add3(a, scale3(ab, d1 / (d1 - d3)))));
    const Point3 cp = sub3(p, c);
    const double d5 = dot3(ab, cp), d6 = dot3(ac, cp);
    if (d6 >= 0 && d5 <= d6) return norm2(cp);
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return norm2(sub3(p, add3(a, scale3(ac, d2 / (d2 - d6)))));
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0) {
        return norm2(sub3(p, add3(b, scale3(sub3(c, b), (d4 - d3) / ((d4 - d3) + (d5 - d6))))));
    }
    const double sum = va + vb + vc;
    return norm2(sub3(p, add3(add3(a, scale3(ab, vb / sum)), scale3(ac, vc / sum))));
}

/// Whether a point at squared distance d2 from input corner c lies below the corner's floor:
/// kCornerFloor2 of the smaller of its shortest input edge and its reach (its distance to the
/// nearest facet it is not a corner of), both squared. The reach is found only for a point
/// that close to the corner's shortest edge's scale, once per corner (a scan of the facets).
bool belowCornerFloor(Run& r, int32_t c, double d2) {
    const int32_t i = c - 4;
    if (r.cornerEdge2.empty()) {
        r.cornerEdge2.assign(static_cast<size_t>(r.inputCount), -1.0);
        r.cornerReach2.assign(static_cast<size_t>(r.inputCount), -1.0);
    }
    if (r.cornerEdge2[i] < 0) {
        double edge2 = std::numeric_limits<double>::infinity();
        for (int32_t k = r.cornerEdgeStart[i]; k < r.cornerEdgeStart[i + 1]; ++k) {
            const InputEdge& e = r.edges[r.cornerEdges[k]];
            edge2 = std::min(edge2, norm2(sub3(r.t.pts[e.a], r.t.pts[e.b])));
        }
        r.cornerEdge2[i] = edge2;
    }
    if (!(d2 < r.cornerEdge2[i] * kCornerFloor2)) return false;
    if (r.cornerReach2[i] < 0) {
        double reach2 = std::numeric_limits<double>::infinity();
        for (const FacetInfo& fi : r.facets) {
            if (fi.corner[0] == c || fi.corner[1] == c || fi.corner[2] == c) continue;
            reach2 = std::min(reach2, pointTriangleDistance2(r.t.pts[c], r.t.pts[fi.corner[0]], r.t.pts[fi.corner[1]],
                                                             r.t.pts[fi.corner[2]]));
        }
        r.cornerReach2[i] = reach2;
    }
    return d2 < r.cornerReach2[i] * kCornerFloor2;
}

/// Whether the new vertex would be joined to a vertex of its cavity by an edge shorter than
/// r.shapeMinEdge2 (or r.minSpacing2) allows. The circumcentre of a Delaunay cell above the ratio bound lies at
/// least its circumradius (more than the bound times its shortest edge) from every vertex,
/// so this refuses nothing there. It refuses the points that would start a cascade: next
/// to thin features (a strip facet, a thin triangle with a sharp corner, close parallel
/// facets) the cells are not Delaunay and their circumcentres, or the subsegment and face
/// splits they cause, land next to existing points; each such point makes shorter edges
/// whose cells are worse again, and the budget runs out. With the rule, refining a cell
/// for its shape never makes an edge shorter than the cell's own shortest edge. The local
/// refinement around a cell left drops the rule but keeps a floor of its own (localFloor2).
/// With r.cornerFloor, the vertex may not come below the floor of an input corner it is
/// joined to either (belowCornerFloor).
bool tooCloseToCavity(Run& r, int32_t vid) {
    const double limit2 = std::max(std::max(r.shapeMinEdge2, r.minSpacing2), r.local ? r.localFloor2 : 0.0);
    if (!(limit2 > 0) && !r.cornerFloor) return false;
    const Point3& p = r.t.pts[vid];
    for (const CavityFace& cf : r.t.boundary) {
        for (const int32_t v : {cf.a, cf.b, cf.c}) {
            const double d2 = norm2(sub3(p, r.t.pts[v]));
            if (d2 < limit2) return true;
            if (r.cornerFloor && r.kind[v] == kCorner && belowCornerFloor(r, v, d2)) return true;
        }
    }
    return false;
}

/// A flip: the cells it replaces and the cells it makes.
struct Flip {
    int32_t old[3] = {-1, -1, -1};
    int oldCount = 0;
    std::array<int32_t, 4> made[3];
    int madeCount = 0;
};

/// Face k of cell `slot`, corners a, b, c, apex d, and the cell m beyond it with apex e;
/// o[0..2] are the orientations of d against the planes through e and the face's edges
/// ab, bc, ca (all positive when the segment from d to e crosses the face). False when
/// there is no cell beyond or the face is a boundary face.
struct FlipFace {
    int32_t a, b, c, d, e, m;
    double o[3];
};

bool flipFace(const Run& r, int32_t slot, int k, FlipFace& ff) {
    const robust::TetTopology& t = r.t;
    const int32_t across = t.cells[slot].n[k];
    if (across < 0) return false;
    robust::faceOf(t, slot, k, ff.a, ff.b, ff.c);
    if (isBarrier(r, ff.a, ff.b, ff.c)) return false;
    ff.d = t.cells[slot].v[k];
    ff.m = across >> 2;
    ff.e = t.cells[ff.m].v[across & 3];
    const Point3 &pa = t.pts[ff.a], &pb = t.pts[ff.b], &pc = t.pts[ff.c], &pd = t.pts[ff.d], &pe = t.pts[ff.e];
    ff.o[0] = orient3d(pa, pb, pe, pd);
    ff.o[1] = orient3d(pb, pc, pe, pd);
    ff.o[2] = orient3d(pc, pa, pe, pd);
    return true;
}

/// The flip across face k of cell `slot` (apex d) with the cell beyond it (apex e):
/// two-to-three when the segment from d to e crosses the face, or three-to-two around a
/// reflex edge (u, w) of the face when the cells around it are the two and one more with
/// corners u, w, d, e. False when neither applies, or when the flip would remove a boundary
/// face or a subsegment, make a face on a facet, or make a flat cell.
bool flipAcross(const Run& r, int32_t slot, int k, Flip& f) {
    const robust::TetTopology& t = r.t;
    FlipFace ff;
    if (!flipFace(r, slot, k, ff)) return false;
    const int32_t a = ff.a, b = ff.b, c = ff.c, d = ff.d, e = ff.e, m = ff.m;
    const Point3 &pa = t.pts[a], &pb = t.pts[b], &pc = t.pts[c], &pd = t.pts[d], &pe = t.pts[e];
    const double oab = ff.o[0], obc = ff.o[1], oca = ff.o[2];
    if (oab > 0 && obc > 0 && oca > 0) {
        if (isBarrier(r, a, d, e) || isBarrier(r, b, d, e) || isBarrier(r, c, d, e)) return false;
        if (flatCell(r, a, b, e, d) || flatCell(r, b, c, e, d) || flatCell(r, c, a, e, d)) return false;
        if (nearlyFlat(pa, pb, pe, pd) || nearlyFlat(pb, pc, pe, pd) || nearlyFlat(pc, pa, pe, pd)) return false;
        f.old[0] = slot;
        f.old[1] = m;
        f.oldCount = 2;
        f.made[0] = {a, b, e, d};
        f.made[1] = {b, c, e, d};
        f.made[2] = {c, a, e, d};
        f.madeCount = 3;
        return true;
    }
    // One reflex edge (u, w) of the face, opposite corner x.
    int32_t u = -1, w = -1, x = -1;
    if (!(oab > 0) && obc > 0 && oca > 0) u = a, w = b, x = c;
    if (oab > 0 && !(obc > 0) && oca > 0) u = b, w = c, x = a;
    if (oab > 0 && obc > 0 && !(oca > 0)) u = c, w = a, x = b;
    if (u < 0 || subsegmentEdge(r, u, w) >= 0) return false;
    // The cell across the face opposite x (it holds u, w, d).
    int kx = 0;
    while (t.cells[slot].v[kx] != x) ++kx;
    const int32_t across3 = t.cells[slot].n[kx];
    if (across3 < 0) return false;
    const int32_t third = across3 >> 2;
    if (third == m || !robust::cellHas(t.cells[third], e)) return false;
    if (isBarrier(r, u, w, d) || isBarrier(r, u, w, e) || isBarrier(r, x, d, e)) return false;
    // The third cell must be the last one around (u, w): its face (u, w, e) meets m.
    bool closes = false;
    for (int j = 0; j < 4; ++j) {
        if (t.cells[third].v[j] != u && t.cells[third].v[j] != w && t.cells[third].v[j] != e) {
            closes = t.cells[third].n[j] >= 0 && (t.cells[third].n[j] >> 2) == m;
        }
    }
    if (!closes) return false;
    const double ou = orient3d(t.pts[x], pd, pe, t.pts[u]);
    const double ow = orient3d(t.pts[x], pd, pe, t.pts[w]);
    if (!((ou > 0 && ow < 0) || (ou < 0 && ow > 0))) return false;
    if (flatCell(r, x, d, e, u) || flatCell(r, x, d, e, w)) return false;
    if (nearlyFlat(t.pts[x], pd, pe, t.pts[u]) || nearlyFlat(t.pts[x], pd, pe, t.pts[w])) return false;
    f.old[0] = slot;
    f.old[1] = m;
    f.old[2] = third;
    f.oldCount = 3;
    f.made[0] = {x, d, e, u};
    f.made[1] = {x, d, e, w};
    if (ou < 0) std::swap(f.made[0][1], f.made[0][2]);
    if (ow < 0) std::swap(f.made[1][1], f.made[1][2]);
    f.madeCount = 2;
    return true;
}

/// The radius-edge ratio of a cell given by its corners; a flat cell (no circumsphere, or a
/// volume of rounding size) counts as infinitely bad.
double cellRatio(const Run& r, const std::array<int32_t, 4>& v) {
    const Point3 &p0 = r.t.pts[v[0]], &p1 = r.t.pts[v[1]], &p2 = r.t.pts[v[2]], &p3 = r.t.pts[v[3]];
    const CellShape s = cellShape(p0, p1, p2, p3);
    return flatShape(s, p0, p1, p2, p3) ? std::numeric_limits<double>::infinity() : s.q.radiusEdgeRatio;
}

/// The cells of the solid above the ratio bound or above kSliverRatio, whichever is lower,
/// with their ratios (flat cells infinite), in slot order. The passes after refinement scan
/// for them one after another, often over a mesh that has not changed in between (six
/// times over the same million cells of a fine cube): the list is kept, and made again once
/// the cells changed (the topology's version) or were reshaped (Run::reshaped). It must be
/// read before the mesh changes.
const std::vector<std::pair<int32_t, double>>& cellsAboveBound(const Run& r) {
    Run::CellsAbove& c = r.cellsAbove;
    const double above = std::min((1 + 1e-9) * r.params.radiusEdgeBound, kSliverRatio);
    if (c.listed && c.version == r.t.version && c.reshaped == r.reshaped && c.above == above) return c.cells;
    c.cells.clear();
    for (int32_t s = 0; s < static_cast<int32_t>(r.t.cells.size()); ++s) {
        if (r.t.alive[s] == 0 || r.t.inside[s] == 0) continue;
        const double q = cellRatio(r, r.t.cells[s].v);
        if (q > above) c.cells.push_back({s, q});
    }
    c.listed = true;
    c.version = r.t.version;
    c.reshaped = r.reshaped;
    c.above = above;
    return c.cells;
}

/// Whether a cell with corners v is above the volume bound.
bool overVolume(const Run& r, const std::array<int32_t, 4>& v) {
    return r.params.maxVolume > 0 &&
           unsignedTetVolume(r.t.pts[v[0]], r.t.pts[v[1]], r.t.pts[v[2]], r.t.pts[v[3]]) > r.params.maxVolume;
}

/// An edge removal: the ring of cells around an inner edge (u, w) replaced by two cells on
/// every triangle of a triangulation of the ring of vertices around it.
struct EdgeRemoval {
    static constexpr int kMaxRing = 7;
    int32_t old[kMaxRing];
    int oldCount = 0;
    std::array<int32_t, 4> made[2 * (kMaxRing - 2)];
    int madeCount = 0;
};

/// The edge removal of (u, w), the edge of cell `slot`, whose cells have the lowest worst
/// ratio (triangulations of the ring by dynamic programming). False when the edge is a
/// subsegment, lies on the boundary (a face around it is a boundary face or it meets the
/// hull), has more than kMaxRing cells around it, or no triangulation gives positively
/// oriented cells without a face on a facet or a flat cell. With keepA and keepB (two vertices of a ring of four), only the triangulation with the
/// diagonal between them.
bool edgeRemoval(const Run& r, int32_t slot, int32_t u, int32_t w, EdgeRemoval& er, int32_t keepA = -1,
                 int32_t keepB = -1) {
    if (subsegmentEdge(r, u, w) >= 0) return false;
    const robust::TetTopology& t = r.t;
    // The ring: from cell `slot` with corners u, w, p, q, across the face opposite p, and so on.
    int32_t ring[EdgeRemoval::kMaxRing];
    int n = 0;
    int32_t cur = slot;
    int32_t prev = -1;
    {
        const auto& v = t.cells[slot].v;
        for (const int32_t x : v) {
            if (x == u || x == w) continue;
            if (prev < 0) prev = x;
        }
    }
    for (;;) {
        if (n == EdgeRemoval::kMaxRing) return false;
        er.old[n] = cur;
        ring[n++] = prev;
        const auto& c = t.cells[cur];
        int32_t nextV = -1;
        int kOpp = -1;
        for (int k = 0; k < 4; ++k) {
            if (c.v[k] != u && c.v[k] != w && c.v[k] != prev) nextV = c.v[k];
            if (c.v[k] == prev) kOpp = k;
        }
        if (isBarrier(r, u, w, nextV)) return false;
        const int32_t across = c.n[kOpp];
        if (across < 0) return false;
        cur = across >> 2;
        prev = nextV;
        if (cur == slot) break;
    }
    if (n < 3 || (keepA >= 0 && n != 4)) return false;
    er.oldCount = n;
    if (!(orient3d(t.pts[u], t.pts[w], t.pts[ring[0]], t.pts[ring[1]]) > 0)) std::swap(u, w);
    // Cells on ring triangle (i, j, k): (ri, rj, rk, w) and (rj, ri, rk, u).
    const double inf = std::numeric_limits<double>::infinity();
    auto triangleCost = [&](int i, int j, int k) {
        const int32_t a = ring[i], b = ring[j], c = ring[k];
        if (keepA >= 0 && !((a == keepA || b == keepA || c == keepA) && (a == keepB || b == keepB || c == keepB))) return inf;
        if (!(orient3d(t.pts[a], t.pts[b], t.pts[c], t.pts[w]) > 0)) return inf;
        if (!(orient3d(t.pts[b], t.pts[a], t.pts[c], t.pts[u]) > 0)) return inf;
        if (isBarrier(r, a, b, c) || flatCell(r, a, b, c, w) || flatCell(r, b, a, c, u)) return inf;
        // The faces on the triangulation's diagonals.
        const int d[3][2] = {{i, j}, {j, k}, {i, k}};
        for (const auto& e : d) {
            if (e[1] - e[0] == 1 || (e[0] == 0 && e[1] == n - 1)) continue;
            if (isBarrier(r, u, ring[e[0]], ring[e[1]]) || isBarrier(r, w, ring[e[0]], ring[e[1]])) return inf;
        }
        const std::array<int32_t, 4> cw{a, b, c, w}, cu{b, a, c, u};
        if (overVolume(r, cw) || overVolume(r, cu)) return inf;
        return std::max(cellRatio(r, cw), cellRatio(r, cu));
    };
    constexpr int kN = EdgeRemoval::kMaxRing;
    double best[kN][kN];
    int split[kN][kN];
    for (int len = 1; len < n; ++len) {
        for (int i = 0; i + len < n; ++i) {
            const int j = i + len;
            best[i][j] = len == 1 ? 0.0 : inf;
            split[i][j] = -1;
            for (int k = i + 1; k < j; ++k) {
                const double c = std::max({best[i][k], best[k][j], triangleCost(i, k, j)});
                if (c < best[i][j]) {
                    best[i][j] = c;
                    split[i][j] = k;
                }
            }
        }
    }
    if (std::isinf(best[0][n - 1])) return false;
    er.madeCount = 0;
    int32_t todo[kN][2];
    int top = 0;
    todo[top][0] = 0;
    todo[top++][1] = n - 1;
    while (top > 0) {
        --top;
        const int i = todo[top][0], j = todo[top][1];
        if (j - i < 2) continue;
        const int k = split[i][j];
        er.made[er.madeCount++] = {ring[i], ring[k], ring[j], w};
        er.made[er.madeCount++] = {ring[k], ring[i], ring[j], u};
        todo[top][0] = i;
        todo[top++][1] = k;
        todo[top][0] = k;
        todo[top++][1] = j;
    }
    return true;
}

/// The four-to-four flip across face k of cell `slot` (apex d) with the cell beyond it (apex
/// e), when neither two-to-three nor three-to-two applies: a reflex edge (u, w) of the face
/// has four cells around it (its ring d, x, e, y) and they become the four cells around
/// the diagonal (d, e), which removes the face, when neither u nor w lies inside the
/// circumsphere of a cell made. The same refusals as edgeRemoval.
bool fourToFour(const Run& r, int32_t slot, int k, EdgeRemoval& er) {
    const robust::TetTopology& t = r.t;
    FlipFace ff;
    if (!flipFace(r, slot, k, ff)) return false;
    const int32_t ends[3][2] = {{ff.a, ff.b}, {ff.b, ff.c}, {ff.c, ff.a}};
    for (int i = 0; i < 3; ++i) {
        if (ff.o[i] > 0) continue;
        if (!edgeRemoval(r, slot, ends[i][0], ends[i][1], er, ff.d, ff.e)) continue;
        // Neither end of the edge removed may lie in a new cell's circumsphere: the flip
        // could be undone at once, and the two would alternate.
        bool clear = true;
        for (int j = 0; j < er.madeCount && clear; ++j) {
            const auto& m = er.made[j];
            for (const int32_t x : ends[i]) {
                if (insphere(t.pts[m[0]], t.pts[m[1]], t.pts[m[2]], t.pts[m[3]], t.pts[x]) > 0) clear = false;
            }
        }
        if (clear) return true;
    }
    return false;
}

/// Restores the Delaunay property among the cells next to the last commit by flips. A
/// cavity kept from conflicting cells (so that its point sees all of it) leaves cells whose
/// circumsphere holds a vertex of a neighbour across a face that is not boundary; their
/// circumcentres may lie anywhere, even outside the solid beyond faces they do not
/// encroach. Each such face is flipped two-to-three when the segment between the apexes
/// crosses it, or three-to-two when one of its edges has only the two cells and a third
/// around it and is not a subsegment, or four-to-four when such an edge has four (in thin
/// walls and discs, where points on both faces lie on input edges above one another, the
/// faces left so made slivers whose circumcentres lie far outside, beyond faces they do
/// not encroach); boundary faces and subsegments are never removed and
/// no new face lies on a facet. The flips' cells join r.t.created (which then lists each live
/// cell made once) and `flipped`.
void restoreDelaunay(Run& r, std::vector<int32_t>& flipped) {
    robust::TetTopology& t = r.t;
    const size_t committed = t.created.size();
    std::vector<std::pair<int32_t, int>> stack;
    for (const int32_t s : t.created) {
        for (int k = 0; k < 4; ++k) stack.push_back({s, k});
    }
    std::reverse(stack.begin(), stack.end());
    int64_t flipsLeft = 64 + 16 * static_cast<int64_t>(t.created.size());
    std::vector<int32_t> made;
    while (!stack.empty() && flipsLeft > 0) {
        const int32_t s = stack.back().first;
        const int k = stack.back().second;
        stack.pop_back();
        if (t.alive[s] == 0) continue;
        const int32_t across = t.cells[s].n[k];
        if (across < 0) continue;
        if (!robust::inConflict(t, s, t.pts[t.cells[across >> 2].v[across & 3]])) continue;
        Flip f;
        made.clear();
        if (flipAcross(r, s, k, f)) {
            if (!robust::replaceCells(t, f.old, f.oldCount, f.made, f.madeCount, made)) continue;
        } else {
            EdgeRemoval er;
            if (!fourToFour(r, s, k, er)) continue;
            if (!robust::replaceCells(t, er.old, er.oldCount, er.made, er.madeCount, made)) continue;
        }
        --flipsLeft;
        for (const int32_t n : made) {
            t.created.push_back(n);
            for (int j = 0; j < 4; ++j) stack.push_back({n, j});
        }
    }
    // The live cells of the flips go to `flipped`, each once; then r.t.created keeps each
    // live cell made once (a flip frees cells of the commit and reuses slots).
    const uint32_t listed = robust::nextMark(t);
    for (size_t i = committed; i < t.created.size(); ++i) {
        const int32_t s = t.created[i];
        if (t.alive[s] == 0 || t.mark[s] == listed) continue;
        t.mark[s] = listed;
        flipped.push_back(s);
    }
    const uint32_t seen = robust::nextMark(t);
    size_t kept = 0;
    for (size_t i = 0; i < t.created.size(); ++i) {
        const int32_t s = t.created[i];
        if (t.alive[s] == 0 || t.mark[s] == seen) continue;
        t.mark[s] = seen;
        t.created[kept++] = s;
    }
    t.created.resize(kept);
}

/// Commits the prepared cavity for the last added vertex; drops the vertex when that fails
/// or when the vertex is too close to its cavity's vertices for shape refinement.
bool commitOrDrop(Run& r, int32_t vid) {
    if (tooCloseToCavity(r, vid) || !robust::commitCavity(r.t, vid)) {
        dropVertex(r);
        return false;
    }
    ++r.out->steinerCount;
    if (!r.trackFresh) return true;
    r.fresh.push_back(vid);
    r.freshShrunk.push_back(r.t.shrunkAway);
    // A cavity that lost cells to the star-shape rule left them in conflict with the new
    // vertex. (Other insertions can leave a few such cells too, next to boundary faces;
    // flipping after every insertion measured worse on the test corpus.) The flips replace
    // cells the vertex's encroachment candidates may name: their cells join the candidates.
    if (!r.t.shrunkAway.empty()) restoreDelaunay(r, r.freshShrunk.back());
    return true;
}

// ---------------------------------------------------------------------------------------
// Splitting subsegments and boundary faces.

Point3 subsegmentSplitPoint(const Run& r, const InputEdge& e, int32_t i) {
    const int32_t s = e.chain[i];
    const int32_t w = e.chain[i + 1];
    const bool sCorner = i == 0;
    const bool wCorner = i + 2 == static_cast<int32_t>(e.chain.size());
    const Point3& ps = r.t.pts[s];
    const Point3& pw = r.t.pts[w];
    if (sCorner != wCorner) {
        // Concentric shells: the new point lies at a power-of-two distance from the corner.
        const Point3& corner = sCorner ? ps : pw;
        const Point3& other = sCorner ? pw : ps;
        const double length = length3(sub3(other, corner));
        const double d = std::ldexp(1.0, static_cast<int>(std::lround(std::log2(length * 0.5))));
        if (d > 0 && d < length && std::isfinite(d)) {
            return add3(corner, scale3(sub3(other, corner), d / length));
        }
    }
    return midpoint3(ps, pw);
}

/// Whether every vertex of the face lies on one facet of the edge.
bool faceOnEdgeFacets(const Run& r, const InputEdge& e, int32_t a, int32_t b, int32_t c) {
    for (int32_t k = e.facetBegin; k < e.facetEnd; ++k) {
        const int32_t f = r.edgeFacets[k];
        if (onFacet(r, a, f) && onFacet(r, b, f) && onFacet(r, c, f)) return true;
    }
    return false;
}

/// Calls f(slot) for the cells with the edge (v, w), in the order forStar(v) visits them;
/// stops early when f returns true.
template <typename F>
void forEdgeCells(Run& r, StarLists& lists, int32_t v, int32_t w, F&& f) {
    // An index costs a sort of the star's corners, a scan one pass over its cells: below a
    // dozen asks the scans cost less (next to a fan's hub, whose star of thousands of cells
    // is listed anew after every change, the sorts were a twentieth of the run).
    constexpr int kScansBeforeIndex = 12;
    const auto [found, added] = lists.stars.try_emplace(v);
    StarLists::Star& star = found->second;
    if (added) {
        robust::forStar(r.t, v, [&](int32_t s) {
            star.slots.push_back(s);
            return false;
        });
    }
    if (++star.asked <= kScansBeforeIndex) {
        for (const int32_t s : star.slots) {
            if (robust::cellHas(r.t.cells[s], w) && f(s)) return;
        }
        return;
    }
    if (star.byCorner.empty()) {
        for (size_t i = 0; i < star.slots.size(); ++i) {
            for (const int32_t x : r.t.cells[star.slots[i]].v) {
                if (x != v) star.byCorner.emplace_back(x, static_cast<int32_t>(i));
            }
        }
        std::sort(star.byCorner.begin(), star.byCorner.end());
    }
    auto it = std::lower_bound(star.byCorner.begin(), star.byCorner.end(), std::make_pair(w, int32_t{-1}));
    for (; it != star.byCorner.end() && it->first == w; ++it) {
        if (f(star.slots[static_cast<size_t>(it->second)])) return;
    }
}

/// Calls f(piece) with the sorted corners of every face (u, w, x) of the cells around the
/// edge (u, w) whose third corner x lies on facet `facet` and is not `exclude`: the pieces of
/// the facet along that edge (a face shared by two cells comes twice).
template <typename F>
void forFacetPiecesAlong(Run& r, StarLists& stars, int32_t facet, int32_t u, int32_t w, int32_t exclude, F&& f) {
    forEdgeCells(r, stars, u, w, [&](int32_t s) {
        for (const int32_t x : r.t.cells[s].v) {
            if (x == u || x == w || x == exclude || !onFacet(r, x, facet)) continue;
            std::array<int32_t, 3> piece{u, w, x};
            std::sort(piece.begin(), piece.end());
            f(piece);
        }
        return false;
    });
}

/// Adds to `seeds` the cells on the boundary faces of facet f that q conflicts with,
/// reached from the faces in `pieces` (sorted corner triples) over facet edges that are not
/// subsegments: the planar cavity of q on the facet. A point on a facet or on one of its
/// edges replaces those pieces of the facet, so the cells on them join its cavity; without
/// them a piece whose circumcircle holds the point would stay. Stops once `seeds` holds
/// more cells than a cavity may (r.cavityCap): the point cannot go in then, and next to a
/// facet cut into thin pieces the walk would otherwise cover the whole facet on every try.
void addFacetConflictSeeds(Run& r, int32_t f, const Point3& q, std::vector<std::array<int32_t, 3>> pieces,
                           std::vector<int32_t>& seeds) {
    // Membership in sets, order in the vectors (the seeds' order is the cavity's).
    std::set<std::array<int32_t, 3>> listed(pieces.begin(), pieces.end());
    std::set<int32_t> seeded(seeds.begin(), seeds.end());
    StarLists& stars = currentStars(r);
    for (size_t i = 0; i < pieces.size() && seeds.size() <= r.cavityCap; ++i) {
        const std::array<int32_t, 3> piece = pieces[i];
        bool conflict = false;
        // The cells on the piece (one on the hull, two inside the solid).
        forEdgeCells(r, stars, piece[0], piece[1], [&](int32_t s) {
            if (!robust::cellHas(r.t.cells[s], piece[2])) return false;
            if (robust::inConflict(r.t, s, q)) {
                conflict = true;
                if (seeded.insert(s).second) seeds.push_back(s);
            }
            return seeds.size() > r.cavityCap;
        });
        if (!conflict || seeds.size() > r.cavityCap) continue;
        for (int k = 0; k < 3; ++k) {
            const int32_t u = piece[k], w = piece[(k + 1) % 3], other = piece[(k + 2) % 3];
            if (subsegmentEdge(r, u, w) >= 0) continue;
            // The piece of f across the edge (u, w).
            forFacetPiecesAlong(r, stars, f, u, w, other, [&](const std::array<int32_t, 3>& next) {
                if (listed.insert(next).second) pieces.push_back(next);
            });
        }
    }
}

/// Whether facets f and g lie in one plane: joined as nearly coplanar over a chain of
/// shared edges, or g's plane holds every corner of f (exact test).
bool facetsCoplanar(const Run& r, int32_t f, int32_t g) {
    if (r.facets[f].nearPlane == r.facets[g].nearPlane) return true;
    const FacetInfo& fg = r.facets[g];
    for (const int32_t c : r.facets[f].corner) {
        if (orient3d(r.t.pts[fg.corner[0]], r.t.pts[fg.corner[1]], r.t.pts[fg.corner[2]], r.t.pts[c]) != 0) return false;
    }
    return true;
}

/// For a point added on a subsegment or inside a facet (vertex vid, its cavity grown, lying
/// on the facets [facets, facetsEnd)): the first boundary face of the cavity, other than the
/// pieces of those facets, that lies on a facet coplanar with one of them and whose
/// equatorial sphere holds the point. Every sphere through that piece's corners holds the
/// point (it lies in the piece's plane, inside its circumcircle), so no cell on the piece
/// can be Delaunay once the point is a vertex the cell sees: the mesh would not be
/// constrained Delaunay there (next to the diagonal of a flat face split in two, the usual
/// case in tessellated input). Pieces with corner `skipCorner0` or `skipCorner1` are left,
/// and so are pieces of facets with a corner below the small angle when `skipSharpFacets`.
/// False when there is none.
bool coplanarEncroachedPiece(const Run& r, int32_t vid, const int32_t* facets, const int32_t* facetsEnd,
                             int32_t skipCorner0, int32_t skipCorner1, bool skipSharpFacets,
                             std::array<int32_t, 3>& piece) {
    const Point3& p = r.t.pts[vid];
    for (const CavityFace& cf : r.t.boundary) {
        if (cf.barrier == 0 || cf.skip != 0) continue;
        const int32_t corners[3] = {cf.a, cf.b, cf.c};
        bool atCorner = false;
        for (const int32_t c : corners) atCorner = atCorner || c == skipCorner0 || c == skipCorner1;
        if (atCorner) continue;
        const int32_t g = commonFacet(r, cf.a, cf.b, cf.c);
        if (skipSharpFacets && r.facets[g].minCornerDeg < kSmallAngleDeg) continue;
        bool coplanar = false;
        for (const int32_t* f = facets; f != facetsEnd && !coplanar; ++f) coplanar = *f != g && facetsCoplanar(r, *f, g);
        if (!coplanar || !inEquatorialBall(r, p, cf.a, cf.b, cf.c)) continue;
        piece = {cf.a, cf.b, cf.c};
        return true;
    }
    return false;
}

/// coplanarEncroachedPiece for the split point of the subsegment (s, w) of edge e. Pieces at
/// an end corner of the subsegment with an angle below the small angle are left (two edges
/// meeting there would split each other's pieces down to the corner), and so is everything
/// when e lies inside a flat face and is a side of a small facet corner (a sliver triangle
/// between two coplanar facets: the splits would cross it back and forth without end).
bool coplanarPieceForSubsegment(const Run& r, const InputEdge& e, int32_t s, int32_t w, int32_t vid,
                                std::array<int32_t, 3>& piece) {
    if (e.sharpSide && e.dihedralDeg > 179) return false;
    auto sharpCorner = [&](int32_t v) { return r.kind[v] == kCorner && r.cornerAngleDeg[v - 4] < kSmallAngleDeg; };
    const int32_t* facets = r.edgeFacets.data();
    return coplanarEncroachedPiece(r, vid, facets + e.facetBegin, facets + e.facetEnd, sharpCorner(s) ? s : -1,
                                   sharpCorner(w) ? w : -1, false, piece);
}

bool splitSubface(Run& r, int32_t a, int32_t b, int32_t c, const Point3* at = nullptr,
                  const std::vector<int32_t>* through = nullptr, int32_t encroacher = -1);
bool cavityImproves(const Run& r, int32_t vid);
bool refineCell(Run& r, int32_t slot, const Point3& c, bool tooLarge, bool overFaces = false,
                const std::vector<int32_t>* through = nullptr);

/// Drops the point just added (its cavity held `piece`, a piece of a coplanar facet that it
/// encroaches) and splits the piece instead, without looking for such pieces again. True
/// when a point was added; nothing changed otherwise.
bool splitCoplanarPieceFirst(Run& r, const std::array<int32_t, 3>& piece) {
    dropVertex(r);
    r.inCoplanarSplit = true;
    const bool done = splitSubface(r, piece[0], piece[1], piece[2]);
    r.inCoplanarSplit = false;
    return done;
}

/// Puts vid, just committed between chain points i and i + 1 of input edge e, into the
/// chain and links it to its neighbours there.
void linkIntoChain(Run& r, InputEdge& e, int32_t i, int32_t vid) {
    const int32_t s = e.chain[i], w = e.chain[i + 1];
    e.chain.insert(e.chain.begin() + i + 1, vid);
    r.prevV[vid] = s;
    r.nextV[vid] = w;
    if (r.kind[s] == kOnEdge) r.nextV[s] = vid;
    if (r.kind[w] == kOnEdge) r.prevV[w] = vid;
    ++r.out->boundaryPoints;
}

/// Splits the subsegment at position i of edge e. `constrained`: cavities stop at boundary
/// faces other than those of the edge's own facets, and a piece of a coplanar facet that
/// the split point encroaches is split first (coplanarPieceForSubsegment; one level deep, and
/// when that split adds no point the subsegment is split as before).
bool splitSubsegment(Run& r, int32_t edgeId, int32_t i, bool constrained, bool coplanarFirst = true,
                     const Point3* at = nullptr) {
    if (i < 0 || !budgetLeft(r)) return false;
    InputEdge& e = r.edges[edgeId];
    const int32_t s = e.chain[i];
    const int32_t w = e.chain[i + 1];
    const Point3 q = at != nullptr ? *at : subsegmentSplitPoint(r, e, i);
    int32_t seed = robust::findEdgeCell(r.t, s, w);
    if (seed < 0) {
        if (constrained) return false;
        const robust::Location loc =
            robust::locatePoint(r.t, q, r.t.vertexCell[s], [](int32_t, int32_t, int32_t) { return false; });
        seed = loc.cell;
        if (seed < 0) return false;
    }
    std::vector<int32_t> seeds{seed};
    if (constrained) {
        // The pieces of the edge's facets along (s, w), and from them the facets' planar
        // cavities of q.
        StarLists& stars = currentStars(r);
        for (int32_t k = e.facetBegin; k < e.facetEnd; ++k) {
            const int32_t f = r.edgeFacets[k];
            std::vector<std::array<int32_t, 3>> pieces;
            forFacetPiecesAlong(r, stars, f, s, w, -1, [&](const std::array<int32_t, 3>& piece) {
                if (std::find(pieces.begin(), pieces.end(), piece) == pieces.end()) pieces.push_back(piece);
            });
            addFacetConflictSeeds(r, f, q, pieces, seeds);
        }
    }
    const int32_t vid = addVertex(r, q, kOnEdge, edgeId);
    const InputEdge& ce = r.edges[edgeId];
    const bool grown = robust::growCavity(
        r.t, q, seeds.data(), static_cast<int>(seeds.size()),
        [&](int32_t a, int32_t b, int32_t c) { return !constrained || !isBarrier(r, a, b, c) || faceOnEdgeFacets(r, ce, a, b, c); },
        constrained, r.cavityCap);
    bool shrunk = true;
    if (grown && constrained) {
        auto skip = [&](const CavityFace& cf) { return cf.outside < 0 && faceOnEdgeFacets(r, ce, cf.a, cf.b, cf.c); };
        for (CavityFace& cf : r.t.boundary) cf.skip = skip(cf) ? 1 : 0;
        std::array<int32_t, 3> piece{};
        if (coplanarFirst && !r.inCoplanarSplit && !r.onlyIfImproving && coplanarPieceForSubsegment(r, ce, s, w, vid, piece)) {
            const bool done = splitCoplanarPieceFirst(r, piece);
            if (done || r.stopped) return done;
            // Nothing changed: split the subsegment as before, its cavity kept to what q sees.
            return splitSubsegment(r, edgeId, i, constrained, false, at);
        }
        shrunk = robust::shrinkCavity(
            r.t, q, [&](int32_t a, int32_t b, int32_t c) { return !isBarrier(r, a, b, c) || faceOnEdgeFacets(r, ce, a, b, c); },
            skip, [&](const CavityFace& cf) { return flatWith(r, cf, vid); });
    }
    if (!shrunk || (r.onlyIfImproving && grown && r.t.lostBarriers.empty() && !cavityImproves(r, vid))) {
        dropVertex(r);
        return false;
    }
    if (!grown || !r.t.lostBarriers.empty() || !commitOrDrop(r, vid)) {
        if (grown && !r.t.lostBarriers.empty()) dropVertex(r);
        if (!grown) dropVertex(r);
        return false;
    }
    linkIntoChain(r, e, i, vid);
    return true;
}

/// The subsegment of facet f's edges whose diametral sphere holds q (the first in edge and
/// chain order), or, when q lies outside the facet, the subsegment by which the segment from
/// `from` (a point of the facet: the centroid of the piece whose circumcentre q is) to q
/// leaves the facet. False when neither applies.
bool encroachedFacetSubsegment(const Run& r, int32_t f, const Point3& q, const Point3& from, bool scanAll,
                                int32_t& edgeOut, int32_t& posOut) {
    const FacetInfo& fi = r.facets[f];
    for (int k = 0; k < 3 && scanAll; ++k) {
        const std::vector<int32_t>& chain = r.edges[fi.edge[k]].chain;
        for (size_t i = 0; i + 1 < chain.size(); ++i) {
            if (inDiametralBall(q, r.t.pts[chain[i]], r.t.pts[chain[i + 1]])) {
                edgeOut = fi.edge[k];
                posOut = static_cast<int32_t>(i);
                return true;
            }
        }
    }
    // Outside the facet? Compare in the facet's plane frame.
    auto to2 = [&](const Point3& p) {
        const Point3 d = sub3(p, fi.origin);
        return Point2{dot3(d, fi.u), dot3(d, fi.v)};
    };
    const Point2 c2[3] = {to2(r.t.pts[fi.corner[0]]), to2(r.t.pts[fi.corner[1]]), to2(r.t.pts[fi.corner[2]])};
    const Point2 q2 = to2(q);
    const Point2 g2 = to2(from);
    const double ref = orient2d(c2[0], c2[1], c2[2]);
    // The edge the segment from g to q leaves the facet by: of the edges q lies beyond, the
    // one whose line the segment meets first (q far beyond a sliver's long side also lies
    // beyond the line of its short side). A point on an edge's line (within 1e-9 of the
    // edge's length: the circumcentre of a piece next to the diagonal of a flat face split
    // in two often lands on it) counts as beyond it: inside the facet it would lie on the
    // subsegment, which could then never become an edge and would be split towards it
    // again and again.
    int exit = -1;
    double exitAt = 0;
    for (int k = 0; k < 3; ++k) {
        const double side = orient2d(c2[k], c2[(k + 1) % 3], q2);
        const double ex = c2[(k + 1) % 3].x - c2[k].x, ey = c2[(k + 1) % 3].y - c2[k].y;
        const bool onLine = std::fabs(side) <= 1e-9 * (ex * ex + ey * ey);
        if (!onLine && !((ref > 0 && side < 0) || (ref < 0 && side > 0))) continue;
        const double sg = orient2d(c2[k], c2[(k + 1) % 3], g2);
        const double at = sg != side ? sg / (sg - side) : 0.0;
        if (exit < 0 || at < exitAt) {
            exit = k;
            exitAt = at;
        }
    }
    if (exit < 0) return false;
    const int k = exit;
    // Where the line from g to q meets the edge's line, as a fraction of the edge from
    // corner k; each chain point has its own fraction.
    const Point2 a = c2[k], b = c2[(k + 1) % 3];
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double ex = q2.x - g2.x, ey = q2.y - g2.y;
    const double den = dx * ey - dy * ex;
    double t = 0.5;
    if (den != 0) t = ((g2.x - a.x) * ey - (g2.y - a.y) * ex) / den;
    const std::vector<int32_t>& chain = r.edges[fi.edge[k]].chain;
    const int32_t from0 = fi.corner[k];
    auto fraction = [&](int32_t v) {
        const Point2 p = to2(r.t.pts[v]);
        return ((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy);
    };
    edgeOut = fi.edge[k];
    posOut = 0;
    const bool reversed = chain.front() != from0;
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        const double t0 = fraction(chain[i]), t1 = fraction(chain[i + 1]);
        const double lo = std::min(t0, t1), hi = std::max(t0, t1);
        posOut = static_cast<int32_t>(i);
        if (t >= lo && t <= hi) break;
        if ((!reversed && t < lo) || (reversed && t > hi)) break;
    }
    return true;
}

/// Splits the subsegment of facet f that q, the split point of a piece of f (`piece`, or
/// nullptr), encroaches or leaves the facet by (encroachedFacetSubsegment). For a
/// vertex's encroachment (`encroacher`), not a subsegment far shorter than the vertex's
/// distance from it (kFreeRedirectReach, kFreeAwayReach, kBoundaryAwayReach).
bool splitEncroachedOrAt(Run& r, int32_t f, const Point3& q, const Point3& from, bool constrained,
                         bool& splitSegment, int32_t encroacher = -1,
                         const std::array<int32_t, 3>* piece = nullptr) {
    int32_t edgeId = -1, pos = -1;
    // Refinement finds the encroached subsegments on the cavity's boundary instead.
    splitSegment = encroachedFacetSubsegment(r, f, q, from, !constrained, edgeId, pos);
    if (splitSegment && encroacher >= 0) {
        const int32_t si = r.edges[edgeId].chain[pos], wi = r.edges[edgeId].chain[pos + 1];
        const Point3& s = r.t.pts[si];
        const Point3& w = r.t.pts[wi];
        const Point3& v = r.t.pts[encroacher];
        const bool free = r.kind[encroacher] == kFree;
        const double distance2 = std::min(norm2(sub3(v, s)), norm2(sub3(v, w)));
        const double length2 = norm2(sub3(s, w));
        if (free && length2 < (kFreeRedirectReach * kFreeRedirectReach) * distance2) return false;
        const double reach = free ? kFreeAwayReach : kBoundaryAwayReach;
        if (piece != nullptr && length2 < (reach * reach) * distance2 && !inDiametralBall(q, s, w)) {
            const auto& p = *piece;
            const bool atCorner = si == p[0] || si == p[1] || si == p[2] || wi == p[0] || wi == p[1] || wi == p[2];
            if (!atCorner) return false;
        }
    }
    if (splitSegment) return splitSubsegment(r, edgeId, pos, constrained);
    return false;
}

/// Whether the cavity of a point on facet f may cross the face (a, b, c): any face but a
/// boundary face of another facet. (The facet holding a boundary face is unique, so a
/// face with its three corners on f is a face of f.)
bool facetPointMayCross(const Run& r, int32_t f, int32_t a, int32_t b, int32_t c) {
    const int32_t g = commonFacet(r, a, b, c);
    return g < 0 || g == f;
}

/// Whether a cavity face is a piece of facet f on the hull (replaced by the fan from the
/// new point, not joined to it).
bool hullPieceOf(const Run& r, int32_t f, const CavityFace& cf) {
    return cf.outside < 0 && onFacet(r, cf.a, f) && onFacet(r, cf.b, f) && onFacet(r, cf.c, f);
}

/// Inserts q as a point of facet f. Recovery (not constrained) locates it from `hint`;
/// refinement grows its cavity from `seeds` and first splits a piece of a coplanar facet
/// that q encroaches (unless `coplanarFirst` is false). `splitPiece`, when given, is the
/// boundary piece q splits.
bool insertFacetPoint(Run& r, int32_t f, const Point3& q, bool constrained, int32_t hint, const int32_t* seeds,
                      int seedCount, bool coplanarFirst = true, bool forceSeeds = false,
                      const std::array<int32_t, 3>* splitPiece = nullptr) {
    if (!budgetLeft(r)) return false;
    int32_t located = -1;
    if (!constrained) {
        const robust::Location loc =
            robust::locatePoint(r.t, q, hint, [](int32_t, int32_t, int32_t) { return false; });
        if (loc.cell < 0) return false;
        located = loc.cell;
        seeds = &located;
        seedCount = 1;
    }
    const int32_t vid = addVertex(r, q, kOnFacet, f);
    const bool grown = robust::growCavity(
        r.t, q, seeds, seedCount,
        [&](int32_t a, int32_t b, int32_t c) { return !constrained || facetPointMayCross(r, f, a, b, c); }, forceSeeds,
        r.cavityCap);
    if (!grown || !r.t.lostBarriers.empty()) {
        dropVertex(r);
        return false;
    }
    if (constrained) {
        auto skip = [&](const CavityFace& cf) { return hullPieceOf(r, f, cf); };
        for (CavityFace& cf : r.t.boundary) cf.skip = skip(cf) ? 1 : 0;
        // A piece of a coplanar facet that q encroaches is split first (not for pieces of
        // facets with a small corner, whose splits would run along their slivers); when that
        // adds no point, q goes in as before.
        std::array<int32_t, 3> piece{};
        if (coplanarFirst && !r.inCoplanarSplit && !r.onlyIfImproving &&
            coplanarEncroachedPiece(r, vid, &f, &f + 1, -1, -1, true, piece)) {
            const bool done = splitCoplanarPieceFirst(r, piece);
            if (done || r.stopped) return done;
            return insertFacetPoint(r, f, q, constrained, hint, seeds, seedCount, false, forceSeeds, splitPiece);
        }
        const bool shrunk = robust::shrinkCavity(
            r.t, q, [&](int32_t a, int32_t b, int32_t c) { return facetPointMayCross(r, f, a, b, c); }, skip,
            [&](const CavityFace& cf) { return flatWith(r, cf, vid); });
        if (!shrunk || (r.onlyIfImproving && !cavityImproves(r, vid))) {
            dropVertex(r);
            return false;
        }
        // A facet point must not encroach a subsegment on its cavity's boundary, nor a side
        // of the piece it splits. On an input edge between two facets of one flat face, the
        // cavity of a point on one of them can hold some of the cells around a subsegment
        // of that edge but not the piece of the other facet on it: only faces inside the
        // solid carry the subsegment on the cavity's boundary. Put in, the point was joined
        // to the subsegment's midpoint when the settling of encroached pieces split it
        // next, by an edge far shorter than anything near; the cells on that edge were bad,
        // their circumcentres split pieces there at half the size, and so on down to the
        // floor of rounding: a cascade towards one point of the edge.
        int32_t u = 0, w = 0;
        int32_t edgeId = -1;
        if (!r.onlyIfImproving) {
            edgeId = encroachedBarrierSubsegment(r, q, u, w);
            if (edgeId < 0 && splitPiece != nullptr) edgeId = encroachedPieceSide(r, *splitPiece, q, u, w);
        }
        if (edgeId >= 0) {
            dropVertex(r);
            return splitSubsegment(r, edgeId, chainPosition(r.edges[edgeId], u, w), constrained);
        }
    }
    if (!commitOrDrop(r, vid)) return false;
    r.facets[f].interior.push_back(vid);
    ++r.out->boundaryPoints;
    return true;
}

/// Splits the boundary face (a, b, c) at its circumcentre (or at `at`, a point of the face),
/// or the subsegment that point encroaches. The cells in `through` join the point's cavity
/// whatever the conflict test says. `encroacher`, when not -1, is the vertex whose
/// encroachment the split settles: a subsegment far shorter than its distance from it is
/// not split for it (splitEncroachedOrAt; and the face is not split either).
bool splitSubface(Run& r, int32_t a, int32_t b, int32_t c, const Point3* at, const std::vector<int32_t>* through,
                  int32_t encroacher) {
    const int32_t f = commonFacet(r, a, b, c);
    if (f < 0) return false;
    std::array<int32_t, 3> key{a, b, c};
    std::sort(key.begin(), key.end());
    if (r.stuckPieces.count(key) != 0) return false;
    double radius2 = 0;
    Point3 q = triangleCircumcentre(r.t.pts[a], r.t.pts[b], r.t.pts[c], radius2);
    if (!(radius2 > 0)) return false;
    // The circumcentre of a long thin piece lies far from it and inherits the rounding of
    // its corners magnified by that distance: back onto the facet's plane.
    q = at != nullptr ? *at : dropOntoFacetPlane(r.facets[f], q);
    bool splitSegment = false;
    const Point3 centroid = scale3(add3(add3(r.t.pts[a], r.t.pts[b]), r.t.pts[c]), 1.0 / 3.0);
    const std::array<int32_t, 3> piece{a, b, c};
    const bool done = splitEncroachedOrAt(r, f, q, centroid, true, splitSegment, encroacher, &piece);
    if (splitSegment) {
        if (done && robust::findFaceCell(r.t, a, b, c) >= 0) r.stuckPieces.insert(key);
        return done;
    }
    const int32_t cell = robust::findFaceCell(r.t, a, b, c);
    if (cell < 0) return false;
    int k = 0;
    while (k < 4 && (r.t.cells[cell].v[k] == a || r.t.cells[cell].v[k] == b || r.t.cells[cell].v[k] == c)) ++k;
    std::vector<int32_t> seeds{cell};
    const int32_t beyond = r.t.cells[cell].n[k];
    if (beyond >= 0 && (through == nullptr || robust::inConflict(r.t, beyond >> 2, q))) seeds.push_back(beyond >> 2);
    if (through != nullptr) {
        for (auto it = through->rbegin(); it != through->rend(); ++it) {
            if (std::find(seeds.begin(), seeds.end(), *it) == seeds.end()) seeds.push_back(*it);
        }
    }
    addFacetConflictSeeds(r, f, q, {key}, seeds);
    return insertFacetPoint(r, f, q, true, -1, seeds.data(), static_cast<int>(seeds.size()), true, through != nullptr,
                            &piece);
}

/// Checks facet f; when a piece of its planar triangulation is missing from the faces,
/// inserts a point for it (or splits a subsegment). Returns 1 when a point was added, 0
/// when the facet is complete, -1 when a piece is missing but no point could be added.
int recoverFacet(Run& r, int32_t f) {
    FacetInfo& fi = r.facets[f];
    // The points on the facet's edges (each corner once, in id order), then its own points;
    // per point a mask of the facet edges it lies on.
    std::vector<int32_t> ids;
    for (int k = 0; k < 3; ++k) {
        const std::vector<int32_t>& chain = r.edges[fi.edge[k]].chain;
        ids.insert(ids.end(), chain.begin(), chain.end());
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    std::vector<uint8_t> edgeMask(ids.size(), 0);
    for (int k = 0; k < 3; ++k) {
        for (int32_t v : r.edges[fi.edge[k]].chain) {
            edgeMask[std::lower_bound(ids.begin(), ids.end(), v) - ids.begin()] |= static_cast<uint8_t>(1u << k);
        }
    }
    for (int32_t v : fi.interior) ids.push_back(v);
    edgeMask.resize(ids.size(), 0);
    std::vector<Point2> pts;
    pts.reserve(ids.size());
    for (int32_t v : ids) {
        const Point3 d = sub3(r.t.pts[v], fi.origin);
        pts.push_back(Point2{dot3(d, fi.u), dot3(d, fi.v)});
    }
    const std::vector<robust::Tri2> tris = robust::planarDelaunay(pts);
    for (const robust::Tri2& tri : tris) {
        if ((edgeMask[tri.v[0]] & edgeMask[tri.v[1]] & edgeMask[tri.v[2]]) != 0) continue;  // along one edge
        const int32_t a = ids[tri.v[0]], b = ids[tri.v[1]], c = ids[tri.v[2]];
        if (robust::findFaceCell(r.t, a, b, c) >= 0) continue;
        double radius2 = 0;
        const Point3 q = dropOntoFacetPlane(fi, triangleCircumcentre(r.t.pts[a], r.t.pts[b], r.t.pts[c], radius2));
        if (!(radius2 > 0)) continue;
        bool splitSegment = false;
        const Point3 centroid = scale3(add3(add3(r.t.pts[a], r.t.pts[b]), r.t.pts[c]), 1.0 / 3.0);
        const bool done = splitEncroachedOrAt(r, f, q, centroid, false, splitSegment);
        if (splitSegment) return done ? 1 : -1;
        return insertFacetPoint(r, f, q, false, r.t.vertexCell[a], nullptr, 0) ? 1 : -1;
    }
    return 0;
}

bool recoverBoundary(Run& r) {
    r.phase = "boundary recovery";
    const int32_t steinerAtStart = r.out->steinerCount;
    for (;;) {
        bool missing = false;
        bool progress = false;
        for (int32_t e = 0; e < static_cast<int32_t>(r.edges.size()); ++e) {
            for (size_t i = 0; i + 1 < r.edges[e].chain.size(); ++i) {
                if (robust::findEdgeCell(r.t, r.edges[e].chain[i], r.edges[e].chain[i + 1]) >= 0) continue;
                missing = true;
                if (splitSubsegment(r, e, static_cast<int32_t>(i), false)) {
                    progress = true;
                    ++i;  // the two halves are checked in the next pass
                }
                if (r.stopped) return false;
            }
        }
        if (!missing) {
            for (int32_t f = 0; f < static_cast<int32_t>(r.facets.size()); ++f) {
                const int result = recoverFacet(r, f);
                if (r.stopped) return false;
                if (result != 0) missing = true;
                if (result > 0) progress = true;
            }
        }
        if (!missing) break;
        if (!progress) {
            r.out->error = "boundary recovery could not add a point where the boundary is missing";
            return false;
        }
    }
    r.out->recoveryPoints = r.out->steinerCount - steinerAtStart;
    return true;
}

// ---------------------------------------------------------------------------------------
// The solid by topology.

void labelSolid(Run& r) {
    TetTopology& t = r.t;
    const int32_t cells = static_cast<int32_t>(t.cells.size());
    std::vector<int32_t> depth(static_cast<size_t>(cells), -1);
    std::vector<int32_t> queue;  // 0-1 breadth-first: two fronts
    std::vector<int32_t> next;
    const int32_t start = t.vertexCell[0];
    depth[start] = 0;
    queue.push_back(start);
    int32_t level = 0;
    while (!queue.empty()) {
        next.clear();
        for (size_t i = 0; i < queue.size(); ++i) {
            const int32_t s = queue[i];
            if (depth[s] != level) continue;
            for (int k = 0; k < 4; ++k) {
                const int32_t across = t.cells[s].n[k];
                if (across < 0) continue;
                const int32_t m = across >> 2;
                int32_t a, b, c;
                robust::faceOf(t, s, k, a, b, c);
                const int32_t d = level + (isBarrier(r, a, b, c) ? 1 : 0);
                if (depth[m] >= 0 && depth[m] <= d) continue;
                depth[m] = d;
                if (d == level) {
                    queue.push_back(m);
                } else {
                    next.push_back(m);
                }
            }
        }
        queue.swap(next);
        ++level;
    }
    for (int32_t s = 0; s < cells; ++s) t.inside[s] = (t.alive[s] != 0 && depth[s] >= 0 && (depth[s] & 1)) ? 1 : 0;
    // From here on the mesh is the solid alone; its hull is the boundary.
    robust::removeCells(t, t.inside);
}

// ---------------------------------------------------------------------------------------
// Quality refinement.

/// Whether u and w lie on different input features at a small angle of the input, measured
/// locally: around an input edge both lie on (facets meeting there), the angle between
/// their offsets from the edge's line; at an input corner both features reach, the angle
/// the two points subtend there. These pairs refinement protects. `wide` adds the pairs
/// the bound excuses beyond them: an input corner where a facet has a corner below the
/// angle and a point on a facet at that corner (every neighbourhood of the corner holds
/// points the angle separates), and two points on facets that meet at an input edge at such
/// an angle, measured around that edge, whichever edges the points lie on.
bool smallAngleBetween(const Run& r, int32_t u, int32_t w, bool wide = false) {
    if (r.kind[u] == kFree || r.kind[w] == kFree) return false;
    for (int side = 0; side < 2 && wide; ++side) {
        const int32_t a = side == 0 ? u : w, b = side == 0 ? w : u;
        if (r.kind[a] != kCorner) continue;
        bool sharp = false;
        const Span fa = facetsOf(r, a);
        for (const int32_t* f = fa.begin; f != fa.end && !sharp; ++f) {
            const FacetInfo& fi = r.facets[*f];
            for (int k = 0; k < 3; ++k) sharp = sharp || (fi.corner[k] == a && fi.cornerDeg[k] < kSmallAngleDeg);
        }
        if (!sharp) continue;
        const Span fb = facetsOf(r, b);
        for (const int32_t* g = fb.begin; g != fb.end; ++g) {
            const int32_t* c = r.facets[*g].corner;
            if (c[0] == a || c[1] == a || c[2] == a) return true;
        }
    }
    auto edgesOf = [&](int32_t v, int32_t* buf) -> int {
        switch (r.kind[v]) {
            case kOnEdge:
                buf[0] = r.feature[v];
                return 1;
            case kOnFacet:
                for (int k = 0; k < 3; ++k) buf[k] = r.facets[r.feature[v]].edge[k];
                return 3;
            default:
                return 0;  // a corner: its angles are measured at the corner
        }
    };
    auto cornersOf = [&](int32_t v, int32_t* buf) -> int {
        switch (r.kind[v]) {
            case kOnEdge:
                buf[0] = r.edges[r.feature[v]].a;
                buf[1] = r.edges[r.feature[v]].b;
                return 2;
            case kOnFacet:
                for (int k = 0; k < 3; ++k) buf[k] = r.facets[r.feature[v]].corner[k];
                return 3;
            default:
                return 0;
        }
    };
    const double cosLimit = std::cos(kSmallAngleDeg * (3.14159265358979323846 / 180.0));
    auto narrow = [&](const Point3& x, const Point3& y) {
        const double lx = length3(x), ly = length3(y);
        return lx > 0 && ly > 0 && dot3(x, y) > cosLimit * (lx * ly);
    };
    int32_t eu[3], ew[3];
    const int nu = edgesOf(u, eu);
    const int nw = edgesOf(w, ew);
    // Two points on one input edge are not separated by an input angle unless the edge is a
    // side of a facet corner below the small angle (the corner's other side runs beside
    // it); nor are two points of one facet with one inside it, unless the facet has such
    // a corner: the whole of such a facet lies in that corner's wedge.
    // While the neighbourhood of a cell left is refined a second time, these two kinds of
    // pairs are not protected (the bound still excuses them).
    const bool loose = r.localLoose && !wide;
    if (r.kind[u] == kOnEdge && r.kind[w] == kOnEdge && r.feature[u] == r.feature[w]) {
        return r.edges[r.feature[u]].sharpSide && !loose;
    }
    if (r.kind[u] == kOnFacet || r.kind[w] == kOnFacet) {
        const int32_t f = r.kind[u] == kOnFacet ? r.feature[u] : r.feature[w];
        if (onFacet(r, u, f) && onFacet(r, w, f)) return r.facets[f].minCornerDeg < kSmallAngleDeg && !loose;
    }
    // The angle between u's and w's offsets from the line of input edge `edgeId`.
    auto aroundEdge = [&](int32_t edgeId) {
        const InputEdge& e = r.edges[edgeId];
        const Point3& a = r.t.pts[e.a];
        const Point3 dir = sub3(r.t.pts[e.b], a);
        const Point3 du = sub3(r.t.pts[u], a);
        const Point3 dw = sub3(r.t.pts[w], a);
        const double l2 = norm2(dir);
        const Point3 ou = sub3(du, scale3(dir, dot3(du, dir) / l2));
        const Point3 ow = sub3(dw, scale3(dir, dot3(dw, dir) / l2));
        return narrow(ou, ow);
    };
    for (int i = 0; i < nu; ++i) {
        for (int j = 0; j < nw; ++j) {
            if (eu[i] == ew[j]) return aroundEdge(eu[i]);
        }
    }
    int32_t cu[3], cw[3];
    const int ncu = cornersOf(u, cu);
    const int ncw = cornersOf(w, cw);
    if (r.kind[u] == kCorner || r.kind[w] == kCorner) return false;
    for (int i = 0; i < ncu; ++i) {
        for (int j = 0; j < ncw; ++j) {
            if (cu[i] != cw[j]) continue;
            const Point3& v = r.t.pts[cu[i]];
            if (narrow(sub3(r.t.pts[u], v), sub3(r.t.pts[w], v))) return true;
        }
    }
    if (!wide) return false;
    // Points on two facets that share an input edge: the angle around that edge.
    const Span fu = facetsOf(r, u), fw = facetsOf(r, w);
    for (const int32_t* f = fu.begin; f != fu.end; ++f) {
        for (const int32_t* g = fw.begin; g != fw.end; ++g) {
            if (*f == *g) continue;
            for (const int32_t e : r.facets[*f].edge) {
                const int32_t* ge = r.facets[*g].edge;
                if ((ge[0] == e || ge[1] == e || ge[2] == e) && aroundEdge(e)) return true;
            }
        }
    }
    return false;
}

constexpr int kCellEdges[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};

/// The shortest edge of a cell with corners v, as an index into kCellEdges (the first of
/// equal lengths).
int shortestEdgeOf(const Run& r, const std::array<int32_t, 4>& v) {
    int best = 0;
    double bestLength = 0;
    for (int k = 0; k < 6; ++k) {
        const double l = norm2(sub3(r.t.pts[v[kCellEdges[k][0]]], r.t.pts[v[kCellEdges[k][1]]]));
        if (k == 0 || l < bestLength) {
            best = k;
            bestLength = l;
        }
    }
    return best;
}

/// Whether the shortest edge of a cell with corners v lies at a small input angle.
bool protectedCorners(const Run& r, const std::array<int32_t, 4>& v) {
    const int best = shortestEdgeOf(r, v);
    return smallAngleBetween(r, v[kCellEdges[best][0]], v[kCellEdges[best][1]]);
}

bool protectedCell(const Run& r, int32_t slot) { return protectedCorners(r, r.t.cells[slot].v); }

/// Whether the bound excuses a cell with corners v: its shortest edge lies at a small input
/// angle by the wide measure of smallAngleBetween, or one of its faces lies on a facet and
/// has a corner of that facet whose angle a makes 1 / (2 sin a) exceed the bound. Such a
/// face's angle there is at most a (the facet lies in that corner's wedge), so its
/// circumradius is more than the bound times its shortest side; a cell's circumradius is
/// at least its face's, its shortest edge at most the face's shortest side, so no cell on
/// that face meets the bound, wherever its points lie, and every triangulation of the
/// facet has a face at that corner. (A cell on the face at the corner of a strip of a
/// rounded edge, a corner of a tenth of a degree, with a point inside the solid a little
/// closer to the corner than the face's points: its shortest edge joins the corner to that
/// point, which no angle separates.)
bool excusedCorners(const Run& r, const std::array<int32_t, 4>& v) {
    const int best = shortestEdgeOf(r, v);
    if (smallAngleBetween(r, v[kCellEdges[best][0]], v[kCellEdges[best][1]], true)) return true;
    for (int k = 0; k < 4; ++k) {
        const int32_t x[3] = {v[(k + 1) % 4], v[(k + 2) % 4], v[(k + 3) % 4]};
        const int32_t f = commonFacet(r, x[0], x[1], x[2]);
        if (f < 0 || !(r.facets[f].minCornerDeg < r.forcedCornerDeg)) continue;
        const FacetInfo& fi = r.facets[f];
        for (int c = 0; c < 3; ++c) {
            const bool atCorner = fi.corner[c] == x[0] || fi.corner[c] == x[1] || fi.corner[c] == x[2];
            if (atCorner && fi.cornerDeg[c] < r.forcedCornerDeg) return true;
        }
    }
    return false;
}

/// The squared length of the shortest edge of the cell in `slot`.
double shortestEdge2(const Run& r, int32_t slot) {
    const auto& v = r.t.cells[slot].v;
    const int k = shortestEdgeOf(r, v);
    return norm2(sub3(r.t.pts[v[kCellEdges[k][0]]], r.t.pts[v[kCellEdges[k][1]]]));
}

/// Whether vertex v is kept from encroaching the boundary piece with corners x[0..n):
/// it lies at a small input angle from one of them.
bool shieldedFrom(const Run& r, int32_t v, const int32_t* x, int n) {
    for (int i = 0; i < n; ++i) {
        if (smallAngleBetween(r, v, x[i])) return true;
    }
    return false;
}

/// A cell bad by its shape whose own corner encroaches a subsegment or boundary face of
/// the cell (holds it strictly inside its diametral or equatorial sphere): the piece is
/// split, subsegments first. The split point is not held to the cell's shortest edge: a
/// corner inside the piece's protecting sphere means the piece is too large for its
/// surroundings (next to a thin plate, a non-Delaunay fan of coplanar facets) and the mesh
/// is not constrained Delaunay there until it is split; its circumcentre would only be
/// refused or blocked. A small input angle between the corner and the piece keeps only a
/// subsegment at an input corner from being split: the split lands on a shell there, and
/// the two sides of the angle would split each other down to the corner. Elsewhere the
/// angle does not shield: the cell sits on the piece (a sliver on a plate's face under a
/// point of its side's diagonal) and nothing else can improve it. True when a point was
/// added.
bool splitOwnEncroachedPiece(Run& r, int32_t slot) {
    const std::array<int32_t, 4> v = r.t.cells[slot].v;
    const auto& pairs = kCellEdges;
    const double keep = r.shapeMinEdge2;
    r.shapeMinEdge2 = 0;
    bool added = false;
    for (int pi = 0; pi < 6 && !added; ++pi) {
        const int32_t u = v[pairs[pi][0]], w = v[pairs[pi][1]];
        const int32_t e = subsegmentEdge(r, u, w);
        if (e < 0) continue;
        const int32_t ends[2] = {u, w};
        for (const int32_t x : {v[pairs[5 - pi][0]], v[pairs[5 - pi][1]]}) {
            if (!inDiametralBall(r.t.pts[x], r.t.pts[u], r.t.pts[w])) continue;
            if ((r.kind[u] == kCorner || r.kind[w] == kCorner) && shieldedFrom(r, x, ends, 2)) continue;
            added = splitSubsegment(r, e, chainPosition(r.edges[e], u, w), true);
            break;
        }
        if (r.stopped) break;
    }
    for (int k = 0; k < 4 && !added && !r.stopped; ++k) {
        int32_t a, b, c;
        robust::faceOf(r.t, slot, k, a, b, c);
        if (!isBarrier(r, a, b, c)) continue;
        if (!inEquatorialBall(r, r.t.pts[v[k]], a, b, c)) continue;
        added = splitSubface(r, a, b, c);
    }
    r.shapeMinEdge2 = keep;
    return added;
}

/// Whether a vertex joined to a corner of the piece (a subsegment when c < 0) lies
/// strictly inside its protecting sphere with no small input angle between them.
bool encroachedByNeighbour(Run& r, int32_t a, int32_t b, int32_t c) {
    const int32_t corners[3] = {a, b, c};
    const int n = c < 0 ? 2 : 3;
    bool found = false;
    for (int i = 0; i < n && !found; ++i) {
        robust::forStar(r.t, corners[i], [&](int32_t s) {
            for (const int32_t x : r.t.cells[s].v) {
                if (x == a || x == b || x == c) continue;
                const bool inside = c < 0 ? inDiametralBall(r.t.pts[x], r.t.pts[a], r.t.pts[b])
                                          : inEquatorialBall(r, r.t.pts[x], a, b, c);
                if (inside && !shieldedFrom(r, x, corners, n)) {
                    found = true;
                    return true;
                }
            }
            return false;
        });
    }
    return found;
}

/// Splits the boundary face (a, b, c), or the subsegment (a, b) of edge `edgeId` when c <
/// 0, for a bad cell whose circumcentre encroaches it. Its split point is held to the
/// cell's shortest edge (a subsegment's to kSubsegmentSplitReach of it: next to an input
/// corner the split lands on a shell, up to a factor of the square root of 2 closer to the
/// corner than the midpoint) unless an existing vertex encroaches the piece too: then the
/// mesh is not constrained Delaunay there until the piece is split.
bool splitPieceForCell(Run& r, int32_t a, int32_t b, int32_t c, int32_t edgeId) {
    const double keep = r.shapeMinEdge2;
    if (c < 0) r.shapeMinEdge2 = keep * (kSubsegmentSplitReach * kSubsegmentSplitReach);
    if (keep > 0 && encroachedByNeighbour(r, a, b, c)) r.shapeMinEdge2 = 0;
    const bool done = c < 0 ? splitSubsegment(r, edgeId, chainPosition(r.edges[edgeId], a, b), true)
                            : splitSubface(r, a, b, c);
    r.shapeMinEdge2 = keep;
    return done;
}

/// Walks from the centroid g of cell `slot` along the segment to p, cell by cell through
/// the face the segment leaves by, and returns the first boundary face it crosses (slot * 4
/// + face), or -1 when p's cell is reached first. The cells walked go into `path` when given.
int32_t firstBoundaryCrossed(Run& r, int32_t slot, const Point3& p, std::vector<int32_t>* path = nullptr) {
    const auto& v0 = r.t.cells[slot].v;
    const Point3 g = centroid4(r.t.pts[v0[0]], r.t.pts[v0[1]], r.t.pts[v0[2]], r.t.pts[v0[3]]);
    int32_t cur = slot;
    int entry = -1;
    const int64_t limit = static_cast<int64_t>(r.t.cells.size()) + 16;
    for (int64_t step = 0; step < limit; ++step) {
        if (path != nullptr) path->push_back(cur);
        // The exit face: of the faces p lies beyond, the one whose plane the segment meets
        // first (the fraction from the orientations' magnitudes; their signs are exact).
        int best = -1;
        double bestT = 0;
        for (int k = 0; k < 4; ++k) {
            if (k == entry) continue;
            int32_t a, b, c;
            robust::faceOf(r.t, cur, k, a, b, c);
            const double op = orient3d(r.t.pts[a], r.t.pts[b], r.t.pts[c], p);
            if (!(op < 0)) continue;
            const double og = orient3d(r.t.pts[a], r.t.pts[b], r.t.pts[c], g);
            const double t = og > 0 ? og / (og - op) : 0.0;
            if (best < 0 || t < bestT) {
                best = k;
                bestT = t;
            }
        }
        if (best < 0) return -1;
        int32_t a, b, c;
        robust::faceOf(r.t, cur, best, a, b, c);
        const int32_t across = r.t.cells[cur].n[best];
        if (across < 0 || isBarrier(r, a, b, c)) return cur * 4 + best;
        cur = across >> 2;
        entry = across & 3;
    }
    return -1;
}

/// For a cell bad by its shape whose circumcentre c lies beyond a boundary face that does
/// not hold it in its equatorial sphere (the face the point location stopped at): the first
/// boundary face on the segment from the cell to c is split when an existing vertex
/// encroaches it, without the shortest-edge rule. The cell's circumsphere reaches across
/// that face, so the mesh is not constrained Delaunay there until it is split. When no
/// vertex encroaches it, the point where the segment from the cell's centroid to c meets
/// the face goes on its facet instead (or splits the subsegment it encroaches), held to
/// the cell's shortest edge: the nearest point of the facet on the way to c. Its cavity
/// takes in the cells on the way from the cell to it: the cell's circumsphere holds the
/// point, but where the mesh is not Delaunay (inside thin discs) cells between the two need
/// not, and the cavity grown by the conflict test alone left the cell, whose next try then
/// met the face at that very point.
bool splitCrossedPiece(Run& r, int32_t slot, const Point3& c) {
    std::vector<int32_t> path;
    const int32_t crossed = firstBoundaryCrossed(r, slot, c, &path);
    if (crossed < 0) return false;
    int32_t a, b, cc;
    robust::faceOf(r.t, crossed >> 2, crossed & 3, a, b, cc);
    if (commonFacet(r, a, b, cc) < 0) return false;
    if (!encroachedByNeighbour(r, a, b, cc)) {
        const auto& v0 = r.t.cells[slot].v;
        const Point3 g = centroid4(r.t.pts[v0[0]], r.t.pts[v0[1]], r.t.pts[v0[2]], r.t.pts[v0[3]]);
        const double op = orient3d(r.t.pts[a], r.t.pts[b], r.t.pts[cc], c);
        const double og = orient3d(r.t.pts[a], r.t.pts[b], r.t.pts[cc], g);
        if (!(og > 0 && op < 0)) return false;
        // The segment's point on the face, put back on the facet's plane: c may lie far
        // beyond the face, and the point where the long segment meets the face's plane
        // inherits its rounding (seen 5e-9 of the extent off the side of a cone).
        const Point3 x = ontoFacetPlane(r.facets[commonFacet(r, a, b, cc)],
                                        add3(g, scale3(sub3(c, g), og / (og - op))));
        // The point is a vertex already (an earlier try's, whose cavity did not reach the
        // cell): it lies in the cell's circumsphere and the cell sees it, so the cell cannot
        // be Delaunay while that vertex is not joined to it. A free point half way from the
        // centroid to it goes in instead, the cells on the way in its cavity.
        double nearest2 = norm2(sub3(r.t.pts[a], x));
        for (const int32_t q : {b, cc}) nearest2 = std::min(nearest2, norm2(sub3(r.t.pts[q], x)));
        if (nearest2 <= 1e-12 * shortestEdge2(r, slot)) {
            const Point3 mid = scale3(add3(g, x), 0.5);
            std::vector<int32_t> toMid;
            if (firstBoundaryCrossed(r, slot, mid, &toMid) >= 0) return false;
            return refineCell(r, slot, mid, false, true, &toMid);
        }
        return splitSubface(r, a, b, cc, &x, &path);
    }
    const double keep = r.shapeMinEdge2;
    r.shapeMinEdge2 = 0;
    const bool done = splitSubface(r, a, b, cc);
    r.shapeMinEdge2 = keep;
    return done;
}

/// Inserts the circumcentre c of the bad cell `slot`, or splits what it encroaches.
/// Returns true when a point was added. With `overFaces` (a second try for a cell bad by
/// its shape after the first added nothing, mostly because the shortest-edge rule refused
/// the split of a face that c encroaches) c goes in
/// although boundary faces of its cavity hold it in their equatorial spheres: the cavity
/// stops at them and they stay, so the mesh stays constrained Delaunay. Subsegments it
/// encroaches still keep it out, and so does a face it lies beyond. The cells in `through`
/// (the way from the cell to c, c's cell last) are its cavity's seeds whatever the conflict
/// test says.
bool refineCell(Run& r, int32_t slot, const Point3& c, bool tooLarge, bool overFaces, const std::vector<int32_t>* through) {
    if (!budgetLeft(r)) return false;
    if (r.local) ++r.localTries;
    if (!tooLarge && !overFaces && splitOwnEncroachedPiece(r, slot)) return true;
    const robust::Location loc = robust::locatePoint(
        r.t, c, slot, [&](int32_t a, int32_t b, int32_t cc) { return isBarrier(r, a, b, cc); });
    if (loc.blocked >= 0 && overFaces) return false;
    if (loc.blocked >= 0) {
        // c lies beyond a boundary face: split that face when c encroaches it; otherwise
        // split the face on the way to c when a vertex encroaches it, or leave the cell
        // (splitting a far face would not improve it).
        int32_t a, b, cc;
        robust::faceOf(r.t, loc.blocked >> 2, loc.blocked & 3, a, b, cc);
        if (!inEquatorialBall(r, c, a, b, cc)) return !tooLarge && splitCrossedPiece(r, slot, c);
        if ((loc.blocked >> 2) != slot) return splitPieceForCell(r, a, b, cc, -1);
        // The cell's own face: its circumcircle is where the circumsphere meets the face's
        // plane, and c beyond the face within its equatorial sphere puts the split point
        // more than the circumradius over the square root of 2 from the face's corners.
        // It is split without the shortest-edge rule, which only a vertex close by (across
        // a thin plate or a sharp edge) can trip there.
        const double keep = r.shapeMinEdge2;
        r.shapeMinEdge2 = 0;
        const bool done = splitSubface(r, a, b, cc);
        r.shapeMinEdge2 = keep;
        return done;
    }
    if (loc.cell < 0 || r.t.inside[loc.cell] == 0) return false;
    // From the second look on, the cells on the way from the cell to c join the cavity
    // whatever the conflict test says: in a Delaunay mesh they are in it anyway, but where
    // the mesh is not (the cells left are there most), the cavity grown by the test alone
    // can miss the cell that c was meant to take away.
    std::vector<int32_t> way;
    if (through == nullptr && r.wayIntoCavity && firstBoundaryCrossed(r, slot, c, &way) < 0) through = &way;
    const int32_t vid = addVertex(r, c, kFree, -1);
    const int32_t* seeds = through != nullptr ? through->data() : &loc.cell;
    const int seedCount = through != nullptr ? static_cast<int>(through->size()) : 1;
    const bool grown = robust::growCavity(
        r.t, c, seeds, seedCount, [&](int32_t a, int32_t b, int32_t cc) { return !isBarrier(r, a, b, cc); },
        through != nullptr);
    if (!grown) {
        dropVertex(r);
        return false;
    }
    if (!r.t.lostBarriers.empty()) {
        int32_t a, b, cc;
        const int32_t ref = r.t.lostBarriers.front();
        robust::faceOf(r.t, ref >> 2, ref & 3, a, b, cc);
        dropVertex(r);
        return !overFaces && splitPieceForCell(r, a, b, cc, -1);
    }
    // Subsegments first, then boundary faces, whose protecting spheres hold c. The last try
    // for a cell too large (its centroid over the boundary pieces) passes the subsegments on
    // the cavity's boundary too: they stay edges of the boundary faces the cavity stops at.
    // Their split can be refused (next to a small angle the pieces protect each other),
    // and the cell must go.
    {
        int32_t u = 0, w = 0;
        const int32_t edgeId = encroachedBarrierSubsegment(r, c, u, w);
        if (edgeId >= 0 && !(overFaces && tooLarge)) {
            dropVertex(r);
            return !overFaces && splitPieceForCell(r, u, w, -1, edgeId);
        }
    }
    if (r.freeSegments) {
        const auto& pairs = kCellEdges;
        for (int32_t s : r.t.cavity) {
            const auto& v = r.t.cells[s].v;
            for (const auto& p : pairs) {
                const int32_t u = v[p[0]], w = v[p[1]];
                const int32_t edgeId = subsegmentEdge(r, u, w);
                if (edgeId >= 0 && inDiametralBall(c, r.t.pts[u], r.t.pts[w])) {
                    dropVertex(r);
                    return !overFaces && splitPieceForCell(r, u, w, -1, edgeId);
                }
            }
        }
    }
    // A boundary face of the cavity that c does not see strictly cannot be joined to it:
    // split it when c encroaches it; otherwise, for a cell too large, keep the cells behind
    // it out of the cavity (a cell bad only by its shape is left: a cavity that is not the
    // Delaunay one would make more bad cells near small features).
    bool blind = false;
    for (const CavityFace& cf : r.t.boundary) {
        if (orient3d(r.t.pts[cf.a], r.t.pts[cf.b], r.t.pts[cf.c], c) > 0) continue;
        blind = true;
        if (cf.barrier == 0 || overFaces) continue;
        if (inEquatorialBall(r, c, cf.a, cf.b, cf.c)) {
            const int32_t a = cf.a, b = cf.b, cc = cf.c;
            dropVertex(r);
            return splitPieceForCell(r, a, b, cc, -1);
        }
    }
    if (blind && !tooLarge) {
        // A cell bad only by its shape: the cells beyond the faces c does not see join the
        // cavity (a few rounds, never across the boundary), so that c sees all of it.
        blind = !robust::expandCavity(
            r.t, c, [&](int32_t a, int32_t b, int32_t cc) { return !isBarrier(r, a, b, cc); }, 8);
    }
    if (blind && !tooLarge) {
        dropVertex(r);
        return false;
    }
    if (blind && !robust::shrinkCavity(
                     r.t, c, [&](int32_t a, int32_t b, int32_t cc) { return !isBarrier(r, a, b, cc); },
                     [](const CavityFace&) { return false; })) {
        dropVertex(r);
        return false;
    }
    for (const CavityFace& cf : r.t.boundary) {
        if (cf.barrier == 0 || overFaces) continue;
        if (inEquatorialBall(r, c, cf.a, cf.b, cf.c)) {
            const int32_t a = cf.a, b = cf.b, cc = cf.c;
            dropVertex(r);
            return splitPieceForCell(r, a, b, cc, -1);
        }
    }
    return commitOrDrop(r, vid);
}

/// Whether the circumcentre c of the cell in `slot` is (within rounding) a vertex of the
/// mesh: one of the corners of the cell that the walk towards it ends in.
bool circumcentreIsVertex(Run& r, int32_t slot, const Point3& c) {
    const robust::Location loc = robust::locatePoint(
        r.t, c, slot, [&](int32_t a, int32_t b, int32_t cc) { return isBarrier(r, a, b, cc); });
    if (loc.cell < 0) return false;
    const double near2 = 1e-18 * norm2(sub3(r.t.pts[r.t.cells[slot].v[0]], c));
    for (const int32_t x : r.t.cells[loc.cell].v) {
        if (norm2(sub3(r.t.pts[x], c)) <= near2) return true;
    }
    return false;
}

/// Whether the cell in `slot` is above the volume bound or the radius-edge bound, or flat
/// (no circumsphere, or a volume of rounding size).
bool cellNeedsRefining(const Run& r, int32_t slot) {
    if (r.t.alive[slot] == 0 || r.t.inside[slot] == 0) return false;
    const auto& v = r.t.cells[slot].v;
    const CellShape shape = cellShape(r.t.pts[v[0]], r.t.pts[v[1]], r.t.pts[v[2]], r.t.pts[v[3]]);
    if (r.params.maxVolume > 0 && shape.q.volume > r.params.maxVolume) return true;
    if (flatShape(shape, r.t.pts[v[0]], r.t.pts[v[1]], r.t.pts[v[2]], r.t.pts[v[3]])) return true;
    return shape.q.radiusEdgeRatio > (1 + 1e-9) * r.params.radiusEdgeBound;
}

/// Splits the subsegments and boundary faces near each vertex added since the last call
/// that the vertex encroaches (holds strictly inside their diametral or equatorial sphere),
/// subsegments first, unless a small input angle separates them. A point on a boundary
/// piece changes the facet triangulations around it only on its own facets; pieces of
/// other facets it comes to lie close to are split here, so the mesh stays constrained
/// Delaunay and a cell's circumcentre does not end up beyond a boundary face it cannot
/// encroach. The cells made are queued. False when the run stopped.
bool settleEncroachment(Run& r, std::vector<int32_t>& queue) {
    std::vector<int32_t> near;
    std::set<std::array<int32_t, 3>> failed;  // pieces v encroaches whose split failed
    const auto& pairs = kCellEdges;
    for (size_t i = 0; i < r.fresh.size(); ++i) {
        const int32_t v = r.fresh[i];
        failed.clear();
        // A split that fails leaves the cells as they were: the scan then goes on from the
        // piece it found (every piece before it is still no candidate or has failed)
        // rather than from the start, which next to a vertex of thousands of cells whose
        // splits keep failing made the scans quadratic.
        bool scanned = false;
        uint64_t scannedVersion = 0;
        size_t scannedPoints = 0;
        bool anyBad = false;
        size_t edgeCell = 0, faceCell = 0;  // where the scans go on: the cell in `near`...
        int edgePair = 0, face = 0;          // ...and its edge or face
        for (;;) {
            if (r.t.vertexCell[v] < 0) break;
            if (!scanned || r.t.version != scannedVersion || r.t.pts.size() != scannedPoints) {
                scanned = true;
                scannedVersion = r.t.version;
                scannedPoints = r.t.pts.size();
                edgeCell = faceCell = 0;
                edgePair = face = 0;
                // The cells around v and those across their faces opposite v.
                near.clear();
                robust::forStar(r.t, v, [&](int32_t s) {
                    near.push_back(s);
                    return false;
                });
                const size_t star = near.size();
                for (size_t j = 0; j < star; ++j) {
                    const robust::Cell& cell = r.t.cells[near[j]];
                    for (int k = 0; k < 4; ++k) {
                        if (cell.v[k] == v && cell.n[k] >= 0) near.push_back(cell.n[k] >> 2);
                    }
                }
                if (i < r.freshShrunk.size()) {
                    // Each cell once (marks, not a search of the list: a cavity that shrank
                    // next to a thin layer lost thousands of cells).
                    const uint32_t listed = robust::nextMark(r.t);
                    for (const int32_t s : near) r.t.mark[s] = listed;
                    for (const int32_t s : r.freshShrunk[i]) {
                        if (r.t.alive[s] == 0 || r.t.mark[s] == listed) continue;
                        r.t.mark[s] = listed;
                        near.push_back(s);
                    }
                }
                // Where no cell nearby is to be refined, encroached subsegments are left, and
                // so are encroached boundary faces unless the cell on the face conflicts with v.
                anyBad = false;
                for (size_t j = 0; j < near.size() && !anyBad; ++j) anyBad = cellNeedsRefining(r, near[j]);
            }
            std::array<int32_t, 3> piece{-1, -1, -1};
            int32_t edgeId = -1;
            for (; anyBad && edgeId < 0 && edgeCell < near.size(); ++edgeCell, edgePair = 0) {
                const auto& cv = r.t.cells[near[edgeCell]].v;
                while (edgePair < 6 && edgeId < 0) {
                    const auto& p = pairs[edgePair++];
                    const int32_t u = cv[p[0]], w = cv[p[1]];
                    if (u == v || w == v) continue;
                    const int32_t e = subsegmentEdge(r, u, w);
                    if (e < 0 || !inDiametralBall(r.t.pts[v], r.t.pts[u], r.t.pts[w])) continue;
                    const std::array<int32_t, 3> key{std::min(u, w), std::max(u, w), -1};
                    const int32_t ends[2] = {u, w};
                    if (shieldedFrom(r, v, ends, 2) || failed.count(key) != 0) {
                        continue;
                    }
                    edgeId = e;
                    piece = key;
                }
                if (edgeId >= 0) break;  // go on from the next pair of this cell
            }
            for (; edgeId < 0 && piece[0] < 0 && faceCell < near.size(); ++faceCell, face = 0) {
                const int32_t slot = near[faceCell];
                while (face < 4 && piece[0] < 0) {
                    int32_t a, b, c;
                    robust::faceOf(r.t, slot, face++, a, b, c);
                    if (a == v || b == v || c == v || !isBarrier(r, a, b, c)) continue;
                    if (!inEquatorialBall(r, r.t.pts[v], a, b, c)) continue;
                    // Among good cells a piece is split only when the cell on it conflicts
                    // with v: the mesh is not constrained Delaunay there until it is.
                    if (!anyBad && !robust::inConflict(r.t, slot, r.t.pts[v])) continue;
                    std::array<int32_t, 3> key{a, b, c};
                    std::sort(key.begin(), key.end());
                    if (shieldedFrom(r, v, key.data(), 3) || failed.count(key) != 0) {
                        continue;
                    }
                    piece = key;
                }
                if (piece[0] >= 0) break;
            }
            if (piece[0] < 0) break;
            // The split may not land closer to a vertex than a small fraction of v's
            // distance to the piece: near a thin triangle of a facet, pieces v encroaches can
            // be split again and again towards one point without v ever leaving their spheres.
            double nearest2 = std::numeric_limits<double>::infinity();
            for (const int32_t x : piece) {
                if (x >= 0) nearest2 = std::min(nearest2, norm2(sub3(r.t.pts[v], r.t.pts[x])));
            }
            r.shapeMinEdge2 = nearest2 * (kSettleSplitReach * kSettleSplitReach);
            const bool split = edgeId >= 0
                                   ? splitSubsegment(r, edgeId, chainPosition(r.edges[edgeId], piece[0], piece[1]), true)
                                   : splitSubface(r, piece[0], piece[1], piece[2], nullptr, nullptr, v);
            r.shapeMinEdge2 = 0;
            if (r.stopped) return false;
            if (!split) {
                failed.insert(piece);
                continue;
            }
            for (int32_t c : r.t.created) {
                if (r.t.inside[c] != 0) queue.push_back(c);
            }
        }
    }
    r.fresh.clear();
    r.freshShrunk.clear();
    return true;
}

/// For a cell above the volume bound still there on its second look (its circumcentre
/// beyond the boundary and each split made for it landing elsewhere, as at the apex of a
/// cone; or no cavity around its circumcentre or centroid that the point sees whole, next
/// to facets that are nearly but not exactly coplanar): its centroid goes in over the
/// boundary pieces it encroaches, or else splits the cell alone into four, the flips
/// around following; the last tries before the cell would be left and the run fail. False
/// when the cell in the slot is within the bound or no point went in.
bool splitLargeCell(Run& r, int32_t slot) {
    const std::array<int32_t, 4> v = r.t.cells[slot].v;
    const Point3 &p0 = r.t.pts[v[0]], &p1 = r.t.pts[v[1]], &p2 = r.t.pts[v[2]], &p3 = r.t.pts[v[3]];
    if (r.t.inside[slot] == 0 || !(r.params.maxVolume > 0 && unsignedTetVolume(p0, p1, p2, p3) > r.params.maxVolume)) return false;
    const Point3 g = centroid4(p0, p1, p2, p3);
    const size_t before = r.t.pts.size();
    if (refineCell(r, slot, g, true, true)) return true;
    if (r.t.pts.size() != before || r.t.alive[slot] == 0 || r.t.cells[slot].v != v || !budgetLeft(r)) return false;
    const int32_t vid = addVertex(r, g, kFree, -1);
    if (!robust::growCavity(r.t, g, &slot, 1, [](int32_t, int32_t, int32_t) { return false; })) {
        dropVertex(r);
        return false;
    }
    if (!commitOrDrop(r, vid)) return false;
    std::vector<int32_t> flipped;
    restoreDelaunay(r, r.trackFresh ? r.freshShrunk.back() : flipped);
    return true;
}

bool refine(Run& r) {
    r.phase = "quality refinement";
    const double limit = (1 + 1e-9) * r.params.radiusEdgeBound;
    const double maxVolume = r.params.maxVolume;
    std::vector<int32_t> queue;
    std::vector<uint8_t> retries(r.t.cells.size(), 0);  // per slot: boundary splits made for its cell
    for (int32_t s = 0; s < static_cast<int32_t>(r.t.cells.size()); ++s) {
        if (r.t.alive[s] != 0 && r.t.inside[s] != 0) queue.push_back(s);
    }
    // Last in, first out: the cells just made are looked at next, so refinement finishes one
    // neighbourhood before it moves on (the mesh's memory is walked in order, not in waves).
    std::reverse(queue.begin(), queue.end());
    auto inBall = [&](int32_t s) {
        const auto& v = r.t.cells[s].v;
        const Point3 g = centroid4(r.t.pts[v[0]], r.t.pts[v[1]], r.t.pts[v[2]], r.t.pts[v[3]]);
        return norm2(sub3(g, r.localCentre)) < r.localRadius2;
    };
    if (r.local) queue.erase(std::remove_if(queue.begin(), queue.end(), [&](int32_t s) { return !inBall(s); }), queue.end());
    // Every vertex is looked at once for the boundary pieces it encroaches; from then on
    // only the vertices added (in a local refinement, only those).
    r.trackFresh = true;
    for (int32_t v = 4; v < static_cast<int32_t>(r.t.pts.size()) && !r.local; ++v) {
        if (r.t.vertexCell[v] >= 0) {
            r.fresh.push_back(v);
            r.freshShrunk.emplace_back();
        }
    }
    // The cells left as they were (no point could be placed for them): refinement nearby can
    // make room later, so once the queue runs dry they are looked at once more.
    std::vector<int32_t> left;
    bool secondLook = false;
    for (;;) {
        r.cornerFloor = true;
        if (r.local && (r.localTries > kLocalTries ||
                        r.localTries > kLocalTryStart + kLocalTriesPerPoint * (r.out->steinerCount - r.localStart))) {
            return false;
        }
        if (!settleEncroachment(r, queue)) return false;
        if (queue.empty() && !secondLook) {
            secondLook = true;
            if (retries.size() < r.t.cells.size()) retries.resize(r.t.cells.size(), 0);
            // In the order they were left (the queue is taken from its back), each slot once.
            const uint32_t listed = robust::nextMark(r.t);
            for (auto it = left.rbegin(); it != left.rend(); ++it) {
                const int32_t s = *it;
                if (r.t.alive[s] == 0 || r.t.mark[s] == listed) continue;
                r.t.mark[s] = listed;
                retries[s] = 0;
                queue.push_back(s);
            }
            left.clear();
        }
        if (queue.empty()) break;
        const int32_t s = queue.back();
        queue.pop_back();
        if (r.t.alive[s] == 0 || r.t.inside[s] == 0) continue;
        // Copies: refining appends points and cells.
        const std::array<int32_t, 4> v = r.t.cells[s].v;
        const Point3 p0 = r.t.pts[v[0]];
        const Point3 p1 = r.t.pts[v[1]];
        const Point3 p2 = r.t.pts[v[2]];
        const Point3 p3 = r.t.pts[v[3]];
        const CellShape shape = cellShape(p0, p1, p2, p3);
        const TetQuality& q = shape.q;
        const bool tooLarge = maxVolume > 0 && q.volume > maxVolume;
        // In a local refinement the queue starts with the cells in the ball; a cell outside
        // it is one the refinement made, and it is refined under the shortest-edge rule (left
        // as it is, the rim of the ball keeps the bad cells the finer cells inside make there).
        const bool outside = r.local && !tooLarge && !inBall(s);
        // A flat cell counts as bad, though it is positively oriented (exact test).
        const bool flat = flatShape(shape, p0, p1, p2, p3);
        if (!tooLarge && !flat && !(q.radiusEdgeRatio > limit)) continue;
        if (!tooLarge && protectedCell(r, s)) {
            ++r.out->protectedCells;
            continue;
        }
        Point3 centre;
        if (!tetCircumcentre(p0, p1, p2, p3, centre)) {
            ++r.out->rejected;
            left.push_back(s);
            continue;
        }
        const size_t before = r.t.pts.size();
        r.shapeMinEdge2 = tooLarge || (r.local && !outside) ? 0.0 : shortestEdge2(r, s);
        r.wayIntoCavity = secondLook && !tooLarge;
        r.cornerFloor = !tooLarge;
        bool added = refineCell(r, s, centre, tooLarge);
        r.wayIntoCavity = false;
        if (!added && tooLarge && !r.stopped && r.t.alive[s] != 0) {
            // A cell too large must be split: its centroid lies inside it, so its cavity
            // starts there whatever the boundary nearby.
            added = refineCell(r, s, centroid4(p0, p1, p2, p3), true);
        }
        if (!added && tooLarge && !r.stopped && r.t.alive[s] != 0 && r.t.pts.size() == before) {
            // The split of a boundary piece its centroid encroaches was refused (it would
            // come too close to a vertex): the centroid goes in over the piece, which
            // stays (the cavity stops at it). A cell above the volume bound must go.
            added = refineCell(r, s, centroid4(p0, p1, p2, p3), true, true);
        }
        if (!added && !tooLarge && !r.stopped && r.t.alive[s] != 0 && r.t.pts.size() == before) {
            // Next to a small facet the face split is refused (it would make an edge
            // shorter than the cell's own); the circumcentre inside the solid can go in
            // instead, still held to that edge.
            added = refineCell(r, s, centre, false, true);
        }
        r.shapeMinEdge2 = 0;
        if (!added && !tooLarge && !r.stopped && r.t.alive[s] != 0) {
            // No point for it: the cell may hold a neighbour's apex in its circumsphere
            // (its circumcentre can then be that very vertex, or lie where no cavity grows
            // from it). Flips restore the Delaunay property around it, as after a cavity that
            // lost cells; when the cell goes, the cells made take its place in the queue.
            // (Every flip replaces it, and a flip may reuse its slot for a cell it makes.)
            r.t.created.assign(1, s);
            std::vector<int32_t> flipped;
            restoreDelaunay(r, flipped);
            if (!flipped.empty() || r.t.alive[s] == 0) {
                if (retries.size() < r.t.cells.size()) retries.resize(r.t.cells.size(), 0);
                for (int32_t c : r.t.created) {
                    if (r.t.alive[c] == 0) continue;
                    retries[c] = 0;
                    if (r.t.inside[c] != 0) queue.push_back(c);
                }
                continue;
            }
            // Its circumcentre is a vertex already (cospherical points around a vertex the
            // flips could not reach): the centroid goes in instead, held to the same edge.
            if (circumcentreIsVertex(r, s, centre)) {
                r.shapeMinEdge2 = shortestEdge2(r, s);
                added = refineCell(r, s, centroid4(p0, p1, p2, p3), false);
                r.shapeMinEdge2 = 0;
            }
        }
        if (!added && tooLarge && secondLook && !r.stopped && r.t.alive[s] != 0 && r.t.pts.size() == before) {
            added = splitLargeCell(r, s);
        }
        if (!added) {
            if (r.stopped) return false;
            ++r.out->rejected;
            left.push_back(s);
            continue;
        }
        if (retries.size() < r.t.cells.size()) retries.resize(r.t.cells.size(), 0);
        for (int32_t c : r.t.created) {
            retries[c] = 0;
            if (r.t.inside[c] != 0) queue.push_back(c);
        }
        // The cell survives when a boundary split was made instead: look at it again, a
        // few times at most. (The slot may hold a cell the split made by now; it is looked at
        // the same way.)
        if (r.t.alive[s] != 0 && r.t.pts.size() == before + 1) {
            if (retries[s] < 4) {
                ++retries[s];
                queue.push_back(s);
            } else if (tooLarge && secondLook && splitLargeCell(r, s)) {
                for (int32_t c : r.t.created) {
                    if (r.t.inside[c] != 0) queue.push_back(c);
                }
            } else {
                ++r.out->rejected;
                left.push_back(s);
            }
        }
    }
    return true;
}

/// The worst ratio among the cells a flip makes; infinite when one is above the volume
/// bound.
double flipWorst(const Run& r, const Flip& f) {
    double worst = 0;
    for (int i = 0; i < f.madeCount; ++i) {
        const auto& v = f.made[i];
        if (overVolume(r, v)) return std::numeric_limits<double>::infinity();
        worst = std::max(worst, cellRatio(r, v));
    }
    return worst;
}

/// After refinement, flat cells left in the solid (four corners on one plane up to
/// rounding: points placed symmetrically, as on the circles of a torus, are cospherical
/// and coplanar four at a time, and a cell of them passes the radius-edge test with a
/// circumsphere made by rounding) are removed by a flip with a neighbour when one makes no
/// flat cell: of those, the one with the lowest worst ratio; failing that, by the removal of
/// one of their edges.
void removeFlatCells(Run& r) {
    // A volume above twice the one at which flatShape settles a cell as not flat settles it
    // here without its circumsphere (this runs over the whole mesh twice).
    auto flat = [&](int32_t s) {
        const auto& v = r.t.cells[s].v;
        const Point3 &p0 = r.t.pts[v[0]], &p1 = r.t.pts[v[1]], &p2 = r.t.pts[v[2]], &p3 = r.t.pts[v[3]];
        const double longest2 = std::max({norm2(sub3(p1, p0)), norm2(sub3(p2, p0)), norm2(sub3(p3, p0)),
                                          norm2(sub3(p2, p1)), norm2(sub3(p3, p1)), norm2(sub3(p3, p2))});
        const double sixVolume = std::fabs(dot3(sub3(p1, p0), cross3(sub3(p2, p0), sub3(p3, p0))));
        if (sixVolume > 6 * 6e-11 * longest2 * std::sqrt(longest2)) return false;
        return std::isinf(cellRatio(r, v));
    };
    std::vector<int32_t> stack;
    for (int32_t s = static_cast<int32_t>(r.t.cells.size()) - 1; s >= 0; --s) {
        if (r.t.alive[s] != 0 && r.t.inside[s] != 0 && flat(s)) stack.push_back(s);
    }
    int64_t flipsLeft = 64 + 4 * static_cast<int64_t>(stack.size());
    std::vector<int32_t> made;
    while (!stack.empty() && flipsLeft > 0) {
        const int32_t s = stack.back();
        stack.pop_back();
        if (r.t.alive[s] == 0 || r.t.inside[s] == 0 || !flat(s)) continue;
        Flip best;
        double bestWorst = std::numeric_limits<double>::infinity();
        for (int k = 0; k < 4; ++k) {
            Flip f;
            if (!flipAcross(r, s, k, f)) continue;
            const double worst = flipWorst(r, f);
            if (worst < bestWorst) {
                best = f;
                bestWorst = worst;
            }
        }
        if (best.oldCount == 0) {
            // No flip with one neighbour: a flat cell lying on the boundary, two of its faces
            // pieces of the facets, has no such flip (the apex across each of its other faces
            // lies off the line through the flat quadrilateral). The removal of one of its
            // edges (its ring of cells replaced by two cells on each triangle of the ring's
            // triangulation) takes it away.
            EdgeRemoval er;
            double erWorst = std::numeric_limits<double>::infinity();
            for (const auto& e : kCellEdges) {
                EdgeRemoval candidate;
                const auto& v = r.t.cells[s].v;
                if (!edgeRemoval(r, s, v[e[0]], v[e[1]], candidate)) continue;
                double worst = 0;
                for (int i = 0; i < candidate.madeCount; ++i) worst = std::max(worst, cellRatio(r, candidate.made[i]));
                if (worst < erWorst) {
                    er = candidate;
                    erWorst = worst;
                }
            }
            if (er.oldCount == 0) continue;
            made.clear();
            if (robust::replaceCells(r.t, er.old, er.oldCount, er.made, er.madeCount, made)) --flipsLeft;
            continue;
        }
        made.clear();
        if (robust::replaceCells(r.t, best.old, best.oldCount, best.made, best.madeCount, made)) --flipsLeft;
    }
}

/// After refinement, cells left above the radius-edge bound (where no point could be placed
/// for them: slivers spanning a thin wall or disc, cells next to a small angle) are flipped
/// with their neighbours (two-to-three, three-to-two, or the removal of one of their edges)
/// when, among the cells the flip replaces and makes, no more are above the bound, no more
/// of those lack a small angle to excuse them, the worst ratio is no higher, and one of the
/// three is lower. Of those flips the one with the fewest unexcused cells above the bound,
/// then the fewest above it, then the lowest worst ratio is made. The mesh stops being
/// Delaunay there, which nothing after this pass relies on. With `around`, only the cells
/// around those vertices are looked at (the points just moved: elsewhere nothing changed
/// since the last pass). With `wide`, a cell counts as excused by the bound's own rule
/// (excusedCorners) rather than by the pairs refinement protects.
void flipBadCells(Run& r, const std::vector<int32_t>* around = nullptr, bool wide = false) {
    const double limit = (1 + 1e-9) * r.params.radiusEdgeBound;
    std::vector<int32_t> stack;
    if (around != nullptr) {
        for (const int32_t v : *around) {
            robust::forStar(r.t, v, [&](int32_t s) {
                stack.push_back(s);
                return false;
            });
        }
        std::sort(stack.begin(), stack.end(), std::greater<int32_t>());
        stack.erase(std::unique(stack.begin(), stack.end()), stack.end());
        stack.erase(std::remove_if(stack.begin(), stack.end(),
                                   [&](int32_t s) { return r.t.inside[s] == 0 || !(cellRatio(r, r.t.cells[s].v) > limit); }),
                    stack.end());
    } else {
        const auto& above = cellsAboveBound(r);
        for (auto it = above.rbegin(); it != above.rend(); ++it) {
            if (it->second > limit) stack.push_back(it->first);
        }
    }
    // Taken from the back: the cells in ascending slot order.
    // Each flip lowers the count of cells above the bound, or keeps it and lowers the worst
    // ratio among the cells replaced; a budget bounds the work all the same.
    int64_t flipsLeft = 64 + 8 * static_cast<int64_t>(stack.size());
    std::vector<int32_t> made;
    // Cells above the bound, and of those the ones no small angle excuses.
    auto count = [&](const std::array<int32_t, 4>* cells, int n, double& worst, int& unexcused) {
        int bad = 0;
        worst = 0;
        unexcused = 0;
        for (int i = 0; i < n; ++i) {
            const double q = cellRatio(r, cells[i]);
            if (q > limit) {
                ++bad;
                unexcused += (wide ? excusedCorners(r, cells[i]) : protectedCorners(r, cells[i])) ? 0 : 1;
            }
            worst = std::max(worst, q);
        }
        return bad;
    };
    while (!stack.empty() && flipsLeft > 0) {
        const int32_t s = stack.back();
        stack.pop_back();
        if (r.t.alive[s] == 0 || r.t.inside[s] == 0) continue;
        const double own = cellRatio(r, r.t.cells[s].v);
        if (!(own > limit)) continue;
        EdgeRemoval best;
        int bestBad = 0, bestUnexcused = 0;
        double bestWorst = 0;
        auto consider = [&](const int32_t* old, int oldCount, const std::array<int32_t, 4>* cells, int n) {
            std::array<int32_t, 4> oldCells[EdgeRemoval::kMaxRing];
            for (int i = 0; i < oldCount; ++i) oldCells[i] = r.t.cells[old[i]].v;
            double oldWorst = 0, worst = 0;
            int oldUnexcused = 0, unexcused = 0;
            const int oldBad = count(oldCells, oldCount, oldWorst, oldUnexcused);
            const int bad = count(cells, n, worst, unexcused);
            if (std::isinf(worst) || worst > oldWorst || bad > oldBad || unexcused > oldUnexcused) return;
            for (int i = 0; i < n; ++i) {
                if (overVolume(r, cells[i])) return;
            }
            if (bad == oldBad && unexcused == oldUnexcused && !(worst < oldWorst)) return;
            if (best.oldCount == 0 || unexcused < bestUnexcused || (unexcused == bestUnexcused && bad < bestBad) ||
                (unexcused == bestUnexcused && bad == bestBad && worst < bestWorst)) {
                bestUnexcused = unexcused;
                best.oldCount = oldCount;
                std::copy(old, old + oldCount, best.old);
                best.madeCount = n;
                std::copy(cells, cells + n, best.made);
                bestBad = bad;
                bestWorst = worst;
            }
        };
        for (int k = 0; k < 4; ++k) {
            Flip f;
            if (flipAcross(r, s, k, f)) consider(f.old, f.oldCount, f.made, f.madeCount);
        }
        for (const auto& p : kCellEdges) {
            EdgeRemoval er;
            const auto& v = r.t.cells[s].v;
            if (edgeRemoval(r, s, v[p[0]], v[p[1]], er)) consider(er.old, er.oldCount, er.made, er.madeCount);
        }
        if (best.oldCount == 0) continue;
        made.clear();
        if (!robust::replaceCells(r.t, best.old, best.oldCount, best.made, best.madeCount, made)) continue;
        --flipsLeft;
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            if (cellRatio(r, r.t.cells[*it].v) > limit) stack.push_back(*it);
        }
    }
}

/// Where a Steiner point being moved may go: a point inside the solid anywhere; a point on
/// an input edge onto that edge's line, strictly between its neighbours along the edge; a
/// point inside a facet onto the facet's plane (its frame). False when the candidate
/// leaves the stretch of edge between the neighbours.
bool keepOnFeature(const Run& r, int32_t v, Point3& p) {
    if (r.kind[v] == kOnEdge) {
        const InputEdge& e = r.edges[r.feature[v]];
        const Point3& a = r.t.pts[e.a];
        const Point3 d = sub3(r.t.pts[e.b], a);
        const double dd = dot3(d, d);
        const double t = dot3(sub3(p, a), d) / dd;
        const double t0 = dot3(sub3(r.t.pts[r.prevV[v]], a), d) / dd;
        const double t1 = dot3(sub3(r.t.pts[r.nextV[v]], a), d) / dd;
        if (!(t > std::min(t0, t1) && t < std::max(t0, t1))) return false;
        p = add3(a, scale3(d, t));
    } else if (r.kind[v] == kOnFacet) {
        p = ontoFacetPlane(r.facets[r.feature[v]], p);
    }
    return true;
}

/// The places a move of Steiner point v starts from, summed over the cells of its star: the
/// mean of its neighbours (each as often as a cell has it) and the mean of the cells'
/// circumcentres weighted by their volumes.
struct MoveCentres {
    Point3 sum{0, 0, 0};
    int links = 0;
    Point3 weighted{0, 0, 0};
    double volumes = 0;
    void add(const Run& r, const std::array<int32_t, 4>& cell, int32_t v) {
        for (const int32_t x : cell) {
            if (x == v) continue;
            sum = add3(sum, r.t.pts[x]);
            ++links;
        }
        Point3 centre;
        const Point3 &p0 = r.t.pts[cell[0]], &p1 = r.t.pts[cell[1]], &p2 = r.t.pts[cell[2]], &p3 = r.t.pts[cell[3]];
        if (tetCircumcentre(p0, p1, p2, p3, centre)) {
            const double volume = unsignedTetVolume(p0, p1, p2, p3);
            weighted = add3(weighted, scale3(centre, volume));
            volumes += volume;
        }
    }
    /// Writes the means to `out` (the second only when the volumes sum above zero); returns
    /// how many. None without a neighbour.
    int places(Point3* out) const {
        if (links == 0) return 0;
        int count = 0;
        out[count++] = scale3(sum, 1.0 / links);
        if (volumes > 0) out[count++] = scale3(weighted, 1.0 / volumes);
        return count;
    }
};

/// The apex of a regular cell on the triangle `face` (its side the mean of the triangle's
/// sides), on the side of `towards`. False for a degenerate triangle.
bool regularApex(const Point3 face[3], const Point3& towards, Point3& apex) {
    const Point3 normal = cross3(sub3(face[1], face[0]), sub3(face[2], face[0]));
    const double area2 = length3(normal);
    if (!(area2 > 0)) return false;
    const double side =
        (length3(sub3(face[1], face[0])) + length3(sub3(face[2], face[1])) + length3(sub3(face[0], face[2]))) * (1.0 / 3);
    const double height = dot3(normal, sub3(towards, face[0])) < 0 ? -kRegularHeight * side : kRegularHeight * side;
    const Point3 centre = scale3(add3(add3(face[0], face[1]), face[2]), 1.0 / 3);
    apex = add3(centre, scale3(normal, height / area2));
    return true;
}

/// Whether smoothSteinerPoints left v where it was (with the same `search`) and nothing it
/// looked at changed since: no cell with v as a corner (nor v's vertexCell), no point of
/// those cells moved.
bool stayHolds(const Run& r, int32_t v, bool search) {
    const StayMark& m = r.stays[v];
    return m.valid && m.search == search && r.t.starVersion[v] <= m.version && r.movedNear[v] <= m.moves;
}

/// After the flips, a Steiner point at a cell still above the radius-edge bound is moved
/// when that improves its star: to the mean of its neighbours, to the mean of its cells'
/// circumcentres weighted by their volumes, to the apex of a regular cell on the face
/// opposite it in its worst cell, or half way to any of these; a point on an input edge or
/// inside a facet stays on it (keepOnFeature), so the boundary keeps its shape. A move is
/// made only when every cell of the star stays positively oriented, not flat and within the
/// volume bound, every cell above the ratio bound after it was above it before (with the
/// same shortest edge, a ratio no higher than then, and still excused by the bound if it
/// was: a small angle is measured where the points are), and the worst ratio among them
/// drops; of the candidates, the lowest worst ratio. Only coordinates change; the points
/// moved are appended to `moved`.
/// With `search`, the best of those places (or the point's own) is then improved by a
/// compass search: steps along the three axes both ways (kept on the point's feature), the
/// first a quarter of the point's shortest edge long, the best step taken while one lowers
/// the worst ratio and the step halved while none does, down to a 64th of the first, at most
/// kPolishSteps steps.
/// A point left where it was is not tried again (with the same `search`) until its star
/// changes: a cell with it as a corner, or a point of its star (or its neighbours along its
/// input edge) moved. Next to thin layers most points at cells above the bound are at
/// needles no move helps, and the passes after refinement tried them all again each time.
void smoothSteinerPoints(Run& r, std::vector<int32_t>& moved, bool search = false) {
    const double limit = (1 + 1e-9) * r.params.radiusEdgeBound;
    std::vector<int32_t> movable;
    std::vector<uint8_t> listed(r.t.pts.size(), 0);
    for (const auto& [s, q] : cellsAboveBound(r)) {
        if (!(q > limit)) continue;
        for (const int32_t x : r.t.cells[s].v) {
            if (x < 4 + r.inputCount || r.kind[x] == kCorner || listed[x] != 0) continue;
            listed[x] = 1;
            movable.push_back(x);
        }
    }
    std::vector<int32_t> star;
    std::vector<double> ratioNow;
    std::vector<int> shortestNow;
    std::vector<uint8_t> excusedNow;
    // The worst ratio of the star with the point where it is now; infinite when a cell is
    // not valid or fares worse than allowed. A candidate counts only when it beats `beat`,
    // so the scan stops at the first cell as bad as that (the value is then at least `beat`).
    auto worstOfStar = [&](double beat) {
        double worst = 0;
        for (size_t i = 0; i < star.size(); ++i) {
            const auto& cell = r.t.cells[star[i]].v;
            const Point3 &p0 = r.t.pts[cell[0]], &p1 = r.t.pts[cell[1]], &p2 = r.t.pts[cell[2]], &p3 = r.t.pts[cell[3]];
            if (!(orient3d(p0, p1, p2, p3) > 0) || overVolume(r, cell)) return std::numeric_limits<double>::infinity();
            const double q = cellRatio(r, cell);
            if (q > limit && (!(ratioNow[i] > limit) || q > ratioNow[i] || shortestEdgeOf(r, cell) != shortestNow[i] ||
                              (excusedNow[i] != 0 && !excusedCorners(r, cell)))) {
                return std::numeric_limits<double>::infinity();
            }
            worst = std::max(worst, q);
            if (!(worst < beat)) return worst;
        }
        return worst;
    };
    for (const int32_t v : movable) {
        if (stayHolds(r, v, search)) continue;
        star.clear();
        robust::forStar(r.t, v, [&](int32_t s) {
            star.push_back(s);
            return false;
        });
        ratioNow.clear();
        shortestNow.clear();
        excusedNow.clear();
        double worstNow = 0;
        MoveCentres centres;
        for (const int32_t s : star) {
            const auto& cell = r.t.cells[s].v;
            const double q = cellRatio(r, cell);
            ratioNow.push_back(q);
            shortestNow.push_back(shortestEdgeOf(r, cell));
            // Only an excuse whose shortest edge ends at v can change with v's place.
            const int e = shortestNow.back();
            const bool atV = cell[kCellEdges[e][0]] == v || cell[kCellEdges[e][1]] == v;
            excusedNow.push_back(q > limit && atV && excusedCorners(r, cell) ? 1 : 0);
            worstNow = std::max(worstNow, q);
            centres.add(r, cell, v);
        }
        if (centres.links == 0 || std::isinf(worstNow)) continue;
        const Point3 home = r.t.pts[v];
        Point3 candidates[6];
        int count = centres.places(candidates);
        {
            // The apex of a regular cell on the face of the worst cell opposite v, on v's side.
            size_t worstAt = 0;
            for (size_t i = 1; i < star.size(); ++i) {
                if (ratioNow[i] > ratioNow[worstAt]) worstAt = i;
            }
            Point3 face[3];
            int n = 0;
            for (const int32_t x : r.t.cells[star[worstAt]].v) {
                if (x != v) face[n++] = r.t.pts[x];
            }
            if (regularApex(face, home, candidates[count])) ++count;
            // That cell is scanned first: where it stays the worst, a candidate that does not
            // help is known at once.
            std::swap(star[0], star[worstAt]);
            std::swap(ratioNow[0], ratioNow[worstAt]);
            std::swap(shortestNow[0], shortestNow[worstAt]);
            std::swap(excusedNow[0], excusedNow[worstAt]);
        }
        const int full = count;
        for (int i = 0; i < full; ++i) candidates[count++] = scale3(add3(home, candidates[i]), 0.5);
        double bestWorst = worstNow;
        Point3 bestAt = home;
        for (int i = 0; i < count; ++i) {
            if (!keepOnFeature(r, v, candidates[i])) continue;
            r.t.pts[v] = candidates[i];
            ++r.reshaped;
            const double worst = worstOfStar(bestWorst);
            if (worst < bestWorst) {
                bestWorst = worst;
                bestAt = candidates[i];
            }
        }
        if (search) {
            double shortest2 = std::numeric_limits<double>::infinity();
            for (const int32_t s : star) {
                for (const int32_t x : r.t.cells[s].v) {
                    if (x != v) shortest2 = std::min(shortest2, norm2(sub3(r.t.pts[x], home)));
                }
            }
            const Point3 axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
            double step = 0.25 * std::sqrt(shortest2);
            const double smallest = step / 64;
            for (int i = 0; i < kPolishSteps && step >= smallest; ++i) {
                double stepWorst = bestWorst;
                Point3 stepAt = bestAt;
                for (const Point3& axis : axes) {
                    Point3 q = add3(bestAt, scale3(axis, step));
                    if (!keepOnFeature(r, v, q)) continue;
                    r.t.pts[v] = q;
                    ++r.reshaped;
                    const double worst = worstOfStar(stepWorst);
                    if (worst < stepWorst) {
                        stepWorst = worst;
                        stepAt = q;
                    }
                }
                if (stepWorst < bestWorst) {
                    bestWorst = stepWorst;
                    bestAt = stepAt;
                } else {
                    step *= 0.5;
                }
            }
        }
        r.t.pts[v] = bestAt;
        ++r.reshaped;
        if (!(bestWorst < worstNow)) {
            r.stays[v] = StayMark{r.t.version, r.moves, search, true};
            continue;
        }
        moved.push_back(v);
        // Every point whose star holds v, and v's neighbours along its input edge (whose
        // moves are held between them), may fare differently now.
        ++r.moves;
        for (const int32_t s : star) {
            for (const int32_t x : r.t.cells[s].v) r.movedNear[x] = r.moves;
        }
        if (r.kind[v] == kOnEdge) r.movedNear[r.prevV[v]] = r.movedNear[r.nextV[v]] = r.moves;
    }
}

/// The moves of Steiner points, then the flips around the points moved (counting cells as
/// the bound excuses them when the moves `search`). True when a point moved.
bool movePointsAndFlip(Run& r, bool search = false) {
    std::vector<int32_t> moved;
    smoothSteinerPoints(r, moved, search);
    if (!moved.empty()) flipBadCells(r, &moved, search);
    return !moved.empty();
}

// ---------------------------------------------------------------------------------------
// Points for the cells left above the bound.

/// Whether the cavity prepared for vertex vid (every face it gets a cell on seen strictly)
/// replaces its cells in the solid by better ones: none above the volume bound, and fewer
/// above the ratio bound that the bound does not excuse (excusedCorners) with a worst ratio
/// no higher, or with the unexcused cells made no worse than the worst unexcused cell
/// replaced and no more slivers (cells above kSliverRatio) made than replaced; or, with a
/// worst ratio no higher, as many unexcused cells and fewer that refinement does not
/// protect (protectedCorners), or as many of both and a worst ratio below kPlateauDrop of
/// the worst before (a cell that needs several points, none of which alone takes a cell
/// above the bound away, gets them one by one). Cells the bound excuses may grow in number
/// (requiring no more cells above the bound at all left more unexcused cells, and more above
/// the bound overall), and where unexcused cells go they may get worse, but not into more
/// slivers: holding their worst ratio kept a point from taking an unexcused cell away
/// beside a sharp wedge whose excused cells it made worse; letting slivers grow in number
/// too made more cells far above the bound. Cells outside the solid do not count.
bool cavityImproves(const Run& r, int32_t vid) {
    const double limit = (1 + 1e-9) * r.params.radiusEdgeBound;
    // Per side (0: the cells replaced, 1: the cells made): above the bound and not excused,
    // above it and not protected, slivers, the worst ratio, the worst unexcused ratio.
    int unexcused[2] = {0, 0}, unprotected[2] = {0, 0}, slivers[2] = {0, 0};
    double worst[2] = {0, 0}, worstUnexcused[2] = {0, 0};
    // A flat cell counts as neither excused nor protected: no input angle excuses a cell of
    // rounding volume.
    auto count = [&](int side, const std::array<int32_t, 4>& cell) {
        const double q = cellRatio(r, cell);
        worst[side] = std::max(worst[side], q);
        if (!(q > limit)) return;
        const bool flat = std::isinf(q);
        if (q > kSliverRatio) ++slivers[side];
        if (flat || !excusedCorners(r, cell)) {
            ++unexcused[side];
            worstUnexcused[side] = std::max(worstUnexcused[side], q);
        }
        if (flat || !protectedCorners(r, cell)) ++unprotected[side];
    };
    for (const int32_t s : r.t.cavity) {
        if (r.t.inside[s] != 0) count(0, r.t.cells[s].v);
    }
    for (const CavityFace& cf : r.t.boundary) {
        if (cf.skip != 0 || cf.inside == 0) continue;
        if (!(orient3d(r.t.pts[cf.a], r.t.pts[cf.b], r.t.pts[cf.c], r.t.pts[vid]) > 0)) return false;
        const std::array<int32_t, 4> cell{cf.a, cf.b, cf.c, vid};
        if (overVolume(r, cell)) return false;
        count(1, cell);
    }
    if (r.noMoreSlivers && slivers[1] > slivers[0]) return false;
    if (unexcused[1] != unexcused[0]) {
        return unexcused[1] < unexcused[0] &&
               (worst[1] <= worst[0] || (worstUnexcused[1] <= worstUnexcused[0] && slivers[1] <= slivers[0]));
    }
    if (unprotected[1] != unprotected[0]) return unprotected[1] < unprotected[0] && worst[1] <= worst[0];
    return worst[1] < kPlateauDrop * worst[0];
}

/// Tries q inside the solid, its cavity grown from the cells `seeds` (which join it whatever
/// the conflict test says when `force`). True when it went in.
bool tryFreePoint(Run& r, const Point3& q, const int32_t* seeds, int seedCount, bool force) {
    const int32_t vid = addVertex(r, q, kFree, -1);
    auto cross = [&](int32_t a, int32_t b, int32_t c) { return !isBarrier(r, a, b, c); };
    const bool ready = robust::growCavity(r.t, q, seeds, seedCount, cross, force, r.cavityCap) && r.t.lostBarriers.empty() &&
                       robust::shrinkCavity(r.t, q, cross, [](const CavityFace&) { return false; },
                                            [&](const CavityFace& cf) { return flatWith(r, cf, vid); }) &&
                       cavityImproves(r, vid);
    if (!ready) {
        dropVertex(r);
        return false;
    }
    return commitOrDrop(r, vid);
}

/// Tries q (put into the plane of facet f) inside the boundary face `face` (slot * 4 + k)
/// of f: its cavity starts from the cells on both sides of the face, which must conflict
/// with q unless `force`. True when it went in.
bool tryFacetPoint(Run& r, int32_t f, Point3 q, int32_t face, bool force = false) {
    q = ontoFacetPlane(r.facets[f], q);
    int32_t seeds[2] = {face >> 2, r.t.cells[face >> 2].n[face & 3]};
    const int seedCount = seeds[1] >= 0 ? 2 : 1;
    if (seeds[1] >= 0) seeds[1] >>= 2;
    for (int i = 0; i < seedCount && !force; ++i) {
        if (!robust::inConflict(r.t, seeds[i], q)) return false;
    }
    return insertFacetPoint(r, f, q, true, -1, seeds, seedCount, false, force);
}

/// The points tried on the boundary face `face` (slot * 4 + k) for a cell whose
/// circumcentre c lies beyond it, seen from the cell's centroid g: where the segment from g
/// to c meets the face's plane, when that lies well inside the face (each barycentric
/// coordinate above 0.05), then the face's centroid.
int facetCandidates(const Run& r, int32_t face, const Point3& g, const Point3& c, Point3* out) {
    int32_t a, b, cx;
    robust::faceOf(r.t, face >> 2, face & 3, a, b, cx);
    const Point3 &A = r.t.pts[a], &B = r.t.pts[b], &C = r.t.pts[cx];
    const Point3 n = cross3(sub3(B, A), sub3(C, A));
    const double dg = dot3(n, sub3(g, A)), dc = dot3(n, sub3(c, A));
    int count = 0;
    if (dg != dc) {
        const Point3 q = add3(g, scale3(sub3(c, g), dg / (dg - dc)));
        const double n2 = dot3(n, n);
        const double la = dot3(n, cross3(sub3(B, q), sub3(C, q))) / n2;
        const double lb = dot3(n, cross3(sub3(C, q), sub3(A, q))) / n2;
        const double lc = dot3(n, cross3(sub3(A, q), sub3(B, q))) / n2;
        if (la > 0.05 && lb > 0.05 && lc > 0.05) out[count++] = q;
    }
    out[count++] = scale3(add3(add3(A, B), C), 1.0 / 3);
    return count;
}

/// Whether the Steiner budget (or the engine's limit on points) leaves room for a point,
/// without failing the run.
bool roomForPoint(const Run& r) {
    return r.out->steinerCount < r.params.maxSteinerPoints && static_cast<int64_t>(r.t.pts.size()) - 4 < kMaxRobustPoints;
}

/// The input edges next to a cell with corners v: those of its corners on input edges and
/// those two of its corners' facets share. At most `cap`, in the order found.
int edgesNextTo(const Run& r, const std::array<int32_t, 4>& v, int32_t* out, int cap) {
    int n = 0;
    auto add = [&](int32_t e) {
        if (n < cap && std::find(out, out + n, e) == out + n) out[n++] = e;
    };
    for (int k = 0; k < 4; ++k) {
        if (r.kind[v[k]] == kOnEdge) add(r.feature[v[k]]);
    }
    for (int i = 0; i < 4; ++i) {
        const Span fi = facetsOf(r, v[i]);
        for (int j = i + 1; j < 4; ++j) {
            const Span fj = facetsOf(r, v[j]);
            for (const int32_t* f = fi.begin; f != fi.end; ++f) {
                for (const int32_t* g = fj.begin; g != fj.end; ++g) {
                    if (*f == *g) continue;
                    for (const int32_t e : r.facets[*f].edge) {
                        const int32_t* ge = r.facets[*g].edge;
                        if (ge[0] == e || ge[1] == e || ge[2] == e) add(e);
                    }
                }
            }
        }
    }
    return n;
}

/// The position in e's chain of the subsegment holding the foot of the perpendicular from x
/// to the edge, or -1 when the foot lies off the edge.
int32_t subsegmentUnder(const Run& r, const InputEdge& e, const Point3& x) {
    const Point3& a = r.t.pts[e.a];
    const Point3 dir = sub3(r.t.pts[e.b], a);
    const double l2 = norm2(dir);
    const double t = dot3(sub3(x, a), dir) / l2;
    if (!(t > 0 && t < 1)) return -1;
    // The first chain point beyond the foot (the chain runs from a to b).
    size_t lo = 0, hi = e.chain.size() - 1;
    while (hi - lo > 1) {
        const size_t mid = lo + (hi - lo) / 2;
        if (dot3(sub3(r.t.pts[e.chain[mid]], a), dir) / l2 <= t) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return static_cast<int32_t>(hi - 1);
}

/// Splits, if that improves its cavity, the subsegment of an input edge next to the cell with
/// corners v at the foot of the perpendicular from its circumcentre c or its centroid g.
bool splitNearbyEdge(Run& r, const std::array<int32_t, 4>& v, const Point3& c, const Point3& g) {
    int32_t edges[8];
    const int n = edgesNextTo(r, v, edges, 8);
    for (const Point3& x : {c, g}) {
        for (int k = 0; k < n && roomForPoint(r); ++k) {
            const InputEdge& e = r.edges[edges[k]];
            const int32_t i = subsegmentUnder(r, e, x);
            if (i < 0) continue;
            const Point3& ps = r.t.pts[e.chain[i]];
            const Point3& pw = r.t.pts[e.chain[i + 1]];
            const Point3 d = sub3(pw, ps);
            const double lambda = dot3(sub3(x, ps), d) / norm2(d);
            if (!(lambda > 0.1 && lambda < 0.9)) continue;
            const Point3 q = add3(ps, scale3(d, lambda));
            if (splitSubsegment(r, edges[k], i, true, false, &q)) return true;
        }
    }
    return false;
}

/// A flat cell (its corners on facets of one plane, or a volume of rounding size): a point
/// at its centroid g, put into the facet of one of its boundary faces when it has one, else
/// inside, takes it away with the cells on its faces when that improves the cavity. Its
/// circumsphere, if any, is made by rounding, so it joins the cavity whatever the conflict
/// test says.
bool takeFlatCellAway(Run& r, int32_t slot, const Point3& g) {
    for (int k = 0; k < 4 && roomForPoint(r); ++k) {
        int32_t a, b, c;
        robust::faceOf(r.t, slot, k, a, b, c);
        const int32_t f = commonFacet(r, a, b, c);
        if (f >= 0 && tryFacetPoint(r, f, g, slot * 4 + k, true)) return true;
    }
    return roomForPoint(r) && tryFreePoint(r, g, &slot, 1, true);
}

/// Last, each cell still above the ratio bound whose shortest edge refinement does not
/// protect (protectedCorners) gets a point if one helps: its circumcentre, the point half
/// way from its centroid to that, its centroid, or the apex of a regular cell on one of its
/// faces, in that order, where such a place lies beyond a boundary face a point inside
/// that face instead (facetCandidates); then the split point of each of its edges that is
/// a subsegment; then a split of an input edge next to it (splitNearbyEdge). A flat cell
/// gets its centroid instead (takeFlatCellAway), whether protected or not. The first that
/// improves its cavity goes in (cavityImproves) and causes no other split. Refinement refused these points for its shortest-edge rule or because they
/// encroach a boundary piece; here they go in only when the cells they make are better.
/// One pass over the cells; it stops quietly when the Steiner budget runs out (the mesh is
/// complete by then). The points added are appended to `added`. With `only`, the cells in
/// those slots alone are looked at. With `slivers`, the cells looked at are those above
/// kSliverRatio instead, excused and protected or not, and a point goes in only when it also
/// makes no more of them than it replaces (addPointsForSlivers).
void addPointsForCellsLeft(Run& r, std::vector<int32_t>& added, const std::vector<int32_t>* only = nullptr,
                           bool slivers = false) {
    const double limit = (1 + 1e-9) * r.params.radiusEdgeBound;
    r.trackFresh = false;
    r.shapeMinEdge2 = 0;
    r.onlyIfImproving = true;
    r.noMoreSlivers = slivers;
    r.cavityCap = kCellsLeftCavityCap;
    std::vector<std::pair<int32_t, std::array<int32_t, 4>>> left;
    auto consider = [&](int32_t s, double q) {
        const bool wanted = slivers ? q > kSliverRatio : q > limit && (std::isinf(q) || !protectedCell(r, s));
        if (wanted) left.push_back({s, r.t.cells[s].v});
    };
    if (only != nullptr) {
        for (const int32_t s : *only) {
            if (r.t.alive[s] != 0 && r.t.inside[s] != 0) consider(s, cellRatio(r, r.t.cells[s].v));
        }
    } else {
        for (const auto& [s, q] : cellsAboveBound(r)) consider(s, q);
    }
    for (const auto& [s, v] : left) {
        if (!roomForPoint(r)) break;
        if (r.t.alive[s] == 0 || r.t.cells[s].v != v) continue;  // replaced meanwhile
        const size_t before = r.t.pts.size();
        const Point3 p[4] = {r.t.pts[v[0]], r.t.pts[v[1]], r.t.pts[v[2]], r.t.pts[v[3]]};
        const Point3 g = centroid4(p[0], p[1], p[2], p[3]);
        Point3 centre;
        if (std::isinf(cellRatio(r, v)) || !tetCircumcentre(p[0], p[1], p[2], p[3], centre)) {
            if (takeFlatCellAway(r, s, g)) added.push_back(static_cast<int32_t>(before));
            continue;
        }
        Point3 candidates[7] = {centre, scale3(add3(centre, g), 0.5), g};
        int count = 3;
        for (int k = 0; k < 4; ++k) {
            const Point3 face[3] = {p[(k + 1) % 4], p[(k + 2) % 4], p[(k + 3) % 4]};
            if (regularApex(face, p[k], candidates[count])) ++count;
        }
        bool done = false;
        for (int i = 0; i < count && !done && roomForPoint(r); ++i) {
            const robust::Location loc = robust::locatePoint(
                r.t, candidates[i], s, [&](int32_t a, int32_t b, int32_t c) { return isBarrier(r, a, b, c); });
            if (loc.blocked < 0) {
                if (loc.cell < 0 || r.t.inside[loc.cell] == 0) continue;
                // The cells on the way from the cell to the point join its cavity whatever
                // the conflict test says: a cell left is where the mesh is not Delaunay, and
                // the cavity grown by the test alone can miss it. The point still goes in
                // only when the cells it makes are better than those it replaces.
                std::vector<int32_t> way;
                done = firstBoundaryCrossed(r, s, candidates[i], &way) < 0
                           ? tryFreePoint(r, candidates[i], way.data(), static_cast<int>(way.size()), true)
                           : tryFreePoint(r, candidates[i], &loc.cell, 1, false);
                continue;
            }
            int32_t a, b, c;
            robust::faceOf(r.t, loc.blocked >> 2, loc.blocked & 3, a, b, c);
            const int32_t f = commonFacet(r, a, b, c);
            if (f < 0) continue;
            Point3 onFace[2];
            const int n = facetCandidates(r, loc.blocked, g, candidates[i], onFace);
            for (int j = 0; j < n && !done; ++j) done = tryFacetPoint(r, f, onFace[j], loc.blocked);
        }
        for (int k = 0; k < 6 && !done && roomForPoint(r); ++k) {
            const int32_t u = v[kCellEdges[k][0]], w = v[kCellEdges[k][1]];
            const int32_t edgeId = subsegmentEdge(r, u, w);
            if (edgeId >= 0) done = splitSubsegment(r, edgeId, chainPosition(r.edges[edgeId], u, w), true, false);
        }
        if (!done) done = splitNearbyEdge(r, v, centre, g);
        if (done) added.push_back(static_cast<int32_t>(before));
    }
    r.onlyIfImproving = false;
    r.noMoreSlivers = false;
    r.cavityCap = SIZE_MAX;
}

/// Slivers (cells above kSliverRatio) left after the refinement around the cells left,
/// excused or not: each gets the points tried for a cell left (addPointsForCellsLeft), and
/// one goes in only when its cavity's cells come out better by the same judgement and no
/// more of them are slivers. Next to a small input angle refinement leaves cells alone, and
/// there thin triangles often meet at a fold of nearly flat facets (the strips of a rounded
/// edge beside a flat face): a cell with its four corners on the two sides of such a fold
/// lies flat along the surface, with a circumsphere far outside and a ratio in the
/// thousands, although a point inside the solid next to it makes cells far better. The
/// flips around the points added follow; again while points go in (kSliverRounds).
void addPointsForSlivers(Run& r) {
    std::vector<int32_t> added;
    for (int round = 0; round < kSliverRounds; ++round) {
        added.clear();
        addPointsForCellsLeft(r, added, nullptr, true);
        if (added.empty()) break;
        flipBadCells(r, &added);
    }
}

/// Cells above the ratio bound that the bound does not excuse, and slivers (cells above
/// kSliverRatio).
struct LeftCounts {
    int64_t unexcused = 0;
    int64_t slivers = 0;
};

void countLeftCell(const Run& r, int32_t s, LeftCounts& n) {
    if (s >= static_cast<int32_t>(r.t.cells.size()) || r.t.alive[s] == 0 || r.t.inside[s] == 0) return;
    const double q = cellRatio(r, r.t.cells[s].v);
    if (!(q > (1 + 1e-9) * r.params.radiusEdgeBound)) return;
    if (q > kSliverRatio) ++n.slivers;
    if (!excusedCorners(r, r.t.cells[s].v)) ++n.unexcused;
}

/// Whether a cell in the solid is above the ratio bound and not excused by it.
bool anyUnexcusedCell(const Run& r) {
    LeftCounts n;
    for (int32_t s = 0; s < static_cast<int32_t>(r.t.cells.size()) && n.unexcused == 0; ++s) countLeftCell(r, s, n);
    return n.unexcused > 0;
}

/// The slots whose cell differs between two states of one run (made, replaced or freed).
std::vector<int32_t> changedSlots(const Run& before, const Run& after) {
    std::vector<int32_t> slots;
    for (int32_t c = 0; c < static_cast<int32_t>(after.t.cells.size()); ++c) {
        if (c < static_cast<int32_t>(before.t.cells.size()) && before.t.alive[c] == after.t.alive[c] &&
            before.t.cells[c].v == after.t.cells[c].v) {
            continue;
        }
        slots.push_back(c);
    }
    return slots;
}

/// After an attempt was undone (the run `r` back as it was): the points the attempt's moves
/// left where they were (`stays`) whose stars it never changed (`starVersion`,
/// `movedNear` as the attempt left them) are left where they are from now on too.
void keepStays(Run& r, const std::vector<StayMark>& stays, const std::vector<uint64_t>& starVersion,
               const std::vector<uint64_t>& movedNear) {
    // The attempt only added points: every point of the run as it was is in its lists.
    const size_t n = std::min(stays.size(), r.t.pts.size());
    for (size_t v = 0; v < n; ++v) {
        const StayMark& m = stays[v];
        // The mark still held when the attempt ended, and the star was the same all along.
        const bool held = m.valid && starVersion[v] <= m.version && movedNear[v] <= m.moves;
        if (!held || starVersion[v] > r.t.version || movedNear[v] > r.moves) continue;
        r.stays[v] = StayMark{r.t.version, r.moves, m.search, true};
    }
}

/// Refines the cells in the ball around g (kLocalRadius times the square root of longest2)
/// as in refinement, but without the shortest-edge rule and with at most kLocalPoints
/// points, none closer to a vertex than kLocalFloor times the square root of shortest2
/// (with `loose`, also without the protection of points on one facet, or one side, of a
/// small facet corner), then flips around the points added, moves Steiner points, and
/// tries the points for the cells left, then those for the slivers, among the cells it
/// made (with flips around the points moved and added). The cells it makes outside the
/// ball are refined too, under the shortest-edge rule. Keeps the result when the mesh then
/// has fewer cells above the bound that the bound does not excuse and no more slivers
/// (cells above kSliverRatio); otherwise the mesh goes back to what it was (also when the
/// run's budget ran out in it).
/// True when the result was kept. `saved` takes the copy of the run as it was, and then
/// the attempt when it is undone: copied into again, its lists are reused (a fresh copy of
/// a run of a million cells spent as long in page faults as in copying).
bool refineAround(Run& r, Run& saved, const Point3& g, double longest2, double shortest2, bool loose) {
    saved = r;
    const RobustTetMesh savedOut = *r.out;
    r.local = true;
    r.localLoose = loose;
    r.localCentre = g;
    r.localRadius2 = kLocalRadius * kLocalRadius * longest2;
    r.localFloor2 = kLocalFloor * kLocalFloor * shortest2;
    r.localTries = 0;
    r.localStart = r.out->steinerCount;
    r.cavityCap = kLocalCavityCap;
    // The pieces marked stuck were marked for the mesh as refinement left it; the attempt's
    // points change their surroundings, and a split refused then may take one away now
    // (the attempt is judged like any other; undone, the marks come back with the copy).
    r.stuckPieces.clear();
    const int64_t budget = r.params.maxSteinerPoints;
    r.params.maxSteinerPoints = std::min(budget, r.out->steinerCount + kLocalPoints);
    const size_t first = r.t.pts.size();
    const bool refined = refine(r);
    r.params.maxSteinerPoints = budget;
    r.local = false;
    r.localLoose = false;
    r.cavityCap = SIZE_MAX;
    r.trackFresh = false;
    r.fresh.clear();
    r.freshShrunk.clear();
    bool keep = false;
    if (refined) {
        std::vector<int32_t> added;
        for (size_t i = first; i < r.t.pts.size(); ++i) {
            if (r.t.vertexCell[i] >= 0) added.push_back(static_cast<int32_t>(i));
        }
        // Then as after refinement: the flips, the moves and the flips around the points
        // moved, and the points for the cells left among the cells the attempt made, with
        // the flips and moves around them. A move makes no cell above the bound that was
        // not, nor one worse, so the cells it reshapes without a slot changing can only
        // lower the counts below.
        flipBadCells(r, &added);
        movePointsAndFlip(r);
        const std::vector<int32_t> made = changedSlots(saved, r);
        std::vector<int32_t> more;
        addPointsForCellsLeft(r, more, &made);
        if (!more.empty()) {
            flipBadCells(r, &more);
            movePointsAndFlip(r);
        }
        // And the points for the slivers among the cells it made, as the pass after this
        // one would try them: an attempt that takes every unexcused cell in its reach away
        // often leaves a few slivers of its own that one point each mends, and judged
        // before those points it was undone for them.
        const std::vector<int32_t> madeNow = changedSlots(saved, r);
        std::vector<int32_t> forSlivers;
        addPointsForCellsLeft(r, forSlivers, &madeNow, true);
        if (!forSlivers.empty()) flipBadCells(r, &forSlivers);
        // The counts change only in the slots that changed.
        LeftCounts before, after;
        for (const int32_t c : changedSlots(saved, r)) {
            countLeftCell(saved, c, before);
            countLeftCell(r, c, after);
        }
        keep = after.unexcused < before.unexcused && after.slivers <= before.slivers;
    }
    if (!keep) {
        // The attempt goes to `saved`, whose lists the next attempt's copy reuses. What the
        // moves found about points whose stars the attempt never touched holds for the
        // mesh as it was, too.
        std::swap(r, saved);
        *r.out = savedOut;
        keepStays(r, saved.stays, saved.t.starVersion, saved.movedNear);
    }
    return keep;
}

/// Each cell still above the bound that the bound does not excuse, in slot order, gets its
/// neighbourhood refined (refineAround): next to a thin feature a cell often needs the
/// cells around it refined to the feature's scale, more points than any one point can
/// improve, and closer together than refinement lets in. When that is undone, it is tried
/// once more without the protection of the thin triangles' points from each other (those
/// triangles must be refined to the thickness of what lies next to them; the floor on the
/// points' spacing and the points allowed bound what would otherwise be a cascade). Like
/// the points for the cells left, an improvement: when the budget runs out, the attempt
/// is undone and the pass goes on with the points left (the next cells may need fewer: a
/// shaft whose first attempts ran into the budget kept 16 cells, 11 with the others
/// tried). A cell whose centroid lies within the longest edge of a
/// cell whose attempts were undone from that cell's centroid is not tried: its ball would
/// be much the same (when this was written, with at most 300 points per attempt: on a
/// voxel solid with layers 1e-4 thick, 208 cells left in one cluster took 15.5 s instead of
/// 8.0 without the pass with the first try alone; 8.9 s with this, one cell more left, and
/// 14.4 s with the second try). At most kMaxLocalAttempts attempts in a run, in this order.
/// True when an attempt was kept and the budget is not spent: the cells it left can be
/// tried again.
bool refineAroundCellsLeftOnce(Run& r, Run& saved) {
    bool anyKept = false;
    const double limit = (1 + 1e-9) * r.params.radiusEdgeBound;
    std::vector<std::pair<int32_t, std::array<int32_t, 4>>> left;
    for (const auto& [s, q] : cellsAboveBound(r)) {
        if (q > limit && !std::isinf(q) && !excusedCorners(r, r.t.cells[s].v)) left.push_back({s, r.t.cells[s].v});
    }
    std::vector<std::pair<Point3, double>> undone;  // centroid and longest edge squared
    for (const auto& [s, v] : left) {
        if (!roomForPoint(r) || r.localAttempts >= kMaxLocalAttempts) break;
        if (r.t.alive[s] == 0 || r.t.cells[s].v != v || !(cellRatio(r, v) > limit)) continue;
        const Point3 p[4] = {r.t.pts[v[0]], r.t.pts[v[1]], r.t.pts[v[2]], r.t.pts[v[3]]};
        const Point3 g = centroid4(p[0], p[1], p[2], p[3]);
        bool near = false;
        for (const auto& [c, l2] : undone) near = near || norm2(sub3(g, c)) < l2;
        if (near) continue;
        double longest2 = 0;
        double shortest2 = std::numeric_limits<double>::infinity();
        for (const auto& e : kCellEdges) {
            const double l2 = norm2(sub3(p[e[0]], p[e[1]]));
            longest2 = std::max(longest2, l2);
            shortest2 = std::min(shortest2, l2);
        }
        bool kept = false;
        for (const bool loose : {false, true}) {
            if (kept || r.localAttempts >= kMaxLocalAttempts) break;
            ++r.localAttempts;  // before the copy the attempt takes, so that an undone one counts
            kept = refineAround(r, saved, g, longest2, shortest2, loose);
        }
        if (!kept) undone.push_back({g, longest2});
        anyKept = anyKept || kept;
    }
    return anyKept && roomForPoint(r);
}

/// The pass above, again while it keeps an attempt (kLocalRounds at most): a kept attempt
/// can leave a cell of its own above the bound, which a ball around it may mend.
void refineAroundCellsLeft(Run& r) {
    Run saved;  // the copies of the attempts (refineAround)
    for (int round = 0; round < kLocalRounds; ++round) {
        if (!refineAroundCellsLeftOnce(r, saved)) break;
    }
}

/// What a contraction or a boundary edge flip for the cells left would change.
struct LeftChange {
    int unexcused = 0;  ///< cells above the ratio bound that the bound does not excuse, made minus replaced
    int slivers = 0;    ///< cells above kSliverRatio, made minus replaced
    double worst = 0;   ///< the worst ratio of the cells made
    /// Takes fewer unexcused cells away than `best` (or none was found yet), then makes
    /// fewer slivers, then has a lower worst ratio.
    bool betterThan(const LeftChange& best, bool found) const {
        return !found || unexcused < best.unexcused ||
               (unexcused == best.unexcused && (slivers < best.slivers || (slivers == best.slivers && worst < best.worst)));
    }
};

/// The change a contraction of Steiner point v into its neighbour u would make to the cells
/// of its star (`star`), in `c`; false when it is not allowed: a cell it makes is not
/// positively oriented, or in the solid and flat or above the volume bound, or a face of
/// the cells it makes would lie on a facet without parting the solid from the outside, or
/// part them off the facets (the boundary keeps its faces, each on its facet). The cells
/// are made one at a time, so a contraction refused at its first cell costs one cell, not
/// the star (the hub of a fan of needles has thousands of cells and hundreds of
/// neighbours to try).
bool judgeContraction(const Run& r, int32_t v, int32_t u, const std::vector<int32_t>& star, LeftChange& c) {
    const double limit = (1 + 1e-9) * r.params.radiusEdgeBound;
    c = LeftChange();
    for (const int32_t s : star) {
        if (robust::cellHas(r.t.cells[s], u)) continue;  // goes with the contraction
        std::array<int32_t, 4> m = r.t.cells[s].v;
        for (int32_t& x : m) {
            if (x == v) x = u;
        }
        if (!(orient3d(r.t.pts[m[0]], r.t.pts[m[1]], r.t.pts[m[2]], r.t.pts[m[3]]) > 0)) return false;
        const uint8_t inside = r.t.inside[s];
        if (inside != 0 && (flatCell(r, m[0], m[1], m[2], m[3]) || overVolume(r, m))) return false;
        // A face through u comes from the cell's face through v; the cell beyond it then is
        // the one beyond that face, or, where that one had u too and goes, the one beyond
        // its face opposite v.
        for (int k = 0; k < 4; ++k) {
            const robust::Cell& old = r.t.cells[s];
            if (old.v[k] == v) continue;  // the face opposite u: as it was
            const int32_t across = old.n[k];
            uint8_t beyond = 0;
            if (across >= 0) {
                const robust::Cell& o = r.t.cells[across >> 2];
                if (robust::cellHas(o, u)) {
                    int kv = 0;
                    while (o.v[kv] != v) ++kv;
                    beyond = o.n[kv] < 0 ? 0 : r.t.inside[o.n[kv] >> 2];
                } else {
                    beyond = r.t.inside[across >> 2];
                }
            }
            const bool onFacets = isBarrier(r, m[robust::kFace[k][0]], m[robust::kFace[k][1]], m[robust::kFace[k][2]]);
            if (onFacets != (beyond != inside)) return false;
        }
        if (inside == 0) continue;
        const double q = cellRatio(r, m);
        c.worst = std::max(c.worst, q);
        if (q > limit && !excusedCorners(r, m)) ++c.unexcused;
        if (q > kSliverRatio) ++c.slivers;
    }
    for (const int32_t s : star) {
        if (r.t.inside[s] == 0) continue;
        const double q = cellRatio(r, r.t.cells[s].v);
        if (q > limit && !excusedCorners(r, r.t.cells[s].v)) --c.unexcused;
        if (q > kSliverRatio) --c.slivers;
    }
    return true;
}

/// Contracts Steiner point v into its neighbour u (judged by judgeContraction) and takes v
/// off its input edge or facet. False when the faces did not match up (nothing changed).
bool contract(Run& r, int32_t v, int32_t u, const std::vector<int32_t>& star) {
    std::vector<int32_t> slots;
    if (!robust::contractVertex(r.t, v, u, star, slots)) return false;
    if (r.kind[v] == kOnEdge) {
        InputEdge& e = r.edges[r.feature[v]];
        e.chain.erase(std::find(e.chain.begin(), e.chain.end(), v));
        const int32_t before = r.prevV[v], after = r.nextV[v];
        if (r.kind[before] == kOnEdge) r.nextV[before] = after;
        if (r.kind[after] == kOnEdge) r.prevV[after] = before;
    } else if (r.kind[v] == kOnFacet) {
        std::vector<int32_t>& interior = r.facets[r.feature[v]].interior;
        const auto at = std::find(interior.begin(), interior.end(), v);
        if (at != interior.end()) interior.erase(at);
    }
    if (r.kind[v] != kFree) --r.out->boundaryPoints;
    if (v < 4 + r.inputCount + r.out->recoveryPoints) --r.out->recoveryPoints;
    --r.out->steinerCount;
    r.contracted.push_back(v);
    return true;
}

/// For a cell left above the bound that no contraction helps: the flip of an edge (a, b) of
/// one of its boundary faces (a, b, c), not a subsegment, whose other boundary face (a, b, e)
/// lies on the same facet and belongs to the cell across the cell's face (a, b, d): the two
/// cells give way to (c, e, d, a) and (c, e, d, b), the facet's two faces to (c, e, a) and
/// (c, e, b). Allowed when a and b lie strictly on either side of the plane through c, e and
/// d (so the four points on the facet make a convex quadrilateral and both new cells are
/// positively oriented), and the new cells are not flat nor above the volume bound; made,
/// of the cell's boundary edges, where it leaves the most fewer cells the bound does not
/// excuse with no more slivers (then the fewest slivers, then the lowest worst ratio). The
/// facet stays the union of its faces. True when a flip was made.
bool flipBoundaryEdgeForCell(Run& r, int32_t slot) {
    const double limit = (1 + 1e-9) * r.params.radiusEdgeBound;
    const robust::Cell cell = r.t.cells[slot];
    // Cells above the bound the bound does not excuse, slivers and the worst ratio.
    auto tally = [&](const std::array<int32_t, 4>& v, LeftChange& c, int sign) {
        const double q = cellRatio(r, v);
        if (sign > 0) c.worst = std::max(c.worst, q);
        if (q > limit && !excusedCorners(r, v)) c.unexcused += sign;
        if (q > kSliverRatio) c.slivers += sign;
    };
    LeftChange best;
    int32_t bestOld[2] = {-1, -1};
    std::array<int32_t, 4> bestMade[2];
    for (int k = 0; k < 4; ++k) {
        if (cell.n[k] >= 0) continue;  // not on the boundary
        int32_t f[3];
        robust::faceOf(r.t, slot, k, f[0], f[1], f[2]);
        const int32_t facet = commonFacet(r, f[0], f[1], f[2]);
        if (facet < 0) continue;
        const int32_t d = cell.v[k];
        for (int j = 0; j < 3; ++j) {
            const int32_t a = f[j], b = f[(j + 1) % 3], c = f[(j + 2) % 3];
            if (subsegmentEdge(r, a, b) >= 0) continue;
            int kc = 0;
            while (cell.v[kc] != c) ++kc;
            if (cell.n[kc] < 0) continue;
            const int32_t m = cell.n[kc] >> 2;
            const robust::Cell& other = r.t.cells[m];
            int32_t e = -1;
            int kd = -1;
            for (int i = 0; i < 4; ++i) {
                if (other.v[i] == d) kd = i;
                if (other.v[i] != a && other.v[i] != b && other.v[i] != d) e = other.v[i];
            }
            if (e < 0 || kd < 0 || other.n[kd] >= 0 || commonFacet(r, a, b, e) != facet) continue;
            if (r.t.inside[m] != r.t.inside[slot]) continue;
            const Point3 &pc = r.t.pts[c], &pe = r.t.pts[e], &pd = r.t.pts[d];
            const double oa = orient3d(pc, pe, pd, r.t.pts[a]);
            const double ob = orient3d(pc, pe, pd, r.t.pts[b]);
            if (!((oa > 0 && ob < 0) || (oa < 0 && ob > 0))) continue;
            const std::array<int32_t, 4> made[2] = {
                oa > 0 ? std::array<int32_t, 4>{c, e, d, a} : std::array<int32_t, 4>{e, c, d, a},
                ob > 0 ? std::array<int32_t, 4>{c, e, d, b} : std::array<int32_t, 4>{e, c, d, b}};
            bool allowed = commonFacet(r, c, e, a) == facet && commonFacet(r, c, e, b) == facet && !isBarrier(r, c, e, d);
            for (const auto& v : made) {
                const Point3 &p0 = r.t.pts[v[0]], &p1 = r.t.pts[v[1]], &p2 = r.t.pts[v[2]], &p3 = r.t.pts[v[3]];
                allowed = allowed && orient3d(p0, p1, p2, p3) > 0 && !flatCell(r, v[0], v[1], v[2], v[3]) &&
                          !nearlyFlat(p0, p1, p2, p3) && !overVolume(r, v);
            }
            if (!allowed) continue;
            LeftChange change;
            tally(cell.v, change, -1);
            tally(other.v, change, -1);
            tally(made[0], change, 1);
            tally(made[1], change, 1);
            if (!(change.unexcused < 0 && change.slivers <= 0) || !change.betterThan(best, bestOld[0] >= 0)) continue;
            best = change;
            bestOld[0] = slot;
            bestOld[1] = m;
            bestMade[0] = made[0];
            bestMade[1] = made[1];
        }
    }
    if (bestOld[0] < 0) return false;
    std::vector<int32_t> slots;
    return robust::replaceCells(r.t, bestOld, 2, bestMade, 2, slots, true);
}

/// The cells above the ratio bound (not flat) that the bound does not excuse, by their
/// corners, in slot order.
std::vector<std::array<int32_t, 4>> unexcusedCells(const Run& r) {
    const double limit = (1 + 1e-9) * r.params.radiusEdgeBound;
    std::vector<std::array<int32_t, 4>> left;
    for (const auto& [s, q] : cellsAboveBound(r)) {
        if (q > limit && !std::isinf(q) && !excusedCorners(r, r.t.cells[s].v)) left.push_back(r.t.cells[s].v);
    }
    return left;
}

/// The slot of the cell with these corners, or -1 when it is gone.
int32_t slotOfCell(Run& r, const std::array<int32_t, 4>& cell) {
    return robust::forStar(r.t, cell[0], [&](int32_t s) {
        return robust::cellHas(r.t.cells[s], cell[1]) && robust::cellHas(r.t.cells[s], cell[2]) &&
               robust::cellHas(r.t.cells[s], cell[3]);
    });
}

/// Next to thin features the cells left above the bound are often made by a Steiner point
/// too close to others for any place of it to help (the moves found none): the point goes.
/// For each cell still above the bound that the bound does not excuse, in slot order, each
/// of its Steiner corners is tried contracted into each neighbour it may join: along its
/// input edge the points next to it there, on a facet the points of that facet (its edges
/// and corners too), inside the solid any. The contraction with the fewest cells the bound
/// does not excuse, then the fewest slivers, then the lowest worst ratio is made, when it
/// leaves fewer cells the bound does not excuse and no more slivers than before among the
/// cells it replaces; then the flips around the point it kept. Where no contraction helps, a
/// flip of an edge of the cell's boundary faces may (flipBoundaryEdgeForCell). The boundary keeps its
/// shape: a point leaves only towards points of the features it lies on, and every face on
/// a facet stays on it. True when a point was contracted or an edge flipped.
bool contractOrFlipForCellsLeft(Run& r) {
    bool any = false;
    const std::vector<std::array<int32_t, 4>> left = unexcusedCells(r);
    std::vector<int32_t> star, neighbours;
    for (const std::array<int32_t, 4>& cell : left) {
        const int32_t slot = slotOfCell(r, cell);
        if (slot < 0) continue;  // gone since
        int32_t bestV = -1, bestU = -1;
        LeftChange best;
        for (const int32_t v : cell) {
            if (v < 4 + r.inputCount) continue;
            star.clear();
            neighbours.clear();
            robust::forStar(r.t, v, [&](int32_t s) {
                star.push_back(s);
                for (const int32_t x : r.t.cells[s].v) {
                    if (x != v && x >= 4) neighbours.push_back(x);
                }
                return false;
            });
            std::sort(neighbours.begin(), neighbours.end());
            neighbours.erase(std::unique(neighbours.begin(), neighbours.end()), neighbours.end());
            for (const int32_t u : neighbours) {
                if (r.kind[v] == kOnEdge && u != r.prevV[v] && u != r.nextV[v]) continue;
                if (r.kind[v] == kOnFacet && !onFacet(r, u, r.feature[v])) continue;
                LeftChange c;
                if (!judgeContraction(r, v, u, star, c)) continue;
                if (!(c.unexcused < 0 && c.slivers <= 0) || !c.betterThan(best, bestV >= 0)) continue;
                best = c;
                bestV = v;
                bestU = u;
            }
        }
        if (bestV < 0) {
            any = flipBoundaryEdgeForCell(r, slot) || any;
            continue;
        }
        star.clear();
        robust::forStar(r.t, bestV, [&](int32_t s) {
            star.push_back(s);
            return false;
        });
        if (!contract(r, bestV, bestU, star)) continue;
        any = true;
        std::vector<int32_t> around{bestU};
        flipBadCells(r, &around, true);
    }
    return any;
}

/// Last, the Steiner points at cells still above the bound are moved once more, each to the
/// best place a compass search from the usual candidates finds (smoothSteinerPoints with
/// `search`), and the flips run around the points moved, counting cells as the bound
/// excuses them; kPolishRounds rounds at most, while points move. A move adds no cell above
/// the bound, makes none worse and takes no excuse away; a flip adds no cell above the bound
/// nor one the bound does not excuse, and no worst ratio above that of the cells it replaces.
/// So the cells the bound does not excuse never grow in number, and most cells above the
/// bound get better (on 2,000 generated shapes none got more cells above a ratio of 50).
/// Run inside every move from refinement on, the same search changed the places the later
/// passes start from, and left more cells unexcused on some shapes than it took away on
/// others.
void polishSteinerPoints(Run& r) {
    for (int round = 0; round < kPolishRounds; ++round) {
        if (!movePointsAndFlip(r, true)) break;
    }
}

/// The cells of v's star with v at p, judged as the contractions judge theirs: false when a
/// cell is not positively oriented, or in the solid and flat or above the volume bound;
/// else the cells above the bound that it does not excuse, the slivers and the worst ratio
/// among the cells in the solid. v is back where it was on return.
bool judgeMove(Run& r, int32_t v, const Point3& p, const std::vector<int32_t>& star, LeftChange& c) {
    const double limit = (1 + 1e-9) * r.params.radiusEdgeBound;
    const Point3 home = r.t.pts[v];
    r.t.pts[v] = p;
    ++r.reshaped;
    c = LeftChange();
    bool valid = true;
    for (const int32_t s : star) {
        const auto& cell = r.t.cells[s].v;
        const Point3 &p0 = r.t.pts[cell[0]], &p1 = r.t.pts[cell[1]], &p2 = r.t.pts[cell[2]], &p3 = r.t.pts[cell[3]];
        if (!(orient3d(p0, p1, p2, p3) > 0)) {
            valid = false;
            break;
        }
        if (r.t.inside[s] == 0) continue;
        const double q = cellRatio(r, cell);
        if (std::isinf(q) || overVolume(r, cell)) {
            valid = false;
            break;
        }
        c.worst = std::max(c.worst, q);
        if (q > limit && !excusedCorners(r, cell)) ++c.unexcused;
        if (q > kSliverRatio) ++c.slivers;
    }
    r.t.pts[v] = home;
    ++r.reshaped;
    return valid;
}

/// The moves count every cell above the bound in a point's star: next to a small input
/// angle a Steiner point at a cell the bound does not excuse has many cells the bound
/// excuses around it, and a move that takes the one away always makes one of the others a
/// little worse, so it is never made. Here each Steiner corner (not an input point) of each
/// cell still above the bound that the bound does not excuse, in slot order, is tried at the
/// places the moves try (the apex is the one on the face opposite it in that cell) and then
/// by the compass search, judged as the contractions are: fewest cells the bound does not
/// excuse in its star, then fewest slivers, then the lowest worst ratio. The best place
/// over the cell's corners is taken when the star then has fewer cells the bound does not
/// excuse and no more slivers; excused cells may get worse. Then the flips around the
/// points moved. True when a point moved.
bool movePointsForCellsLeft(Run& r) {
    const std::vector<std::array<int32_t, 4>> left = unexcusedCells(r);
    std::vector<int32_t> moved, star;
    for (const std::array<int32_t, 4>& cell : left) {
        if (slotOfCell(r, cell) < 0) continue;  // gone since
        int32_t bestV = -1;
        Point3 bestP{0, 0, 0};
        LeftChange best;
        for (const int32_t v : cell) {
            if (v < 4 + r.inputCount || r.kind[v] == kCorner) continue;
            star.clear();
            robust::forStar(r.t, v, [&](int32_t s) {
                star.push_back(s);
                return false;
            });
            const Point3 home = r.t.pts[v];
            LeftChange now;
            if (!judgeMove(r, v, home, star, now)) continue;
            MoveCentres centres;
            double shortest2 = std::numeric_limits<double>::infinity();
            for (const int32_t s : star) {
                const auto& c = r.t.cells[s].v;
                centres.add(r, c, v);
                for (const int32_t x : c) {
                    if (x != v) shortest2 = std::min(shortest2, norm2(sub3(r.t.pts[x], home)));
                }
            }
            Point3 candidates[6];
            int count = centres.places(candidates);
            if (count == 0) continue;
            Point3 face[3];
            int n = 0;
            for (const int32_t x : cell) {
                if (x != v) face[n++] = r.t.pts[x];
            }
            if (regularApex(face, home, candidates[count])) ++count;
            const int full = count;
            for (int i = 0; i < full; ++i) candidates[count++] = scale3(add3(home, candidates[i]), 0.5);
            // The best place for v, judged against v where it is.
            LeftChange here = now;
            Point3 at = home;
            bool found = false;
            auto consider = [&](Point3 p) {
                if (!keepOnFeature(r, v, p)) return false;
                LeftChange c;
                if (!judgeMove(r, v, p, star, c)) return false;
                if (!c.betterThan(here, true)) return false;
                here = c;
                at = p;
                found = true;
                return true;
            };
            for (int i = 0; i < count; ++i) consider(candidates[i]);
            const Point3 axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
            double step = 0.25 * std::sqrt(shortest2);
            const double smallest = step / 64;
            for (int i = 0; i < kPolishSteps && step >= smallest; ++i) {
                const Point3 from = at;
                bool better = false;
                for (const Point3& axis : axes) better = consider(add3(from, scale3(axis, step))) || better;
                if (!better) step *= 0.5;
            }
            if (!found) continue;
            LeftChange change;
            change.unexcused = here.unexcused - now.unexcused;
            change.slivers = here.slivers - now.slivers;
            change.worst = here.worst;
            if (!(change.unexcused < 0 && change.slivers <= 0) || !change.betterThan(best, bestV >= 0)) continue;
            best = change;
            bestV = v;
            bestP = at;
        }
        if (bestV < 0) continue;
        r.t.pts[bestV] = bestP;
        ++r.reshaped;
        moved.push_back(bestV);
        ++r.moves;
        star.clear();
        robust::forStar(r.t, bestV, [&](int32_t s) {
            for (const int32_t x : r.t.cells[s].v) r.movedNear[x] = r.moves;
            return false;
        });
        if (r.kind[bestV] == kOnEdge) r.movedNear[r.prevV[bestV]] = r.movedNear[r.nextV[bestV]] = r.moves;
    }
    if (!moved.empty()) flipBadCells(r, &moved, true);
    return !moved.empty();
}

// ---------------------------------------------------------------------------------------
// Setup.

/// A cell whose four corners lie on one facet's plane covers a piece of the facet twice,
/// once by each pair of its faces; recovery can make one where points of a facet lie on one
/// circle, and when every face of it is a piece of the facet no flip takes it away. Where
/// its faces towards the outside are exactly those on one side of the plane, the cell is
/// left out of the solid: its faces on the other side, on the facet as well, become the
/// boundary and cover the same piece, and the mesh loses a cell of rounding volume. Only
/// for exactly coplanar facets: a cell over a fold of the input's own rounding has the
/// fold's volume, and leaving it out would open the boundary there.
void dropFlatBoundaryCells(Run& r) {
    for (int32_t s = 0; s < static_cast<int32_t>(r.t.cells.size()); ++s) {
        if (r.t.alive[s] == 0 || r.t.inside[s] == 0) continue;
        const auto& v = r.t.cells[s].v;
        if (!onOnePlane(r, v[0], v[1], v[2], v[3], false)) continue;
        const int32_t facet = commonFacet(r, v[0], v[1], v[2]);
        if (facet < 0) continue;
        const Point3 normal = cross3(r.facets[facet].u, r.facets[facet].v);
        // Per side of the plane (by the face's normal): faces towards the outside, faces
        // towards cells of the solid.
        int outward[2] = {0, 0}, inward[2] = {0, 0};
        bool sided = true;
        for (int k = 0; k < 4 && sided; ++k) {
            int32_t a, b, c;
            robust::faceOf(r.t, s, k, a, b, c);
            const double along = dot3(cross3(sub3(r.t.pts[b], r.t.pts[a]), sub3(r.t.pts[c], r.t.pts[a])), normal);
            if (along == 0) {
                sided = false;
                break;
            }
            const int side = along > 0 ? 1 : 0;
            const int32_t across = r.t.cells[s].n[k];
            if (across >= 0 && r.t.inside[across >> 2] != 0) {
                ++inward[side];
            } else {
                ++outward[side];
            }
        }
        if (!sided) continue;
        const bool oneSideOut = (outward[0] > 0 && outward[1] == 0 && inward[0] == 0) ||
                                (outward[1] > 0 && outward[0] == 0 && inward[1] == 0);
        if (oneSideOut) {
            r.t.inside[s] = 0;
            ++r.reshaped;
        }
    }
}

double angleDeg(const Point3& x, const Point3& y) {
    const double lx = length3(x), ly = length3(y);
    if (!(lx > 0 && ly > 0)) return 180.0;
    double c = dot3(x, y) / (lx * ly);
    c = std::max(-1.0, std::min(1.0, c));
    return std::acos(c) * (180.0 / 3.14159265358979323846);
}

void buildFeatures(Run& r, const Plc& plc) {
    const int32_t n = r.inputCount;
    struct EdgeUse {
        int32_t a, b, facet;  // facet -1: a segment
    };
    std::vector<EdgeUse> uses;
    for (int32_t f = 0; f < static_cast<int32_t>(plc.facets.size()); ++f) {
        for (int k = 0; k < 3; ++k) {
            const int32_t a = static_cast<int32_t>(plc.facets[f].v[k]) + 4;
            const int32_t b = static_cast<int32_t>(plc.facets[f].v[(k + 1) % 3]) + 4;
            uses.push_back(EdgeUse{std::min(a, b), std::max(a, b), f});
        }
    }
    for (const Segment& s : plc.segments) {
        const int32_t a = static_cast<int32_t>(s.v[0]) + 4;
        const int32_t b = static_cast<int32_t>(s.v[1]) + 4;
        uses.push_back(EdgeUse{std::min(a, b), std::max(a, b), -1});
    }
    std::sort(uses.begin(), uses.end(), [](const EdgeUse& l, const EdgeUse& m) {
        if (l.a != m.a) return l.a < m.a;
        if (l.b != m.b) return l.b < m.b;
        return l.facet < m.facet;
    });
    for (size_t i = 0; i < uses.size();) {
        size_t j = i;
        InputEdge e;
        e.a = uses[i].a;
        e.b = uses[i].b;
        e.chain = {e.a, e.b};
        e.facetBegin = static_cast<int32_t>(r.edgeFacets.size());
        while (j < uses.size() && uses[j].a == uses[i].a && uses[j].b == uses[i].b) {
            if (uses[j].facet >= 0 && (r.edgeFacets.size() == static_cast<size_t>(e.facetBegin) ||
                                       r.edgeFacets.back() != uses[j].facet)) {
                r.edgeFacets.push_back(uses[j].facet);
            }
            ++j;
        }
        e.facetEnd = static_cast<int32_t>(r.edgeFacets.size());
        if (e.facetEnd == e.facetBegin) r.freeSegments = true;
        r.cornerPairs.push_back({e.a, e.b, static_cast<int32_t>(r.edges.size())});
        r.edges.push_back(std::move(e));
        i = j;
    }
    // Facets: corners, edges, plane frames.
    r.facets.resize(plc.facets.size());
    for (int32_t f = 0; f < static_cast<int32_t>(plc.facets.size()); ++f) {
        FacetInfo& fi = r.facets[f];
        for (int k = 0; k < 3; ++k) fi.corner[k] = static_cast<int32_t>(plc.facets[f].v[k]) + 4;
        for (int k = 0; k < 3; ++k) {
            const int32_t a = std::min(fi.corner[k], fi.corner[(k + 1) % 3]);
            const int32_t b = std::max(fi.corner[k], fi.corner[(k + 1) % 3]);
            const std::array<int32_t, 3> key{a, b, -1};
            fi.edge[k] = (*std::lower_bound(r.cornerPairs.begin(), r.cornerPairs.end(), key))[2];
        }
        const Point3& p0 = plc.points[plc.facets[f].v[0]];
        const Point3& p1 = plc.points[plc.facets[f].v[1]];
        const Point3& p2 = plc.points[plc.facets[f].v[2]];
        const Point3 d1 = sub3(p1, p0);
        const Point3 nrm = cross3(d1, sub3(p2, p0));
        fi.cornerDeg[0] = angleDeg(sub3(p1, p0), sub3(p2, p0));
        fi.cornerDeg[1] = angleDeg(sub3(p0, p1), sub3(p2, p1));
        fi.cornerDeg[2] = angleDeg(sub3(p0, p2), sub3(p1, p2));
        fi.minCornerDeg = std::min({fi.cornerDeg[0], fi.cornerDeg[1], fi.cornerDeg[2]});
        fi.origin = p0;
        fi.u = scale3(d1, 1.0 / length3(d1));
        const Point3 w = cross3(nrm, d1);
        fi.v = scale3(w, 1.0 / length3(w));
    }
    // Sides of sharp facet corners.
    for (InputEdge& e : r.edges) {
        for (int32_t k = e.facetBegin; k < e.facetEnd && !e.sharpSide; ++k) {
            const FacetInfo& fi = r.facets[r.edgeFacets[k]];
            for (int32_t end : {e.a, e.b}) {
                const int32_t other = e.a == end ? e.b : e.a;
                for (int32_t c : fi.corner) {
                    if (c == e.a || c == e.b) continue;
                    const Point3& p = plc.points[end - 4];
                    if (angleDeg(sub3(plc.points[other - 4], p), sub3(plc.points[c - 4], p)) < kSmallAngleDeg) {
                        e.sharpSide = true;
                    }
                }
            }
        }
    }
    // Dihedral angles between the two facets of an edge.
    for (InputEdge& e : r.edges) {
        if (e.facetEnd - e.facetBegin != 2) continue;
        const Point3& pa = plc.points[e.a - 4];
        const Point3 dir = sub3(plc.points[e.b - 4], pa);
        Point3 across[2];
        for (int k = 0; k < 2; ++k) {
            const FacetInfo& fi = r.facets[r.edgeFacets[e.facetBegin + k]];
            int32_t third = fi.corner[0];
            for (int32_t c : fi.corner) {
                if (c != e.a && c != e.b) third = c;
            }
            const Point3 d = sub3(plc.points[third - 4], pa);
            across[k] = sub3(d, scale3(dir, dot3(d, dir) / norm2(dir)));
        }
        e.dihedralDeg = angleDeg(across[0], across[1]);
    }
    // Planes: facets joined over the edges whose two facets are coplanar (exactly; nearly;
    // to a fold of rounding size).
    {
        double largest = 0;
        for (const Point3& p : plc.points) largest = std::max({largest, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
        // Rounding to single precision moves each coordinate by at most 2^-24 of its
        // magnitude; a facet tilts about an edge by a move of its apex over its height
        // above the edge.
        const double reach = kFoldRoundingUnits * (largest * 0x1p-24);
        auto roundingTilt = [&](const InputEdge& e, const FacetInfo& ff, const FacetInfo& fg) {
            const Point3& a = plc.points[e.a - 4];
            const Point3 along = sub3(plc.points[e.b - 4], a);
            const double edgeLength = length3(along);
            double tilt = 0;
            for (const FacetInfo* fi : {&ff, &fg}) {
                int32_t apex = fi->corner[0];
                for (const int32_t c : fi->corner) {
                    if (c != e.a && c != e.b) apex = c;
                }
                const double height = length3(cross3(along, sub3(plc.points[apex - 4], a))) / edgeLength;
                if (height > 0) tilt = tilt + reach / height;
            }
            return tilt;
        };
        const size_t count = r.facets.size();
        // Kinds 0 to 2 as below; kind 3 joins over every fold within the rounding, and a
        // face so joined counts as one plane for flat cells only when none of its folds
        // exceeds kFoldedRoundingSine (joined in part, a face kept cells across the seam).
        std::vector<int32_t> parent(4 * count);
        for (size_t i = 0; i < parent.size(); ++i) parent[i] = static_cast<int32_t>(i % count);
        auto root = [&](int kind, int32_t f) {
            int32_t* p = parent.data() + static_cast<size_t>(kind) * count;
            while (p[f] != f) f = p[f] = p[p[f]];
            return f;
        };
        auto join = [&](int kind, int32_t f, int32_t g) {
            const int32_t rf = root(kind, f), rg = root(kind, g);
            if (rf != rg) parent[static_cast<size_t>(kind) * count + std::max(rf, rg)] = std::min(rf, rg);
        };
        std::vector<double> foldSine;  // per edge of two facets: the sine when within the rounding, else -1
        for (const InputEdge& e : r.edges) {
            if (e.facetEnd - e.facetBegin != 2) continue;
            const int32_t f = r.edgeFacets[e.facetBegin], g = r.edgeFacets[e.facetBegin + 1];
            const FacetInfo& ff = r.facets[f];
            const FacetInfo& fg = r.facets[g];
            bool coplanar = true;
            for (const int32_t c : fg.corner) {
                coplanar = coplanar && orient3d(plc.points[ff.corner[0] - 4], plc.points[ff.corner[1] - 4],
                                                plc.points[ff.corner[2] - 4], plc.points[c - 4]) == 0;
            }
            // Otherwise the sine between the normals of the two frames (each of unit length
            // to rounding), for normals pointing the same way.
            const Point3 nf = cross3(ff.u, ff.v), ng = cross3(fg.u, fg.v);
            const double sine = coplanar ? 0.0 : (dot3(nf, ng) > 0 ? length3(cross3(nf, ng)) : 2.0);
            if (coplanar) join(0, f, g);
            if (sine <= kNearlyCoplanarSine) join(1, f, g);
            const bool rounding = sine <= kFoldedCoplanarSine || sine <= roundingTilt(e, ff, fg);
            foldSine.push_back(rounding ? sine : -1.0);
            if (rounding) join(3, f, g);
        }
        std::vector<double> widestFold(count, 0.0);  // per root of kind 3
        // Per root of kind 3: the least tilt rounding can give one of its facets, the reach
        // over the facet's least height.
        std::vector<double> leastTilt(count, std::numeric_limits<double>::infinity());
        for (size_t f = 0; f < count; ++f) {
            const FacetInfo& fi = r.facets[f];
            const Point3& a = plc.points[fi.corner[0] - 4];
            const Point3& b = plc.points[fi.corner[1] - 4];
            const Point3& c = plc.points[fi.corner[2] - 4];
            const double twiceArea = length3(cross3(sub3(b, a), sub3(c, a)));
            const double longest = std::sqrt(std::max({norm2(sub3(b, a)), norm2(sub3(c, a)), norm2(sub3(c, b))}));
            if (!(twiceArea > 0)) continue;
            const int32_t face = root(3, static_cast<int32_t>(f));
            leastTilt[face] = std::min(leastTilt[face], reach / (twiceArea / longest));
        }
        for (int pass = 0; pass < 2; ++pass) {
            size_t k = 0;
            for (const InputEdge& e : r.edges) {
                if (e.facetEnd - e.facetBegin != 2) continue;
                const double sine = foldSine[k++];
                if (sine < 0) continue;
                const int32_t f = r.edgeFacets[e.facetBegin], g = r.edgeFacets[e.facetBegin + 1];
                const int32_t face = root(3, f);
                if (pass == 0) {
                    widestFold[face] = std::max(widestFold[face], sine);
                } else if (sine <= kFoldedCoplanarSine || widestFold[face] <= kFoldedRoundingSine ||
                           leastTilt[face] <= kLargeFacetTiltSine) {
                    join(2, f, g);
                }
            }
        }
        for (size_t f = 0; f < count; ++f) {
            FacetInfo& fi = r.facets[f];
            fi.plane = root(0, static_cast<int32_t>(f));
            fi.nearPlane = root(1, static_cast<int32_t>(f));
            fi.foldedPlane = root(2, static_cast<int32_t>(f));
        }
    }
    // Per corner: its facets, its edges and its smallest angle.
    std::vector<std::vector<int32_t>> cf(static_cast<size_t>(n)), ce(static_cast<size_t>(n));
    for (int32_t f = 0; f < static_cast<int32_t>(r.facets.size()); ++f) {
        for (int32_t c : r.facets[f].corner) cf[c - 4].push_back(f);
    }
    for (int32_t e = 0; e < static_cast<int32_t>(r.edges.size()); ++e) {
        ce[r.edges[e].a - 4].push_back(e);
        ce[r.edges[e].b - 4].push_back(e);
    }
    r.cornerFacetStart.assign(static_cast<size_t>(n) + 1, 0);
    r.cornerEdgeStart.assign(static_cast<size_t>(n) + 1, 0);
    r.cornerAngleDeg.assign(static_cast<size_t>(n), 180.0);
    r.kind.assign(4 + static_cast<size_t>(n), kFree);
    r.feature.assign(4 + static_cast<size_t>(n), -1);
    r.prevV.assign(4 + static_cast<size_t>(n), -1);
    r.stays.assign(4 + static_cast<size_t>(n), StayMark());
    r.movedNear.assign(4 + static_cast<size_t>(n), 0);
    r.nextV.assign(4 + static_cast<size_t>(n), -1);
    for (int32_t i = 0; i < n; ++i) {
        std::sort(cf[i].begin(), cf[i].end());
        cf[i].erase(std::unique(cf[i].begin(), cf[i].end()), cf[i].end());
        r.cornerFacetStart[i + 1] = r.cornerFacetStart[i] + static_cast<int32_t>(cf[i].size());
        r.cornerEdgeStart[i + 1] = r.cornerEdgeStart[i] + static_cast<int32_t>(ce[i].size());
        r.cornerFacets.insert(r.cornerFacets.end(), cf[i].begin(), cf[i].end());
        r.cornerEdges.insert(r.cornerEdges.end(), ce[i].begin(), ce[i].end());
        if (!ce[i].empty()) {
            r.kind[i + 4] = kCorner;
            r.feature[i + 4] = i + 4;
        }
        double angle = 180.0;
        const Point3& p = plc.points[i];
        const size_t limit = std::min<size_t>(ce[i].size(), 400);
        for (size_t x = 0; x < limit; ++x) {
            const InputEdge& ex = r.edges[ce[i][x]];
            angle = std::min(angle, ex.dihedralDeg);
            const Point3 dx = sub3(plc.points[(ex.a == i + 4 ? ex.b : ex.a) - 4], p);
            for (size_t y = x + 1; y < limit; ++y) {
                const InputEdge& ey = r.edges[ce[i][y]];
                const Point3 dy = sub3(plc.points[(ey.a == i + 4 ? ey.b : ey.a) - 4], p);
                angle = std::min(angle, angleDeg(dx, dy));
            }
        }
        r.cornerAngleDeg[i] = angle;
    }
    r.facetLists = r.cornerFacets;
    r.facetLists.insert(r.facetLists.end(), r.edgeFacets.begin(), r.edgeFacets.end());
    for (int32_t f = 0; f < static_cast<int32_t>(r.facets.size()); ++f) r.facetLists.push_back(f);
    r.facetRange.resize(r.kind.size());
    for (size_t v = 0; v < r.kind.size(); ++v) r.facetRange[v] = facetRangeOf(r, r.kind[v], r.feature[v]);
}

int32_t slotOfCell(Run& r, const std::array<int32_t, 4>& cell);

/// Splits subsegment i of input edge edgeId at q inside the cells around it: each cell
/// around the subsegment becomes two, joined at q (on the solid's boundary, where the cells
/// outside are gone, the two faces through the subsegment become four). The cells made
/// need not be Delaunay; flips restore what they can. True when q went in.
bool splitSubsegmentInRing(Run& r, int32_t edgeId, int32_t i, const Point3& q) {
    if (!roomForPoint(r)) return false;
    InputEdge& e = r.edges[edgeId];
    const int32_t s = e.chain[i], w = e.chain[i + 1];
    robust::TetTopology& t = r.t;
    std::vector<int32_t> ring;
    robust::forStar(t, s, [&](int32_t c) {
        if (robust::cellHas(t.cells[c], w)) ring.push_back(c);
        return false;
    });
    if (ring.empty()) return false;
    const uint32_t in = robust::nextMark(t, 2);
    t.cavityMark = in;
    t.cavity = ring;
    t.boundary.clear();
    t.lostBarriers.clear();
    t.shrunkAway.clear();
    t.crossable.clear();
    for (const int32_t c : ring) t.mark[c] = in;
    for (const int32_t c : ring) {
        for (int k = 0; k < 4; ++k) {
            const int32_t x = t.cells[c].v[k];
            const bool hull = x != s && x != w && t.cells[c].n[k] < 0;
            if (x != s && x != w && !hull) continue;
            int32_t a, b, d;
            robust::faceOf(t, c, k, a, b, d);
            t.boundary.push_back(
                robust::CavityFace{a, b, d, t.cells[c].n[k], t.inside[c], 0, static_cast<uint8_t>(hull ? 1 : 0), 0, c * 4 + k});
        }
    }
    const int32_t vid = addVertex(r, q, kOnEdge, edgeId);
    if (!commitOrDrop(r, vid)) return false;
    linkIntoChain(r, e, i, vid);
    std::vector<int32_t> flipped;
    restoreDelaunay(r, flipped);
    return true;
}

/// The input edge between a facet of u and another facet of w, or -1.
int32_t edgeBetweenFacetsOf(const Run& r, int32_t u, int32_t w) {
    const Span fu = facetsOf(r, u), fw = facetsOf(r, w);
    for (const int32_t* f = fu.begin; f != fu.end; ++f) {
        for (const int32_t* g = fw.begin; g != fw.end; ++g) {
            if (*f == *g) continue;
            for (int a = 0; a < 3; ++a) {
                for (int b = 0; b < 3; ++b) {
                    if (r.facets[*f].edge[a] == r.facets[*g].edge[b]) return r.facets[*f].edge[a];
                }
            }
        }
    }
    return -1;
}

/// The input edge a cell's shortest edge crosses: the edge between a facet of one end and
/// another facet of the other, both ends on the boundary; or -1.
int32_t creaseUnder(const Run& r, const std::array<int32_t, 4>& cell) {
    const int k = shortestEdgeOf(r, cell);
    const int32_t u = cell[kCellEdges[k][0]], w = cell[kCellEdges[k][1]];
    if (r.kind[u] == kFree || r.kind[w] == kFree) return -1;
    return edgeBetweenFacetsOf(r, u, w);
}

/// For a cell left above the bound whose shortest edge (u, w) crosses the input edge
/// `crease` (creaseUnder): splits the subsegment of that edge next to the cell (in the ring
/// of cells around it, whose cavity any other insertion would find too large and not
/// star-shaped) until it is no longer than the cell's longest edge, then puts a point
/// inside the solid, half the shortest edge from the cell's centroid along the normal of a
/// facet of u, into the cell and the cells that point conflicts with, whatever the cells
/// made. Judged as a whole by finishCellsLeftTryingCreases.
void openCrease(Run& r, const std::array<int32_t, 4>& cell, int32_t crease) {
    const int k = shortestEdgeOf(r, cell);
    const int32_t u = cell[kCellEdges[k][0]], w = cell[kCellEdges[k][1]];
    double longest2 = 0;
    for (const auto& e : kCellEdges) longest2 = std::max(longest2, norm2(sub3(r.t.pts[cell[e[0]]], r.t.pts[cell[e[1]]])));
    const Point3 g = centroid4(r.t.pts[cell[0]], r.t.pts[cell[1]], r.t.pts[cell[2]], r.t.pts[cell[3]]);
    for (int split = 0; split < kMaxCreaseSplits && roomForPoint(r); ++split) {
        const InputEdge& e = r.edges[crease];
        const int32_t i = subsegmentUnder(r, e, g);
        if (i < 0) break;
        const Point3& ps = r.t.pts[e.chain[i]];
        const Point3 d = sub3(r.t.pts[e.chain[i + 1]], ps);
        if (!(norm2(d) > longest2)) break;
        const double lambda = std::min(0.75, std::max(0.25, dot3(sub3(g, ps), d) / norm2(d)));
        if (!splitSubsegmentInRing(r, crease, i, add3(ps, scale3(d, lambda)))) break;
    }
    const int32_t slot = slotOfCell(r, cell);
    if (slot < 0 || !roomForPoint(r)) return;
    const double shortest = std::sqrt(norm2(sub3(r.t.pts[u], r.t.pts[w])));
    const FacetInfo& fi = r.facets[*facetsOf(r, u).begin];
    const Point3 n = cross3(fi.u, fi.v);
    for (const double side : {-0.5, 0.5}) {
        const Point3 x = add3(g, scale3(n, side * shortest));
        const robust::Location loc =
            robust::locatePoint(r.t, x, slot, [&](int32_t a, int32_t b, int32_t c) { return isBarrier(r, a, b, c); });
        if (loc.cell < 0 || r.t.inside[loc.cell] == 0) continue;
        const int32_t seeds[2] = {slot, loc.cell};
        const int32_t vid = addVertex(r, x, kFree, -1);
        auto cross = [&](int32_t a, int32_t b, int32_t c) { return !isBarrier(r, a, b, c); };
        if (robust::growCavity(r.t, x, seeds, 2, cross, true, r.cavityCap) && r.t.lostBarriers.empty() &&
            robust::shrinkCavity(r.t, x, cross, [](const robust::CavityFace&) { return false; },
                                 [&](const robust::CavityFace& cf) { return flatWith(r, cf, vid); })) {
            if (commitOrDrop(r, vid)) return;
        } else {
            dropVertex(r);
        }
    }
}

/// Points where they help the cells still left, then the flips around them and the moves
/// once more; again while points go in (the moves and flips open new places), at most four
/// rounds (further rounds add almost nothing).
void addPointsForCellsLeftInRounds(Run& r, std::vector<int32_t>& moved) {
    std::vector<int32_t> added;
    for (int round = 0; round < 4; ++round) {
        added.clear();
        addPointsForCellsLeft(r, added);
        if (added.empty()) break;
        flipBadCells(r, &added);
        smoothSteinerPoints(r, moved);
    }
}

/// The passes for the cells left after the points for them: local refinement around each,
/// points for slivers, contractions and flips, moves; then the flat cells go.
void finishCellsLeft(Run& r) {
    bool cellsLeft = true;  // false once a scan found none (nothing after it adds one)
    for (int pass = 0; pass < kLeftPasses; ++pass) {
        if (pass > 0 && !(cellsLeft = anyUnexcusedCell(r))) break;
        refineAroundCellsLeft(r);
        addPointsForSlivers(r);
        // The contractions (and boundary edge flips) and the last polish in turn, while one
        // is made: the polish moves points so that another contraction can take a cell away.
        contractOrFlipForCellsLeft(r);
        polishSteinerPoints(r);
        for (int round = 0; round < kContractionRounds && contractOrFlipForCellsLeft(r); ++round) polishSteinerPoints(r);
    }
    // Moves judged by the cells the rule does not excuse alone, then the polish and the
    // contractions once more around what they changed (a mesh with no such cell left is
    // not scanned again).
    if (cellsLeft && movePointsForCellsLeft(r)) {
        polishSteinerPoints(r);
        for (int round = 0; round < kContractionRounds && contractOrFlipForCellsLeft(r); ++round) polishSteinerPoints(r);
    }
    // The passes since can make room for a flip or an edge removal that takes a flat cell
    // away (the ring around its edge shrinks as the cells nearby are replaced).
    removeFlatCells(r);
    dropFlatBoundaryCells(r);
}

/// The cells in the solid above the bound that it does not excuse, and the slivers.
LeftCounts countCellsLeft(const Run& r) {
    LeftCounts n;
    for (int32_t s = 0; s < static_cast<int32_t>(r.t.cells.size()); ++s) countLeftCell(r, s, n);
    return n;
}

/// The passes for the cells left (finishCellsLeft), tried twice when cells left above the
/// bound lie across an input edge between two facets (openCrease): as they are, and with
/// those edges opened under them first (then the points for the cells left again). The
/// second is kept when it ends with fewer cells the bound does not excuse and no more
/// slivers.
void finishCellsLeftTryingCreases(Run& r, std::vector<int32_t>& moved) {
    std::vector<std::pair<std::array<int32_t, 4>, int32_t>> creased;  // cell, edge
    for (const auto& cell : unexcusedCells(r)) {
        const int32_t crease = creaseUnder(r, cell);
        if (crease >= 0) creased.push_back({cell, crease});
    }
    if (creased.empty()) {
        finishCellsLeft(r);
        return;
    }
    RobustTetMesh altOut = *r.out;
    Run alt = r;
    alt.out = &altOut;
    alt.trackFresh = false;
    alt.shapeMinEdge2 = 0;
    for (const auto& [cell, crease] : creased) {
        if (!roomForPoint(alt)) break;
        if (slotOfCell(alt, cell) >= 0) openCrease(alt, cell, crease);
    }
    std::vector<int32_t> altMoved = moved;
    addPointsForCellsLeftInRounds(alt, altMoved);
    finishCellsLeft(alt);
    finishCellsLeft(r);
    const LeftCounts was = countCellsLeft(r), now = countCellsLeft(alt);
    if (altOut.error.empty() && now.unexcused < was.unexcused && now.slivers <= was.slivers) {
        RobustTetMesh* out = r.out;
        r = std::move(alt);
        *out = std::move(altOut);
        r.out = out;
    }
}

/// Input points in a spatial order (by interleaved bits of their grid cells), so that each
/// walk starts near its point.
std::vector<int32_t> spatialOrder(const std::vector<Point3>& pts, const Point3& lo, const Point3& hi) {
    const int32_t n = static_cast<int32_t>(pts.size());
    std::vector<std::pair<uint64_t, int32_t>> keys(static_cast<size_t>(n));
    const double ex = hi.x - lo.x, ey = hi.y - lo.y, ez = hi.z - lo.z;
    auto cell = [](double x, double lo0, double extent) -> uint64_t {
        if (!(extent > 0)) return 0;
        const double c = std::floor((x - lo0) / extent * 2097151.0);
        if (!(c >= 0)) return 0;
        return c > 2097151.0 ? 2097151u : static_cast<uint64_t>(c);
    };
    auto spread = [](uint64_t x) {
        x &= 0x1fffff;
        x = (x | x << 32) & 0x1f00000000ffffull;
        x = (x | x << 16) & 0x1f0000ff0000ffull;
        x = (x | x << 8) & 0x100f00f00f00f00full;
        x = (x | x << 4) & 0x10c30c30c30c30c3ull;
        x = (x | x << 2) & 0x1249249249249249ull;
        return x;
    };
    for (int32_t i = 0; i < n; ++i) {
        const uint64_t key = spread(cell(pts[i].x, lo.x, ex)) | (spread(cell(pts[i].y, lo.y, ey)) << 1) |
                             (spread(cell(pts[i].z, lo.z, ez)) << 2);
        keys[i] = {key, i};
    }
    std::sort(keys.begin(), keys.end());
    std::vector<int32_t> order(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) order[i] = keys[i].second;
    return order;
}

}  // namespace

RobustTetMesh meshRobustTets(const Plc& plc, const RobustTetParams& params, const FacetNaming& naming) {
    RobustTetMesh out;
    out.points = plc.points;
    if (plc.facets.empty()) {
        out.error = "the complex has no facets";
        return out;
    }
    if (static_cast<int64_t>(plc.points.size()) >= kMaxRobustPoints ||
        plc.facets.size() > static_cast<size_t>(kMaxRobustPoints) ||
        plc.segments.size() > static_cast<size_t>(kMaxRobustPoints)) {
        out.error = "the complex has more than " + std::to_string(kMaxRobustPoints) +
                    " points, facets or segments, the most the robust engine handles";
        return out;
    }
    for (const Point3& p : plc.points) {
        if (!(std::fabs(p.x) <= 1e50 && std::fabs(p.y) <= 1e50 && std::fabs(p.z) <= 1e50)) {
            out.error = "a point has a coordinate that is not finite or larger than 1e50 in magnitude";
            return out;
        }
    }
    if (!(params.radiusEdgeBound >= kMinRobustRadiusEdgeBound)) {
        out.error = "'radius_edge_bound' must be at least 1.2 for the robust engine";
        return out;
    }
    const PlcDiagnosis diagnosis = diagnosePlc(plc, naming);
    if (!diagnosis.ok) {
        out.error = diagnosis.error;
        return out;
    }
    Run r;
    r.params = params;
    r.forcedCornerDeg = std::asin(1 / (2 * params.radiusEdgeBound)) * (180 / 3.14159265358979323846);
    r.out = &out;
    r.inputCount = static_cast<int32_t>(plc.points.size());
    Point3 lo = plc.points[0], hi = plc.points[0];
    for (const Point3& p : plc.points) {
        lo = Point3{std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = Point3{std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    robust::topologyInit(r.t, lo, hi);
    const double extent = length3(sub3(hi, lo));
    r.minSpacing2 = (1e-9 * extent) * (1e-9 * extent);
    for (const Point3& p : plc.points) robust::topologyAddVertex(r.t, p);
    buildFeatures(r, plc);

    // The input points, in a spatial order.
    int32_t hint = 0;
    for (int32_t i : spatialOrder(plc.points, lo, hi)) {
        const int32_t vid = i + 4;
        const Point3& p = r.t.pts[vid];
        const robust::Location loc =
            robust::locatePoint(r.t, p, hint, [](int32_t, int32_t, int32_t) { return false; });
        if (loc.cell < 0) continue;
        if (!robust::growCavity(r.t, p, &loc.cell, 1, [](int32_t, int32_t, int32_t) { return true; })) continue;
        if (robust::commitCavity(r.t, vid)) hint = r.t.created.front();
    }
    for (int32_t i = 0; i < r.inputCount; ++i) {
        if (r.t.vertexCell[i + 4] < 0 && r.kind[i + 4] != kFree) {
            out.error = "point " + std::to_string(i) + " could not be inserted (it repeats another point)";
            return out;
        }
    }
    if (!recoverBoundary(r)) return out;
    labelSolid(r);
    if (!refine(r)) return out;
    removeFlatCells(r);
    // The moves make flips possible, and those flips new moves: a second round, around the
    // points moved (a third gains little).
    std::vector<int32_t> moved;
    flipBadCells(r);
    smoothSteinerPoints(r, moved);
    flipBadCells(r, &moved);
    moved.clear();
    smoothSteinerPoints(r, moved);
    addPointsForCellsLeftInRounds(r, moved);
    finishCellsLeftTryingCreases(r, moved);
    // Every subsegment of a segment inside the solid is still an edge (facet edges are kept
    // by the boundary faces; a free segment only by the encroachment rule).
    if (r.freeSegments) {
        for (const InputEdge& e : r.edges) {
            if (e.facetEnd != e.facetBegin) continue;
            for (size_t i = 0; i + 1 < e.chain.size(); ++i) {
                const int32_t u = e.chain[i], w = e.chain[i + 1];
                if (r.t.vertexCell[u] < 0 || r.t.vertexCell[w] < 0) continue;  // outside the solid
                if (robust::findEdgeCell(r.t, u, w) < 0) {
                    out.error = "a segment inside the solid could not be kept as edges of the mesh";
                    return out;
                }
            }
        }
    }
    if (params.maxVolume > 0) {
        for (int32_t s = 0; s < static_cast<int32_t>(r.t.cells.size()); ++s) {
            if (r.t.alive[s] == 0 || r.t.inside[s] == 0) continue;
            const auto& v = r.t.cells[s].v;
            if (unsignedTetVolume(r.t.pts[v[0]], r.t.pts[v[1]], r.t.pts[v[2]], r.t.pts[v[3]]) > params.maxVolume) {
                out.error = "a cell larger than max_volume could not be split";
                return out;
            }
        }
    }

    // The points in order without those contracted away (vertex id v is point v - 4 when
    // none was).
    std::vector<int64_t> id;
    if (r.contracted.empty()) {
        out.points.assign(r.t.pts.begin() + 4, r.t.pts.end());
    } else {
        id.assign(r.t.pts.size(), -1);
        for (const int32_t v : r.contracted) id[v] = -2;
        out.points.clear();
        out.points.reserve(r.t.pts.size() - 4 - r.contracted.size());
        for (size_t v = 4; v < r.t.pts.size(); ++v) {
            if (id[v] == -2) continue;
            id[v] = static_cast<int64_t>(out.points.size());
            out.points.push_back(r.t.pts[v]);
        }
    }
    auto pointOf = [&](int32_t v) { return id.empty() ? int64_t{v} - 4 : id[v]; };
    for (int32_t s = 0; s < static_cast<int32_t>(r.t.cells.size()); ++s) {
        if (r.t.alive[s] == 0 || r.t.inside[s] == 0) continue;
        const auto& v = r.t.cells[s].v;
        out.tets.push_back(TetCell{{pointOf(v[0]), pointOf(v[1]), pointOf(v[2]), pointOf(v[3])}});
    }
    if (out.tets.empty()) {
        out.error = "no cell lies inside the surface";
        return out;
    }
    out.ok = true;
    return out;
}
