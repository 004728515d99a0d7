// Evaluation: the instancing check, playback of the two samples around t, and the end steps.
#include <cmath>
#include <cstring>

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
    double A = sampleA[i].weight, B = sampleB[i].weight;
    double blend = A + (B - A) * fraction;
    if (relativeOffset) return (blend - firstSample[i].weight) * strength + w;
    return blend;
}

void Tessarin::PlaybackWeights(TimeValue t, TriObject* object) {
    // 1. parameters
    const char* path = nullptr;
    float start = 0.0f;
    Interval valid = FOREVER();
    pblock->GetParamValue(pb_cache_file, 0, path, valid);
    pblock->GetParamValue(pb_time, 0, start, valid);
    pblock->GetParamValue(pb_relative_offset, 0, relativeOffset, valid);
    pblock->GetParamValue(pb_strength, t, strength, valid);
    // 2. no file named at all: pass through
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

// Steps 10 and 11: sample idx into sampleA and sample next into sampleB.
void Tessarin::FillSampleBuffers(int idx, int next) {
    // 10. seek to sample idx
    auto cnt = [&](int k) { return variableCounts ? countTable[k] : pointsPerSample; };
    int64_t off = variableCounts ? SampleOffset(idx) : int64_t(pointsPerSample) * idx;
    fseeko(cacheFile, static_cast<off_t>(sel::kHeaderBytes + sel::kRecordBytes * off), SEEK_SET);
    // 11. fill the buffers; stepping forward, the old upper sample becomes the lower one
    size_t bufferBytes = static_cast<size_t>(pointsPerSample) * sizeof(SampleRecord);
    if (idx == indexB) {
        std::memcpy(sampleA, sampleB, bufferBytes);
        fseeko(cacheFile, static_cast<off_t>(sel::kRecordBytes * cnt(idx)), SEEK_CUR);
    } else {
        ReadRecords(cacheFile, sampleA, cnt(idx));
    }
    if (next == idx)
        std::memcpy(sampleB, sampleA, bufferBytes);
    else
        ReadRecords(cacheFile, sampleB, cnt(next));
    indexB = next;
    indexA = idx;
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
    for (int i = 0; i < n; ++i) {
        float w = mesh.vertSel[i] ? 1.0f : ch ? ch[i] : 0.0f;
        double v = BlendVertexWeight(i, w);
        float r;
        switch (selectionType) {
        case 0: r = static_cast<float>(v); break;
        case 1: r = static_cast<float>(v + w); break;
        case 2: r = static_cast<float>(w - v); break;
        default: r = w; break;
        }
        if (r == 1.0f) {
            mesh.vertSel.Set(i);
        } else {
            mesh.vertSel.Clear(i);
            if (ch) ch[i] = r;
        }
    }
}
