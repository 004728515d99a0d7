// The modifier in scene files: its two flags, the missing-file warning after a whole scene is
// loaded, recorded playback across save and load, instancing, unknown classes, asset enumeration.
#include <cstring>

#include "plugin/fixture.h"
#include "runtime/plugin_loader.h"
#include "runtime/scene_file.h"

namespace {
using testing_support::PluginTest;

struct Names : NameEnumCallback {
    std::vector<std::string> names;
    void RecordName(const char* n) override { names.push_back(n); }
};

class ScenePersistence : public PluginTest {
  protected:
    void SetUp() override {
        PluginTest::SetUp();
        vm::Classes().Add(module::ClassDescriptor());
    }
    void TearDown() override {
        vm::Classes().Remove(module::ClassDescriptor());
        vm::SetActiveScene(&scene_);
        PluginTest::TearDown();
    }
    // Node "n" with SelectKeys under a Tessarin reading `file`.
    ScriptedTessarin* Build(const std::string& file) {
        ScriptedTessarin* mod = NewTessarin();
        if (!file.empty()) SetFile(mod, file);
        AddNode("n", 3,
                {new vm::SelectKeys({{0, {0}, std::vector<float>{1, 0.5f, 0}}, {160, {2}, {}}}), mod});
        return mod;
    }
    std::unique_ptr<vm::Scene> Reload(const std::string& bytes, bool quiet = false) {
        return vm::ParseSceneFile(bytes, "s.vms", {quiet});
    }
    static ScriptedTessarin* TessarinOf(vm::Scene& s, const char* node = "n") {
        return dynamic_cast<ScriptedTessarin*>(s.DerivedObjectOf(s.FindNode(node))->ModifierAt(0));
    }
    // The plug-in data chunk id turned into one the host does not know, so the modifier's Load sees
    // no chunks at all.
    static std::string WithoutPluginData(std::string bytes) {
        std::string id("\x80\x02", 2);
        size_t at = bytes.find(id + std::string("\x14\0\0\0", 4));
        EXPECT_NE(at, std::string::npos);
        bytes[at] = '\x81';
        return bytes;
    }
};

TEST_F(ScenePersistence, SwitchedOnAndOffModifiersKeepTheirFlags) {
    ScriptedTessarin* mod = Build("");
    auto on = Reload(vm::SceneFileBytes(scene_));
    EXPECT_EQ(TessarinOf(*on)->SavedEnabled(), 1);
    EXPECT_EQ(TessarinOf(*on)->SavedViewEnabled(), 1);
    EXPECT_FALSE(TessarinOf(*on)->TestAFlag(A_MOD_DISABLED));
    mod->SetAFlag(A_MOD_DISABLED | A_MOD_DISABLED_INVIEWS);
    auto off = Reload(vm::SceneFileBytes(scene_));
    EXPECT_EQ(TessarinOf(*off)->SavedEnabled(), 0);
    EXPECT_EQ(TessarinOf(*off)->SavedViewEnabled(), 0);
    EXPECT_TRUE(TessarinOf(*off)->TestAFlag(A_MOD_DISABLED));
}

TEST_F(ScenePersistence, WithoutThePluginChunksBothFlagsAreOne) {
    ScriptedTessarin* mod = Build("");
    mod->SetAFlag(A_MOD_DISABLED | A_MOD_DISABLED_INVIEWS);
    auto loaded = Reload(WithoutPluginData(vm::SceneFileBytes(scene_)));
    EXPECT_EQ(TessarinOf(*loaded)->SavedEnabled(), 1);
    EXPECT_EQ(TessarinOf(*loaded)->SavedViewEnabled(), 1);
}

TEST_F(ScenePersistence, MissingCacheFileWarnsOnceAfterLoadingAsABoxOrALogEntry) {
    Build(Path("gone.sel"));
    std::string bytes = vm::SceneFileBytes(scene_);
    auto shown = Reload(bytes);
    ASSERT_EQ(vm::Record().messageBoxes.size(), 1u);
    EXPECT_EQ(vm::Record().messageBoxes[0].text, "Warning: Cache file not found  " + Path("gone.sel"));
    EXPECT_EQ(TessarinOf(*shown)->StatusCode(), status_missing);
    vm::Record().Clear();
    auto quiet = Reload(bytes, true);
    EXPECT_TRUE(vm::Record().messageBoxes.empty());
    ASSERT_EQ(vm::Record().log.size(), 1u);
    EXPECT_EQ(vm::Record().log[0].text, "Warning: Cache file not found : " + Path("gone.sel"));
    EXPECT_EQ(vm::LogTypeName(vm::Record().log[0].type), "error");
}

TEST_F(ScenePersistence, NoWarningWithoutANameWhenSwitchedOffOrFoundInTheFallbackFolder) {
    ScriptedTessarin* mod = Build("");
    auto unnamed = Reload(vm::SceneFileBytes(scene_));
    SetFile(mod, Path("gone.sel"));
    mod->SetAFlag(A_MOD_DISABLED);
    auto off = Reload(vm::SceneFileBytes(scene_));
    mod->ClearAFlag(A_MOD_DISABLED);
    WriteBytes(Path("here.sel"), "x");
    scene_.SetDirectory(2, dir_.string());
    SetFile(mod, "/elsewhere/here.sel");
    auto fallback = Reload(vm::SceneFileBytes(scene_));
    EXPECT_TRUE(vm::Record().messageBoxes.empty());
    EXPECT_TRUE(vm::Record().log.empty());
    EXPECT_EQ(TessarinOf(*fallback)->StatusCode(), status_none);
}

TEST_F(ScenePersistence, AnEmptyNameIsNoNameForTheWarningAssetsAndPlayback) {
    ScriptedTessarin* mod = Build("");
    SetFile(mod, ""); // set, but to nothing
    std::string bytes = vm::SceneFileBytes(scene_);
    auto loaded = Reload(bytes);
    auto quiet = Reload(bytes, true);
    EXPECT_TRUE(vm::Record().messageBoxes.empty());
    EXPECT_TRUE(vm::Record().log.empty());
    EXPECT_EQ(TessarinOf(*loaded)->StatusCode(), status_none);
    Names missing, present;
    loaded->EnumAuxFiles(missing, FILE_ENUM_MISSING_ONLY);
    loaded->EnumAuxFiles(present, 0);
    EXPECT_TRUE(missing.names.empty());
    EXPECT_TRUE(present.names.empty());
    // with the panel open, playback passes through without the missing-file message
    scene_.BeginEdit(mod);
    Mesh& m = Evaluate(scene_.FindNode("n"), 0);
    EXPECT_EQ(mod->StatusCode(), status_none);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1010)->text, "<none>");
    EXPECT_NE(GetDlgItem(mod->Panel(), 1006)->text, "Warning: Cache file not found ");
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[1], 0.5f) << "the incoming weights pass through";
}

