// Saving a scene as a .vms file, which save, record --save and scripts share.
#include "sel/files.h"
#include "scene/scene_files.h"

#include <filesystem>

#include "runtime/scene_file.h"

namespace app {

void CheckTarget(const std::string& path, bool force) {
    std::error_code ec;
    if (std::filesystem::is_directory(sel::PathOf(path), ec))
        throw vm::SceneFileError(path + ": is a folder; give the name of the scene file to write", 0);
    if (!force && std::filesystem::exists(sel::PathOf(path), ec))
        throw vm::SceneFileError(path + ": exists already; give --force to replace it", 0);
}

std::string SaveSceneAs(vm::Scene& scene, const std::string& path, bool force) {
    CheckTarget(path, force);
    size_t bytes = vm::SaveSceneFile(scene, path); // a FIFO has no size to ask for afterwards
    size_t nodes = scene.Nodes().size();
    return "saved " + path + ": " + std::to_string(nodes) + (nodes == 1 ? " node, " : " nodes, ") +
           std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

} // namespace app
