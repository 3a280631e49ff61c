// Shapes drawn from fixed seeds: stepped shafts (rods, collars, thin discs), cones and voxel
// solids with thin layers. Each one either meshes and checks out (no flat cell, the same
// mesh again) or fails with a message that names the budget or what is wrong with the
// surface; none runs without end.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "mesh3d/robust/generated_shapes.hpp"
#include "mesh3d/robust/robust_mesher.hpp"
#include "mesh3d/robust/robust_shapes.hpp"
#include "mesh3d/tet_refine.hpp"

namespace {

using shapes::placedShapeFor;
using shapes::Shape;
using shapes::shapeFor;
using shapes::turnedShapeFor;

/// No cell whose longest edge is below a millionth of the part's extent: refinement did not
/// run down towards one point.
void noCellBelowAMillionth(const Shape& shape, const RobustTetMesh& mesh) {
    double extent = 0;
    for (const Point3& q : shape.plc.points) extent = std::max({extent, std::fabs(q.x), std::fabs(q.y), std::fabs(q.z)});
    int64_t tiny = 0;
    for (const TetCell& t : mesh.tets) {
        double longest2 = 0;
        for (int i = 0; i < 4; ++i) {
            for (int j = i + 1; j < 4; ++j) longest2 = std::max(longest2, shapes::dist2(mesh.points[t.v[i]], mesh.points[t.v[j]]));
        }
        if (std::sqrt(longest2) < 1e-6 * extent) ++tiny;
    }
    EXPECT_EQ(tiny, 0);
}

/// Meshes the shape with the default budget of 20,000 points; false when it failed, which
/// must name the budget or the non-manifold edge (voxels touching along an edge are not
/// manifold; thin plates need more points than the budget to meet the bound everywhere).
/// A mesh must cover every facet, keep the volume and the volume bound and come out the
/// same again, with its boundary points on their facets' planes to rounding, and have no
/// flat cell and no cell below a millionth of the part (seed 20 along the axes and turned
/// and rounded once ran down to edges of 2e-9).
bool meshesAndChecks(const Shape& shape) {
    RobustTetParams params;
    params.maxVolume = shape.maxVolume;
    const RobustTetMesh mesh = meshRobustTets(shape.plc, params);
    if (!mesh.ok) {
        const bool named = mesh.error.find("not manifold") != std::string::npos ||
                           mesh.error.find("max_steiner_points") != std::string::npos;
        EXPECT_TRUE(named) << mesh.error;
        return false;
    }
    const shapes::CheckResult c = shapes::check(shape.plc, mesh.points, mesh.tets, shape.maxVolume, params.radiusEdgeBound);
    EXPECT_EQ(c.failure, "");
    EXPECT_EQ(c.overVolume, 0);
    EXPECT_LT(c.offPlane, 1e-12);
    EXPECT_EQ(shapes::roundingFlatCells(mesh.points, mesh.tets), 0);
    noCellBelowAMillionth(shape, mesh);
    const RobustTetMesh again = meshRobustTets(shape.plc, params);
    EXPECT_TRUE(again.ok && shapes::sameMesh(again, mesh));
    return true;
}

/// The shape of `seed` along the axes, turned, turned and rounded, or placed at
/// (10, 10, 10) (the rounding is then ten times coarser against the part).
enum Pose { kAxes, kTurned, kRounded, kPlaced };
Shape posedShapeFor(uint64_t seed, Pose pose) {
    if (pose == kPlaced) return placedShapeFor(seed, 10);
    return pose == kAxes ? shapeFor(seed) : turnedShapeFor(seed, pose == kRounded);
}

TEST(RobustGeneratedShapes, PlacedShapesAreInSinglePrecision) {
    // Checked on the bits (the low 29 of a double's mantissa are zero for a float's value),
    // not by a round trip through float that the compiler could fold away: with both
    // coordinates of a pair converted side by side, it once did, and most points of the
    // shapes placed away from the origin kept their x and y in double precision.
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        for (const double at : {10.0, 100.0}) {
            const Shape shape = placedShapeFor(seed, at);
            int64_t wide = 0;
            for (const Point3& p : shape.plc.points) {
                for (const double c : {p.x, p.y, p.z}) {
                    uint64_t bits = 0;
                    std::memcpy(&bits, &c, sizeof bits);
                    wide += (bits & ((uint64_t{1} << 29) - 1)) != 0 ? 1 : 0;
                }
            }
            EXPECT_EQ(wide, 0) << "seed " << seed << " at " << at;
        }
    }
}

