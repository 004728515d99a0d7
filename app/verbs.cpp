// plugins, eval and record.
#include "sel/files.h"
#include "verbs.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "console/stop.h"
#include "host_queries.h"
#include "progress.h"
#include "runtime/function_publishing.h"
#include "runtime/interaction.h"
#include "runtime/plugin_loader.h"
#include "scene_description.h"
#include "scene_files.h"
#include "record_part.h"
#include "requested_pictures.h"

#include <filesystem>
#include <iostream>
#include <memory>

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
// After a part's recording: the part and its record put in place together, or neither. A stopped
// recording is put in place only where no part stood (it keeps its whole frames, and the join names
// the ones missing); a part recorded before stays, with its record, when its new recording stops.
int LandPart(PartRecording& part, Modifier* mod, bool stopped, long evaluations, const std::string& frames) {
    const std::string& name = part.Name();
    if (stopped && part.PartStands()) {
        std::cerr << "vomark: recording stopped: " << name << " and its part record are kept as they were\n";
        return console::StopStatus();
    }
    if (!part.Recorded() || evaluations == 0) {
        std::cerr << "vomark: nothing was recorded: " << name
                  << (part.PartStands() ? " was kept as it was" : " was not written") << "\n";
        return stopped ? console::StopStatus() : 1;
    }
    if (std::string why = part.Land(); !why.empty()) {
        std::cerr << "vomark: " << why << "\n";
        return 1;
    }
    if (stopped) {
        std::cerr << "vomark: " << StoppedRecordingLine(name) << "\n";
        return console::StopStatus();
    }
    std::cout << RecordingSummary(mod) << " (frames " << frames << ", with its .part record)\n";
    return 0;
}
} // namespace

int ListPlugins(Session& session, std::ostream& out) {
    if (session.Loader().Modules().empty()) {
        // nothing to list is a wrong folder, not an empty answer
        std::string folders;
        for (const auto& f : session.Folders()) {
            std::error_code ec;
            folders += (folders.empty() ? "" : ", ") + f +
                       (std::filesystem::is_directory(sel::PathOf(f), ec) ? "" : " (no such folder)");
        }
        std::cerr << "vomark: no plug-in module (*.dlm) loaded from " << folders << "\n";
        return 1;
    }
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
    if (!o.png.empty()) RequirePictures("eval --png");
    BuiltScene built = LoadScene(o.scene, common.quiet);
    vm::Scene& scene = *built.scene;
    INode* node = PickNode(scene, o.node);
    if (o.times.empty()) throw std::invalid_argument("give at least one --frame or --tick");
    // every time is checked before anything is printed: a usage error leaves no half-written output
    std::vector<TimeValue> ticks;
    for (const EvalTime& et : o.times) {
        if (!et.isFrame) {
            ticks.push_back(et.tick);
            continue;
        }
        double t = std::trunc(et.frame * scene.TicksPerFrame());
        if (std::isnan(et.frame)) throw std::invalid_argument("--frame nan: not a frame number");
        if (!(t >= -2147483648.0 && t <= 2147483647.0)) {
            char frame[32];
            std::snprintf(frame, sizeof frame, "%g", et.frame);
            throw std::invalid_argument(std::string("--frame ") + frame + ": outside the range of tick times (" +
                                        std::to_string(INT32_MIN / scene.TicksPerFrame()) + " to " +
                                        std::to_string(INT32_MAX / scene.TicksPerFrame()) + " frames)");
        }
        ticks.push_back(static_cast<TimeValue>(t));
    }
    if (!o.png.empty()) {
        RefuseToWriteOver(o.png, InputsOf(o.scene, scene));
        // the picture is written after every evaluation: a folder it cannot go into is said first
        if (std::string why = WhyUnwritable(o.png); !why.empty()) throw std::runtime_error(o.png + ": " + why);
    }
    std::vector<std::string> said;
    SayUnplayableCaches(scene, said);
    nlohmann::json all = nlohmann::json::array();
    SelectionPictures pictures;
    if (o.format == "csv") out << kSelectionCsvHeader;
    if (o.format == "summary") out << "tick,selected,weight_sum,microseconds\n";
    size_t done = 0;
    for (TimeValue t : ticks) {
        if (vm::TakeInterrupt()) break; // Ctrl-C: what was evaluated is still written out below
        ++done;
        scene.SetCurrentTime(t);
        auto started = std::chrono::steady_clock::now();
        Mesh& mesh = EvaluatedMesh(scene, node, t);
        std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - started;
        if (!o.png.empty()) {
            char caption[64];
            std::snprintf(caption, sizeof caption, "frame %g (tick %d)", double(t) / scene.TicksPerFrame(),
                          t);
            pictures.Add(mesh, caption);
        }
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
                v["effective"] = EffectiveWeight(mesh, i);
                verts.push_back(v);
            }
            all.push_back({{"tick", t},
                           {"selectionLevel", mesh.selLevel},
                           {"displayFlags", mesh.dispFlags},
                           {"vertices", verts}});
        }
    }
    if (o.format == "json") out << all.dump(2) << "\n";
    if (!o.png.empty()) {
        pictures.Write(o.png, std::filesystem::path(o.scene).filename().string() + ": node \"" +
                                  node->GetName() + "\" from above");
        out.flush();
        std::cerr << "wrote " << o.png << ": " << pictures.Count()
                  << (pictures.Count() == 1 ? " time\n" : " times\n");
    }
    if (done < o.times.size()) {
        out.flush();
        std::cerr << "vomark: stopped by " << console::StopCause() << " after " << done << " of "
                  << o.times.size() << " evaluations; the output holds those\n";
        return console::StopStatus();
    }
    return 0;
}

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
    ApplySets(mod, o.sets);
    std::unique_ptr<PartRecording> part;
    if (!o.frames.empty()) part = BeginPart(scene, node, mod, {o.frames, o.scene, o.sets});
    // the recording writes the cache file and --save the scene file: neither over what was read
    if (const char* cache = ParamAtZero<const char*>(mod, "cache_file", nullptr); cache && *cache)
        RefuseToWriteOver(cache, {{o.scene, "the scene"}});
    if (!o.save.empty()) RefuseToWriteOver(o.save, InputsOf(o.scene, scene));
    if (part) part->Stage(mod); // the recording goes beside the part until the part is whole
    ClassDesc2* cd = ClassOf(mod);
    Progress progress(scene, mod);
    scene.onEvaluate = [&](INode*, TimeValue t) { progress.Evaluated(t); };
    size_t boxes = vm::Record().messageBoxes.size();
    int escapes = vm::Record().escapePresses;
    vm::ScriptCallResult r = vm::CallScriptFunction(mod, cd, "record");
    scene.onEvaluate = nullptr;
    progress.Finish(); // what follows starts a line of its own
    if (part) part->Unstage(mod);
    if (!r.found) throw SceneError(r.error);
    if (!ErrorShownSince(boxes).empty()) { // the message box's own line was printed already
        std::cerr << "vomark: " << RecordingFailure(mod) << "\n";
        return 1;
    }
    if (part) return LandPart(*part, mod, vm::Record().escapePresses > escapes, progress.Evaluations(), o.frames);
    // a scene naming a cut-short cache is not what --save asked for
    if (SayIfRecordingStopped(escapes, mod, o.save.empty() ? "" : o.save + " was not written"))
        return console::StopStatus();
    if (std::string why = NothingRecorded(mod, progress.Evaluations()); !why.empty()) {
        std::cerr << "vomark: " << why << (o.save.empty() ? "" : "; " + o.save + " was not written") << "\n";
        return 1;
    }
    std::cout << RecordingSummary(mod) << "\n";
    if (!o.save.empty()) std::cout << SaveSceneAs(scene, o.save, o.force) << "\n";
    return 0;
}

