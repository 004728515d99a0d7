// A part of a recording: frames A to B of a longer range, recorded on its own (on a farm, in
// parallel with the other parts) and joined with them into the file one recording of the whole range
// writes. The part's samples are an ordinary cache file; beside it, in "<file>.part", stands what the
// join cannot read from the samples: which recording the part belongs to, the frames it was asked
// for, the recorder's settings, and the points where a running largest weight restarted at an
// evaluation that wrote nothing (between samples).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sel {

// Before the part's written sample `sample` (0 = its first), the running largest weight of `vertex`
// (-1: of every vertex) started afresh: a NaN weight or a change of the point count.
struct PartRestart {
    int32_t sample = 0;
    int32_t vertex = -1;
};

struct PartRecord {
    std::string recording;  // the same text for every part of one recording
    int32_t firstFrame = 0; // the frames asked for, both included
    int32_t lastFrame = 0;
    int32_t wholeFirst = 0; // the frames of the whole recording
    int32_t wholeLast = 0;
    int32_t samplesPerFrame = 1;
    int32_t ticksPerFrame = 1;
    int32_t accumulate = 0; // accumulateSelection: weights are running largest ones
    int32_t quality = 1;
    int32_t firstCount = -1;           // points at the part's first capture; -1 when nothing was captured
    int64_t fileBytes = 0;             // the size of the part's cache file when it was finished
    std::vector<PartRestart> restarts; // in order of sample
};

// "<cache file>.part"
std::string PartRecordPath(const std::string& cacheFile);

std::string EncodePartRecord(const PartRecord& part);
// Reads what EncodePartRecord wrote; "" or "line N: what is wrong".
std::string DecodePartRecord(const std::string& text, PartRecord& out);

} // namespace sel