TEST_F(ScenePersistence, RecordedScenePlaysTheSameWeightsAfterLoadingAndSavesToTheSameBytes) {
    ScriptedTessarin* mod = Build(Path("rec.sel"));
    mod->pblock->SetParamValue(pb_start_time, 0, 0.0f);
    mod->pblock->SetParamValue(pb_end_time, 0, 2.0f);
    mod->pblock->SetParamValue(pb_strength, 0, 0.5f); // keys at 0 and 320
    mod->pblock->SetParamValue(pb_strength, 320, 1.0f);
    mod->Record(nullptr);
    ASSERT_TRUE(std::filesystem::exists(Path("rec.sel")));
    auto weights = [](vm::Scene& s) {
        std::vector<float> w;
        for (TimeValue t : {0, 40, 80, 160, 200, 320}) {
            Mesh& m = static_cast<TriObject*>(s.EvaluateNode(s.FindNode("n"), t, 0).obj)->GetMesh();
            for (int i = 0; i < m.getNumVerts(); ++i)
                w.insert(w.end(), {static_cast<float>(m.vertSel[i]), m.vertexFloat(0)[i]});
        }
        return w;
    };
    std::string bytes = vm::SceneFileBytes(scene_);
    std::vector<float> before = weights(scene_);
    auto loaded = Reload(bytes);
    EXPECT_EQ(weights(*loaded), before);
    EXPECT_EQ(TessarinOf(*loaded)->pblock->KeyCount(pb_strength), 2);
    EXPECT_EQ(vm::SceneFileBytes(*loaded), bytes);
}

