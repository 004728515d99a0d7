// The part record: a few lines of "key values", written once when a part's recording ends.
#include "sel/part.h"

#include <charconv>
#include <map>
#include <sstream>

namespace sel {
namespace {
constexpr const char* kFirstLine = "tessarin part 1";

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
} // namespace

std::string PartRecordPath(const std::string& cacheFile) { return cacheFile + ".part"; }

std::string EncodePartRecord(const PartRecord& p) {
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
    for (const PartRestart& r : p.restarts)
        out << "restart " << r.sample << " " << r.vertex << "\n";
    out << "end\n";
    return out.str();
}

std::string DecodePartRecord(const std::string& text, PartRecord& out) {
    out = PartRecord{};
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) { return "line " + std::to_string(number) + ": " + why; };
    if (!std::getline(in, line) || (++number, line != kFirstLine))
        return "line 1: not a part record (it starts with \"" + std::string(kFirstLine) + "\")";
    // key -> fields, range of each, where it goes
    struct Field {
        size_t count;
        int64_t least, most;
        std::vector<int64_t*> to;
    };
    int64_t v[11] = {};
    const int64_t kI32 = INT32_MAX;
    std::map<std::string, Field> fields = {
        {"frames", {2, -kI32, kI32, {&v[0], &v[1]}}}, {"whole", {2, -kI32, kI32, {&v[2], &v[3]}}},
        {"samples-per-frame", {1, 1, kI32, {&v[4]}}}, {"ticks-per-frame", {1, 1, kI32, {&v[5]}}},
        {"accumulate", {1, 0, 1, {&v[6]}}},           {"quality", {1, 1, kI32, {&v[7]}}},
        {"first-count", {1, -1, kI32, {&v[8]}}},      {"bytes", {1, 0, INT64_MAX, {&v[9]}}},
    };
    std::map<std::string, bool> seen;
    std::vector<int64_t> nums;
    bool ended = false;
    while (std::getline(in, line)) {
        ++number;
        if (ended) return fail("text after \"end\"");
        std::vector<std::string> words = Words(line);
        if (words.empty()) return fail("an empty line");
        const std::string& key = words[0];
        if (key == "end" && words.size() == 1) {
            ended = true;
            continue;
        }
        if (key == "recording") {
            if (words.size() != 2 || !IsToken(words[1])) return fail("\"recording\" takes one hex word");
            out.recording = words[1];
        } else if (key == "restart") {
            if (words.size() != 3 || !Numbers(words, 1, -1, kI32, nums) || nums[0] < 0)
                return fail("\"restart\" takes a sample (0 or more) and a vertex (-1 for all)");
            if (!out.restarts.empty() && nums[0] < out.restarts.back().sample)
                return fail("restarts out of sample order");
            out.restarts.push_back({static_cast<int32_t>(nums[0]), static_cast<int32_t>(nums[1])});
            continue;
        } else if (auto it = fields.find(key); it != fields.end()) {
            const Field& f = it->second;
            if (words.size() != f.count + 1 || !Numbers(words, 1, f.least, f.most, nums))
                return fail("\"" + key + "\" takes " + std::to_string(f.count) + " whole number" +
                            (f.count == 1 ? "" : "s") + " from " + std::to_string(f.least));
            for (size_t i = 0; i < f.count; ++i)
                *f.to[i] = nums[i];
        } else {
            return fail("unknown key \"" + key + "\"");
        }
        if (seen[key]) return fail("\"" + key + "\" given twice");
        seen[key] = true;
    }
    if (!ended) return "line " + std::to_string(number) + ": the record ends without \"end\" (cut short)";
    for (const char* key : {"recording", "frames", "whole", "samples-per-frame", "ticks-per-frame",
                            "accumulate", "quality", "first-count", "bytes"})
        if (!seen[key]) return "line " + std::to_string(number) + ": \"" + key + "\" is missing";
    out.firstFrame = static_cast<int32_t>(v[0]);
    out.lastFrame = static_cast<int32_t>(v[1]);
    out.wholeFirst = static_cast<int32_t>(v[2]);
    out.wholeLast = static_cast<int32_t>(v[3]);
    out.samplesPerFrame = static_cast<int32_t>(v[4]);
    out.ticksPerFrame = static_cast<int32_t>(v[5]);
    out.accumulate = static_cast<int32_t>(v[6]);
    out.quality = static_cast<int32_t>(v[7]);
    out.firstCount = static_cast<int32_t>(v[8]);
    out.fileBytes = v[9];
    if (out.firstFrame > out.lastFrame || out.wholeFirst > out.wholeLast || out.firstFrame < out.wholeFirst ||
        out.lastFrame > out.wholeLast)
        return "frames " + std::to_string(out.firstFrame) + "-" + std::to_string(out.lastFrame) +
               " do not lie in order inside the whole " + std::to_string(out.wholeFirst) + "-" +
               std::to_string(out.wholeLast);
    return "";
}

} // namespace sel
