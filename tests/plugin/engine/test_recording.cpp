// Capture and the recorder: the bytes written, the evaluation schedule, Escape, failures.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "plugin/fixture.h"
#include "sel/files.h"
#include "sel/repair.h"

namespace {
using testing_support::PluginTest;

// Answers like the scripted provider, and notes the status line at every Escape poll, which comes
// right after the recorder shows its progress.
struct PollWatcher : vm::ScriptedInteraction {
    std::function<void()> onPoll;
    SHORT KeyState(int key) override {
        if (onPoll) onPoll();
        return vm::ScriptedInteraction::KeyState(key);
    }
};

class Recording : public PluginTest {
  protected:
    // A node with `verts` vertices, the given keys and a Tessarin on top, recording into rec.sel.
    void Setup(int verts, std::vector<vm::SelectKeys::Key> keys, float start, float end, int samples = 1) {
        mod = NewTessarin();
        SetFile(mod, Path("rec.sel"));
        mod->pblock->SetParamValue(pb_start_time, 0, start);
        mod->pblock->SetParamValue(pb_end_time, 0, end);
        mod->pblock->SetParamValue(pb_samples, 0, samples);
        keysMod = new vm::SelectKeys(std::move(keys));
        node = AddNode("n", verts, {keysMod, mod});
        scene_.onEvaluate = [this](INode*, TimeValue t) { evaluations.push_back(t); };
        polls.onPoll = [this] {
            if (mod->Panel()) statusTexts.push_back(GetDlgItem(mod->Panel(), 1006)->text);
        };
        vm::SetInteraction(&polls);
    }
    void TearDown() override {
        scene_.onEvaluate = nullptr;
        PluginTest::TearDown();
    }
    std::vector<int32_t> Words(const std::string& bytes) {
        std::vector<int32_t> w;
        for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
            w.push_back(sel::GetI32(reinterpret_cast<const unsigned char*>(bytes.data()) + i));
        return w;
    }
    float WeightAt(const std::string& bytes, size_t record) {
        float f;
        std::memcpy(&f, bytes.data() + 12 + 8 * record, 4);
        return f;
    }
    std::vector<TimeValue> Times() const { return evaluations; }
    ScriptedTessarin* mod = nullptr;
    vm::SelectKeys* keysMod = nullptr;
    INode* node = nullptr;
    std::vector<TimeValue> evaluations;
    std::vector<std::string> statusTexts;
    PollWatcher polls;
};

TEST_F(Recording, ThreeFramesAtTwoSamplesMakeThe180ByteFile) {
    scene_.SetCurrentTime(-1);
    Setup(3, {{0, {1}, std::vector<float>{0.25f, 0.0f, 0.5f}}}, 0, 2, 2);
    mod->Record(nullptr);
    std::string bytes = ReadBytes(Path("rec.sel"));
    ASSERT_EQ(bytes.size(), 180u);
    auto w = Words(bytes);
    EXPECT_EQ(w[0], -100);
    EXPECT_EQ(w[1], 2);
    EXPECT_EQ(w[2], 6);
    for (int k = 0; k < 6; ++k)
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(w[3 + 2 * (3 * k + i) + 1], 80 * k);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(w[39 + k], 3);
    EXPECT_EQ(bytes.substr(12 + 8, 4), std::string("\x00\x00\x80\x3f", 4)) << "selected vertex 1 as 1.0";
    EXPECT_FLOAT_EQ(WeightAt(bytes, 0), 0.25f);
    // the next playback loads the new file
    Mesh& m = Evaluate(node, 400);
    EXPECT_EQ(m.vertSel[1], 1);
    EXPECT_FLOAT_EQ(m.vertexFloat(0)[2], 0.5f);
}

TEST_F(Recording, TheNextPlaybackReadsTheNewFileUnderTheSameName) {
    WriteBytes(Path("rec.sel"), sel::EncodeFile(1, Samples({{0.9f}})));
    Setup(1, {{0, {}, std::vector<float>{0.25f}}}, 0, 1);
    EXPECT_FLOAT_EQ(Evaluate(node, 0).vertexFloat(0)[0], 0.9f);
    mod->Record(nullptr);
    EXPECT_FLOAT_EQ(Evaluate(node, 0).vertexFloat(0)[0], 0.25f);
}

TEST_F(Recording, AccumulationKeepsTheGreatestWeight) {
    std::vector<vm::SelectKeys::Key> keys = {{0, {1}, std::vector<float>{0.2f, 0.3f}},
                                             {160, {}, std::vector<float>{0.8f, 0.0f}},
                                             {320, {}, std::vector<float>{0.5f, 0.1f}}};
    scene_.SetCurrentTime(-1);
    Setup(2, keys, 0, 2);
    mod->Record(nullptr);
    std::string off = ReadBytes(Path("rec.sel"));
    const float offExpected[] = {0.2f, 1.0f, 0.8f, 0.0f, 0.5f, 0.1f};
    for (int r = 0; r < 6; ++r)
        EXPECT_FLOAT_EQ(WeightAt(off, r), offExpected[r]) << r;
    mod->pblock->SetParamValue(pb_accumulate, 0, 1);
    mod->Record(nullptr);
    std::string on = ReadBytes(Path("rec.sel"));
    const float onExpected[] = {0.2f, 1.0f, 0.8f, 1.0f, 0.8f, 1.0f};
    for (int r = 0; r < 6; ++r)
        EXPECT_FLOAT_EQ(WeightAt(on, r), onExpected[r]) << r;
    EXPECT_EQ(Words(on).back(), 2);
}

// Samples far larger than the stream's buffer, a point count that changes, accumulation on and off:
// the file holds exactly the records one write per record would have made.
TEST_F(Recording, LargeSamplesAreWrittenRecordForRecord) {
    const int verts = 3000;
    auto weightAt = [](int i, int frame) { return float(i % 11) / float(10 + frame); }; // falls with time
    std::vector<vm::SelectKeys::Key> keys;
    for (int frame = 0; frame < 4; ++frame) {
        std::vector<float> w;
        for (int i = 0; i < verts; ++i)
            w.push_back(weightAt(i, frame));
        keys.push_back({frame * 160, {7, 2999 - frame}, w});
    }
    for (int accumulate = 0; accumulate < 2; ++accumulate) {
        scene_.SetCurrentTime(-1);
        mod = NewTessarin();
        SetFile(mod, Path("big.sel"));
        mod->pblock->SetParamValue(pb_end_time, 0, 3.0f);
        mod->pblock->SetParamValue(pb_accumulate, 0, accumulate);
        mod->pblock->SetParamValue(pb_quality, 0, 2);
        node = AddNode("n", verts, {new vm::SelectKeys(keys), new vm::Trim({{320, 2000}}), mod});
        mod->Record(nullptr);
        // expected records, built one at a time
        std::vector<std::vector<SampleRecord>> expected;
        for (int frame = 0; frame < 4; ++frame) {
            int count = frame < 2 ? verts : 2000;
            expected.emplace_back();
            for (int i = 0; i < count; ++i) {
                float w = i == 7 || i == 2999 - frame ? 1.0f : weightAt(i, frame);
                // accumulation keeps the greatest since the count last changed (at frame 2)
                if (accumulate && frame != 2 && frame > 0) {
                    float before = expected[static_cast<size_t>(frame - 1)][static_cast<size_t>(i)].weight;
                    bool selectedBetween = i == 2999 - (frame - 1); // the key of the frame before holds
                    w = std::max(w, std::max(before, selectedBetween ? 1.0f : 0.0f));
                }
                expected.back().push_back({w, frame * 160});
            }
        }
        EXPECT_EQ(ReadBytes(Path("big.sel")), sel::EncodeFile(1, expected)) << "accumulate " << accumulate;
        EXPECT_EQ(vm::Record().messageBoxes.size(), 0u);
    }
}

TEST_F(Recording, ForwardScheduleWithQualityFour) {
    Setup(1, {}, 10, 11, 2);
    mod->pblock->SetParamValue(pb_accumulate, 0, 1);
    mod->pblock->SetParamValue(pb_quality, 0, 4);
    scene_.BeginEdit(mod);
    mod->Record(mod->Panel());
    EXPECT_EQ(Times(), (std::vector<TimeValue>{1600, 1680, 1700, 1720, 1740, 1760, 1780, 1800, 1820, 1840}));
    // the last evaluation of each sample writes it: its time is the records' time word
    auto w = Words(ReadBytes(Path("rec.sel")));
    ASSERT_EQ(w.size(), 3u + 4 * 2 + 4);
    EXPECT_EQ((std::vector<int32_t>{w[4], w[6], w[8], w[10]}), (std::vector<int32_t>{1600, 1680, 1760, 1840}));
    EXPECT_EQ(statusTexts, (std::vector<std::string>{"Frame 10 of 11", "Frame 11 of 11"}));
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, " ");
    EXPECT_EQ(Words(ReadBytes(Path("rec.sel")))[2], 4);
}

