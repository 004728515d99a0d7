// Checked reading of the header, count table and samples of a cache file.
#include "sel/format.h"
#include "sel/files.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace sel {

size_t MemorySource::ReadAt(int64_t offset, void* dst, size_t n) const {
    if (offset < 0 || offset >= static_cast<int64_t>(size_)) return 0;
    size_t avail = size_ - static_cast<size_t>(offset);
    size_t k = std::min(n, avail);
    std::memcpy(dst, data_ + offset, k);
    return k;
}

FileSource::FileSource(FILE* f, int64_t size) : f_(f), size_(size) {
    if (size_ < 0 && f_ && SeekTo(f_, 0, SEEK_END)) size_ = Position(f_);
    if (size_ < 0) size_ = 0;
}

size_t FileSource::ReadAt(int64_t offset, void* dst, size_t n) const {
    if (!f_ || offset < 0 || offset >= size_) return 0;
    return ReadAtOffset(f_, offset, dst, size_t(std::min<int64_t>(int64_t(n), size_ - offset)));
}

int32_t GetI32(const unsigned char* p) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    int32_t s;
    std::memcpy(&s, &v, 4);
    return s;
}

void PutI32(std::string& out, int32_t v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((u >> (8 * i)) & 0xff));
}

void PutF32(std::string& out, float v) {
    int32_t bits;
    std::memcpy(&bits, &v, 4);
    PutI32(out, bits);
}

int64_t Layout::RecordsBefore(int k) const {
    if (k <= 0) return 0;
    if (!variable) return int64_t(k) * header.formatTag;
    int64_t sum = 0;
    for (int i = 0; i < k && i < static_cast<int>(counts.size()); ++i)
        sum += counts[static_cast<size_t>(i)];
    return sum;
}

const char* FaultName(Fault f) {
    switch (f) {
    case Fault::None: return "valid";
    case Fault::CutShort: return "incomplete";
    case Fault::Damaged: return "damaged";
    case Fault::NotCache: return "not a cache";
    }
    return "";
}

namespace {
Status Refuse(Fault fault, int64_t at, const std::string& why) { return {false, why, fault, at}; }
constexpr size_t kTableChunkEntries = 16384;
} // namespace

CountReader::CountReader(const Source& src, int64_t tableStart, int32_t entries)
    : src_(src), at_(tableStart), left_(entries) {}

bool CountReader::Next(int32_t& count) {
    if (pos_ == chunk_.size()) {
        if (left_ <= 0) return false;
        size_t n = std::min<size_t>(kTableChunkEntries, static_cast<size_t>(left_));
        chunk_.resize(n * 4);
        if (src_.ReadAt(at_, chunk_.data(), chunk_.size()) != chunk_.size()) {
            chunk_.clear();
            pos_ = 0;
            left_ = 0;
            return false;
        }
        at_ += static_cast<int64_t>(chunk_.size());
        left_ -= static_cast<int32_t>(n);
        pos_ = 0;
    }
    count = GetI32(&chunk_[pos_]);
    pos_ += 4;
    return true;
}

