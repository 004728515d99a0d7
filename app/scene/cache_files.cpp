// The cache files a scene plays, found where the modifier finds them, and what is wrong with them.
#include "scene/cache_files.h"

#include <iostream>
#include <map>
#include <stdexcept>

#include "scene/host_queries.h"
#include "sel/files.h"
#include "sel/format.h"
#include "sel/verify.h"

namespace app {

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
