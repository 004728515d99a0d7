// Building host scenes from their JSON description.
#include "sel/files.h"
#include "scene_description.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <iostream>
#include <set>

#include <nlohmann/json.hpp>
#include <tiny_obj_loader.h>

#include "sel/format.h"
#include "runtime/builtin_modifiers.h"
#include "runtime/plugin_loader.h"
#include "runtime/scene_file.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace app {

std::string ResolvePath(const std::string& baseDir, const std::string& p) {
    // "/data/x.sel" names the same file on Windows (on the current drive) as on Linux, so it is kept
    // as given: a scene file saved on either then names a file both can read
    if (p.empty() || sel::PathOf(p).has_root_directory()) return p;
    return sel::Utf8Of((sel::PathOf(baseDir) / sel::PathOf(p)).lexically_normal());
}

std::string WhyUnreadable(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(sel::PathOf(path), ec)) return "is a folder";
    if (!fs::exists(sel::PathOf(path), ec)) return "no such file";
    return "cannot be opened for reading";
}

namespace {

struct Context {
    std::string baseDir;
    int tpf = 160;
    BuiltScene* out = nullptr;
};

// Keys and names come from the file: control characters are escaped so a message stays on one line.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char ch : text) {
        auto u = static_cast<unsigned char>(ch);
        if (u < 0x20 || u == 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", u);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out;
}

// A parse error of the JSON library as a person reads it: "line L, column C: not valid JSON: REASON",
// without the library's tags, with any byte outside printable ASCII escaped (binary input quotes it).
std::string JsonErrorText(const json::exception& e, const std::string& text) {
    std::string what = e.what();
    if (size_t end = what.find("] "); what.rfind("[json.exception.", 0) == 0 && end != std::string::npos)
        what.erase(0, end + 2);
    if (size_t lead = what.find(": "); what.rfind("parse error", 0) == 0 && lead != std::string::npos)
        what.erase(0, lead + 2);
    std::string reason;
    for (char ch : what) {
        auto u = static_cast<unsigned char>(ch);
        if (u < 0x20 || u >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", u);
            reason += buf;
        } else {
            reason += ch;
        }
    }
    auto* parse = dynamic_cast<const json::parse_error*>(&e);
    if (!parse || parse->byte == 0) return "not valid JSON: " + reason;
    // the byte the parser stopped at, counted from 1, as a line and a column
    size_t at = std::min<size_t>(parse->byte - 1, text.size());
    size_t line = 1, lineStart = 0;
    for (size_t i = 0; i < at; ++i)
        if (text[i] == '\n') ++line, lineStart = i + 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(at - lineStart + 1) +
           ": not valid JSON: " + reason;
}

// A cache file handed over as a scene: its extension, or binary bytes whose header reads as one.
bool LooksLikeCacheFile(const std::string& path, const std::string& bytes) {
    if (sel::PathOf(path).extension() == ".sel") return true;
    size_t first = bytes.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || bytes[first] == '{' || bytes[first] == '[') return false;
    sel::MemorySource src(bytes.data(), bytes.size());
    sel::Layout layout;
    return sel::ReadLayout(src, layout, false).ok;
}


[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw SceneError(OneLine(where + ": " + what));
}

void AllowKeys(const json& j, const std::string& where, std::initializer_list<const char*> keys) {
    if (!j.is_object()) Fail(where, "must be an object");
    std::set<std::string> allowed(keys.begin(), keys.end());
    for (auto it = j.begin(); it != j.end(); ++it)
        if (!allowed.count(it.key())) Fail(where + "." + it.key(), "unknown key");
}

const json& Need(const json& j, const char* key, const std::string& where) {
    if (!j.contains(key)) Fail(where + "." + key, "missing");
    return j.at(key);
}

double Number(const json& j, const std::string& where) {
    if (!j.is_number()) Fail(where, "must be a number");
    return j.get<double>();
}

