// plugins and eval.
#include "verbs.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "scene_description.h"

namespace app {
namespace {
std::string Hex(unsigned long v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%08lx", v);
    return buf;
}

INode* PickNode(vm::Scene& scene, const std::string& name) {
    if (name.empty()) {
        if (scene.Nodes().size() != 1) throw SceneError("the scene has " + std::to_string(scene.Nodes().size()) + " nodes: name one with --node");
        return scene.Nodes().front();
    }
    INode* node = scene.FindNode(name);
    if (!node) throw SceneError("no node named \"" + name + "\"");
    return node;
}

std::string Weight(const float* ch, int i) {
    if (!ch) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(ch[i]));
    return buf;
}
} // namespace

int ListPlugins(Session& session, std::ostream& out) {
    for (const auto& m : session.Loader().Modules()) {
        out << m.path << "\n  description: " << m.description << "\n  version: " << Hex(m.version) << "\n";
        for (ClassDesc2* cd : m.classes) {
            Class_ID id = cd->ClassID();
            out << "  class: " << (cd->ClassName() ? cd->ClassName() : "") << "\n    category: "
                << (cd->Category() ? cd->Category() : "") << "\n    class id: (" << Hex(id.PartA()) << ", "
                << Hex(id.PartB()) << ")\n    super-class id: " << Hex(cd->SuperClassCode()) << "\n";
        }
    }
    return 0;
}

int Evaluate(const EvalOptions& o, const CommonOptions& common, std::ostream& out) {
    BuiltScene built = LoadScene(o.scene);
    vm::Scene& scene = *built.scene;
    if (common.quiet) scene.SetQuiet(true);
    INode* node = PickNode(scene, o.node);
    if (o.times.empty()) throw std::invalid_argument("give at least one --frame or --tick");
    nlohmann::json all = nlohmann::json::array();
    if (o.format == "csv") out << "tick,vertex,selected,weight\n";
    for (const EvalTime& et : o.times) {
        TimeValue t = et.isFrame ? static_cast<TimeValue>(std::trunc(et.frame * scene.TicksPerFrame())) : et.tick;
        scene.SetCurrentTime(t);
        ObjectState os = scene.EvaluateNode(node, t, 0);
        auto* tri = dynamic_cast<TriObject*>(os.obj);
        if (!tri) throw SceneError("node \"" + std::string(node->GetName()) + "\" has no mesh");
        Mesh& mesh = tri->GetMesh();
        const float* ch = mesh.vertexFloat(0);
        if (o.format == "csv") {
            for (int i = 0; i < mesh.getNumVerts(); ++i)
                out << t << ',' << i << ',' << mesh.vertSel[i] << ',' << Weight(ch, i) << '\n';
        } else {
            nlohmann::json verts = nlohmann::json::array();
            for (int i = 0; i < mesh.getNumVerts(); ++i) {
                nlohmann::json v = {{"vertex", i}, {"selected", mesh.vertSel[i] != 0}};
                v["weight"] = ch ? nlohmann::json(ch[i]) : nlohmann::json(nullptr);
                verts.push_back(v);
            }
            all.push_back({{"tick", t}, {"selectionLevel", mesh.selLevel}, {"displayFlags", mesh.dispFlags}, {"vertices", verts}});
        }
    }
    if (o.format == "json") out << all.dump(2) << "\n";
    return 0;
}

} // namespace app
