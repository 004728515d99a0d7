// The verbs a build without Cairo and the web page leaves out (the Windows build): known to the
// command line, so that they say they are not here instead of being unknown. The page's own is
// app/view/unavailable_windows.cpp.
#include <iostream>
#include <memory>
#include <string>

#include "verbs/verbs.h"

namespace app {
Verb Unavailable(CLI::App& cli, const std::string& name, const std::string& what) {
    CLI::App* verb = cli.add_subcommand(name, what + " (not in this build)");
    verb->allow_extras();
    return {verb, [name](Session&) {
                std::cerr << "vomark " << name
                          << ": not in this build (it draws with Cairo, which the Windows build leaves out)\n";
                return 2;
            }};
}

Verb AddDemoVerb(CLI::App& cli, CommonOptions&, const AddCommonOptions&) {
    return Unavailable(cli, "demo", "record a soft selection sweeping across a grid, play it back, draw pictures");
}

} // namespace app