TEST_F(Recording, BackwardScheduleComesDownToEachSample) {
    Setup(1, {}, 11, 10, 2);
    mod->pblock->SetParamValue(pb_accumulate, 0, 1);
    mod->pblock->SetParamValue(pb_quality, 0, 4);
    scene_.BeginEdit(mod);
    mod->Record(mod->Panel());
    EXPECT_EQ(Times(), (std::vector<TimeValue>{1760, 1680, 1660, 1640, 1620, 1600, 1580, 1560, 1540, 1520}));
    EXPECT_EQ(statusTexts, (std::vector<std::string>{"Frame 11 of 10", "Frame 10 of 10"}));
}

TEST_F(Recording, RangesAndSampleCounts) {
    Setup(1, {}, 10, 10);
    scene_.BeginEdit(mod);
    mod->Record(mod->Panel());
    EXPECT_EQ(Times(), (std::vector<TimeValue>{1600, 1760}));
    EXPECT_EQ(Words(ReadBytes(Path("rec.sel")))[2], 2);
    EXPECT_EQ(statusTexts, (std::vector<std::string>{"Frame 10 of 11", "Frame 11 of 11"}));

    evaluations.clear();
    mod->pblock->SetParamValue(pb_start_time, 0, 0.0f);
    mod->pblock->SetParamValue(pb_end_time, 0, 100.0f);
    mod->pblock->SetParamValue(pb_samples, 0, 3);
    scene_.SetCurrentTime(5);
    mod->Record(mod->Panel());
    EXPECT_EQ(Words(ReadBytes(Path("rec.sel")))[2], 303);
    EXPECT_EQ(evaluations.size(), 303u);
    std::vector<TimeValue> times = Times();
    EXPECT_EQ(std::vector<TimeValue>(times.begin(), times.begin() + 6),
              (std::vector<TimeValue>{0, 53, 106, 160, 213, 266}));
    EXPECT_EQ(statusTexts.back(), "Frame 100 of 100");
}

