#include "sim/firmware_service.h"

#include <cstdio>
#include <string>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/crc32.h"
#include "sim/connection.h"

namespace taviro::sim {

namespace {

namespace msg = protocol::msg;

std::vector<std::uint8_t> ReasonBytes(std::int32_t reason) {
    std::vector<std::uint8_t> p(4);
    protocol::StoreBE32(p.data(), static_cast<std::uint32_t>(reason));
    return p;
}

// A request the recorder cannot take is refused with the general reason.
constexpr std::int32_t kBadRequestReason = 1;

}  // namespace

bool CFirmwareService::Handles(std::uint16_t code) const {
    return code == msg::FW_UPDATE_REQ || code == msg::FW_DATA;
}

void CFirmwareService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                                 std::span<const std::uint8_t> payload) {
    if (header.Command() == msg::FW_UPDATE_REQ) {
        OnUpdateRequest(connection, payload);
    } else {
        OnData(connection, header, payload);
    }
}

void CFirmwareService::OnUpdateRequest(CSimConnection& connection,
                                       std::span<const std::uint8_t> payload) {
    const bool sized = payload.size() == kFwUpdateRequestBytes;
    const std::uint8_t component = sized ? payload[16] : 0;
    if (!sized || component >= m_config.firmware.size()) {
        connection.Journal().Event("fw-update", sized ? "unknown component" : "bad size");
        connection.Send(msg::FW_UPDATE_NACK, ReasonBytes(kBadRequestReason));
        return;
    }
    if (m_config.fw_update_reason) {
        connection.Send(msg::FW_UPDATE_NACK, ReasonBytes(*m_config.fw_update_reason));
        return;
    }
    m_receiving = true;
    m_component = component;
    m_bytes = 0;
    m_crc = 0;
    m_pieces = 0;
    if (m_config.fw_no_answer) {
        connection.Journal().Event("fault", "fw-no-answer");
        return;
    }
    if (m_config.fw_ack_delay.count() > 0) {
        m_ackAt = std::chrono::steady_clock::now() + m_config.fw_ack_delay;
        return;
    }
    Acknowledge(connection);
}

void CFirmwareService::Acknowledge(CSimConnection& connection) {
    connection.Send(msg::FW_UPDATE_ACK, {});
    if (m_config.fw_duplicate_ack) {
        connection.Send(msg::FW_UPDATE_ACK, {}, false, false, "fw-duplicate-ack");
    }
}

void CFirmwareService::Poll(CSimConnection& connection) {
    if (m_ackAt && std::chrono::steady_clock::now() >= *m_ackAt) {
        m_ackAt.reset();
        Acknowledge(connection);
    }
}

void CFirmwareService::OnData(CSimConnection& connection, const protocol::PacketHeader& header,
                              std::span<const std::uint8_t> payload) {
    if (!m_receiving) {
        connection.Journal().Event("fw-data", "unexpected");
        return;
    }
    m_bytes += payload.size();
    m_crc = protocol::Crc32(payload, m_crc);
    ++m_pieces;
    if (m_config.fw_close_mid_transfer && m_pieces == 1 && !header.LastFragment()) {
        m_receiving = false;
        connection.CloseNow("fw-close-mid-transfer");
        return;
    }
    if (!header.LastFragment()) {
        return;
    }
    m_receiving = false;
    char line[96];
    std::snprintf(line, sizeof line, "component=%u bytes=%llu crc=%08X",
                  static_cast<unsigned>(m_component), static_cast<unsigned long long>(m_bytes),
                  m_crc);
    connection.Journal().Event("fw-image", line);
    if (m_config.fw_data_reason) {
        connection.Send(msg::FW_DATA_RX_FAIL, ReasonBytes(*m_config.fw_data_reason));
        return;
    }
    connection.Send(msg::FW_DATA_RX_DONE, {});
    if (m_config.fw_result_reason) {
        connection.Send(msg::FW_UPDATE_FAIL, ReasonBytes(*m_config.fw_result_reason));
    } else {
        connection.Send(msg::FW_UPDATE_DONE, {});
    }
}

}  // namespace taviro::sim
