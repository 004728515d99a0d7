// Files by UTF-8 name, always in binary mode, with 64-bit positions, and replacing a file through a
// temporary name: the few calls that differ between platforms, each behind one function here.
// files_posix.cpp and files_windows.cpp implement them; the build takes the one of its platform.
#pragma once
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace sel {

// fopen with a UTF-8 name; `mode` is one of fopen's ("rb", "wb", "r+b"...), binary whether or not it
// says so, since a text-mode read stops at the first 0x1a byte on Windows.
FILE* OpenFile(const std::string& path, const char* mode);

// Positions past 4 GiB, where `long` has 32 bits (Windows) as where it has 64.
bool SeekTo(FILE* f, int64_t offset, int whence = SEEK_SET);
int64_t Position(FILE* f); // -1 when it cannot be told
// Up to n bytes from `offset` of the file under `f`, neither using nor moving a file position (pread;
// on Windows a read at an explicit offset): processes sharing one open file after a fork, and threads
// sharing one stream, each read what they ask for. Answers the bytes read, short at the file's end.
// Meant for a stream only read this way (the stream's own buffer is bypassed).
size_t ReadAtOffset(FILE* f, int64_t offset, void* dst, size_t n);

enum class FileKind { Missing, Plain, Folder, Other };
FileKind KindOf(const std::string& path); // through links: a link to a device is Other
bool IsPlainFile(FILE* f);
// Where a name leads once every symbolic link in a chain of them is followed (at most 40, as the
// system does): the name itself when it is no link. A link to a missing file leads to that name.
std::string FollowLinks(const std::string& path);
int64_t SizeOf(const std::string& path); // -1 when missing or not a plain file
// Both names lead to one file (not merely equal names): writing one would destroy the other.
bool SameFile(const std::string& a, const std::string& b);

// What tells one state of a file from another: which file a name leads to, its size and its last
// modification and change (the change time moves on any rewrite, even one that puts the
// modification time back). Equal stamps: the bytes read before are the bytes on disk.
struct FileStamp {
    uint64_t device = 0, inode = 0;
    int64_t size = -1, modifiedNs = 0, changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};
// False when the name leads to no file (the stamp is left as it was).
bool StampOf(const std::string& path, FileStamp& out);
bool StampOf(FILE* f, FileStamp& out);

// The permission bits of `from` onto `to` (best effort: a file system without them keeps its own).
void CopyPermissions(const std::string& from, const std::string& to);

// A new, empty file beside `target` under a name no other file has, open for writing; its name goes
// to `tempName`. On failure, nullptr and the reason in `error`.
FILE* CreateBeside(const std::string& target, std::string& tempName, std::string& error);
// fflush, then the bytes to the disk itself.
bool FlushToDisk(FILE* f);
// Puts `from` in the place of `to`, replacing it when it exists; "" or the reason it failed.
std::string ReplaceWith(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
// fwrite of n bytes, whole or failed (errno says why).
bool WriteBytes(FILE* f, const void* data, size_t n);

// The calls that write, for tests that fail each in turn. The environment sets it up once: with
// SEL_FAULT_LOG=FILE every such call appends its kind's name to FILE, a line each; with
// SEL_FAULT=KIND:N the Nth call of that kind (create, write, flush, sync, rename; from 1) fails as
// the system would fail it (no space, an I/O error, a refused rename). Unset, they cost a branch.
enum class WriteCall { Create, Write, Flush, Sync, Rename };
// False when this call is the one to fail; errno is then set to the failure's reason.
bool CallAllowed(WriteCall call);

// stdin, stdout and stderr in binary mode: dumps and messages end lines with "\n" on every platform.
void BinaryStandardStreams();

// The command line in UTF-8: on Windows argv is in the ANSI code page, so it is rebuilt from the
// wide command line (the strings live as long as this object); elsewhere argv is left as it is.
class Utf8Arguments {
  public:
    Utf8Arguments(int& argc, char**& argv);

  private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

// A UTF-8 name as a path for the standard streams and std::filesystem (which take the ANSI code page
// for a plain char string on Windows).
inline std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
// And back: a path as a UTF-8 name (path::string() gives the ANSI code page on Windows).
inline std::string Utf8Of(const std::filesystem::path& path) {
    std::u8string s = path.u8string();
    return std::string(s.begin(), s.end());
}

} // namespace sel
