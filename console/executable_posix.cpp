#include <filesystem>

#include "console/executable.h"

namespace console {

std::string ExecutablePath(const std::string& argv0) {
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? argv0 : self.string();
}

} // namespace console
