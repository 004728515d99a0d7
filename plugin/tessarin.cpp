// The modifier object: construction, cloning, destruction and its answers to the host.
#include "plugin/tessarin.h"

#include <cstdlib>

Tessarin::Tessarin() {
    defaultExtension = "sel";
    filterPattern = "*.sel";
    filterName.printf("%s", LookupString(329) ? LookupString(329) : "");
    module::ClassDescriptor()->MakeAutoParamBlocks(this);
    // the recording range starts as the scene's animation range in whole frames
    Interval range = GetCOREInterface()->AnimationRange();
    pblock->SetParamValue(pb_start_time, 0, static_cast<float>(range.Start() / GetTicksPerFrame()));
    pblock->SetParamValue(pb_end_time, 0, static_cast<float>(range.End() / GetTicksPerFrame()));
}

Tessarin::~Tessarin() = default;

void Tessarin::ClassDisplayName(CStr& name) { name = LookupString(3); }
CStr Tessarin::ObjectDisplayName() { return CStr(LookupString(3)); }
CStr Tessarin::SubAnimName(int) { return CStr(LookupString(4)); }

IParamBlock2* Tessarin::ParamBlockById(BlockID id) { return pblock && pblock->ID() == id ? pblock : nullptr; }

const char* Tessarin::CacheFileName() {
    const char* name = nullptr;
    Interval valid = FOREVER();
    if (pblock) pblock->GetParamValue(pb_cache_file, 0, name, valid);
    return name && *name ? name : nullptr;
}

void Tessarin::SetReference(int, ReferenceTarget* target) { pblock = static_cast<IParamBlock2*>(target); }

ReferenceTarget* Tessarin::Clone(RemapDir& remap) {
    auto* clone = static_cast<ScriptedTessarin*>(module::ClassDescriptor()->CreateInstance(FALSE));
    clone->ReplaceReference(0, remap.CloneRef(pblock), TRUE);
    BaseClone(this, clone, remap);
    return clone;
}

int NodeCollector::proc(ReferenceMaker* dependent) {
    if (dependent->SuperClassCode() == BASENODE_CLASS_ID) {
        INode* node = static_cast<INode*>(dependent);
        nodes.Append(1, &node);
    }
    return 0;
}

void Tessarin::ShowStatus(int id, int code) {
    CStr text(LookupString(static_cast<unsigned>(id)));
    SetWindowTextA(GetDlgItem(panel, 1006), text);
    statusCode = code;
    module::ParamDescriptor()->InvalidateUI();
}
