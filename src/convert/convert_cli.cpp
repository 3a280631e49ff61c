#include "convert/convert_cli.hpp"

#include <fstream>
#include <iostream>

#include "convert/exporters.hpp"
#include "convert/model_reader.hpp"
#include "convert/quality.hpp"
#include "convert/svg_writer.hpp"
#include "convert/text_sink.hpp"

namespace {

const char* const kUsage =
    "usage: quilm_convert [--format vtu|vtk|msh|svg] [--shade FIGURE|none] MODEL.s3d OUTPUT\n"
    "       quilm_convert --stats [--json] MODEL.s3d\n"
    "FIGURE (SVG shading): min-angle, max-angle, radius-edge, min-dihedral, scaled-jacobian\n";

enum class Format { None, Vtu, Vtk, Msh, Svg };

Format formatNamed(const std::string& name) {
    if (name == "vtu") return Format::Vtu;
    if (name == "vtk") return Format::Vtk;
    if (name == "msh") return Format::Msh;
    if (name == "svg") return Format::Svg;
    return Format::None;
}

/// The format named by the path's extension (case-insensitive), or None.
Format formatOfPath(const std::string& path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return Format::None;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return formatNamed(ext);
}

struct Options {
    bool stats = false;
    bool json = false;
    Format format = Format::None;
    bool shadeGiven = false;
    SvgOptions svg;
    std::vector<std::string> positional;
};

/// Reads options; false with a message (or with `help` set) when the run should stop.
bool parseOptions(const std::vector<std::string>& args, Options& o, bool& help, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a.compare(0, 2, "--") != 0) {
            o.positional.push_back(a);
            continue;
        }
        std::string name = a;
        std::string value;
        bool hasValue = false;
        size_t eq = a.find('=');
        if (eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            hasValue = true;
        }
        auto takeValue = [&]() {
            if (hasValue) return true;
            if (i + 1 >= args.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        if (name == "--help") {
            help = true;
            return false;
        } else if (name == "--stats" && !hasValue) {
            o.stats = true;
        } else if (name == "--json" && !hasValue) {
            o.json = true;
        } else if (name == "--format") {
            if (!takeValue()) return false;
            o.format = formatNamed(value);
            if (o.format == Format::None) {
                error = "unknown format '" + value + "' (expected vtu, vtk, msh or svg)";
                return false;
            }
        } else if (name == "--shade") {
            if (!takeValue()) return false;
            o.shadeGiven = true;
            if (value == "none") {
                o.svg.shade = false;
            } else {
                const FigureInfo* f = findFigure(value);
                if (f == nullptr) {
                    error = "unknown figure '" + value +
                            "' for --shade (expected min-angle, max-angle, radius-edge, min-dihedral, "
                            "scaled-jacobian or none)";
                    return false;
                }
                o.svg.figureGiven = true;
                o.svg.figure = f->figure;
            }
        } else {
            error = "unknown option '" + a + "'";
            return false;
        }
    }
    return true;
}

}  // namespace

int runConvert(const std::vector<std::string>& args, std::string& out, std::string& err) {
    Options o;
    bool help = false;
    std::string error;
    if (!parseOptions(args, o, help, error)) {
        if (help) {
            out += kUsage;
            return 0;
        }
        err += "error: " + error + "\n";
        return 1;
    }
    size_t wanted = o.stats ? 1 : 2;
    if (o.positional.size() != wanted) {
        err += kUsage;
        return 1;
    }
    if (o.json && !o.stats) {
        err += "error: --json goes with --stats\n";
        return 1;
    }
    if (o.stats && (o.format != Format::None || o.shadeGiven)) {
        err += "error: --stats prints a report; it takes no --format or --shade\n";
        return 1;
    }
    const std::string& modelPath = o.positional[0];
    const std::string modelName = modelPath == "-" ? "<stdin>" : modelPath;

    Format format = Format::None;
    std::string outputPath;
    if (!o.stats) {
        outputPath = o.positional[1];
        format = o.format != Format::None ? o.format : formatOfPath(outputPath);
        if (format == Format::None) {
            err += "error: cannot tell the format of '" + outputPath +
                   "' from its extension; use .vtu, .vtk, .msh or .svg, or --format\n";
            return 1;
        }
        if (o.shadeGiven && format != Format::Svg) {
            err += "error: --shade applies to SVG pictures only\n";
            return 1;
        }
        if (outputPath == modelPath) {
            err += "error: the output '" + outputPath + "' would replace the model file\n";
            return 1;
        }
    }

    LoadedModel model;
    bool read = false;
    if (modelPath == "-") {
        read = readModelStream(std::cin, model, error);
    } else {
        std::ifstream in(modelPath, std::ios::binary);
        if (!in) {
            err += "error: could not open model file '" + modelPath + "'\n";
            return 1;
        }
        read = readModelStream(in, model, error);
    }
    if (!read) {
        err += "error: " + modelName + ": " + error + "\n";
        return 1;
    }

    if (o.stats) {
        QualityReport report = buildQualityReport(model);
        out += o.json ? formatReportJson(report, modelName) : formatReportTable(report, modelName);
        return 0;
    }

    TextSink picture;
    SvgSummary svg;
    if (format == Format::Svg) {
        // Render into memory first: a refused picture must not create the file.
        if (!writeSvg(model, o.svg, picture, svg, error)) {
            err += "error: " + error + "\n";
            return 1;
        }
        picture.flush();
    }
    OutputFile file;
    if (!openOutput(outputPath, file, error)) {
        err += "error: " + error + "\n";
        return 1;
    }
    TextSink sink;
    sink.file = file.file;
    switch (format) {
        case Format::Vtu: writeVtu(model, sink); break;
        case Format::Vtk: writeLegacyVtk(model, sink); break;
        case Format::Msh: writeMsh(model, sink); break;
        case Format::Svg: sink.str(picture.buffer); break;
        case Format::None: break;
    }
    if (!commitOutput(file, sink, error)) {
        err += "error: " + error + "\n";
        return 1;
    }

    const LoadedModel& m = model;
    size_t cells = m.elements.size() + m.areas.size() + m.solids.size();
    if (format == Format::Svg) {
        out += "wrote " + outputPath + ": " + std::to_string(svg.facesDrawn) + " faces of " + std::to_string(cells) +
               " elements, " + (svg.isometric ? "isometric view" : "plane view") + ", shading " + svg.shading + "\n";
    } else {
        out += "wrote " + outputPath + ": " + std::to_string(m.nodes.size()) + " nodes, " + std::to_string(cells) +
               " cells\n";
    }
    return 0;
}
