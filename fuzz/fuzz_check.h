// A check for fuzz targets: a broken invariant prints what failed and aborts, which
// libFuzzer reports as a crash and keeps the input for.
#pragma once

#include <cstdio>
#include <cstdlib>

#define TAVIRO_FUZZ_CHECK(condition)                                                           \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (false)
