// The process's open caches and the samples read from them, shared between their players.
#include "sel/cache_pool.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>

namespace sel {
namespace {
using Identity = std::tuple<uint64_t, uint64_t, int64_t, int64_t, int64_t>;
Identity IdentityOf(const FileStamp& s) { return {s.device, s.inode, s.size, s.modifiedNs, s.changedNs}; }
using Key = std::pair<const PooledCache*, int>; // an entry and a sample index

// A file changed this shortly before it was opened may change again within the same tick of the file
// system's clock (a few milliseconds on Linux, more on some), its stamp staying as it was: such an
// entry is not shared, so that a later opening reads the bytes then on disk.
constexpr int64_t kSettledNs = 100'000'000;
// Now, on the clock of the stamps: nanoseconds since 1970.
int64_t StampClockNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
bool Settled(const FileStamp& s) { return StampClockNow() - std::max(s.modifiedNs, s.changedNs) > kSettledNs; }
} // namespace

struct CachePool::Core : std::enable_shared_from_this<CachePool::Core> {
    struct Slot {
        std::weak_ptr<const SampleRecord> handle; // what holders hold, while any does
        std::shared_ptr<SampleRecord> owner;      // the records themselves
        size_t bytes = 0;
        bool kept = false;
        std::list<Key>::iterator keptAt;
    };
    // The holders' handle on a sample: its last release puts the sample in the kept list.
    struct Release {
        std::weak_ptr<Core> core;
        Key key;
        std::shared_ptr<SampleRecord> owner; // the records live as long as any handle
        size_t bytes;
        void operator()(const SampleRecord*) const {
            if (auto c = core.lock()) c->Released(key, owner, bytes);
        }
    };
    // The holders' handle on an entry: its last release closes the file and forgets its samples.
    struct Drop {
        std::weak_ptr<Core> core;
        void operator()(const PooledCache* p) const {
            if (auto c = core.lock()) c->Dropped(p);
            delete p;
        }
    };

    explicit Core(Limits l) : limits(l) {}

    // Keeps `cache` open as the most recently read, opening it again if the pool closed it, and
    // closes the least recently read beyond the limit.
    bool OpenForReading(PooledCache& cache) {
        if (cache.reader_.IsOpen()) {
            open.splice(open.begin(), open, cache.openAt_);
            return true;
        }
        if (!cache.reader_.OpenBytes(cache.path_).ok) return false;
        // another file under the name now: its bytes are not the ones this entry's layout describes
        if (cache.stamped_ && !(cache.reader_.Stamp() == cache.stamp_)) {
            cache.reader_.Close();
            return false;
        }
        ++opens;
        List(cache);
        return true;
    }
    void List(PooledCache& cache) {
        open.push_front(&cache);
        cache.openAt_ = open.begin();
        cache.listed_ = true;
        CloseBeyondLimit();
    }
    void CloseBeyondLimit() {
        while (open.size() > std::max<size_t>(limits.openFiles, 1)) {
            PooledCache* last = open.back();
            open.pop_back();
            last->listed_ = false;
            last->reader_.Close();
        }
    }

    SharedSample Handle(const Key& key, Slot& slot) {
        SharedSample h(slot.owner.get(), Release{weak_from_this(), key, slot.owner, slot.bytes});
        slot.handle = h;
        heldBytes += slot.bytes;
        ++heldSamples;
        return h;
    }

    void Released(const Key& key, const std::shared_ptr<SampleRecord>& owner, size_t bytes) {
        std::lock_guard<std::recursive_mutex> lock(m);
        heldBytes -= bytes;
        --heldSamples;
        auto it = samples.find(key);
        if (it == samples.end() || it->second.owner != owner || !it->second.handle.expired()) return;
        Slot& slot = it->second;
        kept.push_front(key);
        slot.keptAt = kept.begin();
        slot.kept = true;
        keptBytes += slot.bytes;
        Trim();
    }

    // Released samples beyond half of what is held (and the budget) go, the least recently released
    // first: the pool's memory stays within one and a half times the samples in use.
    void Trim() {
        size_t allowed = std::min(limits.keptBytes, heldBytes / 2);
        while (keptBytes > allowed && !kept.empty()) {
            auto it = samples.find(kept.back());
            kept.pop_back();
            keptBytes -= it->second.bytes;
            samples.erase(it);
        }
    }

    void Dropped(const PooledCache* p) {
        std::lock_guard<std::recursive_mutex> lock(m);
        if (p->listed_) open.erase(p->openAt_);
        if (p->stamped_)
            if (auto it = entries.find(IdentityOf(p->stamp_)); it != entries.end() && it->second.expired())
                entries.erase(it);
        auto from = samples.lower_bound({p, INT_MIN}), to = samples.upper_bound({p, INT_MAX});
        for (auto it = from; it != to; ++it)
            if (it->second.kept) {
                kept.erase(it->second.keptAt);
                keptBytes -= it->second.bytes;
            }
        samples.erase(from, to);
    }

