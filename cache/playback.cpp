// Evaluation: the instancing check, playback of the two samples around t, and the end steps.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "plugin/tessarin.h"

namespace {
float* WeightChannel(Mesh& mesh) { return mesh.vDataSupport(0) ? mesh.vertexFloat(0) : nullptr; }

// The arithmetic of BlendVertexWeight, shared with the per-vertex loop so both give the same bits.
inline double Blend(float A, float B, float fraction) { return A + (double(B) - A) * fraction; }
inline double Relative(double blend, float F, float strength, float w) { return (blend - F) * strength + w; }

// Reads `count` records at the stream position; records the file does not deliver are zero.
void ReadRecords(FILE* f, SampleRecord* dst, int count) {
    if (count <= 0) return;
    size_t got = std::fread(dst, sizeof(SampleRecord), static_cast<size_t>(count), f);
    std::memset(dst + got, 0, (static_cast<size_t>(count) - got) * sizeof(SampleRecord));
}
} // namespace

void Tessarin::EvaluateMesh(TimeValue t, ModContext&, ObjectState* holder, INode*) {
    auto* object = holder ? dynamic_cast<TriObject*>(holder->obj) : nullptr;
    if (!object) return;
    // 1. instancing check
    NodeCollector collector;
    EnumDependents(&collector);
    if (collector.nodes.Count() > 1 && panel && statusCode != status_instanced)
        ShowStatus(336, status_instanced);
    // 2. incoming count
    incomingCount = object->PointCount();
    // 3. dispatch
    if (recording)
        CaptureWeights(t, object);
    else if (!suppressPlayback)
        PlaybackWeights(t, object);
    // 4. end steps
    object->GetMesh().dispFlags |= DISP_SELVERTS | DISP_VERTTICKS;
    object->UpdateValidity(1, Interval(t, t));
    object->SetChannelInterval(4, Interval(t, t));
    collector.nodes.Free();
}

int Tessarin::SampleIndexAt(TimeValue t) {
    float start = 0.0f;
    Interval valid = FOREVER();
    pblock->GetParamValue(pb_time, 0, start, valid);
    float T = static_cast<float>(t);
    double x = (double(T) / GetTicksPerFrame() - start) * samplesPerFrame;
    // truncation toward zero, saturated so that far-away times clamp like any other
    int idx;
    if (std::isnan(x))
        idx = 0;
    else if (x >= 2147483647.0)
        idx = 2147483647;
    else if (x <= -2147483648.0)
        idx = -2147483647 - 1;
    else
        idx = static_cast<int>(x);
    if (idx >= sampleTotal) idx = sampleTotal - 1;
    if (idx < 0) idx = 0;
    return idx;
}

double Tessarin::BlendVertexWeight(int i, float w) {
    if (!sampleA || !sampleB || !firstSample) return w;
    if (!variableCounts) {
        if (i >= pointsPerSample) return w;
    } else {
        int cA = countTable[indexA], cB = countTable[indexB];
        if (cA != cB) return i < cA ? sampleA[i].weight : w;
        if (i >= cA) return w;
    }
    double blend = Blend(sampleA[i].weight, sampleB[i].weight, fraction);
    if (relativeOffset) return Relative(blend, firstSample[i].weight, strength, w);
    return blend;
}

void Tessarin::PlaybackWeights(TimeValue t, TriObject* object) {
    // 1. parameters
    const char* path = CacheFileName();
    float start = 0.0f;
    Interval valid = FOREVER();
    pblock->GetParamValue(pb_time, 0, start, valid);
    pblock->GetParamValue(pb_relative_offset, 0, relativeOffset, valid);
    pblock->GetParamValue(pb_strength, t, strength, valid);
    // 2. no file named (unset or ""): pass through, without the missing-file message
    if (!path) return;
    // 3.-5. the file and its buffers
    int tpf = GetTicksPerFrame();
    if (!cacheFile) LoadCache(path);
    if (!cacheFile || !sampleA || !sampleB || !firstSample) {
        // 17. not found
        if (panel && statusCode != status_missing) ShowStatus(346, status_missing);
        return;
    }
    // 6.-9. position, bracketing samples, fraction
    float p = static_cast<float>((double(t) / tpf - start) * samplesPerFrame);
    int idx = SampleIndexAt(t);
    int next = idx + 1;
    if (next >= sampleTotal) next = sampleTotal - 1;
    if (next < 0) next = 0;
    double s = samplesPerFrame, q = 1.0 / s;
    float a = static_cast<float>(idx * q * s);
    double b = (idx + 1.0) * q * s;
    double quotient = (p - double(a)) / (b - a);
    fraction = static_cast<float>(quotient);
    if (quotient < 0) fraction = 0.0f;
    if (fraction > 1.0f) fraction = 1.0f;
    FillSampleBuffers(idx, next);
    // 12. point-count check; a fixed-count file has no counts of its own (the table may be another file's)
    if (panel && variableCounts && idx < countTable.Count() && object->PointCount() != countTable[idx] &&
        statusCode != status_count_mismatch)
        ShowStatus(345, status_count_mismatch);
    // 13.-15.
    WriteWeights(t, object->GetMesh());
    // 16. the file is found again
    if (statusCode == status_missing) {
        statusCode = status_none;
        SetWindowTextA(GetDlgItem(panel, 1006), " ");
        module::ParamDescriptor()->InvalidateUI();
    }
}

