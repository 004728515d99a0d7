// The open dialog that sets the cache file and the save dialog that names a file to record into.
#include <cstring>

#include "plugin/tessarin.h"

namespace {
// The one filter entry "Cache  files(*.sel)" / "*.sel"; `filter` must outlive the dialog.
OPENFILENAMEA DialogRecord(Tessarin* mod, HWND owner, FilterList& filter, char* buffer, const char* title) {
    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    filter.Append(mod->filterName);
    filter.Append(mod->filterPattern);
    ofn.lStructSize = 76;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = 256;
    ofn.lpstrTitle = title;
    ofn.lpstrDefExt = mod->defaultExtension;
    return ofn;
}
} // namespace

void Tessarin::ChooseCacheFile(HWND owner) {
    // 1. closed before the dialog, also when it is cancelled
    if (cacheFile) std::fclose(cacheFile);
    cacheFile = nullptr;
    // 2.-3.
    FilterList filter;
    CStr title(LookupString(332));
    OPENFILENAMEA ofn = DialogRecord(this, owner, filter, module::loadPathBuffer, title);
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return;
    // 4.-7.
    pblock->SetParamValue(pb_cache_file, 0, static_cast<const char*>(module::loadPathBuffer));
    NotifyDependents(Interval(TIME_NegInfinity, TIME_PosInfinity), 2, REFMSG_CHANGE, NOTIFY_ALL, TRUE,
                     nullptr);
    statusCode = status_none;
    SetWindowTextA(GetDlgItem(owner, 1006), " ");
}

void Tessarin::ChooseRecordFile(HWND owner) {
    // 1.
    FilterList filter;
    CStr title(LookupString(330));
    OPENFILENAMEA ofn = DialogRecord(this, owner, filter, module::savePathBuffer, title);
    Interface* directories = module::editInterface ? module::editInterface : GetCOREInterface();
    CStr initialDir(directories->HostDirectory(3));
    ofn.lpstrInitialDir = initialDir;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    // 2.-6. ask again until the name is new, the user agrees to replace it, or cancels
    if (!GetSaveFileNameA(&ofn)) return;
    for (;;) {
        if (!DoesFileExist(module::savePathBuffer)) break;
        CStr question, caption(LookupString(330));
        question.printf(LookupString(331), module::savePathBuffer);
        if (MessageBoxA(owner, question, caption, MB_ICONQUESTION | MB_YESNO) == IDYES) break;
        if (!GetSaveFileNameA(&ofn)) return;
    }
    pblock->SetParamValue(pb_cache_file, 0, static_cast<const char*>(module::savePathBuffer));
}
