// Stack control, the panel, persistence and the script interface.
#include "plugin/fixture.h"
#include "runtime/chunks.h"
#include "runtime/function_publishing.h"

namespace {
using testing_support::PluginTest;

class Editing : public PluginTest {
  protected:
    // Tessarin on top of `a` in the node's first derived object, `b` and `c` in a second one below.
    void BuildStack() {
        mod = NewTessarin();
        a = new vm::Trim({});
        b = new vm::Trim({});
        c = new vm::Trim({});
        world = new vm::Trim({});
        auto* tri = new TriObject();
        tri->mesh.setNumVerts(2);
        node = scene_.AddNode("n", tri);
        auto* lower = new IDerivedObject();
        lower->SetInputObject(tri);
        lower->AddModifier(c, 0);
        lower->AddModifier(b, 0);
        auto* upper = new IDerivedObject();
        upper->SetInputObject(lower);
        upper->AddModifier(a, 0);
        upper->AddModifier(mod, 0);
        node->SetObjectReference(upper);
        scene_.WorldDerivedObjectOf(node)->AddModifier(world);
    }
    std::vector<ReferenceTarget*> ChangeSenders() {
        std::vector<ReferenceTarget*> s;
        for (auto& n : vm::Record().notifications)
            if (n.message == 80 && n.part == 0x80003fff) s.push_back(n.sender);
        return s;
    }
    const char* CacheFile() { return CacheFileOf(mod); }
    ScriptedTessarin* mod = nullptr;
    Modifier *a = nullptr, *b = nullptr, *c = nullptr, *world = nullptr;
    INode* node = nullptr;
};

TEST_F(Editing, DisableSwitchesOffEverythingBelowAcrossDerivedObjects) {
    BuildStack();
    vm::Record().Clear();
    mod->SetModifiersBelowEnabled(false);
    for (Modifier* m : {a, b, c})
        EXPECT_FALSE(m->IsEnabled());
    EXPECT_TRUE(mod->IsEnabled());
    EXPECT_TRUE(world->IsEnabled()) << "world-space modifiers are never changed";
    EXPECT_EQ(ChangeSenders(), (std::vector<ReferenceTarget*>{a, b, c}));
    const auto& last = vm::Record().notifications.back();
    EXPECT_EQ(last.sender, mod);
    EXPECT_EQ(last.message, 529);
    EXPECT_EQ(last.part, 0x800037ffu);
    ASSERT_EQ(vm::Record().redraws.size(), 1u);
    EXPECT_EQ(vm::Record().redraws[0].flags, 8u);
    c->ClearAFlag(A_MOD_DISABLED);
    mod->SetModifiersBelowEnabled(false); // twice: flags stay set, notifications come again
    EXPECT_FALSE(c->IsEnabled());
    EXPECT_EQ(ChangeSenders().size(), 6u);
    mod->SetModifiersBelowEnabled(true);
    for (Modifier* m : {a, b, c})
        EXPECT_TRUE(m->IsEnabled());
}

TEST_F(Editing, AtTheBottomNothingChangesButTheRedrawAndNotification) {
    mod = NewTessarin();
    auto* above = new vm::Trim({});
    node = AddNode("n", 1, {mod, above});
    vm::Record().Clear();
    mod->SetModifiersBelowEnabled(false);
    EXPECT_TRUE(above->IsEnabled());
    EXPECT_TRUE(ChangeSenders().empty());
    EXPECT_EQ(vm::Record().notifications.back().message, 529);
    EXPECT_EQ(vm::Record().redraws.size(), 1u);
    ScriptedTessarin* orphan = NewTessarin();
    orphan->SetModifiersBelowEnabled(false); // no node: nothing at all
    EXPECT_EQ(vm::Record().redraws.size(), 1u);
    orphan->DeleteThis();
}

TEST_F(Editing, PanelInitialisationShowsTheFileAndHidesTheRelativeControls) {
    BuildStack();
    SetFile(mod, "/caches/shots/walk.sel");
    LeaveStatus(mod, node, status_count_mismatch);
    vm::Record().Clear();
    scene_.BeginEdit(mod);
    ASSERT_NE(mod->Panel(), nullptr);
    EXPECT_EQ(module::editInterface, &scene_);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1010)->text, "walk.sel");
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, LookupString(345));
    for (int id : {1005, 1494, 1500, 1012})
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(mod->Panel(), id))) << id;
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(mod->Panel(), 1007)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(mod->Panel(), 1495))) << "quality follows accumulateSelection";
    scene_.EndEdit();
    EXPECT_EQ(mod->Panel(), nullptr);
    EXPECT_EQ(module::editInterface, nullptr);
    SetFile(mod, Path("x.sel"));
    WriteBytes(Path("x.sel"), sel::EncodeFile(1, Samples({{0.5f, 0.5f}})));
    LeaveStatus(mod, node, status_missing);
    scene_.EvaluateNode(node, 0, 0); // without a panel: the code stays, the file is open
    scene_.BeginEdit(mod);
    EXPECT_EQ(mod->StatusCode(), 0) << "code 3 with an open file clears";
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, "");
}

