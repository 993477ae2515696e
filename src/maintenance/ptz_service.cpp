#include "maintenance/ptz_service.h"

#include <algorithm>
#include <array>

#include "platform/trace.h"
#include "protocol/catalogue.h"

namespace taviro::maintenance {

namespace msg = protocol::msg;
using platform::Trace;

void CPtzService::Register(protocol::CDispatchTable& table) {
    table.Register(msg::PTZ_CHANNEL_ACK,
                   [this](const protocol::PacketHeader& h) { return RecvFn_PtzChannelAck(h); });
}

void CPtzService::OnClosing() {
    if (m_bMoving.exchange(false)) {
        Trace("Send...PTZ_MOVE_STOP(closing)...\n");
        m_session.Send(msg::PTZ_MOVE_STOP);
    }
}

bool CPtzService::SendChannel(int channel, PtzMode mode) {
    if (m_bClosed.load() || channel < 0 || channel >= protocol::kMaxChannels) {
        return false;
    }
    const PtzPayload payload = ChannelPayload(channel, mode);
    Trace("Send...PTZ_CHANNEL_REQ...%d %d\n", channel, static_cast<int>(mode));
    m_nChannel = channel;
    if (!m_session.Send(msg::PTZ_CHANNEL_REQ, payload))
        return false;
    std::lock_guard lock(m_askedLock);
    if (m_asked.size() >= static_cast<std::size_t>(protocol::kMaxChannels))
        m_asked.pop_front();  // a recorder that never answers: keep only the newest
    m_asked.push_back(channel);
    return true;
}

bool CPtzService::SendMove(std::uint8_t code, int number) {
    if (m_bClosed.load()) {
        return false;
    }
    const PtzPayload payload = MovePayload(code, number);
    Trace("Send...PTZ_MOVE_REQ...%d %d %d...\n", payload[0], payload[1], payload[3]);
    if (!m_session.Send(msg::PTZ_MOVE_REQ, payload)) {
        return false;
    }
    if (IsContinuousMove(code)) {
        m_bMoving = true;
    }
    return true;
}

bool CPtzService::SendStop() {
    if (m_bClosed.load()) {
        return false;
    }
    Trace("Send...PTZ_MOVE_STOP...\n");
    const bool sent = m_session.Send(msg::PTZ_MOVE_STOP);
    if (sent) {
        m_bMoving = false;
    }
    return sent;
}

bool CPtzService::RecvFn_PtzChannelAck(const protocol::PacketHeader& header) {
    // Only byte 0 means anything; at most a few bytes are kept and the rest is read off
    // the socket so the stream stays in step.
    std::array<std::uint8_t, kPtzAckKept> kept{};
    const std::size_t length = header.Length();
    const std::size_t keep = std::min(length, kept.size());
    if (keep > 0 && !m_session.Read(kept.data(), keep)) {
        return false;
    }
    std::array<std::uint8_t, 256> scratch{};
    for (std::size_t left = length - keep; left > 0;) {
        const std::size_t n = std::min(left, scratch.size());
        if (!m_session.Read(scratch.data(), n)) {
            return false;
        }
        left -= n;
    }
    const PtzAvailability availability = ReadChannelAck(std::span(kept).first(keep));
    Trace("Recv...PTZ_CHANNEL_ACK...%d\n", static_cast<int>(availability));
    int channel = m_nChannel.load();
    {
        std::lock_guard lock(m_askedLock);
        if (!m_asked.empty()) {
            channel = m_asked.front();
            m_asked.pop_front();
        }
    }
    m_session.Owner().Post(m_window, maintenance::WM_PTZ_CHANNEL_ACK,
                           static_cast<std::uint64_t>(channel < 0 ? 0 : channel),
                           static_cast<std::int64_t>(availability));
    return true;
}

}  // namespace taviro::maintenance
