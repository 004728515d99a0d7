// The verbs of the cache tool, each working on sources and sinks so that the command line, the tests
// and the fuzzers run the same code. Exit codes, as vomark's: 0 done, 1 bad input or a finding
// (damaged for verify, different for diff), 2 usage (and incomplete for verify), 130 stopped.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sel/output.h"
#include "sel/part.h"
#include "sel/repair.h"
#include "sel/verify.h"
#include "console/exit_codes.h"
#include "console/progress.h"

namespace tessarin {

using console::Progress;
// what a verb answers when a stop request ended it; the command exits with console::StopStatus()
constexpr int kStopped = console::kInterrupted;

// The verbs write into a sel::ByteSink: a sel::OutputFile for the command, memory for the tests and
// the fuzzers. A write the sink refuses ends a verb with 1 and no line of its own: the caller owns the
// sink and names it with the system's reason (sel::OutputFile::Error()).
using Sink = sel::ByteSink;

// Where a verb's text goes, and how it learns that it should stop (Ctrl-C, SIGTERM).
struct Context {
    std::ostream& out;
    std::ostream& err;
    std::function<bool()> stop = [] { return false; };
    Progress* progress = nullptr; // where a long verb shows how far it has come, when set
    void Show(int64_t done, int64_t total, const std::function<std::string()>& text) {
        if (progress) progress->Show(done, total, text);
    }
};

// A source that shows how far through it the reads have come: "checking, 12.3 MB of 40.0 MB".
class ShownSource : public sel::Source {
  public:
    ShownSource(const sel::Source& in, Context& ctx, std::string what)
        : in_(in), ctx_(ctx), what_(std::move(what)) {}
    int64_t Size() const override { return in_.Size(); }
    size_t ReadAt(int64_t offset, void* dst, size_t n) const override;

  private:
    const sel::Source& in_;
    Context& ctx_;
    std::string what_;
};

// "FILE: byte N: reason"
std::string At(const std::string& file, int64_t byte, const std::string& reason);
// A finding of verify's as one line: "FILE: byte N: reason (damaged)"; a file that is no cache at all
// says so in its reason, which needs no kind after it.
std::string FindingLine(const std::string& file, const sel::Finding& f);
using sel::Counted;
// "12.3 MB"
std::string Megabytes(int64_t bytes);
// "%.9g", and nan/inf spelled so the import reads them back
std::string WeightText(float w);

enum class Format { Text, Json, Csv };

// With --format json an error is a JSON object on `out` as well as its line on stderr, so what reads
// the output always gets JSON: {"file", "error", "byte"} (byte null where no place applies; file
// null for a usage error).
void JsonError(std::ostream& out, const std::string& file, int64_t byte, const std::string& message);

int Info(const sel::Source& src, const std::string& name, Format format, Context& ctx);
int Verify(const sel::Source& src, const std::string& name, Format format, Context& ctx);
// dump and export: the rows sample,vertex,weight,tick of every sample (or of `sample` alone).
int Dump(const sel::Source& src, const std::string& name, std::optional<int32_t> sample, Format format,
         sel::ByteSink& sink, Context& ctx, int64_t* rows = nullptr);
int Diff(const sel::Source& a, const std::string& nameA, const sel::Source& b, const std::string& nameB,
         double tolerance, Context& ctx);

// repair: the mended file a plan describes (sel/repair.h), written into `sink`.
using sel::PlanRepair;
using sel::RepairPlan;
bool WriteRepair(const RepairPlan& plan, const sel::Source& src, sel::ByteSink& sink);

// Reads CSV rows sample,vertex,weight,tick into the variable-count file the recorder writes, through a
// sel::CacheWriter into `sink`. When the stream can seek, its last row announces the samples, so that
// word 2 is written once, in order: a FIFO or a device takes no patch.
struct ImportResult {
    int exit = 0;
    std::string error; // "FILE:LINE: reason"; empty when `sink` refused a write
    int32_t samples = 0;
    int64_t rows = 0;
};
// `progress`, when given, hears every megabyte of output how many bytes of the CSV (of `csvBytes`)
// were read.
ImportResult Import(std::istream& csv, const std::string& name, int32_t samplesPerFrame, sel::ByteSink& sink,
                    const std::function<bool()>& stop, Progress* progress = nullptr, int64_t csvBytes = 0);

// A part's bytes, open while the pointer is kept (the file closes when it is let go).
using PartBytes = std::shared_ptr<const sel::Source>;

// join: the parts of one recording (vomark record --frames A:B), each a cache file with the text of
// its part record, into the file one recording of the whole range writes, through a sel::CacheWriter
// into `out`. Every part is checked first, one open at a time, on all but its records: its header,
// count table and sizes as verify checks them, and what its record says of it (its frames' ticks,
// its samples, its first point count; the record's own checksum covers the rest); the parts must be
// of one recording, tile the range and run on one into the next. Refuses, one line each (the part,
// what is wrong or disagrees, what would fix it), and writes nothing then. Then each part is opened
// again and read once: every record through verify's rules and every byte into the checksum its
// record holds, as it is copied; a part that fails there ends the join with its line, and `out`
// must then be dropped by its owner (a sink that is not Staged() has the parts read through their
// checks before a byte is written). No two parts are open at once, and memory holds a sample's
// weights and the buffers. The summary line ("wrote ...") goes to `summary` when given, for the
// caller to print once the file is in place, else to ctx.out.
struct JoinPart {
    std::string name;
    // Opens the part; null, with the one line that says why ("NAME: not found"), when it cannot be
    // opened or is no longer the file it was when opened before.
    std::function<PartBytes(std::string& error)> open;
    bool recordFound = false;
    std::string recordText;
};
int Join(const std::vector<JoinPart>& parts, sel::ByteSink& out, const std::string& outName, Context& ctx,
         std::string* summary = nullptr);
// The part record's checksums, as the recorder fills them in: of the part's bytes, and of the
// record's own lines. False when the bytes cannot be read to their end.
bool FillChecksums(const sel::Source& bytes, sel::PartRecord& record);

struct PlotOptions {
    int width = 1000, height = 600;
    std::optional<double> startFrame; // the frame of the first sample: the axis counts frames
    bool mean = false;                // a pixel row shows the mean of its vertices, not the largest
};
// Draws the heatmap of the file `name` into `png` (a path, never the file `name` itself; "" draws
// nothing); answers the exit code.
int Plot(const sel::Source& src, const std::string& name, const std::string& png, const PlotOptions& options,
         Context& ctx);

} // namespace tessarin
