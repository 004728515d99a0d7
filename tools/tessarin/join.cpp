// join: parts of one recording (vomark record --frames A:B) into the file one recording of the whole
// range writes. Each part is checked first, one open at a time, on all but its records: its header,
// count table and sizes as verify checks them, what its part record says of it, its first point
// count and ticks against its frames; then that the parts belong together, tile the range, and
// their ticks run on one into the next. Then each is opened again and read once, a piece at a time:
// every record through verify's rules and every byte into the checksum its part record holds, as
// its samples stream through a sel::CacheWriter, so that neither the open files nor memory grow
// with the parts. A part that fails there leaves the joined file unwritten (its replace is never
// committed); a device or FIFO, which would keep what it was given, has the parts read through
// their checks once before.
// With accumulateSelection a part's running largest weights started afresh at its first capture; the
// whole's kept on from the part before, so each weight becomes the larger of the two, as the capture
// keeps the larger (a tie or a NaN keeps the part's own), until the weight started afresh in the
// whole too: a NaN, a change of the point count, or a restart the part record names.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <system_error>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#ifdef TESSARIN_XXH_DISPATCH
#define XXH_STATIC_LINKING_ONLY // the state of a streaming checksum, kept in PartReader
#include <xxh_x86dispatch.h>
#include <xxhash.h>
#else
#define XXH_INLINE_ALL
#include <xxhash.h>
#endif

#include "sel/format.h"
#include "sel/part.h"
#include "sel/reader.h"
#include "sel/writer.h"
#include "tools/tessarin/verbs.h"

