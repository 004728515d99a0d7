// Parameter blocks: the variadic block description, the per-instance block, the class
// descriptor base and the automatic parameter panel's user dialog procedure.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "vomark/ref.h"

class ClassDesc2;
class ParamBlockDesc2;
namespace vm {
struct ParamBlockFile;
}
class FPInterface;
class IParamMap2;
class IObjParam;

// Parameter types.
constexpr int TYPE_FLOAT = 0;
constexpr int TYPE_INT = 1;
constexpr int TYPE_BOOL = 4;
constexpr int TYPE_STRING = 8;

// Parameter flags.
constexpr int P_ANIMATABLE = 0x01;
constexpr int P_RESET_DEFAULT = 0x20;

// Block flags.
constexpr int P_AUTO_CONSTRUCT = 0x02;
constexpr int P_AUTO_UI = 0x04;

// Keys of a parameter's list.
enum ParamTag : unsigned {
    p_default = 0xc0000000u,
    p_range = 0xc0000002u,
    p_ui = 0xc0000003u,
    p_enable_ctrls = 0xc000000eu,
    p_end = 0xc0000400u,
};

// Control kinds and edit kinds.
constexpr int TYPE_SPINNER = 0;
constexpr int TYPE_SINGLECHEKBOX = 2;
constexpr int TYPE_INTLISTBOX = 13;
constexpr int EDITTYPE_INT = 0;
constexpr int EDITTYPE_FLOAT = 1;

struct ParamDef {
    ParamID id = -1;
    std::string internalName;
    int type = TYPE_FLOAT;
    int flags = 0;
    int localName = 0;
    double defaultFloat = 0.0;
    int defaultInt = 0;
    bool hasRange = false;
    double rangeLow = 0, rangeHigh = 0;
    int controlKind = -1; // -1: no control
    int editKind = EDITTYPE_FLOAT;
    int editId = 0, spinnerId = 0, controlId = 0;
    double scale = 0.0;
    std::vector<int> items; // string ids of a drop-down list
    std::vector<ParamID> enables;
};

class ParamMap2UserDlgProc {
  public:
    virtual ~ParamMap2UserDlgProc() = default;
    virtual INT_PTR DlgProc(TimeValue t, IParamMap2* map, HWND window, UINT message, WPARAM wParam,
                            LPARAM lParam) = 0;
    virtual void DeleteThis() = 0;
    virtual void SetThing(ReferenceTarget* thing) {}
    virtual void Update(TimeValue t) {}
    virtual void SetParamBlock(IParamBlock2* block) {}
    virtual void UpdateMaps() {}
};

class ParamBlockDesc2 {
  public:
    // id, internal name, translated name id, owner, block flags; then, for P_AUTO_CONSTRUCT, the
    // reference number; for P_AUTO_UI, dialog id, title string id, two flag words and the user
    // procedure; then one list per parameter, each closed by p_end, and a final p_end.
    ParamBlockDesc2(BlockID id, const char* internalName, int localName, ClassDesc2* owner, int flags, ...);
    ~ParamBlockDesc2();

    BlockID ID() const { return id_; }
    const char* InternalName() const { return internalName_.c_str(); }
    int Flags() const { return flags_; }
    int RefNumber() const { return refNumber_; }
    int DialogId() const { return dialogId_; }
    int TitleId() const { return titleId_; }
    ClassDesc2* Owner() const { return owner_; }
    int Count() const { return static_cast<int>(params_.size()); }
    const ParamDef& ParamAt(int i) const { return params_[i]; }
    const ParamDef* FindParam(ParamID id) const;
    ParamID FindParamByName(const char* name) const;

    // Installs the user procedure of the open panel (map 0); an open panel gets WM_INITDIALOG.
    void SetUserDlgProc(ParamMap2UserDlgProc* proc);
    ParamMap2UserDlgProc* UserDlgProc() const { return userProc_; }
    // Redisplays the parameter controls of every open panel of this description.
    void InvalidateUI();

  private:
    BlockID id_;
    std::string internalName_;
    int localName_;
    ClassDesc2* owner_;
    int flags_;
    int refNumber_ = -1, dialogId_ = 0, titleId_ = 0, panelFlags1_ = 0, panelFlags2_ = 0;
    ParamMap2UserDlgProc* userProc_ = nullptr;
    std::vector<ParamDef> params_;
};

