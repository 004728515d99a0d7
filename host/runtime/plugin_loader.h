// Class directory and plug-in loader: finds *.dlm modules, checks their exports and version, and
// registers their class descriptors.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "vomark/sdk.h"

namespace vm {

struct LoadedModule {
    std::string path;
    void* handle = nullptr;
    HINSTANCE instance = nullptr;
    AttachHookFn attach = nullptr;
    std::string description;
    ULONG version = 0;
    std::vector<ClassDesc2*> classes;
};

class ClassDirectory {
  public:
    void Add(ClassDesc2* cd) { classes_.push_back(cd); }
    void Remove(ClassDesc2* cd);
    // By internal name, then by class name.
    ClassDesc2* FindByName(const std::string& name) const;
    ClassDesc2* FindById(SClass_ID sclass, Class_ID id) const;
    const std::vector<ClassDesc2*>& Classes() const { return classes_; }

  private:
    std::vector<ClassDesc2*> classes_;
};

ClassDirectory& Classes();

class PluginLoader {
  public:
    using Warn = std::function<void(const std::string&)>;
    ~PluginLoader() { UnloadAll(); }
    // Loads every *.dlm file of the folders, in name order; a module that cannot be used is skipped
    // with a message naming it. Answers the number loaded.
    int LoadFolders(const std::vector<std::string>& folders, const Warn& warn);
    bool LoadModule(const std::string& path, const Warn& warn);
    // Detach call, class removal, then unload; newest first.
    void UnloadAll();
    const std::vector<LoadedModule>& Modules() const { return modules_; }

  private:
    std::vector<LoadedModule> modules_;
};

// --plugins DIR, then VOMARK_PLUGINS (colon-separated), then <exe>/../plugins.
std::vector<std::string> PluginFolders(const std::string& commandLineFolder, const std::string& exePath);

} // namespace vm
