// Inputs that once broke the scene-description loader, replayed: each is refused with a SceneError of
// one line, never another exception or a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "scene_description.h"

namespace {
std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(SceneRegressions, EveryCommittedInputIsRefusedWithOneLine) {
    int replayed = 0;
    for (const auto& e : std::filesystem::directory_iterator(REGRESSIONS_DIR)) {
        if (e.path().filename().string().rfind("scene-", 0) != 0) continue;
        ++replayed;
        try {
            app::BuildScene(Read(e.path()), std::filesystem::temp_directory_path().string());
            ADD_FAILURE() << e.path() << " was accepted";
        } catch (const app::SceneError& err) {
            EXPECT_EQ(std::string(err.what()).find_first_of("\r\n"), std::string::npos) << e.path();
        }
    }
    EXPECT_GT(replayed, 0);
}

TEST(SceneRegressions, ANumberBeyondDoubleIsAParseError) {
    try {
        app::BuildScene(R"({"currentFrame": 1e400})", ".");
        ADD_FAILURE() << "accepted";
    } catch (const app::SceneError& err) {
        EXPECT_NE(std::string(err.what()).find("not valid JSON"), std::string::npos) << err.what();
    }
}
} // namespace
