// Scenes, the core interface, and evaluation of a node's pipeline.
#include "runtime/scene.h"

#include <cstdarg>
#include <set>

#include "runtime/host_record.h"
#include "runtime/window.h"

namespace vm {
namespace {
Scene* g_active = nullptr;

class Collector : public DependentEnumProc {
  public:
    int proc(ReferenceMaker* d) override {
        if (auto* a = dynamic_cast<Animatable*>(d); a && a->SuperClassCode() == BASENODE_CLASS_ID)
            nodes.push_back(static_cast<INode*>(d));
        return 0;
    }
    std::vector<INode*> nodes;
};

void ApplyModifiers(IDerivedObject* d, TimeValue t, ObjectState& os, INode* node) {
    ModContext context;
    for (int i = d->ModifierCount() - 1; i >= 0; --i) {
        Modifier* m = d->ModifierAt(i);
        if (m && m->IsEnabled()) m->EvaluateMesh(t, context, &os, node);
    }
}
} // namespace

Scene::Scene() { g_active = this; }

Scene::~Scene() {
    if (edited_) EndEdit();
    for (INode* n : nodes_)
        n->DeleteMe();
    if (g_active == this) g_active = nullptr;
}

Scene& ActiveScene() {
    if (g_active) return *g_active;
    static Scene* fallback = new Scene(); // becomes active while no other scene is
    g_active = fallback;
    return *fallback;
}
void SetActiveScene(Scene* scene) { g_active = scene; }

HWND Scene::MainWindowHandle() { return MainWindow(); }

void Scene::LogEntry(DWORD type, BOOL dialog, const char* title, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    char buf[4096];
    std::vsnprintf(buf, sizeof buf, format ? format : "", ap);
    va_end(ap);
    Record().log.push_back({type, dialog, title ? title : "", buf});
    Record().Echo(LogTypeName(type) + ": " + buf);
}

std::string LogTypeName(DWORD type) {
    switch (type) {
    case SYSLOG_ERROR: return "error";
    case SYSLOG_WARN: return "warning";
    case SYSLOG_INFO: return "info";
    case SYSLOG_DEBUG: return "debug";
    default: return "log " + std::to_string(type);
    }
}

std::vector<IDerivedObject*> Scene::DerivedObjectsOf(INode* node) {
    std::vector<IDerivedObject*> chain;
    for (Object* o = node ? node->ObjectReference() : nullptr;
         o && o->SuperClassCode() == GEN_DERIVOB_CLASS_ID; o = static_cast<IDerivedObject*>(o)->InputObject())
        chain.push_back(static_cast<IDerivedObject*>(o));
    return chain;
}

std::vector<Modifier*> Scene::ModifiersOf(INode* node) {
    std::vector<IDerivedObject*> all = DerivedObjectsOf(node);
    if (node && node->WorldSpaceDerivedObject()) all.push_back(node->WorldSpaceDerivedObject());
    std::vector<Modifier*> mods;
    for (IDerivedObject* d : all)
        for (int i = 0; i < d->ModifierCount(); ++i)
            if (Modifier* m = d->ModifierAt(i)) mods.push_back(m);
    return mods;
}

void Scene::EnumAuxFiles(NameEnumCallback& callback, DWORD flags) {
    std::set<Animatable*> seen;
    auto visit = [&](Animatable* a) {
        if (a && seen.insert(a).second) a->EnumAuxFiles(callback, flags);
    };
    for (INode* n : nodes_) {
        visit(n);
        for (Modifier* m : ModifiersOf(n))
            visit(m);
        visit(BaseObjectOf(n));
    }
}

const char* Scene::HostDirectory(int which) {
    auto it = directories_.find(which);
    return it == directories_.end() ? "" : it->second.c_str();
}

void Scene::RedrawViewports(TimeValue t, DWORD flags, ReferenceTarget*) {
    Record().redraws.push_back({t, flags});
}

Object* Scene::BaseObjectOf(INode* node) {
    Object* o = node ? node->ObjectReference() : nullptr;
    while (o && o->SuperClassCode() == GEN_DERIVOB_CLASS_ID)
        o = static_cast<IDerivedObject*>(o)->InputObject();
    return o;
}

ObjectState Scene::EvaluateNode(INode* node, TimeValue t, int) {
    ObjectState os;
    if (onEvaluate) onEvaluate(node, t);
    auto* base = dynamic_cast<TriObject*>(BaseObjectOf(node));
    if (!base) return os;
    // a fresh object for every evaluation; its mesh takes over the buffers of the previous one, so
    // that the copy of the base mesh allocates nothing while the mesh keeps its size
    auto& work = evaluated_[node];
    auto fresh = std::make_unique<TriObject>();
    if (work) fresh->mesh = std::move(work->mesh);
    fresh->mesh = base->mesh;
    work = std::move(fresh);
    os.obj = work.get();
    // derived objects from the bottom of the pipeline up
    std::vector<IDerivedObject*> chain = DerivedObjectsOf(node);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        ApplyModifiers(*it, t, os, node);
    if (IDerivedObject* ws = node->WorldSpaceDerivedObject()) ApplyModifiers(ws, t, os, node);
    return os;
}

void Scene::CollectEditContexts(ModContextList& contexts, INodeTab& nodes) {
    static ModContext shared;
    for (INode* n : editNodes_) {
        ModContext* c = &shared;
        contexts.Append(1, &c);
        nodes.Append(1, &n);
    }
}

void Scene::ReleaseNodeList(INodeTab& nodes) { nodes.Free(); }

INode* Scene::AddNode(const std::string& name, Object* base) {
    auto* node = new INode(name);
    node->SetObjectReference(base);
    nodes_.push_back(node);
    byName_.emplace(name, node);
    return node;
}

INode* Scene::FindNode(const std::string& name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

IDerivedObject* Scene::DerivedObjectOf(INode* node) {
    Object* top = node->ObjectReference();
    if (top && top->SuperClassCode() == GEN_DERIVOB_CLASS_ID) return static_cast<IDerivedObject*>(top);
    auto* d = new IDerivedObject();
    d->SetInputObject(top);
    node->SetObjectReference(d);
    return d;
}

IDerivedObject* Scene::WorldDerivedObjectOf(INode* node) {
    if (!node->WorldSpaceDerivedObject())
        node->SetWorldSpaceDerivedObject(new IDerivedObject(WSM_DERIVOB_CLASS_ID));
    return node->WorldSpaceDerivedObject();
}

void Scene::BeginEdit(Animatable* modifier, std::vector<INode*> nodes) {
    if (edited_) EndEdit();
    if (nodes.empty())
        if (auto* target = dynamic_cast<ReferenceTarget*>(modifier)) {
            Collector c;
            target->EnumDependents(&c);
            nodes = c.nodes;
        }
    edited_ = modifier;
    editNodes_ = std::move(nodes);
    modifier->BeginEditParams(this, 0, nullptr);
}

void Scene::EndEdit() {
    Animatable* m = edited_;
    if (!m) return;
    m->EndEditParams(this, 0, nullptr);
    edited_ = nullptr;
    editNodes_.clear();
}

} // namespace vm

extern "C" Interface* GetCOREInterface() { return &vm::ActiveScene(); }
extern "C" int GetTicksPerFrame() { return vm::ActiveScene().TicksPerFrame(); }
