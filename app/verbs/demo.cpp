// vomark demo: a grid whose soft selection a SoftSelect sweeps across it, a Tessarin on top. It
// records through the modifier's published function, evaluates the live selection, switches the
// modifiers below off, plays the cache back at the same times, compares, and draws what it did.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

#include <nlohmann/json.hpp>

#include "sel/files.h"
#include "sel/output.h"
#include "sel/reader.h"
#include "console/stop.h"
#include "verbs/verbs.h"
#include "scene/cache_files.h"
#include "scene/host_queries.h"
#include "scene/recording_reports.h"
#include "scene/panel_view.h"
#include "pictures/cache_heatmap.h"
#include "scene/progress.h"
#include "runtime/function_publishing.h"
#include "scene/scene_description.h"
#include "scene/scene_files.h"
#include "scene/scene_pictures.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct DemoOptions {
    std::string out = "out/demo", frames = "0:100";
    int size = 40000, samples = 2;
    bool force = false;
};

// The demo's own files carry a note beside them: each name with its size and time of change as the
// demo left it. A later demo replaces exactly those, and refuses a file of the same name that it did
// not write (the user's own recording, say) unless --force.
constexpr const char* kMark = ".vomark-demo";

std::string Stamp(const fs::path& p) {
    std::error_code ec;
    auto size = fs::file_size(p, ec);
    if (ec) return "";
    auto time = fs::last_write_time(p, ec);
    if (ec) return "";
    return std::to_string(size) + " " + std::to_string(time.time_since_epoch().count());
}

constexpr int kTicksPerFrame = 160;
constexpr int64_t kMaxLiveWeights = 50'000'000; // 200 MB of live selections kept for the comparison

struct Range {
    int first, last;
};

Range ParseFrames(const std::string& text) {
    int a = 0, b = 0;
    char rest = 0;
    if (std::sscanf(text.c_str(), "%d:%d%c", &a, &b, &rest) != 2 || a >= b || a < -100000 || b > 100000)
        throw std::invalid_argument("--frames " + text +
                                    ": expected A:B with A < B (frames, -100000 to 100000)");
    return {a, b};
}

// The built-in scene: a square grid of about `vertices` vertices, 100 units across, and a soft
// selection whose centre sweeps along a bend from the left edge to the right one.
std::string SceneJson(int vertices, Range r, int samples, const std::string& cache) {
    int side = std::max(2, int(std::lround(std::sqrt(double(vertices)))));
    double mid = (r.first + r.last) / 2.0;
    nlohmann::json centre = nlohmann::json::array({{{"frame", r.first}, {"at", {-60, -25, 0}}},
                                                   {{"frame", mid}, {"at", {0, 30, 0}}},
                                                   {{"frame", r.last}, {"at", {60, -25, 0}}}});
    nlohmann::json scene = {
        {"ticksPerFrame", kTicksPerFrame},
        {"animationRange", {r.first, r.last}},
        {"currentFrame", r.first},
        {"nodes",
         {{{"name", "Grid"},
           {"mesh", {{"grid", {{"width", 100}, {"length", 100}, {"rows", side - 1}, {"cols", side - 1}}}}},
           {"modifiers",
            {{{"class", "SoftSelect"}, {"radius", 14}, {"falloff", 22}, {"center", centre}},
             {{"class", "Tessarin"},
              {"id", "cache"},
              {"params",
               {{kCacheFileParameter, cache},
                {"samples", samples},
                {"start_time", r.first},
                {"end_time", r.last}}}}}}}}}};
    return scene.dump();
}

std::vector<float> Weights(Mesh& mesh) {
    return SelectionOf(mesh, "", std::make_shared<pictures::MeshShape>()).weights;
}

double LargestDifference(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return INFINITY;
    double d = 0;
    for (size_t i = 0; i < a.size(); ++i)
        d = std::max(d, std::fabs(double(a[i]) - double(b[i])));
    return d;
}

void WriteOutput(const fs::path& path, const std::string& bytes) {
    if (std::string why = sel::WriteWholeFile(path.string(), bytes); !why.empty()) throw std::runtime_error(why);
}

std::string Frame(TimeValue t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", double(t) / kTicksPerFrame);
    return buf;
}

class Demo {
  public:
    Demo(const DemoOptions& o, const CommonOptions& common) : o_(o), common_(common) {}
    int Run();

