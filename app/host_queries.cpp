// Nodes and modifiers by name, the CSV rows of an evaluated selection, and what the host reported.
#include "sel/files.h"
#include "host_queries.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "sel/format.h"
#include "runtime/host_record.h"
#include "runtime/plugin_loader.h"
#include "scene_description.h"

namespace app {

const char* const kSelectionCsvHeader = "tick,vertex,selected,weight,effective\n";

INode* PickNode(vm::Scene& scene, const std::string& name) {
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

float EffectiveWeight(Mesh& mesh, int i) {
    const float* ch = mesh.vertexFloat(0);
    return mesh.vertSel[i] ? 1.0f : ch ? ch[i] : 0.0f;
}

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

namespace {
// The layout check the modifier's loader plays by, on the file at `path` (false: it cannot be opened).
bool ReadFileLayout(const std::string& path, sel::Layout& layout, sel::Status& status) {
    FILE* f = path.empty() ? nullptr : sel::OpenFile(path, "rb");
    if (!f) return false;
    {
        sel::FileSource src(f);
        status = sel::ReadLayout(src, layout, false);
    }
    std::fclose(f);
    return true;
}
} // namespace

int64_t SamplesIn(const std::string& path) {
    sel::Layout layout;
    sel::Status status;
    return ReadFileLayout(path, layout, status) && status.ok ? layout.samples : 0;
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

std::string RecordingSummary(Animatable* recorder) {
    const char* name = ParamAtZero<const char*>(recorder, "cache_file", nullptr);
    std::string path = name ? name : "";
    int64_t samples = SamplesIn(path);
    std::error_code ec;
    auto bytes = std::filesystem::file_size(sel::PathOf(path), ec);
    return "wrote " + path + ": " + std::to_string(samples) + (samples == 1 ? " sample, " : " samples, ") +
           std::to_string(ec ? 0 : bytes) + " bytes";
}

std::string RecordingFailure(Animatable* recorder) {
    const char* name = ParamAtZero<const char*>(recorder, "cache_file", nullptr);
    if (!name || !*name) return "recording failed: no cache file was chosen";
    std::filesystem::path path = sel::PathOf(name);
    std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::error_code ec;
    std::string why;
    if (std::filesystem::is_directory(path, ec))
        why = " (it is a folder)";
    else if (!std::filesystem::is_directory(folder, ec))
        why = " (its folder " + sel::Utf8Of(folder) + " does not exist)";
    else if (access(sel::Utf8Of(folder).c_str(), W_OK) != 0 || (std::filesystem::exists(path, ec) && access(name, W_OK) != 0))
        why = " (no permission to write there)";
    return "recording failed: " + std::string(name) + " could not be written" + why;
}

bool SayIfRecordingStopped(int escapesBefore, Animatable* recorder, const std::string& andThen) {
    if (vm::Record().escapePresses <= escapesBefore) return false;
    const char* name = ParamAtZero<const char*>(recorder, "cache_file", nullptr);
    std::string cacheFile = name ? name : "";
    std::cerr << "vomark: " << StoppedRecordingLine(cacheFile) << (andThen.empty() ? "" : "; ") << andThen
              << "\n";
    return true;
}

std::string FindCacheFile(const std::string& name) {
    if (sel::KindOf(name) == sel::FileKind::Plain) return name;
    // the modifier's second place: the file's name in the host's directory 2
    std::string fallback = std::string(GetCOREInterface()->HostDirectory(2)) + "/" +
                           name.substr(name.find_last_of("/\\") + 1);
    return sel::KindOf(fallback) == sel::FileKind::Plain ? fallback : "";
}

std::string WhyUnplayable(const std::string& name) {
    sel::Layout layout;
    sel::Status status;
    if (!ReadFileLayout(FindCacheFile(name), layout, status)) return name + ": not found";
    if (status.ok) return "";
    return name + ": byte " + std::to_string(status.at) + ": " + status.message + " (" +
           sel::FaultName(status.fault) + ")";
}

namespace {
// Calls visit(node, modifier, cache_file) for every switched-on plug-in modifier naming a cache file.
template <class Visit> void EachCacheFile(vm::Scene& scene, Visit visit) {
    for (INode* node : scene.Nodes())
        for (Modifier* mod : vm::Scene::ModifiersOf(node)) {
            if (!ClassOf(mod) || !mod->IsEnabled()) continue;
            const char* file = ParamAtZero<const char*>(mod, "cache_file", nullptr);
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

std::vector<std::string> UnplayableCaches(vm::Scene& scene) {
    std::vector<std::string> lines;
    EachCacheFile(scene, [&](INode* node, const std::string& file) {
        if (std::string why = WhyUnplayable(file); !why.empty())
            lines.push_back("node \"" + std::string(node->GetName()) + "\": cache " + why +
                            "; the modifier plays nothing from it");
    });
    return lines;
}

void SayUnplayableCaches(vm::Scene& scene, std::vector<std::string>& said) {
    for (const std::string& line : UnplayableCaches(scene)) {
        if (std::find(said.begin(), said.end(), line) != said.end()) continue;
        said.push_back(line);
        std::cerr << "vomark: " << line << "\n";
    }
}

} // namespace app
