// The open and save dialogs of the cache file.
#include "plugin/fixture.h"

namespace {
using testing_support::PluginTest;

class CacheDialogs : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        mod = NewTessarin();
        node = AddNode("n", 1, {mod});
        WriteBytes(Path("a.sel"), sel::EncodeFile(1, Samples({{0.5f}})));
        WriteBytes(Path("b.sel"), sel::EncodeFile(1, Samples({{0.5f}})));
    }
    const char* CacheFile() { return CacheFileOf(mod); }
    ScriptedTessarin* mod = nullptr;
    INode* node = nullptr;
};

TEST_F(CacheDialogs, SetCacheCancelClosesTheFileAndChangesNothingElse) {
    SetFile(mod, Path("a.sel"));
    Evaluate(node, 0);
    scene_.BeginEdit(mod);
    LeaveStatus(mod, node, status_count_mismatch);
    GetDlgItem(mod->Panel(), 1006)->text = "kept";
    vm::Record().Clear();
    mod->ChooseCacheFile(mod->Panel());
    EXPECT_STREQ(CacheFile(), Path("a.sel").c_str());
    EXPECT_EQ(mod->StatusCode(), status_count_mismatch);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, "kept");
    ASSERT_EQ(vm::Record().filePrompts.size(), 1u);
    const auto& p = vm::Record().filePrompts[0];
    EXPECT_FALSE(p.save);
    EXPECT_EQ(p.title, "Load Selections");
    EXPECT_EQ(p.flags, 0x804u);
    EXPECT_EQ(p.filter, "Cache  files(*.sel)|*.sel|");
    EXPECT_EQ(p.defaultExt, "sel");
    EXPECT_EQ(p.owner, mod->Panel());
    EXPECT_EQ(p.maxFile, 256u);
}

TEST_F(CacheDialogs, SetCacheOkSetsTheFileThenNotifiesAndBlanksTheStatus) {
    scene_.BeginEdit(mod);
    LeaveStatus(mod, node, status_missing);
    provider_.openAnswers = {Path("b.sel")};
    vm::Record().Clear();
    mod->ChooseCacheFile(mod->Panel());
    EXPECT_STREQ(CacheFile(), Path("b.sel").c_str());
    EXPECT_EQ(mod->StatusCode(), 0);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, " ");
    const auto& n = vm::Record().notifications;
    ASSERT_GE(n.size(), 2u);
    EXPECT_EQ(n.back().sender, mod) << "the modifier's own notification comes after the parameter is set";
    EXPECT_EQ(n.back().part, 2u);
    EXPECT_EQ(n.back().message, 80);
    // the next dialog, on any instance, starts with the confirmed path
    ScriptedTessarin* other = NewTessarin();
    other->ChooseCacheFile(nullptr);
    EXPECT_EQ(vm::Record().filePrompts.back().initialFile, Path("b.sel"));
    other->DeleteThis();
}

TEST_F(CacheDialogs, RecordFileAsksBeforeReplacing) {
    scene_.SetDirectory(3, dir_.string());
    provider_.saveAnswers = {Path("new.sel")};
    mod->ChooseRecordFile(nullptr);
    EXPECT_STREQ(CacheFile(), Path("new.sel").c_str());
    EXPECT_TRUE(vm::Record().messageBoxes.empty());
    const auto& p = vm::Record().filePrompts[0];
    EXPECT_EQ(p.title, "Save Selection");
    EXPECT_EQ(p.flags, 0x1804u);
    EXPECT_EQ(p.initialDir, dir_.string());

    provider_.saveAnswers = {Path("a.sel")};
    provider_.boxAnswers = {IDYES};
    mod->ChooseRecordFile(nullptr);
    EXPECT_STREQ(CacheFile(), Path("a.sel").c_str()) << "Yes replaces";
    vm::Record().Clear();

    SetFile(mod, "");
    provider_.saveAnswers = {Path("a.sel"), ""};
    provider_.boxAnswers = {IDNO};
    mod->ChooseRecordFile(nullptr);
    EXPECT_STREQ(CacheFile(), "") << "No, then Cancel: unset";
    ASSERT_EQ(vm::Record().messageBoxes.size(), 1u);
    EXPECT_EQ(vm::Record().messageBoxes[0].text,
              Path("a.sel") + " already exists.\nDo you want to replace it?");
    EXPECT_EQ(vm::Record().messageBoxes[0].caption, "Save Selection");
    EXPECT_EQ(vm::Record().messageBoxes[0].type, 0x24u);

    provider_.saveAnswers = {Path("a.sel"), Path("b.sel")};
    provider_.boxAnswers = {IDNO, IDYES};
    mod->ChooseRecordFile(nullptr);
    EXPECT_STREQ(CacheFile(), Path("b.sel").c_str());
    EXPECT_EQ(vm::Record().filePrompts.back().initialFile, Path("a.sel"))
        << "asked again with the refused path";
}

TEST_F(CacheDialogs, ANameTypedWithoutAFolderLandsInTheFolderShownAsAFullPath) {
    std::filesystem::create_directories(Path("takes"));
    scene_.SetDirectory(3, Path("takes"));
    provider_.saveAnswers = {"take3"};
    mod->ChooseRecordFile(nullptr);
    EXPECT_STREQ(CacheFile(), Path("takes/take3.sel").c_str());
    // Set Cache starts in the folder of the last file it chose, here the fixture's folder
    provider_.openAnswers = {Path("a.sel"), "b.sel"};
    mod->ChooseCacheFile(nullptr);
    mod->ChooseCacheFile(nullptr);
    EXPECT_STREQ(CacheFile(), Path("b.sel").c_str());
}

TEST_F(CacheDialogs, PathsMustFitTheBuffer) {
    std::string base = (dir_ / "").string();
    std::string fits = base + std::string(255 - base.size() - 4, 'x') + ".sel";
    provider_.saveAnswers = {fits + "x"};
    mod->ChooseRecordFile(nullptr);
    EXPECT_EQ(CacheFile(), nullptr) << "a 256-character path counts as a cancel";
    provider_.saveAnswers = {fits};
    mod->ChooseRecordFile(nullptr);
    EXPECT_STREQ(CacheFile(), fits.c_str());
}

TEST_F(CacheDialogs, RecordWithoutAFileNameAsksThenRecords) {
    provider_.saveAnswers = {Path("asked")};
    mod->pblock->SetParamValue(pb_end_time, 0, 1.0f);
    mod->Record(nullptr);
    EXPECT_STREQ(CacheFile(), Path("asked.sel").c_str());
    EXPECT_TRUE(std::filesystem::exists(Path("asked.sel")));
    mod->Record(nullptr); // a set name: no dialog
    EXPECT_EQ(vm::Record().filePrompts.size(), 1u);
    SetFile(mod, "");
    mod->Record(nullptr); // cancelled: nothing happens
    EXPECT_EQ(vm::Record().filePrompts.size(), 2u);
}
} // namespace
