// The calls that write, counted and failed on request for the tests that fail each in turn.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <string>

#include "sel/files.h"

namespace sel {
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
    std::atomic<long> seen[5] = {}; // atomics, not a lock: a lock pulls a thread library into the host's DLL
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
    long n = ++plan.seen[k];
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
