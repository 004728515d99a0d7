#include "view_state.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "scene/selection.h"
#include "scene/panel_view.h"

namespace app::view {
namespace {
const char* TypeName(int type) {
    switch (type) {
    case TYPE_FLOAT: return "float";
    case TYPE_INT: return "int";
    case TYPE_BOOL: return "bool";
    case TYPE_STRING: return "string";
    default: return "other";
    }
}

template <class T> void Put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}
} // namespace

nlohmann::json PanelJson(vm::Panel& panel) {
    HWND window = panel.GetHWnd();
    std::vector<PanelControl> read = ReadPanelControls(window);
    nlohmann::json controls = nlohmann::json::array();
    for (size_t i = 0; i < read.size(); ++i) {
        const PanelControl& c = read[i];
        const HWND__& w = *window->children[i]; // the same controls, in template order
        nlohmann::json j = ControlJson(c);
        j["kind"] = ControlKindName(c.className, c.style);
        j["align"] = ControlAlignName(c.style);
        j["rect"] = {c.x, c.y, c.width, c.height};
        j["checked"] = c.checked;
        j["items"] = w.items;
        j["selection"] = w.selection;
        if (const ParamDef* def = panel.BoundParam(c.id)) {
            nlohmann::json p = {{"name", def->internalName}, {"type", TypeName(def->type)}};
            if (def->hasRange) p["range"] = {def->rangeLow, def->rangeHigh};
            j["param"] = p;
        }
        controls.push_back(j);
    }
    return {{"size", {window->width, window->height}}, {"controls", controls}};
}

std::vector<Modifier*> StackOf(INode* node) {
    std::vector<Modifier*> out;
    auto add = [&](IDerivedObject* d) {
        for (int i = 0; i < d->ModifierCount(); ++i)
            out.push_back(d->ModifierAt(i));
    };
    if (IDerivedObject* ws = node->WorldSpaceDerivedObject()) add(ws);
    for (Object* o = node->ObjectReference(); o && o->SuperClassCode() == GEN_DERIVOB_CLASS_ID;
         o = static_cast<IDerivedObject*>(o)->InputObject())
        add(static_cast<IDerivedObject*>(o));
    return out;
}

nlohmann::json StackJson(INode* node, Modifier* edited) {
    nlohmann::json list = nlohmann::json::array();
    size_t worldCount = 0;
    if (IDerivedObject* ws = node->WorldSpaceDerivedObject())
        worldCount = static_cast<size_t>(ws->ModifierCount());
    std::vector<Modifier*> stack = StackOf(node);
    for (size_t i = 0; i < stack.size(); ++i)
        list.push_back({{"index", i},
                        {"name", ModifierName(stack[i])},
                        {"enabled", stack[i]->IsEnabled()},
                        {"worldSpace", i < worldCount},
                        {"edited", stack[i] == edited}});
    return list;
}

std::string ModifierName(Modifier* modifier) {
    CStr name;
    modifier->ClassDisplayName(name);
    return name.Length() ? name.str() : "Modifier";
}

std::string EncodeMesh(Mesh& mesh) {
    std::string out;
    out.reserve(8 + mesh.verts.size() * 12 + mesh.faces.size() * 12);
    Put<uint32_t>(out, static_cast<uint32_t>(mesh.verts.size()));
    Put<uint32_t>(out, static_cast<uint32_t>(mesh.faces.size()));
    for (const Point3& p : mesh.verts) {
        Put<float>(out, p.x);
        Put<float>(out, p.y);
        Put<float>(out, p.z);
    }
    for (const Face& f : mesh.faces)
        for (int k = 0; k < 3; ++k)
            Put<uint32_t>(out, static_cast<uint32_t>(f.v[k]));
    return out;
}

std::string EncodeWeights(Mesh& mesh, TimeValue tick) {
    int n = mesh.getNumVerts();
    const float* channel = mesh.vDataSupport(0) ? mesh.vertexFloat(0) : nullptr;
    std::string out;
    out.reserve(12 + static_cast<size_t>(n) * 4 + static_cast<size_t>(n) / 8 + 1);
    Put<uint32_t>(out, static_cast<uint32_t>(n));
    Put<int32_t>(out, tick);
    Put<uint32_t>(out, channel ? 1u : 0u);
    // the weight each vertex amounts to, as the pictures draw it: 1.0 for a selected one
    for (int i = 0; i < n; ++i)
        Put<float>(out, EffectiveWeight(mesh.vertSel[i] != 0, channel, i));
    std::string bits(static_cast<size_t>(n + 7) / 8, '\0');
    for (int i = 0; i < n; ++i)
        if (mesh.vertSel[i]) bits[static_cast<size_t>(i) / 8] |= static_cast<char>(1 << (i % 8));
    return out + bits;
}

std::string ParameterLine(vm::Panel& panel, Modifier* modifier, int controlId) {
    const ParamDef* def = panel.BoundParam(controlId);
    IParamBlock2* block = panel.GetParamBlock();
    if (!def || !block) return "";
    Interval valid;
    char value[64];
    if (def->type == TYPE_FLOAT) {
        float f = 0;
        block->GetParamValue(def->id, GetCOREInterface()->CurrentTime(), f, valid);
        std::snprintf(value, sizeof value, "%.9g", static_cast<double>(f));
    } else if (def->type == TYPE_INT || def->type == TYPE_BOOL) {
        int n = 0;
        block->GetParamValue(def->id, GetCOREInterface()->CurrentTime(), n, valid);
        if (def->controlKind == TYPE_SINGLECHEKBOX)
            std::snprintf(value, sizeof value, "%s", n ? "true" : "false");
        else
            std::snprintf(value, sizeof value, "%d", n);
    } else {
        return "";
    }
    return "$.modifiers[#" + ModifierName(modifier) + "]." + def->internalName + " = " + value;
}

} // namespace app::view
