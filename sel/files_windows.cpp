// The file seam on Windows: wide-character names made from UTF-8, _fseeki64/_ftelli64 (long has
// 32 bits there), and MoveFileExW, since rename refuses to replace an existing file.
#include <windows.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sel/files.h"

namespace sel {
namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring w(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), w.data(), n);
    return w;
}

std::string LastError() {
    DWORD code = GetLastError();
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (n && text) {
        int k = WideCharToMultiByte(CP_UTF8, 0, text, int(n), nullptr, 0, nullptr, nullptr);
        out.resize(size_t(k));
        WideCharToMultiByte(CP_UTF8, 0, text, int(n), out.data(), k, nullptr, nullptr);
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
            out.pop_back();
    }
    if (text) LocalFree(text);
    return out.empty() ? "error " + std::to_string(code) : out;
}

struct Identity {
    DWORD volume = 0, high = 0, low = 0;
};

bool IdentityOf(const std::string& path, Identity& id) {
    HANDLE h = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (ok) id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return ok;
}

} // namespace

FILE* OpenFile(const std::string& path, const char* mode) {
    std::string m(mode);
    if (m.find('b') == std::string::npos) m += 'b';
    if (m != "rb") return _wfopen(Wide(path).c_str(), Wide(m).c_str());
    // A reader shares deletion, so that, as on POSIX, a cache being played does not stop its
    // re-recording from taking its place; the C library's own open does not share it.
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        errno = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ENOENT
                : code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ? EACCES
                                                                                  : EINVAL;
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    FILE* f = _fdopen(fd, "rb");
    if (!f) _close(fd);
    return f;
}

bool SeekTo(FILE* f, int64_t offset, int whence) {
    return _fseeki64(f, offset, whence) == 0;
}

int64_t Position(FILE* f) {
    return _ftelli64(f);
}

// ReadFile with the offset in an OVERLAPPED: the read does not depend on the handle's position. On a
// handle opened for synchronous reads it moves that position, which is put back (there is no fork here
// to share it).
size_t ReadAtOffset(FILE* f, int64_t offset, void* dst, size_t n) {
    if (offset < 0) return 0;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    if (h == INVALID_HANDLE_VALUE) return 0;
    LARGE_INTEGER zero{}, position{};
    bool known = SetFilePointerEx(h, zero, &position, FILE_CURRENT);
    struct PutBack {
        HANDLE h;
        bool known;
        LARGE_INTEGER position;
        ~PutBack() {
            if (known) SetFilePointerEx(h, position, nullptr, FILE_BEGIN);
        }
    } putBack{h, known, position};
    size_t done = 0;
    while (done < n) {
        uint64_t at = uint64_t(offset) + done;
        OVERLAPPED where{};
        where.Offset = DWORD(at & 0xffffffffu);
        where.OffsetHigh = DWORD(at >> 32);
        DWORD chunk = DWORD(std::min<size_t>(n - done, size_t(1) << 30)), got = 0;
        if (!ReadFile(h, static_cast<char*>(dst) + done, chunk, &got, &where) || got == 0) break;
        done += got;
    }
    return done;
}

FileKind KindOf(const std::string& path) {
    DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return FileKind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return FileKind::Folder;
    return (attributes & FILE_ATTRIBUTE_DEVICE) ? FileKind::Other : FileKind::Plain;
}

std::string FollowLinks(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path at = PathOf(path);
    for (int hops = 0; hops < 40 && fs::is_symlink(at, ec); ++hops) {
        fs::path to = fs::read_symlink(at, ec);
        if (ec) break;
        at = to.is_absolute() ? to : at.parent_path() / to;
    }
    return Utf8Of(at);
}

namespace {
bool StampOfHandle(HANDLE h, FileStamp& out) {
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(h, &info) ||
        !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
        return false;
    out.device = info.dwVolumeSerialNumber;
    out.inode = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    out.size = int64_t(info.nFileSizeHigh) << 32 | int64_t(info.nFileSizeLow);
    // file times count 100 ns from 1601; in nanoseconds from 1970, as on Linux, they fit 64 bits
    constexpr int64_t k1601To1970 = 116444736000000000;
    out.modifiedNs = (basic.LastWriteTime.QuadPart - k1601To1970) * 100;
    out.changedNs = (basic.ChangeTime.QuadPart - k1601To1970) * 100;
    return true;
}
} // namespace

