#include "sim/fault_script.h"

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/connection.h"
#include "sim/login_service.h"

namespace taviro::sim {

namespace msg = protocol::msg;

std::vector<std::uint8_t> PatternBytes(std::size_t length) {
    std::vector<std::uint8_t> out(length);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<std::uint8_t>(i);
    }
    return out;
}

CFaultScript::CFaultScript(const SimConfig& config) : m_config(config) {}

void CFaultScript::Poll(CSimConnection& connection) {
    if (m_config.close_after_messages &&
        connection.ReceivedMessages() >= *m_config.close_after_messages) {
        connection.CloseNow("close-after-messages");
        return;
    }
    if (!connection.LoggedIn() || connection.Closing()) {
        return;
    }
    const auto sinceLogin = CSimConnection::Clock::now() - connection.LoginTime();
    if (m_config.close_after && sinceLogin >= *m_config.close_after) {
        connection.CloseNow("close-after-seconds");
        return;
    }
    if (m_config.drop_after && sinceLogin >= *m_config.drop_after) {
        connection.DropNow(kDropReason);
        return;
    }
    if (!m_fired && sinceLogin >= m_config.fault_delay) {
        m_fired = true;
        Fire(connection);
    }
}

void CFaultScript::Fire(CSimConnection& connection) {
    for (const auto& unknown : m_config.send_unknown) {
        if (!connection.Send(unknown.code, PatternBytes(unknown.length), false, false,
                             "send-unknown")) {
            return;
        }
    }
    if (m_config.lying_length) {
        if (!connection.SendBroken(kLyingCode, kLyingAnnounced, PatternBytes(kLyingSent),
                                   "lying-length") ||
            !connection.Send(msg::SYS_NOTICE, PatternBytes(kLyingNextLength))) {
            return;
        }
    }
    if (m_config.stall_mid_payload) {
        // Half a record, then silence: the socket stays open and the client's messages are
        // still read, but nothing more is sent on this connection.
        connection.SendBroken(kStallCode, kStallAnnounced, PatternBytes(kStallSent),
                              "stall-mid-payload");
        connection.StopSending();
        return;
    }
    if (m_config.bye_reason) {
        std::array<std::uint8_t, 4> reason{};
        protocol::StoreBE32(reason.data(), static_cast<std::uint32_t>(*m_config.bye_reason));
        if (connection.Send(msg::BYE48, reason, false, false, "bye-reason")) {
            connection.CloseAfter(kByeClosePause, "bye-reason");
        }
    }
}

}  // namespace taviro::sim
