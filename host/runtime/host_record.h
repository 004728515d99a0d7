// What the host received from plug-ins, kept so that tests and the command line can look at it:
// notifications, redraws, assertion reports, log entries, message boxes, file prompts and
// macro-recorder lines.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "vomark/sdk.h"

namespace vm {

struct NotificationRecord {
    ReferenceTarget* sender;
    Interval interval;
    ULONG part;
    int message;
    SClass_ID sclass;
    BOOL propagate;
};
struct RedrawRecord {
    TimeValue t;
    DWORD flags;
};
struct AssertRecord {
    int line;
    std::string file;
};
struct LogRecord {
    DWORD type;
    BOOL dialog;
    std::string title, text;
};
struct MessageBoxRecord {
    HWND owner;
    std::string text, caption;
    UINT type;
    int answer;
};
struct FilePromptRecord {
    bool save;
    HWND owner;
    std::string title, filter, initialDir, defaultExt, initialFile;
    std::string folder; // the folder the dialog showed, in which a bare name is taken
    DWORD flags, structSize, maxFile;
    BOOL result;
    std::string path; // what the dialog handed back ("" when it returned 0)
};
struct MacroRecord {
    std::string line;
    int positional, keywords;
};

struct HostRecord {
    std::vector<NotificationRecord> notifications;
    std::vector<RedrawRecord> redraws;
    std::vector<AssertRecord> asserts;
    std::vector<LogRecord> log;
    std::vector<MessageBoxRecord> messageBoxes;
    std::vector<FilePromptRecord> filePrompts;
    std::vector<MacroRecord> macroLines;
    int commonControlsInits = 0;
    int customControlsInits = 0;
    // Polls of the Escape key answered "pressed since the last poll" (0x8001): how a caller learns
    // that a recording was stopped by the user rather than run to its end.
    int escapePresses = 0;
    // Called with one readable line for each message box, log entry and assertion report.
    std::function<void(const std::string&)> echo;

    void Clear();
    void Echo(const std::string& line) const {
        if (echo) echo(line);
    }
};

HostRecord& Record();

} // namespace vm
