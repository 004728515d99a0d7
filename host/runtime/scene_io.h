// Checked reading and plain writing of the values inside scene-file chunks, and the fenced reader
// and writer a plug-in's own Save and Load get.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/chunks.h"

namespace vm {

// A scene file that cannot be read; the message is one line: "FILE: byte N: reason (chunk path)".
struct SceneFileError : std::runtime_error {
    SceneFileError(const std::string& message, size_t offset) : std::runtime_error(message), offset(offset) {}
    size_t offset;
};

// Reads values from the open chunk of a ChunkReader. Every read and every count is checked
// against the bytes left in the chunk before anything is taken or allocated; a failure throws
// SceneFileError naming the file, the byte offset and the chunks that were open.
class SceneInput {
  public:
    SceneInput(ChunkReader& reader, std::string fileName) : r_(reader), file_(std::move(fileName)) {}

    // Opens the next chunk of this level: true with it open, false at the end of the level.
    bool Open();
    void Close();
    USHORT Id() const { return path_.empty() ? 0 : path_.back(); }
    // Offset of the open chunk's header.
    size_t ChunkStart() const { return starts_.empty() ? 0 : starts_.back(); }

    uint8_t U8();
    uint32_t U32();
    int32_t I32() { return static_cast<int32_t>(U32()); }
    float F32();
    double F64();
    std::string Str();
    void Raw(void* out, size_t bytes);
    // A count of items of at least `bytesEach` bytes each that must fit in the bytes left.
    uint32_t Count(size_t bytesEach, const char* what);
    // The chunk must hold nothing more.
    void Done();
    size_t Left() const { return r_.Left(); }
    ChunkReader& Reader() { return r_; }

    [[noreturn]] void Fail(const std::string& why) const { Fail(why, r_.Offset()); }
    [[noreturn]] void Fail(const std::string& why, size_t at) const;

  private:
    void Need(size_t bytes, const char* what);
    ChunkReader& r_;
    std::string file_;
    std::vector<USHORT> path_;
    std::vector<size_t> starts_;
};

// Little-endian values written into the open chunk.
void PutU8(ISave& w, uint8_t v);
void PutU32(ISave& w, uint32_t v);
inline void PutI32(ISave& w, int32_t v) { PutU32(w, static_cast<uint32_t>(v)); }
void PutF32(ISave& w, float v);
void PutF64(ISave& w, double v);
void PutStr(ISave& w, const std::string& s);

// What a plug-in's Save sees: chunks it leaves open are closed for it, and it cannot close the
// host's chunk around its data.
class FencedWriter : public ISave {
  public:
    explicit FencedWriter(ISave& inner) : inner_(inner) {}
    ~FencedWriter() override;
    void BeginChunk(USHORT id) override;
    void EndChunk() override;
    IOResult Write(const void* data, ULONG bytes, ULONG* written) override;

  private:
    ISave& inner_;
    int depth_ = 0;
};

// What a plug-in's Load sees: the chunks inside its data chunk only (none when `empty`); chunks it
// leaves open are closed for it.
class FencedReader : public ILoad {
  public:
    FencedReader(ChunkReader& inner, bool empty) : inner_(inner), empty_(empty) {}
    ~FencedReader() override;
    IOResult OpenChunk() override;
    USHORT CurChunkID() override;
    IOResult Read(void* data, ULONG bytes, ULONG* read) override;
    IOResult CloseChunk() override;
    void RegisterPostLoadCallback(PostLoadCallback* callback) override;

  private:
    ChunkReader& inner_;
    bool empty_;
    int depth_ = 0;
};

} // namespace vm
