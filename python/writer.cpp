// Writer for the Python module: the recorder's file, one sample at a time, through sel/'s cache writer.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "python/cache.h"
#include "sel/files.h"

namespace pytessarin {

Writer::Writer(const std::string& path, int samplesPerFrame, int ticksPerFrame, double startFrame,
               bool overwrite)
    : path_(path), overwrite_(overwrite), samplesPerFrame_(samplesPerFrame), ticksPerFrame_(ticksPerFrame) {
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
    RefuseExisting();
    // word 2 kept current, so that the file beside the target is mendable whenever the writer dies
    std::string error = writer_.Open(path, samplesPerFrame, sel::CacheWriter::kFollowSamples);
    if (error.empty() && !writer_.Flush()) error = writer_.File().Error();
    if (!error.empty()) Fail(error);
    open_ = true;
}

void Writer::RefuseExisting() const {
    if (!overwrite_ && sel::KindOf(path_) != sel::FileKind::Missing)
        throw FileFailure(EEXIST, std::strerror(EEXIST), path_);
}

int32_t Writer::TickOf(int32_t k) const {
    int64_t frame = k / samplesPerFrame_, j = k % samplesPerFrame_;
    int64_t tick = firstTick_ + frame * ticksPerFrame_ + j * (ticksPerFrame_ / samplesPerFrame_);
    if (tick > std::numeric_limits<int32_t>::max())
        throw std::overflow_error("the next sample's tick time would pass the range of tick times");
    return static_cast<int32_t>(tick);
}

void Writer::Fail(const std::string& line) {
    Discard();
    // sel/'s line is "PATH: is a folder" or "PATH: cannot be written: REASON"; Python's OSError
    // carries the name apart, and the errno of the reason
    std::string reason = line.rfind(path_ + ": ", 0) == 0 ? line.substr(path_.size() + 2) : line;
    const std::string unwritable = "cannot be written: ";
    if (reason.rfind(unwritable, 0) == 0) reason.erase(0, unwritable.size());
    throw FileFailure(reason == "is a folder" ? EISDIR : ErrnoOf(reason), reason, path_);
}

void Writer::Discard() {
    writer_.Discard();
    open_ = false;
}

void Writer::Append(const float* weights, const bool* selected, int n) {
    if (!open_) throw std::logic_error("the writer is closed");
    if (size_t(Samples()) >= size_t(std::numeric_limits<int32_t>::max()))
        throw std::overflow_error("a cache file holds at most 2147483647 samples");
    int32_t tick = TickOf(Samples());
    records_.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        records_[size_t(i)] = {selected && selected[i] ? 1.0f : weights[i], tick};
    // handed to the system at once: a process killed after append() returns keeps the sample
    if (!writer_.Append(records_.data(), n) || !writer_.Flush()) Fail(writer_.File().Error());
}

void Writer::Close() {
    if (!open_) return;
    // a file that appeared at the name while the samples were written is not written over either
    try {
        RefuseExisting();
    } catch (...) {
        Discard();
        throw;
    }
    std::string error = writer_.Finish();
    open_ = false;
    if (!error.empty()) Fail(error);
}

} // namespace pytessarin
