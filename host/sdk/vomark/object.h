// Objects, meshes, modifiers, derived objects and nodes: what a pipeline is made of.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "vomark/ref.h"

class INode;
class ModContext {};

struct Face {
    int v[3] = {0, 0, 0};
};

constexpr int MESH_VERTEX = 2;          // selection level: vertices
constexpr DWORD DISP_VERTTICKS = 0x001; // display of vertex ticks
constexpr DWORD DISP_SELVERTS = 0x400;  // display of the vertex selection

class Mesh {
  public:
    Mesh() = default;
    Mesh(const Mesh&) = default;
    Mesh(Mesh&&) = default;
    // Copies every field into the buffers this mesh already has where they are large enough, so
    // that copying a base mesh into the same evaluation mesh again allocates nothing.
    Mesh& operator=(const Mesh& other);
    Mesh& operator=(Mesh&&) = default;

    int getNumVerts() const { return static_cast<int>(verts.size()); }
    void setNumVerts(int n);
    int getNumFaces() const { return static_cast<int>(faces.size()); }

    // Per-vertex float channels; a channel switched on holds 0.0 for every vertex.
    BOOL vDataSupport(int channel) const;
    void setVDataSupport(int channel, BOOL on = TRUE);
    float* vertexFloat(int channel);

    std::vector<Point3> verts;
    std::vector<Face> faces;
    BitArray vertSel;
    int selLevel = 0;
    DWORD dispFlags = 0;

  private:
    std::map<int, std::vector<float>> vdata_;
};

class BaseObject : public ReferenceTarget {
  public:
    virtual CStr ObjectDisplayName() { return CStr(); }
    virtual void* CreationMouseHandler() { return nullptr; }
};

class Object : public BaseObject {
  public:
    virtual int PointCount() { return 0; }
    // Records how long a channel's content stays valid (channel numbers 0..7).
    void UpdateValidity(int channel, Interval valid);
    void SetChannelInterval(int channel, Interval valid);
    Interval ChannelValidity(int channel) const;

  private:
    Interval validity_[NUM_OBJ_CHANS];
};

class TriObject : public Object {
  public:
    SClass_ID SuperClassCode() override { return GEOMOBJECT_CLASS_ID; }
    Class_ID ClassID() override { return triObjectClassID; }
    int PointCount() override { return mesh.getNumVerts(); }
    Mesh& GetMesh() { return mesh; }
    Mesh mesh;
};

struct ObjectState {
    Object* obj = nullptr;
};

class Modifier : public BaseObject {
  public:
    SClass_ID SuperClassCode() override { return OSM_CLASS_ID; }
    virtual Interval LocalValidity(TimeValue t) { return FOREVER(); }
    virtual ULONG ChannelsRead() { return 0; }
    virtual ULONG ChannelsWritten() { return 0; }
    virtual Class_ID InputClass() { return triObjectClassID; }
    virtual int ChangesTopology() { return 1; }
    virtual int HasMapping() { return 0; }
    virtual void SetGenerateMapping(int flag) {}
    virtual void EvaluateMesh(TimeValue t, ModContext& context, ObjectState* holder, INode* node) = 0;
    bool IsEnabled() const { return !TestAFlag(A_MOD_DISABLED); }

    CStr name; // the modifier's name in its stack
};

// A pipeline stage: modifiers (index 0 the topmost) applied to an input object.
class IDerivedObject : public Object {
  public:
    explicit IDerivedObject(SClass_ID code = GEN_DERIVOB_CLASS_ID) : code_(code) {}
    ~IDerivedObject() override;
    SClass_ID SuperClassCode() override { return code_; }
    int ModifierCount() const { return static_cast<int>(mods_.size()); }
    Modifier* ModifierAt(int i) const;
    Object* InputObject() const { return input_; }
    void SetInputObject(Object* input);
    // Inserts at `index` (0 = top; -1 or past the end = bottom). False, and nothing taken, when this is
    // a world-space derived object and `mod` may not sit in it (`Accepts`).
    bool AddModifier(Modifier* mod, int index = 0);
    // A world-space derived object takes world-space modifiers and the host's own ones, never a
    // loaded plug-in's object-space modifier: such a modifier works on the object's own pipeline
    // (stack control, for one, relies on it sitting there). An object-space one takes all.
    bool Accepts(Modifier* mod);

    int NumRefs() override { return 1 + ModifierCount(); }
    ReferenceTarget* GetReference(int i) override;
    void SetReference(int i, ReferenceTarget* target) override;

  private:
    SClass_ID code_;
    Object* input_ = nullptr;
    std::vector<Modifier*> mods_;
};

class INode : public ReferenceTarget {
  public:
    explicit INode(std::string name) : name_(std::move(name)) {}
    ~INode() override;
    SClass_ID SuperClassCode() override { return BASENODE_CLASS_ID; }
    const char* GetName() const { return name_.c_str(); }
    Object* ObjectReference() const { return objectRef_; }
    void SetObjectReference(Object* object);
    IDerivedObject* WorldSpaceDerivedObject() const { return wsm_; }
    void SetWorldSpaceDerivedObject(IDerivedObject* derived);

    int NumRefs() override { return 2; }
    ReferenceTarget* GetReference(int i) override;
    void SetReference(int i, ReferenceTarget* target) override;

  private:
    std::string name_;
    Object* objectRef_ = nullptr;
    IDerivedObject* wsm_ = nullptr;
};
