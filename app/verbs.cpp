// plugins, eval and record.
#include "sel/files.h"
#include "verbs.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "console/exit_codes.h"
#include "console/stop.h"
#include "host_queries.h"
#include "progress.h"
#include "runtime/function_publishing.h"
#include "runtime/interaction.h"
#include "runtime/plugin_loader.h"
#include "scene_description.h"
#include "scene_files.h"
#include "sel/output.h"
#include "record_part.h"
#include "staging.h"
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
std::pair<int, double> SelectionTotals(Mesh& mesh);
std::string Summary(TimeValue t, Mesh& mesh, double microseconds) {
    auto [selected, sum] = SelectionTotals(mesh);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d,%d,%.9g,%.1f", t, selected, sum, microseconds);
    return buf;
}
// A CSV field: as it is, or quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}
// The rows WriteSelectionCsv writes, each after the node's name.
void WriteNodeCsv(const std::string& node, TimeValue t, Mesh& mesh, std::ostream& out) {
    std::ostringstream rows;
    WriteSelectionCsv(t, mesh, rows);
    std::istringstream in(rows.str());
    std::string field = CsvField(node), row;
    while (std::getline(in, row))
        out << field << ',' << row << '\n';
}
// Selected vertices and the sum of every vertex's weight (1.0 for a selected one).
std::pair<int, double> SelectionTotals(Mesh& mesh) {
    const float* ch = mesh.vertexFloat(0);
    int selected = 0;
    double sum = 0;
    for (int i = 0; i < mesh.getNumVerts(); ++i) {
        bool on = mesh.vertSel[i] != 0;
        selected += on;
        sum += EffectiveWeight(on, ch, i);
    }
    return {selected, sum};
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
    if (!o.png.empty() && (o.all || o.nodes.size() > 1))
        throw std::invalid_argument("--png draws one node: give one --node");
    BuiltScene built = LoadScene(o.scene, common.quiet);
    vm::Scene& scene = *built.scene;
    std::vector<INode*> nodes;
    if (o.all) {
        if (scene.Nodes().empty()) throw SceneError("the scene has no nodes");
        nodes = scene.Nodes();
    } else if (o.nodes.empty()) {
        nodes.push_back(PickNode(scene, ""));
    } else {
        for (const std::string& name : o.nodes)
            nodes.push_back(PickNode(scene, name));
    }
    // one node prints as it always did; several name the node on every row, and summarise each time
    bool several = o.all || nodes.size() > 1;
    INode* node = nodes.front();
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
    bool unreadable = SayUnplayableCaches(scene, said);
    nlohmann::json all = nlohmann::json::array();
    SelectionPictures pictures;
    if (o.format == "csv") out << (several ? "node," : "") << kSelectionCsvHeader;
    if (o.format == "summary")
        out << (several ? "tick,nodes,selected,weight_sum,microseconds\n" : "tick,selected,weight_sum,microseconds\n");
    size_t done = 0;
    for (TimeValue t : ticks) {
        if (vm::TakeInterrupt()) break; // Ctrl-C: what was evaluated is still written out below
        ++done;
        scene.SetCurrentTime(t);
        int selected = 0;
        double weights = 0, frameMicroseconds = 0;
        for (INode* n : nodes) {
            auto started = std::chrono::steady_clock::now();
            Mesh& mesh = EvaluatedMesh(scene, n, t);
            std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - started;
            frameMicroseconds += took.count();
            if (!o.png.empty()) {
                char caption[64];
                std::snprintf(caption, sizeof caption, "frame %g (tick %d)", double(t) / scene.TicksPerFrame(),
                              t);
                pictures.Add(mesh, caption);
            }
            if (o.format == "summary") {
                if (!several) {
                    out << Summary(t, mesh, took.count()) << '\n';
                } else {
                    auto [on, sum] = SelectionTotals(mesh);
                    selected += on;
                    weights += sum;
                }
            } else if (o.format == "csv") {
                if (several)
                    WriteNodeCsv(n->GetName(), t, mesh, out);
                else
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
                nlohmann::json one = {{"tick", t},
                                      {"selectionLevel", mesh.selLevel},
                                      {"displayFlags", mesh.dispFlags},
                                      {"vertices", verts}};
                if (several) one["node"] = n->GetName();
                all.push_back(one);
            }
        }
        if (o.format == "summary" && several) {
            char line[128];
            std::snprintf(line, sizeof line, "%d,%zu,%d,%.9g,%.1f", t, nodes.size(), selected, weights,
                          frameMicroseconds);
            out << line << '\n';
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
    // a cache that is there but could not be read was said before the rows: not a run as if all were well
    return unreadable ? 1 : 0;
}

namespace {
// The plug-in module whose class `mod` is; "" for the host's own modifiers.
std::string ModuleOf(Session& session, Modifier* mod) {
    ClassDesc2* cd = ClassOf(mod);
    for (const vm::LoadedModule& m : session.Loader().Modules())
        if (std::find(m.classes.begin(), m.classes.end(), cd) != m.classes.end()) return m.path;
    return "";
}

// `target` with ".stopped-PID" before its extension, beside the file it leads to, unused so far.
std::string KeptName(const std::string& target) {
    std::filesystem::path path = sel::PathOf(sel::FollowLinks(target));
    std::string ext = sel::Utf8Of(path.extension());
    path.replace_extension();
    std::string stem = sel::Utf8Of(path) + ".stopped-" + std::to_string(ProcessId());
    std::string name = stem + ext;
    for (int n = 2; sel::KindOf(name) != sel::FileKind::Missing; ++n)
        name = stem + "-" + std::to_string(n) + ext;
    return name;
}

// A whole recording goes into a file beside its cache file (`staged`) and takes the cache's place
// when it ends, with Escape and Ctrl-C too (what was recorded so far is what was asked for). A stop
// nobody typed (SIGTERM: a farm's cancel, a shutdown) leaves a cache that stood as it was, and the
// frames recorded so far beside it under a name the line gives.
int LandWhole(Staging& staging, const std::string& staged, const std::string& target, bool stood, Modifier* mod,
              bool stopped, long evaluations, const std::string& save) {
    std::string noSave = save.empty() ? "" : save + " was not written";
    auto with = [](const std::string& line, const std::string& more) { return more.empty() ? line : line + "; " + more; };
    if (sel::KindOf(staged) != sel::FileKind::Plain || (!stopped && evaluations == 0)) {
        std::cerr << "vomark: "
                  << with("nothing was recorded: " + target + (stood ? " was kept as it was" : " was not written"), noSave)
                  << "\n";
        return stopped ? console::StopStatus() : 1;
    }
    if (stopped && stood && console::StopStatus() == console::kTerminated) {
        std::string kept = KeptName(target);
        if (std::string why = sel::ReplaceTogether({{staged, kept}}); !why.empty()) {
            std::cerr << "vomark: recording stopped by SIGTERM: " << target << " is as it was; " << why << "\n";
            return 1;
        }
        staging.Settled();
        std::cerr << "vomark: "
                  << with(StoppedRecordingLine(kept) + "; SIGTERM left " + target + " as it was (mv " + kept + " " +
                              target + " puts the recording in its place)",
                          noSave)
                  << "\n";
        return console::StopStatus();
    }
    if (std::string why = sel::ReplaceTogether({{staged, target}}); !why.empty()) {
        std::cerr << "vomark: " << with(why, noSave) << "\n";
        return 1;
    }
    staging.Settled();
    if (stopped) {
        std::cerr << "vomark: " << with(StoppedRecordingLine(target), noSave) << "\n";
        return console::StopStatus();
    }
    std::cout << RecordingSummary(mod) << "\n";
    return 0;
}
} // namespace

int RecordCache(const RecordOptions& o, const CommonOptions& common, Session& session) {
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
    if (!o.frames.empty())
        part = BeginPart(scene, node, mod,
                         {o.frames, o.scene, o.sets, RecordingInputs(built, mod, ModuleOf(session, mod))});
    // the recording writes the cache file and --save the scene file: neither over what was read
    const char* named = CacheFileOf(mod);
    std::string target = named ? named : "";
    if (!target.empty()) RefuseToWriteOver(target, {{o.scene, "the scene"}});
    if (!o.save.empty()) RefuseToWriteOver(o.save, InputsOf(o.scene, scene));
    if (o.check) {
        if (part) part->Check(mod);
        else if (std::string refused = target.empty() ? "" : RefusedTarget(target); !refused.empty())
            throw std::runtime_error(refused);
        std::cout << o.scene << ": node \"" << node->GetName() << "\" records "
                  << (target.empty() ? "into a file a dialog asks for" : "into " + target)
                  << (part ? " (frames " + o.frames + ")" : "") << "\n";
        return 0;
    }
    // the recording goes beside its target until it is whole: a part always; a whole recording into
    // a plain file it can write (anything else, it writes directly, and the recorder says what fails)
    Staging staging;
    std::string staged;
    bool stood = sel::KindOf(target) == sel::FileKind::Plain;
    if (part) {
        part->Stage(mod);
    } else if (!target.empty() && (stood || sel::KindOf(target) == sel::FileKind::Missing) &&
               WhyUnwritable(target).empty()) {
        staged = staging.Beside(target);
        SetParameterFromText(mod, kCacheFileParameter, staged);
    }
    ClassDesc2* cd = ClassOf(mod);
    Progress progress(scene, mod);
    scene.onEvaluate = [&](INode*, TimeValue t) { progress.Evaluated(t); };
    size_t boxes = vm::Record().messageBoxes.size();
    int escapes = vm::Record().escapePresses;
    vm::ScriptCallResult r = vm::CallScriptFunction(mod, cd, "record");
    scene.onEvaluate = nullptr;
    progress.Finish(); // what follows starts a line of its own
    if (part) part->Unstage(mod);
    if (!staged.empty()) SetParameterFromText(mod, kCacheFileParameter, target);
    if (!r.found) throw SceneError(r.error);
    if (std::string shown = ErrorShownSince(boxes); !shown.empty()) { // the box's own line was printed already
        // the box names the file beside the target that the recording went to; its reason is the target's
        std::string reason;
        if (size_t at = shown.find(": cannot be written: "); at != std::string::npos)
            reason = ": " + shown.substr(at + 21, shown.find(';', at) - at - 21);
        std::cerr << "vomark: " << RecordingFailure(mod) << reason << "\n";
        return 1;
    }
    bool stopped = vm::Record().escapePresses > escapes;
    if (part) return LandPart(*part, mod, stopped, progress.Evaluations(), o.frames);
    // a scene naming a cut-short cache is not what --save asked for
    if (!staged.empty()) {
        int status = LandWhole(staging, staged, target, stood, mod, stopped, progress.Evaluations(), o.save);
        if (status != 0 || o.save.empty()) return status;
    } else {
        if (SayIfRecordingStopped(escapes, mod, o.save.empty() ? "" : o.save + " was not written"))
            return console::StopStatus();
        if (std::string why = NothingRecorded(mod, progress.Evaluations()); !why.empty()) {
            std::cerr << "vomark: " << why << (o.save.empty() ? "" : "; " + o.save + " was not written") << "\n";
            return 1;
        }
        std::cout << RecordingSummary(mod) << "\n";
    }
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
    CLI::Option* node =
        verb->add_option("--node", o->nodes, "node name (may be left out when the scene has one node); repeat for several");
    verb->add_flag("--all", o->all, "every node of the scene, at each time")->excludes(node);
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
    verb->add_flag("--check", o->check,
                   "load the scene, find the modifier and check the options and the cache file's place, "
                   "then exit without recording");
    verb->add_option("--frames", o->frames,
                     "record only frames A:B of the range, as a part for `tessarin join` (docs/farm.md)")
        ->excludes("--save");
    AddEscapeAtPollOption(verb, common);
    return {verb, [o, &common](Session& session) { return RecordCache(*o, common, session); }};
}

} // namespace app