TEST_F(Recording, PreRollEvaluatesOneFrameLaterAndCapturesNothing) {
    scene_.SetCurrentTime(0);
    Setup(1, {}, 0, 1);
    mod->Record(nullptr);
    EXPECT_EQ(Times(), (std::vector<TimeValue>{160, 0, 160}));
    EXPECT_EQ(ReadBytes(Path("rec.sel")).size(), 12u + 2 * 8 + 2 * 4);
}

TEST_F(Recording, EscapeStopsAfterTheFrameThatWasRunning) {
    scene_.SetCurrentTime(-1);
    Setup(2, {}, 0, 5);
    polls.escapeAtPoll = 2;
    scene_.BeginEdit(mod);
    WriteBytes(Path("rec.sel"), sel::EncodeFile(1, Samples({{0.5f, 0.5f, 0.5f}})));
    Evaluate(node, 0);
    ASSERT_EQ(mod->StatusCode(), status_count_mismatch);
    scene_.SetCurrentTime(-1);
    mod->Record(mod->Panel());
    auto w = Words(ReadBytes(Path("rec.sel")));
    ASSERT_EQ(w.size(), 3u + 2 * 4 + 2);
    EXPECT_EQ(w[2], 2);
    EXPECT_EQ(mod->StatusCode(), 0);
    EXPECT_EQ(GetDlgItem(mod->Panel(), 1006)->text, " ");
}

