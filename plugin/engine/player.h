// Playback's hold on a cache file: the file's entry in the process's pool of caches (no file stays
// open for the modifier itself), what loading it read, and the three samples it plays from, shared
// read-only with every other modifier playing the same file. The modifier owns one and asks it, at
// each evaluation, for the two samples around the time.
#pragma once
#include <cstdint>
#include <string>

#include "sel/cache_pool.h"
#include "sel/play.h"
#include "sel/reader.h"
#include "vomark/sdk.h"

constexpr int kNoSample = sel::play::kNoSample;

class Player {
  public:
    Player() = default;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // The name a cache file opens by: `path` itself, else its file name in the host's directory 2;
    // "" when neither is a plain file that opens. Nothing stays open.
    static std::string OpenCacheFile(const char* path);

    // Makes `path` the file played: a file changed on disk since it was loaded is let go and loaded
    // anew, as is one let go. Answers whether samples can be played (the file opened, its layout
    // checked, its first sample read); else the evaluation reports the file missing. A sample that
    // could not be had (no memory) leaves the file unplayable until it is loaded anew.
    bool Ready(const char* path);
    // The file is let go (the Set Cache command, a recording); the next playback loads it anew.
    void Close();
    bool IsOpen() const { return cache != nullptr; }

    // Holds the two samples around tick t of a file whose sample 0 plays at frame `start`, and
    // sets what the per-vertex pass plays from them. Only after Ready() answered true; false when a
    // sample could not be had.
    bool Hold(TimeValue t, float start, int ticksPerFrame, float strength, bool relative,
              sel::play::Played& played);
    // Records of the lower held sample in a variable-count file; -1 for a fixed-count file, which
    // has no counts of its own.
    int HeldCount() const;
  private:
    void LoadCache(const std::string& path);
    sel::SharedSample SampleAt(int k);

    std::shared_ptr<const sel::PooledCache> cache;
    bool unplayable = false;
    int variableCounts = 0;
    int largestCount = 0;
    int pointsPerSample = 0;
    int samplesPerFrame = 0;
    int sampleTotal = 0;
    sel::SharedSample sampleA, sampleB, firstSample;
    int indexA = kNoSample;
    int indexB = kNoSample;
    float fraction = 0.0f;
};
