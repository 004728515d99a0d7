#include "runtime/platform.h"

#include <dlfcn.h>
#include <signal.h>

#include <cstdio>

namespace vm::platform {
namespace {
void (*g_handler)() = nullptr;
void OnSignal(int) {
    if (g_handler) g_handler();
}
} // namespace

void* OpenLibrary(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        error = why ? why : "unknown error";
    }
    return handle;
}

void* LibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseLibrary(void* library) { dlclose(library); }

bool SystemCallsDllMain() { return false; }

void OnInterrupt(void (*handler)()) {
    g_handler = handler;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART; // a write the signal interrupts resumes instead of failing its stream
    sigaction(SIGINT, &sa, nullptr);
}

bool AskTerminal(const std::string& prompt, std::string& line) {
    std::FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) return false;
    std::fputs(prompt.c_str(), tty);
    std::fflush(tty);
    char buf[4096];
    line = std::fgets(buf, sizeof buf, tty) ? buf : "";
    std::fclose(tty);
    return true;
}

char PathListSeparator() { return ':'; }


} // namespace vm::platform
