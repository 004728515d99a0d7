// Loading plug-in modules through their four exports and the attach hook.
#include "sel/files.h"
#include "runtime/plugin_loader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "runtime/platform.h"
#include "runtime/window.h"

namespace fs = std::filesystem;

namespace vm {

ClassDirectory& Classes() {
    static ClassDirectory directory;
    return directory;
}

void ClassDirectory::Remove(ClassDesc2* cd) {
    classes_.erase(std::remove(classes_.begin(), classes_.end(), cd), classes_.end());
}

ClassDesc2* ClassDirectory::FindByName(const std::string& name) const {
    for (ClassDesc2* cd : classes_)
        if (const char* n = cd->InternalName(); n && name == n) return cd;
    for (ClassDesc2* cd : classes_)
        if (const char* n = cd->ClassName(); n && name == n) return cd;
    return nullptr;
}

ClassDesc2* ClassDirectory::FindById(SClass_ID sclass, Class_ID id) const {
    for (ClassDesc2* cd : classes_)
        if (cd->SuperClassCode() == sclass && cd->ClassID() == id) return cd;
    return nullptr;
}

namespace {
bool IsModuleName(const fs::path& p) {
    std::string ext = p.extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".dlm";
}
} // namespace

bool PluginLoader::LoadModule(const std::string& path, const Warn& warn) {
    std::string why;
    void* handle = platform::OpenLibrary(path, why);
    if (!handle) {
        warn("skipping " + path + ": cannot load (" + why + ")");
        return false;
    }
    LoadedModule m;
    m.path = path;
    m.handle = handle;
    auto description = reinterpret_cast<LibDescriptionFn>(platform::LibrarySymbol(handle, "LibDescription"));
    auto number = reinterpret_cast<LibNumberClassesFn>(platform::LibrarySymbol(handle, "LibNumberClasses"));
    auto classDesc = reinterpret_cast<LibClassDescFn>(platform::LibrarySymbol(handle, "LibClassDesc"));
    auto version = reinterpret_cast<LibVersionFn>(platform::LibrarySymbol(handle, "LibVersion"));
    m.attach = reinterpret_cast<AttachHookFn>(platform::LibrarySymbol(handle, "DllMain"));
    std::string missing;
    if (!description) missing += " LibDescription";
    if (!number) missing += " LibNumberClasses";
    if (!classDesc) missing += " LibClassDesc";
    if (!version) missing += " LibVersion";
    if (!m.attach) missing += " DllMain";
    if (!missing.empty()) {
        warn("skipping " + path + ": missing export" + missing);
        platform::CloseLibrary(handle);
        return false;
    }
    auto* resources = static_cast<const ResourceTable*>(platform::LibrarySymbol(handle, VOMARK_RESOURCES_SYMBOL));
    m.instance = MakeModuleInstance(resources, path, handle);
    // where the system attached the module already, it knows itself by the library's handle, which
    // the window layer takes for this instance
    if (!platform::SystemCallsDllMain()) m.attach(m.instance, DLL_PROCESS_ATTACH, nullptr);
    m.version = version();
    if (m.version != VERSION_VOMARK) {
        char buf[128];
        std::snprintf(buf, sizeof buf, ": version 0x%08x, this host needs 0x%08x", m.version,
                      VERSION_VOMARK);
        warn("skipping " + path + buf);
        if (!platform::SystemCallsDllMain()) m.attach(m.instance, DLL_PROCESS_DETACH, nullptr);
        platform::CloseLibrary(handle);
        return false;
    }
    const char* d = description();
    m.description = d ? d : "";
    int n = number();
    for (int i = 0; i < n; ++i)
        if (ClassDesc2* cd = classDesc(i)) {
            m.classes.push_back(cd);
            Classes().Add(cd);
        }
    modules_.push_back(std::move(m));
    return true;
}

int PluginLoader::LoadFolders(const std::vector<std::string>& folders, const Warn& warn) {
    int loaded = 0;
    for (const auto& folder : folders) {
        std::error_code ec;
        if (!fs::is_directory(sel::PathOf(folder), ec)) continue;
        std::vector<std::string> files;
        for (const auto& e : fs::directory_iterator(sel::PathOf(folder), ec))
            if (e.is_regular_file() && IsModuleName(e.path())) files.push_back(sel::Utf8Of(e.path()));
        std::sort(files.begin(), files.end());
        for (const auto& f : files)
            loaded += LoadModule(f, warn) ? 1 : 0;
    }
    return loaded;
}

void PluginLoader::UnloadAll() {
    while (!modules_.empty()) {
        LoadedModule& m = modules_.back();
        for (ClassDesc2* cd : m.classes)
            Classes().Remove(cd);
        if (!platform::SystemCallsDllMain()) m.attach(m.instance, DLL_PROCESS_DETACH, nullptr);
        platform::CloseLibrary(m.handle);
        modules_.pop_back();
    }
}

std::vector<std::string> PluginFolders(const std::string& commandLineFolder, const std::string& exePath) {
    std::vector<std::string> folders;
    if (!commandLineFolder.empty()) {
        folders.push_back(commandLineFolder);
        return folders;
    }
    if (const char* env = std::getenv("VOMARK_PLUGINS"); env && *env) {
        std::string s = env;
        size_t start = 0;
        while (start <= s.size()) {
            size_t colon = s.find(platform::PathListSeparator(), start);
            std::string part =
                s.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            if (!part.empty()) folders.push_back(part);
            if (colon == std::string::npos) break;
            start = colon + 1;
        }
        return folders;
    }
    std::error_code ec;
    fs::path exe = fs::canonical(sel::PathOf(exePath), ec);
    if (!ec) folders.push_back(sel::Utf8Of(exe.parent_path().parent_path() / "plugins"));
    return folders;
}

} // namespace vm
