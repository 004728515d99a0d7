// import: CSV rows sample,vertex,weight,tick into the variable-count file the recorder writes.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <istream>

#include "tools/tessarin/tool.h"

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
} // namespace

ImportResult Import(std::istream& csv, const std::string& name, int32_t samplesPerFrame, Sink& sink,
                    const std::function<bool()>& stop, Progress* progress, int64_t csvBytes) {
    std::string head = sel::EncodeHeader(sel::kWrittenFormatTag, samplesPerFrame, 0); // word 2 once counted
    if (!sink.Write(head)) return {1, name + ": the output cannot be written"};
    std::vector<int32_t> counts;
    std::string line, out, f[4];
    int64_t lineNo = 0, rows = 0;
    int32_t expectVertex = 0;
    bool emptySample = false;
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
        int32_t current = int32_t(counts.size()) - 1;
        if (k < 0) return Bad(name, lineNo, "sample " + f[0] + " is negative; samples go 0, 1, 2, ...");
        if (k != current && k != current + 1)
            return Bad(name, lineNo,
                       "sample " + f[0] + " follows sample " + std::to_string(current) +
                           "; samples go 0, 1, 2, ...");
        bool starts = k == current + 1;
        if (!starts && emptySample) return Bad(name, lineNo, "sample " + f[0] + " was given as empty");
        if (f[1].empty() && f[2].empty() && f[3].empty()) {
            if (!starts) return Bad(name, lineNo, "an empty-sample row must be the sample's only row");
            counts.push_back(0);
            emptySample = true;
            continue;
        }
        emptySample = false;
        if (starts) counts.push_back(0), expectVertex = 0;
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
        ++counts.back();
        ++rows;
        sel::PutF32(out, w);
        sel::PutI32(out, tick);
        if (out.size() >= (1 << 20)) {
            if (!sink.Write(out)) return {1, name + ": the output cannot be written"};
            out.clear();
            if (progress) {
                int64_t at = int64_t(csv.tellg());
                progress->Show(at, csvBytes, [&] {
                    std::string of = csvBytes > 0 && at >= 0
                                         ? " (" + std::to_string(100 * at / csvBytes) + "% of the file)"
                                         : "";
                    return "line " + std::to_string(lineNo) + of + ", " +
                           Counted(int64_t(counts.size()), "sample");
                });
            }
            if (stop())
                return {kStopped,
                        name + ": stopped at line " + std::to_string(lineNo) + "; nothing was written"};
        }
    }
    if (csv.bad()) return {1, name + ": cannot be read"};
    // no line to name: an empty file has none, and a lone header line is not at fault
    if (counts.empty()) return {1, name + ": no rows: a cache file needs at least one sample"};
    for (int32_t c : counts)
        sel::PutI32(out, c);
    std::string total;
    sel::PutI32(total, int32_t(counts.size()));
    if (!sink.Write(out) || !sink.WriteAt(8, total.data(), 4))
        return {1, name + ": the output cannot be written"};
    return {0, "", int32_t(counts.size()), rows};
}

} // namespace tessarin
