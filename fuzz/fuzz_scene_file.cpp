// Any bytes as a scene file, with the Tessarin module loaded: loading must either build a scene or
// refuse with a SceneFileError, never read outside the bytes or allocate past what they allow; a
// scene that loads saves, and its saved bytes load again to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plugin/tessarin.h"
#include "runtime/host_record.h"
#include "runtime/plugin_loader.h"
#include "runtime/scene_file.h"
#include "runtime/window.h"

extern "C" const ResourceTable VomarkModuleResources;
extern "C" BOOL DllMain(HINSTANCE, ULONG, LPVOID);

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    HINSTANCE h = vm::MakeModuleInstance(&VomarkModuleResources, "Tessarin.dlm");
    DllMain(h, DLL_PROCESS_ATTACH, nullptr);
    vm::Classes().Add(module::ClassDescriptor());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vm::Record().Clear();
    std::string saved;
    try {
        auto scene =
            vm::ParseSceneFile(std::string(reinterpret_cast<const char*>(data), size), "fuzz.vms", {true});
        saved = vm::SceneFileBytes(*scene);
    } catch (const vm::SceneFileError&) {
        return 0;
    }
    // what this host saved must load, and save to the same bytes: any exception here is a finding
    auto again = vm::ParseSceneFile(saved, "saved.vms", {true});
    if (vm::SceneFileBytes(*again) != saved) std::abort();
    return 0;
}
