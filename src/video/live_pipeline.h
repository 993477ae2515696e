// The live pipeline of one session, between the session's receive thread and the channel
// views: stream reassembly and channel queues, then one decoder thread per channel. The
// desktop client's main window and the command-line client hold one each.
//
// Threads and ownership: the owner (main window / command) creates it, attaches it to a
// session before connecting and destroys it after the session. The receive thread calls the
// IStreamReceiver side; the session's live stop (owner's thread) the ILiveConsumers side;
// decoder threads the IDecodeEnvironment side. The channel views are the owner's and outlive
// the pipeline.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio_selection.h"
#include "audio/audio_thread.h"
#include "platform/sound_device.h"
#include "protocol/live_consumers.h"
#include "protocol/session.h"
#include "protocol/stream_receiver.h"
#include "stream/consumer_slots.h"
#include "stream/stream_frames.h"
#include "stream/stream_state.h"
#include "video/channel_decoders.h"
#include "video/channel_views.h"
#include "video/decode_thread.h"

namespace taviro::video {

class CLivePipeline final : public protocol::IStreamReceiver,
                            public protocol::ILiveConsumers,
                            public IDecodeEnvironment {
  public:
    // `format` is the picture format the renderer draws (YUV 4:2:0 or 24-bit RGB).
    CLivePipeline(CChannelViews& views, std::uint32_t format, platform::IMessageSink* sink);
    ~CLivePipeline() override;
    CLivePipeline(const CLivePipeline&) = delete;
    CLivePipeline& operator=(const CLivePipeline&) = delete;

    // Owner's thread, before the session connects: the session feeds this pipeline.
    void Attach(protocol::CRecorderSession& session);
    // Owner's thread, once the session's threads have ended and before the session is
    // destroyed: nothing is read from it afterwards. The destructor does not detach.
    void Detach();
    // Starts a decoder on every channel of the mask that has none (live view starting).
    void StartDecoders(protocol::ChannelMask channels = protocol::kAllChannels);
    // Drains and stops every decoder now (also done by the session's live stop).
    void StopDecoders(std::chrono::milliseconds drainLimit = std::chrono::seconds(2));

    // Owner's thread, live view starting: stops any running audio output, clears the heard
    // channel and the audio mask, then, when `device` is given, starts the audio thread in
    // slot 16 with chunks of 4 x audioBuf + 32 blocks written to `device` (which must stay
    // alive until StopAudio or the pipeline's end). No device: no audio thread.
    void StartAudio(int audioBuf, platform::ISoundOut* device);
    // Owner's thread: stops the audio thread now and empties slot 16.
    void StopAudio();
    // The heard channel ("SelAudio", channel buttons, icons, the re-checks).
    audio::CAudioSelection& AudioSelection() { return m_audioSelection; }
    // The running audio thread (mute for playback speeds, counters), or null.
    audio::CAudioThread* AudioThread() { return m_audio.get(); }

    // The "Deinterlace" settings of the 16 channels (local settings).
    void SetDeinterlace(int channel, bool on);

    // IStreamReceiver: the session's receive thread.
    void OnStreamPiece(std::uint16_t command, const protocol::PacketHeader& header,
                       std::span<const std::uint8_t> piece) override;
    void OnChannelInfo(std::span<const std::uint8_t> payload) override;

    // ILiveConsumers: the session's live stop.
    void SetFrozen(bool frozen) override { m_state.SetLiveFrozen(frozen); }
    void DrainAndStopAudio() override;
    void DrainAndStopDecoders() override;

    // IDecodeEnvironment: decoder threads.
    bool LiveDropsChannel(int channel) override { return m_state.DropLiveFrame(channel); }
    std::string LiveTitle(int channel) override;
    std::int64_t PlaybackTime(ViewMode) override { return 0; }
    bool Deinterlace(int channel) override;

    [[nodiscard]] std::uint32_t Format() const { return m_decoders.Format(); }
    // The renderer changed: every decoder is stopped and the running ones start again in
    // the new format (each waits for its next key frame).
    void ChangeFormat(std::uint32_t format);
    CChannelDecoders& Decoders() { return m_decoders; }
    CChannelViews& Views() { return m_views; }
    stream::CStreamState& State() { return m_state; }
    stream::CConsumerSlots& Slots() { return m_slots; }

  private:
    CChannelViews& m_views;
    stream::CStreamState m_state;
    stream::CConsumerSlots m_slots;
    stream::CStreamFrames m_frames;
    CChannelDecoders m_decoders;
    std::atomic<protocol::CRecorderSession*> m_session{nullptr};
    std::array<std::atomic<bool>, protocol::kMaxChannels> m_deinterlace{};
    audio::CAudioSelection m_audioSelection{m_state};
    std::unique_ptr<audio::CAudioThread> m_audio;  // owner's thread only
};

}  // namespace taviro::video
