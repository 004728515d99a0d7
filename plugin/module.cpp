// The module: its shared state, the attach hook, the four exports, string lookup, and the three
// static descriptors (built in this order, destroyed in reverse).
#include "plugin/tessarin.h"

#include <cstdlib>
#include <cstring>

namespace module {
HINSTANCE moduleInstance = nullptr;
int controlsReady = 0;
char stringBuffer[256] = "";
IObjParam* editInterface = nullptr;
char loadPathBuffer[256] = "";
char savePathBuffer[256] = "";
void* (*sampleAllocator)(size_t, size_t) = std::calloc;
} // namespace module

// One line per entry of the descriptor lists reads best.
// clang-format off
namespace {
// built in this order, each of the last two handed the class descriptor; destroyed in reverse
TessarinClassDesc tessarinClassDesc;

FPInterfaceDesc tessarinInterfaceDesc(TESSARIN_INTERFACE_ID, "tessarin", 0, &tessarinClassDesc, FP_MIXIN,
    fn_record, "record", 0, TYPE_VOID, 0, 0,
    fn_setCache, "setCache", 0, TYPE_VOID, 0, 0,
    fn_enableMods, "enableMods", 0, TYPE_VOID, 0, 0,
    fn_disableMods, "disableMods", 0, TYPE_VOID, 0, 0,
    p_end);

ParamBlockDesc2 tessarinParamDesc(0, "params", 0, &tessarinClassDesc, P_AUTO_CONSTRUCT + P_AUTO_UI,
    0,                                                         // reference number
    102, 4, 0, 0, static_cast<ParamMap2UserDlgProc*>(nullptr), // dialog, title, flag words, procedure
    pb_time, "time", TYPE_FLOAT, 0x20, 6,
        p_default, 0.0, p_range, -9999999.0, 9999999.0,
        p_ui, TYPE_SPINNER, EDITTYPE_FLOAT, 1490, 1496, 1.0, p_end,
    pb_start_time, "start_time", TYPE_FLOAT, 0x20, 7,
        p_default, 0.0, p_range, -9999999.0, 9999999.0,
        p_ui, TYPE_SPINNER, EDITTYPE_FLOAT, 1491, 1497, 1.0, p_end,
    pb_end_time, "end_time", TYPE_FLOAT, 0x20, 8,
        p_default, 100.0, p_range, -9999999.0, 9999999.0,
        p_ui, TYPE_SPINNER, EDITTYPE_FLOAT, 1492, 1498, 1.0, p_end,
    pb_samples, "samples", TYPE_INT, 0x20, 11,
        p_default, 1, p_range, 1, 10,
        p_ui, TYPE_SPINNER, EDITTYPE_INT, 1493, 1499, 1.0, p_end,
    pb_cache_file, "cache_file", TYPE_STRING, 0x20, 10, p_end,
    pb_relative_offset, "relativeOffset", TYPE_BOOL, 0x20, 335,
        p_ui, TYPE_SINGLECHEKBOX, 1005, p_enable_ctrls, 1, pb_strength, p_end,
    pb_strength, "strength", TYPE_FLOAT, 0x21, 337,
        p_default, 1.0, p_range, -10.0, 10.0,
        p_ui, TYPE_SPINNER, EDITTYPE_FLOAT, 1494, 1500, static_cast<double>(0.1f), p_end,
    pb_accumulate, "accumulateSelection", TYPE_BOOL, 0x20, 356,
        p_default, 0, p_ui, TYPE_SINGLECHEKBOX, 1014, p_enable_ctrls, 1, pb_quality, p_end,
    pb_quality, "quality", TYPE_INT, 0x20, 351,
        p_default, 1, p_range, 1, 100,
        p_ui, TYPE_SPINNER, EDITTYPE_INT, 1495, 1501, 1.0, p_end,
    pb_selection_type, "selectionType", TYPE_INT, 0, 352,
        p_default, 0, p_ui, TYPE_INTLISTBOX, 1016, 3, 353, 354, 355, p_end,
    p_end);
} // namespace
// clang-format on

ClassDesc2* module::ClassDescriptor() { return &tessarinClassDesc; }
FPInterfaceDesc* module::InterfaceDescriptor() { return &tessarinInterfaceDesc; }
ParamBlockDesc2* module::ParamDescriptor() { return &tessarinParamDesc; }

const char* LookupString(unsigned id) {
    if (!module::moduleInstance) return nullptr;
    if (LoadStringA(module::moduleInstance, id, module::stringBuffer, sizeof module::stringBuffer) == 0)
        return nullptr;
    return module::stringBuffer;
}

// Called for every attach and detach, process and thread alike.
VOMARK_EXPORT BOOL DllMain(HINSTANCE instance, ULONG reason, LPVOID) {
    module::moduleInstance = instance;
    if (module::controlsReady) return TRUE;
    module::controlsReady = 1;
    InitCustomControls(module::moduleInstance);
    InitCommonControls();
    return TRUE;
}

VOMARK_EXPORT const char* LibDescription() { return LookupString(1); }
VOMARK_EXPORT int LibNumberClasses() { return 1; }
VOMARK_EXPORT ClassDesc2* LibClassDesc(int i) { return i == 0 ? &tessarinClassDesc : nullptr; }
VOMARK_EXPORT ULONG LibVersion() { return VERSION_VOMARK; }

Animatable* TessarinClassDesc::CreateInstance(BOOL) {
    AddInterface(&tessarinInterfaceDesc);
    return new ScriptedTessarin();
}
