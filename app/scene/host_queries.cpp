// Nodes and modifiers by name, the CSV rows of an evaluated selection, and what the host reported.
#include "sel/files.h"
#include "scene/host_queries.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <stdexcept>

#include "sel/format.h"
#include "sel/reader.h"
#include "sel/verify.h"
#include "runtime/host_record.h"
#include "runtime/plugin_loader.h"
#include "scene/scene_description.h"

namespace app {

const char* const kSelectionCsvHeader = "tick,vertex,selected,weight,effective\n";

INode* PickNode(vm::Scene& scene, const std::string& name) {
    if (scene.Nodes().empty()) throw SceneError("the scene has no nodes"); // the scene's fault, not the command line's
    if (name.empty()) {
        if (scene.Nodes().size() != 1)
            throw std::invalid_argument("the scene has " + std::to_string(scene.Nodes().size()) +
                                        " nodes: name one with --node");
        return scene.Nodes().front();
    }
    INode* node = scene.FindNode(name);
    if (!node) throw std::invalid_argument("no node named \"" + name + "\"");
    return node;
}

ClassDesc2* ClassOf(Modifier* mod) { return vm::Classes().FindById(mod->SuperClassCode(), mod->ClassID()); }

namespace {
// Calls visit(modifier) from the top of the stack down until it answers true; answers that modifier.
template <class Visit> Modifier* FromTheTop(INode* node, bool worldSpace, Visit visit) {
    auto walk = [&](IDerivedObject* d) -> Modifier* {
        for (int i = 0; i < d->ModifierCount(); ++i)
            if (Modifier* m = d->ModifierAt(i); m && visit(m)) return m;
        return nullptr;
    };
    if (IDerivedObject* ws = worldSpace ? node->WorldSpaceDerivedObject() : nullptr)
        if (Modifier* m = walk(ws)) return m;
    for (Object* o = node->ObjectReference(); o && o->SuperClassCode() == GEN_DERIVOB_CLASS_ID;
         o = static_cast<IDerivedObject*>(o)->InputObject())
        if (Modifier* m = walk(static_cast<IDerivedObject*>(o))) return m;
    return nullptr;
}

bool SameScriptName(std::string a, std::string b) {
    for (std::string* s : {&a, &b})
        for (char& ch : *s)
            if (ch == '_') ch = ' ';
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

std::string Weight(const float* ch, int i) {
    if (!ch) return "";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(ch[i]));
    return buf;
}
} // namespace

Modifier* FindScriptedModifier(INode* node, const char* function) {
    return FromTheTop(node, false, [&](Modifier* m) {
        ClassDesc2* cd = ClassOf(m);
        for (int k = 0; cd && k < cd->NumInterfaces(); ++k)
            if (FPInterfaceDesc* desc = cd->GetInterfaceAt(k)->GetDesc();
                desc && desc->FindFunction(function))
                return true;
        return false;
    });
}

Modifier* FindModifierNamed(INode* node, const std::string& name) {
    return FromTheTop(node, true, [&](Modifier* m) {
        CStr shown;
        m->ClassDisplayName(shown);
        return SameScriptName(static_cast<const char*>(shown), name);
    });
}

Mesh& EvaluatedMesh(vm::Scene& scene, INode* node, TimeValue t) {
    ObjectState os = scene.EvaluateNode(node, t, 0);
    auto* tri = dynamic_cast<TriObject*>(os.obj);
    if (!tri) throw SceneError("node \"" + std::string(node->GetName()) + "\" has no mesh");
    return tri->GetMesh();
}

const char* CacheFileOf(Animatable* object) {
    return ParamAtZero<const char*>(object, kCacheFileParameter, nullptr);
}

float EffectiveWeight(Mesh& mesh, int i) { return EffectiveWeight(mesh.vertSel[i] != 0, mesh.vertexFloat(0), i); }

void WriteSelectionCsv(TimeValue t, Mesh& mesh, std::ostream& out) {
    const float* ch = mesh.vertexFloat(0);
    char effective[32];
    for (int i = 0; i < mesh.getNumVerts(); ++i) {
        std::snprintf(effective, sizeof effective, "%.9g", static_cast<double>(EffectiveWeight(mesh, i)));
        out << t << ',' << i << ',' << mesh.vertSel[i] << ',' << Weight(ch, i) << ',' << effective << '\n';
    }
}

std::string ErrorShownSince(size_t boxes) {
    const auto& shown = vm::Record().messageBoxes;
    for (size_t i = boxes; i < shown.size(); ++i)
        if ((shown[i].type & 0xf0) == MB_ICONERROR) {
            std::string text = shown[i].text;
            for (char& ch : text)
                if (ch == '\n' || ch == '\r') ch = ' ';
            return text;
        }
    return "";
}

int64_t SamplesIn(const std::string& path) {
    sel::CacheReader reader;
    return reader.Open(path, false).ok ? reader.GetLayout().samples : 0;
}

std::string StoppedRecordingLine(const std::string& cacheFile) {
    return "recording stopped: " + cacheFile + " keeps " + std::to_string(SamplesIn(cacheFile)) +
           " samples (every frame up to the stop)";
}

template <typename T> T ParamAtZero(Animatable* object, const char* name, T value) {
    IParamBlock2* block = nullptr;
    const ParamDef* def = FindParameter(object, name, &block);
    Interval valid;
    if (def) block->GetParamValue(def->id, 0, value, valid);
    return value;
}
template float ParamAtZero(Animatable*, const char*, float);
template const char* ParamAtZero(Animatable*, const char*, const char*);
template int ParamAtZero(Animatable*, const char*, int);

namespace {
std::string CacheNameOf(Animatable* recorder) {
    const char* name = CacheFileOf(recorder);
    return name ? name : "";
}
} // namespace

std::string RecordingSummary(Animatable* recorder) {
    std::string path = CacheNameOf(recorder);
    int64_t samples = SamplesIn(path);
    return "wrote " + path + ": " + std::to_string(samples) + (samples == 1 ? " sample, " : " samples, ") +
           std::to_string(std::max<int64_t>(0, sel::SizeOf(path))) + " bytes";
}

std::string NothingRecorded(Animatable* recorder, long evaluations) {
    std::string path = CacheNameOf(recorder);
    if (path.empty()) return "nothing was recorded: no cache file was chosen";
    if (sel::KindOf(path) == sel::FileKind::Missing) return "nothing was recorded: " + path + " was not written";
    if (evaluations == 0) return "nothing was recorded: " + path + " was kept as it was";
    return "";
}

std::string WhyUnwritable(const std::string& name) {
    std::filesystem::path path = sel::PathOf(name);
    std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return "it is a folder";
    if (!std::filesystem::is_directory(folder, ec)) return "its folder " + sel::Utf8Of(folder) + " does not exist";
    if (access(sel::Utf8Of(folder).c_str(), W_OK) != 0 ||
        (std::filesystem::exists(path, ec) && access(name.c_str(), W_OK) != 0))
        return "no permission to write there";
    return "";
}

std::string RefusedTarget(const std::string& name) {
    std::string why = sel::KindOf(name) == sel::FileKind::Other ? "not a plain file" : WhyUnwritable(name);
    return why.empty() ? "" : name + ": cannot be written: " + why;
}

std::string RecordingFailure(Animatable* recorder) {
    const char* name = CacheFileOf(recorder);
    if (!name || !*name) return "recording failed: no cache file was chosen";
    std::string why = WhyUnwritable(name);
    return "recording failed: " + std::string(name) + " could not be written" + (why.empty() ? "" : " (" + why + ")");
}

bool SayIfRecordingStopped(int escapesBefore, Animatable* recorder, const std::string& andThen) {
    if (vm::Record().escapePresses <= escapesBefore) return false;
    std::cerr << "vomark: " << StoppedRecordingLine(CacheNameOf(recorder)) << (andThen.empty() ? "" : "; ") << andThen
              << "\n";
    return true;
}

sel::Status OpenCache(const std::string& name, sel::CacheReader& reader, bool checkLayout,
                      sel::CacheReader::Problem* problem) {
    return sel::OpenCacheIn(name, GetCOREInterface()->HostDirectory(2), reader,
                            checkLayout ? sel::Opening::Layout : sel::Opening::Bytes, problem);
}

std::string FindCacheFile(const std::string& name) {
    sel::CacheReader reader;
    return OpenCache(name, reader, false).ok ? reader.Path() : "";
}

namespace {
// WhyUnplayable, and whether the file is there but cannot be read at all (no permission, a folder,
// not a plain file, no descriptor left): neither missing nor a cache that fails its checks.
std::string WhyUnplayable(const std::string& name, bool& unreadable) {
    sel::CacheReader reader;
    sel::CacheReader::Problem problem{};
    sel::Status status = OpenCache(name, reader, true, &problem);
    unreadable = !status.ok && problem != sel::CacheReader::Problem::Layout &&
                 problem != sel::CacheReader::Problem::Missing;
    if (status.ok) return "";
    if (problem != sel::CacheReader::Problem::Layout) return name + ": " + status.message;
    return name + ": byte " + std::to_string(status.at) + ": " + status.message + " (" +
           sel::FaultName(status.fault) + ")";
}
} // namespace

std::string WhyUnplayable(const std::string& name) {
    bool unreadable = false;
    return WhyUnplayable(name, unreadable);
}

namespace {
// Calls visit(node, cache_file) for every switched-on plug-in modifier naming a cache file, of
// every node of the scene, or of `only`.
template <class Visit> void EachCacheFile(vm::Scene& scene, Visit visit, INode* only = nullptr) {
    std::vector<INode*> one{only};
    for (INode* node : only ? one : scene.Nodes())
        for (Modifier* mod : vm::Scene::ModifiersOf(node)) {
            if (!ClassOf(mod) || !mod->IsEnabled()) continue;
            const char* file = CacheFileOf(mod);
            if (file && *file) visit(node, std::string(file));
        }
}
} // namespace

std::vector<InputFile> CacheInputs(vm::Scene& scene) {
    std::vector<InputFile> inputs;
    EachCacheFile(scene, [&](INode* node, const std::string& file) {
        if (std::string path = FindCacheFile(file); !path.empty())
            inputs.push_back({path, "the cache file of node \"" + std::string(node->GetName()) + "\""});
    });
    return inputs;
}

std::vector<InputFile> InputsOf(const std::string& scenePath, vm::Scene& scene) {
    std::vector<InputFile> inputs{{scenePath, "the scene"}};
    for (InputFile& in : CacheInputs(scene))
        inputs.push_back(std::move(in));
    return inputs;
}

void RefuseToWriteOver(const std::string& target, const std::vector<InputFile>& inputs) {
    for (const InputFile& in : inputs) {
        // a target or input that does not exist is no match
        if (sel::SameFile(target, in.path))
            throw std::runtime_error(target + ": is " + in.what + " (" + in.path + "); write to another name");
    }
}

namespace {
// The records of the first sample of the cache file `name` (found as the modifier finds it); -1
// when it cannot be read.
int64_t PointsPerSample(const std::string& name) {
    sel::CacheReader reader;
    if (!OpenCache(name, reader, true).ok) return -1;
    const sel::Layout& layout = reader.GetLayout();
    int32_t first = 0;
    if (layout.samples < 1) return -1;
    if (!layout.variable) return layout.header.formatTag;
    return sel::CountReader(reader.GetSource(), layout.tableStart, layout.header.sampleTotal).Next(first) ? first : -1;
}

// "byte N: REASON (damaged)", verify's first finding on a cache file that plays; "" for one that
// passes every check (or cannot be read now).
std::string DamageIn(const std::string& name) {
    // a verb that evaluates again and again asks again and again: the whole file is read once for
    // as long as it stays as it is
    static std::map<std::string, std::pair<sel::FileStamp, std::string>> known; // path: stamp, answer
    sel::CacheReader reader;
    if (!OpenCache(name, reader, false).ok) return "";
    const sel::FileStamp& stamp = reader.Stamp();
    if (auto it = known.find(reader.Path()); it != known.end() && it->second.first == stamp) return it->second.second;
    std::string& answer = (known[reader.Path()] = {stamp, ""}).second;
    sel::VerifyReport report = sel::VerifyFile(reader.GetSource());
    if (report.Verdict() == sel::Fault::None || report.findings.empty()) return "";
    const sel::Finding& first = report.findings.front();
    return answer = "byte " + std::to_string(first.at) + ": " + first.message + " (" +
                    sel::FaultName(first.fault) + ")";
}

// The vertices of the node's own mesh, under its modifiers; -1 for an object that is no mesh.
int MeshVertices(INode* node) {
    Object* o = node->ObjectReference();
    while (o && o->SuperClassCode() == GEN_DERIVOB_CLASS_ID)
        o = static_cast<IDerivedObject*>(o)->InputObject();
    auto* tri = dynamic_cast<TriObject*>(o);
    return tri ? tri->GetMesh().getNumVerts() : -1;
}
} // namespace

namespace {
// A line about a node's cache, as UnplayableCaches says it after `node "NAME": cache `.
struct CacheLine {
    INode* node;
    std::string rest;
    bool unreadable;
};
std::vector<CacheLine> CacheLines(vm::Scene& scene, INode* only) {
    std::vector<CacheLine> lines;
    // what a file says does not depend on the node: a file that many nodes play is examined once
    struct Findings {
        std::string why, damage;
        bool unreadable = false;
        int64_t points = -1;
    };
    std::map<std::string, Findings> examined;
    EachCacheFile(
        scene,
        [&](INode* node, const std::string& file) {
            auto [it, fresh] = examined.try_emplace(file);
            Findings& f = it->second;
            if (fresh) {
                f.why = WhyUnplayable(file, f.unreadable);
                if (f.why.empty()) {
                    f.damage = DamageIn(file);
                    f.points = PointsPerSample(file);
                }
            }
            if (!f.why.empty()) {
                lines.push_back({node, f.why + "; the modifier plays nothing from it", f.unreadable});
                return;
            }
            // a file that plays but fails verify (ticks, weights, stray bytes) is played as it stands:
            // said all the same, with verify's first finding
            if (!f.damage.empty())
                lines.push_back({node, file + ": " + f.damage + "; the modifier plays it as it stands", false});
            // the modifier plays what fits; a cache recorded from another mesh is said all the same
            int vertices = MeshVertices(node);
            if (f.points >= 0 && vertices >= 0 && f.points != vertices)
                lines.push_back({node,
                                 file + " has " + std::to_string(f.points) + " vertices per sample; the mesh has " +
                                     std::to_string(vertices),
                                 false});
        },
        only);
    return lines;
}
std::string NodeHead(INode* node) { return "node \"" + std::string(node->GetName()) + "\": cache "; }
} // namespace

std::vector<std::string> UnplayableCaches(vm::Scene& scene) {
    std::vector<std::string> lines;
    for (const CacheLine& line : CacheLines(scene, nullptr))
        lines.push_back(NodeHead(line.node) + line.rest);
    return lines;
}

bool SayUnplayableCaches(vm::Scene& scene, std::vector<std::string>& said, INode* only) {
    // one line for a cache, however many nodes play it: the first node named, the others counted
    std::vector<std::string> order;
    std::map<std::string, std::pair<INode*, int>> nodes; // rest: first node, nodes
    bool unreadable = false;
    for (const CacheLine& line : CacheLines(scene, only)) {
        unreadable |= line.unreadable;
        auto [it, fresh] = nodes.try_emplace(line.rest, line.node, 0);
        if (fresh) order.push_back(line.rest);
        ++it->second.second;
    }
    for (const std::string& rest : order) {
        auto [node, count] = nodes[rest];
        std::string text = count == 1 ? NodeHead(node) + rest
                                      : "node \"" + std::string(node->GetName()) + "\" and " +
                                            std::to_string(count - 1) + (count == 2 ? " other node" : " other nodes") +
                                            ": cache " + rest;
        // said once, whichever node is evaluated later
        if (std::find(said.begin(), said.end(), rest) != said.end()) continue;
        said.push_back(rest);
        std::cerr << "vomark: " << text << "\n";
    }
    return unreadable;
}

} // namespace app
