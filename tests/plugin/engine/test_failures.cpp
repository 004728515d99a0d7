// Injected failures: targets that cannot be written, paths longer than the dialogs' buffers, sample
// buffers that cannot be allocated. Nothing crashes, each failure is reported, no other file changes.
#include <map>

#include "plugin/fixture.h"

namespace {
using testing_support::PluginTest;

class Failures : public PluginTest {
  protected:
    // A node of two vertices, vertex 0 selected, under a Tessarin playing old.sel (open after this).
    void OpenOld() {
        WriteBytes(Path("old.sel"), sel::EncodeFile(1, Samples({{0.5f, 0.5f}})));
        mod = NewTessarin();
        SetFile(mod, Path("old.sel"));
        mod->pblock->SetParamValue(pb_end_time, 0, 3.0f);
        node = AddNode("n" + std::to_string(setups_++), 2,
                       {new vm::SelectKeys({{TIME_NegInfinity, {0}, std::nullopt}}), mod});
        ASSERT_FLOAT_EQ(Evaluate(node, 0).vertexFloat(0)[1], 0.5f) << "old.sel plays";
    }
    // Every file of the test folder with its bytes.
    std::map<std::string, std::string> Folder() {
        std::map<std::string, std::string> files;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir_))
            if (e.is_regular_file()) files[e.path().string()] = ReadBytes(e.path().string());
        return files;
    }
    ScriptedTessarin* mod = nullptr;
    INode* node = nullptr;
    int setups_ = 0;
};

TEST_F(Failures, UnwritableTargetsAreReportedAndTouchNothingElse) {
    std::vector<std::pair<std::string, std::string>> targets = {
        {"missing folder", Path("no/such/folder/x.sel")},
        {"path past the system's limit", Path(std::string(5000, 'p') + ".sel")},
        {"a folder", dir_.string()},
    };
    testing_support::UnwritableFile unwritable(Path("unwritable.sel"));
    if (!unwritable.Path().empty()) targets.push_back({"unwritable file", unwritable.Path()});
    for (const auto& [name, target] : targets) {
        OpenOld();
        scene_.BeginEdit(mod);
        WriteBytes(Path("old.sel"), sel::EncodeFile(1, Samples({{0.5f, 0.5f, 0.5f}})));
        Evaluate(node, 0); // the count no longer matches: the status line says so
        ASSERT_EQ(mod->StatusCode(), status_count_mismatch);
        GetDlgItem(mod->Panel(), 1006)->text = "kept";
        std::string unwritableBefore = name == "unwritable file" ? ReadBytes(target) : "";
        auto before = Folder();
        vm::Record().Clear();
        SetFile(mod, target);
        std::vector<TimeValue> evaluated;
        scene_.onEvaluate = [&](INode*, TimeValue t) { evaluated.push_back(t); };
        mod->Record(mod->Panel());
        scene_.onEvaluate = nullptr;
        EXPECT_EQ(evaluated, std::vector<TimeValue>{160})
            << name << ": the pre-roll comes before the opening";
        ASSERT_EQ(vm::Record().messageBoxes.size(), 1u) << name;
        EXPECT_EQ(vm::Record().messageBoxes[0].text, LookupString(350)) << name;
        EXPECT_EQ(vm::Record().messageBoxes[0].type, static_cast<UINT>(MB_ICONERROR)) << name;
        EXPECT_EQ(mod->StatusCode(), status_count_mismatch) << name;
        EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, "kept") << name;
        EXPECT_STREQ(CacheFileOf(mod), target.c_str()) << name;
        EXPECT_EQ(Folder(), before) << name;
        // neither recording nor suppressed: the next evaluation plays again
        SetFile(mod, Path("old.sel"));
        EXPECT_FLOAT_EQ(Evaluate(node, 0).vertexFloat(0)[1], 0.5f) << name;
        if (!unwritableBefore.empty()) {
            EXPECT_EQ(ReadBytes(target), unwritableBefore);
        }
        scene_.EndEdit();
    }
}

TEST_F(Failures, AFullDiskIsReportedAndTheOldFileStaysAsItWas) {
    std::string full = testing_support::FullDevice();
    if (full.empty()) GTEST_SKIP() << "no device here that is always full";
    OpenOld();
    auto before = Folder();
    vm::Record().Clear();
    SetFile(mod, full);
    mod->Record(nullptr);
    ASSERT_EQ(vm::Record().messageBoxes.size(), 1u);
    EXPECT_EQ(vm::Record().messageBoxes[0].text,
              full + ": cannot be written: No space left on device; the file there is as it was.");
    EXPECT_EQ(Folder(), before);
    // a device is no cache file: playback afterwards passes the selection through
    Mesh& m = Evaluate(node, 0);
    EXPECT_EQ(m.vertSel[0], 1);
}

