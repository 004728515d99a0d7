// Checked values inside scene-file chunks, and the fences around a plug-in's own chunks.
#include "runtime/scene_io.h"

#include <cstdio>
#include <cstring>

namespace vm {
namespace {
std::string Hex4(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04x", v);
    return buf;
}
} // namespace

void SceneInput::Fail(const std::string& why, size_t at) const {
    std::string where;
    for (USHORT id : path_)
        where += (where.empty() ? "" : " > ") + Hex4(id);
    throw SceneFileError(file_ + ": byte " + std::to_string(at) + ": " + why +
                             (where.empty() ? "" : " (in chunk " + where + ")"),
                         at);
}

bool SceneInput::Open() {
    size_t at = r_.Offset(), left = r_.Left();
    switch (r_.OpenChunk()) {
    case IO_OK:
        path_.push_back(r_.CurChunkID());
        starts_.push_back(at);
        return true;
    case IO_END: return false;
    default: break;
    }
    if (left < 6) Fail("chunk header cut short: " + std::to_string(left) + " of its 6 bytes are there", at);
    auto b = reinterpret_cast<const unsigned char*>(r_.Bytes().data()) + at;
    uint32_t len = b[2] | (b[3] << 8) | (b[4] << 16) | (static_cast<uint32_t>(b[5]) << 24);
    Fail("chunk " + Hex4(static_cast<unsigned>(b[0] | (b[1] << 8))) + " claims " + std::to_string(len) +
             " bytes but only " + std::to_string(left - 6) + " are left",
         at);
}

void SceneInput::Close() {
    r_.CloseChunk();
    path_.pop_back();
    starts_.pop_back();
}

void SceneInput::Need(size_t bytes, const char* what) {
    if (r_.Left() < bytes)
        Fail(std::string(what) + " needs " + std::to_string(bytes) + " bytes but only " +
             std::to_string(r_.Left()) + " are left");
}

void SceneInput::Raw(void* out, size_t bytes) {
    Need(bytes, "a value");
    ULONG got = 0;
    r_.Read(out, static_cast<ULONG>(bytes), &got);
}

uint8_t SceneInput::U8() {
    uint8_t v = 0;
    Raw(&v, 1);
    return v;
}

uint32_t SceneInput::U32() {
    unsigned char b[4];
    Raw(b, 4);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

float SceneInput::F32() {
    uint32_t bits = U32();
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}

double SceneInput::F64() {
    uint64_t lo = U32(), hi = U32();
    uint64_t bits = lo | (hi << 32);
    double v;
    std::memcpy(&v, &bits, 8);
    return v;
}

std::string SceneInput::Str() {
    uint32_t n = Count(1, "a text");
    std::string s(n, '\0');
    if (n) Raw(s.data(), n);
    return s;
}

uint32_t SceneInput::Count(size_t bytesEach, const char* what) {
    size_t at = r_.Offset();
    uint32_t n = U32();
    if (bytesEach && n > r_.Left() / bytesEach)
        Fail(std::string(what) + " count " + std::to_string(n) + " needs at least " +
                 std::to_string(static_cast<uint64_t>(n) * bytesEach) + " bytes but only " +
                 std::to_string(r_.Left()) + " are left",
             at);
    return n;
}

void SceneInput::Done() {
    if (r_.Left()) Fail(std::to_string(r_.Left()) + " unexpected bytes at the end of the chunk");
}

void PutU8(ISave& w, uint8_t v) { w.Write(&v, 1, nullptr); }

void PutU32(ISave& w, uint32_t v) {
    unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    w.Write(b, 4, nullptr);
}

void PutF32(ISave& w, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    PutU32(w, bits);
}

void PutF64(ISave& w, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    PutU32(w, static_cast<uint32_t>(bits));
    PutU32(w, static_cast<uint32_t>(bits >> 32));
}

void PutStr(ISave& w, const std::string& s) {
    PutU32(w, static_cast<uint32_t>(s.size()));
    w.Write(s.data(), static_cast<ULONG>(s.size()), nullptr);
}

FencedWriter::~FencedWriter() {
    while (depth_ > 0)
        EndChunk();
}

void FencedWriter::BeginChunk(USHORT id) {
    ++depth_;
    inner_.BeginChunk(id);
}

void FencedWriter::EndChunk() {
    if (depth_ == 0) return;
    --depth_;
    inner_.EndChunk();
}

IOResult FencedWriter::Write(const void* data, ULONG bytes, ULONG* written) {
    return inner_.Write(data, bytes, written);
}

FencedReader::~FencedReader() {
    while (depth_ > 0)
        CloseChunk();
}

IOResult FencedReader::OpenChunk() {
    if (empty_) return IO_END;
    IOResult r = inner_.OpenChunk();
    if (r == IO_OK) ++depth_;
    return r;
}

USHORT FencedReader::CurChunkID() { return empty_ ? 0 : inner_.CurChunkID(); }

IOResult FencedReader::Read(void* data, ULONG bytes, ULONG* read) {
    if (empty_) {
        if (read) *read = 0;
        return bytes ? IO_ERROR : IO_OK;
    }
    return inner_.Read(data, bytes, read);
}

IOResult FencedReader::CloseChunk() {
    if (depth_ == 0) return IO_ERROR;
    --depth_;
    return inner_.CloseChunk();
}

void FencedReader::RegisterPostLoadCallback(PostLoadCallback* callback) {
    inner_.RegisterPostLoadCallback(callback);
}

} // namespace vm
