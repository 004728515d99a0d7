// Any text as a scene description: it builds, or it is refused with one line naming the place at
// fault. A built scene's nodes are evaluated twice, so the modifiers it made run too.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "runtime/host_record.h"
#include "scene/scene_description.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::AttachModule();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // no paths out of the folder
    if (text.find('/') != std::string::npos || text.find('\\') != std::string::npos) return 0;
    vm::Record().Clear();
    try {
        app::BuiltScene built = app::BuildScene(text, fuzz_support::Folder("fuzz_scene"));
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