int Integer(const json& j, const std::string& where) {
    if (!j.is_number_integer()) Fail(where, "must be a whole number");
    bool fits = j.is_number_unsigned()
                    ? j.get<uint64_t>() <= 2147483647u
                    : j.get<int64_t>() >= -2147483648LL && j.get<int64_t>() <= 2147483647LL;
    if (!fits) Fail(where, "must be a whole number from -2147483648 to 2147483647");
    return j.get<int>();
}

// A time in ticks from frames or ticks given as a number, truncated; it must fit a tick time.
TimeValue Ticks(double ticks, const std::string& where) {
    double t = std::trunc(ticks);
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) Fail(where, "lies outside the range of tick times");
    return static_cast<TimeValue>(t);
}

std::string Path(const Context& c, const std::string& p) { return ResolvePath(c.baseDir, p); }

// A key's time: "frame" (trunc(F x ticks per frame)) or "tick".
TimeValue KeyTime(const Context& c, const json& key, const std::string& where) {
    bool f = key.contains("frame"), t = key.contains("tick");
    if (f == t) Fail(where, "needs exactly one of \"frame\" and \"tick\"");
    if (t) return Integer(key.at("tick"), where + ".tick");
    return Ticks(Number(key.at("frame"), where + ".frame") * c.tpf, where + ".frame");
}

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

Point3 Point(const json& j, const std::string& where) {
    if (!j.is_array() || j.size() != 3) Fail(where, "must be [x, y, z]");
    return {static_cast<float>(Number(j[0], where)), static_cast<float>(Number(j[1], where)),
            static_cast<float>(Number(j[2], where))};
}

std::vector<int> Ids(const json& j, const std::string& where) {
    if (!j.is_array()) Fail(where, "must be a list of vertex ids");
    std::vector<int> ids;
    for (size_t i = 0; i < j.size(); ++i)
        ids.push_back(Integer(j[i], where + "[" + std::to_string(i) + "]"));
    return ids;
}

std::vector<float> Floats(const json& j, const std::string& where) {
    if (!j.is_array()) Fail(where, "must be a list of numbers");
    std::vector<float> v;
    for (size_t i = 0; i < j.size(); ++i)
        v.push_back(static_cast<float>(Number(j[i], where + "[" + std::to_string(i) + "]")));
    return v;
}

constexpr size_t kMaxSceneBytes = size_t(64) << 20;

// A grid costs memory the description's few bytes do not show: about a million vertices at most.
constexpr int64_t kMaxGridVertices = 1 << 20;

void Grid(const json& g, const std::string& where, Mesh& mesh) {
    AllowKeys(g, where, {"width", "length", "rows", "cols"});
    double w = Number(Need(g, "width", where), where + ".width"),
           l = Number(Need(g, "length", where), where + ".length");
    int rows = Integer(Need(g, "rows", where), where + ".rows"),
        cols = Integer(Need(g, "cols", where), where + ".cols");
    if (rows < 1 || cols < 1 || rows > 4096 || cols > 4096) Fail(where, "rows and cols must be 1 to 4096");
    if (int64_t(rows + 1) * (cols + 1) > kMaxGridVertices)
        Fail(where, "more than " + std::to_string(kMaxGridVertices) + " vertices");
    mesh.setNumVerts((rows + 1) * (cols + 1));
    for (int r = 0; r <= rows; ++r)
        for (int c = 0; c <= cols; ++c)
            mesh.verts[static_cast<size_t>(r * (cols + 1) + c)] = {
                static_cast<float>(-w / 2 + w * c / cols), static_cast<float>(-l / 2 + l * r / rows), 0.0f};
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            int a = r * (cols + 1) + c, b = a + 1, d = a + cols + 1, e = d + 1;
            mesh.faces.push_back({{a, b, e}});
            mesh.faces.push_back({{a, e, d}});
        }
}

