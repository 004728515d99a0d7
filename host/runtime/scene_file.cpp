// Saving and loading whole scenes: header, settings, directories, the modifier table, nodes with
// their meshes and derived objects, and the post-load callbacks.
#include "runtime/scene_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "sel/files.h"
#include "sel/output.h"
#include "runtime/builtin_modifiers.h"

namespace fs = std::filesystem;

namespace vm {
namespace {

// Holds every loaded modifier; whatever no node took is deleted with the table, also when loading
// stops half way.
class ModifierTable : public ReferenceMaker {
  public:
    void Add(Modifier* mod) {
        mods_.push_back(mod);
        ReplaceReference(static_cast<int>(mods_.size()) - 1, mod, FALSE);
    }
    size_t Size() const { return mods_.size(); }
    Modifier* At(size_t i) const { return mods_[i]; }
    int NumRefs() override { return static_cast<int>(mods_.size()); }
    ReferenceTarget* GetReference(int i) override { return mods_[static_cast<size_t>(i)]; }

  private:
    std::vector<Modifier*> mods_;
};

struct TriDeleter {
    void operator()(TriObject* t) const { t->DeleteThis(); }
};
using TriPtr = std::unique_ptr<TriObject, TriDeleter>;

// ---- saving

// Modifiers in the order the nodes first use them: a modifier on two nodes is saved once.
std::vector<Modifier*> ModifierOrder(Scene& scene, std::map<Modifier*, uint32_t>& index) {
    std::vector<Modifier*> order;
    auto add = [&](IDerivedObject* d) {
        for (int i = 0; i < d->ModifierCount(); ++i)
            if (Modifier* m = d->ModifierAt(i); m && index.emplace(m, order.size()).second)
                order.push_back(m);
    };
    for (INode* n : scene.Nodes()) {
        for (Object* o = n->ObjectReference(); o && o->SuperClassCode() == GEN_DERIVOB_CLASS_ID;
             o = static_cast<IDerivedObject*>(o)->InputObject())
            add(static_cast<IDerivedObject*>(o));
        if (IDerivedObject* ws = n->WorldSpaceDerivedObject()) add(ws);
    }
    return order;
}

void SaveMesh(ChunkWriter& w, Mesh& mesh) {
    w.BeginChunk(chunk_mesh);
    w.BeginChunk(chunk_vertices);
    PutU32(w, static_cast<uint32_t>(mesh.verts.size()));
    for (const Point3& p : mesh.verts) {
        PutF32(w, p.x);
        PutF32(w, p.y);
        PutF32(w, p.z);
    }
    w.EndChunk();
    w.BeginChunk(chunk_faces);
    PutU32(w, static_cast<uint32_t>(mesh.faces.size()));
    for (const Face& f : mesh.faces)
        for (int v : f.v)
            PutI32(w, v);
    w.EndChunk();
    w.BeginChunk(chunk_selection);
    int bits = mesh.vertSel.GetSize();
    PutU32(w, static_cast<uint32_t>(bits));
    for (int i = 0; i < bits; i += 8) {
        uint8_t byte = 0;
        for (int k = 0; k < 8 && i + k < bits; ++k)
            byte |= static_cast<uint8_t>(mesh.vertSel[i + k] << k);
        PutU8(w, byte);
    }
    w.EndChunk();
    if (mesh.vDataSupport(0)) {
        w.BeginChunk(chunk_soft_selection);
        PutU32(w, static_cast<uint32_t>(mesh.getNumVerts()));
        const float* weights = mesh.vertexFloat(0);
        for (int i = 0; i < mesh.getNumVerts(); ++i)
            PutF32(w, weights[i]);
        w.EndChunk();
    }
    w.BeginChunk(chunk_mesh_flags);
    PutI32(w, mesh.selLevel);
    PutU32(w, mesh.dispFlags);
    w.EndChunk();
    w.EndChunk();
}

void SaveModifierList(ChunkWriter& w, USHORT id, IDerivedObject* d, std::map<Modifier*, uint32_t>& index) {
    w.BeginChunk(id);
    std::vector<uint32_t> list;
    for (int i = 0; i < d->ModifierCount(); ++i)
        if (Modifier* m = d->ModifierAt(i)) list.push_back(index.at(m));
    PutU32(w, static_cast<uint32_t>(list.size()));
    for (uint32_t i : list)
        PutU32(w, i);
    w.EndChunk();
}

void SaveNode(ChunkWriter& w, INode* node, std::map<Modifier*, uint32_t>& index) {
    auto* base = dynamic_cast<TriObject*>(Scene::BaseObjectOf(node));
    if (!base) throw SceneFileError(std::string("node \"") + node->GetName() + "\" has no mesh to save", 0);
    w.BeginChunk(chunk_node);
    w.BeginChunk(chunk_node_name);
    PutStr(w, node->GetName());
    w.EndChunk();
    SaveMesh(w, base->mesh);
    // derived objects from the top of the pipeline down
    for (IDerivedObject* d : Scene::DerivedObjectsOf(node))
        SaveModifierList(w, chunk_derived, d, index);
    if (IDerivedObject* ws = node->WorldSpaceDerivedObject())
        SaveModifierList(w, chunk_world_derived, ws, index);
    w.EndChunk();
}

// ---- loading

void LoadSettings(SceneInput& in, Scene& scene) {
    int32_t tpf = in.I32();
    if (tpf < 1) in.Fail("ticks per frame must be positive, not " + std::to_string(tpf));
    TimeValue start = in.I32(), end = in.I32(), now = in.I32();
    in.Done();
    scene.SetTicksPerFrame(tpf);
    scene.SetAnimationRange(Interval(start, end));
    scene.SetCurrentTime(now);
}

TriPtr LoadMesh(SceneInput& in) {
    size_t at = in.ChunkStart();
    TriPtr tri(new TriObject());
    Mesh& mesh = tri->mesh;
    std::vector<float> soft;
    bool hasSoft = false;
    std::vector<Face> faces;
    while (in.Open()) {
        switch (in.Id()) {
        case chunk_vertices:
            mesh.setNumVerts(static_cast<int>(in.Count(12, "vertex")));
            for (Point3& p : mesh.verts)
                p = {in.F32(), in.F32(), in.F32()};
            break;
        case chunk_faces:
            faces.resize(in.Count(12, "face"));
            for (Face& f : faces)
                for (int& v : f.v)
                    v = in.I32();
            break;
        case chunk_selection: {
            uint32_t bits = in.Count(0, "selection");
            if (bits > INT32_MAX || bits / 8 + (bits % 8 ? 1 : 0) > in.Left())
                in.Fail("selection of " + std::to_string(bits) + " bits runs past the chunk");
            mesh.vertSel.SetSize(static_cast<int>(bits));
            for (uint32_t i = 0; i < bits; i += 8) {
                uint8_t byte = in.U8();
                for (uint32_t k = 0; k < 8 && i + k < bits; ++k)
                    mesh.vertSel.Set(static_cast<int>(i + k), (byte >> k) & 1);
            }
            break;
        }
        case chunk_soft_selection:
            soft.resize(in.Count(4, "weight"));
            for (float& f : soft)
                f = in.F32();
            hasSoft = true;
            break;
        case chunk_mesh_flags:
            mesh.selLevel = in.I32();
            mesh.dispFlags = in.U32();
            break;
        default: in.Close(); continue; // a later version's chunk
        }
        in.Done();
        in.Close();
    }
    for (const Face& f : faces)
        for (int v : f.v)
            if (v < 0 || v >= mesh.getNumVerts())
                in.Fail("a face uses vertex " + std::to_string(v) + " of " +
                            std::to_string(mesh.getNumVerts()),
                        at);
    mesh.faces = std::move(faces);
    if (hasSoft) {
        if (static_cast<int>(soft.size()) != mesh.getNumVerts())
            in.Fail(std::to_string(soft.size()) + " soft-selection weights for " +
                        std::to_string(mesh.getNumVerts()) + " vertices",
                    at);
        mesh.setVDataSupport(0);
        std::copy(soft.begin(), soft.end(), mesh.vertexFloat(0));
    }
    return tri;
}

// The modifier numbers of one derived object; `space` says which modifiers it may hold.
std::vector<Modifier*> LoadModifierList(SceneInput& in, const ModifierTable& table, SClass_ID space) {
    IDerivedObject probe(space);
    std::vector<Modifier*> mods(in.Count(4, "modifier"));
    for (Modifier*& m : mods) {
        size_t at = in.Reader().Offset();
        uint32_t i = in.U32();
        if (i >= table.Size())
            in.Fail("modifier " + std::to_string(i) + " is not among the " + std::to_string(table.Size()) +
                    " modifiers read before this node");
        m = table.At(i);
        if (!probe.Accepts(m))
            in.Fail("modifier " + std::to_string(i) + " is an object-space modifier in the world-space stack",
                    at);
    }
    in.Done();
    return mods;
}

IDerivedObject* MakeDerived(SClass_ID code, const std::vector<Modifier*>& topFirst) {
    auto* d = new IDerivedObject(code);
    for (Modifier* m : topFirst)
        d->AddModifier(m, -1);
    return d;
}

void LoadNode(SceneInput& in, Scene& scene, const ModifierTable& table) {
    size_t at = in.ChunkStart();
    std::string name;
    bool named = false, world = false;
    TriPtr tri;
    std::vector<std::vector<Modifier*>> derived; // top first
    std::vector<Modifier*> worldMods;
    while (in.Open()) {
        switch (in.Id()) {
        case chunk_node_name:
            name = in.Str();
            named = true;
            in.Done();
            break;
        case chunk_mesh:
            if (tri) in.Fail("a second mesh for one node", in.ChunkStart());
            tri = LoadMesh(in);
            break;
        case chunk_derived: derived.push_back(LoadModifierList(in, table, GEN_DERIVOB_CLASS_ID)); break;
        case chunk_world_derived:
            worldMods = LoadModifierList(in, table, WSM_DERIVOB_CLASS_ID);
            world = true;
            break;
        default: break;
        }
        in.Close();
    }
    if (!named) in.Fail("a node without a name", at);
    if (name.find('\0') != std::string::npos) in.Fail("a node name with a zero byte in it", at);
    if (scene.FindNode(name)) in.Fail("a second node named \"" + name + "\"", at);
    if (!tri) in.Fail("node \"" + name + "\" has no mesh", at);
    INode* node = scene.AddNode(name, tri.release());
    for (auto it = derived.rbegin(); it != derived.rend(); ++it) {
        IDerivedObject* d = MakeDerived(GEN_DERIVOB_CLASS_ID, *it);
        d->SetInputObject(node->ObjectReference());
        node->SetObjectReference(d);
    }
    if (world) node->SetWorldSpaceDerivedObject(MakeDerived(WSM_DERIVOB_CLASS_ID, worldMods));
}

void LoadHeader(SceneInput& in) {
    if (in.Left() < 8 || in.Reader().Bytes().compare(0, 4, kSceneFileMagic, 4) != 0)
        in.Fail("not a scene file (it does not start with the magic word VMSC)", 0);
    char magic[4];
    in.Raw(magic, 4);
    uint32_t version = in.U32();
    if (version != kSceneFileVersion)
        in.Fail("scene file version " + std::to_string(version) + "; this host reads version " +
                    std::to_string(kSceneFileVersion),
                4);
}

} // namespace

bool LooksLikeSceneFile(const std::string& bytes) {
    return bytes.size() >= 4 && bytes.compare(0, 4, kSceneFileMagic, 4) == 0;
}

std::string SceneFileBytes(Scene& scene) {
    ChunkWriter w;
    w.Write(kSceneFileMagic, 4, nullptr);
    PutU32(w, kSceneFileVersion);
    w.BeginChunk(chunk_scene);
    w.BeginChunk(chunk_settings);
    PutI32(w, scene.TicksPerFrame());
    PutI32(w, scene.AnimationRange().Start());
    PutI32(w, scene.AnimationRange().End());
    PutI32(w, scene.CurrentTime());
    w.EndChunk();
    for (const auto& [which, dir] : scene.Directories()) {
        w.BeginChunk(chunk_directory);
        PutI32(w, which);
        PutStr(w, dir);
        w.EndChunk();
    }
    std::map<Modifier*, uint32_t> index;
    for (Modifier* m : ModifierOrder(scene, index))
        SaveModifier(w, m);
    for (INode* n : scene.Nodes())
        SaveNode(w, n, index);
    w.EndChunk();
    if (w.Bytes().size() > UINT32_MAX) throw SceneFileError("the scene is too large for a scene file", 0);
    return w.Bytes();
}

std::unique_ptr<Scene> ParseSceneFile(std::string bytes, const std::string& fileName,
                                      const SceneFileOptions& options) {
    ChunkReader reader(std::move(bytes));
    SceneInput in(reader, fileName);
    LoadHeader(in);
    if (!in.Open() || in.Id() != chunk_scene) in.Fail("the scene chunk 0x0100 must follow the header", 8);
    auto scene = std::make_unique<Scene>();
    scene->SetQuiet(options.quiet);
    std::set<std::pair<ULONG, ULONG>> warned;
    auto warn = [&](Class_ID id) {
        if (warned.insert({id.PartA(), id.PartB()}).second)
            scene->LogEntry(SYSLOG_WARN, FALSE, nullptr,
                            "%s: no loaded module provides class id (0x%08lx, 0x%08lx); its modifier is "
                            "kept unchanged and passes its input through",
                            fileName.c_str(), id.PartA(), id.PartB());
    };
    // holds the modifiers until the nodes take them, and those no node took until their post-load
    // callbacks have run
    ModifierTable table;
    while (in.Open()) {
        switch (in.Id()) {
        case chunk_settings: LoadSettings(in, *scene); break;
        case chunk_directory: {
            int32_t which = in.I32();
            std::string dir = in.Str();
            in.Done();
            scene->SetDirectory(which, dir);
            break;
        }
        case chunk_modifier: table.Add(LoadModifier(in, warn)); break;
        case chunk_node: LoadNode(in, *scene, table); break;
        default: break; // a later version's chunk
        }
        in.Close();
    }
    in.Close();
    if (in.Left()) in.Fail(std::to_string(in.Left()) + " stray bytes after the scene chunk");
    // every chunk is read: now the plug-ins may look at the whole scene
    reader.RunPostLoadCallbacks();
    return scene;
}

std::unique_ptr<Scene> LoadSceneFile(const std::string& path, const SceneFileOptions& options) {
    if (sel::KindOf(path) != sel::FileKind::Plain) throw SceneFileError(path + ": cannot read: not a file", 0);
    FILE* f = sel::OpenFile(path, "rb");
    if (!f) throw SceneFileError(path + ": cannot read: " + std::strerror(errno), 0);
    std::string bytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        bytes.append(buf, n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw SceneFileError(path + ": cannot read: read error", 0);
    return ParseSceneFile(std::move(bytes), path, options);
}

size_t SaveSceneFile(Scene& scene, const std::string& path) {
    std::string bytes = SceneFileBytes(scene);
    if (std::string error = sel::WriteWholeFile(path, bytes); !error.empty()) throw SceneFileError(error, 0);
    return bytes.size();
}

} // namespace vm
