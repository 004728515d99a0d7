// What a recording left behind, in the lines the verbs print: its summary, why it failed, stopped or
// wrote nothing, and what the host showed meanwhile.
#include "scene/recording_reports.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "runtime/host_record.h"
#include "scene/host_queries.h"
#include "sel/files.h"
#include "sel/reader.h"

namespace app {

std::string ErrorShownSince(size_t boxes) {
    const auto& shown = vm::Record().messageBoxes;
    for (size_t i = boxes; i < shown.size(); ++i)
        if ((shown[i].type & 0xf0) == MB_ICONERROR) {
            std::string text = shown[i].text;
            for (char& ch : text)
                if (ch == '\n' || ch == '\r') ch = ' ';
            return text;
        }
    return "";
}

int64_t SamplesIn(const std::string& path) {
    sel::CacheReader reader;
    return reader.Open(path, false).ok ? reader.GetLayout().samples : 0;
}

std::string StoppedRecordingLine(const std::string& cacheFile) {
    return "recording stopped: " + cacheFile + " keeps " + std::to_string(SamplesIn(cacheFile)) +
           " samples (every frame up to the stop)";
}

namespace {
std::string CacheNameOf(Animatable* recorder) {
    const char* name = CacheFileOf(recorder);
    return name ? name : "";
}
} // namespace

std::string RecordingSummary(Animatable* recorder) {
    std::string path = CacheNameOf(recorder);
    int64_t samples = SamplesIn(path);
    return "wrote " + path + ": " + std::to_string(samples) + (samples == 1 ? " sample, " : " samples, ") +
           std::to_string(std::max<int64_t>(0, sel::SizeOf(path))) + " bytes";
}

std::string NothingRecorded(Animatable* recorder, long evaluations) {
    std::string path = CacheNameOf(recorder);
    if (path.empty()) return "nothing was recorded: no cache file was chosen";
    if (sel::KindOf(path) == sel::FileKind::Missing) return "nothing was recorded: " + path + " was not written";
    if (evaluations == 0) return "nothing was recorded: " + path + " was kept as it was";
    return "";
}

std::string WhyUnwritable(const std::string& name) {
    std::filesystem::path path = sel::PathOf(name);
    std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return "it is a folder";
    if (!std::filesystem::is_directory(folder, ec)) return "its folder " + sel::Utf8Of(folder) + " does not exist";
    if (access(sel::Utf8Of(folder).c_str(), W_OK) != 0 ||
        (std::filesystem::exists(path, ec) && access(name.c_str(), W_OK) != 0))
        return "no permission to write there";
    return "";
}

std::string RefusedTarget(const std::string& name) {
    std::string why = sel::KindOf(name) == sel::FileKind::Other ? "not a plain file" : WhyUnwritable(name);
    return why.empty() ? "" : name + ": cannot be written: " + why;
}

std::string RecordingFailure(Animatable* recorder) {
    const char* name = CacheFileOf(recorder);
    if (!name || !*name) return "recording failed: no cache file was chosen";
    std::string why = WhyUnwritable(name);
    return "recording failed: " + std::string(name) + " could not be written" + (why.empty() ? "" : " (" + why + ")");
}

bool SayIfRecordingStopped(int escapesBefore, Animatable* recorder, const std::string& andThen) {
    if (vm::Record().escapePresses <= escapesBefore) return false;
    std::cerr << "vomark: " << StoppedRecordingLine(CacheNameOf(recorder)) << (andThen.empty() ? "" : "; ") << andThen
              << "\n";
    return true;
}

} // namespace app
