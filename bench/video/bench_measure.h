// Clocks and process counters shared by the video benchmarks' runs. Plain functions, called
// from any thread; every figure is for the whole process.
#pragma once

#include <chrono>
#include <ctime>

#include <sys/resource.h>

namespace taviro::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

inline double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// CPU time of the whole process: on a shared machine the cost per frame is steadier than
// the wall-clock rate.
inline double ProcessCpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Page faults and context switches the process has taken so far. The heap handing memory
// back to the kernel and faulting it in again shows in the first; threads that wait on each
// other, rather than run until the scheduler takes their core, in the second.
struct ProcessCounters {
    long faults = 0;
    long waits = 0;        // context switches of threads that waited
    long preemptions = 0;  // context switches of threads the scheduler took the core from

    static ProcessCounters Now() {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return {usage.ru_minflt, usage.ru_nvcsw, usage.ru_nivcsw};
    }
    ProcessCounters operator-(const ProcessCounters& o) const {
        return {faults - o.faults, waits - o.waits, preemptions - o.preemptions};
    }
};

}  // namespace taviro::bench
