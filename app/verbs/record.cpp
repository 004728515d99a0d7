// vomark record: a node's modifier into its cache file, whole or a part of the range.
#include <filesystem>
#include <iostream>
#include <memory>
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
#include "scene/scene_description.h"
#include "scene/scene_files.h"
#include "scene/staging.h"
#include "sel/files.h"
#include "sel/output.h"
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

// `target` with ".stopped-PID" before its extension, beside the file it leads to, unused so far.
std::string KeptName(const std::string& target) {
    std::filesystem::path path = sel::PathOf(sel::FollowLinks(target));
    std::string ext = sel::Utf8Of(path.extension());
    path.replace_extension();
    std::string stem = sel::Utf8Of(path) + ".stopped-" + std::to_string(ProcessId());
    std::string name = stem + ext;
    for (int n = 2; sel::KindOf(name) != sel::FileKind::Missing; ++n)
        name = stem + "-" + std::to_string(n) + ext;
    return name;
}

// A whole recording goes into a file beside its cache file (`staged`) and takes the cache's place
// when it ends, with Escape and Ctrl-C too (what was recorded so far is what was asked for). A stop
// nobody typed (SIGTERM: a farm's cancel, a shutdown) leaves a cache that stood as it was, and the
// frames recorded so far beside it under a name the line gives.
int LandWhole(Staging& staging, const std::string& staged, const std::string& target, bool stood, Modifier* mod,
              bool stopped, long evaluations, const std::string& save) {
    std::string noSave = save.empty() ? "" : save + " was not written";
    auto with = [](const std::string& line, const std::string& more) { return more.empty() ? line : line + "; " + more; };
    if (sel::KindOf(staged) != sel::FileKind::Plain || (!stopped && evaluations == 0)) {
        std::cerr << "vomark: "
                  << with("nothing was recorded: " + target + (stood ? " was kept as it was" : " was not written"), noSave)
                  << "\n";
        return stopped ? console::StopStatus() : 1;
    }
    if (stopped && stood && console::StopStatus() == console::kTerminated) {
        std::string kept = KeptName(target);
        if (std::string why = sel::ReplaceTogether({{staged, kept}}); !why.empty()) {
            std::cerr << "vomark: recording stopped by SIGTERM: " << target << " is as it was; " << why << "\n";
            return 1;
        }
        staging.Settled();
        std::cerr << "vomark: "
                  << with(StoppedRecordingLine(kept) + "; SIGTERM left " + target + " as it was (mv " + kept + " " +
                              target + " puts the recording in its place)",
                          noSave)
                  << "\n";
        return console::StopStatus();
    }
    if (std::string why = sel::ReplaceTogether({{staged, target}}); !why.empty()) {
        std::cerr << "vomark: " << with(why, noSave) << "\n";
        return 1;
    }
    staging.Settled();
    if (stopped) {
        std::cerr << "vomark: " << with(StoppedRecordingLine(target), noSave) << "\n";
        return console::StopStatus();
    }
    std::cout << RecordingSummary(mod) << "\n";
    return 0;
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
    Staging staging;
    std::string staged;
    bool stood = sel::KindOf(target) == sel::FileKind::Plain;
    if (part) {
        part->Stage(mod);
    } else if (!target.empty() && (stood || sel::KindOf(target) == sel::FileKind::Missing) &&
               WhyUnwritable(target).empty()) {
        staged = staging.Beside(target);
        SetParameterFromText(mod, kCacheFileParameter, staged);
    }
    RecordCall call = CallRecord(scene, mod);
    if (part) part->Unstage(mod);
    if (!staged.empty()) SetParameterFromText(mod, kCacheFileParameter, target);
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
    if (!staged.empty()) {
        int status = LandWhole(staging, staged, target, stood, mod, call.stopped, call.evaluations, o.save);
        if (status != 0 || o.save.empty()) return status;
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