  private:
    void Build();
    int Record();
    void Times();
    void EvaluateAll(bool live);
    void Pictures();
    void Summary();
    std::vector<fs::path> Outputs() const { return {cache_, framesPng_, heatmapPng_, panelPng_, vms_}; }
    void RefuseOthersFiles() const;
    int Steps();
    std::string MarkOutputs() const;

    const DemoOptions& o_;
    const CommonOptions& common_;
    Range range_{};
    fs::path dir_, cache_, framesPng_, heatmapPng_, panelPng_, vms_;
    BuiltScene built_;
    INode* node_ = nullptr;
    Modifier* mod_ = nullptr;
    std::vector<TimeValue> times_; // sample times and half-way times, in order
    std::vector<bool> isSample_;
    std::vector<std::vector<float>> live_;
    double atSamples_ = 0, between_ = 0, recordSeconds_ = 0, playbackMicros_ = 0;
    std::vector<size_t> shown_; // the indices into times_ of the four pictured times
    std::vector<pictures::MeshPanel> panels_;
    std::shared_ptr<const pictures::MeshShape> shape_;
    int vertices_ = 0;
};

void Demo::Build() {
    range_ = ParseFrames(o_.frames);
    if (o_.samples < 1 || kTicksPerFrame % o_.samples)
        throw std::invalid_argument(
            "--samples " + std::to_string(o_.samples) +
            ": must divide 160, the demo's ticks per frame, so every sample lands on a tick");
    if (o_.size < 4 || o_.size > 1000000) throw std::invalid_argument("--size: 4 to 1000000 vertices");
    // the comparison keeps every live selection until the playback: bounded by kMaxLiveWeights
    int64_t evaluations = 2 * int64_t(range_.last - range_.first + 1) * o_.samples;
    if (evaluations * o_.size > kMaxLiveWeights)
        throw std::invalid_argument(
            "--size " + std::to_string(o_.size) + ": the comparison keeps the live weights of " +
            std::to_string(evaluations) + " evaluations (2 x frames x samples), at most " +
            std::to_string(kMaxLiveWeights) + " weights in all: at most " +
            std::to_string(kMaxLiveWeights / evaluations) + " vertices for --frames " + o_.frames +
            " at --samples " + std::to_string(o_.samples) + "; give fewer vertices, frames or samples");
    dir_ = fs::absolute(o_.out);
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (!fs::is_directory(dir_))
        throw std::invalid_argument("--out " + o_.out + ": " +
                                    (fs::exists(dir_) ? std::string("is not a folder")
                                                      : "cannot be made (" + ec.message() + ")"));
    cache_ = dir_ / "demo.sel";
    framesPng_ = dir_ / "frames.png";
    heatmapPng_ = dir_ / "heatmap.png";
    panelPng_ = dir_ / "panel.png";
    vms_ = dir_ / "demo.vms";
    RefuseOthersFiles();
    fs::remove(cache_); // a previous demo's output: recording asks before replacing a file
    built_ = BuildScene(SceneJson(o_.size, range_, o_.samples, cache_.string()), dir_.string());
    if (common_.quiet) built_.scene->SetQuiet(true);
    node_ = PickNode(*built_.scene, "");
    mod_ = built_.modifiersById.at("cache");
}

int Demo::Record() {
    vm::Scene& scene = *built_.scene;
    std::cerr << "1. recording frames " << range_.first << " to " << range_.last << ", " << o_.samples
              << " samples per frame, into " << cache_.string() << "\n";
    RecordCall call = CallRecord(scene, mod_);
    recordSeconds_ = call.seconds;
    if (!call.result.found) throw SceneError(call.result.error);
    if (!call.shownError.empty()) { // the message box's own line was printed already
        std::cerr << "vomark: " << RecordingFailure(mod_) << "\n";
        return 1;
    }
    // Escape (Ctrl-C) ends a recording early and keeps what it has: nothing to compare then
    if (SayIfRecordingStopped(call.escapesBefore, mod_)) return console::StopStatus();
    return 0;
}

