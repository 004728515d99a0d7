// The one safe way to write a file: beside the target, whole, on the disk, then in its place.
#include "sel/output.h"

#include <cerrno>
#include <cstring>

#include "sel/files.h"

namespace sel {
namespace {
TemporaryRegistry g_registry;

std::string Reason(int err) { return std::strerror(err ? err : EIO); }
} // namespace

bool MemorySink::Write(const void* data, size_t n) {
    bytes.append(static_cast<const char*>(data), n);
    return true;
}

bool MemorySink::WriteAt(int64_t offset, const void* data, size_t n) {
    if (offset < 0 || size_t(offset) + n > bytes.size()) return false;
    std::memcpy(&bytes[size_t(offset)], data, n);
    return true;
}

void SetTemporaryRegistry(TemporaryRegistry registry) { g_registry = registry; }

OutputFile::~OutputFile() { Discard(); }

std::string OutputFile::Open(const std::string& target) {
    Discard();
    name_ = target;
    failed_ = false;
    reason_.clear();
    written_ = 0;
    // a link keeps pointing where it did: the file it leads to is the one replaced
    target_ = FollowLinks(target);
    FileKind kind = KindOf(target_);
    if (kind == FileKind::Folder) return name_ + ": is a folder";
    if (kind == FileKind::Other) {
        // a device or a FIFO has nothing to lose and cannot be replaced by a plain file
        direct_ = true;
        if (!CallAllowed(WriteCall::Create)) return name_ + ": cannot be written: " + Reason(errno);
        f_ = OpenFile(target_, "wb");
        if (!f_) return name_ + ": cannot be written: " + Reason(errno);
        temp_ = target_;
        return "";
    }
    direct_ = false;
    if (kind == FileKind::Plain) {
        // a read-only file stays refused, as opening it for writing refuses it
        FILE* probe = OpenFile(target_, "r+b");
        if (!probe) return name_ + ": cannot be written: " + Reason(errno);
        std::fclose(probe);
    }
    std::string error;
    f_ = CreateBeside(target_, temp_, error);
    if (!f_) return name_ + ": cannot be written: " + error;
    if (kind == FileKind::Plain) CopyPermissions(target_, temp_);
    if (g_registry.remember) registered_ = g_registry.remember(temp_);
    return "";
}

void OutputFile::Fail(const std::string& reason) {
    if (!failed_) reason_ = reason;
    failed_ = true;
}

std::string OutputFile::Error() const { return failed_ ? name_ + ": cannot be written: " + reason_ : ""; }

bool OutputFile::Write(const void* data, size_t n) {
    if (!f_ || failed_) return false;
    if (!WriteBytes(f_, data, n)) Fail(Reason(errno));
    else written_ += int64_t(n);
    return !failed_;
}

bool OutputFile::WriteAt(int64_t offset, const void* data, size_t n) {
    if (!f_ || failed_) return false;
    int64_t back = Position(f_);
    errno = 0;
    if (back < 0 || !SeekTo(f_, offset)) {
        Fail(Reason(errno));
        return false;
    }
    bool ok = WriteBytes(f_, data, n);
    int err = errno;
    if (!SeekTo(f_, back) && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) Fail(Reason(err));
    return ok;
}

bool OutputFile::Flush() {
    if (!f_ || failed_) return false;
    errno = 0;
    if (!CallAllowed(WriteCall::Flush) || std::fflush(f_) != 0) Fail(Reason(errno));
    return !failed_;
}

std::string OutputFile::Commit() {
    if (!f_) return name_ + ": cannot be written: it was not opened";
    errno = 0;
    if (!failed_) {
        // a device takes what it is given; fsync has nothing to do there and fails on some
        bool flushed = direct_ ? CallAllowed(WriteCall::Flush) && std::fflush(f_) == 0 : FlushToDisk(f_);
        if (!flushed) Fail(Reason(errno));
    }
    errno = 0;
    if (std::fclose(f_) != 0 && !failed_) Fail(Reason(errno));
    f_ = nullptr;
    if (!failed_ && !direct_) {
        std::string why = ReplaceWith(temp_, target_);
        if (!why.empty()) Fail(why);
    }
    if (failed_) {
        std::string error = Error();
        Discard();
        return error;
    }
    Unregister();
    temp_.clear();
    return "";
}

void OutputFile::Unregister() {
    if (registered_ >= 0 && g_registry.forget) g_registry.forget(registered_);
    registered_ = -1;
}

void OutputFile::Discard() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
    if (!direct_ && !temp_.empty()) RemoveFile(temp_);
    Unregister();
    temp_.clear();
}

std::string WriteWholeFile(const std::string& target, const std::string& bytes) {
    OutputFile out;
    if (std::string error = out.Open(target); !error.empty()) return error;
    out.Write(bytes);
    return out.Commit();
}

namespace {
// A name beside `target` that no file has: where the old file waits while its replacement goes in.
std::string NameAside(const std::string& target) {
    for (int n = 1;; ++n)
        if (std::string name = target + ".old-" + std::to_string(n); KindOf(name) == FileKind::Missing) return name;
}
} // namespace

std::string ReplaceTogether(const std::vector<std::pair<std::string, std::string>>& moves) {
    size_t n = moves.size();
    std::vector<std::string> targets(n), aside(n); // aside: "" where no old file stood
    auto line = [&](size_t i, const std::string& why) { return moves[i].second + ": cannot be written: " + why; };
    for (size_t i = 0; i < n; ++i) {
        targets[i] = FollowLinks(moves[i].second);
        if (KindOf(moves[i].first) != FileKind::Plain) return line(i, moves[i].first + " is not a plain file");
        FileKind kind = KindOf(targets[i]);
        if (kind == FileKind::Folder) return moves[i].second + ": is a folder";
        if (kind == FileKind::Other) return line(i, "not a plain file");
        if (kind == FileKind::Plain) {
            FILE* probe = OpenFile(targets[i], "r+b");
            if (!probe) return line(i, Reason(errno));
            std::fclose(probe);
        }
        for (size_t j = 0; j < i; ++j)
            if (targets[j] == targets[i]) return line(i, "named twice");
    }
    std::string error;
    size_t in = 0; // the new files renamed in so far
    for (size_t i = 0; i < n && error.empty(); ++i) {
        if (KindOf(targets[i]) == FileKind::Missing) continue;
        CopyPermissions(targets[i], moves[i].first);
        std::string name = NameAside(targets[i]);
        if (std::string why = ReplaceWith(targets[i], name); !why.empty()) error = line(i, why);
        else aside[i] = name;
    }
    while (in < n && error.empty()) {
        if (std::string why = ReplaceWith(moves[in].first, targets[in]); !why.empty()) error = line(in, why);
        else ++in;
    }
    if (error.empty()) {
        for (const std::string& name : aside)
            if (!name.empty()) RemoveFile(name);
        return "";
    }
    for (size_t i = 0; i < n; ++i) {
        if (!aside[i].empty()) { // the old file back over the new one, when that went in
            if (!ReplaceWith(aside[i], targets[i]).empty()) error += "; the old file stays as " + aside[i];
        } else if (i < in) {
            RemoveFile(targets[i]);
        }
        if (i >= in) RemoveFile(moves[i].first);
    }
    return error;
}

} // namespace sel
