// Writer for the Python module: the recorder's file, one sample at a time, through sel/'s format.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "python/cache.h"
#include "sel/files.h"

namespace pytessarin {

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
    file_ = sel::OpenFile(path, overwrite ? "wb" : "wbx");
    if (!file_) throw FileFailure(errno, std::strerror(errno), path);
    std::string header = sel::EncodeHeader(sel::kWrittenFormatTag, samplesPerFrame, 0);
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
    throw FileFailure(e, std::strerror(e), path_);
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