/// The cells of the mesh above the radius-edge ratio.
int64_t cellsAbove(const RobustTetMesh& mesh, double ratio) {
    int64_t above = 0;
    const Point3* p = mesh.points.data();
    for (const TetCell& t : mesh.tets) {
        above += tetQuality(p[t.v[0]], p[t.v[1]], p[t.v[2]], p[t.v[3]]).radiusEdgeRatio > ratio ? 1 : 0;
    }
    return above;
}

/// A further check on a shape's mesh.
using MeshCheck = std::function<void(const Shape&, const RobustTetMesh&)>;

/// Meshes the shape, which must succeed with every facet covered, no flat cell, at most
/// `most` cells above the bound away from small input angles, and pass `also` if given.
void meshesWithin(const Shape& shape, int64_t most, const MeshCheck& also = nullptr) {
    RobustTetParams params;
    params.maxVolume = shape.maxVolume;
    const RobustTetMesh mesh = meshRobustTets(shape.plc, params);
    ASSERT_TRUE(mesh.ok) << mesh.error;
    EXPECT_EQ(shapes::check(shape.plc, mesh.points, mesh.tets, shape.maxVolume, params.radiusEdgeBound).failure, "");
    EXPECT_LE(shapes::overRatioAwayFromSmallAngles(shape.plc, mesh.points, mesh.tets, params.radiusEdgeBound), most);
    EXPECT_EQ(shapes::roundingFlatCells(mesh.points, mesh.tets), 0);
    if (also) also(shape, mesh);
}

/// A generated shape (seed, pose and the kind it must be) and the most cells it may keep
/// above the bound away from small input angles.
struct PosedCase {
    uint64_t seed;
    Pose pose;
    const char* kind;
    int64_t most;
};

void meshCasesWithin(std::initializer_list<PosedCase> cases, const MeshCheck& also = nullptr) {
    for (const PosedCase& k : cases) {
        const Shape shape = posedShapeFor(k.seed, k.pose);
        SCOPED_TRACE("seed " + std::to_string(k.seed) + " pose " + std::to_string(k.pose));
        ASSERT_EQ(shape.kind, k.kind);
        meshesWithin(shape, k.most, also);
    }
}

TEST(RobustGeneratedShapes, MeshOrFailCleanly) {
    int meshed = 0;
    for (uint64_t seed = 1; seed <= 24; ++seed) {
        const Shape shape = shapeFor(seed);
        SCOPED_TRACE("seed " + std::to_string(seed) + " " + shape.kind);
        if (meshesAndChecks(shape)) ++meshed;
    }
    // Most of them mesh: the test is not passing on failures alone.
    EXPECT_GE(meshed, 16);
}

TEST(RobustGeneratedShapes, TurnedAndRoundedMeshOrFailCleanly) {
    // The same shapes turned about a slanted axis with their heights rounded to single
    // precision, as surfaces written in single precision come: facets that were coplanar
    // are not exactly so, and no test of the engine may lean on exact coplanarity. (Before
    // the points computed on a face went back onto their facet's plane and large cells got
    // their last tries, seed 25 left boundary faces off their facet and seed 42 failed on
    // the volume bound; before facets folded by rounding counted as one plane for flat
    // cells, seed 42 kept a cell of rounding volume.)
    int meshed = 0;
    for (uint64_t seed = 1; seed <= 48; ++seed) {
        const Shape shape = turnedShapeFor(seed);
        SCOPED_TRACE("seed " + std::to_string(seed) + " turned " + shape.kind);
        if (meshesAndChecks(shape)) ++meshed;
    }
    EXPECT_GE(meshed, 32);
}

