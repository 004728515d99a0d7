// Opening, checking and reading one cache file by position.
#include "sel/reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sel {

Status CacheReader::Open(const std::string& path, bool keepCounts) {
    if (Status opened = OpenBytes(path); !opened.ok) return opened;
    Status status = ReadLayout(*source_, layout_, keepCounts);
    if (!status.ok) {
        Close();
        problem_ = Problem::Layout;
        return status;
    }
    if (keepCounts && layout_.variable) {
        before_.resize(size_t(layout_.samples) + 1);
        for (int k = 0; k < layout_.samples; ++k)
            before_[size_t(k) + 1] = before_[size_t(k)] + layout_.Count(k);
    }
    return {};
}

Status CacheReader::OpenBytes(const std::string& path) {
    Close();
    layout_ = Layout{};
    path_ = path;
    auto refuse = [this](Problem p, const std::string& why) {
        Close();
        problem_ = p;
        return Status{false, why, Fault::None, 0};
    };
    // told before opening: opening a FIFO waits for a writer that may never come
    switch (KindOf(path)) {
    case FileKind::Missing: return refuse(Problem::Missing, "not found");
    case FileKind::Folder: return refuse(Problem::Folder, "is a folder");
    case FileKind::Other: return refuse(Problem::NotPlain, "not a plain file");
    case FileKind::Plain: break;
    }
    f_ = OpenFile(path, "rb");
    if (!f_) return refuse(Problem::CannotOpen, std::string("cannot be read: ") + std::strerror(errno));
    // the name may have changed between the look and the opening
    if (!IsPlainFile(f_)) return refuse(Problem::NotPlain, "not a plain file");
    stamped_ = StampOf(f_, stamp_);
    source_ = std::make_unique<FileSource>(f_, stamped_ ? stamp_.size : -1);
    problem_ = Problem::None;
    return {};
}

void CacheReader::Close() {
    source_.reset();
    if (f_) std::fclose(f_);
    f_ = nullptr;
    before_.clear();
    stamped_ = false;
}

bool CacheReader::Changed() const {
    if (!f_ || !stamped_) return false;
    FileStamp now;
    return !StampOf(path_, now) || !(now == stamp_);
}

int64_t CacheReader::RecordsBefore(int k) const {
    if (k <= 0) return 0;
    if (!layout_.variable) return int64_t(k) * layout_.header.formatTag;
    return before_[size_t(std::min(k, layout_.samples))];
}

int32_t CacheReader::ReadSample(int k, SampleRecord* dst, int32_t capacity) const {
    return sel::ReadSample(*source_, layout_, k, RecordsBefore(k), dst, capacity);
}

std::string SecondPlace(const std::string& name, const std::string& folder) {
    return folder + "/" + name.substr(name.find_last_of("/\\") + 1);
}

Status OpenCacheIn(const std::string& name, const std::string& fallbackFolder, CacheReader& reader,
                   Opening how, CacheReader::Problem* problem) {
    auto open = [&](const std::string& path) {
        return how == Opening::Bytes ? reader.OpenBytes(path) : reader.Open(path, how == Opening::Samples);
    };
    auto found = [&](const Status& s) { return s.ok || reader.LastProblem() == CacheReader::Problem::Layout; };
    Status named = open(name);
    CacheReader::Problem namedProblem = reader.LastProblem();
    if (problem) *problem = namedProblem;
    if (found(named)) return named;
    Status second = open(SecondPlace(name, fallbackFolder));
    if (!found(second)) return named;
    if (problem) *problem = reader.LastProblem();
    return second;
}

} // namespace sel