TEST_F(Recording, EscapeIsPolledOncePerFrameAfterItsSamplesAndItsProgress) {
    scene_.SetCurrentTime(-1);
    Setup(1, {}, 0, 5, 3);
    polls.escapeAtPoll = 2;
    scene_.BeginEdit(mod);
    mod->Record(mod->Panel());
    EXPECT_EQ(polls.escapePolls, 2) << "one poll per frame, not per sample";
    EXPECT_EQ(statusTexts, (std::vector<std::string>{"Frame 0 of 5", "Frame 1 of 5"}))
        << "each poll follows the frame's progress text";
    EXPECT_EQ(Times(), (std::vector<TimeValue>{0, 53, 106, 160, 213, 266})) << "every sample of both frames";
    auto w = Words(ReadBytes(Path("rec.sel")));
    ASSERT_EQ(w.size(), 3u + 2 * 6 + 6);
    EXPECT_EQ(w[2], 6);
    EXPECT_EQ(vm::Record().escapePresses, 1);
}

TEST_F(Recording, EscapeStopsABackwardRunAndARunWithoutAPanelAndThePlaybackThatFollows) {
    scene_.SetCurrentTime(-1);
    Setup(2, {{0, {0}, std::nullopt}}, 5, 0);
    polls.escapeAtPoll = 1;
    mod->Record(nullptr);
    EXPECT_EQ(Times(), (std::vector<TimeValue>{800}));
    auto w = Words(ReadBytes(Path("rec.sel")));
    EXPECT_EQ(w, (std::vector<int32_t>{-100, 1, 1, 0x3f800000, 800, 0, 800, 2}));
    // the stopped file plays back, here without the selection below it: vertex 0 gets its recorded 1.0
    keysMod->SetAFlag(A_MOD_DISABLED);
    Mesh& m = Evaluate(node, 320);
    EXPECT_EQ(m.vertSel[0], 1);
    EXPECT_EQ(m.vertSel[1], 0);
}

TEST_F(Recording, OnlyAKeyDownAndNewlyPressedStops) {
    // 0x0001: pressed and released between polls; 0x8000: held since before; anything but 0x8001 exactly
    struct Key : vm::ScriptedInteraction {
        SHORT state = 0;
        SHORT KeyState(int) override { return state; }
    } key;
    Setup(1, {}, 0, 3);
    vm::SetInteraction(&key);
    for (SHORT state : {SHORT(0x0001), SHORT(0x8000), SHORT(-1)}) {
        key.state = state;
        mod->Record(nullptr);
        EXPECT_EQ(Words(ReadBytes(Path("rec.sel")))[2], 4) << std::hex << state;
    }
}

TEST_F(Recording, UncapturedSamplesDoNotLeaveACountTableShortOfWordTwo) {
    Setup(2, {}, 0, 3);
    mod->SetAFlag(A_MOD_DISABLED); // the host never evaluates it
    mod->Record(nullptr);
    auto w = Words(ReadBytes(Path("rec.sel")));
    EXPECT_EQ(w, (std::vector<int32_t>{-100, 1, 0}));
}

