#include "protocol/login_service.h"

#include <vector>

#include "platform/trace.h"
#include "protocol/refusals.h"
#include "protocol/session_messages.h"

namespace taviro::protocol {

using platform::Trace;

CLoginService::CLoginService(CRecorderSession& session)
    : m_session(session), m_strPassword(session.Config().password) {}

void CLoginService::Register(CDispatchTable& table) {
    table.Register(msg::HELLO48_ACK,
                   [this](const PacketHeader& h) { return RecvFn_Hello48Ack(h); });
    table.Register(msg::BYE48, [this](const PacketHeader& h) { return RecvFn_Bye48(h); });
}

void CLoginService::OnConnected() {
    const auto hello = BuildHelloPayload(m_session.Config().userId, Password());
    m_session.Send(msg::HELLO, hello);
}

bool CLoginService::RecvFn_Hello48Ack(const PacketHeader& header) {
    m_bLoggedIn = true;
    const std::size_t length = header.Length();
    if (length != 0) {
        std::vector<std::uint8_t> payload;
        if (!m_session.ReadPayload(header, payload)) {
            return false;
        }
        if (auto ack = HelloAck::Parse(payload)) {
            std::lock_guard lock(m_lock);
            m_hello = *ack;
            m_nProductType = ProductTypeFor(ack->product_number);
        } else {
            Trace("Recv...HELLO48_ACK... unexpected length %zu, dropped\n", length);
        }
    }
    if (!IsSupportedProductType(m_nProductType)) {
        m_session.NoteRefused();
        m_session.Owner().ShowMessageBox("Not MRKD7310 or TQ71!");
        m_session.Owner().Notify(2, 0);
        return true;
    }
    bool playViewCh = false;
    {
        std::lock_guard lock(m_lock);
        m_hello.channel_num = static_cast<std::uint8_t>(EffectiveChannelCount(m_hello.channel_num));
        playViewCh = m_hello.PlaybackViewChannelCapable();
    }
    m_session.PostControl(protocol::kCtlLive, platform::ControlState::kEnabled);
    // Live view asks for its pictures here.
    m_session.NotifyLoggedIn();
    m_session.WriteConnectionLog(platform::log_entry::kLogIn);
    m_bHelloAccepted = true;
    m_session.StartKeepAlive();
    m_bPlayViewCh = playViewCh;
    m_bReady = true;
    m_session.Owner().Post(platform::Window::Main, protocol::WM_SESSION_LOGGED_IN, 0, 0);
    return true;
}

bool CLoginService::RecvFn_Bye48(const PacketHeader& header) {
    m_bLoggedIn = false;
    const std::int32_t reason = m_session.ReadReason(header);
    if (reason == kReasonReadFailed) {
        return false;  // broken off inside the goodbye: a lost connection
    }
    m_session.NoteGoodbye();
    Trace("RecvFn_Bye48... %d\n", reason);
    if (const auto note = ByeNotification(reason)) {
        m_session.Owner().Notify(note->category, note->code);
    }
    m_session.WriteConnectionLog(platform::log_entry::kConnectFailed);
    return true;
}

void CLoginService::OnClosed() {
    if (m_bLoggedIn.exchange(false)) {
        m_session.WriteConnectionLog(platform::log_entry::kLogOut);
    }
}

int CLoginService::ChannelCount() const {
    std::lock_guard lock(m_lock);
    return EffectiveChannelCount(m_hello.channel_num);
}

HelloAck CLoginService::Hello() const {
    std::lock_guard lock(m_lock);
    return m_hello;
}

std::string CLoginService::Password() const {
    std::lock_guard lock(m_lock);
    return m_strPassword;
}

void CLoginService::SetPassword(std::string password) {
    std::lock_guard lock(m_lock);
    m_strPassword = std::move(password);
}

}  // namespace taviro::protocol
