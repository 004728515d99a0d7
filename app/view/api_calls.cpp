// The API's acting calls: the panel, the stack switches, dialog answers and Escape, each a user's
// call on the host thread with its progress, macro and status events.
#include "api.h"
#include "api_fields.h"
#include "scene/cache_files.h"
#include "scene/host_queries.h"
#include "scene/recording_reports.h"
#include "runtime/host_record.h"
#include "view_state.h"

namespace app::view {

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
        userCall_ = true;
        stoppedLine_.clear();
        int escapes = vm::Record().escapePresses;
        PostNewMacroLines();
        size_t macroBefore = vm::Record().macroLines.size();
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
            recording_ = true;
            if (evaluationHook_) evaluationHook_(t);
        };
        bool ok = false;
        try {
            ok = action();
        } catch (...) {
            target_.scene->onEvaluate = nullptr;
            userCall_ = recording_ = false;
            throw;
        }
        // the Record button's own macro line comes even when it fails before its first sample
        bool recorded = recording_;
        const auto& lines = vm::Record().macroLines;
        for (size_t i = macroBefore; i < lines.size(); ++i) {
            const std::string& line = lines[i].line;
            recorded = recorded || (line.size() > 7 && line.compare(line.size() - 7, 7, ".Record") == 0);
        }
        target_.scene->onEvaluate = nullptr;
        userCall_ = recording_ = false;
        PostNewMacroLines();
        const char* file = m ? CacheFileOf(m) : nullptr;
        // as `vomark record` says after Ctrl-C: the recorder read Escape and kept what it had
        if (m && vm::Record().escapePresses > escapes) {
            stoppedLine_ = StoppedRecordingLine(file ? file : "");
        } else if (m && recorded) {
            // a recording that ended says what it wrote, as `vomark record` does, or why it wrote nothing
            std::string why = file && *file ? WhyUnplayable(file) : "no cache file is named";
            if (ok && why.empty())
                stoppedLine_ = RecordingSummary(m);
            else
                stoppedLine_ = "recording failed: " + (why.empty() ? StatusText() : why);
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

// Says what it did: pressed only for a user's call (an evaluation the page asked for never polls
// the key), and whether that call is a recording, which reads it after its frame.
Response Api::Escape() {
    bool running = userCall_;
    if (running) interaction_.PressEscape();
    return Json({{"pressed", running}, {"recording", running && recording_}});
}

} // namespace app::view
