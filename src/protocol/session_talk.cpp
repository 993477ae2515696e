// The session's side of two-way audio: the talk requests and the recorder's answers to them.
// The requests run on the owner's thread; the RecvFn_ handlers on the receive thread. The
// talk object that captures and sends the microphone belongs to the main window, which
// creates it on WM_TALK_STARTED and destroys it on WM_TALK_STOPPED.
#include "platform/socket.h"
#include "platform/trace.h"
#include "protocol/session.h"

namespace taviro::protocol {

using platform::Trace;
using platform::Window;

namespace {

// Refusals that end a talk session already running: the main window must take the talk
// object down before it shows why. 1 and 54 only ever answer a request, so nothing runs.
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

bool CRecorderSession::RequestTalk() {
    return Send(msg::A_LISTEN_REQ);
}

bool CRecorderSession::StopTalkRequest() {
    return Send(msg::A_LISTEN_STOP_REQ);
}

bool CRecorderSession::WaitSendable(std::chrono::milliseconds timeout) const {
    const int fd = m_socket.Fd();
    if (fd < 0) {
        return true;  // closed: a send fails at once instead of waiting
    }
    return platform::WaitWritable(fd, timeout) != platform::WaitResult::Timeout;
}

bool CRecorderSession::RecvFn_AListenAck(const PacketHeader& header) {
    // The acknowledgement carries nothing the client uses; whatever comes is skipped.
    if (!DiscardPayload(m_socket, header)) {
        return false;
    }
    m_owner.Post(Window::Main, platform::WM_TALK_STARTED, 0, 0);
    return true;
}

bool CRecorderSession::RecvFn_AListenNack(const PacketHeader& header) {
    const std::int32_t reason = ReadNackReason(m_socket, header);
    if (reason == kReasonReadFailed) {
        return false;
    }
    Trace("RecvFn_AListenNack... %d\n", reason);
    if (StopsTalking(reason)) {
        m_owner.Post(Window::Main, platform::WM_TALK_STOPPED, 0, 0);
    }
    if (const ReasonRule* mapped = MapRefusal(msg::A_LISTEN_NACK, reason)) {
        m_owner.Notify(mapped->notification.category, mapped->notification.code);
    }
    return true;
}

bool CRecorderSession::RecvFn_AListenStopAck(const PacketHeader& header) {
    Trace("Recv...A_LISTEN_STOP_ACK...\n");
    return DiscardPayload(m_socket, header);
}

}  // namespace taviro::protocol
