// Parameter blocks built from a variadic description.
#include <gtest/gtest.h>

#include "runtime/host_record.h"
#include "runtime/scene.h"
#include "runtime/window.h"

namespace {
class Owner : public ReferenceTarget {
  public:
    int NumRefs() override { return 1; }
    ReferenceTarget* GetReference(int) override { return block; }
    void SetReference(int, ReferenceTarget* t) override { block = static_cast<IParamBlock2*>(t); }
    IParamBlock2* block = nullptr;
};

const ResourceString kStrings[] = {{353, "Replace"}, {354, "Add"}, {355, "Subtract"}};
const ResourceControl kControls[] = {
    {1490, "CustEdit", "", 0, 0, 1, 1, 0x50010000},       {1491, "CustEdit", "", 0, 0, 1, 1, 0x50010000},
    {1497, "SpinnerControl", "", 0, 0, 1, 1, 0x50000000}, {1005, "Button", "On", 0, 0, 1, 1, 0x50010003},
    {1016, "ComboBox", "", 0, 0, 1, 1, 0x50210002},       {1003, "CustButton", "Go", 0, 0, 1, 1, 0x50010000},
};
const ResourceDialog kDialogs[] = {{102, 0x50000040, 100, 100, "MS Sans Serif", 8, kControls, 6}};
const ResourceTable kResources = {kStrings, 3, kDialogs, 1};

struct Proc : ParamMap2UserDlgProc {
    std::vector<std::pair<UINT, WPARAM>> messages;
    bool* deleted;
    explicit Proc(bool* d) : deleted(d) {}
    INT_PTR DlgProc(TimeValue, IParamMap2*, HWND, UINT m, WPARAM w, LPARAM) override {
        messages.push_back({m, w});
        return 0;
    }
    void DeleteThis() override {
        *deleted = true;
        delete this;
    }
};

class Desc : public ClassDesc2 {
  public:
    HINSTANCE HInstance() override {
        static HINSTANCE inst = vm::MakeModuleInstance(&kResources, "params-test");
        return inst;
    }
    int IsPublic() override { return 1; }
    Animatable* CreateInstance(BOOL) override { return nullptr; }
    const char* ClassName() override { return "Owner"; }
    SClass_ID SuperClassCode() override { return OSM_CLASS_ID; }
    Class_ID ClassID() override { return Class_ID(1, 2); }
    const char* Category() override { return ""; }
};

enum { p_speed = 0, p_count = 1, p_on = 2, p_name = 3, p_amount = 5, p_mode = 6 };

// clang-format off
struct ParamBlockTest : ::testing::Test {
    vm::Scene scene;
    Desc cd;
    ParamBlockDesc2 desc{0, "params", 0, &cd, P_AUTO_CONSTRUCT + P_AUTO_UI, 0, 102, 4, 0, 0,
                         static_cast<ParamMap2UserDlgProc*>(nullptr),
                         p_speed, "speed", TYPE_FLOAT, 0x20, 6, p_default, 2.5, p_range, -1.0, 10.0,
                             p_ui, TYPE_SPINNER, EDITTYPE_FLOAT, 1490, 1496, static_cast<double>(0.1f), p_end,
                         p_count, "count", TYPE_INT, 0x20, 7, p_default, 3, p_range, 1, 10,
                             p_ui, TYPE_SPINNER, EDITTYPE_INT, 1491, 1497, 1.0, p_end,
                         p_on, "on", TYPE_BOOL, 0x20, 8, p_ui, TYPE_SINGLECHEKBOX, 1005, p_enable_ctrls, 1, p_count, p_end,
                         p_name, "name", TYPE_STRING, 0x20, 10, p_end,
                         p_amount, "amount", TYPE_FLOAT, P_ANIMATABLE, 11, p_default, 1.0, p_end,
                         p_mode, "mode", TYPE_INT, 0, 12, p_default, 0,
                             p_ui, TYPE_INTLISTBOX, 1016, 3, 353, 354, 355, p_end,
                         p_end};
    // clang-format on
    Owner* owner = new Owner();
    void SetUp() override { cd.MakeAutoParamBlocks(owner); }
    void TearDown() override { owner->DeleteMe(); }
};

TEST_F(ParamBlockTest, DescriptionKeepsEveryKeyedEntry) {
    ASSERT_EQ(desc.Count(), 6);
    const ParamDef* speed = desc.FindParam(p_speed);
    EXPECT_EQ(speed->internalName, "speed");
    EXPECT_EQ(speed->localName, 6);
    EXPECT_DOUBLE_EQ(speed->scale, 0.10000000149011612);
    EXPECT_EQ(speed->editId, 1490);
    EXPECT_EQ(speed->spinnerId, 1496);
    EXPECT_EQ(desc.FindParam(p_on)->enables, std::vector<ParamID>{p_count});
    EXPECT_EQ(desc.FindParam(p_mode)->items, (std::vector<int>{353, 354, 355}));
    EXPECT_EQ(desc.FindParam(4), nullptr);
    EXPECT_EQ(desc.FindParamByName("amount"), p_amount);
    EXPECT_EQ(desc.FindParamByName("nothing"), -1);
    EXPECT_EQ(desc.DialogId(), 102);
    EXPECT_EQ(desc.TitleId(), 4);
}

TEST_F(ParamBlockTest, DefaultsRangesAndTypes) {
    IParamBlock2* b = owner->block;
    ASSERT_NE(b, nullptr);
    Interval valid;
    float f = 0;
    int n = 0;
    const char* s = "x";
    EXPECT_TRUE(b->GetParamValue(p_speed, 0, f, valid));
    EXPECT_FLOAT_EQ(f, 2.5f);
    EXPECT_TRUE(b->GetParamValue(p_count, 0, n, valid));
    EXPECT_EQ(n, 3);
    EXPECT_TRUE(b->GetParamValue(p_name, 0, s, valid));
    EXPECT_EQ(s, nullptr) << "an unset string reads as none";
    b->SetParamValue(p_speed, 0, 99.0f);
    b->GetParamValue(p_speed, 0, f, valid);
    EXPECT_FLOAT_EQ(f, 10.0f);
    b->SetParamValue(p_count, 0, -4);
    b->GetParamValue(p_count, 0, n, valid);
    EXPECT_EQ(n, 1);
    EXPECT_FALSE(b->SetParamValue(p_count, 0, 2.0f)) << "a float does not go into an integer";
    EXPECT_FALSE(b->GetParamValue(4, 0, n, valid));
    EXPECT_FALSE(b->SetParamValue(9, 0, 1));
    b->SetParamValue(p_name, 0, "");
    b->GetParamValue(p_name, 0, s, valid);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "");
}

