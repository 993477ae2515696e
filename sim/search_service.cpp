#include "sim/search_service.h"

#include <algorithm>
#include <vector>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/connection.h"

namespace taviro::sim {

namespace msg = protocol::msg;

namespace {

// year (4, big-endian), month 1..12, day 1..31, two zero bytes.
constexpr std::size_t kDayRequestSize = 8;
// The general refusal of a request the recorder cannot read.
constexpr std::int32_t kBadRequest = 1;

// The answer codes of each request: accepted, refused.
struct Answer {
    std::uint16_t ack;
    std::uint16_t nack;
};

Answer AnswerFor(std::uint16_t request) {
    switch (request) {
        case msg::PLAY_INFO_MONTH_REQ:
            return {msg::PLAY_INFO_MONTH_ACK, msg::PLAY_INFO_MONTH_NACK};
        case msg::PLAY_INFO_DAY_REQ:
            return {msg::PLAY_INFO_DAY_ACK, msg::PLAY_INFO_DAY_NACK};
        case msg::TRANS_INFO_MONTH_REQ:
            return {msg::TRANS_INFO_MONTH_ACK, msg::TRANS_INFO_MONTH_NACK};
        default:
            return {msg::TRANS_INFO_DAY_ACK, msg::TRANS_INFO_DAY_NACK};
    }
}

void Refuse(CSimConnection& connection, std::uint16_t code, std::int32_t reason) {
    std::uint8_t word[4];
    protocol::StoreBE32(word, static_cast<std::uint32_t>(reason));
    connection.Send(code, word);
}

}  // namespace

CSearchService::CSearchService(const SimConfig& config, std::shared_ptr<const SimArchive> archive)
    : m_archive(std::move(archive)),
      m_fragmentSize(std::clamp<std::size_t>(config.info_fragment_size, 1, protocol::kMaxPayload)),
      m_monthReason(config.month_reason),
      m_dayReason(config.day_reason) {}

bool CSearchService::Handles(std::uint16_t code) const {
    return code == msg::PLAY_INFO_MONTH_REQ || code == msg::PLAY_INFO_DAY_REQ ||
           code == msg::TRANS_INFO_MONTH_REQ || code == msg::TRANS_INFO_DAY_REQ;
}

void CSearchService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                               std::span<const std::uint8_t> payload) {
    const std::uint16_t code = header.Command();
    const Answer answer = AnswerFor(code);
    if (code == msg::PLAY_INFO_MONTH_REQ || code == msg::TRANS_INFO_MONTH_REQ) {
        // The request has no payload; anything that came with it is not looked at.
        if (m_monthReason) {
            Refuse(connection, answer.nack, *m_monthReason);
            return;
        }
        SendList(connection, answer.ack, MonthInfoBytes(*m_archive));
        return;
    }
    if (m_dayReason) {
        Refuse(connection, answer.nack, *m_dayReason);
        return;
    }
    if (payload.size() < kDayRequestSize) {
        Refuse(connection, answer.nack, kBadRequest);
        return;
    }
    const auto year = static_cast<std::int32_t>(protocol::LoadBE32(payload.data()));
    const int month = payload[4];
    const int day = payload[5];
    if (month < 1 || month > 12 || day < 1 || day > 31) {
        Refuse(connection, answer.nack, kBadRequest);
        return;
    }
    // A date the calendar does not have (the 31st of a 30-day month, a year outside the
    // recorder's clock) simply holds nothing.
    SendList(connection, answer.ack, DayInfoBytes(*m_archive, year, month, day));
}

void CSearchService::SendList(CSimConnection& connection, std::uint16_t code,
                              std::span<const std::uint8_t> bytes) const {
    if (bytes.empty()) {
        connection.Send(code, {}, true);
        return;
    }
    for (std::size_t at = 0; at < bytes.size(); at += m_fragmentSize) {
        const std::size_t n = std::min(m_fragmentSize, bytes.size() - at);
        if (!connection.Send(code, bytes.subspan(at, n), at + n == bytes.size())) {
            return;
        }
    }
}

}  // namespace taviro::sim
