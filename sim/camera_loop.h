// Camera-like live video for the simulated recorder: each channel's scene (camera_scene.h)
// encoded once by libx264 (x264_encoder.h) and rewritten for the client's parameter sets
// (h264_slice_rewriter.h) into a loop of access units that the live stream plays over and
// over. The loop is a whole number of groups of pictures, each starting with an IDR
// picture (frame_num and the order count start again there), and the scene repeats with
// the same period, so the last picture leads into the first without a jump.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace taviro::sim {

// A key frame every 2 seconds at 25 pictures per second: two groups in the 4-second loop,
// so the IDR pictures' idr_pic_id (which x264 alternates) also repeats seamlessly.
inline constexpr int kCameraGopLength = 50;

struct CameraLoopFrame {
    std::vector<std::uint8_t> bytes;  // one access unit: slice NAL units, Annex B
    bool keyFrame = false;
};

struct CameraLoop {
    int channel = 0;
    int width = 0;
    int height = 0;
    int gopLength = kCameraGopLength;
    std::vector<CameraLoopFrame> frames;  // frames[0] is an IDR picture

    [[nodiscard]] std::size_t TotalBytes() const;
};

// Encodes channel `channel`'s loop at `width` x `height` (whole macroblocks). Gives up
// between pictures when *stop becomes true. nullopt and a reason in *error on failure.
// Any thread; takes about 3 ms a picture at 704 x 480.
[[nodiscard]] std::optional<CameraLoop> EncodeCameraLoop(int channel, int width, int height,
                                                         const std::atomic<bool>* stop = nullptr,
                                                         std::string* error = nullptr);

// The loops of a set of channels at one size, encoded by worker threads in the background
// so that starting the simulator and serving clients never waits for them; until a
// channel's loop is ready the live stream sends its test pattern instead.
//
// Threads: the constructor starts the workers; Loop(), Done(), WaitUntilDone(), Error()
// and EncodeTime() may be called from any thread; the destructor stops and joins the
// workers (after the picture each is encoding). A loop, once handed out, is immutable and
// shared by whoever holds it.
class CCameraLoops {
  public:
    CCameraLoops(int width, int height, std::uint16_t channels, int workers = 2);
    ~CCameraLoops();
    CCameraLoops(const CCameraLoops&) = delete;
    CCameraLoops& operator=(const CCameraLoops&) = delete;

    [[nodiscard]] int Width() const { return m_width; }
    [[nodiscard]] int Height() const { return m_height; }
    // The channel's loop, or null while it is being encoded, when it failed, or when the
    // channel is not one of this set.
    [[nodiscard]] std::shared_ptr<const CameraLoop> Loop(int channel) const;
    // True when every channel's loop is finished (or failed).
    [[nodiscard]] bool Done() const;
    bool WaitUntilDone(std::chrono::milliseconds timeout) const;
    // The first failure, empty when none.
    [[nodiscard]] std::string Error() const;
    // Wall time from construction until the last loop was finished; zero before.
    [[nodiscard]] std::chrono::milliseconds EncodeTime() const;

  private:
    void Work();

    const int m_width;
    const int m_height;
    const std::chrono::steady_clock::time_point m_start;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_nextChannel{0};  // the next channel a worker takes up
    std::uint16_t m_channels;

    mutable std::mutex m_lock;  // guards everything below
    mutable std::condition_variable m_changed;
    std::array<std::shared_ptr<const CameraLoop>, 16> m_loops;
    int m_pending = 0;  // channels not finished yet
    std::string m_error;
    std::chrono::milliseconds m_encodeTime{0};

    std::vector<std::thread> m_workers;  // last: joined before the state above goes
};

}  // namespace taviro::sim
