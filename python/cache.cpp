// Cache for the Python module: sel/'s format and playback arithmetic over a file read by position,
// and the check that the file is still the one that was opened.
#include "python/cache.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "sel/files.h"

namespace pytessarin {

namespace {
std::string At(const std::string& file, int64_t byte, const std::string& reason) {
    return file + ": byte " + std::to_string(byte) + ": " + reason;
}

FileStamp StampOf(const struct stat& st) {
    FileStamp s;
    s.device = uint64_t(st.st_dev);
    s.inode = uint64_t(st.st_ino);
    s.size = int64_t(st.st_size);
    s.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.changedNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return s;
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

size_t PositionalSource::ReadAt(int64_t offset, void* dst, size_t n) const {
    if (offset < 0 || offset >= size_) return 0;
    return sel::ReadAtOffset(f_, offset, dst, std::min<int64_t>(int64_t(n), size_ - offset));
}

FILE* OpenPlainFile(const std::string& path, FileStamp* stamp) {
    // a FIFO or a device would block or never end: refused before it is opened
    if (sel::KindOf(path) == sel::FileKind::Other) throw CacheFailure(path + ": not a plain file");
    FILE* f = sel::OpenFile(path, "rb");
    if (!f) throw FileFailure(errno, std::strerror(errno), path);
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        // a folder is refused as open() refuses one, as an OSError (IsADirectoryError)
        if (S_ISDIR(st.st_mode)) throw FileFailure(EISDIR, "not a plain file", path);
        throw CacheFailure(path + ": not a plain file");
    }
    if (stamp) *stamp = StampOf(st);
    return f;
}

Cache::Cache(const std::string& path) : path_(path) {
    file_ = OpenPlainFile(path, &stamp_);
    source_ = std::make_unique<PositionalSource>(file_, stamp_.size);
    sel::Status status = sel::ReadLayout(*source_, layout_);
    if (!status.ok) {
        Close();
        throw CacheFailure(At(path, status.at, status.message));
    }
    recordsBefore_.resize(static_cast<size_t>(layout_.samples) + 1);
    for (int k = 0; k < layout_.samples; ++k)
        recordsBefore_[size_t(k) + 1] = recordsBefore_[size_t(k)] + layout_.Count(k);
}

Cache::~Cache() { Close(); }

void Cache::Close() {
    source_.reset();
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

bool Cache::Changed() const {
    struct stat st;
    return stat(path_.c_str(), &st) != 0 || !(StampOf(st) == stamp_);
}

void Cache::CheckUnchanged() const {
    if (Changed()) throw CacheFailure(path_ + ": changed on disk since it was opened; open it again");
}

void Cache::ReadRecords(int k, sel::SampleRecord* dst) {
    sel::ReadSample(*source_, layout_, k, recordsBefore_[size_t(k)], dst, layout_.Count(k));
}

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
        int64_t at = sel::kHeaderBytes + sel::kRecordBytes * (recordsBefore_[size_t(k)] + lo);
        size_t want = size_t(span) * sel::kRecordBytes, bytes = source_->ReadAt(at, scratch_.data(), want);
        // records the file lacks read as zero, as whole samples do
        std::memset(reinterpret_cast<char*>(scratch_.data()) + bytes, 0, want - bytes);
        for (int64_t c : columns)
            *dst++ = scratch_[size_t(c - lo)].weight;
    }
    scratch_.clear();
    scratch_.shrink_to_fit();
}

// The three buffers of the modifier's loader, allocated at the first evaluation so that opening a
// file costs only its header and table.
void Cache::EnsureBuffers() {
    if (!first_.empty()) return;
    size_t records = static_cast<size_t>(std::max(layout_.largestCount, 1));
    bufferA_.assign(records, {});
    bufferB_.assign(records, {});
    first_.assign(records, {});
    a_ = bufferA_.data();
    b_ = bufferB_.data();
    if (layout_.Count(0) > 0) ReadRecords(0, first_.data());
}

void Cache::Evaluate(const EvalSettings& s, const float* in, float* out, uint64_t* words, bool* selected,
                     int n) {
    EnsureBuffers();
    sel::play::Bracket at =
        sel::play::BracketAt(s.tick, s.start, s.ticksPerFrame, layout_.header.samplesPerFrame, layout_.samples);
    sel::play::FillHeld(a_, b_, indexA_, indexB_, at.idx, at.next, true, static_cast<size_t>(layout_.largestCount),
                        [this](int k, sel::SampleRecord* dst, bool) { ReadRecords(k, dst); });
    sel::play::Played played =
        sel::play::ChoosePlayed(a_, b_, first_.data(), at.fraction, s.strength, s.relativeOffset, layout_.variable,
                                layout_.largestCount, layout_.Count(indexA_), layout_.Count(indexB_));
    sel::play::PlayVertices(s.selectionType, words, in, out, n, played,
                            [words, selected, n](int word, uint64_t changed, uint64_t bits) {
                                // a word the two passes share is told twice: both changes are kept
                                words[word] = (words[word] & ~changed) | (bits & changed);
                                StoreWord(word, words[word], selected, n);
                            });
}

} // namespace pytessarin
