// Playback: bracketing samples and fractions, blending, combining, status messages.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>
#include <cmath>
#include <cstring>

#include "sel/files.h"
#include "plugin/fixture.h"

namespace {
using testing_support::PluginTest;

class Playback : public PluginTest {
  protected:
    // A node whose incoming selection is `selected` with channel-0 `weights`, under a Tessarin playing
    // a variable-count file of `samples` at `spf` samples per frame.
    ScriptedTessarin* Setup(const std::vector<std::vector<float>>& samples, int spf = 1,
                            std::vector<float> weights = {}, std::vector<int> selected = {}) {
        std::string path = Path("cache.sel");
        WriteBytes(path, sel::EncodeFile(spf, Samples(samples)));
        int verts = weights.empty() ? static_cast<int>(samples[0].size()) : static_cast<int>(weights.size());
        std::vector<Modifier*> mods;
        if (!weights.empty() || !selected.empty())
            mods.push_back(new vm::SelectKeys(
                {{TIME_NegInfinity, selected, weights.empty() ? std::nullopt : std::optional(weights)}}));
        mod = NewTessarin();
        SetFile(mod, path);
        mods.push_back(mod);
        node = AddNode("n", verts, mods);
        return mod;
    }
    float Weight(Mesh& m, int i) { return m.vertexFloat(0)[i]; }
    // One sample per frame, one vertex per sample, weight k at sample k.
    static std::vector<std::vector<float>> Ramp(int n) {
        std::vector<std::vector<float>> s;
        for (int k = 0; k < n; ++k)
            s.push_back({float(k)});
        return s;
    }
    ScriptedTessarin* mod = nullptr;
    INode* node = nullptr;
};

TEST_F(Playback, PositionAndFractionAtFrame12Point25) {
    Setup(Ramp(8));
    mod->pblock->SetParamValue(pb_time, 0, 10.0f);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 1960), 0), 2.25f) << "samples 2 and 3, a quarter of the way";

    Setup(Ramp(8), 2);
    mod->pblock->SetParamValue(pb_time, 0, 10.0f);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 1960), 0), 4.5f) << "samples 4 and 5, half way";
}

TEST_F(Playback, HeldSamplesAreDroppedWhenTheFileIsOpenedAgain) {
    Setup(Ramp(8));
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 360), 0), 2.25f);
    // the same name now holds other weights; Set Cache closes the file and the next playback opens it
    std::vector<std::vector<float>> tenfold;
    for (int k = 0; k < 8; ++k)
        tenfold.push_back({10.0f * k});
    WriteBytes(Path("cache.sel"), sel::EncodeFile(1, Samples(tenfold)));
    provider_.openAnswers = {Path("cache.sel")};
    mod->ChooseCacheFile(nullptr);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 360), 0), 22.5f) << "samples 2 and 3 are read from the new file";
    // a file that cannot be played in between leaves nothing to reuse either
    WriteBytes(Path("bad.sel"), std::string(5, '\0'));
    provider_.openAnswers = {Path("bad.sel")};
    mod->ChooseCacheFile(nullptr);
    Evaluate(node, 360);
    provider_.openAnswers = {Path("cache.sel")};
    mod->ChooseCacheFile(nullptr);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 360), 0), 22.5f);
}