TEST(RobustGeneratedShapes, PartsAwayFromTheOriginMeshAndCheck) {
    // Turned shapes moved to (100, 100, 100) and written in single precision, as CAD exports
    // place parts away from the origin: the coordinates lie on a grid 2^-17 apart, a hundred
    // times coarser against the part than at the origin, and facets meant to be coplanar
    // fold by 1e-5 (the median; 5e-8 at the origin). Each meshes or fails cleanly, every
    // facet covered, the volume kept, no flat cell, the same mesh again. (Summed about the
    // origin, the check's own volume lost 1e-9 of it there on seeds 3 and 11.)
    int meshed = 0;
    for (uint64_t seed = 1; seed <= 14; ++seed) {
        const Shape shape = placedShapeFor(seed, 100);
        SCOPED_TRACE("seed " + std::to_string(seed) + " " + shape.kind);
        RobustTetParams params;
        params.maxVolume = shape.maxVolume;
        const RobustTetMesh mesh = meshRobustTets(shape.plc, params);
        if (!mesh.ok) {
            EXPECT_NE(mesh.error.find("not manifold"), std::string::npos) << mesh.error;
            continue;
        }
        ++meshed;
        EXPECT_EQ(shapes::check(shape.plc, mesh.points, mesh.tets, shape.maxVolume, params.radiusEdgeBound).failure, "");
        EXPECT_EQ(shapes::roundingFlatCells(mesh.points, mesh.tets), 0);
        const RobustTetMesh again = meshRobustTets(shape.plc, params);
        EXPECT_TRUE(again.ok && shapes::sameMesh(again, mesh));
    }
    EXPECT_GE(meshed, 11);
}

TEST(RobustGeneratedShapes, CircumcentresOfRoundedFacetsStayOnTheirPlanes) {
    // A turned 30-sided shaft whose rounded facets have long thin pieces: the
    // circumcentre of such a piece lies far from it, and computed from its corners it lay
    // 2e-10 of the extent off the facet (the coverage check allows 1e-9).
    const Shape shape = turnedShapeFor(204);
    ASSERT_EQ(shape.kind, "shaft");
    EXPECT_TRUE(meshesAndChecks(shape));
}

TEST(RobustGeneratedShapes, CellsOverAFoldOfRoundingStayInTheSolid) {
    // A 3-sided prism and a voxel solid, rounded: the two triangles of a side fold by the
    // rounding of single precision, and a cell with its four corners on the fold fills it
    // with a volume of that size. Counted as flat (their facets are one plane to that fold)
    // it was left out of the solid like a cell over an exactly flat face, and a boundary
    // face then lay on no input facet.
    for (const uint64_t seed : {142u, 175u}) {
        const Shape shape = turnedShapeFor(seed);
        SCOPED_TRACE("seed " + std::to_string(seed) + " " + shape.kind);
        EXPECT_TRUE(meshesAndChecks(shape));
    }
}

TEST(RobustGeneratedShapes, SecondLookTakesTheCellsOnTheWay) {
    // From the second look on, the circumcentre of a cell bad by its shape takes the cells on
    // the way from the cell into its cavity: where the mesh is not Delaunay the cavity grown
    // by the conflict test alone missed the cell. A 61-sided cone (the cells at its rim), a
    // voxel solid turned, and a shaft with two discs 0.01 thick rounded kept 9, 2 and 2 cells
    // above the bound away from small angles before.
    meshCasesWithin({{106, kAxes, "cone", 0}, {220, kTurned, "voxels", 0}, {80, kRounded, "shaft", 0}});
}

TEST(RobustGeneratedShapes, PointsForTheCellsLeftTakeTheCellsOnTheWay) {
    // A point tried for a cell left after refinement (its circumcentre, the point half way,
    // its centroid, the apex of a regular cell on a face) takes the cells on the way from the
    // cell into its cavity, and goes in when the cells it makes are better. An 11-sided shaft
    // with a short step and a 25-sided shaft of three steps turned kept 7 and 1 cells above
    // the bound away from small angles when the cavity was grown by the conflict test alone.
    meshCasesWithin({{997, kAxes, "shaft", 0}, {268, kTurned, "shaft", 0}});
}

