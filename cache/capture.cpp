// Capture while recording: the incoming weights of the requested evaluation go to the cache file.
#include "plugin/tessarin.h"

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
        // 6.
        for (int i = 0; i < incomingCount; ++i) {
            float v = selection[i] ? 1.0f : ch && i < mesh.getNumVerts() ? ch[i] : 0.0f;
            if (compare && accumulate && v < accumulated[i].weight) v = accumulated[i].weight;
            SampleRecord record{v, t};
            accumulated[i] = record;
            if (writeNow && std::fwrite(&record, sizeof record, 1, cacheFile) != 1) writeFailed = 1;
        }
    }
    // 8. every evaluation while recording moves the requested time on
    ++recordTime;
}
