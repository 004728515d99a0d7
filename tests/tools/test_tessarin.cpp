// The cache tool's verbs on files the recorder writes, cut at every byte, aborted, and made by hand.
#include <cmath>
#include <sstream>

#include "plugin/fixture.h"
#include "tools/tessarin/tool.h"

namespace {
using testing_support::PluginTest;

const std::function<bool()> kNever = [] { return false; };

class Tool : public PluginTest {
  protected:
    // Records frames start..end at `samples` per frame through the plug-in's recorder; the weights of
    // the 3 vertices change every frame. `below` goes under the keys (a Trim changes the point count).
    std::string RecordFile(float start, float end, int samples, int escapeAtPoll = 0,
                           std::vector<Modifier*> below = {}) {
        ScriptedTessarin* mod = NewTessarin();
        std::string path = Path("rec" + std::to_string(++counter_) + ".sel");
        SetFile(mod, path);
        mod->pblock->SetParamValue(pb_start_time, 0, start);
        mod->pblock->SetParamValue(pb_end_time, 0, end);
        mod->pblock->SetParamValue(pb_samples, 0, samples);
        std::vector<vm::SelectKeys::Key> keys;
        for (int f = 0; f <= 12; ++f)
            keys.push_back(
                {160 * f, {f % 3}, std::vector<float>{0.05f * f, 0.5f + 0.01f * f, 1.0f / (f + 1)}});
        below.push_back(new vm::SelectKeys(keys));
        below.push_back(mod);
        AddNode("n" + std::to_string(counter_), 3, below);
        scene_.SetCurrentTime(-1);
        provider_.escapeAtPoll = escapeAtPoll;
        mod->Record(nullptr);
        provider_.escapeAtPoll = 0;
        return ReadBytes(path);
    }

    // The weights a fresh modifier plays from `bytes` on a 3-vertex mesh at tick t (Replace, nothing
    // below, so every vertex shows the file's weight); empty when the file is treated as missing.
    std::vector<float> PlayAt(const std::string& bytes, TimeValue t) {
        std::string path = Path("play.sel");
        WriteBytes(path, bytes);
        ScriptedTessarin* mod = NewTessarin();
        SetFile(mod, path);
        INode* node = AddNode("p" + std::to_string(++counter_), 3, {mod});
        scene_.BeginEdit(mod);
        Mesh& m = Evaluate(node, t);
        std::vector<float> out;
        if (mod->StatusCode() != status_missing)
            for (int i = 0; i < 3; ++i)
                out.push_back(m.vertSel[i] ? 1.0f : m.vertexFloat(0)[i]);
        scene_.EndEdit();
        CloseCacheFile(mod);
        return out;
    }

    // The first `keep` samples of a consistent file, as the recorder would have written them.
    static std::string FirstSamples(const std::string& bytes, int keep) {
        sel::MemorySource src(bytes.data(), bytes.size());
        sel::Layout layout;
        EXPECT_TRUE(sel::ReadLayout(src, layout).ok);
        std::vector<std::vector<SampleRecord>> samples;
        for (int k = 0; k < keep; ++k) {
            samples.emplace_back(size_t(layout.Count(k)));
            sel::ReadSample(src, layout, k, samples.back().data(), layout.Count(k));
        }
        return sel::EncodeFile(layout.header.samplesPerFrame, samples);
    }

    static tessarin::RepairPlan Repair(const std::string& bytes, std::optional<int32_t> points,
                                       std::string& out) {
        sel::MemorySource src(bytes.data(), bytes.size());
        tessarin::RepairPlan plan = tessarin::PlanRepair(src, points, kNever);
        sel::MemorySink sink;
        EXPECT_TRUE(!plan.ok || tessarin::WriteRepair(plan, src, sink));
        out = sink.bytes;
        return plan;
    }

    static sel::Fault Verdict(const std::string& bytes) {
        sel::MemorySource src(bytes.data(), bytes.size());
        return sel::VerifyFile(src).Verdict();
    }

