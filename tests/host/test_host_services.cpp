// Scripted dialogs, chunked files, the plug-in loader and the SDK's small helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "portable.h"
#include "runtime/chunks.h"
#include "runtime/host_record.h"
#include "runtime/interaction.h"
#include "runtime/platform.h"
#include "runtime/plugin_loader.h"
#include "runtime/scene.h"

namespace fs = std::filesystem;

namespace {
// The process's working folder for one scope.
struct WorkingFolder {
    fs::path previous = fs::current_path();
    explicit WorkingFolder(const fs::path& folder) { fs::current_path(folder); }
    ~WorkingFolder() { fs::current_path(previous); }
};

struct Dialogs : ::testing::Test {
    vm::ScriptedInteraction provider;
    fs::path dir = fs::temp_directory_path() / ("vm-dialogs-" + std::to_string(testing_support::ProcessId()));
    char buffer[256] = "";
    OPENFILENAMEA ofn{};
    void SetUp() override {
        vm::Record().Clear();
        vm::SetInteraction(&provider);
        fs::create_directories(dir);
        std::ofstream(dir / "there.sel") << "x";
        ofn.lStructSize = 76;
        ofn.lpstrFile = buffer;
        ofn.nMaxFile = 256;
        ofn.lpstrDefExt = "sel";
        ofn.lpstrTitle = "Load Selections";
        ofn.lpstrFilter = "Cache  files(*.sel)\0*.sel\0";
    }
    void TearDown() override {
        vm::SetInteraction(nullptr);
        fs::remove_all(dir);
    }
};

TEST_F(Dialogs, OpenAppliesDefaultExtensionAndMustExist) {
    provider.openAnswers = {(dir / "there").string(), (dir / "missing.sel").string(), ""};
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    EXPECT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(std::string(buffer), (dir / "there.sel").string());
    EXPECT_FALSE(GetOpenFileNameA(&ofn)) << "the file must exist";
    EXPECT_FALSE(GetOpenFileNameA(&ofn)) << "cancel";
    ASSERT_EQ(vm::Record().filePrompts.size(), 3u);
    const auto& p = vm::Record().filePrompts[1];
    EXPECT_EQ(p.title, "Load Selections");
    EXPECT_EQ(p.filter, "Cache  files(*.sel)|*.sel|");
    EXPECT_EQ(p.initialFile, (dir / "there.sel").string()) << "the buffer keeps the last path";
    EXPECT_EQ(p.structSize, 76u);
}

TEST_F(Dialogs, SaveHandsBackNewNamesButHonoursTheBufferLength) {
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    std::string base = (dir / "").string();
    std::string fits = base + std::string(255 - base.size() - 4, 'a') + ".sel";
    std::string tooLong = base + std::string(256 - base.size() - 4, 'a') + ".sel";
    ASSERT_EQ(fits.size(), 255u);
    provider.saveAnswers = {fits, tooLong, (dir / "nofolder" / "x.sel").string()};
    EXPECT_TRUE(GetSaveFileNameA(&ofn));
    EXPECT_EQ(std::string(buffer), fits);
    EXPECT_FALSE(GetSaveFileNameA(&ofn));
    EXPECT_FALSE(GetSaveFileNameA(&ofn)) << "the folder must exist";
}

TEST_F(Dialogs, ANameWithoutAFolderIsTakenInTheFolderShownAndComesBackFull) {
    std::string other = (dir / "other").string();
    fs::create_directories(other);
    // 1. an empty buffer shows the initial folder
    std::string initial = dir.string();
    ofn.lpstrInitialDir = initial.c_str();
    provider.saveAnswers = {"take3", "sub/../next.sel"};
    EXPECT_TRUE(GetSaveFileNameA(&ofn));
    EXPECT_EQ(std::string(buffer), (dir / "take3.sel").string());
    EXPECT_EQ(vm::Record().filePrompts.back().folder, dir.string());
    // 2. a buffer holding a path shows that path's folder, whatever the initial folder
    ofn.lpstrInitialDir = other.c_str();
    EXPECT_TRUE(GetSaveFileNameA(&ofn));
    EXPECT_EQ(std::string(buffer), (dir / "next.sel").string());
    EXPECT_EQ(vm::Record().filePrompts.back().folder, dir.string());
    // 3. a folder that has gone is passed over
    std::strcpy(buffer, (dir / "gone" / "x.sel").string().c_str());
    EXPECT_EQ(vm::DialogFolder(ofn), other);
    // 4. without either, the working folder; the answer is still a full path. The working folder is
    // one beside the file, since on Windows no relative name leads from one drive to another.
    WorkingFolder working(other);
    buffer[0] = '\0';
    ofn.lpstrInitialDir = nullptr;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    provider.openAnswers = {fs::relative(dir / "there.sel", fs::current_path()).string()};
    EXPECT_TRUE(GetOpenFileNameA(&ofn));
    EXPECT_EQ(std::string(buffer), (dir / "there.sel").string());
    EXPECT_EQ(vm::Record().filePrompts.back().folder, fs::current_path().string());
    EXPECT_EQ(vm::DialogFolder(ofn), dir.string()) << "the next dialog shows the folder of the file chosen";
}

TEST_F(Dialogs, MessageBoxesAnswerFromTheQueueAndAreRecorded) {
    provider.boxAnswers = {IDYES};
    EXPECT_EQ(MessageBoxA(nullptr, "Replace?", "Save Selection", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "Again?", "Save Selection", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Broken", nullptr, MB_ICONERROR), IDOK);
    ASSERT_EQ(vm::Record().messageBoxes.size(), 3u);
    EXPECT_EQ(vm::Record().messageBoxes[2].type, MB_ICONERROR);
    EXPECT_EQ(vm::Record().messageBoxes[0].caption, "Save Selection");
}

TEST_F(Dialogs, EscapeAnswersPressedAtTheChosenPollOnly) {
    provider.escapeAtPoll = 2;
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
    EXPECT_EQ(static_cast<unsigned short>(GetAsyncKeyState(VK_ESCAPE)), 0x8001);
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
}

TEST(Chunks, NestedChunksRoundTripAndUnknownOnesAreSkipped) {
    vm::ChunkWriter w;
    int32_t one = 1, two = 2;
    w.BeginChunk(0x2120);
    w.Write(&one, 4, nullptr);
    w.EndChunk();
    w.BeginChunk(0x9999);
    w.BeginChunk(0x0001);
    w.Write("abc", 3, nullptr);
    w.EndChunk();
    w.EndChunk();
    w.BeginChunk(0x2130);
    w.Write(&two, 4, nullptr);
    w.EndChunk();
    vm::ChunkReader r(w.Bytes());
    std::vector<std::pair<USHORT, int32_t>> seen;
    while (r.OpenChunk() == IO_OK) {
        int32_t v = -1;
        ULONG got = 0;
        if (r.CurChunkID() != 0x9999) r.Read(&v, 4, &got);
        seen.push_back({r.CurChunkID(), v});
        r.CloseChunk();
    }
    EXPECT_EQ(seen, (std::vector<std::pair<USHORT, int32_t>>{{0x2120, 1}, {0x9999, -1}, {0x2130, 2}}));
    std::string truncated = w.Bytes().substr(0, 7);
    vm::ChunkReader bad(truncated);
    EXPECT_EQ(bad.OpenChunk(), IO_ERROR);
}

TEST(Chunks, PostLoadCallbacksRunOnceHighestPriorityFirst) {
    std::vector<int> order;
    struct Cb : PostLoadCallback {
        std::vector<int>* order;
        int p, tag;
        Cb(std::vector<int>* o, int pr, int t) : order(o), p(pr), tag(t) {}
        int Priority() override { return p; }
        void proc(ILoad*) override {
            order->push_back(tag);
            delete this;
        }
    };
    vm::ChunkReader r("");
    // priority 0 is the highest; equal priorities keep their registration order
    r.RegisterPostLoadCallback(new Cb(&order, 7, 1));
    r.RegisterPostLoadCallback(new Cb(&order, 5, 2));
    r.RegisterPostLoadCallback(new Cb(&order, 0, 3));
    r.RegisterPostLoadCallback(new Cb(&order, 9, 4));
    r.RegisterPostLoadCallback(new Cb(&order, 5, 5));
    r.RunPostLoadCallbacks();
    r.RunPostLoadCallbacks();
    EXPECT_EQ(order, (std::vector<int>{3, 2, 5, 1, 4}));
}

TEST(Loader, LoadsAModuleThroughItsExportsAndSkipsBrokenOnes) {
    std::vector<std::string> warnings;
    auto warn = [&](const std::string& m) { warnings.push_back(m); };
    vm::PluginLoader loader;
    EXPECT_EQ(loader.LoadFolders({TEST_PLUGINS_DIR "/good"}, warn), 1);
    ASSERT_EQ(loader.Modules().size(), 1u);
    EXPECT_EQ(loader.Modules()[0].description, "Test module");
    ClassDesc2* cd = vm::Classes().FindByName("TestBox");
    ASSERT_NE(cd, nullptr);
    EXPECT_EQ(vm::Classes().FindByName("Box"), cd);
    Animatable* box = cd->CreateInstance();
    EXPECT_EQ(box->SuperClassCode(), OSM_CLASS_ID);
    box->DeleteThis();
    auto attachCalls = reinterpret_cast<int (*)()>(
        vm::platform::LibrarySymbol(loader.Modules()[0].handle, "TestModuleAttachCalls"));
    EXPECT_EQ(attachCalls(), 1);

    EXPECT_EQ(loader.LoadFolders({TEST_PLUGINS_DIR "/badversion", TEST_PLUGINS_DIR "/noexport"}, warn), 0);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("test_module_badversion.dlm"), std::string::npos);
    EXPECT_NE(warnings[0].find("version"), std::string::npos);
    EXPECT_NE(warnings[1].find("test_module_noexport.dlm"), std::string::npos);
    EXPECT_NE(warnings[1].find("LibClassDesc"), std::string::npos);
    loader.UnloadAll();
    EXPECT_EQ(vm::Classes().FindByName("TestBox"), nullptr);
}

// A module looks its strings up through the instance its DllMain was last given. Where the system
// calls DllMain too (Windows: with the library's own handle, at load and for every thread that starts
// or ends), that handle must lead to the module's strings as well, and the module is attached once.
TEST(Loader, AModuleFindsItsStringsThroughTheInstanceItKeeps) {
    vm::PluginLoader loader;
    ASSERT_EQ(loader.LoadFolders({TEST_PLUGINS_DIR "/good"}, [](const std::string&) {}), 1);
    void* library = loader.Modules()[0].handle;
    std::thread([] {}).join();
    auto kept =
        reinterpret_cast<HINSTANCE (*)()>(vm::platform::LibrarySymbol(library, "TestModuleInstance"))();
    char text[32] = "";
    EXPECT_EQ(LoadStringA(kept, 1, text, sizeof text), 11);
    EXPECT_STREQ(text, "Box strings");
    EXPECT_EQ(reinterpret_cast<int (*)()>(vm::platform::LibrarySymbol(library, "TestModuleAttachCalls"))(),
              1);
    // an instance the host never made is not read
    std::vector<unsigned char> notAnInstance(256, 0x7f);
    EXPECT_EQ(LoadStringA(reinterpret_cast<HINSTANCE>(notAnInstance.data()), 1, text, sizeof text), 0);
    loader.UnloadAll();
}

TEST(Helpers, TablesPathsAndFilters) {
    Tab<int> t;
    EXPECT_FALSE(t.HasStorage());
    int v[] = {1, 2, 3};
    t.Append(3, v);
    t.Delete(0, 1);
    EXPECT_EQ(t.Count(), 2);
    EXPECT_EQ(t[0], 2);
    t.SetCount(0);
    EXPECT_TRUE(t.HasStorage());
    CStr dir, file;
    SplitPathFile(CStr("C:\\caches/shots\\walk.sel"), &dir, &file);
    EXPECT_STREQ(file, "walk.sel");
    EXPECT_STREQ(dir, "C:\\caches/shots");
    SplitPathFile(CStr("walk.sel"), &dir, &file);
    EXPECT_STREQ(dir, "");
    FilterList f;
    f.Append("Cache  files(*.sel)");
    f.Append("*.sel");
    EXPECT_EQ(f.Buffer(), std::string("Cache  files(*.sel)\0*.sel\0\0", 27));
    vm::Record().Clear();
    assert1(711, "tessarin");
    ASSERT_EQ(vm::Record().asserts.size(), 1u);
    EXPECT_EQ(vm::Record().asserts[0].line, 711);
}
} // namespace
