// The calls that write, counted and failed on request for the tests that fail each in turn.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sel/files.h"

namespace sel {

// files_posix.cpp and files_windows.cpp: a variable of the process's own environment, which every
// module of the process sees (on Windows each DLL's C runtime keeps a copy of its own)
std::string ProcessVariable(const char* name);
void SetProcessVariable(const char* name, const std::string& value);

namespace {

constexpr const char* kNames[] = {"create", "write", "flush", "sync", "rename"};
// how each call fails on a real machine: a folder that refuses a new file, a full disk, a disk that
// cannot take the bytes, a target another program holds
constexpr int kErrors[] = {EACCES, ENOSPC, ENOSPC, EIO, EBUSY};

struct Plan {
    bool active = false;
    std::string log;
    int failKind = -1;
    long failAt = 0;
};

Plan& ThePlan() {
    static Plan* plan = [] {
        auto* p = new Plan; // never destroyed: calls may come from static destructors
        const char* log = std::getenv("SEL_FAULT_LOG");
        const char* fault = std::getenv("SEL_FAULT");
        if (log && *log) p->log = log;
        if (fault && *fault) {
            std::string f = fault;
            size_t colon = f.find(':');
            for (int k = 0; k < 5 && colon != std::string::npos; ++k)
                if (f.compare(0, colon, kNames[k]) == 0) p->failKind = k;
            if (colon != std::string::npos) p->failAt = std::strtol(f.c_str() + colon + 1, nullptr, 10);
        }
        p->active = !p->log.empty() || p->failKind >= 0;
        return p;
    }();
    return *plan;
}

} // namespace

bool CallAllowed(WriteCall call) {
    Plan& plan = ThePlan();
    if (!plan.active) return true;
    int k = static_cast<int>(call);
    // counted in the process's environment: the host, the plug-in and the command each link a copy
    // of this file, and the Nth call is the Nth of the process, whichever module makes it
    std::string variable = std::string("SEL_FAULT_SEEN_") + kNames[k];
    long n = std::strtol(ProcessVariable(variable.c_str()).c_str(), nullptr, 10) + 1;
    SetProcessVariable(variable.c_str(), std::to_string(n));
    if (!plan.log.empty())
        if (FILE* f = std::fopen(plan.log.c_str(), "a")) {
            std::fprintf(f, "%s\n", kNames[k]);
            std::fclose(f);
        }
    if (k == plan.failKind && n == plan.failAt) {
        errno = kErrors[k];
        return false;
    }
    return true;
}

bool WriteBytes(FILE* f, const void* data, size_t n) {
    if (!CallAllowed(WriteCall::Write)) return false;
    if (n == 0) return true;
    errno = 0;
    if (std::fwrite(data, 1, n, f) == n) return true;
    if (errno == 0) errno = EIO;
    return false;
}

} // namespace sel
