// plot in a build without Cairo (the Windows build): the verb is known but says it is not here.
#include "tools/tessarin/tool.h"

namespace tessarin {

int Plot(const sel::Source&, const std::string&, const std::string&, const PlotOptions&, Context& ctx) {
    ctx.err << "tessarin plot: not in this build (it draws with Cairo, which the Windows build leaves out)\n";
    return 2;
}

} // namespace tessarin
