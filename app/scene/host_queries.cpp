// Nodes and modifiers by name as a host user names them, a node's evaluated mesh, and parameters.
#include "scene/host_queries.h"

#include <strings.h>

#include <stdexcept>
#include <string>

#include "runtime/plugin_loader.h"
#include "scene/scene_description.h"

namespace app {

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

} // namespace app
