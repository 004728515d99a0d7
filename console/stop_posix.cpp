// SIGINT and SIGTERM as stop requests.
#include <signal.h>
#include <unistd.h>

#include "console/exit_codes.h"
#include "console/stop.h"

namespace console {
namespace {
extern "C" void OnSignal(int sig) { RequestStop(sig == SIGTERM ? kTerminated : kInterrupted); }
} // namespace

void SetStopHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    // a write to the terminal that the signal interrupts resumes: without this it fails with EINTR
    // and the stream stays failed, so the line that says what was kept never appears
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void RemoveNow(const char* path) { unlink(path); } // async-signal-safe

} // namespace console
