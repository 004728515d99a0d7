// Opening and loading the cache file, and holding the two samples around the evaluation time.
#include "plugin/engine/player.h"

#include <cstdlib>

#include "plugin/tessarin.h"

namespace {
// The file's name in the host's directory 2: the second place a cache is looked for.
std::string FallbackName(const char* path) {
    CStr directory, file;
    SplitPathFile(CStr(path), &directory, &file);
    CStr fallback;
    fallback.printf("%s/%s", GetCOREInterface()->HostDirectory(2), file.data());
    return fallback.data();
}

// Whether the reader failed before it read a byte: the name is then looked for in the second place.
bool NotOpened(sel::CacheReader::Problem p) { return p != sel::CacheReader::Problem::Layout; }
} // namespace

Player::~Player() { FreeSampleBuffers(); }

void Player::FreeSampleBuffers() {
    std::free(sampleA);
    sampleA = nullptr;
    std::free(sampleB);
    sampleB = nullptr;
    std::free(firstSample);
    firstSample = nullptr;
}

std::string Player::OpenCacheFile(const char* path) {
    if (!path) return "";
    sel::CacheReader probe;
    if (probe.OpenBytes(path).ok) return path;
    std::string fallback = FallbackName(path);
    return probe.OpenBytes(fallback).ok ? fallback : "";
}

bool Player::Ready(const char* path) {
    // a file deleted since it was opened is missing, one replaced (a recording elsewhere) is read anew
    if (cacheFile.IsOpen() && cacheFile.Changed()) cacheFile.Close();
    if (!cacheFile.IsOpen()) LoadCache(path);
    return cacheFile.IsOpen() && sampleA && sampleB && firstSample;
}

void Player::LoadCache(const std::string& path) {
    sel::Status status = cacheFile.Open(path);
    if (!status.ok && NotOpened(cacheFile.LastProblem())) status = cacheFile.Open(FallbackName(path.c_str()));
    // neither place has a file: nothing else changes
    if (!status.ok && NotOpened(cacheFile.LastProblem())) return;
    // fresh buffers; none for a file that cannot be played (the evaluation then reports it missing)
    FreeSampleBuffers();
    indexA = indexB = kNoSample;
    if (!status.ok) {
        largestCount = -1;
        sampleTotal = 0;
        return;
    }
    const sel::Layout& layout = cacheFile.GetLayout();
    variableCounts = layout.variable ? layout.header.formatTag : 0;
    samplesPerFrame = layout.header.samplesPerFrame;
    sampleTotal = layout.samples;
    largestCount = layout.largestCount;
    pointsPerSample = layout.variable ? layout.largestCount : layout.header.formatTag;
    // zeroed, so that records a file lacks read as weight 0.0 and nothing is read uninitialised
    size_t records = static_cast<size_t>(largestCount > 0 ? largestCount : 1);
    sampleA = static_cast<SampleRecord*>(module::sampleAllocator(records, sizeof(SampleRecord)));
    sampleB = static_cast<SampleRecord*>(module::sampleAllocator(records, sizeof(SampleRecord)));
    firstSample = static_cast<SampleRecord*>(module::sampleAllocator(records, sizeof(SampleRecord)));
    if (firstSample) cacheFile.ReadSample(0, firstSample, largestCount);
}

int Player::HeldCount() const { return variableCounts ? cacheFile.GetLayout().Count(indexA) : -1; }

sel::play::Played Player::Hold(TimeValue t, float start, int ticksPerFrame, float strength, bool relative) {
    sel::play::Bracket bracket = sel::play::BracketAt(t, start, ticksPerFrame, samplesPerFrame, sampleTotal);
    fraction = bracket.fraction;
    const sel::Layout& layout = cacheFile.GetLayout();
    // reads go by position: a sample read right after another needs no seek of its own
    sel::play::FillHeld(sampleA, sampleB, indexA, indexB, bracket.idx, bracket.next, true,
                        static_cast<size_t>(pointsPerSample), [&](int k, SampleRecord* dst, bool) {
                            cacheFile.ReadSample(k, dst, variableCounts ? layout.Count(k) : pointsPerSample);
                        });
    return sel::play::ChoosePlayed(sampleA, sampleB, firstSample, fraction, strength, relative, variableCounts != 0,
                                   pointsPerSample, variableCounts ? layout.Count(indexA) : 0,
                                   variableCounts ? layout.Count(indexB) : 0);
}
