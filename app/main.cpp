// vomark: the host as a command. Every verb is a Verb: its options are declared beside its work.
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "console/exit_codes.h"
#include "console/options.h"
#include "sel/files.h"
#include "scene/session.h"
#include "verbs/verbs.h"
#include "view/server.h"

int main(int argc, char** argv) {
    // names on the command line in UTF-8, and "\n" line ends in what vomark prints, on every platform
    sel::Utf8Arguments utf8(argc, argv);
    sel::BinaryStandardStreams();
    CLI::App cli{"vomark: a headless host for modifier plug-ins"};
    // options are --name on every platform; a leading '/' starts a path (Windows takes those too)
    cli.allow_windows_style_options(false);
    cli.require_subcommand(1);
    cli.set_version_flag("--version",
                         std::string("vomark ") + TESSARIN_VERSION_STRING + " (" + TESSARIN_BUILD_STRING + ")",
                         "print the version and the build, then exit");
    cli.footer(
        "Start with `vomark demo` (or `make demo`); `vomark VERB --help` gives each verb's options.\n"
        "A SCENE is a JSON scene description or a .vms scene file. Exit status: 0 done, 1 bad input or a\n"
        "failure the host reported, 2 a usage error, 130 stopped by Ctrl-C, 143 by SIGTERM. Either acts as\n"
        "the Escape key during a recording; eval and run stop after the evaluation or line running; each\n"
        "says what it kept. A second one ends vomark at once. The user guide: docs/guide.md.");
    app::CommonOptions common;
    auto addCommon = [&](CLI::App* verb) {
        verb->add_option("--plugins", common.plugins, "folder of *.dlm plug-in modules");
        verb->add_option("--answer", common.answers,
                         "queue an answer for a dialog: open=PATH|cancel, save=PATH|cancel, yesno=yes|no");
        verb->add_flag("--quiet", common.quiet, "host quiet mode: no dialogs, warnings go to the log");
    };

    app::Verb verbs[] = {app::AddPluginsVerb(cli, addCommon),
                         app::AddEvalVerb(cli, common, addCommon),
                         app::AddRecordVerb(cli, common, addCommon),
                         app::AddSaveVerb(cli, common, addCommon),
                         app::AddAssetsVerb(cli, common, addCommon),
                         app::AddPanelVerb(cli, common, addCommon),
                         app::AddRunVerb(cli, common, addCommon),
                         app::view::AddViewVerb(cli, common),
                         app::AddDemoVerb(cli, common, addCommon)};

    std::string names;
    bool known = false;
    for (const app::Verb& verb : verbs) {
        names += (names.empty() ? "" : ", ") + verb.command->get_name();
        known = known || (argc > 1 && verb.command->check_name(argv[1]));
    }
    if (argc > 1 && argv[1][0] != '-' && !known) { // the parser would only say that a verb is required
        std::cerr << "vomark: unknown verb \"" << argv[1] << "\"; the verbs are " << names << "\n";
        return 2;
    }
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return cli.exit(e); // --help
        // a usage error: one line in our words and status 2, whatever code the parser gives the mistake
        auto takes = [&](const std::string& name) {
            for (CLI::App* verb : cli.get_subcommands())
                if (const CLI::Option* opt = verb->get_option_no_throw(name))
                    return console::TakesOfTypeName(opt->get_type_name());
            return std::string();
        };
        std::string verb = cli.get_subcommands().empty() ? "" : cli.get_subcommands().front()->get_name();
        std::vector<std::string> options; // the verb's own, for the nearest to a misspelt one
        for (CLI::App* v : cli.get_subcommands())
            for (const CLI::Option* opt : v->get_options())
                for (const std::string& name : opt->get_lnames())
                    options.push_back("--" + name);
        std::cerr << "vomark: " << console::OptionError(e.what(), takes, names, options) << " (vomark "
                  << (verb.empty() ? "" : verb + " ") << "--help says more)\n";
        return console::kUsage;
    }

    try {
        app::Session session(common, argv[0]);
        for (app::Verb& verb : verbs)
            if (verb.command->parsed()) {
                int status = verb.run(session);
                // an answer no dialog asked for usually means the scene did not do what was meant
                if (std::vector<std::string> unused = session.UnusedAnswers(); status == 0 && !unused.empty()) {
                    std::cerr << "vomark: warning: " << unused.size()
                              << (unused.size() == 1 ? " answer was not used:" : " answers were not used:");
                    for (const auto& a : unused)
                        std::cerr << " --answer " << a;
                    std::cerr << "\n";
                }
                return status;
            }
    } catch (const std::invalid_argument& e) {
        // the command line asked for something wrong: an option's value, a node or id the scene lacks
        std::cerr << "vomark: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        // bad input: a scene description, scene file or script that is missing, unreadable or malformed
        std::cerr << "vomark: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
