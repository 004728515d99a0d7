// The interaction provider of `vomark view`: the plug-in's message boxes and file dialogs become
// dialogs in the page, and the page's Escape becomes the Escape key at the next poll.
#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "events.h"
#include "runtime/interaction.h"

namespace app::view {

class WebInteraction : public vm::InteractionProvider {
  public:
    explicit WebInteraction(EventLog& events) : events_(events) {}

    // Asked on the host thread; each waits until the page answers or the provider closes
    // (a close answers Cancel, No or OK).
    int AskMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
    bool AskFile(bool save, const OPENFILENAMEA& record, std::string& path) override;
    SHORT KeyState(int key) override;

    // A dialog with no folder of its own shows `folder` (else the working folder); a name
    // answered without a folder is taken in the folder shown, as on the command line.
    void SetFolder(const std::string& folder) { folder_ = folder; }
    std::string DefaultFolder() const override { return folder_; }

    // The dialog waiting for its answer, or null.
    nlohmann::json Pending();
    // Answers dialog `id`: {"answer": "ok|cancel|yes|no"} for a message box, {"path": P} or
    // {"answer": "cancel"} for a file dialog. False when `id` is not the open dialog or the answer
    // does not fit it; `why` then says why.
    bool Answer(int64_t id, const nlohmann::json& answer, std::string& why);
    // The Escape key, pressed once: the next poll reads 0x8001.
    void PressEscape() { escape_ = true; }
    void ForgetEscape() { escape_ = false; }
    // Answers what waits and every later question with a cancel; Escape stays pressed.
    void Close();

  private:
    // Shows `dialog` and waits; the answer, or null after a close.
    nlohmann::json Ask(nlohmann::json dialog);

    EventLog& events_;
    std::mutex mutex_;
    std::condition_variable answered_;
    std::optional<nlohmann::json> pending_, answer_;
    int64_t nextId_ = 0;
    bool closed_ = false;
    std::atomic<bool> escape_{false};
    std::string folder_; // set before serving
};

} // namespace app::view
