// vomark assets: the files a scene needs, one a line.
#include <iostream>
#include <memory>
#include <set>

#include "scene/scene_description.h"
#include "verbs/verbs.h"

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

int ListAssets(const AssetsOptions& o, const CommonOptions& common, std::ostream& out) {
    BuiltScene built = LoadScene(o.scene, common.quiet);
    UniqueNames names;
    built.scene->EnumAuxFiles(names, o.missing ? FILE_ENUM_MISSING_ONLY : 0);
    for (const auto& n : names.names)
        out << n << "\n";
    // scripts test `assets --missing` by its status: 1 when something is missing
    return o.missing && !names.names.empty() ? 1 : 0;
}

Verb AddAssetsVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<AssetsOptions>();
    CLI::App* verb = cli.add_subcommand("assets", "list the files a scene needs, one a line");
    addCommon(verb);
    AddSceneArgument(verb, o->scene);
    verb->add_flag("--missing", o->missing, "list the missing files instead of the existing ones");
    return {verb, [o, &common](Session&) { return ListAssets(*o, common, std::cout); }};
}

} // namespace app
