// dump and export: one row per record, sample,vertex,weight,tick, streamed a chunk at a time.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include "tools/tessarin/verbs.h"

namespace tessarin {

namespace {
// Rows gathered into a buffer that goes to the sink whenever it fills.
class RowWriter {
  public:
    RowWriter(sel::ByteSink& sink, Format format) : sink_(sink), json_(format == Format::Json) {}
    bool Begin() {
        text_ = json_ ? "[" : "sample,vertex,weight,tick\n";
        return true;
    }
    void Row(int32_t k, int32_t v, float w, int32_t tick) {
        if (json_) {
            text_ += first_ ? "\n" : ",\n";
            text_ += "{\"sample\":" + std::to_string(k) + ",\"vertex\":" + std::to_string(v) +
                     ",\"weight\":" + (std::isfinite(w) ? WeightText(w) : "null") +
                     ",\"tick\":" + std::to_string(tick) + "}";
        } else {
            text_ += std::to_string(k) + ',' + std::to_string(v) + ',' + WeightText(w) + ',' +
                     std::to_string(tick) + '\n';
        }
        first_ = false;
    }
    // A sample without records still has a row, so the count table survives a round trip.
    void Empty(int32_t k) {
        if (json_) {
            text_ += first_ ? "\n" : ",\n";
            text_ += "{\"sample\":" + std::to_string(k) + ",\"vertex\":null,\"weight\":null,\"tick\":null}";
        } else {
            text_ += std::to_string(k) + ",,,\n";
        }
        first_ = false;
    }
    bool Flush(bool end = false) {
        if (end && json_) text_ += first_ ? "]\n" : "\n]\n";
        if (!end && text_.size() < (1 << 20)) return true;
        bool ok = sink_.Write(text_);
        text_.clear();
        return ok;
    }

  private:
    sel::ByteSink& sink_;
    bool json_;
    bool first_ = true;
    std::string text_;
};
} // namespace

int Dump(const sel::Source& src, const std::string& name, std::optional<int32_t> sample, Format format,
         sel::ByteSink& sink, Context& ctx, int64_t* rows) {
    sel::Layout layout;
    sel::Status status = sel::ReadLayout(src, layout, false);
    // refusals before the first row: with json, the output is the error object instead of the array
    auto refuse = [&](int64_t at, const std::string& why) {
        ctx.err << (at >= 0 ? At(name, at, why) : name + ": " + why) << "\n";
        if (format == Format::Json) {
            std::ostringstream j;
            JsonError(j, name, at, why);
            sink.Write(j.str());
        }
        return 1;
    };
    if (!status.ok) return refuse(status.at, status.message);
    if (sample && (*sample < 0 || *sample >= layout.samples))
        return refuse(-1, "there is no sample " + std::to_string(*sample) + "; the file plays samples 0 to " +
                              std::to_string(layout.samples - 1));
    RowWriter out(sink, format);
    out.Begin();
    int64_t written = 0;
    int32_t k = 0;
    // after every sample and every chunk: the rows go out, and Ctrl-C is heard
    auto pause = [&]() -> int {
        ctx.Show(k, layout.samples, [&] {
            return "sample " + std::to_string(k + 1) + " of " + std::to_string(layout.samples) + ", " +
                   Counted(written, "row");
        });
        if (!out.Flush()) return 1; // the sink's owner says which file and why
        if (!ctx.stop()) return 0;
        out.Flush(true);
        ctx.err << name << ": stopped in sample " << k << " after " << written << " rows\n";
        return kStopped;
    };
    sel::SampleWalker walk(src, layout);
    while (walk.Next()) {
        k = walk.Index();
        if (sample && k < *sample) continue;
        if (sample && k > *sample) break;
        if (walk.Count() == 0) out.Empty(k);
        if (int code = pause()) return code;
        size_t n;
        int32_t first;
        for (const sel::SampleRecord* recs = walk.Records(n, first); n > 0; recs = walk.Records(n, first)) {
            for (size_t i = 0; i < n; ++i)
                out.Row(k, first + int32_t(i), recs[i].weight, recs[i].time);
            written += int64_t(n);
            if (int code = pause()) return code;
        }
    }
    if (walk.Failed()) {
        out.Flush(true); // the rows so far stay well-formed
        ctx.err << At(name, walk.FailedAt(), "cannot be read here (did it change while read?)") << "\n";
        return 1;
    }
    if (!out.Flush(true)) return 1;
    if (rows) *rows = written;
    return 0;
}

ToolVerb AddDumpVerb(CLI::App& app) {
    struct Options {
        std::string file, format;
        std::optional<int32_t> sample;
    };
    auto o = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand("dump", "Print the records as sample,vertex,weight,tick");
    AddFileArgument(command, o->file);
    command->add_option("--sample", o->sample, "only this sample");
    command->add_option("--format", o->format, "csv or json")->check(CLI::IsMember({"csv", "json"}));
    return {command, [o](Context& ctx) {
                sel::CacheReader in;
                Format f = FormatOf(o->format);
                if (!OpenCache(o->file, in, false, ctx, f)) return 1;
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
                int code = Dump(in.GetSource(), o->file, o->sample, f == Format::Json ? Format::Json : Format::Csv,
                                sink, ctx);
                errno = 0;
                if (std::fflush(stdout) != 0 && sink.error == 0) sink.error = errno ? errno : EIO;
                if (sink.error == 0) return code;
                ctx.err << "standard output: cannot be written: " << std::strerror(sink.error) << "\n";
                return code == kStopped ? code : 1;
            }};
}

ToolVerb AddExportVerb(CLI::App& app) {
    struct Options {
        std::string file, out;
    };
    auto o = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand("export", "Write the records as CSV rows sample,vertex,weight,tick");
    AddFileArgument(command, o->file);
    command->add_option("--out", o->out, "the CSV file to write")->required();
    return {command,
            [o](Context& ctx) {
                sel::CacheReader in;
                sel::OutputFile out;
                if (!OpenCache(o->file, in, true, ctx) || !OpenOutput(o->out, {o->file}, out, ctx)) return 1;
                int64_t rows = 0;
                int code =
                    Close(Dump(in.GetSource(), o->file, std::nullopt, Format::Csv, out, ctx, &rows), out, ctx);
                if (code == kStopped) ctx.err << o->out << " was not written\n";
                if (code == 0) ctx.out << "wrote " << o->out << ": " << Counted(rows, "row") << "\n";
                return code;
            },
            true};
}

} // namespace tessarin
