// Any text as a scene description: it builds, or it is refused with one line naming the place at
// fault. A built scene's nodes are evaluated twice, so the modifiers it made run too.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "plugin/tessarin.h"
#include "runtime/host_record.h"
#include "runtime/plugin_loader.h"
#include "runtime/window.h"
#include "scene_description.h"

extern "C" const ResourceTable VomarkModuleResources;
extern "C" BOOL DllMain(HINSTANCE, ULONG, LPVOID);

namespace {
// Relative paths in a description (meshes, cache files) resolve here.
const std::string& Folder() {
    static const std::string dir = [] {
        auto d = std::filesystem::temp_directory_path() / ("fuzz_scene-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d.string();
    }();
    return dir;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    HINSTANCE module = vm::MakeModuleInstance(&VomarkModuleResources, "Tessarin.dlm");
    DllMain(module, DLL_PROCESS_ATTACH, nullptr);
    vm::Classes().Add(module::ClassDescriptor());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // no paths out of the folder
    if (text.find('/') != std::string::npos || text.find('\\') != std::string::npos) return 0;
    vm::Record().Clear();
    try {
        app::BuiltScene built = app::BuildScene(text, Folder());
        vm::Scene& scene = *built.scene;
        for (INode* node : scene.Nodes())
            for (TimeValue t : {TimeValue(0), scene.TicksPerFrame()}) {
                scene.SetCurrentTime(t);
                scene.EvaluateNode(node, t, 0);
            }
    } catch (const app::SceneError& e) {
        std::string message = e.what();
        if (message.empty() || message.find_first_of("\r\n") != std::string::npos)
            std::abort(); // a refusal is one line that says why
    }
    return 0;
}
