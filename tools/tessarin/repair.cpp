// repair's writing: the mended file a plan (sel/repair.h) describes, copied into the verb's sink.
#include <algorithm>
#include <memory>
#include <vector>

#include "tools/tessarin/verbs.h"

namespace tessarin {

bool WriteRepair(const RepairPlan& plan, const sel::Source& src, sel::ByteSink& sink) {
    sel::RepairedSource out(plan, src);
    std::vector<unsigned char> chunk(size_t(1) << 20);
    for (int64_t at = 0; at < out.Size();) {
        size_t n = size_t(std::min<int64_t>(int64_t(chunk.size()), out.Size() - at));
        if (out.ReadAt(at, chunk.data(), n) != n || !sink.Write(chunk.data(), n)) return false;
        at += int64_t(n);
    }
    return true;
}

namespace {
// A sink that shows how much of `total` bytes was written.
class ShownSink : public sel::ByteSink {
  public:
    ShownSink(sel::ByteSink& to, int64_t total, Context& ctx) : to_(to), total_(total), ctx_(ctx) {}
    bool Write(const void* data, size_t n) override {
        done_ += int64_t(n);
        ctx_.Show(done_, total_, [&] { return "writing, " + Megabytes(done_) + " of " + Megabytes(total_); });
        return to_.Write(data, n);
    }
    bool WriteAt(int64_t offset, const void* data, size_t n) override { return to_.WriteAt(offset, data, n); }
    using sel::ByteSink::Write;

  private:
    sel::ByteSink& to_;
    int64_t total_, done_ = 0;
    Context& ctx_;
};

int RepairVerb(const std::string& file, const std::string& outPath, std::optional<int32_t> points,
               Context& ctx) {
    sel::CacheReader in;
    sel::OutputFile out;
    if (!OpenCache(file, in, false, ctx) || !OpenOutput(outPath, {file}, out, ctx)) return 1;
    // the plan reads the file more than once (checks, then the candidate); each pass shows its bytes
    RepairPlan plan = PlanRepair(ShownSource(in.GetSource(), ctx, "checking"), points, ctx.stop);
    if (ctx.stop()) {
        ctx.err << file << ": stopped; " << outPath << " was not written\n";
        return kStopped;
    }
    if (!plan.ok) {
        ctx.err << At(file, plan.at, plan.reason) << "; nothing was written\n";
        return 1;
    }
    ShownSink writing(
        out, plan.recordsEnd + (plan.header.formatTag < 0 ? 4 * int64_t(plan.header.sampleTotal) : 0), ctx);
    bool written = WriteRepair(plan, in.GetSource(), writing);
    if (!written && !out.Failed()) { // the input gave fewer bytes than it had
        ctx.err << file << ": cannot be read to its end (did it change while read?); nothing was written\n";
        return 1;
    }
    if (int code = Close(0, out, ctx); code != 0) return code;
    for (const auto& a : plan.actions)
        ctx.out << file << ": " << a << "\n";
    ctx.out << "wrote " << outPath << ": " << Counted(plan.header.sampleTotal, "sample") << "\n";
    return 0;
}
} // namespace

ToolVerb AddRepairVerb(CLI::App& app) {
    struct Options {
        std::string file, out;
        std::optional<int32_t> points;
    };
    auto o = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand(
        "repair", "Write a consistent file from a damaged or incomplete one, where that needs no guess");
    AddFileArgument(command, o->file, "the file to mend (never written to)");
    command->add_option("--out", o->out, "the mended file")->required();
    command
        ->add_option("--points", o->points,
                     "points per sample, where the ticks cannot tell whether the last sample is whole")
        ->check(AtLeast(1, "a point count"));
    return {command, [o](Context& ctx) { return RepairVerb(o->file, o->out, o->points, ctx); }, true};
}

} // namespace tessarin