TEST(RobustGeneratedShapes, LocalRefinementReachesTheFeatureScale) {
    // The refinement around a cell left may add up to 3,000 points, kept a hundredth of the
    // cell's shortest edge apart. A slab 0.032 thick whose faces are split into strips 0.005
    // and 0.002 wide needs more than a thousand points around one cell, several times the
    // cells there; with at most 300 it kept 28 cells above the bound away from small angles.
    // A 61-sided cone turned and a shaft turned, both next to discs, kept 9 and 4.
    meshCasesWithin({{422, kAxes, "voxels", 1}, {106, kTurned, "cone", 0}, {102, kTurned, "shaft", 0}});
}

TEST(RobustGeneratedShapes, LocalRefinementRefinesTheCellsItMakesOutsideItsBall) {
    // The cells a refinement around a cell left makes just outside its ball are refined
    // too (under the shortest-edge rule): left as they were, the rim of the ball kept the
    // bad cells the finer cells inside made there, and the attempt was undone. A 50-sided
    // cone and a 25-sided shaft kept 1 and 2 cells above the bound away from small angles.
    // A shaft with a disc 0.01 thick kept 1 after a kept attempt of its own, which a second
    // round around the cells left takes away.
    meshCasesWithin({{409, kAxes, "cone", 0}, {268, kAxes, "shaft", 0}, {172, kAxes, "shaft", 0}});
}

TEST(RobustGeneratedShapes, LocalRefinementMovesPointsBeforeItIsJudged) {
    // After the refinement around a cell left, Steiner points move as after refinement
    // (never making a cell above the bound, or a worse one) before the attempt is judged:
    // attempts that took the cells away but left a few more slivers are kept now. Shafts
    // on discs 0.01 thick, rounded (20 and 16 sides) and turned (24 sides), kept 2, 1 and 4
    // cells above the bound away from small angles.
    meshCasesWithin({{20, kRounded, "shaft", 0}, {17, kRounded, "shaft", 0}, {67, kTurned, "shaft", 0}});
}

TEST(RobustGeneratedShapes, LocalRefinementAddsPointsForTheCellsItLeaves) {
    // Inside an attempt around a cell left, the points for the cells left (each judged by
    // the cells it makes) run on the cells the attempt made, as they run on the whole mesh
    // after refinement. Two shafts along the axes kept 3 and 1 cells above the bound away
    // from small angles; a rounded 50-sided shaft with a rod of radius 0.08 under a disc
    // kept 25, and keeps 3 (2 since the last polish).
    meshCasesWithin({{67, kAxes, "shaft", 0}, {491, kAxes, "shaft", 0}, {159, kRounded, "shaft", 2}});
}

TEST(RobustGeneratedShapes, LastPolishTakesCellsAwayAndLowersTheSlivers) {
    // After everything else, the Steiner points at cells still above the bound move once
    // more, each searched along the axes from the best of the usual places. A shaft along
    // the axes, a turned one and two rounded ones kept one cell each above the bound away
    // from small angles; the shaft along the axes (a disc 0.01 thick on a rod) also kept 49
    // cells above a ratio of 50, and keeps 40.
    meshCasesWithin({{813, kAxes, "shaft", 0}},
                    [](const Shape&, const RobustTetMesh& mesh) { EXPECT_LE(cellsAbove(mesh, 50), 40); });
    meshCasesWithin({{204, kTurned, "shaft", 0}, {191, kRounded, "shaft", 0}, {195, kRounded, "shaft", 0}});
}

TEST(RobustGeneratedShapes, MovesKeepTheExcusesOfTheCellsTheyReshape) {
    // A small angle is measured where the points are, so a move of a point at a cell above
    // the bound can take the cell's excuse away without making it worse. Two turned voxel
    // solids and a rounded one got such a cell from the last polish while moves did not
    // keep excuses.
    meshCasesWithin({{99, kTurned, "voxels", 0}, {148, kTurned, "voxels", 0}, {156, kRounded, "voxels", 0}});
}

