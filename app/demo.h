// vomark demo: the main job on a built-in scene, with pictures and a summary.
#pragma once
#include "editing_verbs.h"

namespace app {

// Takes `common` writable for --escape-at-poll, which the session reads when it starts.
Verb AddDemoVerb(CLI::App& cli, CommonOptions& common, const AddCommonOptions& addCommon);

// A verb a build leaves out (the Windows build: demo and view draw with Cairo): it says so, exit 2.
Verb Unavailable(CLI::App& cli, const std::string& name, const std::string& what);

} // namespace app