TEST_F(ScenePersistence, AnInstancedModifierIsSavedOnceAndWarnsOnce) {
    ScriptedTessarin* mod = Build(Path("gone.sel"));
    AddNode("m", 3, {mod});
    auto loaded = Reload(vm::SceneFileBytes(scene_));
    EXPECT_EQ(TessarinOf(*loaded, "n"), TessarinOf(*loaded, "m"));
    EXPECT_EQ(vm::Record().messageBoxes.size(), 1u);
    Names missing, present;
    loaded->EnumAuxFiles(missing, FILE_ENUM_MISSING_ONLY);
    loaded->EnumAuxFiles(present, 0);
    EXPECT_EQ(missing.names, std::vector<std::string>{Path("gone.sel")});
    EXPECT_TRUE(present.names.empty());
    WriteBytes(Path("gone.sel"), "x");
    Names found;
    loaded->EnumAuxFiles(found, 0);
    EXPECT_EQ(found.names, std::vector<std::string>{Path("gone.sel")});
}

TEST_F(ScenePersistence, UnknownPluginChunksAreSkipped) {
    ScriptedTessarin* mod = Build("");
    mod->SetAFlag(A_MOD_DISABLED);
    std::string bytes = vm::SceneFileBytes(scene_);
    // a chunk of a later version, in front of the two flags, inside the plug-in's data
    std::string head("\x80\x02\x14\0\0\0", 6);
    size_t at = bytes.find(head);
    ASSERT_NE(at, std::string::npos);
    std::string extra("\x99\x29\x02\0\0\0zz", 8);
    bytes.insert(at + 6, extra);
    bytes[at + 2] = static_cast<char>(0x14 + 8);
    // the lengths of the modifier and scene chunks around it grow as well
    auto grow = [&](size_t lengthAt) {
        uint32_t n;
        std::memcpy(&n, bytes.data() + lengthAt, 4);
        n += 8;
        std::memcpy(bytes.data() + lengthAt, &n, 4);
    };
    grow(8 + 2);
    size_t modifier = bytes.find(std::string("\x00\x02", 2), 14);
    grow(modifier + 2);
    auto loaded = Reload(bytes);
    EXPECT_EQ(TessarinOf(*loaded)->SavedEnabled(), 0);
}

TEST_F(ScenePersistence, APluginChunkLongerThanItsDataChunkEndsTheFlagsButNotTheLoad) {
    ScriptedTessarin* mod = Build("");
    mod->SetAFlag(A_MOD_DISABLED | A_MOD_DISABLED_INVIEWS);
    std::string bytes = vm::SceneFileBytes(scene_);
    std::string viewFlag("\x30\x21\x04\0\0\0\0\0\0\0", 10);
    size_t at = bytes.find(viewFlag);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 2] = 100; // more than the plug-in data chunk holds
    auto loaded = Reload(bytes);
    EXPECT_EQ(TessarinOf(*loaded)->SavedEnabled(), 0) << "read before the damaged chunk";
    EXPECT_EQ(TessarinOf(*loaded)->SavedViewEnabled(), 1) << "not read: as if missing";
    ASSERT_NE(loaded->FindNode("n"), nullptr) << "the rest of the scene loads";
    std::string again = vm::SceneFileBytes(*loaded);
    EXPECT_NE(again.find(viewFlag), std::string::npos) << "saved afresh";
}

