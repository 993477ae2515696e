// What the archive benchmarks share: "--name N" options with N a whole number within
// bounds, and the median of their runs.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

namespace taviro::bench {

// `text` as a whole number within [low, high]; nothing for anything else.
inline std::optional<long> Number(const char* text, long low, long high) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// The value after option `i`, consumed (i moves past it); nothing when it is missing or
// not a number within the bounds.
inline std::optional<long> TakeNumber(int argc, char** argv, int& i, long low, long high) {
    if (i + 1 >= argc) {
        return std::nullopt;
    }
    ++i;
    return Number(argv[i], low, high);
}

// The median of the runs' figures (0 for none).
inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0.0 : (n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

}  // namespace taviro::bench
