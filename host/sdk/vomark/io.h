// Scene files: chunk writer and reader, post-load callbacks, asset enumeration.
#pragma once
#include "vomark/core.h"

using USHORT = unsigned short;
using IOResult = int;
constexpr IOResult IO_OK = 0;
constexpr IOResult IO_END = 1;
constexpr IOResult IO_ERROR = 2;

class ILoad;

class ISave {
  public:
    virtual ~ISave() = default;
    virtual void BeginChunk(USHORT id) = 0;
    virtual void EndChunk() = 0;
    virtual IOResult Write(const void* data, ULONG bytes, ULONG* written) = 0;
};

class PostLoadCallback {
  public:
    virtual ~PostLoadCallback() = default;
    virtual void proc(ILoad* reader) = 0;
    // 0 is the highest priority and runs first, 9 the lowest and runs last; callbacks of equal
    // priority run in the order they were registered.
    virtual int Priority() { return 5; }
};

class ILoad {
  public:
    virtual ~ILoad() = default;
    // IO_OK with the next chunk open, IO_END when this level has no more chunks.
    virtual IOResult OpenChunk() = 0;
    virtual USHORT CurChunkID() = 0;
    virtual IOResult Read(void* data, ULONG bytes, ULONG* read) = 0;
    virtual IOResult CloseChunk() = 0;
    // The host runs each registered callback once after the whole scene is loaded, highest priority
    // (smallest number) first.
    virtual void RegisterPostLoadCallback(PostLoadCallback* callback) = 0;
};

constexpr DWORD FILE_ENUM_MISSING_ONLY = 0x100;

class NameEnumCallback {
  public:
    virtual ~NameEnumCallback() = default;
    virtual void RecordName(const char* name) = 0;
};
