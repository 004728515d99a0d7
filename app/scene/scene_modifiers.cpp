// Modifiers of a scene description: the host's own, plug-in classes with their parameters, and
// parameters set from text (--set, scripts).
#include "sel/files.h"
#include "scene/scene_json.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "console/options.h"
#include "runtime/builtin_modifiers.h"
#include "runtime/param_value.h"
#include "runtime/plugin_loader.h"

namespace fs = std::filesystem;

namespace app {
namespace scene_json {

namespace {
// A float parameter's value from JSON, made storable first (see StorableValue); NaN is refused.
float FloatValue(const ParamDef* def, const json& v, const std::string& where) {
    double d = Number(v, where);
    if (std::isnan(d)) Fail(where, "must be a number");
    return static_cast<float>(vm::StorableValue(*def, d));
}

void SetParamValue(const Context& c, IParamBlock2* block, const ParamDef* def, const json& v,
                   const std::string& where) {
    ParamID id = def->id;
    switch (def->type) {
    case TYPE_STRING:
        if (v.is_null())
            block->SetParamValue(id, 0, static_cast<const char*>(nullptr));
        else if (v.is_string())
            block->SetParamValue(id, 0, Path(c, v.get<std::string>()).c_str());
        else
            Fail(where, "must be a string");
        return;
    case TYPE_FLOAT:
        if (v.is_array()) { // keys of an animatable parameter
            if (!(def->flags & P_ANIMATABLE)) Fail(where, "cannot be animated");
            for (size_t i = 0; i < v.size(); ++i) {
                std::string kw = where + "[" + std::to_string(i) + "]";
                AllowKeys(v[i], kw, {"frame", "tick", "value"});
                block->SetParamValue(id, KeyTime(c, v[i], kw),
                                     FloatValue(def, Need(v[i], "value", kw), kw + ".value"));
            }
        } else {
            block->SetParamValue(id, 0, FloatValue(def, v, where));
        }
        return;
    default:
        if (v.is_boolean())
            block->SetParamValue(id, 0, v.get<bool>() ? 1 : 0);
        else
            block->SetParamValue(id, 0, Integer(v, where));
        return;
    }
}

// "outside L to H, clamped to X" when a number is clamped to the parameter's range, as the panel's
// spinners do ("outside what a float holds" for a float without one); "" otherwise.
std::string ClampNote(const ParamDef* def, double asked) {
    if (def->type == TYPE_STRING || std::isnan(asked)) return "";
    double kept = vm::StorableValue(*def, asked);
    if (kept == asked) return "";
    std::ostringstream note;
    note.precision(10); // 9999999, not 1e+07
    if (def->hasRange)
        note << "outside " << def->rangeLow << " to " << def->rangeHigh;
    else
        note << "outside what a float holds";
    note << ", clamped to " << kept;
    return note.str();
}

// "no such parameter", with the nearest name the object has when one is close.
std::string NoSuchParameter(Animatable* object, const std::string& name) {
    std::vector<std::string> names;
    for (int b = 0; b < object->ParamBlockCount(); ++b)
        if (IParamBlock2* pb = object->ParamBlockAt(b))
            for (int i = 0; i < pb->GetDesc()->Count(); ++i)
                names.push_back(pb->GetDesc()->ParamAt(i).internalName);
    std::string near = console::Nearest(name, names);
    return "no such parameter" + (near.empty() ? "" : "; did you mean " + near + "?");
}

// Sets the parameter from its JSON value; answers ClampNote's words for a number it clamped.
std::string SetParamJson(const Context& c, Animatable* object, const std::string& name, const json& v,
                         const std::string& where) {
    IParamBlock2* block = nullptr;
    const ParamDef* def = FindParameter(object, name, &block);
    if (!def) Fail(where, NoSuchParameter(object, name));
    SetParamValue(c, block, def, v, where);
    if (v.is_number()) return ClampNote(def, v.get<double>());
    if (v.is_array()) // keys: the first one clamped speaks for them
        for (const json& key : v)
            if (const json& n = key.at("value"); n.is_number())
                if (std::string note = ClampNote(def, n.get<double>()); !note.empty()) return note;
    return "";
}

// The host's own selection modifiers; null for any other class name.
Modifier* BuildBuiltin(const Context& c, const std::string& name, const json& m, const std::string& where) {
    if (name == "SelectKeys") {
        AllowKeys(m, where, {"class", "keys", "enabled"});
        auto keys =
            KeyList<vm::SelectKeys::Key>(m, "keys", where, {"frame", "tick", "selected", "weights"},
                                         [&](const json& k, const std::string& kw) {
                                             vm::SelectKeys::Key key{KeyTime(c, k, kw), {}, std::nullopt};
                                             if (k.contains("selected"))
                                                 key.selected = Ids(k.at("selected"), kw + ".selected");
                                             if (k.contains("weights"))
                                                 key.weights = Floats(k.at("weights"), kw + ".weights");
                                             return key;
                                         });
        return new vm::SelectKeys(std::move(keys));
    }
    if (name == "SoftSelect") {
        AllowKeys(m, where, {"class", "center", "radius", "falloff", "enabled"});
        auto centers = KeyList<vm::SoftSelect::Key>(
            m, "center", where, {"frame", "tick", "at"}, [&](const json& k, const std::string& kw) {
                return vm::SoftSelect::Key{KeyTime(c, k, kw), Point(Need(k, "at", kw), kw + ".at")};
            });
        float radius = static_cast<float>(Number(Need(m, "radius", where), where + ".radius"));
        float falloff =
            m.contains("falloff") ? static_cast<float>(Number(m.at("falloff"), where + ".falloff")) : 0.0f;
        return new vm::SoftSelect(std::move(centers), radius, falloff);
    }
    if (name == "Trim") {
        AllowKeys(m, where, {"class", "keys", "enabled"});
        auto keys = KeyList<vm::Trim::Key>(
            m, "keys", where, {"frame", "tick", "count"}, [&](const json& k, const std::string& kw) {
                return vm::Trim::Key{KeyTime(c, k, kw), Integer(Need(k, "count", kw), kw + ".count")};
            });
        return new vm::Trim(std::move(keys));
    }
    return nullptr;
}

// A plug-in class, created through the class directory as the host does, then given its parameters.
Modifier* BuildPluginModifier(const Context& c, const std::string& name, const json& m,
                              const std::string& where) {
    AllowKeys(m, where, {"class", "id", "params", "enabled"});
    if (m.contains("id") && !m.at("id").is_string()) Fail(where + ".id", "must be a string");
    if (m.contains("params") && !m.at("params").is_object()) Fail(where + ".params", "must be an object");
    ClassDesc2* cd = vm::Classes().FindByName(name);
    if (!cd || cd->SuperClassCode() != OSM_CLASS_ID)
        Fail(where + ".class", "unknown modifier class \"" + name + "\"");
    Animatable* a = cd->CreateInstance(FALSE);
    auto* mod = dynamic_cast<Modifier*>(a);
    if (!mod) {
        if (a) a->DeleteThis();
        Fail(where + ".class", "\"" + name + "\" did not make a modifier");
    }
    try {
        if (m.contains("params"))
            for (auto it = m.at("params").begin(); it != m.at("params").end(); ++it)
                if (std::string note = SetParamJson(c, mod, it.key(), it.value(), where + ".params." + it.key());
                    !note.empty())
                    c.out->warnings.push_back(where + ".params." + it.key() + " = " + it.value().dump() + ": " + note);
    } catch (...) {
        mod->DeleteThis();
        throw;
    }
    if (m.contains("id")) {
        mod->name = m.at("id").get<std::string>();
        c.out->modifiersById[mod->name.str()] = mod;
    }
    return mod;
}

Modifier* BuildModifier(const Context& c, const json& m, const std::string& where) {
    if (m.contains("instance")) {
        AllowKeys(m, where, {"instance"});
        if (!m.at("instance").is_string()) Fail(where + ".instance", "must be a modifier id");
        auto it = c.out->modifiersById.find(m.at("instance").get<std::string>());
        if (it == c.out->modifiersById.end()) Fail(where + ".instance", "no modifier with that id");
        return it->second;
    }
    const json& cls = Need(m, "class", where);
    if (!cls.is_string()) Fail(where + ".class", "must be a class name");
    if (m.contains("enabled") && !m.at("enabled").is_boolean())
        Fail(where + ".enabled", "must be true or false");
    std::string name = cls.get<std::string>();
    Modifier* mod = BuildBuiltin(c, name, m, where);
    if (!mod) mod = BuildPluginModifier(c, name, m, where);
    if (m.contains("enabled") && !m.at("enabled").get<bool>()) mod->SetAFlag(A_MOD_DISABLED);
    return mod;
}

} // namespace

void AddModifiers(const Context& c, vm::Scene& scene, INode* node, const json& list, const std::string& where,
                  bool world) {
    if (!list.is_array()) Fail(where, "must be a list, bottom first");
    for (size_t i = 0; i < list.size(); ++i) {
        std::string at = where + "[" + std::to_string(i) + "]";
        Modifier* mod = BuildModifier(c, list[i], at);
        // listed bottom first: each one goes on top of the stack
        IDerivedObject* d = world ? scene.WorldDerivedObjectOf(node) : scene.DerivedObjectOf(node);
        if (d->AddModifier(mod, 0)) continue;
        bool instance = list[i].contains("instance");
        if (!instance) mod->DeleteThis(); // nothing holds it yet
        Fail(at + (instance ? ".instance" : ".class"),
             "an object-space modifier cannot sit in the world-space stack; list it under \"modifiers\"");
    }
}

} // namespace scene_json

using namespace scene_json;

void ApplySets(Animatable* object, const std::vector<std::string>& sets) {
    for (const auto& set : sets) {
        size_t eq = set.find('=');
        if (eq == std::string::npos) throw std::invalid_argument("--set " + set + ": expected PARAM=VALUE");
        std::string name = set.substr(0, eq), value = set.substr(eq + 1), note;
        try {
            note = SetParameterFromText(object, name, value);
        } catch (const SceneError& e) {
            throw std::invalid_argument(std::string("--set ") + e.what());
        }
        if (!note.empty()) std::cerr << "vomark: warning: --set " << OneLine(set) << ": " << note << "\n";
    }
}

const ParamDef* FindParameter(Animatable* object, const std::string& name, IParamBlock2** block) {
    for (int b = 0; b < object->ParamBlockCount(); ++b)
        if (IParamBlock2* pb = object->ParamBlockAt(b)) {
            ParamID id = pb->GetDesc()->FindParamByName(name.c_str());
            if (id < 0) continue;
            if (block) *block = pb;
            return pb->GetDesc()->FindParam(id);
        }
    return nullptr;
}

std::string SetParameterFromText(Animatable* object, const std::string& name, const std::string& value) {
    const ParamDef* def = FindParameter(object, name, nullptr);
    // named wrongly: said so before the value is looked at
    if (!def) throw SceneError(OneLine(name + ": " + NoSuchParameter(object, name)));
    bool text = def && def->type == TYPE_STRING;
    json v = value;
    if (!text) {
        if (value == "on" || value == "off")
            v = value == "on";
        else
            try {
                v = json::parse(value);
            } catch (...) {
                throw SceneError(OneLine(name + ": \"" + value + "\" is not a value for this parameter"));
            }
    }
    Context c{sel::Utf8Of(fs::current_path()), GetTicksPerFrame(), nullptr};
    return SetParamJson(c, object, name, v, name);
}

} // namespace app
