// Soak: 100,000 evaluations of one scene, a Tessarin playing a recording it made, with the panel
// open, the selection type cycling and the file closed and reloaded now and then. Resident memory
// after the warm-up must stay flat; the run fails (exit 1) when it grows by more than the allowance.
// usage: bench_soak [EVALUATIONS]   (make soak)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "plugin/tessarin.h"
#include "runtime/builtin_modifiers.h"
#include "runtime/host_record.h"
#include "runtime/interaction.h"
#include "runtime/scene.h"
#include "runtime/window.h"

extern "C" const ResourceTable VomarkModuleResources;
extern "C" BOOL DllMain(HINSTANCE, ULONG, LPVOID);

namespace {
constexpr int kVerts = 2000, kFrames = 50, kWarmUp = 2000;
constexpr long kAllowanceKiB = 1024;

long ResidentKiB() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
} // namespace

int main(int argc, char** argv) {
    long evaluations = argc > 1 ? std::atol(argv[1]) : 100000;
    HINSTANCE h = vm::MakeModuleInstance(&VomarkModuleResources, "Tessarin.dlm");
    DllMain(h, DLL_PROCESS_ATTACH, nullptr);
    vm::ScriptedInteraction provider; // dialogs answer Cancel
    vm::SetInteraction(&provider);

    std::string path =
        (std::filesystem::temp_directory_path() / ("tessarin-soak-" + std::to_string(getpid()) + ".sel"))
            .string();
    vm::Scene scene;
    auto* tri = new TriObject();
    tri->mesh.setNumVerts(kVerts);
    INode* node = scene.AddNode("soak", tri);
    std::vector<vm::SoftSelect::Key> centers;
    for (int f = 0; f <= kFrames; f += 10)
        centers.push_back({f * 160, Point3{float(f % 20), float(f % 7), 0.0f}});
    scene.DerivedObjectOf(node)->AddModifier(new vm::SoftSelect(centers, 3.0f, 5.0f), 0);
    for (int i = 0; i < kVerts; ++i)
        tri->mesh.verts[static_cast<size_t>(i)] = {float(i % 50) * 0.5f, float(i / 50) * 0.5f, 0.0f};
    auto* mod = static_cast<Tessarin*>(module::ClassDescriptor()->CreateInstance(FALSE));
    mod->pblock->SetParamValue(pb_cache_file, 0, path.c_str());
    mod->pblock->SetParamValue(pb_end_time, 0, float(kFrames));
    mod->pblock->SetParamValue(pb_samples, 0, 3);
    mod->pblock->SetParamValue(pb_relative_offset, 0, 1);
    mod->pblock->SetParamValue(pb_strength, 0, 0.5f);
    scene.DerivedObjectOf(node)->AddModifier(mod, 0);
    scene.SetCurrentTime(-1);
    mod->Record(nullptr);
    scene.BeginEdit(mod);

    long base = 0, peak = 0;
    for (long e = 0; e < evaluations; ++e) {
        // times across the recording and past both ends, stepping and jumping
        TimeValue t = static_cast<TimeValue>((e * 37) % ((kFrames + 4) * 160)) - 2 * 160;
        if (e % 1000 == 0) mod->pblock->SetParamValue(pb_selection_type, 0, int(e / 1000 % 4));
        if (e % 5000 == 0) mod->ChooseCacheFile(mod->Panel()); // closed: the next evaluation loads again
        scene.SetCurrentTime(t);
        scene.EvaluateNode(node, t, 0);
        if (e % 1000 == 0) vm::Record().Clear(); // the host's own log of calls is not the modifier's
        if (e == kWarmUp) base = ResidentKiB();
        if (e > kWarmUp && e % 100 == 0) peak = std::max(peak, ResidentKiB());
    }
    // a soak of the not-found path would prove little
    bool played = mod->StatusCode() != status_missing;
    scene.EndEdit();
    std::filesystem::remove(path);
    if (!played) {
        std::printf("soak: the recording did not play\n");
        return 1;
    }
    long growth = peak - base;
    std::printf(
        "soak: %ld evaluations of %d vertices; resident %ld KiB after warm-up, peak %ld KiB, growth %ld KiB "
        "(allowed %ld)\n",
        evaluations, kVerts, base, peak, growth, kAllowanceKiB);
    vm::SetInteraction(nullptr);
    return growth > kAllowanceKiB ? 1 : 0;
}