bool StampOf(const std::string& path, FileStamp& out) {
    HANDLE h = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = StampOfHandle(h, out);
    CloseHandle(h);
    return ok;
}

bool StampOf(FILE* f, FileStamp& out) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    return h != INVALID_HANDLE_VALUE && StampOfHandle(h, out);
}

void CopyPermissions(const std::string&, const std::string&) {} // a read-only target is refused before

bool IsPlainFile(FILE* f) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return false;
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(h, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return int64_t(data.nFileSizeHigh) << 32 | int64_t(data.nFileSizeLow);
}

bool SameFile(const std::string& a, const std::string& b) {
    Identity ia, ib;
    return IdentityOf(a, ia) && IdentityOf(b, ib) && ia.volume == ib.volume && ia.high == ib.high &&
           ia.low == ib.low;
}

FILE* CreateBeside(const std::string& target, std::string& tempName, std::string& error) {
    if (!CallAllowed(WriteCall::Create)) {
        error = std::strerror(errno);
        return nullptr;
    }
    // CREATE_NEW fails when the name is taken, so two writers never share a temporary file
    DWORD pid = GetCurrentProcessId();
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        std::string name = target + ".tmp-" + std::to_string(pid) + "-" + std::to_string(attempt);
        HANDLE h = CreateFileW(Wide(name).c_str(), GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            error = LastError();
            return nullptr;
        }
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
        FILE* f = fd < 0 ? nullptr : _fdopen(fd, "wb");
        if (!f) {
            error = std::strerror(errno);
            if (fd >= 0) _close(fd);
            else CloseHandle(h);
            DeleteFileW(Wide(name).c_str());
            return nullptr;
        }
        tempName = name;
        return f;
    }
    error = "no free temporary name";
    return nullptr;
}

bool FlushToDisk(FILE* f) {
    return CallAllowed(WriteCall::Flush) && std::fflush(f) == 0 && CallAllowed(WriteCall::Sync) &&
           _commit(_fileno(f)) == 0;
}

std::string ReplaceWith(const std::string& from, const std::string& to) {
    if (!CallAllowed(WriteCall::Rename)) return std::strerror(errno);
    std::wstring source = Wide(from), target = Wide(to);
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return "";
    DWORD code = GetLastError();
    DWORD kind = GetFileAttributesW(target.c_str());
    bool plainWritable = kind != INVALID_FILE_ATTRIBUTES &&
                         !(kind & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT));
    if ((code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) && plainWritable) {
        // A reader that shares deletion (a cache being played) holds the target, which cannot be
        // replaced while open but can be moved aside: then the new file takes the name, and the old
        // one is deleted once the reader lets go. Should the second move fail, the old file goes back.
        std::wstring aside = source + L".old";
        if (MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
            if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
                DeleteFileW(aside.c_str());
                return "";
            }
            code = GetLastError();
            MoveFileExW(aside.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
        }
    }
    SetLastError(code);
    return LastError();
}

bool RemoveFile(const std::string& path) {
    return DeleteFileW(Wide(path).c_str()) != 0;
}

std::string ProcessVariable(const char* name) {
    char buf[64];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : "";
}

void SetProcessVariable(const char* name, const std::string& value) { SetEnvironmentVariableA(name, value.c_str()); }

Utf8Arguments::Utf8Arguments(int& argc, char**& argv) {
    int n = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wide) return;
    for (int i = 0; i < n; ++i) {
        int k = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string s(size_t(k > 0 ? k - 1 : 0), '\0');
        if (k > 1) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, s.data(), k, nullptr, nullptr);
        strings_.push_back(std::move(s));
    }
    LocalFree(wide);
    for (auto& s : strings_) pointers_.push_back(s.data());
    pointers_.push_back(nullptr);
    argc = n;
    argv = pointers_.data();
}

void BinaryStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

} // namespace sel
