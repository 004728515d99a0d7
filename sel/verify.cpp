// Whole-file checks: sizes, word 2 against the table, ticks and weights, a chunk at a time.
#include "sel/verify.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
        if (f.fault == Fault::NotCache || (f.fault == Fault::Damaged && worst != Fault::NotCache) ||
            worst == Fault::None)
            worst = f.fault;
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
                   "word 2 announces " + Counted(n, "sample") +
                       ", but the count table that fits the file has " + Counted(m, "entry", "entries")});
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
                                  Counted(l.tableStart - recordsEnd, "byte") +
                                      (l.tableStart - recordsEnd == 1 ? " lies" : " lie") +
                                      " between the last sample and the count table"});
        return;
    }
    int64_t implied = kHeaderBytes + kRecordBytes * int64_t(l.header.formatTag) * l.header.sampleTotal;
    if (l.fileBytes < implied) {
        std::string text = "holds " + Counted(l.samples, "whole sample") + " of the " +
                           std::to_string(l.header.sampleTotal) + " its header announces";
        if (l.fileBytes > recordsEnd)
            text += ", and " + Counted(l.fileBytes - recordsEnd, "byte") + " of the next";
        r.findings.push_back({Fault::CutShort, recordsEnd, text});
    } else if (l.fileBytes > implied) {
        r.findings.push_back({Fault::Damaged, implied,
                              Counted(l.fileBytes - implied, "byte") +
                                  (l.fileBytes - implied == 1 ? " follows" : " follow") +
                                  " the last sample"});
    }
}

} // namespace

void FirstBreach::Report(std::vector<Finding>& out) const {
    if (hits_ == 0) return;
    std::string text = text_;
    if (hits_ > 1) text += " (and " + std::to_string(hits_ - 1) + " more)";
    out.push_back({fault_, at_, text});
}

void ContentCheck::Records(int32_t k, int64_t start, const SampleRecord* recs, size_t n, int32_t first) {
    if (n == 0) return;
    if (first == 0) tick_ = recs[0].time;
    if (!summarize_) {
        // the common case first, branch-free so that it vectorizes: every tick the sample's, every
        // weight finite
        uint32_t odd = 0;
        for (size_t i = 0; i < n; ++i) {
            uint32_t bits;
            std::memcpy(&bits, &recs[i].weight, sizeof bits);
            odd |= uint32_t(recs[i].time != tick_) | uint32_t((bits & 0x7f800000u) == 0x7f800000u);
        }
        if (odd == 0) {
            w_.records += int64_t(n);
            w_.finite += int64_t(n);
            return;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        int32_t v = first + static_cast<int32_t>(i);
        Record(k, v, start + kRecordBytes * v, recs[i]);
    }
}

void ContentCheck::Record(int32_t k, int32_t v, int64_t at, const SampleRecord& rec) {
    if (rec.time != tick_)
        mixed_.Hit(at + 4, [&] {
            return Place(k, v) + ": tick " + std::to_string(rec.time) +
                   ", but the sample's first record has tick " + std::to_string(tick_);
        });
    ++w_.records;
    if (!std::isfinite(rec.weight)) {
        ++w_.nonFinite;
        nonFinite_.Hit(at, [&] { return Place(k, v) + ": weight is " + WeightText(rec.weight); });
        return;
    }
    if (w_.finite++ == 0) w_.min = w_.max = rec.weight;
    if (!summarize_) return;
    w_.min = std::min<double>(w_.min, rec.weight);
    w_.max = std::max<double>(w_.max, rec.weight);
    w_.sum += rec.weight;
    if (rec.weight == 1.0f) ++w_.ones;
}

void ContentCheck::EndSample(int32_t k, int64_t start) {
    int32_t tick = tick_;
    int64_t at = start + 4;
    if (!w_.hasTicks) w_.firstTick = tick;
    if (w_.hasTicks) {
        int32_t step = tick > w_.lastTick ? 1 : tick < w_.lastTick ? -1 : 0;
        if (step == 0)
            same_.Hit(at, [&] {
                return "samples " + std::to_string(previousSample_) + " and " + std::to_string(k) +
                       " share tick " + std::to_string(tick);
            });
        else if (direction_ == 0)
            direction_ = step;
        else if (step != direction_)
            turns_.Hit(at, [&] {
                return "sample " + std::to_string(k) + ": tick " + std::to_string(tick) + " goes " +
                       (step > 0 ? "up" : "down") + " from " + std::to_string(w_.lastTick) +
                       " against the direction of the samples before";
            });
    }
    w_.hasTicks = true;
    w_.lastTick = tick;
    previousSample_ = k;
}

void ContentCheck::Report(std::vector<Finding>& out) const {
    for (const FirstBreach* rule : {&mixed_, &same_, &turns_, &nonFinite_})
        rule->Report(out);
}

namespace {
// Walks every record of the samples that play through the rules.
void CheckContent(const Source& src, VerifyReport& r, const std::function<bool()>& stop) {
    ContentCheck rules(r.weights);
    SampleWalker walk(src, r.layout);
    while (walk.Next()) {
        int32_t k = walk.Index();
        if (k % 4096 == 0 && stop && stop()) { // files of empty samples have no chunks to stop between
            r.stopped = true;
            return;
        }
        size_t n;
        int32_t first;
        for (const SampleRecord* recs = walk.Records(n, first); n > 0; recs = walk.Records(n, first)) {
            if (stop && stop()) {
                r.stopped = true;
                return;
            }
            rules.Records(k, walk.Start(), recs, n, first);
        }
        if (walk.Count() > 0 && !walk.Failed()) rules.EndSample(k, walk.Start());
    }
    if (walk.Failed())
        r.findings.push_back(
            {Fault::Damaged, walk.FailedAt(), "cannot be read here (did it change while read?)"});
    rules.Report(r.findings);
}
} // namespace

VerifyReport VerifyLayout(const Source& src) {
    VerifyReport r;
    Status status = ReadLayout(src, r.layout, false);
    r.playable = status.ok;
    if (!status.ok) {
        r.findings.push_back({status.fault, status.at, status.message});
        if (status.fault != Fault::NotCache && r.layout.fileBytes >= kHeaderBytes && r.layout.header.formatTag < 0 &&
            r.layout.header.sampleTotal > 0)
            DiagnoseWordTwo(src, r.layout, r.findings);
        return r;
    }
    CheckSizes(src, r);
    return r;
}

VerifyReport VerifyFile(const Source& src, const std::function<bool()>& stop) {
    VerifyReport r = VerifyLayout(src);
    if (r.playable) CheckContent(src, r, stop);
    return r;
}

std::string Counted(int64_t n, const std::string& noun, const std::string& nouns) {
    return std::to_string(n) + " " + (n == 1 ? noun : nouns.empty() ? noun + "s" : nouns);
}

} // namespace sel
