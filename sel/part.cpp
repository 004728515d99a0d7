// The part record: a few lines of "key values", written once when a part's recording ends.
#include "sel/part.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <iterator>
#include <map>
#include <sstream>

namespace sel {
namespace {
constexpr const char* kFirstLine = "tessarin part 2";
constexpr const char* kFirstFormat = "tessarin part 1"; // before the checksums

// The whole words of one line, each a number in [least, most].
bool Numbers(const std::vector<std::string>& words, size_t from, int64_t least, int64_t most,
             std::vector<int64_t>& out) {
    out.clear();
    for (size_t i = from; i < words.size(); ++i) {
        int64_t v = 0;
        const std::string& w = words[i];
        auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
        if (ec != std::errc() || end != w.data() + w.size() || v < least || v > most) return false;
        out.push_back(v);
    }
    return true;
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

bool IsToken(const std::string& s) {
    if (s.empty() || s.size() > 64) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// Each restart once, by sample then vertex; a sample's restart of every vertex stands alone.
std::vector<PartRestart> Canonical(std::vector<PartRestart> r) {
    std::sort(r.begin(), r.end(), [](const PartRestart& a, const PartRestart& b) {
        return a.sample != b.sample ? a.sample < b.sample : a.vertex < b.vertex;
    });
    std::vector<PartRestart> out;
    for (const PartRestart& x : r)
        if (out.empty() || out.back().sample != x.sample ||
            (out.back().vertex != -1 && out.back().vertex != x.vertex))
            out.push_back(x);
    return out;
}

// Where the restarts stand in the order Canonical() gives.
bool InOrder(const PartRestart& before, const PartRestart& r) {
    return before.sample < r.sample ||
           (before.sample == r.sample && before.vertex >= 0 && before.vertex < r.vertex);
}

std::string Hex(uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, v);
    return text;
}
} // namespace

std::string PartRecordPath(const std::string& cacheFile) { return cacheFile + ".part"; }

int64_t LargestPartRecord(int64_t partBytes) {
    // a line of "restart S V" takes at most 30 bytes; its part at least 4 (a count) or 8 (a record)
    return 1024 + 8 * std::max<int64_t>(partBytes, 0);
}

std::string EncodePartRecord(const PartRecord& p) {
    return ChecksummedLines(p) + "xxh3 " + Hex(p.partChecksum) + " " + Hex(p.linesChecksum) + "\nend\n";
}

std::string ChecksummedLines(const PartRecord& p) {
    std::ostringstream out;
    out << kFirstLine << "\n"
        << "recording " << p.recording << "\n"
        << "frames " << p.firstFrame << " " << p.lastFrame << "\n"
        << "whole " << p.wholeFirst << " " << p.wholeLast << "\n"
        << "samples-per-frame " << p.samplesPerFrame << "\n"
        << "ticks-per-frame " << p.ticksPerFrame << "\n"
        << "accumulate " << p.accumulate << "\n"
        << "quality " << p.quality << "\n"
        << "first-count " << p.firstCount << "\n"
        << "bytes " << p.fileBytes << "\n";
    for (const PartRestart& r : Canonical(p.restarts))
        out << "restart " << r.sample << " " << r.vertex << "\n";
    return out.str();
}

namespace {
const int64_t kI32 = INT32_MAX;

// The numeric keys: how many whole numbers each takes, their range, and where they go.
struct NumericKey {
    size_t count;
    int64_t least, most;
    std::vector<int64_t*> to;
};

// What the lines read so far hold.
struct Fields {
    int64_t v[10] = {};
    std::map<std::string, NumericKey> numeric = {
        {"frames", {2, -kI32, kI32, {&v[0], &v[1]}}}, {"whole", {2, -kI32, kI32, {&v[2], &v[3]}}},
        {"samples-per-frame", {1, 1, kI32, {&v[4]}}}, {"ticks-per-frame", {1, 1, kI32, {&v[5]}}},
        {"accumulate", {1, 0, 1, {&v[6]}}},           {"quality", {1, 1, kI32, {&v[7]}}},
        {"first-count", {1, -1, kI32, {&v[8]}}},      {"bytes", {1, 0, INT64_MAX, {&v[9]}}},
    };
    std::map<std::string, bool> seen;
};

// One line's words into `f` and `out`; "" or what is wrong with it.
std::string ReadLine(const std::vector<std::string>& words, Fields& f, PartRecord& out) {
    std::vector<int64_t> nums;
    const std::string& key = words[0];
    if (key == "restart") {
        if (words.size() != 3 || !Numbers(words, 1, -1, kI32, nums) || nums[0] < 0)
            return "\"restart\" takes a sample (0 or more) and a vertex (-1 for all)";
        PartRestart r{static_cast<int32_t>(nums[0]), static_cast<int32_t>(nums[1])};
        if (!out.restarts.empty() && !InOrder(out.restarts.back(), r))
            return "restarts out of order (by sample, then vertex, each once, a sample's -1 alone)";
        out.restarts.push_back(r);
        return "";
    }
    if (key == "xxh3") {
        uint64_t sums[2] = {};
        bool good = words.size() == 3;
        for (size_t i = 0; good && i < 2; ++i) {
            const std::string& w = words[i + 1];
            good = w.size() == 16 && IsToken(w) &&
                   std::from_chars(w.data(), w.data() + 16, sums[i], 16).ec == std::errc();
        }
        if (!good) return "\"xxh3\" takes two checksums of 16 hex digits";
        out.partChecksum = sums[0];
        out.linesChecksum = sums[1];
    } else if (key == "recording") {
        if (words.size() != 2 || !IsToken(words[1])) return "\"recording\" takes one hex word";
        out.recording = words[1];
    } else if (auto it = f.numeric.find(key); it != f.numeric.end()) {
        const NumericKey& k = it->second;
        if (words.size() != k.count + 1 || !Numbers(words, 1, k.least, k.most, nums))
            return "\"" + key + "\" takes " + std::to_string(k.count) + " whole number" +
                   (k.count == 1 ? "" : "s") + " from " + std::to_string(k.least);
        for (size_t i = 0; i < k.count; ++i)
            *k.to[i] = nums[i];
    } else {
        return "unknown key \"" + key + "\"";
    }
    if (f.seen[key]) return "\"" + key + "\" given twice";
    f.seen[key] = true;
    return "";
}

// The numbers into `out`, once every key was read; "" or what is missing or out of order.
std::string Complete(Fields& f, PartRecord& out) {
    for (const char* key : {"recording", "frames", "whole", "samples-per-frame", "ticks-per-frame",
                            "accumulate", "quality", "first-count", "bytes", "xxh3"})
        if (!f.seen[key]) return std::string("\"").append(key).append("\" is missing");
    int32_t* to[] = {&out.firstFrame, &out.lastFrame,       &out.wholeFirst,
                     &out.wholeLast,  &out.samplesPerFrame, &out.ticksPerFrame,
                     &out.accumulate, &out.quality,         &out.firstCount};
    for (size_t i = 0; i < std::size(to); ++i)
        *to[i] = static_cast<int32_t>(f.v[i]);
    out.fileBytes = f.v[9];
    if (out.firstFrame > out.lastFrame || out.wholeFirst > out.wholeLast || out.firstFrame < out.wholeFirst ||
        out.lastFrame > out.wholeLast)
        return "frames " + std::to_string(out.firstFrame) + "-" + std::to_string(out.lastFrame) +
               " do not lie in order inside the whole " + std::to_string(out.wholeFirst) + "-" +
               std::to_string(out.wholeLast);
    return "";
}
} // namespace

std::string DecodePartRecord(const std::string& text, PartRecord& out) {
    out = PartRecord{};
    std::istringstream in(text);
    std::string line;
    bool got = bool(std::getline(in, line));
    if (got && line == kFirstFormat)
        return "line 1: a record of an older vomark, without the checksums that bind it to its part";
    if (!got || line != kFirstLine)
        return "line 1: not a part record (it starts with \"" + std::string(kFirstLine) + "\")";
    int number = 1;
    Fields fields;
    bool ended = false;
    while (std::getline(in, line)) {
        ++number;
        std::vector<std::string> words = Words(line);
        std::string why = ended                                    ? "text after \"end\""
                          : words.empty()                          ? "an empty line"
                          : words.size() == 1 && words[0] == "end" ? ""
                                                                   : ReadLine(words, fields, out);
        if (!why.empty()) return "line " + std::to_string(number) + ": " + why;
        ended = ended || (words.size() == 1 && words[0] == "end");
    }
    std::string why = ended ? Complete(fields, out) : "the record ends without \"end\" (cut short)";
    return why.empty() ? "" : "line " + std::to_string(number) + ": " + why;
}

} // namespace sel
