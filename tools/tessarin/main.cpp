// tessarin: inspect, verify, dump, plot, diff, repair, import, export and join selection cache files.
// Each verb declares its options beside its work (tools/tessarin/verbs.h); this is the verb table,
// the command line's errors, and the progress a long verb shows.
#include <CLI/CLI.hpp>
#include <cstring>
#include <iostream>
#include <optional>
#include <unistd.h>

#include "console/options.h"
#include "console/stop.h"
#include "sel/files.h"
#include "tools/tessarin/verbs.h"

namespace {
using namespace tessarin;

// Whether the command line asks for JSON, read before (or without) a successful parse.
bool AsksForJson(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--format=json") == 0 ||
            (i + 1 < argc && std::strcmp(argv[i], "--format") == 0 && std::strcmp(argv[i + 1], "json") == 0))
            return true;
    return false;
}
} // namespace

int main(int argc, char** argv) {
    sel::Utf8Arguments utf8(argc, argv);
    sel::BinaryStandardStreams();
    // Ctrl-C and SIGTERM stop a verb between steps: it says what it kept and removes its temporary file
    console::StopOnSignals();
    // the verbs' text goes through buffers that first take a progress bar off the terminal
    Progress* shown = nullptr;
    console::ErasingBuf outBuf(std::cout.rdbuf(), shown), errBuf(std::cerr.rdbuf(), shown);
    std::ostream outStream(&outBuf), errStream(&errBuf);
    Context ctx{outStream, errStream, [] { return console::StopRequested(); }};
    CLI::App app{
        "tessarin: inspect, verify, dump, plot, diff, repair, import, export and join selection cache "
        "files (.sel)"};
    app.require_subcommand(1);
    // options are --name on every platform; on Windows the library would take "/tmp/x.sel" for one
    app.allow_windows_style_options(false);
    app.set_version_flag(
        "--version", std::string("tessarin ") + TESSARIN_VERSION_STRING + " (" + TESSARIN_BUILD_STRING + ")",
        "Print the version and the build, then exit");
    ToolVerb verbs[] = {AddInfoVerb(app),   AddVerifyVerb(app), AddDumpVerb(app),
                        AddPlotVerb(app),   AddDiffVerb(app),   AddRepairVerb(app),
                        AddImportVerb(app), AddExportVerb(app), AddJoinVerb(app)};
    std::string verbList;
    for (const ToolVerb& v : verbs)
        verbList += (verbList.empty() ? "" : ", ") + v.command->get_name();
    auto isVerb = [&](const char* word) {
        for (const ToolVerb& v : verbs)
            if (v.command->get_name() == word) return true;
        return false;
    };
    if (argc > 1 && argv[1][0] != '-' && !isVerb(argv[1])) {
        std::string what = "there is no verb \"" + std::string(argv[1]) + "\"; the verbs are " + verbList;
        std::cerr << "tessarin: " << what << " (tessarin --help says more)\n";
        if (AsksForJson(argc, argv)) JsonError(std::cout, "", -1, what);
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        std::cout << e.what() << "\n";
        return 0;
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        auto takes = [&](const std::string& name) {
            for (CLI::App* verb : app.get_subcommands())
                if (const CLI::Option* opt = verb->get_option_no_throw(name))
                    return console::TakesOfTypeName(opt->get_type_name());
            return std::string();
        };
        std::vector<std::string> options; // the verb's own, for the nearest to a misspelt one
        for (CLI::App* v : app.get_subcommands())
            for (const CLI::Option* opt : v->get_options())
                for (const std::string& name : opt->get_lnames())
                    options.push_back("--" + name);
        std::string what = app.get_subcommands().empty() && argc == 1
                               ? "a verb is required: " + verbList
                               : console::OptionError(e.what(), takes, verbList, options);
        std::string verb = app.get_subcommands().empty() ? "" : app.get_subcommands().front()->get_name() + " ";
        std::cerr << "tessarin: " << what << " (tessarin " << verb
                  << (verb.empty() ? "--help lists the verbs)\n" : "--help says more)\n");
        if (AsksForJson(argc, argv)) JsonError(std::cout, "", -1, what);
        return 2;
    }
    const ToolVerb* given = nullptr;
    for (const ToolVerb& v : verbs)
        if (*v.command) given = &v;
    std::optional<Progress> bar;
    if (given->shows) {
        bar.emplace(std::cerr, given->command->get_name() + ": ", isatty(STDERR_FILENO) == 1);
        shown = ctx.progress = &*bar;
    }
    // a verb a stop request ended answers kStopped: SIGTERM makes that 143
    int code = given->run(ctx);
    return code == kStopped ? console::StopStatus() : code;
}
