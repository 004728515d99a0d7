// The verbs that edit a scene as a user would: `panel` (open a modifier's panel and press its
// buttons) and `run` (a script of macro-recorder lines and a few host commands).
#pragma once
#include <functional>

#include <CLI/CLI.hpp>

#include "session.h"

namespace app {

// A verb on the command line: every verb of vomark is one of these. run() does its work once it
// was the verb given, with the session (plug-ins loaded, dialogs answered) up.
struct Verb {
    CLI::App* command;
    std::function<int(Session&)> run;
};
using AddCommonOptions = std::function<void(CLI::App*)>;

// For the verbs that may record: a testing option that stops a recording as Escape would.
inline void AddEscapeAtPollOption(CLI::App* verb, CommonOptions& common) {
    verb->add_option("--escape-at-poll", common.escapeAtPoll,
                     "testing: the K-th poll of the Escape key (1 = first) answers pressed");
}

Verb AddPanelVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);
Verb AddRunVerb(CLI::App& cli, CommonOptions& common, const AddCommonOptions& addCommon);

} // namespace app
