// The file seam on POSIX systems: fseeko/ftello (64-bit off_t), pread, and rename, which replaces.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "sel/files.h"

namespace sel {

FILE* OpenFile(const std::string& path, const char* mode) {
    std::string m(mode);
    if (m.find('b') == std::string::npos) m += 'b';
    return std::fopen(path.c_str(), m.c_str());
}

bool SeekTo(FILE* f, int64_t offset, int whence) {
    static_assert(sizeof(off_t) == 8, "64-bit file positions need a 64-bit off_t");
    return fseeko(f, static_cast<off_t>(offset), whence) == 0;
}

int64_t Position(FILE* f) {
    return static_cast<int64_t>(ftello(f));
}

size_t ReadAtOffset(FILE* f, int64_t offset, void* dst, size_t n) {
    if (offset < 0) return 0;
    int fd = fileno(f);
    size_t done = 0;
    while (done < n) {
        ssize_t got = pread(fd, static_cast<char*>(dst) + done, n - done, static_cast<off_t>(offset + int64_t(done)));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += size_t(got);
    }
    return done;
}

FileKind KindOf(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return FileKind::Missing;
    if (S_ISREG(st.st_mode)) return FileKind::Plain;
    return S_ISDIR(st.st_mode) ? FileKind::Folder : FileKind::Other;
}

std::string FollowLinks(const std::string& path) {
    std::string at = path;
    char buf[PATH_MAX];
    for (int hops = 0; hops < 40; ++hops) {
        ssize_t n = readlink(at.c_str(), buf, sizeof buf);
        if (n < 0 || size_t(n) >= sizeof buf) break;
        std::string to(buf, size_t(n));
        if (to.empty()) break;
        if (to[0] != '/') {
            size_t slash = at.rfind('/');
            to = (slash == std::string::npos ? "" : at.substr(0, slash + 1)) + to;
        }
        at = to;
    }
    return at;
}

namespace {
FileStamp StampFrom(const struct stat& st) {
    FileStamp s;
    s.device = uint64_t(st.st_dev);
    s.inode = uint64_t(st.st_ino);
    s.size = int64_t(st.st_size);
    s.modifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.changedNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return s;
}
} // namespace

bool StampOf(const std::string& path, FileStamp& out) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    out = StampFrom(st);
    return true;
}

bool StampOf(FILE* f, FileStamp& out) {
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return false;
    out = StampFrom(st);
    return true;
}

void CopyPermissions(const std::string& from, const std::string& to) {
    struct stat st;
    if (stat(from.c_str(), &st) == 0) chmod(to.c_str(), st.st_mode & 07777);
}

bool IsPlainFile(FILE* f) {
    struct stat st;
    return fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t SizeOf(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return int64_t(st.st_size);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

FILE* CreateBeside(const std::string& target, std::string& tempName, std::string& error) {
    if (!CallAllowed(WriteCall::Create)) {
        error = std::strerror(errno);
        return nullptr;
    }
    std::string pattern = target + ".tmp-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    // mkstemp makes the file private; the target gets the usual permissions
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    FILE* f = fdopen(fd, "wb");
    if (!f) {
        error = std::strerror(errno);
        ::close(fd);
        ::unlink(pattern.c_str());
        return nullptr;
    }
    tempName = pattern;
    return f;
}

bool FlushToDisk(FILE* f) {
    return CallAllowed(WriteCall::Flush) && std::fflush(f) == 0 && CallAllowed(WriteCall::Sync) &&
           fsync(fileno(f)) == 0;
}

std::string ReplaceWith(const std::string& from, const std::string& to) {
    if (!CallAllowed(WriteCall::Rename)) return std::strerror(errno);
    if (std::rename(from.c_str(), to.c_str()) != 0) return std::strerror(errno);
    return "";
}

bool RemoveFile(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

std::string ProcessVariable(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

void SetProcessVariable(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

Utf8Arguments::Utf8Arguments(int&, char**&) {} // names are bytes, taken as they come

void BinaryStandardStreams() {} // there is no text mode here

} // namespace sel
