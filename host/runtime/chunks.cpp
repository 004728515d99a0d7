// Writing and reading nested chunks.
#include "runtime/chunks.h"

#include <algorithm>
#include <cstring>

namespace vm {
namespace {
constexpr size_t kHeader = 6;
void PutU32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}
} // namespace

void ChunkWriter::BeginChunk(USHORT id) {
    bytes_.push_back(static_cast<char>(id & 0xff));
    bytes_.push_back(static_cast<char>(id >> 8));
    open_.push_back(bytes_.size());
    bytes_.append(4, '\0');
}

void ChunkWriter::EndChunk() {
    if (open_.empty()) return;
    size_t at = open_.back();
    open_.pop_back();
    PutU32(bytes_, at, static_cast<uint32_t>(bytes_.size() - (at + 4)));
}

IOResult ChunkWriter::Write(const void* data, ULONG bytes, ULONG* written) {
    bytes_.append(static_cast<const char*>(data), bytes);
    if (written) *written = bytes;
    return IO_OK;
}

ChunkReader::~ChunkReader() {
    for (PostLoadCallback* c : callbacks_)
        delete c; // never run
}

IOResult ChunkReader::OpenChunk() {
    size_t end = LevelEnd();
    if (pos_ >= end) return IO_END;
    if (end - pos_ < kHeader) return IO_ERROR;
    auto b = reinterpret_cast<const unsigned char*>(bytes_.data()) + pos_;
    USHORT id = static_cast<USHORT>(b[0] | (b[1] << 8));
    uint32_t len = b[2] | (b[3] << 8) | (b[4] << 16) | (static_cast<uint32_t>(b[5]) << 24);
    if (len > end - pos_ - kHeader) return IO_ERROR;
    pos_ += kHeader;
    open_.push_back({id, pos_ + len});
    return IO_OK;
}

USHORT ChunkReader::CurChunkID() { return open_.empty() ? 0 : open_.back().id; }

IOResult ChunkReader::Read(void* data, ULONG bytes, ULONG* read) {
    size_t avail = LevelEnd() - pos_;
    size_t n = std::min<size_t>(bytes, avail);
    std::memcpy(data, bytes_.data() + pos_, n);
    pos_ += n;
    if (read) *read = static_cast<ULONG>(n);
    return n == bytes ? IO_OK : IO_ERROR;
}

IOResult ChunkReader::CloseChunk() {
    if (open_.empty()) return IO_ERROR;
    pos_ = open_.back().end;
    open_.pop_back();
    return IO_OK;
}

void ChunkReader::RegisterPostLoadCallback(PostLoadCallback* callback) {
    if (callback) callbacks_.push_back(callback);
}

void ChunkReader::RunPostLoadCallbacks() {
    std::vector<PostLoadCallback*> run;
    run.swap(callbacks_);
    std::stable_sort(run.begin(), run.end(),
                     [](PostLoadCallback* a, PostLoadCallback* b) { return a->Priority() < b->Priority(); });
    for (PostLoadCallback* c : run)
        c->proc(this);
}

} // namespace vm
