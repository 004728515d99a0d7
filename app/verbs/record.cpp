// vomark record: a node's modifier into its cache file, whole or a part of the range.
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>

#include "console/exit_codes.h"
#include "console/stop.h"
#include "runtime/function_publishing.h"
#include "runtime/interaction.h"
#include "runtime/plugin_loader.h"
#include "scene/cache_files.h"
#include "scene/host_queries.h"
#include "scene/recording_reports.h"
#include "scene/progress.h"
#include "scene/record_part.h"
#include "scene/record_whole.h"
#include "scene/scene_description.h"
#include "scene/scene_files.h"
#include "verbs/verbs.h"

namespace app {
namespace {
// After a part's recording: the part and its record put in place together, or neither. A stopped
// recording is put in place only where no part stood (it keeps its whole frames, and the join names
// the ones missing); a part recorded before stays, with its record, when its new recording stops.
int LandPart(PartRecording& part, Modifier* mod, bool stopped, long evaluations, const std::string& frames) {
    const std::string& name = part.Name();
    if (stopped && part.PartStands()) {
        std::cerr << "vomark: recording stopped: " << name << " and its part record are kept as they were\n";
        return console::StopStatus();
    }
    if (!part.Recorded() || evaluations == 0) {
        std::cerr << "vomark: nothing was recorded: " << name
                  << (part.PartStands() ? " was kept as it was" : " was not written") << "\n";
        return stopped ? console::StopStatus() : 1;
    }
    if (std::string why = part.Land(); !why.empty()) {
        std::cerr << "vomark: " << why << "\n";
        return 1;
    }
    if (stopped) {
        std::cerr << "vomark: " << StoppedRecordingLine(name) << "\n";
        return console::StopStatus();
    }
    std::cout << RecordingSummary(mod) << " (frames " << frames << ", with its .part record)\n";
    return 0;
}

// The plug-in module whose class `mod` is; "" for the host's own modifiers.
std::string ModuleOf(Session& session, Modifier* mod) {
    ClassDesc2* cd = ClassOf(mod);
    for (const vm::LoadedModule& m : session.Loader().Modules())
        if (std::find(m.classes.begin(), m.classes.end(), cd) != m.classes.end()) return m.path;
    return "";
}

} // namespace

int RecordCache(const RecordOptions& o, const CommonOptions& common, Session& session) {
    if (!o.save.empty()) CheckTarget(o.save, o.force);
    BuiltScene built = LoadScene(o.scene, common.quiet);
    vm::Scene& scene = *built.scene;
    INode* node = PickNode(scene, o.node);
    Modifier* mod = nullptr;
    if (!o.modifier.empty()) {
        auto it = built.modifiersById.find(o.modifier);
        if (it == built.modifiersById.end())
            throw std::invalid_argument("no modifier with id \"" + o.modifier + "\"");
        mod = it->second;
    } else {
        mod = FindScriptedModifier(node, "record");
    }
    if (!mod)
        throw SceneError("node \"" + std::string(node->GetName()) + "\" has no modifier that can record");
    ApplySets(mod, o.sets);
    std::unique_ptr<PartRecording> part;
    if (!o.frames.empty())
        part = BeginPart(scene, node, mod,
                         {o.frames, o.scene, o.sets, RecordingInputs(built, mod, ModuleOf(session, mod))});
    // the recording writes the cache file and --save the scene file: neither over what was read
    const char* named = CacheFileOf(mod);
    std::string target = named ? named : "";
    if (!target.empty()) RefuseToWriteOver(target, {{o.scene, "the scene"}});
    if (!o.save.empty()) RefuseToWriteOver(o.save, InputsOf(o.scene, scene));
    if (o.check) {
        if (part) part->Check(mod);
        else if (std::string refused = target.empty() ? "" : RefusedTarget(target); !refused.empty())
            throw std::runtime_error(refused);
        std::cout << o.scene << ": node \"" << node->GetName() << "\" records "
                  << (target.empty() ? "into a file a dialog asks for" : "into " + target)
                  << (part ? " (frames " + o.frames + ")" : "") << "\n";
        return 0;
    }
    // the recording goes beside its target until it is whole: a part always; a whole recording into
    // a plain file it can write (anything else, it writes directly, and the recorder says what fails)
    std::optional<WholeRecording> whole;
    if (part) part->Stage(mod);
    else whole.emplace(mod);
    RecordCall call = CallRecord(scene, mod);
    if (part) part->Unstage(mod);
    else whole->Unstage();
    if (!call.result.found) throw SceneError(call.result.error);
    if (const std::string& shown = call.shownError; !shown.empty()) { // the box's own line was printed already
        // the box names the file beside the target that the recording went to; its reason is the target's
        std::string reason;
        if (size_t at = shown.find(": cannot be written: "); at != std::string::npos)
            reason = ": " + shown.substr(at + 21, shown.find(';', at) - at - 21);
        std::cerr << "vomark: " << RecordingFailure(mod) << reason << "\n";
        return 1;
    }
    if (part) return LandPart(*part, mod, call.stopped, call.evaluations, o.frames);
    // a scene naming a cut-short cache is not what --save asked for
    if (whole->Staged()) {
        Landing landing = whole->Land(call.stopped, call.evaluations);
        if (landing.status != 0) {
            std::cerr << "vomark: " << landing.line << (o.save.empty() ? "" : "; " + o.save + " was not written")
                      << "\n";
            return landing.status;
        }
        std::cout << landing.line << "\n";
    } else {
        if (SayIfRecordingStopped(call.escapesBefore, mod, o.save.empty() ? "" : o.save + " was not written"))
            return console::StopStatus();
        if (std::string why = NothingRecorded(mod, call.evaluations); !why.empty()) {
            std::cerr << "vomark: " << why << (o.save.empty() ? "" : "; " + o.save + " was not written") << "\n";
            return 1;
        }
        std::cout << RecordingSummary(mod) << "\n";
    }
    if (!o.save.empty()) std::cout << SaveSceneAs(scene, o.save, o.force) << "\n";
    return 0;
}

Verb AddRecordVerb(CLI::App& cli, CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<RecordOptions>();
    CLI::App* verb = cli.add_subcommand("record", "record a node's modifier into its cache file");
    addCommon(verb);
    AddSceneArgument(verb, o->scene);
    AddNodeOption(verb, o->node);
    verb->add_option("--modifier", o->modifier, "the \"id\" of the modifier (default: the topmost that records)");
    verb->add_option("--set", o->sets, "set a parameter by internal name first: PARAM=VALUE");
    verb->add_option("--save", o->save, "then save the scene as this .vms file");
    verb->add_flag("--force", o->force, "let --save replace an existing file");
    verb->add_flag("--check", o->check,
                   "load the scene, find the modifier and check the options and the cache file's place, "
                   "then exit without recording");
    verb->add_option("--frames", o->frames,
                     "record only frames A:B of the range, as a part for `tessarin join` (docs/farm.md)")
        ->excludes("--save");
    AddEscapeAtPollOption(verb, common);
    return {verb, [o, &common](Session& session) { return RecordCache(*o, common, session); }};
}


} // namespace app
