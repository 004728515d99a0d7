// import: CSV rows sample,vertex,weight,tick into the variable-count file the recorder writes.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <memory>
#include <vector>

#include "sel/writer.h"
#include "tools/tessarin/verbs.h"

namespace tessarin {

namespace {
// Splits a row into exactly four fields; false otherwise.
bool Fields(const std::string& line, std::string (&f)[4]) {
    size_t from = 0;
    for (int i = 0; i < 4; ++i) {
        size_t comma = line.find(',', from);
        if ((comma == std::string::npos) != (i == 3)) return false;
        f[i] = line.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        from = comma + 1;
    }
    return true;
}

bool Int32(const std::string& s, int32_t& out) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno || *end || v < INT32_MIN || v > INT32_MAX) return false;
    out = int32_t(v);
    return true;
}

bool Float(const std::string& s, float& out) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtof(s.c_str(), &end);
    // a text that overflows a float is refused rather than stored as inf, and verify calls a file
    // with a weight that is no finite number damaged
    return !*end && std::isfinite(out);
}

// A field as the error shows it: quoted, bytes that are not printable ASCII as \xNN (a binary file
// given as CSV shows no raw bytes), and cut after 40 characters.
std::string Quoted(const std::string& field) {
    std::string out = "\"";
    for (size_t i = 0; i < field.size(); ++i) {
        if (i == 40) {
            out += "...";
            break;
        }
        unsigned char c = static_cast<unsigned char>(field[i]);
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out += char(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out + "\"";
}

ImportResult Bad(const std::string& name, int64_t line, const std::string& why) {
    return {1, name + ":" + std::to_string(line) + ": " + why};
}

// The sink refused a write: its owner names it.
const ImportResult kRefused{1, ""};

// The samples the rows announce: the sample of the last row, plus one (rows that hold anything else
// are refused before the end, so the guess is never kept wrong). 0 when it cannot be told: a stream
// that cannot seek, or a last line longer than what is looked at.
int32_t AnnouncedSamples(std::istream& csv) {
    std::streampos start = csv.tellg();
    if (start < 0 || !csv.seekg(0, std::ios::end)) {
        csv.clear();
        return 0;
    }
    std::streamoff end = csv.tellg() - start;
    std::streamoff from = std::max<std::streamoff>(0, end - 4096);
    std::string tail(size_t(end - from), '\0');
    csv.seekg(start + from);
    csv.read(tail.data(), std::streamsize(tail.size()));
    csv.clear();
    csv.seekg(start);
    size_t last = tail.find_last_not_of("\r\n");
    if (last == std::string::npos) return 0;
    size_t begin = tail.rfind('\n', last);
    if (begin == std::string::npos && from > 0) return 0;
    begin = begin == std::string::npos ? 0 : begin + 1;
    int32_t k = 0;
    if (!Int32(tail.substr(begin, tail.find(',', begin) - begin), k) || k < 0 || k == INT32_MAX) return 0;
    return k + 1;
}

// Rows are written a piece at a time: the stop request and the progress are heard between pieces.
constexpr size_t kPieceRecords = size_t(1) << 17;
} // namespace

ImportResult Import(std::istream& csv, const std::string& name, int32_t samplesPerFrame, sel::ByteSink& sink,
                    const std::function<bool()>& stop, Progress* progress, int64_t csvBytes) {
    sel::CacheWriter writer;
    if (!writer.Begin(sink, samplesPerFrame, AnnouncedSamples(csv))) return kRefused;
    std::vector<sel::SampleRecord> piece;
    piece.reserve(kPieceRecords);
    std::string line, f[4];
    int64_t lineNo = 0, rows = 0;
    int32_t current = -1, expectVertex = 0; // the sample being read, and its records so far
    bool emptySample = false;
    // the sample before a new one is whole: its records, then its count
    auto endSample = [&] {
        bool ok = current < 0 ||
                  (writer.AppendRecords(piece.data(), piece.size()) && writer.EndSample(expectVertex));
        piece.clear();
        return ok;
    };
    // the rules verify holds a file to: one tick per sample, and ticks moving one way between samples
    int32_t sampleTick = 0, lastTick = 0, lastTicked = -1, direction = 0;
    while (std::getline(csv, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (lineNo == 1 && line.rfind("\xef\xbb\xbf", 0) == 0) line.erase(0, 3); // a spreadsheet's byte-order mark
        if (line.empty() || (lineNo == 1 && line == "sample,vertex,weight,tick")) continue;
        if (!Fields(line, f)) return Bad(name, lineNo, "a row has four fields: sample,vertex,weight,tick");
        int32_t k, v, tick;
        float w;
        if (!Int32(f[0], k)) return Bad(name, lineNo, "sample " + Quoted(f[0]) + " is not a whole number");
        if (k < 0) return Bad(name, lineNo, "sample " + f[0] + " is negative; samples go 0, 1, 2, ...");
        if (k != current && k != current + 1)
            return Bad(name, lineNo,
                       "sample " + f[0] + " follows sample " + std::to_string(current) +
                           "; samples go 0, 1, 2, ...");
        bool starts = k == current + 1;
        if (!starts && emptySample) return Bad(name, lineNo, "sample " + f[0] + " was given as empty");
        if (f[1].empty() && f[2].empty() && f[3].empty()) {
            if (!starts) return Bad(name, lineNo, "an empty-sample row must be the sample's only row");
            if (!endSample()) return kRefused;
            current = k, expectVertex = 0;
            emptySample = true;
            continue;
        }
        emptySample = false;
        if (starts) {
            if (!endSample()) return kRefused;
            current = k, expectVertex = 0;
        }
        if (!Int32(f[1], v) || v != expectVertex)
            return Bad(name, lineNo,
                       "vertex " + Quoted(f[1]) + " where vertex " + std::to_string(expectVertex) +
                           " is next");
        if (!Float(f[2], w)) return Bad(name, lineNo, "weight " + Quoted(f[2]) + " is not a finite number");
        if (!Int32(f[3], tick))
            return Bad(name, lineNo, "tick " + Quoted(f[3]) + " is not a whole number of ticks");
        if (expectVertex > 0 && tick != sampleTick)
            return Bad(name, lineNo,
                       "tick " + f[3] + ", but the sample's first row has tick " + std::to_string(sampleTick));
        if (expectVertex == 0) {
            int32_t step = tick > lastTick ? 1 : tick < lastTick ? -1 : 0;
            if (lastTicked >= 0 && step == 0)
                return Bad(name, lineNo,
                           "sample " + f[0] + " has tick " + f[3] + ", as sample " + std::to_string(lastTicked) +
                               " has; each sample has a tick of its own");
            if (lastTicked >= 0 && direction != 0 && step != direction)
                return Bad(name, lineNo,
                           "sample " + f[0] + ": tick " + f[3] + " goes " + (step > 0 ? "up" : "down") +
                               " from " + std::to_string(lastTick) + " against the samples before");
            if (lastTicked >= 0) direction = step;
            sampleTick = lastTick = tick;
            lastTicked = k;
        }
        ++expectVertex;
        ++rows;
        piece.push_back({w, tick});
        if (piece.size() == kPieceRecords) {
            if (!writer.AppendRecords(piece.data(), piece.size())) return kRefused;
            piece.clear();
            if (progress) {
                int64_t at = int64_t(csv.tellg());
                progress->Show(at, csvBytes, [&] {
                    std::string of = csvBytes > 0 && at >= 0
                                         ? " (" + std::to_string(100 * at / csvBytes) + "% of the file)"
                                         : "";
                    return "line " + std::to_string(lineNo) + of + ", " +
                           Counted(int64_t(current) + 1, "sample");
                });
            }
            if (stop())
                return {kStopped,
                        name + ": stopped at line " + std::to_string(lineNo) + "; nothing was written"};
        }
    }
    if (csv.bad()) return {1, name + ": cannot be read"};
    // no line to name: an empty file has none, and a lone header line is not at fault
    if (current < 0) return {1, name + ": no rows: a cache file needs at least one sample"};
    if (!endSample() || !writer.Finish().empty()) return kRefused;
    return {0, "", writer.Samples(), rows};
}

namespace {
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
} // namespace

ToolVerb AddImportVerb(CLI::App& app) {
    struct Options {
        std::string csv, out;
        int32_t spf = 0;
    };
    auto o = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand("import", "Make a cache file from CSV rows sample,vertex,weight,tick");
    AddFileArgument(command, o->csv, "the CSV file");
    command->add_option("--out", o->out, "the cache file to write")->required();
    command->add_option("--samples-per-frame", o->spf, "samples per frame (header word 1)")
        ->required()
        ->check(CLI::Range(1, INT32_MAX));
    return {command, [o](Context& ctx) { return ImportVerb(o->csv, o->out, o->spf, ctx); }, true};
}

} // namespace tessarin