TEST(RobustGeneratedShapes, LocalRefinementGoesOnAfterAnAttemptRunsOutOfTheBudget) {
    // A 55-sided shaft on two discs 0.01 thick, whose faces are fans and rings of thin
    // triangles, needs 17,549 of its 20,000 points before the refinement around the cells
    // left. The second try around its first cell ran into the budget and the pass ended,
    // with 16 cells above the bound away from small angles; the attempt is undone and the
    // others, which need fewer points, are tried: 11 were left, 10 once points moved
    // before an attempt is judged, 3 with the contraction of points and the flips of
    // boundary edges, none since an attempt is judged after the points for its slivers.
    meshCasesWithin({{575, kAxes, "shaft", 0}});
}

TEST(RobustGeneratedShapes, AnAttemptIsJudgedAfterThePointsForItsSlivers) {
    // A turned cone with a flat slant side and a shaft with discs: the refinement around
    // the cell left took it away, with every other such cell in its reach, but made a few
    // slivers (cells above a ratio of 50) that a point each mends, and was undone for them
    // (4 and 1 cells left above the bound away from small angles).
    meshCasesWithin({{213, kTurned, "cone", 0}, {879, kAxes, "shaft", 0}});
}

TEST(RobustGeneratedShapes, CellsOnAFaceAtAVerySharpFacetCornerAreNotWorkedOn) {
    // A cell on a face at a facet corner below 14.5 degrees cannot meet a bound of 2, and
    // the passes after refinement judged their moves, flips and points as if it could.
    // Counted as excused, they take other steps on this shaft, which kept one cell above
    // the bound (a corner at the hub of its base's fan and three points inside, ratio 2.6,
    // which no attempt reached) and now keeps none.
    meshCasesWithin({{1161, kAxes, "shaft", 0}});
}

TEST(RobustGeneratedShapes, FoldsOfRoundingAwayFromTheOriginCountAsFlat) {
    // A shaft on a disc 0.01 thick, placed at (10, 10, 10) in single precision: the two
    // triangles of each quad of the disc's side, and the triangles of its faces, are
    // folded by rounding to sines of up to 1e-5, above the fold that counts as flat near
    // the origin. Cells with their corners on such triangles lay along the disc with
    // circumspheres of 10^6 and more (260 cells above a ratio of 1,000, 12 above the bound
    // away from small angles).
    meshCasesWithin({{300, kPlaced, "shaft", 0}},
                    [](const Shape&, const RobustTetMesh& mesh) { EXPECT_EQ(cellsAbove(mesh, 1000), 0); });
}

TEST(RobustGeneratedShapes, ThinStripsOnALargeFaceFoldedByRoundingCountAsFlat) {
    // Boxes with a layer under 2e-4 thick through them, placed in single precision: the
    // strips the layer leaves on four sides tilt by up to a percent against the large
    // facets beside them, all of it rounding. Counted as folds, they kept cells lying flat
    // along the sides: at (10, 10, 10) 119,812 cells, 95,074 of them above a ratio of
    // 1,000 and 406 above the bound away from small angles, after 35 minutes; the second
    // box ran past 5 minutes; at (100, 100, 100) the first kept 27 such cells.
    auto fewAbove1000 = [](const Shape&, const RobustTetMesh& mesh) {
        EXPECT_LT(cellsAbove(mesh, 1000), 500);
        EXPECT_LT(mesh.tets.size(), 20000u);
    };
    // The second box keeps one cell that the engine's rule excuses and the tests' measure,
    // stricter at input corners, does not (none before cells under such a face let the
    // splits among them go in).
    meshCasesWithin({{15, kPlaced, "voxels", 10}, {872, kPlaced, "voxels", 1}}, fewAbove1000);
    SCOPED_TRACE("seed 15 at 100");
    meshesWithin(placedShapeFor(15, 100), 0, fewAbove1000);
}

