// Whole-file checks: sizes, word 2 against the table, ticks and weights, a chunk at a time.
#include "cache/format/verify.h"

#include <algorithm>
#include <cmath>

namespace sel {

SampleWalker::SampleWalker(const Source& src, const Layout& layout, size_t chunkRecords)
    : src_(src), layout_(layout), counts_(src, layout.tableStart, layout.variable ? layout.samples : 0),
      buffer_(std::max<size_t>(chunkRecords, 1)) {}

bool SampleWalker::Next() {
    if (failed_ || index_ + 1 >= layout_.samples) return false;
    if (index_ >= 0) start_ += kRecordBytes * count_;
    ++index_;
    done_ = 0;
    count_ = layout_.header.formatTag;
    if (layout_.variable && !counts_.Next(count_)) {
        failed_ = true;
        failedAt_ = layout_.tableStart + 4 * int64_t(index_);
        return false;
    }
    return true;
}

const SampleRecord* SampleWalker::Records(size_t& n, int32_t& first) {
    n = 0;
    first = done_;
    if (failed_ || done_ >= count_) return buffer_.data();
    size_t want = std::min(buffer_.size(), static_cast<size_t>(count_ - done_));
    int64_t at = start_ + kRecordBytes * done_;
    if (src_.ReadAt(at, buffer_.data(), want * kRecordBytes) != want * kRecordBytes) {
        failed_ = true;
        failedAt_ = at;
        return buffer_.data();
    }
    n = want;
    done_ += static_cast<int32_t>(want);
    return buffer_.data();
}

Fault VerifyReport::Verdict() const {
    Fault worst = Fault::None;
    for (const auto& f : findings)
        if (f.fault == Fault::Damaged || worst == Fault::None) worst = f.fault;
    return worst;
}

int32_t FindTableLength(const Source& src) {
    int64_t size = src.Size();
    int64_t sum = 0;
    unsigned char chunk[4096];
    int64_t chunkStart = size, m = 0;
    // entries read from the end backwards; the sum only grows, so the scan stops once it overshoots
    for (int64_t at = size - 4; at >= kHeaderBytes && m < INT32_MAX; at -= 4) {
        if (at < chunkStart) {
            chunkStart = std::max<int64_t>(kHeaderBytes, at + 4 - int64_t(sizeof chunk));
            size_t len = static_cast<size_t>(at + 4 - chunkStart);
            if (src.ReadAt(chunkStart, chunk, len) != len) return 0;
        }
        int32_t c = GetI32(chunk + (at - chunkStart));
        if (c < 0) return 0;
        sum += c;
        ++m;
        int64_t want = kHeaderBytes + kRecordBytes * sum + 4 * m;
        if (want == size) return static_cast<int32_t>(m);
        if (want > size) return 0;
    }
    return 0;
}

namespace {
// One rule's first breach and how many more there were.
class Rule {
  public:
    explicit Rule(Fault fault) : fault_(fault) {}
    template <class Message> void Hit(int64_t at, Message message) {
        if (hits_++ == 0) {
            at_ = at;
            text_ = message();
        }
    }
    void Report(std::vector<Finding>& out) const {
        if (hits_ == 0) return;
        std::string text = text_;
        if (hits_ > 1) text += " (and " + std::to_string(hits_ - 1) + " more)";
        out.push_back({fault_, at_, text});
    }

