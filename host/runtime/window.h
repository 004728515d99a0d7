// Headless window layer: windows built from a module's dialog templates, the automatic parameter
// panel of a block, and the module instance records behind HINSTANCE.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "vomark/sdk.h"

struct HWND__ {
    int id = 0;
    std::string className, text;
    int x = 0, y = 0, width = 0, height = 0;
    DWORD style = WS_VISIBLE;
    HWND__* parent = nullptr;
    std::vector<std::unique_ptr<HWND__>> children;
    std::vector<std::string> items; // drop-down list entries
    int selection = -1;             // drop-down list selection
    int checked = 0;                // check box state
};

struct HINSTANCE__ {
    void* handle = nullptr;
    std::string path;
    const ResourceTable* resources = nullptr;
};

namespace vm {

// A module instance record; lives until the process ends (module handles may be kept by plug-ins).
HINSTANCE MakeModuleInstance(const ResourceTable* resources, const std::string& path, void* handle = nullptr);
const ResourceDialog* FindDialog(HINSTANCE instance, int id);
const char* FindString(HINSTANCE instance, UINT id);

// The host's main window: the owner of host-level message boxes.
HWND MainWindow();
// A window tree from dialog template `dialogId` of the module; null when the module has none.
std::unique_ptr<HWND__> CreateDialogWindow(HINSTANCE instance, int dialogId);

// The automatic panel of one parameter block.
class Panel : public IParamMap2 {
  public:
    Panel(ParamBlockDesc2* desc, IParamBlock2* block, std::unique_ptr<HWND__> window);
    HWND GetHWnd() override { return window_.get(); }
    IParamBlock2* GetParamBlock() override { return block_; }
    void Invalidate() override { Refresh(); }
    ParamBlockDesc2* Desc() const { return desc_; }

    // What a user does in the panel; each answers false when the control is missing or disabled.
    bool Click(int controlId);
    bool SetCheck(int controlId, bool on);
    bool SetSpinner(int controlId, double value); // edit or spinner id
    bool SelectItem(int controlId, int index);
    // Shows the block's values in the bound controls and applies enable links.
    void Refresh();
    // The parameter a control (edit, spinner, check box or list) is bound to, or null.
    const ParamDef* BoundParam(int controlId) const;

  private:
    // The parameter behind an existing, enabled control of that kind, or null.
    const ParamDef* UsableControl(int controlId, int kind, HWND* control) const;
    void Store(const ParamDef& def, double value);
    ParamBlockDesc2* desc_;
    IParamBlock2* block_;
    std::unique_ptr<HWND__> window_;
};

Panel* OpenPanel(ParamBlockDesc2* desc, IParamBlock2* block);
void ClosePanel(ParamBlockDesc2* desc, IParamBlock2* block);
void ClosePanelsOf(ParamBlockDesc2* desc);
void RefreshPanelsOf(ParamBlockDesc2* desc);
void DeliverInitDialog(ParamBlockDesc2* desc);
const std::vector<std::unique_ptr<Panel>>& OpenPanels();
// The open panel whose window is `window`, or null.
Panel* PanelOfWindow(HWND window);

} // namespace vm
