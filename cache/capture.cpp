// Capture while recording: the incoming weights of the requested evaluation go to the cache file.
#include <algorithm>

#include "plugin/tessarin.h"

namespace {
// Records of vertices [0, to): 1.0 when selected, else the channel weight (vertices from `present`
// on have none: 0.0), kept at the record's earlier weight when that is greater.
template <bool kKeepLarger>
void CaptureRange(const BitArray& selection, const float* ch, SampleRecord* records, TimeValue t, int present,
                  int to) {
    auto store = [&](int i, float v) {
        if (kKeepLarger && v < records[i].weight) v = records[i].weight;
        records[i] = SampleRecord{v, t};
    };
    for (int i = 0; i < present; ++i) {
        float c = ch[i];
        store(i, selection[i] ? 1.0f : c);
    }
    for (int i = std::max(present, 0); i < to; ++i)
        store(i, selection[i] ? 1.0f : 0.0f);
}
} // namespace

void Tessarin::CaptureWeights(TimeValue t, TriObject* object) {
    // 1. only the evaluation the recorder asked for captures
    if (cacheFile && t == recordTime) {
        // 2.-3.
        int accumulate = 0;
        Interval valid = FOREVER();
        pblock->GetParamValue(pb_accumulate, t, accumulate, valid);
        Mesh& mesh = object->GetMesh();
        BitArray selection = mesh.vertSel;
        const float* ch = mesh.vDataSupport(0) ? mesh.vertexFloat(0) : nullptr;
        // 4. a new point count restarts the comparison
        bool compare = true;
        if (accumulated.Count() != incomingCount) {
            accumulated.SetCount(incomingCount);
            compare = false;
        }
        // 5.
        if (writeNow) countTable.Append(1, &incomingCount);
        // 6. accumulated holds the sample's records in file order, so one write of it gives the
        // same bytes as one write per record
        int n = incomingCount;
        int present = std::min(n, ch ? mesh.getNumVerts() : 0);
        SampleRecord* records = n > 0 ? accumulated.Addr(0) : nullptr;
        if (compare && accumulate)
            CaptureRange<true>(selection, ch, records, t, present, n);
        else
            CaptureRange<false>(selection, ch, records, t, present, n);
        if (writeNow && n > 0 &&
            std::fwrite(records, sizeof(SampleRecord), static_cast<size_t>(n), cacheFile) != size_t(n))
            writeFailed = 1;
    }
    // 8. every evaluation while recording moves the requested time on
    ++recordTime;
}
