// The Tessarin modifier: records the per-vertex selection weights of a triangle mesh into a cache
// file and plays them back onto the mesh's vertex selection.
#pragma once
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "plugin/engine/player.h"
#include "plugin/engine/recorder.h"
#include "sel/records.h"
#include "vomark/sdk.h"

using sel::SampleRecord;

constexpr Class_ID TESSARIN_CLASS_ID(0x21d07ae1, 0x48d30bff);
constexpr Interface_ID TESSARIN_INTERFACE_ID(0x53b4409b, 0x18ee7ff8);

// Parameters of the block "params".
enum TessarinParam : int {
    pb_time = 0,
    pb_start_time = 1,
    pb_end_time = 2,
    pb_samples = 3,
    pb_cache_file = 5,
    pb_relative_offset = 7,
    pb_strength = 8,
    pb_selection_type = 10,
    pb_accumulate = 11,
    pb_quality = 12,
};

// Functions of the script interface "tessarin".
enum TessarinFunction : int { fn_record = 0, fn_setCache = 1, fn_enableMods = 2, fn_disableMods = 3 };

// Status line messages.
enum StatusCode : int {
    status_none = 0,
    status_instanced = 1,
    status_count_mismatch = 2,
    status_missing = 3
};

// Module-wide state: one copy per loaded module, shared by every instance.
namespace module {
extern HINSTANCE moduleInstance;
extern int controlsReady;
extern char stringBuffer[256];
extern IObjParam* editInterface;
extern char loadPathBuffer[256];
extern char savePathBuffer[256];
// Allocates the three sample buffers (calloc's contract); a test may swap it to make loading fail.
extern void* (*sampleAllocator)(size_t count, size_t size);
ClassDesc2* ClassDescriptor();
FPInterfaceDesc* InterfaceDescriptor();
ParamBlockDesc2* ParamDescriptor();
} // namespace module

// Text of string `id` of the module's table in the one shared buffer (valid until the next
// lookup), or null before the attach hook has run or for an id the table lacks.
const char* LookupString(unsigned id);

// Lists the scene nodes among a modifier's dependents, in enumeration order.
class NodeCollector : public DependentEnumProc {
  public:
    int proc(ReferenceMaker* dependent) override;
    INodeTab nodes;
};

class Tessarin : public Modifier {
  public:
    Tessarin();
    ~Tessarin() override;

    // Host operations.
    void ClassDisplayName(CStr& name) override;
    Class_ID ClassID() override { return TESSARIN_CLASS_ID; }
    SClass_ID SuperClassCode() override { return OSM_CLASS_ID; }
    void DeleteThis() override { delete this; }
    void BeginEditParams(IObjParam* ip, ULONG flags, Animatable* prev) override;
    void EndEditParams(IObjParam* ip, ULONG flags, Animatable* next) override;
    int SubAnimCount() override { return 1; }
    Animatable* SubAnimAt(int) override { return pblock; }
    CStr SubAnimName(int) override;
    int ParamBlockCount() override { return 1; }
    IParamBlock2* ParamBlockAt(int) override { return pblock; }
    IParamBlock2* ParamBlockById(BlockID id) override;
    int Save(ISave* writer) override;
    int Load(ILoad* reader) override;
    int NumRefs() override { return 1; }
    ReferenceTarget* GetReference(int) override { return pblock; }
    void SetReference(int, ReferenceTarget* target) override;
    void EnumAuxFiles(NameEnumCallback& callback, DWORD flags) override;
    int ReferenceChanged(Interval, ReferenceTarget*, ULONG, int, BOOL) override { return REF_SUCCEED; }
    ReferenceTarget* Clone(RemapDir& remap) override;
    void* CreationMouseHandler() override { return nullptr; }
    CStr ObjectDisplayName() override;
    int ChangesTopology() override { return 0; }
    int HasMapping() override { return 1; }
    void SetGenerateMapping(int) override {}
    Interval LocalValidity(TimeValue t) override { return Interval(t, t); }
    ULONG ChannelsRead() override { return SELECT_CHANNEL | SUBSEL_TYPE_CHANNEL; }
    ULONG ChannelsWritten() override { return SELECT_CHANNEL | SUBSEL_TYPE_CHANNEL; }
    void EvaluateMesh(TimeValue t, ModContext& context, ObjectState* holder, INode* node) override;
    Class_ID InputClass() override { return triObjectClassID; }

