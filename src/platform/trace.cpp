#include "platform/trace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace taviro::platform {

namespace {

std::atomic<int>& TraceState() {
    // -1: not decided yet; decided from the environment on first use.
    static std::atomic<int> state{-1};
    return state;
}

std::mutex& TraceLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace

void SetTraceEnabled(bool on) {
    TraceState().store(on ? 1 : 0);
}

bool TraceEnabled() {
    int s = TraceState().load();
    if (s < 0) {
        const char* env = std::getenv("TAVIRO_TRACE");
        s = (env != nullptr && *env != '\0' && std::strcmp(env, "0") != 0) ? 1 : 0;
        TraceState().store(s);
    }
    return s == 1;
}

void Trace(const char* format, ...) {
    if (!TraceEnabled()) {
        return;
    }
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard lock(TraceLock());
    std::fputs(line, stderr);
    const std::size_t n = std::strlen(line);
    if (n == 0 || line[n - 1] != '\n') {
        std::fputc('\n', stderr);
    }
}

}  // namespace taviro::platform
