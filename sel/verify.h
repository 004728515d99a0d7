// Checking a whole cache file against what its header and count table promise, a chunk at a time:
// the checks the cache tool reports, built on the same layout check the modifier's loader plays by.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sel/format.h"

namespace sel {

// Reads the samples of a checked layout front to back through fixed-size buffers, so memory does
// not grow with the file. Works with a layout read without its counts (they are read a chunk at a
// time from the table).
class SampleWalker {
  public:
    SampleWalker(const Source& src, const Layout& layout, size_t chunkRecords = size_t(1) << 15);
    // Moves to the next sample (sample 0 on the first call); false after the last one.
    bool Next();
    int32_t Index() const { return index_; }
    int32_t Count() const { return count_; }
    int64_t Start() const { return start_; }
    // The next records of the current sample, at most one chunk, the first being vertex `first`;
    // n is 0 at the sample's end. A record the source fails to deliver ends the walk (Failed()).
    const SampleRecord* Records(size_t& n, int32_t& first);
    bool Failed() const { return failed_; }
    // The byte the walk could not read.
    int64_t FailedAt() const { return failedAt_; }

  private:
    const Source& src_;
    const Layout& layout_;
    CountReader counts_;
    std::vector<SampleRecord> buffer_;
    int32_t index_ = -1, count_ = 0, done_ = 0;
    int64_t start_ = kHeaderBytes;
    bool failed_ = false;
    int64_t failedAt_ = 0;
};

struct Finding {
    Fault fault;
    int64_t at; // the byte it is about
    std::string message;
};

// What a walk through every record finds besides faults.
struct WeightSummary {
    double min = 0, max = 0, sum = 0;
    int64_t finite = 0, ones = 0, nonFinite = 0, records = 0;
    bool hasTicks = false;
    int32_t firstTick = 0, lastTick = 0;
};

// One rule's first breach and how many more there were.
class FirstBreach {
  public:
    explicit FirstBreach(Fault fault) : fault_(fault) {}
    template <class Message> void Hit(int64_t at, Message message) {
        if (hits_++ == 0) {
            at_ = at;
            text_ = message();
        }
    }
    void Report(std::vector<Finding>& out) const;

  private:
    Fault fault_;
    int64_t hits_ = 0, at_ = 0;
    std::string text_;
};

// The rules about records, fed a sample at a time by whoever reads them (verify's walk, or a join
// checking a part as it copies it): one tick per sample, ticks moving one way, finite weights; and
// the weight summary on the way (without `summarize`, only its counts and ticks).
class ContentCheck {
  public:
    explicit ContentCheck(WeightSummary& w, bool summarize = true) : w_(w), summarize_(summarize) {}
    // The next records of sample k, whose records start at byte `start`, the first being vertex `first`.
    void Records(int32_t k, int64_t start, const SampleRecord* recs, size_t n, int32_t first);
    // After the records of sample k, when it had any.
    void EndSample(int32_t k, int64_t start);
    void Report(std::vector<Finding>& out) const;

  private:
    void Record(int32_t k, int32_t v, int64_t at, const SampleRecord& rec);
    WeightSummary& w_;
    bool summarize_;
    int32_t tick_ = 0, previousSample_ = 0, direction_ = 0;
    FirstBreach mixed_{Fault::Damaged}, same_{Fault::Damaged}, turns_{Fault::Damaged},
        nonFinite_{Fault::Damaged};
};

struct VerifyReport {
    Layout layout;         // read without its counts
    bool playable = false; // the verdict of ReadLayout, which the modifier's loader plays by
    std::vector<Finding> findings;
    WeightSummary weights; // of the samples that play
    bool stopped = false;  // the stop callback answered true
    Fault Verdict() const; // Damaged over CutShort over None
};

// The header, the count table and the sizes, without reading the records (the join reads those as
// it copies them, through a ContentCheck).
VerifyReport VerifyLayout(const Source& src);

// Checks sizes, counts, word 2 against the table, one tick per sample, ticks moving one way through
// the file, and finite weights. Each rule reports its first breach and how many more there were, so
// the report stays small on any input. `stop` is asked between chunks; true ends the walk early.
VerifyReport VerifyFile(const Source& src, const std::function<bool()>& stop = {});

// The length of the one count table that makes a variable-count file consistent: the m for which
// the last m words are non-negative counts and 12 + 8 x (their sum) + 4 x m is the file's size
// (there is at most one, since each further entry adds at least 4 bytes). 0 when there is none.
int32_t FindTableLength(const Source& src);

// "1 sample", "2 samples"; "1 entry", "2 entries": the counting every message of a finding uses.
std::string Counted(int64_t n, const std::string& noun, const std::string& nouns = "");

} // namespace sel
