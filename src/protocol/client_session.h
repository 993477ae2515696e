// The session every connection has: the transport with its three core services (login and
// goodbye, live view and device records, talk) added in place. Services of other areas
// (search, playback, backup, logs, status, PTZ, firmware) are added to Transport() by the
// connection's owner before it starts the connection.
//
// Threads and ownership: as CRecorderSession. The destructor ends the transport's threads
// before the services go, so no handler runs on a destroyed service.
#pragma once

#include <memory>

#include "protocol/live_service.h"
#include "protocol/login_service.h"
#include "protocol/session.h"
#include "protocol/talk_service.h"

namespace taviro::protocol {

class CClientSession {
  public:
    CClientSession(platform::IMessageSink& owner, std::shared_ptr<platform::ILocalLog> localLog,
                   SessionConfig config);
    ~CClientSession();
    CClientSession(const CClientSession&) = delete;
    CClientSession& operator=(const CClientSession&) = delete;

    CRecorderSession& Transport() { return m_transport; }
    const CRecorderSession& Transport() const { return m_transport; }
    CLoginService& Login() { return m_login; }
    const CLoginService& Login() const { return m_login; }
    CLiveService& Live() { return m_live; }
    const CLiveService& Live() const { return m_live; }
    CTalkService& Talk() { return m_talk; }

    // The transport's lifecycle, for the common case.
    void Connect() { m_transport.Connect(); }
    void ConnectOver(platform::CSocket connected) { m_transport.ConnectOver(std::move(connected)); }
    void DestroyWindow() { m_transport.DestroyWindow(); }

  private:
    CRecorderSession m_transport;
    CLoginService m_login;
    CLiveService m_live;
    CTalkService m_talk;
};

}  // namespace taviro::protocol
