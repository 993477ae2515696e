// The video side of one connection's live view: one decoder thread per channel on the
// stream layer's consumer slots, filling the channel views. The stream state and slots are
// the connection's; the receive side (reassembly into the slots) and the audio output are
// beside this pipeline, not in it.
//
// Threads and ownership: the owner (the connection, or taviro-cli) creates it and calls
// StartDecoders / StopDecoders / ChangeFormat from one thread at a time (its worker);
// decoder threads call the IDecodeEnvironment side. The views, the stream state and the
// slots are the owner's and outlive the pipeline, and so must whatever the title source
// reads: the decoders ask it for titles until StopDecoders (or the destructor) returns.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/h264_decoder_ffmpeg.h"
#include "platform/message_sink.h"
#include "stream/consumer_slots.h"
#include "stream/stream_state.h"
#include "video/channel_decoders.h"
#include "video/channel_views.h"
#include "video/decode_thread.h"

namespace taviro::video {

class CLivePipeline final : public IDecodeEnvironment {
  public:
    // The camera title of a channel for the pane's first line (decoder threads).
    using TitleSource = std::function<std::string(int channel)>;

    // `format` is the picture format the renderer draws (YUV 4:2:0 or 24-bit RGB);
    // `decoders` makes the channels' H.264 decoders.
    CLivePipeline(CChannelViews& views, stream::CStreamState& state,
                  stream::CConsumerSlots& consumerSlots, std::uint32_t format,
                  platform::IMessageSink* sink, TitleSource titles,
                  platform::H264DecoderFactory decoders = platform::FfmpegH264Decoders());
    ~CLivePipeline() override;
    CLivePipeline(const CLivePipeline&) = delete;
    CLivePipeline& operator=(const CLivePipeline&) = delete;

    // Starts a decoder on every channel of the mask that has none (live view starting).
    void StartDecoders(protocol::ChannelMask channels = protocol::kAllChannels);
    // Drains (for at most `drainLimit` in all) and stops every decoder; live view is off.
    void StopDecoders(std::chrono::milliseconds drainLimit = std::chrono::seconds(2));
    // The renderer changed: every decoder is stopped and the running ones start again in
    // the new format (each waits for its next key frame). False when the format was the
    // decoders' already: nothing was restarted.
    bool ChangeFormat(std::uint32_t format);

    // The "Deinterlace" settings of the 16 channels (local settings; any thread).
    void SetDeinterlace(int channel, bool on);

    // IDecodeEnvironment: decoder threads.
    bool LiveDropsChannel(int channel) override { return m_state.DropLiveFrame(channel); }
    std::string LiveTitle(int channel) override { return m_titles ? m_titles(channel) : ""; }
    std::int64_t PlaybackTime(ViewMode) override { return 0; }
    bool Deinterlace(int channel) override;
    bool BeforeShow(std::uint16_t ticket, const stream::FrameInfo& frame,
                    const std::atomic<bool>& stop) override {
        stream::IPlayPacing* pacing = m_state.PlayPacing();
        return pacing == nullptr || pacing->BeforeShow(ticket, frame, stop);
    }
    void Handled(std::uint16_t ticket) override {
        if (stream::IPlayPacing* pacing = m_state.PlayPacing())
            pacing->Handled(ticket);
    }

    [[nodiscard]] std::uint32_t Format() const { return m_decoders.Format(); }
    CChannelDecoders& Decoders() { return m_decoders; }
    CChannelViews& Views() { return m_views; }

  private:
    CChannelViews& m_views;
    stream::CStreamState& m_state;
    TitleSource m_titles;
    std::array<std::atomic<bool>, protocol::kMaxChannels> m_deinterlace{};
    CChannelDecoders m_decoders;
};

}  // namespace taviro::video
