#include "cache_notes.h"

#include "scene/cache_files.h"
#include "sel/reader.h"
#include "sel/verify.h"

namespace app::view {
namespace {
// The worst finding first, as the verdict ranks them.
std::string FirstFault(const sel::Source& src) {
    sel::VerifyReport report = sel::VerifyFile(src, [] { return false; });
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
    // a cache that is not there yet is what a newcomer sees first: said with how to make it
    if (why == name + ": not found") return why + "; press Record to make it";
    if (!why.empty()) return why + "; the modifier plays nothing from it";
    sel::CacheReader reader;
    if (!OpenCache(name, reader, false).ok) return "";
    Checked& known = checked_[reader.Path()];
    if (known.checked && known.stamp == reader.Stamp()) return known.note;
    std::string fault = FirstFault(reader.GetSource());
    known = {reader.Stamp(), fault.empty() ? "" : name + ": " + fault + "; the modifier plays it as it is", true};
    return known.note;
}

} // namespace app::view
