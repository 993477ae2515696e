#include "protocol/dispatch_table.h"

#include "platform/trace.h"
#include "protocol/catalogue.h"

namespace taviro::protocol {

bool CDispatchTable::Register(std::uint16_t code, Handler handler) {
    if (code >= m_handlers.size() || !handler ||
        FindMessage(code, Direction::RecorderToClient) == nullptr) {
        platform::Trace("dispatch: code %u is no message from the recorder\n",
                        static_cast<unsigned>(code));
        return false;
    }
    if (m_handlers[code]) {
        platform::Trace("dispatch: %s is handled already\n",
                        MessageName(code, Direction::RecorderToClient).data());
        return false;
    }
    m_handlers[code] = std::move(handler);
    return true;
}

const CDispatchTable::Handler* CDispatchTable::Find(std::uint16_t code) const {
    if (code >= m_handlers.size() || !m_handlers[code]) {
        return nullptr;
    }
    return &m_handlers[code];
}

}  // namespace taviro::protocol