TEST_F(Editing, ButtonsRecordTheirScriptLines) {
    BuildStack();
    mod->pblock->SetParamValue(pb_end_time, 0, 1.0f);
    scene_.BeginEdit(mod);
    vm::Panel* panel = vm::PanelOfWindow(mod->Panel());
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1010)->text, "<none>");
    panel->Click(1003); // no file: the save dialog is cancelled
    ASSERT_EQ(vm::Record().macroLines.size(), 2u);
    EXPECT_EQ(vm::Record().macroLines[0].line, "$.modifiers[#Tessarin].SetCache");
    EXPECT_EQ(vm::Record().macroLines[1].line, "$.modifiers[#Tessarin].Record");
    EXPECT_EQ(vm::Record().filePrompts.size(), 1u);
    panel->Click(1002);
    EXPECT_EQ(vm::Record().macroLines.size(), 2u) << "Set Cache records no line";
    panel->Click(1008);
    EXPECT_FALSE(a->IsEnabled());
    panel->Click(1007);
    EXPECT_TRUE(a->IsEnabled());
    EXPECT_EQ(vm::Record().macroLines[2].line, "$.modifiers[#Tessarin].DisableMods");
    EXPECT_EQ(vm::Record().macroLines[3].line, "$.modifiers[#Tessarin].EnableMods");
    panel->Click(1006);
    EXPECT_EQ(vm::Record().macroLines.size(), 4u);
}

TEST_F(Editing, ScriptFunctionsResolveByNameAndRecordNoLines) {
    BuildStack();
    ClassDesc2* cd = module::ClassDescriptor();
    EXPECT_EQ(vm::CallScriptFunction(mod, cd, "DisableMods").status, 1);
    EXPECT_FALSE(b->IsEnabled());
    EXPECT_EQ(vm::CallScriptFunction(mod, cd, "enableMods").status, 1);
    EXPECT_TRUE(b->IsEnabled());
    EXPECT_TRUE(vm::Record().macroLines.empty());
    EXPECT_FALSE(vm::CallScriptFunction(mod, cd, "explode").found);
    provider_.saveAnswers = {Path("scripted.sel")};
    mod->pblock->SetParamValue(pb_end_time, 0, 1.0f);
    vm::CallScriptFunction(mod, cd, "record");
    EXPECT_EQ(vm::Record().filePrompts.back().owner, nullptr);
    EXPECT_TRUE(std::filesystem::exists(Path("scripted.sel")));
}

TEST_F(Editing, RecordLinesComeBeforeTheDialogAndFollowTheFileName) {
    // remembers how many macro lines existed when a file dialog opened
    struct Watching : vm::ScriptedInteraction {
        size_t linesAtPrompt = 0;
        bool AskFile(bool save, const OPENFILENAMEA& r, std::string& path) override {
            linesAtPrompt = vm::Record().macroLines.size();
            return ScriptedInteraction::AskFile(save, r, path);
        }
    } watching;
    BuildStack();
    mod->pblock->SetParamValue(pb_end_time, 0, 1.0f);
    scene_.BeginEdit(mod);
    vm::SetInteraction(&watching);
    vm::Panel* panel = vm::PanelOfWindow(mod->Panel());
    panel->Click(1003);
    EXPECT_EQ(watching.linesAtPrompt, 2u) << "both lines before the save dialog, which is cancelled";
    SetFile(mod, ""); // empty text is unset too
    panel->Click(1003);
    ASSERT_EQ(vm::Record().macroLines.size(), 4u);
    EXPECT_EQ(vm::Record().macroLines[2].line, "$.modifiers[#Tessarin].SetCache");
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1010)->text, "<none>");
    SetFile(mod, Path("x.sel"));
    size_t prompts = vm::Record().filePrompts.size();
    panel->Click(1003);
    ASSERT_EQ(vm::Record().macroLines.size(), 5u) << "a set file: the Record line alone";
    EXPECT_EQ(vm::Record().macroLines[4].line, "$.modifiers[#Tessarin].Record");
    EXPECT_EQ(vm::Record().filePrompts.size(), prompts);
    EXPECT_TRUE(std::filesystem::exists(Path("x.sel")));
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1010)->text, "x.sel");
}