TEST_F(Recording, PointCountChangesRestartTheComparison) {
    scene_.SetCurrentTime(-1);
    mod = NewTessarin();
    SetFile(mod, Path("rec.sel"));
    mod->pblock->SetParamValue(pb_end_time, 0, 2.0f);
    mod->pblock->SetParamValue(pb_accumulate, 0, 1);
    node = AddNode("n", 3,
                   {new vm::SelectKeys({{0, {0, 1, 2}, std::nullopt}, {160, {}, std::nullopt}}),
                    new vm::Trim({{160, 2}}), mod});
    mod->Record(nullptr);
    auto w = Words(ReadBytes(Path("rec.sel")));
    EXPECT_EQ(std::vector<int32_t>(w.end() - 3, w.end()), (std::vector<int32_t>{3, 2, 2}));
    EXPECT_FLOAT_EQ(WeightAt(ReadBytes(Path("rec.sel")), 3), 0.0f)
        << "no comparison with the 3-point capture";
}

// The files of the test folder whose names begin with `prefix`.
std::vector<std::string> FilesStartingWith(const std::filesystem::path& dir, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().rfind(prefix, 0) == 0) out.push_back(e.path().string());
    return out;
}

#ifndef _WIN32
// A crash mid-way leaves the cache being replaced byte for byte, and the frames recorded so far in a
// file beside it that a repair mends; the next whole run takes the old name and leaves nothing else.
TEST_F(Recording, AKilledRunLeavesTheOldCacheWholeAndItsFramesRepairable) {
    std::string old = sel::EncodeFile(1, Samples({{0.9f, 0.9f, 0.9f}, {0.8f, 0.8f, 0.8f}}));
    WriteBytes(Path("rec.sel"), old);
    auto mode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read;
    std::filesystem::permissions(Path("rec.sel"), mode);
    Setup(3, {{0, {1}, std::vector<float>{0.25f, 0.0f, 0.5f}}}, 0, 20);
    ASSERT_FLOAT_EQ(Evaluate(node, 0).vertexFloat(0)[0], 0.9f) << "the old cache plays";
    scene_.SetCurrentTime(-1); // no pre-roll: the eighth evaluation is in the eighth frame
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int n = 0;
        scene_.onEvaluate = [&](INode*, TimeValue) {
            if (++n == 8) raise(SIGKILL);
        };
        mod->Record(nullptr);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    EXPECT_EQ(ReadBytes(Path("rec.sel")), old);
    auto temps = FilesStartingWith(dir_, "rec.sel.tmp-");
    ASSERT_EQ(temps.size(), 1u);
    {
        FILE* f = sel::OpenFile(temps[0], "rb");
        ASSERT_NE(f, nullptr);
        sel::FileSource src(f);
        sel::RepairPlan plan = sel::PlanRepair(src, 3, [] { return false; });
        std::fclose(f);
        ASSERT_TRUE(plan.ok) << plan.reason;
        EXPECT_EQ(plan.header.sampleTotal, 7) << "the frames before the crash";
    }
    sel::RemoveFile(temps[0]);
    mod->Record(nullptr);
    EXPECT_EQ(Words(ReadBytes(Path("rec.sel")))[2], 21);
    EXPECT_EQ(FilesStartingWith(dir_, "rec.sel").size(), 1u) << "no temporary file is left";
    EXPECT_EQ(std::filesystem::status(Path("rec.sel")).permissions(), mode) << "the old file's permissions";
    EXPECT_FLOAT_EQ(Evaluate(node, 0).vertexFloat(0)[0], 0.25f);
}

