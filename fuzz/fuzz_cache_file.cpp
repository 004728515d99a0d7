// Any bytes as a cache file: the layout check and sample reads must stay inside the data.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "sel/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sel::MemorySource src(data, size);
    sel::Layout layout;
    if (!sel::ReadLayout(src, layout).ok) return 0;
    int32_t capacity = std::max(layout.largestCount, 1);
    std::vector<sel::SampleRecord> buffer(static_cast<size_t>(capacity));
    for (int k = 0; k < std::min(layout.samples, 64); ++k)
        sel::ReadSample(src, layout, k, buffer.data(), capacity);
    sel::ReadSample(src, layout, layout.samples - 1, buffer.data(), capacity);
    return 0;
}
