// A node's selection as its effective weights and as CSV rows.
#include "scene/selection.h"

#include <cstdio>
#include <string>

namespace app {

const char* const kSelectionCsvHeader = "tick,vertex,selected,weight,effective\n";

namespace {
std::string Weight(const float* ch, int i) {
    if (!ch) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(ch[i]));
    return buf;
}
} // namespace

float EffectiveWeight(Mesh& mesh, int i) { return EffectiveWeight(mesh.vertSel[i] != 0, mesh.vertexFloat(0), i); }

void WriteSelectionCsv(TimeValue t, Mesh& mesh, std::ostream& out) {
    const float* ch = mesh.vertexFloat(0);
    char effective[32];
    for (int i = 0; i < mesh.getNumVerts(); ++i) {
        std::snprintf(effective, sizeof effective, "%.9g", static_cast<double>(EffectiveWeight(mesh, i)));
        out << t << ',' << i << ',' << mesh.vertSel[i] << ',' << Weight(ch, i) << ',' << effective << '\n';
    }
}

} // namespace app
