// The stop request and the temporary-file table, shared by the platforms' handlers; everything a
// handler touches here is a lock-free atomic or a fixed buffer, as a signal handler needs.
#include "console/stop.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "console/exit_codes.h"
#include "sel/output.h"

namespace console {
namespace {
std::atomic<int> g_status{0}; // 0 until a stop is requested, then its exit status
void (*g_onStop)() = nullptr;
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kTemporaries = 16;
constexpr size_t kPathBytes = 4096;
struct Temporary {
    std::atomic<bool> used{false};
    char path[kPathBytes];
};
Temporary g_temporaries[kTemporaries];
} // namespace

// stop_posix.cpp and stop_windows.cpp: the handlers, and removing a file from within one
void SetStopHandler();
void RemoveNow(const char* path);

void StopOnSignals(void (*onStop)()) {
    g_onStop = onStop;
    // every file either command writes is a sel::OutputFile: its temporary is registered here while it
    // is open, and a second stop request removes it
    sel::SetTemporaryRegistry({RemoveOnHardStop, ForgetTemporary});
    SetStopHandler();
}

bool StopRequested() { return g_status.load() != 0; }

int StopStatus() { return g_status.load() == kTerminated ? kTerminated : kInterrupted; }

const char* StopCause() { return g_status.load() == kTerminated ? "SIGTERM" : "Ctrl-C"; }

int RemoveOnHardStop(const std::string& path) {
    if (path.size() >= kPathBytes) return -1;
    for (int i = 0; i < kTemporaries; ++i) {
        Temporary& t = g_temporaries[i];
        if (t.used.load()) continue;
        std::memcpy(t.path, path.c_str(), path.size() + 1);
        t.used = true;
        return i;
    }
    return -1;
}

void ForgetTemporary(int handle) {
    if (handle >= 0 && handle < kTemporaries) g_temporaries[handle].used = false;
}

void RequestStop(int status) {
    int none = 0;
    if (g_status.compare_exchange_strong(none, status)) {
        if (g_onStop) g_onStop();
        return;
    }
    for (Temporary& t : g_temporaries)
        if (t.used.load()) RemoveNow(t.path);
    std::_Exit(status);
}

} // namespace console
