// The verbs of vomark, a file each in app/verbs/; app/main.cpp puts them on the command line.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "scene/session.h"

namespace app {

int ListPlugins(Session& session, std::ostream& out);

struct EvalTime {
    bool isFrame;
    double frame;
    int tick;
};
struct EvalOptions {
    std::string scene, format = "csv";
    std::vector<std::string> nodes; // --node, in order; none: the scene's only node
    bool all = false;               // every node of the scene, in its order
    std::string png; // a picture of the selection at every time, when given
    std::vector<double> frames;
    std::vector<int> ticks;
    std::vector<EvalTime> times; // in command-line order
};
int Evaluate(const EvalOptions& options, const CommonOptions& common, std::ostream& out);

struct RecordOptions {
    std::string scene, node, modifier;
    std::vector<std::string> sets; // PARAM=VALUE
    std::string save;              // a .vms to save the scene to after recording
    bool force = false;
    bool check = false;            // load and check everything, record nothing
    std::string frames;            // "A:B": record a part of the range (see record_part.h)
};
// Calls the published function "record" of the node's modifier, as a script would.
int RecordCache(const RecordOptions& options, const CommonOptions& common, Session& session);

struct SaveOptions {
    std::string scene, out;
    bool force = false;
};
int SaveScene(const SaveOptions& options, const CommonOptions& common, std::ostream& out);

struct AssetsOptions {
    std::string scene;
    bool missing = false;
};
// The files the scene's modifiers name, each once: the existing ones, or with `missing` the
// missing ones.
int ListAssets(const AssetsOptions& options, const CommonOptions& common, std::ostream& out);

// For the verbs that may record: a testing option that stops a recording as Escape would.
inline void AddEscapeAtPollOption(CLI::App* verb, CommonOptions& common) {
    verb->add_option("--escape-at-poll", common.escapeAtPoll,
                     "testing: the K-th poll of the Escape key (1 = first) answers pressed");
}

Verb AddPluginsVerb(CLI::App& cli, const AddCommonOptions& addCommon);
Verb AddEvalVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);
// Takes `common` writable for --escape-at-poll, which the session reads when it starts.
Verb AddRecordVerb(CLI::App& cli, CommonOptions& common, const AddCommonOptions& addCommon);
Verb AddSaveVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);
Verb AddAssetsVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);
// panel: open a modifier's panel and press its buttons; run: a script of macro-recorder lines and a
// few host commands; both edit a scene as a user would.
Verb AddPanelVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);
Verb AddRunVerb(CLI::App& cli, CommonOptions& common, const AddCommonOptions& addCommon);
// demo: the main job on a built-in scene, with pictures and a summary.
Verb AddDemoVerb(CLI::App& cli, CommonOptions& common, const AddCommonOptions& addCommon);

} // namespace app