    // The cache_file parameter at time 0, or null when it names no file: unset and "" alike, so
    // that playback, the post-load warning, asset enumeration and the panel agree on what is a name.
    const char* CacheFileName();

    // Records over the range the parameters give, into cache_file (asking for a name when it names
    // none); `panelWindow` shows the progress, and owns the dialogs.
    void Record(HWND panelWindow);
    // What the status line shows (0 none, or a StatusCode), also while no panel is open.
    int StatusCode() const { return statusCode; }
    // The window of the open panel, or null.
    HWND Panel() const { return panel; }
    // The two flags the scene file keeps (chunks 0x2120 and 0x2130): whether the modifier was on
    // when saved, and on in the viewports; 1 when the scene did not hold them.
    int SavedEnabled() const { return savedEnabled; }
    int SavedViewEnabled() const { return savedViewEnabled; }

    // Stack control (plugin/stack_control.cpp).
    INode* FindOwningNode(int line, INodeTab& nodes, bool& release);
    void SetModifiersBelowEnabled(bool enable);

    // Cache file dialogs (plugin/ui/).
    void ChooseCacheFile(HWND owner);
    void ChooseRecordFile(HWND owner);

    IParamBlock2* pblock = nullptr; // reference 0, which the host sets

    // The panel's dialog procedure hands over its window when the panel opens.
    void AttachPanel(HWND window);
    // After a scene loads: warns (a message box, or the host's log in quiet mode) when the cache
    // of a modifier saved switched on cannot be found.
    void WarnIfCacheMissing();

  private:
    // Evaluation (plugin/engine/playback.cpp, capture.cpp).
    void PlaybackWeights(TimeValue t, TriObject* object);
    void CaptureWeights(TimeValue t, TriObject* object);
    void WriteWeights(TimeValue t, Mesh& mesh, const sel::play::Played& played);
    // Shows string `id` in the status line of the open panel and sets statusCode.
    void ShowStatus(int id, int code);
    // Recorder steps (plugin/engine/recorder.cpp).
    bool RecordFrames(const struct RecordRun& run, HWND panelWindow);
    void AdoptRecordedPath(const CStr& path, HWND panelWindow);

    Player player;
    Recorder recorder;
    int savedEnabled = 1;
    int savedViewEnabled = 1;
    int statusCode = status_none;
    int suppressPlayback = 0;
    int incomingCount = 0;
    int relativeOffset = 0;
    float strength = 0.0f;
    CStr defaultExtension;
    CStr filterPattern;
    CStr filterName;
    HWND panel = nullptr;
};

// The script interface "tessarin", implemented by every instance.
class TessarinInterface : public FPMixinInterface {
  public:
    ~TessarinInterface() override;
    BaseInterface* GetInterface(Interface_ID id) override;
    Interface_ID GetID() override { return TESSARIN_INTERFACE_ID; }
    int AddInterfaceObserver(InterfaceNotifyCallback* observer) override;
    void RemoveInterfaceObserver(InterfaceNotifyCallback* observer) override;
    int Dispatch(FunctionID fid, TimeValue t, FPValue& result, FPParams* params) override;
    FPInterfaceDesc* GetDesc() override { return module::InterfaceDescriptor(); }
    virtual void record() = 0;
    virtual void setCache() = 0;
    virtual void enableMods() = 0;
    virtual void disableMods() = 0;

  private:
    Tab<InterfaceNotifyCallback*>* observers_ = nullptr;
};

class ScriptedTessarin : public Tessarin, public TessarinInterface {
  public:
    BaseInterface* GetInterface(Interface_ID id) override;
    Interface_ID GetID() override { return TESSARIN_INTERFACE_ID; }
    void DeleteThis() override { delete this; }
    void record() override;
    void setCache() override;
    void enableMods() override;
    void disableMods() override;
};

class TessarinClassDesc : public ClassDesc2 {
  public:
    ~TessarinClassDesc() override = default;
    int IsPublic() override { return 1; }
    Animatable* CreateInstance(BOOL loading = FALSE) override;
    const char* ClassName() override { return LookupString(3); }
    SClass_ID SuperClassCode() override { return OSM_CLASS_ID; }
    Class_ID ClassID() override { return TESSARIN_CLASS_ID; }
    const char* Category() override { return LookupString(2); }
    const char* InternalName() override { return "Tessarin"; }
    HINSTANCE HInstance() override { return module::moduleInstance; }
};

// Panel services (plugin/ui/).
void RefreshPanel(Tessarin* mod, HWND window);
