// vomark plugins: the loaded modules and their classes.
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "sel/files.h"
#include "verbs/verbs.h"

namespace app {
namespace {
std::string Hex(unsigned long v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%08lx", v);
    return buf;
}
} // namespace

int ListPlugins(Session& session, std::ostream& out) {
    if (session.Loader().Modules().empty()) {
        // nothing to list is a wrong folder, not an empty answer
        std::string folders;
        for (const auto& f : session.Folders()) {
            std::error_code ec;
            folders += (folders.empty() ? "" : ", ") + f +
                       (std::filesystem::is_directory(sel::PathOf(f), ec) ? "" : " (no such folder)");
        }
        std::cerr << "vomark: no plug-in module (*.dlm) loaded from " << folders << "\n";
        return 1;
    }
    for (const auto& m : session.Loader().Modules()) {
        out << m.path << "\n  description: " << m.description << "\n  version: " << Hex(m.version) << "\n";
        for (ClassDesc2* cd : m.classes) {
            Class_ID id = cd->ClassID();
            out << "  class: " << (cd->ClassName() ? cd->ClassName() : "")
                << "\n    category: " << (cd->Category() ? cd->Category() : "") << "\n    class id: ("
                << Hex(id.PartA()) << ", " << Hex(id.PartB())
                << ")\n    super-class id: " << Hex(cd->SuperClassCode()) << "\n";
        }
    }
    return 0;
}

Verb AddPluginsVerb(CLI::App& cli, const AddCommonOptions& addCommon) {
    CLI::App* verb = cli.add_subcommand("plugins", "list the loaded modules and their classes");
    addCommon(verb);
    return {verb, [](Session& session) { return ListPlugins(session, std::cout); }};
}

} // namespace app
