// The scene and the host's core interface: time settings, directories, nodes, pipeline evaluation
// and the edit session of one modifier.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "vomark/sdk.h"

namespace vm {

class Scene : public IObjParam {
  public:
    Scene();
    ~Scene() override;

    // Interface
    TimeValue CurrentTime() override { return currentTime_; }
    Interval AnimationRange() override { return animRange_; }
    HWND MainWindowHandle() override;
    BOOL QuietMode() override { return quiet_ ? TRUE : FALSE; }
    void LogEntry(DWORD type, BOOL dialog, const char* title, const char* format, ...) override;
    const char* HostDirectory(int which) override;
    void RedrawViewports(TimeValue t, DWORD flags, ReferenceTarget* changed) override;
    ObjectState EvaluateNode(INode* node, TimeValue t, int flag) override;
    // IObjParam
    void CollectEditContexts(ModContextList& contexts, INodeTab& nodes) override;
    void ReleaseNodeList(INodeTab& nodes) override;

    int TicksPerFrame() const { return ticksPerFrame_; }
    void SetTicksPerFrame(int tpf) { ticksPerFrame_ = tpf > 0 ? tpf : 1; }
    void SetAnimationRange(Interval range) { animRange_ = range; }
    void SetCurrentTime(TimeValue t) { currentTime_ = t; }
    void SetQuiet(bool quiet) { quiet_ = quiet; }
    void SetDirectory(int which, std::string dir) { directories_[which] = std::move(dir); }
    const std::map<int, std::string>& Directories() const { return directories_; }

    // A node with `base` as its object; the scene owns the node.
    INode* AddNode(const std::string& name, Object* base);
    INode* FindNode(const std::string& name) const;
    const std::vector<INode*>& Nodes() const { return nodes_; }
    // The node's object-space derived object, made on first use.
    IDerivedObject* DerivedObjectOf(INode* node);
    IDerivedObject* WorldDerivedObjectOf(INode* node);
    // The base object at the bottom of the node's pipeline.
    static Object* BaseObjectOf(INode* node);
    // The node's object-space derived objects, from the top of its pipeline down.
    static std::vector<IDerivedObject*> DerivedObjectsOf(INode* node);
    // Its modifiers: the object-space ones from the top down, then the world-space ones.
    static std::vector<Modifier*> ModifiersOf(INode* node);
    // Asks every modifier and object of every node, each once, for the files it needs.
    void EnumAuxFiles(NameEnumCallback& callback, DWORD flags);

    // Opens the modifier's panel as the host does when the user selects it in the stack;
    // `nodes` are the nodes the edit is for (by default, those that use the modifier).
    void BeginEdit(Animatable* modifier, std::vector<INode*> nodes = {});
    void EndEdit();
    Animatable* EditedObject() const { return edited_; }

    // Called before every pipeline evaluation (for progress displays).
    std::function<void(INode*, TimeValue)> onEvaluate;

  private:
    int ticksPerFrame_ = 160;
    Interval animRange_{0, 100 * 160};
    TimeValue currentTime_ = 0;
    bool quiet_ = false;
    std::map<int, std::string> directories_;
    std::vector<INode*> nodes_;
    std::unordered_map<std::string, INode*> byName_; // the first node of each name: a look-up costs no walk
    std::map<INode*, std::unique_ptr<TriObject>> evaluated_;
    Animatable* edited_ = nullptr;
    std::vector<INode*> editNodes_;
};

// "error", "warning", "info", "debug" for the log's type codes; "log N" for any other.
std::string LogTypeName(DWORD type);

// The scene that GetCOREInterface answers; a default scene exists when none was made active.
Scene& ActiveScene();
void SetActiveScene(Scene* scene);

} // namespace vm
