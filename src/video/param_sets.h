// The parameter sets the decoder adapter writes in front of the first key frame of every
// stream. The recorders send bare slices with no sequence or picture parameter set, so the
// client makes both up from the picture size in the encoder header: Baseline profile, level
// 3.0, 9-bit frame numbers, picture order count type 0 with 10-bit lsb, one reference frame.
// The bytes must stay exactly as below: the recorders' slice headers are written against them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace taviro::video {

// The thread's parameter-set buffer holds at most this many bytes.
inline constexpr std::size_t kParamSetBufferSize = 31;

// Writes start code + SPS + start code + PPS for a picture of width x height pixels into
// `out` and returns the byte count: 11 to 15 bytes of sequence set (15 for the largest size
// an encoder header can state, 4,080 x 4,080), then always the same 8 bytes of picture set.
// Width and height count whole macroblocks; a remainder below 16 is ignored. Returns 0 and
// writes nothing when either side is below 16 pixels, since no macroblock count describes it.
std::size_t WriteParameterSets(std::uint32_t width, std::uint32_t height,
                               std::span<std::uint8_t, kParamSetBufferSize> out);

}  // namespace taviro::video
