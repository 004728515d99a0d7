// Any bytes as a cache file played by the modifier on a small host scene, read through a real file
// as the modifier reads it. The first bytes choose the parameters and the evaluation times:
//   0      selectionType (signed)      1     flags: 1 relativeOffset, 2 panel open, 4 fallback folder
//   2-5    strength (float32)          6-9   time, the frame of sample 0 (float32)
//   10     vertex count (0 to 63)      11    ticks per frame: 160, 1, 7 or 4800
//   12-27  four evaluation times (int32 ticks)
// and the rest is the file.
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "runtime/builtin_modifiers.h"
#include "runtime/host_record.h"
#include "runtime/scene.h"

namespace {
constexpr size_t kParamBytes = 28;

template <class T> T Take(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::AttachModule();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kParamBytes) return 0;
    int selectionType = static_cast<int8_t>(data[0]);
    uint8_t flags = data[1];
    float strength = Take<float>(data + 2), start = Take<float>(data + 6);
    int verts = data[10] % 64;
    const int tpfChoices[] = {160, 1, 7, 4800};
    int tpf = tpfChoices[data[11] % 4];

    // the file, under its own name or (flag 4) found only through the fallback folder
    std::string file = fuzz_support::Folder("fuzz_playback") + "/input.sel";
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + kParamBytes),
               static_cast<std::streamsize>(size - kParamBytes));

    vm::Record().Clear();
    vm::Scene scene;
    scene.SetTicksPerFrame(tpf);
    scene.SetDirectory(2, fuzz_support::Folder("fuzz_playback"));
    auto* tri = new TriObject();
    tri->mesh.setNumVerts(verts);
    INode* node = scene.AddNode("n", tri);
    std::vector<float> weights;
    for (int i = 0; i < verts; ++i)
        weights.push_back(static_cast<float>(i % 5) / 4.0f);
    auto* mod = static_cast<Tessarin*>(module::ClassDescriptor()->CreateInstance(FALSE));
    mod->pblock->SetParamValue(pb_cache_file, 0, (flags & 4) ? "/no/such/folder/input.sel" : file.c_str());
    mod->pblock->SetParamValue(pb_selection_type, 0, selectionType);
    mod->pblock->SetParamValue(pb_relative_offset, 0, flags & 1);
    mod->pblock->SetParamValue(pb_strength, 0, strength);
    mod->pblock->SetParamValue(pb_time, 0, start);
    scene.DerivedObjectOf(node)->AddModifier(new vm::SelectKeys({{TIME_NegInfinity, {0, 2}, weights}}), 0);
    scene.DerivedObjectOf(node)->AddModifier(mod, 0);
    if (flags & 2) scene.BeginEdit(mod);

    for (int e = 0; e < 4; ++e) {
        TimeValue t = Take<int32_t>(data + 12 + 4 * e);
        scene.SetCurrentTime(t);
        ObjectState os = scene.EvaluateNode(node, t, 0);
        auto* out = static_cast<TriObject*>(os.obj);
        if (!out || out->mesh.getNumVerts() != verts) __builtin_trap(); // the modifier never changes topology
    }
    return 0;
}
