// Chunked scene files: nested chunks of a 16-bit id, a 32-bit length and the payload.
#pragma once
#include <string>
#include <vector>

#include "vomark/io.h"

namespace vm {

class ChunkWriter : public ISave {
  public:
    void BeginChunk(USHORT id) override;
    void EndChunk() override;
    IOResult Write(const void* data, ULONG bytes, ULONG* written) override;
    const std::string& Bytes() const { return bytes_; }

  private:
    std::string bytes_;
    std::vector<size_t> open_; // offsets of the open chunks' length fields
};

class ChunkReader : public ILoad {
  public:
    explicit ChunkReader(std::string bytes) : bytes_(std::move(bytes)) {}
    ~ChunkReader() override;
    IOResult OpenChunk() override;
    USHORT CurChunkID() override;
    IOResult Read(void* data, ULONG bytes, ULONG* read) override;
    IOResult CloseChunk() override;
    void RegisterPostLoadCallback(PostLoadCallback* callback) override;
    // Runs the registered callbacks once, highest priority (smallest number) first, equal
    // priorities in registration order (each frees itself).
    void RunPostLoadCallbacks();

    // Where the next read starts, and how many bytes are left before the end of the open chunk
    // (of the whole input at the top level).
    size_t Offset() const { return pos_; }
    size_t Left() const { return LevelEnd() - pos_; }
    size_t Depth() const { return open_.size(); }
    const std::string& Bytes() const { return bytes_; }

  private:
    struct Open {
        USHORT id;
        size_t end;
    };
    size_t LevelEnd() const { return open_.empty() ? bytes_.size() : open_.back().end; }
    std::string bytes_;
    size_t pos_ = 0;
    std::vector<Open> open_;
    std::vector<PostLoadCallback*> callbacks_;
};

} // namespace vm
