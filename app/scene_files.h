// Scene files on the command line: vomark save, vomark assets, and the saving that record --save
// and scripts share.
#pragma once
#include <functional>
#include <ostream>
#include <string>

#include "editing_verbs.h"
#include "runtime/scene.h"
#include "session.h"

namespace app {

// Throws vm::SceneFileError when `path` exists and `force` is not given.
void CheckTarget(const std::string& path, bool force);
// Saves the scene to `path` through a temporary file (see vm::SaveSceneFile), refusing an existing
// file unless `force`. Answers the one-line summary of what it wrote.
std::string SaveSceneAs(vm::Scene& scene, const std::string& path, bool force);

struct SaveOptions {
    std::string scene, out;
    bool force = false;
};
int SaveScene(const SaveOptions& options, const CommonOptions& common, std::ostream& out);

struct AssetsOptions {
    std::string scene;
    bool missing = false;
};
// The files the scene's modifiers name, each once: the existing ones, or with `missing` the
// missing ones.
int ListAssets(const AssetsOptions& options, const CommonOptions& common, std::ostream& out);

Verb AddSaveVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);
Verb AddAssetsVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);

} // namespace app