// Whatever order the times come in (stepping either way, several times within one interval,
// jumps, the ends), playback gives, bit for bit, what a modifier evaluating that time first gives.
// The disk decides: a cache deleted while open stops playing and is reported missing, as the page's
// notes say; one replaced under the same name (another modifier recorded it) plays its new samples.
TEST_F(Playback, ADeletedCacheStopsPlayingAndAReplacedOnePlaysItsNewSamples) {
    Setup(Ramp(4));
    scene_.BeginEdit(mod);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 320), 0), 2.0f);
    std::error_code ec;
    if (!std::filesystem::remove(Path("cache.sel"), ec))
        GTEST_SKIP() << "this system neither deletes nor replaces a file held open: " << ec.message();
    if (std::filesystem::exists(Path("cache.sel"), ec) || ec)
        GTEST_SKIP() << "this system keeps a deleted file's name until its last reader lets go";
    Mesh& gone = Evaluate(node, 480);
    EXPECT_EQ(mod->StatusCode(), status_missing);
    EXPECT_FALSE(gone.vDataSupport(0) && Weight(gone, 0) == 3.0f) << "nothing plays from the deleted file";
    // back under the same name with other samples: found again and played
    WriteBytes(Path("other.sel"), sel::EncodeFile(1, Samples({{7.0f}, {8.0f}, {9.0f}, {10.0f}})));
    std::filesystem::rename(Path("other.sel"), Path("cache.sel"));
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 320), 0), 9.0f);
    EXPECT_EQ(mod->StatusCode(), status_none);
    auto later = std::filesystem::last_write_time(Path("cache.sel")) + std::chrono::seconds(2);
    WriteBytes(Path("other.sel"), sel::EncodeFile(1, Samples({{1.0f}, {1.5f}, {2.5f}, {3.5f}})));
    std::filesystem::last_write_time(Path("other.sel"), later);
    std::filesystem::rename(Path("other.sel"), Path("cache.sel"));
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 320), 0), 2.5f);
    // rewritten in place to the same size, its modification time put back: the change time tells
    auto kept = std::filesystem::last_write_time(Path("cache.sel"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    {
        std::fstream f(Path("cache.sel"), std::ios::in | std::ios::out | std::ios::binary);
        std::string same = sel::EncodeFile(1, Samples({{4.0f}, {4.5f}, {5.5f}, {6.5f}}));
        f.write(same.data(), std::streamsize(same.size()));
    }
    std::filesystem::last_write_time(Path("cache.sel"), kept);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 320), 0), 5.5f) << "not the samples read before the rewrite";
    scene_.EndEdit();
}

// A crowd: many modifiers on a few files, and more files than the pool keeps open. Every modifier
// plays what a lone one plays; the files opened stay within the pool's bound, and modifiers playing
// one file at one time share its samples instead of holding three each.
TEST_F(Playback, ACrowdSharesItsFilesAndSamplesAndPlaysWhatALoneModifierPlays) {
    sel::CachePool& pool = sel::CachePool::Shared();
    struct Restore {
        sel::CachePool& pool;
        ~Restore() { pool.SetLimits({}); }
    } restore{pool};
    pool.SetLimits({4, sel::CachePool::Limits{}.keptBytes});
    // file f: two vertices, weights f + 10k + 0.25 and f + 10k + 0.5 at sample k (never exactly 1)
    const int files = 12, nodes = 1000;
    for (int f = 0; f < files; ++f) {
        std::vector<std::vector<float>> weights;
        for (int k = 0; k < 6; ++k)
            weights.push_back({float(f + 10 * k) + 0.25f, float(f + 10 * k) + 0.5f});
        WriteBytes(Path("crowd" + std::to_string(f) + ".sel"), sel::EncodeFile(1, Samples(weights)));
    }
    std::vector<INode*> crowd;
    for (int i = 0; i < nodes; ++i) {
        ScriptedTessarin* m = NewTessarin();
        SetFile(m, Path("crowd" + std::to_string(i % files) + ".sel"));
        crowd.push_back(AddNode("agent" + std::to_string(i), 2, {m}));
    }
    for (TimeValue t : {0, 400, 240, 800, 80}) {
        float frame = float(t) / 160;
        for (int i = 0; i < nodes; ++i) {
            Mesh& m = Evaluate(crowd[size_t(i)], t);
            float expected = float(i % files) + 10 * std::min(frame, 5.0f);
            ASSERT_FLOAT_EQ(Weight(m, 0), expected + 0.25f) << "agent " << i << " at tick " << t;
            ASSERT_FLOAT_EQ(Weight(m, 1), expected + 0.5f) << "agent " << i << " at tick " << t;
            ASSERT_LE(pool.Count().openFiles, 4u);
        }
        // files written just now are not shared yet (a rewrite within the file system's tick could
        // keep their stamps): once that is past, the modifiers read them anew and share them
        if (t == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            continue;
        }
        sel::CachePool::Counts held = pool.Count();
        EXPECT_EQ(held.entries, size_t(files)) << "one entry a file, however many play it";
        EXPECT_LE(held.heldSamples, size_t(3 * files)) << "the first and the two around t, a file";
    }
    // one file rewritten under its name: every modifier playing it plays the new samples
    WriteBytes(Path("new.sel"), sel::EncodeFile(1, Samples({{7.0f, 7.5f}, {8.0f, 8.5f}})));
    std::filesystem::rename(Path("new.sel"), Path("crowd0.sel"));
    for (int i = 0; i < nodes; i += files)
        ASSERT_FLOAT_EQ(Weight(Evaluate(crowd[size_t(i)], 160), 0), 8.0f) << "agent " << i;
}

