// vomark: the host as a command. Verbs: plugins, eval, record, save, assets, panel, run, view, demo.
#include <cmath>
#include <cstdio>
#include <iostream>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "demo.h"
#include "editing_verbs.h"
#include "runtime/scene_io.h"
#include "scene_description.h"
#include "scene_files.h"
#include "session.h"
#include "verbs.h"
#include "view/server.h"

int main(int argc, char** argv) {
    CLI::App cli{"vomark: a headless host for modifier plug-ins"};
    cli.require_subcommand(1);
    cli.footer(
        "Start with `vomark demo` (or `make demo`); `vomark VERB --help` gives each verb's options.\n"
        "A SCENE is a JSON scene description or a .vms scene file. Exit status: 0 done, 1 bad input or a\n"
        "failure the host reported, 2 a usage error, 130 stopped by Ctrl-C. Ctrl-C acts as the Escape key\n"
        "during a recording; eval and run stop after the evaluation or line running; each says what it\n"
        "kept. A second Ctrl-C ends vomark at once. The user guide: docs/guide.md.");
    app::CommonOptions common;
    auto addCommon = [&](CLI::App* verb) {
        verb->add_option("--plugins", common.plugins, "folder of *.dlm plug-in modules");
        verb->add_option("--answer", common.answers,
                         "queue an answer for a dialog: open=PATH|cancel, save=PATH|cancel, yesno=yes|no");
        verb->add_flag("--quiet", common.quiet, "host quiet mode: no dialogs, warnings go to the log");
    };

    CLI::App* plugins = cli.add_subcommand("plugins", "list the loaded modules and their classes");
    addCommon(plugins);

    app::EvalOptions eval;
    CLI::App* evalVerb = cli.add_subcommand("eval", "evaluate a node's pipeline at the given times");
    addCommon(evalVerb);
    evalVerb->add_option("scene", eval.scene, "scene (JSON description or .vms)")->required();
    evalVerb->add_option("--node", eval.node, "node name (may be left out when the scene has one node)");
    CLI::Option* frames = evalVerb->add_option("--frame", eval.frames, "a frame to evaluate at");
    CLI::Option* ticks = evalVerb->add_option("--tick", eval.ticks, "a tick time to evaluate at");
    evalVerb->add_option("--format", eval.format, "csv, json or summary (one line per evaluation)")
        ->check(CLI::IsMember({"csv", "json", "summary"}));
    evalVerb->add_option("--png", eval.png,
                         "also draw the mesh from above, coloured by weight, one panel per time");

    app::RecordOptions record;
    CLI::App* recordVerb = cli.add_subcommand("record", "record a node's modifier into its cache file");
    addCommon(recordVerb);
    recordVerb->add_option("scene", record.scene, "scene (JSON description or .vms)")->required();
    recordVerb->add_option("--node", record.node, "node name (may be left out when the scene has one node)");
    recordVerb->add_option("--modifier", record.modifier,
                           "the \"id\" of the modifier (default: the topmost that records)");
    recordVerb->add_option("--set", record.sets, "set a parameter by internal name first: PARAM=VALUE");
    recordVerb->add_option("--save", record.save, "then save the scene as this .vms file");
    recordVerb->add_flag("--force", record.force, "let --save replace an existing file");
    app::AddEscapeAtPollOption(recordVerb, common);

    app::Verb more[] = {app::AddSaveVerb(cli, common, addCommon),  app::AddAssetsVerb(cli, common, addCommon),
                        app::AddPanelVerb(cli, common, addCommon), app::AddRunVerb(cli, common, addCommon),
                        app::view::AddViewVerb(cli, common),       app::AddDemoVerb(cli, common, addCommon)};

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) return cli.exit(e); // --help
        // a usage error: one line and status 2, whatever code the parser gives the kind of mistake
        std::cerr << "vomark: " << e.what() << " (vomark --help lists the verbs)\n";
        return 2;
    }

    try {
        app::Session session(common, argv[0]);
        if (plugins->parsed()) return app::ListPlugins(session, std::cout);
        if (evalVerb->parsed()) {
            // keep the times in the order they were given, mixing --frame and --tick
            size_t f = 0, t = 0;
            for (CLI::Option* o : evalVerb->parse_order()) {
                if (o == frames && f < eval.frames.size())
                    eval.times.push_back({true, eval.frames[f++], 0});
                else if (o == ticks && t < eval.ticks.size())
                    eval.times.push_back({false, 0, eval.ticks[t++]});
            }
            return app::Evaluate(eval, common, std::cout);
        }
        if (recordVerb->parsed()) return app::RecordCache(record, common);
        for (app::Verb& verb : more)
            if (verb.command->parsed()) return verb.run();
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
