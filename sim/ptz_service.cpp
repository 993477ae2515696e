#include "sim/ptz_service.h"

#include <array>

#include "protocol/catalogue.h"
#include "sim/connection.h"

namespace taviro::sim {

namespace msg = protocol::msg;

namespace {

constexpr std::array<const char*, 18> kMoveNames = {
    "pan right",  "pan left",        "pan up",     "pan down",    "zoom up",    "zoom down",
    "zoom right", "zoom left",       "preset-set", "preset-call", "learn-set",  "learn-end",
    "learn-call", "dome-menu-enter", "menu-enter", "menu-escape", "menu-leave", "tour",
};

bool HasNumber(std::uint8_t code) {
    return (code >= 8 && code <= 12) || code == 17;
}

}  // namespace

std::string DescribePtzMove(std::span<const std::uint8_t> payload) {
    if (payload.size() < 4) {
        return "bad move (" + std::to_string(payload.size()) + " bytes)";
    }
    const std::uint8_t code = payload[0];
    const int number = payload[1] | (payload[3] << 8);
    std::string text = code < kMoveNames.size() ? kMoveNames[code] : "code " + std::to_string(code);
    if (HasNumber(code)) {
        text += " " + std::to_string(number);
    }
    return text;
}

bool CPtzService::Handles(std::uint16_t code) const {
    return code == msg::PTZ_CHANNEL_REQ || code == msg::PTZ_MOVE_REQ || code == msg::PTZ_MOVE_STOP;
}

void CPtzService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                            std::span<const std::uint8_t> payload) {
    const std::string prefix = m_channel < 0 ? "ch? " : "ch" + std::to_string(m_channel) + " ";
    switch (header.Command()) {
        case msg::PTZ_CHANNEL_REQ: {
            // A request without its channel byte asks about no camera: not steerable.
            const int channel = payload.empty() ? -1 : payload[0];
            m_channel = channel;
            const bool steerable =
                channel >= 0 && channel < m_channels && ((m_steerable >> channel) & 1u) != 0;
            const std::array<std::uint8_t, 4> ack{static_cast<std::uint8_t>(steerable ? 1 : 0), 0,
                                                  0, 0};
            connection.Journal().Event(
                "ptz", "ch" + std::to_string(channel) + (steerable ? " steerable" : " fixed"));
            connection.Send(msg::PTZ_CHANNEL_ACK, ack);
            break;
        }
        case msg::PTZ_MOVE_REQ:
            connection.Journal().Event("ptz", prefix + DescribePtzMove(payload));
            break;
        case msg::PTZ_MOVE_STOP:
            connection.Journal().Event("ptz", prefix + "stop");
            break;
        default:
            break;
    }
}

}  // namespace taviro::sim
