// The resident memory of this process, for the whole-client benchmarks.
//
// Thread: any.
#pragma once

#include <unistd.h>

#include <fstream>

namespace taviro::bench {

// Resident set size in MiB, from /proc/self/statm (0 when it cannot be read).
inline double ResidentMb() {
    std::ifstream statm("/proc/self/statm");
    long long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

}  // namespace taviro::bench
