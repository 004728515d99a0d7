// Any bytes as an HTTP request to `vomark view`: the checks and every route must answer with a
// status, never crash, hang or read outside the request.
//
// Input: "METHOD PATH[?QUERY]\n", header lines "name: value\n", an empty line, then the body. The
// server's own Host and the token are added unless the input gives them or starts with '!'.
#include <cstdint>
#include <string>
#include <vector>

#include "api.h"
#include "scene/scene_description.h"

namespace {
struct World {
    app::view::HostThread host;
    app::view::EventLog events;
    app::view::WebInteraction interaction{events};
    app::BuiltScene built;
    std::unique_ptr<app::view::Api> api;

    World() {
        // built-in modifiers only: no panel, so no dialog ever waits for an answer
        app::view::Target target = host.Call([this] {
            built = app::BuildScene(
                R"({"animationRange": [0, 4], "nodes": [{"name": "G",
                    "mesh": {"grid": {"width": 2, "length": 2, "rows": 3, "cols": 3}},
                    "modifiers": [{"class": "SelectKeys", "keys": [{"frame": 0, "selected": [1, 2]}]},
                                  {"class": "SoftSelect", "radius": 0.5, "falloff": 0.5,
                                   "center": [{"frame": 0, "at": [0, 0, 0]}, {"frame": 4, "at": [1, 1, 0]}]}]}]})",
                ".");
            app::view::Target t;
            t.scene = built.scene.get();
            t.node = t.scene->Nodes().front();
            return t;
        });
        vm::SetInteraction(&interaction);
        api = std::make_unique<app::view::Api>(host, interaction, events, target, "t0k3n");
        api->SetPort(8137);
        api->SetMaxWait(std::chrono::milliseconds(0));
    }
};

std::string Line(const std::string& in, size_t& at) {
    size_t end = in.find('\n', at);
    if (end == std::string::npos) end = in.size();
    std::string line = in.substr(at, end - at);
    at = end < in.size() ? end + 1 : end;
    return line;
}

void ParseQuery(const std::string& q, std::map<std::string, std::string>& out) {
    size_t at = 0;
    while (at <= q.size()) {
        size_t amp = q.find('&', at);
        if (amp == std::string::npos) amp = q.size();
        std::string pair = q.substr(at, amp - at);
        size_t eq = pair.find('=');
        out.emplace(pair.substr(0, eq), eq == std::string::npos ? "" : pair.substr(eq + 1));
        at = amp + 1;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static World world;
    std::string in(reinterpret_cast<const char*>(data), size);
    bool bare = !in.empty() && in[0] == '!';
    if (bare) in.erase(0, 1);
    app::view::Request r;
    size_t at = 0;
    std::string first = Line(in, at);
    size_t space = first.find(' ');
    r.method = first.substr(0, space);
    std::string target = space == std::string::npos ? "/" : first.substr(space + 1);
    size_t question = target.find('?');
    r.path = target.substr(0, question);
    if (question != std::string::npos) ParseQuery(target.substr(question + 1), r.query);
    std::vector<std::string> lengths, encodings; // every value, as the server sees them before the body
    for (std::string h = Line(in, at); !h.empty(); h = Line(in, at)) {
        size_t colon = h.find(':');
        std::string name = h.substr(0, colon), value = colon == std::string::npos ? "" : h.substr(colon + 1);
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        while (!value.empty() && value.front() == ' ')
            value.erase(0, 1);
        if (name == "content-length") lengths.push_back(value);
        if (name == "transfer-encoding") encodings.push_back(value);
        r.headers.emplace(name, value);
    }
    if (auto refused = app::view::CheckBodyFraming(r.method, lengths, encodings))
        if (refused->status != 400) __builtin_trap();
    r.body = in.substr(at);
    if (!bare) {
        r.headers.emplace("host", "127.0.0.1:8137");
        r.headers.emplace("x-vomark-token", "t0k3n");
    }
    app::view::Response out = world.api->Handle(r);
    if (out.status < 200 || out.status > 599) __builtin_trap();
    return 0;
}
