// References, dependents, notifications, pipeline evaluation and the built-in selection modifiers.
#include <gtest/gtest.h>

#include "runtime/builtin_modifiers.h"
#include "runtime/host_record.h"
#include "runtime/scene.h"

namespace {
// Appends its tag to the channel-0 weight of vertex 0, so the order of evaluation shows.
class Tagger : public Modifier {
  public:
    explicit Tagger(float tag) : tag_(tag) {}
    void EvaluateMesh(TimeValue, ModContext&, ObjectState* os, INode*) override {
        Mesh& m = static_cast<TriObject*>(os->obj)->GetMesh();
        if (!m.vDataSupport(0)) m.setVDataSupport(0);
        m.vertexFloat(0)[0] = m.vertexFloat(0)[0] * 10 + tag_;
        ++calls;
    }
    int calls = 0;

  private:
    float tag_;
};

// The same, of a world-space modifier class.
class WorldTagger : public Tagger {
  public:
    using Tagger::Tagger;
    SClass_ID SuperClassCode() override { return WSM_CLASS_ID; }
};

TriObject* Mesh3() {
    auto* tri = new TriObject();
    tri->mesh.setNumVerts(3);
    tri->mesh.faces.push_back({{0, 1, 2}});
    return tri;
}

struct Nodes : DependentEnumProc {
    std::vector<ReferenceMaker*> seen;
    int proc(ReferenceMaker* d) override {
        seen.push_back(d);
        return 0;
    }
};

TEST(Pipeline, EvaluatesEnabledModifiersBottomUpOnACopy) {
    vm::Scene scene;
    INode* node = scene.AddNode("n", Mesh3());
    IDerivedObject* d = scene.DerivedObjectOf(node);
    auto *bottom = new Tagger(1), *middle = new Tagger(2), *top = new Tagger(3);
    d->AddModifier(bottom, 0);
    d->AddModifier(middle, 0);
    d->AddModifier(top, 0);
    EXPECT_EQ(d->ModifierAt(0), top);
    EXPECT_EQ(d->ModifierAt(2), bottom);
    auto* world = new WorldTagger(4);
    ASSERT_TRUE(scene.WorldDerivedObjectOf(node)->AddModifier(world));
    ObjectState os = scene.EvaluateNode(node, 0, 0);
    EXPECT_FLOAT_EQ(static_cast<TriObject*>(os.obj)->mesh.vertexFloat(0)[0], 1234.0f);
    middle->SetAFlag(A_MOD_DISABLED);
    os = scene.EvaluateNode(node, 0, 0);
    EXPECT_FLOAT_EQ(static_cast<TriObject*>(os.obj)->mesh.vertexFloat(0)[0], 134.0f);
    EXPECT_FALSE(static_cast<TriObject*>(vm::Scene::BaseObjectOf(node))->mesh.vDataSupport(0))
        << "the base mesh is untouched";
    EXPECT_EQ(middle->calls, 1);
}

TEST(Pipeline, EveryEvaluationStartsFromTheBaseMeshAsItIsNow) {
    vm::Scene scene;
    TriObject* base = Mesh3();
    INode* node = scene.AddNode("n", base);
    auto* tagger = new Tagger(1);
    scene.DerivedObjectOf(node)->AddModifier(tagger);
    scene.EvaluateNode(node, 0, 0);
    // the next evaluation reuses the last one's buffers: nothing of its result may show through
    base->mesh.setNumVerts(2);
    base->mesh.vertSel.Set(1);
    tagger->SetAFlag(A_MOD_DISABLED);
    Mesh& m = static_cast<TriObject*>(scene.EvaluateNode(node, 0, 0).obj)->mesh;
    EXPECT_EQ(m.getNumVerts(), 2);
    EXPECT_EQ(m.vertSel.GetSize(), 2);
    EXPECT_EQ(m.vertSel[1], 1);
    EXPECT_FALSE(m.vDataSupport(0)) << "the channel the modifier added last time is gone";
    base->mesh.setVDataSupport(0);
    base->mesh.vertexFloat(0)[1] = 0.5f;
    tagger->ClearAFlag(A_MOD_DISABLED);
    Mesh& again = static_cast<TriObject*>(scene.EvaluateNode(node, 0, 0).obj)->mesh;
    EXPECT_FLOAT_EQ(again.vertexFloat(0)[0], 1.0f);
    EXPECT_FLOAT_EQ(again.vertexFloat(0)[1], 0.5f);
}

TEST(Pipeline, TheWorldSpaceStackRefusesAPluginsObjectSpaceModifier) {
    vm::Scene scene;
    INode* node = scene.AddNode("n", Mesh3());
    IDerivedObject* world = scene.WorldDerivedObjectOf(node);
    auto* objectSpace = new Tagger(1);
    EXPECT_FALSE(world->AddModifier(objectSpace));
    EXPECT_EQ(world->ModifierCount(), 0);
    Nodes holders;
    objectSpace->EnumDependents(&holders);
    EXPECT_TRUE(holders.seen.empty()) << "a refused modifier is not taken";
    EXPECT_TRUE(scene.DerivedObjectOf(node)->AddModifier(objectSpace)) << "its own place takes it";
    // world-space classes and the host's own selection modifiers sit in either part
    EXPECT_TRUE(world->AddModifier(new WorldTagger(2)));
    EXPECT_TRUE(world->AddModifier(new vm::Trim({})));
    EXPECT_EQ(world->ModifierCount(), 2);
}

TEST(References, InstancedModifierFindsEachNodeOnce) {
    vm::Scene scene;
    INode* a = scene.AddNode("a", Mesh3());
    INode* b = scene.AddNode("b", Mesh3());
    auto* shared = new Tagger(1);
    scene.DerivedObjectOf(a)->AddModifier(shared);
    scene.DerivedObjectOf(b)->AddModifier(shared);
    scene.WorldDerivedObjectOf(a); // another route to node a must not list it twice
    Nodes nodes;
    shared->EnumDependents(&nodes);
    int nodeCount = 0;
    for (ReferenceMaker* m : nodes.seen)
        nodeCount += m->SuperClassCode() == BASENODE_CLASS_ID;
    EXPECT_EQ(nodeCount, 2);
    EXPECT_EQ(nodes.seen.size(), 4u) << "two derived objects and two nodes";
    scene.EvaluateNode(a, 0, 0);
    scene.EvaluateNode(b, 0, 0);
    EXPECT_EQ(shared->calls, 2);
}

TEST(References, NotificationsAreRecordedAndReplacedTargetsDeleted) {
    vm::Record().Clear();
    vm::Scene scene;
    INode* node = scene.AddNode("n", Mesh3());
    auto* mod = new Tagger(1);
    scene.DerivedObjectOf(node)->AddModifier(mod);
    mod->NotifyDependents(Interval(TIME_NegInfinity, TIME_PosInfinity), 0x80003fff, 80, 0xfffffff0, TRUE,
                          nullptr);
    ASSERT_EQ(vm::Record().notifications.size(), 1u);
    const auto& n = vm::Record().notifications[0];
    EXPECT_EQ(n.sender, mod);
    EXPECT_EQ(n.message, 80);
    EXPECT_EQ(n.part, 0x80003fffu);
    EXPECT_EQ(n.interval, FOREVER());
    // replacing the node's object drops the old pipeline with its modifier
    node->SetObjectReference(Mesh3());
    EXPECT_EQ(node->ObjectReference()->SuperClassCode(), GEOMOBJECT_CLASS_ID);
}

Mesh Evaluate(Modifier* mod, TimeValue t, int verts = 4) {
    TriObject tri;
    tri.mesh.setNumVerts(verts);
    for (int i = 0; i < verts; ++i)
        tri.mesh.verts[static_cast<size_t>(i)] = {float(i), 0, 0};
    tri.mesh.faces = {{{0, 1, 2}}, {{1, 2, 3}}};
    ObjectState os{&tri};
    ModContext mc;
    mod->EvaluateMesh(t, mc, &os, nullptr);
    return tri.mesh;
}

TEST(BuiltinModifiers, SelectKeysHoldsEachKeyUntilTheNext) {
    vm::SelectKeys keys({{160, {2}, std::nullopt}, {0, {1}, std::vector<float>{0.2f, 0.0f, 0.5f, 0.25f}}});
    EXPECT_EQ(Evaluate(&keys, -1).vertSel.NumberSet(), 0);
    EXPECT_FALSE(Evaluate(&keys, -1).vDataSupport(0)) << "before the first key the mesh passes unchanged";
    Mesh m = Evaluate(&keys, 100);
    EXPECT_EQ(m.vertSel[1], 1);
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[3], 0.25f);
    m = Evaluate(&keys, 160);
    EXPECT_EQ(m.vertSel[1], 0);
    EXPECT_EQ(m.vertSel[2], 1);
    EXPECT_FALSE(m.vDataSupport(0)) << "a key without weights leaves channel 0 as it came";
}

