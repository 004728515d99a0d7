// plot in a build without Cairo (the Windows build): the verb is known but says it is not here.
#include "tools/tessarin/verbs.h"

namespace tessarin {

int Plot(const sel::Source&, const std::string&, const std::string&, const PlotOptions&, Context& ctx) {
    ctx.err << "tessarin plot: not in this build (it draws with Cairo, which the Windows build leaves out)\n";
    return 2;
}

ToolVerb AddPlotVerb(CLI::App& app) {
    CLI::App* command = app.add_subcommand("plot", "Draw a heatmap of weight by vertex and sample as PNG (not in this build)");
    command->allow_extras();
    return {command, [](Context& ctx) { return Plot(sel::MemorySource(nullptr, 0), "", "", PlotOptions(), ctx); }};
}

} // namespace tessarin
