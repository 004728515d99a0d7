// Cache file to heatmap grid to PNG.
#include "pictures/cache_heatmap.h"

#include <algorithm>

namespace pictures {

CacheHeatmap DrawCacheHeatmap(const sel::Source& src, HeatmapLabels labels, int width, int height,
                              std::string* png, const std::function<bool()>& stop) {
    CacheHeatmap r;
    sel::Status status = sel::ReadLayout(src, r.layout, false);
    if (!status.ok) {
        r.failedAt = status.at;
        r.error = status.message;
        return r;
    }
    const sel::Layout& layout = r.layout;
    Box area = HeatmapArea(width, height);
    HeatmapGrid grid(layout.samples, std::max(layout.largestCount, 1), int(area.w), int(area.h));
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
        labels.samplesPerFrame = layout.header.samplesPerFrame;
        r.error = HeatmapPng(grid, labels, width, height, *png);
    }
    return r;
}

} // namespace pictures