    int counter_ = 0;
};

TEST_F(Tool, RepairOfARecordingCutAtAnyByteKeepsExactlyTheWholeSamples) {
    const std::string whole = RecordFile(0, 4, 2); // 10 samples of 3 points
    ASSERT_EQ(whole.size(), 12u + 10 * 24 + 40);
    const size_t recordsEnd = 12 + 10 * 24;
    std::vector<std::vector<float>> played;
    for (int k = 0; k < 10; ++k)
        played.push_back(PlayAt(whole, 80 * k));
    for (size_t n = 0; n <= whole.size(); ++n) {
        const std::string cut = whole.substr(0, n);
        int complete = n >= recordsEnd ? 10 : n < 12 ? 0 : int((n - 12) / 24);
        for (std::optional<int32_t> points : {std::optional<int32_t>(), std::optional<int32_t>(3)}) {
            std::string out;
            tessarin::RepairPlan plan = Repair(cut, points, out);
            if (complete == 0) {
                EXPECT_FALSE(plan.ok) << n;
                continue;
            }
            // without --points only a lone first sample may leave the tool unsure
            if (!points && !plan.ok && complete == 1) continue;
            ASSERT_TRUE(plan.ok) << "cut at " << n << (points ? " with --points" : "") << ": " << plan.reason;
            EXPECT_EQ(out, FirstSamples(whole, complete)) << n;
            EXPECT_EQ(Verdict(out), sel::Fault::None) << n;
            if (points) continue;                            // played once per cut
            for (int k = 0; k <= std::min(complete, 9); ++k) // past the last kept sample, that one holds
                EXPECT_EQ(PlayAt(out, 80 * k), played[size_t(std::min(k, complete - 1))]) << n << " " << k;
        }
    }
}

TEST_F(Tool, RepairOfAnAbortedRecordingPlaysTheFramesItHolds) {
    const std::string aborted = RecordFile(0, 5, 1, 2); // Escape seen after frame 1
    ASSERT_EQ(sel::GetI32(reinterpret_cast<const unsigned char*>(aborted.data()) + 8), 2);
    std::string out;
    tessarin::RepairPlan plan = Repair(aborted, std::nullopt, out);
    ASSERT_TRUE(plan.ok) << plan.reason;
    EXPECT_EQ(out, aborted) << "an aborted recording is already consistent";
    EXPECT_EQ(PlayAt(out, 160), PlayAt(RecordFile(0, 1, 1), 160));
    // a writer that left the announced total in word 2: the table at the end says what was written
    std::string unpatched = aborted;
    unpatched[8] = 6;
    EXPECT_EQ(Verdict(unpatched), sel::Fault::CutShort);
    plan = Repair(unpatched, std::nullopt, out);
    ASSERT_TRUE(plan.ok) << plan.reason;
    EXPECT_EQ(out, aborted);
}

TEST_F(Tool, RepairRefusesWhereItWouldHaveToGuess) {
    const std::string whole = RecordFile(0, 2, 1);
    auto Header = [](int32_t a, int32_t b, int32_t c) {
        std::string s;
        sel::PutI32(s, a);
        sel::PutI32(s, b);
        sel::PutI32(s, c);
        return s;
    };
    std::string badTicks = whole;
    badTicks[12 + 8 + 4] = 7; // sample 0, vertex 1: a tick of its own
    std::string bareSample = whole.substr(0, 12 + 24);
    // records without a count table, one run of `lengths[i]` records at tick 80 x i per sample
    auto Runs = [](std::initializer_list<int> lengths) {
        std::string s;
        int32_t tick = 0;
        for (int n : lengths) {
            for (int i = 0; i < n; ++i)
                sel::PutF32(s, 0.5f), sel::PutI32(s, tick);
            tick += 80;
        }
        return s;
    };
    std::string nanWeight = whole;
    nanWeight.replace(12, 4, "\x00\x00\xc0\x7f", 4);
    std::string ticksOneByOne;
    for (int32_t t = 0; t < 5; ++t)
        sel::PutF32(ticksOneByOne, 0.5f), sel::PutI32(ticksOneByOne, t);
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"header cut", whole.substr(0, 11), "12-byte header"},
        {"samples per frame lost", Header(-100, 0, 3) + whole.substr(12), "samples per frame is 0"},
        {"records that break the tick rule", badTicks, "what fails is in the records"},
        {"a lone sample", bareSample, "give --points"},
        {"bytes after a fixed-count file's samples", Header(1, 1, 1) + std::string(8 + 3, '\0'),
         "follow the last"},
        {"negative samples per frame", Header(-100, -2, 3) + whole.substr(12), "samples per frame is -2"},
        {"no samples announced", Header(-100, 1, 0) + whole.substr(12), "holds 0 samples: nothing to keep"},
        {"a negative total", Header(-100, 1, -3) + whole.substr(12), "holds -3 samples: nothing to keep"},
        {"a weight that is not a number", nanWeight, "what fails is in the records"},
        {"a whole fixed-count file with shared ticks", Header(1, 1, 2) + Runs({2}),
         "what fails is in the records"},
        {"not one whole fixed-count sample", Header(2, 1, 3) + std::string(10, '\0'), "not one whole sample"},
        {"a point count that changes", Header(-100, 1, 3) + Runs({3, 2, 2}), "the point count changes"},
        {"a last sample longer than the rest", Header(-100, 1, 3) + Runs({2, 2, 3}),
         "3 records, more than the 2 of every sample before it"},
        {"more samples than word 2 announces", Header(-100, 1, 1) + Runs({2, 2, 2}),
         "the records hold 3 samples, more than the 1 word 2 announces"},
        {"ticks that do not group into samples", Header(-100, 1, 1) + ticksOneByOne,
         "do not group into the 1 sample word 2 announces"},
        // a recording's first bytes: zeros that would also read as a table of 3 samples of no records
        {"zeros after the header", Header(-100, 2, 11) + std::string(12, '\0'), "give --points"},
    };
    for (const auto& [name, bytes, why] : cases) {
        std::string out;
        tessarin::RepairPlan plan = Repair(bytes, std::nullopt, out);
        EXPECT_FALSE(plan.ok) << name;
        EXPECT_NE(plan.reason.find(why), std::string::npos) << name << ": " << plan.reason;
    }
    std::string out;
    EXPECT_TRUE(Repair(bareSample, 3, out).ok) << "--points settles the lone sample";
    EXPECT_FALSE(Repair(bareSample, 4, out).ok) << "a sample shorter than --points is cut short";
    tessarin::RepairPlan longer = Repair(Header(-100, 1, 3) + Runs({3, 3, 3}), 2, out);
    EXPECT_FALSE(longer.ok);
    EXPECT_NE(longer.reason.find("more than --points 2"), std::string::npos) << longer.reason;
}

