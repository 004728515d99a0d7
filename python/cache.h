// A cache file opened for Python: sel/'s checked layout, samples read on demand by position, and
// playback through the same arithmetic the modifier runs. No Python types here; the bindings
// (tessarin_module.cpp) turn arrays and errors into Python's.
#pragma once
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "sel/format.h"
#include "sel/play.h"
#include "sel/reader.h"
#include "sel/writer.h"

namespace pytessarin {

// A file the modifier would refuse, or one changed on disk since it was opened; what() is the cache
// tool's line "FILE: byte N: reason" or "FILE: reason".
struct CacheFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A file that cannot be opened or written: errno and the text Python's OSError carries for it.
struct FileFailure : std::system_error {
    FileFailure(int code, const std::string& text, const std::string& path)
        : std::system_error(code, std::generic_category(), path + ": " + text), text(text), path(path) {}
    std::string text, path;
};

// The lock of a Cache or a Writer. A fork waits for every one alive (BeforeFork takes them all, in
// the thread that forks) and AfterFork gives them back in both processes: a call running in another
// thread ends first, and the child, in which that thread does not exist, finds every lock free and
// every object whole. A lock copied while held would stay held in the child for ever.
class ForkSafeMutex : public std::mutex {
  public:
    ForkSafeMutex();
    ~ForkSafeMutex();
    ForkSafeMutex(const ForkSafeMutex&) = delete;
    ForkSafeMutex& operator=(const ForkSafeMutex&) = delete;
    static void BeforeFork();
    static void AfterFork();
};

// What the modifier reads from its parameters, and the time it is evaluated at.
struct EvalSettings {
    int32_t tick = 0;
    float start = 0.0f;
    bool relativeOffset = false;
    float strength = 1.0f;
    int selectionType = 0;
    int ticksPerFrame = 160;
};

class Cache {
  public:
    // Opens and checks `path` as the modifier's loader does (a plain file whose layout passes).
    // Throws FileFailure when it cannot be opened, CacheFailure when the modifier would refuse it.
    // Reads the header and the count table only.
    explicit Cache(const std::string& path);
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    // Held by every call of the bindings that reads or closes (they release Python's lock first).
    std::mutex& Mutex() { return mutex_; }
    void Close();
    bool Closed() const { return !reader_.IsOpen(); }
    const std::string& Path() const { return reader_.Path(); }
    const sel::Layout& Layout() const { return reader_.GetLayout(); }
    int32_t SampleCount() const { return Layout().samples; }
    int32_t Count(int k) const { return Layout().Count(k); }

    // The name no longer leads to the file as it was opened: replaced, removed, or written since.
    bool Changed() const { return reader_.Changed(); }
    // Throws CacheFailure when Changed(): samples read now would not be the ones counted at opening.
    void CheckUnchanged() const;

    // Sample k's records (k inside [0, SampleCount()), checked by the caller) into dst, room for
    // Count(k); records the file lacks read as zero.
    void ReadRecords(int k, sel::SampleRecord* dst);
    // The weights of samples [start, stop), all of `count` records, row after row into dst.
    void ReadWeights(int start, int stop, int count, float* dst);
    // The weights of records `columns` (each below every sample's count) of samples `ks` (each
    // inside [0, SampleCount())), row after row into dst; only the records from the least column to
    // the greatest are read.
    void ReadColumns(const std::vector<int>& ks, const std::vector<int64_t>& columns, float* dst);

    // Plays n vertices at s.tick: `in` and `words` (the selection, bit i of word i / 64) hold the
    // incoming values, and `selected` the same bits as bools; `out`, `words` and `selected` receive
    // the results, exactly as the modifier leaves a mesh's channel 0 and vertex selection (only the
    // bools of words that change are written). Keeps the two bracketing samples for the next call.
    void Evaluate(const EvalSettings& s, const float* in, float* out, uint64_t* words, bool* selected, int n);
    // The warning `vomark` gives when the cache was recorded from another mesh than one of n vertices
    // ("FILE has M vertices per sample; ..."), "" when it fits: samples of one count equal to n, or of
    // unequal counts one of which is n.
    std::string CountMismatch(int n);

  private:
    void EnsureBuffers();
    sel::CacheReader reader_;
    std::vector<sel::SampleRecord> bufferA_, bufferB_, first_, scratch_;
    sel::SampleRecord *a_ = nullptr, *b_ = nullptr;
    int indexA_ = sel::play::kNoSample, indexB_ = sel::play::kNoSample;
    int checkedVertices_ = -1; // CountMismatch's last n and its answer, as every frame asks again
    std::string mismatch_;
    ForkSafeMutex mutex_;
};

// The errno whose text `reason` is (sel/ words a system's failure by its text), EIO when none is.
int ErrnoOf(const std::string& reason);

// Opens `path` into `reader`, with its layout checked (`checkLayout`) or as bytes only (verify), or
// throws what the module raises: FileFailure for a name that leads to nothing, a folder or a file that
// cannot be read; CacheFailure for a FIFO or a device ("not a plain file") and a layout refused
// ("FILE: byte N: reason").
void OpenCache(sel::CacheReader& reader, const std::string& path, bool checkLayout);

// Writes what the recorder writes, one sample at a time: header, records whose ticks follow the
// recorder's schedule from `startFrame`, then the count table and header word 2 at Close(), when the
// file takes the target's place. Until then the bytes go to a file beside the target, word 2 naming
// the samples so far and every sample handed to the system, so a writer that dies leaves a file that
// `tessarin repair` mends to the samples appended. A writer discarded, or destroyed unclosed, removes
// that file: the target keeps its old bytes. Throws FileFailure (errno) when the file cannot be
// created or written, std::invalid_argument for settings no recorder uses.
class Writer {
  public:
    Writer(const std::string& path, int samplesPerFrame, int ticksPerFrame, double startFrame,
           bool overwrite);
    ~Writer() { Discard(); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    std::mutex& Mutex() { return mutex_; }
    // One sample of n records: weight 1.0 where `selected` (may be null) is set, else weights[i].
    void Append(const float* weights, const bool* selected, int n);
    // Puts the file in place of the target; twice is harmless.
    void Close();
    // Drops what was written: the target keeps its old bytes.
    void Discard();
    bool Closed() const { return !open_; }
    const std::string& Path() const { return path_; }
    int SamplesPerFrame() const { return samplesPerFrame_; }
    int32_t Samples() const { return writer_.Samples(); }
    int32_t TickOf(int32_t k) const;

  private:
    [[noreturn]] void Fail(const std::string& line);
    void RefuseExisting() const;
    std::string path_;
    sel::CacheWriter writer_;
    bool open_ = false, overwrite_;
    int samplesPerFrame_, ticksPerFrame_;
    int32_t firstTick_;
    std::vector<sel::SampleRecord> records_;
    ForkSafeMutex mutex_;
};

} // namespace pytessarin
