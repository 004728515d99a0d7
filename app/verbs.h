// The verbs of vomark.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "editing_verbs.h"
#include "session.h"

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

Verb AddPluginsVerb(CLI::App& cli, const AddCommonOptions& addCommon);
Verb AddEvalVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon);
// Takes `common` writable for --escape-at-poll, which the session reads when it starts.
Verb AddRecordVerb(CLI::App& cli, CommonOptions& common, const AddCommonOptions& addCommon);

} // namespace app
