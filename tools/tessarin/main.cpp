// tessarin: inspect, verify, dump, plot, diff, repair, import, export and join selection cache files.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <unistd.h>

#include "console/options.h"
#include "console/stop.h"
#include "sel/files.h"
#include "sel/part.h"
#include "sel/reader.h"
#include "tools/tessarin/tool.h"

namespace {
using namespace tessarin;

// Opens a cache for a verb: with `plays`, only one whose layout plays (the others report on any file);
// prints the one-line error (and, for json, the error object).
bool OpenCache(const std::string& path, sel::CacheReader& in, bool plays, Context& ctx,
               Format format = Format::Text) {
    sel::Status status = plays ? in.Open(path, false) : in.OpenBytes(path);
    if (status.ok) return true;
    bool placed = in.LastProblem() == sel::CacheReader::Problem::Layout;
    ctx.err << (placed ? At(path, status.at, status.message) : path + ": " + status.message) << "\n";
    if (format == Format::Json) JsonError(ctx.out, path, placed ? status.at : -1, status.message);
    return false;
}

// Whether the command line asks for JSON, read before (or without) a successful parse.
bool AsksForJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--format=json") == 0 ||
            (i + 1 < argc && std::strcmp(argv[i], "--format") == 0 && std::strcmp(argv[i + 1], "json") == 0))
            return true;
    return false;
}

Format FormatOf(const std::string& s) {
    return s == "json" ? Format::Json : s == "csv" ? Format::Csv : Format::Text;
}

// OUT for writing (sel/output.h), refused when it is one of `inputs`, before any work is done; prints
// the one-line error.
bool OpenOutput(const std::string& path, const std::vector<std::string>& inputs, sel::OutputFile& out,
                Context& ctx, const char* another = "write to another name") {
    for (const std::string& input : inputs)
        if (sel::SameFile(path, input)) {
            ctx.err << path << ": is the input " << (inputs.size() == 1 ? "file" : input) << "; " << another
                    << "\n";
            return false;
        }
    std::string error = out.Open(path);
    if (!error.empty()) ctx.err << error << "\n";
    return error.empty();
}

// After the verb that wrote into OUT: a write OUT refused is the line to print (its name and the
// system's reason); else a verb that succeeded has OUT put in its place. Answers the exit code.
int Close(int code, sel::OutputFile& out, Context& ctx) {
    if (code == kStopped) return code; // the verb said what was not written; OUT is dropped
    std::string error = out.Failed() ? out.Error() : code == 0 ? out.Commit() : "";
    if (!error.empty()) ctx.err << error << "\n";
    return error.empty() ? code : 1;
}

int Export(const std::string& file, const std::string& outPath, Context& ctx) {
    sel::CacheReader in;
    sel::OutputFile out;
    if (!OpenCache(file, in, true, ctx) || !OpenOutput(outPath, {file}, out, ctx)) return 1;
    int64_t rows = 0;
    int code = Close(Dump(in.GetSource(), file, std::nullopt, Format::Csv, out, ctx, &rows), out, ctx);
    if (code == kStopped) ctx.err << outPath << " was not written\n";
    if (code == 0) ctx.out << "wrote " << outPath << ": " << Counted(rows, "row") << "\n";
    return code;
}

int ImportVerb(const std::string& csvPath, const std::string& outPath, int32_t spf, Context& ctx) {
    // told before opening, as for a cache: a FIFO would wait for a writer that may never come
    sel::FileKind kind = sel::KindOf(csvPath);
    if (kind == sel::FileKind::Folder || kind == sel::FileKind::Other) {
        ctx.err << csvPath << (kind == sel::FileKind::Folder ? ": is a folder\n" : ": not a plain file\n");
        return 1;
    }
    std::ifstream csv(sel::PathOf(csvPath), std::ios::binary);
    if (!csv) {
        ctx.err << csvPath << ": "
                << (kind == sel::FileKind::Missing ? "not found"
                                                   : std::string("cannot be read: ") + std::strerror(errno))
                << "\n";
        return 1;
    }
    sel::OutputFile out;
    if (!OpenOutput(outPath, {csvPath}, out, ctx)) return 1;
    int64_t csvBytes = std::max<int64_t>(sel::SizeOf(csvPath), 0);
    ImportResult r = Import(csv, csvPath, spf, out, ctx.stop, ctx.progress, csvBytes);
    if (!r.error.empty()) ctx.err << r.error << "\n";
    int code = Close(r.exit, out, ctx);
    if (code == 0)
        ctx.out << "wrote " << outPath << ": " << Counted(r.samples, "sample") << ", "
                << Counted(r.rows, "record") << "\n";
    return code;
}

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

