// Any bytes through the reading path of one tessarin verb; built once per verb, which FUZZ_VERB_<verb>
// names. Beyond not crashing, repair must only ever write files that pass every check, and a
// successful import must export and import again to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "tools/tessarin/tool.h"

namespace {
using namespace tessarin;

struct NullSink : sel::ByteSink {
    bool Write(const void*, size_t) override { return true; }
    bool WriteAt(int64_t, const void*, size_t) override { return true; }
};

// Files of millions of empty samples are legal and slow, not faulty; the fuzzer skips them.
[[maybe_unused]] bool TooManySamples(const sel::Source& src) {
    sel::Layout l;
    return sel::ReadLayout(src, l, false).ok && l.samples > 100000;
}

[[maybe_unused]] void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "broken: %s\n", what);
        std::abort();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::ostringstream out, err;
    Context ctx{out, err};
    sel::MemorySource src(data, size);
    [[maybe_unused]] NullSink sink;
#if defined(FUZZ_VERB_import)
    std::istringstream csv(std::string(reinterpret_cast<const char*>(data), size));
    sel::MemorySink file;
    ImportResult r = Import(csv, "f.csv", 2, file, ctx.stop);
    if (r.exit != 0) return 0;
    sel::MemorySource made(file.bytes.data(), file.bytes.size());
    sel::MemorySink again, back;
    Check(Dump(made, "f.sel", std::nullopt, Format::Csv, again, ctx) == 0, "export of an imported file");
    std::istringstream csv2(again.bytes);
    Check(Import(csv2, "g.csv", 2, back, ctx.stop).exit == 0 && back.bytes == file.bytes, "round trip");
    return 0;
#else
    if (TooManySamples(src)) return 0;
#endif
#if defined(FUZZ_VERB_info)
    Info(src, "f.sel", size % 2 ? Format::Json : Format::Text, ctx);
#elif defined(FUZZ_VERB_verify)
    Verify(src, "f.sel", size % 2 ? Format::Json : Format::Text, ctx);
#elif defined(FUZZ_VERB_dump)
    Dump(src, "f.sel", size % 3 ? std::optional<int32_t>(int32_t(size % 5)) : std::nullopt, Format::Json,
         sink, ctx);
#elif defined(FUZZ_VERB_export)
    Dump(src, "f.sel", std::nullopt, Format::Csv, sink, ctx);
#elif defined(FUZZ_VERB_plot)
    Plot(src, "f.sel", "", PlotOptions{}, ctx);
#elif defined(FUZZ_VERB_diff)
    // the first byte says where the second file starts
    size_t split = size ? 1 + (data[0] * (size - 1)) / 255 : 0;
    sel::MemorySource a(data + (size ? 1 : 0), split - (size ? 1 : 0)), b(data + split, size - split);
    if (!TooManySamples(a) && !TooManySamples(b)) Diff(a, "a", b, "b", size % 2 ? 0.0 : 0.01, ctx);
#elif defined(FUZZ_VERB_repair)
    std::optional<int32_t> points;
    if (size % 3 == 0) points = int32_t(1 + size % 7);
    RepairPlan plan = PlanRepair(src, points, ctx.stop);
    if (!plan.ok) return 0;
    sel::MemorySink mended;
    Check(WriteRepair(plan, src, mended), "write");
    sel::MemorySource made(mended.bytes.data(), mended.bytes.size());
    Check(sel::VerifyFile(made).Verdict() == sel::Fault::None, "a repaired file passes verify");
#endif
    return 0;
}
