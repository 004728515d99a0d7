// Any text as a script against a small scene with a Tessarin: each line runs, or the script stops
// with one line naming the script and the line.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "plugin/tessarin.h"
#include "runtime/host_record.h"
#include "runtime/plugin_loader.h"
#include "runtime/window.h"
#include "scene/scene_description.h"
#include "verbs/script_runner.h"

namespace {
const char* kScene = R"({"animationRange": [0, 2], "nodes": [
  {"name": "Tri", "mesh": {"grid": {"width": 1, "length": 1, "rows": 1, "cols": 2}},
   "modifiers": [
     {"class": "SelectKeys", "keys": [{"frame": 0, "selected": [1], "weights": [0.2, 0, 0.5, 0.1, 0.9, 0.3]},
                                      {"frame": 2, "selected": [0], "weights": [0.5, 0.5, 0.5, 0.5, 0.5, 0.5]}]},
     {"class": "Tessarin", "params": {"cache_file": "fuzz.sel", "samples": 2, "end_time": 2}}]},
  {"name": "Other node", "mesh": {"vertices": [[0, 0, 0]]}}]})";

bool Contains(std::string text, const char* lowerWord) {
    for (char& ch : text)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text.find(lowerWord) != std::string::npos;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::AttachModule();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    // no paths out of the folder, and recordings over the scene's short range only
    if (text.find('/') != std::string::npos || text.find('\\') != std::string::npos ||
        Contains(text, "_time"))
        return 0;
    vm::Record().Clear();
    app::BuiltScene built = app::BuildScene(kScene, fuzz_support::Folder("fuzz_script"));
    std::ostringstream out;
    app::ScriptRunner runner(*built.scene, out, fuzz_support::Folder("fuzz_script"));
    app::ScriptOutcome outcome = runner.Run(text, "fuzz.script");
    if (!outcome.ok && (outcome.error.rfind("fuzz.script:", 0) != 0 ||
                        outcome.error.find_first_of("\r\n") != std::string::npos))
        std::abort(); // an error must name the script and stay on one line
    return 0;
}
