#include "platform/heap_tuning.h"

#include <algorithm>
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

}  // namespace

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
