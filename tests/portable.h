// The few things the unit tests need that differ between platforms, so that the test sources
// themselves stay the same on Linux and Windows.
#pragma once
#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#include <share.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace testing_support {

// Keeps the temporary folders of suites running side by side apart.
inline int ProcessId() {
#ifdef _WIN32
    return _getpid();
#else
    return static_cast<int>(::getpid());
#endif
}

// A file that opening for writing must fail on, holding "kept": `candidate` made read-only. Where
// permissions do not stop this user, a read-only sysfs entry stands in on Linux (root), and on Windows
// (Wine run as root) the candidate is held open as another program would, denying writes. Path() is
// "" when none of these is to hand. At the end the candidate is let go and writable again, since
// Windows removes neither an open nor a read-only file with its folder.
class UnwritableFile {
  public:
    explicit UnwritableFile(const std::string& candidate) {
        namespace fs = std::filesystem;
#ifndef _WIN32
        if (::geteuid() == 0) {
            const char* sys = "/sys/kernel/address_bits";
            struct stat st;
            if (::stat(sys, &st) == 0 && !(st.st_mode & 0222)) path_ = sys;
            return;
        }
#endif
        made_ = fs::path(std::u8string(candidate.begin(), candidate.end()));
        std::ofstream(made_, std::ios::binary) << "kept";
        std::error_code ec;
        fs::permissions(made_, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove, ec);
#ifdef _WIN32
        if (Writable()) held_ = _wfsopen(made_.c_str(), L"rb", _SH_DENYWR);
#endif
        if (!Writable()) path_ = candidate;
    }
    ~UnwritableFile() {
        if (held_) std::fclose(held_);
        std::error_code ec;
        if (!made_.empty())
            std::filesystem::permissions(made_, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, ec);
    }
    UnwritableFile(const UnwritableFile&) = delete;
    UnwritableFile& operator=(const UnwritableFile&) = delete;
    const std::string& Path() const { return path_; }

  private:
    bool Writable() const {
        return std::fstream(made_, std::ios::in | std::ios::out | std::ios::binary).is_open();
    }
    std::string path_;
    std::filesystem::path made_;
    std::FILE* held_ = nullptr;
};

// Whether a test can press Ctrl-C itself: raise(SIGINT) runs the handler at once on POSIX. On Windows
// Ctrl-C comes from the console, on a thread of its own, and raise(SIGINT) ends the process instead.
#ifdef _WIN32
constexpr bool kTestsCanPressCtrlC = false;
#else
constexpr bool kTestsCanPressCtrlC = true;
#endif

// A device on which every write fails for want of space; "" where the system has none (Windows).
inline std::string FullDevice() {
#ifdef _WIN32
    return "";
#else
    return std::filesystem::exists("/dev/full") ? "/dev/full" : "";
#endif
}

} // namespace testing_support
