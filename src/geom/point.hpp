#pragma once

/// A point in space, in the job's length unit (never scaled).
struct Point3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

/// A point in a plane frame.
struct Point2 {
    double x = 0.0;
    double y = 0.0;
};
