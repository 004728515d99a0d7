// Switching the modifiers below this one in its node's stack off and on.
#include "plugin/tessarin.h"

INode* Tessarin::FindOwningNode(int line, INodeTab& nodes, bool& release) {
    release = false;
    if (IObjParam* ip = module::editInterface) {
        ModContextList contexts;
        ip->CollectEditContexts(contexts, nodes);
        contexts.Free();
        if (nodes.Count() == 0) {
            assert1(line, "tessarin");
            return nullptr;
        }
        release = true;
        return nodes[0];
    }
    NodeCollector collector;
    EnumDependents(&collector);
    INode* node = collector.nodes.Count() > 0 ? collector.nodes[0] : nullptr;
    collector.nodes.Free();
    return node;
}

void Tessarin::SetModifiersBelowEnabled(bool enable) {
    INodeTab nodes;
    bool release = false;
    INode* node = FindOwningNode(711, nodes, release);
    if (!node) return;
    bool aboveSelf = true;
    // aboveSelf carries across derived objects: only what lies below this modifier changes
    auto visit = [&](IDerivedObject* d) {
        for (int i = 0; i < d->ModifierCount(); ++i) {
            Modifier* m = d->ModifierAt(i);
            if (!aboveSelf) {
                if (enable)
                    m->ClearAFlag(A_MOD_DISABLED);
                else
                    m->SetAFlag(A_MOD_DISABLED);
                m->NotifyDependents(Interval(TIME_NegInfinity, TIME_PosInfinity), PART_ALL, REFMSG_CHANGE,
                                    NOTIFY_ALL, TRUE, nullptr);
            }
            if (d->ModifierAt(i) == this) aboveSelf = false;
        }
    };
    Object* object = node->ObjectReference();
    if (IDerivedObject* ws = node->WorldSpaceDerivedObject()) visit(ws);
    while (object && object->SuperClassCode() == GEN_DERIVOB_CLASS_ID) {
        auto* d = static_cast<IDerivedObject*>(object);
        visit(d);
        object = d->InputObject();
    }
    if (release) module::editInterface->ReleaseNodeList(nodes);
    Interface* core = GetCOREInterface();
    core->RedrawViewports(core->CurrentTime(), VP_DONT_SIMPLIFY, nullptr);
    NotifyDependents(Interval(TIME_NegInfinity, TIME_PosInfinity), 0x800037ff,
                     REFMSG_NUM_SUBOBJECTTYPES_CHANGED, NOTIFY_ALL, TRUE, nullptr);
}
