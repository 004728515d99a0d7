#include "web_interaction.h"

#include <cstring>

namespace app::view {
namespace {
const char* Buttons(UINT type) {
    switch (type & 0x0f) {
    case MB_OKCANCEL: return "okcancel";
    case MB_YESNOCANCEL: return "yesnocancel";
    case MB_YESNO: return "yesno";
    default: return "ok";
    }
}

const char* Icon(UINT type) {
    switch (type & 0xf0) {
    case MB_ICONERROR: return "error";
    case MB_ICONQUESTION: return "question";
    case MB_ICONWARNING: return "warning";
    case MB_ICONINFORMATION: return "information";
    default: return "";
    }
}

// The answer a closed dialog gets: the button that changes least.
int CancelAnswer(UINT type) {
    switch (type & 0x0f) {
    case MB_YESNO: return IDNO;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL: return IDCANCEL;
    default: return IDOK;
    }
}

// The button names each kind of box offers, with their results.
int ButtonResult(const std::string& buttons, const std::string& answer) {
    struct Choice {
        const char* name;
        int id;
    };
    static const Choice choices[] = {{"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO}};
    for (const Choice& c : choices)
        if (answer == c.name && buttons.find(c.name) != std::string::npos) return c.id;
    return 0;
}

std::string Text(const char* s) { return s ? s : ""; }
} // namespace

nlohmann::json WebInteraction::Ask(nlohmann::json dialog) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (closed_) return nullptr;
    dialog["id"] = ++nextId_;
    pending_ = dialog;
    answer_.reset();
    events_.Post({{"type", "dialog"}, {"dialog", dialog}});
    answered_.wait(lock, [this] { return closed_ || answer_.has_value(); });
    nlohmann::json answer = answer_ ? *answer_ : nlohmann::json(nullptr);
    pending_.reset();
    answer_.reset();
    events_.Post({{"type", "dialogClosed"}, {"id", dialog["id"]}});
    return answer;
}

int WebInteraction::AskMessageBox(HWND, const std::string& text, const std::string& caption, UINT type) {
    nlohmann::json a = Ask({{"kind", "message"},
                            {"text", text},
                            {"caption", caption.empty() ? "Vomark" : caption},
                            {"buttons", Buttons(type)},
                            {"icon", Icon(type)}});
    if (a.is_null()) return CancelAnswer(type);
    return ButtonResult(Buttons(type), a.value("answer", ""));
}

bool WebInteraction::AskFile(bool save, const OPENFILENAMEA& r, std::string& path) {
    nlohmann::json filters = nlohmann::json::array();
    if (r.lpstrFilter) // pairs of display text and pattern, double-NUL-terminated
        for (const char* p = r.lpstrFilter; *p;) {
            const char* pattern = p + std::strlen(p) + 1;
            filters.push_back({{"name", p}, {"pattern", pattern}});
            if (!*pattern) break;
            p = pattern + std::strlen(pattern) + 1;
        }
    std::string initial = r.lpstrFile ? std::string(r.lpstrFile, strnlen(r.lpstrFile, r.nMaxFile)) : "";
    nlohmann::json a = Ask({{"kind", save ? "save" : "open"},
                            {"title", Text(r.lpstrTitle)},
                            {"filters", filters},
                            // the folder the host takes a bare name in, so the page shows that one
                            {"initialDir", vm::DialogFolder(r)},
                            {"initialFile", initial},
                            {"defaultExt", Text(r.lpstrDefExt)}});
    if (!a.is_object() || !a.contains("path")) return false;
    path = a["path"].get<std::string>(); // the host takes a bare name in the folder shown
    return !path.empty();
}

SHORT WebInteraction::KeyState(int key) {
    if (key == VK_ESCAPE && escape_.exchange(false)) return static_cast<SHORT>(0x8001);
    return 0;
}

nlohmann::json WebInteraction::Pending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_ ? *pending_ : nlohmann::json(nullptr);
}

bool WebInteraction::Answer(int64_t id, const nlohmann::json& answer, std::string& why) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pending_ || (*pending_)["id"].get<int64_t>() != id || answer_) {
            why = "dialog " + std::to_string(id) + " is not open";
            return false;
        }
        const nlohmann::json& d = *pending_;
        bool isFile = d["kind"] != "message";
        if (answer.contains("path")) {
            if (!isFile || !answer["path"].is_string()) {
                why = "\"path\" must be text and answers only a file dialog";
                return false;
            }
        } else {
            const nlohmann::json& a = answer.contains("answer") ? answer["answer"] : nlohmann::json();
            std::string buttons = isFile ? "cancel" : d["buttons"].get<std::string>();
            if (!a.is_string() || !ButtonResult(buttons, a.get<std::string>())) {
                why = "\"answer\" must be one of the dialog's buttons: " + buttons;
                return false;
            }
        }
        answer_ = answer;
    }
    answered_.notify_all();
    return true;
}

void WebInteraction::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    escape_ = true;
    answered_.notify_all();
}

} // namespace app::view
