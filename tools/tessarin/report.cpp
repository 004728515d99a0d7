// info and verify: what a file holds, and whether it keeps what its header and table promise.
#include <nlohmann/json.hpp>

#include "tools/tessarin/verbs.h"

namespace tessarin {

namespace {

int ExitFor(sel::Fault f) { return f == sel::Fault::None ? 0 : f == sel::Fault::CutShort ? 2 : 1; }

// The size a file with this header and these counts has.
int64_t ImpliedSize(const sel::Layout& l) {
    if (l.variable)
        return sel::kHeaderBytes + sel::kRecordBytes * l.records + 4 * int64_t(l.header.sampleTotal);
    return sel::kHeaderBytes + sel::kRecordBytes * int64_t(l.header.formatTag) * l.header.sampleTotal;
}

void PrintStopped(const std::string& name, Format format, Context& ctx) {
    const char* text = "stopped before the end; nothing was concluded";
    ctx.err << name << ": " << text << "\n";
    if (format == Format::Json) JsonError(ctx.out, name, -1, text);
}
} // namespace

void JsonError(std::ostream& out, const std::string& file, int64_t byte, const std::string& message) {
    nlohmann::ordered_json j;
    j["file"] = file.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(file);
    j["error"] = message;
    j["byte"] = byte >= 0 ? nlohmann::ordered_json(byte) : nlohmann::ordered_json(nullptr);
    out << j.dump(2) << "\n";
}

int Info(const sel::Source& src, const std::string& name, Format format, Context& ctx) {
    sel::VerifyReport r = sel::VerifyFile(src, ctx.stop);
    if (r.stopped) {
        PrintStopped(name, format, ctx);
        return kStopped;
    }
    if (!r.playable) {
        const sel::Finding& f = r.findings.front();
        ctx.err << At(name, f.at, f.message) << "\n";
        if (format == Format::Json) JsonError(ctx.out, name, f.at, f.message);
        return 1;
    }
    const sel::Layout& l = r.layout;
    const sel::WeightSummary& w = r.weights;
    double frames = double(l.samples) / l.header.samplesPerFrame;
    double mean = w.finite ? w.sum / double(w.finite) : 0;
    double ones = w.records ? double(w.ones) / double(w.records) : 0;
    if (format == Format::Json) {
        nlohmann::ordered_json j;
        j["file"] = name;
        j["variant"] = l.variable ? "variable" : "fixed";
        j["formatTag"] = l.header.formatTag;
        j["samplesPerFrame"] = l.header.samplesPerFrame;
        j["sampleTotal"] = l.header.sampleTotal;
        j["samplesPlayed"] = l.samples;
        j["countTableEntries"] = l.variable ? l.header.sampleTotal : 0;
        j["smallestCount"] = l.smallestCount;
        j["largestCount"] = l.largestCount;
        j["fileBytes"] = l.fileBytes;
        j["impliedBytes"] = ImpliedSize(l);
        j["frames"] = frames;
        j["firstTick"] = w.hasTicks ? nlohmann::ordered_json(w.firstTick) : nullptr;
        j["lastTick"] = w.hasTicks ? nlohmann::ordered_json(w.lastTick) : nullptr;
        j["records"] = w.records;
        j["weights"] = {{"min", w.finite ? w.min : 0.0},
                        {"max", w.finite ? w.max : 0.0},
                        {"mean", mean},
                        {"shareAtOne", ones},
                        {"nonFinite", w.nonFinite}};
        ctx.out << j.dump(2) << "\n";
        return 0;
    }
    auto line = [&](const char* key, const std::string& value) {
        ctx.out << key << std::string(16 - std::string(key).size(), ' ') << value << "\n";
    };
    auto num = [](double v) {
        char b[32];
        std::snprintf(b, sizeof b, "%.9g", v);
        return std::string(b);
    };
    line("file", name);
    line("variant", l.variable ? "variable count (word 0 is " + std::to_string(l.header.formatTag) + ")"
                               : "fixed count of " + Counted(l.header.formatTag, "record"));
    line("samples/frame", std::to_string(l.header.samplesPerFrame));
    line("samples",
         std::to_string(l.header.sampleTotal) +
             (l.samples != l.header.sampleTotal ? " announced, " + std::to_string(l.samples) + " play" : ""));
    line("count table", l.variable ? Counted(l.header.sampleTotal, "entry", "entries") : "none");
    line("counts",
         std::to_string(l.smallestCount) + " to " + std::to_string(l.largestCount) + " records per sample");
    line("file size",
         std::to_string(l.fileBytes) + " bytes; the header implies " + std::to_string(ImpliedSize(l)));
    line("frames", num(frames));
    line("ticks", w.hasTicks ? std::to_string(w.firstTick) + " to " + std::to_string(w.lastTick) : "none");
    line("weights",
         w.finite ? "min " + num(w.min) + ", max " + num(w.max) + ", mean " + num(mean) : "none finite");
    line("at exactly 1.0", num(100 * ones) + "% of " + Counted(w.records, "record"));
    line("non-finite", std::to_string(w.nonFinite));
    return 0;
}

int Verify(const sel::Source& src, const std::string& name, Format format, Context& ctx) {
    sel::VerifyReport r = sel::VerifyFile(src, ctx.stop);
    if (r.stopped) {
        PrintStopped(name, format, ctx);
        return kStopped;
    }
    sel::Fault verdict = r.Verdict();
    // the hint is given only where repair, asked the same, would write a mended file
    RepairPlan plan;
    if (verdict != sel::Fault::None) {
        plan = PlanRepair(src, std::nullopt, ctx.stop);
        if (ctx.stop()) {
            PrintStopped(name, format, ctx);
            return kStopped;
        }
    }
    if (format == Format::Json) {
        nlohmann::ordered_json j;
        j["file"] = name;
        j["verdict"] = sel::FaultName(verdict);
        j["playable"] = r.playable;
        j["samplesPlayed"] = r.layout.samples;
        j["repairable"] = plan.ok;
        j["findings"] = nlohmann::ordered_json::array();
        for (const auto& f : r.findings)
            j["findings"].push_back({{"byte", f.at}, {"kind", sel::FaultName(f.fault)}, {"message", f.message}});
        ctx.out << j.dump(2) << "\n";
        return ExitFor(verdict);
    }
    for (const auto& f : r.findings)
        ctx.out << FindingLine(name, f) << "\n";
    std::string plays = r.playable ? "plays " + Counted(r.layout.samples, "sample")
                                   : "cannot be played (the modifier treats it as missing)";
    ctx.out << name << ": " << sel::FaultName(verdict) << "; " << plays;
    if (plan.ok) ctx.out << "; tessarin repair can mend it";
    if (plan.needsPoints) ctx.out << "; tessarin repair can mend it given --points (the points per sample)";
    ctx.out << "\n";
    return ExitFor(verdict);
}

namespace {
// info and verify report on any file: its bytes opened, its layout unchecked
ToolVerb Report(CLI::App& app, const char* name, const char* what,
                int (*verb)(const sel::Source&, const std::string&, Format, Context&)) {
    struct Options {
        std::string file, format;
    };
    auto o = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand(name, what);
    AddFileArgument(command, o->file);
    command->add_option("--format", o->format, "text or json")->check(CLI::IsMember({"text", "json"}));
    return {command, [o, verb](Context& ctx) {
                sel::CacheReader in;
                Format f = FormatOf(o->format);
                return OpenCache(o->file, in, false, ctx, f) ? verb(in.GetSource(), o->file, f, ctx) : 1;
            }};
}
} // namespace

ToolVerb AddInfoVerb(CLI::App& app) {
    return Report(app, "info", "What a file holds: variant, samples, counts, size, frames, ticks, weights", Info);
}

ToolVerb AddVerifyVerb(CLI::App& app) {
    return Report(app, "verify",
                  "Check a file against its header and count table (exit 0 valid, 1 damaged, 2 incomplete)",
                  Verify);
}

} // namespace tessarin