TEST(RobustGeneratedShapes, CellsUnderAFaceFoldedByRoundingMakeWayForSplits) {
    // A block with a strip 1.5e-4 wide across four faces, at (100, 100, 100) in single
    // precision: the strip's corners move by up to 5 % of its width, and each face (two
    // large facets, the strip's two triangles between them) counts as one plane for flat
    // cells. The cells with four corners on such a face, under it, refused every cell made
    // on their faces as flat, so the split of a subsegment among them never went in: these
    // two turns kept 166 and 457 cells above the bound away from small angles (4,007 and
    // 4,522 cells now, 13,688 and 39,656 then).
    for (const uint64_t turn : {13, 33}) {
        SCOPED_TRACE("turn " + std::to_string(turn));
        meshesWithin(shapes::stripBlockFor(turn, 1.5e-4, 100), 0, [](const Shape&, const RobustTetMesh& mesh) {
            EXPECT_LT(mesh.tets.size(), 6000u);
        });
    }
}

TEST(RobustGeneratedShapes, CellsUnderAFoldedDiagonalGetItOpened) {
    // The strip block again: each strip is two thin triangles that rounding folds along
    // their common diagonal, whose pieces stay long (the strip's sharp corners keep the
    // points of its sides from splitting them). Cells with corners on both sides of the
    // strip lie nearly flat under the fold; a point on the diagonal has a cavity of
    // thousands of cells, not star-shaped, and a point inside the solid alone makes cells
    // on the long pieces no better. These turns kept 19 and 2 cells above the bound away
    // from small angles; the passes for the cells left, tried again with the diagonal split
    // in the ring of cells around it and a point under each such cell, keep none.
    for (const uint64_t turn : {10, 18}) {
        SCOPED_TRACE("turn " + std::to_string(turn));
        meshesWithin(shapes::stripBlockFor(turn, 1.5e-4, 100), 0);
    }
}

TEST(RobustGeneratedShapes, ANarrowFaceOfThinFacetsKeepsItsFolds) {
    // A plate 6.4e-3 thick of voxel layers 3e-4 and 1e-3 thick, at (10, 10, 10): its
    // narrow sides are strips only, each folded by rounding up to 3e-3, with no facet
    // large enough to fix their plane. Counted as one plane, they kept 1,195 cells above the
    // bound away from small angles.
    meshCasesWithin({{561, kPlaced, "voxels", 0}});
}

TEST(RobustGeneratedShapes, FoldsOfRoundingOnARodAndBesideALargeFacetCountAsFlat) {
    // Placed at (100, 100, 100) in single precision. A shaft with a rod 0.02 across: each
    // side of the rod is a quad of two long triangles that rounding folds along their
    // diagonal by sines of 2e-4 to 5e-4. Counted as folds, they drew refinement down to
    // 1e-4 along the rod and kept 35 cells above the bound away from small angles (23,964
    // cells, 4,952 now). A voxel solid whose side has a strip folded by 2.5 degrees beside
    // a facet that rounding tilts by at most 1.02e-4 kept 86.
    for (const uint64_t seed : {62, 740}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Shape shape = placedShapeFor(seed, 100);
        ASSERT_EQ(shape.kind, seed == 62 ? "shaft" : "voxels");
        meshesWithin(shape, 0, [seed](const Shape&, const RobustTetMesh& mesh) {
            if (seed == 62) {
                EXPECT_LT(mesh.tets.size(), 10000u);
            }
        });
    }
}

TEST(RobustGeneratedShapes, FlatCellsUnderAFoldedFaceGiveWayToSplits) {
    // Voxel solids with thin layers placed at (100, 100, 100) in single precision. Under
    // faces folded by rounding lie cells flat on them; a split there could join its point
    // to their faces only with a cell no worse by its ratio, so face after face of its
    // cavity was refused until none was left, and the cells around stayed above the bound
    // (9 and 4 away from small angles).
    for (const uint64_t seed : {186, 635}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const Shape shape = placedShapeFor(seed, 100);
        ASSERT_EQ(shape.kind, "voxels");
        meshesWithin(shape, 0);
    }
}

TEST(RobustGeneratedShapes, AnAttemptMaySplitAPieceRefinementFoundStuck) {
    // A shaft on a disc 0.01 thick kept a cell on the disc's top face (ratio 4.3): the
    // boundary piece its circumcentre encroaches had outlived the split of a subsegment
    // once, and was marked so as not to be split that way again. The refinement around the
    // cell starts without those marks, its points having changed the piece's surroundings.
    meshCasesWithin({{1162, kAxes, "shaft", 0}});
}

