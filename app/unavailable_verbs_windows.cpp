// The verbs a build without Cairo and the web page leaves out (the Windows build): known to the
// command line, so that they say they are not here instead of being unknown.
#include <iostream>
#include <memory>
#include <string>

#include "demo.h"
#include "view/server.h"

namespace app {
namespace {
Verb Unavailable(CLI::App& cli, const std::string& name, const std::string& what) {
    CLI::App* verb = cli.add_subcommand(name, what + " (not in this build)");
    verb->allow_extras();
    return {verb, [name](Session&) {
                std::cerr << "vomark " << name
                          << ": not in this build (it draws with Cairo, which the Windows build leaves out)\n";
                return 2;
            }};
}
} // namespace

Verb AddDemoVerb(CLI::App& cli, CommonOptions&, const AddCommonOptions&) {
    return Unavailable(cli, "demo", "record a soft selection sweeping across a grid, play it back, draw pictures");
}

namespace view {
Verb AddViewVerb(CLI::App& cli, CommonOptions&) {
    return Unavailable(cli, "view", "serve the scene as a web page on 127.0.0.1");
}
} // namespace view

} // namespace app