// The text of PART's record, checked as every input is: a folder, a FIFO or a device is refused
// before it is opened (a FIFO would wait for a writer), and a record larger than any its part can
// have before it is read. False, with the line printed, when it is refused.
bool ReadPartRecord(const std::string& part, JoinPart& out, Context& ctx) {
    // the part first, as the join will open it: its size bounds its record's
    if (sel::FileKind kind = sel::KindOf(part); kind != sel::FileKind::Plain) {
        ctx.err << part
                << (kind == sel::FileKind::Missing  ? ": not found\n"
                    : kind == sel::FileKind::Folder ? ": is a folder\n"
                                                    : ": not a plain file\n");
        return false;
    }
    std::string path = sel::PartRecordPath(part);
    if (sel::KindOf(path) == sel::FileKind::Missing) return true; // the join names the part without one
    // opened as every input is: a FIFO would wait for a writer, a device would never end
    sel::CacheReader record;
    sel::Status opened = record.OpenBytes(path);
    int64_t most = sel::LargestPartRecord(sel::SizeOf(part));
    std::string why = opened.ok ? "" : opened.message;
    if (record.LastProblem() == sel::CacheReader::Problem::Folder ||
        record.LastProblem() == sel::CacheReader::Problem::NotPlain)
        why += ", not the part record of " + part;
    else if (opened.ok && record.GetSource().Size() > most)
        why = "far larger than the record of " + part + " can be";
    if (why.empty()) {
        out.recordText.resize(size_t(record.GetSource().Size()));
        if (record.GetSource().ReadAt(0, out.recordText.data(), out.recordText.size()) != out.recordText.size())
            why = "cannot be read to its end";
    }
    if (!why.empty()) {
        ctx.err << path << ": " << why << ": record the part again\n";
        return false;
    }
    out.recordFound = true;
    return true;
}

// The parts with their part records, each part opened when the join needs it (checked, then copied)
// and closed after; refuses an OUT that is one of them (the join reads them to its end).
int JoinVerb(const std::vector<std::string>& paths, const std::string& outPath, Context& ctx) {
    std::vector<JoinPart> parts(paths.size());
    std::vector<std::string> inputs;
    for (const std::string& path : paths)
        inputs.insert(inputs.end(), {path, sel::PartRecordPath(path)});
    // what each part was when the check opened it: the copy reads the same bytes or none
    std::vector<std::optional<sel::FileStamp>> stamps(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!ReadPartRecord(paths[i], parts[i], ctx)) return 1;
        parts[i].name = paths[i];
        parts[i].open = [path = paths[i], &stamp = stamps[i]](std::string& error) -> PartBytes {
            auto file = std::make_shared<sel::CacheReader>();
            // verify's checks follow in the join, on any bytes
            sel::Status status = file->OpenBytes(path);
            if (!status.ok) {
                error = path + ": " + status.message;
                return nullptr;
            }
            if (stamp && !(*stamp == file->Stamp())) {
                error = path + ": changed since it was checked";
                return nullptr;
            }
            stamp = file->Stamp();
            return PartBytes(file, &file->GetSource());
        };
    }
    sel::OutputFile out;
    if (!OpenOutput(outPath, inputs, out, ctx, "write the joined file to another name")) return 1;
    std::string summary;
    int code = Close(Join(parts, out, outPath, ctx, &summary), out, ctx);
    if (code == 0) ctx.out << summary << "\n";
    return code;
}

constexpr const char* kVerbs[] = {"info",   "verify", "dump",   "plot", "diff",
                                  "repair", "import", "export", "join"};

// `tessarin bogus` is named as an unknown verb rather than as a missing one.
bool IsVerb(const char* word) {
    for (const char* v : kVerbs)
        if (std::strcmp(v, word) == 0) return true;
    return false;
}

// A lower bound said in words ("-1 is not a point count; give 1 or more"), where the library's own
// range check would print the largest double in full.
CLI::Validator AtLeast(double least, const std::string& what) {
    char bound[32];
    std::snprintf(bound, sizeof bound, "%g", least);
    std::string words = std::string(" is not ") + what + "; give " + bound + " or more";
    return CLI::Validator(
        [least, words](std::string& text) -> std::string {
            double v = std::strtod(text.c_str(), nullptr);
            return std::isnan(v) || v < least ? text + words : "";
        },
        std::string("X >= ") + bound);
}