namespace tessarin {
namespace {

// What the check keeps of a part for the tiling and the copy: its record and a few numbers, never
// its count table, so that memory does not grow with the parts.
struct Checked {
    const JoinPart* in = nullptr;
    sel::PartRecord record;
    int32_t samples = 0, lastCount = 0;
    int64_t records = 0, tableStart = 0;
    bool hasTicks = false;  // it has a record, and so a first tick
    int32_t firstTick = 0;
    int64_t frameZero = 0;  // the tick its samples put frame 0 at, when hasTicks
};

// "frame 4" / "frames 4-7"
std::string Frames(int64_t a, int64_t b) {
    return a == b ? "frame " + std::to_string(a) : "frames " + std::to_string(a) + "-" + std::to_string(b);
}
std::string Range(int64_t a, int64_t b) { return std::to_string(a) + ":" + std::to_string(b); }
// "frame 4 is" / "frames 4-7 are"
std::string FramesAre(int64_t a, int64_t b) { return Frames(a, b) + (a == b ? " is" : " are"); }
std::string Again(const sel::PartRecord& r) {
    return ": record it again with --frames " + Range(r.firstFrame, r.lastFrame);
}

// Adds bytes [from, to) of `src` to the checksum; false when they cannot be read.
bool HashRange(const sel::Source& src, int64_t from, int64_t to, XXH3_state_t& state) {
    std::vector<char> piece(size_t(std::clamp<int64_t>(to - from, 0, int64_t(1) << 20)));
    for (int64_t at = from; at < to;) {
        size_t n = size_t(std::min<int64_t>(int64_t(piece.size()), to - at));
        if (src.ReadAt(at, piece.data(), n) != n) return false;
        XXH3_64bits_update(&state, piece.data(), n);
        at += int64_t(n);
    }
    return true;
}

// How far ticks past 2^24 may lie from where the frames put them: the recorder computes a sample's
// time as a float, which rounds there.
int64_t Slack(int64_t a, int64_t b) { return std::max(std::llabs(a), std::llabs(b)) >> 23; }

// What the part's samples say against what its record says of them: the first point count, the
// restarts, and the ticks of the first and last sample with records against the frames. "" or the
// line. Reads the count table an entry at a time and two records.
std::string CrossCheck(const sel::Source& src, Checked& c) {
    const sel::PartRecord& r = c.record;
    const std::string& name = c.in->name;
    bool restartsAll = !r.restarts.empty() && r.restarts.front().sample == 0 && r.restarts.front().vertex < 0;
    sel::CountReader counts(src, c.tableStart, c.samples);
    int64_t before = 0;            // records before sample k
    int32_t first = -1, last = -1; // the first and last sample with records
    int64_t firstAt = 0, lastAt = 0;
    size_t restart = 0;
    for (int32_t k = 0; k < c.samples; ++k) {
        int32_t n = 0;
        if (!counts.Next(n))
            return At(name, c.tableStart + 4 * int64_t(k), "cannot be read here (did it change while read?)");
        if (k == 0 && r.firstCount >= 0 && !restartsAll && n != r.firstCount)
            return name + ": its part record's first-count is " + std::to_string(r.firstCount) +
                   ", but its first sample holds " + Counted(n, "point") + Again(r);
        for (; restart < r.restarts.size() && r.restarts[restart].sample == k; ++restart)
            if (r.restarts[restart].vertex >= n)
                return name + ": its part record restarts vertex " +
                       std::to_string(r.restarts[restart].vertex) + " at sample " + std::to_string(k) +
                       ", which holds " + Counted(n, "point") + Again(r);
        if (n > 0) {
            if (first < 0) first = k, firstAt = before;
            last = k, lastAt = before;
        }
        before += n;
        if (k + 1 == c.samples) c.lastCount = n;
    }
    if (restart < r.restarts.size())
        return name + ": its part record restarts a weight at sample " +
               std::to_string(r.restarts[restart].sample) + ", but it holds " + Counted(c.samples, "sample") +
               Again(r);
    if (first < 0) return ""; // no record, no tick
    // a frame's samples lie `step` ticks apart from the frame's tick on; the frames of a recording lie
    // where its first tick put them, less than a frame from a whole multiple of ticks-per-frame
    int64_t tpf = r.ticksPerFrame, spf = r.samplesPerFrame, step = tpf / spf;
    auto tickOf = [&](int64_t at) {
        sel::SampleRecord rec;
        return src.ReadAt(sel::kHeaderBytes + at * sel::kRecordBytes, &rec, sizeof rec) == sizeof rec
                   ? std::optional<int64_t>(rec.time)
                   : std::nullopt;
    };
    auto frameOf = [&](int32_t k) { return int64_t(r.firstFrame) + k / spf; };
    auto base = [&](int32_t k) { return frameOf(k) * tpf + (k % spf) * step; };
    std::optional<int64_t> t0 = tickOf(firstAt), t1 = tickOf(lastAt);
    if (!t0 || !t1) return At(name, sel::kHeaderBytes, "cannot be read here (did it change while read?)");
    int64_t zero = *t0 - base(first), slack = Slack(*t0, *t1);
    if (std::llabs(zero) >= tpf + slack)
        return name + ": its sample " + std::to_string(first) + " has tick " + std::to_string(*t0) +
               ", no tick of frame " + std::to_string(frameOf(first)) + " (" +
               std::to_string(frameOf(first) * tpf) + " ± " + std::to_string(tpf - 1) +
               "), where its part record (" + Frames(r.firstFrame, r.lastFrame) + ") puts it" + Again(r);
    if (std::llabs(*t1 - base(last) - zero) > slack)
        return name + ": its sample " + std::to_string(last) + " has tick " + std::to_string(*t1) +
               ", where its first tick and its part record (" + Counted(tpf, "tick") + " and " +
               Counted(spf, "sample") + " a frame) put tick " + std::to_string(base(last) + zero) + Again(r);
    c.hasTicks = true;
    c.firstTick = int32_t(*t0);
    c.frameZero = zero;
    return "";
}

// One part on its own, all but its records: its header, count table and sizes as verify checks
// them, complete as its part record describes it, and the record the lines' checksum was taken of.
// Its records, and the checksum of its bytes, are checked as they are read (Scan). "" or the line.
std::string CheckPart(const JoinPart& in, Checked& out) {
    out.in = &in;
    if (!in.recordFound)
        return in.name + ": has no part record (" + sel::PartRecordPath(in.name) +
               "): record it with vomark record SCENE --frames A:B";
    if (std::string why = sel::DecodePartRecord(in.recordText, out.record); !why.empty())
        return sel::PartRecordPath(in.name) + ": " + why + ": record the part again";
    const sel::PartRecord& r = out.record;
    std::string error;
    PartBytes bytes = in.open(error);
    if (!bytes) return error.empty() ? in.name + ": cannot be opened" : error;
    sel::VerifyReport report = sel::VerifyLayout(*bytes);
    if (sel::Fault verdict = report.Verdict(); verdict != sel::Fault::None) {
        auto f = std::find_if(report.findings.begin(), report.findings.end(),
                              [&](const sel::Finding& x) { return x.fault == verdict; });
        return FindingLine(in.name, *f) + Again(r);
    }
    const sel::Layout& l = report.layout;
    if (!report.playable || !l.variable || l.header.samplesPerFrame != r.samplesPerFrame)
        return in.name + ": is not the file its part record describes" + Again(r);
    if (l.fileBytes != r.fileBytes)
        return in.name + ": has " + std::to_string(l.fileBytes) + " bytes, its part record says " +
               std::to_string(r.fileBytes) + " (changed since it was recorded)" + Again(r);
    int64_t want = (int64_t(r.lastFrame) - r.firstFrame + 1) * r.samplesPerFrame;
    if (l.samples != want) {
        int64_t frames = l.samples / r.samplesPerFrame;
        std::string held = frames == 0 ? "no whole frame" : Frames(r.firstFrame, r.firstFrame + frames - 1);
        return in.name + ": holds " + held + ", it should hold " + Frames(r.firstFrame, r.lastFrame) +
               " (its recording was stopped)" + Again(r);
    }
    out.samples = l.samples;
    out.records = l.records;
    out.tableStart = l.tableStart;
    if (std::string why = CrossCheck(*bytes, out); !why.empty()) return why;
    std::string lines = sel::ChecksummedLines(r);
    if (XXH3_64bits(lines.data(), lines.size()) != r.linesChecksum)
        return sel::PartRecordPath(in.name) +
               ": its lines are not those vomark wrote (their checksum differs)" + ": record the part again";
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

// The parts' ticks in the order they are joined: each part's put its frames where the first part's
// put them (each put its own within a frame of their ticks-per-frame multiples), or the joined file
// would not run on as one recording. "" or the line.
std::string CheckFrames(const std::vector<Checked>& parts) {
    const Checked* first = nullptr; // the first part whose samples have ticks
    for (const Checked& p : parts) {
        if (!p.hasTicks) continue; // samples without records have no tick
        if (!first) first = &p;
        int64_t frame = p.record.firstFrame, at = frame * p.record.ticksPerFrame;
        if (std::llabs(p.frameZero - first->frameZero) > Slack(p.firstTick, first->firstTick))
            return p.in->name + ": its ticks put frame " + std::to_string(frame) + " at tick " +
                   std::to_string(at + p.frameZero) + ", those of " + first->in->name + " at tick " +
                   std::to_string(at + first->frameZero) + Again(p.record);
    }
    return "";
}

// The running largest weights of the whole as they stood before a part.
struct Carry {
    std::vector<float> weight;
    int32_t count = -1;       // points of the sample they came from; -1: none
    std::vector<float> spare; // the weights of the part before last, kept for their memory
};

// Records read and written at a time (4 MiB), as a plain copy would.
constexpr size_t kPieceRecords = size_t(512) << 10;
// Records taken through the checksum, the rules and the carry one after the other (16 KiB): few
// enough to stay in the first-level cache between the three.
constexpr size_t kBlockRecords = size_t(2) << 10;

// The joined file as it is written: the samples through a CacheWriter, how far it has come shown,
// and a stop request heard between pieces. The join's buffer has two halves: a piece is read into
// one while the records put from the other are written, on a thread of their own, all of them as
// one piece across the samples they end (the system takes a large write in large pages of its
// cache, so a piece of a few samples costs less than each on its own). Reading and checking the
// next piece then costs the join little beyond what writing takes. Without a writer it only reads
// (the parts are checked before a byte is written where what is written cannot be taken back).
class Writer {
  public:
    Writer(sel::CacheWriter* out, Context& ctx, int64_t total, std::string what)
        : out_(out), ctx_(ctx), total_(total), what_(std::move(what)),
          buffer_(std::make_unique_for_overwrite<sel::SampleRecord[]>((out ? 2 : 1) * kPieceRecords)) {}
    ~Writer() { Wait(); }
    // The half the next piece is read into (kPieceRecords): nothing being written lies in it.
    sel::SampleRecord* Free() { return buffer_.get() + half_ * kPieceRecords; }
    // Records of the current sample, in the free half right after those put before since the last
    // Drain; false on a stop.
    bool Put(const sel::SampleRecord* records, size_t n) {
        done_ += int64_t(n) * sel::kRecordBytes;
        ctx_.Show(done_, total_,
                  [&] { return what_ + ", " + Megabytes(done_) + " of " + Megabytes(total_); });
        if (ctx_.stop()) return false;
        if (!out_) return true;
        if (pending_ == 0) first_ = records;
        pending_ += n;
        return true;
    }
    // The end of the current sample: ended in the writer after its records are written.
    void End(int32_t count) {
        if (out_) ended_.push_back(count);
    }
    // Waits for the piece being written, then starts writing the records put since the last Drain
    // and ending their samples; the other half is free from then on. False when the sink refused a
    // piece.
    bool Drain() {
        if (!Wait()) return false;
        if (!out_ || (pending_ == 0 && ended_.empty())) return true;
        auto write = [out = out_, first = first_, n = pending_, ended = std::move(ended_)] {
            bool ok = out->AppendRecords(first, n);
            for (int32_t count : ended)
                ok = ok && out->EndSample(count);
            return ok;
        };
        try {
            writing_ = std::async(std::launch::async, write);
        } catch (const std::system_error&) {
            if (!write()) return false; // no thread to be had: written here, the reading waits
        }
        ended_.clear();
        pending_ = 0;
        half_ ^= 1;
        return true;
    }
    // Waits for the piece being written: false when the sink refused it.
    bool Wait() { return !writing_.valid() || writing_.get(); }

  private:
    sel::CacheWriter* out_;
    Context& ctx_;
    int64_t total_, done_ = sel::kHeaderBytes;
    std::string what_;
    std::unique_ptr<sel::SampleRecord[]> buffer_; // two halves of kPieceRecords; one without a writer
    size_t half_ = 0;                             // the free one
    const sel::SampleRecord* first_ = nullptr;    // the first record put since the last Drain
    size_t pending_ = 0;                          // records put since
    std::vector<int32_t> ended_;                  // the counts of the samples they end
    std::future<bool> writing_;                   // the piece being written
};

// One part's samples as the copy reads them: its count table an entry at a time, its records front
// to back a piece at a time into the half of the join's buffer `out` has free. Every record read goes
// through verify's rules and every byte into the checksum its part record holds, so that one reading
// both checks the part and copies it. A part that ends early, cannot be read (changed since it was
// checked), or fails a check is named in `problem`.
class PartReader {
  public:
    PartReader(const Checked& p, const sel::Source& src, Writer& out, std::string& problem)
        : part_(p), src_(src), counts_(src, p.tableStart, p.samples), end_(p.tableStart), out_(out),
          problem_(problem), rules_(summary_, false) {
        XXH3_64bits_reset(&sum_);
        if (!HashRange(src_, 0, sel::kHeaderBytes, sum_)) problem_ = Unreadable(0);
    }
    // Starts the next sample: its point count.
    bool Count(int32_t& n) {
        EndSample();
        if (!problem_.empty()) return false;
        if (counts_.Next(n) && n >= 0) {
            ++sample_;
            count_ = n;
            taken_ = 0;
            return true;
        }
        problem_ = part_.in->name + ": its count table cannot be read (did it change while read?)";
        return false;
    }
    // Up to `most` of the next records of the sample (at least one), there to be changed; null at a
    // problem or a write the sink refused. A block at a time, they go through the checksum and the rules,
    // then `visit(records, n, first)` (the first being vertex `first` of the sample), which may change them.
    template <class Visit> sel::SampleRecord* Take(size_t most, size_t& got, Visit&& visit) {
        if (used_ == have_) {
            if (!out_.Drain()) return nullptr;
            buffer_ = out_.Free();
            have_ = size_t(std::min<int64_t>((end_ - at_) / sel::kRecordBytes, int64_t(kPieceRecords)));
            used_ = 0;
            size_t bytes = have_ * sel::kRecordBytes;
            if (have_ == 0 || src_.ReadAt(at_, buffer_, bytes) != bytes) {
                problem_ = Unreadable(at_);
                have_ = 0;
                return nullptr;
            }
            at_ += int64_t(bytes);
        }
        got = std::min(most, have_ - used_);
        sel::SampleRecord* records = buffer_ + used_;
        used_ += got;
        for (size_t i = 0; i < got; i += kBlockRecords) {
            size_t n = std::min(kBlockRecords, got - i);
            XXH3_64bits_update(&sum_, records + i, n * sel::kRecordBytes);
            rules_.Records(sample_, start_, records + i, n, taken_);
            visit(records + i, n, size_t(taken_));
            taken_ += int32_t(n);
        }
        return records;
    }
    // No weight read so far was infinite or NaN (else the part fails its rules).
    bool Finite() const { return summary_.nonFinite == 0; }
    // After the last sample: the part's remaining bytes into the checksum, then the verdicts. False
    // with `problem` set when the part is not the one its record was written for.
    bool Finish() {
        EndSample();
        if (!problem_.empty()) return false;
        const sel::PartRecord& r = part_.record;
        std::vector<sel::Finding> findings;
        rules_.Report(findings);
        if (!findings.empty())
            problem_ = FindingLine(part_.in->name, findings.front()) + Again(r);
        else if (!HashRange(src_, at_, src_.Size(), sum_))
            problem_ = part_.in->name + ": cannot be read to its end (did it change while read?)";
        else if (XXH3_64bits_digest(&sum_) != r.partChecksum)
            problem_ = part_.in->name +
                       ": its bytes are not those its part record was written for (their checksum differs)" +
                       Again(r);
        return problem_.empty();
    }

  private:
    void EndSample() {
        if (sample_ < 0) return;
        if (count_ > 0) rules_.EndSample(sample_, start_);
        start_ += int64_t(count_) * sel::kRecordBytes;
        count_ = 0;
    }
    std::string Unreadable(int64_t at) const {
        return At(part_.in->name, at, "cannot be read here (did it change while read?)");
    }
    const Checked& part_;
    const sel::Source& src_;
    sel::CountReader counts_;
    int64_t at_ = sel::kHeaderBytes, end_;
    sel::SampleRecord* buffer_ = nullptr; // the writer's free half, read into
    Writer& out_;
    size_t have_ = 0, used_ = 0; // records in the buffer, and of those, taken
    std::string& problem_;
    XXH3_state_t sum_;
    sel::WeightSummary summary_;
    sel::ContentCheck rules_;
    int32_t sample_ = -1, count_ = 0, taken_ = 0; // the current sample, its points, and those taken
    int64_t start_ = sel::kHeaderBytes;           // its first record's byte
};

// Each weight becomes the larger of the part's and the whole's before the part, as the capture keeps
// the larger (a tie or a NaN keeps the part's); a NaN in the part started the whole afresh as well.
// `finite`: the part has no NaN, so `before` stays as it is and is only read, four records at a time
// where the processor has SSE2 (the compiler's own vectorizing of the loop below stores each weight
// on its own).
void CarryInto(sel::SampleRecord* records, float* before, size_t n, bool finite) {
    size_t i = 0;
#ifdef __SSE2__
    static_assert(sizeof(sel::SampleRecord) == 8 && offsetof(sel::SampleRecord, weight) == 0);
    if (finite) {
        const __m128 weights = _mm_castsi128_ps(_mm_set_epi32(0, -1, 0, -1)); // the lanes of weights
        auto larger = [&](__m128 c, float* at) {
            __m128 r = _mm_loadu_ps(at);
            __m128 m = _mm_max_ps(c, r); // c > r ? c : r: a tie or a NaN keeps the part's, as below
            _mm_storeu_ps(at, _mm_or_ps(_mm_and_ps(weights, m), _mm_andnot_ps(weights, r)));
        };
        for (; i + 4 <= n; i += 4) {
            float* at = reinterpret_cast<float*>(records + i);
            __m128 c = _mm_loadu_ps(before + i);
            larger(_mm_unpacklo_ps(c, c), at);
            larger(_mm_unpackhi_ps(c, c), at + 4);
        }
    }
#endif
    for (; i < n; ++i) {
        float b = records[i].weight, c = before[i];
        records[i].weight = b < c ? c : b;
        if (!finite) before[i] = b != b ? b : c;
    }
}

// Asks for `n` floats from `from` on to be brought into the caches while the checksum and the rules
// take the next block, so that the carry does not wait for them.
void Prefetch(const float* from, size_t n) {
    for (size_t i = 0; i < n; i += 64 / sizeof(float))
        __builtin_prefetch(from + i);
}

// Writes one part's samples, carrying `carry` in while the whole's weights run on; with `keep`,
// leaves in it the whole's weights after the part (its last sample as written), for the part after.
bool WritePart(const Checked& p, PartReader& in, bool accumulate, bool keep, Carry& carry, Writer& w) {
    const auto& restarts = p.record.restarts;
    bool chained = accumulate && carry.count >= 0 && p.record.firstCount == carry.count;
    std::vector<float> before = std::move(carry.weight); // the whole's weights before the part
    carry.weight = std::move(carry.spare);
    carry.weight.clear();
    carry.count = -1;
    size_t r = 0;
    for (int32_t k = 0; k < p.samples; ++k) {
        int32_t n = 0;
        if (!in.Count(n)) return false;
        for (; chained && r < restarts.size() && restarts[r].sample <= k; ++r) {
            int32_t v = restarts[r].vertex;
            if (v < 0)
                chained = false;
            else if (size_t(v) < before.size())
                before[size_t(v)] = NAN;
        }
        if (size_t(n) != before.size()) chained = false; // a new point count starts afresh
        bool last = keep && k + 1 == p.samples;
        if (last) carry.weight.resize(size_t(n));
        auto carryOn = [&](sel::SampleRecord* records, size_t got, size_t first) {
            if (chained) {
                CarryInto(records, before.data() + first, got, in.Finite());
                Prefetch(before.data() + first + got, std::min(got, before.size() - first - got));
            }
            if (last)
                for (size_t j = 0; j < got; ++j)
                    carry.weight[first + j] = records[j].weight;
        };
        for (size_t i = 0, got = 0; i < size_t(n); i += got) {
            sel::SampleRecord* records = in.Take(size_t(n) - i, got, carryOn);
            if (!records || !w.Put(records, got)) return false;
        }
        w.End(n);
        if (last) carry.count = n;
    }
    carry.spare = std::move(before);
    return in.Finish();
}

// Reads every part through its checks, carrying the running largest weights from part to part and
// writing the samples when there is a writer. "" when every part passed and was written; else why
// not (empty `problem` then: a stop, or a write the sink refused).
bool ReadParts(const std::vector<Checked>& parts, sel::CacheWriter* writer, Context& ctx, int64_t total,
               std::string& problem) {
    bool accumulate = parts.front().record.accumulate != 0 && writer;
    Carry carry;
    Writer w(writer, ctx, total, writer ? "writing" : "checking the parts");
    for (size_t i = 0; i < parts.size(); ++i) {
        const Checked& p = parts[i];
        PartBytes bytes = p.in->open(problem);
        if (!bytes && problem.empty()) problem = p.in->name + ": cannot be opened";
        if (bytes && bytes->Size() != p.record.fileBytes)
            problem = p.in->name + ": changed since it was checked (" + std::to_string(bytes->Size()) +
                      " bytes, not " + std::to_string(p.record.fileBytes) + ")";
        if (!problem.empty()) return false;
        PartReader in(p, *bytes, w, problem);
        // the part's last records are written as the next part's first piece is read
        if (!WritePart(p, in, accumulate, accumulate && i + 1 < parts.size(), carry, w)) return false;
    }
    return w.Drain() && w.Wait();
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
    for (size_t i = 0; i < inputs.size(); ++i)
        if (std::string why = CheckPart(inputs[i], parts[i]); !why.empty()) lines += why + "\n";
    if (lines.empty()) lines = CheckTiling(parts);
    if (lines.empty()) lines = CheckFrames(parts);
    if (!lines.empty()) {
        ctx.err << lines << (lines.back() == '\n' ? "" : "\n");
        return 1;
    }
    int64_t samples = 0, records = 0;
    for (const Checked& p : parts) {
        samples += p.samples;
        records += p.records;
    }
    if (samples > INT32_MAX) {
        ctx.err << outName << ": the parts hold " << samples << " samples, more than a cache file can\n";
        return 1;
    }
    const sel::PartRecord& a = parts.front().record;
    int64_t total = sel::kHeaderBytes + records * sel::kRecordBytes + 4 * samples;
    std::string problem;
    // a device or FIFO keeps what it was given: the parts are read through their checks once before
    // the joined file is written, where a replace would otherwise drop a joined file that failed them
    bool checked = out.Staged() || ReadParts(parts, nullptr, ctx, total, problem);
    // word 2 is known before the first sample: written once, in order, so a FIFO can take the file
    sel::CacheWriter writer;
    bool ok = checked && writer.Begin(out, a.samplesPerFrame, int32_t(samples)) &&
              ReadParts(parts, &writer, ctx, total, problem);
    if (ctx.stop()) {
        ctx.err << "join stopped" << (checked ? "" : " while checking the parts") << "; " << outName
                << " was not written\n";
        return kStopped;
    }
    if (!problem.empty()) {
        ctx.err << problem << "; " << outName << " was not written\n";
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

bool FillChecksums(const sel::Source& bytes, sel::PartRecord& record) {
    XXH3_state_t state;
    XXH3_64bits_reset(&state);
    if (!HashRange(bytes, 0, bytes.Size(), state)) return false;
    record.partChecksum = XXH3_64bits_digest(&state);
    std::string lines = sel::ChecksummedLines(record);
    record.linesChecksum = XXH3_64bits(lines.data(), lines.size());
    return true;
}

namespace {
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
        if (record.GetSource().ReadAt(0, out.recordText.data(), out.recordText.size()) !=
            out.recordText.size())
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
} // namespace

ToolVerb AddJoinVerb(CLI::App& app) {
    struct Options {
        std::vector<std::string> parts;
        std::string out;
    };
    auto o = std::make_shared<Options>();
    CLI::App* command =
        app.add_subcommand("join", "Join the parts of one recording (vomark record --frames A:B) "
                                   "into the file one recording of the whole range writes");
    command->add_option("PART", o->parts, "the parts' cache files, each with its .part record beside it")
        ->required();
    command->add_option("--out", o->out, "the joined cache file")->required();
    return {command, [o](Context& ctx) { return JoinVerb(o->parts, o->out, ctx); }, true};
}

} // namespace tessarin