TEST(BuiltinModifiers, SoftSelectSelectsInsideTheRadiusAndFallsOffSmoothly) {
    vm::SoftSelect soft({{0, {0, 0, 0}}, {100, {10, 0, 0}}}, 1.0f, 2.0f);
    Mesh m = Evaluate(&soft, 0);
    EXPECT_EQ(m.vertSel[0], 1);
    EXPECT_EQ(m.vertSel[1], 1);
    EXPECT_GT(m.vertexFloat(0)[2], 0.0f);
    EXPECT_LT(m.vertexFloat(0)[2], 1.0f);
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[3], 0.0f);
    EXPECT_FLOAT_EQ(soft.CenterAt(50).x, 5.0f);
    EXPECT_FLOAT_EQ(soft.CenterAt(500).x, 10.0f);
}

TEST(BuiltinModifiers, TrimDropsVerticesAndTheirFaces) {
    vm::Trim trim({{0, 3}, {10, 9}});
    Mesh m = Evaluate(&trim, 5);
    EXPECT_EQ(m.getNumVerts(), 3);
    EXPECT_EQ(m.getNumFaces(), 1);
    EXPECT_EQ(Evaluate(&trim, 10).getNumVerts(), 4) << "a count above the mesh's leaves it whole";
}
} // namespace
