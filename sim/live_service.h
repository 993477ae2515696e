// Live view on the recorder's side: every LIVE_REQ takes the client's channel selection
// and answers LIVE_CHANNEL_INFO (channels with a picture, channels without camera signal),
// or LIVE_NACK with the configured reason; LIVE_STOP is acknowledged or refused. While live
// view is on it streams LIVE_DATA for exactly the requested channels at the configured frame
// rate (when the configuration asks for a stream).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "sim/live_audio.h"
#include "sim/live_stream.h"
#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

class CLiveService final : public ISimService {
  public:
    // `camera`: the loops of the configured camera channels (null: the test pattern only).
    explicit CLiveService(const SimConfig& config,
                          std::shared_ptr<const CCameraLoops> camera = nullptr);

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;
    // Sends the frames that are due for the requested channels.
    void Poll(CSimConnection& connection) override;
    // Frames sent so far (all channels).
    [[nodiscard]] std::uint64_t FramesSent() const { return m_framesSent; }

    // The channels the client asked for last (bit n = channel n); 0 while live is off.
    [[nodiscard]] std::uint32_t RequestedMask() const { return m_mask; }
    [[nodiscard]] bool LiveOn() const { return m_liveOn; }
    // The LIVE_CHANNEL_INFO word: bits 0..15 available, bits 16..31 video loss.
    [[nodiscard]] std::uint32_t ChannelInfoWord() const;

  private:
    std::uint8_t m_channels;
    std::optional<std::uint16_t> m_available;
    std::uint16_t m_videoLoss;
    std::optional<std::int32_t> m_liveReason;
    std::optional<std::int32_t> m_stopReason;
    std::uint32_t m_mask = 0;
    bool m_liveOn = false;

    // The stream: one builder for the connection, paced from the first live request.
    void StartStream(std::uint32_t previousMask);
    std::optional<CLiveStreamBuilder> m_builder;
    std::optional<CStreamPacer> m_pacer;
    std::uint64_t m_nextFrame = 0;
    std::uint64_t m_framesSent = 0;

    // --- live audio ---
  public:
    // Whether this client asked for audio (the audioOn bit of its last AUDIO_ONOFF_REQ).
    [[nodiscard]] bool AudioOn() const { return m_audioOn; }
    [[nodiscard]] std::uint64_t AudioElementsSent() const { return m_audioSent; }

  private:
    void SetAudio(CSimConnection& connection, bool on);
    void PollAudio(CSimConnection& connection);
    std::uint16_t m_audioChannels = 0;
    bool m_audioOn = false;
    bool m_audioAtStart = false;
    CLiveAudioSource m_audio;
    std::optional<CStreamPacer> m_audioPacer;
    std::uint64_t m_nextAudio = 0;
    std::uint64_t m_audioSent = 0;
    // --- end live audio ---
};

}  // namespace taviro::sim