TEST_F(ParamBlockTest, AnimatableParameterInterpolatesBetweenKeys) {
    IParamBlock2* b = owner->block;
    b->SetParamValue(p_amount, 0, 1.0f);
    b->SetParamValue(p_amount, 160, 3.0f);
    b->SetParamValue(p_speed, 160, 4.0f); // not animatable: one value for all time
    Interval valid;
    float f = 0;
    b->GetParamValue(p_amount, 40, f, valid);
    EXPECT_FLOAT_EQ(f, 1.5f);
    EXPECT_EQ(valid, Interval(40, 40));
    b->GetParamValue(p_amount, -50, f, valid = FOREVER());
    EXPECT_FLOAT_EQ(f, 1.0f);
    b->GetParamValue(p_amount, 900, f, valid = FOREVER());
    EXPECT_FLOAT_EQ(f, 3.0f);
    b->GetParamValue(p_speed, 0, f, valid);
    EXPECT_FLOAT_EQ(f, 4.0f);
    EXPECT_EQ(b->KeyCount(p_amount), 2);
    EXPECT_EQ(b->KeyCount(p_speed), 0);
}

TEST_F(ParamBlockTest, CloneDoesNotShareValues) {
    RemapDir remap;
    auto* copy = static_cast<IParamBlock2*>(remap.CloneRef(owner->block));
    copy->SetParamValue(p_name, 0, "copy.sel");
    Interval valid;
    const char* s = nullptr;
    owner->block->GetParamValue(p_name, 0, s, valid);
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(remap.FindMapping(owner->block), copy);
    copy->DeleteThis();
}

TEST_F(ParamBlockTest, PanelBindsControlsAndHonoursEnableLinks) {
    cd.BeginEditParams(&scene, owner, 0, nullptr);
    ASSERT_EQ(vm::OpenPanels().size(), 1u);
    vm::Panel* panel = vm::OpenPanels()[0].get();
    HWND w = panel->GetHWnd();
    EXPECT_STREQ(GetDlgItem(w, 1491)->text.c_str(), "3");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, 1491))) << "count is linked to the unchecked box";
    EXPECT_FALSE(panel->SetSpinner(1497, 5));
    EXPECT_TRUE(panel->SetCheck(1005, true));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(w, 1491)));
    EXPECT_TRUE(panel->SetSpinner(1497, 5));
    EXPECT_STREQ(GetDlgItem(w, 1491)->text.c_str(), "5");
    EXPECT_EQ(GetDlgItem(w, 1016)->items, (std::vector<std::string>{"Replace", "Add", "Subtract"}));
    EXPECT_TRUE(panel->SelectItem(1016, 2));
    Interval valid;
    int mode = 0;
    owner->block->GetParamValue(p_mode, 0, mode, valid);
    EXPECT_EQ(mode, 2);

    bool deleted = false;
    auto* proc = new Proc(&deleted);
    desc.SetUserDlgProc(proc);
    EXPECT_TRUE(panel->Click(1003));
    EXPECT_FALSE(panel->Click(4242));
    ASSERT_EQ(proc->messages.size(), 2u);
    EXPECT_EQ(proc->messages[0].first, WM_INITDIALOG);
    EXPECT_EQ(proc->messages[1], (std::pair<UINT, WPARAM>{WM_COMMAND, 1003}));
    cd.EndEditParams(&scene, owner, 0, nullptr);
    EXPECT_TRUE(deleted) << "the host frees the installed procedure with the panel";
    EXPECT_EQ(vm::PanelOfWindow(w), nullptr);
}
} // namespace