class IParamBlock2 : public ReferenceTarget {
  public:
    explicit IParamBlock2(ParamBlockDesc2* desc);
    SClass_ID SuperClassCode() override { return PARAMETER_BLOCK2_CLASS_ID; }
    Class_ID ClassID() override { return Class_ID(0x82, 0); }
    ReferenceTarget* Clone(RemapDir& remap) override;

    BlockID ID() const { return desc_->ID(); }
    ParamBlockDesc2* GetDesc() const { return desc_; }

    // Reads narrow `valid` to the value's validity. An unset string reads as null.
    BOOL GetParamValue(ParamID id, TimeValue t, float& value, Interval& valid, int tab = 0);
    BOOL GetParamValue(ParamID id, TimeValue t, int& value, Interval& valid, int tab = 0);
    BOOL GetParamValue(ParamID id, TimeValue t, const char*& value, Interval& valid, int tab = 0);
    // Writes clamp to the parameter's range; an animatable parameter gets a key at t.
    BOOL SetParamValue(ParamID id, TimeValue t, float value, int tab = 0);
    BOOL SetParamValue(ParamID id, TimeValue t, int value, int tab = 0);
    BOOL SetParamValue(ParamID id, TimeValue t, const char* value, int tab = 0);

    int KeyCount(ParamID id) const;

  private:
    friend struct vm::ParamBlockFile; // the host's scene files save and load the values as they are
    struct Value {
        double number = 0.0;
        bool hasString = false;
        std::string text;
        std::vector<std::pair<TimeValue, double>> keys;
    };
    Value* Find(ParamID id, const ParamDef** def);
    double NumberAt(const Value& v, const ParamDef& def, TimeValue t, Interval& valid) const;
    BOOL SetNumber(ParamID id, TimeValue t, double value, bool integral);

    ParamBlockDesc2* desc_;
    std::vector<Value> values_;
};

class ClassDesc2 {
  public:
    virtual ~ClassDesc2();
    virtual int IsPublic() = 0;
    virtual Animatable* CreateInstance(BOOL loading = FALSE) = 0;
    virtual const char* ClassName() = 0;
    virtual SClass_ID SuperClassCode() = 0;
    virtual Class_ID ClassID() = 0;
    virtual const char* Category() = 0;
    virtual const char* InternalName() { return nullptr; }
    virtual HINSTANCE HInstance() { return nullptr; }

    void AddInterface(FPInterface* fpi);
    FPInterface* GetInterface(Interface_ID id);
    int NumInterfaces() const { return static_cast<int>(interfaces_.size()); }
    FPInterface* GetInterfaceAt(int i) const { return interfaces_[i]; }

    void AddParamBlockDesc(ParamBlockDesc2* desc) { blockDescs_.push_back(desc); }
    void RemoveParamBlockDesc(ParamBlockDesc2* desc);
    int NumParamBlockDescs() const { return static_cast<int>(blockDescs_.size()); }
    ParamBlockDesc2* GetParamBlockDesc(int i) const { return blockDescs_[i]; }

    // Builds every P_AUTO_CONSTRUCT block for `owner` and stores it as the owner's reference.
    void MakeAutoParamBlocks(ReferenceMaker* owner);
    // Opens (and closes) the automatic panels of `owner`'s P_AUTO_UI blocks.
    void BeginEditParams(IObjParam* ip, ReferenceMaker* owner, ULONG flags, Animatable* prev);
    void EndEditParams(IObjParam* ip, ReferenceMaker* owner, ULONG flags, Animatable* next);
    void InvalidateUI();
    // Text of a string of the descriptor's module, or "" when there is none.
    const char* GetRsrcString(int id);

  private:
    std::vector<FPInterface*> interfaces_;
    std::vector<ParamBlockDesc2*> blockDescs_;
    std::string rsrcBuffer_;
};

// The map of an open automatic panel.
class IParamMap2 {
  public:
    virtual ~IParamMap2() = default;
    virtual HWND GetHWnd() = 0;
    virtual IParamBlock2* GetParamBlock() = 0;
    virtual void Invalidate() = 0;
};