// Recording through a symbolic link writes the file it leads to, through a chain of links and
// whether or not that file exists yet; the links stay links.
TEST_F(Recording, ALinkKeepsLeadingToTheFileItNames) {
    namespace fs = std::filesystem;
    fs::create_directory(Path("real"));
    WriteBytes(Path("real/there.sel"), sel::EncodeFile(1, Samples({{0.9f}})));
    Setup(1, {{0, {}, std::vector<float>{0.25f}}}, 0, 2);
    std::string up = "../" + dir_.filename().string() + "/real/also-missing.sel";
    for (const std::string& to : std::vector<std::string>{"real/there.sel", "real/missing.sel", up}) {
        fs::remove(Path("rec.sel"));
        fs::remove(Path("middle.sel"));
        fs::create_symlink(to, Path("middle.sel"));
        fs::create_symlink("middle.sel", Path("rec.sel"));
        mod->Record(nullptr);
        EXPECT_TRUE(fs::is_symlink(Path("rec.sel")) && fs::is_symlink(Path("middle.sel"))) << to;
        auto words = Words(ReadBytes(Path(to)));
        ASSERT_GE(words.size(), 3u) << to;
        EXPECT_EQ(words[2], 3) << to;
        EXPECT_TRUE(vm::Record().messageBoxes.empty()) << to;
        EXPECT_TRUE(FilesStartingWith(Path("real"), fs::path(to).filename().string() + ".tmp-").empty()) << to;
    }
}
#else
// A cache being played (opened through the file seam, which shares deletion) is replaced by its
// re-recording; the reader goes on reading the old file's bytes.
TEST_F(Recording, ATargetHeldOpenByAReaderIsReplaced) {
    std::string old = sel::EncodeFile(1, Samples({{0.9f}}));
    WriteBytes(Path("rec.sel"), old);
    Setup(1, {{0, {}, std::vector<float>{0.25f}}}, 0, 2);
    FILE* held = sel::OpenFile(Path("rec.sel"), "rb");
    ASSERT_NE(held, nullptr);
    mod->Record(nullptr);
    std::string first(old.size(), '\0');
    EXPECT_EQ(std::fread(first.data(), 1, first.size(), held), old.size());
    std::fclose(held);
    EXPECT_EQ(first, old) << "the reader keeps the file it opened";
    EXPECT_EQ(Words(ReadBytes(Path("rec.sel")))[2], 3);
    EXPECT_TRUE(FilesStartingWith(dir_, "rec.sel.tmp-").empty());
    EXPECT_TRUE(vm::Record().messageBoxes.empty());
}

// Another program's open without shared deletion still stops the replace: the run says so, naming
// the target and why; the old cache stays as it was and nothing is left beside it.
TEST_F(Recording, ATargetHeldOpenElsewhereIsLeftAsItWas) {
    std::string old = sel::EncodeFile(1, Samples({{0.9f}}));
    WriteBytes(Path("rec.sel"), old);
    Setup(1, {{0, {}, std::vector<float>{0.25f}}}, 0, 2);
    FILE* held = _wfsopen(std::filesystem::path(Path("rec.sel")).c_str(), L"rb", _SH_DENYNO);
    ASSERT_NE(held, nullptr);
    mod->Record(nullptr);
    std::fclose(held);
    EXPECT_EQ(ReadBytes(Path("rec.sel")), old);
    EXPECT_TRUE(FilesStartingWith(dir_, "rec.sel.tmp-").empty());
    ASSERT_EQ(vm::Record().messageBoxes.size(), 1u);
    EXPECT_EQ(vm::Record().messageBoxes[0].text.rfind(Path("rec.sel") + ": cannot be written: ", 0), 0u);
}
#endif

TEST_F(Recording, UnwritableTargetShowsTheErrorAndClosesTheOpenFile) {
    Setup(1, {}, 0, 1);
    WriteBytes(Path("old.sel"), sel::EncodeFile(1, Samples({{0.5f}})));
    SetFile(mod, Path("old.sel"));
    ASSERT_FLOAT_EQ(Evaluate(node, 0).vertexFloat(0)[0], 0.5f);
    SetFile(mod, Path("missing/dir/x.sel"));
    mod->Record(nullptr);
    ASSERT_EQ(vm::Record().messageBoxes.size(), 1u);
    const auto& box = vm::Record().messageBoxes[0];
    EXPECT_EQ(box.text, LookupString(350));
    EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(box.owner, GetCOREInterface()->MainWindowHandle());
    EXPECT_FALSE(std::filesystem::exists(Path("missing/dir/x.sel")));
}

