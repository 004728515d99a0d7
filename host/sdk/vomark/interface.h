// The host's core interface, the edit interface and custom controls.
#pragma once
#include "vomark/object.h"

// Ticks per frame of the current scene (positive).
extern "C" int GetTicksPerFrame();

using INodeTab = Tab<INode*>;
using ModContextList = Tab<ModContext*>;

constexpr DWORD SYSLOG_ERROR = 1;
constexpr DWORD SYSLOG_WARN = 2;
constexpr DWORD SYSLOG_INFO = 4;
constexpr DWORD SYSLOG_DEBUG = 8;
constexpr DWORD VP_DONT_SIMPLIFY = 8;

class Interface {
  public:
    virtual ~Interface() = default;
    virtual TimeValue CurrentTime() = 0;
    virtual Interval AnimationRange() = 0;
    virtual HWND MainWindowHandle() = 0;
    virtual BOOL QuietMode() = 0;
    // Adds an entry to the host's log.
    virtual void LogEntry(DWORD type, BOOL dialog, const char* title, const char* format, ...) = 0;
    // A configured directory of the host by index; "" when it is not configured.
    virtual const char* HostDirectory(int which) = 0;
    virtual void RedrawViewports(TimeValue t, DWORD flags, ReferenceTarget* changed) = 0;
    // Evaluates the node's pipeline at t, once per call; the state stays valid until the next call.
    virtual ObjectState EvaluateNode(INode* node, TimeValue t, int flag) = 0;
};

// The interface a modifier gets while it is being edited.
class IObjParam : public Interface {
  public:
    // The contexts and nodes of the modifier being edited; release the nodes with ReleaseNodeList.
    virtual void CollectEditContexts(ModContextList& contexts, INodeTab& nodes) = 0;
    virtual void ReleaseNodeList(INodeTab& nodes) = 0;
};

extern "C" Interface* GetCOREInterface();

class ICustButton {
  public:
    virtual ~ICustButton() = default;
    virtual void SetEnabled(BOOL enabled) = 0;
    virtual BOOL IsEnabled() = 0;
    virtual void SetCaption(const char* caption) = 0;
};

ICustButton* GetICustButton(HWND control);
void ReleaseICustButton(ICustButton* button);
extern "C" void InitCustomControls(HINSTANCE instance);