TEST_F(Editing, CommandsFromOtherControlsDoNothing) {
    BuildStack();
    scene_.BeginEdit(mod);
    vm::Panel* panel = vm::PanelOfWindow(mod->Panel());
    vm::Record().Clear();
    ParamMap2UserDlgProc* proc = module::ParamDescriptor()->UserDlgProc();
    for (int id : {1004, 1005, 1006, 1010, 0, 0xffff})
        EXPECT_EQ(proc->DlgProc(0, panel, mod->Panel(), WM_COMMAND, static_cast<WPARAM>(id), 0), 0);
    EXPECT_TRUE(vm::Record().macroLines.empty());
    EXPECT_TRUE(vm::Record().filePrompts.empty());
    EXPECT_TRUE(vm::Record().notifications.empty());
    EXPECT_TRUE(vm::Record().redraws.empty());
    EXPECT_TRUE(a->IsEnabled());
}

TEST_F(Editing, PanelShowsTheStoredStatusCode) {
    BuildStack();
    std::string instancing = LookupString(336), missing = LookupString(346);
    std::string expected[] = {"", instancing, "", missing};
    INode* other = scene_.AddNode("other", new TriObject());
    for (int code : {0, 3, 1}) { // 3 without an open file stays
        if (code == 3) LeaveStatus(mod, node, status_missing);
        if (code == 1) { // a second node with the same modifier
            scene_.DerivedObjectOf(other)->AddModifier(mod);
            scene_.BeginEdit(mod, {node});
            scene_.EvaluateNode(node, 0, 0);
            scene_.EndEdit();
        }
        scene_.BeginEdit(mod);
        EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, expected[code]) << code;
        EXPECT_EQ(mod->StatusCode(), code);
        scene_.EndEdit();
    }
}

TEST_F(Editing, AnEmptyEditNodeListReportsItsAssertionLine) {
    mod = NewTessarin(); // in no node: the edit has no nodes
    scene_.BeginEdit(mod);
    ASSERT_EQ(vm::Record().asserts.size(), 1u);
    EXPECT_EQ(vm::Record().asserts[0].line, 644);
    EXPECT_EQ(vm::Record().asserts[0].file, "tessarin");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(mod->Panel(), 1007))) << "the buttons keep their state";
    vm::Record().Clear();
    mod->SetModifiersBelowEnabled(false);
    ASSERT_EQ(vm::Record().asserts.size(), 1u);
    EXPECT_EQ(vm::Record().asserts[0].line, 711);
    EXPECT_TRUE(vm::Record().redraws.empty());
    EXPECT_TRUE(vm::Record().notifications.empty());
    scene_.EndEdit();
    mod->DeleteThis();
}

TEST_F(Editing, WhileAnotherIsEditedTheNodeComesFromThatEdit) {
    BuildStack();
    ScriptedTessarin* other = NewTessarin();
    Modifier* below = new vm::Trim({});
    AddNode("m", 1, {below, other});
    scene_.BeginEdit(mod);
    vm::Record().Clear();
    other->SetModifiersBelowEnabled(false); // not in the edited node's stack: nothing changes
    for (Modifier* m : {a, b, c, below})
        EXPECT_TRUE(m->IsEnabled());
    EXPECT_TRUE(ChangeSenders().empty());
    EXPECT_EQ(vm::Record().redraws.size(), 1u);
    EXPECT_EQ(vm::Record().notifications.back().sender, other);
    EXPECT_EQ(vm::Record().notifications.back().message, 529);
}

