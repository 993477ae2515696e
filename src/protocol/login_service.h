// The login and the goodbye: HELLO when the socket is connected, the recorder's answer
// HELLO48_ACK (product, channel count, account level, key, firmware list) and its goodbye
// BYE48, and the log-in, log-out and failed-connection entries of the local log. The
// other services read the recorder's identity from here.
//
// Threads: the handlers run on the receive thread; the state is read from any thread.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "protocol/hello.h"
#include "protocol/session.h"
#include "protocol/session_service.h"

namespace taviro::protocol {

class CLoginService final : public ISessionService {
  public:
    explicit CLoginService(CRecorderSession& session);

    [[nodiscard]] std::string_view Name() const override { return "login"; }
    void Register(CDispatchTable& table) override;
    void OnConnected() override;
    void CloseGates() override { m_bReady = false; }
    void OnClosed() override;

    [[nodiscard]] bool LoggedIn() const { return m_bLoggedIn.load(); }
    [[nodiscard]] bool HelloAccepted() const { return m_bHelloAccepted.load(); }
    // The view layer may show pictures (set last when the login is accepted).
    [[nodiscard]] bool Ready() const { return m_bReady.load(); }
    [[nodiscard]] int ProductType() const { return m_nProductType.load(); }
    [[nodiscard]] int ChannelCount() const;
    [[nodiscard]] HelloAck Hello() const;
    [[nodiscard]] bool PlaybackViewChannelCapable() const { return m_bPlayViewCh.load(); }
    // The password currently in force (the recorder's user list may replace it).
    [[nodiscard]] std::string Password() const;

    // The recorder's user list or archive password replaced the password.
    void SetPassword(std::string password);
    // The live request was refused: the session no longer counts as logged in.
    void ClearLoggedIn() { m_bLoggedIn = false; }

  private:
    bool RecvFn_Hello48Ack(const PacketHeader& header);
    bool RecvFn_Bye48(const PacketHeader& header);

    CRecorderSession& m_session;
    mutable std::mutex m_lock;  // guards m_hello and m_strPassword
    HelloAck m_hello;
    std::string m_strPassword;
    std::atomic<int> m_nProductType{0};
    std::atomic<bool> m_bLoggedIn{false};
    std::atomic<bool> m_bHelloAccepted{false};
    std::atomic<bool> m_bReady{false};
    std::atomic<bool> m_bPlayViewCh{false};
};

}  // namespace taviro::protocol
