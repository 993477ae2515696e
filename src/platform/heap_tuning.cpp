#include "platform/heap_tuning.h"

#include <cstdlib>  // defines __GLIBC__ on glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace taviro::platform {

void TuneHeapForVideo() {
#if defined(__GLIBC__)
    // Setting either also stops glibc from adapting the other by itself, so both are set:
    // the mapping threshold alone would leave the trim threshold at 128 KiB.
    static_cast<void>(mallopt(M_MMAP_THRESHOLD, 2 << 20));
    static_cast<void>(mallopt(M_TRIM_THRESHOLD, 2 << 20));
#endif
}

}  // namespace taviro::platform
