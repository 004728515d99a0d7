// Reading and checking selection cache files, from memory or from an open file. Host-free: the
// modifier, the cache tool, fuzzers and benchmarks share it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sel/records.h"

namespace sel {

// Random-access bytes: a file or a memory buffer.
class Source {
  public:
    virtual ~Source() = default;
    virtual int64_t Size() const = 0;
    // Copies up to n bytes from `offset`; answers how many were copied (0 outside the data).
    virtual size_t ReadAt(int64_t offset, void* dst, size_t n) const = 0;
};

class MemorySource : public Source {
  public:
    MemorySource(const void* data, size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    int64_t Size() const override { return static_cast<int64_t>(size_); }
    size_t ReadAt(int64_t offset, void* dst, size_t n) const override;

  private:
    const unsigned char* data_;
    size_t size_;
};

// Reads an open stream by position (ReadAtOffset), neither using nor moving its file position, so
// forked workers and threads sharing the stream each read what they ask for. `size` is the file's
// size when the caller knows it; else it is told by seeking to the end once.
class FileSource : public Source {
  public:
    explicit FileSource(FILE* f, int64_t size = -1);
    int64_t Size() const override { return size_; }
    size_t ReadAt(int64_t offset, void* dst, size_t n) const override;

  private:
    FILE* f_;
    int64_t size_;
};

// What a file holds, once checked.
struct Layout {
    CacheHeader header{};
    bool variable = false;       // header word 0 negative: the counts stand in a table at the end
    std::vector<int32_t> counts; // variable-count files: one entry per sample
    int32_t samples = 0;         // samples that can be played (fixed-count: whole samples present)
    int32_t largestCount = 0;    // records of the largest sample
    int32_t smallestCount = 0;   // records of the smallest sample
    int64_t records = 0;         // records of the samples that can be played
    int64_t tableStart = 0;      // variable-count files: the byte where the count table starts
    int64_t fileBytes = 0;

    int32_t Count(int k) const { return variable ? counts[static_cast<size_t>(k)] : header.formatTag; }
    // Records stored before sample k (0 for k <= 0), in 64 bits.
    int64_t RecordsBefore(int k) const;
    int64_t SampleStart(int k) const { return kHeaderBytes + kRecordBytes * RecordsBefore(k); }
};

// What a refusal says of the file: cut short (a recording that stopped early: no or part of a count
// table, word 2 past the table, a sample cut off), damaged (values no writer produces), or not a
// cache at all (a header no cache has: another kind of file named by mistake).
enum class Fault { None, CutShort, Damaged, NotCache };
// "valid", "incomplete", "damaged" or "not a cache": the word the tool and the host's messages use.
const char* FaultName(Fault f);

struct Status {
    bool ok = true;
    std::string message;
    Fault fault = Fault::None;
    int64_t at = 0; // the byte the message is about
};

// The most samples per frame a header may give and still be a cache's: a sample needs a tick of its
// own, and no frame has more ticks than this. Any text file (word 1 four printable bytes) and nearly
// any other binary file give more.
constexpr int32_t kMostSamplesPerFrame = 1 << 20;

// Reads the header and, for a variable-count file, its count table, and checks that everything they
// announce lies inside the file. A header whose samples per frame lie outside +-kMostSamplesPerFrame
// is "not a .sel cache" (Fault::NotCache, byte 4), told apart from a damaged cache. Never reads outside the source and never allocates more than the
// file's own size implies. A file is refused when it is shorter than its header, has samplesPerFrame
// or sampleTotal of 0 or less, a count table that would start before byte 12, a negative count, or
// counts whose records do not fit before the table. A fixed-count file whose records do not all fit
// plays the whole samples present, and is refused when not one is present. With keepCounts false the
// table is checked a chunk at a time and not kept, so memory does not grow with the file; Count() and
// RecordsBefore() then must not be used (SampleWalker reads such a layout). Refusals carry the fault
// and the byte they are about.
Status ReadLayout(const Source& src, Layout& out, bool keepCounts = true);

// Reads a count table front to back a chunk at a time.
class CountReader {
  public:
    CountReader(const Source& src, int64_t tableStart, int32_t entries);
    // The next entry; false when the table is exhausted or the source cannot deliver it.
    bool Next(int32_t& count);

  private:
    const Source& src_;
    int64_t at_;
    int32_t left_;
    std::vector<unsigned char> chunk_;
    size_t pos_ = 0;
};

// Reads sample k's records into dst (room for `capacity`); records the file lacks are zero.
// Answers the number of records read from the file.
int32_t ReadSample(const Source& src, const Layout& layout, int k, SampleRecord* dst, int32_t capacity);
// The same with the records before sample k given (RecordsBefore(k), which sums the table), for
// callers that keep running sums.
int32_t ReadSample(const Source& src, const Layout& layout, int k, int64_t recordsBefore, SampleRecord* dst,
                   int32_t capacity);

// The 12 bytes of a header: words 0, 1 and 2.
std::string EncodeHeader(int32_t formatTag, int32_t samplesPerFrame, int32_t sampleTotal);
// A variable-count file as the recorder writes it.
std::string EncodeFile(int32_t samplesPerFrame, const std::vector<std::vector<SampleRecord>>& samples,
                       int32_t formatTag = kWrittenFormatTag);
// Little-endian decode and encode of one 32-bit word.
int32_t GetI32(const unsigned char* p);
void PutI32(std::string& out, int32_t v);
void PutF32(std::string& out, float v);

} // namespace sel
