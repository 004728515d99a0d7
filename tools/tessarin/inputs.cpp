// Inputs, outputs through a temporary name, and the texts every verb shares.
#include <cerrno>
#include <cmath>
#include <cstring>

#include "console/stop.h"
#include "sel/files.h"
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

OutputFile::~OutputFile() {
    if (f_) std::fclose(f_);
    if (!temp_.empty()) sel::RemoveFile(temp_);
    console::ForgetTemporary(hardStop_);
}

std::string OutputFile::Open(const std::string& target, const std::string& input) {
    if (!input.empty() && sel::SameFile(target, input)) return "is the input file; write to another name";
    if (sel::KindOf(target) == sel::FileKind::Folder) return "is a folder";
    target_ = target;
    std::string error;
    f_ = sel::CreateBeside(target, temp_, error);
    if (!f_) return "cannot be written: " + error;
    // a stop request lets the verb end and this object remove the file; a second one ends the
    // process at once, and console removes it then
    hardStop_ = console::RemoveOnHardStop(temp_);
    return "";
}

bool OutputFile::Write(const void* data, size_t n) {
    if (!f_ || failed_) return false;
    if (n && std::fwrite(data, 1, n, f_) != n) failed_ = true;
    return !failed_;
}

bool OutputFile::WriteAt(int64_t offset, const void* data, size_t n) {
    if (!f_ || failed_) return false;
    int64_t back = sel::Position(f_);
    if (back < 0 || !sel::SeekTo(f_, offset) || std::fwrite(data, 1, n, f_) != n || !sel::SeekTo(f_, back))
        failed_ = true;
    return !failed_;
}

std::string OutputFile::Commit() {
    if (!f_) return "was not opened";
    errno = 0;
    bool ok = !failed_ && sel::FlushToDisk(f_);
    int saved = errno;
    ok = std::fclose(f_) == 0 && ok;
    f_ = nullptr;
    if (!ok) return std::string("cannot be written: ") + std::strerror(saved ? saved : errno);
    std::string error = sel::ReplaceWith(temp_, target_);
    if (!error.empty()) return "cannot be written: " + error;
    temp_.clear();
    console::ForgetTemporary(hardStop_);
    hardStop_ = -1;
    return "";
}

InputFile::~InputFile() {
    if (f) std::fclose(f);
}

std::string OpenInput(const std::string& path, InputFile& in) {
    in.name = path;
    // told before opening: a folder does not open for reading everywhere, and opening a FIFO waits
    // for a writer that may never come
    if (sel::FileKind kind = sel::KindOf(path); kind == sel::FileKind::Folder || kind == sel::FileKind::Other)
        return "not a plain file";
    in.f = sel::OpenFile(path, "rb");
    if (!in.f) return std::string("cannot open: ") + std::strerror(errno);
    if (!sel::IsPlainFile(in.f)) return "not a plain file";
    in.source = std::make_unique<sel::FileSource>(in.f);
    return "";
}

std::string At(const std::string& file, int64_t byte, const std::string& reason) {
    return file + ": byte " + std::to_string(byte) + ": " + reason;
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
