// Cache for the Python module: sel/'s cache reader (the file read by position, and the check that it
// is still the one that was opened) and playback arithmetic.
#include "python/cache.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <set>

namespace pytessarin {

namespace {
std::string At(const std::string& file, int64_t byte, const std::string& reason) {
    return file + ": byte " + std::to_string(byte) + ": " + reason;
}

constexpr auto kSpread = [] { // byte k of entry b: bit k of b
    std::array<uint64_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b)
        for (unsigned k = 0; k < 8; ++k)
            t[b] |= uint64_t(b >> k & 1) << (8 * k);
    return t;
}();

// Selection word `word`, holding `bits`, into the bools it stands for (n in all), eight at a time
// through a table of bytes of 0 or 1.
void StoreWord(int64_t word, uint64_t bits, bool* out, int64_t n) {
    int64_t i = word * 64;
    if (i + 64 <= n) {
        for (int k = 0; k < 8; ++k, bits >>= 8)
            std::memcpy(out + i + 8 * k, &kSpread[bits & 0xff], 8);
        return;
    }
    for (; i < n; ++i, bits >>= 1) // the array's last bools: one at a time
        out[i] = bits & 1;
}
} // namespace

namespace {
std::mutex registryLock;
std::set<ForkSafeMutex*>& Alive() {
    static auto* alive = new std::set<ForkSafeMutex*>; // never destroyed: objects may outlive statics at exit
    return *alive;
}
} // namespace

ForkSafeMutex::ForkSafeMutex() {
    std::lock_guard<std::mutex> lock(registryLock);
    Alive().insert(this);
}

ForkSafeMutex::~ForkSafeMutex() {
    std::lock_guard<std::mutex> lock(registryLock);
    Alive().erase(this);
}

void ForkSafeMutex::BeforeFork() {
    registryLock.lock();
    for (ForkSafeMutex* m : Alive())
        m->lock();
}

void ForkSafeMutex::AfterFork() {
    for (ForkSafeMutex* m : Alive())
        m->unlock();
    registryLock.unlock();
}

int ErrnoOf(const std::string& reason) {
    for (int e = 1; e < 256; ++e)
        if (reason == std::strerror(e)) return e;
    return EIO;
}

void OpenCache(sel::CacheReader& reader, const std::string& path, bool checkLayout) {
    sel::Status status = checkLayout ? reader.Open(path) : reader.OpenBytes(path);
    if (status.ok) return;
    const std::string unreadable = "cannot be read: ";
    switch (reader.LastProblem()) {
    case sel::CacheReader::Problem::Missing: throw FileFailure(ENOENT, std::strerror(ENOENT), path);
    // as open() refuses one: an OSError (IsADirectoryError)
    case sel::CacheReader::Problem::Folder: throw FileFailure(EISDIR, "is a folder", path);
    case sel::CacheReader::Problem::CannotOpen: {
        std::string reason = status.message.substr(status.message.rfind(unreadable, 0) == 0 ? unreadable.size() : 0);
        throw FileFailure(ErrnoOf(reason), reason, path);
    }
    case sel::CacheReader::Problem::Layout: throw CacheFailure(At(path, status.at, status.message));
    default: throw CacheFailure(path + ": " + status.message); // a FIFO or a device
    }
}

Cache::Cache(const std::string& path) { OpenCache(reader_, path, true); }

void Cache::Close() { reader_.Close(); }

void Cache::CheckUnchanged() const {
    if (Changed()) throw CacheFailure(Path() + ": changed on disk since it was opened; open it again");
}

void Cache::ReadRecords(int k, sel::SampleRecord* dst) { reader_.ReadSample(k, dst, Count(k)); }

void Cache::ReadWeights(int start, int stop, int count, float* dst) {
    scratch_.resize(size_t(count));
    for (int k = start; k < stop; ++k) {
        ReadRecords(k, scratch_.data());
        for (int i = 0; i < count; ++i)
            *dst++ = scratch_[size_t(i)].weight;
    }
    scratch_.clear();
    scratch_.shrink_to_fit();
}

void Cache::ReadColumns(const std::vector<int>& ks, const std::vector<int64_t>& columns, float* dst) {
    if (columns.empty()) return;
    auto [least, greatest] = std::minmax_element(columns.begin(), columns.end());
    int64_t lo = *least, span = *greatest - lo + 1;
    scratch_.resize(size_t(span));
    for (int k : ks) {
        int64_t at = sel::kHeaderBytes + sel::kRecordBytes * (reader_.RecordsBefore(k) + lo);
        size_t want = size_t(span) * sel::kRecordBytes, bytes = reader_.GetSource().ReadAt(at, scratch_.data(), want);
        // records the file lacks read as zero, as whole samples do
        std::memset(reinterpret_cast<char*>(scratch_.data()) + bytes, 0, want - bytes);
        for (int64_t c : columns)
            *dst++ = scratch_[size_t(c - lo)].weight;
    }
    scratch_.clear();
    scratch_.shrink_to_fit();
}

std::string Cache::CountMismatch(int n) {
    if (n == checkedVertices_) return mismatch_;
    const sel::Layout& layout = Layout();
    int32_t lo = layout.variable ? layout.smallestCount : layout.header.formatTag;
    int32_t hi = layout.variable ? layout.largestCount : layout.header.formatTag;
    bool fits = lo == hi ? lo == n : false;
    for (int k = 0; lo != hi && !fits && k < layout.samples; ++k)
        fits = layout.Count(k) == n;
    checkedVertices_ = n;
    mismatch_ = fits ? "" : Path() + " has " + std::to_string(lo) + (lo == hi ? "" : " to " + std::to_string(hi)) +
                                " vertices per sample; the weights have " + std::to_string(n);
    return mismatch_;
}

// The three buffers of the modifier's loader, allocated at the first evaluation so that opening a
// file costs only its header and table.
void Cache::EnsureBuffers() {
    if (!first_.empty()) return;
    const sel::Layout& layout = Layout();
    size_t records = static_cast<size_t>(std::max(layout.largestCount, 1));
    bufferA_.assign(records, {});
    bufferB_.assign(records, {});
    first_.assign(records, {});
    a_ = bufferA_.data();
    b_ = bufferB_.data();
    if (layout.Count(0) > 0) ReadRecords(0, first_.data());
}

void Cache::Evaluate(const EvalSettings& s, const float* in, float* out, uint64_t* words, bool* selected,
                     int n) {
    EnsureBuffers();
    const sel::Layout& layout = Layout();
    sel::play::Bracket at =
        sel::play::BracketAt(s.tick, s.start, s.ticksPerFrame, layout.header.samplesPerFrame, layout.samples);
    sel::play::FillHeld(a_, b_, indexA_, indexB_, at.idx, at.next, true, static_cast<size_t>(layout.largestCount),
                        [this](int k, sel::SampleRecord* dst, bool) { ReadRecords(k, dst); });
    sel::play::Played played =
        sel::play::ChoosePlayed(a_, b_, first_.data(), at.fraction, s.strength, s.relativeOffset, layout.variable,
                                layout.largestCount, layout.Count(indexA_), layout.Count(indexB_));
    sel::play::PlayVertices(s.selectionType, words, in, out, n, played,
                            [words, selected, n](int word, uint64_t changed, uint64_t bits) {
                                // a word the two passes share is told twice: both changes are kept
                                words[word] = (words[word] & ~changed) | (bits & changed);
                                StoreWord(word, words[word], selected, n);
                            });
}

} // namespace pytessarin
