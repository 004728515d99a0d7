#include "cache_notes.h"

#include <filesystem>

#include "host_queries.h"
#include "sel/files.h"
#include "sel/verify.h"

namespace app::view {
namespace {
// The worst finding first, as the verdict ranks them.
std::string FirstFault(const std::string& path) {
    FILE* f = sel::OpenFile(path, "rb");
    if (!f) return "";
    sel::FileSource src(f);
    sel::VerifyReport report = sel::VerifyFile(src, [] { return false; });
    std::fclose(f);
    sel::Fault verdict = report.Verdict();
    for (const sel::Finding& finding : report.findings)
        if (finding.fault == verdict)
            return "byte " + std::to_string(finding.at) + ": " + finding.message + " (" + sel::FaultName(verdict) +
                   ")";
    return "";
}
} // namespace

std::string CacheNotes::For(const std::string& name) {
    std::string why = WhyUnplayable(name);
    if (!why.empty()) return why + "; the modifier plays nothing from it";
    std::string path = FindCacheFile(name);
    std::error_code ec;
    auto changed = std::filesystem::last_write_time(sel::PathOf(path), ec);
    Checked now{sel::SizeOf(path), ec ? 0 : static_cast<int64_t>(changed.time_since_epoch().count()), ""};
    Checked& known = checked_[path];
    if (known.size == now.size && known.changed == now.changed) return known.note;
    std::string fault = FirstFault(path);
    now.note = fault.empty() ? "" : name + ": " + fault + "; the modifier plays it as it is";
    known = now;
    return known.note;
}

} // namespace app::view
