#include "sim/talk_service.h"

#include <vector>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/connection.h"

namespace taviro::sim {

namespace msg = protocol::msg;

CTalkService::CTalkService(const SimConfig& config)
    : m_reason(config.talk_reason), m_wavPath(config.talk_wav) {}

CTalkService::~CTalkService() {
    if (m_wav) {
        m_wav->Stop();  // fixes the header's sizes
    }
}

bool CTalkService::Handles(std::uint16_t code) const {
    return code == msg::A_LISTEN_REQ || code == msg::A_LISTEN_DATA ||
           code == msg::A_LISTEN_STOP_REQ;
}

void CTalkService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                             std::span<const std::uint8_t> payload) {
    switch (header.Command()) {
        case msg::A_LISTEN_REQ: {
            if (m_reason) {
                std::uint8_t reason[4];
                protocol::StoreBE32(reason, static_cast<std::uint32_t>(*m_reason));
                connection.Send(msg::A_LISTEN_NACK, reason);
                return;
            }
            if (!m_bTalkOn) {
                // Each talk session is a fresh stream for the decoder.
                m_decoder.Reset();
            }
            m_bTalkOn = true;
            connection.Send(msg::A_LISTEN_ACK, {});
            return;
        }
        case msg::A_LISTEN_STOP_REQ:
            m_bTalkOn = false;
            if (m_wav) {
                // The file is complete once talk ends; a later talk session starts it anew.
                m_wav->Stop();
                m_wav.reset();
            }
            connection.Send(msg::A_LISTEN_STOP_ACK, {});
            return;
        case msg::A_LISTEN_DATA:
            // Audio outside a talk session is journaled (as every message is) and dropped.
            if (m_bTalkOn) {
                Decode(connection, payload);
            }
            return;
        default:
            return;
    }
}

void CTalkService::Decode(CSimConnection& connection, std::span<const std::uint8_t> payload) {
    // Whole three-byte groups only; a ragged tail from a broken client is dropped.
    const std::size_t groups = payload.size() / audio::kBytesPerGroup;
    if (groups == 0) {
        return;
    }
    std::vector<std::int16_t> samples(groups * audio::kCodesPerGroup);
    m_decoder.Decode(payload.first(groups * audio::kBytesPerGroup), samples);
    m_nSamples += samples.size();
    if (m_wavPath.empty()) {
        return;
    }
    if (!m_wav) {
        m_wav = std::make_unique<platform::CWavSoundOut>(m_wavPath);
        platform::SoundFormat format;  // as the client captured: 16-bit, 2 channels, 8,000/s
        if (!m_wav->Open(format, 0)) {
            connection.Journal().Event("talk-wav", "cannot write " + m_wavPath);
            m_wavPath.clear();
            m_wav.reset();
            return;
        }
    }
    std::vector<std::uint8_t> pcm(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto v = static_cast<std::uint16_t>(samples[i]);
        pcm[2 * i] = static_cast<std::uint8_t>(v & 0xFFu);
        pcm[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    m_wav->Write(pcm);
}

}  // namespace taviro::sim