TEST_F(Playback, AnyOrderOfTimesPlaysWhatAFreshModifierPlays) {
    // counts that differ between neighbours, weights with exact 1.0s, a mesh longer than some samples
    std::vector<std::vector<float>> weights;
    const int counts[] = {6, 6, 4, 6, 5, 5, 6, 6, 3, 6, 6};
    for (int k = 0; k < 11; ++k) {
        weights.emplace_back();
        for (int i = 0; i < counts[k]; ++i)
            weights.back().push_back((i + k) % 4 == 0 ? 1.0f : 0.1f * float((i * 3 + k * 7) % 11));
    }
    const std::vector<float> incoming = {0.5f, 0.25f, 1.0f, 0.0f, 0.75f, 0.3f};
    const std::vector<TimeValue> times = {40,   200,  240, 280, 360, 320, 400,  120,  80,   1500, 1660,
                                          1640, -300, 0,   160, 480, 440, 1000, 1040, 1080, 1200, 1120,
                                          600,  760,  920, 840, 680, 520, 200,  210,  220,  1590};
    const std::string formats[] = {"variable", "fixed"};
    for (const std::string& format : formats) {
        std::string path = Path(format + ".sel");
        auto records = Samples(weights);
        if (format == "fixed") {
            for (auto& s : records)
                s.resize(5, SampleRecord{0.4f, 0});
            WriteBytes(path, sel::EncodeFile(1, records, 5));
        } else {
            WriteBytes(path, sel::EncodeFile(1, records));
        }
        for (int type = 0; type < 4; ++type)
            for (int relative = 0; relative < 2; ++relative) {
                ScriptedTessarin* made = nullptr;
                auto make = [&] {
                    ScriptedTessarin* m = made = NewTessarin();
                    SetFile(m, path);
                    m->pblock->SetParamValue(pb_selection_type, 0, type);
                    m->pblock->SetParamValue(pb_relative_offset, 0, relative);
                    m->pblock->SetParamValue(pb_strength, 0, 0.7f);
                    INode* n = AddNode("n", 6, {new vm::SelectKeys({{TIME_NegInfinity, {5}, incoming}}), m});
                    return n;
                };
                INode* playing = make();
                for (TimeValue t : times) {
                    Mesh& got = Evaluate(playing, t);
                    std::vector<int> gotBits;
                    std::vector<float> gotWeights(got.vertexFloat(0), got.vertexFloat(0) + 6);
                    for (int i = 0; i < 6; ++i)
                        gotBits.push_back(got.vertSel[i]);
                    Mesh& fresh = Evaluate(make(), t);
                    for (int i = 0; i < 6; ++i) {
                        EXPECT_EQ(gotBits[i], fresh.vertSel[i]) << format << " t " << t << " vertex " << i;
                        EXPECT_EQ(std::memcmp(&gotWeights[i], fresh.vertexFloat(0) + i, 4), 0)
                            << format << " type " << type << " relative " << relative << " t " << t
                            << " vertex " << i << ": " << gotWeights[i] << " against "
                            << fresh.vertexFloat(0)[i];
                    }
                    CloseCacheFile(made);
                }
            }
    }
}

