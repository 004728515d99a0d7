// The script interface "tessarin": dispatch by function id, observers, and the four functions.
#include "plugin/tessarin.h"

TessarinInterface::~TessarinInterface() {
    if (!observers_) return;
    for (int i = 0; i < observers_->Count(); ++i)
        (*observers_)[i]->InterfaceDeleted(this);
    observers_->Free();
    delete observers_;
}

BaseInterface* TessarinInterface::GetInterface(Interface_ID id) { return FPMixinInterface::GetInterface(id); }

int TessarinInterface::AddInterfaceObserver(InterfaceNotifyCallback* observer) {
    if (!observers_) observers_ = new Tab<InterfaceNotifyCallback*>();
    observers_->Append(1, &observer);
    return 1;
}

void TessarinInterface::RemoveInterfaceObserver(InterfaceNotifyCallback* observer) {
    if (!observers_) return;
    for (int i = observers_->Count() - 1; i >= 0; --i)
        if ((*observers_)[i] == observer) observers_->Delete(i, 1);
}

int TessarinInterface::Dispatch(FunctionID fid, TimeValue, FPValue&, FPParams*) {
    switch (static_cast<short>(fid)) {
    case fn_record: record(); return 1;
    case fn_setCache: setCache(); return 1;
    case fn_enableMods: enableMods(); return 1;
    case fn_disableMods: disableMods(); return 1;
    default: return FPS_NO_SUCH_FUNCTION;
    }
}

BaseInterface* ScriptedTessarin::GetInterface(Interface_ID id) {
    if (id == TESSARIN_INTERFACE_ID) return static_cast<TessarinInterface*>(this);
    return TessarinInterface::GetInterface(id);
}

void ScriptedTessarin::record() {
    Record(Panel());
    RefreshPanel(this, Panel());
}

void ScriptedTessarin::setCache() {
    ChooseCacheFile(Panel());
    RefreshPanel(this, Panel());
}

void ScriptedTessarin::enableMods() { SetModifiersBelowEnabled(true); }
void ScriptedTessarin::disableMods() { SetModifiersBelowEnabled(false); }
