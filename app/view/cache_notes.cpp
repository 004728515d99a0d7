#include "cache_notes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cache/format/cache_format.h"

namespace app::view {
namespace {
const char* FaultText(sel::Fault f) {
    switch (f) {
    case sel::Fault::CutShort: return "cut short";
    case sel::Fault::Damaged: return "damaged";
    default: return "valid";
    }
}

// The layout check the modifier's loader plays by, on the file at `path`.
sel::Status CheckLayout(const std::string& path, sel::Layout& layout, std::string& openError) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        openError = std::strerror(errno);
        return {false, openError, sel::Fault::None, 0};
    }
    sel::Status status;
    {
        sel::FileSource src(f);
        status = sel::ReadLayout(src, layout, false);
    }
    std::fclose(f);
    return status;
}
} // namespace

std::string CacheProblem(const std::string& path) {
    sel::Layout layout;
    std::string openError;
    sel::Status status = CheckLayout(path, layout, openError);
    if (status.ok) return "";
    if (!openError.empty()) return path + ": cannot be opened (" + openError + "); nothing plays";
    // the refusal is the first finding `tessarin verify` prints for a file that cannot play
    return path + ": byte " + std::to_string(status.at) + ": " + status.message + " (" +
           FaultText(status.fault) + "); nothing plays";
}

std::string StoppedRecordingLine(const std::string& path) {
    sel::Layout layout;
    std::string openError;
    int64_t samples = CheckLayout(path, layout, openError).ok ? layout.samples : 0;
    return "recording stopped: " + path + " keeps " + std::to_string(samples) +
           " samples (every frame up to the stop)";
}

} // namespace app::view
