// Windows, Win32 window calls, string resources and automatic parameter panels.
#include "runtime/window.h"

#include <algorithm>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/host_record.h"
#include "runtime/param_value.h"
#include "runtime/scene.h"

namespace vm {
namespace {
std::vector<std::unique_ptr<HINSTANCE__>>& Instances() {
    static std::vector<std::unique_ptr<HINSTANCE__>> instances;
    return instances;
}
std::vector<std::unique_ptr<Panel>>& Panels() {
    static std::vector<std::unique_ptr<Panel>> panels;
    return panels;
}
HWND__* FindChild(HWND parent, int id) {
    if (!parent) return nullptr;
    for (auto& c : parent->children)
        if (c->id == id) return c.get();
    return nullptr;
}
std::string FormatNumber(double v, bool integral) {
    char buf[64];
    if (integral)
        std::snprintf(buf, sizeof buf, "%d", static_cast<int>(v));
    else
        std::snprintf(buf, sizeof buf, "%.3f", v);
    return buf;
}
} // namespace

HINSTANCE MakeModuleInstance(const ResourceTable* resources, const std::string& path, void* handle) {
    auto inst = std::make_unique<HINSTANCE__>();
    inst->resources = resources;
    inst->path = path;
    inst->handle = handle;
    Instances().push_back(std::move(inst));
    return Instances().back().get();
}

namespace {
// The record an instance names: one of ours, or the one made for a library whose own handle the
// module was given (Windows hands DllMain that), newest first since an unloaded library's handle may
// come back; nullptr for anything else, which is never read.
const HINSTANCE__* Resolve(HINSTANCE instance) {
    if (!instance) return nullptr;
    for (const auto& i : Instances())
        if (i.get() == instance) return i.get();
    for (auto i = Instances().rbegin(); i != Instances().rend(); ++i)
        if ((*i)->handle && (*i)->handle == static_cast<void*>(instance)) return i->get();
    return nullptr;
}
} // namespace

const ResourceDialog* FindDialog(HINSTANCE handed, int id) {
    const HINSTANCE__* instance = Resolve(handed);
    if (!instance || !instance->resources) return nullptr;
    const ResourceTable* r = instance->resources;
    for (int i = 0; i < r->dialogCount; ++i)
        if (r->dialogs[i].id == id) return &r->dialogs[i];
    return nullptr;
}

const char* FindString(HINSTANCE handed, UINT id) {
    const HINSTANCE__* instance = Resolve(handed);
    if (!instance || !instance->resources) return nullptr;
    const ResourceTable* r = instance->resources;
    for (int i = 0; i < r->stringCount; ++i)
        if (r->strings[i].id == id) return r->strings[i].text;
    return nullptr;
}

HWND MainWindow() {
    static HWND__ main = [] {
        HWND__ w;
        w.className = "VomarkMain";
        w.text = "Vomark";
        return w;
    }();
    return &main;
}

std::unique_ptr<HWND__> CreateDialogWindow(HINSTANCE instance, int dialogId) {
    const ResourceDialog* d = FindDialog(instance, dialogId);
    if (!d) return nullptr;
    auto root = std::make_unique<HWND__>();
    root->id = d->id;
    root->className = "#32770";
    root->width = d->width;
    root->height = d->height;
    root->style = d->style;
    for (int i = 0; i < d->controlCount; ++i) {
        const ResourceControl& c = d->controls[i];
        auto w = std::make_unique<HWND__>();
        w->id = c.id;
        w->className = c.className ? c.className : "";
        w->text = c.text ? c.text : "";
        w->x = c.x;
        w->y = c.y;
        w->width = c.width;
        w->height = c.height;
        w->style = c.style;
        w->parent = root.get();
        root->children.push_back(std::move(w));
    }
    return root;
}

Panel::Panel(ParamBlockDesc2* desc, IParamBlock2* block, std::unique_ptr<HWND__> window)
    : desc_(desc), block_(block), window_(std::move(window)) {
    ClassDesc2* cd = desc_->Owner();
    for (int i = 0; i < desc_->Count(); ++i) {
        const ParamDef& def = desc_->ParamAt(i);
        if (def.controlKind != TYPE_INTLISTBOX || !cd) continue;
        if (HWND__* list = FindChild(window_.get(), def.controlId))
            for (int item : def.items)
                list->items.push_back(cd->GetRsrcString(item));
    }
    Refresh();
}

const ParamDef* Panel::BoundParam(int controlId) const {
    for (int i = 0; i < desc_->Count(); ++i) {
        const ParamDef& def = desc_->ParamAt(i);
        if (def.controlKind < 0) continue;
        if (def.controlId == controlId ||
            (def.controlKind == TYPE_SPINNER && (def.editId == controlId || def.spinnerId == controlId)))
            return &def;
    }
    return nullptr;
}

void Panel::Refresh() {
    TimeValue t = GetCOREInterface()->CurrentTime();
    for (int i = 0; i < desc_->Count(); ++i) {
        const ParamDef& def = desc_->ParamAt(i);
        Interval valid;
        if (def.controlKind == TYPE_SPINNER) {
            double v = 0;
            if (def.type == TYPE_FLOAT) {
                float f = 0;
                block_->GetParamValue(def.id, t, f, valid);
                v = f;
            } else {
                int n = 0;
                block_->GetParamValue(def.id, t, n, valid);
                v = n;
            }
            if (HWND__* edit = FindChild(window_.get(), def.editId))
                edit->text = FormatNumber(v, def.type != TYPE_FLOAT);
        } else if (def.controlKind == TYPE_SINGLECHEKBOX || def.controlKind == TYPE_INTLISTBOX) {
            int n = 0;
            block_->GetParamValue(def.id, t, n, valid);
            if (HWND__* c = FindChild(window_.get(), def.controlId)) {
                if (def.controlKind == TYPE_SINGLECHEKBOX)
                    c->checked = n ? 1 : 0;
                else
                    c->selection = n;
            }
        }
    }
    // enable links follow the check box values
    for (int i = 0; i < desc_->Count(); ++i) {
        const ParamDef& def = desc_->ParamAt(i);
        if (def.enables.empty()) continue;
        int on = 0;
        Interval valid;
        block_->GetParamValue(def.id, t, on, valid);
        for (ParamID target : def.enables) {
            const ParamDef* td = desc_->FindParam(target);
            if (!td) continue;
            for (int id : {td->editId, td->spinnerId, td->controlId})
                if (id) EnableWindow(FindChild(window_.get(), id), on ? TRUE : FALSE);
        }
    }
}

bool Panel::Click(int controlId) {
    HWND__* c = FindChild(window_.get(), controlId);
    if (!c || !IsWindowEnabled(c)) return false;
    if (ParamMap2UserDlgProc* proc = desc_->UserDlgProc())
        proc->DlgProc(GetCOREInterface()->CurrentTime(), this, window_.get(), WM_COMMAND,
                      static_cast<WPARAM>(controlId & 0xffff), 0);
    return true;
}

const ParamDef* Panel::UsableControl(int controlId, int kind, HWND* control) const {
    const ParamDef* def = BoundParam(controlId);
    HWND__* c = FindChild(window_.get(), controlId);
    if (!def || !c || !IsWindowEnabled(c) || def->controlKind != kind) return nullptr;
    if (control) *control = c;
    return def;
}

// A user's change goes into the block at the current time and shows in every bound control.
void Panel::Store(const ParamDef& def, double value) {
    TimeValue t = GetCOREInterface()->CurrentTime();
    value = StorableValue(def, value);
    if (def.type == TYPE_FLOAT)
        block_->SetParamValue(def.id, t, static_cast<float>(value));
    else
        block_->SetParamValue(def.id, t, static_cast<int>(value));
    Refresh();
}

bool Panel::SetCheck(int controlId, bool on) {
    const ParamDef* def = UsableControl(controlId, TYPE_SINGLECHEKBOX, nullptr);
    if (def) Store(*def, on ? 1 : 0);
    return def != nullptr;
}

bool Panel::SetSpinner(int controlId, double value) {
    if (std::isnan(value)) return false; // no number to clamp
    const ParamDef* def = UsableControl(controlId, TYPE_SPINNER, nullptr);
    if (def) Store(*def, value);
    return def != nullptr;
}

bool Panel::SelectItem(int controlId, int index) {
    HWND c = nullptr;
    const ParamDef* def = UsableControl(controlId, TYPE_INTLISTBOX, &c);
    if (!def || index < 0 || index >= static_cast<int>(c->items.size())) return false;
    Store(*def, index);
    return true;
}

Panel* OpenPanel(ParamBlockDesc2* desc, IParamBlock2* block) {
    ClassDesc2* cd = desc->Owner();
    auto window = CreateDialogWindow(cd ? cd->HInstance() : nullptr, desc->DialogId());
    if (!window) {
        // a module without the template still gets a panel, with no controls
        window = std::make_unique<HWND__>();
        window->id = desc->DialogId();
    }
    Panels().push_back(std::make_unique<Panel>(desc, block, std::move(window)));
    return Panels().back().get();
}

void ClosePanel(ParamBlockDesc2* desc, IParamBlock2* block) {
    auto& p = Panels();
    p.erase(std::remove_if(p.begin(), p.end(),
                           [&](const auto& x) { return x->Desc() == desc && x->GetParamBlock() == block; }),
            p.end());
}

void ClosePanelsOf(ParamBlockDesc2* desc) {
    auto& p = Panels();
    p.erase(std::remove_if(p.begin(), p.end(), [&](const auto& x) { return x->Desc() == desc; }), p.end());
}

void RefreshPanelsOf(ParamBlockDesc2* desc) {
    for (auto& p : Panels())
        if (p->Desc() == desc) p->Refresh();
}

void DeliverInitDialog(ParamBlockDesc2* desc) {
    ParamMap2UserDlgProc* proc = desc->UserDlgProc();
    if (!proc) return;
    for (auto& p : Panels())
        if (p->Desc() == desc)
            proc->DlgProc(GetCOREInterface()->CurrentTime(), p.get(), p->GetHWnd(), WM_INITDIALOG, 0, 0);
}

const std::vector<std::unique_ptr<Panel>>& OpenPanels() { return Panels(); }

Panel* PanelOfWindow(HWND window) {
    for (auto& p : Panels())
        if (p->GetHWnd() == window) return p.get();
    return nullptr;
}

} // namespace vm

