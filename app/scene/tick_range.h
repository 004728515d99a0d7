// The frames a recording covers, computed as the recorder computes them, for the commands that
// split a recording into parts or show its progress.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace app {

// Ticks held as floats, frames from trunc(start) towards the end, both ends included.
struct TickRange {
    float startTicks = 0, endTicks = 0;
    int64_t f0 = 0;
    int64_t frames = 0;
    bool forward = true;
};

inline TickRange RangeOf(float startTime, float endTime, int tpf) {
    TickRange r;
    r.startTicks = static_cast<float>(double(tpf) * startTime);
    r.endTicks = static_cast<float>(double(tpf) * endTime);
    if (r.startTicks == r.endTicks) r.endTicks = static_cast<float>(double(r.endTicks) + tpf);
    r.forward = r.endTicks > r.startTicks;
    r.f0 = static_cast<int64_t>(std::trunc(r.startTicks));
    double span = r.forward ? double(r.endTicks) - double(r.f0) : double(r.f0) - double(r.endTicks);
    if (span >= 0) r.frames = static_cast<int64_t>(std::floor(span / tpf)) + 1;
    return r;
}

// Which recorded frame (0 on) an evaluation at tick `t` belongs to: the recorder evaluates a frame's
// samples `step` ticks apart from the frame on, each over the step that leads to it, so a frame's
// evaluations run from just past one step before it (forward) to its last sample.
inline int64_t FrameIndexOf(const TickRange& r, int64_t t, int tpf, int step) {
    double past = r.forward ? double(t) - double(r.f0) : double(r.f0) - double(t);
    auto k = static_cast<int64_t>(std::floor((past + step - 1) / tpf));
    return std::clamp<int64_t>(k, 0, std::max<int64_t>(r.frames - 1, 0));
}

} // namespace app
