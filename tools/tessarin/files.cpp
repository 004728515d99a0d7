// Inputs, outputs through a temporary name, and the texts every verb shares.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "tools/tessarin/tool.h"

namespace tessarin {

bool StringSink::Write(const void* data, size_t n) {
    bytes.append(static_cast<const char*>(data), n);
    return true;
}

bool StringSink::WriteAt(int64_t offset, const void* data, size_t n) {
    if (offset < 0 || size_t(offset) + n > bytes.size()) return false;
    std::memcpy(&bytes[size_t(offset)], data, n);
    return true;
}

namespace {
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}
} // namespace

OutputFile::~OutputFile() {
    if (f_) std::fclose(f_);
    if (!temp_.empty()) std::remove(temp_.c_str());
}

std::string OutputFile::Open(const std::string& target, const std::string& input) {
    if (!input.empty() && SameFile(target, input)) return "is the input file; write to another name";
    struct stat st;
    if (stat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "is a folder";
    target_ = target;
    std::string pattern = target + ".tmp-XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) return std::string("cannot be written: ") + std::strerror(errno);
    temp_ = pattern;
    f_ = fdopen(fd, "wb");
    if (!f_) {
        ::close(fd);
        return std::string("cannot be written: ") + std::strerror(errno);
    }
    return "";
}

bool OutputFile::Write(const void* data, size_t n) {
    if (!f_ || failed_) return false;
    if (n && std::fwrite(data, 1, n, f_) != n) failed_ = true;
    return !failed_;
}

bool OutputFile::WriteAt(int64_t offset, const void* data, size_t n) {
    if (!f_ || failed_) return false;
    off_t back = ftello(f_);
    if (fseeko(f_, offset, SEEK_SET) != 0 || std::fwrite(data, 1, n, f_) != n ||
        fseeko(f_, back, SEEK_SET) != 0)
        failed_ = true;
    return !failed_;
}

std::string OutputFile::Commit() {
    if (!f_) return "was not opened";
    bool ok = !failed_ && std::fflush(f_) == 0 && fsync(fileno(f_)) == 0;
    int saved = errno;
    ok = std::fclose(f_) == 0 && ok;
    f_ = nullptr;
    if (!ok) return std::string("cannot be written: ") + std::strerror(saved ? saved : errno);
    // mkstemp makes the file private; the target gets the usual permissions
    mode_t mask = umask(0);
    umask(mask);
    chmod(temp_.c_str(), 0666 & ~mask);
    if (std::rename(temp_.c_str(), target_.c_str()) != 0)
        return std::string("cannot be written: ") + std::strerror(errno);
    temp_.clear();
    return "";
}

InputFile::~InputFile() {
    if (f) std::fclose(f);
}

std::string OpenInput(const std::string& path, InputFile& in) {
    in.name = path;
    in.f = std::fopen(path.c_str(), "rb");
    if (!in.f) return std::string("cannot open: ") + std::strerror(errno);
    struct stat st;
    if (fstat(fileno(in.f), &st) != 0 || !S_ISREG(st.st_mode)) return "not a plain file";
    in.source = std::make_unique<sel::FileSource>(in.f);
    return "";
}

std::string At(const std::string& file, int64_t byte, const std::string& reason) {
    return file + ": byte " + std::to_string(byte) + ": " + reason;
}

std::string Counted(int64_t n, const std::string& noun, const std::string& nouns) {
    return std::to_string(n) + " " + (n == 1 ? noun : nouns.empty() ? noun + "s" : nouns);
}

std::string Megabytes(int64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f MB", double(bytes) / 1e6);
    return buf;
}

std::string WeightText(float w) {
    if (std::isnan(w)) return std::signbit(w) ? "-nan" : "nan";
    if (std::isinf(w)) return w > 0 ? "inf" : "-inf";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", double(w));
    return buf;
}

} // namespace tessarin
