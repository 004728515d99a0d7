// Where the running executable really is, whatever argv[0] says: a bare name found on PATH, a
// symbolic link, or a path relative to a folder since left. Files installed beside it (vomark's
// plug-ins) are found from here.
#pragma once
#include <string>

namespace console {

// The executable's full path (UTF-8); `argv0` when the system cannot tell.
std::string ExecutablePath(const std::string& argv0);

} // namespace console
