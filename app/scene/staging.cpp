// Recording beside the target, and the lock that keeps two recordings of one part apart. (No host
// header here: the Windows build takes the system's own declarations.)
#include "scene/staging.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include "console/stop.h"
#include "sel/files.h"

namespace app {

long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
}

Staging::~Staging() {
    if (!settled_)
        for (const std::string& name : names_)
            sel::RemoveFile(name);
    for (int held : held_)
        if (held >= 0) console::ForgetTemporary(held);
}

std::string Staging::Beside(const std::string& target) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string name;
    do {
        name = sel::FollowLinks(target) + ".tmp-rec-";
        for (int i = 0; i < 6; ++i)
            name += kLetters[random() % (sizeof kLetters - 1)];
    } while (sel::KindOf(name) != sel::FileKind::Missing);
    names_.push_back(name);
    held_.push_back(console::RemoveOnHardStop(name));
    return name;
}

namespace {
[[noreturn]] void Running(const std::string& name, const std::string& lock, const std::string& holder) {
    throw std::runtime_error(name + ": another recording of it is running (" + (holder.empty() ? "" : holder + ", ") +
                             lock + "); wait for it to end");
}
} // namespace

#ifdef _WIN32

RecordingLock::RecordingLock(const std::string& name) : path_(sel::FollowLinks(name) + ".lock") {
    if (sel::KindOf(path_) == sel::FileKind::Folder || sel::KindOf(path_) == sel::FileKind::Other)
        throw std::runtime_error(path_ + ": cannot be created: not a plain file");
    // opened unshared: a second opener is refused while this one runs, and the system deletes the
    // file when the process ends, however it ends
    HANDLE h = CreateFileW(sel::PathOf(path_).wstring().c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION) Running(name, path_, "");
        throw std::runtime_error(path_ + ": cannot be created: the system refused it (error " +
                                 std::to_string(GetLastError()) + ")");
    }
    handle_ = h;
}

RecordingLock::~RecordingLock() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

#else

namespace {
// "process P on HOST", as the lock's holder wrote it; "" when it wrote nothing yet
std::string Holder(FILE* f) {
    char line[256] = "";
    std::rewind(f);
    if (!std::fgets(line, sizeof line, f)) return "";
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}
} // namespace

RecordingLock::RecordingLock(const std::string& name) : path_(sel::FollowLinks(name) + ".lock") {
    for (int attempt = 0;; ++attempt) {
        // a FIFO would hold the open for ever
        if (sel::KindOf(path_) == sel::FileKind::Folder || sel::KindOf(path_) == sel::FileKind::Other)
            throw std::runtime_error(path_ + ": cannot be created: not a plain file");
        FILE* f = sel::OpenFile(path_, "a+e");
        if (!f) throw std::runtime_error(path_ + ": cannot be created: " + std::strerror(errno));
        if (flock(fileno(f), LOCK_EX | LOCK_NB) != 0) {
            std::string holder = Holder(f);
            std::fclose(f);
            Running(name, path_, holder);
        }
        // the holder before this one removes the name when it ends: a lock taken on a file that is
        // no longer (or no longer the one) under the name locks nothing, and is taken again
        sel::FileStamp mine, named;
        if (sel::StampOf(f, mine) && sel::StampOf(path_, named) && mine.device == named.device &&
            mine.inode == named.inode) {
            char host[256] = "";
            gethostname(host, sizeof host - 1);
            if (ftruncate(fileno(f), 0) == 0) {
                std::fprintf(f, "process %ld on %s\n", ProcessId(), host);
                std::fflush(f);
            }
            handle_ = f;
            held_ = console::RemoveOnHardStop(path_);
            return;
        }
        std::fclose(f);
        if (attempt == 100) Running(name, path_, "");
    }
}

RecordingLock::~RecordingLock() {
    if (!handle_) return;
    // removed while still locked, so that no one takes the old file for a free lock
    sel::RemoveFile(path_);
    std::fclose(static_cast<FILE*>(handle_));
    console::ForgetTemporary(held_);
}

#endif

} // namespace app
