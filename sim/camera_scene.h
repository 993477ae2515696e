// The picture a simulated security camera shows: a textured, shaded view of a wall and a
// paved yard under a gradient sky, with things moving through it at different speeds and
// depths, a running clock in the bottom-right corner (the client draws its pane titles
// top-left, so the clock stays out of their way) and a little sensor noise. Each channel
// has its own colours, speeds and starting places, so sixteen panes never look alike.
//
// Everything that changes repeats after kCameraSceneFrames frames, so an encoded loop of
// that length (or of any multiple) plays on without a visible jump. The picture depends on
// nothing but the arguments: the same call gives the same picture on any machine and thread.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/h264_picture.h"

namespace taviro::sim {

// Pictures per second the scene's clock and motion are laid out for.
inline constexpr int kCameraSceneRate = 25;
// The scene's period: 4 seconds at 25 pictures per second.
inline constexpr std::uint32_t kCameraSceneFrames = 100;

// One channel's scene at one size. The still parts (sky, wall, paving) are drawn once by
// the constructor; Frame() copies them and draws what moves, the clock and the noise, so a
// whole loop costs little more than the copies. Immutable after construction: Frame() may
// run on several threads at once.
class CCameraScene {
  public:
    // See MakeCameraScene for the arguments; a size it refuses makes every Frame() empty.
    CCameraScene(int channel, int width, int height);

    [[nodiscard]] YuvPicture Frame(std::uint32_t frame) const;

  private:
    void DrawMovers(YuvPicture& p, std::uint32_t frame) const;
    void DrawClock(YuvPicture& p, std::uint32_t frame) const;
    void AddNoise(YuvPicture& p, std::uint32_t frame) const;

    int m_channel;
    YuvPicture m_background;  // empty when the size was refused
};

// Frame `frame` (taken modulo kCameraSceneFrames) of channel `channel`'s scene (any value;
// taken modulo 16). Width and height must be even and at least 16; anything else gives an
// empty picture (width and height 0). Luma stays within 16..235 and chroma within 16..240.
// Thread-safe: no shared state.
[[nodiscard]] YuvPicture MakeCameraScene(int channel, std::uint32_t frame, int width, int height);

}  // namespace taviro::sim
