// The exit statuses of both commands, in one table (docs/vomark.md and docs/tessarin.md refer here):
//   0    done (tessarin verify and diff: valid, equal)
//   1    bad input, or a failure reported (verify: damaged; diff: different or unreadable)
//   2    a usage error: an option or argument that does not fit (verify: incomplete)
//   130  stopped by Ctrl-C (SIGINT), having said what it kept
//   143  stopped by SIGTERM (kill, timeout, a farm's cancel) or, on Windows, by closing the console
#pragma once

namespace console {

constexpr int kDone = 0;
constexpr int kBadInput = 1;
constexpr int kUsage = 2;
constexpr int kInterrupted = 130;
constexpr int kTerminated = 143;

} // namespace console
