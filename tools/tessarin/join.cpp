// join: parts of one recording (vomark record --frames A:B) into the file one recording of the whole
// range writes. The parts are checked first (they belong together, are complete and tile the range);
// then the samples stream through in order, a piece at a time, so memory does not grow with the file.
// With accumulateSelection a part's running largest weights started afresh at its first capture; the
// whole's kept on from the part before, so each weight becomes the larger of the two, as the capture
// keeps the larger (a tie or a NaN keeps the part's own), until the weight started afresh in the
// whole too: a NaN, a change of the point count, or a restart the part record names.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "sel/format.h"
#include "sel/part.h"
#include "tools/tessarin/tool.h"

namespace tessarin {
namespace {

struct Checked {
    const JoinPart* in = nullptr;
    sel::Layout layout;
    sel::PartRecord record;
};

// "frame 4" / "frames 4-7"
std::string Frames(int64_t a, int64_t b) {
    return a == b ? "frame " + std::to_string(a) : "frames " + std::to_string(a) + "-" + std::to_string(b);
}
std::string Range(int64_t a, int64_t b) { return std::to_string(a) + ":" + std::to_string(b); }
// "frame 4 is" / "frames 4-7 are"
std::string FramesAre(int64_t a, int64_t b) { return Frames(a, b) + (a == b ? " is" : " are"); }

// One part on its own: a complete cache file as its part record describes it. "" or the line.
std::string CheckPart(const JoinPart& in, Checked& out) {
    out.in = &in;
    if (!in.recordFound)
        return in.name + ": has no part record (" + sel::PartRecordPath(in.name) +
               "): record it with vomark record SCENE --frames A:B";
    if (std::string why = sel::DecodePartRecord(in.recordText, out.record); !why.empty())
        return sel::PartRecordPath(in.name) + ": " + why + ": record the part again";
    const sel::PartRecord& r = out.record;
    std::string again = ": record it again with --frames " + Range(r.firstFrame, r.lastFrame);
    sel::Status st = sel::ReadLayout(*in.source, out.layout, true);
    if (!st.ok) return At(in.name, st.at, st.message) + " (" + sel::FaultName(st.fault) + ")" + again;
    const sel::Layout& l = out.layout;
    if (!l.variable || l.header.samplesPerFrame != r.samplesPerFrame)
        return in.name + ": is not the file its part record describes" + again;
    if (l.fileBytes != r.fileBytes)
        return in.name + ": has " + std::to_string(l.fileBytes) + " bytes, its part record says " +
               std::to_string(r.fileBytes) + " (changed since it was recorded)" + again;
    int64_t want = (int64_t(r.lastFrame) - r.firstFrame + 1) * r.samplesPerFrame;
    if (l.samples != want) {
        int64_t frames = l.samples / r.samplesPerFrame;
        std::string held = frames == 0 ? "no whole frame" : Frames(r.firstFrame, r.firstFrame + frames - 1);
        return in.name + ": holds " + held + ", it should hold " + Frames(r.firstFrame, r.lastFrame) +
               " (its recording was stopped)" + again;
    }
    return "";
}

// Every part of one recording, in frame order, tiling the whole range. "" or the lines.
std::string CheckTiling(std::vector<Checked>& parts) {
    std::string lines;
    const sel::PartRecord& a = parts.front().record;
    const std::string& first = parts.front().in->name;
    for (const Checked& p : parts) {
        const sel::PartRecord& b = p.record;
        std::string what = b.recording != a.recording ? "another scene or settings"
                           : b.wholeFirst != a.wholeFirst || b.wholeLast != a.wholeLast
                               ? "another frame range"
                           : b.samplesPerFrame != a.samplesPerFrame || b.ticksPerFrame != a.ticksPerFrame ||
                                   b.accumulate != a.accumulate || b.quality != a.quality
                               ? "other recorder settings"
                               : "";
        if (!what.empty())
            lines += p.in->name + ": belongs to another recording than " + first + " (" + what +
                     "): give only parts of one recording\n";
    }
    if (!lines.empty()) return lines;
    std::stable_sort(parts.begin(), parts.end(), [](const Checked& x, const Checked& y) {
        return x.record.firstFrame < y.record.firstFrame;
    });
    int64_t next = a.wholeFirst; // the first frame no part has covered yet
    for (size_t i = 0; i < parts.size(); ++i) {
        const sel::PartRecord& r = parts[i].record;
        if (r.firstFrame > next)
            lines += "no part holds " + Frames(next, r.firstFrame - 1) + ": record --frames " +
                     Range(next, r.firstFrame - 1) + " too\n";
        else if (r.firstFrame < next)
            lines += parts[i].in->name + ": " +
                     FramesAre(r.firstFrame, std::min<int64_t>(next - 1, r.lastFrame)) + " also in " +
                     parts[i - 1].in->name + ": give parts that do not overlap\n";
        next = std::max<int64_t>(next, int64_t(r.lastFrame) + 1);
    }
    if (next <= a.wholeLast)
        lines += "no part holds " + Frames(next, a.wholeLast) + ": record --frames " +
                 Range(next, a.wholeLast) + " too\n";
    return lines;
}

// The running largest weights of the whole as they stood before a part.
struct Carry {
    std::vector<float> weight;
    int32_t count = -1; // points of the sample they came from; -1: none
};

constexpr size_t kChunk = size_t(4) << 20;

class Writer {
  public:
    Writer(Sink& out, Context& ctx, int64_t total) : out_(out), ctx_(ctx), total_(total) {}
    // Copies bytes [from, to) of `src`; false on a read or write failure or a stop.
    bool Copy(const sel::Source& src, int64_t from, int64_t to) {
        buffer_.resize(kChunk);
        while (from < to) {
            size_t n = size_t(std::min<int64_t>(to - from, int64_t(kChunk)));
            if (src.ReadAt(from, buffer_.data(), n) != n || !Put(buffer_.data(), n)) return false;
            from += int64_t(n);
        }
        return true;
    }
    bool Put(const void* data, size_t n) {
        done_ += int64_t(n);
        ctx_.Show(done_, total_, [&] { return "writing, " + Megabytes(done_) + " of " + Megabytes(total_); });
        return !ctx_.stop() && out_.Write(data, n);
    }

