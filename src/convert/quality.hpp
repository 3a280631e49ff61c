#pragma once
// Element quality figures and the model report built from them. Quadratic kinds are
// measured on their corner nodes, that is as the straight-sided element they refine.

#include <string>
#include <vector>

#include "convert/model_reader.hpp"
#include "geom/point.hpp"

enum class QualityFigure { MinAngle = 0, MaxAngle, RadiusEdge, MinDihedral, ScaledJacobian };
constexpr int kFigureCount = 5;

struct FigureInfo {
    QualityFigure figure;
    const char* option;       ///< command-line name, "min-angle"
    const char* jsonName;     ///< report key, "minAngle"
    const char* title;        ///< "min angle (deg)"
    bool higherIsBetter;
    double worst;             ///< ends of the picture's colour scale
    double best;
};

const FigureInfo& figureInfo(QualityFigure figure);
/// The figure named `option` on the command line, or nullptr.
const FigureInfo* findFigure(const std::string& option);
/// Angles for area kinds; radius-edge ratio and minimum dihedral angle for tetrahedra;
/// scaled Jacobian for hexahedra.
bool figureApplies(QualityFigure figure, const CellKind& kind);

/// The corner positions of an element (kind.cornerCount of them) into `corners`.
void elementCorners(const LoadedModel& m, const CellKind& kind, const int32_t* nodes, Point3* corners);

/// One figure of one element, from its corners; the figure must apply to the kind.
/// Angles in degrees. A degenerate element gives the worst value its figure can take
/// (0 degrees, or an infinite radius-edge ratio).
double elementFigure(QualityFigure figure, const CellKind& kind, const Point3* corners);

/// Area of an area element (the length of its vector area), signed volume of a solid
/// (positive for the orientation the meshers produce), length of a line element.
double elementMeasure(const CellKind& kind, const Point3* corners);

/// Minimum, mean and maximum of one figure over the elements of one kind.
struct FigureSummary {
    QualityFigure figure;
    double min = 0.0;
    double mean = 0.0;
    double max = 0.0;
};

struct KindSummary {
    const CellKind* kind;
    size_t count = 0;
    size_t inverted = 0;   ///< solids with a non-positive volume (tetrahedra) or scaled Jacobian (hexahedra)
    std::vector<FigureSummary> figures;
};

struct QualityReport {
    size_t nodes = 0;
    bool hasBox = false;
    Point3 boxMin;
    Point3 boxMax;
    double totalArea = 0.0;
    double totalVolume = 0.0;
    std::vector<KindSummary> kinds;   ///< kinds present, in the fixed kind order
};

QualityReport buildQualityReport(const LoadedModel& m);

/// The report as an aligned text table (for people) or as one JSON object.
std::string formatReportTable(const QualityReport& r, const std::string& modelName);
std::string formatReportJson(const QualityReport& r, const std::string& modelName);
