// Reading a panel's controls and opening a modifier's panel as the host does.
#include "scene/panel_view.h"

#include <cstdlib>
#include <stdexcept>

namespace app {

const char* ControlKindName(const std::string& className, unsigned long style) {
    if (className == "CustEdit") return "edit";
    if (className == "SpinnerControl") return "spinner";
    if (className == "CustButton") return "button";
    if (className == "ComboBox") return "combo";
    if (className == "Button") {
        // the low bits of a button's style say which kind of button it is
        switch (style & 0x0f) {
        case 2:
        case 3: return "check";
        case 7: return "group";
        default: return "button";
        }
    }
    return "static";
}

const char* ControlAlignName(unsigned long style) {
    switch (style & 0x03) {
    case 1: return "center";
    case 2: return "right";
    default: return "left";
    }
}

std::vector<PanelControl> ReadPanelControls(HWND window) {
    std::vector<PanelControl> controls;
    if (!window) return controls;
    for (const auto& c : window->children) {
        PanelControl p;
        p.id = c->id;
        p.className = c->className;
        p.text = c->text;
        p.visible = IsWindowVisible(c.get()) != FALSE;
        p.enabled = IsWindowEnabled(c.get()) != FALSE;
        p.x = c->x;
        p.y = c->y;
        p.width = c->width;
        p.height = c->height;
        p.checked = c->checked != 0;
        p.style = c->style;
        if (c->selection >= 0 && c->selection < static_cast<int>(c->items.size()))
            p.selectedItem = c->items[static_cast<size_t>(c->selection)];
        if (p.className == "ComboBox") p.text = p.selectedItem; // a drop-down list shows its selected item
        controls.push_back(std::move(p));
    }
    return controls;
}

namespace {
bool IsCheckBox(const PanelControl& c) { return std::string(ControlKindName(c.className, c.style)) == "check"; }
} // namespace

nlohmann::json ControlJson(const PanelControl& c) {
    nlohmann::json j = {{"id", c.id},
                        {"class", c.className},
                        {"text", c.text},
                        {"visible", c.visible},
                        {"enabled", c.enabled}};
    if (IsCheckBox(c)) j["checked"] = c.checked;
    return j;
}

std::string ControlLine(const PanelControl& c) {
    return std::to_string(c.id) + " " + c.className + " " + nlohmann::json(c.text).dump() + " " +
           (c.visible ? "visible" : "hidden") + " " + (c.enabled ? "enabled" : "disabled") +
           (IsCheckBox(c) ? (c.checked ? " checked" : " unchecked") : "");
}

bool ClickControl(vm::Panel& panel, int id) {
    for (const PanelControl& c : ReadPanelControls(panel.GetHWnd()))
        if (c.id == id && IsCheckBox(c)) return c.enabled && panel.SetCheck(id, !c.checked); // a click toggles it
    return panel.Click(id);
}

int ClickControlId(const std::string& click) {
    static const std::pair<const char*, int> kNamed[] = {
        {"record", 1003}, {"setcache", 1002}, {"enable", 1007}, {"disable", 1008}};
    for (const auto& [name, id] : kNamed)
        if (click == name) return id;
    char* end = nullptr;
    long id = click.empty() ? -1 : std::strtol(click.c_str(), &end, 10);
    if (click.empty() || *end != '\0' || id < 0 || id > 0xffff)
        throw std::invalid_argument("--click " + click +
                                    ": expected record, setcache, enable, disable or a control id");
    return static_cast<int>(id);
}

EditSession::EditSession(vm::Scene& scene, Modifier* mod, std::vector<INode*> nodes)
    : scene_(scene), mod_(mod) {
    scene_.BeginEdit(mod_, std::move(nodes));
}

EditSession::~EditSession() {
    if (scene_.EditedObject() == mod_) scene_.EndEdit();
}

vm::Panel* EditSession::Panel() const {
    for (const auto& p : vm::OpenPanels())
        for (int b = 0; b < mod_->ParamBlockCount(); ++b)
            if (p->GetParamBlock() == mod_->ParamBlockAt(b)) return p.get();
    return nullptr;
}

} // namespace app
