// A part of a recording: frames A to B of a longer range, recorded on its own (on a farm, in
// parallel with the other parts) and joined with them into the file one recording of the whole range
// writes. The part's samples are an ordinary cache file; beside it, in "<file>.part", stands what the
// join cannot read from the samples: which recording the part belongs to, the frames it was asked
// for, the recorder's settings, the points where a running largest weight restarted at an
// evaluation that wrote nothing (between samples), and two checksums that bind the record to its
// part's bytes and to its own lines, so that a part changed or a record edited since is refused.
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
    // XXH3 (64 bits) of the part's bytes, and of ChecksummedLines(); sel/ only carries them, the
    // recorder and the join compute them
    uint64_t partChecksum = 0;
    uint64_t linesChecksum = 0;
};

// "<cache file>.part"
std::string PartRecordPath(const std::string& cacheFile);

// The restarts are written once each, in order of sample and vertex, a sample's "-1" alone (it
// restarts every vertex): a record never holds more restarts than its part holds records and samples.
std::string EncodePartRecord(const PartRecord& part);
// The lines linesChecksum covers: every line of the record but its checksums and its end, as
// EncodePartRecord writes them.
std::string ChecksummedLines(const PartRecord& part);
// Reads what EncodePartRecord wrote; "" or "line N: what is wrong". A record of the first format
// (without checksums) is refused as such.
std::string DecodePartRecord(const std::string& text, PartRecord& out);
// The largest record a part of `partBytes` bytes can have: its fixed lines and a restart line per
// record and per sample.
int64_t LargestPartRecord(int64_t partBytes);

} // namespace sel