TEST(RobustGeneratedShapes, CellsLeftAfterTheContractionsGetASecondPass) {
    // A voxel solid with a plate 6e-4 thick along the axes kept one cell beside the plate,
    // and a shaft on a disc 0.01 thick, turned and rounded, three made by the passes after
    // refinement: the refinement around them, tried again once the contractions have
    // reshaped their neighbourhood, takes them away.
    meshCasesWithin({{930, kAxes, "voxels", 0}, {300, kRounded, "shaft", 0}});
}

TEST(RobustGeneratedShapes, MovesForACellLeftMayReshapeTheExcusedCellsAroundIt) {
    // Next to a facet corner of 0.17 degrees a ring shaft kept one cell of ratio 2.3 with
    // all four corners inside the solid; each corner's star holds ten to thirty cells the
    // bound excuses, and every move that took the cell away made one of them a little
    // worse, so the moves never made it. Judged by the cells the bound does not excuse, a
    // move takes it away.
    meshCasesWithin({{1349, kAxes, "shaft", 0}});
    // A shaft placed at (100, 100, 100) in single precision kept one such cell.
    const Shape shape = placedShapeFor(289, 100);
    ASSERT_EQ(shape.kind, "shaft");
    meshesWithin(shape, 0);
}

/// Every point of the mesh is a corner of a cell, and the engine counts as added exactly
/// the points beyond the input's.
void everyPointInACell(const Shape& shape, const RobustTetMesh& mesh) {
    std::vector<uint8_t> used(mesh.points.size(), 0);
    for (const TetCell& t : mesh.tets) {
        for (const int64_t v : t.v) used[static_cast<size_t>(v)] = 1;
    }
    EXPECT_EQ(std::count(used.begin(), used.end(), 0), 0);
    EXPECT_EQ(static_cast<size_t>(mesh.steinerCount), mesh.points.size() - shape.plc.points.size());
}

TEST(RobustGeneratedShapes, ContractingAPointTakesCellsLeftAway) {
    // Cells left above the bound next to thin discs, layers and fans, made by a Steiner
    // point too close to others for any move of it to help: two shafts with discs 0.01
    // thick along the axes, a voxel solid with a layer 2e-4 thick and a 59-sided cone,
    // both rounded, kept one such cell each. The point contracted into a neighbour on its
    // feature takes them away; the points it leaves out of the mesh are gone from the
    // output too.
    meshCasesWithin({{400, kAxes, "shaft", 0}, {764, kAxes, "shaft", 0}, {15, kRounded, "voxels", 0},
                     {182, kRounded, "cone", 0}},
                    everyPointInACell);
    // Contracted once more after the last polish has moved the points around: a shaft with
    // a disc 0.01 thick along the axes and a 52-sided cone 0.04 wide rounded kept one cell
    // each with a single round of contractions.
    meshCasesWithin({{370, kAxes, "shaft", 0}, {126, kRounded, "cone", 0}}, everyPointInACell);
    // Where no contraction helps, the flip of an edge of the cell's boundary faces: a
    // 31-sided shaft on a disc 0.01 thick kept four cells at the rim of the disc's base (a
    // point of the base, one on the rim's diagonal), a voxel solid with a layer 0.003 thick
    // one cell; with a layer 3e-4 thick rounded, one.
    meshCasesWithin({{983, kAxes, "shaft", 0}, {311, kAxes, "voxels", 0}, {128, kRounded, "voxels", 0}});
}

TEST(RobustGeneratedShapes, RefinementStopsShortOfAFanCentre) {
    // Caps and bases drawn as fans of 10 or 11 spokes (corners of 36 and 33 degrees, not
    // protected as small). Each ring of spoke splits made the cells at the fan's centre bad
    // again at half the size, and refinement ran down to edges of 10^-8 (over a thousand
    // cells below a millionth of the part each) and kept 3, 2, 0, 1 and 4 cells above the bound
    // there. No point now comes closer to an input corner than 2^-12 of its scale.
    meshCasesWithin({{866, kAxes, "cone", 0},
                     {707, kAxes, "cone", 0},
                     {562, kAxes, "cone", 0},
                     {997, kAxes, "shaft", 0},
                     {337, kAxes, "shaft", 2}},
                    noCellBelowAMillionth);
}

