// Rules of playback, capture and the recorder that a plausible slip in the code would break while the
// broader tests still passed: each case names the slip it catches.
#include <cstring>
#include <optional>

#include "plugin/fixture.h"

namespace {
using testing_support::PluginTest;

class Rules : public PluginTest {
  protected:
    // A node of `verts` vertices whose incoming selection is `selected` with channel-0 `weights`
    // (no channel when empty), under a Tessarin playing `bytes`.
    ScriptedTessarin* Play(const std::string& bytes, int verts, std::vector<int> selected,
                           std::optional<std::vector<float>> weights) {
        std::string path = Path("rules" + std::to_string(counter_++) + ".sel");
        WriteBytes(path, bytes);
        mod = NewTessarin();
        SetFile(mod, path);
        node =
            AddNode("n" + std::to_string(counter_), verts,
                    {new vm::SelectKeys({{TIME_NegInfinity, std::move(selected), std::move(weights)}}), mod});
        return mod;
    }
    void Set(int param, int v) { mod->pblock->SetParamValue(param, 0, v); }
    void Set(int param, float v) { mod->pblock->SetParamValue(param, 0, v); }
    ScriptedTessarin* mod = nullptr;
    INode* node = nullptr;
    int counter_ = 0;
};

// Slip: taking the channel value of a selected vertex as its incoming weight.
TEST_F(Rules, ASelectedVertexComesInAsOneWhateverItsChannelHolds) {
    std::string file = sel::EncodeFile(1, Samples({{0.25f, 0.25f}}));
    const struct {
        int type;
        float selected, unselected;
    } cases[] = {{1, 1.25f, 0.45f}, {2, 0.75f, -0.05f}};
    for (const auto& c : cases) {
        Play(file, 2, {0}, std::vector<float>{0.2f, 0.2f});
        Set(pb_selection_type, c.type);
        Mesh& m = Evaluate(node, 0);
        EXPECT_FLOAT_EQ(m.vertexFloat(0)[0], c.selected) << "selectionType " << c.type;
        EXPECT_FLOAT_EQ(m.vertexFloat(0)[1], c.unselected) << "selectionType " << c.type;
        EXPECT_EQ(m.vertSel[0], 0);
    }
    // relative mode at the first sample gives v = w: the selected vertex stays selected
    Play(file, 2, {0}, std::vector<float>{0.2f, 0.2f});
    Set(pb_relative_offset, 1);
    Mesh& m = Evaluate(node, 0);
    EXPECT_EQ(m.vertSel[0], 1);
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[0], 0.2f) << "a set bit leaves the channel as it was";
    // an unknown selectionType keeps w, which is 1.0
    Play(file, 2, {0}, std::vector<float>{0.2f, 0.2f});
    Set(pb_selection_type, 5);
    EXPECT_EQ(Evaluate(node, 0).vertSel[0], 1);
}

// Slip: reading records past a fixed-count sample for the mesh's extra vertices.
TEST_F(Rules, FixedCountFileWithFewerRecordsThanVertices) {
    std::string file = sel::EncodeFile(1, Samples({{0.1f, 0.2f}, {0.5f, 0.6f}, {0.7f, 0.8f}}), 2);
    const float extra[] = {0.25f, 0.5f, 0.0f}; // Replace keeps w, Add doubles it, Subtract gives 0
    for (int type = 0; type < 3; ++type) {
        Play(file, 5, {}, std::vector<float>(5, 0.25f));
        scene_.BeginEdit(mod);
        Set(pb_selection_type, type);
        Mesh& m = Evaluate(node, 80); // p = 0.5
        for (int i = 2; i < 5; ++i)
            EXPECT_FLOAT_EQ(m.vertexFloat(0)[i], extra[type]) << "type " << type << " vertex " << i;
        EXPECT_EQ(mod->StatusCode(), 0) << "a fixed-count file never warns";
        scene_.EndEdit();
    }
    Set(pb_selection_type, 1);
    Mesh& m = Evaluate(node, 320); // sample 2 starts at 12 + 8 x 2 x 2
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[0], 0.7f + 0.25f);
    Set(pb_relative_offset, 1);
    Set(pb_strength, 1.0f);
    Set(pb_selection_type, 0);
    Mesh& rel = Evaluate(node, 320);
    EXPECT_FLOAT_EQ(rel.vertexFloat(0)[1], 0.25f + (0.8f - 0.2f));
    EXPECT_FLOAT_EQ(rel.vertexFloat(0)[4], 0.25f);
}