  private:
    Fault fault_;
    int64_t hits_ = 0, at_ = 0;
    std::string text_;
};

std::string Place(int32_t k, int32_t v) {
    return "sample " + std::to_string(k) + ", vertex " + std::to_string(v);
}

std::string WeightText(float w) {
    if (std::isnan(w)) return "nan";
    return w > 0 ? "inf" : "-inf";
}

// Word 2 against a table that fits the file, when one does.
void DiagnoseWordTwo(const Source& src, const Layout& layout, std::vector<Finding>& out) {
    int32_t m = FindTableLength(src);
    int32_t n = layout.header.sampleTotal;
    if (m == 0 || m == n) return;
    out.push_back({m < n ? Fault::CutShort : Fault::Damaged, 8,
                   "word 2 announces " + std::to_string(n) +
                       " samples, but the count table that fits the file has " + std::to_string(m) +
                       " entries"});
}

void CheckSizes(const Source& src, VerifyReport& r) {
    const Layout& l = r.layout;
    int64_t recordsEnd = kHeaderBytes + kRecordBytes * l.records;
    if (l.variable) {
        if (recordsEnd == l.tableStart) return;
        size_t before = r.findings.size();
        DiagnoseWordTwo(src, l, r.findings);
        if (r.findings.size() == before)
            r.findings.push_back({Fault::Damaged, recordsEnd,
                                  std::to_string(l.tableStart - recordsEnd) +
                                      " bytes lie between the last sample and the count table"});
        return;
    }
    int64_t implied = kHeaderBytes + kRecordBytes * int64_t(l.header.formatTag) * l.header.sampleTotal;
    if (l.fileBytes < implied) {
        std::string text = "holds " + std::to_string(l.samples) + " whole samples of the " +
                           std::to_string(l.header.sampleTotal) + " its header announces";
        if (l.fileBytes > recordsEnd)
            text += ", and " + std::to_string(l.fileBytes - recordsEnd) + " bytes of the next";
        r.findings.push_back({Fault::CutShort, recordsEnd, text});
    } else if (l.fileBytes > implied) {
        r.findings.push_back({Fault::Damaged, implied,
                              std::to_string(l.fileBytes - implied) + " bytes follow the last sample"});
    }
}

// One tick per sample, ticks moving one way, finite weights; and the weight summary.
void CheckContent(const Source& src, VerifyReport& r, const std::function<bool()>& stop) {
    Rule mixed(Fault::Damaged), same(Fault::Damaged), turns(Fault::Damaged), nonFinite(Fault::Damaged);
    WeightSummary& w = r.weights;
    SampleWalker walk(src, r.layout);
    bool havePrevious = false;
    int32_t previous = 0, previousSample = 0, direction = 0;
    while (walk.Next()) {
        int32_t k = walk.Index();
        if (k % 4096 == 0 && stop && stop()) { // files of empty samples have no chunks to stop between
            r.stopped = true;
            return;
        }
        size_t n;
        int32_t first;
        bool started = false;
        int32_t tick = 0;
        while (const SampleRecord* recs = walk.Records(n, first)) {
            if (n == 0) break;
            if (stop && stop()) {
                r.stopped = true;
                return;
            }
            if (!started) {
                started = true;
                tick = recs[0].time;
            }
            for (size_t i = 0; i < n; ++i) {
                const SampleRecord& rec = recs[i];
                int32_t v = first + static_cast<int32_t>(i);
                int64_t at = walk.Start() + kRecordBytes * v;
                if (rec.time != tick)
                    mixed.Hit(at + 4, [&] {
                        return Place(k, v) + ": tick " + std::to_string(rec.time) +
                               ", but the sample's first record has tick " + std::to_string(tick);
                    });
                ++w.records;
                if (!std::isfinite(rec.weight)) {
                    ++w.nonFinite;
                    nonFinite.Hit(at, [&] { return Place(k, v) + ": weight is " + WeightText(rec.weight); });
                    continue;
                }
                if (w.finite++ == 0) w.min = w.max = rec.weight;
                w.min = std::min<double>(w.min, rec.weight);
                w.max = std::max<double>(w.max, rec.weight);
                w.sum += rec.weight;
                if (rec.weight == 1.0f) ++w.ones;
            }
        }
        if (!started) continue; // an empty sample has no tick
        if (!w.hasTicks) w.firstTick = tick;
        w.hasTicks = true;
        w.lastTick = tick;
        if (havePrevious) {
            int32_t step = tick > previous ? 1 : tick < previous ? -1 : 0;
            if (step == 0)
                same.Hit(walk.Start() + 4, [&] {
                    return "samples " + std::to_string(previousSample) + " and " + std::to_string(k) +
                           " share tick " + std::to_string(tick);
                });
            else if (direction == 0)
                direction = step;
            else if (step != direction)
                turns.Hit(walk.Start() + 4, [&] {
                    return "sample " + std::to_string(k) + ": tick " + std::to_string(tick) + " goes " +
                           (step > 0 ? "up" : "down") + " from " + std::to_string(previous) +
                           " against the direction of the samples before";
                });
        }
        havePrevious = true;
        previous = tick;
        previousSample = k;
    }
    if (walk.Failed())
        r.findings.push_back(
            {Fault::Damaged, walk.FailedAt(), "cannot be read here (did it change while read?)"});
    for (const Rule* rule : {&mixed, &same, &turns, &nonFinite})
        rule->Report(r.findings);
}
} // namespace

VerifyReport VerifyFile(const Source& src, const std::function<bool()>& stop) {
    VerifyReport r;
    Status status = ReadLayout(src, r.layout, false);
    r.playable = status.ok;
    if (!status.ok) {
        r.findings.push_back({status.fault, status.at, status.message});
        if (r.layout.fileBytes >= kHeaderBytes && r.layout.header.formatTag < 0 &&
            r.layout.header.sampleTotal > 0)
            DiagnoseWordTwo(src, r.layout, r.findings);
        return r;
    }
    CheckSizes(src, r);
    CheckContent(src, r, stop);
    return r;
}

} // namespace sel