void ObjFile(const Context& c, const std::string& file, const std::string& where, Mesh& mesh) {
    // a device or folder is no mesh file (reading /dev/zero would never end)
    std::error_code ec;
    if (!fs::is_regular_file(sel::PathOf(Path(c, file)), ec)) Fail(where, "cannot read " + file + ": not a file");
    tinyobj::ObjReader reader;
    tinyobj::ObjReaderConfig config;
    config.triangulate = true;
    // read here, so that the name goes through the UTF-8 seam (the reader's own open would take the
    // ANSI code page on Windows); materials play no part in a selection
    std::ifstream in(sel::PathOf(Path(c, file)), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in || !reader.ParseFromString(text.str(), "", config))
        Fail(where, "cannot read " + file + ": " + (in ? reader.Error() : std::string("cannot open")));
    const auto& v = reader.GetAttrib().vertices;
    mesh.setNumVerts(static_cast<int>(v.size() / 3));
    for (size_t i = 0; i + 2 < v.size(); i += 3)
        mesh.verts[i / 3] = {v[i], v[i + 1], v[i + 2]};
    for (const auto& shape : reader.GetShapes())
        for (size_t i = 0; i + 2 < shape.mesh.indices.size(); i += 3)
            mesh.faces.push_back({{shape.mesh.indices[i].vertex_index, shape.mesh.indices[i + 1].vertex_index,
                                   shape.mesh.indices[i + 2].vertex_index}});
}

TriObject* BuildMesh(const Context& c, const json& m, const std::string& where) {
    AllowKeys(m, where, {"grid", "vertices", "faces", "obj"});
    auto* tri = new TriObject();
    Mesh& mesh = tri->mesh;
    try {
        if (m.contains("grid")) {
            Grid(m.at("grid"), where + ".grid", mesh);
        } else if (m.contains("obj")) {
            if (!m.at("obj").is_string()) Fail(where + ".obj", "must be a file name");
            ObjFile(c, m.at("obj").get<std::string>(), where + ".obj", mesh);
        } else {
            const json& vs = Need(m, "vertices", where);
            if (!vs.is_array()) Fail(where + ".vertices", "must be a list of [x, y, z]");
            mesh.setNumVerts(static_cast<int>(vs.size()));
            for (size_t i = 0; i < vs.size(); ++i)
                mesh.verts[i] = Point(vs[i], where + ".vertices[" + std::to_string(i) + "]");
            if (m.contains("faces")) {
                const json& fs = m.at("faces");
                if (!fs.is_array()) Fail(where + ".faces", "must be a list of [a, b, c]");
                for (size_t i = 0; i < fs.size(); ++i) {
                    auto ids = Ids(fs[i], where + ".faces[" + std::to_string(i) + "]");
                    if (ids.size() != 3)
                        Fail(where + ".faces[" + std::to_string(i) + "]", "must be [a, b, c]");
                    for (int id : ids)
                        if (id < 0 || id >= mesh.getNumVerts())
                            Fail(where + ".faces[" + std::to_string(i) + "]", "vertex out of range");
                    mesh.faces.push_back({{ids[0], ids[1], ids[2]}});
                }
            }
        }
    } catch (...) {
        tri->DeleteThis();
        throw;
    }
    return tri;
}

void ApplySelection(const json& s, const std::string& where, Mesh& mesh) {
    AllowKeys(s, where, {"selected", "weights"});
    mesh.vertSel.SetSize(mesh.getNumVerts());
    if (s.contains("selected")) {
        for (int id : Ids(s.at("selected"), where + ".selected")) {
            if (id < 0 || id >= mesh.getNumVerts())
                Fail(where + ".selected", "vertex " + std::to_string(id) + " out of range");
            mesh.vertSel.Set(id);
        }
    }
    if (s.contains("weights")) {
        auto w = Floats(s.at("weights"), where + ".weights");
        if (static_cast<int>(w.size()) != mesh.getNumVerts())
            Fail(where + ".weights", "needs one weight per vertex");
        mesh.setVDataSupport(0);
        std::copy(w.begin(), w.end(), mesh.vertexFloat(0));
    }
}

