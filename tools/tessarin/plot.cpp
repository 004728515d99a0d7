// plot: the heatmap of weight by vertex and sample, gathered into a grid no larger than the picture.
#include "pictures/cache_heatmap.h"
#include "tools/tessarin/tool.h"

namespace tessarin {
using pictures::CacheHeatmap;

int Plot(const sel::Source& src, const std::string& name, const std::string& png, const PlotOptions& options,
         Context& ctx) {
    std::string bytes;
    pictures::HeatmapLabels labels{name + ": weight by vertex and sample", 1, options.startFrame,
                                   options.mean ? pictures::Aggregate::Mean : pictures::Aggregate::Max};
    CacheHeatmap map = pictures::DrawCacheHeatmap(src, labels, options.width, options.height,
                                                  png.empty() ? nullptr : &bytes, ctx.stop);
    if (map.stopped) {
        ctx.err << name << ": stopped at sample " << map.stoppedAt << "; " << png << " was not written\n";
        return kStopped;
    }
    if (map.failedAt >= 0) {
        ctx.err << At(name, map.failedAt, map.error) << "\n";
        return 1;
    }
    if (png.empty()) return 0; // the fuzzers stop here
    std::string error = map.error;
    OutputFile out;
    if (error.empty()) error = out.Open(png);
    if (error.empty() && !out.Write(bytes)) error = "cannot be written";
    if (error.empty()) error = out.Commit();
    if (!error.empty()) {
        ctx.err << png << ": " << error << "\n";
        return 1;
    }
    ctx.out << "wrote " << png << " (" << options.width << " x " << options.height
            << "): " << map.layout.samples << " samples of up to " << map.layout.largestCount
            << " vertices\n";
    return 0;
}

} // namespace tessarin
