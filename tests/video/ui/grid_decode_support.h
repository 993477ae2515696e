// A real decoder thread for the grid tests: a YUV picture encoded by the simulator's
// encoder and decoded by the decoder library into a channel view, in either output format.
// Kept in its own file because the decoder's headers and the layouts' headers cannot meet
// in one translation unit.
#pragma once

#include <cstdint>

#include "sim/h264_picture.h"
#include "video/channel_views.h"

namespace taviro::video::ui::testing {

// True once the picture was decoded and handed to the view (the listener was called).
// `deinterlace` false: a 480- or 576-line picture is shown line-doubled.
bool DecodeIntoView(CChannelViews& views, int channel, std::uint32_t format,
                    const sim::YuvPicture& picture, bool deinterlace = true);

}  // namespace taviro::video::ui::testing
