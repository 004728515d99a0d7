// Cache and Writer for the Python module: sel/: the format and the playback arithmetic, nothing of
// their own beyond keeping a file open.
#include "python/cache.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace pytessarin {

namespace {
std::string At(const std::string& file, int64_t byte, const std::string& reason) {
    return file + ": byte " + std::to_string(byte) + ": " + reason;
}
} // namespace

Cache::Cache(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) throw CacheFailure(path + ": cannot open: " + std::strerror(errno));
    struct stat st;
    if (fstat(fileno(file_), &st) != 0 || !S_ISREG(st.st_mode)) {
        Close();
        throw CacheFailure(path + ": not a plain file");
    }
    source_ = std::make_unique<sel::FileSource>(file_);
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

void Cache::ReadRecords(int k, sel::SampleRecord* dst) {
    sel::ReadSample(*source_, layout_, k, recordsBefore_[size_t(k)], dst, layout_.Count(k));
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

void Cache::Evaluate(const EvalSettings& s, const float* in, float* out, uint64_t* words, int n) {
    EnsureBuffers();
    sel::play::Bracket at =
        sel::play::BracketAt(s.tick, s.start, s.ticksPerFrame, layout_.header.samplesPerFrame, layout_.samples);
    sel::play::FillHeld(a_, b_, indexA_, indexB_, at.idx, at.next, true, static_cast<size_t>(layout_.largestCount),
                   [this](int k, sel::SampleRecord* dst, bool) { ReadRecords(k, dst); });
    sel::play::Played played =
        sel::play::ChoosePlayed(a_, b_, first_.data(), at.fraction, s.strength, s.relativeOffset, layout_.variable,
                           layout_.largestCount, layout_.Count(indexA_), layout_.Count(indexB_));
    sel::play::PlayVertices(s.selectionType, words, in, out, n, played,
                       [words](int word, uint64_t changed, uint64_t bits) {
                           words[word] = (words[word] & ~changed) | (bits & changed);
                       });
}

Writer::Writer(const std::string& path, int samplesPerFrame, int ticksPerFrame, double startFrame,
               bool overwrite)
    : path_(path), samplesPerFrame_(samplesPerFrame), ticksPerFrame_(ticksPerFrame) {
    if (ticksPerFrame < 1) throw std::invalid_argument("ticks_per_frame must be 1 or more");
    if (samplesPerFrame < 1 || samplesPerFrame > ticksPerFrame)
        throw std::invalid_argument("samples_per_frame must be from 1 to ticks_per_frame (" +
                                    std::to_string(ticksPerFrame) +
                                    ") so that every sample has a tick of its own");
    if (!std::isfinite(startFrame)) throw std::invalid_argument("start_frame must be a finite number");
    // the recorder's first frame time: the start frame in ticks, held as a float, truncated
    double startTicks = static_cast<float>(double(ticksPerFrame) * static_cast<float>(startFrame));
    if (!(std::trunc(startTicks) >= std::numeric_limits<int32_t>::min() &&
          std::trunc(startTicks) <= std::numeric_limits<int32_t>::max()))
        throw std::invalid_argument("start_frame lies outside the range of tick times");
    firstTick_ = static_cast<int32_t>(std::trunc(startTicks));
    // "x": never over a file that appeared since the caller looked
    file_ = std::fopen(path.c_str(), overwrite ? "wb" : "wbx");
    if (!file_) throw std::system_error(errno, std::generic_category(), path);
    std::string header;
    sel::PutI32(header, sel::kWrittenFormatTag);
    sel::PutI32(header, samplesPerFrame);
    sel::PutI32(header, 0);
    Check(std::fwrite(header.data(), 1, header.size(), file_) == header.size() && std::fflush(file_) == 0);
}

Writer::~Writer() {
    // a writer dropped without Close() leaves what a killed one leaves: mendable by repair
    if (file_) std::fclose(file_);
}

int32_t Writer::TickOf(int32_t k) const {
    int64_t frame = k / samplesPerFrame_, j = k % samplesPerFrame_;
    int64_t tick = firstTick_ + frame * ticksPerFrame_ + j * (ticksPerFrame_ / samplesPerFrame_);
    if (tick > std::numeric_limits<int32_t>::max())
        throw std::overflow_error("the next sample's tick time would pass the range of tick times");
    return static_cast<int32_t>(tick);
}

void Writer::Check(bool ok) {
    if (ok) return;
    int e = errno ? errno : EIO;
    throw std::system_error(e, std::generic_category(), path_);
}

void Writer::Append(const float* weights, const bool* selected, int n) {
    if (!file_) throw std::logic_error("the writer is closed");
    if (counts_.size() >= size_t(std::numeric_limits<int32_t>::max()))
        throw std::overflow_error("a cache file holds at most 2147483647 samples");
    int32_t tick = TickOf(Samples());
    records_.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        records_[size_t(i)] = {selected && selected[i] ? 1.0f : weights[i], tick};
    // word 2 first: a writer that dies inside the records leaves a sample repair drops as cut short
    std::string word;
    sel::PutI32(word, Samples() + 1);
    Check(std::fseek(file_, 8, SEEK_SET) == 0 && std::fwrite(word.data(), 1, 4, file_) == 4 &&
          std::fseek(file_, 0, SEEK_END) == 0);
    Check(std::fwrite(records_.data(), sizeof(sel::SampleRecord), records_.size(), file_) ==
              records_.size() &&
          std::fflush(file_) == 0);
    counts_.push_back(n);
}

void Writer::Close() {
    if (!file_) return;
    std::string tail;
    for (int32_t c : counts_)
        sel::PutI32(tail, c);
    std::string word;
    sel::PutI32(word, Samples());
    bool ok = std::fwrite(tail.data(), 1, tail.size(), file_) == tail.size() &&
              std::fseek(file_, 8, SEEK_SET) == 0 && std::fwrite(word.data(), 1, 4, file_) == 4;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    Check(ok);
}

} // namespace pytessarin