TEST_F(ScenePersistence, WithoutTheModuleTheModifierIsKeptAndComesBackWhole) {
    ScriptedTessarin* mod = Build(Path("gone.sel"));
    mod->pblock->SetParamValue(pb_samples, 0, 3);
    std::string bytes = vm::SceneFileBytes(scene_);
    vm::Classes().Remove(module::ClassDescriptor());
    std::string again;
    {
        auto unknown = Reload(bytes);
        EXPECT_TRUE(vm::Record().messageBoxes.empty()) << "nothing to warn about without the module";
        ASSERT_EQ(vm::Record().log.size(), 1u);
        EXPECT_NE(vm::Record().log[0].text.find("(0x21d07ae1, 0x48d30bff)"), std::string::npos);
        again = vm::SceneFileBytes(*unknown);
    }
    EXPECT_EQ(again, bytes);
    vm::Classes().Add(module::ClassDescriptor());
    auto back = Reload(again);
    EXPECT_STREQ(CacheFileOf(TessarinOf(*back)), Path("gone.sel").c_str());
    Interval valid;
    int samples = 0;
    TessarinOf(*back)->pblock->GetParamValue(pb_samples, 0, samples, valid);
    EXPECT_EQ(samples, 3);
}

TEST_F(ScenePersistence, AModifierNoNodeUsesIsDroppedOnlyAfterItsCallbackRan) {
    ScriptedTessarin* mod = NewTessarin();
    SetFile(mod, Path("gone.sel"));
    vm::ChunkWriter w;
    w.Write(vm::kSceneFileMagic, 4, nullptr);
    vm::PutU32(w, vm::kSceneFileVersion);
    w.BeginChunk(vm::chunk_scene);
    vm::SaveModifier(w, mod);
    w.EndChunk();
    mod->DeleteThis();
    auto loaded = Reload(w.Bytes());
    EXPECT_TRUE(loaded->Nodes().empty());
    EXPECT_EQ(vm::Record().messageBoxes.size(), 1u);
}

TEST_F(ScenePersistence, TheModifierInTheWorldSpaceStackIsRefusedWithItsPlace) {
    Build("");
    scene_.WorldDerivedObjectOf(scene_.FindNode("n"))->AddModifier(new vm::Trim({}));
    std::string bytes = vm::SceneFileBytes(scene_);
    // the world-space list names modifier 2 (the Trim); make it name 0, the Tessarin
    std::string world("\x40\x03\x08\0\0\0\x01\0\0\0\x02\0\0\0", 14);
    size_t at = bytes.find(world);
    ASSERT_NE(at, std::string::npos);
    bytes[at + 10] = 0;
    try {
        Reload(bytes);
        ADD_FAILURE() << "loaded";
    } catch (const vm::SceneFileError& e) {
        EXPECT_NE(
            std::string(e.what()).find("byte " + std::to_string(at + 10) +
                                       ": modifier 0 is an object-space modifier in the world-space stack"),
            std::string::npos)
            << e.what();
    }
}

TEST_F(ScenePersistence, ParameterKeysOutOfOrderAreRefused) {
    ScriptedTessarin* mod = Build("");
    mod->pblock->SetParamValue(pb_strength, 0, 0.5f);
    mod->pblock->SetParamValue(pb_strength, 320, 1.0f);
    std::string bytes = vm::SceneFileBytes(scene_);
    // the second key's time, 320 right after the first key's value 0.5, becomes -320
    size_t at = bytes.find(std::string("\x00\x00\xe0\x3f\x40\x01\x00\x00", 8));
    ASSERT_NE(at, std::string::npos);
    int32_t minus = -320;
    std::memcpy(bytes.data() + at + 4, &minus, 4);
    try {
        Reload(bytes);
        ADD_FAILURE() << "loaded";
    } catch (const vm::SceneFileError& e) {
        EXPECT_NE(std::string(e.what()).find("parameter keys are not in time order"), std::string::npos)
            << e.what();
    }
}

} // namespace