void SetParamJson(const Context& c, Animatable* object, const std::string& name, const json& v,
                  const std::string& where) {
    IParamBlock2* block = nullptr;
    const ParamDef* def = FindParameter(object, name, &block);
    if (!def) Fail(where, "no such parameter");
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
                                     static_cast<float>(Number(Need(v[i], "value", kw), kw + ".value")));
            }
        } else {
            block->SetParamValue(id, 0, static_cast<float>(Number(v, where)));
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
                SetParamJson(c, mod, it.key(), it.value(), where + ".params." + it.key());
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

void BuildNode(Context& c, vm::Scene& scene, const json& n, const std::string& where) {
    AllowKeys(n, where, {"name", "mesh", "selection", "modifiers", "worldModifiers"});
    const json& name = Need(n, "name", where);
    if (!name.is_string()) Fail(where + ".name", "must be a string");
    if (scene.FindNode(name.get<std::string>())) Fail(where + ".name", "another node has this name");
    TriObject* tri = BuildMesh(c, Need(n, "mesh", where), where + ".mesh");
    INode* node = scene.AddNode(name.get<std::string>(), tri);
    if (n.contains("selection")) ApplySelection(n.at("selection"), where + ".selection", tri->mesh);
    if (n.contains("modifiers")) AddModifiers(c, scene, node, n.at("modifiers"), where + ".modifiers", false);
    if (n.contains("worldModifiers"))
        AddModifiers(c, scene, node, n.at("worldModifiers"), where + ".worldModifiers", true);
}

void Settings(Context& c, vm::Scene& scene, const json& j) {
    if (j.contains("ticksPerFrame")) {
        int tpf = Integer(j.at("ticksPerFrame"), "ticksPerFrame");
        if (tpf < 1) Fail("ticksPerFrame", "must be positive");
        scene.SetTicksPerFrame(tpf);
        c.tpf = tpf;
    }
    auto range = [&](const char* key, bool frames) {
        const json& r = j.at(key);
        if (!r.is_array() || r.size() != 2) Fail(key, "must be [start, end]");
        double s = Number(r[0], key), e = Number(r[1], key);
        if (frames) {
            s *= c.tpf;
            e *= c.tpf;
        }
        scene.SetAnimationRange(Interval(Ticks(s, key), Ticks(e, key)));
    };
    if (j.contains("animationRange")) range("animationRange", true);
    if (j.contains("animationRangeTicks")) range("animationRangeTicks", false);
    if (j.contains("currentFrame"))
        scene.SetCurrentTime(Ticks(Number(j.at("currentFrame"), "currentFrame") * c.tpf, "currentFrame"));
    if (j.contains("currentTick")) scene.SetCurrentTime(Integer(j.at("currentTick"), "currentTick"));
    if (j.contains("quiet")) {
        if (!j.at("quiet").is_boolean()) Fail("quiet", "must be true or false");
        scene.SetQuiet(j.at("quiet").get<bool>());
    }
    if (j.contains("directories")) {
        const json& d = j.at("directories");
        if (!d.is_object()) Fail("directories", "must map an index to a folder");
        for (auto it = d.begin(); it != d.end(); ++it) {
            int index = 0;
            try {
                index = std::stoi(it.key());
            } catch (...) {
                Fail("directories." + it.key(), "the key must be a directory index");
            }
            if (!it.value().is_string()) Fail("directories." + it.key(), "must be a folder");
            scene.SetDirectory(index, Path(c, it.value().get<std::string>()));
        }
    }
}

} // namespace

