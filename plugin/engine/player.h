// Playback's hold on a cache file: the file open for reading, what loading it read, the three sample
// buffers, and which samples the two held buffers hold. The modifier owns one and asks it, at each
// evaluation, for the two samples around the time.
#pragma once
#include <cstdint>
#include <string>

#include "sel/play.h"
#include "sel/reader.h"
#include "vomark/sdk.h"

constexpr int kNoSample = sel::play::kNoSample;

class Player {
  public:
    Player() = default;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    ~Player();

    // The name a cache file opens by: `path` itself, else its file name in the host's directory 2;
    // "" when neither is a plain file that opens. Nothing stays open.
    static std::string OpenCacheFile(const char* path);

    // Makes `path` the file played: a file changed on disk since it was opened is closed first and
    // loaded anew, as is a closed one. Answers whether samples can be played (the file opened, its
    // layout checked, the three buffers allocated); else the evaluation reports the file missing.
    bool Ready(const char* path);
    // The open file is let go (the Set Cache command, a recording); buffers and loaded values stay.
    void Close() { cacheFile.Close(); }
    bool IsOpen() const { return cacheFile.IsOpen(); }

    // Holds the two samples around tick t of a file whose sample 0 plays at frame `start`, and
    // answers what the per-vertex pass plays from them. Only after Ready() answered true.
    sel::play::Played Hold(TimeValue t, float start, int ticksPerFrame, float strength, bool relative);
    // Records of the lower held sample in a variable-count file; -1 for a fixed-count file, which
    // has no counts of its own.
    int HeldCount() const;

  private:
    void LoadCache(const std::string& path);
    void FreeSampleBuffers();

    sel::CacheReader cacheFile;
    int variableCounts = 0;
    int largestCount = 0;
    int pointsPerSample = 0;
    int samplesPerFrame = 0;
    int sampleTotal = 0;
    sel::SampleRecord* sampleA = nullptr;
    sel::SampleRecord* sampleB = nullptr;
    sel::SampleRecord* firstSample = nullptr;
    int indexA = kNoSample;
    int indexB = kNoSample;
    float fraction = 0.0f;
};