// A number that must be finite: "nan" or "inf" would reach the picture's axis labels.
CLI::Validator Finite(const std::string& what) {
    std::string words = std::string(" is not ") + what;
    return CLI::Validator(
        [words](std::string& text) -> std::string {
            return std::isfinite(std::strtod(text.c_str(), nullptr)) ? "" : text + words;
        },
        "FINITE");
}

std::string VerbList() {
    std::string list;
    for (const char* v : kVerbs)
        list += (list.empty() ? "" : ", ") + std::string(v);
    return list;
}
} // namespace

int main(int argc, char** argv) {
    sel::Utf8Arguments utf8(argc, argv);
    sel::BinaryStandardStreams();
    // Ctrl-C and SIGTERM stop a verb between steps: it says what it kept and removes its temporary file
    console::StopOnSignals();
    // the verbs' text goes through buffers that first take a progress bar off the terminal
    Progress* shown = nullptr;
    console::ErasingBuf outBuf(std::cout.rdbuf(), shown), errBuf(std::cerr.rdbuf(), shown);
    std::ostream outStream(&outBuf), errStream(&errBuf);
    Context ctx{outStream, errStream, [] { return console::StopRequested(); }};
    CLI::App app{
        "tessarin: inspect, verify, dump, plot, diff, repair, import, export and join selection cache "
        "files (.sel)"};
    app.require_subcommand(1);
    // options are --name on every platform; on Windows the library would take "/tmp/x.sel" for one
    app.allow_windows_style_options(false);
    app.set_version_flag(
        "--version", std::string("tessarin ") + TESSARIN_VERSION_STRING + " (" + TESSARIN_BUILD_STRING + ")",
        "Print the version and the build, then exit");
    std::string file, fileB, out, format;
    std::optional<int32_t> sample, points;
    double tolerance = 0;
    int32_t spf = 0;
    PlotOptions plot;
    auto input = [&](CLI::App* verb, const char* what = "the cache file") {
        verb->add_option("FILE", file, what)->required();
    };
    auto* info = app.add_subcommand(
        "info", "What a file holds: variant, samples, counts, size, frames, ticks, weights");
    input(info);
    info->add_option("--format", format, "text or json")->check(CLI::IsMember({"text", "json"}));
    auto* verify =
        app.add_subcommand("verify", "Check a file against its header and count table (exit 0 valid, "
                                     "1 damaged, 2 incomplete)");
    input(verify);
    verify->add_option("--format", format, "text or json")->check(CLI::IsMember({"text", "json"}));
    auto* dump = app.add_subcommand("dump", "Print the records as sample,vertex,weight,tick");
    input(dump);
    dump->add_option("--sample", sample, "only this sample");
    dump->add_option("--format", format, "csv or json")->check(CLI::IsMember({"csv", "json"}));
    auto* plotVerb = app.add_subcommand("plot", "Draw a heatmap of weight by vertex and sample as PNG");
    input(plotVerb);
    plotVerb->add_option("--out", out, "the PNG to write")->required();
    plotVerb->add_option("--width", plot.width, "picture width in pixels (300 to 20000)")
        ->check(CLI::Range(300, 20000));
    plotVerb->add_option("--height", plot.height, "picture height in pixels (200 to 20000)")
        ->check(CLI::Range(200, 20000));
    plotVerb
        ->add_option("--start", plot.startFrame,
                     "the frame of the file's first sample: the axis then counts frames, not samples")
        ->check(Finite("a frame number"));
    plotVerb->add_flag("--mean", plot.mean,
                       "colour each pixel by the mean weight of its vertices and samples, not the largest");
    auto* diff = app.add_subcommand(
        "diff", "Compare two files as they play (exit 0 equal, 1 different or unreadable)");
    input(diff, "the first cache file");
    diff->add_option("B", fileB, "the second cache file")->required();
    diff->add_option("--tolerance", tolerance, "largest weight difference taken as equal")
        ->check(AtLeast(0, "a weight difference"));
    auto* repair =
        app.add_subcommand("repair", "Write a consistent file from a damaged or incomplete one, where that "
                                     "needs no guess");
    input(repair, "the file to mend (never written to)");
    repair->add_option("--out", out, "the mended file")->required();
    repair
        ->add_option("--points", points,
                     "points per sample, where the ticks cannot tell whether the last "
                     "sample is whole")
        ->check(AtLeast(1, "a point count"));
    auto* import = app.add_subcommand("import", "Make a cache file from CSV rows sample,vertex,weight,tick");
    input(import, "the CSV file");
    import->add_option("--out", out, "the cache file to write")->required();
    import->add_option("--samples-per-frame", spf, "samples per frame (header word 1)")
        ->required()
        ->check(CLI::Range(1, INT32_MAX));
    auto* exportVerb =
        app.add_subcommand("export", "Write the records as CSV rows sample,vertex,weight,tick");
    input(exportVerb);
    exportVerb->add_option("--out", out, "the CSV file to write")->required();
    std::vector<std::string> joinParts;
    auto* join =
        app.add_subcommand("join", "Join the parts of one recording (vomark record --frames A:B) into "
                                   "the file one recording of the whole range writes");
    join->add_option("PART", joinParts, "the parts' cache files, each with its .part record beside it")
        ->required();
    join->add_option("--out", out, "the joined cache file")->required();
    if (argc > 1 && argv[1][0] != '-' && !IsVerb(argv[1])) {
        std::string what = "there is no verb \"" + std::string(argv[1]) + "\"; the verbs are " + VerbList();
        std::cerr << "tessarin: " << what << " (tessarin --help says more)\n";
        if (AsksForJson(argc, argv)) JsonError(std::cout, "", -1, what);
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << "\n";
        return 0;
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        auto takes = [&](const std::string& name) {
            for (CLI::App* verb : app.get_subcommands())
                if (const CLI::Option* opt = verb->get_option_no_throw(name))
                    return console::TakesOfTypeName(opt->get_type_name());
            return std::string();
        };
        std::vector<std::string> options; // the verb's own, for the nearest to a misspelt one
        for (CLI::App* v : app.get_subcommands())
            for (const CLI::Option* opt : v->get_options())
                for (const std::string& name : opt->get_lnames())
                    options.push_back("--" + name);
        std::string what = app.get_subcommands().empty() && argc == 1
                               ? "a verb is required: " + VerbList()
                               : console::OptionError(e.what(), takes, VerbList(), options);
        std::string verb = app.get_subcommands().empty() ? "" : app.get_subcommands().front()->get_name() + " ";
        std::cerr << "tessarin: " << what << " (tessarin " << verb
                  << (verb.empty() ? "--help lists the verbs)\n" : "--help says more)\n");
        if (AsksForJson(argc, argv)) JsonError(std::cout, "", -1, what);
        return 2;
    }
    Format f = FormatOf(format);
    std::optional<Progress> bar;
    if (*plotVerb || *repair || *import || *exportVerb || *join) {
        bar.emplace(std::cerr,
                    (*plotVerb ? plotVerb
                     : *repair ? repair
                     : *import ? import
                     : *join   ? join
                               : exportVerb)
                            ->get_name() +
                        ": ",
                    isatty(STDERR_FILENO) == 1);
        shown = ctx.progress = &*bar;
    }
    // a verb a stop request ended answers kStopped: SIGTERM makes that 143
    auto run = [&]() -> int {
        sel::CacheReader in;
        if (*info || *verify || *dump) {
            if (!OpenCache(file, in, false, ctx, f)) return 1;
            if (*info) return Info(in.GetSource(), file, f, ctx);
            if (*verify) return Verify(in.GetSource(), file, f, ctx);
            // stdout as it is: a file it is redirected to is appended to, never replaced
            struct StdoutSink : sel::ByteSink {
                int error = 0;
                bool Write(const void* d, size_t n) override {
                    errno = 0;
                    if (error == 0 && std::fwrite(d, 1, n, stdout) != n) error = errno ? errno : EIO;
                    return error == 0;
                }
                bool WriteAt(int64_t, const void*, size_t) override { return false; }
                using sel::ByteSink::Write;
            } sink;
            int code =
                Dump(in.GetSource(), file, sample, f == Format::Json ? Format::Json : Format::Csv, sink, ctx);
            errno = 0;
            if (std::fflush(stdout) != 0 && sink.error == 0) sink.error = errno ? errno : EIO;
            if (sink.error == 0) return code;
            ctx.err << "standard output: cannot be written: " << std::strerror(sink.error) << "\n";
            return code == kStopped ? code : 1;
        }
        if (*plotVerb) return OpenCache(file, in, true, ctx) ? Plot(in.GetSource(), file, out, plot, ctx) : 1;
        if (*diff) {
            sel::CacheReader b;
            if (!OpenCache(file, in, true, ctx) || !OpenCache(fileB, b, true, ctx)) return 1;
            return Diff(in.GetSource(), file, b.GetSource(), fileB, tolerance, ctx);
        }
        if (*repair) return RepairVerb(file, out, points, ctx);
        if (*import) return ImportVerb(file, out, spf, ctx);
        if (*join) return JoinVerb(joinParts, out, ctx);
        return Export(file, out, ctx);
    };
    int code = run();
    return code == kStopped ? console::StopStatus() : code;
}
