#include "api.h"

#include <algorithm>
#include <random>

#include "api_fields.h"
#include "scene/scene_description.h"
#include "web_files.h"

namespace app::view {
namespace {
// Compares without stopping at the first difference, so timing tells nothing of the token.
bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::string ContentType(const std::string& name) {
    auto ends = [&](const char* ext) {
        std::string e = ext;
        return name.size() >= e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0;
    };
    if (ends(".html")) return "text/html; charset=utf-8";
    if (ends(".js")) return "text/javascript; charset=utf-8";
    if (ends(".css")) return "text/css; charset=utf-8";
    if (ends(".png")) return "image/png";
    if (ends(".svg")) return "image/svg+xml";
    return "application/octet-stream";
}

Response StaticFile(const std::string& path) {
    std::string name = path == "/" ? "index.html" : path.substr(1);
    for (size_t i = 0; i < kWebFileCount; ++i)
        if (name == kWebFiles[i].name)
            return {200, ContentType(name),
                    std::string(reinterpret_cast<const char*>(kWebFiles[i].data), kWebFiles[i].size)};
    return Error(404, "no such page");
}

} // namespace

std::string NewToken() {
    std::random_device rd;
    std::string out;
    const char* hex = "0123456789abcdef";
    for (int i = 0; i < 32; ++i)
        out.push_back(hex[rd() & 15]);
    return out;
}

Api::Api(HostThread& host, WebInteraction& interaction, EventLog& events, Target target, std::string token)
    : host_(host), interaction_(interaction), events_(events), target_(target), token_(std::move(token)) {}

void Api::SetPort(int port) {
    hostNames_[0] = "127.0.0.1:" + std::to_string(port);
    hostNames_[1] = "localhost:" + std::to_string(port);
    cookieName_ = "vomark-view-" + std::to_string(port); // a cookie is the host's, whatever the port
}

std::optional<Response> Api::Admit(const Request& r) const {
    std::string host = Lookup(r.headers, "host"), origin = Lookup(r.headers, "origin");
    bool ownHost = !host.empty() && (host == hostNames_[0] || host == hostNames_[1]);
    if (!ownHost) return Error(403, "this server answers only to http://" + hostNames_[0]);
    if (!origin.empty() && origin != "http://" + hostNames_[0] && origin != "http://" + hostNames_[1])
        return Error(403, "requests from another origin are refused");
    if (r.path.rfind("/api/", 0) == 0 && !ShowsToken(r)) return Error(403, "missing or wrong token");
    return std::nullopt;
}

bool Api::ShowsToken(const Request& r) const {
    std::string token = Lookup(r.headers, "x-vomark-token");
    if (token.empty()) token = Lookup(r.query, "token");
    return SameSecret(token, token_);
}

bool Api::FromPage(const Request& r) const {
    if (ShowsToken(r)) return true;
    std::string cookies = Lookup(r.headers, "cookie");
    for (size_t at = 0; at < cookies.size();) {
        size_t end = std::min(cookies.find(';', at), cookies.size());
        std::string pair = cookies.substr(at, end - at);
        pair.erase(0, std::min(pair.find_first_not_of(' '), pair.size()));
        if (pair.rfind(cookieName_ + "=", 0) == 0 && SameSecret(pair.substr(cookieName_.size() + 1), session_))
            return true;
        at = end + 1;
    }
    return false;
}

std::string Api::SessionCookie(const Request& r) const {
    if (r.path != "/" || !ShowsToken(r)) return "";
    return cookieName_ + "=" + session_ + "; Path=/; HttpOnly; SameSite=Strict";
}

Response Api::Handle(const Request& r) {
    try {
        if (std::optional<Response> refused = Admit(r)) return *refused;
        return Route(r);
    } catch (const Refused& e) {
        return Error(e.status, e.what());
    } catch (const SceneError& e) { // the node yields no mesh
        return Error(409, e.what());
    } catch (const std::exception& e) {
        return Error(500, e.what());
    }
}

std::optional<Response> CheckBodyFraming(const std::string& method, const std::vector<std::string>& lengths,
                                         const std::vector<std::string>& encodings) {
    if (lengths.size() > 1) return Error(400, "more than one Content-Length");
    if (encodings.size() > 1 || (!encodings.empty() && encodings[0] != "chunked"))
        return Error(400, "the only Transfer-Encoding taken is chunked");
    if (!lengths.empty() && !encodings.empty()) return Error(400, "both Content-Length and Transfer-Encoding");
    bool body = !encodings.empty();
    if (!lengths.empty()) {
        const std::string& text = lengths[0];
        if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
            return Error(400, "Content-Length must be a whole number");
        body = std::stoll(text) > 0;
    }
    if (body && method != "POST") return Error(400, "only POST requests carry a body");
    return std::nullopt;
}

Response Api::Route(const Request& r) {
    bool get = r.method == "GET" || r.method == "HEAD", post = r.method == "POST";
    if (r.path.rfind("/api/", 0) != 0) {
        if (!get) return Error(405, "the page's files are only read");
        return StaticFile(r.path);
    }
    const std::string& p = r.path;
    if (get) {
        if (p == "/api/scene") return Scene();
        if (p == "/api/mesh") return Mesh();
        if (p == "/api/eval") return Eval(r);
        if (p == "/api/state") return State();
        if (p == "/api/dialog") return Dialog();
        if (p == "/api/events") return Events(r);
        if (p == "/api/script") return Script();
    } else if (post) {
        if (p == "/api/panel") return PanelAction(Body(r));
        if (p == "/api/stack") return StackSwitch(Body(r));
        if (p == "/api/dialog") return AnswerDialog(Body(r));
        if (p == "/api/escape") return Escape();
    } else {
        return Error(405, "only GET and POST are answered");
    }
    return Error(404, "no such call: " + r.method + " " + p);
}

} // namespace app::view
