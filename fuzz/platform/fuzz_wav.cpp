// The WAV reader from arbitrary bytes: it never reads outside the input, and whatever it
// accepts is whole frames of a format it supports, which written back reads the same.
#include <cstddef>
#include <cstdint>
#include <span>

#include "../fuzz_check.h"
#include "platform/wav_file.h"

namespace platform = taviro::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const platform::WavData wav = platform::ParseWav(std::span(data, size));
    if (!wav.Ok()) {
        TAVIRO_FUZZ_CHECK(wav.samples.empty());
        return 0;
    }
    TAVIRO_FUZZ_CHECK(wav.format.Valid());
    TAVIRO_FUZZ_CHECK(wav.samples.size() * 2 <= size);
    TAVIRO_FUZZ_CHECK(wav.samples.size() % static_cast<std::size_t>(wav.format.channels) == 0);
    const auto again = platform::ParseWav(platform::MakeWavFile(wav.format, wav.samples));
    TAVIRO_FUZZ_CHECK(again.Ok());
    TAVIRO_FUZZ_CHECK(again.samples == wav.samples);
    TAVIRO_FUZZ_CHECK(again.format.channels == wav.format.channels);
    TAVIRO_FUZZ_CHECK(again.format.framesPerSecond == wav.format.framesPerSecond);
    return 0;
}