TEST_F(Playback, TimesOutsideTheRecordingClampToTheEnds) {
    Setup(Ramp(4));
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, -500), 0), 0.0f);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 160 * 50), 0), 3.0f);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 320), 0), 2.0f);
}

TEST_F(Playback, SingleSampleFileFillsBothBuffers) {
    Setup({{0.25f, 0.75f}});
    Mesh& m = Evaluate(node, 123);
    EXPECT_FLOAT_EQ(Weight(m, 1), 0.75f);
}

TEST_F(Playback, BlendRelativeOffsetAndTheThreeCombinations) {
    const float expected[] = {0.9f, 1.4f, -0.4f};
    for (int type = 0; type < 3; ++type) {
        Setup({{0.1f}, {0.2f}, {0.6f}}, 1, {0.5f});
        mod->pblock->SetParamValue(pb_relative_offset, 0, 1);
        mod->pblock->SetParamValue(pb_strength, 0, 2.0f);
        mod->pblock->SetParamValue(pb_selection_type, 0, type);
        Mesh& m = Evaluate(node, 200); // p = 1.25
        EXPECT_FLOAT_EQ(Weight(m, 0), expected[type]) << "selectionType " << type;
        EXPECT_EQ(m.vertSel[0], 0);
        EXPECT_EQ(m.selLevel, MESH_VERTEX);
    }
    Setup({{0.1f}, {0.2f}, {0.6f}}, 1, {0.5f});
    mod->pblock->SetParamValue(pb_selection_type, 0, 7);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 200), 0), 0.5f) << "an unknown type keeps the incoming weight";
}

TEST_F(Playback, OnlyExactlyOneSelects) {
    Setup({{1.0f, 0.99999994f, 0.7f}}, 1, {0.3f, 0.4f, 0.5f});
    Mesh& m = Evaluate(node, 0);
    EXPECT_EQ(m.vertSel[0], 1);
    EXPECT_FLOAT_EQ(Weight(m, 0), 0.3f) << "the channel keeps its value when the bit is set";
    EXPECT_EQ(m.vertSel[1], 0);
    EXPECT_EQ(Weight(m, 1), 0.99999994f);
    mod->pblock->SetParamValue(pb_selection_type, 0, 1);
    Mesh& add = Evaluate(node, 0);
    EXPECT_FLOAT_EQ(Weight(add, 2), 1.2f) << "Add is not clamped";
    EXPECT_EQ(add.vertSel[2], 0);
}

TEST_F(Playback, RelativeWithZeroStrengthOrAtTheFirstSampleKeepsTheIncomingWeights) {
    Setup({{0.1f, 0.2f}, {0.9f, 0.8f}}, 1, {0.5f, 1.0f});
    mod->pblock->SetParamValue(pb_relative_offset, 0, 1);
    Mesh& m = Evaluate(node, 0);
    EXPECT_FLOAT_EQ(Weight(m, 0), 0.5f);
    EXPECT_EQ(m.vertSel[1], 1) << "a weight of exactly 1.0 becomes a set bit";
    mod->pblock->SetParamValue(pb_strength, 0, 0.0f);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 80), 0), 0.5f);
}

