// A whole recording staged beside its cache file, and how it lands.
#include "scene/record_whole.h"

#include <filesystem>

#include "console/exit_codes.h"
#include "console/stop.h"
#include "scene/host_queries.h"
#include "scene/recording_reports.h"
#include "scene/scene_description.h"
#include "sel/files.h"
#include "sel/output.h"

namespace app {
namespace {
// `target` with ".stopped-PID" before its extension, beside the file it leads to, unused so far.
std::string KeptName(const std::string& target) {
    std::filesystem::path path = sel::PathOf(sel::FollowLinks(target));
    std::string ext = sel::Utf8Of(path.extension());
    path.replace_extension();
    std::string stem = sel::Utf8Of(path) + ".stopped-" + std::to_string(ProcessId());
    std::string name = stem + ext;
    for (int n = 2; sel::KindOf(name) != sel::FileKind::Missing; ++n)
        name = stem + "-" + std::to_string(n) + ext;
    return name;
}
} // namespace

WholeRecording::WholeRecording(Modifier* mod) : mod_(mod) {
    const char* named = CacheFileOf(mod);
    target_ = named ? named : "";
    stood_ = sel::KindOf(target_) == sel::FileKind::Plain;
    if (!target_.empty() && (stood_ || sel::KindOf(target_) == sel::FileKind::Missing) &&
        WhyUnwritable(target_).empty()) {
        staged_ = staging_.Beside(target_);
        SetParameterFromText(mod_, kCacheFileParameter, staged_);
    }
}

void WholeRecording::Unstage() {
    if (Staged()) SetParameterFromText(mod_, kCacheFileParameter, target_);
}

Landing WholeRecording::Land(bool stopped, long evaluations) {
    if (sel::KindOf(staged_) != sel::FileKind::Plain || (!stopped && evaluations == 0))
        return {stopped ? console::StopStatus() : 1,
                "nothing was recorded: " + target_ + (stood_ ? " was kept as it was" : " was not written")};
    if (stopped && stood_ && console::StopStatus() == console::kTerminated) {
        std::string kept = KeptName(target_);
        if (std::string why = sel::ReplaceTogether({{staged_, kept}}); !why.empty())
            return {1, "recording stopped by SIGTERM: " + target_ + " is as it was; " + why};
        staging_.Settled();
        return {console::StopStatus(), StoppedRecordingLine(kept) + "; SIGTERM left " + target_ +
                                           " as it was (mv " + kept + " " + target_ +
                                           " puts the recording in its place)"};
    }
    if (std::string why = sel::ReplaceTogether({{staged_, target_}}); !why.empty()) return {1, why};
    staging_.Settled();
    if (stopped) return {console::StopStatus(), StoppedRecordingLine(target_)};
    return {0, RecordingSummary(mod_)};
}

} // namespace app
