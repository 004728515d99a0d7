// vomark save: a scene (JSON description or .vms) as a .vms scene file.
#include <iostream>
#include <memory>

#include "scene/cache_files.h"
#include "scene/scene_description.h"
#include "scene/scene_files.h"
#include "verbs/verbs.h"

namespace app {

int SaveScene(const SaveOptions& o, const CommonOptions& common, std::ostream& out) {
    CheckTarget(o.out, o.force);
    BuiltScene built = LoadScene(o.scene, common.quiet);
    RefuseToWriteOver(o.out, InputsOf(o.scene, *built.scene));
    out << SaveSceneAs(*built.scene, o.out, o.force) << "\n";
    return 0;
}

Verb AddSaveVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<SaveOptions>();
    CLI::App* verb =
        cli.add_subcommand("save", "save a scene (JSON description or .vms) as a .vms scene file");
    addCommon(verb);
    AddSceneArgument(verb, o->scene);
    verb->add_option("out", o->out, "the scene file to write")->required();
    verb->add_flag("--force", o->force, "replace OUT when it exists");
    return {verb, [o, &common](Session&) { return SaveScene(*o, common, std::cout); }};
}

} // namespace app
