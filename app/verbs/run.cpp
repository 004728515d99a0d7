// vomark run: a script run line by line against a scene.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "console/stop.h"
#include "sel/files.h"
#include "verbs/verbs.h"
#include "scene/scene_description.h"
#include "verbs/script_runner.h"

namespace app {
namespace {

struct RunOptions {
    std::string scene, script;
};

int RunScript(const RunOptions& o, const CommonOptions& common) {
    // the kind first: a folder opens on some systems, and a FIFO would wait for a writer
    if (sel::KindOf(o.script) != sel::FileKind::Plain)
        throw std::runtime_error("cannot read script " + o.script + ": " + WhyUnreadable(o.script));
    std::ifstream in(sel::PathOf(o.script), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read script " + o.script + ": " + WhyUnreadable(o.script));
    std::stringstream text;
    text << in.rdbuf();
    BuiltScene built = LoadScene(o.scene, common.quiet);
    vm::Scene& scene = *built.scene;
    ScriptRunner runner(scene, std::cout, sel::Utf8Of(std::filesystem::absolute(sel::PathOf(o.script)).parent_path()));
    runner.Protect({{o.scene, "the scene"}, {o.script, "the script"}});
    ScriptOutcome outcome = runner.Run(text.str(), o.script);
    std::cout.flush();
    if (!outcome.ok) {
        std::cerr << outcome.error << "\n";
        return outcome.stopped ? console::StopStatus() : 1;
    }
    // a cache there but unreadable was said at its eval line: the run did not go as if all were well
    return outcome.unreadableCaches ? 1 : 0;
}
} // namespace

Verb AddRunVerb(CLI::App& cli, CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<RunOptions>();
    CLI::App* verb = cli.add_subcommand("run", "run a script of macro-recorder lines against a scene");
    addCommon(verb);
    AddSceneArgument(verb, o->scene);
    verb->add_option("script", o->script, "the script; see docs/scripting.md")->required();
    AddEscapeAtPollOption(verb, common);
    return {verb, [o, &common](Session&) { return RunScript(*o, common); }};
}

} // namespace app
