// The G.726 decoder on arbitrary bytes and the encoder on arbitrary samples: outputs stay in
// range, the block calls equal the per-code calls, and the encoder's codes decode in step.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "../fuzz_check.h"
#include "audio/g726.h"

namespace audio = taviro::audio;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);

    // The bytes as packed codes; a trailing part of a group is not decoded.
    const std::size_t groups = size / audio::kBytesPerGroup;
    std::vector<std::int16_t> samples(groups * audio::kCodesPerGroup);
    audio::CG726Decoder decoder;
    decoder.Decode(bytes, samples);
    std::vector<std::uint8_t> codes(samples.size());
    audio::UnpackCodes(bytes, codes);
    audio::CG726Decoder single;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        TAVIRO_FUZZ_CHECK(codes[i] < 8);
        TAVIRO_FUZZ_CHECK(single.DecodeCode(codes[i]) == samples[i]);
        TAVIRO_FUZZ_CHECK(samples[i] % 4 == 0);
    }
    std::vector<std::uint8_t> repacked(groups * audio::kBytesPerGroup);
    audio::PackCodes(codes, repacked);
    TAVIRO_FUZZ_CHECK(std::equal(repacked.begin(), repacked.end(), bytes.begin()));

    // The bytes as little-endian 16-bit samples, whole groups of eight.
    const std::size_t count = size / 2 / audio::kCodesPerGroup * audio::kCodesPerGroup;
    std::vector<std::int16_t> input(count);
    for (std::size_t i = 0; i < count; ++i) {
        input[i] = static_cast<std::int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    std::vector<std::uint8_t> packed(count / audio::kCodesPerGroup * audio::kBytesPerGroup);
    audio::CG726Encoder encoder;
    encoder.Encode(input, packed);
    std::vector<std::uint8_t> encoded(count);
    audio::UnpackCodes(packed, encoded);
    audio::CG726Encoder perSample;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t code = perSample.EncodeSample(input[i]);
        TAVIRO_FUZZ_CHECK(code >= 1 && code <= 7);
        TAVIRO_FUZZ_CHECK(code == encoded[i]);
    }
    std::vector<std::int16_t> decoded(count);
    audio::CG726Decoder remote;
    remote.Decode(packed, decoded);
    for (const std::int16_t s : decoded) {
        TAVIRO_FUZZ_CHECK(s % 4 == 0);
    }
    return 0;
}
