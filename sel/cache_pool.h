// Caches shared between the players of one process: each file is opened and its layout read once, by
// whichever player asks first, and every player of the same file (by identity: device, inode and
// stamp, so a rewritten file is a new one) holds the same entry. Between reads no player keeps a
// file open: the pool keeps at most a bounded number open, closing the least recently read first, so
// a scene of ten thousand players stays far below any limit of open files. Samples read are shared
// read-only: a sample some player holds is read once for all of them, and a few released ones are
// kept for the next player that asks (never more than half the bytes held, and at most a budget).
#pragma once
#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "sel/files.h"
#include "sel/format.h"
#include "sel/reader.h"

namespace sel {

class CachePool;

// One cache file as it was when first opened: its layout, the records before each sample, and where
// the file is. The pool opens and closes the file itself; holders only read through the pool.
class PooledCache {
  public:
    const std::string& Path() const { return path_; }
    const Layout& GetLayout() const { return layout_; }
    const FileStamp& Stamp() const { return stamp_; }
    int64_t RecordsBefore(int k) const;

  private:
    friend class CachePool;
    std::string path_;
    Layout layout_;
    std::vector<int64_t> before_;
    FileStamp stamp_;
    bool stamped_ = false;
    bool settled_ = false; // changed long enough before it was opened to be shared
    CacheReader reader_; // open while in the pool's list of open files
    std::list<PooledCache*>::iterator openAt_;
    bool listed_ = false;
};

// A sample as every player of its file sees it: room for the file's largest count (at least one
// record), records past the sample's own count, or past the file's end, zero.
using SharedSample = std::shared_ptr<const SampleRecord>;

class CachePool {
  public:
    struct Limits {
        size_t openFiles = 64;               // far below any system's default limit of open files
        size_t keptBytes = size_t(64) << 20; // released samples kept: at most this, and half of what is held
    };
    // Allocates a sample's records (calloc's contract, released with free); null fails the read.
    using Allocator = void* (*)(size_t count, size_t size);

    explicit CachePool(Limits limits);
    CachePool(const CachePool&) = delete;
    CachePool& operator=(const CachePool&) = delete;
    ~CachePool();

    // The process's pool, which every player shares.
    static CachePool& Shared();

    // The cache at `path`, its layout checked: the entry another holder holds when the name leads
    // to the same file in the same state, else the file opened and read anew (and shared from then
    // on, unless it changed just before: its stamp might not tell a change made right after). On failure, null, with
    // `status` and `problem` as CacheReader::Open gives them.
    std::shared_ptr<const PooledCache> Acquire(const std::string& path, Status& status,
                                               CacheReader::Problem& problem);
    // Whether the entry's name now leads to other bytes than those it was read from (as
    // CacheReader::Changed): the holder then lets it go and acquires the name anew.
    static bool Changed(const PooledCache& cache);
    // Whether the entry was read just after a change (so it is not shared: a change made right
    // after might have left the stamp as it was) and that change is now old enough to tell: the
    // holder may let it go and acquire the name anew, to read what is on disk and share it.
    static bool Unsettled(const PooledCache& cache);
    // Sample k of `cache`: the one some holder holds or the pool kept, else read now (k outside the
    // file's samples reads as zeros). Null when the records cannot be allocated, or when the file,
    // opened again, is no longer the one the entry was read from.
    SharedSample Sample(const std::shared_ptr<const PooledCache>& cache, int k, Allocator allocate);

    // What the pool holds now, for tests and the crowd benchmark.
    struct Counts {
        size_t entries = 0;     // caches some holder holds
        size_t openFiles = 0;   // of which open now
        size_t heldSamples = 0, heldBytes = 0; // samples some holder holds
        size_t keptSamples = 0, keptBytes = 0; // released samples kept for the next asker
        uint64_t opens = 0, reads = 0;         // files opened and samples read since the pool was made
    };
    Counts Count() const;
    void SetLimits(Limits limits);

    struct Core; // shared with the entries' and samples' releases, which may outlive the pool

  private:
    std::shared_ptr<Core> core_;
};

} // namespace sel
