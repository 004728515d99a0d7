// Opening and loading the cache file, and holding the two samples around the evaluation time.
#include "plugin/engine/player.h"

#include "plugin/tessarin.h"

namespace {
// The file's name in the host's directory 2: the second place a cache is looked for.
std::string FallbackName(const char* path) { return sel::SecondPlace(path, GetCOREInterface()->HostDirectory(2)); }

// Whether the reader failed before it read a byte: the name is then looked for in the second place.
bool NotOpened(sel::CacheReader::Problem p) { return p != sel::CacheReader::Problem::Layout; }
} // namespace

std::string Player::OpenCacheFile(const char* path) {
    if (!path) return "";
    sel::CacheReader probe;
    if (probe.OpenBytes(path).ok) return path;
    std::string fallback = FallbackName(path);
    return probe.OpenBytes(fallback).ok ? fallback : "";
}

void Player::Close() {
    cache.reset();
    sampleA.reset();
    sampleB.reset();
    firstSample.reset();
}

bool Player::Ready(const char* path) {
    // a file deleted since it was loaded is missing, one replaced (a recording elsewhere) is read anew,
    // and so is one read just after it was written, once it can be shared (one that could not be
    // played for want of memory waits to be loaded anew)
    if (cache && (sel::CachePool::Changed(*cache) || (!unplayable && sel::CachePool::Unsettled(*cache)))) Close();
    if (!cache) LoadCache(path);
    return cache && !unplayable && firstSample;
}

void Player::LoadCache(const std::string& path) {
    sel::CachePool& pool = sel::CachePool::Shared();
    sel::Status status;
    sel::CacheReader::Problem problem{};
    std::shared_ptr<const sel::PooledCache> found = pool.Acquire(path, status, problem);
    if (!found && NotOpened(problem)) found = pool.Acquire(FallbackName(path.c_str()), status, problem);
    // neither place has a file: nothing else changes
    if (!found && NotOpened(problem)) return;
    // fresh samples; none for a file that cannot be played (the evaluation then reports it missing)
    Close();
    cache = std::move(found);
    indexA = indexB = kNoSample;
    unplayable = false;
    if (!cache) {
        largestCount = -1;
        sampleTotal = 0;
        return;
    }
    const sel::Layout& layout = cache->GetLayout();
    variableCounts = layout.variable ? layout.header.formatTag : 0;
    samplesPerFrame = layout.header.samplesPerFrame;
    sampleTotal = layout.samples;
    largestCount = layout.largestCount;
    pointsPerSample = layout.variable ? layout.largestCount : layout.header.formatTag;
    firstSample = SampleAt(0);
}

// Sample k as every player of the file shares it; none (and the file unplayable until loaded anew)
// when it cannot be had.
sel::SharedSample Player::SampleAt(int k) {
    sel::SharedSample s = sel::CachePool::Shared().Sample(cache, k, module::sampleAllocator);
    if (!s) unplayable = true;
    return s;
}

int Player::HeldCount() const { return variableCounts ? cache->GetLayout().Count(indexA) : -1; }

bool Player::Hold(TimeValue t, float start, int ticksPerFrame, float strength, bool relative,
                  sel::play::Played& played) {
    sel::play::Bracket bracket = sel::play::BracketAt(t, start, ticksPerFrame, samplesPerFrame, sampleTotal);
    fraction = bracket.fraction;
    // a sample is the same bytes whoever read it: reuse what is held, share or read the rest
    auto held = [&](int k) -> sel::SharedSample {
        if (k == indexA) return sampleA;
        if (k == indexB) return sampleB;
        return SampleAt(k);
    };
    sel::SharedSample a = held(bracket.idx);
    sel::SharedSample b = bracket.next == bracket.idx ? a : held(bracket.next);
    sampleA = std::move(a);
    sampleB = std::move(b);
    indexA = bracket.idx;
    indexB = bracket.next;
    if (!sampleA || !sampleB) {
        unplayable = true;
        indexA = indexB = kNoSample;
        return false;
    }
    const sel::Layout& layout = cache->GetLayout();
    played = sel::play::ChoosePlayed(sampleA.get(), sampleB.get(), firstSample.get(), fraction, strength, relative,
                                     variableCounts != 0, pointsPerSample, variableCounts ? layout.Count(indexA) : 0,
                                     variableCounts ? layout.Count(indexB) : 0);
    return true;
}
