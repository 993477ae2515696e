#include "protocol/client_session.h"

namespace taviro::protocol {

CClientSession::CClientSession(platform::IMessageSink& owner,
                               std::shared_ptr<platform::ILocalLog> localLog, SessionConfig config)
    : m_transport(owner, std::move(localLog), std::move(config)),
      m_login(m_transport),
      m_live(m_transport, m_login),
      m_talk(m_transport) {
    m_transport.AddService(m_login);
    m_transport.AddService(m_live);
    m_transport.AddService(m_talk);
}

CClientSession::~CClientSession() {
    m_transport.DestroyWindow();
}

}  // namespace taviro::protocol
