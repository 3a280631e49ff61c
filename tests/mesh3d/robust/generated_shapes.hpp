#pragma once
// Shapes drawn from fixed seeds: stepped shafts (rods, collars, thin discs), cones and voxel
// solids with thin layers, along the axes, turned about a slanted axis, or placed away from
// the origin in single precision; and a block with a thin strip, turned and placed so. The
// tests mesh some of them; bench/robust_shapes measures whole ranges.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "mesh3d/plc.hpp"
#include "mesh3d/robust/robust_shapes.hpp"

namespace shapes {

/// A drawn shape: its kind ("shaft", "cone" or "voxels"), its surface, and the maximum
/// volume of a cell it is meshed with (0: none).
struct Shape {
    std::string kind;
    Plc plc;
    double maxVolume = 0;
};

inline Shape shapeFor(uint64_t seed) {
    Draw d{seed};
    Shape s;
    const int type = d.below(3);
    if (type == 0) {
        // A stepped shaft: sections long or 0.01 thin, radii from 0.02 to about 1.
        const int sides = 3 + d.below(60);
        const int steps = 1 + d.below(3);
        std::vector<double> radii, zs{0};
        for (int i = 0; i < steps; ++i) {
            radii.push_back(0.02 + d.unit());
            zs.push_back(zs.back() + (d.unit() < 0.25 ? 0.01 : 0.05 + 2 * d.unit()));
        }
        s.kind = "shaft";
        s.plc = shapes::steppedShaft(sides, radii, zs);
    } else if (type == 1) {
        s.kind = "cone";
        s.plc = shapes::cone(3 + d.below(60), 0.02 + d.unit(), 0.05 + 2 * d.unit());
    } else {
        // Grid lines 0.2 to 1.2 apart, or a thin layer of 10^-1 to 10^-4.
        auto lines = [&](int n) {
            std::vector<double> v{0};
            for (int i = 0; i < n; ++i) v.push_back(v.back() + (d.unit() < 0.25 ? std::pow(10.0, -1 - 3 * d.unit()) : 0.2 + d.unit()));
            return v;
        };
        const std::vector<double> xs = lines(2 + d.below(3)), ys = lines(1 + d.below(2)), zs = lines(1 + d.below(3));
        const int nx = static_cast<int>(xs.size()) - 1, ny = static_cast<int>(ys.size()) - 1;
        std::vector<int> fill(static_cast<size_t>(nx * ny * (static_cast<int>(zs.size()) - 1)));
        for (int& f : fill) f = d.unit() < 0.7 ? 1 : 0;
        fill[0] = 1;
        s.kind = "voxels";
        s.plc = shapes::voxels(xs, ys, zs, [&](int i, int j, int k) { return fill[static_cast<size_t>((k * ny + j) * nx + i)] != 0; });
    }
    if (d.unit() < 0.3) s.maxVolume = shapes::enclosed(s.plc) / (200 + 2000 * d.unit());
    return s;
}

/// A turn about a slanted axis drawn from `seed`.
inline shapes::Rotation drawnTurn(uint64_t seed) {
    Draw d{seed};
    const double ax = 2 * d.unit() - 1, ay = 2 * d.unit() - 1, az = 2 * d.unit() - 1;
    return shapes::rotationAbout(ax, ay, az, 3.14159 * (2 * d.unit() - 1));
}

/// plc put at (at, at, at), every coordinate rounded to single precision, as a part away
/// from the origin is stored.
inline void placeInSinglePrecision(Plc& plc, double at) {
    for (Point3& p : plc.points) {
        p = Point3{shapes::toSingle(p.x + at), shapes::toSingle(p.y + at), shapes::toSingle(p.z + at)};
    }
}

/// The shape of `seed` turned about a slanted axis, its heights rounded to single precision
/// (or, without `rounded`, in double precision alone).
inline Shape turnedShapeFor(uint64_t seed, bool rounded = true) {
    Shape shape = shapeFor(seed);
    const shapes::Rotation turn = drawnTurn(seed + 1000);
    shape.plc = rounded ? shapes::turnedRounded(shape.plc, turn.m) : shapes::turned(shape.plc, turn.m);
    return shape;
}

/// The shape of `seed` turned and placed in single precision at (at, at, at).
inline Shape placedShapeFor(uint64_t seed, double at) {
    Shape shape = turnedShapeFor(seed, false);
    placeInSinglePrecision(shape.plc, at);
    return shape;
}

/// A block 1 x 1 x 0.6 with a strip `width` wide across four of its faces (its grid lines
/// at y = 0.5 and 0.5 + width), turned about a slanted axis drawn from `turn` and placed in
/// single precision at (at, at, at): the strip's corners move by a few percent of its
/// width, and its triangles fold against the large facets beside them.
inline Shape stripBlockFor(uint64_t turn, double width, double at) {
    Shape shape;
    shape.kind = "strip";
    shape.plc = shapes::voxels({0, 1}, {0, 0.5, 0.5 + width, 1}, {0, 0.6}, [](int, int, int) { return true; });
    shape.plc = shapes::turned(shape.plc, drawnTurn(turn).m);
    placeInSinglePrecision(shape.plc, at);
    return shape;
}

}  // namespace shapes
