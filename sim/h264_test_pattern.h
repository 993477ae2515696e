// The picture a simulated camera shows: the channel number in big digits ("CH" and the
// 1-based number, as the client labels channels), a six-digit frame counter that runs like
// a clock, and a bar that moves along the bottom band. Everything else stays the same from
// frame to frame, so a dependent frame only codes the counter digits that changed and the
// bar's old and new place. The picture depends on nothing but the arguments.
#pragma once

#include <cstdint>

#include "sim/h264_picture.h"

namespace taviro::sim {

// Width and height must be even and at least 16; anything else gives an empty picture
// (width and height 0). Luma stays within 16..235 and chroma within 16..240.
[[nodiscard]] YuvPicture MakeH264TestPattern(int channel, std::uint32_t frame, int width,
                                             int height);

}  // namespace taviro::sim
