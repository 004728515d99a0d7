// Building host scenes from their JSON description: the settings and nodes, and reading the file.
// Meshes are in scene_meshes.cpp, modifiers and parameters in scene_modifiers.cpp.
#include "sel/files.h"
#include "scene/scene_description.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

#include "sel/format.h"
#include "runtime/scene_file.h"
#include "scene/scene_json.h"

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
    switch (sel::KindOf(path)) {
    case sel::FileKind::Folder: return "is a folder";
    case sel::FileKind::Missing: return "no such file";
    case sel::FileKind::Other: return "not a plain file";
    default: break;
    }
    // the system's reason ("Permission denied"), from trying
    errno = 0;
    if (FILE* f = sel::OpenFile(path, "rb")) {
        std::fclose(f);
        return "cannot be read";
    }
    return errno ? std::strerror(errno) : "cannot be opened for reading";
}

namespace scene_json {

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

} // namespace scene_json

using namespace scene_json;

namespace {

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

constexpr size_t kMaxSceneBytes = size_t(64) << 20;
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
    // the kind is told before opening: opening a FIFO would wait for a writer that may never come
    if (sel::KindOf(path) != sel::FileKind::Plain)
        throw SceneError(OneLine("cannot read scene " + path + ": " + WhyUnreadable(path)));
    std::ifstream in(sel::PathOf(path), std::ios::binary);
    if (!in) throw SceneError(OneLine("cannot read scene " + path + ": " + WhyUnreadable(path)));
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
    for (const std::string& w : out.warnings)
        std::cerr << "vomark: warning: " << OneLine(path) << ": " << w << "\n";
    return out;
}
} // namespace app
