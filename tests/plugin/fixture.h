// Shared set-up of the plug-in tests: the module attached once, a fresh scene, a temp folder, and
// helpers that build nodes, cache files and modifier instances.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sel/format.h"
#include "plugin/tessarin.h"
#include "portable.h"
#include "runtime/builtin_modifiers.h"
#include "runtime/host_record.h"
#include "runtime/interaction.h"
#include "runtime/scene.h"
#include "runtime/window.h"

extern "C" const ResourceTable VomarkModuleResources;
extern "C" BOOL DllMain(HINSTANCE, ULONG, LPVOID);

namespace testing_support {

inline HINSTANCE AttachModuleOnce() {
    static HINSTANCE inst = [] {
        HINSTANCE h = vm::MakeModuleInstance(&VomarkModuleResources, "Tessarin.dlm");
        DllMain(h, DLL_PROCESS_ATTACH, nullptr);
        return h;
    }();
    return inst;
}

class PluginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        AttachModuleOnce();
        vm::Record().Clear();
        provider_.escapeAtPoll = 0;
        vm::SetInteraction(&provider_);
        dir_ = std::filesystem::temp_directory_path() /
               ("tessarin-" + std::to_string(ProcessId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        // a run that stopped half-way may have left it (Wine gives the same process ids run after run)
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override {
        if (scene_.EditedObject()) scene_.EndEdit();
        vm::SetInteraction(nullptr);
    }

    // with the platform's separators, as the host's dialogs answer
    std::string Path(const std::string& name) const { return (dir_ / name).make_preferred().string(); }

    ScriptedTessarin* NewTessarin() {
        return static_cast<ScriptedTessarin*>(module::ClassDescriptor()->CreateInstance(FALSE));
    }

    // A node with a mesh of `verts` vertices and the modifiers given bottom first.
    INode* AddNode(const std::string& name, int verts, std::vector<Modifier*> bottomFirst) {
        auto* tri = new TriObject();
        tri->mesh.setNumVerts(verts);
        INode* node = scene_.AddNode(name, tri);
        for (Modifier* m : bottomFirst)
            scene_.DerivedObjectOf(node)->AddModifier(m, 0);
        return node;
    }

    static void SetFile(Tessarin* t, const std::string& path) {
        t->pblock->SetParamValue(pb_cache_file, 0, path.c_str());
    }

    // Lets the modifier's cache go, so that the next playback loads it anew: the Set Cache command
    // does so, also when its dialog is cancelled (as here, with no answer given).
    static void CloseCacheFile(Tessarin* t) { t->ChooseCacheFile(nullptr); }

    // Leaves `mod` with the status playback gives it while a panel is open (status_count_mismatch: a
    // cache with one record more than the node's points; status_missing: a cache that is not
    // there), its cache_file and the panel as they were and its file closed. The Set Cache dialogs
    // that close it are in the host's record.
    void LeaveStatus(ScriptedTessarin* mod, INode* node, int code) {
        std::string kept = CacheFileOf(mod) ? CacheFileOf(mod) : "";
        bool editing = mod->Panel() != nullptr;
        if (!editing) scene_.BeginEdit(mod);
        if (code == status_count_mismatch) {
            int points = scene_.EvaluateNode(node, 0, 0).obj->PointCount();
            WriteBytes(Path("status.sel"), sel::EncodeFile(1, {std::vector<SampleRecord>(size_t(points) + 1)}));
            SetFile(mod, Path("status.sel"));
        } else {
            SetFile(mod, Path("no-such.sel"));
        }
        CloseCacheFile(mod); // an open file plays on whatever cache_file says
        scene_.EvaluateNode(node, 0, 0);
        if (!editing) scene_.EndEdit();
        SetFile(mod, kept);
        CloseCacheFile(mod);
        ASSERT_EQ(mod->StatusCode(), code);
    }

    static const char* CacheFileOf(Tessarin* t) {
        const char* s = nullptr;
        Interval valid;
        t->pblock->GetParamValue(pb_cache_file, 0, s, valid);
        return s;
    }

    void WriteBytes(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Samples with the given weights (time fields 0).
    static std::vector<std::vector<SampleRecord>> Samples(const std::vector<std::vector<float>>& weights) {
        std::vector<std::vector<SampleRecord>> out;
        for (const auto& s : weights) {
            out.emplace_back();
            for (float w : s)
                out.back().push_back({w, 0});
        }
        return out;
    }

    Mesh& Evaluate(INode* node, TimeValue t) {
        scene_.SetCurrentTime(t);
        return static_cast<TriObject*>(scene_.EvaluateNode(node, t, 0).obj)->GetMesh();
    }

    std::filesystem::path dir_;
    // Removes dir_ once the scene has gone (members go in reverse order): the caches its modifiers
    // play stay open until the last of them lets go, and Windows removes no open file.
    struct FolderRemover {
        const std::filesystem::path& dir;
        ~FolderRemover() {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
            if (ec) ADD_FAILURE() << "cannot remove " << dir.string() << ": " << ec.message();
        }
    } folderRemover_{dir_};
    vm::Scene scene_;
    vm::ScriptedInteraction provider_;
};

} // namespace testing_support
