#include "sim/camera_loop.h"

#include <algorithm>
#include <bit>

#include "sim/camera_scene.h"
#include "sim/h264_slice_rewriter.h"
#include "sim/x264_encoder.h"

namespace taviro::sim {

std::size_t CameraLoop::TotalBytes() const {
    std::size_t total = 0;
    for (const auto& f : frames) {
        total += f.bytes.size();
    }
    return total;
}

std::optional<CameraLoop> EncodeCameraLoop(int channel, int width, int height,
                                           const std::atomic<bool>* stop, std::string* error) {
    const auto fail = [error](const std::string& why) -> std::optional<CameraLoop> {
        if (error != nullptr) {
            *error = why;
        }
        return std::nullopt;
    };
    static_assert(kCameraSceneFrames % (2 * kCameraGopLength) == 0,
                  "the loop must hold an even number of whole groups of pictures");
    std::string why;
    X264EncoderOptions options;
    options.width = width;
    options.height = height;
    options.frameRate = kCameraSceneRate;
    options.gopLength = kCameraGopLength;
    auto encoder = CX264Encoder::Create(options, &why);
    if (!encoder) {
        return fail(why);
    }
    CH264SliceRewriter rewriter(width, height);
    const CCameraScene scene(channel, width, height);
    CameraLoop loop;
    loop.channel = channel;
    loop.width = width;
    loop.height = height;
    loop.frames.reserve(kCameraSceneFrames);
    bool headersGiven = false;
    for (std::uint32_t i = 0; i < kCameraSceneFrames; ++i) {
        if (stop != nullptr && stop->load()) {
            return fail("stopped");
        }
        auto encoded = encoder->Encode(scene.Frame(i));
        if (!encoded) {
            return fail("libx264 failed on picture " + std::to_string(i));
        }
        // x264's parameter sets go in front of its first picture only; the rewriter keeps
        // them for the rest.
        std::vector<std::uint8_t> unit;
        if (!headersGiven) {
            unit = encoder->Headers();
            headersGiven = true;
        }
        unit.insert(unit.end(), encoded->bytes.begin(), encoded->bytes.end());
        auto rewritten = rewriter.Rewrite(unit, &why);
        if (!rewritten) {
            return fail("picture " + std::to_string(i) + ": " + why);
        }
        const bool wantKey = i % kCameraGopLength == 0;
        if (rewritten->idr != wantKey || encoded->keyFrame != wantKey) {
            return fail("libx264 put a key frame out of place at picture " + std::to_string(i));
        }
        loop.frames.push_back({std::move(rewritten->bytes), wantKey});
    }
    return loop;
}

CCameraLoops::CCameraLoops(int width, int height, std::uint16_t channels, int workers)
    : m_width(width),
      m_height(height),
      m_start(std::chrono::steady_clock::now()),
      m_channels(channels),
      m_pending(std::popcount(channels)) {
    if (m_pending == 0) {
        return;
    }
    const int count = std::clamp(workers, 1, m_pending);
    m_workers.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        m_workers.emplace_back([this] { Work(); });
    }
}

CCameraLoops::~CCameraLoops() {
    m_stop.store(true);
    for (auto& worker : m_workers) {
        worker.join();
    }
}

void CCameraLoops::Work() {
    for (;;) {
        // Channels are taken in ascending order, so the first panes get their video first.
        int channel = m_nextChannel.fetch_add(1);
        while (channel < 16 && ((m_channels >> channel) & 1u) == 0) {
            channel = m_nextChannel.fetch_add(1);
        }
        if (channel >= 16 || m_stop.load()) {
            return;
        }
        std::string why;
        auto loop = EncodeCameraLoop(channel, m_width, m_height, &m_stop, &why);
        std::lock_guard lock(m_lock);
        if (loop) {
            m_loops[static_cast<std::size_t>(channel)] =
                std::make_shared<const CameraLoop>(std::move(*loop));
        } else if (m_error.empty()) {
            m_error = "channel " + std::to_string(channel + 1) + ": " + why;
        }
        if (--m_pending == 0) {
            m_encodeTime = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - m_start);
        }
        m_changed.notify_all();
    }
}

std::shared_ptr<const CameraLoop> CCameraLoops::Loop(int channel) const {
    if (channel < 0 || channel >= 16) {
        return nullptr;
    }
    std::lock_guard lock(m_lock);
    return m_loops[static_cast<std::size_t>(channel)];
}

bool CCameraLoops::Done() const {
    std::lock_guard lock(m_lock);
    return m_pending == 0;
}

bool CCameraLoops::WaitUntilDone(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [this] { return m_pending == 0; });
}

std::string CCameraLoops::Error() const {
    std::lock_guard lock(m_lock);
    return m_error;
}

std::chrono::milliseconds CCameraLoops::EncodeTime() const {
    std::lock_guard lock(m_lock);
    return m_encodeTime;
}

}  // namespace taviro::sim