Verb AddPluginsVerb(CLI::App& cli, const AddCommonOptions& addCommon) {
    CLI::App* verb = cli.add_subcommand("plugins", "list the loaded modules and their classes");
    addCommon(verb);
    return {verb, [](Session& session) { return ListPlugins(session, std::cout); }};
}

Verb AddEvalVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<EvalOptions>();
    CLI::App* verb = cli.add_subcommand("eval", "evaluate a node's pipeline at the given times");
    addCommon(verb);
    verb->add_option("scene", o->scene, "scene (JSON description or .vms)")->required();
    verb->add_option("--node", o->node, "node name (may be left out when the scene has one node)");
    CLI::Option* frames = verb->add_option("--frame", o->frames, "a frame to evaluate at");
    CLI::Option* ticks = verb->add_option("--tick", o->ticks, "a tick time to evaluate at");
    verb->add_option("--format", o->format, "csv, json or summary (one line per evaluation)")
        ->check(CLI::IsMember({"csv", "json", "summary"}));
    verb->add_option("--png", o->png, "also draw the mesh from above, coloured by weight, one panel per time");
    return {verb, [o, &common, verb, frames, ticks](Session&) {
                // keep the times in the order they were given, mixing --frame and --tick
                size_t f = 0, t = 0;
                for (CLI::Option* opt : verb->parse_order()) {
                    if (opt == frames && f < o->frames.size())
                        o->times.push_back({true, o->frames[f++], 0});
                    else if (opt == ticks && t < o->ticks.size())
                        o->times.push_back({false, 0, o->ticks[t++]});
                }
                return Evaluate(*o, common, std::cout);
            }};
}

Verb AddRecordVerb(CLI::App& cli, CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<RecordOptions>();
    CLI::App* verb = cli.add_subcommand("record", "record a node's modifier into its cache file");
    addCommon(verb);
    verb->add_option("scene", o->scene, "scene (JSON description or .vms)")->required();
    verb->add_option("--node", o->node, "node name (may be left out when the scene has one node)");
    verb->add_option("--modifier", o->modifier, "the \"id\" of the modifier (default: the topmost that records)");
    verb->add_option("--set", o->sets, "set a parameter by internal name first: PARAM=VALUE");
    verb->add_option("--save", o->save, "then save the scene as this .vms file");
    verb->add_flag("--force", o->force, "let --save replace an existing file");
    verb->add_option("--frames", o->frames,
                     "record only frames A:B of the range, as a part for `tessarin join` (docs/farm.md)")
        ->excludes("--save");
    AddEscapeAtPollOption(verb, common);
    return {verb, [o, &common](Session&) { return RecordCache(*o, common); }};
}

} // namespace app
