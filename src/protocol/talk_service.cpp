#include "protocol/talk_service.h"

#include "platform/trace.h"
#include "protocol/refusals.h"
#include "protocol/session_messages.h"

namespace taviro::protocol {

using platform::Trace;
using platform::Window;

namespace {

// Refusals that end a talk session already running: the owner must take the talk object
// down before it shows why. 1 and 54 only ever answer a request, so nothing runs.
constexpr std::int32_t kStopsTalking[] = {2, 53, 55, 98};

bool StopsTalking(std::int32_t reason) {
    for (const std::int32_t r : kStopsTalking) {
        if (r == reason) {
            return true;
        }
    }
    return false;
}

}  // namespace

void CTalkService::Register(CDispatchTable& table) {
    table.Register(msg::A_LISTEN_ACK,
                   [this](const PacketHeader& h) { return RecvFn_AListenAck(h); });
    table.Register(msg::A_LISTEN_NACK,
                   [this](const PacketHeader& h) { return RecvFn_AListenNack(h); });
    table.Register(msg::A_LISTEN_STOP_ACK,
                   [this](const PacketHeader& h) { return RecvFn_AListenStopAck(h); });
}

bool CTalkService::StopRunning() {
    if (!m_bTalkOn.load()) {
        return false;
    }
    m_session.Send(msg::A_LISTEN_STOP_REQ);
    return true;
}

void CTalkService::OnClosing() {
    m_session.PostControl(protocol::kCtlMike, platform::ControlState::kReleased);
}

bool CTalkService::RequestTalk() {
    return m_session.Send(msg::A_LISTEN_REQ);
}

bool CTalkService::StopTalkRequest() {
    return m_session.Send(msg::A_LISTEN_STOP_REQ);
}

bool CTalkService::RecvFn_AListenAck(const PacketHeader& header) {
    // The acknowledgement carries nothing the client uses; whatever comes is skipped.
    if (!m_session.Discard(header)) {
        return false;
    }
    m_session.Owner().Post(Window::Main, protocol::WM_TALK_STARTED, 0, 0);
    return true;
}

bool CTalkService::RecvFn_AListenNack(const PacketHeader& header) {
    const std::int32_t reason = m_session.ReadReason(header);
    if (reason == kReasonReadFailed) {
        return false;
    }
    Trace("RecvFn_AListenNack... %d\n", reason);
    if (StopsTalking(reason)) {
        m_session.Owner().Post(Window::Main, protocol::WM_TALK_STOPPED, 0, 0);
    }
    if (const ReasonRule* mapped = MapRefusal(msg::A_LISTEN_NACK, reason)) {
        m_session.Owner().Notify(mapped->notification.category, mapped->notification.code);
    }
    return true;
}

bool CTalkService::RecvFn_AListenStopAck(const PacketHeader& header) {
    Trace("Recv...A_LISTEN_STOP_ACK...\n");
    return m_session.Discard(header);
}

}  // namespace taviro::protocol
