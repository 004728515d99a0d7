// Set-up shared by the fuzz targets that run the plug-in inside the stand-in host.
#pragma once
#include <unistd.h>

#include <filesystem>
#include <string>

#include "plugin/tessarin.h"
#include "runtime/plugin_loader.h"
#include "runtime/window.h"

extern "C" const ResourceTable VomarkModuleResources;
extern "C" BOOL DllMain(HINSTANCE, ULONG, LPVOID);

namespace fuzz_support {

// Attaches the linked-in module as the host would load it, and lists its class by name.
inline void AttachModule() {
    HINSTANCE module = vm::MakeModuleInstance(&VomarkModuleResources, "Tessarin.dlm");
    DllMain(module, DLL_PROCESS_ATTACH, nullptr);
    vm::Classes().Add(module::ClassDescriptor());
}

// A scratch folder of this process (made once) where the target's files stay; removed at exit, so
// that replays under ctest leave nothing behind.
inline const std::string& Folder(const char* target) {
    struct Scratch {
        std::string dir;
        ~Scratch() {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    };
    static const Scratch scratch{[target] {
        auto d =
            std::filesystem::temp_directory_path() / (std::string(target) + "-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d.string();
    }()};
    return scratch.dir;
}

} // namespace fuzz_support
