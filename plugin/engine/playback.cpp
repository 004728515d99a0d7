// Evaluation: the instancing check, playback of the two samples around t, and the end steps.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "sel/files.h"
#include "sel/play.h"
#include "plugin/tessarin.h"

namespace {
float* WeightChannel(Mesh& mesh) { return mesh.vDataSupport(0) ? mesh.vertexFloat(0) : nullptr; }

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
    return sel::play::SampleIndexAt(t, start, GetTicksPerFrame(), samplesPerFrame, sampleTotal);
}

double Tessarin::BlendVertexWeight(int i, float w) {
    if (!sampleA || !sampleB || !firstSample) return w;
    return sel::play::PlayedValue(HeldPlayed(), i, w);
}

// The choices BlendVertexWeight makes per vertex, made once for the held samples.
sel::play::Played Tessarin::HeldPlayed() const {
    return sel::play::ChoosePlayed(sampleA, sampleB, firstSample, fraction, strength, relativeOffset != 0,
                              variableCounts != 0, pointsPerSample, variableCounts ? countTable[indexA] : 0,
                              variableCounts ? countTable[indexB] : 0);
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
    // a file deleted since it was opened is missing, one replaced (a recording elsewhere) is read anew
    if (cacheFile && OpenFileChanged()) {
        std::fclose(cacheFile);
        cacheFile = nullptr;
    }
    if (!cacheFile) LoadCache(path);
    if (!cacheFile || !sampleA || !sampleB || !firstSample) {
        // 17. not found
        if (panel && statusCode != status_missing) ShowStatus(346, status_missing);
        return;
    }
    // 6.-9. position, bracketing samples, fraction
    sel::play::Bracket bracket = sel::play::BracketAt(t, start, tpf, samplesPerFrame, sampleTotal);
    int idx = bracket.idx;
    fraction = bracket.fraction;
    FillSampleBuffers(idx, bracket.next);
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

// Steps 10 and 11: sample idx into sampleA and sample next into sampleB, reading only what the
// buffers do not already hold from the stream still open.
void Tessarin::FillSampleBuffers(int idx, int next) {
    auto read = [&](int k, SampleRecord* dst, bool seek) {
        if (seek) {
            int64_t off = variableCounts ? RecordsBefore(k) : int64_t(pointsPerSample) * k;
            sel::SeekTo(cacheFile, sel::kHeaderBytes + sel::kRecordBytes * off);
        }
        ReadRecords(cacheFile, dst, variableCounts ? countTable[k] : pointsPerSample);
    };
    sel::play::FillHeld(sampleA, sampleB, indexA, indexB, idx, next, cacheFile == heldStream,
                   static_cast<size_t>(pointsPerSample), read);
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
            mesh.vertSel.Set(i, sel::play::CombineBy(selectionType, BlendVertexWeight(i, w), w) == 1.0f);
        }
        return;
    }
    BitArray& sel = mesh.vertSel;
    sel::play::PlayVertices(selectionType, sel.Words(), ch, n, HeldPlayed(),
                       [&sel](int word, uint64_t changed, uint64_t bits) {
                           for (; changed; changed &= changed - 1) {
                               int j = std::countr_zero(changed);
                               sel.Set(word * sel::play::kBlock + j, int(bits >> j & 1));
                           }
                       });
}
