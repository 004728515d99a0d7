// The one way a cache file is written: the recorder, part recording, the Python Writer, and the
// tool's import, repair and join all go through it. The header first, the samples appended as they
// come, then the count table, word 2 set to the samples written, and (for a file) the whole put in
// place of the target as one (sel/output.h).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sel/output.h"
#include "sel/records.h"

namespace sel {

class CacheWriter {
  public:
    // Word 2 of a writer that cannot tell how many samples will come: it is brought up to date before
    // each sample, so a writer killed midway leaves a file whose samples repair keeps.
    static constexpr int32_t kFollowSamples = -1;

    CacheWriter() = default;
    CacheWriter(const CacheWriter&) = delete;
    CacheWriter& operator=(const CacheWriter&) = delete;

    // Opens `target` as an OutputFile (its rules: beside the target, links and permissions kept, a
    // device written directly) and writes the header: formatTag, samplesPerFrame and `announced`
    // (the samples expected, or kFollowSamples). "" once the file is open (a failure to write the
    // header is Finish()'s to report), or "TARGET: reason".
    std::string Open(const std::string& target, int32_t samplesPerFrame, int32_t announced,
                     int32_t formatTag = kWrittenFormatTag);
    // The same into a sink the caller owns (memory, or a file the caller commits).
    bool Begin(ByteSink& sink, int32_t samplesPerFrame, int32_t announced, int32_t formatTag = kWrittenFormatTag);

    // One sample of n records; its count joins the table. False once anything failed.
    bool Append(const SampleRecord* records, int32_t n);
    // A sample in pieces: records, as many calls as needed, then EndSample with the sample's count.
    // A writer that announced its samples may be given the records of several samples in one call
    // (as they lie in a buffer read from another file), then EndSample for each; a follower's word 2
    // would lag behind them.
    bool AppendRecords(const SampleRecord* records, size_t n);
    bool EndSample(int32_t count);
    // What was written so far to the system: a crash then keeps the whole samples before it.
    bool Flush();

    // The count table, word 2 where it differs from what the header holds, and for an opened file:
    // flushed to the disk and put in place. "" or the line (a file's name and the system's reason).
    std::string Finish();
    // Drops an opened file: the target keeps its old bytes.
    void Discard() { file_.Discard(); }

    int32_t Samples() const { return static_cast<int32_t>(counts_.size()); }
    const std::vector<int32_t>& Counts() const { return counts_; }
    bool Failed() const { return failed_; }
    // The opened file (its name, its temporary path).
    const OutputFile& File() const { return file_; }

  private:
    bool Check(bool ok);
    OutputFile file_;
    ByteSink* sink_ = nullptr;
    std::vector<int32_t> counts_;
    int32_t formatTag_ = kWrittenFormatTag, wordTwo_ = 0;
    bool follow_ = false, failed_ = false;
};

} // namespace sel
