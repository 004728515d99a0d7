// The HTTP API of `vomark view`, apart from any server: a request in, a response out, so that the
// server, the tests and the fuzzer all go through the same checks and routes.
//
//   GET  /api/scene            ticks per frame, animation range, current tick, node, mesh size, the
//                              weight colours (the pictures' stops for 0, 1/4 ... 1) (JSON)
//   GET  /api/mesh             the node's mesh at the current tick (binary, see EncodeMesh)
//   GET  /api/eval?tick=T      evaluates the node at T, which becomes the current tick (binary weights)
//   GET  /api/state            panel, modifier stack, macro lines, notes, the last event before it (JSON)
//   GET  /api/dialog           the dialog waiting for an answer, whether the host is busy, last event
//   GET  /api/events?after=N&wait=MS   events after N, waiting up to MS for one (long polling):
//                              progress, dialog, dialogClosed, macro, status (the panel's status
//                              line changed in an evaluation), done (a user's call ended)
//   GET  /api/script           the macro lines as a script for `vomark run` (text)
//   POST /api/panel            {"action": "click|spinner|check|select", "id": ID, "value|on|index": ...}
//   POST /api/stack            {"index": I, "enabled": true|false}
//   POST /api/dialog           {"id": N, "answer": "ok|cancel|yes|no"} or {"id": N, "path": P}
//   POST /api/escape           the Escape key, read at the recorder's next poll
//   GET  / and the page's own files; nothing else is served.
//
// Every request must name this server in Host, and in Origin when it sends one; every /api request
// carries the token (header X-Vomark-Token, or ?token= for links).
#pragma once
#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cache_notes.h"
#include "events.h"
#include "host_thread.h"
#include "runtime/scene.h"
#include "runtime/window.h"
#include "web_interaction.h"

namespace app::view {

// A fresh random token: 32 hexadecimal digits.
std::string NewToken();

struct Request {
    std::string method, path, body;
    std::map<std::string, std::string> query;
    std::map<std::string, std::string> headers; // names in lower case
};

struct Response {
    int status = 200;
    std::string type = "application/json";
    std::string body;
};

// What the page works on. Touched only on the host thread.
struct Target {
    vm::Scene* scene = nullptr;
    INode* node = nullptr;
    Modifier* modifier = nullptr; // the node's recording modifier, or null
    vm::Panel* panel = nullptr;   // its open panel, or null
};

class Api {
  public:
    Api(HostThread& host, WebInteraction& interaction, EventLog& events, Target target, std::string token);

    // The port the server listens on, for the Host and Origin checks.
    void SetPort(int port);
    // The longest a GET /api/events waits.
    void SetMaxWait(std::chrono::milliseconds wait) { maxWait_ = wait; }
    const std::string& Token() const { return token_; }
    // Called on the host thread at every evaluation inside a user's call (a recording's samples),
    // after its progress event: a test holds a recording here to press Escape at a known frame.
    void SetEvaluationHook(std::function<void(TimeValue)> hook) { evaluationHook_ = std::move(hook); }

    // Never throws: a bad request is a 4xx response with {"error": ...}.
    Response Handle(const Request& request);
    // The checks the request's line and headers settle, made before any body is read: Host, Origin,
    // the token of an /api/ call. The refusal, or nothing when the request may go on.
    std::optional<Response> Admit(const Request& request) const;
    // The request carries the token, in X-Vomark-Token or ?token=.
    bool ShowsToken(const Request& request) const;
    // The request comes from the page: the token, or the session cookie handed out with the page.
    // The cookie only marks the page's connections for the server; the API still wants the token.
    bool FromPage(const Request& request) const;
    // A Set-Cookie value for the answer to the page loaded with the token; "" for other requests.
    std::string SessionCookie(const Request& request) const;

  private:
    Response Route(const Request& request);
    Response Scene();
    Response Mesh();
    Response Eval(const Request& request);
    Response State();
    Response Dialog();
    Response Events(const Request& request);
    Response Script();
    Response PanelAction(const nlohmann::json& body);
    Response StackSwitch(const nlohmann::json& body);
    Response AnswerDialog(const nlohmann::json& body);
    Response Escape();
    // Runs a user's action on the host thread with progress and macro events, then the state.
    Response UserCall(const std::function<bool()>& action, const std::string& refused);
    // Host thread only: posts the macro lines made since the last call.
    void PostNewMacroLines();
    // Host thread only: the panel's status line ("" without a panel); a "status" event when an
    // evaluation changed it since the page last learnt it.
    std::string StatusText();
    void PostStatusIfChanged();
    // Host thread only: a progress event with the panel's status line.
    void PostProgress(TimeValue t, float start, float end);
    // Host thread only: the page's notes: what the last call's recording wrote or kept, or why it failed,
    // then one per switched-on modifier whose cache file cannot play or is damaged.
    nlohmann::json Notes();

    HostThread& host_;
    WebInteraction& interaction_;
    EventLog& events_;
    Target target_;
    std::string token_;
    std::string session_ = NewToken();
    std::string cookieName_;
    std::string hostNames_[2];
    std::chrono::milliseconds maxWait_{25000};
    size_t macroSeen_ = 0; // host thread only
    std::function<void(TimeValue)> evaluationHook_;
    // host thread only: what the last user's call recorded (written, kept after Escape, or why not),
    // said until the next one
    std::string stoppedLine_;
    std::string statusSent_; // host thread only: the status line the page last learnt
    CacheNotes cacheNotes_;  // host thread only
    // Read by Escape on any thread: a user's call runs, and it has evaluated the node (a recording).
    std::atomic<bool> userCall_{false}, recording_{false};
};

// How a request says how long its body is, as the server saw it: every Content-Length and
// Transfer-Encoding value. A 400 for values that leave it unclear (two lengths, a length that is no
// number, an encoding other than chunked, both at once) or a body where none is taken (a GET), since
// a server and a client that read it differently disagree about where the next request begins.
std::optional<Response> CheckBodyFraming(const std::string& method, const std::vector<std::string>& lengths,
                                         const std::vector<std::string>& encodings);

} // namespace app::view
