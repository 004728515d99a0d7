// plot: the heatmap of weight by vertex and sample, gathered into a grid no larger than the picture.
#include "pictures/cache_heatmap.h"
#include "sel/files.h"
#include "tools/tessarin/tool.h"

namespace tessarin {
using pictures::CacheHeatmap;

int Plot(const sel::Source& src, const std::string& name, const std::string& png, const PlotOptions& options,
         Context& ctx) {
    // the target is settled before the drawing, which can take long: never the input itself
    sel::OutputFile out;
    if (!png.empty()) {
        std::string error =
            sel::SameFile(png, name) ? png + ": is the input file; write to another name" : out.Open(png);
        if (!error.empty()) {
            ctx.err << error << "\n";
            return 1;
        }
    }
    std::string bytes;
    sel::Layout layout;
    int64_t total = sel::ReadLayout(src, layout, false).ok ? layout.samples : 0, done = 0;
    // asked after every sample: the count of calls is how far the drawing has come
    auto step = [&] {
        ++done;
        ctx.Show(done, total,
                 [&] { return "sample " + std::to_string(done) + " of " + std::to_string(total); });
        return ctx.stop();
    };
    pictures::HeatmapLabels labels{name + ": weight by vertex and sample", 1, options.startFrame,
                                   options.mean ? pictures::Aggregate::Mean : pictures::Aggregate::Max};
    CacheHeatmap map = pictures::DrawCacheHeatmap(src, labels, options.width, options.height,
                                                  png.empty() ? nullptr : &bytes, step);
    if (map.stopped) {
        ctx.err << name << ": stopped at sample " << map.stoppedAt << "; " << png << " was not written\n";
        return kStopped;
    }
    if (map.failedAt >= 0) {
        ctx.err << At(name, map.failedAt, map.error) << "\n";
        return 1;
    }
    if (png.empty()) return 0; // the fuzzers stop here
    if (!map.error.empty()) {
        ctx.err << png << ": " << map.error << "\n";
        return 1;
    }
    out.Write(bytes);
    if (std::string error = out.Commit(); !error.empty()) {
        ctx.err << error << "\n";
        return 1;
    }
    ctx.out << "wrote " << png << " (" << options.width << " x " << options.height
            << "): " << Counted(map.layout.samples, "sample") << " of up to "
            << Counted(map.layout.largestCount, "vertex", "vertices") << "\n";
    return 0;
}

} // namespace tessarin
