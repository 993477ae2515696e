// Tone checks for the sound tests: the strength of one frequency (Goertzel), the strongest of
// a set of candidate frequencies, the signal's RMS, and gaps (runs of near-silence) in a
// stream that should be continuous.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace taviro::testing {

// Power of `frequency` in the samples, normalised by their count (Goertzel).
inline double TonePower(std::span<const std::int16_t> samples, double frequency,
                        double sampleRate) {
    if (samples.empty())
        return 0;
    const double k = 2.0 * std::cos(2.0 * M_PI * frequency / sampleRate);
    double s1 = 0, s2 = 0;
    for (const std::int16_t x : samples) {
        const double s0 = static_cast<double>(x) + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
    const auto n = static_cast<double>(samples.size());
    return power / (n * n);
}

// The candidate with the most power.
inline double StrongestOf(std::span<const std::int16_t> samples, std::span<const double> candidates,
                          double sampleRate) {
    double best = 0, bestPower = -1;
    for (const double f : candidates) {
        const double p = TonePower(samples, f, sampleRate);
        if (p > bestPower) {
            bestPower = p;
            best = f;
        }
    }
    return best;
}

inline double Rms(std::span<const std::int16_t> samples) {
    if (samples.empty())
        return 0;
    double sum = 0;
    for (const std::int16_t x : samples)
        sum += static_cast<double>(x) * static_cast<double>(x);
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

// The longest run of samples whose magnitude stays below `threshold`.
inline std::size_t LongestQuietRun(std::span<const std::int16_t> samples, int threshold) {
    std::size_t longest = 0, run = 0;
    for (const std::int16_t x : samples) {
        run = (std::abs(static_cast<int>(x)) < threshold) ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

}  // namespace taviro::testing