// Playback reads the selection a word at a time and writes only the bits that change. Against the
// per-vertex rule (the played value of the two samples, then the combination): meshes and sample counts around the
// 64-bit word edges, so that the blended vertices end inside a word, bits set on the edges, exact
// 1.0s among the samples and the incoming weights, every combination, relative offset on and off.
TEST_F(Playback, WordsPlayWhatTheVertexRuleGives) {
    for (int n : {63, 64, 65, 130})
        for (int count : {1, 63, 64, 66, 129}) {
            std::vector<std::vector<float>> samples;
            for (int k = 0; k < 3; ++k) {
                samples.emplace_back();
                int c = k == 2 ? count + 1 : count; // samples 1 and 2 differ in count
                for (int i = 0; i < c; ++i)
                    samples.back().push_back((i + k) % 5 == 0 ? 1.0f : 0.125f * float((i * 3 + k) % 9));
            }
            std::vector<int> selected;
            std::vector<float> incoming;
            for (int i : {0, 1, 62, 63, 64, 65, 127, 128, n - 1})
                if (i < n) selected.push_back(i);
            for (int i = 0; i < n; ++i)
                incoming.push_back(i % 7 == 0 ? 1.0f : 0.1f * float(i % 10));
            for (int type = 0; type < 4; ++type)
                for (int relative = 0; relative < 2; ++relative) {
                    Setup(samples, 1, incoming, selected);
                    mod->pblock->SetParamValue(pb_selection_type, 0, type);
                    mod->pblock->SetParamValue(pb_relative_offset, 0, relative);
                    mod->pblock->SetParamValue(pb_strength, 0, 0.75f);
                    for (TimeValue t : {0, 40, 200, 160, 280}) {
                        Mesh& m = Evaluate(node, t);
                        sel::play::Bracket at = sel::play::BracketAt(t, 0.0f, 160, 1, 3);
                        auto held = Samples(samples);
                        for (auto& h : held)
                            h.resize(size_t(count) + 1);
                        sel::play::Played played = sel::play::ChoosePlayed(
                            held[size_t(at.idx)].data(), held[size_t(at.next)].data(), held[0].data(),
                            at.fraction, 0.75f, relative != 0, true, count + 1, int(samples[size_t(at.idx)].size()),
                            int(samples[size_t(at.next)].size()));
                        for (int i = 0; i < n; ++i) {
                            bool in = std::find(selected.begin(), selected.end(), i) != selected.end();
                            float w = in ? 1.0f : incoming[static_cast<size_t>(i)];
                            double v = sel::play::PlayedValue(played, i, w);
                            float r = type == 0   ? float(v)
                                      : type == 1 ? float(v + w)
                                      : type == 2 ? float(w - v)
                                                  : w;
                            float stored = r == 1.0f ? incoming[static_cast<size_t>(i)] : r;
                            std::string where = "n " + std::to_string(n) + " count " + std::to_string(count) +
                                                " type " + std::to_string(type) + " relative " +
                                                std::to_string(relative) + " t " + std::to_string(t) +
                                                " vertex " + std::to_string(i);
                            ASSERT_EQ(m.vertSel[i], r == 1.0f ? 1 : 0) << where;
                            ASSERT_EQ(std::memcmp(&stored, m.vertexFloat(0) + i, 4), 0)
                                << where << ": " << m.vertexFloat(0)[i] << " against " << stored;
                        }
                    }
                }
        }
}

TEST_F(Playback, VerticesBeyondTheRecordsUseTheIncomingWeight) {
    Setup({{0.8f}}, 1, {0.25f, 0.25f, 0.25f});
    scene_.BeginEdit(mod);
    Mesh& m = Evaluate(node, 0);
    EXPECT_FLOAT_EQ(Weight(m, 0), 0.8f);
    EXPECT_FLOAT_EQ(Weight(m, 2), 0.25f);
    EXPECT_EQ(mod->StatusCode(), status_count_mismatch);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, LookupString(345));
    mod->pblock->SetParamValue(pb_selection_type, 0, 1);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 0), 2), 0.5f);
    mod->pblock->SetParamValue(pb_selection_type, 0, 2);
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 0), 2), 0.0f);
}

TEST_F(Playback, FixedCountFilesNeedNoTableAndNeverWarn) {
    std::string path = Path("fixed.sel");
    WriteBytes(path, sel::EncodeFile(1, Samples({{0.1f, 0.2f, 0.3f}, {0.5f, 0.6f, 0.7f}}), 3));
    mod = NewTessarin();
    SetFile(mod, path);
    node = AddNode("n", 2, {mod});
    scene_.BeginEdit(mod);
    Mesh& m = Evaluate(node, 80);
    EXPECT_FLOAT_EQ(Weight(m, 1), 0.4f);
    EXPECT_EQ(mod->StatusCode(), 0);
}