TEST_F(Editing, LowerInTheStackOnlyWhatIsBelowChanges) {
    mod = NewTessarin();
    Modifier *top = new vm::Trim({}), *above = new vm::Trim({}), *under = new vm::Trim({}),
             *offBefore = new vm::Trim({});
    auto* tri = new TriObject();
    node = scene_.AddNode("n", tri);
    auto* lower = new IDerivedObject();
    lower->SetInputObject(tri);
    for (Modifier* m : {offBefore, under, static_cast<Modifier*>(mod), above})
        lower->AddModifier(m, 0);
    auto* upper = new IDerivedObject();
    upper->SetInputObject(lower);
    upper->AddModifier(top, 0);
    node->SetObjectReference(upper);
    offBefore->SetAFlag(A_MOD_DISABLED);
    mod->SetModifiersBelowEnabled(true);
    EXPECT_TRUE(offBefore->IsEnabled()) << "enable clears a flag set before any disable";
    mod->SetModifiersBelowEnabled(false);
    EXPECT_TRUE(top->IsEnabled());
    EXPECT_TRUE(above->IsEnabled());
    EXPECT_FALSE(under->IsEnabled());
    EXPECT_FALSE(offBefore->IsEnabled());
}

TEST_F(Editing, DispatchByFunctionId) {
    BuildStack();
    auto* fpi = static_cast<TessarinInterface*>(mod);
    FPValue result;
    EXPECT_EQ(fpi->Dispatch(fn_disableMods, 0, result, nullptr), 1);
    EXPECT_FALSE(b->IsEnabled());
    EXPECT_EQ(fpi->Dispatch(fn_enableMods, 0, result, nullptr), 1);
    EXPECT_TRUE(b->IsEnabled());
    EXPECT_EQ(fpi->Dispatch(fn_setCache, 0, result, nullptr), 1); // the open dialog is cancelled
    EXPECT_FALSE(vm::Record().filePrompts.back().save);
    EXPECT_EQ(fpi->Dispatch(fn_record, 0, result, nullptr), 1); // no file: the save dialog, cancelled
    EXPECT_TRUE(vm::Record().filePrompts.back().save);
    EXPECT_EQ(vm::Record().filePrompts.size(), 2u);
}

TEST_F(Editing, SaveAndLoadTheTwoFlags) {
    BuildStack();
    mod->SetAFlag(A_MOD_DISABLED);
    vm::ChunkWriter writer;
    mod->Save(&writer);
    ScriptedTessarin* loaded = NewTessarin();
    SetFile(loaded, Path("gone.sel"));
    vm::ChunkReader reader(writer.Bytes());
    loaded->Load(&reader);
    reader.RunPostLoadCallbacks();
    EXPECT_TRUE(vm::Record().messageBoxes.empty()) << "switched off at save: no warning";
    vm::ChunkReader old(""); // a scene from before the chunks
    loaded->Load(&old);
    old.RunPostLoadCallbacks();
    ASSERT_EQ(vm::Record().messageBoxes.size(), 1u);
    EXPECT_EQ(vm::Record().messageBoxes[0].text, "Warning: Cache file not found  " + Path("gone.sel"));
    EXPECT_EQ(loaded->StatusCode(), status_missing);
    scene_.SetQuiet(true);
    vm::ChunkReader quiet("");
    loaded->Load(&quiet);
    quiet.RunPostLoadCallbacks();
    ASSERT_EQ(vm::Record().log.size(), 1u);
    EXPECT_EQ(vm::Record().log[0].text, "Warning: Cache file not found : " + Path("gone.sel"));
    EXPECT_EQ(vm::Record().messageBoxes.size(), 1u);
    loaded->DeleteThis();
}

TEST_F(Editing, AssetEnumerationReportsTheStoredName) {
    struct Names : NameEnumCallback {
        std::vector<std::string> names;
        void RecordName(const char* n) override { names.push_back(n); }
    };
    mod = NewTessarin();
    Names none;
    mod->EnumAuxFiles(none, 0);
    EXPECT_TRUE(none.names.empty());
    WriteBytes(Path("here.sel"), "x");
    scene_.SetDirectory(2, dir_.string());
    SetFile(mod, "/elsewhere/here.sel"); // found only in the fallback folder
    Names present, missingOnly;
    mod->EnumAuxFiles(present, 0);
    mod->EnumAuxFiles(missingOnly, FILE_ENUM_MISSING_ONLY);
    EXPECT_EQ(present.names, std::vector<std::string>{"/elsewhere/here.sel"});
    EXPECT_TRUE(missingOnly.names.empty());
    SetFile(mod, "/elsewhere/gone.sel");
    Names missing;
    mod->EnumAuxFiles(missing, FILE_ENUM_MISSING_ONLY);
    EXPECT_EQ(missing.names, std::vector<std::string>{"/elsewhere/gone.sel"});
    mod->DeleteThis();
}
} // namespace
