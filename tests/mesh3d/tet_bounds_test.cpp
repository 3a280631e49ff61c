// The coordinate range of the volume mesher met at its value: coordinates up to 1e50 in
// magnitude are meshed, anything beyond (or not finite) is refused before any work.

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "mesh3d/tet_checks.hpp"
#include "mesh3d/tet_mesher.hpp"

namespace {

/// The cube [-h, h]^3 as twelve outward triangles.
Plc centredCube(double h) {
    Plc plc = tetcheck::cube(true, 2.0);
    for (Point3& p : plc.points) p = Point3{(p.x - 1.0) * h, (p.y - 1.0) * h, (p.z - 1.0) * h};
    return plc;
}

TEST(TetBounds, CoordinatesUpToTheBoundPassTheCheckAndBeyondAreNamed) {
    static_assert(kMaxTetMeshCoordinate == 1e50, "the README's Limits table gives 1e50");
    std::string error;
    EXPECT_TRUE(checkPlc(centredCube(kMaxTetMeshCoordinate), error)) << error;
    const double past = std::nextafter(kMaxTetMeshCoordinate, INFINITY);
    const char* const message = "point 6 has a coordinate that is not finite or exceeds 1e50 in magnitude";
    for (double bad : std::initializer_list<double>{past, -past, INFINITY, std::numeric_limits<double>::quiet_NaN(), 1e300}) {
        for (int axis = 0; axis < 3; ++axis) {
            Plc plc = centredCube(1.0);
            double* c[3] = {&plc.points[6].x, &plc.points[6].y, &plc.points[6].z};
            *c[axis] = bad;
            error.clear();
            EXPECT_FALSE(checkPlc(plc, error)) << bad << " " << axis;
            EXPECT_EQ(error, message);
            const TetMesh mesh = meshQualityTets(plc, TetMeshParams());
            EXPECT_FALSE(mesh.ok);
            EXPECT_TRUE(mesh.tets.empty());
        }
    }
}

TEST(TetBounds, CubeAtTheCoordinateBoundMeshesLikeTheUnitCube) {
    // The exact in-sphere test still decides at 1e50: the cube of half side 1e50 meshes
    // into as many points and tetrahedra as the cube of half side 1 (1e50 is no power of
    // two, so Steiner coordinates may differ in the last bits), and the mesh is valid.
    TetMeshParams params;
    params.maxSteinerPoints = 200;
    const TetMesh unit = meshQualityTets(centredCube(1.0), params);
    const TetMesh huge = meshQualityTets(centredCube(kMaxTetMeshCoordinate), params);
    ASSERT_TRUE(unit.ok);
    ASSERT_TRUE(huge.ok);
    EXPECT_EQ(huge.points.size(), unit.points.size());
    EXPECT_EQ(huge.tets.size(), unit.tets.size());
    const double h = kMaxTetMeshCoordinate;
    const Plc input = centredCube(h);
    EXPECT_EQ(tetcheck::checkTetMesh(huge.points, huge.tets, input.points, input.facets, 8.0 * h * h * h), "");
    for (const Point3& p : huge.points) {
        EXPECT_LE(std::fabs(p.x), h);
        EXPECT_LE(std::fabs(p.y), h);
        EXPECT_LE(std::fabs(p.z), h);
    }
}

}  // namespace
