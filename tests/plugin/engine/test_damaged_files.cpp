// Damaged and very large cache files played through the modifier: every truncation, hostile
// headers, samples past 4 GiB.
#include "plugin/fixture.h"
#include "sel/large_cache.h"

namespace {
using testing_support::PluginTest;

using sel::EncodeHeader;

class DamagedFiles : public PluginTest {
  protected:
    // Plays `bytes` on a 3-vertex mesh with a panel open; answers the weights, or nothing when the
    // file was treated as missing.
    std::vector<float> Play(const std::string& bytes, TimeValue t = 80) {
        std::string path = Path("damaged.sel");
        WriteBytes(path, bytes);
        ScriptedTessarin* mod = NewTessarin();
        SetFile(mod, path);
        mod->pblock->SetParamValue(pb_relative_offset, 0, 1);
        INode* node = AddNode("n" + std::to_string(counter_++), 3,
                              {new vm::SelectKeys({{0, {}, std::vector<float>{0.5f, 0.5f, 0.5f}}}), mod});
        scene_.BeginEdit(mod);
        Mesh& m = Evaluate(node, t);
        std::vector<float> out;
        if (mod->StatusCode() != status_missing)
            for (int i = 0; i < 3; ++i)
                out.push_back(m.vertexFloat(0)[i]);
        scene_.EndEdit();
        return out;
    }
    int counter_ = 0;
};

TEST_F(DamagedFiles, EveryTruncationPlaysSafely) {
    std::string valid = sel::EncodeFile(1, Samples({{0.1f, 0.2f, 0.3f}, {0.4f, 0.5f}, {0.7f, 0.8f, 0.9f}}));
    ASSERT_EQ(Play(valid).size(), 3u);
    for (size_t n = 0; n < valid.size(); ++n)
        Play(valid.substr(0, n)); // no reads past the data
    std::string fixed = sel::EncodeFile(1, Samples({{0.1f, 0.2f, 0.3f}, {0.4f, 0.5f, 0.6f}}), 3);
    for (size_t n = 0; n < fixed.size(); ++n) {
        auto w = Play(fixed.substr(0, n));
        if (n < 12 + 24)
            EXPECT_TRUE(w.empty()) << n;
        else
            EXPECT_FLOAT_EQ(w[0], 0.5f) << "the one whole sample plays as the first and last" << n;
    }
}

TEST_F(DamagedFiles, HostileFilesTakeTheMissingPath) {
    EXPECT_TRUE(Play(EncodeHeader(-100, 1, 0)).empty());
    EXPECT_TRUE(Play(EncodeHeader(-100, 0, 1) + std::string(12, '\0')).empty());
    EXPECT_TRUE(Play(EncodeHeader(-100, 1, 0x40000000)).empty());
    EXPECT_TRUE(Play(EncodeHeader(-100, 1, 2) + std::string(8, '\0') + std::string("\x01\0\0\0\xff\xff\xff\x7f", 8))
                    .empty());
}

TEST_F(DamagedFiles, RelativeOffsetBeyondTheFirstSampleUsesZero) {
    auto w = Play(sel::EncodeFile(1, Samples({{0.1f}, {0.4f, 0.6f, 0.8f}, {0.4f, 0.6f, 0.8f}})), 160);
    ASSERT_EQ(w.size(), 3u);
    EXPECT_FLOAT_EQ(w[0], 0.5f + (0.4f - 0.1f));
    EXPECT_FLOAT_EQ(w[1], 0.5f + 0.6f);
}
} // namespace

namespace {
class LargeFiles : public testing_support::PluginTest {};

TEST_F(LargeFiles, SamplesPastFourGibibytesPlay) {
    // 520 samples of 2^20 records: sample 515 starts past 4 GiB. Sparse, so it costs no disk.
    const int32_t perSample = 1 << 20, total = 520, target = 515;
    std::string path = Path("big.sel");
    std::FILE* f = sel::OpenFile(path, "wb");
    ASSERT_NE(f, nullptr);
    int32_t header[3] = {-100, 1, total};
    std::fwrite(header, sizeof header, 1, f);
    int64_t start = 12 + int64_t(8) * perSample * target;
    ASSERT_GT(start, int64_t(1) << 32);
    SampleRecord mark{0.75f, 0};
    ASSERT_TRUE(sel::SeekTo(f, start));
    std::fwrite(&mark, sizeof mark, 1, f);
    ASSERT_TRUE(sel::SeekTo(f, 12 + int64_t(8) * perSample * total));
    std::vector<int32_t> counts(total, perSample);
    std::fwrite(counts.data(), 4, counts.size(), f);
    ASSERT_EQ(std::fclose(f), 0);

    ScriptedTessarin* mod = NewTessarin();
    SetFile(mod, path);
    INode* node = AddNode("n", 2, {mod});
    Mesh& m = Evaluate(node, 160 * target);
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[0], 0.75f);
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[1], 0.0f);
}

// The modifier seeks from sample 0 to the last sample of a fixed-count file past 4 GiB and plays it
// as written: every weight exact, the one of exactly 1.0 as the selection bit.
TEST_F(LargeFiles, AFixedCountCacheOver4GiBPlaysItsLastSampleExactly) {
    using testing_support::LargeCache;
    std::string path = Path("large.sel");
    LargeCache large;
    ASSERT_NO_FATAL_FAILURE(testing_support::WriteLargeCache(path, large));
    ScriptedTessarin* mod = NewTessarin();
    SetFile(mod, path);
    INode* node = AddNode("n", LargeCache::kPerSample, {mod});
    scene_.BeginEdit(mod);
    Mesh& first = Evaluate(node, 0);
    EXPECT_EQ(first.vertexFloat(0)[0], 0.0f) << "the sparse first sample";
    Mesh& m = Evaluate(node, 160 * (LargeCache::kSamples - 1));
    EXPECT_EQ(mod->StatusCode(), 0);
    for (int i = 0; i < LargeCache::kPerSample; ++i) {
        float want = large.last[size_t(i)].weight;
        ASSERT_EQ(m.vertSel[i], want == 1.0f ? 1 : 0) << "vertex " << i;
        if (want != 1.0f) {
            ASSERT_EQ(m.vertexFloat(0)[i], want) << "vertex " << i;
        }
    }
    scene_.EndEdit();
}
} // namespace
