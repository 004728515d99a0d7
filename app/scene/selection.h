// A node's selection: the effective weight of a vertex, the one rule every verb, picture and the page
// use, and the CSV rows of an evaluated selection.
#pragma once
#include <ostream>

#include "runtime/scene.h"

namespace app {

// What a vertex's selection amounts to: 1.0 for a selected vertex (whatever its channel holds, as
// playback leaves the channel of a vertex it selects), else its soft-selection weight, else 0.
float EffectiveWeight(Mesh& mesh, int i);
// The same for vertex i of a loop over the mesh: its selection bit and the soft-selection channel
// (null when the mesh has none).
inline float EffectiveWeight(bool selected, const float* channel, int i) {
    return selected ? 1.0f : channel ? channel[i] : 0.0f;
}

// The mesh's selection as CSV rows "tick,vertex,selected,weight,effective" under
// kSelectionCsvHeader (weight, the raw channel value, "%.9g", empty without a soft-selection
// channel; effective as EffectiveWeight, "%.9g").
extern const char* const kSelectionCsvHeader;
void WriteSelectionCsv(TimeValue t, Mesh& mesh, std::ostream& out);

} // namespace app
