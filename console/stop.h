// Stopping on a signal, the same way in both commands: SIGINT (Ctrl-C) and SIGTERM (what kill,
// timeout and farm managers send) are a stop request that the work asks about between steps, so that
// it keeps what it has done, says so, and exits 130 or 143. On Windows, Ctrl-C, Ctrl-Break and
// closing the console are stop requests the same way. A second request ends the process at once
// (after removing the temporary files registered here).
#pragma once
#include <string>

namespace console {

// Installs the handlers (POSIX: with SA_RESTART, so that a write a signal interrupts resumes rather
// than leaving its stream failed), and this table as the place every sel::OutputFile registers its
// temporary file (sel::SetTemporaryRegistry). `onStop`, when given, is called from the handler at the
// first request; like the handler it may only set a flag.
void StopOnSignals(void (*onStop)() = nullptr);

// Whether a stop was requested since the handlers were installed.
bool StopRequested();

// The status for a command that stopped: 143 after SIGTERM or a console's close, else 130 (Ctrl-C,
// or an Escape press that was no signal at all).
int StopStatus();

// "Ctrl-C" or "SIGTERM": what asked for the stop, for the line that says what was kept.
const char* StopCause();

// A temporary file that a second stop request (which ends the process at once) removes first.
// Answers a handle for ForgetTemporary, or -1 when the table is full; the path is copied.
int RemoveOnHardStop(const std::string& path);
void ForgetTemporary(int handle);

// Called by the platform's handler: the first request sets the flag and calls onStop; a second
// one removes the registered temporary files and ends the process with `status`.
void RequestStop(int status);

} // namespace console
