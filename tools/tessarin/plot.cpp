// plot: the heatmap of weight by vertex and sample, gathered into a grid no larger than the picture.
#include "pictures/heatmap.h"
#include "tools/tessarin/tool.h"

namespace tessarin {

int Plot(const sel::Source& src, const std::string& name, const std::string& png, const PlotOptions& options,
         Context& ctx) {
    sel::Layout layout;
    sel::Status status = sel::ReadLayout(src, layout, false);
    if (!status.ok) {
        ctx.err << At(name, status.at, status.message) << "\n";
        return 1;
    }
    pictures::Box area = pictures::HeatmapArea(options.width, options.height);
    pictures::HeatmapGrid grid(layout.samples, std::max(layout.largestCount, 1), int(area.w), int(area.h));
    sel::SampleWalker walk(src, layout);
    while (walk.Next()) {
        size_t n;
        int32_t first;
        for (const sel::SampleRecord* recs = walk.Records(n, first); n > 0; recs = walk.Records(n, first))
            for (size_t i = 0; i < n; ++i)
                grid.Add(walk.Index(), first + int64_t(i), recs[i].weight);
        if (ctx.stop()) {
            ctx.err << name << ": stopped at sample " << walk.Index() << "; " << png << " was not written\n";
            return kStopped;
        }
    }
    if (walk.Failed()) {
        ctx.err << At(name, walk.FailedAt(), "cannot be read here (did it change while read?)") << "\n";
        return 1;
    }
    if (png.empty()) return 0; // the fuzzers stop here
    pictures::HeatmapLabels labels{name + ": weight by vertex and sample", layout.header.samplesPerFrame};
    std::string bytes, error = pictures::HeatmapPng(grid, labels, options.width, options.height, bytes);
    OutputFile out;
    if (error.empty()) error = out.Open(png);
    if (error.empty() && !out.Write(bytes)) error = "cannot be written";
    if (error.empty()) error = out.Commit();
    if (!error.empty()) {
        ctx.err << png << ": " << error << "\n";
        return 1;
    }
    ctx.out << "wrote " << png << " (" << options.width << " x " << options.height << "): " << layout.samples
            << " samples of up to " << layout.largestCount << " vertices\n";
    return 0;
}

} // namespace tessarin
