// vomark panel: a modifier's panel opened as the host opens it, buttons pressed in order, then
// every control and the macro-recorder lines printed.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>

#include "verbs/verbs.h"
#include "scene/cache_files.h"
#include "scene/host_queries.h"
#include "scene/recording_reports.h"
#include "scene/panel_view.h"
#include "scene/scene_description.h"
#include "verbs/requested_pictures.h"

namespace app {
namespace {

struct PanelOptions {
    std::string scene, node, modifier, format = "text";
    std::string png; // the panel drawn as it stands after the clicks
    std::vector<std::string> clicks;
    std::vector<std::string> sets; // PARAM=VALUE, before the panel opens
};

Modifier* PanelModifier(BuiltScene& built, INode* node, const PanelOptions& o) {
    if (!o.modifier.empty()) {
        auto it = built.modifiersById.find(o.modifier);
        if (it == built.modifiersById.end())
            throw std::invalid_argument("no modifier with id \"" + o.modifier + "\"");
        return it->second;
    }
    Modifier* mod = FindModifierNamed(node, "Tessarin");
    if (!mod) throw SceneError("node \"" + std::string(node->GetName()) + "\" has no Tessarin modifier");
    return mod;
}

int ShowPanel(const PanelOptions& o, const CommonOptions& common, std::ostream& out) {
    if (!o.png.empty()) RequirePictures("panel --png");
    std::vector<int> ids;
    for (const auto& click : o.clicks)
        ids.push_back(ClickControlId(click));
    BuiltScene built = LoadScene(o.scene, common.quiet);
    vm::Scene& scene = *built.scene;
    // with --modifier alone the edit is for the nodes that use it, as when it is picked in a stack
    INode* node = o.modifier.empty() || !o.node.empty() ? PickNode(scene, o.node) : nullptr;
    Modifier* mod = PanelModifier(built, node, o);
    ApplySets(mod, o.sets);
    if (!o.png.empty()) RefuseToWriteOver(o.png, InputsOf(o.scene, scene));
    size_t firstLine = vm::Record().macroLines.size(), boxes = vm::Record().messageBoxes.size();
    std::vector<PanelControl> controls;
    {
        EditSession edit(scene, mod, node ? std::vector<INode*>{node} : std::vector<INode*>{});
        vm::Panel* panel = edit.Panel();
        if (!panel) throw SceneError("the modifier shows no panel");
        for (size_t i = 0; i < ids.size(); ++i)
            if (!ClickControl(*panel, ids[i])) {
                std::cerr << "vomark: --click " << o.clicks[i] << ": the panel has no enabled control "
                          << ids[i] << "\n";
                return 1;
            }
        controls = ReadPanelControls(panel->GetHWnd());
        // a cache chosen (or named) that cannot play leaves the panel's status blank: said as eval says it
        std::vector<std::string> said;
        SayUnplayableCaches(scene, said);
        if (!o.png.empty()) {
            WritePanelPicture(panel->GetHWnd(), std::filesystem::path(o.scene).filename().string() + ": the panel",
                              o.png);
        }
    }
    std::vector<std::string> macro;
    for (size_t i = firstLine; i < vm::Record().macroLines.size(); ++i)
        macro.push_back(vm::Record().macroLines[i].line);
    if (o.format == "json") {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& c : controls)
            list.push_back(ControlJson(c));
        out << nlohmann::json{{"controls", list}, {"macro", macro}}.dump(2) << "\n";
    } else {
        for (const auto& c : controls)
            out << ControlLine(c) << "\n";
        for (const auto& line : macro)
            out << line << "\n";
    }
    if (std::string error = ErrorShownSince(boxes); !error.empty()) {
        // the message box's own line was printed already: a failed recording names its file here
        bool recorded = std::find(ids.begin(), ids.end(), 1003) != ids.end();
        std::cerr << "vomark: " << (recorded ? RecordingFailure(mod) : error) << "\n";
        return 1;
    }
    return 0;
}
} // namespace

Verb AddPanelVerb(CLI::App& cli, const CommonOptions& common, const AddCommonOptions& addCommon) {
    auto o = std::make_shared<PanelOptions>();
    CLI::App* verb =
        cli.add_subcommand("panel", "open a modifier's panel, press its buttons, print its controls");
    addCommon(verb);
    AddSceneArgument(verb, o->scene);
    AddNodeOption(verb, o->node);
    verb->add_option("--modifier", o->modifier, "the \"id\" of the modifier (default: the topmost Tessarin)");
    verb->add_option("--set", o->sets, "set a parameter by internal name first: PARAM=VALUE");
    verb->add_option("--click", o->clicks,
                     "press a button: record, setcache, enable, disable or a control id");
    verb->add_option("--format", o->format, "text or json")->check(CLI::IsMember({"text", "json"}));
    verb->add_option("--png", o->png, "also draw the panel as it stands after the clicks");
    return {verb, [o, &common](Session&) { return ShowPanel(*o, common, std::cout); }};
}

} // namespace app
