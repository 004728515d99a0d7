// vomark view in a build without the web page (the Windows build): a verb that says it is not here.
#include "view/server.h"

namespace app::view {

Verb AddViewVerb(CLI::App& cli, CommonOptions&) {
    return Unavailable(cli, "view", "serve the scene as a web page on 127.0.0.1");
}

} // namespace app::view