TEST_F(Failures, DialogPathsLongerThanTheBufferCountAsCancel) {
    OpenOld();
    std::string tooLong = dir_.string() + "/" + std::string(300, 'x') + ".sel";
    SetFile(mod, "");
    provider_.saveAnswers = {tooLong};
    auto before = Folder();
    mod->Record(nullptr);
    EXPECT_STREQ(CacheFileOf(mod), "");
    EXPECT_TRUE(vm::Record().messageBoxes.empty());
    EXPECT_EQ(Folder(), before);

    SetFile(mod, Path("old.sel"));
    provider_.openAnswers = {tooLong};
    mod->ChooseCacheFile(nullptr);
    EXPECT_STREQ(CacheFileOf(mod), Path("old.sel").c_str());
}

TEST_F(Failures, ANameLongerThanTheDialogBufferRecordsAndPlaysWhenSetDirectly) {
    OpenOld();
    // the folder's own path kept short of 260 characters, which Windows' folder calls need
    std::filesystem::path folder = dir_ / std::string(100, 'd');
    std::filesystem::create_directories(folder);
    std::string path = (folder / (std::string(200, 'f') + ".sel")).string();
    ASSERT_GT(path.size(), 256u);
    SetFile(mod, path);
    mod->Record(nullptr);
    EXPECT_TRUE(vm::Record().messageBoxes.empty());
    Mesh& m = Evaluate(node, 0);
    EXPECT_EQ(m.vertSel[0], 1);
    EXPECT_EQ(ReadBytes(path).substr(8, 4), std::string("\x04\0\0\0", 4)) << "frames 0 to 3";
}

// Fails the `failAt`-th allocation (1 = first) and counts the calls.
int allocCalls = 0, failAt = 0;
void* FailingAlloc(size_t count, size_t size) {
    ++allocCalls;
    return allocCalls == failAt ? nullptr : std::calloc(count, size);
}

class AllocationFailure : public Failures {
  protected:
    void TearDown() override {
        module::sampleAllocator = std::calloc;
        Failures::TearDown();
    }
};

TEST_F(AllocationFailure, ABufferThatCannotBeAllocatedTakesTheNotFoundPathUntilReloaded) {
    // at frame 1 of three samples: the first sample, then samples 1 and 2, each read once
    for (int which = 1; which <= 3; ++which) {
        std::string file = Path("a" + std::to_string(which) + ".sel");
        WriteBytes(file, sel::EncodeFile(1, Samples({{0.25f, 0.25f}, {0.25f, 0.25f}, {0.25f, 0.25f}})));
        mod = NewTessarin();
        SetFile(mod, file);
        node = AddNode("n" + std::to_string(which), 2,
                       {new vm::SelectKeys({{TIME_NegInfinity, {0}, std::vector<float>{0.5f, 0.5f}}}), mod});
        scene_.BeginEdit(mod);
        allocCalls = 0;
        failAt = which;
        module::sampleAllocator = FailingAlloc;
        Mesh& m = Evaluate(node, 160);
        // without the first sample there is nothing to play from: the others are not asked for
        int calls = allocCalls;
        EXPECT_EQ(calls, which == 1 ? 1 : 3) << which;
        EXPECT_EQ(m.vertSel[0], 1) << "the incoming selection passes through";
        EXPECT_FLOAT_EQ(m.vertexFloat(0)[1], 0.5f);
        EXPECT_EQ(mod->StatusCode(), status_missing) << which;
        EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, LookupString(346));
        // no retry while the file stays open
        module::sampleAllocator = std::calloc;
        Evaluate(node, 160);
        EXPECT_EQ(mod->StatusCode(), status_missing);
        EXPECT_EQ(allocCalls, calls);
        // closed by Set Cache (cancelled), the next playback loads anew
        mod->ChooseCacheFile(mod->Panel());
        Mesh& again = Evaluate(node, 160);
        EXPECT_FLOAT_EQ(again.vertexFloat(0)[1], 0.25f);
        EXPECT_EQ(mod->StatusCode(), 0);
        EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, " ");
        scene_.EndEdit();
    }
}
} // namespace
