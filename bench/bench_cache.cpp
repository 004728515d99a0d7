// The modifier's cost per evaluation against what the machine can do at best. Every case runs beside
// its floor, the unavoidable work of the same step (the file reads or writes, and one pass that
// blends two samples and writes N floats and N selection bits through the mesh's own containers,
// the only way a modifier can write them, the bits a word at a time), in alternating blocks of
// steps. bench/report.py makes the table.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "sel/cache_pool.h"
#include "sel/part.h"
#include "sel/play.h"
#include "tools/tessarin/tool.h"
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
constexpr float kFraction = 0.25f;   // where the playback cases evaluate between two samples (40 ticks)

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

// A variable-count file of `samples` samples of `verts` records, written as the recorder writes it;
// its first sample is that of frame `firstFrame` (a part of a longer recording, from frame 0 on).
std::string MakeCache(int verts, int samples, int firstFrame = 0) {
    std::string path = (TempDir() / ("play-" + std::to_string(verts) + "x" + std::to_string(samples) +
                                     (firstFrame ? "@" + std::to_string(firstFrame) : "") + ".sel"))
                           .string();
    if (fs::exists(path)) return path;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    int32_t header[3] = {sel::kWrittenFormatTag, 1, samples};
    std::fwrite(header, sizeof header, 1, f);
    std::vector<SampleRecord> records(static_cast<size_t>(verts));
    for (int k = 0; k < samples; ++k) {
        for (int i = 0; i < verts; ++i)
            records[static_cast<size_t>(i)] = {WeightOf(i, k), (firstFrame + k) * kTpf};
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

constexpr int kBlock = BitArray::kWordBits; // vertices per selection word

// the floor packs its flags into words as any word-level writer must
using sel::play::PackFlags;

// The floor's file and pass: reads whole samples into the two halves of a buffer, blends them, and
// writes N floats and N bits.
struct FloorWork {
    FloorWork(int verts, int samples = kStepSamples) : n(verts), buffer(static_cast<size_t>(verts) * 2) {
        PrepareMesh(mesh, verts);
        f = std::fopen(MakeCache(verts, samples).c_str(), "rb");
    }
    ~FloorWork() { std::fclose(f); }
    void ReadNext(SampleRecord* dst) {
        benchmark::DoNotOptimize(std::fread(dst, sizeof(SampleRecord), static_cast<size_t>(n), f));
    }
    void Read(int k, SampleRecord* dst) {
        fseeko(f, static_cast<off_t>(sel::kHeaderBytes + sel::kRecordBytes * int64_t(n) * k), SEEK_SET);
        benchmark::DoNotOptimize(std::fread(dst, sizeof(SampleRecord), size_t(n), f));
    }
    SampleRecord* Half(int h) { return buffer.data() + (h != 0 ? n : 0); }
    // The least any pass must do on these containers: per block of 64 vertices, one loop that the
    // compiler vectorizes blends the two samples (in double, as playback must), stores the weights
    // and notes which are exactly 1.0; the notes become one word, and only the bits that differ from
    // the word there are written (the `BitArray` writes a bit per call, and reads whole words).
    void Pass(const SampleRecord* a, const SampleRecord* b, float fraction) {
        float* ch = mesh.vertexFloat(0);
        const uint64_t* words = mesh.vertSel.Words();
        alignas(8) uint8_t one[kBlock];
        for (int base = 0; base < n; base += kBlock) {
            int m = std::min(kBlock, n - base);
            for (int j = 0; j < m; ++j) {
                float w = float(sel::play::Blend(a[base + j].weight, b[base + j].weight, fraction));
                ch[base + j] = w;
                one[j] = w == 1.0f;
            }
            std::memset(one + m, 0, static_cast<size_t>(kBlock - m));
            uint64_t out = 0;
            for (int k = 0; k < kBlock / 8; ++k)
                out |= PackFlags(one + 8 * k) << (8 * k);
            for (uint64_t changed = out ^ words[base / kBlock]; changed; changed &= changed - 1) {
                int j = std::countr_zero(changed);
                mesh.vertSel.Set(base + j, int(out >> j & 1));
            }
        }
        benchmark::ClobberMemory();
    }
    int n;
    std::vector<SampleRecord> buffer;
    Mesh mesh;
    std::FILE* f = nullptr;
};

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

// A case and its floor, each as numbered steps of the same kind of work; `evaluations` per step.
// The Before... hooks run untimed before a step (a jump back to the start, a rewind).
struct Pair {
    virtual ~Pair() = default;
    virtual void BeforeCase(int64_t) {}
    virtual void Case(int64_t step) = 0;
    virtual void BeforeFloor(int64_t) {}
    virtual void Floor(int64_t step) = 0;
    int evaluations = 1;
    int block = 8; // steps of one side before the other takes over
};

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Processor time of this thread (user and system, so the kernel's file copies count): unlike the
// wall clock, it does not run on while the scheduler of this shared machine lets others run.
double ThreadNs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}

template <class Work> double Timed(Work&& work) {
    double t0 = ThreadNs();
    work();
    return ThreadNs() - t0;
}

// What reading the clock itself adds to every timed step; taken off both sides.
double ClockCost() {
    static double cost = [] {
        std::vector<double> empty;
        for (int i = 0; i < 2001; ++i)
            empty.push_back(Timed([] {}));
        return Median(empty);
    }();
    return cost;
}

// Every iteration runs a block of case steps and then a block of floor steps, so that both meet
// the same machine (on a shared machine the load changes from second to second) while each keeps
// its own data in the caches as it would alone. The medians of the steps are reported per
// evaluation; the iteration time is the case's.
void Measure(benchmark::State& state, Pair& pair) {
    std::vector<double> caseNs, floorNs;
    int64_t caseStep = 0, floorStep = 0;
    double clock = ClockCost();
    for (auto _ : state) {
        double total = 0;
        for (int i = 0; i < pair.block; ++i, ++caseStep) {
            pair.BeforeCase(caseStep);
            caseNs.push_back(Timed([&] { pair.Case(caseStep); }) - clock);
            total += caseNs.back();
        }
        for (int i = 0; i < pair.block; ++i, ++floorStep) {
            pair.BeforeFloor(floorStep);
            floorNs.push_back(Timed([&] { pair.Floor(floorStep); }) - clock);
        }
        state.SetIterationTime(total * 1e-9);
    }
    state.counters["evaluations"] = pair.evaluations;
    state.counters["case_ns"] = Median(caseNs) / pair.evaluations;
    state.counters["floor_ns"] = Median(floorNs) / pair.evaluations;
}

int Verts(const benchmark::State& state) { return static_cast<int>(state.range(0)); }
int SamplesOf(const benchmark::State& state) {
    return state.range(1) > 0 ? static_cast<int>(state.range(1)) : kStepSamples;
}

// Stepping forward one sample per evaluation through the file's last kStepSamples samples (the
// whole file when it is shorter), where a sample's offset is the sum of the most counts. Going back
// to the first of them is a jump, made untimed. Floor: one read of the new sample, one pass.
struct Step : Pair {
    explicit Step(const benchmark::State& s)
        : samples(SamplesOf(s)), first(std::max(0, samples - kStepSamples)), play(Verts(s), samples),
          floor(Verts(s), samples) {}
    // the lower sample of a step: first + 1 ... samples - 2, so that the upper one exists
    int Lower(int64_t step) const { return first + 1 + static_cast<int>(step % (samples - 2 - first)); }
    void BeforeCase(int64_t step) override {
        if (Lower(step) == first + 1) play.At(first * kTpf + 40);
    }
    void Case(int64_t step) override { play.At(Lower(step) * kTpf + 40); }
    // the floor reads other samples than the case did just before, which the caches may still hold
    int64_t FloorPhase(int64_t step) const { return step + (samples - 2 - first) / 2; }
    void Floor(int64_t step) override {
        // the new upper sample goes where the lower one before it was, as the modifier swaps them
        int h = static_cast<int>(step & 1);
        floor.Read(Lower(FloorPhase(step)) + 1, floor.Half(h));
        floor.Pass(floor.Half(h ^ 1), floor.Half(h), kFraction);
    }
    int samples, first;
    Playback play;
    FloorWork floor;
};

// Random times, neither bracketing sample held from the evaluation before. Floor: two reads, one pass.
struct Random : Pair {
    explicit Random(const benchmark::State& s) : play(Verts(s), SamplesOf(s)), floor(Verts(s), SamplesOf(s)) {
        std::mt19937 rng(12);
        int last = -10, samples = SamplesOf(s);
        while (order.size() < 997) {
            int k = static_cast<int>(rng() % static_cast<unsigned>(samples - 1));
            if (std::abs(k - last) < 2) continue;
            order.push_back(k);
            last = k;
        }
    }
    int At(int64_t step) const { return order[static_cast<size_t>(step) % order.size()]; }
    void Case(int64_t step) override { play.At(At(step) * kTpf + 40); }
    void Floor(int64_t step) override {
        // other samples than the case read just before, which the caches may still hold
        floor.Read(At(step + static_cast<int64_t>(order.size()) / 2), floor.Half(0));
        floor.ReadNext(floor.Half(1));
        floor.Pass(floor.Half(0), floor.Half(1), kFraction);
    }
    std::vector<int> order;
    Playback play;
    FloorWork floor;
};

// Several evaluations within each sample interval, the interval stepping forward. Floor: one read
// per interval and one pass per evaluation.
struct Scrub : Step {
    explicit Scrub(const benchmark::State& s) : Step(s) { evaluations = kScrubEvaluations; }
    void Case(int64_t step) override {
        for (int e = 0; e < kScrubEvaluations; ++e)
            play.At(Lower(step) * kTpf + e * kTpf / kScrubEvaluations);
    }
    void Floor(int64_t step) override {
        int h = static_cast<int>(step & 1);
        floor.Read(Lower(FloorPhase(step)) + 1, floor.Half(h));
        for (int e = 0; e < kScrubEvaluations; ++e)
            floor.Pass(floor.Half(h ^ 1), floor.Half(h), float(e) / kScrubEvaluations);
    }
};

// One capture that writes its sample, through the recorder and its cache writer; the file starts
// anew every eight samples, outside the timing. Floor: one write of the sample's 8N bytes, appended
// to a file started anew as often.
struct RecordSample : Pair {
    explicit RecordSample(const benchmark::State& s)
        : play(Verts(s), 2), records(static_cast<size_t>(Verts(s)), SampleRecord{0.5f, 160}) {
        path = (TempDir() / "capture.sel").string();
        floorPath = (TempDir() / "capture-floor.sel").string();
        floorFile = std::fopen(floorPath.c_str(), "wb");
    }
    ~RecordSample() override {
        recorder.Finish();
        std::fclose(floorFile);
        fs::remove(path);
        fs::remove(floorPath);
    }
    void BeforeCase(int64_t) override {
        // a new file every few samples, so that the file stays small; not timed
        if (written++ % 8 == 0) {
            recorder.Finish();
            recorder.Open(path, 1, 8);
        }
        recorder.Request(160, true);
    }
    void Case(int64_t) override { recorder.Capture(160, &play.tri, int(records.size()), play.mod->pblock); }
    // the floor appends too, to a file started anew as often: growing a file costs more than
    // writing over the same bytes
    void BeforeFloor(int64_t) override {
        if (floorWritten++ % 8 == 0) {
            std::fclose(floorFile);
            floorFile = std::fopen(floorPath.c_str(), "wb");
        }
    }
    void Floor(int64_t) override {
        benchmark::DoNotOptimize(
            std::fwrite(records.data(), sizeof(SampleRecord), records.size(), floorFile));
    }
    Playback play;
    Recorder recorder;
    std::vector<SampleRecord> records;
    std::string path, floorPath;
    std::FILE* floorFile = nullptr;
    long written = 0, floorWritten = 0;
};

// A whole recording of 100 frames through the host, per frame. Floor: the host's evaluation of the
// modifiers below at each frame, and one write of each sample.
struct WholeRecord : Pair {
    explicit WholeRecord(const benchmark::State& s)
        : host(Verts(s)), records(static_cast<size_t>(Verts(s)), SampleRecord{0.5f, 160}) {
        evaluations = kRecordFrames;
        block = 1;
    }
    void Case(int64_t) override { host.mod->Record(nullptr); }
    void Floor(int64_t) override {
        host.mod->SetAFlag(A_MOD_DISABLED);
        std::FILE* f = std::fopen(host.path.c_str(), "wb");
        for (int frame = 0; frame < kRecordFrames; ++frame) {
            benchmark::DoNotOptimize(host.scene.EvaluateNode(host.node, frame * kTpf, 1).obj);
            std::fwrite(records.data(), sizeof(SampleRecord), records.size(), f);
        }
        std::fclose(f);
        host.mod->ClearAFlag(A_MOD_DISABLED);
    }
    HostScene host;
    std::vector<SampleRecord> records;
};

// The host's own pipeline: copying the base mesh into the evaluation, with every modifier off.
// Floor: the same bytes (points and one bit per vertex) copied into buffers that already exist.
struct HostPipeline : Pair {
    explicit HostPipeline(const benchmark::State& s)
        : host(Verts(s)),
          bytes(static_cast<size_t>(Verts(s)) * sizeof(Point3) + static_cast<size_t>(Verts(s)) / 8),
          from(bytes, 1), to(bytes) {
        IDerivedObject* d = host.scene.DerivedObjectOf(host.node);
        for (int i = 0; i < d->ModifierCount(); ++i)
            d->ModifierAt(i)->SetAFlag(A_MOD_DISABLED);
    }
    void Case(int64_t) override {
        benchmark::DoNotOptimize(host.scene.EvaluateNode(host.node, t += kTpf, 1).obj);
    }
    void Floor(int64_t) override {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::ClobberMemory();
    }
    HostScene host;
    size_t bytes;
    std::vector<char> from, to;
    TimeValue t = 0;
};

// tessarin join of four parts of S samples in all, with accumulateSelection, so that every part after
// the first carries the running largest weights of the one before (the join's slowest path). Floor:
// a plain copy of the same bytes, file to file, in the same 4 MiB pieces. Neither flushes to the
// disk (the join's commit does, once, as any durable copy must).
struct JoinParts : Pair {
    explicit JoinParts(const benchmark::State& s) {
        block = 2;
        int verts = Verts(s), samples = SamplesOf(s), per = samples / 4;
        for (int p = 0; p < 4; ++p) {
            std::string path = MakeCache(verts, per, p * per);
            std::string copy = (TempDir() / ("part" + std::to_string(p) + ".sel")).string();
            fs::copy_file(path, copy, fs::copy_options::overwrite_existing);
            sel::PartRecord r;
            r.recording = "be";
            r.firstFrame = p * per;
            r.lastFrame = r.firstFrame + per - 1;
            r.wholeLast = 4 * per - 1;
            r.ticksPerFrame = kTpf;
            r.accumulate = 1;
            r.firstCount = verts;
            r.fileBytes = int64_t(fs::file_size(copy));
            files.push_back(std::fopen(copy.c_str(), "rb"));
            sources.push_back(std::make_unique<sel::FileSource>(files.back()));
            if (!tessarin::FillChecksums(*sources.back(), r)) std::abort();
            auto open = [source = sources.back().get()](std::string&) {
                return tessarin::PartBytes(tessarin::PartBytes(), source);
            };
            parts.push_back({copy, open, true, sel::EncodePartRecord(r)});
        }
        out = (TempDir() / "joined.sel").string();
    }
    ~JoinParts() override {
        for (std::FILE* f : files)
            std::fclose(f);
    }
    struct FileSink : tessarin::Sink {
        std::FILE* f;
        bool Write(const void* d, size_t n) override { return std::fwrite(d, 1, n, f) == n; }
        bool WriteAt(int64_t, const void*, size_t) override { return false; }
    };
    void Case(int64_t) override {
        FileSink sink;
        sink.f = std::fopen(out.c_str(), "wb");
        std::ostringstream text;
        tessarin::Context ctx{text, text};
        if (tessarin::Join(parts, sink, out, ctx) != 0) std::abort();
        std::fclose(sink.f);
    }
    void Floor(int64_t) override {
        std::FILE* to = std::fopen(out.c_str(), "wb");
        std::vector<char> piece(size_t(4) << 20);
        for (std::FILE* from : files) {
            fseeko(from, 0, SEEK_SET);
            for (size_t n; (n = std::fread(piece.data(), 1, piece.size(), from)) > 0;)
                std::fwrite(piece.data(), 1, n, to);
        }
        std::fclose(to);
    }
    std::vector<std::FILE*> files;
    std::vector<std::unique_ptr<sel::FileSource>> sources;
    std::vector<tessarin::JoinPart> parts;
    std::string out;
};

// A crowd: N nodes of V vertices, node i playing cache i % C (C files alike but for their names), all
// evaluated at one time, a frame after another (forward to the file's end, then back, so that every
// frame steps one sample). Floor: the sum of the N nodes' floors, each node alone in a scene of its
// own (playing copies of the same C files), evaluated at the same kind of frame: what the scene's
// size adds is the difference. Counters: per-node times (case_ns is the frame's time over N), and
// warm_ns, one node alone evaluated again and again (its mesh stays in the processor's caches, which
// N meshes of a crowd outgrow); the memory: what the cache pool holds against the distinct samples
// in use (three a file: the first and the two around t), and what the case adds to the process's
// resident memory against the meshes' own (the host's meshes and their evaluated copies, of the
// crowd and of the floor).
struct Crowd : Pair {
    explicit Crowd(const benchmark::State& s)
        : verts(Verts(s)), nodes(static_cast<int>(s.range(1))), caches(static_cast<int>(s.range(2))) {
        LoadModule();
        // what the cases before left to the allocator goes back, so that the growth is this case's
        malloc_trim(0);
        residentBefore = Resident();
        block = 2;
        evaluations = nodes;
        std::string source = MakeCache(verts, kStepSamples);
        auto copies = [&](const std::string& name) {
            std::vector<std::string> files;
            for (int c = 0; c < caches; ++c) {
                files.push_back((TempDir() / (name + std::to_string(c) + ".sel")).string());
                fs::copy_file(source, files.back(), fs::copy_options::overwrite_existing);
            }
            return files;
        };
        std::vector<std::string> files = copies("crowd"), own = copies("alone");
        for (int i = 0; i < nodes; ++i) {
            crowd.push_back(AddNode(scene, "agent" + std::to_string(i), files[size_t(i % caches)]));
            alone.push_back(std::make_unique<vm::Scene>());
            aloneNodes.push_back(AddNode(*alone.back(), "agent" + std::to_string(i), own[size_t(i % caches)]));
        }
    }
    INode* AddNode(vm::Scene& in, const std::string& name, const std::string& file) {
        auto* tri = new TriObject();
        PrepareMesh(tri->mesh, verts);
        INode* node = in.AddNode(name, tri);
        auto* mod = static_cast<Tessarin*>(module::ClassDescriptor()->CreateInstance(FALSE));
        mod->pblock->SetParamValue(pb_cache_file, 0, file.c_str());
        in.DerivedObjectOf(node)->AddModifier(mod, 0);
        return node;
    }
    // frames 1, 2, ... samples - 2 and back: every frame one sample away from the one before
    static TimeValue FrameAt(int64_t step) {
        int64_t span = kStepSamples - 3, at = step % (2 * span);
        return TimeValue(1 + (at <= span ? at : 2 * span - at)) * kTpf + 40;
    }
    void Case(int64_t step) override {
        TimeValue t = FrameAt(step);
        for (INode* n : crowd)
            benchmark::DoNotOptimize(scene.EvaluateNode(n, t, 0).obj);
    }
    void Floor(int64_t step) override {
        TimeValue t = FrameAt(step);
        for (size_t i = 0; i < alone.size(); ++i)
            benchmark::DoNotOptimize(alone[i]->EvaluateNode(aloneNodes[i], t, 0).obj);
    }
    void Report(benchmark::State& state) {
        std::vector<double> warm;
        for (int64_t step = 0; step < 200; ++step)
            warm.push_back(Timed([&] { alone[0]->EvaluateNode(aloneNodes[0], FrameAt(step), 0); }) - ClockCost());
        sel::CachePool::Counts pool = sel::CachePool::Shared().Count();
        double record = double(verts) * sizeof(SampleRecord);
        double mesh = double(verts) * (sizeof(Point3) + sizeof(float)) + double(verts) / 8;
        state.counters["nodes"] = nodes;
        state.counters["caches"] = caches;
        state.counters["warm_ns"] = Median(warm);
        // the crowd's and the floor's: both play at once, from files of their own
        state.counters["cache_bytes"] = double(pool.heldBytes + pool.keptBytes);
        state.counters["distinct_bytes"] = 2 * 3 * caches * record;
        state.counters["open_files"] = double(pool.openFiles);
        state.counters["resident_bytes"] = Resident() - residentBefore;
        state.counters["mesh_bytes"] = 2 * 2 * nodes * mesh;
    }
    // the process's resident memory in bytes
    static double Resident() {
        long pages = 0, resident = 0;
        if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
            std::fclose(f);
        }
        return double(resident) * double(sysconf(_SC_PAGESIZE));
    }
    int verts, nodes, caches;
    double residentBefore = 0;
    vm::Scene scene;
    std::vector<INode*> crowd;
    std::vector<std::unique_ptr<vm::Scene>> alone;
    std::vector<INode*> aloneNodes;
};

template <class P> void Run(benchmark::State& state) {
    P pair(state);
    Measure(state, pair);
}

template <> void Run<Crowd>(benchmark::State& state) {
    Crowd pair(state);
    Measure(state, pair);
    pair.Report(state);
}

void Register(const char* name, void (*fn)(benchmark::State&), std::vector<std::vector<int64_t>> args,
              int iterations = 0) {
    for (const auto& a : args) {
        auto* b =
            benchmark::RegisterBenchmark(name, fn)->Args(a)->Unit(benchmark::kMicrosecond)->UseManualTime();
        if (iterations > 0) b->Iterations(iterations);
    }
}
} // namespace

int main(int argc, char** argv) {
    const std::vector<std::vector<int64_t>> sizes = {{10000, 0}, {100000, 0}, {1000000, 0}};
    Register("playback_step", Run<Step>, sizes);
    Register("playback_random", Run<Random>, sizes);
    Register("playback_scrub", Run<Scrub>, sizes);
    Register("record_sample", Run<RecordSample>, sizes);
    Register("host_pipeline", Run<HostPipeline>, sizes);
    Register("record_100_frames", Run<WholeRecord>, {{100000, 0}}, 15);
    // the file's length: a small mesh, so that 10,000 samples stay well under a gigabyte
    Register("length_step", Run<Step>, {{1000, 10}, {1000, 10000}});
    Register("length_random", Run<Random>, {{1000, 10}, {1000, 10000}});
    Register("join_4_parts", Run<JoinParts>, {{100000, 40}, {1000000, 20}}, 5);
    // crowds: vertices, nodes, caches
    Register("crowd", Run<Crowd>, {{1000, 1000, 10}, {1000, 10000, 10}, {100000, 100, 5}}, 10);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(TempDir(), ec);
    return 0;
}
