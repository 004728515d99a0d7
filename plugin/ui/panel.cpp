// The parameter panel: begin and end of editing, the user dialog procedure, RefreshPanel.
#include "plugin/tessarin.h"

namespace {
const char* kScriptPrefix = "$.modifiers[#Tessarin].";

void RecordLine(const char* function) {
    CStr line;
    line.printf("%s%s", kScriptPrefix, function);
    macroRecorder->RecordScriptCall(line, 0, 0);
}

class TessarinDlgProc : public ParamMap2UserDlgProc {
  public:
    explicit TessarinDlgProc(Tessarin* mod) : mod_(mod) {}
    INT_PTR DlgProc(TimeValue, IParamMap2*, HWND window, UINT message, WPARAM wParam, LPARAM) override {
        if (message == WM_INITDIALOG)
            Init(window);
        else if (message == WM_COMMAND)
            Command(window, LOWORD(wParam));
        return 0;
    }
    void DeleteThis() override { delete this; }

  private:
    void Init(HWND window) {
        RefreshPanel(mod_, window);
        mod_->AttachPanel(window);
        for (int id : {1005, 1494, 1500, 1012})
            ShowWindow(GetDlgItem(window, id), SW_HIDE);
    }

    void Command(HWND window, int id) {
        switch (id) {
        case 1002:
            mod_->ChooseCacheFile(window);
            RefreshPanel(mod_, window);
            break;
        case 1003: {
            // an empty name is as unset as none: Record will ask for a file either way
            if (!mod_->CacheFileName()) RecordLine("SetCache");
            RecordLine("Record");
            mod_->Record(window);
            RefreshPanel(mod_, window);
            break;
        }
        case 1007:
            mod_->SetModifiersBelowEnabled(true);
            RecordLine("EnableMods");
            break;
        case 1008:
            mod_->SetModifiersBelowEnabled(false);
            RecordLine("DisableMods");
            break;
        default: break;
        }
    }
    Tessarin* mod_;
};
} // namespace

void Tessarin::BeginEditParams(IObjParam* ip, ULONG flags, Animatable* prev) {
    module::editInterface = ip;
    module::ClassDescriptor()->BeginEditParams(ip, this, flags, prev);
    module::ParamDescriptor()->SetUserDlgProc(new TessarinDlgProc(this));
}

void Tessarin::EndEditParams(IObjParam* ip, ULONG flags, Animatable* next) {
    module::ClassDescriptor()->EndEditParams(ip, this, flags, next);
    module::editInterface = nullptr;
    panel = nullptr;
}

void Tessarin::AttachPanel(HWND window) {
    panel = window;
    // a file that is open again is no longer missing
    if (statusCode == status_missing && player.IsOpen()) statusCode = status_none;
    static const unsigned kText[] = {0, 336, 345, 346};
    if (statusCode >= 1 && statusCode <= 3) {
        CStr text(LookupString(kText[statusCode]));
        SetWindowTextA(GetDlgItem(window, 1006), text);
    }
}

void RefreshPanel(Tessarin* mod, HWND window) {
    if (!window) return;
    if (const char* path = mod->CacheFileName()) {
        CStr directory, file;
        SplitPathFile(CStr(path), &directory, &file);
        SetWindowTextA(GetDlgItem(window, 1010), file);
    } else {
        SetWindowTextA(GetDlgItem(window, 1010), LookupString(338));
    }
    INodeTab nodes;
    bool release = false;
    INode* node = mod->FindOwningNode(644, nodes, release);
    if (!node) return;
    Object* top = node->ObjectReference();
    BOOL enable = top && top->SuperClassCode() == GEN_DERIVOB_CLASS_ID ? TRUE : FALSE;
    for (int id : {1007, 1008}) {
        ICustButton* button = GetICustButton(GetDlgItem(window, id));
        if (button) button->SetEnabled(enable);
        ReleaseICustButton(button);
    }
    if (release) module::editInterface->ReleaseNodeList(nodes);
}
