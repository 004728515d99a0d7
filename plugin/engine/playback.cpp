// Evaluation: the instancing check, playback of the two samples around t, and the end steps.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "sel/play.h"
#include "plugin/tessarin.h"

namespace {
float* WeightChannel(Mesh& mesh) { return mesh.vDataSupport(0) ? mesh.vertexFloat(0) : nullptr; }
} // namespace

void Tessarin::EvaluateMesh(TimeValue t, ModContext&, ObjectState* holder, INode*) {
    auto* object = holder ? dynamic_cast<TriObject*>(holder->obj) : nullptr;
    if (!object) return;
    // a modifier shared by several nodes plays one cache onto meshes that may differ
    NodeCollector collector;
    EnumDependents(&collector);
    if (collector.nodes.Count() > 1 && panel && statusCode != status_instanced)
        ShowStatus(336, status_instanced);
    incomingCount = object->PointCount();
    if (recorder.Recording())
        CaptureWeights(t, object);
    else if (!suppressPlayback)
        PlaybackWeights(t, object);
    // the result holds for this time alone: the host evaluates again at the next
    object->GetMesh().dispFlags |= DISP_SELVERTS | DISP_VERTTICKS;
    object->UpdateValidity(1, Interval(t, t));
    object->SetChannelInterval(4, Interval(t, t));
    collector.nodes.Free();
}

void Tessarin::CaptureWeights(TimeValue t, TriObject* object) { recorder.Capture(t, object, incomingCount, pblock); }

void Tessarin::PlaybackWeights(TimeValue t, TriObject* object) {
    const char* path = CacheFileName();
    float start = 0.0f;
    Interval valid = FOREVER();
    pblock->GetParamValue(pb_time, 0, start, valid);
    pblock->GetParamValue(pb_relative_offset, 0, relativeOffset, valid);
    pblock->GetParamValue(pb_strength, t, strength, valid);
    // no file named (unset or ""): pass through, without the missing-file message
    if (!path) return;
    sel::play::Played played{};
    if (!player.Ready(path) || !player.Hold(t, start, GetTicksPerFrame(), strength, relativeOffset != 0, played)) {
        if (panel && statusCode != status_missing) ShowStatus(346, status_missing);
        return;
    }
    // a fixed-count file has no counts of its own to compare with
    int count = player.HeldCount();
    if (panel && count >= 0 && object->PointCount() != count && statusCode != status_count_mismatch)
        ShowStatus(345, status_count_mismatch);
    WriteWeights(t, object->GetMesh(), played);
    // the file is found again
    if (statusCode == status_missing) {
        statusCode = status_none;
        SetWindowTextA(GetDlgItem(panel, 1006), " ");
        module::ParamDescriptor()->InvalidateUI();
    }
}

// Each vertex's played weight, combined with the incoming one, as a selection bit
// (exactly 1.0) or a soft-selection weight.
void Tessarin::WriteWeights(TimeValue t, Mesh& mesh, const sel::play::Played& played) {
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
            double v = sel::play::PlayedValue(played, i, w);
            mesh.vertSel.Set(i, sel::play::CombineBy(selectionType, v, w) == 1.0f);
        }
        return;
    }
    BitArray& sel = mesh.vertSel;
    sel::play::PlayVertices(selectionType, sel.Words(), ch, n, played,
                       [&sel](int word, uint64_t changed, uint64_t bits) {
                           for (; changed; changed &= changed - 1) {
                               int j = std::countr_zero(changed);
                               sel.Set(word * sel::play::kBlock + j, int(bits >> j & 1));
                           }
                       });
}
