#pragma once
// A picture of the model as SVG. Areas that lie in one plane are drawn in that plane, seen
// from its side (the top, front or right view when it is a coordinate plane); solids, and
// areas that are not planar, are drawn in a fixed isometric view from (1, -1, 1), solids
// as their boundary faces with the faces that look away culled, farthest faces first.
// Each element is filled by the colour of one quality figure on a fixed scale from worst
// (red) to best (green), with a legend; elements the figure does not apply to are grey.

#include <string>

#include "convert/model_reader.hpp"
#include "convert/quality.hpp"
#include "convert/text_sink.hpp"

/// The picture stays readable (and its file a few megabytes) up to about 10^5 elements;
/// models with more elements than this are refused.
constexpr size_t kSvgElementLimit = 200000;

struct SvgOptions {
    bool shade = true;                       ///< false: one plain fill colour
    bool figureGiven = false;                ///< false: the default figure for the model
    QualityFigure figure = QualityFigure::MinAngle;
};

struct SvgSummary {
    size_t facesDrawn = 0;
    bool isometric = false;
    std::string shading;   ///< the figure's title, or "none"
};

/// The default figure: minimum angle when the model has areas, else minimum dihedral
/// angle when it has tetrahedra, else scaled Jacobian.
QualityFigure defaultFigure(const LoadedModel& m);

/// Draws the model. False, with a message and nothing written, when the model has more
/// than kSvgElementLimit elements.
bool writeSvg(const LoadedModel& m, const SvgOptions& options, TextSink& out, SvgSummary& summary,
              std::string& error);
