#include "sim/live_service.h"

#include <utility>

#include "protocol/hello.h"
#include "protocol/recorder_time.h"

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/connection.h"

namespace taviro::sim {

namespace msg = protocol::msg;

namespace {

// A sender that fell this far behind skips ahead instead of bursting old frames.
constexpr std::uint64_t kMaxLagFrames = 15;

}  // namespace

CLiveService::CLiveService(const SimConfig& config, std::shared_ptr<const CCameraLoops> camera)
    : m_channels(config.channels),
      m_available(config.live_available),
      m_videoLoss(config.video_loss),
      m_liveReason(config.live_reason),
      m_stopReason(config.live_stop_reason),
      m_audioChannels(config.audio_channels),
      m_audioAtStart(config.audio_on_at_start),
      m_audio(config.audio_amplitude) {
    if (!config.live_stream) {
        return;
    }
    LiveStreamOptions options;
    const int productType = protocol::ProductTypeFor(config.product_number);
    options.productType = productType == 5 ? 5 : 3;
    options.width = config.live_width;
    options.height = config.live_height;
    options.frameRate = config.live_fps;
    options.gopLength = config.live_gop;
    options.pocStep = config.live_poc_step;
    options.dependentStartChannels = config.live_dependent_start;
    options.fragmentSize = config.live_fragment_size;
    options.startTime = static_cast<protocol::RecorderTime>(
        protocol::LocalWallClockNow(protocol::ProcessZoneOffset()));
    options.titles = config.titles;
    options.cameraChannels = config.camera_channels;
    options.camera = std::move(camera);
    m_builder = CLiveStreamBuilder::Create(options);
}

void CLiveService::StartStream(std::uint32_t previousMask) {
    if (!m_builder) {
        return;
    }
    if (!m_pacer) {
        m_pacer.emplace(CStreamPacer::Clock::now(),
                        static_cast<std::uint32_t>(m_builder->Options().frameRate));
        m_nextFrame = 0;
    }
    // Channels that join start again as a recorder's encoder would for a new viewer.
    for (int c = 0; c < 16; ++c) {
        const std::uint32_t bit = 1u << c;
        if ((m_mask & bit) != 0 && (previousMask & bit) == 0) {
            m_builder->RestartChannel(c);
        }
    }
}

void CLiveService::Poll(CSimConnection& connection) {
    PollAudio(connection);
    if (!m_liveOn || !m_builder || !m_pacer || m_mask == 0) {
        return;
    }
    const std::uint64_t due = m_pacer->DueCount(CStreamPacer::Clock::now());
    if (due > m_nextFrame + kMaxLagFrames) {
        m_nextFrame = due - 1;
    }
    // Channels without a picture or without camera signal send nothing.
    const std::uint32_t info = ChannelInfoWord();
    const std::uint32_t streaming = m_mask & (info & 0xFFFFu) & ~(info >> 16);
    for (; m_nextFrame < due; ++m_nextFrame) {
        for (int c = 0; c < 16; ++c) {
            if ((streaming & (1u << c)) == 0) {
                continue;
            }
            const auto element =
                m_builder->VideoElement(c, static_cast<std::uint32_t>(m_nextFrame));
            if (!element) {
                continue;
            }
            for (const auto& fragment : m_builder->Fragments(*element, m_audioOn)) {
                if (!connection.SendPrebuilt(fragment.header, fragment.wire)) {
                    return;
                }
            }
            ++m_framesSent;
        }
    }
}

bool CLiveService::Handles(std::uint16_t code) const {
    return code == msg::LIVE_REQ || code == msg::LIVE_STOP || code == msg::AUDIO_ONOFF_REQ;
}

// --- live audio ---

void CLiveService::SetAudio(CSimConnection& connection, bool on) {
    if (on && !m_audioOn) {
        // A new audio stream: its blocks are paced from now and its encoders start afresh.
        m_audioPacer.emplace(CStreamPacer::Clock::now(), kLiveAudioBlocksPerSecond);
        m_nextAudio = 0;
        m_audio.Reset();
    }
    m_audioOn = on;
    connection.SetAudioOn(on);
}

void CLiveService::PollAudio(CSimConnection& connection) {
    if (!m_audioOn || !m_liveOn || !m_builder || !m_audioPacer) {
        return;
    }
    const std::uint32_t info = ChannelInfoWord();
    const auto mask = static_cast<protocol::ChannelMask>(m_audioChannels & m_mask & info & 0xFFFFu);
    if (mask == 0) {
        return;
    }
    const std::uint64_t due = m_audioPacer->DueCount(CStreamPacer::Clock::now());
    // Audio that fell far behind is skipped, not burst: a second's worth at most.
    if (due > m_nextAudio + kLiveAudioBlocksPerSecond) {
        m_nextAudio = due - 1;
    }
    for (; m_nextAudio < due; ++m_nextAudio) {
        auto element = m_builder->AudioElement(mask, static_cast<std::uint32_t>(m_nextAudio));
        if (!element) {
            return;
        }
        m_audio.Blocks(mask, m_nextAudio, std::span(element->bytes).subspan(kLiveAudioHeaderSize));
        for (const auto& fragment : m_builder->Fragments(*element, true)) {
            if (!connection.SendPrebuilt(fragment.header, fragment.wire)) {
                return;
            }
        }
        ++m_audioSent;
    }
}

// --- end live audio ---

std::uint32_t CLiveService::ChannelInfoWord() const {
    const std::uint32_t channelBits = m_channels >= 16 ? 0xFFFFu : ((1u << m_channels) - 1u);
    const std::uint32_t available = m_available.value_or(0xFFFF) & channelBits;
    return available | ((m_videoLoss & channelBits) << 16);
}

void CLiveService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                             std::span<const std::uint8_t> payload) {
    std::uint8_t word[4];
    if (header.Command() == msg::AUDIO_ONOFF_REQ) {
        SetAudio(connection, header.AudioOn());  // the recorder does not answer
        return;
    }
    if (header.Command() == msg::LIVE_STOP) {
        if (m_stopReason) {
            protocol::StoreBE32(word, static_cast<std::uint32_t>(*m_stopReason));
            connection.Send(msg::LIVE_STOP_NACK, word);
            return;
        }
        m_liveOn = false;
        m_mask = 0;
        connection.Send(msg::LIVE_STOP_ACK, {});
        return;
    }
    // LIVE_REQ: a 4-byte channel mask; any other size is journaled (by the connection) and
    // otherwise ignored, as the recorder cannot tell which channels were meant.
    if (payload.size() != 4) {
        return;
    }
    if (m_liveReason) {
        protocol::StoreBE32(word, static_cast<std::uint32_t>(*m_liveReason));
        connection.Send(msg::LIVE_NACK, word);
        return;
    }
    const std::uint32_t channelBits = m_channels >= 32 ? 0xFFFFFFFFu : ((1u << m_channels) - 1u);
    const std::uint32_t previous = m_liveOn ? m_mask : 0;
    m_mask = protocol::LoadBE32(payload.data()) & channelBits & 0xFFFFu;
    m_liveOn = true;
    StartStream(previous);
    if (m_audioAtStart && !m_audioOn) {
        SetAudio(connection, true);
    }
    // Every request (re)opens the stream with the channel information.
    protocol::StoreBE32(word, ChannelInfoWord());
    connection.Send(msg::LIVE_CHANNEL_INFO, word);
}

}  // namespace taviro::sim