TEST_F(Tool, RepairKeepsTheWholeSamplesOfAFixedCountFile) {
    std::string fixed = sel::EncodeFile(1, Samples({{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}}), 2);
    fixed[12 + 8 * 2 + 4] = 1, fixed[12 + 8 * 3 + 4] = 1; // ticks 0, 1, 2
    fixed[12 + 8 * 4 + 4] = 2, fixed[12 + 8 * 5 + 4] = 2;
    std::string out;
    tessarin::RepairPlan plan = Repair(fixed.substr(0, fixed.size() - 3), std::nullopt, out);
    ASSERT_TRUE(plan.ok) << plan.reason;
    EXPECT_EQ(out.size(), 12u + 2 * 16);
    EXPECT_EQ(sel::GetI32(reinterpret_cast<const unsigned char*>(out.data()) + 8), 2);
    EXPECT_EQ(Verdict(out), sel::Fault::None);
}

TEST_F(Tool, VerifyOffersRepairOnlyWhereRepairMends) {
    const std::string whole = RecordFile(0, 4, 2); // 10 samples of 3 points
    auto verdictLine = [](const std::string& bytes) {
        sel::MemorySource src(bytes.data(), bytes.size());
        std::ostringstream out, err;
        tessarin::Context ctx{out, err};
        tessarin::Verify(src, "f.sel", tessarin::Format::Text, ctx);
        std::string text = out.str();
        return text.substr(text.rfind("f.sel: ", text.size() - 2));
    };
    // what the newcomer met: the hint on files repair then refused
    for (size_t n : {0, 5, 12, 16}) {
        std::string line = verdictLine(whole.substr(0, n)), out;
        EXPECT_FALSE(Repair(whole.substr(0, n), std::nullopt, out).ok) << n;
        EXPECT_EQ(line.find("repair"), std::string::npos) << n << ": " << line;
    }
    EXPECT_NE(verdictLine(whole.substr(0, 12 + 24 * 4 + 5)).find("tessarin repair can mend it"),
              std::string::npos);
    EXPECT_NE(verdictLine(whole.substr(0, 12 + 24)).find("can mend it given --points"), std::string::npos)
        << "a lone sample needs its point count";
    for (size_t n = 0; n < whole.size(); ++n) {
        std::string cut = whole.substr(0, n), out;
        bool mends = Repair(cut, std::nullopt, out).ok;
        bool offered = verdictLine(cut).find("tessarin repair can mend it\n") != std::string::npos;
        EXPECT_EQ(offered, mends) << "cut at " << n << ": " << verdictLine(cut);
    }
}