TEST_F(Recording, CaptureOnlyAtTheRequestedTime) {
    Setup(1, {{0, {0}, std::nullopt}}, 0, 1);
    TriObject tri;
    tri.mesh.setNumVerts(1);
    tri.mesh.vertSel.SetSize(1);
    tri.mesh.vertSel.Set(0);
    Recorder recorder;
    ASSERT_EQ(recorder.Open(Path("cap.sel"), 1, 1), "");
    recorder.Request(7, true);
    recorder.Capture(5, &tri, 1, mod->pblock); // not the time asked for: moves it on, captures nothing
    recorder.Capture(7, &tri, 1, mod->pblock); // 8 is asked for now
    recorder.Request(9, true);
    recorder.Capture(9, &tri, 1, mod->pblock);
    recorder.Capture(9, &tri, 1, mod->pblock); // 10 is asked for now
    ASSERT_EQ(recorder.Finish(), "");
    EXPECT_EQ(Words(ReadBytes(Path("cap.sel"))), (std::vector<int32_t>{-100, 1, 1, 0x3f800000, 9, 1}))
        << "one sample, its time word the capture's time";
}
// The capture reads the selection a word at a time. Against the bit-by-bit rule: sizes around the
// 64-bit word edges, bits on the edges, selections shorter and longer than the point count, the
// channel present or absent (NaN weights among its values), accumulation on and off over two
// captures.
TEST_F(Recording, CaptureGivesTheBitByBitRecordsAtWordEdges) {
    for (int n : {1, 63, 64, 65, 127, 128, 200})
        for (int selExtra : {0, -1, 70})
            for (int withChannel = 0; withChannel < 2; ++withChannel)
                for (int accumulate = 0; accumulate < 2; ++accumulate) {
                    std::string where = "n " + std::to_string(n) + " selection " +
                                        std::to_string(n + selExtra) + " channel " +
                                        std::to_string(withChannel) + " accumulate " +
                                        std::to_string(accumulate);
                    ScriptedTessarin* m = NewTessarin();
                    m->pblock->SetParamValue(pb_accumulate, 0, accumulate);
                    TriObject tri;
                    Mesh& mesh = tri.mesh;
                    mesh.setNumVerts(n);
                    Recorder recorder;
                    ASSERT_EQ(recorder.Open(Path("edges.sel"), 1, 2), "");
                    std::vector<float> previous(static_cast<size_t>(n), -1.0f);
                    std::vector<SampleRecord> expected;
                    for (int capture = 0; capture < 2; ++capture) {
                        if (withChannel) mesh.setVDataSupport(0, TRUE);
                        float* ch = withChannel ? mesh.vertexFloat(0) : nullptr;
                        mesh.vertSel.SetSize(n + selExtra);
                        mesh.vertSel.ClearAll();
                        for (int i : {0, 62, 63, 64, 65, 127, 128, n - 1, n, n + 5})
                            if ((i + capture) % 2 == 0 || i >= n - 1) mesh.vertSel.Set(i);
                        for (int i = 0; ch && i < n; ++i)
                            ch[i] = (i + capture) % 13 == 5 ? std::nanf("")
                                                            : float((i * 5 + capture * 3) % 7) / 8.0f;
                        TimeValue t = 100 + capture;
                        recorder.Request(t, true);
                        recorder.Capture(t, &tri, n, m->pblock);
                        for (int i = 0; i < n; ++i) {
                            float v = mesh.vertSel[i] ? 1.0f : ch ? ch[i] : 0.0f;
                            if (accumulate && capture > 0 && v < previous[static_cast<size_t>(i)])
                                v = previous[static_cast<size_t>(i)];
                            previous[static_cast<size_t>(i)] = v;
                            expected.push_back({v, t});
                        }
                    }
                    ASSERT_EQ(recorder.Finish(), "") << where;
                    std::string bytes = ReadBytes(Path("edges.sel")).substr(12);
                    ASSERT_EQ(bytes.size(), expected.size() * sizeof(SampleRecord) + 8) << where;
                    EXPECT_EQ(std::memcmp(bytes.data(), expected.data(), expected.size() * sizeof(SampleRecord)), 0)
                        << where;
                    m->DeleteThis();
                }
}
} // namespace
