// What the scene-description readers share: the reading context, and the checks that turn a JSON
// value into a number, time, point or list, throwing SceneError naming the key at fault.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scene/scene_description.h"

namespace app::scene_json {

using nlohmann::json;

struct Context {
    std::string baseDir;
    int tpf = 160;
    BuiltScene* out = nullptr;
};

// Keys and names come from the file: control characters are escaped so a message stays on one line.
std::string OneLine(const std::string& text);
[[noreturn]] void Fail(const std::string& where, const std::string& what);
void AllowKeys(const json& j, const std::string& where, std::initializer_list<const char*> keys);
const json& Need(const json& j, const char* key, const std::string& where);
double Number(const json& j, const std::string& where);
int Integer(const json& j, const std::string& where);
// A time in ticks from frames or ticks given as a number, truncated; it must fit a tick time.
TimeValue Ticks(double ticks, const std::string& where);
std::string Path(const Context& c, const std::string& p);
// A key's time: "frame" (trunc(F x ticks per frame)) or "tick".
TimeValue KeyTime(const Context& c, const json& key, const std::string& where);

// Calls make(key, where) for each key of the list m[listKey], after checking the key's own keys.
template <class Key, class Make>
std::vector<Key> KeyList(const json& m, const char* listKey, const std::string& where,
                         std::initializer_list<const char*> allowed, Make make) {
    const json& ks = Need(m, listKey, where);
    if (!ks.is_array()) Fail(where + "." + listKey, "must be a list of keys");
    std::vector<Key> keys;
    for (size_t i = 0; i < ks.size(); ++i) {
        std::string kw = where + "." + listKey + "[" + std::to_string(i) + "]";
        AllowKeys(ks[i], kw, allowed);
        keys.push_back(make(ks[i], kw));
    }
    return keys;
}

Point3 Point(const json& j, const std::string& where);
std::vector<int> Ids(const json& j, const std::string& where);
std::vector<float> Floats(const json& j, const std::string& where);

// Meshes (scene_meshes.cpp)
TriObject* BuildMesh(const Context& c, const json& m, const std::string& where);
void ApplySelection(const json& s, const std::string& where, Mesh& mesh);
// Modifiers (scene_modifiers.cpp)
void AddModifiers(const Context& c, vm::Scene& scene, INode* node, const json& list, const std::string& where,
                  bool world);

} // namespace app::scene_json
