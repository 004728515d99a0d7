// The module's exports, string lookup, class descriptor, parameter block and the modifier object.
#include "plugin/fixture.h"

extern "C" {
const char* LibDescription();
int LibNumberClasses();
ClassDesc2* LibClassDesc(int);
ULONG LibVersion();
}

namespace {
using testing_support::PluginTest;

TEST_F(PluginTest, ExportsAnswerAsTheHostExpects) {
    EXPECT_STREQ(LibDescription(), "Disk Cache Modifier (Quorrel)");
    EXPECT_EQ(LibNumberClasses(), 1);
    EXPECT_EQ(LibClassDesc(0), LibClassDesc(0));
    EXPECT_EQ(LibClassDesc(1), nullptr);
    EXPECT_EQ(LibClassDesc(-1), nullptr);
    EXPECT_EQ(LibVersion(), 393219328u);
    ClassDesc2* cd = LibClassDesc(0);
    EXPECT_STREQ(cd->ClassName(), "Tessarin");
    EXPECT_STREQ(cd->Category(), "VOMARK ADDITIONAL");
    EXPECT_STREQ(cd->InternalName(), "Tessarin");
    EXPECT_EQ(cd->SuperClassCode(), 0x810u);
    EXPECT_EQ(cd->ClassID(), Class_ID(0x21d07ae1, 0x48d30bff));
    EXPECT_EQ(cd->IsPublic(), 1);
}

TEST_F(PluginTest, LookupSharesOneBufferAndFailsSafely) {
    const char* a = LookupString(3);
    const char* b = LookupString(4);
    EXPECT_EQ(a, b);
    EXPECT_STREQ(a, "Parameters");
    EXPECT_EQ(LookupString(1000), nullptr);
    EXPECT_STREQ(LookupString(346), "Warning: Cache file not found ");
    HINSTANCE saved = module::moduleInstance;
    module::moduleInstance = nullptr;
    EXPECT_EQ(LookupString(3), nullptr) << "before the attach hook";
    EXPECT_EQ(LibDescription(), nullptr);
    module::moduleInstance = saved;
}

TEST_F(PluginTest, LaterAttachCallsKeepTheInstanceButInitialiseOnce) {
    HINSTANCE other = vm::MakeModuleInstance(&VomarkModuleResources, "again");
    HINSTANCE saved = module::moduleInstance;
    EXPECT_EQ(DllMain(other, DLL_THREAD_ATTACH, nullptr), TRUE);
    EXPECT_EQ(module::moduleInstance, other);
    EXPECT_EQ(vm::Record().customControlsInits, 0);
    EXPECT_EQ(vm::Record().commonControlsInits, 0);
    EXPECT_EQ(module::controlsReady, 1);
    DllMain(saved, DLL_THREAD_DETACH, nullptr);
}

TEST_F(PluginTest, ParameterDescriptionMatchesTheBlockLayout) {
    ParamBlockDesc2* d = module::ParamDescriptor();
    EXPECT_STREQ(d->InternalName(), "params");
    EXPECT_EQ(d->Flags(), 6);
    EXPECT_EQ(d->DialogId(), 102);
    ASSERT_EQ(d->Count(), 10);
    const int order[] = {0, 1, 2, 3, 5, 7, 8, 11, 12, 10};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(d->ParamAt(i).id, order[i]);
    for (ParamID missing : {4, 6, 9})
        EXPECT_EQ(d->FindParam(missing), nullptr);
    const ParamDef* strength = d->FindParam(pb_strength);
    EXPECT_EQ(strength->flags, 0x21);
    EXPECT_DOUBLE_EQ(strength->scale, 0.10000000149011612);
    EXPECT_EQ(d->FindParam(pb_relative_offset)->enables, std::vector<ParamID>{pb_strength});
    EXPECT_EQ(d->FindParam(pb_accumulate)->enables, std::vector<ParamID>{pb_quality});
    EXPECT_EQ(d->FindParam(pb_selection_type)->items, (std::vector<int>{353, 354, 355}));
    EXPECT_EQ(d->FindParam(pb_selection_type)->flags, 0);
}

TEST_F(PluginTest, NewInstanceHasDefaultsAndTheSceneRangeInWholeFrames) {
    scene_.SetAnimationRange(Interval(-100, 250));
    ScriptedTessarin* t = NewTessarin();
    Interval valid;
    float f = -1;
    int n = -1;
    const char* s = "x";
    t->pblock->GetParamValue(pb_start_time, 0, f, valid);
    EXPECT_EQ(f, 0.0f);
    t->pblock->GetParamValue(pb_end_time, 0, f, valid);
    EXPECT_EQ(f, 1.0f);
    t->pblock->GetParamValue(pb_time, 0, f, valid);
    EXPECT_EQ(f, 0.0f);
    t->pblock->GetParamValue(pb_strength, 0, f, valid);
    EXPECT_EQ(f, 1.0f);
    t->pblock->GetParamValue(pb_samples, 0, n, valid);
    EXPECT_EQ(n, 1);
    t->pblock->GetParamValue(pb_quality, 0, n, valid);
    EXPECT_EQ(n, 1);
    t->pblock->GetParamValue(pb_cache_file, 0, s, valid);
    EXPECT_EQ(s, nullptr);
    t->pblock->SetParamValue(pb_samples, 0, 11);
    t->pblock->GetParamValue(pb_samples, 0, n, valid);
    EXPECT_EQ(n, 10);
    t->pblock->SetParamValue(pb_strength, 0, -20.0f);
    t->pblock->GetParamValue(pb_strength, 0, f, valid);
    EXPECT_EQ(f, -10.0f);
    t->DeleteThis();
}

TEST_F(PluginTest, ConstantAnswersIgnoreTheIndex) {
    ScriptedTessarin* t = NewTessarin();
    EXPECT_EQ(t->GetReference(5), t->pblock);
    EXPECT_EQ(t->SubAnimAt(3), t->pblock);
    EXPECT_EQ(t->ParamBlockAt(7), t->pblock);
    EXPECT_STREQ(t->SubAnimName(9), "Parameters");
    EXPECT_EQ(t->ParamBlockById(0), t->pblock);
    EXPECT_EQ(t->ParamBlockById(1), nullptr);
    EXPECT_EQ(t->LocalValidity(480), Interval(480, 480));
    EXPECT_EQ(t->ChannelsRead(), 0x30u);
    EXPECT_EQ(t->ChannelsWritten(), 0x30u);
    EXPECT_EQ(t->ChangesTopology(), 0);
    EXPECT_EQ(t->HasMapping(), 1);
    EXPECT_EQ(t->InputClass(), triObjectClassID);
    CStr name;
    t->ClassDisplayName(name);
    EXPECT_STREQ(name, "Tessarin");
    EXPECT_STREQ(t->ObjectDisplayName(), "Tessarin");
    t->DeleteThis();
}

TEST_F(PluginTest, InterfaceLookupsByIdentity) {
    ScriptedTessarin* t = NewTessarin();
    auto* fpi = static_cast<TessarinInterface*>(t);
    EXPECT_EQ(t->GetInterface(TESSARIN_INTERFACE_ID), fpi);
    EXPECT_EQ(t->GetInterface(Interface_ID(0, 1)), fpi);
    EXPECT_EQ(t->GetInterface(Interface_ID(0, 3)), fpi);
    EXPECT_EQ(t->GetInterface(Interface_ID(0, 4)), module::InterfaceDescriptor());
    EXPECT_EQ(t->GetInterface(Interface_ID(1, 1)), nullptr);
    EXPECT_EQ(module::ClassDescriptor()->GetInterface(TESSARIN_INTERFACE_ID), module::InterfaceDescriptor());
    FPValue result;
    EXPECT_EQ(fpi->Dispatch(4, 0, result, nullptr), -1);
    EXPECT_EQ(fpi->Dispatch(-1, 0, result, nullptr), -1);
    t->DeleteThis();
}

TEST_F(PluginTest, CloneCopiesOnlyTheParameters) {
    ScriptedTessarin* t = NewTessarin();
    std::string path = Path("a.sel");
    WriteBytes(path, sel::EncodeFile(1, Samples({{0.5f}})));
    SetFile(t, path);
    t->pblock->SetParamValue(pb_strength, 0, 2.5f);
    INode* node = AddNode("n", 1, {t});
    LeaveStatus(t, node, status_missing);
    RemapDir remap;
    auto* c = static_cast<ScriptedTessarin*>(t->Clone(remap));
    EXPECT_EQ(c->StatusCode(), 0);
    EXPECT_NE(c->pblock, t->pblock);
    Interval valid;
    const char* s = nullptr;
    float f = 0;
    c->pblock->GetParamValue(pb_cache_file, 0, s, valid);
    EXPECT_STREQ(s, path.c_str());
    c->pblock->GetParamValue(pb_strength, 0, f, valid);
    EXPECT_EQ(f, 2.5f);
    c->pblock->SetParamValue(pb_strength, 0, 1.0f);
    t->pblock->GetParamValue(pb_strength, 0, f, valid);
    EXPECT_EQ(f, 2.5f) << "the blocks are not shared";
    EXPECT_NE(c->GetInterface(TESSARIN_INTERFACE_ID), nullptr);
    c->DeleteThis();
    t->DeleteThis();
}

TEST_F(PluginTest, ObserversAreToldOnceEachInOrderWhenTheInstanceGoes) {
    struct Obs : InterfaceNotifyCallback {
        std::vector<int>* log;
        int id;
        Obs(std::vector<int>* l, int i) : log(l), id(i) {}
        void InterfaceDeleted(BaseInterface*) override { log->push_back(id); }
    };
    std::vector<int> log;
    Obs a(&log, 1), b(&log, 2);
    ScriptedTessarin* t = NewTessarin();
    t->AddInterfaceObserver(&a);
    t->AddInterfaceObserver(&b);
    t->AddInterfaceObserver(&a);
    t->DeleteThis();
    EXPECT_EQ(log, (std::vector<int>{1, 2, 1}));
    NewTessarin()->DeleteThis(); // without observers, and without a file: nothing to release
}
} // namespace
