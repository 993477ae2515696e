// CDecodeThread: one per watched channel. Takes QueuedFrame entries from the channel's
// queue, puts the adapter's own parameter sets in front of key frames (dependent frames go
// to the decoder straight from the queued block), feeds the H.264 decoder, records what the
// pane's labels tell (mode, title, size) and counts, and hands the picture to the channel
// view under its lock. The painter makes the label texts from those facts (pane_texts.h).
// The picture is passed by reference, never copied: the renderers double the lines of
// interlaced pictures (unless the channel is deinterlaced) as they draw.
//
// Threads: the owner (the user interface thread, or whoever starts a stream) constructs,
// starts, flushes and stops it; the loop runs on the thread it starts. The queue is shared
// with the receive thread (the producer); the views with the painter.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/h264_decoder.h"
#include "platform/message_sink.h"
#include "stream/consumer_slots.h"
#include "video/channel_views.h"
#include "video/param_sets.h"

namespace taviro::video {

// What the loop asks of the rest of the client; called on the decoder thread, so
// implementations must be thread-safe.
class IDecodeEnvironment {
  public:
    virtual ~IDecodeEnvironment() = default;
    // Live view runs and the channel is in the video-loss set or covert for this user.
    virtual bool LiveDropsChannel(int channel) = 0;
    // The recorder's camera title of the channel (live view).
    virtual std::string LiveTitle(int channel) = 0;
    // The current playback time (remote or local playback), seconds since 1970.
    virtual std::int64_t PlaybackTime(ViewMode mode) = 0;
    // The channel's "Deinterlace" setting: lines are doubled only while it is off.
    virtual bool Deinterlace(int channel) = 0;
    // Remote playback's frames carry a pace ticket (stream::IPlayPacing): the picture of
    // such a frame is shown only when this says so, at its moment; `stop` is the thread's
    // own stop flag, which ends any wait.
    virtual bool BeforeShow(std::uint16_t ticket, const stream::FrameInfo& frame,
                            const std::atomic<bool>& stop) {
        (void)ticket, (void)frame, (void)stop;
        return true;
    }
    // Every entry with a pace ticket, once handled (shown or not).
    virtual void Handled(std::uint16_t ticket) { (void)ticket; }
};

// Written by the decoder thread only, read from any thread. The statistics counters are
// relaxed: readers want totals, not an order between them.
struct DecodeStats {
    std::atomic<std::uint64_t> taken{0};  // entries taken and handled
    std::atomic<std::uint64_t> decoded{0};
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<std::uint64_t> shown{0};        // pictures handed to the view for display
    std::atomic<std::uint64_t> decodeCalls{0};  // frames given to the decoder
    std::atomic<std::uint64_t> decodeNanos{0};  // steady-clock time spent in the decoder
    std::atomic<std::uint64_t> idleCloses{0};   // decoders closed after a quiet spell in live view
};

class CDecodeThread {
  public:
    // `decoders` opens the thread's decoder (on the thread, at its start and after a reset)
    // in `format`, kH264FormatYuv420 or kH264FormatRgb24; `sink` receives the message box
    // of a failed decoder start (may be null). `stats` (null: the thread's own) is where the
    // loop counts; the owner keeps it alive past Stop().
    CDecodeThread(int channel, std::shared_ptr<stream::CVideoQueue> queue, CChannelViews& views,
                  IDecodeEnvironment& environment, platform::H264DecoderFactory decoders,
                  std::uint32_t format, platform::IMessageSink* sink = nullptr,
                  DecodeStats* stats = nullptr);
    ~CDecodeThread();
    CDecodeThread(const CDecodeThread&) = delete;
    CDecodeThread& operator=(const CDecodeThread&) = delete;

    void Start();
    // How long a live channel may get no frame before its decoder is closed (before Start).
    void SetLiveIdleClose(std::chrono::milliseconds idle) { m_liveIdle = idle; }
    // Sets the stop flag, wakes the loop and waits for it.
    void Stop();
    // While set, entries are taken and freed unprocessed.
    void SetFlush(bool flush) { m_queue->SetFlush(flush); }

    [[nodiscard]] int Channel() const { return m_channel; }
    [[nodiscard]] const DecodeStats& Stats() const { return *m_pStats; }
    [[nodiscard]] bool Running() const { return m_running.load(); }

  private:
    void Thread_Decode();
    void ProcessEntry(stream::CVideoQueue::Taken taken);
    void CloseIdleDecoder();
    // Calls the decoder with the result rules; true with `picture` set when there is one.
    // `padded`: kH264InputPadding zero bytes follow the input.
    bool Decode(std::span<const std::uint8_t> input, bool padded, platform::PictureRef& picture);
    void ShowPicture(const stream::FrameInfo& info, int width, int height,
                     platform::PictureRef picture, bool doubleLines);

    const int m_channel;
    std::shared_ptr<stream::CVideoQueue> m_queue;
    CChannelViews& m_views;
    IDecodeEnvironment& m_environment;
    const platform::H264DecoderFactory m_decoders;
    const std::uint32_t m_format;
    platform::IMessageSink* m_sink;
    std::chrono::milliseconds m_liveIdle{10'000};

    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_running{false};
    std::thread m_thread;
    DecodeStats m_ownStats;
    DecodeStats* const m_pStats;

    // Loop state (decoder thread only).
    std::unique_ptr<platform::IH264Decoder> m_decoder;  // null while none could be opened
    bool m_decoderOpened = false;                       // opened (or tried) with the first frame
    std::vector<std::uint8_t> m_keyFrame;               // parameter sets and a key frame, joined
    std::array<std::uint8_t, kParamSetBufferSize> m_paramSets{};
    bool m_bSkip = true;
    bool m_bParamsSent = false;
    std::int64_t m_lastGeneration = 0;
    int m_lastWidth = 352;
    int m_lastHeight = 240;
};

}  // namespace taviro::video
