#include "runtime/platform.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace vm::platform {
namespace {
void (*g_handler)() = nullptr;

// Runs on a thread of its own that Windows starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT || !g_handler) return FALSE;
    g_handler();
    return TRUE;
}

std::wstring Wide(const std::string& utf8) {
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string Narrow(const wchar_t* wide, int length) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, s.data(), n, nullptr, nullptr);
    return s;
}

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string s = n ? Narrow(text, static_cast<int>(n)) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s;
}
} // namespace

void* OpenLibrary(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryW(Wide(path).c_str());
    if (!module) error = SystemMessage(GetLastError());
    return reinterpret_cast<void*>(module);
}

void* LibrarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

bool SystemCallsDllMain() { return true; }

void OnInterrupt(void (*handler)()) {
    g_handler = handler;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool AskTerminal(const std::string& prompt, std::string& line) {
    HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        std::wstring w = Wide(prompt);
        DWORD written = 0;
        WriteConsoleW(out, w.data(), static_cast<DWORD>(w.size()), &written, nullptr);
        CloseHandle(out);
    }
    wchar_t buf[4096];
    DWORD got = 0;
    bool ok = ReadConsoleW(in, buf, 4095, &got, nullptr) != 0;
    CloseHandle(in);
    line = ok ? Narrow(buf, static_cast<int>(got)) : "";
    return true;
}

char PathListSeparator() { return ';'; }


} // namespace vm::platform
