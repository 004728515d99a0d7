#include <windows.h>

#include <filesystem>

#include "console/executable.h"
#include "sel/files.h"

namespace console {

std::string ExecutablePath(const std::string& argv0) {
    std::wstring buf(32768, L'\0');
    DWORD n = GetModuleFileNameW(nullptr, buf.data(), DWORD(buf.size()));
    if (n == 0 || n >= buf.size()) return argv0;
    return sel::Utf8Of(std::filesystem::path(buf.substr(0, n)));
}

} // namespace console
