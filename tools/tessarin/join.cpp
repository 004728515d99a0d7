// join: parts of one recording (vomark record --frames A:B) into the file one recording of the whole
// range writes. The parts are checked first (each passes verify's checks, they belong together, tile
// the range, and their ticks run on one into the next); then the samples stream through a
// sel::CacheWriter in order, a piece at a time, so memory does not grow with the file.
// With accumulateSelection a part's running largest weights started afresh at its first capture; the
// whole's kept on from the part before, so each weight becomes the larger of the two, as the capture
// keeps the larger (a tie or a NaN keeps the part's own), until the weight started afresh in the
// whole too: a NaN, a change of the point count, or a restart the part record names.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "sel/format.h"
#include "sel/part.h"
#include "sel/writer.h"
#include "tools/tessarin/tool.h"

namespace tessarin {
namespace {

struct Checked {
    const JoinPart* in = nullptr;
    sel::Layout layout;
    sel::PartRecord record;
    sel::WeightSummary ticks; // verify's: the first and last sample's ticks
};

// "frame 4" / "frames 4-7"
std::string Frames(int64_t a, int64_t b) {
    return a == b ? "frame " + std::to_string(a) : "frames " + std::to_string(a) + "-" + std::to_string(b);
}
std::string Range(int64_t a, int64_t b) { return std::to_string(a) + ":" + std::to_string(b); }
// "frame 4 is" / "frames 4-7 are"
std::string FramesAre(int64_t a, int64_t b) { return Frames(a, b) + (a == b ? " is" : " are"); }

// One part on its own: a file verify passes, complete as its part record describes it. "" or the
// line; `stopped` when a stop request ended the check.
std::string CheckPart(const JoinPart& in, Checked& out, Context& ctx, bool& stopped) {
    out.in = &in;
    if (!in.recordFound)
        return in.name + ": has no part record (" + sel::PartRecordPath(in.name) +
               "): record it with vomark record SCENE --frames A:B";
    if (std::string why = sel::DecodePartRecord(in.recordText, out.record); !why.empty())
        return sel::PartRecordPath(in.name) + ": " + why + ": record the part again";
    const sel::PartRecord& r = out.record;
    std::string again = ": record it again with --frames " + Range(r.firstFrame, r.lastFrame);
    // what verify would say of it: a part that plays can still hold ticks or counts no recorder wrote,
    // and the joined file would carry them
    sel::VerifyReport report = sel::VerifyFile(ShownSource(*in.source, ctx, "checking " + in.name), ctx.stop);
    if (report.stopped) {
        stopped = true;
        return "";
    }
    if (sel::Fault verdict = report.Verdict(); verdict != sel::Fault::None) {
        auto f = std::find_if(report.findings.begin(), report.findings.end(),
                              [&](const sel::Finding& x) { return x.fault == verdict; });
        return FindingLine(in.name, *f) + again;
    }
    out.ticks = report.weights;
    sel::Status st = sel::ReadLayout(*in.source, out.layout, true);
    if (!st.ok) return FindingLine(in.name, {st.fault, st.at, st.message}) + again;
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

int Step(int32_t from, int32_t to) { return to > from ? 1 : to < from ? -1 : 0; }

// The parts' ticks in the order they are joined. Each part's move one way (verify saw to that); the
// whole's must too, across every boundary, or verify would call the joined file damaged: parts of
// one recording always run on, so a part that does not was recorded otherwise. "" or the line.
std::string CheckTicks(const std::vector<Checked>& parts) {
    int direction = 0;
    const Checked* before = nullptr;
    for (const Checked& p : parts) {
        const sel::WeightSummary& t = p.ticks;
        if (!t.hasTicks) continue; // samples without records have no tick
        if (before) {
            int32_t last = before->ticks.lastTick;
            int step = Step(last, t.firstTick);
            if (step == 0 || (direction != 0 && step != direction))
                return p.in->name + ": its first tick, " + std::to_string(t.firstTick) +
                       (step == 0 ? ", is the last tick of " : ", does not run on from the last tick of ") +
                       before->in->name + ", " + std::to_string(last) + ": record it again with --frames " +
                       Range(p.record.firstFrame, p.record.lastFrame);
            direction = step;
        }
        if (int own = Step(t.firstTick, t.lastTick); own != 0 && direction != 0 && own != direction)
            return p.in->name + ": its ticks run the other way from those of " + before->in->name +
                   ": record it again with --frames " + Range(p.record.firstFrame, p.record.lastFrame);
        else if (own != 0)
            direction = own;
        before = &p;
    }
    return "";
}

// The running largest weights of the whole as they stood before a part.
struct Carry {
    std::vector<float> weight;
    int32_t count = -1; // points of the sample they came from; -1: none
};

constexpr size_t kChunkRecords = size_t(512) << 10; // 4 MB

// The joined file as it is written: the samples through a CacheWriter, how far it has come shown, a
// stop request heard between pieces, and a part that could not be read named.
class Writer {
  public:
    Writer(sel::CacheWriter& out, Context& ctx, int64_t total) : out_(out), ctx_(ctx), total_(total) {}
    // n bytes at `at` of part p; false, with the line kept for Problem(), when they cannot be read.
    bool Read(const Checked& p, int64_t at, void* dst, size_t n) {
        if (p.in->source->ReadAt(at, dst, n) == n) return true;
        problem_ = At(p.in->name, at, "cannot be read here (did it change while read?)");
        return false;
    }
    // Records of the current sample; false on a stop or a write the sink refused.
    bool Put(const sel::SampleRecord* records, size_t n) {
        done_ += int64_t(n) * sel::kRecordBytes;
        ctx_.Show(done_, total_, [&] { return "writing, " + Megabytes(done_) + " of " + Megabytes(total_); });
        return !ctx_.stop() && out_.AppendRecords(records, n);
    }
    bool End(int32_t count) { return out_.EndSample(count); }
    // Samples k onwards of part p, the first starting at byte `at`, read a chunk at a time.
    bool Copy(const Checked& p, int32_t k, int64_t at) {
        const sel::Layout& l = p.layout;
        buffer_.resize(kChunkRecords);
        size_t have = 0, used = 0; // records in the buffer, and of those, written
        for (; k < l.samples; ++k) {
            for (int32_t left = l.counts[size_t(k)]; left > 0;) {
                if (used == have) {
                    have = size_t(
                        std::min<int64_t>((l.tableStart - at) / sel::kRecordBytes, int64_t(kChunkRecords)));
                    if (have == 0) // the layout was checked: only a file changed since can end here
                        problem_ = At(p.in->name, at,
                                      "holds fewer records than its count table (did it change while read?)");
                    if (have == 0 || !Read(p, at, buffer_.data(), have * sel::kRecordBytes)) return false;
                    at += int64_t(have) * sel::kRecordBytes;
                    used = 0;
                }
                size_t m = std::min(size_t(left), have - used);
                if (!Put(buffer_.data() + used, m)) return false;
                used += m;
                left -= int32_t(m);
            }
            if (!End(l.counts[size_t(k)])) return false;
        }
        return true;
    }
    const std::string& Problem() const { return problem_; }

  private:
    sel::CacheWriter& out_;
    Context& ctx_;
    int64_t total_, done_ = sel::kHeaderBytes;
    std::vector<sel::SampleRecord> buffer_;
    std::string problem_;
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

// The weights of `n` records at byte `at` of part p into `weights`.
bool ReadWeights(const Checked& p, int64_t at, int32_t n, std::vector<float>& weights, Writer& w) {
    weights.resize(size_t(n));
    std::vector<sel::SampleRecord> piece(std::min(size_t(n), kPieceRecords));
    for (size_t i = 0; i < size_t(n); i += piece.size()) {
        size_t m = std::min(piece.size(), size_t(n) - i);
        if (!w.Read(p, at + int64_t(i) * sel::kRecordBytes, piece.data(), m * sel::kRecordBytes))
            return false;
        for (size_t j = 0; j < m; ++j)
            weights[i + j] = piece[j].weight;
    }
    return true;
}

// Writes one part's samples, carrying `carry` in; with `keep`, leaves in it the whole's weights after
// the part, for the part after it.
bool WritePart(const Checked& p, bool accumulate, bool keep, Carry& carry, Writer& w) {
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
            size_t m = std::min(piece.size(), size_t(n) - i);
            if (!w.Read(p, at, piece.data(), m * sel::kRecordBytes)) return false;
            CarryInto(piece.data(), before.data() + i, m);
            if (!w.Put(piece.data(), m)) return false;
            at += int64_t(m) * sel::kRecordBytes;
        }
        if (!w.End(n)) return false;
    }
    if (!w.Copy(p, k, at)) return false; // the rest is the part's own
    if (!keep) return true;
    // the whole's weights after the part: those of its last sample as just written
    int32_t last = l.counts.back();
    if (!ReadWeights(p, l.tableStart - int64_t(last) * sel::kRecordBytes, last, carry.weight, w))
        return false;
    if (k == l.samples) // carried to the end: the last sample was written with the weights carried in
        for (size_t i = 0; i < carry.weight.size(); ++i) {
            float b = carry.weight[i], c = before[i];
            carry.weight[i] = b < c ? c : b;
        }
    carry.count = last;
    return true;
}
} // namespace

int Join(const std::vector<JoinPart>& inputs, sel::ByteSink& out, const std::string& outName, Context& ctx,
         std::string* summary) {
    if (inputs.empty()) {
        ctx.err << outName << ": no parts to join\n";
        return 1;
    }
    std::vector<Checked> parts(inputs.size());
    std::string lines;
    bool stopped = false;
    for (size_t i = 0; i < inputs.size() && !stopped; ++i)
        if (std::string why = CheckPart(inputs[i], parts[i], ctx, stopped); !why.empty()) lines += why + "\n";
    if (stopped) {
        ctx.err << "join stopped while checking the parts; " << outName << " was not written\n";
        return kStopped;
    }
    if (lines.empty()) lines = CheckTiling(parts);
    if (lines.empty()) lines = CheckTicks(parts);
    if (!lines.empty()) {
        ctx.err << lines << (lines.back() == '\n' ? "" : "\n");
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
    // word 2 is known before the first sample: written once, in order, so a FIFO can take the file
    sel::CacheWriter writer;
    Writer w(writer, ctx, total);
    bool ok = writer.Begin(out, a.samplesPerFrame, int32_t(samples));
    Carry carry;
    for (size_t i = 0; ok && i < parts.size(); ++i)
        ok = WritePart(parts[i], a.accumulate != 0, a.accumulate != 0 && i + 1 < parts.size(), carry, w);
    if (ctx.stop()) {
        ctx.err << "join stopped; " << outName << " was not written\n";
        return kStopped;
    }
    if (!w.Problem().empty()) {
        ctx.err << w.Problem() << "; " << outName << " was not written\n";
        return 1;
    }
    if (!ok || !writer.Finish().empty()) return 1; // the sink refused a write: its owner says why
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
