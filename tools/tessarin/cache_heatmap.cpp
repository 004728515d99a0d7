// Cache file to heatmap grid to PNG.
#include "tools/tessarin/cache_heatmap.h"

#include <algorithm>

#include "pictures/heatmap.h"

namespace tessarin {

CacheHeatmap DrawCacheHeatmap(const sel::Source& src, const std::string& title, int width, int height,
                              std::string* png, const std::function<bool()>& stop) {
    CacheHeatmap r;
    sel::Status status = sel::ReadLayout(src, r.layout, false);
    if (!status.ok) {
        r.failedAt = status.at;
        r.error = status.message;
        return r;
    }
    const sel::Layout& layout = r.layout;
    pictures::Box area = pictures::HeatmapArea(width, height);
    pictures::HeatmapGrid grid(layout.samples, std::max(layout.largestCount, 1), int(area.w), int(area.h));
    sel::SampleWalker walk(src, layout);
    while (walk.Next()) {
        size_t n;
        int32_t first;
        for (const sel::SampleRecord* recs = walk.Records(n, first); n > 0; recs = walk.Records(n, first))
            for (size_t i = 0; i < n; ++i)
                grid.Add(walk.Index(), first + int64_t(i), recs[i].weight);
        if (stop && stop()) {
            r.stopped = true;
            r.stoppedAt = walk.Index();
            return r;
        }
    }
    if (walk.Failed()) {
        r.failedAt = walk.FailedAt();
        r.error = "cannot be read here (did it change while read?)";
        return r;
    }
    if (png) {
        pictures::HeatmapLabels labels{title, layout.header.samplesPerFrame};
        r.error = pictures::HeatmapPng(grid, labels, width, height, *png);
    }
    return r;
}

} // namespace tessarin
