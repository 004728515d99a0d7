// The open dialog that sets the cache file and the save dialog that names a file to record into.
#include <cstring>

#include "plugin/tessarin.h"

namespace {
// The one filter entry "Cache  files(*.sel)" / "*.sel"; `filter` must outlive the dialog.
OPENFILENAMEA DialogRecord(const CStr& name, const CStr& pattern, const CStr& extension, HWND owner,
                           FilterList& filter, char* buffer, const char* title) {
    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    filter.Append(name);
    filter.Append(pattern);
    ofn.lStructSize = 76;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = 256;
    ofn.lpstrTitle = title;
    ofn.lpstrDefExt = extension;
    return ofn;
}
} // namespace

void Tessarin::ChooseCacheFile(HWND owner) {
    // closed before the dialog, also when it is cancelled
    player.Close();
    FilterList filter;
    CStr title(LookupString(332));
    OPENFILENAMEA ofn = DialogRecord(filterName, filterPattern, defaultExtension, owner, filter, module::loadPathBuffer, title);
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetOpenFileNameA(&ofn)) return;
    // the new name, told to whatever depends on the modifier
    pblock->SetParamValue(pb_cache_file, 0, static_cast<const char*>(module::loadPathBuffer));
    NotifyDependents(Interval(TIME_NegInfinity, TIME_PosInfinity), 2, REFMSG_CHANGE, NOTIFY_ALL, TRUE,
                     nullptr);
    statusCode = status_none;
    SetWindowTextA(GetDlgItem(owner, 1006), " ");
}

void Tessarin::ChooseRecordFile(HWND owner) {
    FilterList filter;
    CStr title(LookupString(330));
    OPENFILENAMEA ofn = DialogRecord(filterName, filterPattern, defaultExtension, owner, filter, module::savePathBuffer, title);
    Interface* directories = module::editInterface ? module::editInterface : GetCOREInterface();
    CStr initialDir(directories->HostDirectory(3));
    ofn.lpstrInitialDir = initialDir;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    // ask again until the name is new, the user agrees to replace it, or cancels
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
