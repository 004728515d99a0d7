// vomark demo: the main job on a built-in scene, with pictures and a summary.
#pragma once
#include "editing_verbs.h"

namespace app {

Verb AddDemoVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);

} // namespace app
