// Services of the class descriptor base: interface list, automatic parameter blocks and panels,
// resource strings.
#include <algorithm>

#include "runtime/host_record.h"
#include "runtime/window.h"

ClassDesc2::~ClassDesc2() = default;

void ClassDesc2::AddInterface(FPInterface* fpi) {
    // Adding the same descriptor again keeps one entry: lookups by id find it either way.
    if (fpi && std::find(interfaces_.begin(), interfaces_.end(), fpi) == interfaces_.end())
        interfaces_.push_back(fpi);
}

FPInterface* ClassDesc2::GetInterface(Interface_ID id) {
    for (FPInterface* f : interfaces_)
        if (f->GetID() == id) return f;
    return nullptr;
}

void ClassDesc2::RemoveParamBlockDesc(ParamBlockDesc2* desc) {
    blockDescs_.erase(std::remove(blockDescs_.begin(), blockDescs_.end(), desc), blockDescs_.end());
}

void ClassDesc2::MakeAutoParamBlocks(ReferenceMaker* owner) {
    for (ParamBlockDesc2* d : blockDescs_)
        if (d->Flags() & P_AUTO_CONSTRUCT) owner->ReplaceReference(d->RefNumber(), new IParamBlock2(d));
}

namespace {
IParamBlock2* BlockOf(ReferenceMaker* owner, ParamBlockDesc2* d) {
    for (int i = 0; i < owner->NumRefs(); ++i)
        if (auto* b = dynamic_cast<IParamBlock2*>(owner->GetReference(i)); b && b->GetDesc() == d) return b;
    return nullptr;
}
} // namespace

void ClassDesc2::BeginEditParams(IObjParam*, ReferenceMaker* owner, ULONG, Animatable*) {
    for (ParamBlockDesc2* d : blockDescs_)
        if (d->Flags() & P_AUTO_UI)
            if (IParamBlock2* b = BlockOf(owner, d)) {
                vm::OpenPanel(d, b);
                vm::DeliverInitDialog(d);
            }
}

void ClassDesc2::EndEditParams(IObjParam*, ReferenceMaker* owner, ULONG, Animatable*) {
    for (ParamBlockDesc2* d : blockDescs_)
        if (d->Flags() & P_AUTO_UI) {
            if (IParamBlock2* b = BlockOf(owner, d)) vm::ClosePanel(d, b);
            // the host owns an installed procedure and frees it with the panel
            if (ParamMap2UserDlgProc* proc = d->UserDlgProc()) {
                d->SetUserDlgProc(nullptr);
                proc->DeleteThis();
            }
        }
}

void ClassDesc2::InvalidateUI() {
    for (ParamBlockDesc2* d : blockDescs_)
        d->InvalidateUI();
}

const char* ClassDesc2::GetRsrcString(int id) {
    const char* s = vm::FindString(HInstance(), static_cast<UINT>(id));
    rsrcBuffer_ = s ? s : "";
    return rsrcBuffer_.c_str();
}
