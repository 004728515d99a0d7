// Function publishing: interface descriptors, mixin interfaces and the macro recorder.
#pragma once
#include <string>
#include <vector>

#include "vomark/iparamb2.h"

constexpr int TYPE_VOID = 25;
constexpr ULONG FP_MIXIN = 2;
constexpr int FPS_NO_SUCH_FUNCTION = -1;
constexpr int FPS_OK = 1;

struct FPValue {
    int type = TYPE_VOID;
};
struct FPParams {};

class FPInterfaceDesc;

class InterfaceNotifyCallback {
  public:
    virtual ~InterfaceNotifyCallback() = default;
    virtual void InterfaceDeleted(BaseInterface* bi) = 0;
};

class FPInterface : public BaseInterface {
  public:
    virtual int AddInterfaceObserver(InterfaceNotifyCallback* observer) { return 0; }
    virtual void RemoveInterfaceObserver(InterfaceNotifyCallback* observer) {}
    virtual int Dispatch(FunctionID fid, TimeValue t, FPValue& result, FPParams* params) {
        return FPS_NO_SUCH_FUNCTION;
    }
    virtual FPInterfaceDesc* GetDesc() = 0;
};

struct FPFunctionDef {
    FunctionID id = 0;
    std::string internalName;
    int localName = 0;
    int resultType = TYPE_VOID;
    int flags = 0;
    int paramCount = 0;
};

class FPInterfaceDesc : public FPInterface {
  public:
    // id, internal name, translated name id, class descriptor, interface flags; then one entry
    // per function (id, internal name, translated name id, result type, flags, parameter count),
    // closed by p_end.
    FPInterfaceDesc(Interface_ID id, const char* internalName, int localName, ClassDesc2* cd, ULONG flags,
                    ...);
    Interface_ID GetID() override { return id_; }
    FPInterfaceDesc* GetDesc() override { return this; }
    const char* InternalName() const { return internalName_.c_str(); }
    ULONG Flags() const { return flags_; }
    ClassDesc2* Owner() const { return cd_; }
    const std::vector<FPFunctionDef>& Functions() const { return functions_; }
    // Script names resolve without regard to case.
    const FPFunctionDef* FindFunction(const char* name) const;

  private:
    Interface_ID id_;
    std::string internalName_;
    ClassDesc2* cd_;
    ULONG flags_;
    std::vector<FPFunctionDef> functions_;
};

// Interface implemented by each instance of a class.
class FPMixinInterface : public FPInterface {
  public:
    // (0,1), (0,2), (0,3): the interface itself; (0,4): its descriptor.
    BaseInterface* GetInterface(Interface_ID id) override;
};

class MacroRecorder {
  public:
    virtual ~MacroRecorder() = default;
    virtual void RecordScriptCall(const char* line, int positionalArgs, int keywordArgs) = 0;
};
extern "C" MacroRecorder* macroRecorder;