  private:
    Sink& out_;
    Context& ctx_;
    int64_t total_, done_ = 0;
    std::vector<unsigned char> buffer_;
};

// Each weight becomes the larger of the part's and the whole's before the part, as the capture keeps
// the larger (a tie or a NaN keeps the part's); a NaN in the part started the whole afresh as well.
// Branch-free, so that the compiler vectorizes it.
void CarryInto(sel::SampleRecord* records, float* before, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        float b = records[i].weight, c = before[i];
        records[i].weight = b < c ? c : b;
        before[i] = b != b ? b : c;
    }
}

// Records a piece at a time, few enough to stay in the processor's caches between the read, the
// carry and the write.
constexpr size_t kPieceRecords = size_t(64) << 10;

// The weights of `n` records at byte `at` of `src` into `weights`.
bool ReadWeights(const sel::Source& src, int64_t at, int32_t n, std::vector<float>& weights) {
    weights.resize(size_t(n));
    std::vector<sel::SampleRecord> piece(std::min(size_t(n), kPieceRecords));
    for (size_t i = 0; i < size_t(n); i += piece.size()) {
        size_t m = std::min(piece.size(), size_t(n) - i);
        if (src.ReadAt(at + int64_t(i) * sel::kRecordBytes, piece.data(), m * 8) != m * 8) return false;
        for (size_t j = 0; j < m; ++j)
            weights[i + j] = piece[j].weight;
    }
    return true;
}

// Writes one part's samples, carrying `carry` in; with `keep`, leaves in it the whole's weights after
// the part, for the part after it.
bool WritePart(const Checked& p, bool accumulate, bool keep, Carry& carry, Writer& w) {
    const sel::Source& src = *p.in->source;
    const sel::Layout& l = p.layout;
    if (l.samples == 0) return true;
    const auto& restarts = p.record.restarts;
    bool chained = accumulate && carry.count >= 0 && p.record.firstCount == carry.count;
    std::vector<float> before = std::move(carry.weight); // the whole's weights before the part
    carry.count = -1;
    std::vector<sel::SampleRecord> piece;
    int64_t at = sel::kHeaderBytes;
    size_t r = 0;
    int32_t k = 0;
    for (; k < l.samples && chained; ++k) {
        int32_t n = l.counts[size_t(k)];
        for (; r < restarts.size() && restarts[r].sample <= k; ++r) {
            int32_t v = restarts[r].vertex;
            if (v < 0)
                chained = false;
            else if (size_t(v) < before.size())
                before[size_t(v)] = NAN;
        }
        if (n != int32_t(before.size())) chained = false; // a new point count starts afresh
        if (!chained) break;
        piece.resize(std::min(size_t(n), kPieceRecords));
        for (size_t i = 0; i < size_t(n); i += piece.size()) {
            size_t m = std::min(piece.size(), size_t(n) - i), bytes = m * sizeof(sel::SampleRecord);
            if (src.ReadAt(at, piece.data(), bytes) != bytes) return false;
            CarryInto(piece.data(), before.data() + i, m);
            if (!w.Put(piece.data(), bytes)) return false;
            at += int64_t(bytes);
        }
    }
    if (k < l.samples && !w.Copy(src, at, l.tableStart)) return false; // the rest is the part's own
    if (!keep) return true;
    // the whole's weights after the part: those of its last sample as just written
    int32_t last = l.counts.back();
    if (!ReadWeights(src, l.tableStart - int64_t(last) * sel::kRecordBytes, last, carry.weight)) return false;
    if (k == l.samples) // carried to the end: the last sample was written with the weights carried in
        for (size_t i = 0; i < carry.weight.size(); ++i) {
            float b = carry.weight[i], c = before[i];
            carry.weight[i] = b < c ? c : b;
        }
    carry.count = last;
    return true;
}
} // namespace

