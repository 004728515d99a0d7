// The host's calls that differ between platforms, each behind one function here:
// platform_posix.cpp and platform_windows.cpp implement them; the build takes the one of its platform.
// (Files themselves go through sel/files.h, shared with the tools.)
#pragma once
#include <string>

namespace vm::platform {

// A plug-in module by UTF-8 name; nullptr and the loader's reason in `error` when it cannot be loaded.
void* OpenLibrary(const std::string& path, std::string& error);
void* LibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);
// Whether OpenLibrary and CloseLibrary run the library's DllMain themselves. Windows does, with the
// library's own handle as the instance, and again whenever a thread starts or ends; the host then
// leaves attach and detach to the system, so that a module sees each once.
bool SystemCallsDllMain();

// Ctrl-C calls `handler` instead of ending the process. It may run in a signal handler or on another
// thread, so it may only set a flag or end the process.
void OnInterrupt(void (*handler)());

// One line typed at the user's terminal after `prompt`; false when there is no terminal.
bool AskTerminal(const std::string& prompt, std::string& line);

// What separates the folders in a list of them (VOMARK_PLUGINS): ':' here, ';' where paths hold drive
// letters.
char PathListSeparator();


} // namespace vm::platform
