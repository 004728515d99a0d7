#include "api.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <random>

#include "host_queries.h"
#include "pictures/ramp.h"
#include "runtime/host_record.h"
#include "scene_description.h"
#include "verbs.h"
#include "view_state.h"
#include "web_files.h"

namespace app::view {
namespace {
constexpr size_t kMaxBody = 64 * 1024;

// A request the API cannot take; becomes a 4xx response.
struct Refused : std::runtime_error {
    Refused(int status, const std::string& why) : std::runtime_error(why), status(status) {}
    int status;
};

// Names and paths from scenes may not be UTF-8: such bytes become U+FFFD rather than a failed answer.
Response Json(const nlohmann::json& j, int status = 200) {
    return {status, "application/json", j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}
Response Error(int status, const std::string& why) { return Json({{"error", why}}, status); }

// Compares without stopping at the first difference, so timing tells nothing of the token.
bool SameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

std::string Lookup(const std::map<std::string, std::string>& m, const std::string& key) {
    auto it = m.find(key);
    return it == m.end() ? "" : it->second;
}

int64_t WholeNumber(const std::string& text, const std::string& name, int64_t low, int64_t high) {
    int64_t v = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < low || v > high)
        throw Refused(400, name + " must be a whole number from " + std::to_string(low) + " to " +
                               std::to_string(high));
    return v;
}

nlohmann::json Body(const Request& r) {
    if (r.body.size() > kMaxBody) throw Refused(413, "the body is larger than 64 KiB");
    nlohmann::json j = nlohmann::json::parse(r.body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) throw Refused(400, "the body must be a JSON object");
    return j;
}

const nlohmann::json& Field(const nlohmann::json& j, const char* key) {
    if (!j.contains(key)) throw Refused(400, std::string("\"") + key + "\" is missing");
    return j.at(key);
}

int IntField(const nlohmann::json& j, const char* key) {
    const nlohmann::json& v = Field(j, key);
    if (!v.is_number_integer() || v.get<int64_t>() < std::numeric_limits<int>::min() ||
        v.get<int64_t>() > std::numeric_limits<int>::max())
        throw Refused(400, std::string("\"") + key + "\" must be a whole number");
    return v.get<int>();
}

bool BoolField(const nlohmann::json& j, const char* key) {
    const nlohmann::json& v = Field(j, key);
    if (!v.is_boolean()) throw Refused(400, std::string("\"") + key + "\" must be true or false");
    return v.get<bool>();
}

double NumberField(const nlohmann::json& j, const char* key) {
    const nlohmann::json& v = Field(j, key);
    if (!v.is_number() || !std::isfinite(v.get<double>()))
        throw Refused(400, std::string("\"") + key + "\" must be a number");
    return v.get<double>();
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

// The pictures' weight colours, so that the page shows a weight as the PNGs do.
nlohmann::json WeightRamp() {
    nlohmann::json stops = nlohmann::json::array();
    for (const pictures::Colour& c : pictures::kWeightStops)
        stops.push_back({c.r, c.g, c.b});
    return stops;
}

Mesh& Evaluated(const Target& t, TimeValue tick) { return EvaluatedMesh(*t.scene, t.node, tick); }
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
}

Response Api::Handle(const Request& r) {
    try {
        std::string host = Lookup(r.headers, "host"), origin = Lookup(r.headers, "origin");
        bool ownHost = !host.empty() && (host == hostNames_[0] || host == hostNames_[1]);
        if (!ownHost) return Error(403, "this server answers only to http://" + hostNames_[0]);
        if (!origin.empty() && origin != "http://" + hostNames_[0] && origin != "http://" + hostNames_[1])
            return Error(403, "requests from another origin are refused");
        if (r.path.rfind("/api/", 0) == 0) {
            std::string token = Lookup(r.headers, "x-vomark-token");
            if (token.empty()) token = Lookup(r.query, "token");
            if (!SameSecret(token, token_)) return Error(403, "missing or wrong token");
        }
        return Route(r);
    } catch (const Refused& e) {
        return Error(e.status, e.what());
    } catch (const SceneError& e) { // the node yields no mesh
        return Error(409, e.what());
    } catch (const std::exception& e) {
        return Error(500, e.what());
    }
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

Response Api::Scene() {
    return host_.Call([this] {
        vm::Scene& s = *target_.scene;
        ::Mesh& mesh = Evaluated(target_, s.CurrentTime());
        nlohmann::json nodes = nlohmann::json::array();
        for (INode* n : s.Nodes())
            nodes.push_back(n->GetName());
        Interval range = s.AnimationRange();
        return Json({{"ticksPerFrame", s.TicksPerFrame()},
                     {"animationRange", {range.Start(), range.End()}},
                     {"currentTick", s.CurrentTime()},
                     {"node", target_.node->GetName()},
                     {"nodes", nodes},
                     {"vertices", mesh.getNumVerts()},
                     {"faces", mesh.getNumFaces()},
                     {"modifier", target_.modifier ? nlohmann::json(ModifierName(target_.modifier))
                                                   : nlohmann::json(nullptr)},
                     {"weightRamp", WeightRamp()}});
    });
}

Response Api::Mesh() {
    return host_.Call([this] {
        return Response{200, "application/octet-stream",
                        EncodeMesh(Evaluated(target_, target_.scene->CurrentTime()))};
    });
}

Response Api::Eval(const Request& r) {
    auto tick = static_cast<TimeValue>(WholeNumber(Lookup(r.query, "tick"), "tick",
                                                   std::numeric_limits<TimeValue>::min() + 1,
                                                   std::numeric_limits<TimeValue>::max()));
    return host_.Call([this, tick] {
        target_.scene->SetCurrentTime(tick);
        Response r{200, "application/octet-stream", EncodeWeights(Evaluated(target_, tick), tick)};
        PostStatusIfChanged();
        return r;
    });
}

Response Api::State() {
    return host_.Call([this] {
        nlohmann::json macro = nlohmann::json::array();
        for (const auto& m : vm::Record().macroLines)
            macro.push_back(m.line);
        // "seq": every event up to it is already in this state, so the page lets no older one
        // (a late progress event, say) overwrite what it shows
        statusSent_ = StatusText();
        return Json({{"panel", target_.panel ? PanelJson(*target_.panel) : nlohmann::json(nullptr)},
                     {"stack", StackJson(target_.node, target_.modifier)},
                     {"macro", macro},
                     {"notes", Notes()},
                     {"currentTick", target_.scene->CurrentTime()},
                     {"seq", events_.Last()}});
    });
}

nlohmann::json Api::Notes() {
    nlohmann::json notes = nlohmann::json::array();
    if (!stoppedLine_.empty()) notes.push_back(stoppedLine_);
    for (Modifier* m : StackOf(target_.node)) {
        const char* file = m->IsEnabled() ? ParamAtZero<const char*>(m, "cache_file", nullptr) : nullptr;
        if (!file || !*file) continue;
        std::string why = WhyUnplayable(file);
        if (!why.empty()) notes.push_back(ModifierName(m) + ": cache " + why + "; the modifier plays nothing from it");
    }
    return notes;
}

Response Api::Dialog() {
    return Json({{"dialog", interaction_.Pending()}, {"busy", host_.Busy()}, {"last", events_.Last()}});
}

Response Api::Events(const Request& r) {
    std::string after = Lookup(r.query, "after"), wait = Lookup(r.query, "wait");
    int64_t a = after.empty() ? 0 : WholeNumber(after, "after", 0, std::numeric_limits<int64_t>::max());
    int64_t w = wait.empty() ? 0 : WholeNumber(wait, "wait", 0, 600000);
    auto ms = std::min(std::chrono::milliseconds(w), maxWait_);
    return Json({{"events", events_.After(a, ms)}, {"busy", host_.Busy()}});
}

Response Api::Script() {
    return host_.Call([this] {
        std::string text = "# made by vomark view; replay with: vomark run SCENE THIS_FILE\n";
        text += std::string("select ") + target_.node->GetName() + "\n";
        for (const auto& m : vm::Record().macroLines)
            text += m.line + "\n";
        return Response{200, "text/plain; charset=utf-8", text};
    });
}

std::string Api::StatusText() {
    HWND status = target_.panel ? GetDlgItem(target_.panel->GetHWnd(), 1006) : nullptr;
    return status ? status->text : "";
}

void Api::PostStatusIfChanged() {
    std::string now = StatusText();
    if (now == statusSent_) return;
    statusSent_ = now;
    events_.Post({{"type", "status"}, {"text", now}});
}

void Api::PostProgress(TimeValue t, float start, float end) {
    events_.Post({{"type", "progress"},
                  {"tick", t},
                  {"frame", static_cast<double>(t) / target_.scene->TicksPerFrame()},
                  {"start", start},
                  {"end", end},
                  {"status", StatusText()}});
}

void Api::PostNewMacroLines() {
    const auto& lines = vm::Record().macroLines;
    for (; macroSeen_ < lines.size(); ++macroSeen_)
        events_.Post({{"type", "macro"}, {"index", macroSeen_}, {"line", lines[macroSeen_].line}});
}

Response Api::UserCall(const std::function<bool()>& action, const std::string& refused) {
    bool done = host_.Call([&] {
        interaction_.ForgetEscape(); // a press from before this call is not for it
        stoppedLine_.clear();
        int escapes = vm::Record().escapePresses;
        PostNewMacroLines();
        Modifier* m = target_.modifier;
        float start = m ? ParamAtZero(m, "start_time", 0.0f) : 0,
              end = m ? ParamAtZero(m, "end_time", 0.0f) : 0;
        auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        // recording progress: at most about thirty events a second
        target_.scene->onEvaluate = [&](INode*, TimeValue t) {
            PostNewMacroLines();
            auto now = std::chrono::steady_clock::now();
            if (now - last >= std::chrono::milliseconds(33)) {
                last = now;
                PostProgress(t, start, end);
            }
            if (evaluationHook_) evaluationHook_(t);
        };
        bool ok = false;
        try {
            ok = action();
        } catch (...) {
            target_.scene->onEvaluate = nullptr;
            throw;
        }
        target_.scene->onEvaluate = nullptr;
        PostNewMacroLines();
        // as `vomark record` says after Ctrl-C: the recorder read Escape and kept what it had
        if (m && vm::Record().escapePresses > escapes) {
            const char* file = ParamAtZero<const char*>(m, "cache_file", nullptr);
            stoppedLine_ = StoppedRecordingLine(file ? file : "");
        }
        return ok;
    });
    events_.Post({{"type", "done"}});
    Response state = State();
    if (done) return state;
    nlohmann::json j = nlohmann::json::parse(state.body);
    j["error"] = refused;
    return Json(j, 409);
}

Response Api::PanelAction(const nlohmann::json& body) {
    const nlohmann::json& actionField = Field(body, "action");
    if (!actionField.is_string()) throw Refused(400, "\"action\" must be text");
    std::string action = actionField.get<std::string>();
    int id = IntField(body, "id");
    std::function<bool(vm::Panel&)> act;
    bool setsParameter = true;
    if (action == "click") {
        act = [id](vm::Panel& p) { return p.Click(id); };
        setsParameter = false;
    } else if (action == "spinner") {
        double v = NumberField(body, "value");
        act = [id, v](vm::Panel& p) { return p.SetSpinner(id, v); };
    } else if (action == "check") {
        bool on = BoolField(body, "on");
        act = [id, on](vm::Panel& p) { return p.SetCheck(id, on); };
    } else if (action == "select") {
        int index = IntField(body, "index");
        act = [id, index](vm::Panel& p) { return p.SelectItem(id, index); };
    } else {
        throw Refused(400, "\"action\" must be click, spinner, check or select");
    }
    if (!target_.panel) throw Refused(409, "the node has no modifier with a panel");
    return UserCall(
        [this, act, id, setsParameter] {
            if (!act(*target_.panel)) return false;
            // the host's own macro line for a parameter the user set
            if (setsParameter) {
                std::string line = ParameterLine(*target_.panel, target_.modifier, id);
                if (!line.empty()) vm::Record().macroLines.push_back({line, 0, 0});
            }
            return true;
        },
        "control " + std::to_string(id) + " is missing, disabled or of another kind");
}

Response Api::StackSwitch(const nlohmann::json& body) {
    int index = IntField(body, "index");
    bool enabled = BoolField(body, "enabled");
    return UserCall(
        [this, index, enabled] {
            std::vector<Modifier*> stack = StackOf(target_.node);
            if (index < 0 || index >= static_cast<int>(stack.size())) return false;
            Modifier* m = stack[static_cast<size_t>(index)];
            if (enabled)
                m->ClearAFlag(A_MOD_DISABLED);
            else
                m->SetAFlag(A_MOD_DISABLED);
            return true;
        },
        "no modifier at index " + std::to_string(index));
}

Response Api::AnswerDialog(const nlohmann::json& body) {
    const nlohmann::json& id = Field(body, "id");
    if (!id.is_number_integer()) throw Refused(400, "\"id\" must be a whole number");
    std::string why;
    if (!interaction_.Answer(id.get<int64_t>(), body, why)) throw Refused(409, why);
    return Json({{"answered", id}});
}

Response Api::Escape() {
    bool busy = host_.Busy();
    if (busy) interaction_.PressEscape();
    return Json({{"pressed", busy}});
}

} // namespace app::view