// Slip: comparing the mesh with counts left in countTable by an earlier variable-count file.
TEST_F(Rules, FixedCountFileIgnoresCountsOfAnEarlierFile) {
    Play(sel::EncodeFile(1, Samples({{0.5f, 0.5f}})), 3, {}, std::nullopt);
    Evaluate(node, 0);
    WriteBytes(Path("fixed.sel"), sel::EncodeFile(1, Samples({{0.1f, 0.2f, 0.3f}}), 3));
    scene_.BeginEdit(mod);
    provider_.openAnswers = {Path("fixed.sel")};
    mod->ChooseCacheFile(mod->Panel());
    Mesh& m = Evaluate(node, 0);
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[1], 0.2f);
    EXPECT_EQ(mod->StatusCode(), 0);
}

TEST_F(Rules, BlendIsExactAndTheIncomingChannelIsMadeWhenAbsent) {
    Play(sel::EncodeFile(1, Samples({{0.2f, 0.5f}, {0.6f, 0.5f}})), 2, {0}, std::nullopt);
    Mesh& m = Evaluate(node, 40); // fraction 0.25
    ASSERT_TRUE(m.vDataSupport(0));
    EXPECT_EQ(m.vertexFloat(0)[0], 0.3f);
    Set(pb_selection_type, 1);
    Mesh& add = Evaluate(node, 40);
    EXPECT_FLOAT_EQ(add.vertexFloat(0)[0], 1.3f) << "selected: w is 1.0";
    EXPECT_FLOAT_EQ(add.vertexFloat(0)[1], 0.5f) << "no channel: w is 0.0";
}

TEST_F(Rules, VariableCountFileWarnsForAMeshWithFewerVertices) {
    Play(sel::EncodeFile(1, Samples({{0.1f, 0.2f, 0.3f}})), 2, {}, std::vector<float>{0.5f, 0.5f});
    scene_.BeginEdit(mod);
    Mesh& m = Evaluate(node, 0);
    EXPECT_EQ(m.getNumVerts(), 2);
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[1], 0.2f);
    EXPECT_EQ(mod->StatusCode(), status_count_mismatch);
    // a vanished file replaces the mismatch message with the missing one
    mod->ChooseCacheFile(nullptr);
    std::filesystem::remove(CacheFileOf(mod));
    Evaluate(node, 0);
    EXPECT_EQ(mod->StatusCode(), status_missing);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, LookupString(346));
}

// Slip: clearing the missing-file code only when a panel shows it.
TEST_F(Rules, AFoundFileClearsTheMissingCodeWithoutAPanel) {
    Play(sel::EncodeFile(1, Samples({{0.5f}})), 1, {}, std::nullopt);
    std::string file = CacheFileOf(mod);
    std::filesystem::rename(file, file + ".away");
    mod->WarnIfCacheMissing(); // as the check after loading a scene leaves it
    ASSERT_EQ(mod->StatusCode(), status_missing);
    std::filesystem::rename(file + ".away", file);
    Evaluate(node, 0);
    EXPECT_EQ(mod->StatusCode(), 0);
}

class CaptureRules : public PluginTest {
  protected:
    std::vector<float> Weights(const std::string& bytes) {
        std::vector<float> w;
        auto n = static_cast<size_t>(sel::GetI32(reinterpret_cast<const unsigned char*>(bytes.data()) + 8));
        size_t records = (bytes.size() - 12 - 4 * n) / 8;
        for (size_t r = 0; r < records; ++r) {
            float f;
            std::memcpy(&f, bytes.data() + 12 + 8 * r, 4);
            w.push_back(f);
        }
        return w;
    }
};

