// The verbs that edit a scene as a user would: `panel` (open a modifier's panel and press its
// buttons) and `run` (a script of macro-recorder lines and a few host commands).
#pragma once
#include <functional>

#include <CLI/CLI.hpp>

#include "session.h"

namespace app {

// A verb on the command line; run() does its work once it was the verb given and the session is up.
struct Verb {
    CLI::App* command;
    std::function<int()> run;
};
using AddCommonOptions = std::function<void(CLI::App*)>;

Verb AddPanelVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);
Verb AddRunVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);

} // namespace app
