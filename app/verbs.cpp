// plugins and eval.
#include "verbs.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "host_queries.h"
#include "runtime/function_publishing.h"
#include "runtime/plugin_loader.h"
#include "scene_description.h"
#include "scene_files.h"

#include <iostream>
#include <unistd.h>

namespace app {
namespace {
std::string Hex(unsigned long v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%08lx", v);
    return buf;
}
// One evaluation in a line: tick, selected vertices, the sum of the vertices' weights (1.0 for a
// selected one), and the evaluation's time in microseconds.
std::string Summary(TimeValue t, Mesh& mesh, double microseconds) {
    const float* ch = mesh.vertexFloat(0);
    int selected = 0;
    double sum = 0;
    for (int i = 0; i < mesh.getNumVerts(); ++i) {
        bool on = mesh.vertSel[i] != 0;
        selected += on;
        sum += on ? 1.0 : ch ? ch[i] : 0.0;
    }
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d,%d,%.9g,%.1f", t, selected, sum, microseconds);
    return buf;
}
} // namespace

int ListPlugins(Session& session, std::ostream& out) {
    for (const auto& m : session.Loader().Modules()) {
        out << m.path << "\n  description: " << m.description << "\n  version: " << Hex(m.version) << "\n";
        for (ClassDesc2* cd : m.classes) {
            Class_ID id = cd->ClassID();
            out << "  class: " << (cd->ClassName() ? cd->ClassName() : "")
                << "\n    category: " << (cd->Category() ? cd->Category() : "") << "\n    class id: ("
                << Hex(id.PartA()) << ", " << Hex(id.PartB())
                << ")\n    super-class id: " << Hex(cd->SuperClassCode()) << "\n";
        }
    }
    return 0;
}

int Evaluate(const EvalOptions& o, const CommonOptions& common, std::ostream& out) {
    BuiltScene built = LoadScene(o.scene, common.quiet);
    vm::Scene& scene = *built.scene;
    INode* node = PickNode(scene, o.node);
    if (o.times.empty()) throw std::invalid_argument("give at least one --frame or --tick");
    nlohmann::json all = nlohmann::json::array();
    if (o.format == "csv") out << kSelectionCsvHeader;
    if (o.format == "summary") out << "tick,selected,weight_sum,microseconds\n";
    for (const EvalTime& et : o.times) {
        TimeValue t = et.tick;
        if (et.isFrame) {
            double ticks = std::trunc(et.frame * scene.TicksPerFrame());
            if (!(ticks >= -2147483648.0 && ticks <= 2147483647.0))
                throw std::invalid_argument("--frame " + std::to_string(et.frame) +
                                            ": outside the range of tick times");
            t = static_cast<TimeValue>(ticks);
        }
        scene.SetCurrentTime(t);
        auto started = std::chrono::steady_clock::now();
        Mesh& mesh = EvaluatedMesh(scene, node, t);
        std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - started;
        if (o.format == "summary") {
            out << Summary(t, mesh, took.count()) << '\n';
        } else if (o.format == "csv") {
            WriteSelectionCsv(t, mesh, out);
        } else {
            const float* ch = mesh.vertexFloat(0);
            nlohmann::json verts = nlohmann::json::array();
            for (int i = 0; i < mesh.getNumVerts(); ++i) {
                nlohmann::json v = {{"vertex", i}, {"selected", mesh.vertSel[i] != 0}};
                v["weight"] = ch ? nlohmann::json(ch[i]) : nlohmann::json(nullptr);
                verts.push_back(v);
            }
            all.push_back({{"tick", t},
                           {"selectionLevel", mesh.selLevel},
                           {"displayFlags", mesh.dispFlags},
                           {"vertices", verts}});
        }
    }
    if (o.format == "json") out << all.dump(2) << "\n";
    return 0;
}

namespace {
float FloatParam(Animatable* a, const char* name) {
    IParamBlock2* block = nullptr;
    const ParamDef* def = FindParameter(a, name, &block);
    float v = 0;
    Interval valid;
    if (def) block->GetParamValue(def->id, 0, v, valid);
    return v;
}

// Progress of a recording from the times the host is asked to evaluate.
class Progress {
  public:
    Progress(int tpf, float start, float end)
        : tpf_(tpf), start_(start), end_(end), tty_(isatty(STDERR_FILENO)) {}
    ~Progress() {
        if (tty_ && shown_) std::cerr << "\n";
    }
    void Evaluated(TimeValue t) {
        long frame = t / tpf_;
        if (shown_ && frame == last_) return;
        last_ = frame;
        shown_ = true;
        double span = std::fabs(double(end_) - start_);
        double done = span > 0 ? std::fabs(double(frame) - start_) / span : 1.0;
        if (done > 1) done = 1;
        if (tty_) {
            int width = 30, fill = static_cast<int>(done * width);
            std::cerr << "\rrecording [" << std::string(static_cast<size_t>(fill), '#')
                      << std::string(static_cast<size_t>(width - fill), ' ') << "] frame " << frame
                      << std::flush;
        } else if (std::labs(frame - static_cast<long>(start_)) %
                       std::max(1L, static_cast<long>(span / 20)) ==
                   0) {
            // plain lines go to logs: about twenty of them for any range
            std::cerr << "recording frame " << frame << "\n";
        }
    }

  private:
    int tpf_;
    float start_, end_;
    bool tty_;
    bool shown_ = false;
    long last_ = 0;
};
} // namespace

int RecordCache(const RecordOptions& o, const CommonOptions& common) {
    if (!o.save.empty()) CheckTarget(o.save, o.force);
    BuiltScene built = LoadScene(o.scene, common.quiet);
    vm::Scene& scene = *built.scene;
    INode* node = PickNode(scene, o.node);
    Modifier* mod = nullptr;
    if (!o.modifier.empty()) {
        auto it = built.modifiersById.find(o.modifier);
        if (it == built.modifiersById.end())
            throw std::invalid_argument("no modifier with id \"" + o.modifier + "\"");
        mod = it->second;
    } else {
        mod = FindScriptedModifier(node, "record");
    }
    if (!mod)
        throw SceneError("node \"" + std::string(node->GetName()) + "\" has no modifier that can record");
    for (const auto& set : o.sets) {
        size_t eq = set.find('=');
        if (eq == std::string::npos) throw std::invalid_argument("--set " + set + ": expected PARAM=VALUE");
        try {
            SetParameterFromText(mod, set.substr(0, eq), set.substr(eq + 1));
        } catch (const SceneError& e) {
            throw std::invalid_argument(std::string("--set ") + e.what());
        }
    }
    ClassDesc2* cd = ClassOf(mod);
    Progress progress(scene.TicksPerFrame(), FloatParam(mod, "start_time"), FloatParam(mod, "end_time"));
    scene.onEvaluate = [&](INode*, TimeValue t) { progress.Evaluated(t); };
    size_t boxes = vm::Record().messageBoxes.size();
    vm::ScriptCallResult r = vm::CallScriptFunction(mod, cd, "record");
    scene.onEvaluate = nullptr;
    if (!r.found) throw SceneError(r.error);
    if (std::string error = ErrorShownSince(boxes); !error.empty()) {
        std::cerr << "vomark: recording failed: " << error << "\n";
        return 1;
    }
    if (!o.save.empty()) std::cout << SaveSceneAs(scene, o.save, o.force) << "\n";
    return 0;
}

} // namespace app
