// Function publishing: interface descriptors, mixin lookups, the macro recorder.
#include <cstdarg>
#include <strings.h>

#include "runtime/function_publishing.h"
#include "runtime/host_record.h"

FPInterfaceDesc::FPInterfaceDesc(Interface_ID id, const char* internalName, int, ClassDesc2* cd, ULONG flags,
                                 ...)
    : id_(id), internalName_(internalName ? internalName : ""), cd_(cd), flags_(flags) {
    va_list ap;
    va_start(ap, flags);
    for (;;) {
        unsigned first = va_arg(ap, unsigned);
        if (first == p_end) break;
        FPFunctionDef f;
        f.id = static_cast<FunctionID>(first);
        const char* name = va_arg(ap, const char*);
        f.internalName = name ? name : "";
        f.localName = va_arg(ap, int);
        f.resultType = va_arg(ap, int);
        f.flags = va_arg(ap, int);
        f.paramCount = va_arg(ap, int);
        // Parameters are not supported by this host: their entries would follow here.
        functions_.push_back(std::move(f));
    }
    va_end(ap);
}

const FPFunctionDef* FPInterfaceDesc::FindFunction(const char* name) const {
    for (const auto& f : functions_)
        if (name && strcasecmp(f.internalName.c_str(), name) == 0) return &f;
    return nullptr;
}

BaseInterface* FPMixinInterface::GetInterface(Interface_ID id) {
    if (id.PartA() != 0) return nullptr;
    if (id.PartB() >= 1 && id.PartB() <= 3) return this;
    if (id.PartB() == 4) return GetDesc();
    return nullptr;
}

namespace {
class HostMacroRecorder : public MacroRecorder {
  public:
    void RecordScriptCall(const char* line, int positional, int keywords) override {
        vm::Record().macroLines.push_back({line ? line : "", positional, keywords});
    }
};
HostMacroRecorder g_macroRecorder;
} // namespace

extern "C" {
MacroRecorder* macroRecorder = &g_macroRecorder;
}

namespace vm {

ScriptCallResult CallScriptFunction(Animatable* object, ClassDesc2* cd, const char* name) {
    if (!object || !cd) return {false, 0, "no object"};
    for (int i = 0; i < cd->NumInterfaces(); ++i) {
        FPInterfaceDesc* desc = cd->GetInterfaceAt(i)->GetDesc();
        if (!desc || !(desc->Flags() & FP_MIXIN)) continue;
        const FPFunctionDef* f = desc->FindFunction(name);
        if (!f) continue;
        auto* fpi = dynamic_cast<FPInterface*>(object->GetInterface(desc->GetID()));
        if (!fpi)
            return {false, 0, "the object does not offer interface " + std::string(desc->InternalName())};
        FPValue result;
        int status = fpi->Dispatch(f->id, GetCOREInterface()->CurrentTime(), result, nullptr);
        return {true, status, ""};
    }
    return {false, 0, std::string("no script function named ") + (name ? name : "")};
}

} // namespace vm
