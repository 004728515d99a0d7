// Every file the project writes (caches, part records, CSV, PNG, scene files) goes through here, so
// the rules of writing one live once: the new bytes go to a file beside the target and take its
// place only when they are whole and on the disk; a failure or a stop leaves the old file as it was.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace sel {

// A command that stops on signals registers its temporary files where a second stop request (which
// ends the process at once) can still remove them. Unset, nothing is registered.
struct TemporaryRegistry {
    int (*remember)(const std::string& path) = nullptr; // a handle, or -1
    void (*forget)(int handle) = nullptr;
};
void SetTemporaryRegistry(TemporaryRegistry registry);

// Bytes written in order, with patches of bytes already written: a file, or memory for the tests
// and the fuzzers.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual bool Write(const void* data, size_t n) = 0;
    virtual bool WriteAt(int64_t offset, const void* data, size_t n) = 0;
    virtual bool Flush() { return true; }
    // True when nothing written reaches its reader until its owner commits it, so that a writer may
    // stop halfway and leave no trace; false for a device or FIFO, which keeps what it was given.
    virtual bool Staged() const { return true; }
    bool Write(const std::string& bytes) { return Write(bytes.data(), bytes.size()); }
};

class MemorySink : public ByteSink {
  public:
    bool Write(const void* data, size_t n) override;
    bool WriteAt(int64_t offset, const void* data, size_t n) override;
    using ByteSink::Write;
    std::string bytes;
};

class OutputFile : public ByteSink {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile(); // an output never committed is discarded

    // Opens `target` for writing. A plain or missing file is written beside it and replaced by
    // Commit(); through a symbolic link (a chain of them) the file the link leads to is the one
    // replaced, and the link stays; the replacement keeps the old file's permissions. A device or a
    // FIFO is written directly, never replaced. A folder and a file that cannot be written to (read-only)
    // are refused. Answers "" or "TARGET: reason" (TARGET as given).
    std::string Open(const std::string& target);

    // Appends bytes; false once anything failed (the first failure is kept for Error()).
    bool Write(const void* data, size_t n) override;
    using ByteSink::Write;
    // Overwrites bytes already written (a header completed at the end). Fails on a stream that
    // cannot seek (a FIFO).
    bool WriteAt(int64_t offset, const void* data, size_t n) override;
    // Hands what was written so far to the system (a crash after it keeps those bytes in the file
    // beside the target); no flush to the disk.
    bool Flush() override;

    // Flushes to the disk and puts the file in place. "" or "TARGET: cannot be written: REASON";
    // on failure the temporary file is removed and the target keeps its old bytes.
    std::string Commit();
    // Drops what was written: the temporary file is removed, the target untouched.
    void Discard();

    bool IsOpen() const { return f_ != nullptr; }
    bool Failed() const { return failed_; }
    // The first failure, as Commit() words it ("" when none).
    std::string Error() const;
    const std::string& Name() const { return name_; }
    // The file the bytes go to until Commit(): beside the target, or the target itself (a device).
    const std::string& TempPath() const { return temp_; }
    bool Direct() const { return direct_; }
    bool Staged() const override { return !direct_; }
    int64_t Written() const { return written_; }

  private:
    void Fail(const std::string& reason);
    void Unregister();
    std::string name_, target_, temp_, reason_;
    FILE* f_ = nullptr;
    bool failed_ = false, direct_ = false;
    int64_t written_ = 0;
    int registered_ = -1;
};

// `bytes` as the whole of `target`, through an OutputFile: "" or its line.
std::string WriteWholeFile(const std::string& target, const std::string& bytes);

// Files that stand or fall together (a part and its part record): each pair's first name, a new file
// already whole on the disk beside its target (written through an OutputFile to a name of its own),
// takes the place of the second name, all or none. Every existing target is moved aside first, then
// the new files are renamed in, and the old ones are removed; any failed rename puts every old file
// back and removes the new files. As with OutputFile, a target reached through a symbolic link is the
// file the link leads to, and a replacement keeps the old file's permissions. Answers "" or
// "TARGET: cannot be written: REASON" (TARGET as given); when an old file cannot be put back either,
// the line ends "; the old file stays as NAME". Refused before anything moves: a new file that is no
// plain file, a target that is a folder, a device or a FIFO, or read-only, and a target named twice.
// An empty list does nothing. A crash between the renames leaves the old files beside their targets,
// each under its target's name with ".old-N" after it.
std::string ReplaceTogether(const std::vector<std::pair<std::string, std::string>>& moves);

} // namespace sel
