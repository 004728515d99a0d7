// Message boxes, file dialogs and the Escape key, answered by the interaction provider.
#include "sel/files.h"
#include "runtime/interaction.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "runtime/host_record.h"
#include "runtime/platform.h"

namespace vm {
namespace {
InteractionProvider* g_provider = nullptr;
// set by a signal handler or by the console's own thread
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnInterrupt() {
    if (g_interrupted.exchange(true)) std::_Exit(130); // a second Ctrl-C ends the process
}

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    return s;
}

int DefaultAnswer(UINT type) {
    switch (type & 0x0f) {
    case MB_YESNO: return IDNO;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL: return IDCANCEL;
    default: return IDOK;
    }
}

std::string ReadTtyLine(const std::string& prompt) {
    std::string line;
    if (!platform::AskTerminal(prompt, line)) return "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// The dialog's rules on a name the user gave: taken in the folder shown, default extension, existing
// folder and file, buffer length.
BOOL FinishFileDialog(bool save, OPENFILENAMEA* r, std::string path, FilePromptRecord& rec) {
    namespace fs = std::filesystem;
    // a relative name read against the working folder would land elsewhere than the dialog showed,
    // and would name another file once the host runs from another folder
    path = sel::Utf8Of((sel::PathOf(rec.folder) / sel::PathOf(path)).lexically_normal());
    CStr dir, file;
    SplitPathFile(CStr(path), &dir, &file);
    if (r->lpstrDefExt && *r->lpstrDefExt && file.str().find('.') == std::string::npos)
        path += std::string(".") + r->lpstrDefExt;
    std::error_code ec;
    if ((r->Flags & OFN_PATHMUSTEXIST) && dir.Length() > 0 && !fs::is_directory(sel::PathOf(dir.str()), ec)) return FALSE;
    if (!save && (r->Flags & OFN_FILEMUSTEXIST) && !DoesFileExist(path.c_str())) return FALSE;
    if (!r->lpstrFile || path.size() + 1 > r->nMaxFile) return FALSE;
    std::memcpy(r->lpstrFile, path.c_str(), path.size() + 1);
    rec.path = path;
    return TRUE;
}

BOOL FileDialog(bool save, OPENFILENAMEA* r) {
    if (!r) return FALSE;
    FilePromptRecord rec{};
    rec.save = save;
    rec.owner = r->hwndOwner;
    rec.title = r->lpstrTitle ? r->lpstrTitle : "";
    if (r->lpstrFilter) // double-NUL-terminated list
        for (const char* p = r->lpstrFilter; *p; p += std::strlen(p) + 1)
            rec.filter.append(p).push_back('|');
    rec.initialDir = r->lpstrInitialDir ? r->lpstrInitialDir : "";
    rec.defaultExt = r->lpstrDefExt ? r->lpstrDefExt : "";
    rec.initialFile = r->lpstrFile ? std::string(r->lpstrFile, strnlen(r->lpstrFile, r->nMaxFile)) : "";
    rec.flags = r->Flags;
    rec.structSize = r->lStructSize;
    rec.maxFile = r->nMaxFile;
    rec.folder = DialogFolder(*r);
    std::string path;
    rec.result = Interaction().AskFile(save, *r, path) ? FinishFileDialog(save, r, path, rec) : FALSE;
    Record().filePrompts.push_back(rec);
    return rec.result;
}
} // namespace

std::string DialogFolder(const OPENFILENAMEA& r) {
    namespace fs = std::filesystem;
    std::string start = r.lpstrFile ? std::string(r.lpstrFile, strnlen(r.lpstrFile, r.nMaxFile)) : "";
    CStr dir, file;
    SplitPathFile(CStr(start), &dir, &file);
    std::string last = dir.str();
    if (last.empty() && start.size() > file.str().size()) last.assign(1, '/'); // a file in the root
    // a folder that has gone since is passed over, as the next candidate would be shown instead
    std::error_code ec;
    for (const std::string& folder :
         {last, std::string(r.lpstrInitialDir ? r.lpstrInitialDir : ""), Interaction().DefaultFolder()}) {
        if (folder.empty() || !fs::is_directory(sel::PathOf(folder), ec)) continue;
        fs::path full = fs::absolute(sel::PathOf(folder), ec);
        if (ec) continue;
        std::string out = sel::Utf8Of(full.lexically_normal());
        if (out.size() > 1 && (out.back() == '/' || out.back() == '\\') && out[out.size() - 2] != ':') out.pop_back();
        return out;
    }
    fs::path here = fs::current_path(ec);
    return ec ? std::string() : sel::Utf8Of(here);
}

ScriptedInteraction& DefaultScriptedInteraction() {
    static ScriptedInteraction scripted;
    return scripted;
}

InteractionProvider& Interaction() { return g_provider ? *g_provider : DefaultScriptedInteraction(); }
void SetInteraction(InteractionProvider* provider) { g_provider = provider; }

int ScriptedInteraction::AskMessageBox(HWND, const std::string&, const std::string&, UINT type) {
    if ((type & 0x0f) == MB_OK || boxAnswers.empty()) return DefaultAnswer(type);
    int a = boxAnswers.front();
    boxAnswers.pop_front();
    return a;
}

bool ScriptedInteraction::AskFile(bool save, const OPENFILENAMEA&, std::string& path) {
    auto& q = save ? saveAnswers : openAnswers;
    if (q.empty()) return false;
    path = q.front();
    q.pop_front();
    return !path.empty();
}

SHORT ScriptedInteraction::KeyState(int key) {
    if (key != VK_ESCAPE) return 0;
    ++escapePolls;
    if (TakeInterrupt()) return static_cast<SHORT>(0x8001);
    return escapeAtPoll > 0 && escapePolls == escapeAtPoll ? static_cast<SHORT>(0x8001) : 0;
}

bool TakeInterrupt() { return g_interrupted.exchange(false); }

void Interrupt() { g_interrupted = true; }

void TreatInterruptAsEscape() {
    g_interrupted = false;
    platform::OnInterrupt(OnInterrupt);
}

int TerminalInteraction::AskMessageBox(HWND, const std::string& text, const std::string& caption, UINT type) {
    std::string head = caption.empty() ? "Vomark" : caption;
    if ((type & 0x0f) != MB_YESNO) return DefaultAnswer(type); // shown on stderr by the record's echo
    std::string a = ReadTtyLine(head + ": " + text + " [y/N] ");
    return !a.empty() && (a[0] == 'y' || a[0] == 'Y') ? IDYES : IDNO;
}

bool TerminalInteraction::AskFile(bool save, const OPENFILENAMEA& r, std::string& path) {
    std::string title = r.lpstrTitle ? r.lpstrTitle : (save ? "Save" : "Open");
    path = ReadTtyLine(title + " in " + DialogFolder(r) + " (empty to cancel): ");
    return !path.empty();
}

SHORT TerminalInteraction::KeyState(int key) {
    return key == VK_ESCAPE && TakeInterrupt() ? static_cast<SHORT>(0x8001) : 0;
}

} // namespace vm

extern "C" {
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    std::string t = text ? text : "", c = caption ? caption : "";
    int answer = vm::Interaction().AskMessageBox(owner, t, c, type);
    vm::Record().messageBoxes.push_back({owner, t, c, type, answer});
    vm::Record().Echo("message: " + vm::OneLine(t));
    return answer;
}
BOOL GetOpenFileNameA(OPENFILENAMEA* record) { return vm::FileDialog(false, record); }
BOOL GetSaveFileNameA(OPENFILENAMEA* record) { return vm::FileDialog(true, record); }
SHORT GetAsyncKeyState(int key) {
    SHORT state = vm::Interaction().KeyState(key);
    if (key == VK_ESCAPE && state == static_cast<SHORT>(0x8001)) ++vm::Record().escapePresses;
    return state;
}
}