// The recorder's sample times (each frame's start plus whole steps) and the tick half-way between each two.
void Demo::Times() {
    int step = kTicksPerFrame / o_.samples;
    // every frame of the range gives `samples` samples, the last frame's too
    TimeValue first = range_.first * kTicksPerFrame,
              last = range_.last * kTicksPerFrame + (o_.samples - 1) * step;
    for (TimeValue t = first; t <= last; t += step) {
        if (t > first) {
            times_.push_back(t - step / 2);
            isSample_.push_back(false);
        }
        times_.push_back(t);
        isSample_.push_back(true);
    }
    // pictured: two sample times and two times half-way between samples, spread over the range
    size_t n = times_.size();
    for (double at : {0.12, 0.38, 0.62, 0.88}) {
        size_t i = std::min(n - 1, size_t(at * double(n - 1)));
        bool wantSample = at == 0.12 || at == 0.62;
        if (isSample_[i] != wantSample && i + 1 < n) ++i;
        shown_.push_back(i);
    }
}

void Demo::EvaluateAll(bool live) {
    vm::Scene& scene = *built_.scene;
    double micros = 0;
    for (size_t i = 0; i < times_.size(); ++i) {
        scene.SetCurrentTime(times_[i]);
        auto started = Clock::now();
        Mesh& mesh = EvaluatedMesh(scene, node_, times_[i]);
        micros += std::chrono::duration<double, std::micro>(Clock::now() - started).count();
        if (!shape_) {
            shape_ = ShapeOf(mesh);
            vertices_ = mesh.getNumVerts();
        }
        std::vector<float> w = Weights(mesh);
        if (live) {
            live_.push_back(std::move(w));
        } else {
            double d = LargestDifference(live_[i], w);
            (isSample_[i] ? atSamples_ : between_) = std::max(isSample_[i] ? atSamples_ : between_, d);
        }
        if (std::find(shown_.begin(), shown_.end(), i) != shown_.end()) {
            std::string caption = "frame " + Frame(times_[i]) + (isSample_[i] ? "" : " (between samples)") +
                                  (live ? ": live" : ": played back");
            panels_.push_back(SelectionOf(mesh, caption, shape_));
        }
    }
    if (!live) playbackMicros_ = micros / double(times_.size());
}

void Demo::Pictures() {
    // live beside played back, one row per time
    std::vector<pictures::MeshPanel> ordered;
    size_t half = panels_.size() / 2;
    for (size_t i = 0; i < half; ++i) {
        ordered.push_back(panels_[i]);
        ordered.push_back(panels_[half + i]);
    }
    std::string png,
        error = pictures::MeshPng(
            ordered, 2, 300, "The grid from above, coloured by selection weight: live | played back", png);
    if (!error.empty()) throw std::runtime_error(framesPng_.string() + ": " + error);
    WriteOutput(framesPng_, png);

    sel::CacheReader cache;
    if (sel::Status opened = cache.OpenBytes(cache_.string()); !opened.ok)
        throw std::runtime_error(cache_.string() + ": " + opened.message);
    pictures::HeatmapLabels labels{"demo.sel: weight by vertex and frame", 1, double(range_.first),
                                   pictures::Aggregate::Max};
    pictures::CacheHeatmap map = pictures::DrawCacheHeatmap(cache.GetSource(), labels, 1000, 600, &png);
    if (map.failedAt >= 0)
        throw std::runtime_error(cache_.string() + ": byte " + std::to_string(map.failedAt) + ": " +
                                 map.error);
    if (!map.error.empty()) throw std::runtime_error(heatmapPng_.string() + ": " + map.error);
    WriteOutput(heatmapPng_, png);

    EditSession edit(*built_.scene, mod_, {node_});
    vm::Panel* panel = edit.Panel();
    error = PanelPng(panel ? panel->GetHWnd() : nullptr, "Tessarin panel after the demo", png);
    if (!error.empty()) throw std::runtime_error(panelPng_.string() + ": " + error);
    WriteOutput(panelPng_, png);
}

void Demo::RefuseOthersFiles() const {
    if (o_.force) return;
    std::map<std::string, std::string> marked;
    std::ifstream mark(dir_ / kMark);
    for (std::string name, size, time; mark >> name >> size >> time;)
        marked[name] = size + " " + time;
    for (const fs::path& p : Outputs()) {
        std::string stamp = Stamp(p), name = p.filename().string();
        std::error_code ec;
        if (fs::exists(p, ec) && (stamp.empty() || marked[name] != stamp))
            throw std::runtime_error(o_.out + ": holds a " + name +
                                     " that no earlier demo wrote; give --force to replace it, or another --out");
    }
}

