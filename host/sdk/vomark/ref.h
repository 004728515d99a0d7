// Animation and reference bases: flag word, sub-anims, references with automatic dependents,
// change notification, dependent enumeration and cloning through a remap directory.
#pragma once
#include <map>
#include <vector>

#include "vomark/core.h"

class ReferenceTarget;
class ReferenceMaker;
class IParamBlock2;
class IObjParam;
class ISave;
class ILoad;
class NameEnumCallback;

// Base of everything reachable through an interface id.
class BaseInterface {
  public:
    virtual ~BaseInterface() = default;
    virtual BaseInterface* GetInterface(Interface_ID id) { return nullptr; }
    virtual Interface_ID GetID() { return Interface_ID(); }
};

constexpr int REF_SUCCEED = 1;
constexpr int REF_FAIL = 0;
constexpr int REF_STOP = 2;
constexpr int REFMSG_CHANGE = 80;
constexpr int REFMSG_NUM_SUBOBJECTTYPES_CHANGED = 529;
constexpr SClass_ID NOTIFY_ALL = 0xfffffff0;
constexpr ULONG PART_ALL = 0x80003fff;

// Animatable flag word bits the host itself looks at.
constexpr DWORD A_MOD_DISABLED = 0x20;
constexpr DWORD A_MOD_DISABLED_INVIEWS = 0x200;

class Animatable : public BaseInterface {
  public:
    Animatable() = default;
    Animatable(const Animatable&) = delete;
    Animatable& operator=(const Animatable&) = delete;
    ~Animatable() override = default;

    virtual void ClassDisplayName(CStr& name) { name = ""; }
    virtual Class_ID ClassID() { return Class_ID(0, 0); }
    virtual SClass_ID SuperClassCode() { return 0; }
    virtual void DeleteThis() { delete this; }
    virtual void BeginEditParams(IObjParam* ip, ULONG flags, Animatable* prev) {}
    virtual void EndEditParams(IObjParam* ip, ULONG flags, Animatable* next) {}
    virtual int SubAnimCount() { return 0; }
    virtual Animatable* SubAnimAt(int i) { return nullptr; }
    virtual CStr SubAnimName(int i) { return CStr(); }
    virtual int ParamBlockCount() { return 0; }
    virtual IParamBlock2* ParamBlockAt(int i) { return nullptr; }
    virtual IParamBlock2* ParamBlockById(BlockID id) { return nullptr; }
    virtual void EnumAuxFiles(NameEnumCallback& callback, DWORD flags) {}

    void SetAFlag(DWORD mask) { flags_ |= mask; }
    void ClearAFlag(DWORD mask) { flags_ &= ~mask; }
    bool TestAFlag(DWORD mask) const { return (flags_ & mask) != 0; }
    DWORD FlagWord() const { return flags_; }

  private:
    DWORD flags_ = 0;
};

class ReferenceMaker : public Animatable {
  public:
    ~ReferenceMaker() override;

    virtual int NumRefs() { return 0; }
    virtual ReferenceTarget* GetReference(int i) { return nullptr; }
    virtual void SetReference(int i, ReferenceTarget* target) {}
    // A referenced item changed; the answer decides whether the change goes further up.
    virtual int ReferenceChanged(Interval changeInt, ReferenceTarget* target, ULONG partID, int message,
                                 BOOL propagate) {
        return REF_SUCCEED;
    }
    virtual int Save(ISave* writer) { return 0; }
    virtual int Load(ILoad* reader) { return 0; }

    // Points reference `which` at target, making this a dependent of it. The old target loses
    // this dependent and, with deleteOld, is deleted when nobody references it any more.
    int ReplaceReference(int which, ReferenceTarget* target, BOOL deleteOld = TRUE);
    void DeleteAllRefs();
    // Drops every reference and then deletes this object.
    void DeleteMe();

  private:
    friend class ReferenceTarget;
    void Forget(ReferenceTarget* target);
    std::vector<ReferenceTarget*> held_;
};

class DependentEnumProc {
  public:
    virtual ~DependentEnumProc() = default;
    // Answer 0 to go on, non-zero to stop the enumeration.
    virtual int proc(ReferenceMaker* dependent) = 0;
};

class RemapDir {
  public:
    virtual ~RemapDir() = default;
    // The clone of `old` made during this clone operation, made now if there is none yet.
    virtual ReferenceTarget* CloneRef(ReferenceTarget* old);
    ReferenceTarget* FindMapping(ReferenceTarget* old) const;
    void AddEntry(ReferenceTarget* old, ReferenceTarget* clone) { map_[old] = clone; }

  private:
    std::map<ReferenceTarget*, ReferenceTarget*> map_;
};

class ReferenceTarget : public ReferenceMaker {
  public:
    ~ReferenceTarget() override;

    virtual ReferenceTarget* Clone(RemapDir& remap) { return nullptr; }
    void BaseClone(ReferenceTarget* from, ReferenceTarget* to, RemapDir& remap);

    // Tells every dependent (transitively while they answer REF_SUCCEED and propagate is set).
    int NotifyDependents(Interval changeInt, ULONG partID, int message, SClass_ID sclass = NOTIFY_ALL,
                         BOOL propagate = TRUE, ReferenceTarget* target = nullptr);
    // Visits every direct and indirect dependent once, nearest first.
    int EnumDependents(DependentEnumProc* proc);
    const std::vector<ReferenceMaker*>& Dependents() const { return dependents_; }

  private:
    friend class ReferenceMaker;
    std::vector<ReferenceMaker*> dependents_;
};
