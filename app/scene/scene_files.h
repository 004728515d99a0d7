// Saving a scene as a .vms file: what vomark save, record --save and scripts share.
#pragma once
#include <string>

#include "runtime/scene.h"

namespace app {

// Throws vm::SceneFileError when `path` exists and `force` is not given.
void CheckTarget(const std::string& path, bool force);
// Saves the scene to `path` through a temporary file (see vm::SaveSceneFile), refusing an existing
// file unless `force`. Answers the one-line summary of what it wrote.
std::string SaveSceneAs(vm::Scene& scene, const std::string& path, bool force);

} // namespace app
