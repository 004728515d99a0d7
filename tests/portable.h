// The few things the unit tests need that differ between platforms, so that the test sources
// themselves stay the same on Linux and Windows.
#pragma once
#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// A file that opening for writing must fail on. `candidate` is made holding "kept" and read-only; where
// permissions do not stop this user (root on Linux), a read-only sysfs entry stands in. Path() is ""
// when neither is to hand. The candidate gets its write permission back at the end, since Windows will
// not remove a read-only file with its folder.
class ReadOnlyFile {
  public:
    explicit ReadOnlyFile(const std::string& candidate) {
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
        // permissions that do not stop this user make no read-only file
        if (!std::fstream(made_, std::ios::in | std::ios::out | std::ios::binary).is_open())
            path_ = candidate;
    }
    ~ReadOnlyFile() {
        std::error_code ec;
        if (!made_.empty())
            std::filesystem::permissions(made_, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add, ec);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::filesystem::path made_;
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
