// What the page says of cache files besides the panel's own status line: why a modifier's cache
// cannot play, and what a recording stopped by Escape kept. Host-free: a path in, a line out.
#pragma once
#include <string>

namespace app::view {

// "" when the file at `path` plays; otherwise one line, "PATH: REASON", with the reason
// `tessarin verify` gives first (the byte and what is wrong there, cut short or damaged), or why
// the file cannot be opened. Reads the header and the count table, never the samples.
std::string CacheProblem(const std::string& path);

// "recording stopped: PATH keeps N samples (every frame up to the stop)", as `vomark record` says
// it after Ctrl-C; N is what the file's header announces now (0 when it cannot be read).
std::string StoppedRecordingLine(const std::string& path);

} // namespace app::view