// Steps 10 and 11: sample idx into sampleA and sample next into sampleB. Stepping forward, the old
// upper sample becomes the lower one. Beyond that, a sample already held in a buffer and read from
// the stream still open is taken from there instead of being read again: reading it would give the
// same records. Buffers are swapped rather than copied; records past a sample's own count are never
// played, so what they hold does not matter.
void Tessarin::FillSampleBuffers(int idx, int next) {
    auto cnt = [&](int k) { return variableCounts ? countTable[k] : pointsPerSample; };
    auto seekTo = [&](int k) {
        int64_t off = variableCounts ? RecordsBefore(k) : int64_t(pointsPerSample) * k;
        fseeko(cacheFile, static_cast<off_t>(sel::kHeaderBytes + sel::kRecordBytes * off), SEEK_SET);
    };
    bool sameStream = cacheFile == heldStream;
    bool haveA = false;
    if (idx == indexB) {
        if (indexA != indexB) {
            std::swap(sampleA, sampleB);
            std::swap(indexA, indexB);
        }
        haveA = true;
    } else if (sameStream && idx == indexA) {
        haveA = true;
    } else if (sameStream && next == indexA) {
        // stepping back: the old lower sample becomes the upper one
        std::swap(sampleA, sampleB);
        std::swap(indexA, indexB);
    }
    if (!haveA) {
        seekTo(idx);
        ReadRecords(cacheFile, sampleA, cnt(idx));
    }
    if (!sameStream || indexB != next) {
        if (next == idx) {
            std::memcpy(sampleB, sampleA, static_cast<size_t>(pointsPerSample) * sizeof(SampleRecord));
        } else {
            // next is idx + 1: right after sample idx when that was just read
            if (haveA) seekTo(next);
            ReadRecords(cacheFile, sampleB, cnt(next));
        }
    }
    indexA = idx;
    indexB = next;
    heldStream = cacheFile;
}

// Records before sample k of a variable-count file: SampleOffset's sum, taken from the running sums
// made when the file was loaded, so that the cost does not grow with the file's length.
int64_t Tessarin::RecordsBefore(int k) {
    if (recordsBefore.size() == static_cast<size_t>(countTable.Count()) + 1 && k >= 0 &&
        static_cast<size_t>(k) < recordsBefore.size())
        return recordsBefore[static_cast<size_t>(k)];
    return SampleOffset(k);
}

