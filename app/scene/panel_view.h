// A modifier's parameter panel as the host shows it: opening it for editing, pressing its buttons
// and reading its controls back, for the command line and for anything else that draws it.
#pragma once
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "runtime/scene.h"
#include "runtime/window.h"

namespace app {

// One control of a panel, in template order.
struct PanelControl {
    int id = 0;
    std::string className, text;
    bool visible = false, enabled = false;
    int x = 0, y = 0, width = 0, height = 0; // dialog units
    bool checked = false;                    // check boxes
    std::string selectedItem;                // drop-down lists; "" when nothing is selected
    unsigned long style = 0;                 // the template's window style (group box, check box...)
};

// What a control is, from its window class and style: "edit", "spinner", "button", "combo",
// "check", "group" or "static".
const char* ControlKindName(const std::string& className, unsigned long style);
// How a static control aligns its text, from its style: "left", "center" or "right".
const char* ControlAlignName(unsigned long style);

// The child controls of a panel window; empty for a null window.
std::vector<PanelControl> ReadPanelControls(HWND window);
// {"id", "class", "text", "visible", "enabled"} of one control, and "checked" for a check box.
nlohmann::json ControlJson(const PanelControl& control);
// "ID CLASS "TEXT" visible|hidden enabled|disabled", the text quoted with JSON escapes, and
// " checked" or " unchecked" for a check box.
std::string ControlLine(const PanelControl& control);

// Presses control `id` as a user's click does: a check box turns over (its parameter with it), any
// other control sends its command. False when the panel has no enabled control `id`.
bool ClickControl(vm::Panel& panel, int id);

// The control id behind a click name: record, setcache, enable, disable, or a number.
// Throws std::invalid_argument for anything else.
int ClickControlId(const std::string& click);

// Editing of one modifier, from the host's begin-edit (the panel opens and is initialised) to its
// end-edit in the destructor. `nodes` are the nodes the edit is for; empty: those using it.
class EditSession {
  public:
    EditSession(vm::Scene& scene, Modifier* mod, std::vector<INode*> nodes);
    ~EditSession();
    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;
    // The modifier's open panel, or null when its class shows none.
    vm::Panel* Panel() const;

  private:
    vm::Scene& scene_;
    Modifier* mod_;
};

} // namespace app