TEST_F(CaptureRules, WithoutAChannelUnselectedVerticesRecordZero) {
    ScriptedTessarin* mod = NewTessarin();
    SetFile(mod, Path("cap.sel"));
    mod->pblock->SetParamValue(pb_start_time, 0, 0.0f);
    mod->pblock->SetParamValue(pb_end_time, 0, 1.0f);
    AddNode("n", 2, {new vm::SelectKeys({{0, {1}, std::nullopt}}), mod});
    scene_.SetCurrentTime(-1);
    mod->Record(nullptr);
    EXPECT_EQ(Weights(ReadBytes(Path("cap.sel"))), (std::vector<float>{0.0f, 1.0f, 0.0f, 1.0f}));
}

// Slip: comparing only at the evaluations that write.
TEST_F(CaptureRules, AccumulationCatchesASelectionBetweenSamples) {
    ScriptedTessarin* mod = NewTessarin();
    SetFile(mod, Path("acc.sel"));
    mod->pblock->SetParamValue(pb_start_time, 0, 10.0f);
    mod->pblock->SetParamValue(pb_end_time, 0, 12.0f);
    mod->pblock->SetParamValue(pb_accumulate, 0, 1);
    mod->pblock->SetParamValue(pb_quality, 0, 4);
    // vertex 0 is selected only around tick 1680, between the samples at 1600 and 1760
    AddNode("n", 1,
            {new vm::SelectKeys({{0, {}, std::vector<float>{0.1f}},
                                 {1670, {0}, std::nullopt},
                                 {1690, {}, std::vector<float>{0.1f}}}),
             mod});
    scene_.SetCurrentTime(-1);
    mod->Record(nullptr);
    EXPECT_EQ(Weights(ReadBytes(Path("acc.sel"))), (std::vector<float>{0.1f, 1.0f, 1.0f}));
    mod->pblock->SetParamValue(pb_accumulate, 0, 0);
    mod->Record(nullptr);
    EXPECT_EQ(Weights(ReadBytes(Path("acc.sel"))), (std::vector<float>{0.1f, 0.1f, 0.1f}))
        << "off: one evaluation per sample, at the sample";
}

// Slip: forgetting to give the name back (and the Set Cache caption) when it was cleared mid-run.
TEST_F(CaptureRules, ANameClearedDuringTheRunIsRestoredWithTheButtonCaption) {
    ScriptedTessarin* mod = NewTessarin();
    SetFile(mod, Path("kept.sel"));
    mod->pblock->SetParamValue(pb_end_time, 0, 1.0f);
    AddNode("n", 1, {mod});
    scene_.BeginEdit(mod);
    scene_.onEvaluate = [&](INode*, TimeValue) { SetFile(mod, ""); };
    mod->Record(mod->Panel());
    scene_.onEvaluate = nullptr;
    EXPECT_STREQ(CacheFileOf(mod), Path("kept.sel").c_str());
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1002)->text, "kept.sel");
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, " ");
}

TEST_F(CaptureRules, WithoutANodeNothingIsEvaluatedAndTheFileSaysSo) {
    ScriptedTessarin* mod = NewTessarin(); // in no scene node
    SetFile(mod, Path("alone.sel"));
    mod->pblock->SetParamValue(pb_end_time, 0, 2.0f);
    int evaluations = 0;
    scene_.onEvaluate = [&](INode*, TimeValue) { ++evaluations; };
    mod->Record(nullptr);
    scene_.onEvaluate = nullptr;
    EXPECT_EQ(evaluations, 0);
    std::string bytes = ReadBytes(Path("alone.sel"));
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(sel::GetI32(reinterpret_cast<const unsigned char*>(bytes.data()) + 8), 0);
    mod->DeleteThis();
}
} // namespace