namespace {
template <int kType> inline float Combine(double v, float w) {
    if constexpr (kType == 0)
        return static_cast<float>(v);
    else if constexpr (kType == 1)
        return static_cast<float>(v + w);
    else if constexpr (kType == 2)
        return static_cast<float>(w - v);
    else
        return w;
}

float CombineBy(int selectionType, double v, float w) {
    switch (selectionType) {
    case 0: return Combine<0>(v, w);
    case 1: return Combine<1>(v, w);
    case 2: return Combine<2>(v, w);
    default: return Combine<3>(v, w);
    }
}

constexpr int kBlock = BitArray::kWordBits; // vertices per selection word

// Eight flags of 0 or 1, one a byte, as the low eight bits of a word (flag k is bit k).
inline uint64_t PackFlags(const uint8_t* flags) {
    static_assert(std::endian::native == std::endian::little);
    uint64_t x;
    std::memcpy(&x, flags, sizeof x);
    return (x * 0x0102040810204080ull) >> 56;
}

// Vertices [from, to): incoming weight w, played value played(i, w), combined by kType and stored
// as a bit (exactly 1.0) or a weight. The selection is read a word at a time: a block's incoming
// weights are gathered, its set bits make them 1.0, a branch-free loop (which the compiler
// vectorizes) stores the weights and notes the results of exactly 1.0, and only the bits that
// change are written. The selection holds at least `to` bits.
template <int kType, class Played> void Pass(BitArray& sel, float* ch, int from, int to, Played played) {
    const uint64_t* words = sel.Words();
    float w[kBlock];
    alignas(8) uint8_t one[kBlock];
    for (int base = from - from % kBlock; base < to; base += kBlock) {
        int lo = std::max(from, base) - base, hi = std::min(to - base, kBlock);
        uint64_t range = (hi == kBlock ? ~uint64_t{0} : (uint64_t{1} << hi) - 1) & ~((uint64_t{1} << lo) - 1);
        uint64_t in = words[base / kBlock] & range;
        float* c = ch + base;
        for (int j = lo; j < hi; ++j)
            w[j] = c[j];
        for (uint64_t b = in; b; b &= b - 1)
            w[std::countr_zero(b)] = 1.0f;
        for (int j = lo; j < hi; ++j) {
            float r = Combine<kType>(played(base + j, w[j]), w[j]);
            // an exact 1.0 is a set bit and keeps the stored weight
            bool isOne = r == 1.0f;
            one[j] = isOne;
            c[j] = isOne ? c[j] : r;
        }
        std::memset(one, 0, static_cast<size_t>(lo));
        std::memset(one + hi, 0, static_cast<size_t>(kBlock - hi));
        uint64_t out = 0;
        for (int k = 0; k < kBlock / 8; ++k)
            out |= PackFlags(one + 8 * k) << (8 * k);
        for (uint64_t changed = out ^ in; changed; changed &= changed - 1) {
            int j = std::countr_zero(changed);
            sel.Set(base + j, int(out >> j & 1));
        }
    }
}

// What playback needs of the buffers for one evaluation; `blended` vertices come from the samples,
// the rest keep their incoming weight as the played value.
struct PlayedSamples {
    const SampleRecord *a, *b, *first;
    float fraction, strength;
    bool relative;  // relative offset applied
    bool lowerOnly; // the two samples differ in count: the lower one, unblended
    int blended;
};

template <int kType> void PassAll(BitArray& sel, float* ch, int n, const PlayedSamples& s) {
    const SampleRecord *a = s.a, *b = s.b, *first = s.first;
    float fraction = s.fraction, strength = s.strength;
    int m = std::min(n, s.blended);
    if (s.lowerOnly)
        Pass<kType>(sel, ch, 0, m, [a](int i, float) { return double(a[i].weight); });
    else if (s.relative)
        Pass<kType>(sel, ch, 0, m, [=](int i, float w) {
            return Relative(Blend(a[i].weight, b[i].weight, fraction), first[i].weight, strength, w);
        });
    else
        Pass<kType>(sel, ch, 0, m, [=](int i, float) { return Blend(a[i].weight, b[i].weight, fraction); });
    Pass<kType>(sel, ch, std::max(m, 0), n, [](int, float w) { return double(w); });
}
} // namespace

// Steps 13 to 15: each vertex's played weight, combined with the incoming one, as a selection bit
// (exactly 1.0) or a soft-selection weight.
void Tessarin::WriteWeights(TimeValue t, Mesh& mesh) {
    Interval valid = FOREVER();
    mesh.selLevel = MESH_VERTEX;
    int selectionType = 0;
    pblock->GetParamValue(pb_selection_type, t, selectionType, valid);
    float* ch = WeightChannel(mesh);
    if (!ch) {
        mesh.setVDataSupport(0, TRUE);
        ch = WeightChannel(mesh);
    }
    int n = mesh.getNumVerts();
    mesh.vertSel.SetSize(n, 1);
    if (!ch) {
        // no channel to hold weights: only the bits change
        for (int i = 0; i < n; ++i) {
            float w = mesh.vertSel[i] ? 1.0f : 0.0f;
            mesh.vertSel.Set(i, CombineBy(selectionType, BlendVertexWeight(i, w), w) == 1.0f);
        }
        return;
    }
    // the choices BlendVertexWeight makes per vertex, made once for the whole pass
    PlayedSamples s{sampleA, sampleB,        firstSample, fraction, strength, relativeOffset != 0,
                    false,   pointsPerSample};
    if (variableCounts) {
        int cA = countTable[indexA], cB = countTable[indexB];
        s.lowerOnly = cA != cB;
        s.blended = cA;
    }
    switch (selectionType) {
    case 0: PassAll<0>(mesh.vertSel, ch, n, s); break;
    case 1: PassAll<1>(mesh.vertSel, ch, n, s); break;
    case 2: PassAll<2>(mesh.vertSel, ch, n, s); break;
    default: PassAll<3>(mesh.vertSel, ch, n, s); break;
    }
}
