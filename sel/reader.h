// One cache file open for reading: the one way every front end (the modifier's playback, the Python
// module, the cache tool, join, the heatmap, the page) opens, checks and reads a cache, so the rules
// of reading live once. Reads go by position (pread), so forked workers and threads sharing a reader
// each read what they ask for.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sel/files.h"
#include "sel/format.h"

namespace sel {

class CacheReader {
  public:
    // Why Open() failed before the layout was read; Layout when the bytes are no playable cache.
    enum class Problem { None, Missing, Folder, NotPlain, CannotOpen, Layout };

    CacheReader() = default;
    CacheReader(const CacheReader&) = delete;
    CacheReader& operator=(const CacheReader&) = delete;
    ~CacheReader() { Close(); }

    // Opens `path` and checks its layout. A name that leads to nothing, a folder, and a FIFO or a
    // device (which would wait for a writer or never end) are refused before a byte is read. With
    // keepCounts false a variable-count file's table is checked and not kept (memory stays flat on
    // any file; ReadSample then cannot be used: walk with SampleWalker). On failure the reader is
    // closed and the status says why: "not found", "is a folder", "not a plain file", "cannot be
    // read: REASON", or the layout's refusal (with its fault and byte; Problem() is Layout).
    Status Open(const std::string& path, bool keepCounts = true);
    // The same kind checks and opening, with the layout left unchecked: for verify, repair and
    // info, which report on any file. GetSource() is then the whole file; GetLayout() is empty.
    Status OpenBytes(const std::string& path);
    void Close();
    bool IsOpen() const { return f_ != nullptr; }
    Problem LastProblem() const { return problem_; }

    const std::string& Path() const { return path_; }
    const Layout& GetLayout() const { return layout_; }
    const Source& GetSource() const { return *source_; }
    // The file as it was when opened.
    const FileStamp& Stamp() const { return stamp_; }
    // Whether the name now leads to other bytes than those opened: another file, another size,
    // another modification or change time, or none at all. A reader that could not stamp its file
    // at opening reads on as long as it is open.
    bool Changed() const;

    // Records stored before sample k (running sums of the table, kept at opening).
    int64_t RecordsBefore(int k) const;
    // Sample k's records into dst (room for `capacity`); records the file lacks read as zero.
    // Answers the records read from the file. k must lie in [0, samples).
    int32_t ReadSample(int k, SampleRecord* dst, int32_t capacity) const;

  private:
    std::string path_;
    FILE* f_ = nullptr;
    std::unique_ptr<FileSource> source_;
    Layout layout_;
    std::vector<int64_t> before_;
    FileStamp stamp_;
    bool stamped_ = false;
    Problem problem_ = Problem::None;
};

// The modifier's two places for a cache: `name` itself, else the file of that name (its last path
// part) in `fallbackFolder`, the host's folder for caches. The second place is tried only when
// nothing could be read at the first (missing, a folder, a FIFO, unreadable): a file whose bytes
// were read is the one played, or refused. The reader holds whichever place answered (its Path()
// names it); when neither did, the status is the first place's. `problem`, when given, is the
// problem of the place whose status is answered.
// The second place's name: the last path part of `name` in `folder`.
std::string SecondPlace(const std::string& name, const std::string& folder);
enum class Opening { Bytes, Layout, Samples }; // OpenBytes; Open without, or with its counts kept
Status OpenCacheIn(const std::string& name, const std::string& fallbackFolder, CacheReader& reader,
                   Opening how, CacheReader::Problem* problem = nullptr);

} // namespace sel
