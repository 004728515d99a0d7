// Scripts for a loaded scene: the lines the panel gives the macro recorder, parameter assignments
// and a few host commands, run one line at a time.
#pragma once
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "scene/cache_files.h"
#include "runtime/scene.h"

namespace app {

namespace script {
struct Line;
}

// What became of a script: ok, or the first line that could not run as "SCRIPT:LINE: reason".
// `stopped`: Ctrl-C or Escape came while that line ran; it finished, and no line after it ran.
struct ScriptOutcome {
    bool ok = true;
    bool stopped = false;
    std::string error;
    int linesRun = 0;
    bool unreadableCaches = false; // an eval line found a cache there but unreadable (said on stderr)
};

// Runs scripts against `scene`; `eval` lines print to `out`. Any text is accepted: a line that
// cannot be run (unknown command, parameter or node, wrong value type, unterminated string,
// trailing text) ends the run with a one-line reason, and nothing after it runs. Relative paths
// in string values are taken against `baseDir`. Never exits the process and throws nothing for
// bad script text.
class ScriptRunner {
  public:
    ScriptRunner(vm::Scene& scene, std::ostream& out, std::string baseDir);
    // `name` is the script's name in errors. The first node is selected at the start.
    ScriptOutcome Run(const std::string& text, const std::string& name);
    // Files `save` must not write over, besides the cache files of the scene and the files loaded.
    void Protect(std::vector<InputFile> files) { inputs_ = std::move(files); }

  private:
    using Line = script::Line;
    using Command = void (ScriptRunner::*)(Line&);
    struct CommandEntry {
        const char* word;
        Command run;
    };
    static const CommandEntry kCommands[];

    void RunLine(Line& line);
    void Select(Line& line);
    void SliderTime(Line& line);
    void Eval(Line& line);
    void Save(Line& line);
    void Load(Line& line);
    void ModifierMember(Line& line);
    void SetParameter(Modifier* mod, const std::string& modName, const std::string& param, Line& line);
    void CallFunction(Modifier* mod, const std::string& modName, const std::string& function);

    vm::Scene* scene_;                  // the caller's scene, or the one `load` made
    std::unique_ptr<vm::Scene> loaded_; // what `load` made
    std::ostream& out_;
    std::string baseDir_;
    INode* selected_ = nullptr;
    bool headerWritten_ = false;
    std::vector<InputFile> inputs_;       // the files read: never written over by `save`
    std::vector<std::string> saidCaches_; // the unplayable caches told of so far
    bool unreadableCaches_ = false;
    std::vector<std::string> lineWarnings_; // the running line's values clamped, said after it
};

} // namespace app