TEST(RobustGeneratedShapes, FacetPointSplitsTheSideOfItsPieceItEncroaches) {
    // A piece's circumcentre inside the diametral ball of one of its own sides, a
    // subsegment of an input edge between two facets of one flat face: the point's cavity
    // held cells around the subsegment but not the other facet's piece on it, so no boundary
    // piece of the cavity carried it and the point went in. The subsegment was split right
    // after it, an edge far shorter than anything near joined the two, and the cells on it
    // were bad at half the size, again and again: a 20-sided shaft on a disc 0.01 thick
    // ran down to edges of 2e-9 on the diagonal of the disc's top (376 cells below a
    // millionth of the part), and three shapes rounded to single precision did the same
    // (447, 617 and 1,758 such cells; the voxel solid's mesh was nine times the size).
    meshCasesWithin({{20, kAxes, "shaft", 0}, {61, kRounded, "voxels", 0}, {173, kRounded, "voxels", 0},
                     {204, kRounded, "shaft", 0}},
                    noCellBelowAMillionth);
}

TEST(RobustGeneratedShapes, FlatCellOnTheBoundaryIsTakenAway) {
    // A 24-sided disc 0.01 thick, turned in double precision: four corners of one rim lie on
    // one circle, and the cell they make lies flat on the disc's face, two of its faces
    // pieces of two facets and the other two towards the solid. No flip with one neighbour
    // takes it away; the removal of its inner diagonal does, once the passes after
    // refinement have made the ring around that edge small enough. Before, it stayed.
    const Shape shape = turnedShapeFor(3, false);
    ASSERT_EQ(shape.kind, "shaft");
    EXPECT_TRUE(meshesAndChecks(shape));
}

TEST(RobustGeneratedShapes, NearlyCoplanarFacetsMeetTheBound) {
    // Facets that were coplanar before the shape was turned, apart by rounding: split as
    // coplanar neighbours (a point encroaching a neighbour's piece splits that piece first)
    // and counted as one plane for flat cells, they leave no cell above the bound away from
    // small input angles. Before, each such facet was a plane of its own: 7 and 4 cells on
    // the two voxel solids turned in double precision, 22 and 13 on the cone and the voxel
    // solid rounded to single precision.
    struct Case {
        uint64_t seed;
        bool rounded;
    };
    for (const Case k : {Case{111, false}, Case{15, false}, Case{42, true}, Case{112, true}}) {
        const Shape shape = turnedShapeFor(k.seed, k.rounded);
        SCOPED_TRACE("seed " + std::to_string(k.seed) + " " + shape.kind + (k.rounded ? " rounded" : " turned"));
        meshesWithin(shape, 0);
    }
}

TEST(RobustGeneratedShapes, PointOnACrossedFaceTakesTheCellsOnTheWay) {
    // Shafts with discs 0.01 thick (one of 23 sides turned, a disc alone turned, two discs
    // stacked along the axes, two stacked under a long section rounded) and a three-step
    // shaft rounded: refinement leaves
    // cells that are not Delaunay, inside thin discs most, and a bad cell's circumcentre lies
    // beyond a face. The point put where the segment to it meets the face lies in the cell's
    // circumsphere, but cells on the way need not, and a cavity grown by the conflict test
    // alone left the cell; its next try met the face at that very point, again and again.
    // Before the cells on the way joined the cavity and such a try got a free point half way
    // instead, these kept 31, 1, 11, 4 and 2 cells above the bound away from small angles.
    // The shaft along the axes keeps 7 since a point for a cell left may make excused cells
    // worse: the points then leave it 11 cells instead of 17, and the refinement around the
    // cells left after them 7 instead of 2 (over the generated shapes such cells fall by a
    // quarter).
    meshCasesWithin({{41, kTurned, "shaft", 1},
                     {11, kTurned, "shaft", 0},
                     {67, kAxes, "shaft", 7},
                     {212, kRounded, "shaft", 2},
                     {69, kRounded, "shaft", 0}});
}

}  // namespace
