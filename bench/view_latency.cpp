// `vomark view` on loopback: GET /api/eval of a small mesh, so that the transport is most of the time,
// on one connection used for request after request (as a browser uses it) beside a new connection per
// request. Headers and body leave in two writes; before TCP_NODELAY, the body of an answer on a reused
// connection waited for the client's delayed ACK, about 40 ms.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "server.h"

namespace {
namespace fs = std::filesystem;

struct Served {
    fs::path dir;
    std::unique_ptr<app::view::Server> server;
    httplib::Headers auth;

    Served() {
        dir = fs::temp_directory_path() / ("vomark-view-bench-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        std::ofstream(dir / "scene.json") << R"({"animationRange": [0, 100], "nodes": [{"name": "G",
            "mesh": {"grid": {"width": 2, "length": 2, "rows": 8, "cols": 8}},
            "modifiers": [{"class": "SoftSelect", "radius": 0.5, "falloff": 0.5,
                           "center": [{"frame": 0, "at": [0, 0, 0]}, {"frame": 100, "at": [1, 1, 0]}]}]}]})";
        app::view::ViewOptions o;
        o.scene = (dir / "scene.json").string();
        server = std::make_unique<app::view::Server>(o);
        if (!server->Start(0)) throw std::runtime_error("cannot listen");
        std::string url = server->Url();
        auth = {{"X-Vomark-Token", url.substr(url.find("token=") + 6)}};
    }
    ~Served() {
        server.reset();
        fs::remove_all(dir);
    }
};

Served& Shared() {
    static Served served;
    return served;
}

void Eval(benchmark::State& state, httplib::Client& client, int64_t& tick) {
    std::string path = "/api/eval?tick=" + std::to_string(tick++ % 16000);
    auto r = client.Get(path.c_str(), Shared().auth);
    if (!r || r->status != 200) state.SkipWithError("no answer");
}

void ReusedConnection(benchmark::State& state) {
    httplib::Client client("127.0.0.1", Shared().server->Port());
    client.set_keep_alive(true);
    int64_t tick = 0;
    for (auto _ : state)
        Eval(state, client, tick);
}

void NewConnectionEachTime(benchmark::State& state) {
    int64_t tick = 0;
    for (auto _ : state) {
        httplib::Client client("127.0.0.1", Shared().server->Port());
        Eval(state, client, tick);
    }
}
} // namespace

BENCHMARK(ReusedConnection)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(NewConnectionEachTime)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