// "" or the line saying why the note could not be written.
std::string Demo::MarkOutputs() const {
    std::string text;
    for (const fs::path& p : Outputs())
        if (std::string stamp = Stamp(p); !stamp.empty()) text += p.filename().string() + " " + stamp + "\n";
    return sel::WriteWholeFile((dir_ / kMark).string(), text);
}

int Demo::Run() {
    Build();
    // whatever this run wrote is the demo's, however it ends
    int rc = 0;
    try {
        rc = Steps();
    } catch (...) {
        MarkOutputs(); // the failure's own line is the one said
        throw;
    }
    if (std::string why = MarkOutputs(); !why.empty()) {
        std::cerr << "vomark: " << why << "\n";
        return rc ? rc : 1;
    }
    return rc;
}

int Demo::Steps() {
    if (int rc = Record()) return rc;
    Times();
    std::cerr << "2. evaluating the live selection at " << times_.size() << " times\n";
    mod_->SetAFlag(A_MOD_DISABLED); // the host's own switch: the cache is not played over the live result
    mod_->NotifyDependents(FOREVER(), PART_ALL, REFMSG_CHANGE, NOTIFY_ALL, TRUE, nullptr);
    EvaluateAll(true);
    mod_->ClearAFlag(A_MOD_DISABLED);
    mod_->NotifyDependents(FOREVER(), PART_ALL, REFMSG_CHANGE, NOTIFY_ALL, TRUE, nullptr);
    std::cerr << "3. switching the modifiers below off (disableMods) and playing the cache back\n";
    vm::ScriptCallResult r = vm::CallScriptFunction(mod_, ClassOf(mod_), "disableMods");
    if (!r.found) throw SceneError(r.error);
    std::vector<std::string> said;
    SayUnplayableCaches(*built_.scene, said);
    EvaluateAll(false);
    live_.clear();
    std::cerr << "4. drawing the pictures and saving the scene\n";
    Pictures();
    SaveSceneAs(*built_.scene, vms_.string(), true);
    Summary();
    return atSamples_ == 0 ? 0 : 1;
}

void Demo::Summary() {
    int samples = 0;
    for (bool s : isSample_)
        samples += s;
    std::error_code ec;
    auto bytes = fs::file_size(cache_, ec);
    std::printf("vertices: %d\n", vertices_);
    std::printf("samples: %d (frames %d to %d, %d per frame)\n", samples, range_.first, range_.last,
                o_.samples);
    std::printf("cache file: %s (%llu bytes)\n", cache_.c_str(), static_cast<unsigned long long>(bytes));
    std::printf("recording: %.2f s\n", recordSeconds_);
    std::printf("playback: %.0f microseconds per evaluation (mean of %zu)\n", playbackMicros_, times_.size());
    std::printf("largest difference at sample times: %.9g%s\n", atSamples_,
                atSamples_ == 0 ? " (exact)" : " (MISMATCH)");
    std::printf(
        "largest difference between samples: %.9g (the blend of two samples against the live selection)\n",
        between_);
    std::printf("wrote %s, %s, %s, %s, %s\n", cache_.c_str(), framesPng_.c_str(), heatmapPng_.c_str(),
                panelPng_.c_str(), vms_.c_str());
}

} // namespace

Verb AddDemoVerb(CLI::App& cli, CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<DemoOptions>();
    CLI::App* verb = cli.add_subcommand(
        "demo", "record a soft selection sweeping across a grid, play it back, compare, draw pictures");
    addCommon(verb);
    verb->add_option("--out", o->out, "folder for demo.sel, frames.png, heatmap.png, panel.png, demo.vms")
        ->capture_default_str();
    verb->add_option("--size", o->size,
                     "about this many vertices (a square grid, 4 to 1000000, and at most 50000000 / "
                     "(2 x frames x samples): 123762 for 0:100 at 2 samples)")
        ->capture_default_str();
    verb->add_option("--frames", o->frames, "the range recorded, A:B")->capture_default_str();
    verb->add_option("--samples", o->samples, "samples per frame (a divisor of 160)")->capture_default_str();
    verb->add_flag("--force", o->force, "replace files of the same names in --out that no earlier demo wrote");
    AddEscapeAtPollOption(verb, common);
    return {verb, [o, &common](Session&) { return Demo(*o, common).Run(); }};
}

} // namespace app
