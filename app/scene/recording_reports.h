// What a recording left behind, in the lines the verbs print, and what the host showed meanwhile.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/scene.h"

namespace app {

// The text (on one line) of the first error message box shown since the host record held `boxes`
// of them, or "" when there was none; questions do not count.
std::string ErrorShownSince(size_t boxes);

// Why a file cannot be written at `path`, before anything is done: "is a folder", "its folder X does
// not exist", "no permission to write there"; "" when it looks writable.
std::string WhyUnwritable(const std::string& path);
// The same as one line, for a file a recording would put in place: "" or "NAME: cannot be written:
// WHY", a device or FIFO being "not a plain file".
std::string RefusedTarget(const std::string& name);

// After `recorder` showed an error while recording: "recording failed: FILE could not be written"
// with the likely reason (its folder is missing, it is a folder, no permission), so that the
// command's line names the file the message box does not.
std::string RecordingFailure(Animatable* recorder);

// The samples the cache file at `path` plays (an aborted recording patches its header to what it
// wrote); 0 for a file that is missing or cannot be played.
int64_t SamplesIn(const std::string& path);

// After `recorder` recorded to its end: "wrote FILE: N samples, B bytes".
std::string RecordingSummary(Animatable* recorder);

// After a recording that showed no error and was not stopped, in which the host evaluated the
// scene `evaluations` times: "" when it wrote its cache file, else why nothing was recorded
// ("nothing was recorded: no cache file was chosen"): a dialog cancelled or a question to replace
// a file answered no leave the recorder silent, and that is no success. A recording evaluates
// every frame it records, so none evaluated is none recorded.
std::string NothingRecorded(Animatable* recorder, long evaluations);

// After `recorder` recorded, starting when the host record counted `escapesBefore` Escape presses:
// when Escape (Ctrl-C on the command line) stopped it, one line on stderr saying what its cache file
// kept, then `andThen` if not empty, and true; false when the recording ran to its end.
bool SayIfRecordingStopped(int escapesBefore, Animatable* recorder, const std::string& andThen = "");

// "recording stopped: FILE keeps N samples (every frame up to the stop)", N as the file's header
// says now (0 when it cannot be read).
std::string StoppedRecordingLine(const std::string& cacheFile);

} // namespace app
