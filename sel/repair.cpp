// Repair planning: a consistent file from a damaged or incomplete one, only where nothing must be
// guessed. Every candidate is checked, before anything is written, by the same checks verify makes.
#include "sel/repair.h"

#include <algorithm>
#include <cstring>

namespace sel {

RepairedSource::RepairedSource(const RepairPlan& plan, const Source& in)
    : plan_(plan), in_(in),
      head_(EncodeHeader(plan.header.formatTag, plan.header.samplesPerFrame, plan.header.sampleTotal)) {
    if (plan.header.formatTag < 0 && plan.tableAt < 0)
        for (int32_t c : plan.counts)
            PutI32(table_, c);
    tableBytes_ = plan.header.formatTag < 0 ? 4 * int64_t(plan.header.sampleTotal) : 0;
}

int64_t RepairedSource::Size() const { return plan_.recordsEnd + tableBytes_; }

size_t RepairedSource::ReadAt(int64_t offset, void* dst, size_t n) const {
    auto* out = static_cast<unsigned char*>(dst);
    size_t done = 0;
    while (done < n) {
        int64_t at = offset + int64_t(done);
        size_t got = 0;
        if (at < 0 || at >= Size()) break;
        if (at < kHeaderBytes) {
            got = std::min<size_t>(n - done, size_t(kHeaderBytes - at));
            std::memcpy(out + done, head_.data() + at, got);
        } else if (at < plan_.recordsEnd) {
            got = in_.ReadAt(at, out + done, std::min<size_t>(n - done, size_t(plan_.recordsEnd - at)));
        } else if (plan_.tableAt >= 0) {
            got = in_.ReadAt(plan_.tableAt + (at - plan_.recordsEnd), out + done,
                             std::min<size_t>(n - done, size_t(Size() - at)));
        } else {
            size_t from = size_t(at - plan_.recordsEnd);
            got = std::min(n - done, table_.size() - from);
            std::memcpy(out + done, table_.data() + from, got);
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

namespace {
RepairPlan Refuse(int64_t at, const std::string& why) {
    RepairPlan p;
    p.at = at;
    p.reason = why;
    return p;
}

std::string N(int64_t v) { return std::to_string(v); }

// Keeps a candidate when the file it writes passes every check; else answers the first finding.
bool Passes(RepairPlan& plan, const Source& in, const std::function<bool()>& stop, std::string& why) {
    RepairedSource out(plan, in);
    VerifyReport r = VerifyFile(out, stop);
    if (r.stopped) {
        why = "stopped";
        return false;
    }
    if (r.Verdict() == Fault::None) return plan.ok = true;
    const Finding& f = r.findings.front();
    why = "the mended file would still fail a check (byte " + N(f.at) + ": " + f.message + ")";
    return false;
}

RepairPlan FixedCount(const Layout& l) {
    const CacheHeader& h = l.header;
    int64_t perSample = kRecordBytes * h.formatTag;
    int64_t implied = kHeaderBytes + perSample * h.sampleTotal;
    if (l.fileBytes > implied)
        return Refuse(implied, N(l.fileBytes - implied) +
                                   " bytes follow the last sample its header announces; what "
                                   "they hold cannot be told");
    int64_t whole = perSample ? (l.fileBytes - kHeaderBytes) / perSample : h.sampleTotal;
    if (whole <= 0)
        return Refuse(l.fileBytes, "not one whole sample of " + N(h.formatTag) + " records is present");
    RepairPlan p;
    p.header = h;
    p.header.sampleTotal = int32_t(whole);
    p.recordsEnd = kHeaderBytes + perSample * whole;
    p.actions.push_back("word 2 patched from " + N(h.sampleTotal) + " to " + N(whole) +
                        ", the whole samples present");
    if (l.fileBytes > p.recordsEnd)
        p.actions.push_back("dropped the " + Counted(l.fileBytes - p.recordsEnd, "byte") + " of sample " +
                            N(whole) + ", cut short");
    return p;
}

struct Run {
    int32_t tick;
    int64_t length;
};

// The records from byte 12 to the end, grouped by tick: each run one sample.
bool ScanRuns(const Source& src, int64_t maxRuns, std::vector<Run>& runs,
              const std::function<bool()>& stop) {
    int64_t records = (src.Size() - kHeaderBytes) / kRecordBytes;
    std::vector<SampleRecord> chunk(size_t(1) << 15);
    for (int64_t done = 0; done < records;) {
        size_t n = size_t(std::min<int64_t>(int64_t(chunk.size()), records - done));
        if (src.ReadAt(kHeaderBytes + kRecordBytes * done, chunk.data(), n * kRecordBytes) !=
                n * kRecordBytes ||
            stop())
            return false;
        for (size_t i = 0; i < n; ++i) {
            if (runs.empty() || runs.back().tick != chunk[i].time) {
                if (int64_t(runs.size()) >= maxRuns) return false;
                runs.push_back({chunk[i].time, 0});
            }
            ++runs.back().length;
        }
        done += int64_t(n);
    }
    return true;
}

// The run after which the rest of the file is the start of a count table cut short, or -1. Where
// several runs would do, the earliest wins: runs after it are the table's own words read as records.
int64_t PartialTableAfter(const Source& src, const std::vector<Run>& runs) {
    int64_t size = src.Size();
    int64_t span = std::min<int64_t>(size - kHeaderBytes, 4 * int64_t(runs.size()));
    std::vector<unsigned char> tail(size_t(std::max<int64_t>(span, 0)));
    if (src.ReadAt(size - span, tail.data(), tail.size()) != tail.size()) return -1;
    int64_t end = kHeaderBytes;
    std::vector<int64_t> ends;
    int64_t found = -1;
    for (const Run& r : runs)
        ends.push_back(end += kRecordBytes * r.length);
    for (int64_t r = int64_t(runs.size()) - 1; r >= 0; --r) {
        int64_t rest = size - ends[size_t(r)];
        if (rest <= 0) continue;
        if (rest >= 4 * (r + 1)) break; // a whole table would fit: this is no table cut short
        const unsigned char* p = tail.data() + (ends[size_t(r)] - (size - span));
        bool match = true;
        for (int64_t b = 0; b < rest && match; ++b) {
            uint32_t c = uint32_t(runs[size_t(b / 4)].length);
            match = p[b] == ((c >> (8 * (b % 4))) & 0xff);
        }
        if (match) found = r;
    }
    return found;
}

// Whether the last run is a whole sample: 1, 0 (cut short), or a refusal in `why`: -2 where
// --points would settle it, -1 otherwise.
int LastRunWhole(const Source& src, const std::vector<Run>& runs, std::optional<int32_t> points,
                 std::string& why) {
    const Run& last = runs.back();
    int64_t size = src.Size();
    int64_t partial = (size - kHeaderBytes) % kRecordBytes;
    if (partial > 4) {
        // the tick bytes a cut record keeps tell whether it began a new sample
        unsigned char bytes[3] = {};
        size_t have = size_t(partial - 4);
        src.ReadAt(size - int64_t(have), bytes, have);
        uint32_t t = uint32_t(last.tick);
        for (size_t b = 0; b < have; ++b)
            if (bytes[b] != ((t >> (8 * b)) & 0xff)) return 1;
    }
    if (points) {
        if (last.length == *points) return 1;
        if (last.length < *points) return 0;
        why = "the last sample has " + N(last.length) + " records, more than --points " + N(*points);
        return -1;
    }
    if (runs.size() < 2) {
        why = "one run of " + N(last.length) + " records shares tick " + N(last.tick) +
              ": whether that sample is whole cannot be told from the ticks; give --points";
        return -2;
    }
    int64_t p = runs.front().length;
    for (size_t i = 0; i + 1 < runs.size(); ++i)
        if (runs[i].length != p) {
            why =
                "the point count changes during the recording, so whether the last sample is whole cannot be "
                "told; give --points";
            return -2;
        }
    if (last.length == p) return 1;
    if (last.length < p) return 0;
    why = "the last sample has " + N(last.length) + " records, more than the " + N(p) +
          " of every sample before it; give --points";
    return -2;
}

// Whether the last `m` words of the file, read as a count table, hold an entry of 0.
bool HasEmptyEntry(const Source& src, int32_t m) {
    std::vector<unsigned char> table(4 * size_t(m));
    if (src.ReadAt(src.Size() - int64_t(table.size()), table.data(), table.size()) != table.size()) return true;
    for (size_t i = 0; i < table.size(); i += 4)
        if (GetI32(table.data() + i) == 0) return true;
    return false;
}

// A missing or cut count table rebuilt from the records' ticks.
RepairPlan RebuildTable(const Source& src, const CacheHeader& h, std::optional<int32_t> points,
                        const std::function<bool()>& stop) {
    std::vector<Run> runs;
    if (!ScanRuns(src, 2 * int64_t(h.sampleTotal) + 2, runs, stop))
        return Refuse(kHeaderBytes, "the records' ticks do not group into the " +
                                             Counted(h.sampleTotal, "sample") + " word 2 announces");
    if (runs.empty()) return Refuse(src.Size(), "not one whole record is present");
    RepairPlan p;
    int64_t r = PartialTableAfter(src, runs);
    size_t keep = runs.size();
    if (r >= 0) {
        keep = size_t(r + 1);
        int64_t end = kHeaderBytes;
        for (size_t i = 0; i < keep; ++i)
            end += kRecordBytes * runs[i].length;
        p.actions.push_back("the count table was cut short after " +
                            Counted((src.Size() - end) / 4, "entry", "entries") +
                            "; the samples before it are whole");
    } else {
        std::string why;
        int whole = LastRunWhole(src, runs, points, why);
        if (whole < 0) {
            RepairPlan refusal = Refuse(src.Size(), why);
            refusal.needsPoints = whole == -2;
            return refusal;
        }
        if (!whole) {
            --keep;
            p.actions.push_back("dropped sample " + N(keep) + ", cut short after " +
                                Counted(runs.back().length, "record"));
        }
    }
    if (keep == 0) return Refuse(src.Size(), "not one whole sample is present");
    if (int64_t(keep) > h.sampleTotal)
        return Refuse(8, "the records hold " + N(keep) + " samples, more than the " + N(h.sampleTotal) +
                             " word 2 announces");
    p.header = h;
    p.header.sampleTotal = int32_t(keep);
    p.recordsEnd = kHeaderBytes;
    for (size_t i = 0; i < keep; ++i) {
        if (runs[i].length > INT32_MAX)
            return Refuse(kHeaderBytes, "sample " + N(i) + " is too long to count");
        p.counts.push_back(int32_t(runs[i].length));
        p.recordsEnd += kRecordBytes * runs[i].length;
    }
    p.actions.push_back("count table rebuilt from the records' ticks: " + Counted(int64_t(keep), "sample"));
    if (keep != size_t(h.sampleTotal))
        p.actions.push_back("word 2 patched from " + N(h.sampleTotal) + " to " + N(keep));
    return p;
}
} // namespace

RepairPlan PlanRepair(const Source& src, std::optional<int32_t> points,
                      const std::function<bool()>& stop) {
    Layout layout;
    Status status = ReadLayout(src, layout, false);
    const CacheHeader& h = layout.header;
    if (layout.fileBytes < kHeaderBytes)
        return Refuse(layout.fileBytes, "shorter than its 12-byte header");
    if (status.fault == Fault::NotCache) return Refuse(status.at, status.message + ": nothing to mend");
    if (h.samplesPerFrame <= 0)
        return Refuse(4, "samples per frame is " + N(h.samplesPerFrame) + ": the right value cannot be told");
    if (h.sampleTotal <= 0) return Refuse(8, "holds " + N(h.sampleTotal) + " samples: nothing to keep");
    VerifyReport as = VerifyFile(src, stop);
    if (as.stopped) return Refuse(0, "stopped");
    if (as.Verdict() == Fault::None) {
        RepairPlan p;
        p.ok = true;
        p.header = h;
        p.recordsEnd = layout.tableStart;
        p.tableAt = layout.variable ? layout.tableStart : -1;
        p.actions.push_back("nothing to mend: the file passes every check");
        return p;
    }
    int64_t implied =
        layout.variable ? kHeaderBytes + kRecordBytes * layout.records + 4 * int64_t(h.sampleTotal)
                        : kHeaderBytes + kRecordBytes * int64_t(h.formatTag) * h.sampleTotal;
    if (status.ok && implied == layout.fileBytes) {
        const Finding& f = as.findings.front();
        return Refuse(f.at, "its layout is whole and what fails is in the records (" + f.message +
                                "); mending that would mean guessing");
    }
    std::string why;
    if (!layout.variable) {
        RepairPlan p = FixedCount(layout);
        if (!p.reason.empty() || Passes(p, src, stop, why)) return p;
        return Refuse(0, why);
    }
    // word 2 patched to the table that fits the file, unless that table gives a sample no records:
    // the zeros a recording starts with (weight 0 at tick 0) read as such a table too, and
    // samples would be invented
    if (int32_t m = FindTableLength(src); m && !HasEmptyEntry(src, m)) {
        RepairPlan p;
        p.header = h;
        p.header.sampleTotal = m;
        p.recordsEnd = p.tableAt = layout.fileBytes - 4 * int64_t(m);
        p.actions.push_back("word 2 patched from " + N(h.sampleTotal) + " to " + N(m) +
                            ", the length of the count table that ends the file");
        if (Passes(p, src, stop, why)) return p;
    }
    RepairPlan p = RebuildTable(src, h, points, stop);
    if (!p.reason.empty() || Passes(p, src, stop, why)) return p;
    return Refuse(0, why);
}

} // namespace sel
