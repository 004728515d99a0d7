// What a recording writes goes beside its target until it is whole (Staging), and one recording of
// a part runs at a time (RecordingLock). Whole recordings and parts share both.
#pragma once
#include <string>
#include <vector>

namespace app {

// Files a recording writes beside their targets under names of their own (NAME.tmp-rec-XXXXXX), so
// that what stands under the targets' names stays byte for byte until the caller puts the new files
// in place (sel::ReplaceTogether) or keeps them under other names, then calls Settled(). Whatever is
// still beside its target when the staging ends is removed; a second stop request (which ends the
// process at once) removes it too.
class Staging {
  public:
    Staging() = default;
    ~Staging();
    Staging(const Staging&) = delete;
    Staging& operator=(const Staging&) = delete;

    // A name beside `target` (through links: beside the file a link leads to) that no file has.
    std::string Beside(const std::string& target);
    // The staged files were put in place or kept: nothing is left to remove.
    void Settled() { settled_ = true; }

  private:
    std::vector<std::string> names_;
    std::vector<int> held_; // registered for a second stop request
    bool settled_ = false;
};

// This process's id (for names that tell one run from another).
long ProcessId();

// One recording of a file at a time, also across machines sharing the folder: NAME.lock beside the
// file a name leads to, locked by the system (flock; on Windows the file is opened unshared) while
// the recording runs and removed when it ends, however it ends. A lock file left by a process that
// died (SIGKILL, a crash) holds no lock any more, and the next recording takes it over.
class RecordingLock {
  public:
    // Throws std::runtime_error: "NAME: another recording of it is running (process P on HOST,
    // NAME.lock); wait for it to end", or "NAME.lock: cannot be created: WHY".
    explicit RecordingLock(const std::string& name);
    ~RecordingLock();
    RecordingLock(const RecordingLock&) = delete;
    RecordingLock& operator=(const RecordingLock&) = delete;

  private:
    std::string path_;
    void* handle_ = nullptr; // the open lock file (a FILE* on POSIX, a HANDLE on Windows)
    int held_ = -1;          // registered for a second stop request
};

} // namespace app
