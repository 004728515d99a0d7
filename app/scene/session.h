// What every vomark verb shares: plug-ins, the interaction provider, and reporting to stderr.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "runtime/host_record.h"
#include "runtime/interaction.h"
#include "runtime/plugin_loader.h"

namespace app {

struct CommonOptions {
    std::string plugins;
    std::vector<std::string> answers; // KIND=VALUE
    bool quiet = false;
    int escapeAtPoll = 0;
};

// Loads the plug-ins and sets up the provider; unloads in its destructor.
class Session {
  public:
    Session(const CommonOptions& options, const std::string& argv0);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    vm::PluginLoader& Loader() { return loader_; }
    // The --answer texts no dialog took, in the order given per kind ("save=take1.sel").
    std::vector<std::string> UnusedAnswers() const;
    // The folders searched for plug-in modules, in order.
    const std::vector<std::string>& Folders() const { return folders_; }

  private:
    vm::PluginLoader loader_;
    std::vector<std::string> folders_;
    vm::ScriptedInteraction scripted_;
    std::unique_ptr<vm::TerminalInteraction> terminal_;
};

// A verb on the command line: every verb of vomark is one of these. run() does its work once it
// was the verb given, with the session (plug-ins loaded, dialogs answered) up.
struct Verb {
    CLI::App* command;
    std::function<int(Session&)> run;
};
using AddCommonOptions = std::function<void(CLI::App*)>;

// What most verbs take: the scene, and the node in it.
inline void AddSceneArgument(CLI::App* verb, std::string& scene) {
    verb->add_option("scene", scene, "scene (JSON description or .vms)")->required();
}
inline CLI::Option* AddNodeOption(CLI::App* verb, std::string& node) {
    return verb->add_option("--node", node, "node name (may be left out when the scene has one node)");
}

// A verb a build leaves out (the Windows build: demo and view draw with Cairo): it says so, exit 2.
Verb Unavailable(CLI::App& cli, const std::string& name, const std::string& what);

// Throws std::invalid_argument for an answer that is not KIND=VALUE with a known kind.
void QueueAnswer(vm::ScriptedInteraction& provider, const std::string& answer);

} // namespace app
