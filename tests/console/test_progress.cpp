// Progress of recordings and the long verbs: when it shows, how often, and that a bar leaves the
// screen clean.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "console/progress.h"

namespace {
using console::Progress;

// A clock the test moves by hand, in steps exact in binary.
struct HandClock {
    double now = 100;
    Progress::Clock Get() {
        return [this] { return now; };
    }
};

int Lines(const std::string& s) { return int(std::count(s.begin(), s.end(), '\n')); }

TEST(Progress, PlainLinesWaitASecondThenComeAtMostTwiceASecond) {
    HandClock clock;
    std::ostringstream err;
    Progress p(err, "export: ", false, {}, clock.Get());
    int built = 0;
    int64_t k = 0;
    auto text = [&] {
        ++built;
        return "sample " + std::to_string(k) + " of 400";
    };
    for (; k < 8; ++k, clock.now += 0.125) // the first second: a quick verb shows nothing
        p.Show(k, 400, text);
    EXPECT_EQ(err.str(), "");
    for (; k < 40; ++k, clock.now += 0.125) // four seconds more
        p.Show(k, 400, text);
    EXPECT_EQ(Lines(err.str()), 8) << err.str();
    EXPECT_EQ(built, 8) << "the text is built only for the lines shown";
    EXPECT_EQ(err.str().substr(0, 24), "export: sample 8 of 400\n");
    EXPECT_EQ(err.str().find('\r'), std::string::npos) << "no bar where stderr is no terminal";
}

TEST(Progress, ABarIsRedrawnInPlaceAndTakenAwayBeforeOtherText) {
    HandClock clock;
    std::ostringstream screen;
    Progress* shown = nullptr;
    console::ErasingBuf buf(screen.rdbuf(), shown);
    std::ostream verbText(&buf);
    Progress p(screen, "plot: ", true, {}, clock.Get());
    shown = &p;
    clock.now += 1;
    p.Show(10, 40, [] { return std::string("sample 10 of 40"); });
    EXPECT_EQ(screen.str(), "\r\033[Kplot: [#######-----------------------] sample 10 of 40");
    clock.now += 0.0625;
    p.Show(11, 40, [] { return std::string("sample 11 of 40"); });
    EXPECT_EQ(screen.str().find("sample 11"), std::string::npos) << "redrawn at most ten times a second";
    screen.str("");
    verbText << "wrote heat.png\n";
    EXPECT_EQ(screen.str(), "\r\033[Kwrote heat.png\n") << "the bar's line is cleared first";
    screen.str("");
    verbText << "more\n";
    EXPECT_EQ(screen.str(), "more\n") << "cleared once";
    clock.now += 1;
    p.Show(40, 40, [] { return std::string("sample 40 of 40"); });
    EXPECT_NE(screen.str().find("[##############################]"), std::string::npos) << screen.str();
}
TEST(Progress, ARecordingShowsItsFirstAndLastFrameAndRedrawsAtMostTenTimesASecond) {
    HandClock clock;
    std::ostringstream lines, bar;
    Progress plain(lines, "recording ", false, {0, true}, clock.Get());
    Progress drawn(bar, "recording ", true, {0, true}, clock.Get());
    // 300,000 frames in about a second and a half, as a fast recording goes
    for (int64_t n = 1; n <= 300000; ++n, clock.now += 1.0 / 200000) {
        auto text = [&] { return "frame " + std::to_string(n) + " of 300000"; };
        plain.Show(n, 300000, text);
        drawn.Show(n, 300000, text);
    }
    EXPECT_EQ(lines.str().substr(0, 28), "recording frame 1 of 300000\n");
    EXPECT_NE(lines.str().find("recording frame 300000 of 300000\n"), std::string::npos);
    EXPECT_LE(Lines(lines.str()), 5) << lines.str();
    std::string screen = bar.str();
    int redraws = int(std::count(screen.begin(), screen.end(), '\r'));
    EXPECT_GE(redraws, 3);
    EXPECT_LE(redraws, 18) << "at most about ten a second, and the last";
    EXPECT_NE(bar.str().find("[##############################] frame 300000 of 300000"), std::string::npos);
}
} // namespace

#include "tools/tessarin/tool.h"

namespace {
// A clock that moves `step` seconds each time it is read: every call of Show is a moment.
struct TickingClock {
    double step, now = 0;
    console::Progress::Clock Get() {
        return [this] { return now += step; };
    }
};

TEST(Progress, ExportCountsTheSamplesOfTheFile) {
    std::vector<std::vector<sel::SampleRecord>> samples(12, std::vector<sel::SampleRecord>(3, {0.5f, 0}));
    std::string bytes = sel::EncodeFile(1, samples);
    sel::MemorySource src(bytes.data(), bytes.size());
    TickingClock clock{0.25};
    std::ostringstream out, err, shown;
    Progress p(shown, "export: ", false, {}, clock.Get());
    tessarin::Context ctx{out, err};
    ctx.progress = &p;
    sel::MemorySink csv;
    ASSERT_EQ(tessarin::Dump(src, "f.sel", std::nullopt, tessarin::Format::Csv, csv, ctx), 0);
    EXPECT_NE(shown.str().find("export: sample 12 of 12, 36 rows\n"), std::string::npos) << shown.str();
    EXPECT_EQ(err.str(), "");
}

TEST(Progress, ImportCountsLinesAndTheShareOfTheFile) {
    std::string csv = "sample,vertex,weight,tick\n";
    for (int v = 0; v < 140000; ++v) // a little over one megabyte of records
        csv += "0," + std::to_string(v) + ",0.5,0\n";
    std::istringstream in(csv);
    TickingClock clock{1}; // the one megabyte of output here is a moment past the quiet first second
    std::ostringstream shown;
    Progress p(shown, "import: ", false, {}, clock.Get());
    sel::MemorySink file;
    tessarin::ImportResult r = tessarin::Import(
        in, "f.csv", 1, file, [] { return false; }, &p, int64_t(csv.size()));
    ASSERT_EQ(r.exit, 0) << r.error;
    EXPECT_NE(shown.str().find("import: line "), std::string::npos) << shown.str();
    EXPECT_NE(shown.str().find("% of the file), 1 sample\n"), std::string::npos) << shown.str();
}
} // namespace
