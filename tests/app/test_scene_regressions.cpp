// The scene-description loader's refusals of inputs that once escaped it; the inputs themselves are
// replayed through the fuzz target (replay_scene, from tests/data/regressions/scene/).
#include <gtest/gtest.h>

#include <string>

#include "scene/scene_description.h"

namespace {
TEST(SceneRegressions, ANumberBeyondDoubleIsAParseError) {
    try {
        app::BuildScene(R"({"currentFrame": 1e400})", ".");
        ADD_FAILURE() << "accepted";
    } catch (const app::SceneError& err) {
        EXPECT_NE(std::string(err.what()).find("not valid JSON"), std::string::npos) << err.what();
    }
}
} // namespace