int Join(const std::vector<JoinPart>& inputs, Sink& out, const std::string& outName, Context& ctx,
         std::string* summary) {
    if (inputs.empty()) {
        ctx.err << outName << ": no parts to join\n";
        return 1;
    }
    std::vector<Checked> parts(inputs.size());
    std::string lines;
    for (size_t i = 0; i < inputs.size(); ++i)
        if (std::string why = CheckPart(inputs[i], parts[i]); !why.empty()) lines += why + "\n";
    if (lines.empty()) lines = CheckTiling(parts);
    if (!lines.empty()) {
        ctx.err << lines;
        return 1;
    }
    int64_t samples = 0, records = 0;
    for (const Checked& p : parts) {
        samples += p.layout.samples;
        records += p.layout.records;
    }
    if (samples > INT32_MAX) {
        ctx.err << outName << ": the parts hold " << samples << " samples, more than a cache file can\n";
        return 1;
    }
    const sel::PartRecord& a = parts.front().record;
    int64_t total = sel::kHeaderBytes + records * sel::kRecordBytes + 4 * samples;
    Writer w(out, ctx, total);
    int32_t header[3] = {sel::kWrittenFormatTag, a.samplesPerFrame, int32_t(samples)};
    bool ok = w.Put(header, sizeof header);
    Carry carry;
    for (size_t i = 0; ok && i < parts.size(); ++i)
        ok = WritePart(parts[i], a.accumulate != 0, a.accumulate != 0 && i + 1 < parts.size(), carry, w);
    for (size_t i = 0; ok && i < parts.size(); ++i) // the count table is the parts' tables in turn
        ok = w.Copy(*parts[i].in->source, parts[i].layout.tableStart, parts[i].layout.fileBytes);
    if (ctx.stop()) {
        ctx.err << "join stopped; " << outName << " was not written\n";
        return kStopped;
    }
    if (!ok) {
        ctx.err << outName << ": cannot be written (a part could not be read or the disk refused)\n";
        return 1;
    }
    std::string line = "wrote " + outName + ": " + Counted(samples, "sample") + " (" +
                       Frames(a.wholeFirst, a.wholeLast) + ") from " +
                       Counted(int64_t(parts.size()), "part") + ", " + std::to_string(total) + " bytes";
    if (summary)
        *summary = line;
    else
        ctx.out << line << "\n";
    return 0;
}

} // namespace tessarin
