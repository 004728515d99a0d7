// Capture while recording: the incoming weights of the requested evaluation go to the cache file.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "plugin/engine/recorder.h"
#include "plugin/tessarin.h"

namespace {
constexpr int kBlock = BitArray::kWordBits; // vertices per selection word

// Stores the record (x, the time in `timeWord`) as one 8-byte word: a record is the weight's bits,
// then the time, little-endian like the file.
inline void Put(SampleRecord* r, float x, uint64_t timeWord) {
    static_assert(std::endian::native == std::endian::little);
    static_assert(sizeof(SampleRecord) == 8 && offsetof(SampleRecord, time) == 4);
    uint64_t word = std::bit_cast<uint32_t>(x) | timeWord;
    std::memcpy(r, &word, sizeof word);
}

// The record's weight, read as Put writes it, which lets the compiler vectorize the two together.
inline float Weight(const SampleRecord* r) {
    uint64_t word;
    std::memcpy(&word, r, sizeof word);
    return std::bit_cast<float>(static_cast<uint32_t>(word));
}

// Records of vertices [0, to): 1.0 when selected, else the channel weight (vertices from `present`
// on have none: 0.0), kept at the record's earlier weight when that is greater. The selection is
// read a word at a time: a branch-free loop (which the compiler vectorizes) stores every vertex of
// a block as unselected, then the block's set bits overwrite their records.
template <bool kKeepLarger>
void CaptureRange(const BitArray& selection, const float* ch, SampleRecord* records, TimeValue t, int present,
                  int to) {
    const uint64_t* words = selection.Words();
    int wordCount = selection.WordCount();
    const uint64_t timeWord = uint64_t{static_cast<uint32_t>(t)} << 32;
    float selected[kBlock]; // kKeepLarger: what a selected vertex records
    for (int base = 0; base < to; base += kBlock) {
        int len = std::min(kBlock, to - base);
        int fromCh = std::clamp(present - base, 0, len);
        // a word past the selection's end reads as no bits; bits past `to` have no record
        uint64_t bits = base / kBlock < wordCount ? words[base / kBlock] : 0;
        if (len < kBlock) bits &= (uint64_t{1} << len) - 1;
        SampleRecord* r = records + base;
        if constexpr (kKeepLarger) {
            for (uint64_t b = bits; b; b &= b - 1) {
                int j = std::countr_zero(b);
                selected[j] = 1.0f < r[j].weight ? r[j].weight : 1.0f;
            }
        }
        for (int j = 0; j < fromCh; ++j) {
            float x = ch[base + j];
            if (kKeepLarger && x < Weight(r + j)) x = Weight(r + j);
            Put(r + j, x, timeWord);
        }
        for (int j = fromCh; j < len; ++j) {
            float x = 0.0f;
            if (kKeepLarger && x < Weight(r + j)) x = Weight(r + j);
            Put(r + j, x, timeWord);
        }
        for (uint64_t b = bits; b; b &= b - 1) {
            int j = std::countr_zero(b);
            Put(r + j, kKeepLarger ? selected[j] : 1.0f, timeWord);
        }
    }
}
} // namespace

void Recorder::Capture(TimeValue t, TriObject* object, int incomingCount, IParamBlock2* pblock) {
    // only the evaluation the recorder asked for captures
    if (recording && t == recordTime) {
        int accumulate = 0;
        Interval valid = FOREVER();
        pblock->GetParamValue(pb_accumulate, t, accumulate, valid);
        Mesh& mesh = object->GetMesh();
        const BitArray& selection = mesh.vertSel;
        const float* ch = mesh.vDataSupport(0) ? mesh.vertexFloat(0) : nullptr;
        // a new point count restarts the comparison
        bool compare = true;
        if (accumulated.Count() != incomingCount) {
            accumulated.SetCount(incomingCount);
            compare = false;
        }
        if (writeNow) countTable.Append(1, &incomingCount);
        // accumulated holds the sample's records in file order, so one write of it gives the same
        // bytes as one write per record
        int n = incomingCount;
        int present = std::min(n, ch ? mesh.getNumVerts() : 0);
        SampleRecord* records = n > 0 ? accumulated.Addr(0) : nullptr;
        if (compare && accumulate)
            CaptureRange<true>(selection, ch, records, t, present, n);
        else
            CaptureRange<false>(selection, ch, records, t, present, n);
        // one write of the whole sample: writing it in cache-sized chunks as they are made measured
        // slower
        if (writeNow) cacheFile.Append(records, n);
    }
    // every evaluation while recording moves the requested time on
    ++recordTime;
}
