// Plug-in loading and the interaction provider for one run of vomark.
#include "scene/session.h"

#include <unistd.h>

#include <iostream>
#include <stdexcept>

#include "console/executable.h"
#include "console/stop.h"

namespace app {

void QueueAnswer(vm::ScriptedInteraction& provider, const std::string& answer) {
    size_t eq = answer.find('=');
    if (eq == std::string::npos) throw std::invalid_argument("--answer " + answer + ": expected KIND=VALUE");
    std::string kind = answer.substr(0, eq), value = answer.substr(eq + 1);
    if (kind == "open" || kind == "save") {
        (kind == "open" ? provider.openAnswers : provider.saveAnswers)
            .push_back(value == "cancel" ? "" : value);
    } else if (kind == "yesno") {
        if (value != "yes" && value != "no")
            throw std::invalid_argument("--answer " + answer + ": yesno takes yes or no");
        provider.boxAnswers.push_back(value == "yes" ? IDYES : IDNO);
    } else {
        throw std::invalid_argument("--answer " + answer + ": kind must be open, save or yesno");
    }
}

Session::Session(const CommonOptions& options, const std::string& argv0) {
    // plug-ins are found beside the executable's real location, however it was started
    std::string exePath = console::ExecutablePath(argv0);
    vm::Record().echo = [](const std::string& line) { std::cerr << line << "\n"; };
    // Ctrl-C and SIGTERM are the command's stop requests; the host hears them as Escape pressed,
    // which stops a recording, and eval and scripts ask between steps
    vm::TakeInterrupt();
    console::StopOnSignals([] { vm::Interrupt(); });
    bool scripted = !options.answers.empty() || options.escapeAtPoll > 0 || !isatty(STDIN_FILENO);
    if (scripted) {
        for (const auto& a : options.answers)
            QueueAnswer(scripted_, a);
        scripted_.escapeAtPoll = options.escapeAtPoll;
        vm::SetInteraction(&scripted_);
    } else {
        terminal_ = std::make_unique<vm::TerminalInteraction>();
        vm::SetInteraction(terminal_.get());
    }
    auto warn = [](const std::string& m) { std::cerr << "vomark: " << m << "\n"; };
    folders_ = vm::PluginFolders(options.plugins, exePath);
    loader_.LoadFolders(folders_, warn);
}

std::vector<std::string> Session::UnusedAnswers() const {
    std::vector<std::string> unused;
    for (const auto& a : scripted_.openAnswers)
        unused.push_back("open=" + (a.empty() ? std::string("cancel") : a));
    for (const auto& a : scripted_.saveAnswers)
        unused.push_back("save=" + (a.empty() ? std::string("cancel") : a));
    for (int a : scripted_.boxAnswers)
        unused.push_back(std::string("yesno=") + (a == IDYES ? "yes" : "no"));
    return unused;
}

Session::~Session() {
    loader_.UnloadAll();
    vm::SetInteraction(nullptr);
    vm::Record().echo = nullptr;
}

} // namespace app
