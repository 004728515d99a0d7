// plot on the command line, in every build: its options are checked alike, and a build without Cairo
// (the Windows build) then says the drawing is not there (plot_windows.cpp).
#include <memory>

#include "tools/tessarin/verbs.h"

namespace tessarin {

ToolVerb AddPlotVerb(CLI::App& app) {
    struct Options {
        std::string file, out;
        PlotOptions plot;
    };
    auto o = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand("plot", "Draw a heatmap of weight by vertex and sample as PNG");
    AddFileArgument(command, o->file);
    command->add_option("--out", o->out, "the PNG to write")->required();
    command->add_option("--width", o->plot.width, "picture width in pixels (300 to 20000)")
        ->check(CLI::Range(300, 20000));
    command->add_option("--height", o->plot.height, "picture height in pixels (200 to 20000)")
        ->check(CLI::Range(200, 20000));
    command
        ->add_option("--start", o->plot.startFrame,
                     "the frame of the file's first sample: the axis then counts frames, not samples")
        ->check(Finite("a frame number"));
    command->add_flag("--mean", o->plot.mean,
                      "colour each pixel by the mean weight of its vertices and samples, not the largest");
    return {command,
            [o](Context& ctx) {
                sel::CacheReader in;
                return OpenCache(o->file, in, true, ctx) ? Plot(in.GetSource(), o->file, o->out, o->plot, ctx) : 1;
            },
            true};
}

} // namespace tessarin
