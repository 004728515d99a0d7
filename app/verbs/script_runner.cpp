// The script runner: one line at a time, each line dispatched by its first word.
#include "sel/files.h"
#include "verbs/script_runner.h"

#include <strings.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "scene/cache_files.h"
#include "scene/host_queries.h"
#include "scene/recording_reports.h"
#include "scene/selection.h"
#include "scene/progress.h"
#include "runtime/function_publishing.h"
#include "runtime/host_record.h"
#include "runtime/interaction.h"
#include "runtime/scene_file.h"
#include "scene/scene_description.h"
#include "verbs/script_line.h"
#include "scene/record_whole.h"

namespace app {

using script::Fail;
using script::LineError;
using script::Quote;
using script::Value;

// Each line starts with one of these words, or with "$" for a modifier's function or parameter.
const ScriptRunner::CommandEntry ScriptRunner::kCommands[] = {
    {"select", &ScriptRunner::Select}, {"sliderTime", &ScriptRunner::SliderTime},
    {"eval", &ScriptRunner::Eval},     {"save", &ScriptRunner::Save},
    {"load", &ScriptRunner::Load},
};

ScriptRunner::ScriptRunner(vm::Scene& scene, std::ostream& out, std::string baseDir)
    : scene_(&scene), out_(out), baseDir_(std::move(baseDir)) {}

ScriptOutcome ScriptRunner::Run(const std::string& text, const std::string& name) {
    ScriptOutcome outcome;
    selected_ = scene_->Nodes().empty() ? nullptr : scene_->Nodes().front();
    // an editor's byte-order mark is no part of the first command
    size_t from = text.rfind("\xef\xbb\xbf", 0) == 0 ? 3 : 0;
    for (int number = 1; from <= text.size(); ++number) {
        size_t end = text.find('\n', from);
        if (end == std::string::npos) end = text.size();
        std::string_view raw(text.data() + from, end - from);
        from = end + 1;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        Line line{raw};
        if (line.AtEnd() || raw[line.pos] == '#') continue;
        int escapes = vm::Record().escapePresses;
        lineWarnings_.clear();
        try {
            RunLine(line);
            ++outcome.linesRun;
            for (const std::string& w : lineWarnings_)
                std::cerr << "vomark: warning: " << name << ":" << number << ": " << w << "\n";
        } catch (const LineError& e) {
            outcome.error = e.reason;
        } catch (const std::exception& e) { // a helper's own error about this line
            outcome.error = e.what();
        }
        // Ctrl-C reaches a recording as Escape and anything else as a pending interrupt: either
        // way the user wants the script to stop, not to go on past what they stopped
        if (outcome.error.empty() && (vm::Record().escapePresses > escapes || vm::TakeInterrupt())) {
            outcome.stopped = true;
            outcome.error = "stopped by the user during this line; " + std::to_string(outcome.linesRun) +
                            (outcome.linesRun == 1 ? " line ran" : " lines ran") + ", none after it";
        }
        if (!outcome.error.empty()) {
            outcome.ok = false;
            outcome.error = name + ":" + std::to_string(number) + ": " + outcome.error;
            return outcome;
        }
        outcome.unreadableCaches = unreadableCaches_;
    }
    return outcome;
}

void ScriptRunner::RunLine(Line& line) {
    if (line.Take('$')) return ModifierMember(line);
    std::string word = line.Word();
    if (word.empty()) Fail("unknown command " + Quote(line.Piece()));
    for (const CommandEntry& c : kCommands)
        if (strcasecmp(c.word, word.c_str()) == 0) return (this->*c.run)(line);
    Fail("unknown command " + Quote(word));
}

void ScriptRunner::Select(Line& line) {
    std::string name = line.Name("select needs a node name");
    INode* node = scene_->FindNode(name);
    if (!node) Fail("no node named " + Quote(name));
    selected_ = node;
}

void ScriptRunner::SliderTime(Line& line) {
    if (!line.Take('=')) Fail("expected sliderTime = FRAME");
    Value v = line.ReadValue();
    line.End();
    if (v.kind != Value::Number) Fail("sliderTime takes a frame number, not " + Quote(v.text));
    double ticks = std::trunc(v.number * scene_->TicksPerFrame());
    if (!(ticks >= INT_MIN && ticks <= INT_MAX)) Fail("frame " + v.text + " is out of range");
    scene_->SetCurrentTime(static_cast<TimeValue>(ticks));
}

void ScriptRunner::Eval(Line& line) {
    line.End();
    if (!selected_) Fail("the scene has no nodes");
    // the evaluated node's caches alone: an eval line costs what its node costs, not the scene
    unreadableCaches_ |= SayUnplayableCaches(*scene_, saidCaches_, selected_);
    if (!headerWritten_) out_ << kSelectionCsvHeader;
    headerWritten_ = true;
    TimeValue t = scene_->CurrentTime();
    WriteSelectionCsv(t, EvaluatedMesh(*scene_, selected_, t), out_);
}

// save PATH: the scene as a scene file, replacing PATH (through a temporary file).
void ScriptRunner::Save(Line& line) {
    std::string path = ResolvePath(baseDir_, line.Name("save needs a file name"));
    std::vector<InputFile> inputs = inputs_;
    for (InputFile& in : CacheInputs(*scene_))
        inputs.push_back(std::move(in));
    RefuseToWriteOver(path, inputs);
    vm::SaveSceneFile(*scene_, path);
}

// load PATH: a scene file or description in place of the scene; its first node is selected.
void ScriptRunner::Load(Line& line) {
    std::string path = ResolvePath(baseDir_, line.Name("load needs a file name"));
    BuiltScene next = LoadScene(path, scene_->QuietMode() != FALSE);
    loaded_ = std::move(next.scene); // the scene loaded before, if any, goes
    inputs_.push_back({path, "a scene the script loaded"});
    scene_ = loaded_.get();
    selected_ = scene_->Nodes().empty() ? nullptr : scene_->Nodes().front();
}

// $.modifiers[#Name].function  or  $.modifiers[#Name].parameter = VALUE
void ScriptRunner::ModifierMember(Line& line) {
    std::string modName, member;
    bool shaped = line.Take('.') && strcasecmp(line.Word().c_str(), "modifiers") == 0 && line.Take('[') &&
                  line.Take('#') && !(modName = line.Word()).empty() && line.Take(']') && line.Take('.') &&
                  !(member = line.Word()).empty();
    if (!shaped) Fail("expected $.modifiers[#Name].function or $.modifiers[#Name].parameter = VALUE");
    if (!selected_) Fail("the scene has no nodes");
    Modifier* mod = FindModifierNamed(selected_, modName);
    if (!mod) Fail("node " + Quote(selected_->GetName()) + " has no modifier #" + modName);
    if (line.Take('='))
        SetParameter(mod, modName, member, line);
    else {
        line.End();
        CallFunction(mod, modName, member);
    }
}

void ScriptRunner::SetParameter(Modifier* mod, const std::string& modName, const std::string& param,
                                Line& line) {
    IParamBlock2* block = nullptr;
    const ParamDef* def = FindParameter(mod, param, &block);
    if (!def) Fail("#" + modName + " has no parameter " + Quote(param));
    Value v = line.ReadValue();
    line.End();
    std::string text = v.text;
    if (def->type == TYPE_STRING) {
        if (v.kind != Value::String) Fail(param + " takes a string in double quotes");
        text = ResolvePath(baseDir_, v.text);
    } else if (v.kind == Value::String) {
        Fail(param + " takes a number, not a string");
    } else if (v.kind == Value::Word) {
        bool on = strcasecmp(v.text.c_str(), "true") == 0 || strcasecmp(v.text.c_str(), "on") == 0;
        bool off = strcasecmp(v.text.c_str(), "false") == 0 || strcasecmp(v.text.c_str(), "off") == 0;
        if (def->type != TYPE_BOOL || !(on || off))
            Fail(param + " takes " + (def->type == TYPE_BOOL ? "true or false" : "a number") + ", not " +
                 Quote(v.text));
        text = on ? "on" : "off";
    } else if (def->type != TYPE_FLOAT) {
        if (v.number != std::trunc(v.number)) Fail(param + " takes a whole number");
        if (!(v.number >= INT_MIN && v.number <= INT_MAX)) Fail("the number " + v.text + " is out of range");
        text = std::to_string(static_cast<int>(v.number));
    }
    if (std::string note = SetParameterFromText(mod, param, text); !note.empty())
        lineWarnings_.push_back(param + " = " + v.text + ": " + note);
}

void ScriptRunner::CallFunction(Modifier* mod, const std::string& modName, const std::string& function) {
    ClassDesc2* cd = ClassOf(mod);
    size_t boxes = vm::Record().messageBoxes.size();
    int escapes = vm::Record().escapePresses;
    bool recording = strcasecmp(function.c_str(), "record") == 0;
    // a recording goes beside its cache file until it ends, as `vomark record` records
    std::optional<WholeRecording> whole;
    if (recording && cd && FindParameter(mod, kCacheFileParameter, nullptr)) whole.emplace(mod);
    vm::ScriptCallResult r;
    long evaluations = 0;
    {
        Progress progress(*scene_, mod);
        if (recording) scene_->onEvaluate = [&](INode*, TimeValue t) { progress.Evaluated(t); };
        r = cd ? vm::CallScriptFunction(mod, cd, function.c_str()) : vm::ScriptCallResult{};
        scene_->onEvaluate = nullptr;
        evaluations = progress.Evaluations();
    }
    if (whole) whole->Unstage();
    bool staged = whole && whole->Staged();
    bool stopped = r.found && recording &&
                   (staged ? vm::Record().escapePresses > escapes : SayIfRecordingStopped(escapes, mod));
    if (!r.found) {
        if (FindParameter(mod, function, nullptr))
            Fail(function + " is a parameter: expected " + function + " = VALUE");
        Fail("#" + modName + " has no function " + Quote(function));
    }
    if (std::string error = ErrorShownSince(boxes); !error.empty())
        Fail(recording ? RecordingFailure(mod) : error);
    if (!recording) return;
    if (staged) {
        Landing landing = whole->Land(stopped, evaluations);
        if (landing.status == 1) Fail(landing.line);
        // the output is the eval lines' CSV: what the recording wrote goes beside it, on stderr
        std::cerr << (landing.status == 0 ? "" : "vomark: ") << landing.line << "\n";
        return;
    }
    if (stopped) return; // a stop ends the script where it is, as the run reports
    if (std::string why = NothingRecorded(mod, evaluations); !why.empty()) Fail(why);
    std::cerr << RecordingSummary(mod) << "\n";
}

} // namespace app
