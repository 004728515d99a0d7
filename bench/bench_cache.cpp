// The modifier's cost per evaluation against what the machine can do at best, measured side by side
// in one run: every case "x/N" has a floor "x.floor/N" doing only the unavoidable work (the file
// reads or writes of the case, and one pass that writes N floats and N selection bits through the
// mesh's own containers, the only way a modifier can write them). bench/report.py pairs them.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "plugin/tessarin.h"
#include "runtime/builtin_modifiers.h"
#include "runtime/scene.h"
#include "runtime/window.h"

extern "C" const ResourceTable VomarkModuleResources;
extern "C" BOOL DllMain(HINSTANCE, ULONG, LPVOID);

namespace {
constexpr int kTpf = 160;            // ticks per frame; one sample per frame
constexpr int kStepSamples = 16;     // samples of the files the playback cases walk through
constexpr int kScrubEvaluations = 4; // evaluations within one sample interval
constexpr int kRecordFrames = 100;

namespace fs = std::filesystem;

fs::path TempDir() {
    static fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("tessarin-bench-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

void LoadModule() {
    static bool done = [] {
        HINSTANCE h = vm::MakeModuleInstance(&VomarkModuleResources, "Tessarin.dlm");
        DllMain(h, DLL_PROCESS_ATTACH, nullptr);
        return true;
    }();
    (void)done;
}

float WeightOf(int i, int k) { return float((i * 7 + k * 13) % 97) / 96.0f; } // 1.0 now and then

// A variable-count file of `samples` samples of `verts` records, written as the recorder writes it.
std::string MakeCache(int verts, int samples) {
    std::string path =
        (TempDir() / ("play-" + std::to_string(verts) + "x" + std::to_string(samples) + ".sel")).string();
    if (fs::exists(path)) return path;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    int32_t header[3] = {sel::kWrittenFormatTag, 1, samples};
    std::fwrite(header, sizeof header, 1, f);
    std::vector<SampleRecord> records(static_cast<size_t>(verts));
    for (int k = 0; k < samples; ++k) {
        for (int i = 0; i < verts; ++i)
            records[static_cast<size_t>(i)] = {WeightOf(i, k), k * kTpf};
        std::fwrite(records.data(), sizeof(SampleRecord), records.size(), f);
    }
    std::vector<int32_t> counts(static_cast<size_t>(samples), verts);
    std::fwrite(counts.data(), sizeof(int32_t), counts.size(), f);
    std::fclose(f);
    return path;
}

// A triangle mesh with weights on channel 0 and every tenth vertex selected.
void PrepareMesh(Mesh& mesh, int verts) {
    mesh.setNumVerts(verts);
    mesh.setVDataSupport(0, TRUE);
    float* ch = mesh.vertexFloat(0);
    for (int i = 0; i < verts; ++i) {
        ch[i] = WeightOf(i, 5) * 0.5f;
        if (i % 10 == 0) mesh.vertSel.Set(i);
    }
}

// The modifier alone, evaluated on a prepared mesh that the host does not copy.
struct Playback {
    explicit Playback(int verts, int samples = kStepSamples) {
        LoadModule();
        PrepareMesh(tri.mesh, verts);
        mod = static_cast<Tessarin*>(module::ClassDescriptor()->CreateInstance(FALSE));
        mod->pblock->SetParamValue(pb_cache_file, 0, MakeCache(verts, samples).c_str());
        state.obj = &tri;
    }
    ~Playback() { mod->DeleteThis(); }
    void At(TimeValue t) { mod->EvaluateMesh(t, context, &state, nullptr); }
    vm::Scene scene;
    TriObject tri;
    ObjectState state;
    ModContext context;
    Tessarin* mod = nullptr;
};

// The floor's file and pass: reads whole samples into a buffer, and writes N floats and N bits.
struct Floor {
    Floor(int verts, int samples = kStepSamples) : n(verts), buffer(static_cast<size_t>(verts) * 2) {
        PrepareMesh(mesh, verts);
        f = std::fopen(MakeCache(verts, samples).c_str(), "rb");
    }
    ~Floor() { std::fclose(f); }
    void Read(int k, SampleRecord* dst) {
        fseeko(f, static_cast<off_t>(sel::kHeaderBytes + sel::kRecordBytes * int64_t(n) * k), SEEK_SET);
        benchmark::DoNotOptimize(std::fread(dst, sizeof(SampleRecord), size_t(n), f));
    }
    void Pass(const SampleRecord* src) {
        float* ch = mesh.vertexFloat(0);
        for (int i = 0; i < n; ++i) {
            float w = src[i].weight;
            mesh.vertSel.Set(i, w == 1.0f);
            ch[i] = w;
        }
        benchmark::ClobberMemory();
    }
    int n;
    std::vector<SampleRecord> buffer;
    Mesh mesh;
    std::FILE* f = nullptr;
};

int Verts(const benchmark::State& state) { return static_cast<int>(state.range(0)); }
int Samples(const benchmark::State& state) {
    return state.range(1) > 0 ? static_cast<int>(state.range(1)) : kStepSamples;
}

void Finish(benchmark::State& state, int evaluationsPerIteration = 1) {
    state.counters["evaluations"] = evaluationsPerIteration;
    state.SetItemsProcessed(state.iterations() * evaluationsPerIteration);
}

// Stepping forward one sample per evaluation through the file's last kStepSamples samples (the
// whole file when it is shorter), where a sample's offset is the sum of the most counts. Going back
// to the first of them is a jump, made outside the time.
int FirstStep(int samples) { return std::max(0, samples - kStepSamples); }
void Step(benchmark::State& state) {
    int samples = Samples(state), first = FirstStep(samples), k = first;
    Playback p(Verts(state), samples);
    p.At(first * kTpf + 40);
    for (auto _ : state) {
        if (++k == samples - 1) {
            state.PauseTiming();
            k = first;
            p.At(k++ * kTpf + 40);
            state.ResumeTiming();
        }
        p.At(k * kTpf + 40);
    }
    Finish(state);
}
void StepFloor(benchmark::State& state) {
    int samples = Samples(state), first = FirstStep(samples), k = first;
    Floor fl(Verts(state), samples);
    for (auto _ : state) {
        if (++k == samples - 1) k = first + 1;
        fl.Read(k + 1, fl.buffer.data());
        fl.Pass(fl.buffer.data());
    }
    Finish(state);
}

// Random times: neither bracketing sample is held from the evaluation before.
std::vector<int> RandomSamples(int samples) {
    std::mt19937 rng(12);
    std::vector<int> order;
    int last = -10;
    while (order.size() < 997) {
        int k = static_cast<int>(rng() % static_cast<unsigned>(samples - 1));
        if (std::abs(k - last) < 2) continue;
        order.push_back(k);
        last = k;
    }
    return order;
}
void Random(benchmark::State& state) {
    Playback p(Verts(state), Samples(state));
    std::vector<int> order = RandomSamples(Samples(state));
    size_t j = 0;
    for (auto _ : state) {
        p.At(order[j] * kTpf + 40);
        j = (j + 1) % order.size();
    }
    Finish(state);
}
void RandomFloor(benchmark::State& state) {
    Floor fl(Verts(state), Samples(state));
    std::vector<int> order = RandomSamples(Samples(state));
    size_t j = 0;
    for (auto _ : state) {
        fl.Read(order[j], fl.buffer.data());
        benchmark::DoNotOptimize(
            std::fread(fl.buffer.data() + fl.n, sizeof(SampleRecord), static_cast<size_t>(fl.n), fl.f));
        fl.Pass(fl.buffer.data());
        j = (j + 1) % order.size();
    }
    Finish(state);
}

// Several evaluations within each sample interval, the interval stepping forward.
void Scrub(benchmark::State& state) {
    Playback p(Verts(state));
    int k = 0;
    p.At(40);
    for (auto _ : state) {
        if (++k == kStepSamples - 1) {
            state.PauseTiming();
            k = 0;
            p.At(k++ * kTpf + 40);
            state.ResumeTiming();
        }
        for (int e = 0; e < kScrubEvaluations; ++e)
            p.At(k * kTpf + e * kTpf / kScrubEvaluations);
    }
    Finish(state, kScrubEvaluations);
}
void ScrubFloor(benchmark::State& state) {
    Floor fl(Verts(state));
    int k = 0;
    for (auto _ : state) {
        if (++k == kStepSamples - 1) k = 1;
        fl.Read(k, fl.buffer.data());
        for (int e = 0; e < kScrubEvaluations; ++e)
            fl.Pass(fl.buffer.data());
    }
    Finish(state, kScrubEvaluations);
}

// One capturing evaluation that writes its sample. The file is rewound after each sample so that it
// stays one sample long.
struct Capture {
    explicit Capture(int verts) : p(verts, 2) {
        path = (TempDir() / "capture.sel").string();
        p.mod->cacheFile = std::fopen(path.c_str(), "wb");
        p.mod->recording = 1;
        p.mod->writeNow = 1;
    }
    ~Capture() {
        std::fclose(p.mod->cacheFile);
        p.mod->cacheFile = nullptr;
        p.mod->recording = 0;
        fs::remove(path);
    }
    Playback p;
    std::string path;
};
void Record(benchmark::State& state) {
    Capture c(Verts(state));
    for (auto _ : state) {
        std::fseek(c.p.mod->cacheFile, sel::kHeaderBytes, SEEK_SET);
        c.p.mod->recordTime = 160;
        c.p.At(160);
        if (c.p.mod->countTable.Count() > 1000) c.p.mod->countTable.SetCount(0);
    }
    Finish(state);
}
void RecordFloor(benchmark::State& state) {
    std::string path = (TempDir() / "capture-floor.sel").string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<SampleRecord> records(static_cast<size_t>(Verts(state)), SampleRecord{0.5f, 160});
    for (auto _ : state) {
        std::fseek(f, sel::kHeaderBytes, SEEK_SET);
        benchmark::DoNotOptimize(std::fwrite(records.data(), sizeof(SampleRecord), records.size(), f));
    }
    std::fclose(f);
    fs::remove(path);
    Finish(state);
}

// The host: a node whose mesh gets a moving soft selection below the modifier.
struct HostScene {
    explicit HostScene(int verts) {
        LoadModule();
        auto* tri = new TriObject();
        tri->mesh.setNumVerts(verts);
        for (int i = 0; i < verts; ++i)
            tri->mesh.verts[static_cast<size_t>(i)] = Point3{float(i % 1000), float(i / 1000), 0.0f};
        node = scene.AddNode("n", tri);
        IDerivedObject* d = scene.DerivedObjectOf(node);
        d->AddModifier(new vm::SoftSelect(
            {{0, Point3{0, 0, 0}}, {kRecordFrames * kTpf, Point3{1000, 100, 0}}}, 50.0f, 50.0f));
        mod = static_cast<Tessarin*>(module::ClassDescriptor()->CreateInstance(FALSE));
        path = (TempDir() / "record.sel").string();
        mod->pblock->SetParamValue(pb_cache_file, 0, path.c_str());
        mod->pblock->SetParamValue(pb_start_time, 0, 0.0f);
        mod->pblock->SetParamValue(pb_end_time, 0, float(kRecordFrames - 1));
        mod->pblock->SetParamValue(pb_samples, 0, 1);
        d->AddModifier(mod, 0);
        scene.SetCurrentTime(-kTpf);
    }
    ~HostScene() { fs::remove(path); }
    vm::Scene scene;
    INode* node = nullptr;
    Tessarin* mod = nullptr;
    std::string path;
};

// A whole recording of 100 frames through the host, per frame.
void WholeRecord(benchmark::State& state) {
    HostScene h(Verts(state));
    h.mod->Record(nullptr); // the first run also makes the file's blocks
    for (auto _ : state)
        h.mod->Record(nullptr);
    Finish(state, kRecordFrames);
}
// The host's evaluation of the modifiers below, and one write of each sample.
void WholeRecordFloor(benchmark::State& state) {
    HostScene h(Verts(state));
    h.mod->SetAFlag(A_MOD_DISABLED);
    std::vector<SampleRecord> records(static_cast<size_t>(Verts(state)), SampleRecord{0.5f, 160});
    auto run = [&] {
        std::FILE* f = std::fopen(h.path.c_str(), "wb");
        for (int frame = 0; frame < kRecordFrames; ++frame) {
            benchmark::DoNotOptimize(h.scene.EvaluateNode(h.node, frame * kTpf, 1).obj);
            std::fwrite(records.data(), sizeof(SampleRecord), records.size(), f);
        }
        std::fclose(f);
    };
    run();
    for (auto _ : state)
        run();
    Finish(state, kRecordFrames);
}

// The host's own pipeline: copying the base mesh into the evaluation, with no modifier at all.
void HostPipeline(benchmark::State& state) {
    HostScene h(Verts(state));
    h.scene.DerivedObjectOf(h.node)->ModifierAt(0)->SetAFlag(A_MOD_DISABLED);
    h.scene.DerivedObjectOf(h.node)->ModifierAt(1)->SetAFlag(A_MOD_DISABLED);
    TimeValue t = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(h.scene.EvaluateNode(h.node, t += kTpf, 1).obj);
    Finish(state);
}
// The same bytes (points, and one bit per vertex) copied into buffers that already exist.
void HostPipelineFloor(benchmark::State& state) {
    size_t bytes = static_cast<size_t>(Verts(state)) * sizeof(Point3) + static_cast<size_t>(Verts(state)) / 8;
    std::vector<char> from(bytes, 1), to(bytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    Finish(state);
}

// A case and its floor, one after the other; `iterations` fixes the count for the long cases.
void Pair(const char* name, void (*fn)(benchmark::State&), void (*floor)(benchmark::State&),
          std::vector<std::vector<int64_t>> args, int iterations = 0) {
    for (const auto& a : args)
        for (auto* b : {benchmark::RegisterBenchmark(name, fn),
                        benchmark::RegisterBenchmark((std::string(name) + ".floor").c_str(), floor)}) {
            b->Args(a)->Unit(benchmark::kMicrosecond);
            if (iterations > 0) b->Iterations(iterations);
        }
}
} // namespace

int main(int argc, char** argv) {
    const std::vector<std::vector<int64_t>> sizes = {{10000, 0}, {100000, 0}, {1000000, 0}};
    Pair("playback_step", Step, StepFloor, sizes);
    Pair("playback_random", Random, RandomFloor, sizes);
    Pair("playback_scrub", Scrub, ScrubFloor, sizes);
    Pair("record_sample", Record, RecordFloor, sizes);
    Pair("host_pipeline", HostPipeline, HostPipelineFloor, sizes);
    Pair("record_100_frames", WholeRecord, WholeRecordFloor, {{100000, 0}}, 4);
    // the file's length: a small mesh, so that 10,000 samples stay well under a gigabyte
    Pair("length_step", Step, StepFloor, {{1000, 10}, {1000, 10000}});
    Pair("length_random", Random, RandomFloor, {{1000, 10}, {1000, 10000}});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(TempDir(), ec);
    return 0;
}
