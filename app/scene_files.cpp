// vomark save and vomark assets.
#include "sel/files.h"
#include "scene_files.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <set>

#include "host_queries.h"
#include "runtime/scene_file.h"
#include "scene_description.h"

namespace app {
namespace {
// Each name once, in the order first reported.
struct UniqueNames : NameEnumCallback {
    std::vector<std::string> names;
    std::set<std::string> seen;
    void RecordName(const char* name) override {
        if (name && seen.insert(name).second) names.push_back(name);
    }
};
} // namespace

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

int SaveScene(const SaveOptions& o, const CommonOptions& common, std::ostream& out) {
    CheckTarget(o.out, o.force);
    BuiltScene built = LoadScene(o.scene, common.quiet);
    RefuseToWriteOver(o.out, InputsOf(o.scene, *built.scene));
    out << SaveSceneAs(*built.scene, o.out, o.force) << "\n";
    return 0;
}

int ListAssets(const AssetsOptions& o, const CommonOptions& common, std::ostream& out) {
    BuiltScene built = LoadScene(o.scene, common.quiet);
    UniqueNames names;
    built.scene->EnumAuxFiles(names, o.missing ? FILE_ENUM_MISSING_ONLY : 0);
    for (const auto& n : names.names)
        out << n << "\n";
    // scripts test `assets --missing` by its status: 1 when something is missing
    return o.missing && !names.names.empty() ? 1 : 0;
}

Verb AddSaveVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<SaveOptions>();
    CLI::App* verb =
        cli.add_subcommand("save", "save a scene (JSON description or .vms) as a .vms scene file");
    addCommon(verb);
    verb->add_option("scene", o->scene, "scene (JSON description or .vms)")->required();
    verb->add_option("out", o->out, "the scene file to write")->required();
    verb->add_flag("--force", o->force, "replace OUT when it exists");
    return {verb, [o, &common](Session&) { return SaveScene(*o, common, std::cout); }};
}

Verb AddAssetsVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<AssetsOptions>();
    CLI::App* verb = cli.add_subcommand("assets", "list the files a scene needs, one a line");
    addCommon(verb);
    verb->add_option("scene", o->scene, "scene (JSON description or .vms)")->required();
    verb->add_flag("--missing", o->missing, "list the missing files instead of the existing ones");
    return {verb, [o, &common](Session&) { return ListAssets(*o, common, std::cout); }};
}

} // namespace app
