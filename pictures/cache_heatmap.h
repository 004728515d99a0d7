// The heatmap of a cache file, for every program that shows one (`tessarin plot`, `vomark demo`):
// the samples read through sel/, drawn by heatmap.h.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "sel/verify.h"
#include "pictures/heatmap.h"

namespace pictures {

struct CacheHeatmap {
    std::string error;     // "" when read (and drawn)
    int64_t failedAt = -1; // >= 0: the byte of the file where reading failed
    bool stopped = false;  // `stop` answered true before sample `stoppedAt` was read
    int64_t stoppedAt = 0;
    sel::Layout layout;
};

// Reads every sample of `src` into a grid no larger than a picture of width x height and, when
// `png` is not null, draws it there under labels.title (labels.samplesPerFrame comes from the
// file). A file that cannot be read answers the byte and the reason and draws nothing.
CacheHeatmap DrawCacheHeatmap(const sel::Source& src, HeatmapLabels labels, int width, int height,
                              std::string* png, const std::function<bool()>& stop = {});

} // namespace pictures
