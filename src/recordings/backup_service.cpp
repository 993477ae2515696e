#include "recordings/backup_service.h"

#include "protocol/catalogue.h"

namespace taviro::recordings {

bool CBackupService::Stop() {
    if (!m_bRunning.exchange(false)) {
        return false;
    }
    m_session.Send(protocol::msg::TRANS_OFF_REQ);
    return true;
}

}  // namespace taviro::recordings
