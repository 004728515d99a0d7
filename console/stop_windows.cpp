// Ctrl-C, Ctrl-Break and closing the console as stop requests. Windows runs the handler on a
// thread of its own; after a close it ends the process a few seconds later whatever the handler
// does, so the work has that long to stop and say what it kept.
#include <windows.h>

#include "console/exit_codes.h"
#include "console/stop.h"
#include "sel/files.h"

namespace console {
namespace {
BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT: RequestStop(kInterrupted); return TRUE;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: RequestStop(kTerminated); return TRUE;
    default: return FALSE;
    }
}
} // namespace

void SetStopHandler() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

void RemoveNow(const char* path) { sel::RemoveFile(path); } // a thread of its own: no signal-safety needed

} // namespace console
