// The texts every verb shares, and the progress of a long read.
#include <cmath>
#include <cstdio>

#include "tools/tessarin/tool.h"

namespace tessarin {

size_t ShownSource::ReadAt(int64_t offset, void* dst, size_t n) const {
    int64_t at = offset + int64_t(n), size = in_.Size();
    ctx_.Show(at, size, [&] { return what_ + ", " + Megabytes(at) + " of " + Megabytes(size); });
    return in_.ReadAt(offset, dst, n);
}

std::string At(const std::string& file, int64_t byte, const std::string& reason) {
    return file + ": byte " + std::to_string(byte) + ": " + reason;
}

std::string FindingLine(const std::string& file, const sel::Finding& f) {
    std::string line = At(file, f.at, f.message);
    return f.fault == sel::Fault::NotCache ? line : line + " (" + sel::FaultName(f.fault) + ")";
}

std::string Megabytes(int64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MB", double(bytes) / 1e6);
    return buf;
}

std::string WeightText(float w) {
    if (std::isnan(w)) return std::signbit(w) ? "-nan" : "nan";
    if (std::isinf(w)) return w > 0 ? "inf" : "-inf";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", double(w));
    return buf;
}

} // namespace tessarin