Status ReadLayout(const Source& src, Layout& out, bool keepCounts) {
    out = Layout{};
    out.fileBytes = src.Size();
    unsigned char h[kHeaderBytes];
    if (src.ReadAt(0, h, sizeof h) != sizeof h)
        return Refuse(Fault::CutShort, out.fileBytes, "shorter than its 12-byte header");
    out.header = {GetI32(h), GetI32(h + 4), GetI32(h + 8)};
    const CacheHeader& hd = out.header;
    if (hd.samplesPerFrame > kMostSamplesPerFrame || hd.samplesPerFrame < -kMostSamplesPerFrame)
        return Refuse(Fault::NotCache, 4,
                      "not a .sel cache (its header would give " + std::to_string(hd.samplesPerFrame) +
                          " samples per frame)");
    if (hd.samplesPerFrame <= 0)
        return Refuse(Fault::Damaged, 4, "samples per frame is " + std::to_string(hd.samplesPerFrame));
    if (hd.sampleTotal <= 0) {
        // an aborted recording that captured nothing leaves the bare header
        Fault f = hd.sampleTotal == 0 && out.fileBytes == kHeaderBytes ? Fault::CutShort : Fault::Damaged;
        return Refuse(f, 8, "holds " + std::to_string(hd.sampleTotal) + " samples");
    }
    int64_t body = out.fileBytes - kHeaderBytes;
    out.variable = hd.formatTag < 0;
    if (!out.variable) {
        int64_t perSample = kRecordBytes * hd.formatTag;
        int64_t present =
            perSample == 0 ? hd.sampleTotal : std::min<int64_t>(hd.sampleTotal, body / perSample);
        if (present <= 0)
            return Refuse(Fault::CutShort, out.fileBytes,
                          "no whole sample of " + std::to_string(hd.formatTag) + " records is present");
        out.samples = static_cast<int32_t>(present);
        out.largestCount = out.smallestCount = hd.formatTag;
        out.records = present * hd.formatTag;
        out.tableStart = out.fileBytes;
        return {};
    }
    // from here on a table that does not check out is what a recording cut short leaves
    int64_t tableBytes = 4 * int64_t(hd.sampleTotal);
    if (tableBytes > body)
        return Refuse(Fault::CutShort, 8,
                      "its count table of " + std::to_string(hd.sampleTotal) +
                          (hd.sampleTotal == 1 ? " entry" : " entries") + " would start before byte 12");
    out.tableStart = out.fileBytes - tableBytes;
    if (keepCounts) out.counts.resize(static_cast<size_t>(hd.sampleTotal));
    CountReader table(src, out.tableStart, hd.sampleTotal);
    int64_t records = 0;
    out.largestCount = -1;
    out.smallestCount = INT32_MAX;
    for (int32_t k = 0; k < hd.sampleTotal; ++k) {
        int64_t at = out.tableStart + 4 * int64_t(k);
        int32_t c = 0;
        if (!table.Next(c)) return Refuse(Fault::CutShort, at, "its count table cannot be read");
        if (c < 0)
            return Refuse(Fault::CutShort, at, "sample " + std::to_string(k) + " has a negative count");
        if (keepCounts) out.counts[static_cast<size_t>(k)] = c;
        out.largestCount = std::max(out.largestCount, c);
        out.smallestCount = std::min(out.smallestCount, c);
        records += c;
        if (records * kRecordBytes > body - tableBytes)
            return Refuse(Fault::CutShort, at,
                          "the records its count table announces do not fit in the file");
    }
    out.samples = hd.sampleTotal;
    out.records = records;
    return {};
}

int32_t ReadSample(const Source& src, const Layout& layout, int k, SampleRecord* dst, int32_t capacity) {
    return ReadSample(src, layout, k, layout.RecordsBefore(k), dst, capacity);
}

int32_t ReadSample(const Source& src, const Layout& layout, int k, int64_t recordsBefore, SampleRecord* dst,
                   int32_t capacity) {
    if (k < 0 || k >= layout.samples || capacity <= 0) return 0;
    int32_t want = std::min(layout.Count(k), capacity);
    size_t bytes = src.ReadAt(kHeaderBytes + kRecordBytes * recordsBefore, dst,
                              static_cast<size_t>(want) * kRecordBytes);
    int32_t got = static_cast<int32_t>(bytes / kRecordBytes);
    std::memset(reinterpret_cast<char*>(dst) + got * kRecordBytes, 0,
                static_cast<size_t>(capacity - got) * kRecordBytes);
    return got;
}

std::string EncodeHeader(int32_t formatTag, int32_t samplesPerFrame, int32_t sampleTotal) {
    std::string out;
    PutI32(out, formatTag);
    PutI32(out, samplesPerFrame);
    PutI32(out, sampleTotal);
    return out;
}

std::string EncodeFile(int32_t samplesPerFrame, const std::vector<std::vector<SampleRecord>>& samples,
                       int32_t formatTag) {
    std::string out = EncodeHeader(formatTag, samplesPerFrame, static_cast<int32_t>(samples.size()));
    for (const auto& s : samples)
        for (const auto& r : s) {
            PutF32(out, r.weight);
            PutI32(out, r.time);
        }
    if (formatTag < 0)
        for (const auto& s : samples)
            PutI32(out, static_cast<int32_t>(s.size()));
    return out;
}

} // namespace sel
