// Playback cost per evaluation: a 100,000-vertex mesh stepping forward through a cache, and the
// same with every evaluation jumping (both samples read).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cache/format/cache_format.h"
#include "plugin/tessarin.h"
#include "runtime/scene.h"
#include "runtime/window.h"

extern "C" const ResourceTable VomarkModuleResources;
extern "C" BOOL DllMain(HINSTANCE, ULONG, LPVOID);

namespace {
constexpr int kVerts = 100000, kSamples = 64;

std::string MakeCache() {
    std::string path = (std::filesystem::temp_directory_path() / "tessarin-bench.sel").string();
    std::vector<std::vector<sel::SampleRecord>> samples(kSamples, std::vector<sel::SampleRecord>(kVerts));
    for (int k = 0; k < kSamples; ++k)
        for (int i = 0; i < kVerts; ++i)
            samples[k][i] = {float((i + k) % 97) / 96.0f, k * 160};
    std::string bytes = sel::EncodeFile(1, samples);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

void Playback(benchmark::State& state, bool jump) {
    static HINSTANCE inst = [] {
        HINSTANCE h = vm::MakeModuleInstance(&VomarkModuleResources, "Tessarin.dlm");
        DllMain(h, DLL_PROCESS_ATTACH, nullptr);
        return h;
    }();
    (void)inst;
    static std::string path = MakeCache();
    vm::Scene scene;
    auto* tri = new TriObject();
    tri->mesh.setNumVerts(kVerts);
    INode* node = scene.AddNode("n", tri);
    auto* mod = static_cast<Tessarin*>(module::ClassDescriptor()->CreateInstance(FALSE));
    mod->pblock->SetParamValue(pb_cache_file, 0, path.c_str());
    scene.DerivedObjectOf(node)->AddModifier(mod);
    TimeValue t = 0;
    for (auto _ : state) {
        t = jump ? (t + 160 * 7 + 40) % (160 * kSamples) : (t + 40) % (160 * kSamples);
        benchmark::DoNotOptimize(scene.EvaluateNode(node, t, 0).obj);
    }
    state.SetItemsProcessed(state.iterations() * kVerts);
}
void SteppingForward(benchmark::State& s) { Playback(s, false); }
void Jumping(benchmark::State& s) { Playback(s, true); }
BENCHMARK(SteppingForward)->Unit(benchmark::kMicrosecond);
BENCHMARK(Jumping)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
