// The vomark view server over HTTP, as the page uses it: an httplib client against a server on a
// free port with the real plug-in behind it.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include <nlohmann/json.hpp>

#include "server.h"

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

app::Session& PluginSession() {
    static app::CommonOptions options = [] {
        app::CommonOptions o;
        o.plugins = TESSARIN_PLUGIN_DIR;
        return o;
    }();
    static app::Session session(options, "vomark");
    return session;
}

// A node "Tri" with keyed selections under a Tessarin whose cache file is `cacheFile`.
std::string KeysScene(const std::string& cacheFile) {
    json tessarin = {{"class", "Tessarin"}, {"params", {{"samples", 2}, {"end_time", 2.0}}}};
    tessarin["params"]["cache_file"] = cacheFile.empty() ? json(nullptr) : json(cacheFile);
    json scene = {{"ticksPerFrame", 160},
                  {"animationRange", {0, 2}},
                  {"nodes",
                   {{{"name", "Tri"},
                     {"mesh", {{"vertices", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}}, {"faces", {{0, 1, 2}}}}},
                     {"modifiers",
                      {{{"class", "SelectKeys"},
                        {"keys",
                         {{{"frame", 0}, {"selected", {1}}, {"weights", {0.2, 0.0, 0.5}}},
                          {{"tick", 80}, {"selected", {1}}, {"weights", {0.3, 0.0, 0.5}}},
                          {{"frame", 1}, {"selected", json::array()}, {"weights", {0.2, 0.8, 0.1}}},
                          {{"frame", 2}, {"selected", {0}}, {"weights", {0.2, 0.8, 0.25}}}}}},
                       tessarin}}}}}};
    return scene.dump();
}

class ViewApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PluginSession();
        dir_ = fs::temp_directory_path() / ("vomark-view-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        client_.reset();
        server_.reset();
        fs::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    void Serve(const std::string& sceneJson, const std::string& out = "") {
        std::ofstream(Path("scene.json")) << sceneJson;
        app::view::ViewOptions o;
        o.scene = Path("scene.json");
        o.out = out;
        server_ = std::make_unique<app::view::Server>(o);
        ASSERT_TRUE(server_->Start(0));
        std::string url = server_->Url();
        token_ = url.substr(url.find("token=") + 6);
        client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
        client_->set_read_timeout(120, 0);
    }

    httplib::Headers Auth() const { return {{"X-Vomark-Token", token_}}; }

    httplib::Result Get(const std::string& path) { return client_->Get(path.c_str(), Auth()); }
    httplib::Result Post(const std::string& path, const json& body) {
        return client_->Post(path.c_str(), Auth(), body.dump(), "application/json");
    }
    json GetJson(const std::string& path) {
        auto r = Get(path);
        EXPECT_TRUE(r && r->status == 200) << path << ": " << (r ? r->body : "no answer");
        return r ? json::parse(r->body) : json();
    }
    json PostJson(const std::string& path, const json& body, int status = 200) {
        auto r = Post(path, body);
        EXPECT_TRUE(r && r->status == status) << path << " " << body << ": " << (r ? r->body : "no answer");
        return r ? json::parse(r->body) : json();
    }

    // A call that runs while the test goes on asking: on a connection of its own, since one
    // client sends its requests one after another.
    std::future<httplib::Result> PostAsync(const std::string& path, const json& body) {
        return std::async(std::launch::async, [this, path, body] {
            httplib::Client own("127.0.0.1", server_->Port());
            own.set_read_timeout(120, 0);
            return own.Post(path.c_str(), Auth(), body.dump(), "application/json");
        });
    }

    // Waits for the next event of `type` after `after`, moving `after` past what it read.
    json WaitFor(const std::string& type, int64_t& after) {
        for (int i = 0; i < 60; ++i) {
            json r = GetJson("/api/events?after=" + std::to_string(after) + "&wait=2000");
            for (const json& e : r["events"]) {
                after = e["seq"].get<int64_t>();
                if (e["type"] == type) return e;
            }
        }
        ADD_FAILURE() << "no " << type << " event";
        return json();
    }

    static json Control(const json& state, int id) {
        for (const json& c : state["panel"]["controls"])
            if (c["id"] == id) return c;
        return json();
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static int32_t Word(const std::string& bytes, size_t index) {
        int32_t v = 0;
        if (bytes.size() >= (index + 1) * 4) std::memcpy(&v, bytes.data() + index * 4, 4);
        return v;
    }

    fs::path dir_;
    std::unique_ptr<app::view::Server> server_;
    std::unique_ptr<httplib::Client> client_;
    std::string token_;
};

TEST_F(ViewApiTest, EvaluationAtATickSendsWeightsAndSelectionBitsAndMovesTheTime) {
    Serve(KeysScene(""));
    json scene = GetJson("/api/scene");
    EXPECT_EQ(scene["node"], "Tri");
    EXPECT_EQ(scene["vertices"], 3);
    EXPECT_EQ(scene["animationRange"], json({0, 320}));
    EXPECT_EQ(scene["modifier"], "Tessarin");

    auto r = Get("/api/eval?tick=200");
    ASSERT_TRUE(r && r->status == 200);
    ASSERT_EQ(r->body.size(), 12u + 3 * 4 + 1);
    EXPECT_EQ(Word(r->body, 0), 3);
    EXPECT_EQ(Word(r->body, 1), 200);
    EXPECT_EQ(Word(r->body, 2), 1); // a weight channel
    float w[3];
    std::memcpy(w, r->body.data() + 12, sizeof w);
    EXPECT_FLOAT_EQ(w[0], 0.2f); // as `vomark eval --tick 200` prints them
    EXPECT_FLOAT_EQ(w[1], 0.8f);
    EXPECT_FLOAT_EQ(w[2], 0.1f);
    EXPECT_EQ(r->body[24], 0); // nothing selected at frame 1
    EXPECT_EQ(GetJson("/api/scene")["currentTick"], 200);

    r = Get("/api/eval?tick=0");
    ASSERT_TRUE(r && r->body.size() == 25u);
    EXPECT_EQ(r->body[24], 2); // vertex 1 selected: bit 1
    std::memcpy(w, r->body.data() + 12, sizeof w);
    EXPECT_FLOAT_EQ(w[1], 1.0f); // a selected vertex weighs 1.0, whatever its channel holds, as pictured

    auto mesh = Get("/api/mesh");
    ASSERT_TRUE(mesh && mesh->status == 200);
    EXPECT_EQ(mesh->body.size(), 8u + 3 * 12 + 12);
}

TEST_F(ViewApiTest, PanelChangesGoThroughThePanelAndBecomeMacroLines) {
    Serve(KeysScene(Path("keys.sel")));
    json state = GetJson("/api/state");
    EXPECT_EQ(Control(state, 1493)["text"], "2");
    EXPECT_FALSE(Control(state, 1005)["visible"]); // hidden by the panel procedure
    EXPECT_EQ(Control(state, 1010)["text"], "keys.sel");
    EXPECT_EQ(Control(state, 1493)["param"]["name"], "samples");

    state = PostJson("/api/panel", {{"action", "spinner"}, {"id", 1499}, {"value", 3}});
    EXPECT_EQ(Control(state, 1493)["text"], "3");
    EXPECT_EQ(state["macro"].back(), "$.modifiers[#Tessarin].samples = 3");
    // past the range, and past what an int holds: clamped before converting, never wrapped
    for (auto [value, shown] : std::vector<std::pair<double, std::string>>{
             {99, "10"}, {1e30, "10"}, {2147483648.0, "10"}, {-1e30, "1"}, {-2147483649.0, "1"}}) {
        state = PostJson("/api/panel", {{"action", "spinner"}, {"id", 1499}, {"value", value}});
        EXPECT_EQ(Control(state, 1493)["text"], shown) << value;
    }
    state = PostJson("/api/panel", {{"action", "spinner"}, {"id", 1497}, {"value", 1e300}});
    EXPECT_EQ(Control(state, 1491)["text"].get<std::string>().find_first_of("ni"), std::string::npos)
        << "a float control holds a finite value: " << Control(state, 1491)["text"];

    // quality is enabled only with accumulateSelection on
    PostJson("/api/panel", {{"action", "spinner"}, {"id", 1495}, {"value", 4}}, 409);
    state = PostJson("/api/panel", {{"action", "check"}, {"id", 1014}, {"on", true}});
    EXPECT_TRUE(Control(state, 1495)["enabled"]);
    EXPECT_EQ(state["macro"].back(), "$.modifiers[#Tessarin].accumulateSelection = true");
    state = PostJson("/api/panel", {{"action", "select"}, {"id", 1016}, {"index", 2}});
    EXPECT_EQ(Control(state, 1016)["selection"], 2);
    EXPECT_EQ(Control(state, 1016)["text"], "Subtract"); // as the drop-down shows it
    PostJson("/api/panel", {{"action", "select"}, {"id", 1016}, {"index", 3}}, 409);
}

TEST_F(ViewApiTest, DisableClickSwitchesTheModifiersBelowOffAndStackSwitchesTurnThemOn) {
    Serve(KeysScene(Path("keys.sel")));
    json state = PostJson("/api/panel", {{"action", "click"}, {"id", 1008}});
    ASSERT_EQ(state["stack"].size(), 2u);
    EXPECT_EQ(state["stack"][0]["name"], "Tessarin");
    EXPECT_TRUE(state["stack"][0]["enabled"]);
    EXPECT_EQ(state["stack"][1]["name"], "SelectKeys");
    EXPECT_FALSE(state["stack"][1]["enabled"]);
    EXPECT_EQ(state["macro"].back(), "$.modifiers[#Tessarin].DisableMods");
    // with nothing below and no cache file, nothing is selected or weighted
    auto r = Get("/api/eval?tick=0");
    ASSERT_TRUE(r);
    EXPECT_EQ(Word(r->body, 2), 0);

    state = PostJson("/api/stack", {{"index", 1}, {"enabled", true}});
    EXPECT_TRUE(state["stack"][1]["enabled"]);
    PostJson("/api/stack", {{"index", 2}, {"enabled", true}}, 409);
}

TEST_F(ViewApiTest, RecordAsksForItsFileAndTheOverwriteInThePage) {
    Serve(KeysScene(""));
    std::string target = Path("asked.sel");
    std::ofstream(target) << "old";
    int64_t after = GetJson("/api/dialog")["last"];
    auto click = PostAsync("/api/panel", {{"action", "click"}, {"id", 1003}});

    json save = WaitFor("dialog", after)["dialog"];
    EXPECT_EQ(save["kind"], "save");
    EXPECT_EQ(save["title"], "Save Selection");
    EXPECT_EQ(GetJson("/api/dialog")["dialog"]["id"], save["id"]);
    PostJson("/api/dialog", {{"id", save["id"].get<int>() + 1}, {"path", target}}, 409); // not open
    PostJson("/api/dialog", {{"id", save["id"]}, {"answer", "yes"}}, 409); // not a button of a file dialog
    PostJson("/api/dialog", {{"id", save["id"]}, {"path", target}});

    json ask = WaitFor("dialog", after)["dialog"];
    EXPECT_EQ(ask["kind"], "message");
    EXPECT_EQ(ask["buttons"], "yesno");
    EXPECT_NE(ask["text"].get<std::string>().find("already exists"), std::string::npos);
    PostJson("/api/dialog", {{"id", ask["id"]}, {"answer", "yes"}});

    auto r = click.get();
    ASSERT_TRUE(r && r->status == 200) << (r ? r->body : "");
    std::string bytes = ReadFile(target);
    EXPECT_EQ(bytes.size(), 180u); // as `vomark record` writes this scene
    EXPECT_EQ(Word(bytes, 0), -100);
    json state = json::parse(r->body);
    EXPECT_EQ(Control(state, 1010)["text"], "asked.sel");
    EXPECT_EQ(state["macro"][0], "$.modifiers[#Tessarin].SetCache");
    EXPECT_EQ(state["macro"][1], "$.modifiers[#Tessarin].Record");
    EXPECT_EQ(state["notes"], json({"wrote " + target + ": 6 samples, 180 bytes"})); // as `vomark record` says
}

TEST_F(ViewApiTest, TheSaveDialogShowsTheFolderABareNameLandsIn) {
    json scene = json::parse(KeysScene(""));
    scene["directories"] = {{"3", dir_.string()}};
    Serve(scene.dump());
    int64_t after = GetJson("/api/dialog")["last"];
    auto click = PostAsync("/api/panel", {{"action", "click"}, {"id", 1003}});
    json save = WaitFor("dialog", after)["dialog"];
    EXPECT_EQ(save["initialDir"], dir_.string()) << "host directory 3";
    PostJson("/api/dialog", {{"id", save["id"]}, {"path", "bare"}});
    auto r = click.get();
    ASSERT_TRUE(r && r->status == 200) << (r ? r->body : "");
    EXPECT_TRUE(fs::exists(Path("bare.sel")));
    EXPECT_EQ(Control(json::parse(r->body), 1010)["text"], "bare.sel");
}

// Ten samples a frame over `frames` frames of a moving soft selection.
json RecordingScene(const std::string& cacheFile, int frames) {
    return {{"animationRange", {0, frames}},
            {"nodes",
             {{{"name", "Grid"},
               {"mesh", {{"grid", {{"width", 10}, {"length", 10}, {"rows", 8}, {"cols", 8}}}}},
               {"modifiers",
                {{{"class", "SoftSelect"},
                  {"center", {{{"frame", 0}, {"at", {-5, 0, 0}}}, {{"frame", frames}, {"at", {5, 0, 0}}}}},
                  {"radius", 1.0},
                  {"falloff", 2.0}},
                 {{"class", "Tessarin"},
                  {"params", {{"cache_file", cacheFile}, {"end_time", frames}, {"samples", 10}}}}}}}}}};
}

TEST_F(ViewApiTest, EscapeFromThePageStopsTheRecordingAfterTheFrameItCameInAndSaysWhatWasKept) {
    Serve(RecordingScene(Path("long.sel"), 48).dump());
    // the recording waits at its first evaluation until the page's Escape is in
    std::promise<void> reached, pressed;
    std::shared_future<void> pressedNow = pressed.get_future().share();
    bool first = true; // host thread only
    server_->SetEvaluationHook([&](TimeValue) {
        if (!first) return;
        first = false;
        reached.set_value();
        pressedNow.wait();
    });
    int64_t after = GetJson("/api/dialog")["last"];
    auto click = PostAsync("/api/panel", {{"action", "click"}, {"id", 1003}});
    reached.get_future().wait();
    EXPECT_EQ(WaitFor("progress", after)["end"], 48.0);
    EXPECT_TRUE(GetJson("/api/dialog")["busy"]);
    // under load: ten clients' evaluations wait for the host, eight tabs wait for events, and
    // neither holds what Escape and the dialog call need
    std::vector<std::future<int>> load;
    for (int c = 0; c < 18; ++c)
        load.push_back(std::async(std::launch::async, [this, c, after] {
            httplib::Client own("127.0.0.1", server_->Port());
            own.set_read_timeout(120, 0);
            int ok = 0;
            for (int i = 0; i < (c < 10 ? 20 : 1); ++i) {
                std::string path = c < 10 ? "/api/eval?tick=" + std::to_string(i * 16)
                                          : "/api/events?after=" + std::to_string(after) + "&wait=20000";
                auto r = own.Get(path.c_str(), Auth());
                ok += r && r->status == 200;
            }
            return ok;
        }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(GetJson("/api/dialog")["dialog"], nullptr);
    json escape = PostJson("/api/escape", json::object());
    EXPECT_TRUE(escape["pressed"]);
    EXPECT_TRUE(escape["recording"]);
    pressed.set_value();
    auto r = click.get();
    for (int c = 0; c < 10; ++c)
        EXPECT_EQ(load[size_t(c)].get(), 20) << "every evaluation answered";
    server_->SetEvaluationHook(nullptr);
    ASSERT_TRUE(r && r->status == 200);

    // the recorder reads Escape once the frame is whole: frame 0's ten samples stay
    std::string bytes = ReadFile(Path("long.sel"));
    EXPECT_EQ(Word(bytes, 2), 10);
    json state = json::parse(r->body);
    EXPECT_EQ(Control(state, 1006)["text"], " ");
    EXPECT_EQ(state["notes"], json({"recording stopped: " + Path("long.sel") +
                                    " keeps 10 samples (every frame up to the stop)"}));
    EXPECT_EQ(GetJson("/api/state")["notes"], state["notes"]); // a reload says it too
    // Escape with nothing running presses nothing, so the next recording is not cut short
    EXPECT_FALSE(PostJson("/api/escape", json::object())["pressed"]);
    EXPECT_EQ(PostJson("/api/panel", {{"action", "click"}, {"id", 1003}})["notes"],
              json({"wrote " + Path("long.sel") + ": 490 samples, 319492 bytes"}));
    EXPECT_EQ(Word(ReadFile(Path("long.sel")), 2), 49 * 10);
}

TEST_F(ViewApiTest, NotesNameEachSwitchedOnCacheThatCannotPlayWithTheReason) {
    Serve(KeysScene(Path("keys.sel")));
    json notes = GetJson("/api/state")["notes"];
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], "Tessarin: cache " + Path("keys.sel") + ": not found; press Record to make it");

    // a recording cut off before its count table: header only
    const int32_t header[3] = {-100, 2, 6};
    std::ofstream(Path("keys.sel"), std::ios::binary)
        .write(reinterpret_cast<const char*>(header), sizeof header);
    notes = GetJson("/api/state")["notes"];
    ASSERT_EQ(notes.size(), 1u);
    std::string note = notes[0];
    EXPECT_EQ(note.rfind("Tessarin: cache " + Path("keys.sel") + ": byte ", 0), 0u) << note;
    EXPECT_NE(note.find("(incomplete); the modifier plays nothing from it"), std::string::npos) << note;

    // switched off, it plays nothing anyway; recorded, it plays
    EXPECT_EQ(PostJson("/api/stack", {{"index", 0}, {"enabled", false}})["notes"], json::array());
    PostJson("/api/stack", {{"index", 0}, {"enabled", true}});
    EXPECT_EQ(PostJson("/api/panel", {{"action", "click"}, {"id", 1003}})["notes"],
              json({"wrote " + Path("keys.sel") + ": 6 samples, 180 bytes"}));
    PostJson("/api/stack", {{"index", 0}, {"enabled", true}}); // the next call forgets it

    // deleted while it plays: the notes and the playback agree that it is gone
    ASSERT_TRUE(Get("/api/eval?tick=80"));
    fs::remove(Path("keys.sel"));
    ASSERT_TRUE(Get("/api/eval?tick=160"));
    json state = GetJson("/api/state");
    EXPECT_EQ(state["notes"], json({"Tessarin: cache " + Path("keys.sel") + ": not found; press Record to make it"}));
    EXPECT_NE(Control(state, 1006)["text"].get<std::string>().find("not found"), std::string::npos);

    // plays, but two samples share tick 0: said as damaged all the same
    std::vector<int32_t> words = {-100, 2, 2};
    for (int s = 0; s < 2; ++s)
        for (int i = 0; i < 3; ++i) {
            float w = 0.5f;
            int32_t bits;
            std::memcpy(&bits, &w, 4);
            words.insert(words.end(), {bits, 0});
        }
    words.insert(words.end(), {3, 3});
    std::ofstream(Path("keys.sel"), std::ios::binary)
        .write(reinterpret_cast<const char*>(words.data()), std::streamsize(words.size() * 4));
    notes = GetJson("/api/state")["notes"];
    ASSERT_EQ(notes.size(), 1u);
    note = notes[0];
    EXPECT_EQ(note.rfind("Tessarin: cache " + Path("keys.sel") + ": byte ", 0), 0u) << note;
    EXPECT_NE(note.find("(damaged); the modifier plays it as it is"), std::string::npos) << note;

    // a recording that cannot write its file says why in the page
    fs::remove(Path("keys.sel"));
    fs::create_directory(Path("keys.sel"));
    int64_t after = GetJson("/api/dialog")["last"];
    auto click = PostAsync("/api/panel", {{"action", "click"}, {"id", 1003}});
    json message = WaitFor("dialog", after)["dialog"];
    EXPECT_EQ(message["kind"], "message");
    PostJson("/api/dialog", {{"id", message["id"]}, {"answer", "ok"}});
    auto failed = click.get();
    ASSERT_TRUE(failed);
    EXPECT_EQ(json::parse(failed->body)["notes"][0], "recording failed: " + Path("keys.sel") + ": is a folder");
}

TEST_F(ViewApiTest, OutFolderTakesTheCacheFilesTheSceneNamesBesideItselfAndIsShownByDialogsWithoutAFolder) {
    fs::create_directories(Path("mine"));
    Serve(KeysScene("rel.sel"), Path("mine"));
    json state = GetJson("/api/state");
    EXPECT_EQ(Control(state, 1010)["text"], "rel.sel");
    EXPECT_NE(state["notes"][0].get<std::string>().find(Path("mine/rel.sel") + ": not found"),
              std::string::npos);
    PostJson("/api/panel", {{"action", "click"}, {"id", 1003}});
    EXPECT_TRUE(fs::exists(Path("mine/rel.sel")));
    EXPECT_FALSE(fs::exists(Path("rel.sel")));
    EXPECT_EQ(GetJson("/api/state")["notes"], json({"wrote " + Path("mine/rel.sel") + ": 6 samples, 180 bytes"}))
        << "and plays from there";
    server_.reset();

    // a file outside the scene's folder stays where it is
    std::string outside =
        (dir_.parent_path() / ("vomark-view-absent-" + std::to_string(::getpid())) / "elsewhere.sel")
            .string();
    Serve(KeysScene(outside), Path("mine"));
    EXPECT_EQ(GetJson("/api/state")["notes"][0],
              "Tessarin: cache " + outside + ": not found; press Record to make it");
    server_.reset();

    // a dialog without a folder of its own shows the out folder, and a name answered without a
    // folder is taken in the folder shown, the Save dialog's and the Open dialog's alike
    Serve(KeysScene(""), Path("mine"));
    int64_t after = GetJson("/api/dialog")["last"];
    auto click = PostAsync("/api/panel", {{"action", "click"}, {"id", 1003}});
    json save = WaitFor("dialog", after)["dialog"];
    EXPECT_EQ(save["initialDir"], Path("mine"));
    PostJson("/api/dialog", {{"id", save["id"]}, {"path", "answered.sel"}});
    auto r = click.get();
    ASSERT_TRUE(r && r->status == 200);
    EXPECT_TRUE(fs::exists(Path("mine/answered.sel")));
    server_.reset();

    fs::rename(Path("mine/answered.sel"), Path("mine/shown.sel"));
    Serve(KeysScene(""), Path("mine"));
    after = GetJson("/api/dialog")["last"];
    click = PostAsync("/api/panel", {{"action", "click"}, {"id", 1002}});
    json open = WaitFor("dialog", after)["dialog"];
    EXPECT_EQ(open["kind"], "open");
    EXPECT_EQ(open["initialDir"], Path("mine"));
    PostJson("/api/dialog", {{"id", open["id"]}, {"path", "shown.sel"}});
    r = click.get();
    ASSERT_TRUE(r && r->status == 200);
    state = json::parse(r->body);
    EXPECT_EQ(Control(state, 1010)["text"], "shown.sel");
    EXPECT_EQ(state["notes"], json::array()) << "found where the dialog showed it";
}

TEST_F(ViewApiTest, RefusesRequestsWithoutTheTokenOrFromElsewhere) {
    Serve(KeysScene(""));
    std::string own = "127.0.0.1:" + std::to_string(server_->Port());
    auto status = [&](const std::string& path, httplib::Headers headers, const char* method = "GET") {
        auto r =
            std::string(method) == "GET"
                ? client_->Get(path.c_str(), headers)
                : client_->Post(path.c_str(), headers, "{\"index\":0,\"enabled\":false}", "application/json");
        return r ? r->status : -1;
    };
    EXPECT_EQ(status("/api/state", {}), 403);
    EXPECT_EQ(status("/api/stack", {}, "POST"), 403);
    // one digit changed, to another digit whatever the token holds
    std::string wrong = token_;
    wrong[0] = wrong[0] == '0' ? '1' : '0';
    EXPECT_EQ(status("/api/stack", {{"X-Vomark-Token", wrong}}, "POST"), 403);
    EXPECT_EQ(status("/api/stack", {{"X-Vomark-Token", token_ + "0"}}, "POST"), 403);
    EXPECT_EQ(status("/api/stack", {{"X-Vomark-Token", token_.substr(1)}}, "POST"), 403);
    EXPECT_EQ(status("/api/stack", {{"X-Vomark-Token", token_}, {"Origin", "http://evil.example"}}, "POST"),
              403);
    EXPECT_EQ(status("/api/state", {{"X-Vomark-Token", token_}, {"Host", "evil.example:80"}}), 403);
    EXPECT_EQ(status("/", {{"Host", "rebound.example:" + std::to_string(server_->Port())}}), 403);
    EXPECT_TRUE(GetJson("/api/state")["stack"][0]["enabled"]); // none of the above switched it off

    EXPECT_EQ(status("/api/state?token=" + token_, {}), 200);
    // the page loaded with the token gets a cookie that marks its connections, and opens no call
    auto page = client_->Get(("/?token=" + token_).c_str());
    ASSERT_TRUE(page);
    std::string cookie = page->get_header_value("Set-Cookie");
    EXPECT_EQ(cookie.rfind("vomark-view-" + std::to_string(server_->Port()) + "=", 0), 0u) << cookie;
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_EQ(cookie.find(token_), std::string::npos) << "not the token itself";
    EXPECT_EQ(status("/api/state", {{"Cookie", cookie.substr(0, cookie.find(';'))}}), 403);
    EXPECT_EQ(client_->Get("/")->get_header_value("Set-Cookie"), "") << "only with the token";
    EXPECT_EQ(status("/api/state", {{"X-Vomark-Token", token_}, {"Origin", "http://" + own}}), 200);
    EXPECT_EQ(status("/", {}), 200);
    EXPECT_EQ(status("/main.js", {}), 200);
    EXPECT_EQ(status("/../../etc/passwd", {}), 404);
    EXPECT_EQ(status("/api/nothing", Auth()), 404);
    EXPECT_EQ(status("/api/eval?tick=x", Auth()), 400);
    EXPECT_EQ(Post("/api/panel", json::array())->status, 400);
    EXPECT_EQ(client_->Post("/api/panel", Auth(), "{", "application/json")->status, 400);
    EXPECT_EQ(Post("/api/panel", {{"action", "click"}, {"id", "1003"}})->status, 400);
}

TEST_F(ViewApiTest, ScriptHoldsTheMacroLinesForReplay) {
    Serve(KeysScene(Path("keys.sel")));
    PostJson("/api/panel", {{"action", "click"}, {"id", 1008}});
    PostJson("/api/panel", {{"action", "click"}, {"id", 1007}});
    auto r = Get("/api/script");
    ASSERT_TRUE(r && r->status == 200);
    EXPECT_NE(
        r->body.find("select Tri\n$.modifiers[#Tessarin].DisableMods\n$.modifiers[#Tessarin].EnableMods\n"),
        std::string::npos)
        << r->body;
}

} // namespace
