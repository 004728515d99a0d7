// A cache file opened for Python: sel/'s checked layout, samples read on demand by position, and
// playback through the same arithmetic the modifier runs. No Python types here; the bindings
// (tessarin_module.cpp) turn arrays and errors into Python's.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "sel/format.h"
#include "sel/play.h"

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

// What the modifier reads from its parameters, and the time it is evaluated at.
struct EvalSettings {
    int32_t tick = 0;
    float start = 0.0f;
    bool relativeOffset = false;
    float strength = 1.0f;
    int selectionType = 0;
    int ticksPerFrame = 160;
};

// What tells one state of a file from another: which file the name leads to, its size and its
// modification and change times.
struct FileStamp {
    uint64_t device = 0, inode = 0;
    int64_t size = -1, modifiedNs = 0, changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// sel::Source over an open file read by position only: no shared file offset, so forked workers and
// threads each read what they ask for.
class PositionalSource : public sel::Source {
  public:
    PositionalSource(FILE* f, int64_t size) : f_(f), size_(size) {}
    int64_t Size() const override { return size_; }
    size_t ReadAt(int64_t offset, void* dst, size_t n) const override;

  private:
    FILE* f_;
    int64_t size_;
};

class Cache {
  public:
    // Opens and checks `path` as the modifier's loader does (a plain file whose layout passes).
    // Throws FileFailure when it cannot be opened, CacheFailure when the modifier would refuse it.
    // Reads the header and the count table only.
    explicit Cache(const std::string& path);
    ~Cache();
    Cache(const Cache&) = delete;
    Cache& operator=(const Cache&) = delete;

    // Held by every call of the bindings that reads or closes (they release Python's lock first).
    std::mutex& Mutex() { return mutex_; }
    void Close();
    bool Closed() const { return file_ == nullptr; }
    const std::string& Path() const { return path_; }
    const sel::Layout& Layout() const { return layout_; }
    int32_t SampleCount() const { return layout_.samples; }
    int32_t Count(int k) const { return layout_.Count(k); }

    // The name no longer leads to the file as it was opened: replaced, removed, or written since.
    bool Changed() const;
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

  private:
    void EnsureBuffers();
    std::string path_;
    FILE* file_ = nullptr;
    FileStamp stamp_;
    std::unique_ptr<PositionalSource> source_;
    sel::Layout layout_;
    std::vector<int64_t> recordsBefore_; // entry k: records stored before sample k
    std::vector<sel::SampleRecord> bufferA_, bufferB_, first_, scratch_;
    sel::SampleRecord *a_ = nullptr, *b_ = nullptr;
    int indexA_ = sel::play::kNoSample, indexB_ = sel::play::kNoSample;
    std::mutex mutex_;
};

// Opens `path` for reading as a plain file, or throws FileFailure / CacheFailure; its stamp to `stamp`.
FILE* OpenPlainFile(const std::string& path, FileStamp* stamp);

// Writes what the recorder writes, one sample at a time: header, records whose ticks follow the
// recorder's schedule from `startFrame`, then the count table and header word 2 at Close(). After
// every sample word 2 names the samples so far and the stream is flushed, so a writer that dies
// leaves a file that `tessarin repair` mends to the samples appended. Throws FileFailure (errno)
// when the file cannot be created or written, std::invalid_argument for settings no recorder uses.
class Writer {
  public:
    Writer(const std::string& path, int samplesPerFrame, int ticksPerFrame, double startFrame,
           bool overwrite);
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    std::mutex& Mutex() { return mutex_; }
    // One sample of n records: weight 1.0 where `selected` (may be null) is set, else weights[i].
    void Append(const float* weights, const bool* selected, int n);
    void Close();
    bool Closed() const { return file_ == nullptr; }
    const std::string& Path() const { return path_; }
    int SamplesPerFrame() const { return samplesPerFrame_; }
    int32_t Samples() const { return static_cast<int32_t>(counts_.size()); }
    int32_t TickOf(int32_t k) const;

  private:
    void Check(bool ok);
    std::string path_;
    FILE* file_ = nullptr;
    int samplesPerFrame_, ticksPerFrame_;
    int32_t firstTick_;
    std::vector<int32_t> counts_;
    std::vector<sel::SampleRecord> records_;
    std::mutex mutex_;
};

} // namespace pytessarin