TEST_F(Playback, UnequalBracketingCountsPlayTheLowerSampleUnblended) {
    Setup({{0.1f, 0.2f}, {0.5f, 0.6f, 0.7f}}, 1, {0.3f, 0.3f, 0.3f});
    mod->pblock->SetParamValue(pb_relative_offset, 0, 1);
    Mesh& m = Evaluate(node, 80);
    EXPECT_FLOAT_EQ(Weight(m, 0), 0.1f);
    EXPECT_FLOAT_EQ(Weight(m, 1), 0.2f);
    EXPECT_FLOAT_EQ(Weight(m, 2), 0.3f);
}

TEST_F(Playback, TimeFieldsDoNotMatter) {
    std::string path = Path("cache.sel");
    auto samples = Samples({{0.2f}, {0.6f}});
    samples[0][0].time = 123456;
    samples[1][0].time = -7;
    WriteBytes(path, sel::EncodeFile(1, samples));
    mod = NewTessarin();
    SetFile(mod, path);
    node = AddNode("n", 1, {mod});
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 80), 0), 0.4f);
}

TEST_F(Playback, MissingFileIsReportedOnceAndClearedWhenItAppears) {
    mod = NewTessarin();
    SetFile(mod, Path("later.sel"));
    node = AddNode("n", 1, {new vm::SelectKeys({{0, {0}, std::nullopt}}), mod});
    Evaluate(node, 0);
    EXPECT_EQ(mod->StatusCode(), 0) << "without a panel the code does not change";
    scene_.BeginEdit(mod);
    vm::Record().Clear();
    Mesh& m = Evaluate(node, 0);
    EXPECT_EQ(m.vertSel[0], 1) << "the incoming selection passes through";
    EXPECT_EQ(mod->StatusCode(), status_missing);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, "Warning: Cache file not found ");
    GetDlgItem(mod->Panel(), 1006)->text = "seen";
    Evaluate(node, 0);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, "seen") << "not shown twice in a row";
    WriteBytes(Path("later.sel"), sel::EncodeFile(1, Samples({{0.5f}})));
    Evaluate(node, 0);
    EXPECT_EQ(mod->StatusCode(), 0);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, " ");
}

TEST_F(Playback, UnsetAndEmptyFileNamesPassThroughWithoutTheMissingMessage) {
    mod = NewTessarin();
    node = AddNode("n", 1, {mod});
    scene_.BeginEdit(mod);
    auto* tri = static_cast<TriObject*>(scene_.EvaluateNode(node, 480, 0).obj);
    EXPECT_EQ(mod->StatusCode(), 0);
    EXPECT_EQ(tri->mesh.dispFlags & 0x401u, 0x401u) << "the end steps run without a file too";
    EXPECT_EQ(tri->ChannelValidity(1), Interval(480, 480));
    EXPECT_EQ(tri->ChannelValidity(4), Interval(480, 480));
    SetFile(mod, ""); // as the panel shows it: "<none>", so no missing-file message either
    Evaluate(node, 0);
    EXPECT_EQ(mod->StatusCode(), 0);
    SetFile(mod, dir_.string()); // the fallback folder itself is not a cache file
    Evaluate(node, 0);
    EXPECT_EQ(mod->StatusCode(), status_missing);
}

TEST_F(Playback, FileNameFallsBackToHostDirectoryTwo) {
    WriteBytes(Path("walk.sel"), sel::EncodeFile(1, Samples({{0.5f}})));
    scene_.SetDirectory(2, dir_.string());
    mod = NewTessarin();
    SetFile(mod, "/no/such/folder/walk.sel");
    node = AddNode("n", 1, {mod});
    EXPECT_FLOAT_EQ(Weight(Evaluate(node, 0), 0), 0.5f);
}

TEST_F(Playback, InstancedModifierWarnsOnceWithAPanel) {
    Setup({{0.5f}});
    INode* other = AddNode("other", 1, {});
    scene_.DerivedObjectOf(other)->AddModifier(mod);
    scene_.BeginEdit(mod, {node});
    Evaluate(node, 0);
    EXPECT_EQ(mod->StatusCode(), status_instanced);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, LookupString(336));
}

} // namespace