    std::recursive_mutex m;
    Limits limits;
    std::map<Identity, std::weak_ptr<const PooledCache>> entries;
    std::list<PooledCache*> open; // most recently read first
    std::map<Key, Slot> samples;
    std::list<Key> kept; // most recently released first
    size_t keptBytes = 0, heldBytes = 0, heldSamples = 0;
    uint64_t opens = 0, reads = 0;
};

int64_t PooledCache::RecordsBefore(int k) const {
    if (k <= 0) return 0;
    if (!layout_.variable) return int64_t(k) * layout_.header.formatTag;
    return before_[size_t(std::min(k, layout_.samples))];
}

CachePool::CachePool(Limits limits) : core_(std::make_shared<Core>(limits)) {}
CachePool::~CachePool() = default;

CachePool& CachePool::Shared() {
    // gone with the module that holds it; entries and samples let go after it close and free
    // themselves (their releases find no pool)
    static CachePool pool(Limits{});
    return pool;
}

std::shared_ptr<const PooledCache> CachePool::Acquire(const std::string& path, Status& status,
                                                      CacheReader::Problem& problem) {
    Core& c = *core_;
    std::lock_guard<std::recursive_mutex> lock(c.m);
    FileStamp now;
    if (StampOf(path, now))
        if (auto it = c.entries.find(IdentityOf(now)); it != c.entries.end())
            if (auto live = it->second.lock()) {
                status = {};
                problem = CacheReader::Problem::None;
                return live;
            }
    auto fresh = std::make_unique<PooledCache>();
    status = fresh->reader_.Open(path);
    problem = fresh->reader_.LastProblem();
    if (!status.ok) return nullptr;
    fresh->path_ = path;
    fresh->layout_ = fresh->reader_.GetLayout();
    fresh->stamp_ = fresh->reader_.Stamp();
    fresh->stamped_ = fresh->stamp_.size >= 0;
    const Layout& layout = fresh->layout_;
    if (layout.variable) {
        fresh->before_.resize(size_t(layout.samples) + 1);
        for (int k = 0; k < layout.samples; ++k)
            fresh->before_[size_t(k) + 1] = fresh->before_[size_t(k)] + layout.Count(k);
    }
    // an unstamped file cannot be told from a later one, nor one changed just now: neither is shared
    fresh->settled_ = fresh->stamped_ && Settled(fresh->stamp_);
    ++c.opens;
    c.List(*fresh);
    std::shared_ptr<const PooledCache> entry(fresh.release(), Core::Drop{c.weak_from_this()});
    if (entry->settled_) {
        auto& slot = c.entries[IdentityOf(entry->stamp_)];
        if (auto live = slot.lock()) return live; // the name moved to a file already held meanwhile
        slot = entry;
    }
    return entry;
}

bool CachePool::Changed(const PooledCache& cache) {
    if (!cache.stamped_) return false;
    FileStamp now;
    return !StampOf(cache.path_, now) || !(now == cache.stamp_);
}

bool CachePool::Unsettled(const PooledCache& cache) { return !cache.settled_ && Settled(cache.stamp_); }

SharedSample CachePool::Sample(const std::shared_ptr<const PooledCache>& cache, int k, Allocator allocate) {
    Core& c = *core_;
    std::lock_guard<std::recursive_mutex> lock(c.m);
    Key key{cache.get(), k};
    if (auto it = c.samples.find(key); it != c.samples.end()) {
        Core::Slot& slot = it->second;
        if (SharedSample held = slot.handle.lock()) return held;
        if (slot.kept) {
            c.kept.erase(slot.keptAt);
            c.keptBytes -= slot.bytes;
            slot.kept = false;
        }
        return c.Handle(key, slot);
    }
    auto& entry = const_cast<PooledCache&>(*cache); // the pool's own: its file and its place in the list
    const Layout& layout = entry.layout_;
    int32_t records = std::max(layout.largestCount, 1);
    void* memory = allocate(size_t(records), sizeof(SampleRecord));
    if (!memory) return nullptr;
    std::shared_ptr<SampleRecord> owner(static_cast<SampleRecord*>(memory), [](SampleRecord* p) { std::free(p); });
    if (k >= 0 && k < layout.samples) {
        if (!c.OpenForReading(entry)) return nullptr;
        ReadSample(entry.reader_.GetSource(), layout, k, entry.RecordsBefore(k), owner.get(), records);
        ++c.reads;
    }
    Core::Slot& slot = c.samples[key];
    slot.owner = std::move(owner);
    slot.bytes = size_t(records) * sizeof(SampleRecord);
    return c.Handle(key, slot);
}

CachePool::Counts CachePool::Count() const {
    Core& c = *core_;
    std::lock_guard<std::recursive_mutex> lock(c.m);
    Counts n;
    for (const auto& [id, entry] : c.entries)
        n.entries += !entry.expired();
    n.openFiles = c.open.size();
    n.heldSamples = c.heldSamples;
    n.heldBytes = c.heldBytes;
    n.keptSamples = c.kept.size();
    n.keptBytes = c.keptBytes;
    n.opens = c.opens;
    n.reads = c.reads;
    return n;
}

void CachePool::SetLimits(Limits limits) {
    Core& c = *core_;
    std::lock_guard<std::recursive_mutex> lock(c.m);
    c.limits = limits;
    c.CloseBeyondLimit();
    c.Trim();
}

} // namespace sel
