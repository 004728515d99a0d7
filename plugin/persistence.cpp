// Saving the two flags with the scene, the missing-file warning after loading, asset enumeration.
#include "plugin/tessarin.h"

namespace {
constexpr USHORT kEnabledChunk = 0x2120;
constexpr USHORT kViewEnabledChunk = 0x2130;

class TessarinPostLoad : public PostLoadCallback {
  public:
    explicit TessarinPostLoad(Tessarin* mod) : mod_(mod) {}
    int Priority() override { return 5; }
    void proc(ILoad*) override {
        mod_->WarnIfCacheMissing();
        delete this;
    }

  private:
    Tessarin* mod_;
};

// A short or failed read leaves the flag as it was rather than half overwritten.
void ReadFlag(ILoad* reader, int& flag) {
    int value = 0;
    ULONG read = 0;
    if (reader->Read(&value, sizeof value, &read) == IO_OK && read == sizeof value) flag = value;
}

void WriteFlag(ISave* writer, USHORT id, int value) {
    ULONG written = 0;
    writer->BeginChunk(id);
    writer->Write(&value, sizeof value, &written);
    writer->EndChunk();
}
} // namespace

void Tessarin::WarnIfCacheMissing() {
    if (!pblock || !savedEnabled) return;
    const char* name = CacheFileName();
    if (!name || !Player::OpenCacheFile(name).empty()) return;
    Interface* core = GetCOREInterface();
    CStr text;
    if (core->QuietMode()) {
        text.printf("%s: %s", LookupString(346), name);
        core->LogEntry(SYSLOG_ERROR, FALSE, nullptr, "%s", text.data());
    } else {
        text.printf("%s %s", LookupString(346), name);
        MessageBoxA(core->MainWindowHandle(), text, nullptr, MB_ICONERROR | MB_OK);
    }
    statusCode = status_missing;
}

int Tessarin::Save(ISave* writer) {
    Modifier::Save(writer);
    savedEnabled = TestAFlag(A_MOD_DISABLED) ? 0 : 1;
    savedViewEnabled = TestAFlag(A_MOD_DISABLED_INVIEWS) ? 0 : 1;
    WriteFlag(writer, kEnabledChunk, savedEnabled);
    WriteFlag(writer, kViewEnabledChunk, savedViewEnabled);
    return IO_OK;
}

int Tessarin::Load(ILoad* reader) {
    reader->RegisterPostLoadCallback(new TessarinPostLoad(this));
    Modifier::Load(reader);
    savedEnabled = 1;
    savedViewEnabled = 1;
    while (reader->OpenChunk() == IO_OK) {
        switch (reader->CurChunkID()) {
        case kEnabledChunk: ReadFlag(reader, savedEnabled); break;
        case kViewEnabledChunk: ReadFlag(reader, savedViewEnabled); break;
        default: break;
        }
        reader->CloseChunk();
    }
    return IO_OK;
}

void Tessarin::EnumAuxFiles(NameEnumCallback& callback, DWORD flags) {
    if (const char* name = CacheFileName()) {
        if (!Player::OpenCacheFile(name).empty()) {
            if (!(flags & FILE_ENUM_MISSING_ONLY)) callback.RecordName(name);
        } else if (flags & FILE_ENUM_MISSING_ONLY) {
            callback.RecordName(name);
        }
    }
    for (int i = 0; i < NumRefs(); ++i)
        if (ReferenceTarget* r = GetReference(i)) r->EnumAuxFiles(callback, flags);
}