extern "C" {
HWND GetDlgItem(HWND dialog, int id) { return vm::FindChild(dialog, id); }

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    if (!window) return FALSE;
    window->text = text ? text : "";
    return TRUE;
}

int GetWindowTextA(HWND window, LPSTR buffer, int maxCount) {
    if (!window || !buffer || maxCount <= 0) return 0;
    int n = std::min(static_cast<int>(window->text.size()), maxCount - 1);
    std::memcpy(buffer, window->text.data(), static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}

BOOL ShowWindow(HWND window, int command) {
    if (!window) return FALSE;
    BOOL was = (window->style & WS_VISIBLE) ? TRUE : FALSE;
    if (command == SW_HIDE)
        window->style &= ~WS_VISIBLE;
    else
        window->style |= WS_VISIBLE;
    return was;
}

BOOL IsWindowVisible(HWND window) { return window && (window->style & WS_VISIBLE) ? TRUE : FALSE; }

BOOL EnableWindow(HWND window, BOOL enable) {
    if (!window) return FALSE;
    BOOL wasDisabled = (window->style & WS_DISABLED) ? TRUE : FALSE;
    if (enable)
        window->style &= ~WS_DISABLED;
    else
        window->style |= WS_DISABLED;
    return wasDisabled;
}

BOOL IsWindowEnabled(HWND window) { return window && !(window->style & WS_DISABLED) ? TRUE : FALSE; }

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
    const char* s = vm::FindString(instance, id);
    if (!s || !buffer || bufferMax <= 0) return 0;
    int n = std::min(static_cast<int>(std::strlen(s)), bufferMax - 1);
    std::memcpy(buffer, s, static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}

void InitCommonControls() { ++vm::Record().commonControlsInits; }
void InitCustomControls(HINSTANCE) { ++vm::Record().customControlsInits; }
}

namespace {
class CustButton : public ICustButton {
  public:
    explicit CustButton(HWND w) : w_(w) {}
    void SetEnabled(BOOL enabled) override { EnableWindow(w_, enabled); }
    BOOL IsEnabled() override { return IsWindowEnabled(w_); }
    void SetCaption(const char* caption) override { SetWindowTextA(w_, caption); }

  private:
    HWND w_;
};
} // namespace

ICustButton* GetICustButton(HWND control) { return control ? new CustButton(control) : nullptr; }
void ReleaseICustButton(ICustButton* button) { delete button; }