BuiltScene BuildScene(const std::string& jsonText, const std::string& baseDir) {
    json j;
    try {
        j = json::parse(jsonText);
    } catch (const json::exception& e) { // parse errors, and numbers too large for a double
        throw SceneError(JsonErrorText(e, jsonText));
    }
    AllowKeys(j, "scene",
              {"ticksPerFrame", "animationRange", "animationRangeTicks", "currentFrame", "currentTick",
               "directories", "quiet", "nodes"});
    BuiltScene out;
    out.scene = std::make_unique<vm::Scene>();
    Context c{baseDir, 160, &out};
    Settings(c, *out.scene, j);
    if (j.contains("nodes")) {
        const json& nodes = j.at("nodes");
        if (!nodes.is_array()) Fail("nodes", "must be a list");
        for (size_t i = 0; i < nodes.size(); ++i)
            BuildNode(c, *out.scene, nodes[i], "nodes[" + std::to_string(i) + "]");
    }
    return out;
}

BuiltScene LoadScene(const std::string& path, bool quiet) {
    std::error_code ec;
    std::ifstream in(sel::PathOf(path), std::ios::binary);
    if (!in || fs::is_directory(sel::PathOf(path), ec))
        throw SceneError(OneLine("cannot read scene " + path + ": " + WhyUnreadable(path)));
    // descriptions are bounded, so that a device such as /dev/zero ends with a message rather than
    // all the memory; scene files hold whole meshes and are checked against their own sizes
    bool sceneFile = sel::PathOf(path).extension() == ".vms";
    std::string bytes;
    char buf[65536];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        bytes.append(buf, static_cast<size_t>(in.gcount()));
        sceneFile = sceneFile || vm::LooksLikeSceneFile(bytes);
        if (!sceneFile && bytes.size() > kMaxSceneBytes)
            throw SceneError(OneLine(path) + ": larger than " + std::to_string(kMaxSceneBytes >> 20) +
                             " MiB");
    }
    BuiltScene out;
    if (sceneFile) {
        out.scene = vm::ParseSceneFile(std::move(bytes), path, {quiet});
        // a modifier's name in its stack is the "id" it had in its description
        for (INode* n : out.scene->Nodes())
            for (Modifier* m : vm::Scene::ModifiersOf(n))
                if (m->name.Length()) out.modifiersById.emplace(m->name.str(), m);
        return out;
    }
    if (LooksLikeCacheFile(path, bytes))
        throw SceneError(OneLine(path) + ": looks like a cache file (.sel), not a scene; give a scene "
                                         "description (JSON) or a .vms scene file");
    try {
        out = BuildScene(bytes, sel::Utf8Of(fs::absolute(sel::PathOf(path)).parent_path()));
    } catch (const SceneError& e) {
        throw SceneError(OneLine(path) + ": " + e.what()); // the message names the file
    }
    if (quiet) out.scene->SetQuiet(true);
    return out;
}

void ApplySets(Animatable* object, const std::vector<std::string>& sets) {
    for (const auto& set : sets) {
        size_t eq = set.find('=');
        if (eq == std::string::npos) throw std::invalid_argument("--set " + set + ": expected PARAM=VALUE");
        std::string name = set.substr(0, eq), value = set.substr(eq + 1);
        try {
            SetParameterFromText(object, name, value);
        } catch (const SceneError& e) {
            throw std::invalid_argument(std::string("--set ") + e.what());
        }
        // the block clamps a number to the parameter's range, as the panel's spinners do: say so
        const ParamDef* def = FindParameter(object, name, nullptr);
        char* end = nullptr;
        double asked = std::strtod(value.c_str(), &end);
        if (def && def->hasRange && def->type != TYPE_STRING && end && *end == '\0' && !value.empty() &&
            (asked < def->rangeLow || asked > def->rangeHigh))
            std::cerr << "vomark: warning: --set " << OneLine(set) << ": outside " << def->rangeLow << " to "
                      << def->rangeHigh << ", clamped to " << (asked < def->rangeLow ? def->rangeLow : def->rangeHigh)
                      << "\n";
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

void SetParameterFromText(Animatable* object, const std::string& name, const std::string& value) {
    const ParamDef* def = FindParameter(object, name, nullptr);
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
    SetParamJson(c, object, name, v, name);
}

} // namespace app
