#include "platform/heap_tuning.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>  // defines __GLIBC__ on glibc
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace taviro::platform {

namespace {

// Two heaps per core; `cores` is 0 when the machine does not say.
int HeapArenaLimit(unsigned cores) {
    return static_cast<int>(std::clamp(cores, 1U, 64U)) * 2;
}

std::atomic<std::int64_t> g_lastReturnMs{-1'000'000};
std::atomic<bool> g_returnAsked{false};

}  // namespace

void ReturnFreeHeap() {
    g_returnAsked.store(true);
    ReturnFreeHeapIfAsked();
}

void ReturnFreeHeapIfAsked() {
    if (!g_returnAsked.load())
        return;
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    std::int64_t last = g_lastReturnMs.load();
    if (now - last < 1000 || !g_lastReturnMs.compare_exchange_strong(last, now))
        return;
    // Frees after this point ask again; those before it are covered by this walk.
    g_returnAsked.store(false);
#if defined(__GLIBC__)
    static_cast<void>(malloc_trim(0));
#endif
}

void TuneHeapForVideo() {
#if defined(__GLIBC__)
    // Setting either also stops glibc from adapting the other by itself, so both are set:
    // the mapping threshold alone would leave the trim threshold at 128 KiB.
    static_cast<void>(mallopt(M_MMAP_THRESHOLD, 2 << 20));
    static_cast<void>(mallopt(M_TRIM_THRESHOLD, 2 << 20));
    static_cast<void>(mallopt(M_ARENA_MAX, HeapArenaLimit(std::thread::hardware_concurrency())));
#endif
}

}  // namespace taviro::platform
