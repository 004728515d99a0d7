// vomark eval: a node's (or every node's) selection at the given times, as CSV, JSON or a summary,
// and a picture of it.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "console/stop.h"
#include "scene/cache_files.h"
#include "scene/host_queries.h"
#include "scene/recording_reports.h"
#include "scene/selection.h"
#include "scene/scene_description.h"
#include "verbs/requested_pictures.h"
#include "verbs/verbs.h"

namespace app {
namespace {
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
} // namespace

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

Verb AddEvalVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<EvalOptions>();
    CLI::App* verb = cli.add_subcommand("eval", "evaluate a node's pipeline at the given times");
    addCommon(verb);
    AddSceneArgument(verb, o->scene);
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

} // namespace app
