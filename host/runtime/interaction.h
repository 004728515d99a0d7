// The provider behind message boxes, the two file dialogs and the asynchronous key state:
// scripted (queued answers, for tests and batch runs) or a terminal.
#pragma once
#include <deque>
#include <string>

#include "vomark/sdk.h"

namespace vm {

class InteractionProvider {
  public:
    virtual ~InteractionProvider() = default;
    virtual int AskMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) = 0;
    // False for a cancel; else `path` is the name the user gave.
    virtual bool AskFile(bool save, const OPENFILENAMEA& record, std::string& path) = 0;
    virtual SHORT KeyState(int key) = 0;
    // The folder a dialog with no folder of its own shows; "" for the working folder.
    virtual std::string DefaultFolder() const { return ""; }
};

class ScriptedInteraction : public InteractionProvider {
  public:
    // A file answer of "" cancels. Unanswered questions: OK for MB_OK, else No or Cancel.
    std::deque<std::string> openAnswers, saveAnswers;
    std::deque<int> boxAnswers;
    // Poll number (1-based) of VK_ESCAPE that answers 0x8001; 0 for never.
    int escapeAtPoll = 0;
    int escapePolls = 0;

    int AskMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
    bool AskFile(bool save, const OPENFILENAMEA& record, std::string& path) override;
    SHORT KeyState(int key) override;
};

// Asks on the controlling terminal.
class TerminalInteraction : public InteractionProvider {
  public:
    int AskMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) override;
    bool AskFile(bool save, const OPENFILENAMEA& record, std::string& path) override;
    SHORT KeyState(int key) override;
};

// From now on Ctrl-C reads as Escape pressed (0x8001) at the next Escape poll, whichever provider
// answers; a second Ctrl-C before that poll ends the process.
void TreatInterruptAsEscape();
// A stop request from outside the host (the command's own signal handling): the next Escape poll
// reads Escape pressed, as after a Ctrl-C. Only sets a flag, so a signal handler may call it.
void Interrupt();
// True once for a Ctrl-C that no Escape poll has read yet (it is then spent), so that work which
// polls no Escape key can stop between steps.
bool TakeInterrupt();

// The folder a file dialog shows: that of the path it starts with, else its initial folder, else
// the provider's default folder, else the working folder (the first of them that exists); always a
// full path. A name given without a
// folder is taken in it, and the dialog hands back the full path.
std::string DialogFolder(const OPENFILENAMEA& record);

InteractionProvider& Interaction();
// The provider used from now on (not owned); null restores the default scripted one.
void SetInteraction(InteractionProvider* provider);
ScriptedInteraction& DefaultScriptedInteraction();

} // namespace vm
