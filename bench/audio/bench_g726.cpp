// Costs of the sound path: one 48-byte audio block (128 samples, 16 ms of sound) through
// the G.726 decoder and 128 samples through the encoder, state carried from block to block.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "audio/g726.h"

namespace {

namespace audio = taviro::audio;

constexpr std::size_t kBlockBytes = 48;
constexpr std::size_t kBlockSamples = kBlockBytes / audio::kBytesPerGroup * audio::kCodesPerGroup;

// A two-tone signal, so the predictor and scale factor keep moving.
std::array<std::int16_t, kBlockSamples * 16> Signal() {
    std::array<std::int16_t, kBlockSamples * 16> out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / 8000.0;
        out[i] = static_cast<std::int16_t>(
            std::lround(9000 * std::sin(2 * std::numbers::pi * 440 * t) +
                        5000 * std::sin(2 * std::numbers::pi * 1700 * t)));
    }
    return out;
}

void BM_DecodeBlock(benchmark::State& state) {
    const auto signal = Signal();
    std::array<std::uint8_t, kBlockBytes * 16> packed{};
    audio::CG726Encoder encoder;
    encoder.Encode(signal, packed);
    audio::CG726Decoder decoder;
    std::array<std::int16_t, kBlockSamples> out{};
    std::size_t block = 0;
    for (auto _ : state) {
        decoder.Decode(std::span(packed).subspan(block * kBlockBytes, kBlockBytes), out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        block = (block + 1) % 16;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kBlockBytes));
}
BENCHMARK(BM_DecodeBlock);

void BM_EncodeBlock(benchmark::State& state) {
    const auto signal = Signal();
    audio::CG726Encoder encoder;
    std::array<std::uint8_t, kBlockBytes> out{};
    std::size_t block = 0;
    for (auto _ : state) {
        encoder.Encode(std::span(signal).subspan(block * kBlockSamples, kBlockSamples), out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        block = (block + 1) % 16;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kBlockSamples));
}
BENCHMARK(BM_EncodeBlock);

}  // namespace
