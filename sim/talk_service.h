// Two-way audio on the recorder's side: A_LISTEN_REQ is accepted with A_LISTEN_ACK, or
// refused with A_LISTEN_NACK and the configured reason; A_LISTEN_STOP_REQ is answered with
// A_LISTEN_STOP_ACK. While talk is on, every A_LISTEN_DATA is decoded with the project's
// G.726 decoder and, when a file is configured, appended to a WAV file in the format the
// client captured (16-bit, 2 channels, 8,000 frames per second), so tests can listen to
// what the client sent. The file is completed when talk stops or the client goes; a new
// talk session writes it anew.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "audio/g726.h"
#include "platform/wav_file.h"
#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

class CTalkService final : public ISimService {
  public:
    explicit CTalkService(const SimConfig& config);
    ~CTalkService() override;
    CTalkService(const CTalkService&) = delete;
    CTalkService& operator=(const CTalkService&) = delete;

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;

    [[nodiscard]] bool TalkOn() const { return m_bTalkOn; }
    // Samples decoded from the client's audio so far (both channels).
    [[nodiscard]] std::uint64_t SamplesDecoded() const { return m_nSamples; }

  private:
    void Decode(CSimConnection& connection, std::span<const std::uint8_t> payload);

    std::optional<std::int32_t> m_reason;
    std::string m_wavPath;
    bool m_bTalkOn = false;
    audio::CG726Decoder m_decoder;
    std::unique_ptr<platform::CWavSoundOut> m_wav;
    std::uint64_t m_nSamples = 0;
};

}  // namespace taviro::sim
