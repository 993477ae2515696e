// The H.264 decoder on FFmpeg's libavcodec (and libswscale for RGB): the client's real
// backend of IH264Decoder. Sequence parameter sets without VUI reach libavcodec with the
// no-reorder VUI of sps_rewriter.h, so no picture is ever held back.
//
// Threads: as h264_decoder.h says; the factory and the count may be used on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/h264_decoder.h"

namespace taviro::platform {

// Opens an FFmpeg decoder for `format`; null with `error` (when given) set to one of the
// kH264Init results when that fails.
std::unique_ptr<IH264Decoder> OpenFfmpegH264Decoder(std::uint32_t format, int* error = nullptr);

// OpenFfmpegH264Decoder as a factory.
H264DecoderFactory FfmpegH264Decoders();

// Number of FFmpeg decoders open right now in this process (for leak checks).
std::size_t H264OpenInstanceCount();

}  // namespace taviro::platform