std::string ExportImport(const std::string& bytes, int32_t samplesPerFrame) {
    sel::MemorySource src(bytes.data(), bytes.size());
    std::ostringstream out, err;
    tessarin::Context ctx{out, err};
    sel::MemorySink csv, file;
    EXPECT_EQ(tessarin::Dump(src, "f.sel", std::nullopt, tessarin::Format::Csv, csv, ctx), 0) << err.str();
    std::istringstream in(csv.bytes);
    tessarin::ImportResult r = tessarin::Import(in, "f.csv", samplesPerFrame, file, kNever);
    EXPECT_EQ(r.exit, 0) << r.error;
    return file.bytes;
}

TEST_F(Tool, ExportThenImportGivesBackTheSameBytes) {
    // a sample without records, a negative zero and a denormal, each sample at a tick of its own
    auto odd = Samples({{0.25f, -0.0f, 1e-42f}, {}, {0.1f}});
    for (size_t k = 0; k < odd.size(); ++k)
        for (sel::SampleRecord& r : odd[k])
            r.time = int32_t(k);
    std::vector<std::pair<std::string, int32_t>> files = {
        {RecordFile(0, 4, 2), 2},
        {RecordFile(3, 0, 3), 3},                                        // backwards
        {RecordFile(0, 5, 1, 3), 1},                                     // aborted
        {RecordFile(0, 4, 1, 0, {new vm::Trim({{0, 3}, {320, 1}})}), 1}, // the point count changes
        {sel::EncodeFile(4, odd), 4},
    };
    for (size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(ExportImport(files[i].first, files[i].second), files[i].first) << "file " << i;
}

TEST_F(Tool, ImportRefusesMalformedRowsWithTheirLine) {
    const std::vector<std::tuple<std::string, std::string>> cases = {
        {"sample,vertex,weight,tick\n0,0,0.5,0\n0,1,0.5\n", "f.csv:3: a row has four fields"},
        {"0,0,0.5,0\n0,2,0.5,0\n", "f.csv:2: vertex \"2\" where vertex 1 is next"},
        {"0,0,0.5,0\n2,0,0.5,0\n", "f.csv:2: sample 2 follows sample 0"},
        {"0,0,x,0\n", "f.csv:1: weight \"x\" is not a finite number"},
        {"0,0,inf,0\n", "f.csv:1: weight \"inf\" is not a finite number"},
        {"0,0,0.5,0\n1,0,0.5,0\n", "f.csv:2: sample 1 has tick 0, as sample 0 has"},
        {"0,0,1e99,0\n", "f.csv:1: weight \"1e99\""},
        {"0,0,0.5,99999999999\n", "f.csv:1: tick \"99999999999\""},
        {"1,0,0.5,0\n", "f.csv:1: sample 1 follows sample -1"},
        {"-1,0,0.5,80\n", "f.csv:1: sample -1 is negative"}, // once read a count before the first
        {"0,,,\n0,0,0.5,0\n", "f.csv:2: sample 0 was given as empty"},
        {"sample,vertex,weight,tick\n", "f.csv: no rows"},
        {"", "f.csv: no rows"}, // once "f.csv:0"
        {std::string("\x9c\xff\xff\xff\x01,0,0,0\n", 13),
         "f.csv:1: sample \"\\x9c\\xff\\xff\\xff\\x01\" is not"},
        {"0,0," + std::string(100, '7') + "x,0\n",
         "f.csv:1: weight \"" + std::string(40, '7') + "...\" is not"},
    };
    for (const auto& [csv, error] : cases) {
        std::istringstream in(csv);
        sel::MemorySink sink;
        tessarin::ImportResult r = tessarin::Import(in, "f.csv", 1, sink, kNever);
        EXPECT_EQ(r.exit, 1) << csv;
        EXPECT_NE(r.error.find(error), std::string::npos) << r.error;
    }
}

TEST_F(Tool, DiffNamesTheFirstAndLargestDifferenceAndTheCounts) {
    std::string a = sel::EncodeFile(1, Samples({{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f}}));
    std::string b = sel::EncodeFile(1, Samples({{0.1f, 0.25f}, {0.3f, 0.9f}, {0.5f, 0.0f}}));
    sel::MemorySource sa(a.data(), a.size()), sb(b.data(), b.size());
    std::ostringstream out, err;
    tessarin::Context ctx{out, err};
    EXPECT_EQ(tessarin::Diff(sa, "a", sa, "a", 0, ctx), 0);
    EXPECT_EQ(tessarin::Diff(sa, "a", sb, "b", 0, ctx), 1);
    EXPECT_NE(out.str().find("first difference: sample 0, vertex 1: 0.200000003 against 0.25"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find(
                  "largest difference: 0.49999997 at sample 1, vertex 1: 0.400000006 against 0.899999976"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("count table: 1 entry differs, first at sample 2: 1 against 2"),
              std::string::npos);
    out.str("");
    EXPECT_EQ(tessarin::Diff(sa, "a", sb, "b", 0.6, ctx), 1) << "the counts still differ";
    EXPECT_EQ(out.str().find("weights:"), std::string::npos) << "all weights within 0.6";
    std::string cut = a.substr(0, 20);
    sel::MemorySource sc(cut.data(), cut.size());
    out.str("");
    EXPECT_EQ(tessarin::Diff(sa, "a", sc, "c", 0, ctx), 1) << "bad input, as verify says it";
    EXPECT_EQ(out.str(), "") << "bad input is no report of differences";
    EXPECT_NE(err.str().find("c: byte "), std::string::npos) << err.str();
}
// The header fields diff compares are those playback uses: samples per frame and the samples that
// play; the variant, word 2 past the whole samples and the ticks are not compared.
TEST_F(Tool, DiffComparesTheFilesAsTheyPlay) {
    auto diff = [](const std::string& a, const std::string& b, double tolerance,
                   std::string* text = nullptr) {
        sel::MemorySource sa(a.data(), a.size()), sb(b.data(), b.size());
        std::ostringstream out, err;
        tessarin::Context ctx{out, err};
        int code = tessarin::Diff(sa, "a", sb, "b", tolerance, ctx);
        if (text) *text = out.str() + err.str();
        return code;
    };
    const auto weights = Samples({{0.5f, 0.25f}, {0.75f, 1.0f}});
    const std::string one = sel::EncodeFile(1, weights);
    std::string text;
    EXPECT_EQ(diff(one, sel::EncodeFile(2, weights), 0, &text), 1) << "same records at another rate";
    EXPECT_NE(text.find("samples per frame: 1 against 2"), std::string::npos) << text;
    EXPECT_EQ(diff(one, sel::EncodeFile(1, {weights[0]}), 0, &text), 1) << "a file that stops early";
    EXPECT_NE(text.find("samples: 2 against 1"), std::string::npos) << text;
    EXPECT_EQ(diff(sel::EncodeFile(1, {weights[0]}), one, 0), 1) << "either way round";

    std::string fixed = sel::EncodeFile(1, weights, 2);
    EXPECT_EQ(diff(one, fixed, 0, &text), 0) << "the variant alone: " << text;
    std::string announcesMore = fixed;
    announcesMore[8] = 5; // word 2 says 5, two whole samples play
    EXPECT_EQ(diff(one, announcesMore, 0, &text), 0) << text;
    std::string otherTicks = one;
    otherTicks[12 + 4] = 9;
    EXPECT_EQ(diff(one, otherTicks, 0, &text), 0) << "no reader uses the ticks: " << text;

    // a difference of exactly the tolerance is equal (0.25 is exact in a float)
    EXPECT_EQ(diff(one, sel::EncodeFile(1, Samples({{0.75f, 0.25f}, {0.75f, 1.0f}})), 0.25), 0);
    EXPECT_EQ(diff(one, sel::EncodeFile(1, Samples({{0.75f, 0.25f}, {0.75f, 1.0f}})), 0.2499), 1);
    const float nan = std::nanf("");
    EXPECT_EQ(diff(sel::EncodeFile(1, Samples({{nan}})), sel::EncodeFile(1, Samples({{nan}})), 0), 0);
    EXPECT_EQ(diff(sel::EncodeFile(1, Samples({{nan}})), sel::EncodeFile(1, Samples({{0.0f}})), 10), 1)
        << "nan equals only nan";
}
} // namespace

namespace {
using testing_support::PluginTest;

class VerifyAndPlayback : public Tool {};

std::string Words(std::initializer_list<int32_t> words) {
    std::string s;
    for (int32_t w : words)
        sel::PutI32(s, w);
    return s;
}

TEST_F(VerifyAndPlayback, AgreeOnWhichFilesPlayAtEveryCut) {
    std::string fixed = Words({3, 1, 2}) + std::string(48, '\0');
    for (int i = 0; i < 6; ++i)
        fixed[size_t(12 + 8 * i)] = char(0x3f), fixed[size_t(12 + 8 * i + 3)] = char(0x3e); // small weights
    const std::vector<std::string> files = {
        RecordFile(0, 3, 1),
        RecordFile(0, 5, 1, 2),
        fixed,
        sel::EncodeFile(1, Samples({{0.1f}, {0.2f, 0.3f, 0.4f}, {}})),
        Words({-100, 1, 0}),
        Words({-100, 0, 1, 0}),
        Words({-100, 1, 0x40000000}),
        Words({-100, 1, 2, 0, 0, 1, -1}),
        Words({0, 1, 3}),
        Words({1000000, 1, 1000000}) + std::string(64, '\0'),
    };
    for (size_t i = 0; i < files.size(); ++i)
        for (size_t n = 0; n <= files[i].size(); ++n) {
            const std::string bytes = files[i].substr(0, n);
            sel::MemorySource src(bytes.data(), bytes.size());
            sel::VerifyReport r = sel::VerifyFile(src);
            bool plays = !PlayAt(bytes, 0).empty();
            ASSERT_EQ(r.playable, plays) << "file " << i << " cut at " << n;
            EXPECT_TRUE(r.Verdict() != sel::Fault::None || plays) << "file " << i << " cut at " << n;
        }
}
} // namespace
