#include "logs/info_service.h"

#include <memory>
#include <vector>

#include "logs/info_messages.h"
#include "platform/trace.h"
#include "protocol/catalogue.h"

namespace taviro::logs {

namespace {

namespace msg = protocol::msg;
using protocol::PacketHeader;

// The done message of the answer a refusal ends.
std::uint32_t DoneMessageOf(std::uint16_t refusal) {
    return refusal == msg::STATUS_INFO_NACK   ? logs::WM_RECORDER_STATUS_DONE
           : refusal == msg::SYSTEM_INFO_NACK ? logs::WM_RECORDER_SYSINFO_DONE
                                              : logs::WM_RECORDER_LOG_DONE;
}

}  // namespace

CInfoService::CInfoService(protocol::CRecorderSession& session, std::size_t capacity,
                           platform::Window window)
    : m_session(session), m_collector(session.Owner(), capacity), m_window(window) {}

void CInfoService::Register(protocol::CDispatchTable& table) {
    for (const std::uint16_t code :
         {msg::LOG_INFO_ACK, msg::SYSTEM_INFO_ACK, msg::STATUS_INFO_ACK}) {
        table.Register(code, [this](const PacketHeader& h) { return RecvFn_Answer(h); });
    }
    for (const std::uint16_t code :
         {msg::LOG_INFO_NACK, msg::SYSTEM_INFO_NACK, msg::STATUS_INFO_NACK}) {
        table.Register(code, [this](const PacketHeader& h) { return RecvFn_Refusal(h); });
    }
}

void CInfoService::CloseGates() {
    m_bClosed = true;
    Cancel();
}

bool CInfoService::Begin(std::uint16_t request, std::uint16_t answer, std::uint32_t message) {
    if (m_bClosed.load() || m_bBusy.exchange(true)) {
        return false;
    }
    m_collector.Expect(protocol::ReplyRoute{answer, m_window, message, 0});
    if (!m_session.Send(request)) {
        m_collector.Cancel();
        m_bBusy = false;
        return false;
    }
    return true;
}

bool CInfoService::RequestLog() {
    platform::Trace("Send... LOG_INFO_REQ...\n");
    return Begin(msg::LOG_INFO_REQ, msg::LOG_INFO_ACK, logs::WM_RECORDER_LOG_DONE);
}

bool CInfoService::RequestStatus() {
    platform::Trace("Send... STATUS_INFO_REQ...\n");
    return Begin(msg::STATUS_INFO_REQ, msg::STATUS_INFO_ACK, logs::WM_RECORDER_STATUS_DONE);
}

void CInfoService::Cancel() {
    m_collector.GiveUp();
    m_bBusy = false;
}

bool CInfoService::RecvFn_Answer(const PacketHeader& header) {
    // Only the outstanding answer is taken, never beyond the capacity; the rest of the
    // payload is still read, so the stream stays in step.
    return m_session.ReadReply(header, m_collector, [this] { m_bBusy = false; });
}

bool CInfoService::RecvFn_Refusal(const PacketHeader& header) {
    const std::uint16_t answer = static_cast<std::uint16_t>(header.Command() - 1);
    const bool ours = !m_collector.TakeOwed(answer) && m_collector.Expects(answer);
    if (ours) {
        m_collector.Cancel();
        m_bBusy = false;
    }
    const std::int32_t reason = m_session.HandleRefusal(header);
    if (reason == protocol::kReasonReadFailed) {
        return false;
    }
    if (ours) {
        m_session.Owner().Post(m_window, DoneMessageOf(header.Command()), 0, kInfoRefused);
    }
    return true;
}

}  // namespace taviro::logs
