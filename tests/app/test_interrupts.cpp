// Ctrl-C outside a recording: eval and scripts stop between steps with status 130 and keep what
// they finished, and the Ctrl-C is spent there rather than stopping a later recording.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "portable.h"
#include "runtime/host_record.h"
#include "runtime/interaction.h"
#include "scene/scene_description.h"
#include "verbs/script_runner.h"
#include "verbs/verbs.h"

namespace {
const char* const kScene = R"({"ticksPerFrame": 160, "nodes": [{"name": "Tri",
    "mesh": {"vertices": [[0, 0, 0], [1, 0, 0], [0, 1, 0]], "faces": [[0, 1, 2]]},
    "modifiers": [{"class": "SelectKeys", "keys": [{"frame": 0, "selected": [1]}]}]}]})";

class Interrupts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!testing_support::kTestsCanPressCtrlC)
            GTEST_SKIP() << "Ctrl-C reaches a Windows program from its console, which this test cannot press";
        vm::TreatInterruptAsEscape();
    }
    void TearDown() override {
        vm::TakeInterrupt();
        signal(SIGINT, SIG_DFL);
    }
};

TEST_F(Interrupts, AScriptStopsAfterTheLineRunningAndTheCtrlCIsSpent) {
    app::BuiltScene built = app::BuildScene(kScene, ".");
    std::ostringstream out;
    app::ScriptRunner runner(*built.scene, out, ".");
    raise(SIGINT);
    app::ScriptOutcome outcome = runner.Run("# first\nsliderTime = 1\neval\n", "walk.script");
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(outcome.stopped);
    EXPECT_EQ(outcome.linesRun, 1);
    EXPECT_EQ(outcome.error, "walk.script:2: stopped by the user during this line; 1 line ran, none after it");
    EXPECT_EQ(out.str(), "");
    // a later recording's Escape poll does not see it again
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);

    app::ScriptOutcome again = runner.Run("sliderTime = 1\neval\n", "walk.script");
    EXPECT_TRUE(again.ok) << again.error;
    EXPECT_EQ(again.linesRun, 2);
}

TEST_F(Interrupts, EvalWritesTheTimesItFinished) {
    std::string path = (std::filesystem::temp_directory_path() / "interrupts_scene.json").string();
    std::ofstream(path) << kScene;
    app::EvalOptions o;
    o.scene = path;
    o.times = {{false, 0, 0}, {false, 0, 160}};
    std::ostringstream out;
    raise(SIGINT);
    EXPECT_EQ(app::Evaluate(o, app::CommonOptions{}, out), 130);
    EXPECT_EQ(out.str(), "tick,vertex,selected,weight,effective\n");

    std::ostringstream full;
    EXPECT_EQ(app::Evaluate(o, app::CommonOptions{}, full), 0);
    std::string rows = full.str();
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 7);
    std::remove(path.c_str());
}

TEST_F(Interrupts, OnlyAPressSinceTheLastPollCountsAsEscape) {
    int before = vm::Record().escapePresses;
    raise(SIGINT);
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), static_cast<SHORT>(0x8001));
    EXPECT_EQ(GetAsyncKeyState(VK_ESCAPE), 0);
    EXPECT_EQ(vm::Record().escapePresses, before + 1);
}
} // namespace
